#include "effects/DelayEngine.h"

#include "audio/AudioProcessor.h"
#include "dsp/DryWet.h"
#include "dsp/ExponentialCurve.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeOnOff.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {
const std::vector<const char*> kTimeSubdivisions = {"1/4", "Dotted 8th", "1/8", "1/16", "Triplet"};
const std::vector<const char*> kRateSubdivisions = {"4/4", "2/4", "1/4", "Dotted 8th", "1/8", "1/16", "Triplet"};

// Tape wow: per-sample step and turning bounds of the four triangles (each bound 16 steps from the
// end, so one frame never overshoots).
constexpr std::array<float, 4> kTapeStep = {3.6145833e-5f, 6.0520833e-5f, 0.0001003125f, 0.00014406249f};
constexpr std::array<float, 4> kTapeLow = {0.00057833333f, 0.00096833333f, 0.001605f, 0.0023049999f};
constexpr std::array<float, 4> kTapeHigh = {0.99942166f, 0.99903166f, 0.998395f, 0.997695f};

constexpr unsigned kFrameMask = DelayEngine::kRingFrames - 1;

// A move to a new delay time takes 10 ms: long enough not to click, short enough that a turning
// knob is followed closely.
constexpr int kCrossfadeSamples = 480;
// What the ring may hold once the repeats have died away (-120 dBFS).
constexpr float kQuietLevel = 1e-6f;

// One line's sample `extra` samples (fractional, may be negative) behind frame number `base`.
inline float readRing(const float* ring, int line, int base, float extra)
{
    const float ei = std::floor(extra);
    const float fr = extra - ei;
    const unsigned a = static_cast<unsigned>(base - static_cast<int>(ei)) & kFrameMask;
    const unsigned b = (a - 1) & kFrameMask;
    return (1.0f - fr) * ring[2 * a + line] + fr * ring[2 * b + line];
}

float roundHalfAway(float x)
{
    return std::round(x);
}
} // namespace

DelayEngine::DelayEngine(Node* parent, Tempo* tempo)
    : AudioBlock("DelayEngine", parent, &DelayEngine::exec, BLOCK_APPEND),
      taps(Taps{4096, 4096, referenceShapeTriang}, kCrossfadeSamples)
{
    using fx::TempoLink;
    modulationsEngine_initReferenceShapes();

    onOff = fx::makeEnable(parent);
    time = TempoLink(parent, "dlytime", "Time", tempo,
                     {.key = "rawdata",
                      .label = "Time",
                      .min = 1.0f,
                      .max = 2000.0f,
                      .def = 300.0f,
                      .unit = "ms",
                      .shape = 0.2f,
                      .decimals = 0},
                     kTimeSubdivisions);
    feedback = fx::makePercent(parent, "fdbk", "Feedback", 30.0f);
    mix = fx::makeMix(parent, 20.0f);

    auto* tc = fx::makeFolder(parent, "tcfolder", "Tone and Character");
    analog = fx::makePercent(tc, "analog", "Analog BBD", 0.0f);
    tape = fx::makePercent(tc, "tape", "Tape", 0.0f);
    hiDamp = fx::makeFrequency(tc, "hi_damp", "Hi-Cut", 900.0f, 20000.0f, 18000.0f, 0.2f, true, true);
    loDamp = fx::makeFrequency(tc, "lo_damp", "Lo-Cut", 20.0f, 1200.0f, 20.0f, 0.2f, false, true);
    spread = fx::makePercent(tc, "spread", "Stereo Spread", 0.0f);
    bounce = fx::makeFloat(tc, {.key = "bounce",
                                .label = "Stereo Bouncing",
                                .min = -100.0f,
                                .max = 100.0f,
                                .def = 0.0f,
                                .unit = "%",
                                .decimals = 0,
                                .linkable = true});

    auto* mod = fx::makeFolder(parent, "modfolder", "Modulation", ItemType::VFOLDER_TC);
    mod->setStyleColor(65535);
    modOnOff = fx::makeEnable(mod, false);
    modRate = TempoLink(
        mod, "rate", "Rate", tempo,
        {.key = "rawdata", .label = "Rate", .min = 0.05f, .max = 8.0f, .def = 1.0f, .unit = "Hz", .shape = 0.15f},
        kRateSubdivisions);
    modDepth = fx::makePercent(mod, "dpth", "Depth", 50.0f, false);
    modShape = new NodeEnum(mod, "shape", "Shape", {"Triang", "Sin", "Square"}, "Triang");
    modSphase = fx::makeFloat(mod, {.key = "sphase",
                                    .label = "Stereo Phase",
                                    .min = 0.0f,
                                    .max = 180.0f,
                                    .def = 0.0f,
                                    .unit = "deg",
                                    .decimals = 0,
                                    .linkable = true});

    auto* dd = fx::makeFolder(parent, "ddfolder", "Dual Delay", ItemType::VFOLDER_TC);
    dd->setStyleColor(65535);
    dualOnOff = fx::makeEnable(dd, false);
    timeR = TempoLink(dd, "rtime", "Time R", tempo,
                      {.key = "rawdata",
                       .label = "Time R",
                       .min = 1.0f,
                       .max = 2000.0f,
                       .def = 300.0f,
                       .unit = "ms",
                       .shape = 0.2f,
                       .decimals = 0},
                      kTimeSubdivisions, "Time Subdivision R");
    fbPolicy = new NodeEnum(dd, "fbpol", "Feedback", {"Independent", "Locked"}, "Independent");
    feedbackR = fx::makePercent(dd, "fdbkr", "Feedback R", 30.0f, false);
    mixBalance = fx::makeFloat(dd, {.key = "mixb",
                                    .label = "Mix Balance",
                                    .min = -100.0f,
                                    .max = 100.0f,
                                    .def = 0.0f,
                                    .unit = "%",
                                    .decimals = 0,
                                    .linkable = true});
    panL = fx::makeFloat(dd, {.key = "panl",
                              .label = "Left Line Pan",
                              .min = -100.0f,
                              .max = 100.0f,
                              .def = -100.0f,
                              .unit = "%",
                              .decimals = 0,
                              .linkable = true});
    panR = fx::makeFloat(dd, {.key = "panr",
                              .label = "Right Line Pan",
                              .min = -100.0f,
                              .max = 100.0f,
                              .def = 100.0f,
                              .unit = "%",
                              .decimals = 0,
                              .linkable = true});
}

bool DelayEngine::compile()
{
    // The switch gates the lines' input and sets the dry gain: the quiet point.
    fx::takeStructure(on, fx::isOn(onOff, extOnOff.get()));
    ParamSet<Coeffs>& p = params;
    Coeffs& c = p.fixed();
    c.enabled = on ? 1 : 0;

    const float r = modRate.rateHz();
    c.increment = r * kShapePointsPerHzSample;
    c.taps.shape = lfoShapeTable(modShape->getIndex());
    const float d = exponentialCurve(modDepth->getValue() * 0.01f, 10.0f);
    // A linked rate of 0 (no tempo) would divide by zero.
    const float m = modOnOff->isValue(NodeOnOff::ON)
                        ? std::fmin(1250.0f, d * 1250.0f / std::sqrt(std::sqrt(20.0f * std::fmax(r, 0.05f))))
                        : 0.0f;
    p.set(depth, m);
    p.set(offset, roundHalfAway(modSphase->getValue() * 0.125f));

    const bool dual = dualOnOff->isValue(NodeOnOff::ON);
    float tL = time.timeMs();
    float tR = dual ? timeR.timeMs() : tL;
    const float w = tape->getValue() * 0.48f;
    p.set(tapeDepth, w);
    tL += spread->getValue() * 0.099999994f;
    tR -= spread->getValue() * 0.099999994f;
    auto toSamples = [&](float ms) {
        float s = ms * 48.000004f - 2.0f * w - 0.5f * m;
        // The shortest read stays a few frames behind the write position, whatever the wow.
        if (s < 2.0f * w + 0.5f * m + 32.0f) s = 2.0f * w + 32.0f;
        return static_cast<int>(roundHalfAway(std::fmin(s, kMaxDelaySamples)));
    };
    c.taps.delayL = toSamples(tL);
    c.taps.delayR = toSamples(tR);

    const float fb = feedback->getValue() * 0.01f;
    float fbR = fb;
    const bool independent = fbPolicy->isValue("Independent");
    if (dual) {
        if (independent) {
            fbR = feedbackR->getValue() * 0.01f;
        } else {
            const float e = c.taps.delayL > 0 && c.taps.delayR > 0
                                ? static_cast<float>(c.taps.delayR) / static_cast<float>(c.taps.delayL)
                                : 1.0f;
            fbR = std::pow(fb, e);
        }
    }
    feedbackR->setStyleVisible(independent);

    const float b = bounce->getValue();
    const double angle = b * 0.01 * std::numbers::pi / 2.0;
    const float fL = fb * 0.999f, fR = fbR * 0.999f;
    p.set(fLL, static_cast<float>(std::cos(angle)) * fL);
    p.set(fRL, -static_cast<float>(std::sin(angle)) * fR);
    p.set(fLR, static_cast<float>(std::sin(angle)) * fL);
    p.set(fRR, static_cast<float>(std::cos(angle)) * fR);
    if (b >= 0.0f) {
        const double ba = b * 0.01 * std::numbers::pi / 3.0;
        const float cs = static_cast<float>(std::cos(ba)), sn = static_cast<float>(std::sin(ba));
        p.set(g0, b * 0.0013397464f + cs / (sn + cs));
        p.set(g1, b * 0.0013397464f + (1.0f - cs) / (sn + cs));
    } else {
        p.set(g0, 1.0f);
        p.set(g1, 0.0f);
    }

    const DryWet g = dryWet(mix->getValue() * 0.01f, on, [](float x) { return std::pow(x, 1.33f); });
    p.set(dryGain, g.dry);
    p.set(wetGain, g.wet);
    p.set(input, on ? 1.0f : 0.0f);

    if (dual) {
        const double aL = (panL->getValue() + 100.0) * 0.0025 * std::numbers::pi;
        const double aR = (panR->getValue() + 100.0) * 0.0025 * std::numbers::pi;
        const float v = mixBalance->getValue() * 0.01f;
        const float left = v < 0.0f ? 1.0f : exponentialCurve(1.0f - v, 10.0f);
        const float right = v < 0.0f ? exponentialCurve(v + 1.0f, 10.0f) : 1.0f;
        p.set(cosL, static_cast<float>(std::cos(aL)) * left);
        p.set(sinL, static_cast<float>(std::sin(aL)) * left);
        p.set(cosR, static_cast<float>(std::cos(aR)) * right);
        p.set(sinR, static_cast<float>(std::sin(aR)) * right);
    } else {
        p.set(cosL, 1.0f);
        p.set(sinL, 0.0f);
        p.set(cosR, 0.0f);
        p.set(sinR, 1.0f);
    }

    for (GlidingBiquad& section : tone)
        section.set([&](QuadBiquad& q) { q.set_lohi_cut_1_order(loDamp->getValue(), hiDamp->getValue(), 1.0f); });
    const float fc = 20000.0f - std::pow(analog->getValue() * 0.01f, 0.167f) * 18750.0f;
    for (GlidingBiquad& section : bbd) section.set([&](QuadBiquad& q) { q.set_lpf_2_order(fc, 0.707f); });

    p.publish();
    return false;
}

bool DelayEngine::exec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<DelayEngine*>(block);
    ParamSet<Coeffs>& p = self->params;
    const Coeffs& c = p.read();
    // Off, the repeats gone from the whole ring, the input closed and the dry gain at 1: the frame
    // would pass as it is.
    if (!c.enabled && self->quietSamples >= kRingFrames && p.settled(self->dryGain, 1.0f) &&
        p.settled(self->input, 0.0f))
        return false;
    p.advance(FRAME_SAMPLES);
    self->taps.follow(c.taps);

    std::memcpy(self->dry, frame, sizeof(self->dry));

    TriangleLfo<4>& wow = self->wow;
    wow.turn(kTapeLow, kTapeHigh);
    StereoLfo& lfo = self->lfo;
    lfo.wrap();

    const float* ring = self->ring.data();
    const int n0 = static_cast<int>(self->writeIndex / 2);
    const Taps& to = self->taps.to();
    const Taps& from = self->taps.from();
    const std::array<float, 4>& tp = wow.value; // before this sample's step
    const Ramp &tape = p[self->tapeDepth], &depth = p[self->depth], &offset = p[self->offset];
    for (int i = 0; i < FRAME_SAMPLES; ++i) {
        const float w = tape.at(i), m = depth.at(i);
        const float wPlus = w * (tp[0] + tp[1] + tp[2] + tp[3]);
        const float wMinus = w * (tp[0] + tp[2] - tp[1] - tp[3]);
        wow.step(kTapeStep);
        LfoPoint left, right;
        lfo.step(c.increment, offset.at(i), left, right);
        // The whole delay is split into its integer part and the small swept part, so the fraction
        // keeps its precision however far back the line reads.
        auto read = [&](const Taps& t, float& l, float& r) {
            l = readRing(ring, 0, n0 + i - t.delayL, m * left.in(t.shape) + wPlus);
            r = readRing(ring, 1, n0 + i - t.delayR, wMinus + m * right.in(t.shape));
        };
        const float weight = self->taps.next();
        float l, r;
        read(to, l, r);
        if (weight < 1.0f) {
            float l0, r0;
            read(from, l0, r0);
            l = weight * l + (1.0f - weight) * l0;
            r = weight * r + (1.0f - weight) * r0;
        }
        self->wet[0][i] = l;
        self->wet[1][i] = r;
    }

    const Ramp v = fx::fadeRamp();
    const Ramp &in = p[self->input], &s0 = p[self->g0], &s1 = p[self->g1];
    const Ramp &fLL = p[self->fLL], &fRL = p[self->fRL], &fLR = p[self->fLR], &fRR = p[self->fRR];
    for (int i = 0; i < FRAME_SAMPLES; ++i) {
        const float wl = self->wet[0][i], wr = self->wet[1][i];
        const float gain = v.at(i) * in.at(i);
        const float a = gain * s0.at(i), b = gain * s1.at(i);
        self->fb[0][i] = fLL.at(i) * wl + fRL.at(i) * wr + a * frame[0][i] + b * frame[1][i];
        self->fb[1][i] = fLR.at(i) * wl + fRR.at(i) * wr + a * frame[1][i] - b * frame[1][i];
    }
    self->tone[0].exec(self->fb[0], self->fb[0], FRAME_SAMPLES);
    self->bbd[0].exec(self->fb[0], self->fb[0], FRAME_SAMPLES);
    self->bbd[1].exec(self->fb[0], self->fb[0], FRAME_SAMPLES);
    self->tone[1].exec(self->fb[1], self->fb[1], FRAME_SAMPLES);
    self->bbd[2].exec(self->fb[1], self->fb[1], FRAME_SAMPLES);
    self->bbd[3].exec(self->fb[1], self->fb[1], FRAME_SAMPLES);

    float* out = self->ring.data() + self->writeIndex;
    float loudest = 0.0f;
    for (int i = 0; i < FRAME_SAMPLES; ++i) {
        out[2 * i] = self->fb[0][i];
        out[2 * i + 1] = self->fb[1][i];
        loudest = std::fmax(loudest, std::fmax(std::fabs(self->fb[0][i]), std::fabs(self->fb[1][i])));
    }
    self->writeIndex = (self->writeIndex + 2 * FRAME_SAMPLES) & (2 * kRingFrames - 1);
    self->quietSamples = loudest < kQuietLevel ? std::min(self->quietSamples + FRAME_SAMPLES, kRingFrames) : 0;

    const Ramp &dry = p[self->dryGain], &wet = p[self->wetGain];
    const Ramp &cosL = p[self->cosL], &cosR = p[self->cosR], &sinL = p[self->sinL], &sinR = p[self->sinR];
    for (int i = 0; i < FRAME_SAMPLES; ++i) {
        const float wl = self->wet[0][i], wr = self->wet[1][i];
        const float w = wet.at(i), d = dry.at(i);
        frame[0][i] = self->dry[0][i] * d + (cosL.at(i) * wl + cosR.at(i) * wr) * w;
        frame[1][i] = self->dry[1][i] * d + (sinL.at(i) * wl + sinR.at(i) * wr) * w;
    }
    return false;
}

void DelayEngine::resetState()
{
    std::fill_n(ring.data(), ring.size(), 0.0f);
    quietSamples = 0;
    for (GlidingBiquad& section : tone) section.reset();
    for (GlidingBiquad& section : bbd) section.reset();
}

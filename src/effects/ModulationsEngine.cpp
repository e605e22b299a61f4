#include "effects/ModulationsEngine.h"

#include "audio/AudioProcessor.h"
#include "dsp/ExponentialCurve.h"
#include "dsp/FractionalIndex.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeOnOff.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

alignas(16) float referenceShapeSin[2 * kShapePoints];
alignas(16) float referenceShapeTriang[2 * kShapePoints];
alignas(16) float referenceShapeSquare[2 * kShapePoints];
bool referenceShapeInitialized = false;

void modulationsEngine_initReferenceShapes() {
    if (referenceShapeInitialized)
        return;
    // 6.28 / 45: the tables were voiced with this step, a hair short of a full cycle.
    constexpr float kStep = 0.13955556f;
    float tri = 0.5f, dir = 1.0f;
    constexpr float kTriStep = 0.044444446f;
    for (int k = 0; k < kShapePoints; ++k) {
        const float s = std::sin(static_cast<float>(k) * kStep);
        referenceShapeSin[k] = (s + 1.0f) * 0.5f;
        const float sgn = s <= 0.0f ? -1.0f : 1.0f;
        referenceShapeSquare[k] = (sgn * std::pow(std::fabs(s), 0.25f) + 1.0f) * 0.5f;
        referenceShapeTriang[k] = tri;
        float next = tri + dir * kTriStep;
        if (next > 1.0f || next < 0.0f) {
            dir = -dir;
            next = tri + dir * kTriStep;
        }
        tri = next;
    }
    for (int k = 0; k < kShapePoints; ++k) {
        referenceShapeSin[k + kShapePoints] = referenceShapeSin[k];
        referenceShapeSquare[k + kShapePoints] = referenceShapeSquare[k];
        referenceShapeTriang[k + kShapePoints] = referenceShapeTriang[k];
    }
    referenceShapeInitialized = true;
}

namespace {
const std::vector<const char*> kRateSubdivisions = {"4/4", "2/4", "1/4", "Dotted 8th", "1/8", "1/16", "Triplet"};
const std::vector<const char*> kTremoloSubdivisions = {"4/4", "2/4",  "1/4",  "Dotted 8th",
                                                       "1/8", "1/16", "1/32", "Triplet"};

// Half away from zero, as the stereo offsets in table points are rounded.
int roundPoints(float x) { return static_cast<int>(std::lround(x)); }

// Linear interpolation in a line of 2048 samples at a fractional position (negative allowed). A
// negative position is first moved up by the line's length, as the block has always done, so that
// its fraction, and so its output, stays the same to the bit.
inline float readLine(const float* line, float pos) {
    if (pos < 0.0f)
        pos += static_cast<float>(ModulationsEngine::kLineSize);
    return modulations_get_fractional_index_value_bounded(line, pos, ModulationsEngine::kLineSize - 1);
}

} // namespace

ModulationsEngine::ModulationsEngine(Node* parent, Tempo* tempo, bool post)
    : AudioBlock("ModulationsEngine", parent, &ModulationsEngine::exec, post ? BLOCK_APPEND : BLOCK_PREPEND),
      post(post) {
    modulationsEngine_initReferenceShapes();
    Coeffs c{};
    c.mode = CHORUS;
    c.shape = referenceShapeTriang;
    c.d0 = 783.0f;
    c.target[SWEEP_MIN] = 1655.0f;
    c.target[SWEEP_MAX] = 1655.0f;
    c.target[DRY] = 1.0f;
    coeffs.publish(c);
    buildNodes(parent, tempo);
    compile();
}

ModulationsEngine::ModulationsEngine(Node* parent, Tempo* tempo) : ModulationsEngine(parent, tempo, true) {}

void ModulationsEngine::buildNodes(Node* parent, Tempo* tempo) {
    using fx::TempoLink;
    onOff = fx::makeEnable(parent);
    mode = new NodeEnum(parent, "mode", "Mode", {"Chorus", "Flanger", "Phaser"}, "Chorus");
    rate = TempoLink(parent, "rate", "Rate", tempo, {.key = "rawdata", .label = "Rate", .min = 0.05f, .max = 8.0f,
                                                    .def = 1.0f, .unit = "Hz", .shape = 0.15f},
                     kRateSubdivisions);
    depthNode = fx::makePercent(parent, "dpth", "Depth", 50.0f);
    mix = fx::makeMix(parent, 50.0f);

    auto* tc = fx::makeFolder(parent, "tcfolder", "Tone and Character");
    emphasis = fx::makePercent(tc, "emp", "Emphasis", 50.0f);
    shape = new NodeEnum(tc, "shape", "Shape", {"Triang", "Sin", "Square"}, "Triang");
    hiCut = fx::makeFrequency(tc, "hicut", "Hi-Cut", 900.0f, 20000.0f, 18000.0f, 0.2f, true, true);
    loCut = fx::makeFrequency(tc, "locut", "Lo-Cut", 20.0f, 1200.0f, 20.0f, 0.2f, false, true);
    if (post)
        sphase = fx::makeFloat(tc, {.key = "sphase", .label = "Stereo Phase", .min = 0.0f, .max = 180.0f,
                                    .def = 0.0f, .unit = "deg", .decimals = 0});

    auto* tr = fx::makeFolder(parent, "trfolder", "Tremolo");
    tr->setStyleColor(16776960);
    trOnOff = fx::makeEnable(tr);
    // Here the link comes before the subdivision: stored presets list them in this order.
    trRate = TempoLink(tr, "rate", "Rate", tempo, {.key = "rawdata", .label = "Rate", .min = 0.7f, .max = 15.0f,
                                                  .def = 4.0f, .unit = "Hz", .shape = 0.2f},
                       kTremoloSubdivisions, "Time Subdivision", TempoLink::Order::LockBeforeSubdivision);
    trDepth = fx::makePercent(tr, "dpt", "Depth", 25.0f);
    trWave = fx::makePercent(tr, "wave", "Waveform", 0.0f);
    if (post)
        trSphase = fx::makeFloat(tr, {.key = "sphase", .label = "Stereo Phase", .min = 0.0f, .max = 180.0f,
                                      .def = 0.0f, .unit = "deg", .decimals = 0});
}

namespace {
// Base delays of the three taps, samples: the second and third lose the sweep depth.
constexpr float kTap0 = 783.0f, kTap1 = 1781.0f, kTap2 = 2033.0f;
constexpr float kFlangerTap0 = 40.0f;
} // namespace

bool ModulationsEngine::compile() {
    // The switch, the mode and the LFO shape change what is read from the lines: the quiet point.
    fx::takeStructure(structure, Structure{extOnOff.get() && !onOff->isValue(NodeOnOff::OFF),
                                           std::max(0, mode->getIndex()), std::max(0, shape->getIndex())});
    Coeffs c{};
    c.on = structure.on;
    c.mode = structure.mode;
    c.shape = lfoShapeTable(structure.shape);
    float* t = c.target;

    for (GlidingBiquad& section : tone)
        section.set([&](QuadBiquad& q) { q.set_lohi_cut_1_order(loCut->getValue(), hiCut->getValue(), 1.0f); });

    const float r = rate.rateHz();
    c.increment = r * kShapePointsPerHzSample;
    c.trIncrement = trRate.rateHz() * kShapePointsPerHzSample;

    const float emp = emphasis->getValue() * 0.01f;
    // A linked rate of 0 (no tempo) would divide by zero; it then sweeps as slowly as allowed.
    const float depthSamples = std::fmin(
        1250.0f, exponentialCurve(depthNode->getValue() * 0.01f, 10.0f) * 1250.0f /
                     std::sqrt(std::sqrt(20.0f * std::fmax(r, 0.05f))));
    const float g0 = 1.0f;
    t[SWEEP_MIN] = t[SWEEP_MAX] = 1655.0f;
    if (c.mode == FLANGER) {
        t[DEPTH] = depthSamples;
        c.d0 = kFlangerTap0;
        t[FEEDBACK] = exponentialCurve(emp, 10.0f) * 0.9f;
    } else if (c.mode == PHASER) {
        const double s = std::exp(depthNode->getValue() * 0.023978952);
        t[SWEEP_MAX] = s > 6.9607253 ? 72382.3f : static_cast<float>(1655.0 * s * 2.0 * std::numbers::pi);
        t[SWEEP_MIN] = static_cast<float>(1655.0 / s * 2.0 * std::numbers::pi);
        c.d0 = kTap0;
        t[FEEDBACK] = exponentialCurve(emp, 2.33f) * 0.9f;
    } else {
        t[DEPTH] = depthSamples;
        c.d0 = kTap0;
        t[G1] = t[G2] = exponentialCurve(emp, 10.0f);
    }

    t[OFFSET] = post && sphase ? static_cast<float>(roundPoints(sphase->getValue() * 0.125f)) : 0.0f;

    const float u = mix->getValue() * 0.01f;
    float dryGain = 1.0f, wetGain = 1.0f;
    if (u < 0.5f)
        wetGain = exponentialCurve(2.0f * u, 10.0f);
    else
        dryGain = exponentialCurve(2.0f * (1.0f - u), 10.0f);
    if (!c.on) {
        dryGain = 1.0f;
        wetGain = 0.0f;
    } else if (c.mode == CHORUS) {
        const float k = 1.0f / std::sqrt(dryGain * dryGain +
                                         wetGain * wetGain * (g0 * g0 + t[G1] * t[G1] + t[G2] * t[G2]));
        dryGain *= k;
        wetGain *= k;
    } else {
        const float w = std::sqrt(1.0f - t[FEEDBACK] * t[FEEDBACK]) * wetGain;
        const float k = 1.0f / std::sqrt(dryGain * dryGain + w * w);
        dryGain *= k;
        wetGain = k * w;
    }
    t[DRY] = dryGain;
    t[WET] = wetGain;

    t[TR_DEPTH] = c.on && !trOnOff->isValue(NodeOnOff::OFF) ? trDepth->getValue() * 0.01f : 0.0f;
    t[TR_OFFSET] = post && trSphase ? static_cast<float>(roundPoints(trSphase->getValue() * 0.125f)) : 0.0f;
    t[TR_WAVE] = trWave->getValue() * 0.01f;
    coeffs.publish(c);
    return false;
}

bool ModulationsEngine::exec(AudioBlock* block, AudioFrame frame) {
    auto* self = static_cast<ModulationsEngine*>(block);
    const Coeffs c = self->coeffs.read();
    Glide* g = self->glides;
    // Off and settled at dry 1, wet 0, no tremolo: the frame would come out as it went in.
    if (!c.on && g[DRY].settled(1.0f) && g[WET].settled(0.0f) && g[TR_DEPTH].settled(0.0f)) {
        self->linesStale = true;
        return false;
    }
    if (c.mode != self->heardMode || c.shape != self->heardShape) {
        g[FEEDBACK].jump(0.0f);
        self->heardMode = c.mode;
        self->heardShape = c.shape;
    }
    // The depth and the stereo leads move read positions: they glide slowly, since a quick move
    // bends the pitch. Gains and the sweep limits glide like levels.
    for (int p = 0; p < kParams; ++p)
        self->now[p] = p == DEPTH || p == OFFSET || p == TR_OFFSET
                           ? g[p].advance(c.target[p], kDepthGlideShare, kDepthGlideSnap, FRAME_SAMPLES)
                           : g[p].advance(c.target[p], kGainGlideShare, kGainGlideSnap, FRAME_SAMPLES);
    if (c.mode == PHASER)
        phaseBasedModulationsExec(block, frame);
    else
        timeBasedModulationsExec(block, frame);
    levelBasedModulationsExec(block, frame);
    return false;
}

bool ModulationsEngine::timeBasedModulationsExec(AudioBlock* block, AudioFrame frame) {
    auto* self = static_cast<ModulationsEngine*>(block);
    const Coeffs c = self->coeffs.read();
    const Ramp* now = self->now;
    if (self->linesStale) {
        std::fill_n(self->lineL.data(), kLineSize, 0.0f);
        std::fill_n(self->lineR.data(), kLineSize, 0.0f);
        self->linesStale = false;
        self->feed.jump(0.0f);
    }
    const float* T = c.shape;
    if (self->phase > static_cast<float>(kShapePoints))
        self->phase -= static_cast<float>(kShapePoints);
    float phase = self->phase;
    const float* L = self->lineL.data();
    const float* R = self->lineR.data();
    for (int k = 0; k < FRAME_SAMPLES; ++k) {
        const float n = static_cast<float>(self->writeIndex + k);
        const float m = now[DEPTH].at(k), g1 = now[G1].at(k), g2 = now[G2].at(k);
        phase += c.increment;
        const int j = static_cast<int>(phase);
        const float f = phase - static_cast<float>(j);
        float fR;
        const int jR = lfoRightPoint(phase, now[OFFSET].at(k), fR);
        const float d1 = kTap1 - m, d2 = kTap2 - m;
        self->wet[0][k] = readLine(L, n - c.d0 - m * lfoShapeAt(T, j, f)) +
                          g1 * readLine(L, n - d1 - 0.92f * m * lfoShapeAt(T, j + 15, f)) +
                          g2 * readLine(L, n - d2 - 0.81f * m * lfoShapeAt(T, j + 30, f));
        self->wet[1][k] = readLine(R, n - c.d0 - m * lfoShapeAt(T, jR, fR)) +
                          g1 * readLine(R, n - d1 - 0.89f * m * lfoShapeAt(T, jR + 15, fR)) +
                          g2 * readLine(R, n - d2 - 0.83f * m * lfoShapeAt(T, jR + 30, fR));
    }
    self->phase = phase;
    self->tone[0].exec(self->wet[0], self->wet[0], FRAME_SAMPLES);
    self->tone[1].exec(self->wet[1], self->wet[1], FRAME_SAMPLES);
    const Ramp fade = fx::fadeRamp();
    const Ramp feed = self->feed.advance(1.0f, kGainGlideShare, kGainGlideSnap, FRAME_SAMPLES);
    float* lines[2] = {self->lineL.data(), self->lineR.data()};
    for (int ch = 0; ch < FRAME_CHANNELS; ++ch) {
        float* line = lines[ch] + self->writeIndex;
        for (int k = 0; k < FRAME_SAMPLES; ++k) {
            line[k] = frame[ch][k] * fade.at(k) * feed.at(k) + now[FEEDBACK].at(k) * self->wet[ch][k];
            frame[ch][k] = frame[ch][k] * now[DRY].at(k) + self->wet[ch][k] * now[WET].at(k);
        }
    }
    self->writeIndex = (self->writeIndex + FRAME_SAMPLES) & (kLineSize - 1);
    return false;
}

bool ModulationsEngine::phaseBasedModulationsExec(AudioBlock* block, AudioFrame frame) {
    auto* self = static_cast<ModulationsEngine*>(block);
    const Coeffs c = self->coeffs.read();
    const Ramp* now = self->now;
    // The lines are not fed here: a chorus or flanger after this starts from cleared ones.
    self->linesStale = true;
    const float* T = c.shape;
    if (self->phase > static_cast<float>(kShapePoints))
        self->phase -= static_cast<float>(kShapePoints);
    std::memcpy(self->dry, frame, sizeof(self->dry));
    float phase = self->phase;
    for (int k = 0; k < FRAME_SAMPLES; ++k) {
        phase += c.increment;
        const int j = static_cast<int>(phase);
        const float f = phase - static_cast<float>(j);
        float fR;
        const int jR = lfoRightPoint(phase, now[OFFSET].at(k), fR);
        const float lfo[2] = {lfoShapeAt(T, j, f), lfoShapeAt(T, jR, fR)};
        const float low = now[SWEEP_MIN].at(k), span = now[SWEEP_MAX].at(k) - low;
        const float feedback = now[FEEDBACK].at(k);
        for (int ch = 0; ch < FRAME_CHANNELS; ++ch) {
            AllpassStage* s = self->stages[ch];
            float x = frame[ch][k] + feedback * s[3].lastOut;
            const float w = low + span * lfo[ch] * lfo[ch];
            const float a = 1.0f - w * 2.0833333e-5f;
            for (int st = 0; st < 4; ++st)
                x = phaserStageExec(s[st], a, x);
            frame[ch][k] = x;
        }
    }
    self->phase = phase;
    for (int ch = 0; ch < FRAME_CHANNELS; ++ch) {
        self->tone[ch].exec(frame[ch], frame[ch], FRAME_SAMPLES);
        for (int k = 0; k < FRAME_SAMPLES; ++k)
            frame[ch][k] = self->dry[ch][k] * now[DRY].at(k) + frame[ch][k] * now[WET].at(k);
    }
    return false;
}

bool ModulationsEngine::levelBasedModulationsExec(AudioBlock* block, AudioFrame frame) {
    auto* self = static_cast<ModulationsEngine*>(block);
    const Coeffs c = self->coeffs.read();
    const Ramp* now = self->now;
    if (self->trPhase > static_cast<float>(kShapePoints))
        self->trPhase -= static_cast<float>(kShapePoints);
    float phase = self->trPhase;
    for (int k = 0; k < FRAME_SAMPLES; ++k) {
        phase += c.trIncrement;
        const int j = static_cast<int>(phase);
        const float f = phase - static_cast<float>(j);
        float fR;
        const int jR = lfoRightPoint(phase, now[TR_OFFSET].at(k), fR);
        const float wave = now[TR_WAVE].at(k), depth = now[TR_DEPTH].at(k);
        const float shapeL =
            wave * lfoShapeAt(referenceShapeSquare, j, f) + (1.0f - wave) * lfoShapeAt(referenceShapeSin, j, f);
        const float shapeR =
            wave * lfoShapeAt(referenceShapeSquare, jR, fR) + (1.0f - wave) * lfoShapeAt(referenceShapeSin, jR, fR);
        frame[0][k] *= 1.0f - depth * shapeL;
        frame[1][k] *= 1.0f - depth * shapeR;
    }
    self->trPhase = phase;
    return false;
}

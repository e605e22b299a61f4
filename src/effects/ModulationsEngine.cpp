#include "effects/ModulationsEngine.h"

#include "audio/AudioProcessor.h"
#include "dsp/DryWet.h"
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

namespace {
const std::vector<const char*> kRateSubdivisions = {"4/4", "2/4", "1/4", "Dotted 8th", "1/8", "1/16", "Triplet"};
const std::vector<const char*> kTremoloSubdivisions = {"4/4", "2/4",  "1/4",  "Dotted 8th",
                                                       "1/8", "1/16", "1/32", "Triplet"};

// Half away from zero, as the stereo offsets in table points are rounded.
int roundPoints(float x)
{
    return static_cast<int>(std::lround(x));
}

// Linear interpolation in a line of 2048 samples at a fractional position (negative allowed). A
// negative position is first moved up by the line's length, as the block has always done, so that
// its fraction, and so its output, stays the same to the bit.
inline float readLine(const float* line, float pos)
{
    if (pos < 0.0f) pos += static_cast<float>(ModulationsEngine::kLineSize);
    return modulations_get_fractional_index_value_bounded(line, pos, ModulationsEngine::kLineSize - 1);
}

} // namespace

ModulationsEngine::ModulationsEngine(Node* parent, Tempo* tempo, bool post)
    : AudioBlock("ModulationsEngine", parent, &ModulationsEngine::exec, post ? BLOCK_APPEND : BLOCK_PREPEND), post(post)
{
    modulationsEngine_initReferenceShapes();
    buildNodes(parent, tempo);
    compile();
}

ModulationsEngine::ModulationsEngine(Node* parent, Tempo* tempo) : ModulationsEngine(parent, tempo, true) {}

void ModulationsEngine::buildNodes(Node* parent, Tempo* tempo)
{
    using fx::TempoLink;
    onOff = fx::makeEnable(parent);
    mode = new NodeEnum(parent, "mode", "Mode", {"Chorus", "Flanger", "Phaser"}, "Chorus");
    rate = TempoLink(
        parent, "rate", "Rate", tempo,
        {.key = "rawdata", .label = "Rate", .min = 0.05f, .max = 8.0f, .def = 1.0f, .unit = "Hz", .shape = 0.15f},
        kRateSubdivisions);
    depthNode = fx::makePercent(parent, "dpth", "Depth", 50.0f);
    mix = fx::makeMix(parent, 50.0f);

    auto* tc = fx::makeFolder(parent, "tcfolder", "Tone and Character");
    emphasis = fx::makePercent(tc, "emp", "Emphasis", 50.0f);
    shape = new NodeEnum(tc, "shape", "Shape", {"Triang", "Sin", "Square"}, "Triang");
    hiCut = fx::makeFrequency(tc, "hicut", "Hi-Cut", 900.0f, 20000.0f, 18000.0f, 0.2f, true, true);
    loCut = fx::makeFrequency(tc, "locut", "Lo-Cut", 20.0f, 1200.0f, 20.0f, 0.2f, false, true);
    if (post)
        sphase = fx::makeFloat(tc, {.key = "sphase",
                                    .label = "Stereo Phase",
                                    .min = 0.0f,
                                    .max = 180.0f,
                                    .def = 0.0f,
                                    .unit = "deg",
                                    .decimals = 0});

    auto* tr = fx::makeFolder(parent, "trfolder", "Tremolo");
    tr->setStyleColor(16776960);
    trOnOff = fx::makeEnable(tr);
    // Here the link comes before the subdivision: stored presets list them in this order.
    trRate = TempoLink(
        tr, "rate", "Rate", tempo,
        {.key = "rawdata", .label = "Rate", .min = 0.7f, .max = 15.0f, .def = 4.0f, .unit = "Hz", .shape = 0.2f},
        kTremoloSubdivisions, "Time Subdivision", TempoLink::Order::LockBeforeSubdivision);
    trDepth = fx::makePercent(tr, "dpt", "Depth", 25.0f);
    trWave = fx::makePercent(tr, "wave", "Waveform", 0.0f);
    if (post)
        trSphase = fx::makeFloat(tr, {.key = "sphase",
                                      .label = "Stereo Phase",
                                      .min = 0.0f,
                                      .max = 180.0f,
                                      .def = 0.0f,
                                      .unit = "deg",
                                      .decimals = 0});
}

namespace {
// Base delays of the three taps, samples: the second and third lose the sweep depth.
constexpr float kTap0 = 783.0f, kTap1 = 1781.0f, kTap2 = 2033.0f;
constexpr float kFlangerTap0 = 40.0f;
} // namespace

bool ModulationsEngine::compile()
{
    // The switch, the mode and the LFO shape change what is read from the lines: the quiet point.
    fx::takeStructure(structure, Structure{fx::isOn(onOff, extOnOff.get()), std::max(0, mode->getIndex()),
                                           std::max(0, shape->getIndex())});
    ParamSet<Coeffs>& p = params;
    Coeffs& c = p.fixed();
    c.on = structure.on;
    c.mode = structure.mode;
    c.shape = lfoShapeTable(structure.shape);

    for (GlidingBiquad& section : tone)
        section.set([&](QuadBiquad& q) { q.set_lohi_cut_1_order(loCut->getValue(), hiCut->getValue(), 1.0f); });

    const float r = rate.rateHz();
    c.increment = r * kShapePointsPerHzSample;
    c.trIncrement = trRate.rateHz() * kShapePointsPerHzSample;

    const float emp = emphasis->getValue() * 0.01f;
    // A linked rate of 0 (no tempo) would divide by zero; it then sweeps as slowly as allowed.
    const float depthSamples = std::fmin(1250.0f, exponentialCurve(depthNode->getValue() * 0.01f, 10.0f) * 1250.0f /
                                                      std::sqrt(std::sqrt(20.0f * std::fmax(r, 0.05f))));
    const float g0 = 1.0f;
    float m = 0.0f, fb = 0.0f, gain12 = 0.0f, low = 1655.0f, high = 1655.0f;
    if (c.mode == FLANGER) {
        m = depthSamples;
        c.d0 = kFlangerTap0;
        fb = exponentialCurve(emp, 10.0f) * 0.9f;
    } else if (c.mode == PHASER) {
        const double s = std::exp(depthNode->getValue() * 0.023978952);
        high = s > 6.9607253 ? 72382.3f : static_cast<float>(1655.0 * s * 2.0 * std::numbers::pi);
        low = static_cast<float>(1655.0 / s * 2.0 * std::numbers::pi);
        c.d0 = kTap0;
        fb = exponentialCurve(emp, 2.33f) * 0.9f;
    } else {
        m = depthSamples;
        c.d0 = kTap0;
        gain12 = exponentialCurve(emp, 10.0f);
    }
    p.set(depth, m);
    p.set(feedback, fb);
    p.set(g1, gain12);
    p.set(g2, gain12);
    p.set(sweepMin, low);
    p.set(sweepMax, high);
    p.set(offset, post && sphase ? static_cast<float>(roundPoints(sphase->getValue() * 0.125f)) : 0.0f);

    DryWet g = dryWet(mix->getValue() * 0.01f, c.on, dryWetCurve);
    if (!c.on) {
        g.wet = 0.0f;
    } else if (c.mode == CHORUS) {
        const float k = 1.0f / std::sqrt(g.dry * g.dry + g.wet * g.wet * (g0 * g0 + gain12 * gain12 + gain12 * gain12));
        g.dry *= k;
        g.wet *= k;
    } else {
        const float w = std::sqrt(1.0f - fb * fb) * g.wet;
        const float k = 1.0f / std::sqrt(g.dry * g.dry + w * w);
        g.dry *= k;
        g.wet = k * w;
    }
    p.set(dryGain, g.dry);
    p.set(wetGain, g.wet);

    p.set(tremoloDepth, c.on && !trOnOff->isValue(NodeOnOff::OFF) ? trDepth->getValue() * 0.01f : 0.0f);
    p.set(tremoloOffset, post && trSphase ? static_cast<float>(roundPoints(trSphase->getValue() * 0.125f)) : 0.0f);
    p.set(tremoloWave, trWave->getValue() * 0.01f);
    p.publish();
    return false;
}

bool ModulationsEngine::exec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<ModulationsEngine*>(block);
    ParamSet<Coeffs>& p = self->params;
    const Coeffs& c = p.read();
    // Off and settled at dry 1, wet 0, no tremolo: the frame would come out as it went in.
    if (!c.on && p.settled(self->dryGain, 1.0f) && p.settled(self->wetGain, 0.0f) &&
        p.settled(self->tremoloDepth, 0.0f)) {
        self->linesStale = true;
        return false;
    }
    if (c.mode != self->heardMode || c.shape != self->heardShape) {
        p.jump(self->feedback, 0.0f);
        self->heardMode = c.mode;
        self->heardShape = c.shape;
    }
    if (c.mode != PHASER && self->linesStale) {
        std::fill_n(self->lineL.data(), kLineSize, 0.0f);
        std::fill_n(self->lineR.data(), kLineSize, 0.0f);
        self->linesStale = false;
        p.jump(self->feed, 0.0f);
    }
    p.advance(FRAME_SAMPLES);
    if (c.mode == PHASER) phaseBasedModulationsExec(block, frame);
    else timeBasedModulationsExec(block, frame);
    levelBasedModulationsExec(block, frame);
    return false;
}

bool ModulationsEngine::timeBasedModulationsExec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<ModulationsEngine*>(block);
    const ParamSet<Coeffs>& p = self->params;
    const Coeffs& c = p.lastRead();
    const float* T = c.shape;
    StereoLfo& lfo = self->lfo;
    lfo.wrap();
    const float* L = self->lineL.data();
    const float* R = self->lineR.data();
    const Ramp &depth = p[self->depth], &g1 = p[self->g1], &g2 = p[self->g2], &offset = p[self->offset];
    for (int k = 0; k < FRAME_SAMPLES; ++k) {
        const float n = static_cast<float>(self->writeIndex + k);
        const float m = depth.at(k), gain1 = g1.at(k), gain2 = g2.at(k);
        LfoPoint left, right;
        lfo.step(c.increment, offset.at(k), left, right);
        const float d1 = kTap1 - m, d2 = kTap2 - m;
        self->wet[0][k] = readLine(L, n - c.d0 - m * left.in(T)) +
                          gain1 * readLine(L, n - d1 - 0.92f * m * left.in(T, 15)) +
                          gain2 * readLine(L, n - d2 - 0.81f * m * left.in(T, 30));
        self->wet[1][k] = readLine(R, n - c.d0 - m * right.in(T)) +
                          gain1 * readLine(R, n - d1 - 0.89f * m * right.in(T, 15)) +
                          gain2 * readLine(R, n - d2 - 0.83f * m * right.in(T, 30));
    }
    self->tone[0].exec(self->wet[0], self->wet[0], FRAME_SAMPLES);
    self->tone[1].exec(self->wet[1], self->wet[1], FRAME_SAMPLES);
    const Ramp fade = fx::fadeRamp();
    const Ramp &feed = p[self->feed], &feedback = p[self->feedback], &dry = p[self->dryGain], &wet = p[self->wetGain];
    float* lines[2] = {self->lineL.data(), self->lineR.data()};
    for (int ch = 0; ch < FRAME_CHANNELS; ++ch) {
        float* line = lines[ch] + self->writeIndex;
        for (int k = 0; k < FRAME_SAMPLES; ++k) {
            line[k] = frame[ch][k] * fade.at(k) * feed.at(k) + feedback.at(k) * self->wet[ch][k];
            frame[ch][k] = frame[ch][k] * dry.at(k) + self->wet[ch][k] * wet.at(k);
        }
    }
    self->writeIndex = (self->writeIndex + FRAME_SAMPLES) & (kLineSize - 1);
    return false;
}

bool ModulationsEngine::phaseBasedModulationsExec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<ModulationsEngine*>(block);
    const ParamSet<Coeffs>& p = self->params;
    const Coeffs& c = p.lastRead();
    // The lines are not fed here: a chorus or flanger after this starts from cleared ones.
    self->linesStale = true;
    const float* T = c.shape;
    StereoLfo& lfo = self->lfo;
    lfo.wrap();
    std::memcpy(self->dry, frame, sizeof(self->dry));
    const Ramp &offset = p[self->offset], &sweepMin = p[self->sweepMin], &sweepMax = p[self->sweepMax];
    const Ramp& feedback = p[self->feedback];
    for (int k = 0; k < FRAME_SAMPLES; ++k) {
        LfoPoint left, right;
        lfo.step(c.increment, offset.at(k), left, right);
        const float lfoValue[2] = {left.in(T), right.in(T)};
        const float low = sweepMin.at(k), span = sweepMax.at(k) - low;
        const float fb = feedback.at(k);
        for (int ch = 0; ch < FRAME_CHANNELS; ++ch) {
            AllpassStage* s = self->stages[ch];
            float x = frame[ch][k] + fb * s[3].lastOut;
            const float w = low + span * lfoValue[ch] * lfoValue[ch];
            const float a = 1.0f - w * 2.0833333e-5f;
            for (int st = 0; st < 4; ++st) x = phaserStageExec(s[st], a, x);
            frame[ch][k] = x;
        }
    }
    const Ramp &dry = p[self->dryGain], &wet = p[self->wetGain];
    for (int ch = 0; ch < FRAME_CHANNELS; ++ch) {
        self->tone[ch].exec(frame[ch], frame[ch], FRAME_SAMPLES);
        for (int k = 0; k < FRAME_SAMPLES; ++k) frame[ch][k] = self->dry[ch][k] * dry.at(k) + frame[ch][k] * wet.at(k);
    }
    return false;
}

bool ModulationsEngine::levelBasedModulationsExec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<ModulationsEngine*>(block);
    const ParamSet<Coeffs>& p = self->params;
    const Coeffs& c = p.lastRead();
    StereoLfo& lfo = self->trLfo;
    lfo.wrap();
    const Ramp &offset = p[self->tremoloOffset], &wave = p[self->tremoloWave], &depth = p[self->tremoloDepth];
    for (int k = 0; k < FRAME_SAMPLES; ++k) {
        LfoPoint left, right;
        lfo.step(c.trIncrement, offset.at(k), left, right);
        const float w = wave.at(k), d = depth.at(k);
        const float shapeL = w * left.in(referenceShapeSquare) + (1.0f - w) * left.in(referenceShapeSin);
        const float shapeR = w * right.in(referenceShapeSquare) + (1.0f - w) * right.in(referenceShapeSin);
        frame[0][k] *= 1.0f - d * shapeL;
        frame[1][k] *= 1.0f - d * shapeR;
    }
    return false;
}

void ModulationsEngine::resetState()
{
    // The lines are cleared before they are read again, and the input glides back into them.
    linesStale = true;
    for (int ch = 0; ch < 2; ++ch) {
        tone[ch].reset();
        for (AllpassStage& stage : stages[ch]) phaserAllpass_init(stage);
    }
}

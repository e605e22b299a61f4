#include "effects/ModulationsEngine.h"

#include "audio/AudioProcessor.h"
#include "dsp/ExponentialCurve.h"
#include "dsp/FractionalIndex.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeOnOff.h"

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

// The right channel's integer point: the phase plus its lead, folded back into the table.
inline int rightPoint(float phase, int offset) {
    int jR = static_cast<int>(phase + static_cast<float>(offset));
    if (jR >= kShapePoints + 1)
        jR -= kShapePoints;
    return jR;
}
} // namespace

ModulationsEngine::ModulationsEngine(Node* parent, Tempo* tempo, bool post)
    : AudioBlock("ModulationsEngine", parent, &ModulationsEngine::exec, post ? BLOCK_APPEND : BLOCK_PREPEND),
      post(post) {
    modulationsEngine_initReferenceShapes();
    Coeffs c{};
    c.shape = referenceShapeTriang;
    c.d0 = 783.0f;
    c.d1 = 1781.0f;
    c.d2 = 2033.0f;
    c.sweepMin = 1655.0f;
    c.sweepMax = 1655.0f;
    c.dry = 1.0f;
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

bool ModulationsEngine::compile() {
    const bool on = extOnOff.get() && !onOff->isValue(NodeOnOff::OFF);
    enabled = on ? 1 : 0;
    Coeffs c = coeffs.current();
    c.phaser = mode->isValue("Phaser");

    tone[0].set_lohi_cut_1_order(loCut->getValue(), hiCut->getValue(), 1.0f);
    tone[1].set_lohi_cut_1_order(loCut->getValue(), hiCut->getValue(), 1.0f);

    const float r = rate.rateHz();
    c.increment = r * kShapePointsPerHzSample;
    c.trIncrement = trRate.rateHz() * kShapePointsPerHzSample;

    if (shape->isValue("Sin"))
        c.shape = referenceShapeSin;
    else if (shape->isValue("Square"))
        c.shape = referenceShapeSquare;
    else
        c.shape = referenceShapeTriang;

    const float emp = emphasis->getValue() * 0.01f;
    // A linked rate of 0 (no tempo) would divide by zero; it then sweeps as slowly as allowed.
    const float depthSamples = std::fmin(
        1250.0f, exponentialCurve(depthNode->getValue() * 0.01f, 10.0f) * 1250.0f /
                     std::sqrt(std::sqrt(20.0f * std::fmax(r, 0.05f))));
    if (mode->isValue("Flanger")) {
        c.depth = depthSamples;
        c.d0 = 40.0f;
        c.d1 = 1781.0f - depthSamples;
        c.d2 = 2033.0f - depthSamples;
        c.g0 = 1.0f;
        c.g1 = 0.0f;
        c.g2 = 0.0f;
        c.feedback = exponentialCurve(emp, 10.0f) * 0.9f;
    } else if (c.phaser) {
        const double s = std::exp(depthNode->getValue() * 0.023978952);
        c.sweepMax = s > 6.9607253 ? 72382.3f : static_cast<float>(1655.0 * s * 2.0 * std::numbers::pi);
        c.sweepMin = static_cast<float>(1655.0 / s * 2.0 * std::numbers::pi);
        c.d0 = 783.0f;
        c.d1 = 1781.0f;
        c.d2 = 2033.0f;
        c.feedback = exponentialCurve(emp, 2.33f) * 0.9f;
    } else {
        c.depth = depthSamples;
        c.d0 = 783.0f;
        c.d1 = 1781.0f - depthSamples;
        c.d2 = 2033.0f - depthSamples;
        c.feedback = 0.0f;
        c.g0 = 1.0f;
        c.g1 = c.g2 = exponentialCurve(emp, 10.0f);
    }

    c.offset = post && sphase ? roundPoints(sphase->getValue() * 0.125f) : 0;

    const float u = mix->getValue() * 0.01f;
    float dryGain = 1.0f, wetGain = 1.0f;
    if (u < 0.5f)
        wetGain = exponentialCurve(2.0f * u, 10.0f);
    else
        dryGain = exponentialCurve(2.0f * (1.0f - u), 10.0f);
    if (!on) {
        dryGain = 1.0f;
        wetGain = 0.0f;
    } else if (!c.phaser && !mode->isValue("Flanger")) {
        const float k = 1.0f / std::sqrt(dryGain * dryGain +
                                         wetGain * wetGain * (c.g0 * c.g0 + c.g1 * c.g1 + c.g2 * c.g2));
        dryGain *= k;
        wetGain *= k;
    } else {
        const float w = std::sqrt(1.0f - c.feedback * c.feedback) * wetGain;
        const float k = 1.0f / std::sqrt(dryGain * dryGain + w * w);
        dryGain *= k;
        wetGain = k * w;
    }
    c.dry = dryGain;
    c.wet = wetGain;

    c.trDepth = on && !trOnOff->isValue(NodeOnOff::OFF) ? trDepth->getValue() * 0.01f : 0.0f;
    c.trOffset = post && trSphase ? roundPoints(trSphase->getValue() * 0.125f) : 0;
    c.trWave = trWave->getValue() * 0.01f;
    coeffs.publish(c);
    return false;
}

bool ModulationsEngine::exec(AudioBlock* block, AudioFrame frame) {
    auto* self = static_cast<ModulationsEngine*>(block);
    if (self->coeffs.read().phaser)
        phaseBasedModulationsExec(block, frame);
    else
        timeBasedModulationsExec(block, frame);
    levelBasedModulationsExec(block, frame);
    return false;
}

bool ModulationsEngine::timeBasedModulationsExec(AudioBlock* block, AudioFrame frame) {
    auto* self = static_cast<ModulationsEngine*>(block);
    const Coeffs c = self->coeffs.read();
    const float* T = c.shape;
    const float m = c.depth;
    if (self->phase > static_cast<float>(kShapePoints))
        self->phase -= static_cast<float>(kShapePoints);
    float phase = self->phase;
    const float* L = self->lineL.data();
    const float* R = self->lineR.data();
    for (int k = 0; k < FRAME_SAMPLES; ++k) {
        const float n = static_cast<float>(self->writeIndex + k);
        phase += c.increment;
        const int j = static_cast<int>(phase);
        const float f = phase - static_cast<float>(j);
        const int jR = rightPoint(phase, c.offset);
        self->wet[0][k] = c.g0 * readLine(L, n - c.d0 - m * lfoShapeAt(T, j, f)) +
                          c.g1 * readLine(L, n - c.d1 - 0.92f * m * lfoShapeAt(T, j + 15, f)) +
                          c.g2 * readLine(L, n - c.d2 - 0.81f * m * lfoShapeAt(T, j + 30, f));
        self->wet[1][k] = c.g0 * readLine(R, n - c.d0 - m * lfoShapeAt(T, jR, f)) +
                          c.g1 * readLine(R, n - c.d1 - 0.89f * m * lfoShapeAt(T, jR + 15, f)) +
                          c.g2 * readLine(R, n - c.d2 - 0.83f * m * lfoShapeAt(T, jR + 30, f));
    }
    self->phase = phase;
    self->tone[0].exec(self->wet[0], self->wet[0], FRAME_SAMPLES);
    self->tone[1].exec(self->wet[1], self->wet[1], FRAME_SAMPLES);
    const float v = AudioProcessor::getDebounceVolume();
    float* lines[2] = {self->lineL.data(), self->lineR.data()};
    for (int ch = 0; ch < FRAME_CHANNELS; ++ch) {
        float* line = lines[ch] + self->writeIndex;
        for (int k = 0; k < FRAME_SAMPLES; ++k) {
            line[k] = frame[ch][k] * v + c.feedback * self->wet[ch][k];
            frame[ch][k] = frame[ch][k] * c.dry + self->wet[ch][k] * c.wet;
        }
    }
    self->writeIndex = (self->writeIndex + FRAME_SAMPLES) & (kLineSize - 1);
    return false;
}

bool ModulationsEngine::phaseBasedModulationsExec(AudioBlock* block, AudioFrame frame) {
    auto* self = static_cast<ModulationsEngine*>(block);
    const Coeffs c = self->coeffs.read();
    const float* T = c.shape;
    if (self->phase > static_cast<float>(kShapePoints))
        self->phase -= static_cast<float>(kShapePoints);
    std::memcpy(self->dry, frame, sizeof(self->dry));
    float phase = self->phase;
    const float span = c.sweepMax - c.sweepMin;
    for (int k = 0; k < FRAME_SAMPLES; ++k) {
        phase += c.increment;
        const int j = static_cast<int>(phase);
        const float f = phase - static_cast<float>(j);
        const float lfo[2] = {lfoShapeAt(T, j, f), lfoShapeAt(T, rightPoint(phase, c.offset), f)};
        for (int ch = 0; ch < FRAME_CHANNELS; ++ch) {
            AllpassStage* s = self->stages[ch];
            float x = frame[ch][k] + c.feedback * s[3].lastOut;
            const float w = c.sweepMin + span * lfo[ch] * lfo[ch];
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
            frame[ch][k] = self->dry[ch][k] * c.dry + frame[ch][k] * c.wet;
    }
    return false;
}

bool ModulationsEngine::levelBasedModulationsExec(AudioBlock* block, AudioFrame frame) {
    auto* self = static_cast<ModulationsEngine*>(block);
    const Coeffs c = self->coeffs.read();
    if (self->trPhase > static_cast<float>(kShapePoints))
        self->trPhase -= static_cast<float>(kShapePoints);
    float phase = self->trPhase;
    const float wave = c.trWave;
    for (int k = 0; k < FRAME_SAMPLES; ++k) {
        phase += c.trIncrement;
        const int j = static_cast<int>(phase);
        const float f = phase - static_cast<float>(j);
        const int jR = rightPoint(phase, c.trOffset);
        const float shapeL =
            wave * lfoShapeAt(referenceShapeSquare, j, f) + (1.0f - wave) * lfoShapeAt(referenceShapeSin, j, f);
        const float shapeR =
            wave * lfoShapeAt(referenceShapeSquare, jR, f) + (1.0f - wave) * lfoShapeAt(referenceShapeSin, jR, f);
        frame[0][k] *= 1.0f - c.trDepth * shapeL;
        frame[1][k] *= 1.0f - c.trDepth * shapeR;
    }
    self->trPhase = phase;
    return false;
}

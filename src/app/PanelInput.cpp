#include "app/PanelInput.h"

#include "app/PanelWiring.h"
#include "ui/EventCode.h"

namespace {

// Event groups of the encoders (main, knob 1 to knob 4) and of footswitches A, B and C.
constexpr int kEncoderBases[] = {EventCode::MAIN, EventCode::KNOB1, EventCode::KNOB2, EventCode::KNOB3,
                                 EventCode::KNOB4};
constexpr int kFootBases[] = {EventCode::MAIN, EventCode::KNOB1, EventCode::KNOB2};

// Quadrature steps indexed by last state x 4 + new state: 0 -> 2 -> 3 -> 1 -> 0 is +1 per step.
constexpr int kStepTable[16] = {0, -1, 1, 0, 1, 0, 0, -1, -1, 0, 0, 1, 0, 1, -1, 0};

} // namespace

void PanelInput::Button::start(int raw, int64_t now)
{
    rest = previous = debounced = raw;
    debounceTime = timer = now;
    longArmed = true;
}

PanelInput::Edges PanelInput::Button::step(int raw, int64_t now)
{
    if (raw == debounced) debounceTime = now;
    else if (now - debounceTime > kDebounceMicros) debounced = raw;
    if (now - timer > kMaxPressLagMicros) timer = now - kMaxPressLagMicros;

    if (debounced == rest) {
        if (previous == rest) {
            timer = now;
            longArmed = true;
            return {};
        }
        Edges edges;
        edges.add(now - timer < kLongPressMicros ? Edge::CLICK : Edge::LONG_RELEASE);
        previous = debounced;
        timer = now;
        longArmed = true;
        return edges;
    }

    Edges edges;
    if (now - timer > kLongPressMicros && longArmed) {
        edges.add(Edge::LONG);
        longArmed = false;
    }
    if (previous != debounced) {
        edges.add(Edge::PRESS);
        previous = debounced;
        timer = now;
    }
    return edges;
}

void PanelInput::Button::silence(int raw, int64_t now)
{
    previous = debounced = raw;
    debounceTime = now;
    longArmed = false;
}

PanelInput::PanelInput(Poster post) : post(post) {}

int PanelInput::encoderState(BitReader bit, int index, bool encoderCcw) const
{
    const EncoderWiring& lines = kEncoderWiring[index];
    int a = bit(encoderCcw ? lines.lineB : lines.lineA);
    int b = bit(encoderCcw ? lines.lineA : lines.lineB);
    return a * 2 + b;
}

void PanelInput::start(BitReader bit, int64_t now, bool encoderCcw)
{
    for (int i = 0; i < kFootswitches; i++) foot[i].start(bit(kFootswitchBits[i]), now);
    for (int p = 0; p < 2; p++) {
        pairs[p].restA = foot[p].rest;
        pairs[p].restB = foot[p + 1].rest;
        pairs[p].on = false;
        pairs[p].debounceTime = now;
        pairs[p].button.start(0, now);
    }
    for (int i = 0; i < kEncoders; i++) {
        push[i].start(bit(kEncoderWiring[i].push), now);
        encoders[i].last = encoderState(bit, i, encoderCcw);
        encoders[i].accumulator = 0;
        encoders[i].pauseTime = now;
    }
    started = true;
}

void PanelInput::postEdges(const Edges& edges, int pressCode)
{
    // PRESS, CLICK, LONG and LONG_RELEASE follow each other in both the push and footswitch groups.
    for (int i = 0; i < edges.count; i++) {
        switch (edges.edge[i]) {
        case Edge::PRESS: post(pressCode); break;
        case Edge::CLICK: post(pressCode + 1); break;
        case Edge::LONG: post(pressCode + 2); break;
        case Edge::LONG_RELEASE: post(pressCode + 3); break;
        }
    }
}

void PanelInput::stepPair(Pair& pair, int a, int b, int code, int64_t now)
{
    bool aDown = a != pair.restA, bDown = b != pair.restB;
    if (aDown || bDown) pair.debounceTime = now;
    if (aDown && bDown) pair.on = true;
    if (!aDown && !bDown && now - pair.debounceTime > kDebounceMicros) pair.on = false;
    // Only a short press of the pair counts; a long one does nothing.
    Edges edges = pair.button.step(pair.on ? 1 : 0, now);
    for (int i = 0; i < edges.count; i++)
        if (edges.edge[i] == Edge::CLICK) post(code);
}

void PanelInput::stepEncoder(Encoder& encoder, int state, int base, int64_t now)
{
    if (state != encoder.last) {
        encoder.pauseTime = now;
        if ((encoder.last ^ state) == 3) {
            // Both lines changed at once: a step was missed, the direction is unknown.
            encoder.last = state;
            encoder.accumulator = 0;
            return;
        }
        encoder.accumulator += kStepTable[encoder.last * 4 + state];
        encoder.last = state;
        if (encoder.accumulator > 2) {
            encoder.accumulator -= 4;
            post(base + EventCode::TURN_UP);
        } else if (encoder.accumulator < -2) {
            encoder.accumulator += 4;
            post(base + EventCode::TURN_DOWN);
        }
        return;
    }
    // A partial detent is forgotten after 2 s without movement.
    if (now - encoder.pauseTime > kTurnForgetMicros) encoder.pauseTime = now - kTurnForgetMicros;
    if (now - encoder.pauseTime >= kTurnForgetMicros) encoder.accumulator = 0;
}

void PanelInput::stepIdle(BitReader bit, int idleFrames)
{
    int parity = 0;
    for (int b : kIdleBits) parity ^= bit(b);
    if (!idleStarted) {
        idleParity = parity;
        idleCount = 0;
        idleStarted = true;
    }
    if (parity != idleParity) {
        idleCount = 0;
        return;
    }
    if (++idleCount > idleFrames) {
        post(EventCode::INACTIVITY);
        idleCount = 0;
    }
}

void PanelInput::frame(BitReader bit, int64_t now, bool encoderCcw, int idleFrames)
{
    if (!started) start(bit, now, encoderCcw);

    int footBits[kFootswitches];
    for (int i = 0; i < kFootswitches; i++) footBits[i] = bit(kFootswitchBits[i]);

    stepPair(pairs[0], footBits[0], footBits[1], EventCode::PAIR_AB, now);
    stepPair(pairs[1], footBits[1], footBits[2], EventCode::PAIR_BC, now);
    if (pairs[0].on) {
        foot[0].silence(footBits[0], now);
        foot[1].silence(footBits[1], now);
    }
    if (pairs[1].on) {
        foot[1].silence(footBits[1], now);
        foot[2].silence(footBits[2], now);
    }

    for (int i = 0; i < kFootswitches; i++)
        postEdges(foot[i].step(footBits[i], now), kFootBases[i] + EventCode::FOOT_PRESS);
    for (int i = 0; i < kEncoders; i++)
        postEdges(push[i].step(bit(kEncoderWiring[i].push), now), kEncoderBases[i] + EventCode::PUSH_PRESS);

    for (int i = 0; i < kEncoders; i++)
        stepEncoder(encoders[i], encoderState(bit, i, encoderCcw), kEncoderBases[i], now);

    if (idleFrames > 0) stepIdle(bit, idleFrames);
}

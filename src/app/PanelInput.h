#pragma once
#include <cstdint>

// Turns input frames of the panel (five push-encoders, three footswitches) into event codes:
// debounced pushes and footswitches with click, long press and long release, footswitch pairs,
// quadrature turns, and the inactivity event. The board layer feeds it every received frame, in
// order, on "eventTasks"; times are microseconds of the same clock.
//
// Rest levels are those of the first frame: an input held then reads as released while held.
class PanelInput {
public:
    // Reads input bit i of the current frame (0 or 1).
    using BitReader = int (*)(int bit);
    using Poster = void (*)(int code);

    explicit PanelInput(Poster post);

    // One frame. `idleFrames` is the number of frames without an encoder or push change after which
    // INACTIVITY is posted (0 or less: never).
    void frame(BitReader bit, int64_t now, bool encoderCcw, int idleFrames);

    static constexpr int64_t kDebounceMicros = 50000;
    static constexpr int64_t kLongPressMicros = 1500000;
    static constexpr int64_t kMaxPressLagMicros = 3000000;
    static constexpr int64_t kTurnForgetMicros = 2000000;

private:
    enum class Edge { PRESS, CLICK, LONG, LONG_RELEASE };
    // What one frame of one button gives: at most a long press and a press edge.
    struct Edges {
        Edge edge[2];
        int count = 0;
        void add(Edge e) { edge[count++] = e; }
    };

    struct Button {
        int rest = 0;
        int previous = 0;
        int debounced = 0;
        int64_t debounceTime = 0;
        int64_t timer = 0;
        bool longArmed = true;

        void start(int raw, int64_t now);
        Edges step(int raw, int64_t now);
        // A footswitch of a pair that is down says nothing.
        void silence(int raw, int64_t now);
    };

    struct Pair {
        int restA = 0;
        int restB = 0;
        bool on = false;
        int64_t debounceTime = 0;
        Button button;
    };

    struct Encoder {
        int last = 0;
        int accumulator = 0;
        int64_t pauseTime = 0;
    };

    static constexpr int kEncoders = 5;
    static constexpr int kFootswitches = 3;

    Poster post;
    bool started = false;
    Button push[kEncoders];
    Button foot[kFootswitches];
    Pair pairs[2];
    Encoder encoders[kEncoders];
    bool idleStarted = false;
    int idleParity = 0;
    int idleCount = 0;

    void start(BitReader bit, int64_t now, bool encoderCcw);
    int encoderState(BitReader bit, int index, bool encoderCcw) const;
    void postEdges(const Edges& edges, int pressCode);
    void stepPair(Pair& pair, int a, int b, int code, int64_t now);
    void stepEncoder(Encoder& encoder, int state, int base, int64_t now);
    void stepIdle(BitReader bit, int idleFrames);
};

#pragma once
#include "dsp/DoubleBuffer.h"
#include "dsp/Glide.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <utility>

// The settings of one block that glide (dsp/Glide.h), with whatever else its processing reads from
// the compile pass (`Fixed`: a switch, a mode, a shape table, a rate), handed over as one set.
//
// Each setting is declared once, while the block is built, with its kind (a level or a read
// position) and its value until the first compile pass; the handle add() returns names it from then
// on. compile() stages targets (set) and fixed values (fixed), then publishes them whole. Once per
// block the thread that processes takes the newest set (read) and moves every glide one block on
// toward it with one call (advance); sample k of the block then reads params[p].at(k). Between the
// two it may look at where the glides stand (settled) or restart one (jump).
//
// A setting may instead follow an atomic that another thread writes at any time (a gain the
// application sets): its target is read at each advance.
//
// A set rests once every glide stands on its target: advance then costs a test (and a look at each
// followed atomic) until read takes a newer set, a followed value moves or a glide is restarted. Most
// blocks' settings rest for minutes.
//
// Threads: add at construction; set, fixed, target and publish on the compile thread; advance,
// operator[], settled and jump on the one processing thread. Nothing allocates.
struct NoFixed {
    bool operator==(const NoFixed&) const = default;
};

template <class Fixed = NoFixed>
class ParamSet {
public:
    static constexpr int kCapacity = 48;

    // Made by add() and follow() only: a handle left unassigned would name the set's first setting
    // without a word, so a block that forgets one does not build.
    class Param {
        friend class ParamSet;
        explicit Param(int i) : index(i) {}
        int index;
    };

    ParamSet() = default;
    explicit ParamSet(const Fixed& initial)
    {
        staged.fixed = initial;
        published.publish(staged);
    }

    // Construction: a new setting, at `initial` until compile sets it.
    Param add(GlideKind kind, float initial = 0.0f)
    {
        // A block with more settings than this is a build mistake: it stops at once, in every test
        // that builds the block, rather than sharing a slot between two settings.
        if (count == kCapacity) {
            std::fputs("ParamSet: more than kCapacity settings in one block\n", stderr);
            std::abort();
        }
        const int i = count++;
        shares[i] = Glide::shareOf(kind);
        snaps[i] = Glide::snapOf(kind);
        staged.target[i] = initial;
        published.publish(staged);
        return Param(i);
    }
    // Construction: one new setting per entry of `initial`, in order.
    template <std::size_t N>
    std::array<Param, N> add(GlideKind kind, const std::array<float, N>& initial)
    {
        return [&]<std::size_t... I>(std::index_sequence<I...>)
        {
            return std::array<Param, N>{add(kind, initial[I])...}; // braces: added left to right
        }
        (std::make_index_sequence<N>{});
    }
    // Construction: N new settings, each at `initial`.
    template <std::size_t N>
    std::array<Param, N> addEach(GlideKind kind, float initial = 0.0f)
    {
        std::array<float, N> values;
        values.fill(initial);
        return add(kind, values);
    }
    // Construction: a setting whose target another thread keeps in `source`.
    Param follow(GlideKind kind, const std::atomic<float>* source)
    {
        const Param p = add(kind, source->load(std::memory_order_relaxed));
        sources[p.index] = source;
        followed[followers++] = p.index;
        return p;
    }

    // Compile thread.
    void set(Param p, float target) { staged.target[p.index] = target; }
    float target(Param p) const { return staged.target[p.index]; }
    Fixed& fixed() { return staged.fixed; }
    const Fixed& fixed() const { return staged.fixed; }
    void publish() { published.publish(staged); }

    // Processing thread: the newest set, kept until the next read.
    const Fixed& read()
    {
        // A newer set always comes in another slot.
        const Set* next = &published.read();
        if (next != current) {
            current = next;
            resting = false;
        }
        return current->fixed;
    }
    // Processing thread: the set last read.
    const Fixed& lastRead() const { return current ? current->fixed : initial; }
    // Processing thread: every glide moves one block of n samples toward the set last read.
    void advance(int n)
    {
        if (!current) read();
        if (resting && followedStill()) return; // every part stays {target, 0}
        bool rest = true;
        const int settings = count;
        for (int i = 0; i < settings; ++i) {
            const float goal = sources[i] ? sources[i]->load(std::memory_order_relaxed) : current->target[i];
            const Ramp part = glides[i].advance(goal, shares[i], snaps[i], n);
            now[i] = part;
            rest = rest && part.start == goal && part.increment == 0.0f;
        }
        resting = rest;
    }
    // This block's part of a glide (valid after advance). A copy: held in registers through a sample
    // loop, where a reference into this set would be read again after every store to a float.
    Ramp operator[](Param p) const { return now[p.index]; }
    // The glide stands at v (before advance: where the last block ended).
    bool settled(Param p, float v) const { return glides[p.index].settled(v); }
    // The glide starts again from v at the next advance.
    void jump(Param p, float v)
    {
        glides[p.index].jump(v);
        resting = false;
    }

private:
    bool followedStill() const
    {
        for (int f = 0; f < followers; ++f) {
            const int i = followed[f];
            if (sources[i]->load(std::memory_order_relaxed) != glides[i].value()) return false;
        }
        return true;
    }

    struct Set {
        float target[kCapacity] = {};
        Fixed fixed{};
    };

    int count = 0;
    int followers = 0;
    bool resting = false; // processing thread
    float shares[kCapacity] = {};
    float snaps[kCapacity] = {};
    const std::atomic<float>* sources[kCapacity] = {};
    int followed[kCapacity] = {}; // indices of the settings with a source
    Set staged;
    DoubleBuffer<Set> published;
    const Set* current = nullptr; // processing thread
    Fixed initial{};
    Glide glides[kCapacity];
    Ramp now[kCapacity] = {};
};

#pragma once
// The chores every effect block shares, in one place: its "Enable" switch, the usual parameter
// nodes, tempo-linked times and rates, the structural hand-over, the fade gain and the walk over one
// or two channels.
//
// The click-free kit, used alike by every block of the chain:
// - structure (switches, modes, selections, a loaded response or model), which changes what a block
//   computes in a way no ramp can hide: compile keeps what the audio has in a small struct and takes
//   what the nodes say only through takeStructure, which hands it over at the fade's quiet point;
// - levels, pans, mixes, depths and read positions glide: each is declared once, with its kind, in
//   the block's dsp/ParamSet.h, which hands compile's targets (and whatever else exec reads) over
//   whole and advances every glide in one call per frame;
// - filter sections under a knob glide in dsp/GlidingBiquad.h; delay times that would jump a read
//   position cross-fade (dsp/Crossfade.h); what a block records takes the fade ramp (fadeRamp);
// - the dry/wet law is dsp/DryWet.h, the LFOs of the modulation and delay blocks dsp/StereoLfo.h,
//   the triangle sweeps of read positions (reverb lines, tape wow) dsp/TriangleLfo.h.
// A set that must change as a whole without gliding (a detector's thresholds) goes through
// dsp/DoubleBuffer.h: compile calls publish(set), exec copies read() once per frame.
//
// The switch ("Enable" and the external flag, combined by isOn) reaches exec in the fixed part of
// the block's ParamSet, in the same set as the values compiled for it. Four blocks differ:
// - the equaliser, the expression block and the tuner have no set: their filters hand themselves
//   over (GlidingBiquad) or never change, so the switch alone is one atomic, which exec reads first
//   and returns on;
// - the noise gate has no switch in exec: off, compile publishes thresholds of 0 in its coefficient
//   set, so the gate stands open, and its gain rises along the attack instead of stepping to 1.
//
// Threads: the make* functions run in block constructors at start-up (they allocate nodes);
// isOn, takeStructure and TempoLink's resolvers run in compile() on the compile thread; fadeRamp and
// forChannels run in exec on the audio thread and touch nothing but the frame.
#include "audio/AudioBlock.h"
#include "audio/AudioProcessor.h"
#include "dsp/Glide.h"

#include <atomic>
#include <cmath>
#include <vector>

class Node;
class NodeEnum;
class NodeFloat;
class NodeItem;
class NodeOnOff;
class Tempo;

namespace fx {

// ---- Enable ---------------------------------------------------------------------------------------

// The block's "on_off" switch ("Enable", default "OFF"). With fade, a change runs the engine's
// debounce, so switching the block on or off is hidden behind the fade; switches of sub-sections
// that only change coefficients pass false.
NodeOnOff* makeEnable(Node* parent, bool fade = true, const char* label = "Enable");

// The block runs: its own switch is "ON" (a block without a switch of its own passes null) and the
// external on/off flag is set.
bool isOn(const NodeOnOff* onOff, bool external);

// The external on/off flag every block keeps beside its switch: set by the application from any
// thread, read by compile.
class ExternalSwitch {
public:
    void set(bool on) { flag.store(on, std::memory_order_relaxed); }
    bool get() const { return flag.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> flag{true};
};

// ---- Structure ------------------------------------------------------------------------------------

// Compile thread: `held` is what the audio has, `live` what the nodes say now. When they differ and
// the engine allows it (the quiet pass, or nothing is heard), held takes live and the answer is true:
// the block then rebuilds what depends on it. Otherwise the engine is asked for a fade and held stays.
template <class T>
bool takeStructure(T& held, const T& live)
{
    if (held == live || !AudioProcessor::mayRestructure()) return false;
    held = live;
    return true;
}

// ---- Common parameters ------------------------------------------------------------------------------

// Decimals of the node form without a decimals argument: the screens' usual two.
constexpr int kUsualDecimals = -1;

// Everything a float parameter node takes. Fields after `def` have the usual values, so a block
// spells out only what differs, designated in field order:
//   makeFloat(parent, {.key = "boost", .label = "Boost", .min = 0, .max = 12, .def = 0, .unit = "dB",
//                      .decimals = 1, .linkable = true});
struct FloatParam {
    const char* key;
    const char* label;
    float min;
    float max;
    float def;
    const char* unit = "";
    float shape = 0.5f;
    bool inverted = false;
    int decimals = kUsualDecimals;
    bool linkable = false;
};

NodeFloat* makeFloat(Node* parent, const FloatParam& param);

// 0..100 "%", linear knob, no decimals (depths, tones, emphases, levels in percent).
NodeFloat* makePercent(Node* parent, const char* key, const char* label, float def, bool linkable = true);
// The dry/wet balance "mix" ("Dry-Wet") in percent, linkable.
NodeFloat* makeMix(Node* parent, float def);
// 0..1 without unit, usual decimals (the reverbs' decay, mix, tone).
NodeFloat* makeUnit(Node* parent, const char* key, const char* label, float def, float shape = 0.5f,
                    bool linkable = false);
// A gain in dB, linear knob.
NodeFloat* makeLevelDb(Node* parent, const char* key, const char* label, float min, float max, float def,
                       int decimals = 1, bool linkable = false);
// A cut or sweep frequency in Hz, no decimals; high cuts pass inverted (the knob turns it down).
NodeFloat* makeFrequency(Node* parent, const char* key, const char* label, float min, float max, float def,
                         float shape = 0.2f, bool inverted = false, bool linkable = false);
// A time in ms, no decimals.
NodeFloat* makeTimeMs(Node* parent, const char* key, const char* label, float min, float max, float def,
                      float shape = 0.1f, bool linkable = false);

// A folder inside a block ("vfolder" by default).
NodeItem* makeFolder(Node* parent, const char* key, const char* label, const char* itemType = "vfolder");

// ---- Tempo link -----------------------------------------------------------------------------------

// A tempo-linkable time or rate: a "module" folder holding the raw value "rawdata", the subdivision
// "sbdv" and the tempo's "lock" selector. Players and stored presets see the node order, so the
// lock node comes last or, where a block wants it so, before the subdivision.
class TempoLink {
public:
    enum class Order { LockLast, LockBeforeSubdivision };

    TempoLink() = default;
    // raw: the "rawdata" node (its key is forced to "rawdata"); subdivisions: the "sbdv" options,
    // the default is "1/4". Without a tempo there is no lock node and the raw value always counts.
    TempoLink(Node* parent, const char* key, const char* label, Tempo* tempo, FloatParam raw,
              std::vector<const char*> subdivisions, const char* subdivisionLabel = "Time Subdivision",
              Order order = Order::LockLast);

    // Compile thread. Linked (a tempo exists and accepts the lock option): the tempo's beat rate
    // times the subdivision's beats; else the raw value in Hz.
    float rateHz() const;
    // Linked: one beat's time times the subdivision; else the raw value in ms. A linked tempo of 0
    // (a source that reads 0) has no beat to measure, so the raw value counts then.
    float timeMs() const;
    bool isLinked() const;
    // BPM of the selected lock option (0 when unlocked or without a tempo).
    float bpm() const;

    NodeItem* folder() const { return folderNode; }
    NodeFloat* raw() const { return rawNode; }
    NodeEnum* subdivision() const { return sbdvNode; }
    NodeEnum* lock() const { return lockNode; }

    // Beats per note of a subdivision text for rates ("1/8" 2, "Dotted 8th" 1.33333, "4/4" 0.25),
    // and the note's share of a beat for times ("1/8" 0.5, "Dotted 8th" 0.75, "Triplet" 0.333).
    // An unknown text gives 1.
    static float rateFactor(const char* subdivision);
    static float timeFactor(const char* subdivision);

private:
    Tempo* tempo = nullptr;
    NodeItem* folderNode = nullptr;
    NodeFloat* rawNode = nullptr;
    NodeEnum* sbdvNode = nullptr;
    NodeEnum* lockNode = nullptr;
};

// ---- Volume taper ---------------------------------------------------------------------------------

// The volume law of the amp-model players, the expression block and the application block: 0 at 0 %,
// 1 at 100 %, exponential in between so that the knob's travel sounds even.
inline double volumeTaper(double percent)
{
    return (std::exp(0.03469202 * percent) - 1.0) * 0.032142857580768826;
}

// ---- Audio thread ---------------------------------------------------------------------------------

// The engine's fade gain across this frame: what a block records (a delay line, a reverb, a chorus)
// is multiplied by it, so that it never replays a change that the fade hid when it was made.
inline Ramp fadeRamp()
{
    Ramp r;
    AudioProcessor::getFadeRamp(r.start, r.increment);
    return r;
}

// Runs f(row, channel) on the first `channels` rows (1: the left channel, 2: both).
template <class F>
inline void forChannels(AudioFrame frame, int channels, F&& f)
{
    for (int c = 0; c < channels; ++c) f(frame[c], c);
}

} // namespace fx

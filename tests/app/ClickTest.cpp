// Clicks on the running unit: the whole chain as the application builds it, its compile thread and
// the fade, driven frame by frame. Every switch, mode change, preset load and knob sweep of every
// block is made many times over a steady tone and over plucked decaying notes, and the output
// around it is measured: its largest second difference over the steady peak (the click index) may
// not exceed the signal's own (measured on the same settings without a change) by more than one step
// of the fade (0.08: the index of a full-scale sine scaled by 0.9 in one sample).
//
// Repetitions: KESTRUN_CLICK_REPEATS (2 by default; scripts/click-suite.sh runs 100). Each case prints
// its worst figures. Each frame is handed to the amp-model players only once their workers have
// finished the one before, as each would on a core of its own: on this host they are ordinary
// threads, and a late one mutes a frame, which is no click of the chain.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/Kestrun.h"
#include "audio/AudioProcessor.h"
#include "audio/EngineSupport.h"
#include "base/System.h"
#include "effects/IrLoader.h"
#include "effects/NamPlayer.h"
#include "params/Node.h"
#include "params/NodeFloat.h"
#include "params/NodeList.h"
#include "params/NodePreset.h"
#include "support/ResetHooks.h"
#include "support/TempRoot.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFs = 48000.0;
// The click index of one step of the fade on a full-scale tone.
constexpr double kFadeStep = 0.08;
// The compile thread's period here, and the pace of the frames that keeps the unit's ratio of about
// thirty frames per compile pass.
constexpr uint32_t kCompilePeriodUs = 1000;
constexpr auto kFramePace = std::chrono::nanoseconds(kCompilePeriodUs * 1000 / 30);

int repeats()
{
    const char* text = std::getenv("KESTRUN_CLICK_REPEATS");
    const int n = text ? std::atoi(text) : 0;
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer build looks for memory faults; the normal build counts the clicks.
    constexpr int kDefault = 1;
#else
    constexpr int kDefault = 2;
#endif
    return n > 0 ? n : kDefault;
}

Node* at(const std::string& path)
{
    Node* node = System::rootNode()->pathToNode(path);
    EXPECT_NE(node, nullptr) << path;
    return node;
}

void set(const std::string& path, const std::string& text)
{
    if (Node* node = at(path)) node->fromString(text);
}

// Every parameter below a node back to its default (what a preset does with the nodes it lacks).
void resetBelow(Node* node)
{
    for (Node* child : node->getChildren()) {
        child->reset();
        resetBelow(child);
    }
}

enum class Tone { Steady, Plucked };

const char* toneName(Tone tone)
{
    return tone == Tone::Steady ? "steady" : "plucked";
}

// The unit and its engine, built once per test: the chain of blocks cannot be taken down, so when
// the tests share a process, the one of the test before is left behind (its threads ended) and a
// new one is built on the modules put back.
class Unit {
public:
    static Unit& get()
    {
        if (!current) current = new Unit;
        return *current;
    }
    static void leaveBehind()
    {
        static std::vector<Unit*> left;
        if (current) left.push_back(current);
        current = nullptr;
    }

    // Changes the tone over 20 ms: a step of the input would be recorded by the delay and the reverb
    // and heard again, and counted as a click of whatever change came next.
    void setTone(Tone next)
    {
        if (next == tone) return;
        previous = tone;
        tone = next;
        toneSince = n;
    }

    // One frame in and out; the output is recorded.
    void frame()
    {
        waitForWorkers();
        for (int k = 0; k < FRAME_SAMPLES; ++k, ++n) {
            const float x = input(n);
            inL.push_back(x);
            codec->in[0][k] = x;
            codec->in[1][k] = 0.0f;
        }
        AudioProcessor::processBlock();
        for (int k = 0; k < FRAME_SAMPLES; ++k) {
            outL.push_back(codec->out[0][k]);
            outR.push_back(codec->out[1][k]);
        }
        fadeGains.push_back(AudioProcessor::getDebounceVolume());
        const auto now = std::chrono::steady_clock::now();
        // Frames held up longer than the engine's window count as no audio at all, and a change may
        // then come without a fade (a loaded test machine can do that to this thread).
        if (now - last > std::chrono::milliseconds(40)) stalls.push_back(position());
        last = now;
        // At most the unit's pace: about thirty frames for every compile pass.
        next += kFramePace;
        if (next > now) std::this_thread::sleep_until(next);
        else if (now - next > std::chrono::milliseconds(5)) next = now;
    }
    void frames(int count)
    {
        for (int i = 0; i < count; ++i) frame();
    }
    // Runs frames until the fade is idle and every glide and cross-fade has had time to end.
    // Two compile passes have begun since the call (so the last change has reached the blocks), the
    // fade is idle and has been for 60 frames. A loaded machine may keep the compile thread waiting
    // for a processor a long while: the limit is in seconds, not in frames.
    void settle()
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        const uint32_t passes = AudioProcessor::getCompilePasses() + 2;
        int quiet = 0;
        while ((quiet < 60 || AudioProcessor::getCompilePasses() < passes) &&
               std::chrono::steady_clock::now() < until) {
            frame();
            quiet = AudioProcessor::getCompilerStatus() == 0 ? quiet + 1 : 0;
        }
        ASSERT_EQ(AudioProcessor::getCompilerStatus(), 0) << "the fade never ended";
    }
    // Every block back to its defaults, amp-model players off.
    void resetBlocks()
    {
        resetBelow(at("root\\app"));
        resetBelow(at("root\\settings\\input"));
        settle();
        settle();
    }
    std::size_t position() const { return outL.size(); }
    Tone currentTone() const { return tone; }
    void clear()
    {
        outL.clear();
        outR.clear();
        inL.clear();
        fadeGains.clear();
        stalls.clear();
    }

    Kestrun* app = nullptr;
    std::vector<float> outL, outR;
    std::vector<float> fadeGains; // after each frame
    std::vector<float> inL;
    std::vector<std::size_t> stalls; // output positions where frames had stopped for a while
    // Whether frames stopped anywhere in [from, to).
    bool stalled(std::size_t from, std::size_t to) const
    {
        for (std::size_t at : stalls)
            if (at >= from && at < to) return true;
        return false;
    }

private:
    static Unit* current;

    Unit()
    {
        System::initialize("ap0003");
        app = new Kestrun(System::appNode(), System::rootNode());
        codec = new ManualCodec;
        Codec::search();
        AudioProcessor::setCompilePeriod(kCompilePeriodUs);
        AudioProcessor::audioInitialize(true);
        for (int i = 0; i < 5000 && !codec->started; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(codec->started);
        addResponses();
        addModels();
        next = last = std::chrono::steady_clock::now();
        settle();
    }

    float input(long i) const
    {
        const long since = i - toneSince;
        if (since >= kToneChange) return generate(tone, i);
        const double mix = 0.5 - 0.5 * std::cos(kPi * double(since) / kToneChange);
        return float(mix * generate(tone, i) + (1.0 - mix) * generate(previous, i));
    }

    static float generate(Tone tone, long i)
    {
        const double t = double(i) / kFs;
        if (tone == Tone::Steady) return float(0.5 * std::sin(2 * kPi * 220.0 * t));
        // A note plucked every 0.15 s, ringing on under the next: a quick rise, then four harmonics
        // dying away.
        const double period = 0.15;
        const long note = long(t / period);
        double x = 0;
        for (long k = std::max(0L, note - 4); k <= note; ++k) {
            const double age = t - double(k) * period;
            const double rise = age < 0.002 ? 0.5 - 0.5 * std::cos(kPi * age / 0.002) : 1.0;
            const double f = 110.0 * (1.0 + 0.25 * double(k % 4));
            double partials = 0;
            for (int h = 1; h <= 4; ++h) partials += std::sin(2 * kPi * f * h * age) / h;
            x += 0.45 * rise * std::exp(-age / 0.08) * partials;
        }
        return float(x);
    }

    // Three cabinet responses in the list: decaying noise of different colours.
    void addResponses()
    {
        NodeList* list = app->irLoader->getList();
        const char* names[3] = {"cab1", "cab2", "cab3"};
        for (int r = 0; r < 3; ++r) {
            std::vector<float> taps(IrLoader::kTaps, 0.0f);
            uint32_t seed = 12345u + uint32_t(r) * 777u;
            float smooth = 0.0f;
            for (int k = 0; k < IrLoader::kTaps; ++k) {
                seed = seed * 1664525u + 1013904223u;
                const float noise = float(int32_t(seed)) / 2147483648.0f;
                smooth += (noise - smooth) * (0.2f + 0.3f * float(r));
                taps[std::size_t(k)] = smooth * std::exp(-float(k) / (60.0f + 40.0f * float(r)));
            }
            taps[0] += 0.5f;
            list->setElementAt(r, names[r], taps.data());
        }
    }

    // Two models in each player's list.
    void addModels()
    {
        const std::pair<NamPlayer*, const char*> models[] = {{app->namAmp, "a_wavenet_small"},
                                                             {app->namAmp, "c_lstm_1x8"},
                                                             {app->namDrive, "e_wavenet_nano"},
                                                             {app->namDrive, "d_lstm_2x8"}};
        int position = 0;
        for (const auto& [player, name] : models) {
            std::ifstream file(std::string(KESTRUN_TESTS_DIR) + "/data/nam/" + name + ".nam");
            std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            ASSERT_FALSE(text.empty()) << name;
            std::vector<char> element(NamPlayer::kElementSize, 0);
            std::memcpy(element.data(), text.data(), text.size());
            player->getModelList()->setElementAt(position++ % 2, name, element.data());
        }
    }

    // Until both workers have finished the frame before (a few seconds at most; then the frame goes
    // on and a late worker's mute counts as a stop of the frames).
    void waitForWorkers()
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (NamPlayer* player : {app->namAmp, app->namDrive}) {
            while (player->isBusy() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
            if (player->isBusy()) stalls.push_back(position());
        }
    }

    static constexpr long kToneChange = 960;

    ManualCodec* codec = nullptr;
    long n = 0;
    Tone tone = Tone::Steady;
    Tone previous = Tone::Steady;
    long toneSince = 0;
    std::chrono::steady_clock::time_point next;
    std::chrono::steady_clock::time_point last;
};

Unit* Unit::current = nullptr;
ResetHook unitReset([] { Unit::leaveBehind(); });

// What one kind of change did, over all its repetitions.
struct Figures {
    double worst = 0; // click index
    double natural = 0; // the signal's own, on the settings before and after
    int changes = 0;
    int stalled = 0; // changes not counted: frames stopped while they were made
    long worstAt = 0; // samples after its change
    float worstFade = 0; // the fade gain there
};

// Largest second difference in [from, to) of both channels; where it is goes to `where`.
double maxStep(const Unit& u, std::size_t from, std::size_t to, std::size_t* where = nullptr)
{
    double m = 0;
    for (const auto* out : {&u.outL, &u.outR})
        for (std::size_t i = std::max<std::size_t>(from, 2); i < to && i < out->size(); ++i) {
            const double d = std::fabs((*out)[i] - 2 * (*out)[i - 1] + (*out)[i - 2]);
            if (d > m) {
                m = d;
                if (where) *where = i;
            }
        }
    return m;
}

double peak(const Unit& u, std::size_t from, std::size_t to)
{
    double m = 0;
    for (const auto* out : {&u.outL, &u.outR})
        for (std::size_t i = from; i < to && i < out->size(); ++i) m = std::max(m, double(std::fabs((*out)[i])));
    return m;
}

// A change of one kind, made again and again: step(i) makes change i (i = 1, 2, ...), moving the
// block from one setting to the next; jump(s) puts it at setting s at once (0 is where it starts),
// so that each setting can be measured steady first, for longer than one plucked note.
struct Change {
    std::string name;
    std::function<void(int)> step;
    std::function<void(int)> jump;
    int settings = 2;
    std::function<void()> prepare = [] {};
    std::function<void()> restore = [] {};
};

// A switch or selector that cycles through `values` (JSON texts).
Change cycle(const std::string& path, std::vector<std::string> values)
{
    auto step = [path, values](int i) { set(path, values[std::size_t(i) % values.size()]); };
    return {path, step, step, int(values.size())};
}

Change toggle(const std::string& path)
{
    return cycle(path, {"\"ON\"", "\"OFF\""});
}

// Knobs turned over their whole travel and back, one after another, an encoder step every 15 frames
// (5 ms: a quick hand). Setting 0 has every knob at one end, setting 1 at the other.
Change sweep(
    std::vector<std::string> paths, std::string name = "", std::function<void()> prepare = [] {})
{
    if (name.empty()) name = paths.front();
    auto turn = [paths](int setting, int framesPerStep) {
        for (const std::string& path : paths) {
            Node* knob = at(path);
            for (int s = 0; s < 50; ++s) {
                knob->edit(setting % 2 == 1);
                if (framesPerStep) Unit::get().frames(framesPerStep);
            }
        }
    };
    Change c{name, [turn](int i) { turn(i, 15); }, [turn](int s) { turn(s, 0); }, 2, std::move(prepare)};
    c.restore = [paths] {
        for (const std::string& path : paths) at(path)->reset();
    };
    return c;
}

Change sweep(const std::string& path)
{
    return sweep(std::vector<std::string>{path});
}

Figures measure(const Change& change, int reps)
{
    Unit& u = Unit::get();
    Figures f;
    change.prepare();
    // The settings on their own first: their peak and their natural step.
    double steadyPeak = 0, naturalStep = 0;
    for (int s = 0; s < change.settings; ++s) {
        change.jump(s);
        u.settle();
        const std::size_t from = u.position();
        u.frames(500); // more than one plucked note
        steadyPeak = std::max(steadyPeak, peak(u, from, u.position()));
        naturalStep = std::max(naturalStep, maxStep(u, from, u.position()));
    }
    EXPECT_GT(steadyPeak, 1e-3) << change.name << ": nothing comes out";
    if (steadyPeak <= 1e-3) return f;
    f.natural = naturalStep / steadyPeak;
    change.jump(0);
    u.settle();
    // Every change is measured from the frame it is made in up to the next one, so that what it
    // leaves in a delay line or a reverb is counted too.
    const int count = change.settings * reps;
    for (int i = 1; i <= count; ++i) {
        const std::size_t from = u.position();
        change.step(i);
        // Changes come at uneven moments relative to the compile passes.
        u.frames(1 + (i * 7) % 23);
        u.settle();
        if (u.stalled(from, u.position())) {
            ++f.stalled;
            continue;
        }
        std::size_t where = from;
        const double index = maxStep(u, from, u.position(), &where) / steadyPeak;
        if (index > f.worst) {
            if (std::getenv("KESTRUN_CLICK_DUMP")) {
                std::printf("dump %s %s change %d at %zu index %f\n", toneName(u.currentTone()), change.name.c_str(), i,
                            where - from, index);
                for (std::size_t k = std::max(where, from + 40) - 40; k < where + 24; ++k)
                    std::printf("  %zu %+.6f %+.6f fade %.4f in %+.6f\n", k - from, double(u.outL[k]),
                                double(u.outR[k]), double(u.fadeGains[k / FRAME_SAMPLES]), double(u.inL[k]));
            }
            f.worst = index;
            f.worstAt = long(where - from);
            f.worstFade = u.fadeGains[where / FRAME_SAMPLES];
        }
        ++f.changes;
    }
    change.restore();
    u.settle();
    return f;
}

// Runs each change with both tones and checks every figure; `setup` puts the block in a state where
// its changes are heard.
void runBlock(const char* block, const std::function<void()>& setup, const std::vector<Change>& changes)
{
    Unit& u = Unit::get();
    const int reps = repeats();
    double worst = 0, worstMargin = -1;
    for (Tone tone : {Tone::Steady, Tone::Plucked}) {
        u.setTone(tone);
        u.resetBlocks();
        setup();
        u.settle();
        for (const Change& change : changes) {
            u.clear();
            const Figures f = measure(change, reps);
            std::printf(
                "click %-8s %-7s %-34s worst %.4f natural %.4f (%d changes, %d left out for stopped "
                "frames; worst %ld samples after its change, fade %.3f)\n",
                block, toneName(tone), change.name.c_str(), f.worst, f.natural, f.changes, f.stalled, f.worstAt,
                double(f.worstFade));
            EXPECT_LE(f.worst, f.natural + kFadeStep) << block << " " << change.name << " " << toneName(tone);
            worst = std::max(worst, f.worst);
            worstMargin = std::max(worstMargin, f.worst - f.natural);
        }
    }
    u.clear();
    std::printf("click %-8s WORST %.4f (above the signal's own: %.4f)\n", block, worst, worstMargin);
}

const std::string kPickup = "root\\settings\\input\\pickup\\";
const std::string kGate = "root\\app\\gate\\";
const std::string kExpr = "root\\app\\exp\\";
const std::string kComp = "root\\app\\comp\\";
const std::string kIr = "root\\app\\ir\\";
const std::string kEq = "root\\app\\eq\\";
const std::string kDelay = "root\\app\\delay\\";
const std::string kReverb = "root\\app\\reverb\\";
const std::string kOutput = "root\\app\\output\\";

std::vector<Change> modulationChanges(const std::string& m, bool post)
{
    std::vector<Change> c = {
        toggle(m + "on_off"),
        cycle(m + "mode", {"\"Chorus\"", "\"Flanger\"", "\"Phaser\""}),
        cycle(m + "tcfolder\\shape", {"\"Triang\"", "\"Sin\"", "\"Square\""}),
        toggle(m + "trfolder\\on_off"),
        cycle(m + "rate\\lock", {"\"Unlocked\"", "\"Global\""}),
        sweep(m + "rate\\rawdata"),
        sweep(m + "dpth"),
        sweep(m + "mix"),
        sweep(m + "tcfolder\\emp"),
        sweep({m + "tcfolder\\hicut", m + "tcfolder\\locut"}, "tone cuts"),
        sweep({m + "trfolder\\rate\\rawdata", m + "trfolder\\dpt", m + "trfolder\\wave"}, "tremolo knobs",
              [m] { set(m + "trfolder\\on_off", "\"ON\""); }),
        sweep({m + "dpth", m + "tcfolder\\emp"}, "flanger depth and emphasis", [m] { set(m + "mode", "\"Flanger\""); }),
    };
    c.push_back(
        sweep({m + "dpth", m + "tcfolder\\emp"}, "phaser depth and emphasis", [m] { set(m + "mode", "\"Phaser\""); }));
    if (post)
        c.push_back(sweep({m + "tcfolder\\sphase", m + "trfolder\\sphase"}, "stereo phases", [m] {
            set(m + "mode", "\"Chorus\"");
            set(m + "trfolder\\on_off", "\"ON\"");
        }));
    return c;
}

// A change made by `make(i)`, moving between `settings` states.
Change custom(std::string name, int settings, std::function<void(int)> make)
{
    return {std::move(name), make, make, settings};
}

} // namespace

TEST(Clicks, PickupSimulator)
{
    runBlock("pickup", [] { set(kPickup + "on_off", "\"ON\""); },
             {toggle(kPickup + "on_off"),
              cycle(kPickup + "in_pick", {"\"Single Coil\"", "\"Single Coil Bright\"", "\"Humbucker\""}),
              cycle(kPickup + "out_pick", {"\"Humbucker Bright\"", "\"Single Coil Tele\"", "\"Humbucker Jazz Box\""}),
              sweep("root\\settings\\input\\gain1")});
}

TEST(Clicks, Tuner)
{
    const std::string tuner = "root\\settings\\tuner\\on_off";
    // Off first and last: the tuner mutes the whole unit, and its switch is no block setting that a
    // reset puts back.
    Change toggleTuner = cycle(tuner, {"\"OFF\"", "\"ON\""});
    toggleTuner.restore = [tuner] { set(tuner, "\"OFF\""); };
    runBlock("tuner", [] {}, {toggleTuner});
}

std::vector<Change> playerChanges(const std::string& p, const char* model1, const char* model2)
{
    return {toggle(p + "on_off"),
            cycle(p + "model", {std::string("\"") + model1 + "\"", std::string("\"") + model2 + "\"", "\"\""}),
            sweep({p + "gain", p + "lvl"}, "gain and volume"), sweep({p + "low", p + "mid", p + "treble"}, "tone")};
}

TEST(Clicks, AmpModelDrive)
{
    runBlock(
        "drive",
        [] {
            set("root\\app\\drive\\on_off", "\"ON\"");
            set("root\\app\\drive\\model", "\"e_wavenet_nano\"");
        },
        playerChanges("root\\app\\drive\\", "e_wavenet_nano", "d_lstm_2x8"));
}

TEST(Clicks, AmpModelAmp)
{
    runBlock(
        "amp",
        [] {
            set("root\\app\\amp\\on_off", "\"ON\"");
            set("root\\app\\amp\\model", "\"a_wavenet_small\"");
        },
        playerChanges("root\\app\\amp\\", "a_wavenet_small", "c_lstm_1x8"));
}

TEST(Clicks, NoiseGate)
{
    runBlock("gate", [] { set(kGate + "on_off", "\"ON\""); },
             {toggle(kGate + "on_off"),
              sweep({kGate + "threshold", kGate + "attack", kGate + "release", kGate + "hysteresis"}, "gate knobs")});
}

TEST(Clicks, Expression)
{
    runBlock("expr",
             [] {
                 set(kExpr + "on_off", "\"ON\"");
                 set(kExpr + "vfold\\on_off", "\"ON\"");
                 set(kExpr + "wfolder\\on_off", "\"ON\"");
             },
             {toggle(kExpr + "on_off"), toggle(kExpr + "vfold\\on_off"), toggle(kExpr + "wfolder\\on_off"),
              cycle(kExpr + "wfolder\\mode", {"\"Cry\"", "\"Vintage\""}),
              cycle(kExpr + "wfolder\\off_val", {"\"Disabled\"", "\"95%\"", "\"90%\""}),
              sweep({kExpr + "vfold\\vol", kExpr + "vfold\\boost"}, "volume and boost"), sweep(kExpr + "wfolder\\pos"),
              sweep({kExpr + "wfolder\\int", kExpr + "wfolder\\lo_sw", kExpr + "wfolder\\hi_sw"}, "wah voicing")});
}

TEST(Clicks, Compressor)
{
    runBlock("comp", [] { set(kComp + "on_off", "\"ON\""); },
             {toggle(kComp + "on_off"), cycle(kComp + "md", {"\"Dyn\"", "\"Studio\""}),
              sweep({kComp + "sensitivity", kComp + "makeup", kComp + "tn"}, "dyn knobs"),
              sweep({kComp + "attack", kComp + "release"}, "times"),
              sweep({kComp + "threshold", kComp + "ratio", kComp + "knee", kComp + "makeup"}, "studio knobs",
                    [] { set(kComp + "md", "\"Studio\""); })});
}

TEST(Clicks, ModulationBeforeTheAmps)
{
    runBlock(
        "mod_pre", [] { set("root\\app\\mod_pre\\on_off", "\"ON\""); },
        modulationChanges("root\\app\\mod_pre\\", false));
}

TEST(Clicks, Cabinet)
{
    runBlock("ir",
             [] {
                 set(kIr + "on_off", "\"ON\"");
                 set(kIr + "ir", "\"cab1\"");
                 set(kIr + "ir2\\ir", "\"cab2\"");
             },
             {toggle(kIr + "on_off"), cycle(kIr + "ir", {"\"cab1\"", "\"cab2\"", "\"cab3\""}),
              toggle(kIr + "ir2\\on_off"), cycle(kIr + "ir2\\ir", {"\"cab2\"", "\"cab3\""}),
              custom("selected response rewritten remotely", 2,
                     [](int i) {
                         // Element 0 ("cab1", selected) takes the data of element 1 or 2.
                         NodeList* list = Unit::get().app->irLoader->getList();
                         std::vector<float> taps(IrLoader::kTaps);
                         std::memcpy(taps.data(), list->dataAt(1 + i % 2), taps.size() * sizeof(float));
                         list->setElementAt(0, "cab1", taps.data());
                     }),
              sweep({kIr + "lo_cut", kIr + "hi_cut"}, "cuts"),
              sweep({kIr + "ir2\\balance1", kIr + "ir2\\balance2", kIr + "ir2\\pan1", kIr + "ir2\\pan2",
                     kIr + "ir2\\lo_cut", kIr + "ir2\\hi_cut"},
                    "stereo levels, pans and cuts", [] { set(kIr + "ir2\\on_off", "\"ON\""); })});
}

TEST(Clicks, Equaliser)
{
    runBlock("eq", [] { set(kEq + "on_off", "\"ON\""); },
             {toggle(kEq + "on_off"),
              cycle(kEq + "lo_slope", {"\"OFF\"", "\"6dB/oct\"", "\"12dB/oct\"", "\"24dB/oct\""}),
              cycle(kEq + "hi_slope", {"\"24dB/oct\"", "\"OFF\"", "\"12dB/oct\"", "\"6dB/oct\""}),
              custom("level +6 dB", 2, [](int i) { set(kEq + "eq_nbands\\level", i % 2 ? "6" : "0"); }),
              sweep({kEq + "lo_cut", kEq + "hi_cut"}, "cuts",
                    [] {
                        set(kEq + "lo_slope", "\"24dB/oct\"");
                        set(kEq + "hi_slope", "\"24dB/oct\"");
                    }),
              sweep({kEq + "eq_nbands\\band_0", kEq + "eq_nbands\\band_1", kEq + "eq_nbands\\band_2",
                     kEq + "eq_nbands\\band_5", kEq + "eq_nbands\\band_7", kEq + "eq_nbands\\level"},
                    "bands and level")});
}

TEST(Clicks, ModulationAfterTheEqualiser)
{
    runBlock(
        "mod", [] { set("root\\app\\mod\\on_off", "\"ON\""); }, modulationChanges("root\\app\\mod\\", true));
}

TEST(Clicks, Delay)
{
    runBlock("delay",
             [] {
                 set(kDelay + "on_off", "\"ON\"");
                 set(kDelay + "mix", "50");
                 set(kDelay + "fdbk", "60");
             },
             {toggle(kDelay + "on_off"), toggle(kDelay + "modfolder\\on_off"),
              cycle(kDelay + "modfolder\\shape", {"\"Triang\"", "\"Sin\"", "\"Square\""}),
              toggle(kDelay + "ddfolder\\on_off"), cycle(kDelay + "ddfolder\\fbpol", {"\"Independent\"", "\"Locked\""}),
              custom("time 300 -> 310 ms", 2, [](int i) { set(kDelay + "dlytime\\rawdata", i % 2 ? "310" : "300"); }),
              custom("tempo linked, tap updates", 2,
                     [](int i) {
                         set(kDelay + "dlytime\\lock", "\"Global\"");
                         set(kOutput + "tempo_bpm", i % 2 ? "118" : "121");
                     }),
              sweep(kDelay + "dlytime\\rawdata"), sweep({kDelay + "fdbk", kDelay + "mix"}, "feedback and mix"),
              sweep({kDelay + "tcfolder\\analog", kDelay + "tcfolder\\tape"}, "analog and tape"),
              sweep({kDelay + "tcfolder\\hi_damp", kDelay + "tcfolder\\lo_damp"}, "tone"),
              sweep({kDelay + "tcfolder\\spread", kDelay + "tcfolder\\bounce"}, "spread and bouncing"),
              sweep({kDelay + "modfolder\\rate\\rawdata", kDelay + "modfolder\\dpth", kDelay + "modfolder\\sphase"},
                    "modulation knobs", [] { set(kDelay + "modfolder\\on_off", "\"ON\""); }),
              sweep({kDelay + "ddfolder\\rtime\\rawdata", kDelay + "ddfolder\\fdbkr", kDelay + "ddfolder\\mixb",
                     kDelay + "ddfolder\\panl", kDelay + "ddfolder\\panr"},
                    "dual delay knobs", [] { set(kDelay + "ddfolder\\on_off", "\"ON\""); })});
}

TEST(Clicks, Reverb)
{
    runBlock(
        "reverb", [] { set(kReverb + "on_off", "\"ON\""); },
        {toggle(kReverb + "on_off"), cycle(kReverb + "mode", {"\"ROOM\"", "\"HALL\"", "\"GALAXY\"", "\"SPRING\""}),
         cycle(kReverb + "tcfolder\\dmp", {"\"MEDIUM\"", "\"SOFT\"", "\"HARD\""}),
         custom("spring pickup", 3,
                [](int i) {
                    set(kReverb + "mode", "\"SPRING\"");
                    set(kReverb + "tcfolder\\md", i % 3 == 0 ? "\"POST\"" : i % 3 == 1 ? "\"PRE\"" : "\"POST+PRE\"");
                }),
         sweep({kReverb + "decay", kReverb + "mix", kReverb + "pre_dly"}, "decay, mix and pre-delay"),
         sweep({kReverb + "diff", kReverb + "mod"}, "diffusion and modulation"),
         sweep({kReverb + "tcfolder\\hi_damp", kReverb + "tcfolder\\lo_damp", kReverb + "tcfolder\\hi_cut",
                kReverb + "tcfolder\\lo_cut", kReverb + "tcfolder\\spread"},
               "tone"),
         sweep({kReverb + "tcfolder\\tension", kReverb + "tcfolder\\tone", kReverb + "tcfolder\\hi_cut"},
               "spring knobs", [] { set(kReverb + "mode", "\"SPRING\""); })});
}

TEST(Clicks, OutputLevels)
{
    runBlock("output", [] {},
             {sweep({kOutput + "vol", kOutput + "pst\\level"}, "volume and level"),
              sweep({"root\\settings\\input\\gain2", kOutput + "aux"}, "second input")});
}

// Presets that differ in every block: loading one switches blocks, modes and knobs at once, while
// the delay and the reverb still sound.
TEST(Clicks, PresetLoads)
{
    Unit& u = Unit::get();
    u.resetBlocks();
    NodePreset* preset = u.app->preset;
    struct Sound {
        const char* name;
        std::vector<std::pair<std::string, std::string>> nodes;
    };
    static const Sound sounds[] = {
        {"clean",
         {{kComp + "on_off", "\"ON\""},
          {"root\\app\\mod\\on_off", "\"ON\""},
          {kDelay + "on_off", "\"ON\""},
          {kDelay + "mix", "40"},
          {kReverb + "on_off", "\"ON\""},
          {kIr + "on_off", "\"ON\""},
          {kIr + "ir", "\"cab1\""}}},
        {"lead",
         {{kExpr + "on_off", "\"ON\""},
          {kExpr + "vfold\\on_off", "\"ON\""},
          {kExpr + "vfold\\boost", "9"},
          {kEq + "on_off", "\"ON\""},
          {kEq + "lo_slope", "\"24dB/oct\""},
          {kEq + "lo_cut", "200"},
          {kDelay + "on_off", "\"ON\""},
          {kDelay + "dlytime\\rawdata", "420"},
          {kReverb + "on_off", "\"ON\""},
          {kReverb + "mode", "\"HALL\""},
          {kIr + "on_off", "\"ON\""},
          {kIr + "ir", "\"cab3\""}}},
        {"wobble",
         {{"root\\app\\mod_pre\\on_off", "\"ON\""},
          {"root\\app\\mod_pre\\mode", "\"Phaser\""},
          {"root\\app\\mod\\on_off", "\"ON\""},
          {"root\\app\\mod\\mode", "\"Flanger\""},
          {"root\\app\\mod\\trfolder\\on_off", "\"ON\""},
          {kReverb + "on_off", "\"ON\""},
          {kReverb + "mode", "\"SPRING\""},
          {kOutput + "pst\\level", "-6"}}},
    };
    for (const Sound& sound : sounds) {
        resetBelow(at("root\\app"));
        for (const auto& [path, text] : sound.nodes) set(path, text);
        preset->setValue(std::string(sound.name) + PRESET_SAVE_SUFFIX);
        ASSERT_NE(u.app->presets->indexOf(sound.name), -1) << sound.name;
    }
    runBlock("preset", [] {}, {custom("preset load", 3, [preset](int i) { preset->setValue(sounds[i % 3].name); })});
}

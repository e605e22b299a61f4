#include "effects/NamPlayer.h"
#include "BlockTestUtil.h"
#include "NeuralAudio/NeuralModel.h"
#include "base/Debug.h"
#include "dsp/QuadBiquad.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/NodeParList.h"
#include "params/NodePreset.h"
#include "params/Storage.h"
#include "params/StorageId.h"
#include "platform/Paths.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

namespace {

using fxtest::findNode;
using fxtest::setNode;

// The amp-model reference vectors kept with the tests.
std::string vectorsDir()
{
    return KESTRUN_NAM_VECTORS_DIR;
}

std::string vectorText(const std::string& file)
{
    std::ifstream in(vectorsDir() + "/" + file, std::ios::binary);
    EXPECT_TRUE(in) << "missing " << file;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<float> vectorSamples(const std::string& file)
{
    std::string bytes = vectorText(file);
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

// A model text with its metadata replaced: loudness 0 dB gives a recommended output adjustment of
// -18 dB, where "lvl" 100 is unity gain; no input level gives an input adjustment of 0.
std::string withLoudness(const std::string& text, double loudness)
{
    auto json = nlohmann::json::parse(text);
    json["metadata"] = {{"loudness", loudness}};
    return json.dump();
}

// The shape the application builds: lists under the root, the preset selector first under app,
// then the block folders.
struct Rig {
    NodeItem* root = fxtest::keep(new NodeItem(nullptr, "root", "root", "", ItemType::SYSTEM));
    NodeList* presets = new NodeList(root, "presets", "Presets", "pst_pst", 16384, 60);
    NodeItem* app = new NodeItem(root, "app", "App", "", ItemType::SYSTEM);
    NodePreset* preset = new NodePreset(app, "preset", "Preset", "", presets);
    NodeItem* folder;
    NamPlayer* player;

    explicit Rig(const char* key = "nam_amp", const char* label = "Nam Amp", bool monoBypass = true)
    {
        folder = new NodeItem(app, key, label, "", ItemType::HFOLDER);
        player = fxtest::keep(new NamPlayer(folder, root, preset, key, label, monoBypass));
    }

    void store(int position, const std::string& name, const std::string& text)
    {
        std::vector<char> element(NamPlayer::kElementSize, 0);
        std::memcpy(element.data(), text.data(), std::min(text.size(), element.size()));
        player->getModelList()->setElementAt(position, name, element.data());
    }

    void waitIdle()
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (player->isBusy()) {
            ASSERT_LT(std::chrono::steady_clock::now(), until) << "the worker never finished its frame";
            std::this_thread::yield();
        }
    }

    // Frames as the engine passes them, each after the worker has finished the previous one.
    fxtest::Stereo play(const fxtest::Stereo& in)
    {
        return fxtest::run(player, &NamPlayer::exec, in, [&](std::size_t) { waitIdle(); });
    }

    // Compile passes with frames of silence between them: the worker releases changed slots,
    // compile rebuilds them, reads the selection's adjustments, and the next pass applies them.
    void settle(int passes = 3, std::size_t silence = 64)
    {
        for (int p = 0; p < passes; ++p) {
            play(fxtest::Stereo(silence));
            player->compile();
        }
    }

    float nodeValue(const char* key) { return static_cast<NodeFloat*>(findNode(folder, key))->getValue(); }
};

double gainAt(Rig& rig, double hz, double amp = 0.05)
{
    const std::size_t n = 48000 / 4;
    auto s = dsptest::sine(n, hz, amp);
    fxtest::Stereo out = rig.play(fxtest::Stereo(s, std::vector<float>(n, 0.3f)));
    return dsptest::db(dsptest::amplitudeAt(out.l, n / 2, hz) / amp);
}

// "m3": element names (append, not operator+, which GCC 12 warns about wrongly).
std::string numbered(const char* prefix, int n)
{
    return std::string(prefix).append(std::to_string(n));
}

struct ReferenceCase {
    const char* model;
    const char* output;
};

// The player runs the selected model on the left input and plays its result on both outputs one
// frame late; at "lvl" 100 with a -18 dB output adjustment the model's own output comes out.
TEST(NamPlayer, PlaysTheModelOneFrameLateOnBothOutputs)
{
    const ReferenceCase cases[] = {
        {"t_wavenet_tiny", "t_wavenet_tiny.out.f32"},    {"a_wavenet_small", "a_wavenet_small.out.f32"},
        {"t_lstm_tiny", "t_lstm_tiny.out-prewarm2.f32"}, {"c_lstm_1x8", "c_lstm_1x8.out-prewarm2.f32"},
        {"d_lstm_2x8", "d_lstm_2x8.out-prewarm2.f32"},
    };
    const std::vector<float> input = vectorSamples("input.f32");
    ASSERT_EQ(input.size(), 4800u);
    for (const ReferenceCase& c : cases) {
        SCOPED_TRACE(c.model);
        Rig rig;
        const std::string text = withLoudness(vectorText(std::string(c.model) + ".nam"), 0.0);
        rig.store(7, c.model, text);
        setNode(rig.folder, "on_off", "\"ON\"");
        setNode(rig.folder, "model", std::string("\"") + c.model + "\"");
        setNode(rig.folder, "lvl", "100");
        rig.settle();
        EXPECT_FLOAT_EQ(rig.nodeValue("_meta_out"), -18.0f);
        EXPECT_FLOAT_EQ(rig.nodeValue("_meta_in"), 0.0f);
        // A second of silence settles the DC cut on the model's resting output.
        rig.play(fxtest::Stereo(48000));

        // The expectation: the reference output around the model's resting level, through the DC cut.
        std::istringstream stream(text);
        std::unique_ptr<NeuralAudio::NeuralModel> model(NeuralAudio::NeuralModel::CreateFromStream(stream, ".nam"));
        float zeros[16] = {}, rest[16] = {};
        for (int k = 0; k < 400; ++k) model->Process(zeros, rest, 16);
        std::vector<float> expected = vectorSamples(c.output);
        ASSERT_EQ(expected.size(), input.size());
        for (float& v : expected) v -= rest[15];
        QuadBiquad dcCut;
        dcCut.set_lo_cut_1_order(2.0f);
        dcCut.exec(expected.data(), expected.data(), int(expected.size()));

        fxtest::Stereo out = rig.play(fxtest::Stereo(input, dsptest::noise(input.size(), 5)));
        double worst = 0;
        for (std::size_t n = 0; n + 16 < input.size(); ++n)
            worst = std::max(worst, double(std::fabs(out.l[n + 16] - expected[n])));
        // 1e-5 from the runtime against the reference; the float DC cut leaves a small offset of
        // the model's resting level (its rounding), which the double reference does not have.
        EXPECT_LT(worst, 4e-4);
        EXPECT_EQ(out.l, out.r) << "mono result on both outputs; the right input is ignored";
        EXPECT_GT(fxtest::peak(out.l), 0.01);
        // The first frame holds what the worker made before the input began: silence here.
        EXPECT_LT(fxtest::peak(std::vector<float>(out.l.begin(), out.l.begin() + 16)), 4e-4);
    }
}

TEST(NamPlayer, DisabledAmpCopiesLeftToRightAndDriveLeavesTheFrame)
{
    struct Case {
        const char* key;
        const char* label;
        bool fiveArguments;
        bool rightIsLeft;
    };
    const Case cases[] = {{"nam_amp", "Nam Amp", false, true}, {"nam_drive", "Nam Drive", true, false}};
    NodeItem* root = fxtest::keep(new NodeItem(nullptr, "root", "root", "", ItemType::SYSTEM));
    auto* presets = new NodeList(root, "presets", "Presets", "pst_pst", 16384, 60);
    auto* app = new NodeItem(root, "app", "App", "", ItemType::SYSTEM);
    auto* preset = new NodePreset(app, "preset", "Preset", "", presets);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        auto* folder = new NodeItem(app, c.key, c.label, "", ItemType::HFOLDER);
        NamPlayer* player = c.fiveArguments ? new NamPlayer(folder, root, preset, c.key, c.label)
                                            : new NamPlayer(folder, root, preset, c.key, c.label, true);
        fxtest::keep(player);
        EXPECT_EQ(player->getModelList()->getPath(), std::string("root\\") + c.key);
        player->compile();
        auto left = dsptest::noise(320, 1), right = dsptest::noise(320, 2);
        fxtest::Stereo out = fxtest::run(player, &NamPlayer::exec, fxtest::Stereo(left, right));
        EXPECT_EQ(out.l, left);
        EXPECT_EQ(out.r, c.rightIsLeft ? left : right);
    }
    // Each worker has its own numbered statistics record, in construction order.
    ASSERT_EQ(NamPlayer::instances.size(), 2u);
    EXPECT_EQ(NamPlayer::instances[0]->getInstanceIndex(), 0);
    EXPECT_EQ(NamPlayer::instances[1]->getInstanceIndex(), 1);
}

// Without a model the player passes its input through the gains and the tone stages.
TEST(NamPlayer, GainVolumeAndToneStagesShapeThePassThrough)
{
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> nodes;
        double hz;
        double minDb, maxDb;
    };
    // Without a model the adjustments are 0, so "lvl" 100 lifts by the 18 dB that a model's
    // output adjustment would normally take back.
    const Case cases[] = {
        {"lvl 100", {{"lvl", "100"}}, 1000, 17.8, 18.2},
        {"gain -6", {{"lvl", "100"}, {"gain", "-6"}}, 1000, 11.8, 12.2},
        {"lvl 50 (taper about 0.15)", {{"lvl", "50"}}, 1000, 18 - 16.9, 18 - 16.1},
        {"low +12 at 30 Hz", {{"lvl", "100"}, {"low", "12"}}, 30, 18 + 10, 18 + 12.5},
        {"low +12 at 3 kHz", {{"lvl", "100"}, {"low", "12"}}, 3000, 17.5, 18.5},
        {"mid -12 at 800 Hz", {{"lvl", "100"}, {"mid", "-12"}}, 800, 18 - 7, 18 - 5},
        {"mid -12 at 60 Hz", {{"lvl", "100"}, {"mid", "-12"}}, 60, 17.3, 18.5},
        {"treble +12 at 16 kHz", {{"lvl", "100"}, {"treble", "12"}}, 16000, 18 + 10, 18 + 12.5},
        {"treble +12 at 200 Hz", {{"lvl", "100"}, {"treble", "12"}}, 200, 17.5, 18.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        setNode(rig.folder, "on_off", "\"ON\"");
        for (auto& [key, value] : c.nodes) setNode(rig.folder, key, value);
        rig.settle(2);
        const double db = gainAt(rig, c.hz);
        EXPECT_GE(db, c.minDb);
        EXPECT_LE(db, c.maxDb);
    }
    Rig rig;
    setNode(rig.folder, "on_off", "\"ON\"");
    setNode(rig.folder, "lvl", "0");
    rig.store(0, "tiny", withLoudness(vectorText("t_wavenet_tiny.nam"), 0.0));
    setNode(rig.folder, "model", "\"tiny\"");
    rig.settle();
    fxtest::Stereo out = rig.play(fxtest::Stereo(dsptest::sine(4800, 440, 0.5), dsptest::sine(4800, 440, 0.5)));
    EXPECT_EQ(fxtest::peak(out.l), 0.0) << "lvl 0 is silence";
}

// Model files the runtime refuses or that would need more than the worker's core, and a text without
// its NUL, never crash the player: the error is printed once per rebuild and the selected slot passes
// the signal dry.
TEST(NamPlayer, RefusedModelsPrintOnceAndPassTheSignal)
{
    struct Case {
        const char* name;
        std::string text;
        const char* reason;
        bool runnable = false; // the runtime itself builds it
    };
    // Valid files beyond what one core of the unit can run in a frame: an LSTM of 2 x 128 (about 13.6
    // standard WaveNets) and a WaveNet of twice the standard channels (about 3.7).
    nlohmann::json lstm = {{"version", "0.5.4"},
                           {"architecture", "LSTM"},
                           {"config", {{"input_size", 1}, {"hidden_size", 128}, {"num_layers", 2}}},
                           {"weights", std::vector<int>(198785, 0)}};
    nlohmann::json wide = nlohmann::json::parse(vectorText("e_wavenet_standard.nam"));
    size_t weights = 1;
    for (int a = 0; a < 2; ++a) {
        auto& array = wide["config"]["layers"][a];
        const size_t c = 2 * array["channels"].get<size_t>(), in = a == 0 ? 1 : 32, h = a == 0 ? 16 : 1;
        array["channels"] = c;
        array["input_size"] = in;
        array["head_size"] = h;
        weights += c * in + 10 * (c * c * 3 + c + c + c * c + c) + h * c + (a == 1 ? h : 0);
    }
    wide["weights"] = std::vector<int>(weights, 0);
    ASSERT_LT(lstm.dump().size(), size_t(NamPlayer::kElementSize));
    const Case cases[] = {
        {"LSTM 2 x 128: too much work per frame", lstm.dump(), "model too heavy for the unit", true},
        {"WaveNet of 32 and 16 channels: too much work per frame", wide.dump(), "model too heavy for the unit", true},
        {"broken JSON", "{\"version\": \"0.5.4\", \"architecture\": ", "invalid NAM file"},
        {"unknown architecture",
         "{\"version\":\"0.5.4\",\"architecture\":\"Transformer\",\"config\":{},\"weights\":[]}", "invalid NAM file"},
        {"text filling the element without a NUL", std::string(NamPlayer::kElementSize, 'x'), "invalid NAM file"},
    };
    Storage::open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.runnable) {
            std::istringstream stream(c.text);
            std::unique_ptr<NeuralAudio::NeuralModel> model(NeuralAudio::NeuralModel::CreateFromStream(stream, ".nam"));
            EXPECT_GT(model->GetCostPerSample(), NamPlayer::kMaxModelCost);
        }
        // Stored by an older program that did not check: written straight into the element's file.
        std::string record(128 + NamPlayer::kElementSize, '\0');
        record.replace(0, 3, "bad");
        record.replace(128, std::min(c.text.size(), size_t(NamPlayer::kElementSize)), c.text);
        write_file(test_root() + "/home/storage/" + make_storage_id("root\\nam_amp:2"), record);
        StdoutCapture capture;
        Rig rig;
        setNode(rig.folder, "on_off", "\"ON\"");
        setNode(rig.folder, "lvl", "100");
        setNode(rig.folder, "model", "\"bad\"");
        rig.settle(4);
        const std::string printed = capture.text();
        const uint8_t* data = rig.player->getModelList()->dataAt(2);
        const std::string why = NamPlayer::modelRefusal(data, NamPlayer::kElementSize);
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        const std::string line = "ERROR (NamPlayer): Error parsing nam file: slot 2 \"bad\": " + why + "\n";
        EXPECT_EQ(printed.find(line), printed.rfind(line)) << printed;
        EXPECT_NE(printed.find(line), std::string::npos) << printed;
        EXPECT_FALSE(rig.player->hasModel(2));
        EXPECT_TRUE(rig.player->getModelSelector()->isUnplayable());
        EXPECT_NEAR(gainAt(rig, 1000), 18.0, 0.2);
        // An upload of the same is refused.
        EXPECT_FALSE(rig.player->getModelList()->setElementAt(3, "again", data));
    }
}

TEST(NamPlayer, NonFiniteOutputBecomesSilenceAndThePlayerRecovers)
{
    const std::string tiny = withLoudness(vectorText("t_wavenet_tiny.nam"), 0.0);
    auto nan = nlohmann::json::parse(tiny);
    for (auto& weight : nan["weights"]) weight = 3.0e38; // overflows inside: every output is NaN
    const std::string nanText = nan.dump();
    {
        std::istringstream stream(nanText);
        std::unique_ptr<NeuralAudio::NeuralModel> model(NeuralAudio::NeuralModel::CreateFromStream(stream, ".nam"));
        auto probe = dsptest::sine(16, 440, 0.5);
        float out[16];
        model->Process(probe.data(), out, 16);
        for (float v : out) ASSERT_FALSE(std::isfinite(v)) << "the crafted model must really overflow";
    }
    auto sine = dsptest::sine(4800, 1000, 0.1);

    // The model's NaN never reaches the output nor the tone stages.
    Rig rig;
    rig.store(0, "nan", nanText);
    rig.store(1, "tiny", tiny);
    setNode(rig.folder, "on_off", "\"ON\"");
    setNode(rig.folder, "model", "\"nan\"");
    setNode(rig.folder, "lvl", "100");
    rig.settle();
    fxtest::Stereo out = rig.play(fxtest::Stereo(sine, sine));
    EXPECT_EQ(fxtest::peak(out.l), 0.0);
    EXPECT_EQ(fxtest::peak(out.r), 0.0);
    setNode(rig.folder, "model", "\"tiny\"");
    rig.settle();
    out = rig.play(fxtest::Stereo(sine, sine));
    EXPECT_GT(fxtest::peak(out.l, 2400), 0.01);

    // A burst that overflows the tone stages (finite going in, infinite coming out) is silenced, and
    // the stages start afresh instead of holding infinities for good.
    Rig dry;
    setNode(dry.folder, "on_off", "\"ON\"");
    setNode(dry.folder, "lvl", "100");
    setNode(dry.folder, "low", "15");
    dry.settle();
    std::vector<float> burst = sine;
    std::fill(burst.begin() + 1600, burst.begin() + 1648, 3.0e38f);
    out = dry.play(fxtest::Stereo(burst, burst));
    EXPECT_TRUE(fxtest::allFinite(out.l));
    EXPECT_NEAR(fxtest::peak(out.l, 2400), fxtest::peak(out.l, 800), 0.1 * fxtest::peak(out.l, 800));
    EXPECT_LT(fxtest::peak(out.l, 1700), 1.0);
}

// A worker that has not finished its frame costs a muted frame and a count; the line is printed by
// the compile pass, never by the audio thread, and the first two frames are never reported.
TEST(NamPlayer, LateWorkerMutesTheFrameAndIsReportedAfterWarmUp)
{
    Rig rig;
    rig.store(0, "tiny", withLoudness(vectorText("t_wavenet_tiny.nam"), 0.0));
    setNode(rig.folder, "on_off", "\"ON\"");
    setNode(rig.folder, "model", "\"tiny\"");
    setNode(rig.folder, "lvl", "100");
    float frame[FRAME_CHANNELS][FRAME_SAMPLES];
    auto fill = [&] {
        for (int i = 0; i < FRAME_SAMPLES; ++i) frame[0][i] = frame[1][i] = 0.5f;
    };
    // The worker is held (as a suspended task) so that it is certainly still on its frame.
    auto lateFrame = [&] {
        rig.waitIdle();
        fill();
        vTaskSuspend(rig.player->getWorker());
        NamPlayer::exec(rig.player, frame);
        fill();
        NamPlayer::exec(rig.player, frame);
        vTaskResume(rig.player->getWorker());
        rig.waitIdle();
    };
    StdoutCapture capture;
    lateFrame(); // frames 1 and 2: still warming up
    rig.player->compile();
    EXPECT_EQ(Debug::get_overrun_cnt_n(0), 0u);

    rig.settle(3);
    fxtest::Stereo out = rig.play(fxtest::Stereo(dsptest::sine(480, 440, 0.5), dsptest::sine(480, 440, 0.5)));
    EXPECT_GT(fxtest::peak(out.l, 32), 0.05);
    // Counted from here: under qemu-user the frame after the warm-up's held worker may come late as
    // well (the suspend and resume signals arrive on the emulator's schedule).
    const uint32_t before = Debug::get_overrun_cnt_n(0);
    lateFrame();
    for (int c = 0; c < FRAME_CHANNELS; ++c)
        for (int i = 0; i < FRAME_SAMPLES; ++i) EXPECT_EQ(frame[c][i], 0.0f);
    EXPECT_EQ(Debug::get_overrun_cnt_n(0), before + 1);
    EXPECT_EQ(capture.text().find("CPU Overrun"), std::string::npos) << "nothing printed on the audio thread";

    StdoutCapture after;
    rig.player->compile();
    rig.player->compile();
    // Later ones are reported at the 2nd, 4th, 8th..., with how many went unreported in between.
    for (int pass = 0; pass < 3; ++pass) {
        lateFrame();
        rig.player->compile();
    }
    rig.player->compile();
    EXPECT_EQ(after.text(),
              "ERROR (NamPlayer): CPU Overrun 2 0\nERROR (NamPlayer): CPU Overrun 2 0\n"
              "I (NamPlayer): previous message repeated 1 times\nERROR (NamPlayer): CPU Overrun 2 0\n");

    // Switched off, the player plays nothing of its worker's: a late worker is no overrun.
    setNode(rig.folder, "on_off", "\"OFF\"");
    rig.player->compile();
    StdoutCapture off;
    lateFrame();
    rig.player->compile();
    EXPECT_EQ(off.text(), "");
    EXPECT_EQ(Debug::get_overrun_cnt_n(0), before + 4);
}

// Model slots follow their list elements: a rewritten element is rebuilt (the old model plays until
// the worker lets the slot go) and its adjustments are read again; a reordered list moves the
// selection's model with its name; an emptied selection passes the signal without adjustments.
TEST(NamPlayer, SlotsFollowTheirListElements)
{
    const std::string tiny = vectorText("t_wavenet_tiny.nam");
    const std::string a = withLoudness(tiny, 0.0); // output adjustment -18 dB
    const std::string b = withLoudness(tiny, -30.0); // +12 dB
    struct Case {
        const char* name;
        std::function<void(Rig&)> change;
        float metaOut;
        bool modelPlays;
    };
    const Case cases[] = {
        {"selected element rewritten", [&](Rig& r) { r.store(1, "sel", b); }, 12.0f, true},
        {"list swapped", [&](Rig& r) { r.player->getModelList()->swap(1, 4); }, -18.0f, true},
        {"selected element moved", [&](Rig& r) { r.player->getModelList()->move(1, 0); }, -18.0f, true},
        {"other element moved onto the selection's position",
         [&](Rig& r) {
             r.player->getModelList()->move(4, 1);
             r.player->getModelSelector()->setValue("other");
         },
         12.0f, true},
        {"selected element deleted", [&](Rig& r) { r.player->getModelList()->deleteAt(1); }, 0.0f, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.store(1, "sel", a);
        rig.store(4, "other", b);
        setNode(rig.folder, "on_off", "\"ON\"");
        setNode(rig.folder, "lvl", "100");
        setNode(rig.folder, "model", "\"sel\"");
        rig.settle();
        ASSERT_FLOAT_EQ(rig.nodeValue("_meta_out"), -18.0f);

        c.change(rig);
        rig.settle();
        EXPECT_FLOAT_EQ(rig.nodeValue("_meta_out"), c.metaOut);
        const int selected = rig.player->getModelSelector()->getIndex();
        EXPECT_EQ(rig.player->hasModel(selected), c.modelPlays);
        if (!c.modelPlays) {
            EXPECT_NEAR(gainAt(rig, 1000), 18.0, 0.2) << "dry, without the former model's adjustment";
        }
    }
}

// Built models belong to their elements: reordering a list of standard models rebuilds nothing, the
// models move with their elements, the selection never stops playing, and no compile pass takes long.
TEST(NamPlayer, ReorderingMovesBuiltModelsAlongWithoutACostlyPass)
{
    constexpr int kModels = 12;
    Rig rig;
    const std::string standard = vectorText("e_wavenet_standard.nam");
    for (int p = 0; p < kModels; ++p) rig.store(p, numbered("m", p), withLoudness(standard, -10.0 - p));
    setNode(rig.folder, "on_off", "\"ON\"");
    setNode(rig.folder, "model", "\"m0\"");
    rig.settle(kModels + 2);
    const NeuralAudio::NeuralModel* before[kModels];
    for (int p = 0; p < kModels; ++p) {
        before[p] = rig.player->modelAt(p);
        ASSERT_NE(before[p], nullptr) << p;
    }
    ASSERT_EQ(rig.player->playingModel(), before[0]);

    struct Step {
        std::function<bool(NodeList*)> change;
        std::function<int(int)> positionOf; // where the element first at position p stands now
    };
    const Step steps[] = {
        {[](NodeList* l) { return l->move(0, NamPlayer::kSlots - 1); },
         [](int p) { return p == 0 ? NamPlayer::kSlots - 1 : p - 1; }},
        {[](NodeList* l) { return l->swap(0, NamPlayer::kSlots - 1); },
         [](int p) { return p == 0   ? 0
                            : p == 1 ? NamPlayer::kSlots - 1
                                     : p - 1; }},
    };
    double slowestMs = 0.0;
    for (const Step& step : steps) {
        ASSERT_TRUE(step.change(rig.player->getModelList()));
        for (int pass = 0; pass < 3; ++pass) {
            rig.play(fxtest::Stereo(64));
            const auto start = std::chrono::steady_clock::now();
            rig.player->compile();
            slowestMs = std::max(
                slowestMs, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            EXPECT_EQ(rig.player->playingModel(), before[0]) << "the selection plays on, never dry";
        }
        for (int p = 0; p < kModels; ++p) EXPECT_EQ(rig.player->modelAt(step.positionOf(p)), before[p]) << p;
    }
    std::printf("slowest compile pass after a reorder: %.3f ms\n", slowestMs);
    EXPECT_LT(slowestMs, 10.0);
}

// Seconds of the three-thread run below: 3 in the suite, KESTRUN_STRESS_SECONDS for a longer one.
int stressSeconds()
{
    const char* text = std::getenv("KESTRUN_STRESS_SECONDS");
    return text && std::atoi(text) > 0 ? std::atoi(text) : 3;
}

// The audio thread plays frames, the compile thread runs its passes every 10 ms, and a writer reorders,
// rewrites, renames, empties and selects list elements every millisecond or so. Every quarter second the writer
// pauses; once compile has built what changed, every position's model must be the one its element's
// text makes (told apart by their recommended output adjustment), and the worker must play the
// selection's.
TEST(NamPlayer, ListWritesCompilePassesAndFramesStayInStep)
{
    Rig rig;
    NodeList* list = rig.player->getModelList();
    std::vector<std::string> texts;
    std::map<std::string, float> adjustmentOf; // texts the runtime builds
    for (int k = 0; k < 6; ++k) {
        const std::string text = withLoudness(vectorText(k % 2 ? "t_wavenet_tiny.nam" : "t_lstm_tiny.nam"), -1.0 - k);
        texts.push_back(text);
        adjustmentOf[text] = float(-18.0 - (-1.0 - k));
    }
    texts.push_back("{\"version\": \"0.5.4\", \"architecture\": ");
    for (int p = 0; p < 10; ++p) rig.store(p, numbered("s", p), texts[size_t(p) % texts.size()]);
    setNode(rig.folder, "on_off", "\"ON\"");
    setNode(rig.folder, "model", "\"s0\"");
    rig.settle(12);

    std::atomic<bool> stop{false}, pauseWanted{false}, writerPaused{false}, checkWanted{false};
    std::atomic<int> checks{0}, mismatches{0}, writes{0};
    auto textAt = [&](int p) {
        if (list->emptyAt(p)) return std::string();
        const auto* data = reinterpret_cast<const char*>(list->dataAt(p));
        return std::string(data, strnlen(data, NamPlayer::kElementSize));
    };
    // Runs on the compile thread, between passes, while the writer waits.
    auto check = [&] {
        for (int p = 0; p < NamPlayer::kSlots; ++p) {
            const std::string text = textAt(p);
            const NeuralAudio::NeuralModel* model = rig.player->modelAt(p);
            const auto known = adjustmentOf.find(text);
            const bool ok = known == adjustmentOf.end()
                                ? model == nullptr
                                : model && model->GetRecommendedOutputDBAdjustment() == known->second;
            if (!ok) {
                ++mismatches;
                std::printf("position %d: %s model, text of %zu bytes%s\n", p, model ? "a" : "no", text.size(),
                            known == adjustmentOf.end() ? "" : " that builds");
            }
        }
        const int selected = list->indexOf(rig.player->getModelSelector()->getValue());
        if (rig.player->playingModel() != rig.player->modelAt(selected)) {
            ++mismatches;
            std::printf("the worker does not play the selection (position %d)\n", selected);
        }
        ++checks;
    };

    std::thread audio([&] {
        float frame[FRAME_CHANNELS][FRAME_SAMPLES];
        auto noise = dsptest::noise(FRAME_SAMPLES, 3);
        while (!stop) {
            std::copy(noise.begin(), noise.end(), frame[0]);
            std::copy(noise.begin(), noise.end(), frame[1]);
            NamPlayer::exec(rig.player, frame);
            std::this_thread::sleep_for(std::chrono::microseconds(333));
        }
    });
    std::thread compile([&] {
        int quietPasses = 0;
        while (!stop) {
            rig.player->compile();
            quietPasses = writerPaused ? quietPasses + 1 : 0;
            // Changes are built a few per pass: the check waits until they all are (or for long).
            if (checkWanted && quietPasses >= 2 && (rig.player->isSettled() || quietPasses > 100)) {
                check();
                checkWanted = false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    std::thread writer([&] {
        std::mt19937 random(42);
        auto position = [&] { return int(random() % NamPlayer::kSlots); };
        int serial = 0;
        while (!stop) {
            if (pauseWanted) {
                writerPaused = true;
                while (pauseWanted && !stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                writerPaused = false;
                continue;
            }
            const unsigned op = random() % 100;
            if (op < 40) {
                list->swap(position(), position());
            } else if (op < 75) {
                list->move(position(), position());
            } else if (op < 80) {
                rig.store(position(), numbered("e", serial++), texts[random() % texts.size()]);
            } else if (op < 83) {
                list->deleteAt(position());
            } else if (op < 88) {
                list->setNameAt(position(), numbered("r", serial++)); // an empty one returns with its data
            } else {
                rig.player->getModelSelector()->setValue(list->nameAt(position()));
            }
            ++writes;
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 1000));
        }
    });

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(stressSeconds());
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        pauseWanted = true;
        checkWanted = true;
        while (checkWanted) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        pauseWanted = false;
    }
    stop = true;
    audio.join();
    compile.join();
    writer.join();
    std::printf("%d list changes, %d checks, %d mismatches\n", writes.load(), checks.load(), mismatches.load());
    // Floors that a loaded machine still reaches: the run must have exercised something.
    EXPECT_GE(checks.load(), stressSeconds());
    EXPECT_GE(writes.load(), 10 * stressSeconds());
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(NamPlayer, StoredModelsAreBuiltAtStartAndFilesCanBeStored)
{
    {
        Rig first("nam_drive", "Nam Drive", false);
        first.store(3, "tiny", vectorText("t_lstm_tiny.nam"));
        EXPECT_FALSE(first.player->hasModel(3)) << "built by the next compile pass";
    }
    // A unit started again builds the stored element in the constructor.
    Rig again("nam_drive", "Nam Drive", false);
    EXPECT_TRUE(again.player->hasModel(3));
    EXPECT_EQ(again.player->getModelList()->nameAt(3), "tiny");

    write_file(Paths::map("/home/models/wave.nam"), vectorText("t_wavenet_tiny.nam"));
    again.player->loadModelFromFile("wave", "/home/models/wave.nam", 5);
    // A file that cannot be read is no model the player could load: nothing is stored.
    again.player->loadModelFromFile("none", "/home/models/missing.nam", 6);
    again.player->loadModelFromFile("far", "/home/models/wave.nam", 50);
    again.settle();
    EXPECT_TRUE(again.player->hasModel(5));
    EXPECT_EQ(again.player->getModelList()->indexOf("none"), -1);
    EXPECT_EQ(again.player->getModelList()->indexOf("far"), -1);
}

// Whatever a model file says, its level is bounded (the chain's loudest output rests on it): an
// adjustment beyond the 50 dB that "_meta_out" shows plays as that, and an output beyond +20 dBFS
// is held there (its swing of twice that may be centred by the DC cut).
TEST(NamPlayer, ModelLevelsStayWithinTheirBounds)
{
    const std::string tiny = vectorText("t_wavenet_tiny.nam");
    auto hot = nlohmann::json::parse(withLoudness(tiny, 0.0));
    for (auto& weight : hot["weights"]) weight = weight.get<double>() * 1e4;
    auto peakOf = [&](const std::string& text) {
        Rig rig;
        rig.store(0, "m", text);
        setNode(rig.folder, "on_off", "\"ON\"");
        setNode(rig.folder, "model", "\"m\"");
        setNode(rig.folder, "lvl", "100");
        rig.settle();
        auto sine = dsptest::sine(4800, 1000, 0.5);
        return fxtest::peak(rig.play(fxtest::Stereo(sine, sine)).l, 2400);
    };
    const double atEnd = peakOf(withLoudness(tiny, -68.0)); // -18 + 68: the adjustment's end
    EXPECT_NEAR(peakOf(withLoudness(tiny, -200.0)), atEnd, 1e-3 * atEnd);
    const double held = peakOf(hot.dump());
    EXPECT_GT(held, 9.0);
    EXPECT_LT(held, 20.5);
}

TEST(NamPlayer, AdjustmentNodesStayOutOfPresets)
{
    Rig rig;
    const std::string text = rig.preset->presetToString();
    EXPECT_NE(text.find("nam_amp\\gain"), std::string::npos);
    EXPECT_NE(text.find("nam_amp\\model"), std::string::npos);
    EXPECT_EQ(text.find("_meta_in"), std::string::npos);
    EXPECT_EQ(text.find("_meta_out"), std::string::npos);
}

} // namespace

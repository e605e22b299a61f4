// Cost of one 16-sample frame through the amp-model player, for every model of a folder of NAM files
// (by default the reference vectors kept in tests/data/nam).
//
//   bench_player [MODEL_FOLDER] [benchmark options]
//
// The folder is the first argument, else $KESTRUN_NAM_VECTORS, else the reference vectors. Each benchmark hands a frame to the
// player's worker and waits for its result: the time per iteration is the round trip (wake-up
// included); the counter worker_us is what the worker itself spent on the frame (model, tone stages,
// gain), which must stay well inside the 333 us of a frame on its own core; budget_pct is that share.
#include "base/Debug.h"
#include "effects/NamPlayer.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/NodeOnOff.h"
#include "params/NodeParList.h"
#include "params/NodePreset.h"

#include "BenchMain.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double kFrameUs = 1e6 * FRAME_SAMPLES / 48000.0;

NamPlayer* player = nullptr;
Node* folder = nullptr;

void waitIdle()
{
    while (player->isBusy()) std::this_thread::yield();
}

void runFrame(float (*frame)[FRAME_SAMPLES])
{
    NamPlayer::exec(player, frame);
    waitIdle();
}

// Selects a model and lets compile build and offer it and the worker take it.
void select(const std::string& name)
{
    player->getModelSelector()->fromString("\"" + name + "\"");
    float frame[FRAME_CHANNELS][FRAME_SAMPLES] = {};
    for (int pass = 0; pass < 3; ++pass) {
        runFrame(frame);
        player->compile();
    }
}

void frameThroughPlayer(benchmark::State& state, std::string name)
{
    select(name);
    if (!player->hasModel(player->getModelSelector()->getIndex())) {
        state.SkipWithError("the model was not built");
        return;
    }
    std::mt19937 random(1);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> input(FRAME_SAMPLES * 256);
    for (float& x : input) x = noise(random);

    float frame[FRAME_CHANNELS][FRAME_SAMPLES];
    const int index = player->getInstanceIndex();
    double workerNs = 0;
    size_t at = 0;
    for (auto _ : state) {
        std::memcpy(frame[0], &input[at], sizeof frame[0]);
        std::memcpy(frame[1], &input[at], sizeof frame[1]);
        at = (at + FRAME_SAMPLES) % input.size();
        runFrame(frame);
        workerNs += Debug::getExecTicks_n(index);
        benchmark::DoNotOptimize(frame);
    }
    const double workerUs = workerNs / 1000.0 / double(std::max<int64_t>(state.iterations(), 1));
    state.counters["worker_us"] = workerUs;
    state.counters["budget_pct"] = 100.0 * workerUs / kFrameUs;
}

std::string readText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

int main(int argc, char** argv)
{
    std::string models;
    if (argc > 1 && argv[1][0] != '-') {
        models = argv[1];
        std::memmove(argv + 1, argv + 2, sizeof(char*) * size_t(argc - 1)); // keeps the final null
        --argc;
    } else if (const char* env = std::getenv("KESTRUN_NAM_VECTORS")) {
        models = env;
    } else {
        models = KESTRUN_NAM_VECTORS_DIR;
    }
    if (models.empty() || !std::filesystem::is_directory(models)) {
        std::fprintf(stderr, "usage: %s MODEL_FOLDER [benchmark options] (or set KESTRUN_NAM_VECTORS)\n", argv[0]);
        return 2;
    }

    // The model list's element files go to a scratch root of this run, not to the unit's store.
    char scratch[] = "/tmp/bench_player.XXXXXX";
    if (!std::getenv("KESTRUN_ROOT")) {
        if (!mkdtemp(scratch)) {
            std::perror("mkdtemp");
            return 1;
        }
        setenv("KESTRUN_ROOT", scratch, 1);
    } else {
        scratch[0] = '\0';
    }

    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(models))
        if (entry.path().extension() == ".nam") files.push_back(entry.path());
    // Smallest text first: roughly the order of model sizes.
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
        return std::filesystem::file_size(a) < std::filesystem::file_size(b);
    });

    flush_denormals(); // before the player starts its worker, which inherits the setting
    auto* root = new NodeItem(nullptr, "root", "root", "", ItemType::SYSTEM);
    auto* presets = new NodeList(root, "presets", "Presets", "pst_pst", 16384, 60);
    auto* app = new NodeItem(root, "app", "App", "", ItemType::SYSTEM);
    auto* preset = new NodePreset(app, "preset", "Preset", "", presets);
    folder = new NodeItem(app, "amp", "Amp", "", ItemType::HFOLDER);
    player = new NamPlayer(folder, root, preset, "nam_amp", "Nam Amp", true);
    player->getOnOff()->setValue(NodeOnOff::ON);

    std::vector<char> element(NamPlayer::kElementSize);
    int slot = 0;
    for (const auto& file : files) {
        if (slot >= NamPlayer::kSlots) break;
        const std::string text = readText(file);
        if (text.size() >= element.size()) continue;
        std::fill(element.begin(), element.end(), 0);
        std::memcpy(element.data(), text.data(), text.size());
        const std::string name = file.stem().string().substr(0, 31);
        player->getModelList()->setElementAt(slot++, name, element.data());
        benchmark::RegisterBenchmark(("NamPlayer/" + name).c_str(), frameThroughPlayer, name)
            ->Unit(benchmark::kMicrosecond)
            ->Apply(bench::countable);
    }

    const int status = bench::run(argc, argv);
    if (scratch[0]) std::filesystem::remove_all(scratch);
    // The worker thread runs until the process ends, as on the unit.
    std::fflush(stdout);
    std::_Exit(status);
}

// The whole engine between two WAV files: the host codec reads the input, the chain of pass-through
// blocks runs on "audioLoop" (or frame by frame from the test), the compile thread recompiles, and
// the output file must come out identical to the input.
#include "EngineSupport.h"
#include "audio/AudioUSB.h"
#include "driver/model/HostCodec.h"
#include "driver/model/WavWriter.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace {

// What every effect block does when it has nothing to change: pass the frame times the fade gain.
class PassThrough : public AudioBlock {
public:
    explicit PassThrough(int position) : AudioBlock("Pass", nullptr, &PassThrough::exec, position) {}
    bool compile() override
    {
        compiles.fetch_add(1);
        return false;
    }
    static bool exec(AudioBlock*, AudioFrame frame)
    {
        const float gain = AudioProcessor::getDebounceVolume();
        for (int c = 0; c < FRAME_CHANNELS; ++c)
            for (int k = 0; k < FRAME_SAMPLES; ++k) frame[c][k] *= gain;
        return false;
    }
    std::atomic<int> compiles{0};
};

// Two seconds and a few samples of a chord with some noise on it, as floats.
std::string writeInput(const std::string& path, int frames)
{
    WavWriter writer;
    std::string error;
    EXPECT_TRUE(writer.open(path, error)) << error;
    uint32_t noise = 12345;
    float left[16], right[16];
    for (int start = 0; start < frames; start += 16) {
        const int n = std::min(16, frames - start);
        for (int k = 0; k < n; ++k) {
            noise = noise * 1664525u + 1013904223u;
            const double t = double(start + k) / 48000.0;
            left[k] = float(0.4 * std::sin(2 * M_PI * 110.0 * t) + 0.2 * std::sin(2 * M_PI * 277.0 * t));
            right[k] = float(int32_t(noise) * (0.3 / 2147483648.0));
        }
        writer.write(left, right, size_t(n));
    }
    writer.close();
    return read_file(path);
}

void startEngine(const std::string& in, const std::string& out, const char* pace)
{
    setenv("KESTRUN_AUDIO_IN", ("wav:" + in).c_str(), 1);
    setenv("KESTRUN_AUDIO_OUT", ("wav:" + out).c_str(), 1);
    setenv("KESTRUN_AUDIO_PACE", pace, 1);
    makeSystemTree();
    // Blocks live as long as the engine's threads.
    new PassThrough(BLOCK_APPEND);
    new PassThrough(BLOCK_PREPEND);
    new PassThrough(BLOCK_APPEND);
    // The order of the program entry: USB audio, the engine, then the board starts the codec.
    AudioUSB::initialize();
    AudioProcessor::audioInitialize(true);
    Codec::initialize();
    // Let the compile thread make its first pass (it maps its paths then, in the test's root).
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (AudioProcessor::getCompilePasses() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

TEST(WavPassThrough, EngineTurnsAWavFileIntoTheSameFile)
{
    const std::string dir = make_temp_dir("pass");
    const std::string input = writeInput(dir + "/in.wav", 2 * 48000 + 7);
    startEngine(dir + "/in.wav", dir + "/out.wav", "fast");
    auto* codec = dynamic_cast<HostCodec*>(Codec::getActiveCodec());
    ASSERT_NE(codec, nullptr);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!codec->inputEnded() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(codec->inputEnded());
    EXPECT_EQ(codec->framesWritten(), (2u * 48000 + 7 + 15) / 16);
    const std::string output = read_file(dir + "/out.wav");
    ASSERT_EQ(output.size(), input.size());
    EXPECT_TRUE(output == input);
    EXPECT_GT(AudioProcessor::getCompilePasses(), 0u);
}

TEST(WavPassThrough, FrameByFrameFromTheTest)
{
    const std::string dir = make_temp_dir("manual");
    const std::string input = writeInput(dir + "/in.wav", 1000);
    startEngine(dir + "/in.wav", dir + "/out.wav", "manual");
    auto* codec = dynamic_cast<HostCodec*>(Codec::getActiveCodec());
    ASSERT_NE(codec, nullptr);
    int calls = 0;
    while (!codec->inputEnded() && calls < 1000) {
        AudioProcessor::processBlock();
        ++calls;
        // Part way, the file holds exactly the frames so far.
        if (calls == 10) {
            EXPECT_EQ(read_file(dir + "/out.wav").size(), 44u + 10 * 16 * 8);
        }
    }
    EXPECT_EQ(calls, 63 + 1); // 62.5 frames, and the call that finds the end
    EXPECT_TRUE(read_file(dir + "/out.wav") == input);
}

#include "audio/Alsa.h"
#include "SimulatedUsbHost.h"
#include "platform/Paths.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <thread>

namespace {

constexpr int kFramesPerPass = 30; // a compile pass every 10 ms, a frame every 1/3 ms

// One frame of the unit as AudioUSB moves it, with the compile pass every 10 ms.
void unitFrame(SimulatedUsbHost& host, long frame)
{
    if (frame % kFramesPerPass == 0) update_alsa_status();
    int out[32], in[32];
    for (int i = 0; i < 32; ++i) out[i] = int(frame * 16 + i / 2);
    alsa_write(out, 16);
    alsa_read(in, 16);
    host.advanceFrames(1);
}

struct DriftRun {
    int xrunsAfterSettling = 0;
    int passesOutOfSync = 0;
    int reopensAfterSettling = 0;
};

DriftRun runFor(SimulatedUsbHost& host, long frames, long settleFrames)
{
    DriftRun run;
    int xrunsAtSettle = 0, opensAtSettle = 0;
    for (long f = 0; f < frames; ++f) {
        if (f == settleFrames) {
            xrunsAtSettle = host.xrunCount(AlsaStream::Capture) + host.xrunCount(AlsaStream::Playback);
            opensAtSettle = host.openCount(AlsaStream::Capture);
        }
        unitFrame(host, f);
        if (f > settleFrames && f % kFramesPerPass == 1 && !alsa_is_sync()) ++run.passesOutOfSync;
    }
    run.xrunsAfterSettling = host.xrunCount(AlsaStream::Capture) + host.xrunCount(AlsaStream::Playback) - xrunsAtSettle;
    run.reopensAfterSettling = host.openCount(AlsaStream::Capture) - opensAtSettle;
    return run;
}

} // namespace

TEST(Alsa, HostClockOffByPpmStaysInSyncForAMinute)
{
    for (double ppm : {300.0, -300.0, 0.0, 1000.0}) {
        SCOPED_TRACE(ppm);
        ASSERT_EXIT(
            {
                SimulatedUsbHost host(ppm);
                alsa_set_backend(&host);
                std::fflush(stdout);
                DriftRun run = runFor(host, 180000, 30000); // 60 s, settled after 10 s
                bool ok = run.xrunsAfterSettling == 0 && run.passesOutOfSync == 0 && run.reopensAfterSettling == 0 &&
                          host.misuseCount() == 0;
                // The steering holds the delays near 128 frames, the offset that cancels the clock error.
                long expectedOffset = long(ppm / 20.833334);
                ok = ok && std::labs(alsa_capture_delay() - (128 + expectedOffset)) <= 48 &&
                     std::labs(alsa_playback_delay() - (128 - expectedOffset)) <= 48;
                if (!ok)
                    std::printf("xruns %d out-of-sync %d reopens %d delays %ld %ld pitches %ld %ld\n",
                                run.xrunsAfterSettling, run.passesOutOfSync, run.reopensAfterSettling,
                                long(alsa_capture_delay()), long(alsa_playback_delay()),
                                host.pitch(AlsaStream::Capture), host.pitch(AlsaStream::Playback));
                std::exit(ok ? 0 : 1);
            },
            testing::ExitedWithCode(0), "");
    }
}

TEST(Alsa, PitchFollowsTheDelaysAndSmoothsThem)
{
    struct Case {
        long captureDelay, playbackDelay;
        float captureRaw, playbackRaw; // the raw pitches these delays ask for
    };
    const Case cases[] = {
        {128, 128, 1000000.0f, 1000000.0f},
        {129, 129, 999979.1875f, 1000020.875f},
        {100, 200, 1000583.375f, 1001500.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.captureDelay);
        ASSERT_EXIT(
            {
                SimulatedUsbHost host;
                alsa_set_backend(&host);
                update_alsa_status();
                host.setFill(AlsaStream::Capture, c.captureDelay);
                host.setFill(AlsaStream::Playback, c.playbackDelay);
                int block[32] = {};
                alsa_write(block, 16);
                alsa_read(block, 16);
                update_alsa_status();
                // One pass moves a tenth of the way from 1000000 (written truncated).
                bool ok = host.pitch(AlsaStream::Playback) == long(0.9f * 1000000.0f + 0.1f * c.playbackRaw) &&
                          host.pitch(AlsaStream::Capture) == long(0.9f * 1000000.0f + 0.1f * c.captureRaw);
                for (int pass = 0; pass < 300; ++pass) update_alsa_status();
                ok = ok && std::fabs(float(host.pitch(AlsaStream::Capture)) - c.captureRaw) <= 2.0f &&
                     std::fabs(float(host.pitch(AlsaStream::Playback)) - c.playbackRaw) <= 2.0f &&
                     host.openControls() == 0;
                std::exit(ok ? 0 : 1);
            },
            testing::ExitedWithCode(0), "");
    }
}

TEST(Alsa, SyncWindowIs33To223FramesEachWay)
{
    const struct {
        long capture, playback;
        bool sync;
    } cases[] = {{33, 223, true},   {223, 33, true},   {32, 128, false}, {128, 32, false},
                 {224, 128, false}, {128, 224, false}, {128, 128, true}};
    for (auto c : cases) {
        ASSERT_EXIT(
            {
                SimulatedUsbHost host;
                alsa_set_backend(&host);
                update_alsa_status();
                host.setFill(AlsaStream::Capture, c.capture);
                host.setFill(AlsaStream::Playback, c.playback);
                int block[32] = {};
                alsa_write(block, 16);
                alsa_read(block, 16);
                std::exit(alsa_is_sync() == c.sync ? 0 : 1);
            },
            testing::ExitedWithCode(0), "");
    }
}

TEST(Alsa, WithoutTheGadgetCardNothingOpensAndBlocksAreLeftAlone)
{
    SimulatedUsbHost host;
    host.unplug();
    alsa_set_backend(&host);
    for (int pass = 0; pass < 3; ++pass) update_alsa_status();
    EXPECT_FALSE(alsa_streams_open());
    EXPECT_EQ(host.openCount(AlsaStream::Capture), 0);
    int block[32];
    for (int& word : block) word = 7;
    EXPECT_EQ(alsa_read(block, 16), 1);
    EXPECT_EQ(block[31], 7);
    EXPECT_EQ(alsa_write(block, 16), 0);
    EXPECT_EQ(get_alsa_capture_volume(), 0.0f);
}

TEST(Alsa, OpensTheNamedDevicesAndLogsWhatTheyGranted)
{
    SimulatedUsbHost host;
    alsa_set_backend(&host);
    StdoutCapture out;
    update_alsa_status();
    std::string text = out.text();
    EXPECT_TRUE(alsa_streams_open());
    ASSERT_EQ(host.openedDevices.size(), 2u);
    EXPECT_EQ(host.openedDevices[0], "default");
    EXPECT_EQ(host.openedDevices[1], "default:1");
    EXPECT_NE(text.find("I (Alsa): capture supported configurations:\nI (Alsa): Sample rate: 48000 - 48000 Hz\n"
                        "I (Alsa): Channels: 2 - 2\nI (Alsa): Buffer size: 32 - 4096 frames\n"),
              std::string::npos);
    EXPECT_NE(text.find("I (Alsa): Playback initialized successfully:\nI (Alsa): Sample rate: 48000 Hz\n"
                        "I (Alsa): Channels: 2\nI (Alsa): Buffer size: 256 frames\nI (Alsa): Period size: 32 frames\n"),
              std::string::npos);
}

TEST(Alsa, EachFailedSetUpStepIsReportedAndClosesBothStreams)
{
    const struct {
        AlsaHwStep step;
        const char* words;
    } steps[] = {
        {AlsaHwStep::Any, "cannot initialize hardware parameter structure"},
        {AlsaHwStep::Access, "cannot set access type"},
        {AlsaHwStep::Format, "cannot set sample format"},
        {AlsaHwStep::Rate, "cannot set sample rate"},
        {AlsaHwStep::Channels, "cannot set channel count"},
        {AlsaHwStep::Period, "cannot set period size"},
        {AlsaHwStep::Buffer, "cannot set buffer size"},
        {AlsaHwStep::Apply, "cannot set parameters"},
    };
    for (AlsaStream stream : {AlsaStream::Capture, AlsaStream::Playback}) {
        for (auto s : steps) {
            SCOPED_TRACE(s.words);
            ASSERT_EXIT(
                {
                    SimulatedUsbHost host;
                    host.failingStep = s.step;
                    host.failingStream = stream;
                    alsa_set_backend(&host);
                    StdoutCapture out;
                    update_alsa_status();
                    std::string text = out.text();
                    std::string expected = std::string("ERROR (Alsa): ") + s.words + ": " + std::strerror(EINVAL) +
                                           "\n\nERROR (Alsa): Failed to initialize " +
                                           (stream == AlsaStream::Capture ? "capture" : "playback") + "\n\n";
                    bool ok =
                        text.find(expected) != std::string::npos && !alsa_streams_open() && host.openStreams() == 0;
                    std::exit(ok ? 0 : 1);
                },
                testing::ExitedWithCode(0), "");
        }
    }
}

TEST(Alsa, CaptureVolumeIsAFractionOfTheRangeAndTheMixerIsAlwaysClosed)
{
    const struct {
        bool hasPcm, hasCapture;
        long min, max, value;
        float expected;
        bool logged;
    } cases[] = {
        {true, true, 0, 100, 50, 0.5f, false},   {true, true, -60, 0, -15, 0.75f, false},
        {true, true, 10, 10, 10, 0.0f, false},   {true, true, 0, 3, 2, 0.66f, false},
        {true, false, 0, 100, 100, 0.0f, false}, {false, true, 0, 100, 100, 0.0f, true},
    };
    for (auto c : cases) {
        ASSERT_EXIT(
            {
                SimulatedUsbHost host;
                host.mixerHasPcm = c.hasPcm;
                host.mixerHasCaptureVolume = c.hasCapture;
                host.mixerMin = c.min;
                host.mixerMax = c.max;
                host.mixerValue = c.value;
                alsa_set_backend(&host);
                StdoutCapture out;
                float volume = get_alsa_capture_volume();
                bool logged = out.text() == "ERROR (Alsa USB): Controllo mixer 'PCM' non trovato\n\n";
                std::exit(std::fabs(volume - c.expected) < 1e-6f && logged == c.logged && host.openMixers() == 0 ? 0
                                                                                                                 : 1);
            },
            testing::ExitedWithCode(0), "");
    }
}

TEST(Alsa, SpeedControlFailuresAreReportedOnceAndCloseTheControl)
{
    SimulatedUsbHost host;
    alsa_set_backend(&host);
    EXPECT_EQ(alsa_set_speed(true, 1000100), 0);
    EXPECT_EQ(host.pitch(AlsaStream::Playback), 1000100);
    EXPECT_EQ(alsa_set_speed(false, 999900), 0);
    EXPECT_EQ(host.pitch(AlsaStream::Capture), 999900);
    host.failControlWrite = true;
    {
        StdoutCapture out;
        EXPECT_EQ(alsa_set_speed(true, 1000000), 1);
        EXPECT_EQ(out.text(), "ERROR (Alsa): Set PCM speed not found\n");
    }
    host.unplug(); // the control device cannot be opened: no message
    {
        StdoutCapture out;
        EXPECT_EQ(alsa_set_speed(false, 1000000), 1);
        EXPECT_EQ(out.text(), "");
    }
    EXPECT_EQ(host.openControls(), 0);
}

TEST(Alsa, FailedDelayQueryKeepsTheLastDelay)
{
    SimulatedUsbHost host;
    alsa_set_backend(&host);
    update_alsa_status();
    host.setFill(AlsaStream::Playback, 100);
    int block[32] = {};
    alsa_write(block, 16);
    EXPECT_EQ(alsa_playback_delay(), 100);
    host.failDelay = true;
    alsa_write(block, 16);
    alsa_read(block, 16);
    EXPECT_EQ(alsa_playback_delay(), 100);
    EXPECT_EQ(alsa_capture_delay(), 128);
}

TEST(Alsa, ReadsWholeBlocksDropsShortOnesAndReportsErrors)
{
    SimulatedUsbHost host;
    alsa_set_backend(&host);
    update_alsa_status();
    int block[32];
    std::memset(block, 0x55, sizeof block);
    EXPECT_EQ(alsa_read(block, 16), 1); // nothing yet (the read starts the stream)
    EXPECT_EQ(block[0], 0);
    host.advanceFrames(3); // one host packet of 48 frames
    EXPECT_EQ(alsa_read(block, 16), 0);
    EXPECT_EQ(block[2], 256); // host frame 1, channel 0
    EXPECT_EQ(block[3], -256);
    EXPECT_EQ(alsa_read(block, 16), 0);
    host.setFill(AlsaStream::Capture, 5);
    std::memset(block, 0x55, sizeof block);
    EXPECT_EQ(alsa_read(block, 16), 0); // a short block is dropped as silence
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[31], 0);
}

TEST(Alsa, PlaybackErrorRefillsWithSilenceAndFullStreamIsNotWaitedFor)
{
    SimulatedUsbHost host;
    alsa_set_backend(&host);
    update_alsa_status();
    int block[32];
    for (int& word : block) word = 9;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(alsa_write(block, 16), 0);
    EXPECT_EQ(alsa_write(block, 16), 1); // 256 frames queued: full
    host.injectXrun(AlsaStream::Playback);
    EXPECT_EQ(alsa_write(block, 16), 1);
    EXPECT_EQ(alsa_write(block, 16), 1); // refilled with silence up to the buffer
    host.advanceFrames(3);
    std::vector<int32_t> heard = host.lastReceived();
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard[0], 0);
}

TEST(Alsa, XrunAndUnplugReopenTheStreams)
{
    SimulatedUsbHost host;
    alsa_set_backend(&host);
    long frame = 0;
    for (; frame < 3000; ++frame) unitFrame(host, frame);
    ASSERT_TRUE(alsa_streams_open());
    const int opens = host.openCount(AlsaStream::Capture);

    host.injectXrun(AlsaStream::Capture);
    for (long end = frame + 300; frame < end; ++frame) unitFrame(host, frame);
    EXPECT_EQ(host.openCount(AlsaStream::Capture), opens + 1);
    EXPECT_EQ(host.openStreams(), 2);

    host.unplug();
    for (long end = frame + 300; frame < end; ++frame) unitFrame(host, frame);
    EXPECT_FALSE(alsa_streams_open());
    EXPECT_EQ(host.openStreams(), 0);

    host.plug();
    for (long end = frame + 300; frame < end; ++frame) unitFrame(host, frame);
    EXPECT_TRUE(alsa_streams_open());
    EXPECT_EQ(host.openCount(AlsaStream::Capture), opens + 2);
    EXPECT_EQ(host.misuseCount(), 0);
}

// The compile pass steers only a capture stream that is prepared or running, whatever the audio
// thread has or has not met on it; the playback stream recovers by itself (its write prepares it).
TEST(Alsa, OnlyACaptureStreamPreparedOrRunningIsSteered)
{
    struct Case {
        const char* what;
        std::function<void(SimulatedUsbHost&)> fault;
        int reopens;
        int openStreams;
    };
    const Case cases[] = {
        {"steady streams", [](SimulatedUsbHost&) {}, 0, 2},
        {"capture over-run before the next read", [](SimulatedUsbHost& host) { host.injectXrun(AlsaStream::Capture); },
         1, 2},
        {"cable pulled before the next read", [](SimulatedUsbHost& host) { host.unplug(); }, 0, 0},
        {"playback over-run", [](SimulatedUsbHost& host) { host.injectXrun(AlsaStream::Playback); }, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimulatedUsbHost host;
        alsa_set_backend(&host);
        for (long frame = 0; frame < 300; ++frame) unitFrame(host, frame);
        const int opens = host.openCount(AlsaStream::Capture);
        c.fault(host);
        update_alsa_status(); // no frame since the fault
        EXPECT_EQ(host.openCount(AlsaStream::Capture) - opens, c.reopens);
        EXPECT_EQ(host.openStreams(), c.openStreams);
        EXPECT_EQ(host.misuseCount(), 0);
        alsa_set_backend(nullptr);
    }
}

TEST(Alsa, StreamsAreNeverClosedUnderTheAudioThread)
{
    SimulatedUsbHost host;
    alsa_set_backend(&host);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        int out[32] = {}, in[32];
        while (!stop.load()) {
            alsa_write(out, 16);
            alsa_read(in, 16);
            host.advanceFrames(1);
        }
    });
    std::thread compile([&] {
        while (!stop.load()) {
            update_alsa_status();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    // Each fault is followed by what the compile thread does about it, however late a loaded machine
    // runs it. The condition is asked once per look: the state it saw may already have moved on when
    // it would be asked a second time.
    auto within = [](const std::function<bool()>& done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            if (done()) return true;
            if (std::chrono::steady_clock::now() >= until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    bool followed = within([] { return alsa_streams_open(); });
    for (int round = 0; round < 10 && followed; ++round) {
        const int opens = host.openCount(AlsaStream::Capture);
        host.injectXrun(AlsaStream::Capture);
        followed = within([&] { return host.openCount(AlsaStream::Capture) > opens; });
        host.unplug();
        followed = followed && within([&] { return host.openStreams() == 0; });
        host.plug();
        followed =
            followed && within([&] { return host.openCount(AlsaStream::Capture) > opens + 1 && alsa_streams_open(); });
    }
    stop = true;
    audio.join();
    compile.join();
    EXPECT_TRUE(followed) << "an over-run or a replug was not followed by a reopening";
    EXPECT_EQ(host.misuseCount(), 0);
}

TEST(Alsa, RealLibraryCallsAgainstTheNullDevice)
{
    // libasound itself, on ALSA's null plugin: the gadget's card is pretended in the cards file.
    write_file(Paths::map("/proc/asound/cards"), " 1 [UAC2Gadget     ]: UAC2_Gadget - UAC2_Gadget\n");
    AlsaDevices devices;
    devices.capture = "null";
    devices.playback = "null";
    devices.captureControl = "kestrun-no-such-control";
    devices.playbackControl = "kestrun-no-such-control";
    devices.mixer = "kestrun-no-such-mixer";
    alsa_set_devices(devices);
    update_alsa_status();
    ASSERT_TRUE(alsa_streams_open());
    int block[32] = {};
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(alsa_write(block, 16), 0);
        alsa_read(block, 16);
    }
    update_alsa_status(); // steers: the control device cannot be opened, which is no error
    EXPECT_TRUE(alsa_streams_open());
    EXPECT_EQ(alsa_set_speed(true, 1000000), 1);
    EXPECT_EQ(get_alsa_capture_volume(), 0.0f);
}

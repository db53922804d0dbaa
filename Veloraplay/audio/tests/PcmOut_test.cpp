#include "PcmOut.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "AudioDevice.h"
#include "Event.h"
#include "WaveInputFile.h"

namespace veloraplay {
namespace {

// Records every driver call. Hands buffers back at once when `autoDone`; when `doneOnRestart`,
// only while started (a device that plays only after restart); else when the test says so.
class FakeDevice final : public AudioDevice {
  public:
    struct Log {
        std::vector<std::string> calls;
        std::vector<int> writes;                 // tags in write order
        std::vector<std::vector<int16_t>> data;  // what each write carried
        bool autoDone = true;
        bool doneOnRestart = false;
        std::vector<int> queued;  // written and not yet given back, for doneOnRestart
        AudioDevice::DoneCallback done;
    };
    explicit FakeDevice(Log& log) : log_(log) {}

    bool open(int channels, int rate, DoneCallback done) override {
        log_.calls.push_back("open " + std::to_string(channels) + " " + std::to_string(rate));
        log_.done = std::move(done);
        return true;
    }
    bool write(const int16_t* samples, size_t count, int tag) override {
        log_.calls.push_back("write " + std::to_string(tag));
        log_.writes.push_back(tag);
        log_.data.emplace_back(samples, samples + count);
        if (log_.autoDone || (log_.doneOnRestart && playing_)) {
            log_.done(tag);
        } else {
            log_.queued.push_back(tag);
        }
        return true;
    }
    void pause() override {
        log_.calls.push_back("pause");
        playing_ = false;
    }
    void restart() override {
        log_.calls.push_back("restart");
        playing_ = true;
        if (!log_.doneOnRestart) return;
        for (int tag : log_.queued) log_.done(tag);
        log_.queued.clear();
    }
    void reset() override { log_.calls.push_back("reset"); }
    void setVolume(int level) override { log_.calls.push_back("volume " + std::to_string(level)); }
    void close() override { log_.calls.push_back("close"); }

  private:
    Log& log_;
    bool playing_ = false;
};

constexpr int kSamples = 4;  // per channel and block: small blocks keep the checks short
constexpr int kBlocks = PcmOut::kBlocksPerBuffer;

// Hands out `count` blocks, each filled with its running number.
void feed(PcmOut& out, int channels, int first, int count, Event* stop = nullptr) {
    for (int n = first; n < first + count; ++n) {
        int16_t* block = out.nextBlock(stop);
        ASSERT_NE(block, nullptr) << "block " << n;
        for (int i = 0; i < kSamples * channels; ++i) block[i] = static_cast<int16_t>(n);
    }
}

size_t indexOf(const std::vector<std::string>& calls, const std::string& call, size_t from = 0) {
    for (size_t i = from; i < calls.size(); ++i) {
        if (calls[i] == call) return i;
    }
    return calls.size();
}

TEST(PcmOut, PrerollsTwoBuffersAndWritesTheRingInOrder) {
    struct Case {
        int channels;
        int buffersFed;
    };
    for (const Case c : {Case{1, 9}, Case{2, 6}}) {
        SCOPED_TRACE(c.channels);
        FakeDevice::Log log;
        PcmOut out(std::make_unique<FakeDevice>(log));
        out.setVolume(100);
        ASSERT_TRUE(out.open(c.channels, 44100, kSamples));
        EXPECT_EQ(log.calls,
                  (std::vector<std::string>{"open " + std::to_string(c.channels) + " 44100",
                                            "pause", "volume 100"}));
        // Two full buffers and the first block of the third: still paused.
        feed(out, c.channels, 0, 2 * kBlocks + 1);
        EXPECT_EQ(indexOf(log.calls, "restart"), log.calls.size());
        EXPECT_EQ(log.writes, (std::vector<int>{0, 1}));
        // The third buffer full: the device starts, just before that buffer is queued.
        feed(out, c.channels, 2 * kBlocks + 1, c.buffersFed * kBlocks - (2 * kBlocks + 1) + 1);
        const size_t restart = indexOf(log.calls, "restart");
        ASSERT_LT(restart, log.calls.size());
        EXPECT_EQ(log.calls[restart + 1], "write 2");
        EXPECT_EQ(indexOf(log.calls, "restart", restart + 1), log.calls.size()) << "once only";
        ASSERT_EQ(log.writes.size(), static_cast<size_t>(c.buffersFed));
        for (int b = 0; b < c.buffersFed; ++b) {
            EXPECT_EQ(log.writes[b], b % 4);
            const auto& data = log.data[b];
            ASSERT_EQ(data.size(), static_cast<size_t>(kBlocks * kSamples * c.channels));
            for (size_t i = 0; i < data.size(); ++i) {
                ASSERT_EQ(data[i], b * kBlocks + static_cast<int>(i) / (kSamples * c.channels));
            }
        }
        out.close();
        EXPECT_EQ(log.calls.back(), "close");
    }
}

TEST(PcmOut, StopWhileWaitingForABufferGivesNull) {
    FakeDevice::Log log;
    log.autoDone = false;  // the device never gives a buffer back
    PcmOut out(std::make_unique<FakeDevice>(log));
    ASSERT_TRUE(out.open(2, 48000, kSamples));
    Event stop(true);
    feed(out, 2, 0, 4 * kBlocks, &stop);  // all four buffers were free
    stop.set();
    EXPECT_EQ(out.nextBlock(&stop), nullptr);
    EXPECT_EQ(log.writes, (std::vector<int>{0, 1, 2, 3}));
    // Still waiting for buffer 0 afterwards; once the device returns it, blocks flow again.
    EXPECT_EQ(out.nextBlock(&stop), nullptr);
    log.done(0);
    stop.reset();
    EXPECT_NE(out.nextBlock(&stop), nullptr);
    EXPECT_EQ(log.writes.size(), 4u);
}

// A stream shorter than the pre-roll is still heard: drain queues the part-filled buffer up to
// the end of the stream (the last block kept, cut where the caller said the stream ends, no
// silence after it), starts the device and waits until it has played all.
TEST(PcmOut, DrainStartsAShortStreamAndKeepsTheLastBlock) {
    for (const int fed : {0, 3, kBlocks, kBlocks + 3, 2 * kBlocks, 2 * kBlocks + 2}) {
        for (const int lastLength : {kSamples, 1}) {
            SCOPED_TRACE(testing::Message() << fed << " blocks, the last of " << lastLength);
            FakeDevice::Log log;
            log.autoDone = false;
            log.doneOnRestart = true;  // a drain that never starts the device would wait in vain
            PcmOut out(std::make_unique<FakeDevice>(log));
            ASSERT_TRUE(out.open(1, 22050, kSamples));
            feed(out, 1, 0, fed);
            if (lastLength != kSamples) out.setLastBlockLength(static_cast<size_t>(lastLength));
            out.drain(nullptr);
            const size_t buffers = static_cast<size_t>((fed + kBlocks - 1) / kBlocks);
            ASSERT_EQ(log.writes.size(), buffers);
            std::vector<int16_t> heard;
            for (size_t b = 0; b < buffers; ++b) {
                EXPECT_EQ(log.writes[b], static_cast<int>(b));
                heard.insert(heard.end(), log.data[b].begin(), log.data[b].end());
            }
            std::vector<int16_t> expected;
            for (int block = 0; block < fed; ++block) {
                const int length = block == fed - 1 ? lastLength : kSamples;
                expected.insert(expected.end(), static_cast<size_t>(length), static_cast<int16_t>(block));
            }
            EXPECT_EQ(heard, expected);
            const size_t restart = indexOf(log.calls, "restart");
            ASSERT_LT(restart, log.calls.size()) << "the device was never started";
            EXPECT_EQ(indexOf(log.calls, "restart", restart + 1), log.calls.size()) << "once only";
            if (buffers == 3) {
                EXPECT_EQ(log.calls[restart + 1], "write 2") << "started just before the third";
            } else {
                EXPECT_EQ(indexOf(log.calls, "write " + std::to_string(buffers - 1), restart),
                          log.calls.size())
                    << "started after the last write";
            }
            EXPECT_TRUE(log.queued.empty()) << "drain returned before the device played it all";
            out.close();
        }
    }
}

// Drain on a device that never gives a buffer back returns once its stop event is signalled, whether before drain or while it waits. The blocks are long (the
// time-out is then longer than the test's limit), so a drain deaf to the stop event hangs.
TEST(PcmOut, StopDuringDrainReturns) {
    constexpr int kRate = 100;
    constexpr int kLongBlock = 4096;  // 41 s a block
    for (const bool fromAnotherThread : {false, true}) {
        SCOPED_TRACE(fromAnotherThread);
        FakeDevice::Log log;
        log.autoDone = false;
        PcmOut out(std::make_unique<FakeDevice>(log));
        ASSERT_TRUE(out.open(1, kRate, kLongBlock));
        Event stop(true);
        for (int n = 0; n < 2 * kBlocks + 5; ++n) ASSERT_NE(out.nextBlock(&stop), nullptr);
        std::thread stopper;
        if (fromAnotherThread) {
            stopper = std::thread([&stop] { stop.set(); });
        } else {
            stop.set();
        }
        out.drain(&stop);
        if (stopper.joinable()) stopper.join();
        EXPECT_TRUE(stop.isSet());
        EXPECT_EQ(log.writes, (std::vector<int>{0, 1, 2}));
        EXPECT_FALSE(log.queued.empty()) << "the device gave nothing back";
        out.close();
    }
}

TEST(PcmOut, ResetDiscardsQueuedAudioAndPrerollsAgain) {
    FakeDevice::Log log;
    PcmOut out(std::make_unique<FakeDevice>(log));
    out.setVolume(37);
    ASSERT_TRUE(out.open(2, 44100, kSamples));
    feed(out, 2, 0, 3 * kBlocks + 5);  // playing, three buffers written
    ASSERT_LT(indexOf(log.calls, "restart"), log.calls.size());
    const size_t before = log.calls.size();
    out.reset();
    EXPECT_EQ(std::vector<std::string>(log.calls.begin() + before, log.calls.end()),
              (std::vector<std::string>{"pause", "reset", "close", "open 2 44100", "pause",
                                        "volume 37"}));
    log.writes.clear();
    log.data.clear();
    // The buffer ring starts again at 0, zeroed, and the device waits for a new pre-roll.
    int16_t* first = out.nextBlock(nullptr);
    ASSERT_NE(first, nullptr);
    for (int i = 0; i < 2 * kSamples; ++i) EXPECT_EQ(first[i], 0);
    for (int i = 0; i < 2 * kSamples; ++i) first[i] = 500;
    feed(out, 2, 1, 3 * kBlocks);
    EXPECT_EQ(log.writes, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(log.calls[indexOf(log.calls, "restart", before) + 1], "write 2");
    EXPECT_EQ(log.data[0][0], 500);
}

TEST(PcmOut, OneUserOfTheDeviceAtATime) {
    FakeDevice::Log a;
    FakeDevice::Log b;
    PcmOut player(std::make_unique<FakeDevice>(a));
    PcmOut monitor(std::make_unique<FakeDevice>(b));
    ASSERT_TRUE(player.open(2, 44100, kSamples));
    EXPECT_FALSE(monitor.open(2, 44100, kSamples));
    EXPECT_FALSE(player.open(2, 44100, kSamples));
    EXPECT_TRUE(b.calls.empty()) << "the second user never reached the device";
    EXPECT_FALSE(player.open(3, 44100, kSamples)) << "more than two channels";
    player.close();
    EXPECT_TRUE(monitor.open(1, 8000, kSamples));
    monitor.close();
    EXPECT_FALSE(PcmOut(nullptr).open(2, 44100, kSamples)) << "no backend";
}

TEST(AudioDevice, VolumeScalesAsTheDeviceLevel) {
    EXPECT_EQ(deviceVolume(100), 65535u);
    EXPECT_EQ(deviceVolume(50), 32767u);
    EXPECT_EQ(applyVolume(-32768, deviceVolume(100)), -32768);
    EXPECT_EQ(applyVolume(20000, deviceVolume(50)), 10000);
    EXPECT_EQ(applyVolume(-20000, deviceVolume(50)), -10000);
    EXPECT_EQ(applyVolume(12345, deviceVolume(0)), 0);
}

// The null backend hands buffers back by itself, so blocks keep flowing past the ring.
TEST(PcmOut, NullBackendConsumesTheRing) {
    PcmOut out(makeAudioDevice("null"));
    ASSERT_TRUE(out.open(1, 32000, 64));  // 28 ms a buffer
    Event stop(true);
    for (int n = 0; n < 6 * PcmOut::kBlocksPerBuffer; ++n) {
        ASSERT_NE(out.nextBlock(&stop), nullptr) << n;
    }
    out.drain(nullptr);
    out.reset();
    EXPECT_NE(out.nextBlock(&stop), nullptr);
    out.close();
    EXPECT_FALSE(out.isOpen());
}

// End to end through the real WAVE backend: what PcmOut is fed is what is "heard".
TEST(PcmOut, WavBackendHearsWhatWasFed) {
    const std::string path =
        ::testing::TempDir() + "/pcmout_heard_" + std::to_string(::getpid()) + ".wav";
    auto device = makeAudioDevice("wav:" + path);
    ASSERT_NE(device, nullptr);
    constexpr int kRate = 32000;
    constexpr int kChannels = 2;
    constexpr int kBlock = 256;     // 112 ms a buffer
    constexpr int kBlocksFed = 50;  // 400 ms, five buffers and a part
    std::vector<int16_t> fed;
    {
        PcmOut out(std::move(device));
        out.setVolume(100);
        ASSERT_TRUE(out.open(kChannels, kRate, kBlock));
        Event stop(true);
        for (int n = 0; n < kBlocksFed; ++n) {
            int16_t* block = out.nextBlock(&stop);
            ASSERT_NE(block, nullptr);
            for (int i = 0; i < kBlock; ++i) {
                const int t = n * kBlock + i;
                const double x = std::sin(2 * M_PI * 440.0 * t / kRate);
                block[2 * i] = static_cast<int16_t>(std::lround(20000 * x));
                block[2 * i + 1] = static_cast<int16_t>(t % 65536 - 32768);
                fed.push_back(block[2 * i]);
                fed.push_back(block[2 * i + 1]);
            }
        }
        out.drain(nullptr);
        out.close();
    }
    velora::WaveInputFile heard;
    ASSERT_TRUE(heard.Open(path)) << heard.FailureReason();
    EXPECT_EQ(heard.Channels(), kChannels);
    EXPECT_EQ(heard.SampleRate(), kRate);
    // Exactly what was fed: the last buffer goes out as far as it was filled.
    const size_t expected = fed.size();
    ASSERT_EQ(heard.DataBytes(), expected * 2);
    std::vector<int16_t> got(expected);
    ASSERT_EQ(heard.Read(got.data(), expected * 2), expected * 2);
    EXPECT_TRUE(got == fed);
    heard.Close();
    std::remove(path.c_str());
}

}  // namespace
}  // namespace veloraplay

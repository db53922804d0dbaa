// The playback controller end to end: files made by the project's encoder, played through the
// device output into recording drivers (instant, or paced in real time as a sound card would),
// and compared with the decode job, which is what `velora decode` writes.
#include "Velorawrap.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <numbers>
#include <random>
#include <thread>

#include "AudioDevice.h"
#include "DecodeJob.h"
#include "EncodeJob.h"
#include "PacedDevice.h"
#include "PcmOut.h"
#include "TestFiles.h"
#include "WaveFileWriter.h"
#include "WaveInputFile.h"
#include "WaveWriteSink.h"

namespace veloraplay {
namespace {

using namespace std::chrono_literals;
using test::readAll;
using test::TempDir;
using test::writeAll;
using Clock = std::chrono::steady_clock;

// How long to wait for something that must happen; only a hang ever reaches it.
constexpr auto kPatience = 60s;

// ---------------------------------------------------------------------------------------------
// Files

struct Pcm {
    int channels = 0;
    int rate = 0;
    std::vector<int16_t> samples;
    double seconds() const {
        return channels && rate ? static_cast<double>(samples.size()) / channels / rate : 0.0;
    }
};

// Tones, a slow sweep and a little noise: enough for the encoder to work on every band.
std::vector<int16_t> makeSignal(int channels, int rate, double seconds) {
    const size_t frames = static_cast<size_t>(seconds * rate);
    std::vector<int16_t> pcm(frames * static_cast<size_t>(channels));
    std::minstd_rand noise(7);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        for (int c = 0; c < channels; ++c) {
            const double v = 0.3 * std::sin(kTwoPi * (330.0 + 110.0 * c) * t) +
                             0.1 * std::sin(kTwoPi * (500.0 * t + 900.0 * t * t)) +
                             0.05 * uniform(noise);
            pcm[i * static_cast<size_t>(channels) + static_cast<size_t>(c)] =
                static_cast<int16_t>(std::lround(v * 32767.0));
        }
    }
    return pcm;
}

bool writeWave(const std::string& path, int channels, int rate, const std::vector<int16_t>& pcm) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    WaveFileWriter writer;
    const bool ok = writer.Begin(f, channels, rate) && writer.Append(pcm.data(), pcm.size()) &&
                    writer.Finish();
    return std::fclose(f) == 0 && ok;
}

bool encode(const std::string& wave, const std::string& out, int kbps, bool sbr) {
    std::FILE* f = std::fopen(out.c_str(), "w+b");
    if (!f) return false;
    EncodeOptions options;
    options.bitrateKbps = kbps;
    options.sbr = sbr;
    const std::atomic<bool> cancel{false};
    const EncodeOutcome outcome = EncodeWaveFile(wave, f, options, cancel, {});
    EXPECT_TRUE(outcome.ok) << outcome.error;
    return std::fclose(f) == 0 && outcome.ok;
}

Pcm readWave(const std::string& path) {
    Pcm pcm;
    velora::WaveInputFile in;
    if (!in.Open(path)) {
        ADD_FAILURE() << path << ": " << in.FailureReason();
        return pcm;
    }
    pcm.channels = in.Channels();
    pcm.rate = in.SampleRate();
    pcm.samples.resize(in.DataBytes() / 2);
    pcm.samples.resize(in.Read(pcm.samples.data(), pcm.samples.size() * 2) / 2);
    return pcm;
}

// What the decode job (`velora decode`) makes of a file.
Pcm referenceDecode(const std::string& path, bool enhancement, bool gapless = true) {
    class Collect final : public DecodeSink {
      public:
        explicit Collect(Pcm& pcm) : pcm_(pcm) {}
        bool Open(int channels, int rate) override {
            pcm_.channels = channels;
            pcm_.rate = rate;
            return true;
        }
        bool Write(const int16_t* s, size_t n) override {
            pcm_.samples.insert(pcm_.samples.end(), s, s + n);
            return true;
        }
        bool Finish() override { return true; }

      private:
        Pcm& pcm_;
    };
    Pcm pcm;
    Collect sink(pcm);
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) return pcm;
    DecodeOptions options;
    options.enhancement = enhancement;
    options.gapless = gapless;
    const std::atomic<bool> cancel{false};
    const DecodeOutcome outcome = DecodeStream(in, sink, options, cancel, {});
    std::fclose(in);
    EXPECT_TRUE(outcome.ok) << outcome.error;
    return pcm;
}

// The files the tests play, made once.
struct Library {
    TempDir dir;
    std::string wave, waveMono, mp3, mp3Long, velora, mono2stereo, wave8bit, empty, junk;
    Pcm waveSource;

    Library() {
        waveSource = {2, 44100, makeSignal(2, 44100, 2.5)};
        wave = dir / "source.wav";
        EXPECT_TRUE(writeWave(wave, 2, 44100, waveSource.samples));
        waveMono = dir / "mono.wav";
        EXPECT_TRUE(writeWave(waveMono, 1, 44100, makeSignal(1, 44100, 1.5)));
        mp3 = dir / "plain.mp3";
        EXPECT_TRUE(encode(wave, mp3, 128, false));
        velora = dir / "velora.mp3";
        EXPECT_TRUE(encode(wave, velora, 64, true));
        // A stream that turns from mono to stereo: two files' bytes one after the other.
        const std::string mono = dir / "mono.mp3";
        EXPECT_TRUE(encode(waveMono, mono, 64, false));
        mono2stereo = dir / "mono2stereo.mp3";
        writeAll(mono2stereo, readAll(mono) + readAll(mp3));
        // A long stream cheaply: the plain file's bytes twelve times over (30 s).
        mp3Long = dir / "long.mp3";
        std::string repeated;
        for (int i = 0; i < 12; ++i) repeated += readAll(mp3);
        writeAll(mp3Long, repeated);
        // A WAVE file of 8-bit samples, which the reader refuses.
        std::string w = readAll(waveMono);
        w[34] = 8;  // bits per sample
        wave8bit = dir / "eight.wav";
        writeAll(wave8bit, w);
        empty = dir / "empty.mp3";
        writeAll(empty, "");
        junk = dir / "junk.mp3";
        std::string text;
        for (int i = 0; i < 200; ++i) text += "not a single frame of audio in here. ";
        writeAll(junk, text);
    }
};

Library& library() {
    static Library files;
    return files;
}

// ---------------------------------------------------------------------------------------------
// Recording drivers

// What a driver was given and when; shared with the test, which outlives the driver's use.
struct Heard {
    std::mutex lock;
    int channels = 0;
    int rate = 0;
    int opens = 0;
    std::vector<int16_t> samples;
    std::vector<std::pair<Clock::time_point, size_t>> marks;  // when samples reached a length

    std::vector<int16_t> copy() {
        std::lock_guard<std::mutex> g(lock);
        return samples;
    }
    size_t size() {
        std::lock_guard<std::mutex> g(lock);
        return samples.size();
    }
};

// Takes every buffer at once, as a device infinitely fast would.
class InstantDevice final : public AudioDevice {
  public:
    explicit InstantDevice(Heard& heard) : heard_(heard) {}
    bool open(int channels, int rate, DoneCallback done) override {
        std::lock_guard<std::mutex> g(heard_.lock);
        heard_.channels = channels;
        heard_.rate = rate;
        ++heard_.opens;
        done_ = std::move(done);
        return true;
    }
    bool write(const int16_t* samples, size_t count, int tag) override {
        {
            std::lock_guard<std::mutex> g(heard_.lock);
            heard_.samples.insert(heard_.samples.end(), samples, samples + count);
        }
        done_(tag);
        return true;
    }
    void pause() override {}
    void restart() override {}
    void reset() override {}
    void setVolume(int) override {}
    void close() override {}

  private:
    Heard& heard_;
    DoneCallback done_;
};

// Plays in real time, as a sound card does; records what was played and when.
class RealTimeDevice final : public PacedDevice {
  public:
    explicit RealTimeDevice(Heard& heard) : heard_(heard) {}
    ~RealTimeDevice() override { shutDown(); }

  protected:
    bool begin(int channels, int rate) override {
        std::lock_guard<std::mutex> g(heard_.lock);
        heard_.channels = channels;
        heard_.rate = rate;
        ++heard_.opens;
        return true;
    }
    void consume(const int16_t* samples, size_t count, uint32_t) override {
        std::lock_guard<std::mutex> g(heard_.lock);
        heard_.samples.insert(heard_.samples.end(), samples, samples + count);
        heard_.marks.emplace_back(Clock::now(), heard_.samples.size());
    }
    void end() override {}

  private:
    Heard& heard_;
};

// Never gives a buffer back: a device that has stalled.
class StalledDevice final : public AudioDevice {
  public:
    bool open(int, int, DoneCallback) override { return true; }
    bool write(const int16_t*, size_t, int) override { return true; }
    void pause() override {}
    void restart() override {}
    void reset() override {}
    void setVolume(int) override {}
    void close() override {}
};

// ---------------------------------------------------------------------------------------------
// The controller and what it posted

class Player {
  public:
    explicit Player(std::unique_ptr<AudioDevice> device)
        : output_(std::move(device)), wrap_(queue_, output_, file_) {}
    ~Player() { wrap_.stop(); }

    Velorawrap& wrap() { return wrap_; }
    PcmOut& output() { return output_; }
    WaveWriteSink& fileSink() { return file_; }

    // Collects what was posted so far.
    const std::vector<Message>& messages() {
        queue_.drain([this](const Message& m) { messages_.push_back(m); });
        return messages_;
    }
    // Waits until the worker has ended by itself.
    bool waitUntilIdle(std::chrono::milliseconds limit = std::chrono::duration_cast<std::chrono::milliseconds>(kPatience)) {
        const auto until = Clock::now() + limit;
        while (wrap_.isRunning()) {
            if (Clock::now() > until) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
    // The values of PlayerNotify `code`, in order.
    std::vector<intptr_t> notified(uintptr_t code) {
        std::vector<intptr_t> values;
        for (const Message& m : messages()) {
            if (m.code == msg::kPlayerNotify && m.wparam == code) values.push_back(m.lparam);
        }
        return values;
    }
    std::vector<uintptr_t> commands() {
        std::vector<uintptr_t> ids;
        for (const Message& m : messages()) {
            if (m.code == msg::kCommand) ids.push_back(m.wparam);
        }
        return ids;
    }
    std::vector<std::string> shown() {
        std::vector<std::string> texts;
        for (const Message& m : messages()) {
            if (m.code == msg::kShowMessage) texts.push_back(m.payload);
        }
        return texts;
    }

  private:
    MessageQueue queue_;
    PcmOut output_;
    WaveWriteSink file_;
    Velorawrap wrap_;
    std::vector<Message> messages_;
};

// Where `heard` starts to differ from `reference` (the common prefix's length).
size_t commonPrefix(const std::vector<int16_t>& heard, const std::vector<int16_t>& reference) {
    const size_t n = std::min(heard.size(), reference.size());
    return static_cast<size_t>(std::mismatch(heard.begin(), heard.begin() + static_cast<std::ptrdiff_t>(n),
                                             reference.begin())
                                   .first -
                               heard.begin());
}

// ---------------------------------------------------------------------------------------------
// Tests

// What is played equals what the decode job writes, sample for sample and no longer; the
// display learns the format, the position runs from 0 to 100 and ends with "none", and the end
// of the stream posts Stop and Next.
TEST(Velorawrap, PlaysWhatTheDecodeJobWrites) {
    Library& files = library();
    struct Case {
        const char* name;
        std::string file;
        bool enhancement;
        bool velora;  // the stream-kind message
        intptr_t kbps;  // the first bit rate shown
    };
    for (const Case& c : {Case{"plain mp3", files.mp3, true, false, 128}, Case{"Velora", files.velora, true, true, 64},
                          Case{"Velora, enhancement off", files.velora, false, true, 64},
                          Case{"mono turning stereo", files.mono2stereo, true, false, 64},
                          Case{"WAVE", files.wave, true, false, notify::kWaveBitrate}}) {
        SCOPED_TRACE(c.name);
        Heard heard;
        Player player(std::make_unique<InstantDevice>(heard));
        player.wrap().setEnhancementDefault(c.enhancement);
        player.wrap().setFile(c.file);
        player.wrap().start();
        ASSERT_TRUE(player.waitUntilIdle());

        const bool wave = c.file == files.wave;
        const Pcm reference = wave ? files.waveSource : referenceDecode(c.file, c.enhancement);
        ASSERT_FALSE(reference.samples.empty());
        EXPECT_EQ(heard.channels, reference.channels);
        EXPECT_EQ(heard.rate, reference.rate);
        const std::vector<int16_t> got = heard.copy();
        EXPECT_EQ(got.size(), reference.samples.size());
        EXPECT_EQ(commonPrefix(got, reference.samples), reference.samples.size());

        EXPECT_EQ(player.commands(), (std::vector<uintptr_t>{kCommandStop, kCommandNext}));
        EXPECT_TRUE(player.shown().empty());
        const std::vector<intptr_t> states = player.notified(notify::kState);
        EXPECT_EQ(states, (std::vector<intptr_t>{notify::kPlaying, notify::kStopped}));
        ASSERT_FALSE(player.notified(notify::kBitrate).empty());
        EXPECT_EQ(player.notified(notify::kBitrate).front(), c.kbps);
        EXPECT_EQ(player.notified(notify::kElapsed), std::vector<intptr_t>{0});
        std::vector<intptr_t> positions;
        int kinds = 0;
        for (const Message& m : player.messages()) {
            if (m.code == msg::kPositionMessage) positions.push_back(m.lparam);
            if (m.code == msg::kStreamKindNotify) {
                ++kinds;
                EXPECT_EQ(m.wparam, c.velora ? 1u : 0u);
            }
        }
        EXPECT_EQ(kinds, 1);
        ASSERT_GE(positions.size(), 3u);
        EXPECT_EQ(positions.front(), 0);
        EXPECT_EQ(positions.back(), kPositionNone);
        EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end() - 1));
        EXPECT_GE(positions.end()[-2], 95);
    }
}

// Decode to file writes what the decode job writes, with progress; a cancelled one leaves no
// file and no temporary, and an existing file it was to replace stays as it was.
TEST(Velorawrap, DecodesToFileAndCancelLeavesNothing) {
    Library& files = library();
    TempDir out;
    {
        Heard heard;
        Player player(std::make_unique<InstantDevice>(heard));
        player.wrap().setFile(files.velora);
        ASSERT_TRUE(player.wrap().startDecodeToFile(out / "decoded.wav"));
        ASSERT_TRUE(player.waitUntilIdle());
        EXPECT_FALSE(player.wrap().decodingToFile()) << "the next start plays to the device";
        const Pcm reference = referenceDecode(files.velora, true);
        const Pcm got = readWave(out / "decoded.wav");
        EXPECT_EQ(got.channels, reference.channels);
        EXPECT_EQ(got.rate, reference.rate);
        EXPECT_TRUE(got.samples == reference.samples) << got.samples.size() << " vs " << reference.samples.size();
        EXPECT_TRUE(heard.samples.empty()) << "nothing went to the device";
        int progress = 0;
        int closed = 0;
        int kinds = 0;
        for (const Message& m : player.messages()) {
            if (m.code == msg::kProgressFrame) {
                EXPECT_EQ(m.lparam % kProgressEvery, 0);
                EXPECT_EQ(m.payload, "- Velora -");
                ++progress;
            }
            closed += m.code == msg::kProgressClose;
            kinds += m.code == msg::kStreamKindNotify;
        }
        EXPECT_GT(progress, 0);
        EXPECT_EQ(closed, 1);
        EXPECT_EQ(kinds, 0);
        player.wrap().setFile(files.wave);
        EXPECT_FALSE(player.wrap().startDecodeToFile(out / "wave.wav")) << "a WAVE file is not decoded";
    }
    {
        // Cancelled as soon as the first progress arrives, on a stream long enough to be still
        // decoding then.
        const std::string existing = out / "existing.wav";
        writeAll(existing, "a file the user agreed to replace");
        for (const auto& name : out.list()) {
            if (name != "existing.wav") ::unlink((out / name).c_str());
        }
        Heard heard;
        Player player(std::make_unique<InstantDevice>(heard));
        player.wrap().setFile(files.mp3Long);
        ASSERT_TRUE(player.wrap().startDecodeToFile(existing));
        const auto until = Clock::now() + kPatience;
        bool progressed = false;
        while (!progressed && player.wrap().isRunning() && Clock::now() < until) {
            for (const Message& m : player.messages()) progressed = progressed || m.code == msg::kProgressFrame;
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_TRUE(player.wrap().isRunning()) << "the decode ended before it could be cancelled";
        player.wrap().stop();
        EXPECT_EQ(readAll(existing), "a file the user agreed to replace");
        EXPECT_EQ(out.list(), std::vector<std::string>{"existing.wav"}) << "no temporary left";
        EXPECT_EQ(player.commands(), std::vector<uintptr_t>{}) << "a cancel is no end of stream";
    }
}

// What goes wrong is said once and ends the run: files that cannot be played, no device, a
// device that stalls, an output that cannot be written.
TEST(Velorawrap, FailuresAreReportedAndNeverHang) {
    Library& files = library();
    TempDir out;
    struct Case {
        const char* name;
        std::string file;
        int device;  // 0 instant, 1 none, 2 stalled
        std::string output;  // decode to this file
        std::string shown;   // the message box; empty: none
        std::vector<uintptr_t> commands;
    };
    const std::vector<Case> cases = {
        {"missing file", out / "missing.mp3", 0, "", "Couldn't open " + out / "missing.mp3" + " for playback.",
         {kCommandStop}},
        {"8-bit WAVE", files.wave8bit, 0, "", "Couldn't open " + files.wave8bit + " for playback.", {kCommandStop}},
        {"zero-length file", files.empty, 0, "", "Couldn't open " + files.empty + " for playback.", {kCommandStop}},
        {"no audio in it", files.junk, 0, "", "Couldn't open " + files.junk + " for playback.", {kCommandStop}},
        {"no device", files.mp3, 1, "", "Couldn't find output device.", {}},
        {"no device, WAVE", files.wave, 1, "", "Couldn't find output device.", {}},
        {"unwritable output", files.mp3, 0, out / "no/such/folder/out.wav", "Couldn't write ", {}},
        {"decode of a missing file", out / "missing.mp3", 0, out / "out.wav",
         "Couldn't open " + out / "missing.mp3" + " for playback.", {kCommandStop}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Heard heard;
        std::unique_ptr<AudioDevice> device;
        if (c.device == 0) device = std::make_unique<InstantDevice>(heard);
        Player player(std::move(device));
        player.wrap().setFile(c.file);
        if (c.output.empty()) {
            player.wrap().start();
        } else {
            ASSERT_TRUE(player.wrap().startDecodeToFile(c.output));
        }
        ASSERT_TRUE(player.waitUntilIdle());
        const std::vector<std::string> shown = player.shown();
        if (c.shown.empty()) {
            EXPECT_TRUE(shown.empty());
        } else {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].substr(0, c.shown.size()), c.shown);
        }
        EXPECT_EQ(player.commands(), c.commands);
        ASSERT_FALSE(player.notified(notify::kState).empty());
        EXPECT_EQ(player.notified(notify::kState).back(), notify::kStopped);
        int closed = 0;
        for (const Message& m : player.messages()) closed += m.code == msg::kProgressClose;
        EXPECT_EQ(closed, c.output.empty() ? 0 : 1) << "the progress window closes however the decode ends";
        EXPECT_EQ(player.messages().back().code, msg::kPlayerNotify);
        ASSERT_GE(player.messages().size(), 2u);
        const Message& last = player.messages().end()[c.output.empty() ? -2 : -3];
        EXPECT_EQ(last.code, msg::kPositionMessage);
        EXPECT_EQ(last.lparam, kPositionNone);
    }
    // A device that never gives a buffer back holds the worker, never the one who stops it.
    for (const std::string& file : {files.mp3, files.wave}) {
        Player player(std::make_unique<StalledDevice>());
        player.wrap().setFile(file);
        player.wrap().start();
        std::this_thread::sleep_for(300ms);
        EXPECT_TRUE(player.wrap().isRunning());
        const auto before = Clock::now();
        player.wrap().stop();
        EXPECT_LT(Clock::now() - before, 2s);
        EXPECT_FALSE(player.wrap().isRunning());
    }
}

// A seek to 50 % after a second: what was heard before it is the file's start, what follows
// about half the file, and the jump is heard within a buffer's time of the request.
TEST(Velorawrap, SeekToHalfwayIsHeardInTime) {
    Library& files = library();
    for (const std::string& file : {files.mp3, files.wave}) {
        SCOPED_TRACE(file);
        Heard heard;
        Player player(std::make_unique<RealTimeDevice>(heard));
        player.wrap().setFile(file);
        player.wrap().start();
        std::this_thread::sleep_for(1s);
        const auto asked = Clock::now();
        player.wrap().requestSeek(50);
        ASSERT_TRUE(player.waitUntilIdle());

        const bool wave = file == files.wave;
        const Pcm reference = wave ? files.waveSource : referenceDecode(file, true, false);
        const std::vector<int16_t> got = heard.copy();
        const size_t before = commonPrefix(got, reference.samples);
        const double perSecond = static_cast<double>(reference.rate * reference.channels);
        // The start was heard up to about the request, the pre-roll having run meanwhile.
        const double beforeSeconds = static_cast<double>(before) / perSecond;
        EXPECT_GT(beforeSeconds, 0.3);
        const double bufferSeconds = PcmOut::kBlocksPerBuffer * (wave ? 1024.0 : 1152.0) / reference.rate;
        EXPECT_LT(beforeSeconds, 1.0 + bufferSeconds + 0.2);
        // When the jump was heard: the first sample after it reached the device.
        Clock::time_point jumped = Clock::time_point::max();
        for (const auto& [when, length] : heard.marks) {
            if (length > before) {
                jumped = when;
                break;
            }
        }
        EXPECT_LT(jumped - asked, std::chrono::duration<double>(bufferSeconds + 0.3));
        // After it: the second half, to the end.
        const double after = static_cast<double>(got.size() - before) / perSecond;
        EXPECT_NEAR(after, reference.seconds() / 2, 0.08) << "of " << reference.seconds() << " s";
        const size_t tail = static_cast<size_t>(perSecond / 4);  // the last quarter second
        ASSERT_GT(got.size(), tail);
        const std::vector<int16_t> endHeard(got.end() - static_cast<std::ptrdiff_t>(tail), got.end());
        const std::vector<int16_t> endReference(reference.samples.end() - static_cast<std::ptrdiff_t>(tail),
                                                reference.samples.end());
        EXPECT_TRUE(endHeard == endReference) << "the end of the file was heard as decoded";
        EXPECT_EQ(player.notified(notify::kElapsed).back(),
                  static_cast<intptr_t>(reference.seconds() / 2)) << "the elapsed time follows";
    }
}

// A seek asked as the playback starts is kept for it (the file's start is hardly heard), and
// one asked while the end is playing out is done too: the stream goes on from there.
TEST(Velorawrap, SeeksAtTheStartAndNearTheEnd) {
    Library& files = library();
    for (const std::string& file : {files.wave, files.mp3}) {
        SCOPED_TRACE(file);
        const bool wave = file == files.wave;
        const Pcm reference = wave ? files.waveSource : referenceDecode(file, true, false);
        const double perSecond = static_cast<double>(reference.rate * reference.channels);
        {
            Heard heard;
            Player player(std::make_unique<RealTimeDevice>(heard));
            player.wrap().setFile(file);
            player.wrap().start();
            player.wrap().requestSeek(60);
            ASSERT_TRUE(player.waitUntilIdle());
            const double heardSeconds = static_cast<double>(heard.size()) / perSecond;
            EXPECT_NEAR(heardSeconds, 0.4 * reference.seconds(), 0.12);
        }
        {
            Heard heard;
            Player player(std::make_unique<RealTimeDevice>(heard));
            player.wrap().setFile(file);
            player.wrap().start();
            // The whole file is decoded and queued long before it has been heard.
            std::this_thread::sleep_for(std::chrono::duration<double>(reference.seconds() - 0.5));
            player.wrap().requestSeek(0);
            ASSERT_TRUE(player.waitUntilIdle());
            const double heardSeconds = static_cast<double>(heard.size()) / perSecond;
            EXPECT_GT(heardSeconds, reference.seconds() + 1.0) << "the start was heard again";
            const std::vector<int16_t> got = heard.copy();
            const std::vector<int16_t> tail(reference.samples.end() - static_cast<std::ptrdiff_t>(perSecond / 4),
                                            reference.samples.end());
            EXPECT_TRUE(std::equal(tail.begin(), tail.end(), got.end() - static_cast<std::ptrdiff_t>(tail.size())))
                << "and the end once more";
        }
    }
}

// A pause of two seconds drops what was queued (at most the ring and the block being filled)
// and nothing else; nothing is heard twice, the device is reset once for the pause, not on
// every poll, and a seek asked while paused waits for the resume but shows its time at once.
TEST(Velorawrap, PauseDropsOnlyWhatWasQueued) {
    Library& files = library();
    Heard heard;
    Player player(std::make_unique<RealTimeDevice>(heard));
    player.wrap().setFile(files.mp3);
    player.wrap().start();
    std::this_thread::sleep_for(800ms);
    player.wrap().togglePause();
    EXPECT_TRUE(player.wrap().isPaused());
    std::this_thread::sleep_for(300ms);
    const size_t atPause = heard.size();
    const int opensAtPause = heard.opens;
    std::this_thread::sleep_for(1700ms);
    EXPECT_EQ(heard.size(), atPause) << "nothing is heard while paused";
    EXPECT_EQ(heard.opens, opensAtPause) << "the device is not reset again and again";
    player.wrap().start();  // play resumes
    EXPECT_FALSE(player.wrap().isPaused());
    ASSERT_TRUE(player.waitUntilIdle());

    const Pcm reference = referenceDecode(files.mp3, true);
    const std::vector<int16_t> got = heard.copy();
    const size_t before = commonPrefix(got, reference.samples);
    ASSERT_LT(before, got.size()) << "the pause dropped nothing";
    const size_t after = got.size() - before;
    ASSERT_LE(after, reference.samples.size() - before) << "something was heard twice";
    const size_t resumedAt = reference.samples.size() - after;
    EXPECT_TRUE(std::equal(got.begin() + static_cast<std::ptrdiff_t>(before), got.end(),
                           reference.samples.begin() + static_cast<std::ptrdiff_t>(resumedAt)))
        << "after the pause the file goes on where the decoder was";
    const size_t block = 1152 * 2;
    EXPECT_LE(resumedAt - before, (PcmOut::kBuffers * PcmOut::kBlocksPerBuffer + 1) * block);
    EXPECT_EQ(player.notified(notify::kState),
              (std::vector<intptr_t>{notify::kPlaying, notify::kPaused, notify::kPlaying, notify::kStopped}));

    // A seek while paused: the time shows at once, the jump waits for the resume.
    Heard heard2;
    Player paused(std::make_unique<RealTimeDevice>(heard2));
    paused.wrap().setFile(files.mp3);
    paused.wrap().start();
    std::this_thread::sleep_for(600ms);
    paused.wrap().togglePause();
    std::this_thread::sleep_for(200ms);
    paused.wrap().requestSeek(80);
    std::this_thread::sleep_for(400ms);
    const std::vector<intptr_t> elapsed = paused.notified(notify::kElapsed);
    ASSERT_EQ(elapsed.size(), 2u);
    EXPECT_EQ(elapsed[1], static_cast<intptr_t>(reference.seconds() * 0.8));
    EXPECT_EQ(paused.wrap().takeSeek(), 80) << "still pending";
    paused.wrap().requestSeek(80);
    paused.wrap().togglePause();
    ASSERT_TRUE(paused.waitUntilIdle());
    const double heardSeconds = static_cast<double>(heard2.size()) / (reference.rate * reference.channels);
    EXPECT_LT(heardSeconds, 0.6 + 0.2 * reference.seconds() + 0.1);
}

// Volume 50 through the WAVE backend: every sample is the decoded one times the device
// level 32767/65535, within one step.
TEST(Velorawrap, VolumeScalesWhatIsHeard) {
    Library& files = library();
    TempDir out;
    const std::string heardPath = out / "heard.wav";
    {
        Player player(makeAudioDevice("wav:" + heardPath));
        player.output().setVolume(50);
        player.wrap().setFile(files.mp3);
        player.wrap().start();
        ASSERT_TRUE(player.waitUntilIdle());
    }
    const Pcm reference = referenceDecode(files.mp3, true);
    const Pcm got = readWave(heardPath);
    ASSERT_EQ(got.samples.size(), reference.samples.size());
    const double factor = deviceVolume(50) / 65535.0;
    EXPECT_NEAR(factor, 32767.0 / 65535.0, 1e-12);
    for (size_t i = 0; i < got.samples.size(); ++i) {
        ASSERT_NEAR(got.samples[i], reference.samples[i] * factor, 1.0) << "sample " << i;
    }
}

// The gains (which act in the enhancement layer of a Velora stream): each band's step maps
// through the table and applies to every frame; the peaks are maxima read and started afresh.
TEST(Velorawrap, BandGainsAndPeaks) {
    EXPECT_EQ(Velorawrap::gainForStep(0), 0.0f);
    EXPECT_EQ(Velorawrap::gainForStep(3), 1.0f);
    EXPECT_EQ(Velorawrap::gainForStep(6), 2.0f);
    EXPECT_EQ(Velorawrap::gainForStep(9), 2.0f);
    Library& files = library();
    Heard heard;
    Player player(std::make_unique<InstantDevice>(heard));
    for (int b = 0; b < Velorawrap::kBands; ++b) {
        EXPECT_EQ(player.wrap().bandGain(b), Velorawrap::kUnityGainStep);
        player.wrap().setBandGain(b, 0);  // every band silent
    }
    player.wrap().setFile(files.velora);
    player.wrap().start();
    ASSERT_TRUE(player.waitUntilIdle());
    const std::vector<int16_t> got = heard.copy();
    ASSERT_FALSE(got.empty());
    EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](int16_t s) { return std::abs(s) <= 1; }))
        << "all gains at 0 silence the output";
    const auto peaks = player.wrap().takeBandPeaks();
    EXPECT_GT(*std::max_element(peaks.begin(), peaks.end()), 0) << "the levels are the decoder's, before gain";
    const auto again = player.wrap().takeBandPeaks();
    EXPECT_TRUE(std::all_of(again.begin(), again.end(), [](uint8_t p) { return p == 0; }));
}

// The enhancement switched while playing: the display is told the format again at the next
// frame, the device keeps its format (the output keeps the doubled rate with an empty high
// band), and the whole file is still heard.
TEST(Velorawrap, EnhancementToggleWhilePlaying) {
    Library& files = library();
    Heard heard;
    Player player(std::make_unique<RealTimeDevice>(heard));
    player.wrap().setFile(files.velora);
    player.wrap().start();
    std::this_thread::sleep_for(700ms);
    EXPECT_FALSE(player.wrap().toggleEnhancement());
    ASSERT_TRUE(player.waitUntilIdle());
    EXPECT_EQ(player.notified(notify::kSampleRate), (std::vector<intptr_t>{44100, 44100}));
    EXPECT_EQ(player.notified(notify::kChannels), (std::vector<intptr_t>{2, 2}));
    EXPECT_EQ(heard.rate, 44100);
    EXPECT_EQ(heard.opens, 1);
    const Pcm reference = referenceDecode(files.velora, true);
    EXPECT_NEAR(static_cast<double>(heard.size()), static_cast<double>(reference.samples.size()),
                2.0 * 2304) << "the same length, give or take a frame at the switch";
    EXPECT_FALSE(player.wrap().enhancement());
    // The next playback starts from the default again.
    player.wrap().start();
    EXPECT_TRUE(player.wrap().isRunning());
    player.wrap().stop();
    EXPECT_TRUE(player.wrap().enhancement());
}

// 500 random commands from this thread while a file plays: no race (run it under the thread
// sanitizer), no hang, no leak, and the controller ends idle.
TEST(Velorawrap, SurvivesRandomCommands) {
    Library& files = library();
    Heard heard;
    Player player(std::make_unique<RealTimeDevice>(heard));
    std::minstd_rand random(2026);
    const std::string choices[] = {files.mp3, files.velora, files.wave, files.mono2stereo};
    player.wrap().setFile(choices[0]);
    player.wrap().start();
    const auto until = Clock::now() + kPatience;
    for (int i = 0; i < 500 && Clock::now() < until; ++i) {
        switch (random() % 9) {
            case 0:
                player.wrap().stop();
                player.wrap().setFile(choices[random() % 4]);
                player.wrap().start();
                break;
            case 1:
            case 2:
                player.wrap().togglePause();
                break;
            case 3:
            case 4:
                player.wrap().requestSeek(static_cast<int>(random() % 101));
                break;
            case 5:
                player.wrap().toggleEnhancement();
                break;
            case 6:
                player.wrap().setBandGain(static_cast<int>(random() % 8), static_cast<int>(random() % 7));
                player.wrap().takeBandPeaks();
                break;
            case 7:
                player.output().setVolume(static_cast<int>(random() % 101));
                break;
            default:
                player.wrap().start();  // resumes a paused player, or starts an ended one
                break;
        }
        player.messages();
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 6));
    }
    const auto before = Clock::now();
    player.wrap().stop();
    EXPECT_LT(Clock::now() - before, 2s);
    EXPECT_FALSE(player.wrap().isRunning());
    EXPECT_FALSE(player.output().isOpen());
    ASSERT_FALSE(player.notified(notify::kState).empty());
    EXPECT_EQ(player.notified(notify::kState).back(), notify::kStopped);
}

}  // namespace
}  // namespace veloraplay

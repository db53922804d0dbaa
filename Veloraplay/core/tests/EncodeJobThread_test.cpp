// The encoder window's job over real files: what it writes is what EncodeWaveFile (and so
// `velora encode`) writes, a stop leaves nothing behind, failures are told and nothing is
// handed to the library, the monitor hears a decode of the output, and the status line
// comes at most once per elapsed second.
#include "EncodeJobThread.h"

#include "DecodeJob.h"
#include "EncodeMonitor.h"
#include "EncoderTestKit.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace veloraplay {
namespace {

using test::CollectingMonitor;
using test::TempFolder;

// Keeps the reports; optionally stops the job once the progress reaches `stopAt`.
class Reports final : public EncodeJobReport {
  public:
    EncodeJob* stopJob = nullptr;
    int stopAt = -1;
    std::vector<int> positions;
    std::vector<std::string> statuses, messages, handed;
    int beeps = 0;

    void started() override {}
    void progress(int position) override {
        positions.push_back(position);
        if (stopJob && stopAt >= 0 && position >= stopAt) stopJob->stop();
    }
    void status(const std::string& line) override { statuses.push_back(line); }
    void message(const std::string& text) override { messages.push_back(text); }
    void beep() override { ++beeps; }
    void handOver(const std::string& path) override { handed.push_back(path); }
    void finished() override {
        std::lock_guard<std::mutex> lock(m_);
        done_ = true;
        cv_.notify_all();
    }
    void wait() {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [this] { return done_; });
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
};

void runJob(EncodeJob& job, const EncodeJobSettings& settings, Reports& reports) {
    ASSERT_TRUE(job.start(settings, reports));
    reports.wait();
    job.join();
    EXPECT_FALSE(job.running());
}

std::string encodedByLibrary(const std::string& input, const EncodeOptions& options) {
    std::FILE* f = std::tmpfile();
    std::atomic<bool> cancel{false};
    const EncodeOutcome r = EncodeWaveFile(input, f, options, cancel, EncodeProgress());
    EXPECT_TRUE(r.ok) << r.error;
    std::string bytes;
    std::rewind(f);
    char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
    return bytes;
}

std::vector<std::string> filesIn(const std::string& folder) {
    return test::namesIn(folder);
}

EncodeJobSettings windowDefaults(const std::string& in, const std::string& out) {
    EncodeJobSettings s;
    s.inputPath = in;
    s.outputPath = out;
    s.options.channelMode = 2;  // Stereo, as the list selects for a two-channel file
    s.options.qualityMode = 2;  // Extra High Quality on
    s.addToLibrary = true;
    return s;
}

TEST(EncodeJobThread, WritesWhatTheEncodeCommandWritesAtCbrAndVbr) {
    TempFolder dir;
    const std::string in = dir / "in.wav";
    test::writeWave(in, 44100, 2, test::toneSamples(44100, 2, 44100));
    for (const int quality : {0, 50}) {
        SCOPED_TRACE(quality);
        EncodeJobSettings s = windowDefaults(in, dir / "out.mp3");
        s.options.vbrQuality = quality;
        EncodeJob job(nullptr);
        Reports reports;
        runJob(job, s, reports);
        EXPECT_TRUE(reports.messages.empty());
        const std::string written = test::readFile(s.outputPath);
        ASSERT_GT(written.size(), 1000u);
        EXPECT_TRUE(written == encodedByLibrary(in, s.options)) << "the window's job wrote other bytes";
        EXPECT_EQ(reports.handed, std::vector<std::string>{s.outputPath});
        ASSERT_FALSE(reports.positions.empty());
        EXPECT_EQ(reports.positions.front(), 0);
        EXPECT_EQ(reports.positions.back(), kProgressRange);
        EXPECT_TRUE(std::is_sorted(reports.positions.begin(), reports.positions.end()));
        EXPECT_EQ(reports.beeps, 1);  // no monitor: the end is told by a beep
        EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"in.wav", "out.mp3"}));
    }
}

TEST(EncodeJobThread, AStoppedJobLeavesNoFileAndKeepsAnOldOne) {
    TempFolder dir;
    const std::string in = dir / "in.wav";
    test::writeWave(in, 44100, 2, test::toneSamples(44100, 2, 44100 * 2));
    for (const bool oldFile : {false, true}) {
        SCOPED_TRACE(oldFile);
        const std::string out = dir / "out.mp3";
        if (oldFile) velora::testing::WriteFile(out, {1, 2, 3});
        EncodeJob job(nullptr);
        Reports reports;
        reports.stopJob = &job;
        reports.stopAt = kProgressRange / 2;
        runJob(job, windowDefaults(in, out), reports);
        EXPECT_TRUE(reports.handed.empty());
        EXPECT_TRUE(reports.messages.empty());
        EXPECT_EQ(reports.beeps, 1);
        EXPECT_LT(reports.positions.back(), kProgressRange);
        EXPECT_EQ(filesIn(dir.path()), oldFile ? (std::vector<std::string>{"in.wav", "out.mp3"})
                                               : std::vector<std::string>{"in.wav"});
        if (oldFile) {
            EXPECT_EQ(test::readFile(out).size(), 3u);
        }
        std::remove(out.c_str());
    }
}

TEST(EncodeJobThread, FailuresAreToldAndNothingIsHandedOn) {
    TempFolder dir;
    const std::string in = dir / "in.wav";
    test::writeWave(in, 44100, 2, test::toneSamples(44100, 2, 8000));
    const std::string notWave = dir / "text.wav";
    velora::testing::WriteFile(notWave, {'h', 'e', 'l', 'l', 'o'});
    struct Case {
        const char* what;
        std::string input, output;
        uint32_t channelMode;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"output folder missing", in, dir / "no/such/out.mp3", 2,
         cannotCreateOutputText(dir / "no/such/out.mp3", "No such file or directory")},
        {"output is the input", in, in, 2, cannotCreateOutputText(in, "it is the input file")},
        {"disk full", in, "/dev/full", 2, cannotWriteOutputText("/dev/full", "No space left on device")},
        {"input not a WAVE file", notWave, dir / "out.mp3", 2, kCannotOpenInput},
        {"64 kbit/s not offered in LC Stereo", in, dir / "out.mp3", 3, kOutputFormatFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EncodeJobSettings s = windowDefaults(c.input, c.output);
        s.options.channelMode = c.channelMode;
        EncodeJob job(nullptr);
        Reports reports;
        runJob(job, s, reports);
        EXPECT_EQ(reports.messages, std::vector<std::string>{c.message});
        EXPECT_TRUE(reports.handed.empty());
        EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"in.wav", "text.wav"}));
    }
}

TEST(EncodeJobThread, AnEmptyDataChunkEncodesWithoutDividingByZero) {
    TempFolder dir;
    const std::string in = dir / "empty.wav";
    test::writeWave(in, 44100, 2, {});
    EncodeJob job(nullptr);
    Reports reports;
    runJob(job, windowDefaults(in, dir / "out.mp3"), reports);
    EXPECT_TRUE(reports.messages.empty());
    EXPECT_EQ(reports.handed.size(), 1u);
    EXPECT_EQ(test::readFile(dir / "out.mp3"), encodedByLibrary(in, windowDefaults(in, "").options));
}

TEST(EncodeJobThread, TheMonitorHearsADecodeOfTheOutput) {
    TempFolder dir;
    const std::string in = dir / "in.wav";
    test::writeWave(in, 44100, 2, test::toneSamples(44100, 2, 44100));
    for (const int quality : {0, 50}) {
        SCOPED_TRACE(quality);
        CollectingMonitor monitor;
        EncodeJobSettings s = windowDefaults(in, dir / "out.mp3");
        s.options.vbrQuality = quality;
        s.monitor = true;
        EncodeJob job(&monitor);
        Reports reports;
        runJob(job, s, reports);
        EXPECT_EQ(reports.beeps, 0);  // played out instead
        EXPECT_EQ(monitor.opens, 1);
        EXPECT_EQ(monitor.drains, 1);
        EXPECT_EQ(monitor.channels, 2);
        EXPECT_EQ(monitor.rate, 44100);
        EXPECT_EQ(monitor.blockSamples, 1152);

        // Every frame written, decoded as the decode command does without the gapless trim
        // (the monitor hears the stream as it is made, before its length is known).
        class Collect final : public DecodeSink {
          public:
            std::vector<int16_t> pcm;
            bool Open(int, int) override { return true; }
            bool Write(const int16_t* s, size_t n) override {
                pcm.insert(pcm.end(), s, s + n);
                return true;
            }
            bool Finish() override { return true; }
        } decoded;
        std::FILE* f = std::fopen(s.outputPath.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        DecodeOptions options;
        options.gapless = false;
        std::atomic<bool> cancel{false};
        EXPECT_TRUE(DecodeStream(f, decoded, options, cancel, DecodeProgress()).ok);
        std::fclose(f);
        ASSERT_GT(decoded.pcm.size(), 44100u);
        EXPECT_TRUE(monitor.heard == decoded.pcm)
            << "heard " << monitor.heard.size() << " samples, the decode has " << decoded.pcm.size();
    }
}

TEST(EncodeJobThread, MonitorOnlyWritesNothingAndAFailedOutputTurnsMonitoringOff) {
    TempFolder dir;
    const std::string in = dir / "in.wav";
    test::writeWave(in, 44100, 1, test::toneSamples(44100, 1, 20000));
    for (const bool refuse : {false, true}) {
        SCOPED_TRACE(refuse);
        CollectingMonitor monitor;
        monitor.refuseOpen = refuse;
        EncodeJobSettings s = windowDefaults(in, "");
        s.options.channelMode = 1;
        s.monitor = true;
        EncodeJob job(&monitor);
        Reports reports;
        runJob(job, s, reports);
        EXPECT_TRUE(reports.messages.empty());
        EXPECT_TRUE(reports.handed.empty());  // nothing written, nothing for the library
        EXPECT_EQ(monitor.opens, 1);          // a refused output is not asked again
        EXPECT_EQ(reports.beeps, refuse ? 1 : 0);
        EXPECT_EQ(monitor.channels, refuse ? 0 : 1);
        EXPECT_EQ(monitor.rate, refuse ? 0 : 44100);  // a plain mp3 stream: no SBR for mono
        EXPECT_EQ(monitor.blockSamples, refuse ? 0 : 1152);
        EXPECT_EQ(monitor.heard.empty(), refuse);
        EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"in.wav"});
    }
}

TEST(EncodeJobThread, TheStatusLineComesAtMostOncePerElapsedSecond) {
    TempFolder dir;
    const std::string in = dir / "in.wav";
    // 2 s of audio: 154 chunks of 2304 bytes; the clock moves 0.1 s per look.
    test::writeWave(in, 44100, 2, test::toneSamples(44100, 2, 88200));
    auto now = std::chrono::steady_clock::time_point{};
    int looks = 0;
    EncodeJob job(nullptr, [&] {
        ++looks;
        now += std::chrono::milliseconds(100);
        return now;
    });
    Reports reports;
    runJob(job, windowDefaults(in, dir / "out.mp3"), reports);
    const int chunks = (88200 * 4 + 2303) / 2304;
    EXPECT_EQ(looks, chunks + 1);  // the start, then once per chunk
    ASSERT_EQ(reports.statuses.size(), static_cast<size_t>(chunks / 10));
    EXPECT_EQ(reports.statuses[0], "Duration: 00:00:00  Time: 00:00:01  Speed: 0.1");
    EXPECT_EQ(reports.statuses.back(), "Duration: 00:00:01  Time: 00:00:15  Speed: 0.1");
}

TEST(EncodeJobThread, TheVbrHeaderIsRewrittenOnlyOverAPlaceholderOfItsLength) {
    struct Case {
        int length;
        HeaderRewrite result;
        std::string file;  // afterwards: a 4-byte placeholder "pppp" before the frames "FFFF"
    } const cases[] = {
        {4, HeaderRewrite::Done, "HHHHFFFF"},
        {5, HeaderRewrite::LengthChanged, "ppppFFFF"},
        {3, HeaderRewrite::LengthChanged, "ppppFFFF"},
        {0, HeaderRewrite::LengthChanged, "ppppFFFF"},
    };
    const uint8_t header[] = {'H', 'H', 'H', 'H', 'H'};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        std::FILE* f = std::tmpfile();
        ASSERT_NE(f, nullptr);
        std::fputs("ppppFFFF", f);
        EXPECT_EQ(RewriteVbrHeader(f, header, c.length, 4), c.result);
        if (c.result == HeaderRewrite::Done) {
            EXPECT_EQ(std::ftell(f), 8);  // at the end again, for anything appended
        }
        std::rewind(f);
        char back[16] = {};
        EXPECT_EQ(std::fread(back, 1, sizeof back, f), 8u);
        EXPECT_EQ(std::string(back), c.file);
        std::fclose(f);
    }
}

}  // namespace
}  // namespace veloraplay

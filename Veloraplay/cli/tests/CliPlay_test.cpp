// velora play through the WAVE backend (VELORAPLAY_AUDIO=wav:PATH): what is heard equals what
// velora decode writes, sample for sample, at full volume and scaled at half; a seek leaves the
// rest of the file; a file that fails is named and the next one plays; a signal stops cleanly;
// on a terminal the keys pause and quit and the terminal is given back as it was.
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CommandFixture.h"

namespace {

namespace fs = std::filesystem;

using velora::cli::test::CommandResult;
using velora::cli::test::Slurp;

constexpr int kRate = 44100;

uint32_t Le32(const std::string& s, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}

using velora::cli::test::PutLe;

// Two tones and a little noise, stereo 16-bit, `seconds` long.
void WriteWave(const fs::path& path, double seconds) {
    const auto frames = static_cast<uint32_t>(seconds * kRate);
    std::string data;
    uint32_t noise = 12345;
    for (uint32_t i = 0; i < frames; ++i) {
        noise = noise * 1103515245u + 12345u;
        const double t = static_cast<double>(i) / kRate;
        const auto l = static_cast<int16_t>(8000.0 * std::sin(2 * M_PI * 440.0 * t) +
                                            static_cast<double>((noise >> 16) % 2000) - 1000.0);
        const auto r = static_cast<int16_t>(6000.0 * std::sin(2 * M_PI * 1234.0 * t));
        PutLe(data, static_cast<uint16_t>(l), 2);
        PutLe(data, static_cast<uint16_t>(r), 2);
    }
    std::ofstream(path, std::ios::binary)
        << velora::cli::test::WaveHeader(2, kRate, 16, static_cast<uint32_t>(data.size())) << data;
}

// Stereo frames that count themselves (left the frame modulo 30000, right the rest), so that a
// jump shows.
void WriteRamp(const fs::path& path, double seconds) {
    const auto frames = static_cast<uint32_t>(seconds * kRate);
    std::string h = velora::cli::test::WaveHeader(2, kRate, 16, frames * 4);
    for (uint32_t i = 0; i < frames; ++i) {
        PutLe(h, i % 30000, 2);
        PutLe(h, i / 30000, 2);
    }
    std::ofstream(path, std::ios::binary) << h;
}

// The samples of a 16-bit WAVE file with the plain 44-byte header (what velora writes).
struct Pcm {
    int channels = 0;
    int rate = 0;
    std::vector<int16_t> samples;
    bool headerConsistent = false;  // the sizes match the file
};

Pcm ReadPcm(const fs::path& path) {
    Pcm p;
    const std::string s = Slurp(path);
    if (s.size() < 44 || s.compare(0, 4, "RIFF") != 0 || s.compare(36, 4, "data") != 0) return p;
    p.channels = static_cast<uint8_t>(s[22]);
    p.rate = static_cast<int>(Le32(s, 24));
    p.headerConsistent = Le32(s, 4) == s.size() - 8 && Le32(s, 40) == s.size() - 44;
    const size_t n = (s.size() - 44) / 2;
    p.samples.resize(n);
    for (size_t i = 0; i < n; ++i) {
        p.samples[i] = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint8_t>(s[44 + 2 * i]) |
                                                                  static_cast<uint8_t>(s[45 + 2 * i]) << 8));
    }
    return p;
}

// Where two sample runs first differ, or -1.
long long FirstDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return static_cast<long long>(i);
    }
    return a.size() == b.size() ? -1 : static_cast<long long>(n);
}

class velora_cli_play : public velora::cli::test::CommandFixture {
  protected:
    velora_cli_play() : CommandFixture("velora-play-") {}

    void SetUp() override {
        CommandFixture::SetUp();
        wave_ = dir_ / "tones.wav";
        WriteWave(wave_, 2.0);
        plain_ = dir_ / "plain.mp3";
        velora_ = dir_ / "velora.mp3";
        ASSERT_EQ(Velora("encode --quiet --no-sbr -b 128 " + wave_.string() + " " + plain_.string()).status, 0);
        ASSERT_EQ(Velora("encode --quiet " + wave_.string() + " " + velora_.string()).status, 0);
    }

    // Runs `velora play ARGS` for each entry at once (each plays in real time), every one
    // with its own heard file `heard-K.wav`; returns their exit statuses and standard errors.
    std::vector<CommandResult> PlayAll(const std::vector<std::string>& args) {
        std::string script;
        for (size_t k = 0; k < args.size(); ++k) {
            const std::string K = std::to_string(k);
            script += "( VELORAPLAY_AUDIO=wav:" + Heard(k).string() + " " + VELORA_BINARY + " play " + args[k] +
                      " </dev/null >/dev/null 2>" + (dir_ / ("err-" + K)).string() + "; echo $? >" +
                      (dir_ / ("rc-" + K)).string() + " ) &\n";
        }
        script += "wait\n";
        const fs::path file = dir_ / "play.sh";
        std::ofstream(file) << script;
        std::system(("sh " + file.string()).c_str());
        std::vector<CommandResult> results(args.size());
        for (size_t k = 0; k < args.size(); ++k) {
            const std::string rc = Slurp(dir_ / ("rc-" + std::to_string(k)));
            results[k].status = rc.empty() ? -1 : std::atoi(rc.c_str());
            results[k].err = Slurp(dir_ / ("err-" + std::to_string(k)));
        }
        return results;
    }
    fs::path Heard(size_t k) const { return dir_ / ("heard-" + std::to_string(k) + ".wav"); }

    // velora decode's output for `input` with `options`.
    Pcm Decoded(const fs::path& input, const std::string& options) {
        const fs::path out = dir_ / "decoded.wav";
        const CommandResult r = Velora("decode -q " + options + " " + input.string() + " " + out.string());
        EXPECT_EQ(r.status, 0) << r.err;
        Pcm p = ReadPcm(out);
        fs::remove(out);
        return p;
    }

    fs::path wave_, plain_, velora_;
};

TEST_F(velora_cli_play, HeardEqualsTheDecode) {
    struct Case {
        const char* what;
        fs::path file;
        std::string playOptions;
        std::string decodeOptions;
        bool halfVolume;
        const char* kind;
    };
    const std::vector<Case> cases = {
        {"WAVE", wave_, "", "", false, "WAVE"},
        {"plain mp3", plain_, "", "", false, "plain mp3"},
        {"Velora", velora_, "", "", false, "Velora"},
        {"Velora without the enhancement", velora_, "--no-enhancement", "--no-enhancement", false,
         "Velora, enhancement off"},
        {"plain mp3 at half volume", plain_, "--volume 50", "", true, "plain mp3"},
        {"Velora at half volume", velora_, "--volume 50", "", true, "Velora"},
    };
    std::vector<std::string> args;
    for (const Case& c : cases) args.push_back(c.playOptions + " " + c.file.string());
    const std::vector<CommandResult> results = PlayAll(args);

    for (size_t k = 0; k < cases.size(); ++k) {
        const Case& c = cases[k];
        SCOPED_TRACE(c.what);
        EXPECT_EQ(results[k].status, 0) << results[k].err;
        // Standard error is no terminal: one line as the file starts, one as it stops.
        EXPECT_NE(results[k].err.find(std::string(c.kind) + "  playing\n"), std::string::npos) << results[k].err;
        EXPECT_NE(results[k].err.find("stopped\n"), std::string::npos) << results[k].err;
        const Pcm heard = ReadPcm(Heard(k));
        const Pcm reference = c.file == wave_ ? ReadPcm(wave_) : Decoded(c.file, c.decodeOptions);
        EXPECT_TRUE(heard.headerConsistent);
        EXPECT_EQ(heard.channels, reference.channels);
        EXPECT_EQ(heard.rate, reference.rate);
        ASSERT_EQ(heard.samples.size(), reference.samples.size());
        if (!c.halfVolume) {
            EXPECT_EQ(FirstDifference(heard.samples, reference.samples), -1);
            continue;
        }
        // --volume 50 is the device level 32767 of 65535.
        long long off = 0;
        for (size_t i = 0; i < heard.samples.size(); ++i) {
            const long expected = std::lround(reference.samples[i] * 32767.0 / 65535.0);
            if (std::abs(heard.samples[i] - expected) > 1) ++off;
        }
        EXPECT_EQ(off, 0);
    }
}

TEST_F(velora_cli_play, SeekLeavesTheRestOfTheFile) {
    struct Case {
        fs::path file;
        double seconds;
        long long slackFrames;  // per channel
    };
    // A 2 s file: 0.5 s and 1.8 s are whole percents of it, 0.73 s is rounded to 37 %. A
    // compressed stream resumes at a frame boundary, and its first frames after the jump
    // may be lost to the bit reservoir: a few frames either way.
    const std::vector<Case> cases = {
        {wave_, 0.5, 0},   {wave_, 1.8, 0},   {wave_, 0.73, 0},
        {plain_, 0.5, 3 * 1152}, {plain_, 1.8, 3 * 1152},
        {velora_, 0.5, 3 * 1152}, {velora_, 1.0, 3 * 1152},
    };
    std::vector<std::string> args;
    char seconds[32];
    for (const Case& c : cases) {
        std::snprintf(seconds, sizeof seconds, "%.2f", c.seconds);
        args.push_back(std::string("--seek ") + seconds + " " + c.file.string());
    }
    const std::vector<CommandResult> results = PlayAll(args);
    const Pcm source = ReadPcm(wave_);
    const Pcm plain = Decoded(plain_, "");
    const Pcm velora = Decoded(velora_, "");
    for (size_t k = 0; k < cases.size(); ++k) {
        const Case& c = cases[k];
        SCOPED_TRACE(c.file.filename().string() + " --seek " + std::to_string(c.seconds));
        EXPECT_EQ(results[k].status, 0) << results[k].err;
        const Pcm heard = ReadPcm(Heard(k));
        const Pcm& whole = c.file == wave_ ? source : (c.file == plain_ ? plain : velora);
        ASSERT_EQ(heard.channels, 2);
        const auto wholeFrames = static_cast<long long>(whole.samples.size() / 2);
        const auto heardFrames = static_cast<long long>(heard.samples.size() / 2);
        // The seek goes to a whole percent of the file.
        const double percent = std::round(100.0 * c.seconds / 2.0);
        const auto expected = wholeFrames - static_cast<long long>(static_cast<double>(wholeFrames) * percent / 100.0);
        EXPECT_NEAR(static_cast<double>(heardFrames), static_cast<double>(expected),
                    static_cast<double>(c.slackFrames))
            << "heard " << heardFrames << " of " << wholeFrames << " frames";
        if (c.file == wave_) {
            // The rest of a WAVE file, exactly.
            const std::vector<int16_t> tail(source.samples.end() - static_cast<std::ptrdiff_t>(heard.samples.size()),
                                            source.samples.end());
            EXPECT_EQ(FirstDifference(heard.samples, tail), -1);
        }
    }
}

TEST_F(velora_cli_play, FailuresAreNamedAndTheNextFilePlays) {
    const fs::path junk = dir_ / "junk.mp3";
    std::ofstream(junk) << std::string(5000, 'x');
    const fs::path missing = dir_ / "missing.mp3";
    const std::vector<CommandResult> results = PlayAll({
        missing.string() + " " + wave_.string(),
        junk.string(),
        "--volume 50 " + wave_.string(),
    });
    EXPECT_EQ(results[0].status, 1);
    EXPECT_NE(results[0].err.find("velora: Couldn't open " + missing.string() + " for playback.\n"),
              std::string::npos)
        << results[0].err;
    // The file after the failed one was heard whole.
    EXPECT_EQ(ReadPcm(Heard(0)).samples.size(), ReadPcm(wave_).samples.size());
    EXPECT_EQ(results[1].status, 1);
    EXPECT_NE(results[1].err.find("junk.mp3"), std::string::npos) << results[1].err;
    EXPECT_EQ(results[2].status, 0) << results[2].err;

    CommandResult r = Velora("play");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("play needs at least one FILE"), std::string::npos);
    for (const char* bad : {"--volume 101", "--volume x", "--seek -1", "--seek", "--frobnicate"}) {
        r = Velora(std::string("play ") + bad + " " + wave_.string());
        EXPECT_EQ(r.status, 2) << bad;
    }
    r = Velora("--help");
    EXPECT_NE(r.out.find("  play [OPTIONS] FILE..."), std::string::npos);
    EXPECT_NE(r.out.find("rounded to a whole"), std::string::npos);
}

TEST_F(velora_cli_play, SignalStopsAndCompletesTheOutput) {
    const fs::path longer = dir_ / "longer.wav";
    WriteWave(longer, 3.0);
    const fs::path heard = dir_ / "heard.wav";
    for (const int signo : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signo);
        fs::remove(heard);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            setenv("VELORAPLAY_AUDIO", ("wav:" + heard.string()).c_str(), 1);
            std::freopen("/dev/null", "r", stdin);
            std::freopen((dir_ / "err.txt").c_str(), "w", stderr);
            execl(VELORA_BINARY, VELORA_BINARY, "play", longer.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Until something has been heard.
        for (int i = 0; i < 100 && (!fs::exists(heard) || fs::file_size(heard) < 44 + 4 * 8192); ++i) {
            usleep(50000);
        }
        kill(pid, signo);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signo);
        const Pcm p = ReadPcm(heard);
        EXPECT_TRUE(p.headerConsistent);
        EXPECT_GT(p.samples.size(), 0u);
        EXPECT_LT(p.samples.size(), ReadPcm(longer).samples.size());
    }
}

// What the terminal says from `fd` until `want` shows up or `seconds` pass.
bool ReadUntil(int fd, std::string& seen, const std::string& want, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (seen.find(want) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[512];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) return seen.find(want) != std::string::npos;
        seen.append(buf, static_cast<size_t>(n));
    }
    return true;
}

TEST_F(velora_cli_play, KeysOnATerminal) {
    const fs::path longer = dir_ / "longer.wav";
    WriteWave(longer, 3.0);
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("VELORAPLAY_AUDIO", "null", 1);
        // The terminal's modes after velora has gone: stty runs on the same terminal.
        const std::string command = std::string(VELORA_BINARY) + " play " + longer.string() +
                                    "; echo \"status=$?\"; stty -a";
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string seen;
    EXPECT_TRUE(ReadUntil(master, seen, "WAVE  playing", 5)) << seen;
    // An unknown key is not echoed, and the space reaches velora without a newline.
    ASSERT_EQ(write(master, "# ", 2), 2);
    EXPECT_TRUE(ReadUntil(master, seen, "paused", 3)) << seen;
    EXPECT_EQ(seen.find('#'), std::string::npos) << seen;
    // Paused, the file would never end: only the key ends it.
    ASSERT_EQ(write(master, "q", 1), 1);
    EXPECT_TRUE(ReadUntil(master, seen, "status=0", 3)) << seen;
    EXPECT_TRUE(ReadUntil(master, seen, "extproc", 3)) << seen;  // the end of stty's report
    EXPECT_NE(seen.find(" icanon"), std::string::npos) << seen;
    EXPECT_NE(seen.find(" echo "), std::string::npos) << seen;
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    close(master);
}

TEST_F(velora_cli_play, ArrowSeeksOnAndNextEndsTheFile) {
    const fs::path ramp = dir_ / "ramp.wav";
    constexpr double kSeconds = 5.0;
    WriteRamp(ramp, kSeconds);
    const fs::path heardFile = dir_ / "heard.wav";
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("VELORAPLAY_AUDIO", ("wav:" + heardFile.string()).c_str(), 1);
        execl(VELORA_BINARY, VELORA_BINARY, "play", ramp.c_str(), wave_.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string seen;
    EXPECT_TRUE(ReadUntil(master, seen, "ramp.wav  0:00 / 0:05  WAVE  playing", 5)) << seen;
    // The backend writes a buffer (14 blocks of 1024 frames, 0.33 s) once it has been played
    // whole: some before the jump, some after.
    usleep(600000);
    // Four steps on, then the next file before the first has ended.
    ASSERT_EQ(write(master, "\033[C\033[C\033OC\033[C", 12), 12);
    EXPECT_TRUE(ReadUntil(master, seen, "ramp.wav  0:01", 3)) << seen;
    usleep(1000000);
    ASSERT_EQ(write(master, "n", 1), 1);
    EXPECT_TRUE(ReadUntil(master, seen, "tones.wav  0:02 / 0:02  WAVE  stopped", 5)) << seen;
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    // The same format: the backend's file holds the ramp's part, then the whole second file.
    const Pcm heard = ReadPcm(heardFile);
    const Pcm tones = ReadPcm(wave_);
    ASSERT_GT(heard.samples.size(), tones.samples.size());
    const size_t rampSamples = heard.samples.size() - tones.samples.size();
    EXPECT_TRUE(std::equal(tones.samples.begin(), tones.samples.end(),
                           heard.samples.begin() + static_cast<std::ptrdiff_t>(rampSamples)));
    // One jump, forward by about the four steps (20 % of 5 s), to a whole percent of the file.
    std::vector<std::pair<long long, long long>> jumps;  // heard frame, source frame
    long long source = 0;
    for (size_t f = 0; f < rampSamples / 2; ++f) {
        const long long v = heard.samples[2 * f] + 30000LL * heard.samples[2 * f + 1];
        if (f == 0) {
            EXPECT_EQ(v, 0);
        } else if (v != source + 1) {
            jumps.emplace_back(static_cast<long long>(f), v);
        }
        source = v;
    }
    ASSERT_EQ(jumps.size(), 1u);
    const long long skipped = jumps[0].second - jumps[0].first;
    // Where the jump is heard lags the clock it was asked by by up to a buffer.
    EXPECT_NEAR(static_cast<double>(skipped), 0.20 * kSeconds * kRate, 0.10 * kSeconds * kRate);
    const long long dataBytes = static_cast<long long>(kSeconds * kRate) * 4;
    bool wholePercent = false;
    for (long long p = 0; p <= 100; ++p) wholePercent |= (dataBytes * p / 100) / 4 == jumps[0].second;
    EXPECT_TRUE(wholePercent) << jumps[0].second;
    // 'n' ended the ramp before its end.
    EXPECT_LT(source + 1, static_cast<long long>(kSeconds * kRate));
}

}  // namespace

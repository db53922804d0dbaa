// Test support: plain Layer III streams made by lame from a signal written here (a few tones
// below 5 kHz and a little noise), and mpg123 decodings of streams, all in a temporary folder.
// Tests that use it skip when lame or mpg123 is not installed.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace velora::test {

namespace lame_fs = std::filesystem;

inline std::string FindTool(const std::string& tool) {
    const char* path = std::getenv("PATH");
    const std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = end > start ? dirs.substr(start, end - start) : std::string(".");
        const std::string candidate = dir + "/" + tool;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

inline std::string ShellQuoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// True when the command exits with status 0.
inline bool RunTool(const std::string& command) {
    const int status = std::system((command + " </dev/null").c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

inline std::vector<uint8_t> ReadAll(const lame_fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline bool WriteAll(const lame_fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// A folder of its own under the system's temporary folder, removed with the object.
class ScratchDir {
  public:
    explicit ScratchDir(const std::string& tag) {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = lame_fs::temp_directory_path() /
                (tag + "-" + std::to_string(getpid()) + "-" + std::to_string(stamp));
        std::error_code ec;
        lame_fs::create_directories(path_, ec);
        ok_ = !ec;
    }
    ~ScratchDir() {
        std::error_code ec;
        lame_fs::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    bool Ok() const { return ok_; }
    lame_fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    lame_fs::path path_;
    bool ok_ = false;
};

struct Tone {
    double frequency;
    double amplitude;  // of full scale
};

// Interleaved 16-bit PCM: the tones (the same on every channel, a fixed phase offset on the
// second) plus white noise at `noise` of full scale from a fixed-seed generator.
inline std::vector<int16_t> MakeTones(int rate, int channels, double seconds,
                                      const std::vector<Tone>& tones, double noise) {
    const std::size_t frames = static_cast<std::size_t>(seconds * rate);
    std::vector<int16_t> pcm(frames * static_cast<std::size_t>(channels));
    uint32_t state = 12345u;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        for (int ch = 0; ch < channels; ++ch) {
            double v = 0.0;
            for (const Tone& tone : tones) {
                v += tone.amplitude *
                     std::sin(2.0 * std::numbers::pi * tone.frequency * t + 0.7 * ch);
            }
            state = state * 1664525u + 1013904223u;
            v += noise * (static_cast<double>(state >> 8) / 8388608.0 - 1.0);
            pcm[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(ch)] =
                static_cast<int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0));
        }
    }
    return pcm;
}

inline bool WriteWave(const lame_fs::path& path, const std::vector<int16_t>& pcm, int channels,
                      int rate) {
    std::vector<uint8_t> b;
    const auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    const auto u16 = [&](uint32_t v) {
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(v >> 8));
    };
    const auto text = [&](const char* s) { b.insert(b.end(), s, s + 4); };
    const uint32_t data = static_cast<uint32_t>(pcm.size() * 2);
    text("RIFF");
    u32(36 + data);
    text("WAVE");
    text("fmt ");
    u32(16);
    u16(1);
    u16(static_cast<uint32_t>(channels));
    u32(static_cast<uint32_t>(rate));
    u32(static_cast<uint32_t>(rate * channels * 2));
    u16(static_cast<uint32_t>(channels * 2));
    u16(16);
    text("data");
    u32(data);
    for (int16_t s : pcm) u16(static_cast<uint16_t>(s));
    return WriteAll(path, b);
}

struct LameSettings {
    int rate = 22050;
    int channels = 2;
    int kbps = 96;
    bool noReservoir = true;
    // Hz; 0 leaves lame's choice. A Velora core needs no more than the band below the
    // enhancement's crossover, and leaves more spare bytes when it codes no more.
    int lowpass = 0;
    bool infoTag = false;  // let lame write its Xing/Info frame first
};

// Encodes `pcm` with lame at a constant bit rate. Nothing when lame fails.
inline std::optional<std::vector<uint8_t>> EncodeWithLame(const std::string& lame,
                                                          const ScratchDir& dir,
                                                          const std::string& name,
                                                          const std::vector<int16_t>& pcm,
                                                          const LameSettings& s) {
    const lame_fs::path wav = dir / (name + ".wav");
    const lame_fs::path mp3 = dir / (name + ".mp3");
    if (!WriteWave(wav, pcm, s.channels, s.rate)) return std::nullopt;
    char rate[16];
    std::snprintf(rate, sizeof(rate), "%g", s.rate / 1000.0);
    const std::string command =
        ShellQuoted(lame) + " --quiet --cbr -b " + std::to_string(s.kbps) +
        (s.infoTag ? "" : " -t") + (s.noReservoir ? " --nores" : "") + " --resample " + rate +
        (s.lowpass > 0 ? " --lowpass " + std::to_string(s.lowpass / 1000.0) : "") +
        (s.channels == 1 ? " -m m " : " -m s ") + ShellQuoted(wav.string()) + " " +
        ShellQuoted(mp3.string());
    if (!RunTool(command)) return std::nullopt;
    return ReadAll(mp3);
}

// What mpg123 makes of a stream: its 16-bit samples (interleaved) and what it printed.
struct Mpg123Decoding {
    bool ran = false;  // mpg123 exited with status 0
    std::vector<int16_t> pcm;
    std::string messages;
};

inline Mpg123Decoding DecodeWithMpg123(const std::string& mpg123, const ScratchDir& dir,
                                       const std::string& name, const std::vector<uint8_t>& mp3) {
    Mpg123Decoding d;
    const lame_fs::path in = dir / (name + ".mp3");
    const lame_fs::path raw = dir / (name + ".raw");
    const lame_fs::path log = dir / (name + ".log");
    if (!WriteAll(in, mp3)) return d;
    d.ran = RunTool(ShellQuoted(mpg123) + " --no-gapless -q -s " + ShellQuoted(in.string()) + " >" +
                    ShellQuoted(raw.string()) + " 2>" + ShellQuoted(log.string()));
    const std::vector<uint8_t> bytes = ReadAll(raw);
    d.pcm.resize(bytes.size() / 2);
    for (std::size_t i = 0; i < d.pcm.size(); ++i) {
        d.pcm[i] = static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    }
    const std::vector<uint8_t> text = ReadAll(log);
    d.messages.assign(text.begin(), text.end());
    return d;
}

}  // namespace velora::test

// Cross-checks the decoder against mpg123 on streams that lame makes from a signal written
// here: MPEG-1, MPEG-2 and MPEG-2.5 Layer III at constant and variable bit rates, in stereo,
// joint stereo, forced M/S, dual channel and mono, with CRCs and without the bit reservoir.
// Both decoders leave the encoder's Info frame out and trim the delay and padding its
// extension records, or with --no-gapless keep every sample after it: either way the output
// must be as long as mpg123's and within 1 LSB of it.
// lame and mpg123 must be on PATH (./scripts/setup.sh installs them): without them the test
// fails rather than skips, so a machine that lacks them cannot pass unnoticed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <numbers>
#include <string>
#include <system_error>
#include <vector>

#include "DecodeJob.h"
#include "WaveFileWriter.h"

namespace veloraplay {
namespace {

namespace fs = std::filesystem;

constexpr int kSourceRate = 44100;
constexpr double kSourceSeconds = 5.0;

// ---------------------------------------------------------------------------------------------
// The source signal: two seconds of tones, a sweep and coloured noise, then three seconds of
// sharp noise bursts and clicks over a quiet background, so the encoder switches to short
// blocks. A fixed-seed generator keeps it the same on every run.

class Lcg {
  public:
    explicit Lcg(uint32_t seed) : state_(seed) {}
    double Next() {  // uniform in [-1, 1)
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<double>(state_ >> 8) / 8388608.0 - 1.0;
    }

  private:
    uint32_t state_;
};

std::vector<int16_t> MakeSource() {
    const size_t frames = static_cast<size_t>(kSourceSeconds * kSourceRate);
    std::vector<int16_t> pcm(2 * frames);
    Lcg noise(20240611u);
    double colouredL = 0.0;
    double colouredR = 0.0;
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kSourceRate;
        colouredL += 0.2 * (noise.Next() - colouredL);
        colouredR += 0.2 * (noise.Next() - colouredR);
        double left = 0.0;
        double right = 0.0;
        if (t < 2.0) {
            const double swell = 0.5 + 0.5 * std::sin(kTwoPi * 0.7 * t);
            const double sweep =
                std::sin(kTwoPi * (200.0 * t + 1950.0 * t * t));  // 200 Hz to 8 kHz
            const double common = 0.25 * std::sin(kTwoPi * 440.0 * t);
            left = common + 0.15 * swell * std::sin(kTwoPi * 1250.0 * t) + 0.15 * colouredL;
            right =
                common + 0.1 * sweep + 0.2 * std::sin(kTwoPi * 660.0 * t + 1.0) + 0.15 * colouredR;
        } else {
            // A burst every 250 ms: one-sample attack, 4 ms decay, louder on alternate sides.
            const double sinceBurst = std::fmod(t - 2.0, 0.25);
            const int burst = static_cast<int>((t - 2.0) / 0.25);
            const double decay = 0.7 * std::exp(-sinceBurst / 0.004);
            const double louder = (burst % 2) == 0 ? 1.0 : 0.6;
            const double background = 0.01 * colouredL + 0.02 * std::sin(kTwoPi * 330.0 * t);
            const double burstNoise = noise.Next();
            left = background + decay * louder * burstNoise;
            right = background + decay * (1.6 - louder) * burstNoise;
            if (std::fabs(sinceBurst - 0.125) < 0.5 / kSourceRate) {  // a click between bursts
                left += 0.8;
                right -= 0.8;
            }
        }
        pcm[2 * i] = static_cast<int16_t>(std::lround(std::clamp(left, -1.0, 1.0) * 32767.0));
        pcm[2 * i + 1] = static_cast<int16_t>(std::lround(std::clamp(right, -1.0, 1.0) * 32767.0));
    }
    return pcm;
}

// ---------------------------------------------------------------------------------------------
// Files and tools

struct Pcm {
    int channels = 0;
    int sampleRate = 0;
    std::vector<int16_t> samples;
    size_t Frames() const {
        return channels > 0 ? samples.size() / static_cast<size_t>(channels) : 0;
    }
};

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// Reads a 16-bit PCM WAVE file chunk by chunk. A data size larger than the file (a streamed
// header) is cut to what is there.
bool ReadWave(const fs::path& path, Pcm& pcm, std::string& error) {
    const std::vector<uint8_t> b = ReadBytes(path);
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF" ||
        std::string(b.begin() + 8, b.begin() + 12) != "WAVE") {
        error = path.string() + ": not a RIFF/WAVE file";
        return false;
    }
    bool haveFormat = false;
    size_t at = 12;
    while (at + 8 <= b.size()) {
        const std::string id(b.begin() + static_cast<long>(at),
                             b.begin() + static_cast<long>(at) + 4);
        const size_t size = std::min<size_t>(Le32(b, at + 4), b.size() - at - 8);
        const size_t body = at + 8;
        if (id == "fmt " && size >= 16) {
            const int bits = Le16(b, body + 14);
            pcm.channels = Le16(b, body + 2);
            pcm.sampleRate = static_cast<int>(Le32(b, body + 4));
            if (bits != 16 || pcm.channels < 1 || pcm.channels > 2) {
                error = path.string() + ": not 16-bit mono or stereo";
                return false;
            }
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat) break;
            pcm.samples.resize(size / 2);
            for (size_t i = 0; i < pcm.samples.size(); ++i) {
                pcm.samples[i] = static_cast<int16_t>(Le16(b, body + 2 * i));
            }
            return true;
        }
        at = body + size + (size & 1);
    }
    error = path.string() + ": no format or data chunk";
    return false;
}

bool WriteSource(const fs::path& path, const std::vector<int16_t>& pcm) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    WaveFileWriter writer;
    const bool ok = writer.Begin(out, 2, kSourceRate) && writer.Append(pcm.data(), pcm.size()) &&
                    writer.Finish();
    return std::fclose(out) == 0 && ok;
}

std::string FindOnPath(const std::string& tool) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string candidate =
            (end > start ? dirs.substr(start, end - start) : std::string(".")) + "/" + tool;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}

bool RunCommand(const std::string& command) {
    const int status = std::system((command + " </dev/null").c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// ---------------------------------------------------------------------------------------------
// What the stream holds, read from the frame headers and side information by a walker of its
// own: frame count, format, whether an Info frame leads, and how many granules of each block
// type the encoder chose.

struct StreamFacts {
    int version = 0;  // 1: MPEG-1, 2: MPEG-2, 3: MPEG-2.5
    int sampleRate = 0;
    int channels = 0;
    long frames = 0;
    long blockTypes[4] = {0, 0, 0, 0};  // granule-channels of each type
    bool infoFrame = false;             // the first frame carries the encoder's Xing/Info tag
    int SamplesPerFrame() const { return version == 1 ? 1152 : 576; }
};

class Bits {
  public:
    Bits(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint32_t Read(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            const size_t byte = pos_ >> 3;
            const uint32_t bit = byte < size_ ? (data_[byte] >> (7 - (pos_ & 7))) & 1u : 0u;
            v = (v << 1) | bit;
            ++pos_;
        }
        return v;
    }
    void Skip(int n) { pos_ += static_cast<size_t>(n); }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

StreamFacts WalkStream(const std::vector<uint8_t>& b) {
    static constexpr int kBitrate1[15] = {0,   32,  40,  48,  56,  64,  80, 96,
                                          112, 128, 160, 192, 224, 256, 320};
    static constexpr int kBitrate2[15] = {0,  8,  16, 24,  32,  40,  48, 56,
                                          64, 80, 96, 112, 128, 144, 160};
    static constexpr int kRate1[3] = {44100, 48000, 32000};
    StreamFacts facts;
    size_t at = 0;
    if (b.size() >= 10 && b[0] == 'I' && b[1] == 'D' && b[2] == '3') {
        at = 10 + (static_cast<size_t>(b[6] & 0x7f) << 21 | static_cast<size_t>(b[7] & 0x7f) << 14 |
                   static_cast<size_t>(b[8] & 0x7f) << 7 | static_cast<size_t>(b[9] & 0x7f));
    }
    while (at + 4 <= b.size()) {
        const uint32_t h = static_cast<uint32_t>(b[at]) << 24 |
                           static_cast<uint32_t>(b[at + 1]) << 16 |
                           static_cast<uint32_t>(b[at + 2]) << 8 | b[at + 3];
        const uint32_t versionBits = (h >> 19) & 3;
        const uint32_t bitrateIndex = (h >> 12) & 15;
        const uint32_t rateIndex = (h >> 10) & 3;
        if ((h >> 21) != 0x7ff || versionBits == 1 || ((h >> 17) & 3) != 1 || bitrateIndex == 0 ||
            bitrateIndex == 15 || rateIndex == 3) {
            break;  // the end, or a tag
        }
        const int version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 3;
        const int rate = kRate1[rateIndex] >> (version - 1);
        const int kbps = version == 1 ? kBitrate1[bitrateIndex] : kBitrate2[bitrateIndex];
        const size_t length =
            static_cast<size_t>((version == 1 ? 144000 : 72000) * kbps / rate) + ((h >> 9) & 1);
        const bool mono = ((h >> 6) & 3) == 3;
        const bool crc = ((h >> 16) & 1) == 0;
        if (at + length > b.size()) break;
        if (facts.frames == 0) {
            facts.version = version;
            facts.sampleRate = rate;
            facts.channels = mono ? 1 : 2;
            const std::string first(b.begin() + static_cast<long>(at),
                                    b.begin() + static_cast<long>(at + length));
            facts.infoFrame =
                first.find("Info") != std::string::npos || first.find("Xing") != std::string::npos;
        }

        const size_t sideInfo = at + 4 + (crc ? 2 : 0);
        Bits bits(b.data() + sideInfo, length - (sideInfo - at));
        const int channels = mono ? 1 : 2;
        const int granules = version == 1 ? 2 : 1;
        if (version == 1) {
            bits.Skip(9 + (mono ? 5 : 3) + 4 * channels);  // main_data_begin, private, scfsi
        } else {
            bits.Skip(8 + (mono ? 1 : 2));
        }
        for (int gr = 0; gr < granules; ++gr) {
            for (int ch = 0; ch < channels; ++ch) {
                bits.Skip(12 + 9 + 8 + (version == 1 ? 4 : 9));  // length, big values, gain, sf
                int blockType = 0;
                if (bits.Read(1) != 0) {  // window switching
                    blockType = static_cast<int>(bits.Read(2));
                    bits.Skip(1 + 2 * 5 + 3 * 3);  // mixed, tables, subblock gains
                } else {
                    bits.Skip(3 * 5 + 4 + 3);  // tables, region counts
                }
                bits.Skip((version == 1 ? 1 : 0) + 1 + 1);  // preflag, scale, count1 table
                ++facts.blockTypes[blockType];
            }
        }
        ++facts.frames;
        at += length;
    }
    return facts;
}

// ---------------------------------------------------------------------------------------------
// Comparison of velora's output (`ours`) against mpg123's (`ref`), ours shifted ahead by
// `offset` sample frames.

struct Match {
    long offset = 0;
    double psnr = 0.0;
    int maxDiff = 0;
    size_t frames = 0;
    double referenceRms = 0.0;  // of mpg123's output over the compared part, in LSB
};

Match CompareAt(const Pcm& ours, const Pcm& ref, long offset) {
    Match m;
    m.offset = offset;
    const long first = std::max(0L, -offset);
    const long last =
        std::min(static_cast<long>(ref.Frames()), static_cast<long>(ours.Frames()) - offset);
    if (last <= first || ours.channels != ref.channels) return m;
    const size_t ch = static_cast<size_t>(ref.channels);
    double error = 0.0;
    double energy = 0.0;
    for (long n = first; n < last; ++n) {
        for (size_t c = 0; c < ch; ++c) {
            const int r = ref.samples[static_cast<size_t>(n) * ch + c];
            const int d = ours.samples[static_cast<size_t>(n + offset) * ch + c] - r;
            error += static_cast<double>(d) * d;
            energy += static_cast<double>(r) * r;
            m.maxDiff = std::max(m.maxDiff, d < 0 ? -d : d);
        }
    }
    m.frames = static_cast<size_t>(last - first);
    const double count = static_cast<double>(m.frames * ch);
    const double mse = error / count;
    m.psnr = mse > 0.0 ? 10.0 * std::log10(32767.0 * 32767.0 / mse)
                       : std::numeric_limits<double>::infinity();
    m.referenceRms = std::sqrt(energy / count);
    return m;
}

// ---------------------------------------------------------------------------------------------

struct Setting {
    const char* name;
    const char* lameArguments;
    int version;
    int sampleRate;
    int channels;
};

void PrintTo(const Setting& s, std::ostream* os) {
    *os << s.name << " (lame " << s.lameArguments << ")";
}

class CrossCheck : public ::testing::TestWithParam<Setting> {
  protected:
    static void SetUpTestSuite() {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir_ = fs::temp_directory_path() /
               ("velora-crosscheck-" + std::to_string(getpid()) + "-" + std::to_string(stamp));
        std::error_code ec;
        fs::create_directories(dir_, ec);
        sourceWritten_ = !ec && WriteSource(dir_ / "source.wav", MakeSource());
    }

    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    void SetUp() override {
        lame_ = FindOnPath("lame");
        mpg123_ = FindOnPath("mpg123");
        ASSERT_FALSE(lame_.empty()) << "lame is not on PATH; ./scripts/setup.sh installs it";
        ASSERT_FALSE(mpg123_.empty()) << "mpg123 is not on PATH; ./scripts/setup.sh installs it";
        ASSERT_TRUE(sourceWritten_) << "cannot write the source signal in " << dir_;
    }

    static fs::path dir_;
    static bool sourceWritten_;
    std::string lame_;
    std::string mpg123_;
};

fs::path CrossCheck::dir_;
bool CrossCheck::sourceWritten_ = false;

TEST_P(CrossCheck, MatchesMpg123) {
    const Setting& s = GetParam();
    const fs::path mp3 = dir_ / (std::string(s.name) + ".mp3");

    ASSERT_TRUE(RunCommand(Quoted(lame_) + " --quiet " + s.lameArguments + " " +
                           Quoted((dir_ / "source.wav").string()) + " " + Quoted(mp3.string())))
        << "lame " << s.lameArguments << " failed";

    // The stream is what the setting asks for.
    const StreamFacts facts = WalkStream(ReadBytes(mp3));
    ASSERT_GT(facts.frames, 10);
    EXPECT_EQ(facts.version, s.version);
    EXPECT_EQ(facts.sampleRate, s.sampleRate);
    EXPECT_EQ(facts.channels, s.channels);
    // The transients must have made the encoder switch to short blocks and back.
    EXPECT_GT(facts.blockTypes[2], 0);
    EXPECT_GT(facts.blockTypes[1], 0);
    EXPECT_GT(facts.blockTypes[3], 0);

    // Default (gapless) and --no-gapless, each against mpg123 run the same way.
    for (const bool gapless : {true, false}) {
        SCOPED_TRACE(gapless ? "gapless" : "--no-gapless");
        const fs::path reference = dir_ / (std::string(s.name) + (gapless ? ".mpg123.wav" : ".mpg123-ng.wav"));
        const fs::path decoded = dir_ / (std::string(s.name) + (gapless ? ".velora.wav" : ".velora-ng.wav"));
        ASSERT_TRUE(RunCommand(Quoted(mpg123_) + (gapless ? "" : " --no-gapless") + " -q -w " +
                               Quoted(reference.string()) + " " + Quoted(mp3.string())))
            << "mpg123 failed on " << mp3;

        std::FILE* in = std::fopen(mp3.c_str(), "rb");
        ASSERT_NE(in, nullptr);
        std::FILE* out = std::fopen(decoded.c_str(), "wb");
        if (out == nullptr) std::fclose(in);
        ASSERT_NE(out, nullptr);
        const std::atomic<bool> cancel{false};
        DecodeOptions options;
        options.gapless = gapless;
        const DecodeOutcome outcome = DecodeToWave(in, out, options, cancel, nullptr);
        std::fclose(in);
        ASSERT_EQ(std::fclose(out), 0);
        ASSERT_TRUE(outcome.ok) << outcome.error;
        EXPECT_EQ(outcome.headerFrame, facts.infoFrame);
        EXPECT_EQ(outcome.frames, facts.frames - (facts.infoFrame ? 1 : 0));
        EXPECT_EQ(outcome.crcErrors, 0);
        EXPECT_EQ(outcome.concealed, 0);
        EXPECT_EQ(outcome.sampleRate, s.sampleRate);
        EXPECT_EQ(outcome.channels, s.channels);
        EXPECT_TRUE(outcome.incomplete.empty()) << outcome.incomplete;

        Pcm ours;
        Pcm ref;
        std::string error;
        ASSERT_TRUE(ReadWave(decoded, ours, error)) << error;
        ASSERT_TRUE(ReadWave(reference, ref, error)) << error;
        ASSERT_EQ(ref.sampleRate, s.sampleRate);
        ASSERT_EQ(ref.channels, s.channels);
        ASSERT_EQ(ours.sampleRate, s.sampleRate);
        ASSERT_EQ(ours.channels, s.channels);
        const long frame = facts.SamplesPerFrame();
        const long audioFrames = facts.frames - (facts.infoFrame ? 1 : 0);
        if (gapless && facts.infoFrame) {
            // The source's own length: lame records its delay and padding.
            EXPECT_EQ(static_cast<long>(ours.Frames()), std::lround(kSourceSeconds * s.sampleRate));
        } else {
            EXPECT_EQ(static_cast<long>(ours.Frames()), audioFrames * frame);
        }
        EXPECT_EQ(ours.Frames(), ref.Frames());
        const Match m = CompareAt(ours, ref, 0);
        std::printf(
            "%-24s %-12s %d Hz %d ch, %ld frames%s, block types long/start/short/stop %ld/%ld/%ld/%ld: "
            "%zu samples (mpg123 %zu), trimmed %lld + %lld, PSNR %.1f dB, max diff %d\n",
            s.name, gapless ? "gapless" : "--no-gapless", facts.sampleRate, facts.channels, facts.frames,
            facts.infoFrame ? " (Info)" : "", facts.blockTypes[0], facts.blockTypes[1], facts.blockTypes[2],
            facts.blockTypes[3], ours.Frames(), ref.Frames(), outcome.trimmedStart, outcome.trimmedEnd, m.psnr,
            m.maxDiff);
        EXPECT_EQ(m.frames, ref.Frames());
        EXPECT_GT(m.psnr, 90.0);
        EXPECT_LE(m.maxDiff, 1);
        // Nothing lost: both cover the whole source at this rate, and the signal is really there.
        EXPECT_GE(static_cast<double>(m.frames), std::floor(kSourceSeconds * s.sampleRate));
        EXPECT_GT(m.referenceRms, 300.0);
    }
}

const Setting kSettings[] = {
    {"mpeg1_stereo_cbr128", "-m s -b 128", 1, 44100, 2},
    {"mpeg1_joint_cbr192", "-m j -b 192", 1, 44100, 2},
    {"mpeg1_mono_cbr128", "-m m -b 128", 1, 44100, 1},
    {"mpeg1_joint_vbr_v2", "-V 2", 1, 44100, 2},
    {"mpeg1_joint_vbr_v6", "-V 6", 1, 44100, 2},
    {"mpeg1_forced_ms_crc", "-m f -b 160 -p", 1, 44100, 2},
    {"mpeg1_dual_no_reservoir", "-m d -b 192 --nores", 1, 44100, 2},
    {"mpeg2_22k_joint_cbr64", "--resample 22.05 -m j -b 64", 2, 22050, 2},
    {"mpeg2_24k_stereo_cbr80", "--resample 24 -m s -b 80", 2, 24000, 2},
    {"mpeg2_16k_mono_vbr_v4", "--resample 16 -m m -V 4", 2, 16000, 1},
    {"mpeg25_11k_joint_cbr32", "--resample 11.025 -m j -b 32", 3, 11025, 2},
    {"mpeg25_8k_joint_cbr16", "--resample 8 -m j -b 16", 3, 8000, 2},
    {"mpeg25_11k_mono_vbr_v5", "--resample 11.025 -m m -V 5", 3, 11025, 1},
    {"mpeg2_22k_mono_cbr32", "--resample 22.05 -m m -b 32", 2, 22050, 1},
};

INSTANTIATE_TEST_SUITE_P(Lame, CrossCheck, ::testing::ValuesIn(kSettings),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace veloraplay

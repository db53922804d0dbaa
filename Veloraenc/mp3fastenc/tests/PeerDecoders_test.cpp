// mpg123 and ffmpeg decode written streams without a message and to the same PCM as this
// project's decoder (which would not hold if a region boundary, table or length were read
// differently). Skipped when a tool is missing.

#include "BitstreamTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace velora::enc {
namespace {

struct Config {
    const char* name;
    int version;
    int samplingIndex;
    int mode;
    int bitrateIndex;
    bool crc;
    bool shortBlocks;
};

const Config kConfigs[] = {
    {"Mpeg1Joint44k128", 0, 0, 1, 9, false, true},
    {"Mpeg1Mono48k64", 0, 1, 3, 5, true, true},
    {"Mpeg1Stereo32k256", 0, 2, 0, 13, false, true},
    {"Mpeg2Joint22k64", 1, 0, 1, 8, false, true},
    {"Mpeg2Mono16k32", 1, 2, 3, 4, false, true},
    {"Mpeg25Joint11k32", 2, 0, 1, 4, true, true},
    {"Mpeg25Mono8k16", 2, 2, 3, 2, false, true},
    {"Mpeg25Joint8k24Long", 2, 2, 1, 3, false, false},
};

// Names the configuration in test listings (instead of the bytes of the record).
void PrintTo(const Config& c, std::ostream* os) {
    *os << c.name;
}

class mp3enc_bs_PeerDecoders : public ::testing::TestWithParam<Config> {};

test::WrittenStream StreamFor(const Config& c) {
    test::StreamOptions o;
    o.version = c.version;
    o.samplingIndex = c.samplingIndex;
    o.channelMode = c.mode;
    o.bitrateIndex = c.bitrateIndex;
    o.crc = c.crc;
    o.shortBlocks = c.shortBlocks;
    o.intensity = c.version != 0;
    o.frames = 40;
    o.seed = 300 + static_cast<uint32_t>(c.bitrateIndex);
    // What a real encoder writes and decoders agree on: window sequences, one block type per
    // granule in stereo, levels that do not overdrive the output, and intensity positions
    // that are not the largest value of their width, which mpg123 and ffmpeg read otherwise
    // than the rule (see BitstreamTestSupport.h).
    o.windowSequence = true;
    o.sameBlockTypes = true;
    o.lowestGain = 95;
    o.highestGain = 125;
    o.plainIntensityPositions = true;
    return test::WriteStream(o);
}

// mpg123's lines for a clean run: the banner, the stream, the end.
bool Mpg123LineIsPlain(const std::string& line) {
    if (line.empty()) return true;
    const char* plain[] = {"High Performance MPEG", "\tversion ",          "\tfree software",
                           "Directory: ",           "Playing MPEG stream", "MPEG "};
    for (const char* p : plain)
        if (line.rfind(p, 0) == 0) return true;
    return line.front() == '[' && line.find("Decoding of") != std::string::npos &&
           line.find("finished") != std::string::npos;
}

std::vector<int16_t> AsSamples(const std::vector<uint8_t>& raw) {
    std::vector<int16_t> s(raw.size() / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(static_cast<uint16_t>(raw[2 * i] | raw[2 * i + 1] << 8));
    return s;
}

double Rms(const std::vector<int16_t>& samples) {
    double sum = 0.0;
    for (int16_t v : samples) sum += static_cast<double>(v) * v;
    return samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

// Signal to error ratio in dB of `other` against `reference` over the common length.
double Agreement(const std::vector<int16_t>& reference, const std::vector<int16_t>& other,
                 int& maxDiff) {
    const size_t n = std::min(reference.size(), other.size());
    double signal = 0.0;
    double error = 0.0;
    maxDiff = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d = static_cast<double>(reference[i]) - other[i];
        signal += static_cast<double>(reference[i]) * reference[i];
        error += d * d;
        maxDiff = std::max(maxDiff, static_cast<int>(std::abs(d)));
    }
    if (error == 0.0) return 200.0;
    return 10.0 * std::log10(signal / error);
}

TEST_P(mp3enc_bs_PeerDecoders, Mpg123DecodesWithoutMessages) {
    if (!test::ToolAvailable("mpg123")) GTEST_SKIP() << "mpg123 not installed";
    const test::WrittenStream s = StreamFor(GetParam());
    ASSERT_TRUE(s.ok) << s.error;
    const std::string path = test::TempPath(std::string(GetParam().name) + ".mp3");
    ASSERT_TRUE(test::WriteFile(path, s.bytes));
    std::string output;
    const int status = test::RunCommand("mpg123 -t '" + path + "'", output);
    EXPECT_EQ(status, 0);
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(Mpg123LineIsPlain(line)) << "mpg123: " << line;

    // The same samples as this project's decoder.
    const std::string raw = path + ".raw";
    ASSERT_EQ(test::RunCommand("mpg123 -q -s '" + path + "' > '" + raw + "'", output), 0) << output;
    std::vector<Mp3Ssc> statuses;
    const std::vector<int16_t> ours = test::DecodePcm(s.bytes, statuses);
    const std::vector<int16_t> theirs = AsSamples(test::ReadFile(raw));
    for (Mp3Ssc st : statuses) EXPECT_EQ(st, kSscSuccess);
    EXPECT_EQ(theirs.size(), ours.size());
    int maxDiff = 0;
    const double snr = Agreement(ours, theirs, maxDiff);
    std::printf("%s: mpg123 agrees to %.1f dB (largest difference %d)\n", GetParam().name, snr,
                maxDiff);
    EXPECT_GT(Rms(ours), 50.0) << "the comparison needs a signal";
    EXPECT_GT(snr, 60.0);
    EXPECT_LE(maxDiff, 2);
    std::remove(path.c_str());
    std::remove(raw.c_str());
}

TEST_P(mp3enc_bs_PeerDecoders, FfmpegDecodesWithoutMessages) {
    if (!test::ToolAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const test::WrittenStream s = StreamFor(GetParam());
    ASSERT_TRUE(s.ok) << s.error;
    const std::string path = test::TempPath(std::string(GetParam().name) + ".mp3");
    const std::string raw = path + ".raw";
    ASSERT_TRUE(test::WriteFile(path, s.bytes));
    std::string output;
    const int status = test::RunCommand(
        "ffmpeg -nostdin -v error -y -i '" + path + "' -f s16le -acodec pcm_s16le '" + raw + "'",
        output);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(output, "") << "ffmpeg printed messages";
    std::vector<Mp3Ssc> statuses;
    const std::vector<int16_t> ours = test::DecodePcm(s.bytes, statuses);
    const std::vector<int16_t> theirs = AsSamples(test::ReadFile(raw));
    EXPECT_EQ(theirs.size(), ours.size());
    int maxDiff = 0;
    const double snr = Agreement(ours, theirs, maxDiff);
    std::printf("%s: ffmpeg agrees to %.1f dB (largest difference %d)\n", GetParam().name, snr,
                maxDiff);
    EXPECT_GT(Rms(ours), 50.0) << "the comparison needs a signal";
    EXPECT_GT(snr, 60.0);
    EXPECT_LE(maxDiff, 2);
    std::remove(path.c_str());
    std::remove(raw.c_str());
}

INSTANTIATE_TEST_SUITE_P(mp3enc_bs_Rates, mp3enc_bs_PeerDecoders, ::testing::ValuesIn(kConfigs),
                         [](const ::testing::TestParamInfo<Config>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
}  // namespace velora::enc

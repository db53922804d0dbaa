// WaveInputFile against the project's own writer and against hand-built layouts: extra and
// odd-sized chunks, INFO texts, refusals with their reasons, sizes that overstate the file,
// and reads and seeks at the edges of the data.
#include "WaveInputFile.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RiffTestFile.h"
#include "WaveFileWriter.h"

namespace {

namespace fs = std::filesystem;
using namespace velora::testing;
using velora::WaveInputFile;

class wave_input_Reader : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("wave-input-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Make(const std::string& name, const Bytes& bytes) {
        const fs::path p = dir_ / name;
        WriteFile(p, bytes);
        return p.string();
    }

    static std::vector<int16_t> ReadSamples(WaveInputFile& in, size_t maxBytes) {
        Bytes raw(maxBytes);
        const size_t got = in.Read(raw.data(), raw.size());
        std::vector<int16_t> s(got / 2);
        for (size_t i = 0; i < s.size(); ++i) {
            s[i] = static_cast<int16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
        }
        return s;
    }

    static std::vector<int16_t> Ramp(size_t n) {
        std::vector<int16_t> s(n);
        for (size_t i = 0; i < n; ++i) s[i] = static_cast<int16_t>(i * 517 - 30000);
        return s;
    }

    fs::path dir_;
};

TEST_F(wave_input_Reader, RoundTripWithWaveFileWriter) {
    for (int channels : {1, 2}) {
        const fs::path p = dir_ / ("rt" + std::to_string(channels) + ".wav");
        const std::vector<int16_t> samples = Ramp(1001 * static_cast<size_t>(channels));
        std::FILE* f = std::fopen(p.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        veloraplay::WaveFileWriter w;
        ASSERT_TRUE(w.Begin(f, channels, 32000));
        ASSERT_TRUE(w.Append(samples.data(), samples.size()));
        ASSERT_TRUE(w.Finish());
        std::fclose(f);

        EXPECT_TRUE(velora::IsPcmWaveFile(p.string()));
        WaveInputFile in;
        ASSERT_TRUE(in.Open(p.string())) << in.FailureReason();
        EXPECT_EQ(in.SampleRate(), 32000);
        EXPECT_EQ(in.Channels(), channels);
        EXPECT_EQ(in.DataBytes(), samples.size() * 2);
        EXPECT_EQ(in.DeclaredDataBytes(), in.DataBytes());
        EXPECT_EQ(ReadSamples(in, samples.size() * 2), samples);
        Bytes more(16);
        EXPECT_EQ(in.Read(more.data(), more.size()), 0u);
    }
}

TEST_F(wave_input_Reader, SkipsExtraChunksAndReadsInfoTexts) {
    const std::vector<int16_t> samples = Ramp(20);
    const std::string path = Make(
        "extra.wav",
        RiffWave({Chunk("junk", Bytes{1, 2, 3}),  // odd size: a pad byte follows
                  FormatChunk(1, 2, 48000, 16, 2),
                  InfoList({{"INAM", "Title"}, {"IART", "The Artist"}, {"ICMT", "A comment"}}),
                  Chunk("data", SamplesBody(samples)),
                  InfoList({{"ISFT", "ignored"}})}));

    WaveInputFile in;
    ASSERT_TRUE(in.Open(path)) << in.FailureReason();
    EXPECT_EQ(in.SampleRate(), 48000);
    EXPECT_EQ(in.Channels(), 2);
    EXPECT_EQ(in.DataBytes(), samples.size() * 2);
    EXPECT_EQ(in.Format().blockAlign, 4);

    // Half the data, then the texts, then the rest: the position must survive the search.
    Bytes half(20);
    ASSERT_EQ(in.Read(half.data(), half.size()), 20u);
    char name[16], artist[5], comment[64];
    std::memset(name, 'x', sizeof(name));
    std::memset(artist, 'x', sizeof(artist));
    std::memset(comment, 'x', sizeof(comment));
    ASSERT_TRUE(in.ReadInfoTexts(name, sizeof(name), artist, sizeof(artist), comment,
                                 sizeof(comment)));
    EXPECT_STREQ(name, "Title");
    EXPECT_STREQ(artist, "The ");  // length 5 holds 4 bytes and the terminator
    EXPECT_STREQ(comment, "A comment");
    EXPECT_EQ(name[15], '\0');  // zeroed first, not just terminated
    EXPECT_EQ(in.Position(), 20u);
    const std::vector<int16_t> rest = ReadSamples(in, 64);
    EXPECT_EQ(rest, std::vector<int16_t>(samples.begin() + 10, samples.end()));
}

TEST_F(wave_input_Reader, InfoTextsAreEmptyWithoutList) {
    const std::string path =
        Make("plain.wav", RiffWave({FormatChunk(1, 1, 8000, 16), Chunk("data", Bytes(8, 0))}));
    WaveInputFile in;
    ASSERT_TRUE(in.Open(path)) << in.FailureReason();
    char name[8], artist[8], comment[8];
    std::memset(name, 'x', sizeof(name));
    std::memset(artist, 'x', sizeof(artist));
    std::memset(comment, 'x', sizeof(comment));
    EXPECT_TRUE(in.ReadInfoTexts(name, sizeof(name), artist, sizeof(artist), comment,
                                 sizeof(comment)));
    EXPECT_EQ(std::string(name, sizeof(name)), std::string(8, '\0'));
    EXPECT_EQ(std::string(artist, sizeof(artist)), std::string(8, '\0'));
    EXPECT_EQ(std::string(comment, sizeof(comment)), std::string(8, '\0'));
}

TEST_F(wave_input_Reader, RefusesUnsupportedFilesWithReason) {
    const Bytes data = Chunk("data", Bytes(16, 0));
    Bytes notRiff = RiffWave({FormatChunk(1, 2, 44100, 16), data});
    std::memcpy(notRiff.data(), "RIFX", 4);
    Bytes notWave = RiffWave({FormatChunk(1, 2, 44100, 16), data});
    std::memcpy(notWave.data() + 8, "AVI ", 4);
    const Bytes full = RiffWave({FormatChunk(1, 2, 44100, 16), data});

    struct Case {
        const char* name;
        Bytes bytes;
        const char* reasonPart;
        bool lightCheck;  // what IsPcmWaveFile answers: it looks at the format tag only
    };
    const std::vector<Case> cases = {
        {"8-bit PCM", RiffWave({FormatChunk(1, 1, 8000, 8), data}), "bits", true},
        {"float", RiffWave({FormatChunk(3, 2, 44100, 32), data}), "format tag 3", false},
        {"3 channels", RiffWave({FormatChunk(1, 3, 44100, 16), data}), "3 channels", true},
        {"not RIFF", notRiff, "not a RIFF", false},
        {"not WAVE", notWave, "WAVE", false},
        {"truncated header", Bytes(full.begin(), full.begin() + 10), "too short", false},
        {"truncated fmt", Bytes(full.begin(), full.begin() + 28), "fmt", false},
        {"short fmt", RiffWave({Chunk("fmt ", Bytes(14, 0)), data}), "shorter than 16", false},
        {"no data", RiffWave({FormatChunk(1, 2, 44100, 16)}), "no data", true},
        {"data first", RiffWave({data, FormatChunk(1, 2, 44100, 16)}), "before fmt", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Make("bad.wav", c.bytes);
        WaveInputFile in;
        EXPECT_FALSE(in.Open(path));
        EXPECT_NE(in.FailureReason().find(c.reasonPart), std::string::npos)
            << in.FailureReason();
        EXPECT_FALSE(in.IsOpen());
        EXPECT_EQ(in.SampleRate(), 0);
        EXPECT_EQ(in.Channels(), 0);
        EXPECT_EQ(in.DataBytes(), 0u);
        EXPECT_EQ(velora::IsPcmWaveFile(path), c.lightCheck);
    }
    WaveInputFile in;
    EXPECT_FALSE(in.Open((dir_ / "missing.wav").string()));
    EXPECT_NE(in.FailureReason().find("cannot open"), std::string::npos);
    EXPECT_FALSE(velora::IsPcmWaveFile((dir_ / "missing.wav").string()));
}

TEST_F(wave_input_Reader, OverstatedSizesEndAtTheFileEnd) {
    const std::vector<int16_t> samples = Ramp(50);
    struct Case {
        const char* name;
        uint32_t dataSize;
        int64_t riffSize;
        uint64_t declared;  // what the reader says the data chunk claims
    };
    for (const Case& c : {Case{"data too large", 1000, -1, 1000}, Case{"both too large", 5000, 9000, 5000},
                          Case{"streamed", 0xFFFFFFFFu, 0xFFFFFFFFu, 100}}) {
        SCOPED_TRACE(c.name);
        Bytes header;
        AppendText(header, "data");
        Append32(header, c.dataSize);
        Bytes body = header;
        const Bytes s = SamplesBody(samples);
        body.insert(body.end(), s.begin(), s.end());
        const std::string path = Make("long.wav", RiffWave({FormatChunk(1, 1, 11025, 16), body},
                                                           c.riffSize));
        WaveInputFile in;
        ASSERT_TRUE(in.Open(path)) << in.FailureReason();
        EXPECT_EQ(in.DataBytes(), 100u);
        EXPECT_EQ(in.DeclaredDataBytes(), c.declared);
        EXPECT_EQ(ReadSamples(in, 2000), samples);
        Bytes more(8);
        EXPECT_EQ(in.Read(more.data(), more.size()), 0u);
    }
}

TEST_F(wave_input_Reader, SeekAndReadStayInsideTheData) {
    const std::vector<int16_t> samples = Ramp(8);
    const std::string path =
        Make("seek.wav", RiffWave({FormatChunk(1, 1, 8000, 16), Chunk("data", SamplesBody(samples)),
                                   Chunk("tail", Bytes(32, 0x55))}));
    WaveInputFile in;
    ASSERT_TRUE(in.Open(path)) << in.FailureReason();
    ASSERT_EQ(in.DataBytes(), 16u);

    // A large read stops at the data's end even though the "tail" chunk follows.
    Bytes buffer(64, 0xEE);
    EXPECT_EQ(in.Read(buffer.data(), buffer.size()), 16u);
    EXPECT_EQ(buffer[16], 0xEE);
    EXPECT_EQ(in.Read(buffer.data(), buffer.size()), 0u);

    ASSERT_TRUE(in.Seek(6));
    EXPECT_EQ(in.Position(), 6u);
    EXPECT_EQ(ReadSamples(in, 64), std::vector<int16_t>(samples.begin() + 3, samples.end()));

    ASSERT_TRUE(in.Seek(16));
    EXPECT_EQ(in.Read(buffer.data(), buffer.size()), 0u);
    ASSERT_TRUE(in.Seek(1000));  // clamped to the data's end
    EXPECT_EQ(in.Position(), 16u);
    EXPECT_EQ(in.Read(buffer.data(), buffer.size()), 0u);

    ASSERT_TRUE(in.Seek(14));
    EXPECT_EQ(in.Read(buffer.data(), buffer.size()), 2u);

    in.Close();
    EXPECT_EQ(in.DataBytes(), 0u);
    EXPECT_EQ(in.Read(buffer.data(), buffer.size()), 0u);
    EXPECT_FALSE(in.Seek(0));
}

}  // namespace

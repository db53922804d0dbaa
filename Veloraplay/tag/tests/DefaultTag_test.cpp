// The default tag of a newly encoded file: every field at its offset and width, title and
// artist from the source's INFO texts or else the file name and "Unknown", the year, the
// genre, and a buffer too small to take the tag.
#include "DefaultTag.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "RiffTestFile.h"

namespace {

namespace fs = std::filesystem;
using namespace velora::testing;

using Tag = std::array<uint8_t, 128>;

std::string Padded(const std::string& text, size_t width) {
    std::string s = text.substr(0, width);
    s.resize(width, ' ');
    return s;
}

// The tag as the layout describes it, assembled field by field.
std::string ExpectedTag(const std::string& title, const std::string& artist,
                        const std::string& year) {
    return "TAG" + Padded(title, 30) + Padded(artist, 30) + Padded("Unknown", 30) +
           Padded(year, 4) + Padded("KESTRAN Velora Encoder v1.0.4", 30) + std::string(1, '\x0C');
}

std::string AsString(const Tag& tag) { return std::string(tag.begin(), tag.end()); }

std::string Field(const Tag& tag, size_t offset, size_t width) {
    return std::string(tag.begin() + static_cast<long>(offset),
                       tag.begin() + static_cast<long>(offset + width));
}

class tag_default_Build : public ::testing::Test {
protected:
    void SetUp() override {
        // A dot in the directory name: only the file name's extension may be cut.
        dir_ = fs::temp_directory_path() /
               ("tag.default-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string WaveWithInfo(const std::string& name, const std::string& title,
                             const std::string& artist) {
        const fs::path p = dir_ / name;
        WriteFile(p, RiffWave({FormatChunk(1, 2, 44100, 16),
                               InfoList({{"INAM", title}, {"IART", artist}, {"ICMT", "x"}}),
                               Chunk("data", Bytes(8, 0))}));
        return p.string();
    }

    Tag Build(const std::string& source, int year = 2024) {
        Tag tag{};
        EXPECT_EQ(velora::BuildDefaultTag(tag.data(), static_cast<int>(tag.size()), source, year),
                  128);
        return tag;
    }

    fs::path dir_;
};

TEST_F(tag_default_Build, EveryFieldAtItsOffset) {
    const Tag tag = Build(WaveWithInfo("a.wav", "Song", "Singer"));
    EXPECT_EQ(AsString(tag), ExpectedTag("Song", "Singer", "2024"));
    EXPECT_EQ(Field(tag, 0, 3), "TAG");
    EXPECT_EQ(Field(tag, 3, 30), Padded("Song", 30));
    EXPECT_EQ(Field(tag, 33, 30), Padded("Singer", 30));
    EXPECT_EQ(Field(tag, 63, 30), Padded("Unknown", 30));
    EXPECT_EQ(Field(tag, 93, 4), "2024");
    EXPECT_EQ(Field(tag, 97, 30), "KESTRAN Velora Encoder v1.0.4 ");
    EXPECT_EQ(tag[127], 12);
}

TEST_F(tag_default_Build, InfoTextsAreCutToThirty) {
    const std::string longTitle = "A title that is much longer than thirty characters";
    const std::string longArtist = "An artist whose name runs past the field";
    const Tag tag = Build(WaveWithInfo("long.wav", longTitle, longArtist));
    EXPECT_EQ(Field(tag, 3, 30), longTitle.substr(0, 30));
    EXPECT_EQ(Field(tag, 33, 30), longArtist.substr(0, 30));
    EXPECT_EQ(Field(tag, 63, 30), Padded("Unknown", 30));  // the artist did not spill over
}

TEST_F(tag_default_Build, EmptyInfoTitleFallsBackToFileName) {
    const Tag tag = Build(WaveWithInfo("named.wav", "", "Band"));
    EXPECT_EQ(AsString(tag), ExpectedTag("named", "Band", "2024"));
}

TEST_F(tag_default_Build, LongFileNameGivesTwentyNineCharacters) {
    const std::string stem = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345678";
    ASSERT_EQ(stem.size(), 35u);
    const fs::path p = dir_ / (stem + ".wav");
    WriteFile(p, RiffWave({FormatChunk(1, 1, 8000, 16), Chunk("data", Bytes(4, 0))}));
    const Tag tag = Build(p.string());
    EXPECT_EQ(Field(tag, 3, 30), Padded(stem.substr(0, 29), 30));
    EXPECT_EQ(Field(tag, 33, 30), Padded("Unknown", 30));
}

TEST_F(tag_default_Build, NonWaveSourceUsesFileNameAndUnknownArtist) {
    const fs::path text = dir_ / "notes.v2.txt";
    WriteFile(text, TextBody("INAM IART: these are not RIFF chunks"));
    EXPECT_EQ(AsString(Build(text.string())), ExpectedTag("notes.v2", "Unknown", "2024"));
    // A source that does not exist is handled the same way.
    EXPECT_EQ(AsString(Build((dir_ / "gone.wav").string())),
              ExpectedTag("gone", "Unknown", "2024"));
    // A bare name without directory or extension gets the same treatment.
    EXPECT_EQ(AsString(Build("plainname")), ExpectedTag("plainname", "Unknown", "2024"));
}

TEST_F(tag_default_Build, YearIsFourDigitsAndGenreIsOther) {
    EXPECT_EQ(Field(Build("x.wav", 1999), 93, 4), "1999");
    EXPECT_EQ(Field(Build("x.wav", 7), 93, 4), "0007");
    EXPECT_EQ(Build("x.wav", 2031)[127], 12);

    Tag tag{};
    ASSERT_EQ(velora::BuildDefaultTag(tag.data(), 128, "x.wav"), 128);
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    EXPECT_EQ(Field(tag, 93, 4), std::to_string(utc.tm_year + 1900));
}

TEST_F(tag_default_Build, SmallBufferIsLeftUntouched) {
    Tag tag;
    tag.fill(0xAB);
    EXPECT_EQ(velora::BuildDefaultTag(tag.data(), 127, "x.wav", 2024), 0);
    EXPECT_EQ(velora::BuildDefaultTag(tag.data(), 0, "x.wav", 2024), 0);
    for (uint8_t b : tag) ASSERT_EQ(b, 0xAB);
    // A larger buffer gets exactly 128 bytes; what follows stays as it was.
    std::array<uint8_t, 140> big;
    big.fill(0xAB);
    EXPECT_EQ(velora::BuildDefaultTag(big.data(), 140, "x.wav", 2024), 128);
    EXPECT_EQ(big[0], 'T');
    for (size_t i = 128; i < big.size(); ++i) EXPECT_EQ(big[i], 0xAB);
}

}  // namespace

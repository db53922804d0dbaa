// The 128-byte tag: the layout read and written field by field, the track number rule,
// blank padding, the genre table, Latin-1 on disk, and the MPEG audio check that decides
// whether a tag may be added to a file.
#include "Id3v1Tag.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RiffTestFile.h"

namespace {

using velora::Id3v1Block;

std::string Padded(const std::string& text, size_t width, char pad = ' ') {
    std::string s = text.substr(0, width);
    s.resize(width, pad);
    return s;
}

Id3v1Block BlockOf(const std::string& bytes) {
    Id3v1Block block{};
    EXPECT_EQ(bytes.size(), block.size());
    std::memcpy(block.data(), bytes.data(), std::min(bytes.size(), block.size()));
    return block;
}

std::string AsString(const Id3v1Block& block) { return std::string(block.begin(), block.end()); }

// A tag assembled from its fields; `comment` is the full 30 bytes (with a track in it).
std::string RawTag(const std::string& title, const std::string& artist, const std::string& album,
                   const std::string& year, const std::string& comment30, uint8_t genre,
                   char pad = ' ') {
    return "TAG" + Padded(title, 30, pad) + Padded(artist, 30, pad) + Padded(album, 30, pad) +
           Padded(year, 4, pad) + Padded(comment30, 30, pad) + std::string(1, static_cast<char>(genre));
}

std::string CommentWithTrack(const std::string& comment, uint8_t track) {
    return Padded(comment, 28) + std::string(1, '\0') + std::string(1, static_cast<char>(track));
}

TEST(tag_id3v1_Genres, TableHasTheListedEntries) {
    const auto& table = velora::GenreTable();
    EXPECT_EQ(table.size(), 148u);
    struct Case {
        int index;
        const char* name;
    };
    for (const Case& c : {Case{0, "Blues"}, Case{12, "Other"}, Case{40, "Alt. Rock"},
                          Case{59, "Gangsta Rap"}, Case{67, "Psychedelic"}, Case{79, "Hard Rock"},
                          Case{80, "Folk"}, Case{81, "Folk/Rock"}, Case{84, "Fast-Fusion"},
                          Case{123, "A Cappella"}, Case{133, "Neuro Punk"},
                          Case{136, "Christian Gangsta Rap"}, Case{147, "Synthpop"}}) {
        SCOPED_TRACE(c.index);
        EXPECT_STREQ(velora::GenreName(c.index), c.name);
        EXPECT_EQ(velora::GenreIndexByName(c.name), c.index);
    }
    EXPECT_EQ(velora::GenreName(-1), nullptr);
    EXPECT_EQ(velora::GenreName(148), nullptr);
}

TEST(tag_id3v1_Genres, LookupIsExactAndNamesAreUnique) {
    EXPECT_EQ(velora::GenreIndexByName("rock"), -1);
    EXPECT_EQ(velora::GenreIndexByName("Roc"), -1);
    EXPECT_EQ(velora::GenreIndexByName("Rock "), -1);
    EXPECT_EQ(velora::GenreIndexByName("Rock"), 17);
    EXPECT_EQ(velora::GenreIndexByName("Rock & Roll"), 78);
    for (int i = 0; i < velora::kGenreCount; ++i) {
        EXPECT_EQ(velora::GenreIndexByName(velora::GenreName(i)), i) << velora::GenreName(i);
    }
}

TEST(tag_id3v1_Parse, ReadsEveryFieldAtItsOffset) {
    const auto block =
        BlockOf(RawTag("Title", "Artist", "Album", "1999", "A comment of thirty characters", 17));
    const auto tag = velora::ParseId3v1(block.data());
    ASSERT_TRUE(tag.has_value());
    EXPECT_EQ(tag->title, "Title");
    EXPECT_EQ(tag->artist, "Artist");
    EXPECT_EQ(tag->album, "Album");
    EXPECT_EQ(tag->year, "1999");
    EXPECT_EQ(tag->comment, "A comment of thirty characters");
    EXPECT_EQ(tag->track, 0);
    EXPECT_EQ(tag->genre, 17);
}

TEST(tag_id3v1_Parse, TextEndsAtTheFirstZeroAndLosesTrailingBlanks) {
    std::string raw = RawTag("Title  ", "Art", "", "", "", 0, '\0');
    raw[3 + 10] = 'X';  // after the zero: not part of the title
    const auto tag = velora::ParseId3v1(BlockOf(raw).data());
    ASSERT_TRUE(tag.has_value());
    EXPECT_EQ(tag->title, "Title");
    EXPECT_EQ(tag->artist, "Art");
    EXPECT_EQ(tag->album, "");
}

TEST(tag_id3v1_Parse, NoMarkerNoTag) {
    std::string raw = RawTag("Title", "", "", "", "", 0);
    raw[2] = 'g';
    EXPECT_FALSE(velora::ParseId3v1(BlockOf(raw).data()).has_value());
}

TEST(tag_id3v1_Parse, TrackNumberOnlyWhenByte125IsZeroAndByte126IsNot) {
    struct Case {
        uint8_t b125, b126;
        int track;
        const char* comment;
    };
    const Case cases[] = {
        {0, 7, 7, "Twenty-eight characters long"},
        {0, 255, 255, "Twenty-eight characters long"},
        {0, 0, 0, "Twenty-eight characters long"},   // zero after the text: no track
        {'X', 7, 0, "Twenty-eight characters longX\x07"},  // a full 30-byte comment
        {' ', 0, 0, "Twenty-eight characters long"},  // the zero ends the text
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.b125) << "," << int(c.b126));
        std::string comment = Padded("Twenty-eight characters long", 28);
        comment += static_cast<char>(c.b125);
        comment += static_cast<char>(c.b126);
        const auto block = BlockOf(RawTag("T", "", "", "", comment, 0));
        EXPECT_EQ(velora::HasTrackNumber(block.data()), c.track != 0);
        const auto tag = velora::ParseId3v1(block.data());
        ASSERT_TRUE(tag.has_value());
        EXPECT_EQ(tag->track, c.track);
        EXPECT_EQ(tag->comment, c.comment);
    }
}

TEST(tag_id3v1_Write, NewBlockIsBlanksWithMarkerAndGenreZero) {
    const auto block = velora::NewId3v1Block();
    EXPECT_EQ(AsString(block), "TAG" + std::string(124, ' ') + std::string(1, '\0'));
}

TEST(tag_id3v1_Write, FieldsAreCutAndBlankPadded) {
    auto block = velora::NewId3v1Block();
    velora::Id3v1Edit edit;
    edit.title = std::string(40, 'T');
    edit.artist = "Artist";
    edit.album = "Album";
    edit.year = "19999";
    edit.comment = std::string(35, 'C');
    velora::ApplyId3v1Edit(block.data(), edit);
    EXPECT_EQ(AsString(block), RawTag(std::string(30, 'T'), "Artist", "Album", "1999",
                                      std::string(30, 'C'), 0));
}

TEST(tag_id3v1_Write, ShorterTextOverAnOldOneLeavesOnlyBlanks) {
    auto block = BlockOf(RawTag("A long old title here", "Old artist", "Old album", "2001",
                                "Old comment", 5, '\0'));
    velora::Id3v1Edit edit;
    edit.title = "New";
    velora::ApplyId3v1Edit(block.data(), edit);
    EXPECT_EQ(AsString(block), RawTag("New", "", "", "", "", 5));
}

TEST(tag_id3v1_Write, CommentWidthAndTrack) {
    struct Case {
        const char* name;
        bool oldTrack;
        std::optional<int> newTrack;
        std::string expectedComment;
    };
    const std::string text(30, 'c');
    const Case cases[] = {
        {"no track before or after: 30 bytes", false, std::nullopt, text},
        {"a new track: 28 bytes and the number", false, 9, CommentWithTrack(text, 9)},
        {"old track kept when cleared", true, std::nullopt, CommentWithTrack(text, 3)},
        {"old track replaced", true, 200, CommentWithTrack(text, 200)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto block = BlockOf(RawTag("", "", "", "", c.oldTrack ? CommentWithTrack("x", 3) : "x", 0));
        velora::Id3v1Edit edit;
        edit.comment = text;
        edit.track = c.newTrack;
        velora::ApplyId3v1Edit(block.data(), edit);
        EXPECT_EQ(AsString(block).substr(97, 30), c.expectedComment);
    }
}

TEST(tag_id3v1_Write, GenreWrittenOnlyWhenChosen) {
    for (int oldGenre : {0, 17, 147, 148, 200, 255}) {
        auto block = BlockOf(RawTag("", "", "", "", "", static_cast<uint8_t>(oldGenre)));
        velora::ApplyId3v1Edit(block.data(), {});
        EXPECT_EQ(block[127], oldGenre);
        velora::Id3v1Edit edit;
        edit.genre = 40;
        velora::ApplyId3v1Edit(block.data(), edit);
        EXPECT_EQ(block[127], 40);
    }
}

TEST(tag_id3v1_Write, RoundTrip) {
    velora::Id3v1Edit edit;
    edit.title = "Café del Mar";
    edit.artist = "Björk";
    edit.album = "Ünïcödé";
    edit.year = "2004";
    edit.comment = "twenty-eight chars at most..";
    edit.track = 12;
    edit.genre = 131;
    auto block = velora::NewId3v1Block();
    velora::ApplyId3v1Edit(block.data(), edit);
    const auto tag = velora::ParseId3v1(block.data());
    ASSERT_TRUE(tag.has_value());
    EXPECT_EQ(tag->title, edit.title);
    EXPECT_EQ(tag->artist, edit.artist);
    EXPECT_EQ(tag->album, edit.album);
    EXPECT_EQ(tag->year, edit.year);
    EXPECT_EQ(tag->comment, edit.comment);
    EXPECT_EQ(tag->track, 12);
    EXPECT_EQ(tag->genre, 131);
    // Latin-1 on disk: one byte per character.
    EXPECT_EQ(AsString(block).substr(3, 12), "Caf\xE9 del Mar");
}

TEST(tag_id3v1_Latin1, Conversions) {
    struct Case {
        std::string utf8, latin1;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"Café", "Caf\xE9"},
        {"\xC2\xA0\xC3\xBF", "\xA0\xFF"},        // U+00A0, U+00FF: the edges of Latin-1
        {"\xC4\x80", "?"},                       // U+0100
        {"\xE2\x82\xAC 5", "? 5"},               // the euro sign
        {"\xF0\x9F\x8E\xB5!", "?!"},             // a 4-byte character
        {"a\xC3", "a?"},                         // cut sequence
        {"\xC0\xA9", "??"},                      // overlong: each byte refused
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(velora::Utf8ToLatin1(c.utf8), c.latin1);
    }
    std::string all;
    for (int i = 1; i < 256; ++i) all.push_back(static_cast<char>(i));
    EXPECT_EQ(velora::Utf8ToLatin1(velora::Latin1ToUtf8(all)), all);
    EXPECT_EQ(velora::Latin1ToUtf8("Caf\xE9"), "Café");
    EXPECT_TRUE(velora::IsValidUtf8("Café"));
    EXPECT_FALSE(velora::IsValidUtf8("Caf\xE9"));
}

TEST(tag_id3v1_Mpeg, FrameHeaderCheck) {
    struct Case {
        std::vector<uint8_t> bytes;
        bool mpeg;
    };
    const Case cases[] = {
        {{0xFF, 0xFB, 0x90, 0x64}, true},   // MPEG-1 layer III 128 kbit/s 44.1 kHz
        {{0xFF, 0xF3, 0x48, 0xC4}, true},   // MPEG-2 layer III
        {{0xFF, 0xE3, 0x18, 0xC4}, true},   // MPEG-2.5 layer III
        {{0xFF, 0xFD, 0x90, 0x64}, true},   // layer II
        {{0xFF, 0xEB, 0x90, 0x64}, false},  // version 01 is reserved
        {{0xFF, 0xF9, 0x90, 0x64}, false},  // layer 00 is reserved
        {{0xFF, 0xFB, 0xF0, 0x64}, false},  // bit rate index 15
        {{0xFF, 0xFB, 0x9C, 0x64}, false},  // sample rate index 3
        {{0xFF, 0xDB, 0x90, 0x64}, false},  // sync one bit short
        {{'f', 'L', 'a', 'C'}, false},
        {{0xFF, 0xFB, 0x90}, false},        // too short
    };
    for (const Case& c : cases) {
        EXPECT_EQ(velora::IsMpegAudioFrameHeader(c.bytes.data(), c.bytes.size()), c.mpeg)
            << std::hex << int(c.bytes[0]) << " " << int(c.bytes[1]);
    }
}

TEST(tag_id3v1_Mpeg, FileStartsWithAFrameOrAnId3v2TagAndAFrame) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("tag.id3v1-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::vector<uint8_t> frame = {0xFF, 0xFB, 0x90, 0x64, 0, 0, 0, 0};
    auto id3v2 = [](uint8_t flags, uint32_t size) {
        std::vector<uint8_t> b(10 + size, 0);
        const uint8_t head[10] = {'I', 'D', '3', 4, 0, flags,
                                  uint8_t((size >> 21) & 0x7F), uint8_t((size >> 14) & 0x7F),
                                  uint8_t((size >> 7) & 0x7F), uint8_t(size & 0x7F)};
        for (size_t i = 0; i < 10; ++i) b[i] = head[i];
        return b;
    };
    auto join = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
        for (uint8_t byte : b) a.push_back(byte);
        return a;
    };
    std::vector<uint8_t> footer = {'3', 'D', 'I', 4, 0, 0x10, 0, 0, 1, 0};
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool mpeg;
    };
    const Case cases[] = {
        {"frame", frame, true},
        {"id3v2 then frame", join(id3v2(0, 300), frame), true},
        {"id3v2 with footer then frame", join(join(id3v2(0x10, 128), footer), frame), true},
        {"id3v2 without audio", id3v2(0, 300), false},
        {"garbage before the frame", join({0, 0}, frame), false},
        {"flac", {'f', 'L', 'a', 'C', 0, 0, 0, 34}, false},
        {"empty", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path p = dir / "f.bin";
        velora::testing::WriteFile(p, c.bytes);
        EXPECT_EQ(velora::IsMpegAudioFile(p), c.mpeg);
    }
    EXPECT_FALSE(velora::IsMpegAudioFile((dir / "missing.mp3").string()));
    fs::remove_all(dir);
}

}  // namespace

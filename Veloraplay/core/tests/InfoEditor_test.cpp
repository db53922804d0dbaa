// The tag editor over real files: what show() loads and allows, what update() writes, and
// what it refuses (bad track numbers, files that are not MPEG audio, unwritable files).
#include "InfoEditorModel.h"
#include "MpegBytes.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Id3v1Tag.h"
#include "RiffTestFile.h"
#include "ScriptedDialogService.h"
#include "TempFolder.h"

namespace {

using veloraplay::InfoEditorModel;
using Result = InfoEditorModel::UpdateResult;

std::string Read(const std::string& path) {
    std::string bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) bytes.append(buffer, n);
        std::fclose(f);
    }
    return bytes;
}

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Padded(const std::string& text, size_t width) {
    std::string s = text.substr(0, width);
    s.resize(width, ' ');
    return s;
}

std::string MpegAudio(size_t size = 417) { return veloraplay::test::mpegAudio(size); }

std::string Tag(const std::string& title, const std::string& comment30, uint8_t genre) {
    return "TAG" + Padded(title, 30) + Padded("Artist", 30) + Padded("Album", 30) + "1999" +
           Padded(comment30, 30) + std::string(1, static_cast<char>(genre));
}

std::string CommentWithTrack(const std::string& comment, uint8_t track) {
    return Padded(comment, 28) + std::string(1, '\0') + std::string(1, static_cast<char>(track));
}

class InfoEditorTest : public ::testing::Test {
  protected:
    std::FILE* log_ = std::tmpfile();
    veloraplay::ScriptedDialogService dialogs_{log_};
    InfoEditorModel model_{dialogs_};
    veloraplay::test::TempFolder dir_;

    ~InfoEditorTest() override {
        if (log_) std::fclose(log_);
    }
    // What the dialogs said, one per line.
    std::string Messages() {
        std::fflush(log_);
        std::rewind(log_);
        std::string text;
        char buffer[512];
        while (std::fgets(buffer, sizeof(buffer), log_)) text += buffer;
        return text;
    }
};

TEST_F(InfoEditorTest, ShowsATaggedFile) {
    const std::string path = dir_ / "a.mp3";
    Write(path, MpegAudio() + Tag("Caf\xE9  ", CommentWithTrack("Note", 7), 40));
    model_.show(path);
    EXPECT_TRUE(model_.hasTag());
    EXPECT_TRUE(model_.editable());
    EXPECT_TRUE(model_.updateEnabled());
    const auto& f = model_.fields();
    EXPECT_EQ(f.title, "Café");
    EXPECT_EQ(f.artist, "Artist");
    EXPECT_EQ(f.album, "Album");
    EXPECT_EQ(f.year, "1999");
    EXPECT_EQ(f.comment, "Note");
    EXPECT_EQ(f.track, "7");
    EXPECT_EQ(f.genre, 40);
    model_.setLocked(true);
    EXPECT_FALSE(model_.updateEnabled());
    EXPECT_TRUE(model_.genreEnabled());
    EXPECT_EQ(model_.update(), Result::NotEditable);
}

TEST_F(InfoEditorTest, ShowStates) {
    struct Case {
        const char* name;
        std::string bytes;  // empty: no file
        unsigned mode;
        bool editable, hasTag;
    };
    const Case cases[] = {
        {"untagged mp3", MpegAudio(), 0644, true, false},
        {"missing", "", 0644, false, false},
        {"read-only", MpegAudio() + Tag("T", "", 1), 0444, false, true},
        {"short file", "abc", 0644, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir_ / c.name;
        if (!c.bytes.empty()) {
            Write(path, c.bytes);
            ::chmod(path.c_str(), c.mode);
        }
        model_.show(path);
        EXPECT_EQ(model_.editable(), c.editable);
        EXPECT_EQ(model_.updateEnabled(), c.editable);
        EXPECT_EQ(model_.hasTag(), c.hasTag);
        EXPECT_EQ(model_.fields().title, c.hasTag ? "T" : "");
    }
    model_.show("");
    EXPECT_FALSE(model_.editable());
    EXPECT_EQ(model_.update(), Result::NotEditable);
}

TEST_F(InfoEditorTest, WaveFileShowsItsInfoTextsAndIsNotEditable) {
    const std::string path = dir_ / "s.wav";
    velora::testing::WriteFile(
        path, velora::testing::RiffWave(
                  {velora::testing::FormatChunk(1, 2, 44100, 16),
                   velora::testing::InfoList({{"INAM", "Wave title"},
                                              {"IART", "Wave artist"},
                                              {"ICMT", std::string(70, 'c')}}),
                   velora::testing::Chunk("data", velora::testing::SamplesBody({1, 2, 3, 4}))}));
    const std::string before = Read(path);
    model_.show(path);
    EXPECT_FALSE(model_.editable());
    EXPECT_FALSE(model_.updateEnabled());
    EXPECT_EQ(model_.fields().title, "Wave title");
    EXPECT_EQ(model_.fields().artist, "Wave artist");
    EXPECT_EQ(model_.fields().comment, std::string(64, 'c'));
    EXPECT_EQ(model_.update(), Result::NotEditable);
    EXPECT_EQ(Read(path), before);
}

TEST_F(InfoEditorTest, UpdateAppendsOnceThenRewritesInPlace) {
    const std::string path = dir_ / "u.mp3";
    const std::string audio = MpegAudio();
    Write(path, audio);
    model_.show(path);
    model_.fields().title = std::string(40, 'T');
    model_.fields().artist = "Björk";
    ASSERT_EQ(model_.update(), Result::Written);
    std::string bytes = Read(path);
    ASSERT_EQ(bytes.size(), audio.size() + 128);
    EXPECT_EQ(bytes.substr(0, audio.size()), audio);
    EXPECT_EQ(bytes.substr(audio.size()), "TAG" + std::string(30, 'T') + Padded("Bj\xF6rk", 30) +
                                              std::string(64, ' ') + std::string(1, '\0'));
    EXPECT_EQ(model_.fields().title, std::string(30, 'T'));  // shown as stored

    model_.fields().title = "Second";
    model_.fields().genre = velora::GenreIndexByName("Synthpop");
    ASSERT_EQ(model_.update(), Result::Written);
    bytes = Read(path);
    ASSERT_EQ(bytes.size(), audio.size() + 128);
    EXPECT_EQ(bytes.substr(audio.size() + 3, 30), Padded("Second", 30));
    EXPECT_EQ(static_cast<uint8_t>(bytes.back()), 147);
    EXPECT_EQ(dialogs_.shownCount(), 0);
}

TEST_F(InfoEditorTest, CommentWidthTrackAndGenreKept) {
    struct Case {
        const char* name;
        std::string oldComment;
        uint8_t oldGenre;
        std::string track;  // typed
        std::string expectedComment;
        uint8_t expectedGenre;
    };
    const std::string text(30, 'n');
    const Case cases[] = {
        {"no track: 30 bytes", "old", 200, "", text, 200},
        {"cleared track keeps it and 28 bytes", CommentWithTrack("old", 5), 3, "",
         CommentWithTrack(text, 5), 3},
        {"new track", "old", 255, " 12 ", CommentWithTrack(text, 12), 255},
        {"track 255", CommentWithTrack("old", 5), 148, "255", CommentWithTrack(text, 255), 148},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir_ / "c.mp3";
        Write(path, MpegAudio() + Tag("T", Padded(c.oldComment, 30), c.oldGenre));
        model_.show(path);
        EXPECT_EQ(model_.fields().genre, c.oldGenre < 148 ? c.oldGenre : -1);
        model_.fields().comment = text;
        model_.fields().track = c.track;
        if (c.oldGenre >= 148) {
            EXPECT_EQ(model_.storedGenre(), c.oldGenre);
        }
        ASSERT_EQ(model_.update(), Result::Written);
        const std::string tag = Read(path).substr(MpegAudio().size());
        EXPECT_EQ(tag.substr(97, 30), c.expectedComment);
        EXPECT_EQ(static_cast<uint8_t>(tag[127]), c.expectedGenre);
    }
}

TEST_F(InfoEditorTest, BadTrackNumbersAreRefusedAndNothingIsWritten) {
    const std::string path = dir_ / "t.mp3";
    const std::string original = MpegAudio() + Tag("T", CommentWithTrack("", 3), 1);
    for (const char* track : {"0", "256", "-1", "1a", "x", "1000", "3.5"}) {
        SCOPED_TRACE(track);
        Write(path, original);
        model_.show(path);
        model_.fields().title = "Changed";
        model_.fields().track = track;
        EXPECT_EQ(model_.update(), Result::Refused);
        EXPECT_EQ(Read(path), original);
    }
    EXPECT_EQ(dialogs_.shownCount(), 7);
    EXPECT_NE(Messages().find("is not a number from 1 to 255"), std::string::npos);
}

TEST_F(InfoEditorTest, TagIsAddedOnlyToMpegAudio) {
    const std::string flac = dir_ / "a.flac";
    const std::string bytes = "fLaC" + std::string(400, 'x');
    Write(flac, bytes);
    model_.show(flac);
    ASSERT_TRUE(model_.updateEnabled());
    model_.fields().title = "T";
    EXPECT_EQ(model_.update(), Result::Refused);
    EXPECT_EQ(Read(flac), bytes);
    EXPECT_NE(Messages().find("is not an MPEG audio file"), std::string::npos);

    // A file that already ends in a tag has it rewritten, whatever it holds.
    const std::string tagged = dir_ / "b.flac";
    Write(tagged, bytes + Tag("Old", "", 2));
    model_.show(tagged);
    model_.fields().title = "New";
    EXPECT_EQ(model_.update(), Result::Written);
    EXPECT_EQ(Read(tagged).size(), bytes.size() + 128);
    EXPECT_EQ(Read(tagged).substr(bytes.size() + 3, 3), "New");
}

TEST_F(InfoEditorTest, ShortFiles) {
    // Short MPEG audio gets its tag; anything else short cannot hold one.
    const std::string mp3 = dir_ / "s.mp3";
    Write(mp3, MpegAudio(40));
    model_.show(mp3);
    model_.fields().title = "Short";
    EXPECT_EQ(model_.update(), Result::Written);
    EXPECT_EQ(Read(mp3).size(), 40u + 128u);

    const std::string other = dir_ / "s.txt";
    Write(other, "hello");
    model_.show(other);
    model_.fields().title = "Short";
    EXPECT_EQ(model_.update(), Result::Failed);
    EXPECT_EQ(Read(other), "hello");
    EXPECT_NE(Messages().find("Couldn't write to file " + other + " (0016)."), std::string::npos);
}

TEST_F(InfoEditorTest, FileMadeReadOnlyAfterShowIsNotWritten) {
    const std::string path = dir_ / "r.mp3";
    const std::string original = MpegAudio();
    Write(path, original);
    model_.show(path);
    ::chmod(path.c_str(), 0444);
    model_.fields().title = "T";
    EXPECT_EQ(model_.update(), Result::Failed);
    EXPECT_EQ(Read(path), original);
    EXPECT_NE(Messages().find("Couldn't write to file " + path + " (000D)."), std::string::npos);
}

TEST(InfoEditorText, WriteFailureText) {
    EXPECT_EQ(veloraplay::writeFailureText("/x/a.mp3", 13), "Couldn't write to file /x/a.mp3 (000D).");
    EXPECT_EQ(veloraplay::writeFailureText("a", 0xABCD), "Couldn't write to file a (ABCD).");
}

TEST(InfoEditorGenres, SortedAlphabeticallyAndComplete) {
    const auto names = InfoEditorModel::sortedGenreNames();
    ASSERT_EQ(names.size(), 148u);
    EXPECT_EQ(names.front(), "A Cappella");
    for (size_t i = 1; i < names.size(); ++i) {
        EXPECT_LE(strcasecmp(names[i - 1].c_str(), names[i].c_str()), 0) << names[i];
    }
}

// An outside reader of the tag (scripts/setup.sh installs it).
TEST_F(InfoEditorTest, Id3v2ToolReadsWhatWasWritten) {
    const std::string path = dir_ / "o.mp3";
    Write(path, MpegAudio(4000));
    model_.show(path);
    model_.fields().title = "Outside Reader";
    model_.fields().artist = "Tester";
    model_.fields().year = "2026";
    model_.fields().track = "9";
    model_.fields().genre = velora::GenreIndexByName("Jazz");
    ASSERT_EQ(model_.update(), Result::Written);
    const std::string out = dir_ / "out.txt";
    ASSERT_EQ(std::system(("id3v2 -l '" + path + "' > '" + out + "' 2>&1").c_str()), 0);
    const std::string listing = Read(out);
    EXPECT_NE(listing.find("Outside Reader"), std::string::npos) << listing;
    EXPECT_NE(listing.find("Tester"), std::string::npos) << listing;
    EXPECT_NE(listing.find("2026"), std::string::npos) << listing;
    EXPECT_NE(listing.find("Jazz"), std::string::npos) << listing;
}

}  // namespace

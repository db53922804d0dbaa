#include "IniParser.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <sys/stat.h>

namespace tessura {
namespace {

struct LookupCase {
    const char* text;
    const char* section;
    const char* key;
    int result;  // GetString's result
    const char* value;
    const char* comment;  // the entry's comment
};

// Lines as the files of the player hold them, and what a look-up finds.
const LookupCase kLookups[] = {
    {"[A]\r\n  key  =  value  \r\n", "A", "key", 5, "value", ""},
    {"[A]\nKey=Value\n", "a", "KEY", 5, "Value", ""},
    // Only a '#' that begins the line is a comment; one inside a value is part of it.
    {"[A]\nkey = value #note\n", "A", "key", 11, "value #note", ""},
    {"[A]\n# the note\nkey = value\n", "A", "key", 5, "value", "the note"},
    {"[playlist]\rFile1=C:\\Music\\Track #1.mp3\r", "playlist", "File1", 24, "C:\\Music\\Track #1.mp3", ""},
    {"[playlist]\nFile1=http://radio.example/live#main\n", "playlist", "file1", 31,
     "http://radio.example/live#main", ""},
    {"[A]\nkey=first=second\n", "A", "key", 12, "first=second", ""},
    {"[A]\nkey=\n", "A", "key", 0, "", ""},
    {"[A]\nkey=1\nkey=2\n", "A", "key", 1, "1", ""},
    // A name seen before continues its section.
    {"[A]\none=1\n[B]\nx=0\n[a]\ntwo=2\n", "A", "two", 1, "2", ""},
    {"[A]\n[B]\n", "C", "key", INIParser::kNoSection, nullptr, nullptr},
    {"[A]\nother=1\n", "A", "key", INIParser::kNoKey, nullptr, nullptr},
    // Lines before the first section and lines without '=' are ignored.
    {"key=outside\n[A]\nnot an entry\n", "A", "key", INIParser::kNoKey, nullptr, nullptr},
    {"[A] #about A\n\t\n\n   \nkey\t=\tv\n", "A", "key", 1, "v", ""},
    // A value written quoted by the writer reads back as it was; other quotes stay as written.
    {"[A]\nkey=\"  padded \\\"text\\\"\\n\"\n", "A", "key", 17, "  padded \"text\"\n", ""},
    {"[A]\nkey=\"C:\\Music\"\n", "A", "key", 10, "\"C:\\Music\"", ""},
};

TEST(INIParser, LooksUpWhatTheLinesHold) {
    for (const LookupCase& c : kLookups) {
        SCOPED_TRACE(c.text);
        INIParser ini;
        ASSERT_EQ(ini.OpenMemory(c.text), 0);
        char buffer[64];
        const int expected = c.value ? static_cast<int>(std::strlen(c.value)) : c.result;
        EXPECT_EQ(ini.GetString(c.section, c.key, buffer, sizeof buffer), expected);
        if (!c.value) continue;
        EXPECT_STREQ(buffer, c.value);
        const IniSection& section = ini.Sections().front();
        EXPECT_EQ(section.entries.front().comment, c.comment);
    }
}

TEST(INIParser, MergesSectionsKeepsSectionCommentsAndNotesIgnoredLines) {
    INIParser ini;
    ini.OpenMemory("stray line\n[A] #first\nx=1\n[B]\ny=2\n[A]\nz=3\nno equals\n");
    ASSERT_EQ(ini.Sections().size(), 2u);
    EXPECT_EQ(ini.Sections()[0].comment, "first");
    EXPECT_EQ(ini.Sections()[0].entries.size(), 2u);
    EXPECT_TRUE(ini.HasSection("b"));
    ASSERT_EQ(ini.Notes().size(), 2u);
    EXPECT_EQ(ini.Notes()[0].line, 1);
    EXPECT_EQ(ini.Notes()[1].line, 8);
    EXPECT_EQ(ini.Notes()[1].text, "line 8: no '=' in an entry line, ignored");
}

TEST(INIParser, GetStringCutsToTheBufferAndAlwaysTerminates) {
    INIParser ini;
    ini.OpenMemory("[A]\nkey=abcdef\n");
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(ini.GetString("A", "key", buffer, sizeof buffer), 3);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(ini.GetString("A", "key", buffer, 1), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(ini.GetString("A", "key", nullptr, 0), 0);
}

TEST(INIParser, NumbersAreTheLeadingDecimalPart) {
    struct NumberCase {
        const char* value;
        int integer;
        double number;
    };
    const NumberCase cases[] = {
        {"42", 42, 42.0},     {"  -7 apples", -7, -7.0}, {"0x10", 0, 0.0},     {"017", 17, 17.0},
        {"2.5 s", 2, 2.5},    {"+3", 3, 3.0},            {"", 0, 0.0},         {"abc", 0, 0.0},
        {"99999999999", INT_MAX, 99999999999.0},         {"-99999999999", INT_MIN, -99999999999.0},
        {"1e3", 1, 1000.0},
    };
    for (const NumberCase& c : cases) {
        SCOPED_TRACE(c.value);
        INIParser ini;
        std::string text = "[N]\nv=";
        text += c.value;
        ini.OpenMemory(text);
        EXPECT_EQ(ini.GetInt("N", "v"), c.integer);
        EXPECT_DOUBLE_EQ(ini.GetFloat("N", "v"), c.number);
    }
    INIParser ini;
    ini.OpenMemory("[N]\n");
    EXPECT_EQ(ini.GetInt("N", "missing"), INIParser::kNoKey);
    EXPECT_EQ(ini.GetInt("M", "v"), INIParser::kNoSection);
    EXPECT_DOUBLE_EQ(ini.GetFloat("N", "missing"), INIParser::kNoKey);
}

std::string numbered(std::size_t i) {
    std::string key = "v";
    key += std::to_string(i);
    return key;
}

TEST(INIParser, WritesCrLfLinesAtomicallyWithMode0600AndEveryValueReadsBack) {
    test::TempFolder folder;
    const std::string path = folder.write("list.pls", "[playlist]\nFile1=a.mp3\n");
    const std::string hardValues[] = {" leading blank", "trailing blank ", "two\nlines", "\"quoted\"",
                                      "tab\tinside", "C:\\Music\\a.mp3", "http://x/#frag", "bell\a",
                                      "=starts with equals", "#starts with hash", ""};
    {
        INIParser ini;
        ASSERT_EQ(ini.Open(path, INIParser::Mode::ReadWrite), 0);
        ASSERT_EQ(ini.SetString("playlist", "NumberOfEntries", "1"), 0);
        for (std::size_t i = 0; i < std::size(hardValues); ++i) {
            ASSERT_EQ(ini.SetString("values", numbered(i), hardValues[i]), 0);
        }
        ASSERT_EQ(ini.Close(), 0);
    }
    const std::string written = folder.read("list.pls");
    EXPECT_EQ(written.substr(0, 46), "[playlist]\r\nFile1=a.mp3\r\nNumberOfEntries=1\r\n\r\n");
    EXPECT_NE(written.find("v5=C:\\Music\\a.mp3\r\n"), std::string::npos);  // plain values stay plain
    EXPECT_EQ(written.substr(written.size() - 4), "\r\n\r\n");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    INIParser again;
    ASSERT_EQ(again.Open(path), 0);
    for (std::size_t i = 0; i < std::size(hardValues); ++i) {
        EXPECT_EQ(again.Find("values", numbered(i)), hardValues[i]) << i;
    }
    EXPECT_EQ(again.Find("PLAYLIST", "file1"), "a.mp3");
}

TEST(INIParser, CommentsSurviveAWriteAndBadNamesAreRefused) {
    test::TempFolder folder;
    const std::string path = folder.write("c.ini", "[S] #section note\n# entry note\nk=v\n");
    {
        INIParser ini;
        ASSERT_EQ(ini.Open(path, INIParser::Mode::ReadWrite), 0);
        for (const char* key : {"", "a=b", "#k", "[k", " k", "k\n"}) {
            EXPECT_EQ(ini.SetString("S", key, "x"), error_code::kInvalidParameter) << key;
        }
        EXPECT_EQ(ini.SetString("S]", "k", "x"), error_code::kInvalidParameter);
        ASSERT_EQ(ini.SetString("S", "k2", "v2"), 0);
        ASSERT_EQ(ini.Close(), 0);
    }
    EXPECT_EQ(folder.read("c.ini"), "[S] #section note\r\n#entry note\r\nk=v\r\nk2=v2\r\n\r\n");
}

TEST(INIParser, RefusalsCarryTheParsersCodesAndTheirTexts) {
    const auto errors = ErrorService::create();
    test::TempFolder folder;
    INIParser ini(errors);
    EXPECT_EQ(ini.Open(folder.file("missing.ini")), INIParser::kErrFileNotOpen);
    EXPECT_EQ(ini.SetString("A", "k", "v"), INIParser::kErrFileNotOpen);
    ini.OpenMemory("[A]\n");
    EXPECT_EQ(ini.SetString("A", "k", "v"), INIParser::kErrReadOnly);
    EXPECT_EQ(ini.Write(), INIParser::kErrReadOnly);
    EXPECT_EQ(ini.ErrorText(INIParser::kErrMemoryMap), "unable to memory map file");
    EXPECT_EQ(ini.ErrorText(INIParser::kErrFileNotOpen), "file not open");
    EXPECT_EQ(ini.ErrorText(INIParser::kErrReadOnly), "file was opened read only");
    EXPECT_EQ(ini.ErrorText(INIParser::kErrSeek), "file seek failed");
    // Registered once, under the one name that is also looked up.
    EXPECT_TRUE(errors->hasModule(INIParser::kModuleName));
    EXPECT_FALSE(errors->registerModule("INI Parser", -101, {"other"}));
    INIParser second(errors);
    EXPECT_EQ(second.ErrorText(INIParser::kErrSeek), "file seek failed");
    // A file opened for writing in a folder that is gone cannot be written back.
    INIParser lost(errors);
    ASSERT_EQ(lost.Open(folder.file("gone/x.ini"), INIParser::Mode::Create), 0);
    ASSERT_EQ(lost.SetString("A", "k", "v"), 0);
    EXPECT_EQ(lost.Write(), error_code::kCouldNotWrite);
}

TEST(ErrorService, GenericTextsInTheirOrderAndNothingForUnknownCodes) {
    const auto errors = ErrorService::create();
    EXPECT_EQ(errors->text(error_code::kUnknown), "unknown error");
    EXPECT_EQ(errors->text(error_code::kOutOfMemory), "out of memory");
    EXPECT_EQ(errors->text(error_code::kDiskWriteFailed), "disk write failed (disk full?)");
    EXPECT_EQ(errors->text(error_code::kResourceNotAvailable), "resource not available/found");
    EXPECT_FALSE(errors->text(-14).has_value());
    EXPECT_FALSE(errors->text(0).has_value());
    EXPECT_FALSE(errors->text(-101).has_value());  // no module registered yet
}

}  // namespace
}  // namespace tessura

#include "CommandLine.h"

#include <gtest/gtest.h>

namespace veloraplay {
namespace {

struct SplitCase {
    const char* text;
    std::vector<std::string> words;
};

// Every rule of the splitter, one row each.
const SplitCase kSplitCases[] = {
    {"", {}},
    {"  \t ", {}},
    {"one", {"one"}},
    {"  one   two\tthree  ", {"one", "two", "three"}},
    // three words, the middle one quoted with a blank in it
    {"a \"b c\" d", {"a", "b c", "d"}},
    // a backslash before a quote inside a quoted word gives a literal quote
    {"\"say \\\"hi\\\"\"", {"say \"hi\""}},
    // four backslashes and a quote: two backslashes, and the quote opens quoting
    {"a\\\\\\\\\"b c\"", {"a\\\\b c"}},
    // backslashes not followed by a quote are copied as they are
    {"C:\\dir\\file.mp3 x\\\\y", {"C:\\dir\\file.mp3", "x\\\\y"}},
    {"trail\\", {"trail\\"}},
    // an odd run before a quote: n/2 backslashes and a literal quote
    {"a\\\\\\\"b", {"a\\\"b"}},
    // "" inside quotes is one quote, and quoting ends with it
    {"\"a\"\"b c\"", {"a\"b", "c"}},
    {"\"\"", {""}},
    {"a \"\" b", {"a", "", "b"}},
    // quotes in the middle of a word join its parts
    {"x\"y z\"w", {"xy zw"}},
    // an unclosed quote runs to the end
    {"\"open to the end", {"open to the end"}},
    {"/ENCODE \"dir with blanks/a.wav\"", {"/ENCODE", "dir with blanks/a.wav"}},
};

TEST(CommandLine, SplitsAsTheTableSays) {
    for (const SplitCase& c : kSplitCases) {
        EXPECT_EQ(splitArguments(c.text), c.words) << "text: " << c.text;
    }
}

TEST(CommandLine, JoinIsTheExactInverseOfSplit) {
    const std::vector<std::vector<std::string>> lists = {
        {},
        {""},
        {"plain.mp3"},
        {"dir with blanks/b.mp3"},
        {"a\"b.mp3", "\"", "\"\"", "x\\\"y"},
        {"trailing backslash\\", "\\", "\\\\", "end\\\\\\"},
        {"tab\there", "new\nline", " lead", "trail ", "  "},
        {"-style", "/ENCODE", "%f", "$HOME", "`cmd`", "semi;colon", "\xc3\xa9t\xc3\xa9.mp3"},
        {"\xff\xfe raw bytes", "a\\\"\\\\\"b", "\"quoted\"", "q\"\"q"},
    };
    for (const auto& words : lists) {
        const std::string text = joinArguments(words);
        EXPECT_EQ(splitArguments(text), words) << "joined: " << text;
    }
}

TEST(CommandLine, EncodeSwitchAndItsInput) {
    EXPECT_TRUE(isEncodeSwitch("/ENCODE"));
    EXPECT_TRUE(isEncodeSwitch("/encode"));
    EXPECT_TRUE(isEncodeSwitch("/EnCoDe"));
    EXPECT_FALSE(isEncodeSwitch("/ENCODER"));  // only the exact word on Linux
    EXPECT_FALSE(isEncodeSwitch("ENCODE"));
    EXPECT_FALSE(isEncodeSwitch("/tmp"));  // an existing path is a file, never a switch

    // The switch, a blank and a quoted path with a blank: the path without its quotes.
    EXPECT_EQ(encoderInputFromText(" \"dir with blanks/a.wav\" "), "dir with blanks/a.wav");
    EXPECT_EQ(encoderInputFromText(""), "");
    EXPECT_EQ(encoderInputFromText("   "), "");
    EXPECT_EQ(encoderInputFromText(" plain.wav"), "plain.wav");
    EXPECT_EQ(encoderInputFromText("\"half"), "half");

    // One argument after the switch comes back exactly, whatever its name.
    for (const char* name :
         {"a.wav", "with blank.wav", " lead.wav", "q\"uote.wav", "\"x\"", "end\\", ""}) {
        EXPECT_EQ(encoderInputFromText(encoderTextFromArguments({name})), std::string(name))
            << name;
    }
    EXPECT_EQ(encoderTextFromArguments({}), "");
}

}  // namespace
}  // namespace veloraplay

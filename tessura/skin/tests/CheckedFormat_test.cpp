#include "CheckedFormat.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessura {
namespace {

struct FormatCase {
    const char* format;
    std::vector<FormatArg> args;
    const char* expected;  // nullptr: refused
};

const std::vector<FormatCase> kCases = {
    {"Volume: %d%%", {50LL}, "Volume: 50%"},
    {"%s - %s", {std::string_view("a"), std::string_view("b")}, "a - b"},
    {"%-5s|%5.1f|%03ld|%x|%X|%c", {std::string_view("ab"), 2.25, 7LL, 255LL, 255LL, 65LL},
     "ab   |  2.2|007|ff|FF|A"},
    {"Amplify: %.0f%%", {150.0}, "Amplify: 150%"},
    {"only %s", {std::string_view("one"), 2LL}, "only one"},  // a value may be left out
    {"no conversions", {}, "no conversions"},
    {"%s %s", {std::string_view("one")}, nullptr},            // one value too few
    {"%d", {std::string_view("text")}, nullptr},              // a text where a number goes
    {"%s", {5LL}, nullptr},
    {"%f", {5LL}, nullptr},
    {"%n", {5LL}, nullptr},
    {"%p", {5LL}, nullptr},
    {"%*d", {5LL, 5LL}, nullptr},
    {"%1$s", {std::string_view("a")}, nullptr},
    {"%99999d", {5LL}, nullptr},                              // an absurd width
    {"%.99999f", {5.0}, nullptr},
    {"%ls", {std::string_view("a")}, nullptr},
    {"trailing %", {}, nullptr},
    {"%q", {}, nullptr},
    {"%999d", {5LL}, nullptr},                                // made below: width 999 is allowed
};

TEST(CheckedFormat, FormatsOnlyWhatFitsTheValues) {
    for (std::size_t i = 0; i + 1 < kCases.size(); ++i) {
        const FormatCase& c = kCases[i];
        SCOPED_TRACE(c.format);
        const auto text = formatChecked(c.format, c.args);
        if (c.expected) {
            ASSERT_TRUE(text.has_value());
            EXPECT_EQ(*text, c.expected);
        } else {
            EXPECT_FALSE(text.has_value());
        }
    }
    const auto wide = formatChecked("%999d", std::vector<FormatArg>{5LL});
    ASSERT_TRUE(wide.has_value());
    EXPECT_EQ(wide->size(), 999u);
    EXPECT_TRUE(isWellFormedFormat("Buffering: %d"));
    EXPECT_FALSE(isWellFormedFormat("bad %n"));
}

}  // namespace
}  // namespace tessura

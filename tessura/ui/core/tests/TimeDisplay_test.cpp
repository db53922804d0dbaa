#include "TimeDisplay.h"

#include <gtest/gtest.h>

namespace tessura::ui {
namespace {

TEST(DisplayTime, WritesHoursMinutesSecondsAndHundredths) {
    struct Case {
        int64_t ms;
        bool remaining;
        const char* text;
    };
    const Case cases[] = {
        {0, false, "00:00:00.00"},
        {1234, false, "00:00:01.23"},
        {61009, false, "00:01:01.00"},
        {3600000 + 23 * 60000 + 45670, false, "01:23:45.67"},
        {100 * 3600000LL + 5000, false, "00:00:05.00"},  // hours modulo 100
        {7 * 60000 + 990, true, "-00:07:00.99"},
        {-50, false, "00:00:00.00"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatDisplayTime(c.ms, c.remaining), c.text) << c.ms;
}

TEST(DisplayTime, EntryNumberIsIndexPlusOneModuloAThousandWithTheOverLineFromAThousand) {
    struct Case {
        int index;
        const char* text;
        bool overLine;
    };
    const Case cases[] = {{0, "001", false}, {41, "042", false}, {998, "999", false},
                          {999, "000", true}, {1000, "001", true}, {2345, "346", true}};
    for (const Case& c : cases) {
        const EntryNumber n = FormatEntryNumber(c.index);
        EXPECT_EQ(n.text, c.text) << c.index;
        EXPECT_EQ(n.overLine, c.overLine) << c.index;
    }
}

TEST(DisplayTime, ValueIsPositionOrRemainingAndZeroWhileNothingPlays) {
    struct Case {
        TimeReading reading;
        bool remaining;
        int64_t value;
    };
    const Case cases[] = {
        {{true, 5000, 60000, 0}, false, 5000},
        {{true, 5000, 60000, 0}, true, 55000},
        {{true, 70000, 60000, 0}, true, 0},  // past the end: not below 0
        {{false, 5000, 60000, 0}, false, 0},
        {{false, 5000, 60000, 0}, true, 0},
        {{true, -1, 60000, 0}, false, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(DisplayValueMs(c.reading, c.remaining), c.value);
}

TEST(TimeDisplayRefresh, ReadsOnEveryThirdRefreshAndReusesTheValueBetween) {
    TimeDisplay display;
    int reads = 0;
    int32_t position = 0;
    const auto read = [&] {
        ++reads;
        return TimeReading{true, position, 100000, 3};
    };
    std::vector<std::string> shown;
    for (int i = 0; i < 9; ++i) {
        position = i * 1000;
        shown.push_back(display.refresh(read).time);
    }
    EXPECT_EQ(reads, 3);
    EXPECT_EQ(shown[0], "00:00:00.00");
    EXPECT_EQ(shown[2], "00:00:00.00");
    EXPECT_EQ(shown[3], "00:00:03.00");
    EXPECT_EQ(shown[8], "00:00:06.00");
}

TEST(TimeDisplayRefresh, AnUnchangedValueIsRedrawnAtMostFifteenTimes) {
    TimeDisplay display;
    TimeReading reading{true, 2500, 100000, 0};
    int redraws = 0;
    for (int i = 0; i < 60; ++i) redraws += display.refresh([&] { return reading; }).redraw ? 1 : 0;
    EXPECT_EQ(redraws, TimeDisplay::kMaxUnchangedRedraws);
    reading.positionMs = 2600;  // a new value draws again (read on the next third refresh)
    int after = 0;
    for (int i = 0; i < 3; ++i) after += display.refresh([&] { return reading; }).redraw ? 1 : 0;
    EXPECT_GT(after, 0);
    reading.entryIndex = 7;  // the entry number counts as a change too
    bool redrawn = false;
    for (int i = 0; i < 30; ++i) redrawn = display.refresh([&] { return reading; }).redraw || redrawn;
    EXPECT_TRUE(redrawn);
}

TEST(TimeDisplayRefresh, RemainingTimeShowsTheMinusAndInvalidateReadsAgain) {
    TimeDisplay display(true);
    const auto frame = display.refresh([] { return TimeReading{true, 1000, 4000, 0}; });
    EXPECT_EQ(frame.time, "-00:00:03.00");
    display.setShowRemaining(false);
    EXPECT_EQ(display.refresh([] { return TimeReading{true, 1000, 4000, 0}; }).time, "00:00:01.00");
}

}  // namespace
}  // namespace tessura::ui

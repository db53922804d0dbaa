// The logic of the player window's controls, without widgets: the band meters' delayed
// history and peak hold, gain steps from the mouse and the settings word, the sliders' value
// mapping and reporting, and the status display's fields.
#include <gtest/gtest.h>

#include "BandMeters.h"
#include "SliderModel.h"
#include "StatusDisplayModel.h"

namespace veloraplay {
namespace {

// A level change shows ten ticks (1.2 s) later; the hold then falls one step a tick.
TEST(BandMeters, ShowLevelsTenTicksLateWithFallingHold) {
    BandMeters meters;
    std::array<uint8_t, BandMeters::kBands> loud{};
    loud.fill(127);  // 127 / 8 = 15, shown as 7
    loud[1] = 40;    // 5
    const std::array<uint8_t, BandMeters::kBands> quiet{};
    std::vector<std::array<int, BandMeters::kBands>> shown;
    shown.push_back(meters.tick(loud));
    for (int t = 1; t < 20; ++t) shown.push_back(meters.tick(quiet));
    for (int t = 0; t < 10; ++t) EXPECT_EQ(shown[static_cast<size_t>(t)][0], 0) << "tick " << t;
    // Tick 10 shows tick 0's row, then the hold falls by one per tick.
    const int expected0[] = {7, 6, 5, 4, 3, 2, 1, 0, 0, 0};
    const int expected1[] = {5, 4, 3, 2, 1, 0, 0, 0, 0, 0};
    for (int t = 10; t < 20; ++t) {
        EXPECT_EQ(shown[static_cast<size_t>(t)][0], expected0[t - 10]) << "tick " << t;
        EXPECT_EQ(shown[static_cast<size_t>(t)][1], expected1[t - 10]) << "tick " << t;
    }
    // Idle clears the history: a row written before it never shows.
    meters.tick(loud);
    meters.idle();
    for (int t = 0; t < 12; ++t) {
        const auto row = meters.tick(quiet);
        EXPECT_EQ(row[0], 0) << "tick " << t;
    }
}

TEST(BandMeters, GainStepsAndTexts) {
    struct YCase {
        int y;
        int step;
    };
    for (const YCase c : {YCase{-1, 0}, YCase{0, 6}, YCase{6, 6}, YCase{7, 5}, YCase{10, 5}, YCase{11, 4},
                          YCase{15, 3}, YCase{27, 0}, YCase{400, 0}}) {
        EXPECT_EQ(BandMeters::stepForY(c.y), c.step) << "y " << c.y;
    }
    const auto steps = BandMeters::stepsFromWord(0x6F053321u);
    EXPECT_EQ(steps, (std::array<int, 8>{1, 2, 3, 3, 5, 0, 6, 6})) << "a nibble above 6 counts as 6";
    EXPECT_EQ(BandMeters::wordFromSteps(BandMeters::stepsFromWord(0x33333333u)), 0x33333333u);
    EXPECT_EQ(BandMeters::wordFromSteps({1, 2, 3, 3, 5, 0, 6, 9}), 0x66053321u);
    const char* tips[] = {"Band #1 - Center 172Hz", "Band #2 - Center 516Hz", "Band #3 - Center 1.0kHz",
                          "Band #4 - Center 1.9kHz", "Band #5 - Center 3.1kHz", "Band #6 - Center 4.7kHz",
                          "Band #7 - Center 6.5kHz", "Band #8 - Center 9.3kHz"};
    for (int b = 0; b < BandMeters::kBands; ++b) EXPECT_EQ(BandMeters::tooltip(b), tips[b]);
}

// The knob's track: the far left is 0 %, the far right 100 %; idle takes no input; the
// volume reports every tenth value while dragging, the position only on release.
TEST(SliderModel, MapsTheKnobAndReportsAsItShould) {
    SliderModel position(120, 10, false);  // 106 pixels of travel
    EXPECT_FALSE(position.press(50)) << "idle: no knob to grab";
    EXPECT_FALSE(position.knobX().has_value());
    ASSERT_TRUE(position.set(0));
    struct XCase {
        int x;
        int value;
    };
    for (const XCase c : {XCase{-20, 0}, XCase{5, 0}, XCase{6, 1}, XCase{58, 50}, XCase{111, 100}, XCase{500, 100}}) {
        EXPECT_EQ(position.valueAt(c.x), c.value) << "x " << c.x;
    }
    ASSERT_TRUE(position.press(5));
    EXPECT_FALSE(position.set(30)) << "the owner does not move a knob the user holds";
    EXPECT_EQ(position.move(58), std::nullopt);
    EXPECT_EQ(position.release(58), 50);
    EXPECT_TRUE(position.set(SliderModel::kIdle));
    EXPECT_EQ(position.value(), SliderModel::kIdle);

    SliderModel volume(120, 10, true);
    volume.set(100);
    ASSERT_TRUE(volume.press(111));
    std::vector<int> posted;
    for (int x = 111; x >= 5; --x) {
        if (auto v = volume.move(x)) posted.push_back(*v);
    }
    EXPECT_EQ(posted, (std::vector<int>{90, 80, 70, 60, 50, 40, 30, 20, 10, 0}));
    EXPECT_EQ(volume.release(5), 0);
}

TEST(StatusDisplayModel, ShowsWhatTheControllerSays) {
    StatusDisplayModel lcd;
    EXPECT_EQ(lcd.elapsedText(), "    ");
    EXPECT_EQ(lcd.itemText(), "  ");
    lcd.notify(202, 2);
    lcd.notify(203, 44100);
    lcd.notify(204, 64);
    lcd.notify(12, 0);
    lcd.notify(11, 1);
    lcd.notify(10, 7);
    EXPECT_EQ(lcd.channelGlyph(), 1);
    EXPECT_EQ(lcd.rateText(), "44");
    EXPECT_EQ(lcd.bitrateText(), " 64");
    EXPECT_EQ(lcd.itemText(), " 7");
    for (int s = 0; s < 65; ++s) lcd.tick();
    EXPECT_EQ(lcd.elapsedText(), " 1:05");
    lcd.notify(11, 2);
    lcd.tick();
    EXPECT_EQ(lcd.elapsedText(), " 1:05") << "paused: the time stands";
    lcd.notify(12, 754);
    EXPECT_EQ(lcd.elapsedText(), "12:34");
    lcd.notify(11, 0);
    EXPECT_EQ(lcd.elapsedText(), "    ") << "stopped: blank";
    lcd.notify(204, -42);
    EXPECT_EQ(lcd.bitrateText(), "PCM");
    lcd.notify(203, 8000);
    EXPECT_EQ(lcd.rateText(), " 8");
    lcd.notify(202, 1);
    EXPECT_EQ(lcd.channelGlyph(), 0);
    EXPECT_FALSE(lcd.notify(999, 1));
}

}  // namespace
}  // namespace veloraplay

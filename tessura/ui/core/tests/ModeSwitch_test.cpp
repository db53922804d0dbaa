#include "ModeSwitch.h"
#include "WindowPlacement.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessura::ui {
namespace {

struct RecordingHost final : ModeHost {
    std::vector<std::string> calls;
    void hideAllModes() override { calls.push_back("hide"); }
    void showMode(int mode, int page) override { calls.push_back("show " + std::to_string(mode) + "/" + std::to_string(page)); }
    void passNavigatorPage(int page) override { calls.push_back("page " + std::to_string(page)); }
    void applyTopMost() override { calls.push_back("topmost"); }
    void clearStatus() override { calls.push_back("clear"); }
};

using Calls = std::vector<std::string>;

TEST(ModeSwitch, EachRequestHidesEveryModeShowsTheRequestedOneAndRemembersModesOneToThree) {
    struct Step {
        int mode, page;
        Calls calls;
        int current, windowState, navPage;
    };
    const Step steps[] = {
        {1, 0, {"hide", "show 1/0", "topmost", "clear"}, 1, 1, 0},
        {1, 4, {}, 1, 1, 0},  // the same mode: nothing for mid
        {2, 5, {"hide", "show 2/5", "topmost", "clear"}, 2, 2, 5},
        {2, 7, {"page 7"}, 2, 2, 7},      // the navigator gets the page (0x8207)
        {2, 255, {"page 7"}, 2, 2, 7},    // a code outside 0-11 keeps the page
        {4, 0, {"hide", "show 4/0", "topmost", "clear"}, 4, 2, 7},  // the splash is not remembered
        {-1, 3, {"hide", "show 4/3", "topmost", "clear"}, 4, 2, 7}, // -1 shows the current mode again
        {3, 0, {"hide", "show 3/0", "topmost", "clear"}, 3, 3, 7},
        {5, 0, {"hide", "show 5/0", "topmost", "clear"}, 5, 3, 7},
        {2, 0xFFFF, {"hide", "show 2/7", "topmost", "clear"}, 2, 2, 7},
        {6, 0, {}, 2, 2, 7},  // no such mode
        {0, 0, {}, 2, 2, 7},
    };
    RecordingHost host;
    ModeSwitch modes(host, 2, 0);
    for (const Step& s : steps) {
        host.calls.clear();
        modes.request(s.mode, s.page);
        EXPECT_EQ(host.calls, s.calls) << s.mode << "/" << s.page;
        EXPECT_EQ(modes.current(), s.current) << s.mode << "/" << s.page;
        EXPECT_EQ(modes.windowState(), s.windowState) << s.mode << "/" << s.page;
        EXPECT_EQ(modes.navPage(), s.navPage) << s.mode << "/" << s.page;
    }
}

TEST(ModeSwitch, RebuildingBeforeAnyModeShowsTheSavedWindowStateAndSavedValuesAreClamped) {
    RecordingHost host;
    ModeSwitch modes(host, 9, 40);
    EXPECT_EQ(modes.windowState(), 3);
    EXPECT_EQ(modes.navPage(), 11);
    modes.request(-1, 0);
    EXPECT_EQ(host.calls, (Calls{"hide", "show 3/0", "topmost", "clear"}));
}

TEST(WindowPlacement, OnePositionOrOnePerModeWithIndividualModePositions) {
    Preferences p;
    p.mainWindowX = 10;
    p.mainWindowY = 20;
    p.windowX = {100, 110, 120};
    p.windowY = {200, 210, 220};
    for (int mode : {1, 2, 3, 4, 5}) EXPECT_EQ(WindowPosition(p, mode), (WindowPoint{10, 20}));
    p.individualModePositions = 1;
    struct Case {
        int mode;
        WindowPoint at;
    };
    const Case cases[] = {{1, {110, 210}}, {2, {100, 200}}, {3, {120, 220}}, {4, {100, 200}}, {5, {100, 200}}};
    for (const Case& c : cases) EXPECT_EQ(WindowPosition(p, c.mode), c.at) << c.mode;

    StoreWindowPosition(p, 3, {7, 8});
    EXPECT_EQ(p.windowX[2], 7);
    EXPECT_EQ(p.windowY[2], 8);
    EXPECT_EQ(p.mainWindowX, 10);
    p.individualModePositions = 0;
    StoreWindowPosition(p, 3, {1, 2});
    EXPECT_EQ(p.mainWindowX, 1);
    EXPECT_EQ(p.windowX[2], 7);
}

TEST(WindowPlacement, AStoredPositionIsMovedInUntilTheWholeWindowIsOnItsScreen) {
    // Two screens side by side, the second smaller and lower; windows of 380 x 236.
    const std::vector<ScreenArea> screens = {{0, 0, 800, 600}, {800, 100, 640, 480}};
    struct Case {
        WindowPoint stored, opened;
    };
    const Case cases[] = {
        {{100, 50}, {100, 50}},     // already visible: kept
        {{400, 300}, {400, 300}},   // just fits
        {{512, 384}, {420, 364}},   // half the screen: moved in by the overhang
        {{-50, -20}, {0, 0}},       // above and left of everything
        {{900, 150}, {900, 150}},   // on the second screen
        {{1300, 500}, {1060, 344}}, // beyond the second screen's corner, kept on it
        {{3000, 2000}, {420, 364}}, // a screen that is gone: the primary
    };
    for (const Case& c : cases)
        EXPECT_EQ(KeepOnScreen(c.stored, 380, 236, screens), c.opened) << c.stored.x << "," << c.stored.y;
    // Larger than the screen: the top-left corner stays on it, so the window can be moved.
    EXPECT_EQ(KeepOnScreen({300, 300}, 1000, 700, screens), (WindowPoint{0, 0}));
    EXPECT_EQ(KeepOnScreen({5, 6}, 380, 236, {}), (WindowPoint{5, 6}));
}

TEST(WindowPlacement, StartsOnTheSplashWhenItIsDueElseInTheSavedModeAndPage) {
    Preferences p;
    p.windowState = 3;
    p.navWindowState = 6;
    p.openWithSplash = true;
    EXPECT_EQ(StartupMode(p).mode, kSplashMode);
    EXPECT_EQ(StartupMode(p).page, 0);
    p.openWithSplash = false;
    EXPECT_EQ(StartupMode(p).mode, 3);
    EXPECT_EQ(StartupMode(p).page, 6);
    p.windowState = 0;
    p.navWindowState = 30;
    EXPECT_EQ(ModeAfterSplash(p).mode, 1);
    EXPECT_EQ(ModeAfterSplash(p).page, 11);
}

}  // namespace
}  // namespace tessura::ui

#pragma once
// Where the window opens in each mode and which mode it opens in.
#include "ModeSwitch.h"
#include "Preferences.h"

#include <vector>

namespace tessura::ui {

struct WindowPoint {
    int x = 0, y = 0;
    bool operator==(const WindowPoint&) const = default;
};

// The Window%d_ slot of a mode: 1 for mid, 2 for small, 0 for the navigator and the others.
int PositionSlot(int mode);
// MainWindowX/Y, or with IndividualModePositions the mode's own Window%d_X/Y.
WindowPoint WindowPosition(const Preferences& preferences, int mode);
void StoreWindowPosition(Preferences& preferences, int mode, WindowPoint at);

struct ScreenArea {
    int x = 0, y = 0, width = 0, height = 0;
};
// Where a window of `width` x `height` stored at `at` opens so that all of it can be seen: on
// the screen area holding its top-left corner (else the first, the primary), moved in until it
// fits, its top-left kept on the area when it is larger than the area. A saved position from a
// larger or detached screen, or the default of half the screen, never leaves it out of reach.
WindowPoint KeepOnScreen(WindowPoint at, int width, int height, const std::vector<ScreenArea>& areas);

// The splash (mode 4, page 0) when it is due, else the saved WindowState and its page.
ModeRequest StartupMode(const Preferences& preferences);
// Where the splash leads: the saved mode.
ModeRequest ModeAfterSplash(const Preferences& preferences);

}  // namespace tessura::ui

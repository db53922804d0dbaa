#pragma once
// Where the window opens in each mode and which mode it opens in.
#include "ModeSwitch.h"
#include "Preferences.h"

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

// The splash (mode 4, page 0) when it is due, else the saved WindowState and its page.
ModeRequest StartupMode(const Preferences& preferences);
// Where the splash leads: the saved mode.
ModeRequest ModeAfterSplash(const Preferences& preferences);

}  // namespace tessura::ui

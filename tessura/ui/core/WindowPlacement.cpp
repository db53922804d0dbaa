#include "WindowPlacement.h"

#include <algorithm>

namespace tessura::ui {

int PositionSlot(int mode) {
    switch (mode) {
        case kMidMode: return 1;
        case kSmallMode: return 2;
        default: return 0;
    }
}

WindowPoint WindowPosition(const Preferences& preferences, int mode) {
    if (preferences.individualModePositions == 0) return {preferences.mainWindowX, preferences.mainWindowY};
    const auto slot = static_cast<std::size_t>(PositionSlot(mode));
    return {preferences.windowX[slot], preferences.windowY[slot]};
}

void StoreWindowPosition(Preferences& preferences, int mode, WindowPoint at) {
    if (preferences.individualModePositions == 0) {
        preferences.mainWindowX = at.x;
        preferences.mainWindowY = at.y;
        return;
    }
    const auto slot = static_cast<std::size_t>(PositionSlot(mode));
    preferences.windowX[slot] = at.x;
    preferences.windowY[slot] = at.y;
}

WindowPoint KeepOnScreen(WindowPoint at, int width, int height, const std::vector<ScreenArea>& areas) {
    if (areas.empty()) return at;
    const ScreenArea* area = &areas.front();
    for (const ScreenArea& a : areas)
        if (at.x >= a.x && at.x < a.x + a.width && at.y >= a.y && at.y < a.y + a.height) {
            area = &a;
            break;
        }
    const auto fit = [](int v, int size, int from, int length) {
        return std::max(from, std::min(v, from + length - size));
    };
    return {fit(at.x, width, area->x, area->width), fit(at.y, height, area->y, area->height)};
}

ModeRequest ModeAfterSplash(const Preferences& preferences) {
    return {std::clamp(preferences.windowState, 1, 3), std::clamp(preferences.navWindowState, 0, kNavigatorPages - 1)};
}

ModeRequest StartupMode(const Preferences& preferences) {
    if (preferences.openWithSplash) return {kSplashMode, 0};
    return ModeAfterSplash(preferences);
}

}  // namespace tessura::ui

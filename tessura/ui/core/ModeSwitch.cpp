#include "ModeSwitch.h"

#include <algorithm>

namespace tessura::ui {

ModeSwitch::ModeSwitch(ModeHost& host, int windowState, int navPage)
    : host_(host), windowState_(std::clamp(windowState, 1, 3)), navPage_(std::clamp(navPage, 0, kNavigatorPages - 1)) {}

bool ModeSwitch::request(int mode, int page) {
    if (mode == kRebuildMode) mode = current_ != kNoMode ? current_ : windowState_;
    else if (mode < kMidMode || mode > kFullScreenMode) return false;
    else if (mode == current_) {
        if (mode == kNavigatorMode) {
            notePage(page);
            host_.passNavigatorPage(pageToShow(page));
        }
        return true;
    }
    if (mode == kNavigatorMode) notePage(page);
    host_.hideAllModes();
    host_.showMode(mode, mode == kNavigatorMode ? navPage_ : page);
    current_ = mode;
    if (mode >= kMidMode && mode <= kSmallMode) windowState_ = mode;
    host_.applyTopMost();
    host_.clearStatus();
    return true;
}

void ModeSwitch::notePage(int page) {
    if (IsNavigatorPage(page)) navPage_ = page;
}

}  // namespace tessura::ui

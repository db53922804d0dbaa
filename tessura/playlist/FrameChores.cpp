#include "FrameChores.h"

#include <algorithm>

namespace tessura {

int framePeriodMs(int displayFrameRate, bool exclusiveFullScreen) {
    int rate = std::max(1, displayFrameRate);
    if (exclusiveFullScreen) rate = std::max(rate, 60);
    return std::max(1, 1000 / rate);
}

FrameChoresResult frameChores(FrameState& state) {
    FrameChoresResult result;
    const int64_t shown = state.fullScreen ? kStatusShownFullScreenMs : kStatusShownMs;
    if (state.lastStatusMs >= 0 && state.nowMs - state.lastStatusMs >= shown) {
        result.clearStatus = true;
        state.lastStatusMs = -1;
    }
    if (state.nowMs - state.lastInputMs > kIdleAfterMs) {
        state.lastInputMs = state.nowMs;
        result.suspend = state.nothingPlayedYet || state.paused || state.minimised;
    }
    return result;
}

void DelayedMessages::add(void* window, ThreadMessage message, int64_t dueMs) {
    std::lock_guard<std::mutex> hold(mutex_);
    entries_.push_back({window, std::move(message), dueMs});
}

std::vector<DelayedMessages::Entry> DelayedMessages::takeDue(int64_t nowMs) {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<Entry> due;
    auto keep = std::stable_partition(entries_.begin(), entries_.end(),
                                      [nowMs](const Entry& e) { return e.dueMs > nowMs; });
    due.assign(std::make_move_iterator(keep), std::make_move_iterator(entries_.end()));
    entries_.erase(keep, entries_.end());
    return due;
}

std::size_t DelayedMessages::size() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return entries_.size();
}

}  // namespace tessura

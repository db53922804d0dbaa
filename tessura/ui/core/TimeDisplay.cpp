#include "TimeDisplay.h"
// The display formats are written "%.2d" ("%0.2d" prints the same; the 0 flag is redundant with a precision).

#include <algorithm>
#include <cstdio>

namespace tessura::ui {

std::string FormatDisplayTime(int64_t ms, bool remaining) {
    ms = std::max<int64_t>(0, ms);
    const int hundredths = static_cast<int>(ms / 10 % 100);
    const int seconds = static_cast<int>(ms / 1000 % 60);
    const int minutes = static_cast<int>(ms / 60000 % 60);
    const int hours = static_cast<int>(ms / 3600000 % 100);
    char text[32];
    std::snprintf(text, sizeof text, remaining ? "-%.2d:%.2d:%.2d.%.2d" : "%.2d:%.2d:%.2d.%.2d", hours,
                  minutes, seconds, hundredths);
    return text;
}

EntryNumber FormatEntryNumber(int index) {
    const int number = std::max(0, index) + 1;
    char text[8];
    std::snprintf(text, sizeof text, "%.3d", number % 1000);
    return {text, number >= 1000};
}

int64_t DisplayValueMs(const TimeReading& reading, bool showRemaining) {
    if (!reading.playing) return 0;
    const int64_t position = std::max<int32_t>(0, reading.positionMs);
    if (!showRemaining) return position;
    return std::max<int64_t>(0, int64_t{reading.lengthMs} - position);
}

void TimeDisplay::setShowRemaining(bool on) {
    if (on == showRemaining_) return;
    showRemaining_ = on;
    invalidate();
}

void TimeDisplay::invalidate() {
    refreshes_ = 0;
    fresh_ = false;
}

TimeDisplay::Frame TimeDisplay::refresh(const std::function<TimeReading()>& read) {
    const bool recompute = refreshes_ % kRecomputeEvery == 0;
    refreshes_ = (refreshes_ + 1) % kRecomputeEvery;
    if (recompute) {
        const TimeReading reading = read();
        Frame next;
        next.time = FormatDisplayTime(DisplayValueMs(reading, showRemaining_), showRemaining_);
        next.entry = FormatEntryNumber(reading.entryIndex);
        const bool changed = !fresh_ || next.time != last_.time || next.entry.text != last_.entry.text ||
                             next.entry.overLine != last_.entry.overLine;
        if (changed) unchangedRedraws_ = 0;
        last_ = next;
        fresh_ = true;
    }
    Frame out = last_;
    out.redraw = unchangedRedraws_ < kMaxUnchangedRedraws;
    if (out.redraw) ++unchangedRedraws_;
    return out;
}

}  // namespace tessura::ui

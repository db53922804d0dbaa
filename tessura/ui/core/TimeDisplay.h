#pragma once
// The time and entry-number display of the mid and navigator modes: what it reads and how it
// writes it, and when a refresh has anything new to draw. No drawing here.
#include <cstdint>
#include <functional>
#include <string>

namespace tessura::ui {

// Hours (modulo 100), minutes, seconds and hundredths; remaining time with a leading '-'.
std::string FormatDisplayTime(int64_t ms, bool remaining);

struct EntryNumber {
    std::string text;       // three digits: index + 1, modulo 1000
    bool overLine = false;  // from 1000 on a line is drawn over the digits
};
EntryNumber FormatEntryNumber(int index);

struct TimeReading {
    bool playing = false;
    int32_t positionMs = 0;
    int32_t lengthMs = 0;
    int entryIndex = 0;
};

// The shown value: the position, or with ShowElapsedTime the length minus the position (not
// below 0); 0 while nothing plays.
int64_t DisplayValueMs(const TimeReading& reading, bool showRemaining);

class TimeDisplay {
  public:
    static constexpr int kRecomputeEvery = 3;
    static constexpr int kMaxUnchangedRedraws = 15;

    struct Frame {
        bool redraw = false;
        std::string time;
        EntryNumber entry;
    };

    explicit TimeDisplay(bool showRemaining = false) : showRemaining_(showRemaining) {}
    void setShowRemaining(bool on);
    // One refresh: `read` is asked on every third refresh only; `redraw` says whether the
    // display has to be drawn this time.
    Frame refresh(const std::function<TimeReading()>& read);
    // Forces the next refresh to read and draw (a mode shown again, a skin change).
    void invalidate();

  private:
    bool showRemaining_;
    int refreshes_ = 0;
    int unchangedRedraws_ = 0;
    bool fresh_ = false;
    Frame last_;
};

}  // namespace tessura::ui

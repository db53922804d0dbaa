#pragma once
// What the timer thread does once per display frame, apart from drawing: clearing the status
// line a while after its last text, suspending itself when nobody is looking, and sending the
// delayed messages that fell due. Pure decisions over the times given, so each rule is tested
// with a clock of the test's own.
#include "ThreadMessages.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace tessura {

inline constexpr int64_t kStatusShownMs = 1750;
inline constexpr int64_t kStatusShownFullScreenMs = 3000;
inline constexpr int64_t kIdleAfterMs = 4000;

// One frame's period: 1000 / DisplayFrameRate ms, at least 60 frames a second while the
// full-screen visualisation runs exclusively.
int framePeriodMs(int displayFrameRate, bool exclusiveFullScreen);

struct FrameState {
    int64_t nowMs = 0;
    int64_t lastStatusMs = -1;  // when the status line last got a text; -1: it is clear
    bool fullScreen = false;
    int64_t lastInputMs = 0;    // the last mouse input (or the last idle check)
    bool nothingPlayedYet = false;
    bool paused = false;
    bool minimised = false;
};

struct FrameChoresResult {
    bool clearStatus = false;
    bool suspend = false;  // post kSuspendTimer: the thread rests until input comes
};

// `state.lastInputMs` moves on to now when the idle check was made.
FrameChoresResult frameChores(FrameState& state);

// Messages to send later: to a window, or (none) to the main thread.
class DelayedMessages {
  public:
    struct Entry {
        void* window = nullptr;
        ThreadMessage message;
        int64_t dueMs = 0;
    };
    void add(void* window, ThreadMessage message, int64_t dueMs);
    // Every entry due at `nowMs`, in the order they were added, removed from the list.
    std::vector<Entry> takeDue(int64_t nowMs);
    std::size_t size() const;

  private:
    mutable std::mutex mutex_;  // guards entries_
    std::vector<Entry> entries_;
};

}  // namespace tessura

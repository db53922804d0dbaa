#include "ThreadMessages.h"

#include <utility>

namespace tessura {

const char* threadMessageName(uint32_t code) {
    namespace m = thread_message;
    switch (code) {
        case m::kStopAndNotify: return "kStopAndNotify";
        case m::kStartPlayback: return "kStartPlayback";
        case m::kStop: return "kStop";
        case m::kRefreshTrackInfo: return "kRefreshTrackInfo";
        case m::kSwitchMode: return "kSwitchMode";
        case m::kEndOfTrack: return "kEndOfTrack";
        case m::kSuspendTimer: return "kSuspendTimer";
        case m::kQuit: return "kQuit";
        case m::kRefreshSongDisplay: return "kRefreshSongDisplay";
        case m::kLoadStoredSkin: return "kLoadStoredSkin";
        case m::kNavigatorPage: return "kNavigatorPage";
        case m::kExtendedInfo: return "kExtendedInfo";
        case m::kShowWindow: return "kShowWindow";
        case m::kOpenFileDialog: return "kOpenFileDialog";
        case m::kStatusText: return "kStatusText";
        case m::kForwardedCommandLine: return "kForwardedCommandLine";
        default: return nullptr;
    }
}

void ThreadMessageQueue::setWakeUp(std::function<void()> wakeUp) {
    std::lock_guard<std::mutex> hold(mutex_);
    wakeUp_ = std::move(wakeUp);
}

void ThreadMessageQueue::post(ThreadMessage message) {
    std::function<void()> wakeUp;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        const bool wasEmpty = messages_.empty();
        messages_.push_back(std::move(message));
        if (wasEmpty) wakeUp = wakeUp_;
    }
    // Outside the lock: the wake-up may drain at once on a single-threaded test.
    if (wakeUp) wakeUp();
}

void ThreadMessageQueue::post(uint32_t code, intptr_t wparam, intptr_t lparam) {
    ThreadMessage message;
    message.code = code;
    message.wparam = wparam;
    message.lparam = lparam;
    post(std::move(message));
}

std::size_t ThreadMessageQueue::drain(const std::function<void(const ThreadMessage&)>& handle) {
    std::deque<ThreadMessage> taken;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        taken.swap(messages_);
    }
    for (const ThreadMessage& message : taken) handle(message);
    return taken.size();
}

std::size_t ThreadMessageQueue::pending() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return messages_.size();
}

}  // namespace tessura

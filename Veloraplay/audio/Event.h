// A signal between threads with manual or automatic reset, as the workers' stop and pause
// events need: set, reset, and waits with a time-out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace veloraplay {

class Event {
  public:
    explicit Event(bool manualReset, bool initiallySet = false)
        : manual_(manualReset), set_(initiallySet) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            set_ = true;
        }
        // An auto-reset event releases one waiter; a manual one all of them.
        if (manual_) {
            changed_.notify_all();
        } else {
            changed_.notify_one();
        }
    }
    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = false;
    }
    bool isSet() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return set_;
    }
    // True when the event was (or became) set within `timeout`; an auto-reset event is then
    // cleared again.
    bool wait(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, timeout, [this] { return set_; })) return false;
        if (!manual_) set_ = false;
        return true;
    }
    void wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return set_; });
        if (!manual_) set_ = false;
    }

  private:
    const bool manual_;
    bool set_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
};

}  // namespace veloraplay

#pragma once
// A signal between threads. A manual-reset event stays set until reset and releases every
// waiter; an auto-reset event releases one waiter and clears itself.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tessura {

class Event {
  public:
    enum class Reset { Manual, Automatic };

    explicit Event(Reset reset, bool initiallySet = false)
        : manual_(reset == Reset::Manual), signalled_(initiallySet) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set() {
        std::lock_guard<std::mutex> hold(mutex_);
        signalled_ = true;
        if (manual_) {
            wake_.notify_all();
        } else {
            wake_.notify_one();
        }
    }

    void reset() {
        std::lock_guard<std::mutex> hold(mutex_);
        signalled_ = false;
    }

    bool isSet() const {
        std::lock_guard<std::mutex> hold(mutex_);
        return signalled_;
    }

    // Waits until the event is set or `timeout` passes; true when it was set (an auto-reset
    // event is then consumed by this waiter).
    bool waitFor(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> hold(mutex_);
        if (!wake_.wait_for(hold, timeout, [this] { return signalled_; })) return false;
        consumeLocked();
        return true;
    }

    void wait() {
        std::unique_lock<std::mutex> hold(mutex_);
        wake_.wait(hold, [this] { return signalled_; });
        consumeLocked();
    }

  private:
    void consumeLocked() {
        if (!manual_) signalled_ = false;
    }

    const bool manual_;
    bool signalled_;  // guarded by mutex_
    mutable std::mutex mutex_;
    std::condition_variable wake_;
};

}  // namespace tessura

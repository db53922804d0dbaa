#pragma once
// A thread that runs a task once per period until it is stopped. Stopping sets a flag, wakes
// the thread and joins it, so the task is never cut off in the middle. It can rest (suspend)
// until it is resumed, as the timer thread does while nobody looks at the window.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tessura {

class PeriodicThread {
  public:
    PeriodicThread() = default;
    ~PeriodicThread() { stop(); }
    PeriodicThread(const PeriodicThread&) = delete;
    PeriodicThread& operator=(const PeriodicThread&) = delete;

    void start(std::chrono::milliseconds period, std::function<void()> task);
    void setPeriod(std::chrono::milliseconds period);
    void suspend();
    void resume();
    bool suspended() const;
    // Returns once the thread has ended (at most one task run later).
    void stop();

  private:
    void run();

    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable wake_;
    std::chrono::milliseconds period_{16};
    std::function<void()> task_;
    bool stopping_ = false, suspended_ = false;
    std::thread thread_;
};

}  // namespace tessura

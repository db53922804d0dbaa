#include "PeriodicThread.h"

namespace tessura {

void PeriodicThread::start(std::chrono::milliseconds period, std::function<void()> task) {
    stop();
    std::lock_guard<std::mutex> hold(mutex_);
    period_ = period;
    task_ = std::move(task);
    stopping_ = suspended_ = false;
    thread_ = std::thread([this] { run(); });
}

void PeriodicThread::setPeriod(std::chrono::milliseconds period) {
    std::lock_guard<std::mutex> hold(mutex_);
    period_ = period;
}

void PeriodicThread::suspend() {
    std::lock_guard<std::mutex> hold(mutex_);
    suspended_ = true;
}

void PeriodicThread::resume() {
    std::lock_guard<std::mutex> hold(mutex_);
    suspended_ = false;
    wake_.notify_all();
}

bool PeriodicThread::suspended() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return suspended_;
}

void PeriodicThread::stop() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
        wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

void PeriodicThread::run() {
    std::unique_lock<std::mutex> hold(mutex_);
    while (!stopping_) {
        if (suspended_) {
            wake_.wait(hold, [this] { return stopping_ || !suspended_; });
            continue;
        }
        const auto next = std::chrono::steady_clock::now() + period_;
        std::function<void()> task = task_;
        hold.unlock();
        if (task) task();
        hold.lock();
        wake_.wait_until(hold, next, [this] { return stopping_; });
    }
}

}  // namespace tessura

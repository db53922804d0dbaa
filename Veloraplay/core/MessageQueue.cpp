#include "MessageQueue.h"

namespace veloraplay {

void MessageQueue::setWakeCallback(std::function<void()> wake) {
    std::function<void()> now;
    {
        std::lock_guard<std::mutex> guard(lock_);
        wake_ = std::move(wake);
        if (!queue_.empty()) now = wake_;
    }
    // Messages posted before anyone listened still need their wake-up.
    if (now) now();
}

void MessageQueue::post(Message message) {
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const bool wasEmpty = queue_.empty();
        queue_.push_back(std::move(message));
        if (wasEmpty) wake = wake_;
    }
    if (wake) wake();
}

std::size_t MessageQueue::drain(const std::function<void(const Message&)>& handle) {
    std::deque<Message> batch;
    {
        std::lock_guard<std::mutex> guard(lock_);
        batch.swap(queue_);
    }
    for (const Message& message : batch) handle(message);
    return batch.size();
}

std::size_t MessageQueue::size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return queue_.size();
}

}  // namespace veloraplay

#include "PacedDevice.h"

namespace veloraplay {

PacedDevice::~PacedDevice() = default;

void PacedDevice::shutDown() {
    close();
}

bool PacedDevice::open(int channels, int sampleRate, DoneCallback done) {
    if (open_ || channels < 1 || sampleRate < 1) return false;
    if (!begin(channels, sampleRate)) return false;
    channels_ = channels;
    sampleRate_ = sampleRate;
    done_ = std::move(done);
    paused_ = false;
    quit_ = false;
    queue_.clear();
    open_ = true;
    thread_ = std::thread([this] { run(); });
    return true;
}

bool PacedDevice::write(const int16_t* samples, size_t count, int tag) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return false;
    queue_.push_back(Queued{samples, count, tag});
    changed_.notify_all();
    return true;
}

void PacedDevice::pause() {
    std::lock_guard<std::mutex> lock(mutex_);
    paused_ = true;
    changed_.notify_all();
}

void PacedDevice::restart() {
    std::lock_guard<std::mutex> lock(mutex_);
    paused_ = false;
    changed_.notify_all();
}

void PacedDevice::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Queued& q : queue_) {
        if (done_) done_(q.tag);
    }
    queue_.clear();
    ++generation_;
    changed_.notify_all();
}

void PacedDevice::setVolume(int level) {
    std::lock_guard<std::mutex> lock(mutex_);
    volume_ = deviceVolume(level);
}

void PacedDevice::close() {
    if (!open_) return;
    reset();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        changed_.notify_all();
    }
    thread_.join();
    open_ = false;
    done_ = nullptr;
    end();
}

void PacedDevice::run() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
        if (paused_ || queue_.empty()) {
            changed_.wait(lock);
            continue;
        }
        Queued& head = queue_.front();
        const auto length =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                static_cast<double>(head.count) / (static_cast<double>(channels_) * sampleRate_)));
        const unsigned generation = generation_;
        const auto start = Clock::now();
        const auto deadline = start + (length - head.played);
        const bool interrupted = changed_.wait_until(
            lock, deadline, [&] { return quit_ || paused_ || generation_ != generation; });
        if (interrupted) {
            // A pause keeps the part already played; a reset has emptied the queue.
            if (generation_ == generation && !queue_.empty()) head.played += Clock::now() - start;
            continue;
        }
        consume(head.samples, head.count, volume_);
        const int tag = head.tag;
        queue_.pop_front();
        if (done_) done_(tag);
    }
}

}  // namespace veloraplay

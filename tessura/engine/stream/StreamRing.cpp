#include "StreamRing.h"

#include <algorithm>
#include <cstring>

namespace tessura {

StreamRing::StreamRing(std::size_t size) : buffer_(size + 1) {}

std::size_t StreamRing::Readable() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return readableLocked();
}

std::size_t StreamRing::Free() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return freeLocked();
}

bool StreamRing::Closed() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return closed_;
}

std::size_t StreamRing::Write(const void* data, std::size_t n, bool block, const PollableEvent* cancel) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::size_t stored = 0;
    while (stored < n) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (closed_) return stored;
            const std::size_t space = freeLocked();
            if (space > 0) {
                std::size_t left = std::min(n - stored, space);
                while (left > 0) {
                    const std::size_t run = std::min(left, buffer_.size() - write_);
                    if (bytes != nullptr) {
                        std::memcpy(buffer_.data() + write_, bytes + stored, run);
                    } else {
                        std::memset(buffer_.data() + write_, 0, run);
                    }
                    write_ = (write_ + run) % buffer_.size();
                    stored += run;
                    left -= run;
                }
                if (readableLocked() >= std::max<std::size_t>(wanted_, 1)) dataAvailable_.set();
                continue;
            }
            if (!block) return stored;
        }
        if (spaceAvailable_.wait(cancel) == PollableEvent::Woken::Other) return stored;
    }
    return stored;
}

std::size_t StreamRing::copyOut(uint8_t* destination, std::size_t n, bool consume) {
    const std::size_t take = std::min(n, readableLocked());
    std::size_t at = read_, done = 0;
    while (done < take) {
        const std::size_t run = std::min(take - done, buffer_.size() - at);
        if (destination != nullptr) std::memcpy(destination + done, buffer_.data() + at, run);
        at = (at + run) % buffer_.size();
        done += run;
    }
    if (consume && take > 0) {
        read_ = at;
        spaceAvailable_.set();
    }
    return take;
}

int64_t StreamRing::Read(void* destination, std::size_t n, bool block, bool consume,
                         const PollableEvent* cancel) {
    auto* bytes = static_cast<uint8_t*>(destination);
    std::size_t total = 0;
    const PollableEvent* stop = cancel;
    while (total < n) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (readableLocked() > 0) {
                total += copyOut(bytes != nullptr ? bytes + total : nullptr, n - total, consume);
                if (total >= n || closed_ || !block || !consume) {
                    wanted_ = 0;
                    return static_cast<int64_t>(total);
                }
                // Part of the request came: the rest is waited for without the cancel event.
                stop = nullptr;
            } else if (!block || closed_) {
                wanted_ = 0;
                return static_cast<int64_t>(total);
            }
            // A request is never larger than the ring can hold, or it would wait for ever.
            wanted_ = std::min(n - total, buffer_.size() - 1);
        }
        if (dataAvailable_.wait(stop) == PollableEvent::Woken::Other) {
            std::lock_guard<std::mutex> hold(mutex_);
            wanted_ = 0;
            return total > 0 ? static_cast<int64_t>(total) : -1;
        }
    }
    return static_cast<int64_t>(total);
}

void StreamRing::Finish(bool discard) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (discard) read_ = write_;
        closed_ = true;
    }
    spaceAvailable_.set();
    dataAvailable_.set();
}

}  // namespace tessura

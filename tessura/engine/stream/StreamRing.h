#pragma once
// The ring buffer between an internet stream's reader thread (the writer) and the engine's
// decoding thread (the reader). Capacity C = requested size + 1: one slot always stays empty,
// so readable = (write - read) mod C and free = (read - write - 1) mod C. Two automatic events:
// space-available (set by reads) and data-available (set by writes once a waiting reader's
// count is there). Finish closes the ring: what is left stays readable unless discarded.
//
// Threads: any number of callers; the indices and flags are guarded by mutex_, and the waits
// happen outside it.
#include "PollableEvent.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tessura {

class StreamRing {
  public:
    explicit StreamRing(std::size_t size);
    StreamRing(const StreamRing&) = delete;
    StreamRing& operator=(const StreamRing&) = delete;

    // Stores `n` bytes of `data` (zeros when null), waiting for space when `block`; returns
    // how many were stored: fewer than `n` when the ring was closed, `cancel` was set, or (not
    // blocking) it was full.
    std::size_t Write(const void* data, std::size_t n, bool block, const PollableEvent* cancel);

    // Up to `n` bytes into `destination` (null only skips them). With bytes there it takes
    // what is there and, consuming and blocking, goes on until `n` or the ring is closed
    // (those later waits ignore `cancel`). With none: 0 when not blocking or closed, else it
    // waits for data; -1 when `cancel` ends that wait. Without `consume` the bytes stay and
    // only what is there at once is copied.
    int64_t Read(void* destination, std::size_t n, bool block, bool consume, const PollableEvent* cancel);

    // Closes the ring (dropping what is readable when `discard`) and wakes every waiter.
    void Finish(bool discard);

    std::size_t Readable() const;
    std::size_t Free() const;
    bool Closed() const;
    std::size_t Capacity() const { return buffer_.size(); }

  private:
    std::size_t readableLocked() const { return (write_ + buffer_.size() - read_) % buffer_.size(); }
    std::size_t freeLocked() const { return (read_ + buffer_.size() - write_ - 1) % buffer_.size(); }
    std::size_t copyOut(uint8_t* destination, std::size_t n, bool consume);

    std::vector<uint8_t> buffer_;
    mutable std::mutex mutex_;  // guards the four below
    std::size_t read_ = 0;
    std::size_t write_ = 0;
    std::size_t wanted_ = 0;  // what a blocked reader waits for
    bool closed_ = false;
    PollableEvent spaceAvailable_{PollableEvent::Reset::Automatic};
    PollableEvent dataAvailable_{PollableEvent::Reset::Automatic};
};

}  // namespace tessura

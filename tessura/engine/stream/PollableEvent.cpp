#include "PollableEvent.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tessura {

PollableEvent::PollableEvent(Reset reset)
    : manual_(reset == Reset::Manual), fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

PollableEvent::~PollableEvent() {
    if (fd_ >= 0) ::close(fd_);
}

void PollableEvent::set() {
    const uint64_t one = 1;
    // A full counter (never reached in practice) still leaves the event set.
    while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void PollableEvent::reset() { consume(); }

bool PollableEvent::consume() {
    uint64_t value = 0;
    ssize_t n;
    do {
        n = ::read(fd_, &value, sizeof value);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof value);
}

bool PollableEvent::isSet() const {
    pollfd one{fd_, POLLIN, 0};
    return ::poll(&one, 1, 0) > 0 && (one.revents & POLLIN) != 0;
}

PollableEvent::Woken PollableEvent::wait(const PollableEvent* other, int timeoutMs) {
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {other != nullptr ? other->fd_ : -1, POLLIN, 0}};
        const int ready = ::poll(fds, other != nullptr ? 2 : 1, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return Woken::TimedOut;
        }
        if (ready == 0) return Woken::TimedOut;
        if (other != nullptr && (fds[1].revents & POLLIN) != 0) return Woken::Other;
        if ((fds[0].revents & POLLIN) != 0) {
            // Another waiter may have taken an automatic event first: wait again.
            if (manual_ || consume()) return Woken::Event;
        }
    }
}

}  // namespace tessura

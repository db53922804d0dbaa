#include "MprisBusThread.h"

#include <cerrno>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tessura::remote {

MprisBusThread::MprisBusThread(MprisBus& bus) : bus_(bus) {
    stopFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (stopFd_ < 0) throw std::runtime_error("MprisBusThread: no event descriptor");
    thread_ = std::thread([this] { run(); });
}

MprisBusThread::~MprisBusThread() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(stopFd_, &one, sizeof one);
    thread_.join();
    close(stopFd_);
}

void MprisBusThread::run() {
    for (;;) {
        bus_.process();
        pollfd fds[2] = {{bus_.fd(), POLLIN, 0}, {stopFd_, POLLIN, 0}};
        const int r = poll(fds, 2, bus_.timeoutMs());
        if (r < 0 && errno != EINTR) return;
        if (fds[1].revents != 0) return;
    }
}

}  // namespace tessura::remote

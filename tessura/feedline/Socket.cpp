#include "Socket.h"

#include "FeedlineAbi.h"

#include <cerrno>
#include <memory>
#include <mutex>
#include <sys/eventfd.h>
#include <system_error>
#include <thread>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace feedline {

int Deadline::remaining() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        at_ - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

int waitReady(int fd, short events, int cancel, const Deadline& deadline) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {cancel, POLLIN, 0}};
        const nfds_t count = cancel >= 0 ? 2 : 1;
        const int ready = ::poll(fds, count, deadline.remaining());
        if (ready < 0) {
            if (errno == EINTR) continue;
            return FEEDLINE_CONNECTION_LOST;
        }
        if (count == 2 && fds[1].revents != 0) return FEEDLINE_CANCELLED;
        if (ready == 0) return 0;
        // Errors and hang-ups count as ready: the next call reports them.
        if (fds[0].revents != 0) return 1;
    }
}

namespace {

// A name look-up on a thread of its own, so that the caller can give up on it (cancel or
// deadline) while the resolver still waits for its servers. The thread owns its share of the
// state and frees the result when nobody takes it. The library is linked "nodelete", so a
// look-up that outlives its caller never returns into unloaded code.
struct PendingLookup {
    std::mutex mutex;  // guards the three below
    bool done = false;
    int status = 0;
    addrinfo* result = nullptr;
    int doneEvent = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);

    ~PendingLookup() {
        if (result != nullptr) ::freeaddrinfo(result);
        if (doneEvent >= 0) ::close(doneEvent);
    }
};

addrinfo lookupHints(int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    return hints;
}

// The addresses of host:port: a numeric address at once, a name through a PendingLookup.
int resolve(const std::string& host, uint16_t port, int cancel, const Deadline& deadline, addrinfo*& found) {
    found = nullptr;
    const std::string service = std::to_string(port);
    const addrinfo numeric = lookupHints(AI_NUMERICHOST | AI_NUMERICSERV);
    if (::getaddrinfo(host.c_str(), service.c_str(), &numeric, &found) == 0 && found != nullptr) {
        return FEEDLINE_OK;
    }
    found = nullptr;
    auto pending = std::make_shared<PendingLookup>();
    if (pending->doneEvent < 0) return FEEDLINE_RESOLVE_FAILED;
    try {
        std::thread([pending, host, service] {
            const addrinfo hints = lookupHints(AI_ADDRCONFIG | AI_NUMERICSERV);
            addrinfo* result = nullptr;
            const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &result);
            std::lock_guard<std::mutex> hold(pending->mutex);
            pending->status = status;
            pending->result = result;
            pending->done = true;
            const uint64_t one = 1;
            static_cast<void>(::write(pending->doneEvent, &one, sizeof one));
        }).detach();
    } catch (const std::system_error&) {
        return FEEDLINE_RESOLVE_FAILED;
    }
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(pending->mutex);
            if (pending->done) {
                if (pending->status != 0 || pending->result == nullptr) return FEEDLINE_RESOLVE_FAILED;
                found = pending->result;
                pending->result = nullptr;
                return FEEDLINE_OK;
            }
        }
        const int ready = waitReady(pending->doneEvent, POLLIN, cancel, deadline);
        if (ready == 0) return FEEDLINE_TIMED_OUT;
        if (ready < 0) return ready;
    }
}

}  // namespace

int connectTcp(const std::string& host, uint16_t port, int cancel, const Deadline& deadline, int& fd) {
    fd = -1;
    addrinfo* found = nullptr;
    const int resolved = resolve(host, port, cancel, deadline, found);
    if (resolved != FEEDLINE_OK) return resolved;
    int result = FEEDLINE_CONNECT_FAILED;
    for (addrinfo* at = found; at != nullptr; at = at->ai_next) {
        const int s = ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                               at->ai_protocol);
        if (s < 0) continue;
        int ready = 1;
        if (::connect(s, at->ai_addr, at->ai_addrlen) != 0) {
            ready = errno == EINPROGRESS ? waitReady(s, POLLOUT, cancel, deadline) : FEEDLINE_CONNECT_FAILED;
            if (ready == 1) {
                int error = 0;
                socklen_t length = sizeof error;
                if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
                    ready = FEEDLINE_CONNECT_FAILED;
                }
            } else if (ready == 0) {
                ready = FEEDLINE_TIMED_OUT;
            }
        }
        if (ready == 1) {
            const int on = 1;
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            fd = s;
            result = FEEDLINE_OK;
            break;
        }
        ::close(s);
        result = ready;
        if (ready == FEEDLINE_CANCELLED || ready == FEEDLINE_TIMED_OUT) break;
    }
    ::freeaddrinfo(found);
    return result;
}

int sendAll(int fd, const std::string& data, int cancel, const Deadline& deadline) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int ready = waitReady(fd, POLLOUT, cancel, deadline);
            if (ready == 0) return FEEDLINE_TIMED_OUT;
            if (ready < 0) return ready;
            continue;
        }
        return FEEDLINE_SEND_FAILED;
    }
    return FEEDLINE_OK;
}

int receiveSome(int fd, uint8_t* buffer, std::size_t size, int cancel, const Deadline& deadline) {
    for (;;) {
        const int ready = waitReady(fd, POLLIN, cancel, deadline);
        if (ready == 0) return FEEDLINE_TIMED_OUT;
        if (ready < 0) return ready;
        const ssize_t n = ::recv(fd, buffer, size, 0);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        return FEEDLINE_CONNECTION_LOST;
    }
}

}  // namespace feedline

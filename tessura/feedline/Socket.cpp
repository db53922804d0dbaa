#include "Socket.h"

#include "FeedlineAbi.h"

#include <cerrno>
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

int connectTcp(const std::string& host, uint16_t port, int cancel, const Deadline& deadline, int& fd) {
    fd = -1;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr) {
        return FEEDLINE_RESOLVE_FAILED;
    }
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

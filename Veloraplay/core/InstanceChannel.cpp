#include "InstanceChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace veloraplay {
namespace {

// How long either side waits for the other before giving up on the conversation.
constexpr int kTalkTimeoutMs = 2000;

void setTimeouts(int fd) {
    timeval tv{kTalkTimeoutMs / 1000, (kTalkTimeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool peerIsUs(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
    return cred.uid == ::getuid();
}

bool fillAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool writeAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool readAll(int fd, void* data, std::size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::recv(fd, p, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string magicBytes(uint32_t magic) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>((magic >> (8 * i)) & 0xFFu);
    return bytes;
}

// Holds the start lock for one claim; closing the descriptor releases it.
class StartLock {
  public:
    explicit StartLock(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~StartLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    StartLock(const StartLock&) = delete;
    StartLock& operator=(const StartLock&) = delete;
    bool held() const { return fd_ >= 0; }

  private:
    int fd_;
};

}  // namespace

bool ensurePrivateFolder(const std::string& path, uid_t uid, std::string& why) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        why = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        why = path + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISLNK(st.st_mode))
        why = path + " is a symbolic link";
    else if (!S_ISDIR(st.st_mode))
        why = path + " is not a folder";
    else if (st.st_uid != uid)
        why = path + " belongs to another user";
    else if ((st.st_mode & 077) != 0)
        why = path + " is open to other users";
    else
        return true;
    return false;
}

InstanceLocation locateInstanceSocket(const std::string& runtimeDir, const std::string& tmpBase,
                                      uid_t uid) {
    InstanceLocation location;
    if (!runtimeDir.empty()) {
        location.folder = runtimeDir;
    } else {
        location.folder = tmpBase + "/veloraplay-" + std::to_string(uid);
        if (!ensurePrivateFolder(location.folder, uid, location.error)) return location;
    }
    location.socketPath = location.folder + "/veloraplay.sock";
    location.lockPath = location.folder + "/veloraplay.lock";
    sockaddr_un addr{};
    if (!fillAddress(location.socketPath, addr))
        location.error = location.socketPath + ": path too long";
    return location;
}

bool writeInstanceMessage(int fd, const std::string& payload) {
    if (payload.size() > kMaxMessage) return false;
    const auto size = static_cast<uint32_t>(payload.size());
    const unsigned char header[4] = {static_cast<unsigned char>(size & 0xFF),
                                     static_cast<unsigned char>((size >> 8) & 0xFF),
                                     static_cast<unsigned char>((size >> 16) & 0xFF),
                                     static_cast<unsigned char>((size >> 24) & 0xFF)};
    return writeAll(fd, header, 4) && writeAll(fd, payload.data(), payload.size());
}

bool readInstanceMessage(int fd, std::string& payload, std::size_t cap) {
    unsigned char header[4];
    if (!readAll(fd, header, 4)) return false;
    const uint32_t size =
        static_cast<uint32_t>(header[0]) | (static_cast<uint32_t>(header[1]) << 8) |
        (static_cast<uint32_t>(header[2]) << 16) | (static_cast<uint32_t>(header[3]) << 24);
    if (size > cap) return false;
    payload.assign(size, '\0');
    return readAll(fd, payload.data(), size);
}

InstanceChannel::InstanceChannel(InstanceLocation location, std::string title, uint32_t magic)
    : location_(std::move(location)), title_(std::move(title)), magic_(magic) {}

InstanceChannel::~InstanceChannel() {
    stop();
}

InstanceChannel::Outcome InstanceChannel::claimOrHandOver(const std::string& commandLine,
                                                          Handler handler) {
    if (!location_.error.empty()) {
        error_ = location_.error;
        return Outcome::Unavailable;
    }
    if (commandLine.size() + 1 > kMaxMessage) {
        error_ = "the command line is longer than " + std::to_string(kMaxMessage - 1) + " bytes";
        return Outcome::TooLong;
    }
    StartLock lock(location_.lockPath);
    if (!lock.held()) {
        error_ = location_.lockPath + ": " + std::strerror(errno);
        return Outcome::Unavailable;
    }
    sockaddr_un addr{};
    fillAddress(location_.socketPath, addr);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error_ = std::string("socket: ") + std::strerror(errno);
            return Outcome::Unavailable;
        }
        setTimeouts(fd);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
            const Outcome outcome = talkToRunning(fd, commandLine);
            ::close(fd);
            return outcome;
        }
        const int connectError = errno;
        ::close(fd);
        if (connectError == ECONNREFUSED) {
            // Nobody listens: a player that died without cleaning up. Take its place.
            struct stat st {};
            if (::lstat(location_.socketPath.c_str(), &st) == 0 && !S_ISSOCK(st.st_mode)) {
                error_ = location_.socketPath + " exists and is not a socket";
                return Outcome::Unavailable;
            }
            ::unlink(location_.socketPath.c_str());
        } else if (connectError != ENOENT) {
            error_ = location_.socketPath + ": " + std::strerror(connectError);
            return Outcome::Unavailable;
        }
        handler_ = std::move(handler);
        if (listenOn()) return Outcome::Listening;
        handler = std::move(handler_);
        if (errno != EADDRINUSE) break;
    }
    return Outcome::Unavailable;
}

InstanceChannel::Outcome InstanceChannel::talkToRunning(int fd, const std::string& commandLine) {
    std::string reply;
    if (!peerIsUs(fd) || !writeInstanceMessage(fd, title_ + std::string(1, '\0')) ||
        !readInstanceMessage(fd, reply) ||
        reply != title_ + std::string(1, '\0') + magicBytes(magic_)) {
        error_ = location_.socketPath + " does not answer as a running player";
        return Outcome::NotAnInstance;
    }
    const std::string payload =
        commandLine.empty() ? std::string() : commandLine + std::string(1, '\0');
    std::string ack;
    if (!writeInstanceMessage(fd, payload) || !readInstanceMessage(fd, ack)) {
        error_ = "the running player did not take the command line";
        return Outcome::NotAnInstance;
    }
    return Outcome::HandedOver;
}

bool InstanceChannel::listenOn() {
    sockaddr_un addr{};
    fillAddress(location_.socketPath, addr);
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return false;
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        const int bindError = errno;
        error_ = location_.socketPath + ": " + std::strerror(bindError);
        ::close(listenFd_);
        listenFd_ = -1;
        errno = bindError;
        return false;
    }
    struct stat st {};
    if (::chmod(location_.socketPath.c_str(), 0600) != 0 ||
        ::lstat(location_.socketPath.c_str(), &st) != 0 || ::listen(listenFd_, 16) != 0 ||
        ::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        error_ = location_.socketPath + ": " + std::strerror(errno);
        ::close(listenFd_);
        listenFd_ = -1;
        ::unlink(location_.socketPath.c_str());
        errno = 0;
        return false;
    }
    socketInode_ = st.st_ino;
    listener_ = std::thread([this] { serve(); });
    return true;
}

void InstanceChannel::serve() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) == 0) continue;
        const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        setTimeouts(client);
        if (peerIsUs(client)) answer(client);
        ::close(client);
    }
}

void InstanceChannel::answer(int client) {
    std::string greeting;
    if (!readInstanceMessage(client, greeting) || greeting != title_ + std::string(1, '\0')) return;
    if (!writeInstanceMessage(client, title_ + std::string(1, '\0') + magicBytes(magic_))) return;
    std::string payload;
    if (!readInstanceMessage(client, payload)) return;  // too long, cut short or timed out
    InstanceRequest request;
    if (!payload.empty()) {
        if (payload.back() != '\0') return;  // the copy-data text carries its terminating zero
        request.hasCommandLine = true;
        request.commandLine = std::string(payload.c_str());
    }
    if (handler_) handler_(request);
    writeInstanceMessage(client, std::string());
}

void InstanceChannel::stop() {
    if (listener_.joinable()) {
        const char byte = 1;
        while (::write(wakePipe_[1], &byte, 1) < 0 && errno == EINTR) {
        }
        listener_.join();
    }
    if (listenFd_ >= 0) {
        // Remove the socket only while the name is still ours (a later player may own it now).
        struct stat st {};
        if (::lstat(location_.socketPath.c_str(), &st) == 0 && st.st_ino == socketInode_)
            ::unlink(location_.socketPath.c_str());
        ::close(listenFd_);
        listenFd_ = -1;
    }
    for (int& fd : wakePipe_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

}  // namespace veloraplay

#include "SingleInstance.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace tessura {
namespace {

// A connected peer that stops sending holds the listener no longer than this.
constexpr int kReceiveTimeoutMs = 2000;
// A later start waits this long for the running instance to confirm it took the text.
constexpr int kAnswerTimeoutMs = 5000;
constexpr unsigned char kTaken = 1;

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

void closeIfOpen(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool socketAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int newStreamSocket() { return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0); }

bool connectTo(int fd, const sockaddr_un& address) {
    int result;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool peerOfOwnUser(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return false;
    return peerIsAllowed(credentials.uid, ::getuid());
}

int openLockFile(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Waits until `fd` has something to read; false on timeout, error, or when the wake-up
// descriptor (when given) says to stop.
bool waitReadable(int fd, int wakeFd, int timeoutMs) {
    pollfd polled[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const nfds_t count = wakeFd >= 0 ? 2 : 1;
    for (;;) {
        const int ready = ::poll(polled, count, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        if (count == 2 && polled[1].revents != 0) return false;
        return polled[0].revents != 0;
    }
}

// Reads exactly `size` bytes from a non-blocking socket within the receive timeout.
bool receiveExactly(int fd, int wakeFd, char* into, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::recv(fd, into + got, size - got, 0);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) return false;  // the peer hung up early
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
        if (!waitReadable(fd, wakeFd, kReceiveTimeoutMs)) return false;
    }
    return true;
}

bool sendAll(int fd, const char* bytes, std::size_t size) {
    std::size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::send(fd, bytes + sent, size - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string lengthPrefix(std::size_t length) {
    std::string prefix(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) prefix[i] = static_cast<char>((length >> (8 * i)) & 0xFFu);
    return prefix;
}

uint32_t readLength(const unsigned char* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

// One attempt at handing `text` over: nobody listening is worth another try; a listener that
// does not confirm has refused it.
enum class Attempt { NobodyListens, Taken, Refused };

Attempt sendOnce(const sockaddr_un& address, std::string_view text) {
    FileDescriptor fd(newStreamSocket());
    if (fd.get() < 0) return Attempt::NobodyListens;
    if (!connectTo(fd.get(), address)) return Attempt::NobodyListens;
    // Our command line goes only to a player of our own user.
    if (!peerOfOwnUser(fd.get())) return Attempt::Refused;
    const timeval sendTimeout{kAnswerTimeoutMs / 1000, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
    std::string message = lengthPrefix(text.size());
    message.append(text);
    if (!sendAll(fd.get(), message.data(), message.size())) return Attempt::Refused;
    if (!waitReadable(fd.get(), -1, kAnswerTimeoutMs)) return Attempt::Refused;
    unsigned char answer = 0;
    const ssize_t n = ::recv(fd.get(), &answer, 1, 0);
    return n == 1 && answer == kTaken ? Attempt::Taken : Attempt::Refused;
}

}  // namespace

ThreadMessage forwardedThreadMessage(std::string text) {
    ThreadMessage message;
    if (text.empty()) {
        message.code = thread_message::kShowWindow;
        message.wparam = kShowMainWindow;
        message.lparam = kShowRestore;
    } else {
        message.code = thread_message::kForwardedCommandLine;
        message.text = std::move(text);
    }
    return message;
}

bool peerIsAllowed(uid_t peerUid, uid_t ownUid) { return peerUid == ownUid; }

bool folderIsPrivate(const struct stat& folder, uid_t ownUid) {
    return S_ISDIR(folder.st_mode) && folder.st_uid == ownUid && (folder.st_mode & 077) == 0;
}

bool preparePrivateFolder(const std::string& folder) {
    if (folder.empty()) return false;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat info{};
    if (::lstat(folder.c_str(), &info) != 0) return false;
    // A folder of ours that someone opened up is closed again; a link or a folder of anyone
    // else is never used.
    if (S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) != 0) {
        if (::chmod(folder.c_str(), 0700) != 0 || ::lstat(folder.c_str(), &info) != 0) return false;
    }
    return folderIsPrivate(info, ::getuid());
}

std::string defaultInstanceFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        struct stat info{};
        if (::lstat(runtime, &info) == 0 && folderIsPrivate(info, ::getuid())) return runtime;
    }
    const std::string fallback = "/tmp/tessura-" + std::to_string(::getuid());
    return preparePrivateFolder(fallback) ? fallback : std::string();
}

SingleInstance::SingleInstance(std::string folder, std::string name) : folder_(std::move(folder)) {
    if (folder_.empty()) return;
    const std::string base = folder_ + "/" + name;
    socketPath_ = base + ".sock";
    lockPath_ = base + ".lock";
    startLockPath_ = base + ".start.lock";
}

SingleInstance::~SingleInstance() {
    stop();
    if (listenFd_ >= 0) {
        ::unlink(socketPath_.c_str());
        closeIfOpen(listenFd_);
    }
    closeIfOpen(lockFd_);
}

SingleInstance::Acquired SingleInstance::acquire() {
    if (lockFd_ >= 0) return Acquired::First;
    if (folder_.empty()) return Acquired::Unavailable;
    struct stat info{};
    if (::lstat(folder_.c_str(), &info) != 0 || !folderIsPrivate(info, ::getuid())) {
        return Acquired::Unavailable;
    }
    // Starts at the same moment take turns from here until the first one is bound.
    FileDescriptor startLock(openLockFile(startLockPath_));
    if (startLock.get() < 0) return Acquired::Unavailable;
    while (::flock(startLock.get(), LOCK_EX) != 0) {
        if (errno != EINTR) return Acquired::Unavailable;
    }
    FileDescriptor lock(openLockFile(lockPath_));
    if (lock.get() < 0) return Acquired::Unavailable;
    if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK ? Acquired::AlreadyRunning : Acquired::Unavailable;
    }
    lockFd_ = lock.release();
    bindSocket();
    return Acquired::First;
}

bool SingleInstance::bindSocket() {
    sockaddr_un address{};
    if (!socketAddress(socketPath_, address)) return false;
    struct stat existing{};
    if (::lstat(socketPath_.c_str(), &existing) == 0) {
        // Only a socket is ever removed, and only when nobody answers on it: the instance that
        // made it has gone without cleaning up.
        if (!S_ISSOCK(existing.st_mode)) return false;
        FileDescriptor probe(newStreamSocket());
        if (probe.get() < 0) return false;
        if (connectTo(probe.get(), address)) return false;  // someone serves it: leave it be
        if (errno != ECONNREFUSED) return false;
        if (::unlink(socketPath_.c_str()) != 0 && errno != ENOENT) return false;
    }
    FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0) return false;
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return false;
    }
    // Connections are refused until listen(), so nobody can come in before the mode is set.
    if (::chmod(socketPath_.c_str(), 0600) != 0 || ::listen(fd.get(), 16) != 0) {
        ::unlink(socketPath_.c_str());
        return false;
    }
    listenFd_ = fd.release();
    return true;
}

bool SingleInstance::listen(Receiver receiver) {
    if (listenFd_ < 0 || listener_.joinable()) return false;
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    receiver_ = std::move(receiver);
    stopping_.store(false);
    listener_ = std::thread([this] { serve(); });
    return true;
}

void SingleInstance::stop() {
    if (!listener_.joinable()) return;
    stopping_.store(true);
    const char wake = 1;
    while (::write(wakeWrite_, &wake, 1) < 0 && errno == EINTR) {
    }
    listener_.join();
    closeIfOpen(wakeRead_);
    closeIfOpen(wakeWrite_);
}

void SingleInstance::serve() {
    while (!stopping_.load()) {
        pollfd polled[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        const int ready = ::poll(polled, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (polled[1].revents != 0) return;
        if ((polled[0].revents & POLLIN) == 0) continue;
        FileDescriptor connection(::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (connection.get() >= 0) serveConnection(connection.get());
    }
}

void SingleInstance::serveConnection(int connection) {
    if (!peerOfOwnUser(connection)) return;
    unsigned char header[4];
    if (!receiveExactly(connection, wakeRead_, reinterpret_cast<char*>(header), sizeof header)) return;
    const uint32_t length = readLength(header);
    if (length > kMaxMessageBytes) return;  // refused unread: the peer sees no answer
    std::string text(length, '\0');
    if (!receiveExactly(connection, wakeRead_, text.data(), text.size())) return;
    if (receiver_) receiver_(std::move(text));
    sendAll(connection, reinterpret_cast<const char*>(&kTaken), 1);
}

bool SingleInstance::forward(std::string_view text, int attempts, std::chrono::milliseconds interval) const {
    if (text.size() > kMaxMessageBytes) return false;
    sockaddr_un address{};
    if (!socketAddress(socketPath_, address)) return false;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(interval);
        switch (sendOnce(address, text)) {
            case Attempt::Taken: return true;
            case Attempt::Refused: return false;
            case Attempt::NobodyListens: break;
        }
    }
    return false;
}

StartDecision runSingleInstanceStep(SingleInstance& instance, std::string_view argumentText, int attempts,
                                    std::chrono::milliseconds interval) {
    const bool lockExisted = instance.acquire() == SingleInstance::Acquired::AlreadyRunning;
    const bool forwarded =
        startForwards(argumentText, lockExisted) && instance.forward(argumentText, attempts, interval);
    return decideStart(argumentText, lockExisted, forwarded);
}

}  // namespace tessura

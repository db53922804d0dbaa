#include "OutputTarget.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace veloraplay {
namespace {

constexpr size_t kBufferBytes = 1 << 16;
constexpr int kMaxLinks = 40;  // as the kernel allows in one path

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

ssize_t SinkWrite(void* cookie, const char* data, size_t size) {
    auto* sink = static_cast<OutputSink*>(cookie);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(sink->fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (sink->error == 0) sink->error = errno;
        break;
    }
    // A short count marks the stream as failed.
    return static_cast<ssize_t>(done);
}

int SinkSeek(void* cookie, off64_t* position, int whence) {
    const off64_t at = ::lseek64(static_cast<OutputSink*>(cookie)->fd, *position, whence);
    if (at < 0) return -1;
    *position = at;
    return 0;
}

int SinkClose(void* cookie) {
    auto* sink = static_cast<OutputSink*>(cookie);
    const int status = ::close(sink->fd);
    // Some file systems report a failed write only now; EINTR still leaves the file closed.
    if (status != 0 && errno != EINTR && sink->error == 0) sink->error = errno;
    sink->fd = -1;
    return status != 0 && errno != EINTR ? -1 : 0;
}

// The name a rename must replace: `path` with the symbolic links of its last component
// followed, to a target that need not exist yet.
bool FinalName(std::string path, std::string& final, std::string& error) {
    for (int hops = 0; hops < kMaxLinks; ++hops) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof(target));
        if (n < 0) {
            // Not a link, or nothing there yet: this is the name. A missing folder is
            // reported when the temporary file cannot be made in it.
            final = path;
            return true;
        }
        std::string next(target, static_cast<size_t>(n));
        if (next.empty()) break;
        if (next[0] != '/') {
            const size_t slash = path.rfind('/');
            if (slash != std::string::npos) next = path.substr(0, slash + 1) + next;
        }
        path = next;
    }
    error = std::strerror(ELOOP);
    return false;
}

// A descriptor for an existing socket: the one this process already has on its standard
// output or error (so /dev/stdout works when that is a socket), else a new connection.
int ConnectSocket(const std::string& name, const struct stat& st) {
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat open {};
        if (::fstat(fd, &open) == 0 && SameFile(open, st)) return ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.size() >= sizeof(address.sun_path)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

}  // namespace

bool OutputTarget::Open(const std::string& name, const struct stat* input, std::string& error) {
    Discard();
    sink_ = OutputSink{};
    inPlace_ = false;
    target_.clear();
    const bool inputIsFile = input != nullptr && S_ISREG(input->st_mode);
    if (name == "-") {
        struct stat st {};
        if (inputIsFile && ::fstat(STDOUT_FILENO, &st) == 0 && SameFile(st, *input)) {
            error = "it is the input file";
            return false;
        }
        inPlace_ = true;
        const int fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
        if (fd < 0) {
            error = std::strerror(errno);
            return false;
        }
        return Attach(fd, error);
    }
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            error = std::strerror(errno);
            return false;
        }
        return OpenReplacement(name, nullptr, error);
    }
    if (inputIsFile && SameFile(st, *input)) {
        error = "it is the input file";
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = std::strerror(EISDIR);
        return false;
    }
    if (!S_ISREG(st.st_mode)) return OpenInPlace(name, st, error);
    return OpenReplacement(name, &st, error);
}

bool OutputTarget::OpenInPlace(const std::string& name, const struct stat& st, std::string& error) {
    inPlace_ = true;
    // No O_TRUNC: a device or FIFO has nothing to cut, and a block device must keep its size.
    const int fd = S_ISSOCK(st.st_mode) ? ConnectSocket(name, st)
                                        : ::open(name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    return Attach(fd, error);
}

bool OutputTarget::OpenReplacement(const std::string& name, const struct stat* existing, std::string& error) {
    if (!FinalName(name, target_, error)) return false;
    const size_t slash = target_.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    std::string pattern = dir + "." + base + ".XXXXXX";
    std::vector<char> temporary(pattern.begin(), pattern.end());
    temporary.push_back('\0');
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    temporary_ = temporary.data();
    mode_t mode = 0;
    if (existing != nullptr) {
        // Where the rights allow, the replacement belongs to whoever owned the old file;
        // the mode is set after, as a change of owner clears the set-id bits.
        if (existing->st_uid != ::geteuid() || existing->st_gid != ::getegid())
            (void)::fchown(fd, existing->st_uid, existing->st_gid);
        mode = existing->st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    // mkostemp makes the file private; a failure here would leave it so, which is safe.
    (void)::fchmod(fd, mode);
    if (!Attach(fd, error)) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
        return false;
    }
    return true;
}

bool OutputTarget::Attach(int fd, std::string& error) {
    sink_.fd = fd;
    const cookie_io_functions_t functions{nullptr, SinkWrite, SinkSeek, SinkClose};
    file_ = ::fopencookie(&sink_, "wb", functions);
    if (file_ == nullptr) {
        error = std::strerror(errno);
        ::close(fd);
        sink_.fd = -1;
        return false;
    }
    buffer_.resize(kBufferBytes);
    std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
    return true;
}

std::string OutputTarget::WriteError() const { return sink_.error != 0 ? std::strerror(sink_.error) : ""; }

bool OutputTarget::Commit(std::string& error) {
    if (file_ == nullptr) {
        error = "not open";
        return false;
    }
    bool ok = std::fflush(file_) == 0;
    if (std::fclose(file_) != 0) ok = false;
    file_ = nullptr;
    if (!ok || sink_.error != 0) {
        error = sink_.error != 0 ? std::strerror(sink_.error) : std::strerror(EIO);
        ok = false;
    }
    if (ok && !temporary_.empty() && std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    if (!ok && !temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
    return ok;
}

void OutputTarget::Discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

}  // namespace veloraplay

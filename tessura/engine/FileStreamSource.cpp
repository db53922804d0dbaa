#include "FileStreamSource.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessura {

namespace {

int openRegularFile(const std::string& name) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::unique_ptr<StreamSource> ChooseStreamSource(const std::vector<StreamSourceFactory>& kinds,
                                                 const std::string& name) {
    for (const StreamSourceFactory& make : kinds) {
        std::unique_ptr<StreamSource> source = make ? make() : nullptr;
        if (source && source->CanOpen(name)) return source;
    }
    return nullptr;
}

FileStreamSource::~FileStreamSource() { Close(); }

bool FileStreamSource::Open(const std::string& name, SourceRequest) {
    Close();
    fd_ = openRegularFile(name);
    if (fd_ >= 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd_ >= 0;
}

void FileStreamSource::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool FileStreamSource::Read(void* buffer, uint32_t& length) {
    if (fd_ < 0) {
        length = 0;
        return false;
    }
    ssize_t got;
    do {
        got = ::read(fd_, buffer, length);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        length = 0;
        return false;
    }
    length = static_cast<uint32_t>(got);
    return true;
}

bool FileStreamSource::Seek(int64_t& offset, int32_t origin, int64_t& previous) {
    if (fd_ < 0) return false;
    const off_t now = ::lseek(fd_, 0, SEEK_CUR);
    if (now < 0) return false;
    previous = now;
    const int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
    const off_t moved = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (moved < 0) return false;
    offset = moved;
    return true;
}

bool FileStreamSource::CanOpen(const std::string& name) {
    const int fd = openRegularFile(name);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

}  // namespace tessura

#include "InfoBlock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace tessura::info {
namespace {

int openShared(const std::string& name, int flags) {
    int fd;
    do {
        fd = ::shm_open(name.c_str(), flags | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A new block of the right size, or -1 (also when someone else made one in the meantime).
int createBlock(const std::string& name) {
    const int fd = openShared(name, O_RDWR | O_CREAT | O_EXCL);
    if (fd < 0) return -1;
    // The mode given to shm_open passes through the umask; set it outright.
    if (::fchmod(fd, 0600) != 0 || ::ftruncate(fd, static_cast<off_t>(kBlockSize)) != 0) {
        ::close(fd);
        ::shm_unlink(name.c_str());
        return -1;
    }
    return fd;
}

// glibc keeps a named semaphore as /dev/shm/sem.<name>; one made by another user is not used.
bool semaphoreIsForeign(const std::string& name) {
    struct stat info{};
    const std::string path = "/dev/shm/sem." + name.substr(1);
    return ::lstat(path.c_str(), &info) == 0 && (info.st_uid != ::getuid() || !S_ISREG(info.st_mode));
}

bool validName(const std::string& name) {
    return name.size() > 1 && name[0] == '/' && name.find('/', 1) == std::string::npos;
}

void putLittleEndian(unsigned char* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xFFu);
}

}  // namespace

bool blockIsOurs(const struct stat& object, uid_t ownUid, bool requireSize) {
    if (!S_ISREG(object.st_mode) || object.st_uid != ownUid) return false;
    return !requireSize || object.st_size == static_cast<off_t>(kBlockSize);
}

InfoBlock::InfoBlock(Names names) : names_(std::move(names)) {}

InfoBlock::~InfoBlock() { Close(); }

bool InfoBlock::isOpen() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return view_ != nullptr;
}

bool InfoBlock::openMemory(bool& fresh) {
    fresh = true;
    int fd = createBlock(names_.memory);
    if (fd < 0) {
        if (errno != EEXIST) return false;
        fd = openShared(names_.memory, O_RDWR);
        if (fd < 0) return false;
        struct stat info{};
        if (::fstat(fd, &info) != 0 || !blockIsOurs(info, ::getuid(), false)) {
            ::close(fd);
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Nobody holds it: the player that made it crashed. Start from a clean block;
            // readers still holding the old one see it no more.
            ::close(fd);
            ::shm_unlink(names_.memory.c_str());
            fd = createBlock(names_.memory);
            if (fd < 0) return false;
        } else {
            fresh = false;  // another player runs and shares it
        }
    }
    struct stat info{};
    if (::flock(fd, LOCK_SH) != 0 || ::fstat(fd, &info) != 0 || !blockIsOurs(info, ::getuid(), true)) {
        ::close(fd);
        return false;
    }
    void* view = ::mmap(nullptr, kBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    view_ = static_cast<unsigned char*>(view);
    return true;
}

void InfoBlock::openEvent(bool fresh) {
    if (semaphoreIsForeign(names_.event)) return;
    sem_t* event = ::sem_open(names_.event.c_str(), O_CREAT, 0600, 0);
    if (event == SEM_FAILED) return;
    if (fresh) {
        // Posts left over from a crashed player would release readers for nothing.
        while (::sem_trywait(event) == 0) {
        }
    }
    event_ = event;
}

bool InfoBlock::Open() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (view_) return true;
    if (!validName(names_.memory) || !validName(names_.event)) return false;
    bool fresh = true;
    if (!openMemory(fresh)) return false;
    openEvent(fresh);
    putLittleEndian(view_ + kMagic, kRunningMagic);
    return true;
}

bool InfoBlock::Close() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!view_) return false;
    unsigned char* view = std::exchange(view_, nullptr);
    putLittleEndian(view + kMagic, 0);
    signalLocked();
    bool ok = ::munmap(view, kBlockSize) == 0;
    removeNamesIfLast();
    if (event_) ok = ::sem_close(event_) == 0 && ok;
    event_ = nullptr;
    ok = ::close(fd_) == 0 && ok;
    fd_ = -1;
    return ok;
}

void InfoBlock::removeNamesIfLast() {
    // Other players sharing the block hold it too; only the last one removes the names, and
    // only while the name still means this block.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) return;
    const int named = openShared(names_.memory, O_RDONLY);
    if (named < 0) return;
    struct stat mine{}, current{};
    const bool same = ::fstat(fd_, &mine) == 0 && ::fstat(named, &current) == 0 &&
                      mine.st_dev == current.st_dev && mine.st_ino == current.st_ino;
    ::close(named);
    if (!same) return;
    ::shm_unlink(names_.memory.c_str());
    if (event_) ::sem_unlink(names_.event.c_str());
}

void InfoBlock::signalLocked() {
    if (!event_) return;
    // An auto-reset event is either set or not: post only while nothing is pending.
    int value = 0;
    if (::sem_getvalue(event_, &value) == 0 && value <= 0) ::sem_post(event_);
}

bool InfoBlock::writeNumber(std::size_t offset, uint32_t value, bool signal) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!view_) return false;
    putLittleEndian(view_ + offset, value);
    if (signal) signalLocked();
    return true;
}

bool InfoBlock::writeText(std::size_t offset, std::size_t fieldSize, std::string_view text) {
    const std::string_view fitted = fitToField(text, fieldSize);
    std::lock_guard<std::mutex> hold(mutex_);
    if (!view_) return false;
    unsigned char* field = view_ + offset;
    // A cleared text may come as a view with no data at all, which memcpy must not be given.
    if (!fitted.empty()) std::memcpy(field, fitted.data(), fitted.size());
    std::memset(field + fitted.size(), 0, fieldSize - fitted.size());
    signalLocked();
    return true;
}

bool InfoBlock::SetState(PlayState state) { return writeNumber(kState, static_cast<uint32_t>(state), true); }

bool InfoBlock::SetLength(int32_t milliseconds) {
    return writeNumber(kLength, static_cast<uint32_t>(milliseconds), true);
}

bool InfoBlock::SetPosition(int32_t milliseconds) {
    return writeNumber(kPosition, static_cast<uint32_t>(milliseconds), false);
}

bool InfoBlock::SetTitle(std::string_view title) { return writeText(kTitle, kTextField, title); }

bool InfoBlock::SetAuthor(std::string_view author) { return writeText(kAuthor, kTextField, author); }

bool InfoBlock::SetColours(std::size_t index, uint32_t colour) {
    if (index >= kColourCount) return false;
    return writeNumber(kColours + 4 * index, colour | kOpaque, false);
}

bool InfoBlock::SetSkinName(std::string_view name) {
    return writeText(kSkinName, kTextField, name.empty() ? std::string_view(kDefaultSkinName) : name);
}

bool InfoBlock::SetVisName(std::string_view name) { return writeText(kVisName, kTextField, name); }

bool InfoBlock::SetFileName(std::string_view name) { return writeText(kFileName, kFileNameField, name); }

}  // namespace tessura::info

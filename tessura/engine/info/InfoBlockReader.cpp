#include "InfoBlockReader.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tessura::info {
namespace {

uint32_t readLittleEndian(const unsigned char* at) {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

std::string readText(const unsigned char* at, std::size_t fieldSize) {
    std::size_t length = 0;
    while (length < fieldSize && at[length] != 0) ++length;
    return std::string(reinterpret_cast<const char*>(at), length);
}

}  // namespace

Snapshot decodeBlock(std::span<const unsigned char, kBlockSize> block) {
    const unsigned char* at = block.data();
    Snapshot snapshot;
    snapshot.magic = readLittleEndian(at + kMagic);
    snapshot.state = readLittleEndian(at + kState);
    snapshot.length = static_cast<int32_t>(readLittleEndian(at + kLength));
    snapshot.position = static_cast<int32_t>(readLittleEndian(at + kPosition));
    snapshot.title = readText(at + kTitle, kTextField);
    snapshot.author = readText(at + kAuthor, kTextField);
    for (std::size_t i = 0; i < kColourCount; ++i) snapshot.colours[i] = readLittleEndian(at + kColours + 4 * i);
    snapshot.skinName = readText(at + kSkinName, kTextField);
    snapshot.visName = readText(at + kVisName, kTextField);
    snapshot.fileName = readText(at + kFileName, kFileNameField);
    return snapshot;
}

InfoBlockReader::InfoBlockReader(Names names) : names_(std::move(names)) {}

InfoBlockReader::~InfoBlockReader() {
    if (view_) ::munmap(const_cast<unsigned char*>(view_), kBlockSize);
    if (event_) ::sem_close(event_);
}

bool InfoBlockReader::open() {
    if (view_) return true;
    const int fd = ::shm_open(names_.memory.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return false;
    struct stat info{};
    // A shorter object would fault when read past its end.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < static_cast<off_t>(kBlockSize)) {
        ::close(fd);
        return false;
    }
    void* view = ::mmap(nullptr, kBlockSize, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (view == MAP_FAILED) return false;
    view_ = static_cast<const unsigned char*>(view);
    sem_t* event = ::sem_open(names_.event.c_str(), 0);
    event_ = event == SEM_FAILED ? nullptr : event;
    return true;
}

std::optional<Snapshot> InfoBlockReader::read() const {
    if (!view_) return std::nullopt;
    std::array<unsigned char, kBlockSize> copy;
    for (std::size_t i = 0; i < kBlockSize; ++i) copy[i] = view_[i];
    return decodeBlock(copy);
}

int InfoBlockReader::eventValue() const {
    int value = 0;
    if (!event_ || ::sem_getvalue(event_, &value) != 0) return -1;
    return value;
}

bool InfoBlockReader::takeEvent() { return event_ && ::sem_trywait(event_) == 0; }

bool InfoBlockReader::waitEvent(std::chrono::milliseconds timeout) {
    if (!event_) return false;
    timespec deadline{};
    ::clock_gettime(CLOCK_REALTIME, &deadline);
    const long long total = static_cast<long long>(deadline.tv_nsec) + timeout.count() * 1000000LL;
    deadline.tv_sec += static_cast<time_t>(total / 1000000000LL);
    deadline.tv_nsec = static_cast<long>(total % 1000000000LL);
    int result;
    do {
        result = ::sem_timedwait(event_, &deadline);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

std::optional<Snapshot> readBlockOnce(const Names& names) {
    InfoBlockReader reader(names);
    if (!reader.open()) return std::nullopt;
    return reader.read();
}

}  // namespace tessura::info

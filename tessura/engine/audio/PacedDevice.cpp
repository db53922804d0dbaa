#include "PacedDevice.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <fcntl.h>
#include <unistd.h>

namespace tessura {

using namespace std::chrono;

PacedDevice::~PacedDevice() {
    // Subclasses close in their own destructor while their members live; this is the backstop.
    std::unique_lock<std::mutex> hold(mutex_);
    quit_ = true;
    wake_.notify_all();
    hold.unlock();
    if (worker_.joinable()) worker_.join();
}

bool PacedDevice::open(const WaveOutFormat& format, DoneCallback done, std::string& error) {
    if (format.bytesPerSecond() == 0) {
        error = "unsupported format";
        return false;
    }
    close();
    if (!begin(format, error)) return false;
    std::lock_guard<std::mutex> hold(mutex_);
    format_ = format;
    done_ = std::move(done);
    open_ = true;
    paused_ = quit_ = headStarted_ = false;
    worker_ = std::thread([this] { run(); });
    return true;
}

void PacedDevice::write(const WaveOutBuffer& buffer) {
    std::lock_guard<std::mutex> hold(mutex_);
    queue_.push_back(buffer);
    wake_.notify_all();
}

void PacedDevice::pause() {
    std::lock_guard<std::mutex> hold(mutex_);
    paused_ = true;
    wake_.notify_all();
}

void PacedDevice::restart() {
    std::lock_guard<std::mutex> hold(mutex_);
    paused_ = false;
    wake_.notify_all();
}

void PacedDevice::reset() {
    std::deque<WaveOutBuffer> returned;
    DoneCallback done;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        returned.swap(queue_);
        headStarted_ = false;
        ++generation_;
        done = done_;
        wake_.notify_all();
    }
    for (const WaveOutBuffer& b : returned)
        if (done) done(b);
}

void PacedDevice::close() {
    reset();
    {
        std::lock_guard<std::mutex> hold(mutex_);
        quit_ = true;
        wake_.notify_all();
    }
    if (worker_.joinable()) worker_.join();
    std::lock_guard<std::mutex> hold(mutex_);
    if (open_) end();
    open_ = false;
}

void PacedDevice::setVolume(uint32_t packed) {
    std::lock_guard<std::mutex> hold(mutex_);
    volume_ = packed;
}

uint32_t PacedDevice::volume() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return volume_;
}

void PacedDevice::run() {
    std::unique_lock<std::mutex> hold(mutex_);
    while (!quit_) {
        if (paused_ || queue_.empty()) {
            wake_.wait(hold);
            continue;
        }
        if (!headStarted_) {
            const WaveOutBuffer& head = queue_.front();
            scratch_.assign(head.data, head.data + head.length);
            applyVolume(scratch_.data(), scratch_.size(), format_.bits, format_.channels, volume_);
            consume(scratch_.data(), scratch_.size());
            headLeft_ = microseconds(uint64_t{head.length} * 1000000 / format_.bytesPerSecond() / speed_);
            headStarted_ = true;
        }
        const uint64_t generation = generation_;
        const auto started = steady_clock::now();
        wake_.wait_for(hold, headLeft_, [&] { return quit_ || paused_ || generation_ != generation; });
        if (generation_ != generation || quit_) continue;
        headLeft_ -= duration_cast<microseconds>(steady_clock::now() - started);
        if (headLeft_.count() > 0) continue;
        const WaveOutBuffer finished = queue_.front();
        queue_.pop_front();
        headStarted_ = false;
        const DoneCallback done = done_;
        hold.unlock();
        if (done) done(finished);
        hold.lock();
    }
}

namespace {
void putLe(uint8_t* at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// What this process wrote to each file: a device opened again in the same format goes on where
// the last one stopped (stop and play, seek), so the file holds everything that was heard. A
// WAVE file has one format, so a new format goes on in the next file of the series
// ("out.wav", "out.2.wav", "out.3.wav" ...).
struct WrittenFile {
    WaveOutFormat format;
    uint64_t dataBytes = 0;
};
std::mutex gWrittenMutex;
std::map<std::string, WrittenFile> gWritten;  // guarded by gWrittenMutex
std::map<std::string, int> gSeriesNumber;     // guarded by gWrittenMutex

std::string seriesName(const std::string& path, int number) {
    if (number <= 1) return path;
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    std::string named = path;
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    named.insert(hasExtension ? dot : named.size(), '.' + std::to_string(number));
    return named;
}

bool sameFormat(const WaveOutFormat& a, const WaveOutFormat& b) {
    return a.rate == b.rate && a.channels == b.channels && a.bits == b.bits;
}

}  // namespace

WavFileDevice::~WavFileDevice() {
    close();
}

bool WavFileDevice::begin(const WaveOutFormat& format, std::string& error) {
    std::string target;
    bool resume = false;
    {
        std::lock_guard<std::mutex> hold(gWrittenMutex);
        int& number = gSeriesNumber[path_];
        if (number == 0) number = 1;
        target = seriesName(path_, number);
        const auto written = gWritten.find(target);
        if (written != gWritten.end()) {
            if (sameFormat(written->second.format, format)) {
                resume = true;
                dataBytes_ = written->second.dataBytes;
            } else {
                target = seriesName(path_, ++number);
            }
        }
    }
    fd_ = ::open(target.c_str(), O_WRONLY | O_CREAT | (resume ? 0 : O_TRUNC) | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error = "cannot create " + target + ": " + std::strerror(errno);
        return false;
    }
    written_ = target;
    {
        std::lock_guard<std::mutex> hold(gWrittenMutex);
        gWritten[target].format = format;
        if (!resume) gWritten[target].dataBytes = 0;
    }
    if (resume) return true;
    uint8_t header[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    const uint32_t blockAlign = static_cast<uint32_t>(format.channels * (format.bits / 8));
    putLe(header + 16, 16, 4);
    putLe(header + 20, 1, 2);
    putLe(header + 22, static_cast<uint32_t>(format.channels), 2);
    putLe(header + 24, static_cast<uint32_t>(format.rate), 4);
    putLe(header + 28, format.bytesPerSecond(), 4);
    putLe(header + 32, blockAlign, 2);
    putLe(header + 34, static_cast<uint32_t>(format.bits), 2);
    std::memcpy(header + 36, "data", 4);
    putLe(header + 4, 36, 4);
    dataBytes_ = 0;
    if (::write(fd_, header, sizeof header) != static_cast<ssize_t>(sizeof header)) {
        error = "cannot write " + path_ + ": " + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

void WavFileDevice::consume(const uint8_t* data, std::size_t length) {
    if (fd_ < 0) return;
    // The RIFF sizes are 32-bit: a file that would outgrow them stops growing.
    if (dataBytes_ + length > 0xFFFFFFFFull - 36) return;
    if (::pwrite(fd_, data, length, static_cast<off_t>(44 + dataBytes_)) != static_cast<ssize_t>(length)) return;
    dataBytes_ += length;
    uint8_t size[4];
    putLe(size, static_cast<uint32_t>(dataBytes_ + 36), 4);
    (void)!::pwrite(fd_, size, 4, 4);
    putLe(size, static_cast<uint32_t>(dataBytes_), 4);
    (void)!::pwrite(fd_, size, 4, 40);
    std::lock_guard<std::mutex> hold(gWrittenMutex);
    gWritten[written_].dataBytes = dataBytes_;
}

void WavFileDevice::end() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace tessura

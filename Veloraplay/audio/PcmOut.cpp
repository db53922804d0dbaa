#include "PcmOut.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "Event.h"

namespace veloraplay {
namespace {

// The device is one per process: the player and the encoder's monitor must not share it.
std::atomic<bool> g_deviceClaimed{false};

constexpr auto kBufferPoll = std::chrono::milliseconds(60);
constexpr auto kDrainPoll = std::chrono::milliseconds(20);

}  // namespace

PcmOut::PcmOut(std::unique_ptr<AudioDevice> device) : device_(std::move(device)) {
    for (auto& d : done_) d.store(true);
}

PcmOut::~PcmOut() {
    close();
}

bool PcmOut::open(int channels, int sampleRate, int samplesPerBlock) {
    // More than two channels is left out: the device path takes mono and stereo only.
    if (!device_ || channels < 1 || channels > 2 || sampleRate < 1 || samplesPerBlock < 1) {
        return false;
    }
    bool expected = false;
    if (!g_deviceClaimed.compare_exchange_strong(expected, true)) return false;
    std::lock_guard<std::mutex> lock(deviceLock_);

    channels_ = channels;
    sampleRate_ = sampleRate;
    blockSamples_ = static_cast<size_t>(samplesPerBlock) * static_cast<size_t>(channels);
    for (auto& d : done_) d.store(true);
    if (!device_->open(channels, sampleRate, [this](int tag) {
            if (tag >= 0 && tag < kBuffers) done_[tag].store(true);
        })) {
        g_deviceClaimed.store(false);
        return false;
    }
    for (auto& b : buffers_) b.assign(blockSamples_ * kBlocksPerBuffer, 0);
    current_ = 0;
    handedOut_ = 0;
    lastBlockLength_ = 0;
    device_->pause();
    device_->setVolume(volume_);
    startPending_ = true;
    open_ = true;
    return true;
}

void PcmOut::submitCurrent(size_t samples) {
    if (startPending_ && current_ == 2) {
        startPending_ = false;
        device_->restart();
    }
    done_[current_].store(false);
    if (!device_->write(buffers_[current_].data(), samples, current_)) {
        done_[current_].store(true);  // never queued, so free again
    }
    current_ = (current_ + 1) % kBuffers;
    handedOut_ = 0;
}

int16_t* PcmOut::nextBlock(Event* stop) {
    if (!open_) return nullptr;
    if (handedOut_ == kBlocksPerBuffer) submitCurrent(buffers_[current_].size());
    if (handedOut_ == 0) {
        // The first block of a buffer waits until the device has given the buffer back.
        while (!done_[current_].load()) {
            if (stop) {
                if (stop->wait(kBufferPoll)) return nullptr;
            } else {
                std::this_thread::sleep_for(kBufferPoll);
            }
        }
    }
    lastBlockLength_ = blockSamples_;
    return blockAt(current_, handedOut_++);
}

void PcmOut::drain(Event* stop) {
    if (!open_) return;
    // The last block handed out holds the caller's last frame, so it is kept; the buffer goes
    // to the device up to the end of the stream, with no silence after it.
    if (handedOut_ > 0) {
        const size_t length = static_cast<size_t>(handedOut_ - 1) * blockSamples_ +
                              std::min(lastBlockLength_, blockSamples_);
        submitCurrent(length);
    }
    // Fewer blocks than the pre-roll: start the device now, or the queued audio would never be
    // heard.
    if (startPending_) {
        startPending_ = false;
        device_->restart();
    }
    // A stalled device must not hold the caller forever: allow the whole ring's length and a
    // second more.
    const double ringSeconds = static_cast<double>(kBuffers * kBlocksPerBuffer) *
                               static_cast<double>(blockSamples_) /
                               (static_cast<double>(channels_) * sampleRate_);
    const auto limit = std::chrono::steady_clock::now() +
                       std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(ringSeconds + 1.0));
    for (;;) {
        const bool allDone =
            std::all_of(std::begin(done_), std::end(done_), [](const auto& d) { return d.load(); });
        if (allDone || std::chrono::steady_clock::now() >= limit) return;
        if (stop) {
            if (stop->wait(kDrainPoll)) return;
        } else {
            std::this_thread::sleep_for(kDrainPoll);
        }
    }
}

void PcmOut::close() {
    if (!open_) return;
    std::lock_guard<std::mutex> lock(deviceLock_);
    device_->reset();
    device_->close();
    for (auto& b : buffers_) std::vector<int16_t>().swap(b);
    for (auto& d : done_) d.store(true);
    open_ = false;
    g_deviceClaimed.store(false);
}

void PcmOut::reset() {
    if (!open_) return;
    std::lock_guard<std::mutex> lock(deviceLock_);
    device_->pause();
    device_->reset();
    device_->close();
    for (auto& b : buffers_) std::fill(b.begin(), b.end(), int16_t{0});
    for (auto& d : done_) d.store(true);
    current_ = 0;
    handedOut_ = 0;
    startPending_ = true;
    if (!device_->open(channels_, sampleRate_, [this](int tag) {
            if (tag >= 0 && tag < kBuffers) done_[tag].store(true);
        })) {
        // The device went away: the sink is closed and hands out no more blocks.
        for (auto& b : buffers_) std::vector<int16_t>().swap(b);
        open_ = false;
        g_deviceClaimed.store(false);
        return;
    }
    device_->pause();
    // A reopened device starts at full level; keep the listener's.
    device_->setVolume(volume_);
}

void PcmOut::setVolume(int level) {
    std::lock_guard<std::mutex> lock(deviceLock_);
    volume_ = std::clamp(level, 0, 100);
    if (open_) device_->setVolume(volume_);
}

PcmOut& deviceOutput() {
    static PcmOut output(makeAudioDeviceFromEnvironment());
    return output;
}

}  // namespace veloraplay

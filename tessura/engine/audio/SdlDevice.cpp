#include "SdlDevice.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

namespace tessura {

namespace {
bool startAudio(std::string& error) {
    if (SDL_WasInit(SDL_INIT_AUDIO) != 0) return true;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) return true;
    error = SDL_GetError();
    return false;
}
}  // namespace

SdlDevice::~SdlDevice() {
    close();
}

std::vector<std::string> SdlDevice::deviceNames() {
    std::vector<std::string> names;
    std::string error;
    if (!startAudio(error)) return names;
    const int count = SDL_GetNumAudioDevices(0);
    for (int i = 0; i < count; ++i) {
        const char* name = SDL_GetAudioDeviceName(i, 0);
        names.emplace_back(name != nullptr ? name : "");
    }
    return names;
}

bool SdlDevice::open(const WaveOutFormat& format, DoneCallback done, std::string& error) {
    close();
    if (!startAudio(error)) return false;
    if (format.bits != 8 && format.bits != 16) {
        error = "unsupported sample size";
        return false;
    }
    SDL_AudioSpec want{};
    want.freq = format.rate;
    want.format = format.bits == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    want.channels = static_cast<Uint8>(format.channels);
    want.samples = 1024;
    want.callback = &SdlDevice::pull;
    want.userdata = this;
    SDL_AudioSpec have{};
    const char* name = deviceNumber_ >= 0 ? SDL_GetAudioDeviceName(deviceNumber_, 0) : nullptr;
    format_ = format;
    done_ = std::move(done);
    device_ = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
    if (device_ == 0) {
        error = SDL_GetError();
        return false;
    }
    SDL_PauseAudioDevice(device_, 0);
    return true;
}

void SdlDevice::write(const WaveOutBuffer& buffer) {
    std::lock_guard<std::mutex> hold(mutex_);
    queue_.push_back(buffer);
}

void SdlDevice::pause() {
    if (device_ != 0) SDL_PauseAudioDevice(device_, 1);
}

void SdlDevice::restart() {
    if (device_ != 0) SDL_PauseAudioDevice(device_, 0);
}

void SdlDevice::reset() {
    std::deque<WaveOutBuffer> returned;
    if (device_ != 0) SDL_LockAudioDevice(device_);
    {
        std::lock_guard<std::mutex> hold(mutex_);
        returned.swap(queue_);
        offset_ = 0;
    }
    if (device_ != 0) SDL_UnlockAudioDevice(device_);
    for (const WaveOutBuffer& b : returned)
        if (done_) done_(b);
}

void SdlDevice::close() {
    if (device_ == 0) return;
    reset();
    SDL_CloseAudioDevice(device_);
    device_ = 0;
}

void SdlDevice::setVolume(uint32_t packed) {
    std::lock_guard<std::mutex> hold(mutex_);
    volume_ = packed;
}

uint32_t SdlDevice::volume() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return volume_;
}

void SdlDevice::pull(void* self, uint8_t* stream, int length) {
    static_cast<SdlDevice*>(self)->fill(stream, static_cast<std::size_t>(std::max(0, length)));
}

void SdlDevice::fill(uint8_t* stream, std::size_t length) {
    std::size_t filled = 0;
    std::deque<WaveOutBuffer> finished;
    uint32_t volume;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        volume = volume_;
        while (filled < length && !queue_.empty()) {
            const WaveOutBuffer& head = queue_.front();
            const std::size_t take = std::min(length - filled, head.length - offset_);
            std::memcpy(stream + filled, head.data + offset_, take);
            filled += take;
            offset_ += take;
            if (offset_ >= head.length) {
                finished.push_back(head);
                queue_.pop_front();
                offset_ = 0;
            }
        }
    }
    applyVolume(stream, filled, format_.bits, format_.channels, volume);
    std::memset(stream + filled, format_.bits == 8 ? 0x80 : 0, length - filled);
    for (const WaveOutBuffer& b : finished)
        if (done_) done_(b);
}

}  // namespace tessura

// "sdl" (the default): SDL2 audio on the default output device. SDL pulls samples from its
// own thread; the callback copies from the queued buffers and reports each one done when it
// has been used up. A device that cannot be opened fails the open.
// The library is loaded on the first open, not linked: with the fifty libraries it brings,
// loading it costs about 5 ms of CPU time, which every run of the program would pay, also
// when it only decodes to a file. Without it the open fails like any other.
#include <SDL.h>
#include <dlfcn.h>

#include <cstring>
#include <deque>

#include "AudioDevice.h"

namespace veloraplay {
namespace {

struct Sdl {
    bool loaded = false;
    decltype(&SDL_InitSubSystem) InitSubSystem = nullptr;
    decltype(&SDL_QuitSubSystem) QuitSubSystem = nullptr;
    decltype(&SDL_OpenAudioDevice) OpenAudioDevice = nullptr;
    decltype(&SDL_CloseAudioDevice) CloseAudioDevice = nullptr;
    decltype(&SDL_PauseAudioDevice) PauseAudioDevice = nullptr;
    decltype(&SDL_LockAudioDevice) LockAudioDevice = nullptr;
    decltype(&SDL_UnlockAudioDevice) UnlockAudioDevice = nullptr;
};

template <typename F>
bool Bind(void* library, const char* name, F& f) {
    f = reinterpret_cast<F>(dlsym(library, name));
    return f != nullptr;
}

// Loaded once for the life of the process; the library is never unloaded.
const Sdl& TheSdl() {
    static const Sdl sdl = [] {
        Sdl s;
        void* library = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return s;
        s.loaded = Bind(library, "SDL_InitSubSystem", s.InitSubSystem) &&
                   Bind(library, "SDL_QuitSubSystem", s.QuitSubSystem) &&
                   Bind(library, "SDL_OpenAudioDevice", s.OpenAudioDevice) &&
                   Bind(library, "SDL_CloseAudioDevice", s.CloseAudioDevice) &&
                   Bind(library, "SDL_PauseAudioDevice", s.PauseAudioDevice) &&
                   Bind(library, "SDL_LockAudioDevice", s.LockAudioDevice) &&
                   Bind(library, "SDL_UnlockAudioDevice", s.UnlockAudioDevice);
        return s;
    }();
    return sdl;
}

class SdlAudioDevice final : public AudioDevice {
  public:
    ~SdlAudioDevice() override { close(); }

    bool open(int channels, int sampleRate, DoneCallback done) override {
        if (device_ != 0 || channels < 1 || channels > 8 || sampleRate < 1) return false;
        if (!sdl_.loaded || sdl_.InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
        SDL_AudioSpec want{};
        want.freq = sampleRate;
        want.format = AUDIO_S16SYS;
        want.channels = static_cast<Uint8>(channels);
        want.samples = 1024;
        want.callback = &SdlAudioDevice::pull;
        want.userdata = this;
        SDL_AudioSpec have{};
        done_ = std::move(done);
        // No changes allowed: SDL converts to what the hardware takes.
        device_ = sdl_.OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (device_ == 0) {
            done_ = nullptr;
            sdl_.QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        sdl_.PauseAudioDevice(device_, 0);
        return true;
    }

    bool write(const int16_t* samples, size_t count, int tag) override {
        if (device_ == 0) return false;
        sdl_.LockAudioDevice(device_);
        queue_.push_back(Queued{samples, count, 0, tag});
        sdl_.UnlockAudioDevice(device_);
        return true;
    }

    void pause() override {
        if (device_ != 0) sdl_.PauseAudioDevice(device_, 1);
    }
    void restart() override {
        if (device_ != 0) sdl_.PauseAudioDevice(device_, 0);
    }

    void reset() override {
        if (device_ == 0) return;
        sdl_.LockAudioDevice(device_);
        for (const Queued& q : queue_) {
            if (done_) done_(q.tag);
        }
        queue_.clear();
        sdl_.UnlockAudioDevice(device_);
    }

    void setVolume(int level) override {
        if (device_ == 0) return;
        sdl_.LockAudioDevice(device_);
        volume_ = deviceVolume(level);
        sdl_.UnlockAudioDevice(device_);
    }

    void close() override {
        if (device_ == 0) return;
        reset();
        sdl_.CloseAudioDevice(device_);
        device_ = 0;
        done_ = nullptr;
        sdl_.QuitSubSystem(SDL_INIT_AUDIO);
    }

  private:
    struct Queued {
        const int16_t* samples;
        size_t count;
        size_t used;
        int tag;
    };

    // SDL's audio thread, with the device lock held.
    static void SDLCALL pull(void* user, Uint8* stream, int bytes) {
        auto* self = static_cast<SdlAudioDevice*>(user);
        auto* out = reinterpret_cast<int16_t*>(stream);
        size_t wanted = static_cast<size_t>(bytes) / 2;
        while (wanted > 0 && !self->queue_.empty()) {
            Queued& head = self->queue_.front();
            const size_t n = std::min(wanted, head.count - head.used);
            for (size_t i = 0; i < n; ++i) {
                out[i] = applyVolume(head.samples[head.used + i], self->volume_);
            }
            out += n;
            wanted -= n;
            head.used += n;
            if (head.used == head.count) {
                const int tag = head.tag;
                self->queue_.pop_front();
                if (self->done_) self->done_(tag);
            }
        }
        // Nothing queued: silence.
        std::memset(out, 0, wanted * 2);
    }

    const Sdl& sdl_ = TheSdl();
    SDL_AudioDeviceID device_ = 0;
    DoneCallback done_;
    std::deque<Queued> queue_;
    uint32_t volume_ = 65535;
};

}  // namespace

std::unique_ptr<AudioDevice> makeSdlAudioDevice() {
    return std::make_unique<SdlAudioDevice>();
}

}  // namespace veloraplay

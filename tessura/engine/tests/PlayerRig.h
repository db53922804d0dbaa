#pragma once
// The whole player engine in a temporary program folder with the project's real input modules:
// plug-in host, built-in output over a capturing device that plays faster than real time, the
// built-in stages, the output chain and the engine. A test plays a list and reads back what
// would have been heard, one segment per time the device was opened.
#include "EngineTestKit.h"

#include "Amplifier.h"
#include "EqualiserFilter.h"
#include "FileStreamSource.h"
#include "HostRequests.h"
#include "OutputChain.h"
#include "PitchShifter.h"
#include "PlayerEngine.h"
#include "PluginHost.h"
#include "WaveAudioOutput.h"
#include "audio/PacedDevice.h"

#include <atomic>
#include <thread>

namespace tessura::test {

struct HeardSegment {
    WaveOutFormat format;
    std::string pcm;
};

class Heard {
  public:
    void begin(const WaveOutFormat& format) {
        std::lock_guard<std::mutex> hold(mutex_);
        segments_.push_back({format, {}});
    }
    void add(const uint8_t* data, std::size_t length) {
        std::lock_guard<std::mutex> hold(mutex_);
        if (!segments_.empty()) segments_.back().pcm.append(reinterpret_cast<const char*>(data), length);
    }
    std::vector<HeardSegment> segments() const {
        std::lock_guard<std::mutex> hold(mutex_);
        return segments_;
    }
    std::size_t bytes() const {
        std::lock_guard<std::mutex> hold(mutex_);
        std::size_t total = 0;
        for (const HeardSegment& s : segments_) total += s.pcm.size();
        return total;
    }
    // Every segment joined (for lists of one format).
    std::string all() const {
        std::string joined;
        for (const HeardSegment& s : segments()) joined += s.pcm;
        return joined;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<HeardSegment> segments_;
};

// Consumes buffers `speed` times faster than they would play.
class HearingDevice final : public PacedDevice {
  public:
    HearingDevice(Heard& heard, unsigned speed) : heard_(heard) { setSpeed(speed); }
    ~HearingDevice() override { close(); }

  protected:
    bool begin(const WaveOutFormat& format, std::string&) override {
        heard_.begin(format);
        return true;
    }
    void consume(const uint8_t* data, std::size_t length) override { heard_.add(data, length); }
    void end() override {}

  private:
    Heard& heard_;
};

class RecordedEvents final : public EngineEvents {
  public:
    void statusText(const std::string& text) override {
        std::lock_guard<std::mutex> hold(mutex_);
        status_.push_back(text);
    }
    void playbackStopped() override { stops_++; }
    int stops() const { return stops_; }
    std::vector<std::string> status() const {
        std::lock_guard<std::mutex> hold(mutex_);
        return status_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> status_;
    std::atomic<int> stops_{0};
};

struct PlayerRig {
    explicit PlayerRig(unsigned speed = 16, std::vector<std::pair<std::string, std::string>> files = realPlugins(),
                       EngineSettings settings = {}, MasterVolume* master = nullptr)
        : home(files),
          builtin(*home.settings, home.dialogs,
                  [this, speed](int) { return std::make_unique<HearingDevice>(heard, speed); }, {"test device"}),
          plugins(home.home, home.language, home.dialogs),
          requests(*home.settings, messages, home.home) {
        this->plugins.discover(builtin.outputInterface());
        chain = std::make_unique<OutputChain>(this->plugins, BuiltinStages{pitch, amplifier, equaliser}, messages);
        EngineParts parts{this->plugins, *chain, BuiltinStages{pitch, amplifier, equaliser}, messages, requests,
                          home.language, events, {[] { return std::make_unique<FileStreamSource>(); }}, master, {}};
        engine = std::make_unique<PlayerEngine>(std::move(parts), std::move(settings));
    }
    ~PlayerRig() {
        engine.reset();
        chain.reset();
    }

    // The main thread's loop until `done` holds or `seconds` pass; false on time out.
    template <typename Done>
    bool runUntil(Done done, int seconds = 30) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > limit) return false;
            messages.drain([this](const ThreadMessage& m) { engine->handleMessage(m); });
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    bool runUntilStopped(int seconds = 30) {
        const int before = events.stops();
        return runUntil([&] { return events.stops() > before; }, seconds);
    }

    ProgramHome home;
    Heard heard;
    WaveAudioOutput builtin;
    PluginHost plugins;
    ThreadMessageQueue messages;
    HostRequests requests;
    PitchShifter pitch;
    Amplifier amplifier;
    EqualiserFilter equaliser;
    RecordedEvents events;
    std::unique_ptr<OutputChain> chain;
    std::unique_ptr<PlayerEngine> engine;
};

}  // namespace tessura::test

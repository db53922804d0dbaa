// The playback controller behind the player window: one worker thread per playback reads the
// file, decodes it frame by frame (or reads a WAVE file's samples) and hands the PCM to the
// device output, or to the decode-to-file sink. The worker reports through posted messages
// (status codes, position, stream kind, Stop and Next, progress) and never waits for the
// interface; the interface controls it through the stop and pause events, the seek request
// and a few flags.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "Event.h"
#include "MessageQueue.h"
#include "PcmSink.h"
#include "PlaybackControl.h"

namespace veloraplay {

class WaveWriteSink;

// Command ids the worker posts to the player window, and the position that means "none".
inline constexpr uintptr_t kCommandStop = 1001;
inline constexpr uintptr_t kCommandNext = 1003;
inline constexpr intptr_t kPositionNone = 242;
// A decode to file posts its progress every this many frames.
inline constexpr long long kProgressEvery = 37;

class Velorawrap final : public PlaybackControl {
  public:
    static constexpr int kBands = 8;
    static constexpr int kGainSteps = 7;
    static constexpr int kUnityGainStep = 3;

    // Messages go to `queue`, all for the player window; `device` plays, `file` decodes to file.
    Velorawrap(MessageQueue& queue, PcmSink& device, WaveWriteSink& file);
    // Over the process's device output and decode-to-file sink.
    explicit Velorawrap(MessageQueue& queue);
    ~Velorawrap() override;
    Velorawrap(const Velorawrap&) = delete;
    Velorawrap& operator=(const Velorawrap&) = delete;

    void setFile(const std::string& name) override { file_ = name; }
    const std::string& file() const override { return file_; }
    // The message code the position goes out with (PositionMessage by default).
    void setPositionMessage(uint32_t code) { positionMessage_ = code; }

    // Starts playing the file (resumes a paused playback); does nothing with no file set.
    void start() override;
    // Decodes the file to a WAVE file instead; false (nothing started) for a WAVE file, no
    // file, or while a playback runs.
    bool startDecodeToFile(const std::string& output);
    // Ends the playback and waits for the worker; it returns promptly however the device does.
    void stop() override;
    bool isRunning() const override { return running_.load(); }
    bool decodingToFile() const override { return toFile_.load(); }

    void togglePause() override;
    bool isPaused() const override { return pause_.isSet(); }

    // Inverts the live enhancement (SBR) switch, from the next decoded frame on.
    bool toggleEnhancement() override;
    bool enhancement() const override { return live_.load(); }
    // What each playback starts with ("Velora.Enabled").
    void setEnhancementDefault(bool on) override { enhancementDefault_.store(on); }
    bool enhancementDefault() const override { return enhancementDefault_.load(); }

    // The file set is a RIFF/WAVE file (played directly; refused by the reader if not 16-bit PCM).
    bool isWaveFile() const override;

    // Seek request, 0..100 percent of the file; the worker applies it after its next block.
    void requestSeek(int percent) override;
    // The pending target, cleared; -1 when none.
    int takeSeek();

    // Band gain steps 0..6 (0, 0.4, 0.8, 1.0, 1.2, 1.6, 2.0), applied to every decoded frame.
    void setBandGain(int band, int step) override;
    int bandGain(int band) const;
    // The band levels' maxima since the last call, which starts them afresh.
    std::array<uint8_t, kBands> takeBandPeaks() override;

    static float gainForStep(int step);

  private:
    struct Run;
    void run(std::string name, bool toFile);
    void runCompressed(Run& run);
    void runWave(Run& run);
    int peekSeek();
    // While paused: the sink reset once, a pending seek's time shown; true when paused.
    bool pausedIteration(Run& run, const std::function<intptr_t(int)>& seekSeconds);
    // A wait for an output buffer was cut short by a pause (not a stop); clears the signal.
    bool interrupted();
    // Drains the sink; true (and nothing more is drained) when a pause or a seek wants the
    // worker first.
    bool drainUnlessWanted(PcmSink& sink);
    void post(uint32_t code, uintptr_t wparam, intptr_t lparam, std::string payload = {});
    void notifyDisplay(uintptr_t code, intptr_t value) { post(msg::kPlayerNotify, code, value); }
    void command(uintptr_t id) { post(msg::kCommand, id, 0); }
    void showMessage(const std::string& text) { post(msg::kShowMessage, 0, 0, text); }

    MessageQueue& queue_;
    PcmSink& device_;
    WaveWriteSink& fileSink_;

    std::array<std::atomic<uint8_t>, kBands> peaks_{};
    std::array<std::atomic<int>, kBands> gains_{};
    std::mutex seekLock_;  // guards the seek request
    bool seekPending_ = false;
    int seekTarget_ = 0;
    Event stop_{true};
    Event pause_{true};
    // Set with a stop and when a pause begins: a worker waiting for a free output buffer
    // stops waiting, so the pause is heard at once.
    Event interrupt_{true};
    std::string file_;
    uint32_t positionMessage_ = msg::kPositionMessage;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> toFile_{false};
    std::atomic<bool> live_{true};
    std::atomic<bool> enhancementDefault_{true};
};

}  // namespace veloraplay

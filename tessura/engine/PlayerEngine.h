#pragma once
// Turns playlist entries into sound: chooses the input module that claims an entry, loads it,
// opens the entry through it and starts it; advances at the end of a track by the repeat mode;
// stops; applies volume, balance, amplification and pitch. It is the playlist's host and the
// services behind the current module's record (output, end of track, its source).
//
// Threads: the user-interface calls and handleMessage run on the main thread; the module's
// decoding thread reaches openOutput, writeOutput and notifyEnd. The playlist lock is taken
// before playbackLock_ (module close and open).
#include "CPlayer.h"
#include "HostRequests.h"
#include "ModuleHostServices.h"
#include "OutputChain.h"
#include "PluginHost.h"
#include "StreamSource.h"

#include "LanguageStore.h"
#include "Playlist.h"
#include "PlaylistHost.h"
#include "ThreadMessages.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tessura {

// What the engine shows: the window (or a headless run) implements it.
class EngineEvents {
  public:
    virtual ~EngineEvents() = default;
    virtual void statusText(const std::string& /*text*/) {}
    virtual void message(const std::string& /*caption*/, const std::string& /*text*/) {}
    virtual void displayChanged() {}  // title, time, state
    virtual void playbackStopped() {}
    // For readers outside the program (the information block).
    static constexpr int kStatePlaying = 1, kStateStopped = 2, kStatePaused = 3;
    virtual void playState(int /*state*/) {}
    virtual void trackStarted(const std::string& /*file*/, int32_t /*lengthMs*/, int32_t /*positionMs*/) {}
    // The track's title and its second text (an author, or a stream's title); empty: none.
    virtual void trackInfo(const std::string& /*title*/, const std::string& /*second*/) {}
};

// The system mixer's master level, where there is one.
class MasterVolume {
  public:
    virtual ~MasterVolume() = default;
    virtual bool available() = 0;
    virtual void set(uint32_t packed) = 0;
};

struct EngineSettings {
    std::string defaultExtension = ".mp3";
    bool alwaysUseMasterVolume = false;
    uint32_t volume = 65535;
    uint32_t balance = 32768;
    PlaylistOptions playlist;
};

struct EngineParts {
    PluginHost& plugins;
    OutputChain& chain;
    BuiltinStages stages;
    ThreadMessageQueue& messages;
    HostRequests& requests;
    const LanguageStore& language;
    EngineEvents& events;
    std::vector<StreamSourceFactory> sourceKinds;
    MasterVolume* masterVolume = nullptr;
    std::function<bool()> hasOutputDevice;  // none given: there is one
};

class PlayerEngine final : public PlaylistHost, public ModuleHostServices {
  public:
    static constexpr std::size_t kMaxModules = 20;

    PlayerEngine(EngineParts parts, EngineSettings settings);
    ~PlayerEngine() override;
    PlayerEngine(const PlayerEngine&) = delete;
    PlayerEngine& operator=(const PlayerEngine&) = delete;

    Playlist& playlist() { return playlist_; }
    std::size_t moduleCount() const { return players_.size(); }

    bool PlayEntry(int position);
    // `autoplay`: start even before anything of this run has played. `restart`: the old
    // track's queued sound is dropped instead of played out.
    bool PlayFrom(int position, bool autoplay = true, bool restart = true);
    bool Advance(bool force);
    void StopPlayback();
    bool TogglePause();
    bool Seek(int32_t ms);
    int32_t Position();
    int32_t Length();
    bool IsPlaying();
    bool IsPaused();

    void SetVolume(uint32_t level, bool announce);
    void SetBalance(uint32_t balance);
    void SetPitch(double factor);
    // The navigator's knobs, 0-65535; they announce their value on the status line.
    void SetAmplifierKnob(uint32_t knob);
    void SetPitchKnob(uint32_t knob, bool fine);
    uint32_t volume() const { return volume_; }
    uint32_t balance() const { return balance_; }

    // The main thread's share of the thread messages (end of track, stop, track information).
    // True when the message was the engine's.
    bool handleMessage(const ThreadMessage& message);

    CPlayer* currentPlayer() { return current_; }
    std::string playingFile() const;

    // PlaylistHost.
    bool claimsFile(const std::string& name) override;
    bool isPlaying() override { return IsPlaying(); }
    void playFrom(int position) override { PlayFrom(position); }
    void stopPlayback() override { StopPlayback(); }
    void showStatus(const std::string& key) override;
    void showMessage(const std::string& captionKey, const std::string& textKey) override;
    // The editor window's news goes through the main thread's queue, like every window's.
    void notifyEditor(uint32_t code, intptr_t wparam, intptr_t lparam) override {
        parts_.messages.post(code, wparam, lparam);
    }

    // ModuleHostServices (the current module's record).
    int32_t openOutput(int32_t sampleRate, int32_t channels, int32_t bitsCode) override;
    int32_t writeOutput(int32_t songId, const WriteBlock& block) override;
    void notifyEnd() override;
    intptr_t hostRequest(int32_t type, intptr_t argument) override;
    bool readSource(void* buffer, uint32_t size, uint32_t& bytesRead) override;
    bool seekSource(int64_t position, int32_t method, int64_t& previous) override;
    std::string sourceName() override;

  private:
    CPlayer* chooseModule(const std::string& file);
    void applyVolume();
    void stopAndClose();  // playbackLock_ held
    void refreshTrackInfo(bool announce);
    void announceStart();

    EngineParts parts_;
    EngineSettings settings_;
    std::mutex openLock_;
    std::mutex playMutex_;  // the global play mutex
    PlayerContext context_;
    std::vector<std::unique_ptr<CPlayer>> players_;
    Playlist playlist_;
    std::recursive_mutex playbackLock_;
    CPlayer* current_ = nullptr;              // main thread
    std::atomic<CPlayer*> serving_{nullptr};  // the module the record's host functions reach
    std::string playingFile_;
    bool nothingPlayedYet_ = true;
    bool endPending_ = false;  // the track's end arrived while paused
    struct Started {
        int32_t songId;
        std::string file;
        int32_t lengthMs;
        std::string title, second;
    };
    std::optional<Started> pendingStart_;  // a track begun but not yet announced
    uint32_t volume_ = 65535, balance_ = 32768;
};

}  // namespace tessura

#pragma once
// One input module as the engine plays through it: the module's library (InputModule), the
// source of the open item, the song id of its track, its info cache and its track state
// (opened, playing, paused). A module that renders the audio itself (flag 0x04) is asked for
// pause, position, length, end and volume; the others go through the output chain.
#include "InputModule.h"
#include "OutputChain.h"
#include "StreamSource.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tessura {

// What a player needs from the engine around it.
struct PlayerContext {
    OutputChain& chain;
    std::vector<StreamSourceFactory> sourceKinds;  // tried in order for modules that read through the host
    SourceRequest request;                         // the engine's request callback, for sources
    std::function<void(const std::string& key)> reportError;  // a language key for the status line
    std::mutex& openLock;  // module Open of modules that open sources themselves
    std::mutex& playMutex;  // the global play mutex: Stop against NotifyEnd
};

// The visualisation block of self-rendering modules: byte 0 the position, 512 left and 512
// right signed 8-bit samples at 4 and 516, and with flag 2 the spectra at 1028 and 1284.
inline constexpr std::size_t kVisBlockBytes = 1540;
inline constexpr int32_t kVisWantSpectrum = 2;

class CPlayer {
  public:
    static constexpr int32_t kSeekHoldMs = 256;

    CPlayer(InputModule& module, PlayerContext& context);
    ~CPlayer();
    CPlayer(const CPlayer&) = delete;
    CPlayer& operator=(const CPlayer&) = delete;

    InputModule& module() { return module_; }
    bool rendersItself() const;
    bool opensSources() const;

    bool Load(bool initialise);
    void Unload(bool shutdown);
    bool ClaimsFile(const std::string& name) const { return module_.ClaimsFile(name); }

    // The text of a failed Open for the status line (empty: the caller's own message).
    bool Open(const std::string& source);
    void Close();
    // `restart`: the output is closed at once first, so the new track does not wait for the
    // old one's blocks.
    bool Play(bool restart);
    void Stop();
    bool TogglePause();
    bool Seek(int32_t ms, bool flush);
    int32_t Position();
    int32_t Length();
    bool IsActive();
    void SetVolume(uint32_t packed);
    // Fills a kVisBlockBytes block for self-rendering modules that supply the data.
    bool GetVisData(uint8_t* block, int32_t flags);
    std::string Describe() const;
    std::string InfoText();
    std::string StreamText();
    std::string Title();
    void RefreshInfo(bool force);

    bool opened() const { return opened_; }
    bool playing() const { return playing_; }
    bool paused() const { return paused_; }
    int32_t songId() const { return songId_; }
    const std::string& sourceName() const { return sourceName_; }
    // The open source, for the host's Read and SeekSource (null for modules that open their own).
    StreamSource* source() { return source_.get(); }

  private:
    struct InfoCache {
        std::string title, streamText, infoText;
        int32_t lengthMs = -1;
    };
    InputModuleRecord& record() { return module_.record(); }

    InputModule& module_;
    PlayerContext& context_;
    std::unique_ptr<StreamSource> source_;
    std::string sourceName_;
    InfoCache info_;
    bool infoValid_ = false;
    int32_t songId_ = 0;
    bool opened_ = false, playing_ = false, paused_ = false;
    std::mutex playLock_;  // held while Play runs
    // The seek target shown until the module's position has moved on from where it was.
    std::optional<int32_t> seekTarget_;
    int32_t seekComparedAt_ = 0;
};

// 512-point spectrum magnitudes of one channel's signed 8-bit samples (divided by 16), bins
// 0-255 as |real part| rounded and held at 255.
void visSpectrum(const int8_t* samples, uint8_t* bins);

}  // namespace tessura

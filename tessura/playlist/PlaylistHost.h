#pragma once
// What the playlist needs from the rest of the player, kept small so the playlist is tested
// without an engine, a window or plug-ins. Every call is made with the playlist lock held (the
// playlist lock comes before the playback lock).
#include <cstdint>
#include <string>

namespace tessura {

namespace playlist_message {
inline constexpr uint32_t kRefresh = 0x8204;
inline constexpr uint32_t kStateChanged = 0x8205;  // wparam what (below), lparam its value
inline constexpr uint32_t kEntriesChanged = 0x8206;  // wparam, lparam: entry or -1 (whole list)
inline constexpr intptr_t kStatePlaying = 1, kStateStopped = 2, kStatePaused = 4;
inline constexpr intptr_t kStateRepeat = 32, kStateShuffle = 64, kStateVolume = 128;
}  // namespace playlist_message

class PlaylistHost {
  public:
    virtual ~PlaylistHost() = default;
    // Whether an input module claims the name (by its extension).
    virtual bool claimsFile(const std::string& /*name*/) { return false; }
    virtual bool isPlaying() { return false; }
    // Play from `position` in play order; stop playback.
    virtual void playFrom(int /*position*/) {}
    virtual void stopPlayback() {}
    // A translated status-line text by its key ("main/shuffleon").
    virtual void showStatus(const std::string& /*key*/) {}
    // A message box by its caption and text keys.
    virtual void showMessage(const std::string& /*captionKey*/, const std::string& /*textKey*/) {}
    // A skin archive named as an item: store its name and post the load-skin message.
    virtual void loadSkin(const std::string& /*path*/) {}
    // A message for the playlist editor window.
    virtual void notifyEditor(uint32_t /*code*/, intptr_t /*wparam*/, intptr_t /*lparam*/) {}
};

}  // namespace tessura

#pragma once
// The conversions between tessura's values and the ones remote controllers exchange: volume
// 0-65535 against 0.0-1.0, milliseconds against microseconds, a file against its URL, a track
// serial against its object path, the engine's play state against the status word.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessura::remote {

inline constexpr uint32_t kMaxVolume = 65535;

// 0.0-1.0; values outside are clamped (a controller may offer more than full volume, which the
// player has not got). NaN gives nothing.
std::optional<uint32_t> VolumeFromFraction(double fraction);
double FractionFromVolume(uint32_t level);  // levels above kMaxVolume count as full

int64_t MicrosFromMillis(int32_t ms);
// Rounded towards zero; clamped to the engine's millisecond range.
int32_t MillisFromMicros(int64_t us);

enum class PlaybackStatus { Stopped, Playing, Paused };
const char* PlaybackStatusName(PlaybackStatus status);  // "Playing", "Paused", "Stopped"
// EngineEvents' kStatePlaying/kStateStopped/kStatePaused; anything else is Stopped.
PlaybackStatus PlaybackStatusFromEngineState(int state);

// The playlist's repeat mode (0 off, 1 one track, 2 all) as the loop status word, "None",
// "Track" or "Playlist", and back; other modes read as off, other words give nothing.
const char* LoopStatusName(int repeatMode);
std::optional<int> RepeatModeFromLoopStatus(std::string_view status);

// An absolute path as a file: URL with the bytes outside the unreserved set percent-encoded; a text
// that already names a scheme ("http://...") is kept as it is.
std::string UrlFromEntry(const std::string& entry);
// The last part of a path or URL, for a track without a title.
std::string DisplayNameFromEntry(const std::string& entry);

// The object path of the n-th track started in this run; for no track, the standard "no track"
// path.
std::string TrackObjectPath(uint64_t serial);
inline constexpr const char* kNoTrackPath = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

}  // namespace tessura::remote

namespace tessura::remote {

// What a controller's OpenUri names, as a playlist entry: a file: URL as its local path
// (percent-decoded), an http: address as it is. Nothing for other schemes, for a file: URL of
// another host, and for malformed or NUL-carrying escapes.
std::optional<std::string> EntryFromUri(std::string_view uri);

}  // namespace tessura::remote

#include "MprisValues.h"

#include <cmath>
#include <limits>

namespace tessura::remote {

std::optional<uint32_t> VolumeFromFraction(double fraction) {
    if (std::isnan(fraction)) return std::nullopt;
    if (fraction <= 0.0) return 0u;
    if (fraction >= 1.0) return kMaxVolume;
    return static_cast<uint32_t>(std::lround(fraction * kMaxVolume));
}

double FractionFromVolume(uint32_t level) {
    if (level >= kMaxVolume) return 1.0;
    return static_cast<double>(level) / kMaxVolume;
}

int64_t MicrosFromMillis(int32_t ms) { return static_cast<int64_t>(ms) * 1000; }

int32_t MillisFromMicros(int64_t us) {
    const int64_t ms = us / 1000;
    if (ms > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (ms < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(ms);
}

const char* PlaybackStatusName(PlaybackStatus status) {
    switch (status) {
        case PlaybackStatus::Playing: return "Playing";
        case PlaybackStatus::Paused: return "Paused";
        case PlaybackStatus::Stopped: break;
    }
    return "Stopped";
}

PlaybackStatus PlaybackStatusFromEngineState(int state) {
    // The engine's numbers for readers outside the program: 1 playing, 3 paused, 2 stopped.
    if (state == 1) return PlaybackStatus::Playing;
    if (state == 3) return PlaybackStatus::Paused;
    return PlaybackStatus::Stopped;
}

const char* LoopStatusName(int repeatMode) {
    if (repeatMode == 1) return "Track";
    if (repeatMode == 2) return "Playlist";
    return "None";
}

std::optional<int> RepeatModeFromLoopStatus(std::string_view status) {
    if (status == "None") return 0;
    if (status == "Track") return 1;
    if (status == "Playlist") return 2;
    return std::nullopt;
}

namespace {

bool hasScheme(std::string_view text) {
    const std::size_t colon = text.find("://");
    if (colon == std::string_view::npos || colon == 0) return false;
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = text[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!letter && !(i > 0 && other)) return false;
    }
    return true;
}

bool unreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~' || c == '/';
}

}  // namespace

std::string UrlFromEntry(const std::string& entry) {
    if (entry.empty() || hasScheme(entry)) return entry;
    static constexpr char kHex[] = "0123456789ABCDEF";
    // Playlist entries are absolute; a relative one stays a relative reference.
    std::string url = entry.front() == '/' ? "file://" : "";
    for (const char ch : entry) {
        const auto c = static_cast<unsigned char>(ch);
        if (unreserved(c)) {
            url += ch;
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 0xF];
        }
    }
    return url;
}

std::string DisplayNameFromEntry(const std::string& entry) {
    std::string_view rest = entry;
    while (rest.size() > 1 && rest.back() == '/') rest.remove_suffix(1);
    const std::size_t slash = rest.find_last_of('/');
    if (slash != std::string_view::npos && slash + 1 < rest.size()) rest.remove_prefix(slash + 1);
    return std::string(rest);
}

std::string TrackObjectPath(uint64_t serial) { return "/org/tessura/Track/" + std::to_string(serial); }

}  // namespace tessura::remote

namespace tessura::remote {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> EntryFromUri(std::string_view uri) {
    if (uri.find('\0') != std::string_view::npos) return std::nullopt;
    if (startsWithNoCase(uri, "http://")) return std::string(uri);
    if (!startsWithNoCase(uri, "file://")) return std::nullopt;
    std::string_view rest = uri.substr(7);
    // "file:///path" or "file://localhost/path"; another host is not ours to open.
    if (startsWithNoCase(rest, "localhost/")) rest.remove_prefix(9);
    if (rest.empty() || rest.front() != '/') return std::nullopt;
    std::string path;
    path.reserve(rest.size());
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path += rest[i];
            continue;
        }
        if (i + 2 >= rest.size()) return std::nullopt;
        const int high = hexValue(rest[i + 1]), low = hexValue(rest[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) return std::nullopt;
        path += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return path;
}

}  // namespace tessura::remote

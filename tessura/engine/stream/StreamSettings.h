#pragma once
// The internet-stream settings of "General Preferences 0.80", read in one place with their
// defaults and clamps, and the ring size and pre-buffer threshold they give.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tessura {

class SettingsStore;

struct StreamSettings {
    static constexpr int kMinBufferKb = 24, kMaxBufferKb = 256, kDefaultBufferKb = 64;
    static constexpr int kDefaultPreBufferPercent = 50;

    int bufferKb = kDefaultBufferKb;                   // StreamBufferSize
    int preBufferPercent = kDefaultPreBufferPercent;   // StreamPreBufferSize; 0 = off
    bool useProxy = false;                             // UseWebProxy
    std::string proxyUrl;                              // WebProxyURL
    bool useProxyAuth = false;                         // UseWebProxyAuth
    std::string proxyUser, proxyPassword;              // the password in clear

    // The same values with every clamp applied.
    StreamSettings clamped() const;
};

StreamSettings LoadStreamSettings(SettingsStore& store);

// What one read of the streaming library asks for.
inline constexpr std::size_t kStreamReadBytes = 512;

// The ring's size: StreamBufferSize KB.
std::size_t StreamRingBytes(const StreamSettings& settings);
// Whole part of (buffer / (100 / percent)) KB, so 64 KB at 50 % gives 32768 and 0 % gives 0;
// kept a library read below the ring's size, so a full ring always reaches it.
int64_t PreBufferThreshold(const StreamSettings& settings);

}  // namespace tessura

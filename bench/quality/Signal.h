// Planar float PCM (full scale +-32768) and its file formats: raw 16-bit little-endian
// interleaved, or 16-bit PCM WAVE.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace velora::bench {

struct Signal {
    int rate = 0;
    std::vector<std::vector<float>> channels;

    int ChannelCount() const { return static_cast<int>(channels.size()); }
    size_t Length() const { return channels.empty() ? 0 : channels[0].size(); }
};

// Reads a 16-bit PCM WAVE file, or raw PCM with the given rate and channel count when the
// file does not start with a RIFF header (then `rate` and `channels` must be positive).
// False with a message in `error` on failure.
bool ReadPcmFile(const std::string& path, int rate, int channels, Signal& out, std::string& error);

// An original and its decoded copy: the copy, when raw, in the original's rate and channels
// unless they are given; false with a message when either cannot be read or they differ in
// rate or channel count.
bool ReadOriginalAndDecoded(const std::string& originalPath, const std::string& decodedPath, int rate,
                            int channels, Signal& original, Signal& decoded, std::string& error);

// The channels summed, for the lag search.
std::vector<float> MonoSum(const Signal& s);

}  // namespace velora::bench

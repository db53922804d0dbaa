#include "Signal.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace velora::bench {
namespace {

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void Deinterleave(const uint8_t* data, size_t bytes, int channels, Signal& out) {
    const size_t frames = bytes / (2 * static_cast<size_t>(channels));
    out.channels.assign(static_cast<size_t>(channels), std::vector<float>(frames));
    for (size_t n = 0; n < frames; ++n)
        for (int c = 0; c < channels; ++c) {
            const uint8_t* p = data + 2 * (n * static_cast<size_t>(channels) + static_cast<size_t>(c));
            out.channels[static_cast<size_t>(c)][n] = static_cast<float>(static_cast<int16_t>(Le16(p)));
        }
}

// Walks the chunks of a RIFF/WAVE file held in memory.
bool ParseWave(const std::vector<uint8_t>& file, Signal& out, std::string& error) {
    if (file.size() < 12 || std::memcmp(file.data() + 8, "WAVE", 4) != 0) {
        error = "a RIFF file that is not WAVE";
        return false;
    }
    int channels = 0;
    bool haveFormat = false;
    size_t pos = 12;
    while (pos + 8 <= file.size()) {
        const uint8_t* chunk = file.data() + pos;
        const size_t size = Le32(chunk + 4);
        const size_t body = pos + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16 || body + 16 > file.size()) break;
            const uint16_t format = Le16(file.data() + body);
            channels = Le16(file.data() + body + 2);
            out.rate = static_cast<int>(Le32(file.data() + body + 4));
            const uint16_t bits = Le16(file.data() + body + 14);
            // 0xFFFE (extensible) carries plain PCM here too.
            if ((format != 1 && format != 0xFFFE) || bits != 16 || channels < 1) {
                error = "not 16-bit PCM WAVE";
                return false;
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) break;
            // A streamed file may carry a size larger than what follows.
            const size_t bytes = std::min(size, file.size() - body);
            Deinterleave(file.data() + body, bytes, channels, out);
            return true;
        }
        pos = body + size + (size & 1);
    }
    error = "no format and data chunks";
    return false;
}

}  // namespace

bool ReadPcmFile(const std::string& path, int rate, int channels, Signal& out, std::string& error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        error = "cannot open " + path;
        return false;
    }
    std::vector<uint8_t> file;
    uint8_t buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof(buffer), f)) > 0) file.insert(file.end(), buffer, buffer + got);
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError) {
        error = "cannot read " + path;
        return false;
    }
    out = Signal{};
    if (file.size() >= 4 && std::memcmp(file.data(), "RIFF", 4) == 0) {
        if (!ParseWave(file, out, error)) {
            error = path + ": " + error;
            return false;
        }
        return true;
    }
    if (rate <= 0 || channels <= 0) {
        error = path + ": raw PCM needs --rate and --channels";
        return false;
    }
    out.rate = rate;
    Deinterleave(file.data(), file.size(), channels, out);
    return true;
}

std::vector<float> MonoSum(const Signal& s) {
    std::vector<float> mono(s.Length(), 0.0f);
    for (const std::vector<float>& c : s.channels)
        for (size_t n = 0; n < mono.size(); ++n) mono[n] += c[n];
    return mono;
}

bool ReadOriginalAndDecoded(const std::string& originalPath, const std::string& decodedPath, int rate,
                            int channels, Signal& original, Signal& decoded, std::string& error) {
    if (!ReadPcmFile(originalPath, rate, channels, original, error) ||
        !ReadPcmFile(decodedPath, rate > 0 ? rate : original.rate,
                     channels > 0 ? channels : original.ChannelCount(), decoded, error)) {
        return false;
    }
    if (decoded.rate != original.rate || decoded.ChannelCount() != original.ChannelCount()) {
        error = "the decoded file has " + std::to_string(decoded.rate) + " Hz, " +
                std::to_string(decoded.ChannelCount()) + " channels; the original " +
                std::to_string(original.rate) + " Hz, " + std::to_string(original.ChannelCount()) +
                " channels";
        return false;
    }
    return true;
}

}  // namespace velora::bench

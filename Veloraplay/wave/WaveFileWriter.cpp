#include "WaveFileWriter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace veloraplay {
namespace {

constexpr int kHeaderBytes = 44;

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

}  // namespace

bool WaveFileWriter::Begin(std::FILE* out, int channels, int sampleRate) {
    out_ = out;
    channels_ = channels;
    sampleRate_ = sampleRate;
    dataBytes_ = 0;
    seekable_ = std::ftell(out) == 0 && std::fseek(out, 0, SEEK_SET) == 0;

    std::array<uint8_t, kHeaderBytes> h{};
    const uint32_t blockAlign = static_cast<uint32_t>(channels) * 2;
    std::memcpy(&h[0], "RIFF", 4);
    Put32(&h[4], seekable_ ? 36 : 0xFFFFFFFFu);
    std::memcpy(&h[8], "WAVE", 4);
    std::memcpy(&h[12], "fmt ", 4);
    Put32(&h[16], 16);
    Put16(&h[20], 1);
    Put16(&h[22], static_cast<uint32_t>(channels));
    Put32(&h[24], static_cast<uint32_t>(sampleRate));
    Put32(&h[28], blockAlign * static_cast<uint32_t>(sampleRate));
    Put16(&h[32], blockAlign);
    Put16(&h[34], 16);
    std::memcpy(&h[36], "data", 4);
    Put32(&h[40], seekable_ ? 0 : 0xFFFFFFFFu);
    return std::fwrite(h.data(), 1, h.size(), out_) == h.size();
}

bool WaveFileWriter::Append(const int16_t* samples, size_t count) {
    if constexpr (std::endian::native == std::endian::little) {
        // The samples are already in the file's byte order.
        if (std::fwrite(samples, 2, count, out_) != count) return false;
        dataBytes_ += count * 2;
        return true;
    }
    uint8_t bytes[4096];
    size_t done = 0;
    while (done < count) {
        const size_t chunk = std::min(count - done, sizeof(bytes) / 2);
        for (size_t i = 0; i < chunk; ++i) {
            Put16(bytes + 2 * i, static_cast<uint16_t>(samples[done + i]));
        }
        if (std::fwrite(bytes, 2, chunk, out_) != chunk) return false;
        done += chunk;
    }
    dataBytes_ += count * 2;
    return true;
}

bool WaveFileWriter::Finish() {
    if (!seekable_) return std::fflush(out_) == 0;
    // A data chunk beyond 4 GiB cannot be described; the sizes then saturate.
    const uint64_t data = std::min<uint64_t>(dataBytes_, 0xFFFFFFFFu - 36);
    uint8_t size[4];
    if (data & 1) {
        const uint8_t pad = 0;
        if (std::fwrite(&pad, 1, 1, out_) != 1) return false;
    }
    Put32(size, static_cast<uint32_t>(36 + data + (data & 1)));
    if (std::fseek(out_, 4, SEEK_SET) != 0 || std::fwrite(size, 1, 4, out_) != 4) return false;
    Put32(size, static_cast<uint32_t>(data));
    if (std::fseek(out_, 40, SEEK_SET) != 0 || std::fwrite(size, 1, 4, out_) != 4) return false;
    return std::fseek(out_, 0, SEEK_END) == 0 && std::fflush(out_) == 0;
}

}  // namespace veloraplay

// Builds RIFF/WAVE files byte by byte so tests can make layouts the writer never produces:
// odd chunks, longer "fmt " chunks, INFO lists, overstated sizes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace velora::testing {

using Bytes = std::vector<uint8_t>;

inline void Append16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

inline void Append32(Bytes& b, uint32_t v) {
    Append16(b, v & 0xFFFF);
    Append16(b, v >> 16);
}

inline void AppendText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

// A chunk with its header and, after an odd body, the pad byte.
inline Bytes Chunk(const std::string& id, const Bytes& body) {
    Bytes b;
    AppendText(b, id);
    Append32(b, static_cast<uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() & 1) b.push_back(0);
    return b;
}

inline Bytes TextBody(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A "fmt " chunk; `extraBytes` zero bytes follow the 16-byte block (18 = with cbSize).
inline Bytes FormatChunk(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                         size_t extraBytes = 0) {
    Bytes body;
    const uint32_t align = channels * bits / 8u;
    Append16(body, tag);
    Append16(body, channels);
    Append32(body, rate);
    Append32(body, align * rate);
    Append16(body, align);
    Append16(body, bits);
    body.resize(body.size() + extraBytes, 0);
    return Chunk("fmt ", body);
}

// LIST/INFO with the given (id, text) pairs; the texts are stored NUL-terminated.
inline Bytes InfoList(const std::vector<std::pair<std::string, std::string>>& texts) {
    Bytes body;
    AppendText(body, "INFO");
    for (const auto& [id, text] : texts) {
        Bytes t = TextBody(text);
        t.push_back(0);
        const Bytes c = Chunk(id, t);
        body.insert(body.end(), c.begin(), c.end());
    }
    return Chunk("LIST", body);
}

inline Bytes SamplesBody(const std::vector<int16_t>& samples) {
    Bytes b;
    for (int16_t s : samples) Append16(b, static_cast<uint16_t>(s));
    return b;
}

// "RIFF", size (the true one unless overridden), "WAVE", then the chunks.
inline Bytes RiffWave(const std::vector<Bytes>& chunks, int64_t riffSize = -1) {
    Bytes b;
    AppendText(b, "RIFF");
    Append32(b, 0);
    AppendText(b, "WAVE");
    for (const Bytes& c : chunks) b.insert(b.end(), c.begin(), c.end());
    const uint32_t size =
        riffSize < 0 ? static_cast<uint32_t>(b.size() - 8) : static_cast<uint32_t>(riffSize);
    for (int i = 0; i < 4; ++i) b[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(size >> (8 * i));
    return b;
}

inline void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return;
    // An empty file has no data() to pass on.
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

}  // namespace velora::testing

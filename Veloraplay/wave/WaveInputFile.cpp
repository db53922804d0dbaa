#include "WaveInputFile.h"

#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace velora {
namespace {

constexpr uint32_t kStreamedSize = 0xFFFFFFFFu;
constexpr uint64_t kFormatBlockBytes = 16;

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(Get16(p)) | (static_cast<uint32_t>(Get16(p + 2)) << 16);
}

bool SeekTo(std::FILE* f, uint64_t offset) {
    return ::fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool ReadExactly(std::FILE* f, void* out, size_t bytes) {
    return std::fread(out, 1, bytes, f) == bytes;
}

uint64_t FileLength(std::FILE* f) {
    if (::fseeko(f, 0, SEEK_END) != 0) return 0;
    const off_t end = ::ftello(f);
    return end < 0 ? 0 : static_cast<uint64_t>(end);
}

struct ChunkHeader {
    char id[4];
    uint32_t size;
};

bool ReadChunkHeader(std::FILE* f, ChunkHeader& chunk) {
    uint8_t raw[8];
    if (!ReadExactly(f, raw, sizeof(raw))) return false;
    std::memcpy(chunk.id, raw, 4);
    chunk.size = Get32(raw + 4);
    return true;
}

bool IsId(const char* id, const char* expected) { return std::memcmp(id, expected, 4) == 0; }

// Chunks are word aligned: an odd-sized chunk is followed by one pad byte.
uint64_t NextChunk(uint64_t chunkStart, uint32_t size) {
    return chunkStart + 8 + size + (size & 1u);
}

PcmFormat ParseFormat(const uint8_t* p) {
    PcmFormat f;
    f.formatTag = Get16(p);
    f.channels = Get16(p + 2);
    f.samplesPerSec = Get32(p + 4);
    f.avgBytesPerSec = Get32(p + 8);
    f.blockAlign = Get16(p + 12);
    f.bitsPerSample = Get16(p + 14);
    return f;
}

// Reads "RIFF", size, "WAVE"; returns the end of the form, limited to the file's length.
bool ReadRiffHeader(std::FILE* f, uint64_t fileLength, uint64_t& riffEnd, std::string& why) {
    uint8_t h[12];
    if (!ReadExactly(f, h, sizeof(h))) {
        why = "file too short for a RIFF header";
        return false;
    }
    if (std::memcmp(h, "RIFF", 4) != 0) {
        why = "not a RIFF file";
        return false;
    }
    if (std::memcmp(h + 8, "WAVE", 4) != 0) {
        why = "RIFF form type is not WAVE";
        return false;
    }
    const uint32_t size = Get32(h + 4);
    riffEnd = size == kStreamedSize ? fileLength : std::min<uint64_t>(8ull + size, fileLength);
    return true;
}

// Copies one INFO text (not necessarily NUL-terminated in the file) into a zeroed buffer.
void ReadText(std::FILE* f, uint32_t size, char* out, size_t length) {
    if (out == nullptr || length == 0) return;
    const size_t bytes = std::min<size_t>(size, length - 1);
    const size_t got = std::fread(out, 1, bytes, f);
    out[got] = '\0';
}

}  // namespace

WaveInputFile::~WaveInputFile() { Close(); }

void WaveInputFile::Close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    format_ = PcmFormat{};
    riffEnd_ = dataStart_ = dataBytes_ = declaredBytes_ = position_ = 0;
}

bool WaveInputFile::Fail(const std::string& reason) {
    Close();
    failure_ = reason;
    return false;
}

bool WaveInputFile::Open(const std::string& path) {
    Close();
    failure_.clear();
    // Read-only: POSIX has no share mode that keeps other writers out while we read.
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) return Fail("cannot open " + path + ": " + std::strerror(errno));

    const uint64_t fileLength = FileLength(file_);
    std::string why;
    if (!SeekTo(file_, 0) || !ReadRiffHeader(file_, fileLength, riffEnd_, why)) return Fail(why);

    bool haveFormat = false;
    uint64_t chunkStart = 12;
    ChunkHeader chunk{};
    while (true) {
        if (chunkStart + 8 > riffEnd_ || !SeekTo(file_, chunkStart) ||
            !ReadChunkHeader(file_, chunk)) {
            return Fail(haveFormat ? "no data chunk" : "no fmt chunk");
        }
        if (IsId(chunk.id, "fmt ")) {
            if (chunk.size < kFormatBlockBytes) return Fail("fmt chunk shorter than 16 bytes");
            uint8_t block[kFormatBlockBytes];
            if (!ReadExactly(file_, block, sizeof(block))) return Fail("fmt chunk truncated");
            format_ = ParseFormat(block);
            if (format_.formatTag != 1) {
                return Fail("format tag " + std::to_string(format_.formatTag) +
                            " is not linear PCM");
            }
            if (format_.channels != 1 && format_.channels != 2) {
                return Fail(std::to_string(format_.channels) +
                            " channels (only mono and stereo are supported)");
            }
            if (format_.bitsPerSample != 16) {
                return Fail(std::to_string(format_.bitsPerSample) +
                            " bits per sample (only 16-bit PCM is supported)");
            }
            if (format_.samplesPerSec == 0) return Fail("sample rate is 0");
            haveFormat = true;
        } else if (IsId(chunk.id, "data")) {
            if (!haveFormat) return Fail("data chunk before fmt chunk");
            break;
        }
        chunkStart = NextChunk(chunkStart, chunk.size);
    }

    dataStart_ = chunkStart + 8;
    const uint64_t available = fileLength > dataStart_ ? fileLength - dataStart_ : 0;
    dataBytes_ = chunk.size == kStreamedSize ? available : std::min<uint64_t>(chunk.size, available);
    declaredBytes_ = chunk.size == kStreamedSize ? dataBytes_ : chunk.size;
    position_ = 0;
    return true;
}

int WaveInputFile::SampleRate() const {
    return IsOpen() ? static_cast<int>(format_.samplesPerSec) : 0;
}

int WaveInputFile::Channels() const { return IsOpen() ? format_.channels : 0; }

uint64_t WaveInputFile::DataBytes() const { return IsOpen() ? dataBytes_ : 0; }

uint64_t WaveInputFile::DeclaredDataBytes() const { return IsOpen() ? declaredBytes_ : 0; }

size_t WaveInputFile::Read(void* buffer, size_t bytes) {
    if (!IsOpen() || position_ >= dataBytes_) return 0;
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(bytes, dataBytes_ - position_));
    const size_t got = std::fread(buffer, 1, wanted, file_);
    position_ += got;
    return got;
}

bool WaveInputFile::Seek(uint64_t position) {
    if (!IsOpen()) return false;
    const uint64_t target = std::min(position, dataBytes_);
    if (!SeekTo(file_, dataStart_ + target)) return false;
    position_ = target;
    return true;
}

bool WaveInputFile::ReadInfoTexts(char* name, size_t nameLength, char* artist,
                                  size_t artistLength, char* comment, size_t commentLength) {
    if (name != nullptr && nameLength > 0) std::memset(name, 0, nameLength);
    if (artist != nullptr && artistLength > 0) std::memset(artist, 0, artistLength);
    if (comment != nullptr && commentLength > 0) std::memset(comment, 0, commentLength);
    if (!IsOpen()) return false;

    // The LIST chunk may sit before or after the samples, so the whole form is searched.
    ChunkHeader chunk{};
    for (uint64_t at = 12; at + 8 <= riffEnd_; at = NextChunk(at, chunk.size)) {
        if (!SeekTo(file_, at) || !ReadChunkHeader(file_, chunk)) break;
        char form[4];
        if (!IsId(chunk.id, "LIST") || chunk.size < 4 || !ReadExactly(file_, form, 4) ||
            !IsId(form, "INFO")) {
            continue;
        }
        const uint64_t listEnd = std::min<uint64_t>(at + 8 + chunk.size, riffEnd_);
        ChunkHeader text{};
        for (uint64_t sub = at + 12; sub + 8 <= listEnd; sub = NextChunk(sub, text.size)) {
            if (!SeekTo(file_, sub) || !ReadChunkHeader(file_, text)) break;
            const uint32_t size =
                static_cast<uint32_t>(std::min<uint64_t>(text.size, listEnd - sub - 8));
            if (IsId(text.id, "INAM")) ReadText(file_, size, name, nameLength);
            if (IsId(text.id, "IART")) ReadText(file_, size, artist, artistLength);
            if (IsId(text.id, "ICMT")) ReadText(file_, size, comment, commentLength);
        }
    }
    return SeekTo(file_, dataStart_ + position_);
}

bool IsPcmWaveFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    const uint64_t fileLength = FileLength(f);
    uint64_t riffEnd = 0;
    std::string why;
    bool pcm = false;
    if (SeekTo(f, 0) && ReadRiffHeader(f, fileLength, riffEnd, why)) {
        ChunkHeader chunk{};
        for (uint64_t at = 12; at + 8 <= riffEnd; at = NextChunk(at, chunk.size)) {
            if (!SeekTo(f, at) || !ReadChunkHeader(f, chunk)) break;
            if (!IsId(chunk.id, "fmt ")) continue;
            uint8_t block[kFormatBlockBytes];
            pcm = chunk.size >= kFormatBlockBytes && ReadExactly(f, block, sizeof(block)) &&
                  ParseFormat(block).formatTag == 1;
            break;
        }
    }
    std::fclose(f);
    return pcm;
}

}  // namespace velora

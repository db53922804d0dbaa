// Reads 16-bit linear PCM RIFF/WAVE files for the encoder: walks the chunks up to "data",
// accepting a "fmt " chunk longer than 16 bytes and skipping chunks it does not know.
// Streamed files (sizes 0xFFFFFFFF) and files whose sizes overstate their length are read
// up to the end of the file; DeclaredDataBytes() against DataBytes() tells how much is missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace velora {

// The 16-byte PCM format block of the "fmt " chunk.
struct PcmFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
};

class WaveInputFile {
public:
    WaveInputFile() = default;
    ~WaveInputFile();
    WaveInputFile(const WaveInputFile&) = delete;
    WaveInputFile& operator=(const WaveInputFile&) = delete;

    // Opens `path` and positions at the first sample. On false, FailureReason() says why.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }
    const std::string& FailureReason() const { return failure_; }

    int SampleRate() const;
    int Channels() const;
    // The sample bytes the file holds, and the size its data chunk claims (for a streamed
    // file, which claims none, the bytes it holds).
    uint64_t DataBytes() const;
    uint64_t DeclaredDataBytes() const;
    const PcmFormat& Format() const { return format_; }

    // Copies up to `bytes` sample bytes; returns 0 at the end of the data.
    size_t Read(void* buffer, size_t bytes);
    // Moves to `position` bytes after the start of the data (clamped to the data).
    bool Seek(uint64_t position);
    uint64_t Position() const { return position_; }

    // Fills the buffers with the LIST/INFO texts INAM (title), IART (artist) and ICMT
    // (comment), each zeroed first and holding at most length - 1 bytes. Leaves the read
    // position where it was. Returns false when the file is not open.
    bool ReadInfoTexts(char* name, size_t nameLength, char* artist, size_t artistLength,
                       char* comment, size_t commentLength);

private:
    bool Fail(const std::string& reason);

    std::FILE* file_ = nullptr;
    std::string failure_;
    PcmFormat format_;
    uint64_t riffEnd_ = 0;    // file offset just past the RIFF form (or the file's end)
    uint64_t dataStart_ = 0;  // file offset of the first sample byte
    uint64_t dataBytes_ = 0;
    uint64_t declaredBytes_ = 0;
    uint64_t position_ = 0;   // relative to dataStart_
};

// Light check used before a full open: a RIFF/WAVE whose "fmt " chunk says linear PCM.
bool IsPcmWaveFile(const std::string& path);

}  // namespace velora

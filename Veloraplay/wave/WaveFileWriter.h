// Writes 16-bit PCM RIFF/WAVE files: "RIFF", size, "WAVE", a 16-byte "fmt " chunk and one
// "data" chunk. Sizes are patched at the end when the output can seek; a stream that
// cannot (a pipe) gets the largest sizes, as streaming readers expect.
#pragma once

#include <cstdint>
#include <cstdio>

namespace veloraplay {

class WaveFileWriter {
public:
    // Writes the header. `out` stays owned by the caller.
    bool Begin(std::FILE* out, int channels, int sampleRate);
    // Appends interleaved samples (native order in, little-endian out).
    bool Append(const int16_t* samples, size_t count);
    // Patches the RIFF and data sizes; the caller then closes the file.
    bool Finish();

    uint64_t DataBytes() const { return dataBytes_; }
    int Channels() const { return channels_; }
    int SampleRate() const { return sampleRate_; }

private:
    std::FILE* out_ = nullptr;
    int channels_ = 0;
    int sampleRate_ = 0;
    uint64_t dataBytes_ = 0;
    bool seekable_ = false;
};

}  // namespace veloraplay

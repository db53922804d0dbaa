// What `velora decode --raw` and `--float` write: headerless 16-bit little-endian samples
// (as mpg123 -s), a 32-bit float WAVE file (format 3, with its "fact" chunk), or with both
// headerless 32-bit little-endian floats. Floats are the decoder's 16-bit samples / 32768.
// Sizes are patched at the end when the output can seek, else left at their largest, as
// streaming readers expect.
#pragma once

#include <cstdint>
#include <cstdio>

#include "DecodeJob.h"

namespace veloraplay {

class PcmOutput final : public DecodeSink {
  public:
    PcmOutput(std::FILE* out, bool header, bool floats) : out_(out), header_(header), floats_(floats) {}
    bool Open(int channels, int sampleRate) override;
    bool Write(const int16_t* samples, size_t count) override;
    bool Finish() override;

  private:
    bool WriteHeader(uint32_t dataBytes);

    std::FILE* out_;
    bool header_;
    bool floats_;
    int channels_ = 0;
    int rate_ = 0;
    uint64_t dataBytes_ = 0;
    bool seekable_ = false;
};

}  // namespace veloraplay

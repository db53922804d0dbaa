// Where the audio of a compressed file lies, read before decoding starts: past an ID3v2 tag
// and the VBR header frame, before the tags at the end; what the header records (length, seek
// table, encoder delay and padding); and, on a seekable input, the most channels any frame
// header names (a stream may turn from mono to stereo).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "StreamInfo.h"

namespace velora {
class FrameHeaderScan;
class Veloradecoder;
}  // namespace velora

namespace veloraplay {

struct StreamLayout {
    bool seekable = false;
    uint64_t fileSize = 0;     // seekable: the whole file
    uint64_t audioStart = 0;   // seekable: after any ID3v2 tag
    uint64_t decodeStart = 0;  // seekable: the first byte the decoder gets
    uint64_t audioEnd = 0;     // seekable: the end of the audio, before any tags
    std::vector<uint8_t> lead; // not seekable: bytes read ahead that the decoder gets first
    int maxChannels = 0;       // seekable: the most channels of any frame
    std::unique_ptr<velora::StreamInfo> info;
    bool analysed = false;     // info holds what the first frames said
};

// Reads the layout and leaves `in` where decoding starts; false with `error` on a read error.
bool PrepareInput(std::FILE* in, StreamLayout& layout, std::string& error);

// The samples per channel to leave out at the start, and where the encoded signal ends
// (-1: unknown), counted in decoded samples after the header frame. `outputPerFrame` is a
// decoded frame's length per channel, `velora` whether the stream carries the SBR layer.
void GaplessRange(const velora::StreamInfo& info, int outputPerFrame, bool velora,
                  long long* begin, long long* end);

// Keeps a decoder's input topped up from the file, up to the end of the audio: first what was
// read ahead of a pipe, then pieces of 4096 bytes.
class DecoderInput {
  public:
    DecoderInput(std::FILE* in, const StreamLayout& layout);
    // Every piece read from now on (and what was read ahead) also goes to `scan`.
    void watch(velora::FrameHeaderScan* scan);
    // Feeds the decoder until it is full or the input has ended (then it is told so); false
    // on a read error.
    bool topUp(velora::Veloradecoder& decoder);
    // Goes on from the file position `offset` of a seekable input, dropping what is buffered.
    bool restartAt(uint64_t offset);
    // The file position up to which the input has been read.
    uint64_t position() const { return position_; }

  private:
    std::FILE* in_;
    uint64_t audioEnd_;
    std::vector<uint8_t> piece_;
    size_t fill_ = 0;
    size_t used_ = 0;
    bool ended_ = false;
    uint64_t position_ = 0;
    uint64_t budget_ = 0;  // bytes of audio left to read
    velora::FrameHeaderScan* scan_ = nullptr;
};

// Reads up to `n` bytes, retrying short reads of a pipe; fewer only at the end or on error.
size_t ReadFully(std::FILE* in, uint8_t* to, size_t n);

}  // namespace veloraplay

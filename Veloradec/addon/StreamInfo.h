// Stream analysis before playback: what the first block of a file says about the whole
// stream (format record, duration, average bit rate, VBR header, Velora or plain mp3), and
// the byte position to seek to for a time or a percentage.
#pragma once

#include <cstdint>

namespace velora {

// The Layer III stream description of a WAVE format record (format tag 85), field by field.
struct Mpeglayer3WaveFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0;  // bytes that follow the common part: 12
    uint16_t id = 0;
    uint32_t flags = 0;
    uint16_t blockSize = 0;
    uint16_t framesPerBlock = 0;
    uint16_t codecDelay = 0;
};

constexpr uint16_t kMp3FormatTag = 85;
constexpr uint16_t kMp3FormatExtraSize = 12;
constexpr uint16_t kMp3FormatIdMpeg = 1;
constexpr uint32_t kMp3FlagPaddingOn = 0x1;
constexpr uint32_t kMp3FlagPaddingOff = 0x2;
constexpr uint32_t kMp3FlagPrivateOn = 0x10;
constexpr uint32_t kMp3FlagPrivateOff = 0x20;
constexpr uint32_t kMp3FlagVariableBitrate = 0x100;

// A Xing header ("Info" in a constant-bit-rate stream): the tag, a flag word, then only the
// fields its flags name, then possibly the encoder's extension with its delay and padding.
struct XingData {
    static constexpr uint32_t kFlagFrames = 1;
    static constexpr uint32_t kFlagBytes = 2;
    static constexpr uint32_t kFlagToc = 4;
    static constexpr uint32_t kFlagQuality = 8;
    static constexpr int kTocSize = 100;

    uint32_t flags = 0;
    uint32_t frames = 0;
    uint32_t bytes = 0;
    uint8_t toc[kTocSize] = {};  // toc[i]: position at i percent, in 1/256 of the bytes
    uint32_t quality = 0;
    bool constantBitrate = false;  // tagged "Info"
    // The encoder's extension after the fields: samples it added before the signal and after
    // it (12 bits each), in samples of the stream's rate.
    bool encoderInfo = false;
    uint16_t encoderDelay = 0;
    uint16_t encoderPadding = 0;
};

// A VBRI header with its table turned into cumulative byte positions.
struct VbriData {
    // Tables with more entries than this are not read (the counts still are).
    static constexpr int kMaxEntries = 2048;

    uint16_t version = 0;
    uint16_t delay = 0;
    uint16_t quality = 0;
    uint32_t bytes = 0;
    uint32_t frames = 0;
    uint16_t tocEntries = 0;
    uint16_t scale = 0;
    uint16_t entrySize = 0;
    uint16_t framesPerEntry = 0;
    // table[0] = 0, table[i + 1] = table[i] + entry i x scale; tocEntries + 1 values once
    // the table was read.
    uint32_t table[kMaxEntries + 1] = {};
};

// What a scan of one block found.
struct BlockScan {
    Mpeglayer3WaveFormat format;
    int32_t averageBitrate = 0;  // bit/s
    int32_t channels = 0;
    int32_t samplingRate = 0;
    int32_t frames = 0;          // frames found in the block
    int32_t firstFrameBit = -1;  // bit offset of the first frame in the block
};

class StreamInfo {
  public:
    // Bytes to read from the start of a file for LeadingTagBytes, and from its end for
    // TrailingTagBytes.
    static constexpr int kLeadingTagProbe = 10;
    static constexpr int kTrailingTagProbe = 160;
    // Size of an ID3v2 tag at the start of `head` (header, body and footer), 0 when there
    // is none.
    static uint32_t LeadingTagBytes(const uint8_t* head, int length);
    // Bytes of tags at the end of a file whose last `length` bytes are `tail`: an ID3v1 tag
    // and an APE tag before it (the whole APE tag, though only its footer need be in `tail`).
    static uint32_t TrailingTagBytes(const uint8_t* tail, int length);

    // Clears the record.
    void Init();
    // Scans `block` (the first bytes of the file, `length` of them) for frames and reads a
    // VBR header from the first one; `fileSize` is the size of the whole file. 1 on
    // success, 0 when no frame was found. Only the first 8192 bytes are scanned. An ID3v2
    // tag at the start is skipped; when the block ends inside it, audioStart says where the
    // audio starts and AnalyseAudio takes a block read from there.
    int Analyse(const uint8_t* block, int length, uint32_t fileSize);
    // As Analyse, for a block that holds the file's bytes from `audioStart` on, where
    // `audioBytes` of audio lie (the file without its tags).
    int AnalyseAudio(const uint8_t* block, int length, uint32_t audioStart, uint32_t audioBytes);
    // File position to seek to: audioStart plus a position in the audio, never above
    // audioStart + totalBytes.
    uint32_t PositionForTime(int32_t timeMs) const;
    uint32_t PositionForPercent(float percent) const;

    // The format builder alone. With `nominalBlockSize` a block size of 1 (no repeating
    // frame length) is replaced by the nominal frame size times the frames per block.
    static int ScanBlock(const uint8_t* block, int length, bool nominalBlockSize, BlockScan* scan);

    int32_t averageBitrate = 0;  // bit/s
    int32_t channels = 0;
    int32_t samplingRate = 0;
    int32_t durationMs = 0;
    int32_t vbrHeader = 0;    // a Xing or VBRI header was read
    int32_t framesKnown = 0;  // the header gave the frame count
    int32_t seekTable = 0;    // the header gave a table of contents
    int32_t velora = 0;       // the first decoded frame had the SBR layer active
    int32_t averageBytesPerSecond = 0;
    uint32_t totalBytes = 0;  // bytes the seek positions refer to
    uint32_t audioStart = 0;  // file position of the audio: after an ID3v2 tag
    uint32_t audioBytes = 0;  // the file's bytes without its tags
    int32_t firstFrameBit = -1;  // in the analysed block
    // The first frame is a Xing, Info or VBRI header frame of that many bytes, which holds
    // no audio; 0 otherwise.
    int32_t headerFrameBytes = 0;
    double frameDurationMs = 0.0;
    Mpeglayer3WaveFormat format;
    XingData xing;
    VbriData vbri;

  private:
    void ReadVbrHeader(const uint8_t* block, int length);
    uint32_t PositionAt(double timeMs) const;
    uint32_t PositionAtPercent(double percent) const;
    uint32_t Limited(double position) const;

    bool xingToc_ = false;    // seek through xing.toc
    bool vbriTable_ = false;  // seek through vbri.table
};

}  // namespace velora

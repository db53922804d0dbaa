#include "StreamInfo.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "FieldStatistics.h"
#include "MpegHeader.h"
#include "MpegStream.h"
#include "SequenceDetector.h"
#include "Veloradecoder.h"

namespace velora {
namespace {

// As much as the decoder's input buffer takes, so the probe sees what the scan saw.
constexpr int kScanBytes = 8192;
// NextFrame always makes progress over a block of end-of-data input; this only guards
// against a stream that would not.
constexpr int kMaxScanCalls = 4 * kScanBytes;
// Decode calls the Velora probe may spend reaching its first decoded frame (frames whose
// main data is missing are skipped, sync may need a few tries).
constexpr int kMaxProbeCalls = 32;

constexpr int kVbriOffset = 36;
constexpr int kVbriTableOffset = 62;
constexpr int kXingSize = 120;  // tag, flags, frames, bytes, table of contents, quality
// The encoder's extension after the Xing fields: a 9-byte name, then at offset 21 delay and
// padding in 12 bits each.
constexpr int kEncoderInfoSize = 24;
constexpr int kEncoderDelayOffset = 21;
constexpr int kId3v1Size = 128;
constexpr int kApeFooterSize = 32;

uint32_t Be16(const uint8_t* p) {
    return (uint32_t{p[0]} << 8) | p[1];
}
uint32_t Be32(const uint8_t* p) {
    return (Be16(p) << 16) | Be16(p + 2);
}

// Truncates toward zero; values outside the range saturate, NaN gives 0.
int32_t ToInt32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

uint16_t ToUint16(int64_t value) {
    return static_cast<uint16_t>(std::clamp<int64_t>(value, 0, 0xFFFF));
}

int SamplesPerFrame(int samplingRate) {
    return samplingRate <= 24000 ? 576 : 1152;
}

int32_t FramesDurationMs(uint32_t frames, int samplingRate) {
    if (samplingRate <= 0) return 0;
    const int64_t ms = int64_t{frames} * SamplesPerFrame(samplingRate) * 1000 / samplingRate;
    return static_cast<int32_t>(std::min<int64_t>(ms, std::numeric_limits<int32_t>::max()));
}

// The first frame's header, when the frame starts on a byte boundary (VBR headers are
// byte-aligned); null otherwise.
const uint8_t* AlignedFirstFrame(const uint8_t* block, int length, int32_t firstFrameBit,
                                 int* available, MpegHeader* header) {
    if (firstFrameBit < 0 || firstFrameBit % 8 != 0) return nullptr;
    const int offset = firstFrameBit / 8;
    if (length - offset < 4) return nullptr;
    const uint8_t* frame = block + offset;
    if (!header->Parse(Be32(frame))) return nullptr;
    *available = length - offset;
    return frame;
}

bool HasVbri(const uint8_t* frame, int available) {
    return available > kVbriTableOffset - 1 && std::memcmp(frame + kVbriOffset, "VBRI", 4) == 0 &&
           Be16(frame + kVbriOffset + 4) == 1;
}

// Offset of the Xing tag after the side information.
int XingOffset(const MpegHeader& header) {
    if (header.version == 0) return header.channels == 2 ? 36 : 21;
    // MPEG-2 and MPEG-2.5 share the side information's size; encoders tag both.
    return header.channels == 2 ? 21 : 13;
}

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Reads the Xing header of the frame; false when there is none or it is cut short.
bool ReadXing(const uint8_t* frame, int available, const MpegHeader& header, XingData* xing) {
    const int offset = XingOffset(header);
    if (offset == 0 || available < offset + kXingSize) return false;
    const uint8_t* p = frame + offset;
    const bool info = std::memcmp(p, "Info", 4) == 0;
    if (!info && std::memcmp(p, "Xing", 4) != 0) return false;
    *xing = XingData{};
    xing->constantBitrate = info;
    xing->flags = Be32(p + 4);
    p += 8;
    if (xing->flags & XingData::kFlagFrames) {
        xing->frames = Be32(p);
        p += 4;
    }
    if (xing->flags & XingData::kFlagBytes) {
        xing->bytes = Be32(p);
        p += 4;
    }
    if (xing->flags & XingData::kFlagToc) {
        std::memcpy(xing->toc, p, XingData::kTocSize);
        p += XingData::kTocSize;
    }
    if (xing->flags & XingData::kFlagQuality) {
        xing->quality = Be32(p);
        p += 4;
    }
    // The extension lies inside the frame, and its name is text.
    const int end = std::min(available, header.frameBits / 8);
    if (p + kEncoderInfoSize <= frame + end &&
        std::all_of(p, p + 4, [](uint8_t c) { return c >= 0x20 && c < 0x7F; })) {
        const uint8_t* d = p + kEncoderDelayOffset;
        xing->encoderInfo = true;
        xing->encoderDelay = static_cast<uint16_t>(d[0] << 4 | d[1] >> 4);
        xing->encoderPadding = static_cast<uint16_t>((d[1] & 0x0F) << 8 | d[2]);
    }
    return true;
}

// Frame and byte counts of a VBRI or a Xing header (with both counts) in the first frame.
bool HeaderCounts(const uint8_t* frame, int available, const MpegHeader& header, uint32_t* frames,
                  uint32_t* bytes, bool* constant) {
    *constant = false;
    if (HasVbri(frame, available)) {
        *bytes = Be32(frame + kVbriOffset + 10);
        *frames = Be32(frame + kVbriOffset + 14);
        return true;
    }
    XingData xing;
    constexpr uint32_t kBoth = XingData::kFlagFrames | XingData::kFlagBytes;
    if (!ReadXing(frame, available, header, &xing) || (xing.flags & kBoth) != kBoth) return false;
    *frames = xing.frames;
    *bytes = xing.bytes;
    *constant = xing.constantBitrate;
    return true;
}

}  // namespace

uint32_t StreamInfo::LeadingTagBytes(const uint8_t* head, int length) {
    if (head == nullptr || length < kLeadingTagProbe || std::memcmp(head, "ID3", 3) != 0) return 0;
    // Version and revision are never 0xFF, the size bytes are 7-bit.
    if (head[3] == 0xFF || head[4] == 0xFF) return 0;
    if ((head[6] | head[7] | head[8] | head[9]) & 0x80) return 0;
    const uint32_t body = uint32_t{head[6]} << 21 | uint32_t{head[7]} << 14 |
                          uint32_t{head[8]} << 7 | uint32_t{head[9]};
    const bool footer = (head[5] & 0x10) != 0;
    return 10 + body + (footer ? 10 : 0);
}

uint32_t StreamInfo::TrailingTagBytes(const uint8_t* tail, int length) {
    if (tail == nullptr || length <= 0) return 0;
    uint32_t bytes = 0;
    if (length >= kId3v1Size && std::memcmp(tail + length - kId3v1Size, "TAG", 3) == 0) {
        bytes = kId3v1Size;
    }
    const int footer = length - static_cast<int>(bytes) - kApeFooterSize;
    if (footer >= 0 && std::memcmp(tail + footer, "APETAGEX", 8) == 0) {
        // The size counts items and footer; a header of the same size precedes them when
        // the flags (bit 31) say so.
        const uint64_t size = Le32(tail + footer + 12);
        const bool header = (Le32(tail + footer + 20) & 0x80000000u) != 0;
        const uint64_t ape = size + (header ? kApeFooterSize : 0);
        if (size >= kApeFooterSize && ape < 0x7FFFFFFFu) bytes += static_cast<uint32_t>(ape);
    }
    return bytes;
}

void StreamInfo::Init() {
    *this = StreamInfo{};
}

int StreamInfo::ScanBlock(const uint8_t* block, int length, bool nominalBlockSize,
                          BlockScan* scan) {
    if (scan == nullptr) return 0;
    *scan = BlockScan{};
    if (block == nullptr || length <= 0) return 0;

    const int fed = std::min(length, kScanBytes);
    std::array<uint8_t, kScanBytes> storage{};
    MpegStream stream;
    stream.Init(storage.data(), fed);
    stream.Feed(block, fed);
    stream.SetEndOfData();

    FieldStatistics channels, rates, bitrates, padding, privateBit;
    SequenceDetector frameBits, bitrateSequence;
    int32_t firstFrameBit = -1;
    for (int call = 0; call < kMaxScanCalls; ++call) {
        const Mp3Ssc status = stream.NextFrame();
        if (status == kSscSyncEof) break;
        if (SscIsError(status)) return 0;
        if (status != kSscSuccess) continue;  // sync lost: the next call searches again
        const MpegHeader& header = stream.Header();
        if (firstFrameBit < 0) firstFrameBit = static_cast<int32_t>(stream.Buffer().ReadPosition());
        channels.Add(header.channels);
        rates.Add(header.samplingRate);
        bitrates.Add(header.bitrate);
        padding.Add(header.padding);
        privateBit.Add(header.privateBit);
        frameBits.Add(header.frameBits);
        bitrateSequence.Add(header.bitrate);
        stream.Buffer().Skip(header.frameBits);
    }
    if (channels.count == 0) return 0;

    // A repeating frame-length pattern (constant length, or padding alternating within a
    // few frames) makes a block of whole frames of constant size.
    int64_t blockSize = 1;
    int framesPerBlock = 1;
    if (frameBits.Period() > 0) {
        blockSize = frameBits.PeriodSum() / 8;
        framesPerBlock = frameBits.Period();
    }

    uint32_t flags = 0;
    if (padding.allEqual) flags |= padding.first != 0 ? kMp3FlagPaddingOn : kMp3FlagPaddingOff;
    if (privateBit.allEqual) {
        flags |= privateBit.first != 0 ? kMp3FlagPrivateOn : kMp3FlagPrivateOff;
    }
    const int bitratePeriod = bitrateSequence.Period();
    if (bitratePeriod == 0) flags |= kMp3FlagVariableBitrate;

    int32_t averageBitrate = bitratePeriod > 0
                                 ? static_cast<int32_t>(bitrateSequence.PeriodSum() / bitratePeriod)
                                 : bitrates.Mean();
    const int32_t samplingRate = rates.Mean();

    // Counts of a VBR header describe the whole stream better than the frames of one block.
    MpegHeader firstHeader;
    int available = 0;
    if (const uint8_t* frame =
            AlignedFirstFrame(block, length, firstFrameBit, &available, &firstHeader)) {
        uint32_t frames = 0;
        uint32_t bytes = 0;
        bool constant = false;
        // A constant bit rate ("Info") is the frames' own.
        if (HeaderCounts(frame, available, firstHeader, &frames, &bytes, &constant) && !constant &&
            frames > 0 && bytes > 0 && samplingRate > 0) {
            const double seconds = static_cast<double>(frames) * SamplesPerFrame(samplingRate) /
                                   static_cast<double>(samplingRate);
            averageBitrate = ToInt32(static_cast<double>(bytes) * 8.0 / seconds);
            flags |= kMp3FlagVariableBitrate;
        }
    }

    if (nominalBlockSize && blockSize == 1 && samplingRate > 0) {
        const double perFrame = samplingRate <= 24000 ? 72.0 : 144.0;
        const double nominal =
            static_cast<double>(averageBitrate) / static_cast<double>(samplingRate) * perFrame;
        blockSize = int64_t{ToInt32(nominal)} * framesPerBlock;
    }

    Mpeglayer3WaveFormat& format = scan->format;
    format.formatTag = kMp3FormatTag;
    format.channels = ToUint16(channels.Mean());
    format.samplesPerSec = static_cast<uint32_t>(std::max(samplingRate, 0));
    format.avgBytesPerSec = static_cast<uint32_t>(std::max(averageBitrate / 8, 0));
    format.blockAlign = 1;
    format.bitsPerSample = 0;
    format.extraSize = kMp3FormatExtraSize;
    format.id = kMp3FormatIdMpeg;
    format.flags = flags;
    format.blockSize = ToUint16(blockSize);
    format.framesPerBlock = ToUint16(framesPerBlock);
    format.codecDelay = 0;

    scan->averageBitrate = averageBitrate;
    scan->channels = channels.Mean();
    scan->samplingRate = samplingRate;
    scan->frames = channels.count;
    scan->firstFrameBit = firstFrameBit;
    return 1;
}

void StreamInfo::ReadVbrHeader(const uint8_t* block, int length) {
    MpegHeader header;
    int available = 0;
    const uint8_t* frame = AlignedFirstFrame(block, length, firstFrameBit, &available, &header);
    if (frame == nullptr) return;

    uint32_t frames = 0;
    if (HasVbri(frame, available)) {
        const uint8_t* p = frame + kVbriOffset;
        vbri = VbriData{};
        vbri.version = static_cast<uint16_t>(Be16(p + 4));
        vbri.delay = static_cast<uint16_t>(Be16(p + 6));
        vbri.quality = static_cast<uint16_t>(Be16(p + 8));
        vbri.bytes = Be32(p + 10);
        vbri.frames = Be32(p + 14);
        vbri.tocEntries = static_cast<uint16_t>(Be16(p + 18));
        vbri.scale = static_cast<uint16_t>(Be16(p + 20));
        vbri.entrySize = static_cast<uint16_t>(Be16(p + 22));
        vbri.framesPerEntry = static_cast<uint16_t>(Be16(p + 24));

        const int entries = vbri.tocEntries;
        const int size = vbri.entrySize;
        // Entries wider than 32 bits, or without frames to spread a position over, make no
        // usable table.
        if (entries <= VbriData::kMaxEntries && size >= 1 && size <= 4 && vbri.framesPerEntry > 0 &&
            entries * size + kVbriTableOffset <= available) {
            const uint8_t* entry = frame + kVbriTableOffset;
            uint64_t position = 0;
            vbri.table[0] = 0;
            for (int i = 0; i < entries; ++i, entry += size) {
                uint32_t value = 0;
                for (int b = 0; b < size; ++b) value = (value << 8) | entry[b];
                position = std::min<uint64_t>(position + uint64_t{value} * vbri.scale, 0xFFFFFFFFu);
                vbri.table[i + 1] = static_cast<uint32_t>(position);
            }
            vbriTable_ = true;
            seekTable = 1;
        }
        vbrHeader = 1;
        headerFrameBytes = header.frameBits / 8;
        frames = vbri.frames;
        if (vbri.bytes > 0) totalBytes = vbri.bytes;
    } else {
        XingData read;
        if (!ReadXing(frame, available, header, &read)) return;
        xing = read;
        vbrHeader = 1;
        headerFrameBytes = header.frameBits / 8;
        if (xing.flags & XingData::kFlagFrames) frames = xing.frames;
        if ((xing.flags & XingData::kFlagBytes) && xing.bytes > 0) totalBytes = xing.bytes;
        if (xing.flags & XingData::kFlagToc) {
            xingToc_ = true;
            seekTable = 1;
        }
    }

    // A frame count of 0 says nothing; the estimate from the file size stands.
    if (frames > 0) {
        framesKnown = 1;
        durationMs = FramesDurationMs(frames, samplingRate);
        if (durationMs > 0 && !xing.constantBitrate) {
            averageBitrate = ToInt32(8.0 * static_cast<double>(totalBytes) /
                                     (0.001 * static_cast<double>(durationMs)));
        }
    }
    averageBytesPerSecond = averageBitrate / 8;
}

int StreamInfo::Analyse(const uint8_t* block, int length, uint32_t fileSize) {
    const uint32_t tag = LeadingTagBytes(block, length);
    if (tag == 0) return AnalyseAudio(block, length, 0, fileSize);
    if (tag >= static_cast<uint32_t>(length)) {
        Init();
        audioStart = tag;
        audioBytes = fileSize > tag ? fileSize - tag : 0;
        return 0;
    }
    return AnalyseAudio(block + tag, length - static_cast<int>(tag), tag,
                        fileSize > tag ? fileSize - tag : 0);
}

int StreamInfo::AnalyseAudio(const uint8_t* block, int length, uint32_t start, uint32_t bytes) {
    Init();
    audioStart = start;
    audioBytes = bytes;
    BlockScan scan;
    if (!ScanBlock(block, length, false, &scan)) return 0;

    format = scan.format;
    averageBitrate = scan.averageBitrate;
    channels = scan.channels;
    samplingRate = scan.samplingRate;
    firstFrameBit = scan.firstFrameBit;
    totalBytes = bytes;

    if (averageBitrate > 0) {
        durationMs = ToInt32(static_cast<double>(bytes) /
                             (static_cast<double>(averageBitrate) * 0.125) * 1000.0);
    }
    if (samplingRate > 0) {
        frameDurationMs = SamplesPerFrame(samplingRate) * 1000.0 / samplingRate;
    }
    averageBytesPerSecond = averageBitrate / 8;

    ReadVbrHeader(block, length);

    // One frame through a decoder of its own tells whether the stream carries the SBR layer;
    // a header frame holds no audio and is not decoded.
    VeloradecoderPtr probe(Veloradecoder::Create(0, false, false));
    if (probe) {
        int offset = firstFrameBit / 8;
        if (length - (offset + headerFrameBytes) >= 4) offset += headerFrameBytes;
        probe->Feed(block + offset, length - offset);
        probe->SetEndOfData();
        std::array<int16_t, kMaxFrameSamples> pcm{};
        for (int call = 0; call < kMaxProbeCalls; ++call) {
            int written = 0;
            const Mp3Ssc status =
                probe->Decode(pcm.data(), static_cast<int>(pcm.size() * sizeof(int16_t)), &written,
                              true, nullptr, nullptr);
            if (SscSucceeded(status)) {
                velora = probe->Info().sbrActive != 0 ? 1 : 0;
                break;
            }
            if (SscIsError(status) || status == kSscSyncEof) break;
        }
    }
    return 1;
}

uint32_t StreamInfo::Limited(double position) const {
    if (!(position > 0.0)) return 0;
    if (position >= static_cast<double>(totalBytes)) return totalBytes;
    return static_cast<uint32_t>(position);
}

uint32_t StreamInfo::PositionForTime(int32_t timeMs) const {
    return audioStart + PositionAt(static_cast<double>(timeMs));
}

uint32_t StreamInfo::PositionForPercent(float percent) const {
    return audioStart + PositionAtPercent(static_cast<double>(percent));
}

uint32_t StreamInfo::PositionAt(double timeMs) const {
    const double duration = static_cast<double>(std::max(durationMs, 0));
    const double t = timeMs > 0.0 ? std::min(timeMs, duration) : 0.0;  // NaN gives 0
    if (xingToc_) return PositionAtPercent(duration > 0.0 ? 100.0 * t / duration : 0.0);

    const double frame = frameDurationMs > 0.0 ? t / frameDurationMs : 0.0;
    if (vbriTable_) {
        const double perEntry = static_cast<double>(vbri.framesPerEntry);
        const int entry = static_cast<int>(
            std::min(std::floor(frame / perEntry), static_cast<double>(vbri.tocEntries)));
        const double from = static_cast<double>(vbri.table[entry]);
        const double to = entry < vbri.tocEntries ? static_cast<double>(vbri.table[entry + 1])
                                                  : static_cast<double>(totalBytes);
        const double fraction = (frame - entry * perEntry) / perEntry;
        return Limited(from + (to - from) * fraction);
    }
    if (format.blockSize > 1 && format.framesPerBlock != 0) {
        return Limited(format.blockSize * std::floor(frame / format.framesPerBlock));
    }
    return Limited(t * 0.001 * averageBytesPerSecond);
}

uint32_t StreamInfo::PositionAtPercent(double percent) const {
    const double p = percent > 0.0 ? std::min(percent, 100.0) : 0.0;  // NaN gives 0
    if (xingToc_) {
        const int i = std::min(static_cast<int>(p), XingData::kTocSize - 1);
        const double a = xing.toc[i];
        const double b = i < XingData::kTocSize - 1 ? xing.toc[i + 1] : 256.0;
        return Limited((a + (b - a) * (p - i)) / 256.0 * static_cast<double>(totalBytes));
    }
    return PositionAt(p * 0.01 * static_cast<double>(std::max(durationMs, 0)));
}

}  // namespace velora

#include "StreamInfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace velora {
namespace {

// Layer III bit rates (kbit/s) and sampling rates, for building frames and for the
// reference header parser.
constexpr int kKbps[2][15] = {
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};
constexpr int kHz[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

struct FrameParams {
    int version = 0;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int bitrateIndex = 9;
    int samplingIndex = 0;
    int padding = 0;
    int mode = 0;  // 3 = single channel
    int privateBit = 0;
};

FrameParams Params(int version, int bitrateIndex, int samplingIndex, int mode = 0) {
    FrameParams s;
    s.version = version;
    s.bitrateIndex = bitrateIndex;
    s.samplingIndex = samplingIndex;
    s.mode = mode;
    return s;
}

uint32_t HeaderWord(const FrameParams& s) {
    const uint32_t ext = s.version == 2 ? 0u : 1u;
    const uint32_t id = s.version == 0 ? 1u : 0u;
    return 0xFFE00000u | ext << 20 | id << 19 | 1u << 17 | 1u << 16 |
           static_cast<uint32_t>(s.bitrateIndex) << 12 |
           static_cast<uint32_t>(s.samplingIndex) << 10 | static_cast<uint32_t>(s.padding) << 9 |
           static_cast<uint32_t>(s.privateBit) << 8 | static_cast<uint32_t>(s.mode) << 6;
}

int Bitrate(const FrameParams& s) {
    return kKbps[s.version == 0 ? 0 : 1][s.bitrateIndex] * 1000;
}
int Rate(const FrameParams& s) {
    return kHz[s.version][s.samplingIndex];
}
int Samples(const FrameParams& s) {
    return s.version == 0 ? 1152 : 576;
}
int FrameBytes(const FrameParams& s) {
    return Samples(s) / 8 * Bitrate(s) / Rate(s) + s.padding;
}

// Writes big-endian values into an existing byte vector from a position on; never grows
// it, so a field that would not fit is a test-construction error.
class ByteWriter {
  public:
    ByteWriter(std::vector<uint8_t>& out, std::size_t at) : out_(out), pos_(at) {}
    ByteWriter& Uint(uint32_t value, int bytes) {
        for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
            Byte(static_cast<uint8_t>(value >> shift));
        }
        return *this;
    }
    ByteWriter& U16(uint32_t value) { return Uint(value, 2); }
    ByteWriter& U32(uint32_t value) { return Uint(value, 4); }
    ByteWriter& Text(const char* text) {
        for (; *text != '\0'; ++text) Byte(static_cast<uint8_t>(*text));
        return *this;
    }
    ByteWriter& Bytes(const uint8_t* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) Byte(bytes[i]);
        return *this;
    }
    bool Fits() const { return fits_; }

  private:
    void Byte(uint8_t b) {
        if (pos_ < out_.size()) {
            out_[pos_] = b;
        } else {
            fits_ = false;
        }
        ++pos_;
    }
    std::vector<uint8_t>& out_;
    std::size_t pos_;
    bool fits_ = true;
};

// A Layer III frame: header, zero side information (no main data used), zero filler.
std::vector<uint8_t> Frame(const FrameParams& s) {
    std::vector<uint8_t> frame(static_cast<std::size_t>(FrameBytes(s)), 0);
    ByteWriter(frame, 0).U32(HeaderWord(s));
    return frame;
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> Frames(const FrameParams& s, int count) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) Append(out, Frame(s));
    return out;
}

// Frames whose padding bits follow `padding` cyclically.
std::vector<uint8_t> PaddedFrames(FrameParams s, const std::vector<int>& padding, int count) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) {
        s.padding = padding[static_cast<std::size_t>(i) % padding.size()];
        Append(out, Frame(s));
    }
    return out;
}

struct XingFields {
    uint32_t flags = 0;
    uint32_t frames = 0;
    uint32_t bytes = 0;
    std::array<uint8_t, 100> toc{};
    uint32_t quality = 0;
};

std::vector<uint8_t> XingFrame(const FrameParams& s, std::size_t offset, const XingFields& x) {
    std::vector<uint8_t> frame = Frame(s);
    ByteWriter w(frame, offset);
    w.Text("Xing").U32(x.flags);
    if (x.flags & 1) w.U32(x.frames);
    if (x.flags & 2) w.U32(x.bytes);
    if (x.flags & 4) w.Bytes(x.toc.data(), x.toc.size());
    if (x.flags & 8) w.U32(x.quality);
    EXPECT_TRUE(w.Fits());
    return frame;
}

struct VbriFields {
    uint16_t version = 1;
    uint16_t delay = 1152;
    uint16_t quality = 75;
    uint32_t bytes = 0;
    uint32_t frames = 0;
    uint16_t scale = 1;
    uint16_t entrySize = 2;
    uint16_t framesPerEntry = 1;
    std::vector<uint32_t> entries;
};

std::vector<uint8_t> VbriFrame(const FrameParams& s, const VbriFields& v) {
    std::vector<uint8_t> frame = Frame(s);
    ByteWriter w(frame, 36);
    w.Text("VBRI").U16(v.version).U16(v.delay).U16(v.quality).U32(v.bytes).U32(v.frames);
    w.U16(static_cast<uint32_t>(v.entries.size())).U16(v.scale).U16(v.entrySize);
    w.U16(v.framesPerEntry);
    for (const uint32_t e : v.entries) w.Uint(e, v.entrySize);
    EXPECT_TRUE(w.Fits());
    return frame;
}

// A copy of the first `length` bytes in an allocation of exactly that size, so a read past
// the block is caught by the address sanitizer.
std::unique_ptr<uint8_t[]> Block(const std::vector<uint8_t>& bytes, std::size_t length) {
    auto block = std::make_unique<uint8_t[]>(length);
    for (std::size_t i = 0; i < length && i < bytes.size(); ++i) block[i] = bytes[i];
    return block;
}

StreamInfo Analysed(const std::vector<uint8_t>& bytes, uint32_t fileSize, int* result,
                    std::size_t length = 0) {
    if (length == 0) length = bytes.size();
    const auto block = Block(bytes, length);
    StreamInfo info;
    info.Init();
    *result = info.Analyse(block.get(), static_cast<int>(length), fileSize);
    return info;
}

StreamInfo Analysed(const std::vector<uint8_t>& bytes, uint32_t fileSize) {
    int result = 0;
    StreamInfo info = Analysed(bytes, fileSize, &result);
    EXPECT_EQ(result, 1);
    return info;
}

BlockScan Scanned(const std::vector<uint8_t>& bytes, bool nominal = false) {
    const auto block = Block(bytes, bytes.size());
    BlockScan scan;
    EXPECT_EQ(StreamInfo::ScanBlock(block.get(), static_cast<int>(bytes.size()), nominal, &scan),
              1);
    return scan;
}

// Reference: frames x samples per frame in whole milliseconds.
int32_t FramesMs(int64_t frames, int samplesPerFrame, int rate) {
    return static_cast<int32_t>(frames * samplesPerFrame * 1000 / rate);
}

// ---------------------------------------------------------------------------------------
// The format record.

TEST(addon_Scan, ConstantFramesGiveOneFrameBlocks) {
    const FrameParams s = Params(0, 9, 0);  // 128 kbit/s, 44100 Hz, stereo
    const BlockScan scan = Scanned(Frames(s, 12));
    const Mpeglayer3WaveFormat& f = scan.format;
    EXPECT_EQ(f.formatTag, 85);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.samplesPerSec, 44100u);
    EXPECT_EQ(f.avgBytesPerSec, 16000u);
    EXPECT_EQ(f.blockAlign, 1);
    EXPECT_EQ(f.bitsPerSample, 0);
    EXPECT_EQ(f.extraSize, 12);
    EXPECT_EQ(f.id, 1);
    EXPECT_EQ(f.flags, kMp3FlagPaddingOff | kMp3FlagPrivateOff);
    EXPECT_EQ(f.blockSize, 417);
    EXPECT_EQ(f.framesPerBlock, 1);
    EXPECT_EQ(f.codecDelay, 0);
    EXPECT_EQ(scan.frames, 12);
    EXPECT_EQ(scan.firstFrameBit, 0);
    EXPECT_EQ(scan.averageBitrate, 128000);
}

TEST(addon_Scan, AlternatingPaddingMakesOnePaddingPeriodABlock) {
    // 417, 418, 417, ... bytes.
    const BlockScan two = Scanned(PaddedFrames(Params(0, 9, 0), {0, 1}, 9));
    EXPECT_EQ(two.format.blockSize, 417 + 418);
    EXPECT_EQ(two.format.framesPerBlock, 2);
    EXPECT_EQ(two.format.flags, kMp3FlagPrivateOff);  // padding varies, bit rate constant
    EXPECT_EQ(two.averageBitrate, 128000);

    const BlockScan three = Scanned(PaddedFrames(Params(0, 9, 0), {0, 0, 1}, 10));
    EXPECT_EQ(three.format.blockSize, 417 + 417 + 418);
    EXPECT_EQ(three.format.framesPerBlock, 3);
}

TEST(addon_Scan, PaddingAndPrivateBitFlags) {
    FrameParams s = Params(0, 9, 0);
    s.padding = 1;
    s.privateBit = 1;
    const BlockScan on = Scanned(Frames(s, 6));
    EXPECT_EQ(on.format.flags, kMp3FlagPaddingOn | kMp3FlagPrivateOn);
    EXPECT_EQ(on.format.blockSize, 418);

    // Private bit varying: neither private flag.
    std::vector<uint8_t> mixed;
    for (int i = 0; i < 6; ++i) {
        s.privateBit = i % 3 == 0 ? 1 : 0;
        Append(mixed, Frame(s));
    }
    EXPECT_EQ(Scanned(mixed).format.flags, kMp3FlagPaddingOn);
}

TEST(addon_Scan, VariableBitRate) {
    // Bit-rate indices 9..13 in a cycle of five: longer than the detector's capacity.
    std::vector<uint8_t> bytes;
    long sum = 0;
    for (int i = 0; i < 10; ++i) {
        const FrameParams s = Params(0, 9 + i % 5, 0);
        sum += Bitrate(s);
        Append(bytes, Frame(s));
    }
    const BlockScan scan = Scanned(bytes);
    EXPECT_EQ(scan.averageBitrate, sum / 10);
    EXPECT_EQ(scan.format.avgBytesPerSec, static_cast<uint32_t>(sum / 10 / 8));
    EXPECT_EQ(scan.format.flags, kMp3FlagPaddingOff | kMp3FlagPrivateOff | kMp3FlagVariableBitrate);
    EXPECT_EQ(scan.format.blockSize, 1);
    EXPECT_EQ(scan.format.framesPerBlock, 1);

    // Asked for, the nominal frame size of the average rate replaces block size 1.
    const BlockScan nominal = Scanned(bytes, true);
    EXPECT_EQ(nominal.format.blockSize,
              static_cast<int>(static_cast<double>(sum / 10) / 44100.0 * 144.0));
    EXPECT_EQ(nominal.format.framesPerBlock, 1);
}

TEST(addon_Scan, PeriodicBitRateIsNotVariable) {
    // 128 and 192 kbit/s alternating: 417 and 626 bytes. Nine frames, so the mean of the
    // frames (156444) is not the mean over a period.
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 9; ++i) Append(bytes, Frame(Params(0, i % 2 == 0 ? 9 : 11, 0)));
    const BlockScan scan = Scanned(bytes);
    EXPECT_EQ(scan.averageBitrate, (128000 + 192000) / 2);
    EXPECT_EQ(scan.format.flags & kMp3FlagVariableBitrate, 0u);
    EXPECT_EQ(scan.format.blockSize, 417 + 626);
    EXPECT_EQ(scan.format.framesPerBlock, 2);
}

TEST(addon_Scan, NominalBlockSizeOnlyReplacesOne) {
    // Padding 0, 1, 1, 1, ...: no repeating frame length within four frames.
    const std::vector<int> padding = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const std::vector<uint8_t> bytes = PaddedFrames(Params(0, 9, 0), padding, 10);
    EXPECT_EQ(Scanned(bytes).format.blockSize, 1);
    EXPECT_EQ(Scanned(bytes, true).format.blockSize, 417);  // 128000 / 44100 x 144
    // Rates up to 24000 Hz use 72: 64 kbit/s at 22050 Hz.
    const std::vector<uint8_t> low = PaddedFrames(Params(1, 8, 0), padding, 10);
    EXPECT_EQ(Scanned(low, true).format.blockSize, 208);
    // A repeating length is kept as it is.
    EXPECT_EQ(Scanned(Frames(Params(0, 9, 0), 5), true).format.blockSize, 417);
}

TEST(addon_Scan, MeanOfChannelsAndRates) {
    const BlockScan mono = Scanned(Frames(Params(1, 8, 2, 3), 8));  // 16000 Hz mono
    EXPECT_EQ(mono.channels, 1);
    EXPECT_EQ(mono.format.channels, 1);
    EXPECT_EQ(mono.samplingRate, 16000);
    EXPECT_EQ(mono.format.samplesPerSec, 16000u);
}

TEST(addon_Scan, FirstFrameOffsetInBits) {
    std::vector<uint8_t> bytes = {0x12, 0x34, 0x00, 0x56, 0x78};
    Append(bytes, Frames(Params(0, 9, 0), 6));
    EXPECT_EQ(Scanned(bytes).firstFrameBit, 5 * 8);

    // Shifted by half a byte.
    const std::vector<uint8_t> aligned = Frames(Params(0, 9, 0), 6);
    std::vector<uint8_t> shifted(aligned.size() + 1, 0);
    for (std::size_t i = 0; i < aligned.size(); ++i) {
        shifted[i] = static_cast<uint8_t>(shifted[i] | (aligned[i] >> 4));
        shifted[i + 1] = static_cast<uint8_t>(aligned[i] << 4);
    }
    EXPECT_EQ(Scanned(shifted).firstFrameBit, 4);
}

TEST(addon_Scan, NoFrame) {
    BlockScan scan;
    EXPECT_EQ(StreamInfo::ScanBlock(nullptr, 100, false, &scan), 0);
    const std::vector<uint8_t> zeros(4096, 0);
    EXPECT_EQ(StreamInfo::ScanBlock(zeros.data(), 0, false, &scan), 0);
    EXPECT_EQ(StreamInfo::ScanBlock(zeros.data(), 4096, false, &scan), 0);
    EXPECT_EQ(scan.firstFrameBit, -1);
    EXPECT_EQ(StreamInfo::ScanBlock(zeros.data(), 4096, false, nullptr), 0);
}

// ---------------------------------------------------------------------------------------
// Duration, bit rate and positions without a VBR header.

TEST(addon_Analyse, ConstantBitRateDurationFromFileSize) {
    const StreamInfo info = Analysed(Frames(Params(0, 9, 0), 9), 4000000);
    EXPECT_EQ(info.durationMs, 250000);
    EXPECT_EQ(info.averageBitrate, 128000);
    EXPECT_EQ(info.averageBytesPerSecond, 16000);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.samplingRate, 44100);
    EXPECT_EQ(info.totalBytes, 4000000u);
    EXPECT_EQ(info.firstFrameBit, 0);
    EXPECT_EQ(info.vbrHeader, 0);
    EXPECT_EQ(info.framesKnown, 0);
    EXPECT_EQ(info.seekTable, 0);
    EXPECT_EQ(info.velora, 0);  // plain mp3
    EXPECT_DOUBLE_EQ(info.frameDurationMs, 1152.0 * 1000.0 / 44100.0);
    EXPECT_EQ(info.format.formatTag, 85);

    // 160 kbit/s MPEG-2, 576 samples per frame.
    const StreamInfo low = Analysed(Frames(Params(1, 14, 1), 9), 300000);  // 24000 Hz
    EXPECT_EQ(low.durationMs, 15000);
    EXPECT_DOUBLE_EQ(low.frameDurationMs, 24.0);
}

TEST(addon_Analyse, NoFrameInTheBlock) {
    int result = -1;
    StreamInfo zeros = Analysed(std::vector<uint8_t>(4096, 0), 1000000, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(zeros.firstFrameBit, -1);
    EXPECT_EQ(zeros.durationMs, 0);
    EXPECT_EQ(zeros.PositionForTime(1000), 0u);
    EXPECT_EQ(zeros.PositionForPercent(50.0f), 0u);

    // Bytes below 0x80 never hold eleven one bits in a row.
    std::vector<uint8_t> noise(4096);
    uint32_t state = 12345;
    for (uint8_t& b : noise) {
        state = state * 1103515245u + 12345u;
        b = static_cast<uint8_t>((state >> 16) & 0x7F);
    }
    Analysed(noise, 4096, &result);
    EXPECT_EQ(result, 0);

    // One frame without a following header is not confirmed.
    Analysed(Frame(Params(0, 9, 0)), 417, &result);
    EXPECT_EQ(result, 0);

    StreamInfo info;
    info.Init();
    EXPECT_EQ(info.Analyse(nullptr, 4096, 4096), 0);
    EXPECT_EQ(info.Analyse(noise.data(), 0, 4096), 0);
    EXPECT_EQ(info.Analyse(noise.data(), -5, 4096), 0);
}

TEST(addon_Analyse, ClearsThePreviousResult) {
    XingFields x;
    x.flags = 7;
    x.frames = 100;
    x.bytes = 50000;
    std::vector<uint8_t> vbr = XingFrame(Params(0, 9, 0), 36, x);
    Append(vbr, Frames(Params(0, 9, 0), 4));

    StreamInfo info;
    info.Init();
    ASSERT_EQ(info.Analyse(vbr.data(), static_cast<int>(vbr.size()), 999999), 1);
    ASSERT_EQ(info.vbrHeader, 1);
    const std::vector<uint8_t> plain = Frames(Params(0, 9, 0), 5);
    ASSERT_EQ(info.Analyse(plain.data(), static_cast<int>(plain.size()), 4000000), 1);
    EXPECT_EQ(info.vbrHeader, 0);
    EXPECT_EQ(info.seekTable, 0);
    EXPECT_EQ(info.framesKnown, 0);
    EXPECT_EQ(info.xing.flags, 0u);
    EXPECT_EQ(info.durationMs, 250000);
    // Seeking follows the frames again, not the old table.
    EXPECT_EQ(info.PositionForPercent(50.0f), info.PositionForTime(125000));
}

TEST(addon_Positions, ConstantFrameLengthStepsByFrames) {
    // 128 kbit/s at 48000 Hz: 384-byte frames of 24 ms.
    const StreamInfo info = Analysed(Frames(Params(0, 9, 1), 8), 384000);
    ASSERT_EQ(info.durationMs, 24000);
    ASSERT_EQ(info.format.blockSize, 384);
    EXPECT_EQ(info.PositionForTime(0), 0u);
    EXPECT_EQ(info.PositionForTime(1000), 384u * 41);  // frame 41.67
    EXPECT_EQ(info.PositionForTime(240), 384u * 10);
    EXPECT_EQ(info.PositionForTime(24000), 384000u);
    EXPECT_EQ(info.PositionForPercent(50.0f), 384u * 500);
    EXPECT_EQ(info.PositionForPercent(25.0f), 384u * 250);
}

TEST(addon_Positions, PaddingPeriodStepsByBlocks) {
    const StreamInfo info = Analysed(PaddedFrames(Params(0, 9, 0), {0, 1}, 9), 4000000);
    ASSERT_EQ(info.format.blockSize, 835);
    ASSERT_EQ(info.format.framesPerBlock, 2);
    const double frameMs = 1152.0 * 1000.0 / 44100.0;
    for (const int32_t t : {0, 1, 26, 53, 1000, 77777, 249999}) {
        const auto blocks = static_cast<uint32_t>(std::floor(t / frameMs / 2.0));
        EXPECT_EQ(info.PositionForTime(t), 835u * blocks) << t;
    }
}

TEST(addon_Positions, WithoutBlocksByByteRate) {
    const std::vector<int> padding = {0, 1, 1, 1, 1, 1, 1, 1, 1};
    const StreamInfo info = Analysed(PaddedFrames(Params(0, 9, 0), padding, 9), 4000000);
    ASSERT_EQ(info.format.blockSize, 1);
    EXPECT_EQ(info.PositionForTime(1000), 16000u);
    EXPECT_EQ(info.PositionForTime(2500), 40000u);
    EXPECT_EQ(info.PositionForTime(250000), 4000000u);
    EXPECT_EQ(info.PositionForPercent(10.0f), 400000u);
}

TEST(addon_Positions, Limits) {
    // 384100 bytes: 24006 ms, whose last whole frame starts at 384000.
    const StreamInfo partial = Analysed(Frames(Params(0, 9, 1), 8), 384100);
    ASSERT_EQ(partial.durationMs, 24006);
    EXPECT_EQ(partial.PositionForTime(24006), 384000u);
    EXPECT_EQ(partial.PositionForTime(30000), 384000u);
    EXPECT_EQ(partial.PositionForPercent(100.0f), 384000u);

    const StreamInfo info = Analysed(Frames(Params(0, 9, 1), 8), 384000);  // 24000 ms
    EXPECT_EQ(info.PositionForTime(24001), 384000u);
    EXPECT_EQ(info.PositionForTime(std::numeric_limits<int32_t>::max()), 384000u);
    EXPECT_EQ(info.PositionForTime(-1), 0u);
    EXPECT_EQ(info.PositionForTime(std::numeric_limits<int32_t>::min()), 0u);
    EXPECT_EQ(info.PositionForPercent(100.0f), 384000u);
    EXPECT_EQ(info.PositionForPercent(100.5f), 384000u);
    EXPECT_EQ(info.PositionForPercent(1e30f), 384000u);
    EXPECT_EQ(info.PositionForPercent(-0.5f), 0u);
    EXPECT_EQ(info.PositionForPercent(-1e30f), 0u);
    EXPECT_EQ(info.PositionForPercent(std::numeric_limits<float>::quiet_NaN()), 0u);
    EXPECT_EQ(info.PositionForPercent(std::numeric_limits<float>::infinity()), 384000u);
}

// ---------------------------------------------------------------------------------------
// Xing headers.

struct XingCase {
    int version;
    int bitrateIndex;
    int mode;
    std::size_t offset;
};

class addon_XingOffset : public ::testing::TestWithParam<XingCase> {};

TEST_P(addon_XingOffset, IsReadAfterTheSideInformation) {
    const XingCase c = GetParam();
    const FrameParams s = Params(c.version, c.bitrateIndex, 0, c.mode);
    XingFields x;
    x.flags = 3;
    x.frames = 500;
    x.bytes = 100000;
    std::vector<uint8_t> bytes = XingFrame(s, c.offset, x);
    Append(bytes, Frames(s, 4));

    const StreamInfo info = Analysed(bytes, 4000000);
    EXPECT_EQ(info.vbrHeader, 1);
    EXPECT_EQ(info.framesKnown, 1);
    EXPECT_EQ(info.seekTable, 0);
    EXPECT_EQ(info.xing.flags, 3u);
    EXPECT_EQ(info.xing.frames, 500u);
    EXPECT_EQ(info.xing.bytes, 100000u);
    EXPECT_EQ(info.totalBytes, 100000u);
    const int32_t duration = FramesMs(500, Samples(s), Rate(s));
    EXPECT_EQ(info.durationMs, duration);
    const auto bitrate = static_cast<int32_t>(8.0 * 100000 / (0.001 * duration));
    EXPECT_EQ(info.averageBitrate, bitrate);
    EXPECT_EQ(info.averageBytesPerSecond, bitrate / 8);
    // The format record takes its rate from the counts too, marked variable.
    const double seconds = 500.0 * Samples(s) / Rate(s);
    EXPECT_EQ(info.format.avgBytesPerSec, static_cast<uint32_t>(800000.0 / seconds) / 8);
    EXPECT_NE(info.format.flags & kMp3FlagVariableBitrate, 0u);

    // The same tag elsewhere in the frame is not a header.
    for (const std::size_t other : {std::size_t{13}, std::size_t{21}, std::size_t{36}}) {
        if (other == c.offset) continue;
        std::vector<uint8_t> misplaced = XingFrame(s, other, x);
        Append(misplaced, Frames(s, 4));
        const StreamInfo none = Analysed(misplaced, 4000000);
        EXPECT_EQ(none.vbrHeader, 0) << other;
        EXPECT_EQ(none.totalBytes, 4000000u);
        EXPECT_EQ(none.format.flags & kMp3FlagVariableBitrate, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, addon_XingOffset,
                         ::testing::Values(XingCase{0, 9, 0, 36},   // MPEG-1 stereo
                                           XingCase{0, 9, 1, 36},   // MPEG-1 joint stereo
                                           XingCase{0, 9, 3, 21},   // MPEG-1 mono
                                           XingCase{1, 8, 0, 21},   // MPEG-2 stereo
                                           XingCase{1, 8, 3, 13}),  // MPEG-2 mono
                         [](const auto& param) { return "at" + std::to_string(param.index); });

TEST(addon_Xing, ReadInMpeg25AfterItsSideInformation) {
    const FrameParams s = Params(2, 8, 0);  // 11025 Hz stereo: the tag at 21
    for (const std::size_t offset : {std::size_t{13}, std::size_t{21}, std::size_t{36}}) {
        XingFields x;
        x.flags = 3;
        x.frames = 10;
        x.bytes = 1000;
        std::vector<uint8_t> bytes = XingFrame(s, offset, x);
        Append(bytes, Frames(s, 3));
        EXPECT_EQ(Analysed(bytes, 100000).vbrHeader, offset == 21 ? 1 : 0) << offset;
    }
}

TEST(addon_Xing, FlagsSelectTheFields) {
    const FrameParams s = Params(0, 9, 1);  // 48000 Hz, 24 ms frames
    XingFields x;
    x.frames = 1000;
    x.bytes = 256000;
    x.quality = 57;
    for (int i = 0; i < 100; ++i) x.toc[static_cast<std::size_t>(i)] = static_cast<uint8_t>(2 * i);

    const auto analyse = [&](uint32_t flags) {
        XingFields f = x;
        f.flags = flags;
        std::vector<uint8_t> bytes = XingFrame(s, 36, f);
        Append(bytes, Frames(s, 4));
        return Analysed(bytes, 3840000);  // 240000 ms at 128 kbit/s
    };

    const StreamInfo none = analyse(0);
    EXPECT_EQ(none.vbrHeader, 1);
    EXPECT_EQ(none.framesKnown, 0);
    EXPECT_EQ(none.seekTable, 0);
    EXPECT_EQ(none.durationMs, 240000);
    EXPECT_EQ(none.totalBytes, 3840000u);

    const StreamInfo frames = analyse(1);
    EXPECT_EQ(frames.framesKnown, 1);
    EXPECT_EQ(frames.durationMs, 24000);
    EXPECT_EQ(frames.totalBytes, 3840000u);
    EXPECT_EQ(frames.averageBitrate, 8 * 3840000 / 24);

    const StreamInfo bytesOnly = analyse(2);
    EXPECT_EQ(bytesOnly.framesKnown, 0);
    EXPECT_EQ(bytesOnly.xing.bytes, 256000u);
    EXPECT_EQ(bytesOnly.totalBytes, 256000u);

    // Without the byte count the table follows the frame count directly.
    const StreamInfo toc = analyse(1 | 4);
    EXPECT_EQ(toc.seekTable, 1);
    EXPECT_EQ(toc.xing.bytes, 0u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(toc.xing.toc[i], 2 * i) << i;

    const StreamInfo all = analyse(15);
    EXPECT_EQ(all.xing.frames, 1000u);
    EXPECT_EQ(all.xing.bytes, 256000u);
    EXPECT_EQ(all.xing.quality, 57u);
    EXPECT_EQ(all.xing.toc[99], 198);
    EXPECT_EQ(all.seekTable, 1);
    EXPECT_EQ(all.framesKnown, 1);

    const StreamInfo quality = analyse(8);
    EXPECT_EQ(quality.xing.quality, 57u);
    EXPECT_EQ(quality.seekTable, 0);
}

TEST(addon_Xing, TableOfContentsPositions) {
    const FrameParams s = Params(0, 9, 1);  // 24 ms frames
    XingFields x;
    x.flags = 15;
    x.frames = 1000;  // 24000 ms
    x.bytes = 256000;
    for (int i = 0; i < 100; ++i) x.toc[static_cast<std::size_t>(i)] = static_cast<uint8_t>(2 * i);
    std::vector<uint8_t> bytes = XingFrame(s, 36, x);
    Append(bytes, Frames(s, 4));
    const StreamInfo info = Analysed(bytes, 5000000);
    ASSERT_EQ(info.durationMs, 24000);
    ASSERT_EQ(info.totalBytes, 256000u);

    // (a + (b - a) x fraction) / 256 x 256000 = 1000 x (a + (b - a) x fraction).
    EXPECT_EQ(info.PositionForPercent(100.0f), 256000u);
    EXPECT_EQ(info.PositionForPercent(0.0f), 0u);
    EXPECT_EQ(info.PositionForPercent(37.0f), 74000u);
    EXPECT_EQ(info.PositionForPercent(37.5f), 75000u);
    EXPECT_EQ(info.PositionForPercent(99.0f), 198000u);
    EXPECT_EQ(info.PositionForPercent(99.5f), 227000u);  // (198 + 256) / 2
    EXPECT_EQ(info.PositionForPercent(150.0f), 256000u);
    EXPECT_EQ(info.PositionForPercent(-20.0f), 0u);

    // Times go through the percentage.
    EXPECT_EQ(info.PositionForTime(9000), 75000u);  // 37.5 %
    EXPECT_EQ(info.PositionForTime(24000), 256000u);
    EXPECT_EQ(info.PositionForTime(1000000), 256000u);
    EXPECT_EQ(info.PositionForTime(-100), 0u);
}

TEST(addon_Xing, TruncatedHeaderIsIgnored) {
    // 32 kbit/s at 48000 Hz: 96-byte frames, so the 120 header bytes from offset 36 run
    // into the next frame and a block can end inside them.
    const FrameParams s = Params(0, 1, 1);
    ASSERT_EQ(FrameBytes(s), 96);
    XingFields x;
    x.flags = 3;
    x.frames = 500;
    x.bytes = 50000;
    std::vector<uint8_t> bytes = XingFrame(s, 36, x);
    Append(bytes, Frames(s, 3));

    int result = 0;
    const StreamInfo cut = Analysed(bytes, 96000, &result, 36 + 119);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(cut.vbrHeader, 0);
    EXPECT_EQ(cut.durationMs, 24000);  // 96000 bytes at 32 kbit/s
    EXPECT_EQ(cut.totalBytes, 96000u);
    EXPECT_EQ(cut.averageBitrate, 32000);
    EXPECT_EQ(cut.format.flags & kMp3FlagVariableBitrate, 0u);

    const StreamInfo whole = Analysed(bytes, 96000, &result, 36 + 120);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(whole.vbrHeader, 1);
    EXPECT_EQ(whole.durationMs, 12000);
    EXPECT_EQ(whole.totalBytes, 50000u);
}

// ---------------------------------------------------------------------------------------
// VBRI headers.

TEST(addon_Vbri, DurationFromTheFrameCount) {
    const FrameParams s = Params(1, 13, 0);  // 144 kbit/s, 22050 Hz: 470-byte header frame
    VbriFields v;
    v.frames = 1000;
    v.bytes = 400000;
    v.delay = 1729;
    v.quality = 60;
    v.scale = 1;
    v.framesPerEntry = 100;
    v.entries = std::vector<uint32_t>(10, 40000);
    std::vector<uint8_t> bytes = VbriFrame(s, v);
    Append(bytes, Frames(s, 4));

    const StreamInfo info = Analysed(bytes, 5000000);
    EXPECT_EQ(info.durationMs, 26122);  // 1000 x 576 / 22050 s, truncated
    EXPECT_EQ(info.vbrHeader, 1);
    EXPECT_EQ(info.framesKnown, 1);
    EXPECT_EQ(info.seekTable, 1);
    EXPECT_EQ(info.totalBytes, 400000u);
    const auto bitrate = static_cast<int32_t>(8.0 * 400000 / (0.001 * 26122));
    EXPECT_EQ(info.averageBitrate, bitrate);
    EXPECT_EQ(info.averageBytesPerSecond, bitrate / 8);
    EXPECT_EQ(info.vbri.version, 1);
    EXPECT_EQ(info.vbri.delay, 1729);
    EXPECT_EQ(info.vbri.quality, 60);
    EXPECT_EQ(info.vbri.frames, 1000u);
    EXPECT_EQ(info.vbri.bytes, 400000u);
    EXPECT_EQ(info.vbri.tocEntries, 10);
    EXPECT_EQ(info.vbri.framesPerEntry, 100);
    EXPECT_EQ(info.vbri.entrySize, 2);
    for (uint32_t i = 0; i <= 10; ++i) EXPECT_EQ(info.vbri.table[i], 40000u * i) << i;
    EXPECT_NE(info.format.flags & kMp3FlagVariableBitrate, 0u);
    EXPECT_EQ(info.format.avgBytesPerSec,
              static_cast<uint32_t>(3200000.0 / (1000.0 * 576 / 22050)) / 8);
}

TEST(addon_Vbri, TableEntrySizesAndScale) {
    const FrameParams s = Params(0, 10, 1);  // 160 kbit/s, 48000 Hz: 480 bytes
    const auto table = [&](uint16_t size, uint16_t scale, std::vector<uint32_t> entries) {
        VbriFields v;
        v.frames = 100;
        v.bytes = 48000;
        v.entrySize = size;
        v.scale = scale;
        v.framesPerEntry = 10;
        v.entries = std::move(entries);
        std::vector<uint8_t> bytes = VbriFrame(s, v);
        Append(bytes, Frames(s, 3));
        const StreamInfo info = Analysed(bytes, 1000000);
        EXPECT_EQ(info.seekTable, 1);
        return std::vector<uint32_t>(info.vbri.table, info.vbri.table + info.vbri.tocEntries + 1);
    };
    EXPECT_EQ(table(1, 10, {1, 2, 3}), (std::vector<uint32_t>{0, 10, 30, 60}));
    EXPECT_EQ(table(3, 1, {0x010203, 5}), (std::vector<uint32_t>{0, 0x010203, 0x010208}));
    EXPECT_EQ(table(4, 2, {0x01020304}), (std::vector<uint32_t>{0, 2 * 0x01020304u}));
    EXPECT_EQ(table(2, 3, {0xFFFF, 1}), (std::vector<uint32_t>{0, 3 * 0xFFFFu, 3 * 0x10000u}));
}

TEST(addon_Vbri, PositionsInterpolateTheTable) {
    const FrameParams s = Params(0, 10, 1);  // 24 ms frames
    VbriFields v;
    v.frames = 30;  // 720 ms
    v.bytes = 5000;
    v.scale = 2;
    v.framesPerEntry = 4;
    v.entries = {100, 200, 300, 400, 500};
    std::vector<uint8_t> bytes = VbriFrame(s, v);
    Append(bytes, Frames(s, 3));
    const StreamInfo info = Analysed(bytes, 99999);
    ASSERT_EQ(info.durationMs, 720);
    ASSERT_EQ(info.seekTable, 1);

    // Reference: cumulative bytes at each group of four frames, the last group ends at
    // the byte count.
    std::vector<double> start = {0};
    for (const uint32_t e : v.entries) start.push_back(start.back() + 2.0 * e);
    const auto reference = [&](double t) {
        const double frame = t / 24.0;
        const auto i = static_cast<std::size_t>(std::min(std::floor(frame / 4.0), 5.0));
        const double to = i < 5 ? start[i + 1] : 5000.0;
        const double position = start[i] + (to - start[i]) * (frame / 4.0 - static_cast<double>(i));
        return static_cast<uint32_t>(std::min(position, 5000.0));
    };
    EXPECT_EQ(info.PositionForTime(0), 0u);
    EXPECT_EQ(info.PositionForTime(12), 25u);              // half a frame: 1/8 of the first entry
    EXPECT_EQ(info.PositionForTime(96), 200u);             // frame 4: start of the second entry
    EXPECT_EQ(info.PositionForTime(240), 900u);            // frame 10: half way through the third
    EXPECT_EQ(info.PositionForTime(500), reference(500));  // past the last entry
    EXPECT_GT(info.PositionForTime(500), 3000u);
    EXPECT_EQ(info.PositionForTime(720), 5000u);
    EXPECT_EQ(info.PositionForTime(100000), 5000u);
    for (int t = 0; t <= 720; t += 7) EXPECT_EQ(info.PositionForTime(t), reference(t)) << t;

    // Percentages go through the time.
    EXPECT_EQ(info.PositionForPercent(50.0f), info.PositionForTime(360));
    EXPECT_EQ(info.PositionForPercent(100.0f), 5000u);
    EXPECT_EQ(info.PositionForPercent(101.0f), 5000u);
    EXPECT_EQ(info.PositionForPercent(-1.0f), 0u);
}

TEST(addon_Vbri, TruncatedFixedPartIsIgnored) {
    // 16 kbit/s MPEG-2 at 22050 Hz mono: 52-byte frames; the 62 fixed bytes of the header
    // run into the next frame.
    const FrameParams s = Params(1, 2, 0, 3);
    ASSERT_EQ(FrameBytes(s), 52);
    std::vector<uint8_t> bytes = Frames(s, 3);
    ByteWriter w(bytes, 36);
    w.Text("VBRI").U16(1).U16(0).U16(0).U32(7777).U16(0);  // up to the next header

    int result = 0;
    const StreamInfo cut = Analysed(bytes, 52000, &result, 61);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(cut.vbrHeader, 0);
    EXPECT_EQ(cut.totalBytes, 52000u);
    EXPECT_EQ(cut.durationMs, 26000);  // 52000 bytes at 16 kbit/s

    const StreamInfo whole = Analysed(bytes, 52000, &result, 62);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(whole.vbrHeader, 1);
    EXPECT_EQ(whole.vbri.bytes, 7777u);
    EXPECT_EQ(whole.totalBytes, 7777u);
}

TEST(addon_Vbri, TableOnlyWhenAllOfItIsInTheBlock) {
    const FrameParams s = Params(0, 10, 1);  // 480-byte frames
    VbriFields v;
    v.frames = 2000;
    v.bytes = 960000;
    v.framesPerEntry = 2;
    std::vector<uint8_t> bytes = VbriFrame(s, v);
    Append(bytes, Frames(s, 5));
    ByteWriter(bytes, 36 + 18).U16(1000);  // 1000 two-byte entries: 62 + 2000 bytes

    int result = 0;
    const StreamInfo cut = Analysed(bytes, 99999, &result, 2061);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(cut.vbrHeader, 1);
    EXPECT_EQ(cut.framesKnown, 1);
    EXPECT_EQ(cut.durationMs, 48000);
    EXPECT_EQ(cut.totalBytes, 960000u);
    EXPECT_EQ(cut.seekTable, 0);
    // Without the table, positions follow the frame blocks.
    EXPECT_EQ(cut.PositionForTime(240), 480u * 10);

    const StreamInfo whole = Analysed(bytes, 99999, &result, 2062);
    EXPECT_EQ(whole.seekTable, 1);
    EXPECT_EQ(whole.vbri.tocEntries, 1000);

    // One-byte entries: 2048 are kept, 2049 are more than the record holds.
    ByteWriter(bytes, 36 + 18).U16(2048).U16(1).U16(1);
    EXPECT_EQ(Analysed(bytes, 99999).seekTable, 1);
    ByteWriter(bytes, 36 + 18).U16(2049);
    const StreamInfo tooMany = Analysed(bytes, 99999);
    EXPECT_EQ(tooMany.vbrHeader, 1);
    EXPECT_EQ(tooMany.seekTable, 0);
    EXPECT_EQ(tooMany.durationMs, 48000);
}

TEST(addon_Vbri, OnlyVersionOne) {
    const FrameParams s = Params(0, 10, 1);
    VbriFields v;
    v.version = 2;
    v.frames = 100;
    v.bytes = 48000;
    std::vector<uint8_t> bytes = VbriFrame(s, v);
    Append(bytes, Frames(s, 3));
    const StreamInfo info = Analysed(bytes, 480000);
    EXPECT_EQ(info.vbrHeader, 0);
    EXPECT_EQ(info.durationMs, 24000);
}

TEST(addon_Vbri, OnlyOnAByteBoundary) {
    VbriFields v;
    v.frames = 100;
    v.bytes = 48000;
    v.entries = {100, 100};
    std::vector<uint8_t> aligned = VbriFrame(Params(0, 10, 1), v);
    Append(aligned, Frames(Params(0, 10, 1), 3));
    std::vector<uint8_t> shifted(aligned.size() + 1, 0);
    for (std::size_t i = 0; i < aligned.size(); ++i) {
        shifted[i] = static_cast<uint8_t>(shifted[i] | (aligned[i] >> 2));
        shifted[i + 1] = static_cast<uint8_t>(aligned[i] << 6);
    }
    ASSERT_EQ(Analysed(aligned, 480000).vbrHeader, 1);
    const StreamInfo info = Analysed(shifted, 480000);
    EXPECT_EQ(info.firstFrameBit, 2);
    EXPECT_EQ(info.vbrHeader, 0);
    EXPECT_EQ(info.durationMs, 24000);
    EXPECT_EQ(info.format.flags & kMp3FlagVariableBitrate, 0u);
}

// ---------------------------------------------------------------------------------------
// Conformance streams: the first 4096 bytes and the file size.

std::string ConformanceDir() {
    return VELORA_SOURCE_DIR "/Veloradec/tests/conformance/";
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

// Reference header parser, independent of the decoder's.
struct RefHeader {
    int version = 0;
    int bitrate = 0;
    int rate = 0;
    int channels = 0;
    int bytes = 0;
    int samples = 0;
};

bool ParseRef(const std::vector<uint8_t>& data, std::size_t at, RefHeader* h) {
    if (at + 4 > data.size()) return false;
    const uint8_t* p = data.data() + at;
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    const int versionBits = (p[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int layerBits = (p[1] >> 1) & 3;    // 1 = Layer III
    const int rateIndex = p[2] >> 4;
    const int freqIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits != 1 || rateIndex == 0 || rateIndex == 15 || freqIndex == 3) {
        return false;
    }
    h->version = versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2;
    h->bitrate = kKbps[h->version == 0 ? 0 : 1][rateIndex] * 1000;
    h->rate = kHz[h->version][freqIndex];
    h->channels = (p[3] >> 6) == 3 ? 1 : 2;
    h->samples = h->version == 0 ? 1152 : 576;
    h->bytes = h->samples / 8 * h->bitrate / h->rate + ((p[2] >> 1) & 1);
    return true;
}

struct RefWalk {
    std::size_t first = 0;
    std::vector<RefHeader> frames;  // complete frames before `limit`
    int started = 0;                // frames starting before the end of the file
};

// The first byte offset where a header is followed by another one at its length.
RefWalk WalkRef(const std::vector<uint8_t>& data, std::size_t limit) {
    RefWalk walk;
    RefHeader h;
    RefHeader next;
    std::size_t at = 0;
    for (; at + 4 <= data.size(); ++at) {
        if (ParseRef(data, at, &h) &&
            ParseRef(data, at + static_cast<std::size_t>(h.bytes), &next) && next.rate == h.rate) {
            break;
        }
    }
    walk.first = at;
    while (ParseRef(data, at, &h)) {
        ++walk.started;
        if (at + static_cast<std::size_t>(h.bytes) <= limit) walk.frames.push_back(h);
        at += static_cast<std::size_t>(h.bytes);
    }
    return walk;
}

class addon_Conformance : public ::testing::TestWithParam<const char*> {};

TEST_P(addon_Conformance, FirstBlockDescribesTheStream) {
    const std::vector<uint8_t> file = ReadFile(ConformanceDir() + GetParam() + ".bit");
    ASSERT_GT(file.size(), 4096u);
    const auto fileSize = static_cast<uint32_t>(file.size());
    const std::vector<uint8_t> head(file.begin(), file.begin() + 4096);
    const RefWalk block = WalkRef(head, 4096);
    const RefWalk whole = WalkRef(file, file.size());
    ASSERT_FALSE(block.frames.empty());
    const RefHeader& first = block.frames.front();

    const StreamInfo info = Analysed(head, fileSize);
    EXPECT_EQ(info.firstFrameBit, static_cast<int32_t>(block.first * 8));
    EXPECT_EQ(info.channels, first.channels);
    EXPECT_EQ(info.samplingRate, first.rate);
    EXPECT_EQ(info.format.channels, first.channels);
    EXPECT_EQ(info.format.samplesPerSec, static_cast<uint32_t>(first.rate));
    EXPECT_EQ(info.vbrHeader, 0);
    EXPECT_EQ(info.velora, 0);  // plain Layer III

    bool constantInBlock = true;
    long long sum = 0;
    for (const RefHeader& h : block.frames) {
        constantInBlock = constantInBlock && h.bitrate == first.bitrate;
        sum += h.bitrate;
    }
    if (constantInBlock) {
        EXPECT_EQ(info.averageBitrate, first.bitrate);
        EXPECT_EQ(info.format.flags & kMp3FlagVariableBitrate, 0u);
    } else {
        // None of these blocks repeats its rates within four frames: the plain mean.
        EXPECT_EQ(info.averageBitrate, sum / static_cast<long long>(block.frames.size()));
        EXPECT_NE(info.format.flags & kMp3FlagVariableBitrate, 0u);
    }
    EXPECT_EQ(info.format.avgBytesPerSec, static_cast<uint32_t>(info.averageBitrate / 8));

    bool constantInFile = true;
    for (const RefHeader& h : whole.frames)
        constantInFile = constantInFile && h.bitrate == first.bitrate;
    if (constantInFile) {
        // Leading junk and a cut last frame are worth less than a frame.
        const double frameMs = first.samples * 1000.0 / first.rate;
        const int32_t expected = FramesMs(whole.started, first.samples, first.rate);
        EXPECT_NEAR(info.durationMs, expected, frameMs + 1.0)
            << whole.started << " frames, " << fileSize << " bytes";
        // Positions step by whole blocks of frames (or bytes per millisecond): the end is
        // at most one block short of the file size.
        const uint32_t step =
            std::max<uint32_t>(info.format.blockSize, static_cast<uint32_t>(first.bytes)) +
            static_cast<uint32_t>(info.averageBytesPerSecond / 1000 + 1);
        EXPECT_LE(info.PositionForPercent(100.0f), fileSize);
        EXPECT_GE(info.PositionForPercent(100.0f), fileSize - step);
        EXPECT_LE(info.PositionForTime(info.durationMs / 2), fileSize / 2 + 1);
        EXPECT_GE(info.PositionForTime(info.durationMs / 2),
                  fileSize / 2 - 4u * static_cast<uint32_t>(first.bytes));
    } else {
        EXPECT_EQ(info.durationMs,
                  static_cast<int32_t>(fileSize / (info.averageBitrate * 0.125) * 1000.0));
    }
}

INSTANTIATE_TEST_SUITE_P(Layer3, addon_Conformance,
                         ::testing::Values("l3-compl", "l3-he_32khz", "l3-he_44khz", "l3-he_48khz",
                                           "l3-he_mode", "l3-hecommon", "l3-si", "l3-si_block",
                                           "l3-si_huff", "l3-sin1k0db", "M2L3_bitrate_16_all",
                                           "M2L3_bitrate_22_all", "M2L3_bitrate_24_all",
                                           "M2L3_compl24", "M2L3_noise", "l3-test45", "l3-test46"),
                         [](const auto& param) {
                             std::string name = param.param;
                             for (char& ch : name) {
                                 if (ch == '-') ch = '_';
                             }
                             return name;
                         });

TEST(addon_ConformanceEdge, FreeFormatHasNoFrame) {
    const std::vector<uint8_t> file = ReadFile(ConformanceDir() + "l3-he_free.bit");
    int result = -1;
    Analysed(std::vector<uint8_t>(file.begin(), file.begin() + 4096),
             static_cast<uint32_t>(file.size()), &result);
    EXPECT_EQ(result, 0);
}

TEST(addon_ConformanceEdge, DamagedAndTaggedFilesStayInsideTheBlock) {
    const std::string dir = ConformanceDir() + "robustness/";
    int analysed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        const std::vector<uint8_t> file = ReadFile(entry.path());
        for (const std::size_t length : {std::size_t{4096}, std::size_t{1000}, std::size_t{61}}) {
            const std::size_t n = std::min(length, file.size());
            if (n == 0) continue;
            int result = -1;
            const StreamInfo info = Analysed(file, static_cast<uint32_t>(file.size()), &result, n);
            ASSERT_TRUE(result == 0 || result == 1) << entry.path();
            if (result == 1) {
                ++analysed;
                EXPECT_TRUE(info.channels == 1 || info.channels == 2) << entry.path();
                EXPECT_GT(info.samplingRate, 0) << entry.path();
                EXPECT_LE(info.PositionForPercent(100.0f), info.totalBytes);
            }
        }
    }
    EXPECT_GT(analysed, 0);
}

}  // namespace
}  // namespace velora

namespace velora {
namespace {

// ---------------------------------------------------------------------------------------
// Tags around the audio, an Info header and its encoder extension.

TEST(addon_Tags, SizesAtTheStartAndTheEnd) {
    struct Lead {
        std::vector<uint8_t> head;
        uint32_t bytes;
    };
    const Lead leads[] = {
        {{'I', 'D', '3', 4, 0, 0, 0, 0, 0x02, 0x01}, 10 + 257},
        {{'I', 'D', '3', 3, 0, 0, 0, 0x12, 0x34, 0x56}, 10 + (0x12 << 14 | 0x34 << 7 | 0x56)},
        {{'I', 'D', '3', 4, 0, 0x10, 0x01, 0, 0, 0}, 10 + (1 << 21) + 10},  // with a footer
        {{'I', 'D', '3', 4, 0, 0, 0, 0, 0x80, 0}, 0},                         // not syncsafe
        {{'I', 'D', '3', 0xFF, 0, 0, 0, 0, 0, 1}, 0},
        {{'I', 'D', '3', 4, 0, 0, 0, 0, 1}, 0},  // too short
        {{0xFF, 0xFB, 0x90, 0x44, 0, 0, 0, 0, 0, 0}, 0},
    };
    for (const Lead& l : leads) {
        EXPECT_EQ(StreamInfo::LeadingTagBytes(l.head.data(), static_cast<int>(l.head.size())), l.bytes)
            << l.head.size();
    }

    const auto Le32 = [](std::vector<uint8_t>& v, uint32_t x) {
        for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
    };
    const auto ApeFooter = [&](uint32_t size, bool withHeader) {
        std::vector<uint8_t> f = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X'};
        Le32(f, 2000);
        Le32(f, size);
        Le32(f, 1);
        Le32(f, withHeader ? 0x80000000u : 0u);
        f.resize(32, 0);
        return f;
    };
    std::vector<uint8_t> id3v1(128, ' ');
    id3v1[0] = 'T';
    id3v1[1] = 'A';
    id3v1[2] = 'G';
    std::vector<uint8_t> audio(400, 0x55);
    struct Tail {
        std::vector<uint8_t> ape;
        bool id3v1;
        uint32_t bytes;
    };
    const Tail tails[] = {
        {{}, false, 0},
        {{}, true, 128},
        {ApeFooter(32 + 100, true), false, 32 + 100 + 32},
        {ApeFooter(32 + 100, false), true, 32 + 100 + 128},
        {ApeFooter(5, false), false, 0},  // smaller than its own footer
    };
    for (const Tail& t : tails) {
        std::vector<uint8_t> bytes = audio;
        bytes.insert(bytes.end(), t.ape.begin(), t.ape.end());
        if (t.id3v1) bytes.insert(bytes.end(), id3v1.begin(), id3v1.end());
        const int probe = std::min<int>(StreamInfo::kTrailingTagProbe, static_cast<int>(bytes.size()));
        EXPECT_EQ(StreamInfo::TrailingTagBytes(bytes.data() + bytes.size() - probe, probe), t.bytes)
            << t.ape.size() << " " << t.id3v1;
    }
}

TEST(addon_Tags, AudioBehindAnId3v2TagIsAnalysed) {
    const FrameParams s = Params(0, 9, 0);  // 128 kbit/s, 44100 Hz
    std::vector<uint8_t> bytes(1024, 0xFF);  // bytes that look like sync
    const uint8_t head[] = {'I', 'D', '3', 4, 0, 0, 0, 0, 0x07, 0x76};  // 1014 bytes follow
    for (std::size_t i = 0; i < sizeof(head); ++i) bytes[i] = head[i];
    Append(bytes, Frames(s, 9));
    int result = 0;
    const StreamInfo info = Analysed(bytes, 1024 + 4000000, &result);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(info.audioStart, 1024u);
    EXPECT_EQ(info.audioBytes, 4000000u);
    EXPECT_EQ(info.firstFrameBit, 0);
    EXPECT_EQ(info.durationMs, 250000);  // the tag is not audio
    // Seek positions are those of the bare stream, moved past the tag.
    const StreamInfo bare = Analysed(Frames(s, 9), 4000000);
    for (const int32_t ms : {0, 1000, 123456, 250000}) {
        EXPECT_EQ(info.PositionForTime(ms), 1024u + bare.PositionForTime(ms)) << ms;
    }
    EXPECT_EQ(info.PositionForPercent(50.0f), 1024u + bare.PositionForPercent(50.0f));
}

TEST(addon_Xing, InfoHeaderWithEncoderExtension) {
    const FrameParams s = Params(0, 9, 0);  // 417-byte frames
    XingFields x;
    x.flags = 15;
    x.frames = 1000;
    x.bytes = 417000;
    std::vector<uint8_t> frame = XingFrame(s, 36, x);
    frame[36] = 'I';
    frame[37] = 'n';
    frame[38] = 'f';
    frame[39] = 'o';
    const std::size_t ext = 36 + 120;
    const char name[] = "LAME3.100";
    std::copy(name, name + 9, frame.begin() + static_cast<std::ptrdiff_t>(ext));
    frame[ext + 21] = 0x24;  // delay 576, padding 1350
    frame[ext + 22] = 0x05;
    frame[ext + 23] = 0x46;
    std::vector<uint8_t> bytes = frame;
    Append(bytes, Frames(s, 4));
    const StreamInfo info = Analysed(bytes, 5 * 417);
    EXPECT_EQ(info.vbrHeader, 1);
    EXPECT_TRUE(info.xing.constantBitrate);
    EXPECT_TRUE(info.xing.encoderInfo);
    EXPECT_EQ(info.xing.encoderDelay, 576);
    EXPECT_EQ(info.xing.encoderPadding, 1350);
    EXPECT_EQ(info.headerFrameBytes, static_cast<int32_t>(frame.size()));
    EXPECT_EQ(info.averageBitrate, 128000);  // a constant rate is the frames' own
    EXPECT_EQ(info.format.flags & kMp3FlagVariableBitrate, 0u);

    // Without a name there is no extension to read.
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(ext), bytes.begin() + static_cast<std::ptrdiff_t>(ext + 9), 0);
    EXPECT_FALSE(Analysed(bytes, 5 * 417).xing.encoderInfo);
}

}  // namespace
}  // namespace velora

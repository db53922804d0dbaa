// Test support: writes complete Layer III frames bit by bit — header, optional CRC, side
// information — with a main-data area filled from caller-given bytes (zero elsewhere).
// The default frame has all-zero granules and decodes as silence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Crc16.h"

namespace velora::test {

// Most significant bit first.
class BitWriter {
  public:
    void Put(uint32_t value, int bits) {
        for (int b = bits - 1; b >= 0; --b) PutBit((value >> b) & 1u);
    }
    void PutBytes(const std::vector<uint8_t>& bytes) {
        for (uint8_t byte : bytes) Put(byte, 8);
    }
    // Zero bits up to the next byte boundary.
    void Align() {
        while (bits_ % 8 != 0) PutBit(0);
    }
    long long BitCount() const { return bits_; }
    // The bytes written so far, the last one padded with zero bits.
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

  private:
    void PutBit(uint32_t bit) {
        if (bits_ % 8 == 0) bytes_.push_back(0);
        if (bit) bytes_.back() = static_cast<uint8_t>(bytes_.back() | (0x80u >> (bits_ % 8)));
        ++bits_;
    }

    std::vector<uint8_t> bytes_;
    long long bits_ = 0;
};

struct GranuleFields {
    int part2_3_length = 0;
    int big_values = 0;
    int global_gain = 0;
    int scalefac_compress = 0;
    int window_switching_flag = 0;
    int block_type = 0;
    int mixed_block_flag = 0;
    int table_select[3] = {};
    int subblock_gain[3] = {};
    int region0_count = 0;
    int region1_count = 0;
    int preflag = 0;
    int scalefac_scale = 0;
    int count1table_select = 0;
};

struct FrameSpec {
    int version = 0;        // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int samplingIndex = 0;  // 44100 / 22050 / 11025 Hz for index 0
    int bitrateIndex = 9;
    int padding = 0;
    int mode = 3;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int modeExtension = 0;
    bool crc = false;
    bool wrongCrc = false;  // store the CRC with one bit flipped
    int mainDataBegin = 0;
    int privateBits = 0;
    int scfsi[2][4] = {};
    GranuleFields granule[2][2];  // [granule][channel]
    // The start of this frame's main-data area; the rest of the area is zero.
    std::vector<uint8_t> mainData;
};

// Standard Layer III bit rates in kbit/s: [0] MPEG-1, [1] MPEG-2 and 2.5.
inline constexpr int kTestBitrates[2][15] = {
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
inline constexpr int kTestSamplingRates[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

inline int ChannelsOf(const FrameSpec& s) {
    return s.mode == 3 ? 1 : 2;
}
inline int SamplesOf(const FrameSpec& s) {
    return s.version == 0 ? 1152 : 576;
}

inline int FrameBytes(const FrameSpec& s) {
    const int kbps = kTestBitrates[s.version == 0 ? 0 : 1][s.bitrateIndex];
    const int rate = kTestSamplingRates[s.version][s.samplingIndex];
    return SamplesOf(s) / 8 * kbps * 1000 / rate + s.padding;
}

inline int SideInfoBytesOf(const FrameSpec& s) {
    if (s.version == 0) return ChannelsOf(s) == 1 ? 17 : 32;
    return ChannelsOf(s) == 1 ? 9 : 17;
}

// Bytes of main data (and ancillary data) the frame itself carries.
inline int MainDataBytes(const FrameSpec& s) {
    return FrameBytes(s) - (s.crc ? 6 : 4) - SideInfoBytesOf(s);
}

inline uint32_t HeaderWord(const FrameSpec& s) {
    const uint32_t ext = s.version == 2 ? 0u : 1u;
    const uint32_t id = s.version == 0 ? 1u : 0u;
    return 0xFFE00000u | ext << 20 | id << 19 | 1u << 17 | (s.crc ? 0u : 1u) << 16 |
           static_cast<uint32_t>(s.bitrateIndex) << 12 |
           static_cast<uint32_t>(s.samplingIndex) << 10 | static_cast<uint32_t>(s.padding) << 9 |
           static_cast<uint32_t>(s.mode) << 6 | static_cast<uint32_t>(s.modeExtension) << 4;
}

inline void WriteSideInfo(BitWriter& w, const FrameSpec& s) {
    const bool mpeg1 = s.version == 0;
    const int channels = ChannelsOf(s);
    const auto u = [](int v) { return static_cast<uint32_t>(v); };
    if (mpeg1) {
        w.Put(u(s.mainDataBegin), 9);
        w.Put(u(s.privateBits), channels == 1 ? 5 : 3);
        for (int ch = 0; ch < channels; ++ch) {
            for (int band = 0; band < 4; ++band) w.Put(u(s.scfsi[ch][band]), 1);
        }
    } else {
        w.Put(u(s.mainDataBegin), 8);
        w.Put(u(s.privateBits), channels == 1 ? 1 : 2);
    }
    for (int gr = 0; gr < (mpeg1 ? 2 : 1); ++gr) {
        for (int ch = 0; ch < channels; ++ch) {
            const GranuleFields& g = s.granule[gr][ch];
            w.Put(u(g.part2_3_length), 12);
            w.Put(u(g.big_values), 9);
            w.Put(u(g.global_gain), 8);
            w.Put(u(g.scalefac_compress), mpeg1 ? 4 : 9);
            w.Put(u(g.window_switching_flag), 1);
            if (g.window_switching_flag) {
                w.Put(u(g.block_type), 2);
                w.Put(u(g.mixed_block_flag), 1);
                for (int r = 0; r < 2; ++r) w.Put(u(g.table_select[r]), 5);
                for (int win = 0; win < 3; ++win) w.Put(u(g.subblock_gain[win]), 3);
            } else {
                for (int r = 0; r < 3; ++r) w.Put(u(g.table_select[r]), 5);
                w.Put(u(g.region0_count), 4);
                w.Put(u(g.region1_count), 3);
            }
            if (mpeg1) w.Put(u(g.preflag), 1);
            w.Put(u(g.scalefac_scale), 1);
            w.Put(u(g.count1table_select), 1);
        }
    }
}

// CRC of a protected frame: the last 16 header bits, then the side information.
inline uint16_t FrameCrc(const uint8_t* frame, int sideInfoBytes) {
    const uint16_t crc = Crc16Bytes(kCrc16Initial, frame + 2, 2);
    return Crc16Bytes(crc, frame + 6, sideInfoBytes);
}

// The whole frame. `mainData` longer than the area is cut.
inline std::vector<uint8_t> BuildFrame(const FrameSpec& s) {
    BitWriter w;
    w.Put(HeaderWord(s), 32);
    if (s.crc) w.Put(0, 16);  // filled in below
    WriteSideInfo(w, s);
    std::vector<uint8_t> frame = w.Bytes();
    const int area = MainDataBytes(s);
    for (int i = 0; i < area; ++i) {
        frame.push_back(static_cast<size_t>(i) < s.mainData.size()
                            ? s.mainData[static_cast<size_t>(i)]
                            : uint8_t{0});
    }
    if (s.crc) {
        uint16_t crc = FrameCrc(frame.data(), SideInfoBytesOf(s));
        if (s.wrongCrc) crc = static_cast<uint16_t>(crc ^ 0x0100u);
        frame[4] = static_cast<uint8_t>(crc >> 8);
        frame[5] = static_cast<uint8_t>(crc & 0xFF);
    }
    return frame;
}

// An unprotected frame rewritten as a protected one of the same length: the CRC word
// goes in after the header and the main-data area loses its last two bytes. `flipBit`
// (a bit index counted from the start of the side information) is flipped after the CRC
// was computed, so that the check fails; -1 keeps the frame intact.
inline std::vector<uint8_t> ProtectFrame(const std::vector<uint8_t>& frame, int sideInfoBytes,
                                         int flipBit = -1) {
    std::vector<uint8_t> out(frame.begin(), frame.begin() + 4);
    out[1] = static_cast<uint8_t>(out[1] & ~1u);  // protection bit 0: CRC present
    out.push_back(0);
    out.push_back(0);
    out.insert(out.end(), frame.begin() + 4, frame.end() - 2);
    const uint16_t crc = FrameCrc(out.data(), sideInfoBytes);
    out[4] = static_cast<uint8_t>(crc >> 8);
    out[5] = static_cast<uint8_t>(crc & 0xFF);
    if (flipBit >= 0) {
        out[6 + static_cast<size_t>(flipBit / 8)] ^= static_cast<uint8_t>(0x80u >> (flipBit % 8));
    }
    return out;
}

inline void Append(std::vector<uint8_t>& stream, const std::vector<uint8_t>& bytes) {
    stream.insert(stream.end(), bytes.begin(), bytes.end());
}

}  // namespace velora::test

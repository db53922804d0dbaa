#include "Crc16.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "BitBuffer.h"
#include "FrameWalker.h"
#include "MpegHeader.h"

namespace velora {
namespace {

using test::ConformanceDir;
using test::FilesIn;
using test::ReadFileBytes;
using test::WalkFrames;

// Shift register, one bit at a time: polynomial x^16 + x^15 + x^2 + 1, most significant
// bit first.
uint16_t ReferenceCrc(uint16_t crc, const uint8_t* bytes, std::size_t startBit, std::size_t bits) {
    for (std::size_t i = startBit; i < startBit + bits; ++i) {
        const unsigned bit = (bytes[i >> 3] >> (7 - (i & 7))) & 1u;
        const unsigned top = (crc >> 15) & 1u;
        crc = static_cast<uint16_t>(crc << 1);
        if ((top ^ bit) != 0) crc = static_cast<uint16_t>(crc ^ 0x8005);
    }
    return crc;
}

std::vector<uint8_t> RandomBytes(std::size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(count);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng() & 0xFF);
    return bytes;
}

TEST(Crc16, CheckValue) {
    const std::string text = "123456789";
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    // Published check value of this CRC-16 variant (0x8005, init 0xFFFF, unreflected).
    EXPECT_EQ(Crc16Bytes(kCrc16Initial, bytes.data(), 9), 0xAEE7);
    EXPECT_EQ(ReferenceCrc(kCrc16Initial, bytes.data(), 0, 72), 0xAEE7);

    std::vector<uint8_t> storage(16);
    BitBuffer buffer;
    buffer.Init(storage.data(), 16);
    buffer.Write(bytes.data(), 9);
    EXPECT_EQ(Crc16Update(kCrc16Initial, buffer, 72), 0xAEE7);
    EXPECT_EQ(buffer.UnreadBits(), 0);
}

TEST(Crc16, BytesMatchReference) {
    const std::vector<uint8_t> bytes = RandomBytes(300, 21);
    for (int length = 0; length <= 300; length += 7) {
        for (uint16_t init : {uint16_t{0xFFFF}, uint16_t{0x0000}, uint16_t{0x1D0F}}) {
            EXPECT_EQ(Crc16Bytes(init, bytes.data(), length),
                      ReferenceCrc(init, bytes.data(), 0, static_cast<std::size_t>(length) * 8))
                << "length " << length;
        }
    }
}

// Every length 0..100 bits (whole bytes plus a tail) from every alignment, through a
// small circular buffer so the reads also cross its end.
TEST(Crc16, BitBufferUpdateMatchesReferenceForAnyLengthAndAlignment) {
    const std::vector<uint8_t> bytes = RandomBytes(32, 22);
    std::vector<uint8_t> storage(32);
    for (std::size_t start = 0; start < 24; ++start) {
        for (std::size_t bits = 0; bits <= 100; ++bits) {
            BitBuffer buffer;
            buffer.Init(storage.data(), 32);
            // Put the data at storage offset 20 so it wraps.
            const std::vector<uint8_t> pad(20, 0);
            buffer.Write(pad.data(), 20);
            buffer.Skip(20 * 8);
            buffer.Write(bytes.data(), 32);
            buffer.Skip(static_cast<int>(start));
            buffer.ClearConsumed();
            const uint16_t crc = Crc16Update(kCrc16Initial, buffer, static_cast<int>(bits));
            ASSERT_EQ(crc, ReferenceCrc(kCrc16Initial, bytes.data(), start, bits))
                << "start " << start << " bits " << bits;
            ASSERT_EQ(buffer.Consumed(), static_cast<int>(bits));
        }
    }
}

TEST(Crc16, UpdateContinuesAcrossCalls) {
    const std::vector<uint8_t> bytes = RandomBytes(16, 23);
    std::vector<uint8_t> storage(16);
    for (int split = 0; split <= 100; ++split) {
        BitBuffer buffer;
        buffer.Init(storage.data(), 16);
        buffer.Write(bytes.data(), 16);
        uint16_t crc = Crc16Update(kCrc16Initial, buffer, split);
        crc = Crc16Update(crc, buffer, 100 - split);
        EXPECT_EQ(crc, ReferenceCrc(kCrc16Initial, bytes.data(), 0, 100)) << split;
    }
}

// Header, check word and the longest side information.
using FrameHead = std::array<uint8_t, 6 + 32>;
constexpr std::size_t kMaxFrameBytes = 1441;

// The CRC of a protected frame covers header bits 16..31 and the side information; the
// 16-bit check word sits between them.
uint16_t FrameCrc(const uint8_t* frame, int sideInfoBytes) {
    uint16_t crc = Crc16Bytes(kCrc16Initial, frame + 2, 2);
    return Crc16Bytes(crc, frame + 6, sideInfoBytes);
}

uint16_t StoredCrc(const uint8_t* frame) {
    return static_cast<uint16_t>(frame[4] << 8 | frame[5]);
}

// The check the decoder makes, on the input buffer at the frame header.
uint16_t FrameCrcFromBuffer(BitBuffer buffer, int sideInfoBytes, uint16_t* stored) {
    buffer.Skip(16);
    uint16_t crc = Crc16Update(kCrc16Initial, buffer, 16);
    *stored = static_cast<uint16_t>(buffer.Read(16));
    return Crc16Update(crc, buffer, sideInfoBytes * 8);
}

TEST(Crc16, ProtectedConformanceFramesCarryTheirCrc) {
    int protectedFrames = 0;
    int flipsChecked = 0;
    std::set<std::string> protectedStreams;
    for (const auto& path : FilesIn(ConformanceDir(), ".bit")) {
        const std::vector<uint8_t> bytes = ReadFileBytes(path);
        const std::string name = path.stem().string();
        WalkFrames(bytes, [&](MpegStream& s, long long bitOffset) {
            const MpegHeader& h = s.Header();
            if (!h.crcPresent) return;
            SCOPED_TRACE(name + " at byte " + std::to_string(bitOffset / 8));
            ++protectedFrames;
            protectedStreams.insert(name);
            const int si = h.SideInfoBytes();

            uint16_t storedInBuffer = 0;
            const uint16_t fromBuffer = FrameCrcFromBuffer(s.Buffer(), si, &storedInBuffer);
            EXPECT_EQ(fromBuffer, storedInBuffer);

            ASSERT_EQ(bitOffset % 8, 0);
            const std::size_t at = static_cast<std::size_t>(bitOffset / 8);
            ASSERT_LE(at + 6 + static_cast<std::size_t>(si), bytes.size());
            FrameHead frame{};
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), 6 + si, frame.begin());
            EXPECT_EQ(StoredCrc(frame.data()), storedInBuffer);
            uint16_t ref = ReferenceCrc(kCrc16Initial, frame.data(), 16, 16);
            ref = ReferenceCrc(ref, frame.data(), 48, static_cast<std::size_t>(si) * 8);
            EXPECT_EQ(ref, StoredCrc(frame.data()));

            for (int bit = 0; bit < si * 8; ++bit) {
                FrameHead damaged = frame;
                damaged[6 + static_cast<std::size_t>(bit >> 3)] ^=
                    static_cast<uint8_t>(0x80u >> (bit & 7));
                EXPECT_NE(FrameCrc(damaged.data(), si), StoredCrc(damaged.data())) << bit;
                ++flipsChecked;
            }
        });
    }
    // Of the conformance set only l3-hecommon holds protected frames (MPEG-1 stereo).
    EXPECT_GT(protectedFrames, 0);
    EXPECT_EQ(protectedStreams.count("l3-hecommon"), 1u);
    EXPECT_GT(flipsChecked, 0);
}

// The layouts the conformance set lacks: MPEG-1 mono, MPEG-2 and MPEG-2.5 mono and stereo.
TEST(Crc16, SyntheticProtectedFramesOfEveryLayout) {
    struct Layout {
        uint32_t word;
        int sideInfoBytes;
    };
    const Layout layouts[] = {
        {0xFFFA90C0u, 17},  // MPEG-1, 128 kbit/s, 44100 Hz, single channel
        {0xFFFA9000u, 32},  // MPEG-1 stereo
        {0xFFF280C0u, 9},   // MPEG-2, 64 kbit/s, 22050 Hz, single channel
        {0xFFF28040u, 17},  // MPEG-2 joint stereo
        {0xFFE240C0u, 9},   // MPEG-2.5, 32 kbit/s, 11025 Hz, single channel
        {0xFFE24080u, 17},  // MPEG-2.5 dual channel
    };
    std::mt19937 rng(24);
    for (const Layout& layout : layouts) {
        MpegHeader h;
        ASSERT_TRUE(h.Parse(layout.word));
        ASSERT_TRUE(h.crcPresent);
        ASSERT_EQ(h.SideInfoBytes(), layout.sideInfoBytes);
        for (int trial = 0; trial < 8; ++trial) {
            const std::size_t frameBytes = static_cast<std::size_t>(h.frameBits / 8);
            ASSERT_LE(frameBytes, kMaxFrameBytes);
            std::array<uint8_t, kMaxFrameBytes> frame{};
            for (int i = 0; i < 4; ++i) {
                frame[static_cast<std::size_t>(i)] =
                    static_cast<uint8_t>(layout.word >> (24 - 8 * i));
            }
            for (std::size_t i = 6; i < frameBytes; ++i) frame[i] = static_cast<uint8_t>(rng());
            uint16_t crc = ReferenceCrc(kCrc16Initial, frame.data(), 16, 16);
            crc = ReferenceCrc(crc, frame.data(), 48,
                               static_cast<std::size_t>(layout.sideInfoBytes) * 8);
            frame[4] = static_cast<uint8_t>(crc >> 8);
            frame[5] = static_cast<uint8_t>(crc);

            // Placed ten bytes before the end of the storage, so the check reads across it.
            std::vector<uint8_t> storage(2048);
            BitBuffer buffer;
            buffer.Init(storage.data(), 2048);
            const std::vector<uint8_t> pad(2048 - 10, 0);
            buffer.Write(pad.data(), static_cast<int>(pad.size()));
            buffer.Skip(static_cast<int>(pad.size()) * 8);
            ASSERT_EQ(buffer.Write(frame.data(), static_cast<int>(frameBytes)),
                      static_cast<int>(frameBytes));
            uint16_t stored = 0;
            EXPECT_EQ(FrameCrcFromBuffer(buffer, layout.sideInfoBytes, &stored), crc);
            EXPECT_EQ(stored, crc);

            for (int bit = 0; bit < layout.sideInfoBytes * 8; ++bit) {
                auto damaged = frame;
                damaged[6 + static_cast<std::size_t>(bit >> 3)] ^=
                    static_cast<uint8_t>(0x80u >> (bit & 7));
                EXPECT_NE(FrameCrc(damaged.data(), layout.sideInfoBytes), crc) << bit;
            }
            // The byte after the side information is main data, outside the check.
            auto mainData = frame;
            mainData[6 + static_cast<std::size_t>(layout.sideInfoBytes)] ^= 0xFF;
            EXPECT_EQ(FrameCrc(mainData.data(), layout.sideInfoBytes), crc);
        }
    }
}

}  // namespace
}  // namespace velora

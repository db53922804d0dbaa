#include "BitBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace velora {
namespace {

// Straightforward MSB-first reader over a flat byte array: the model the circular buffer
// must agree with.
class ReferenceBits {
  public:
    explicit ReferenceBits(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    uint32_t Read(int bits) {
        uint32_t value = 0;
        for (int i = 0; i < bits; ++i) {
            const std::size_t byte = pos_ >> 3;
            const uint32_t bit = (bytes_[byte] >> (7 - (pos_ & 7))) & 1u;
            value = (value << 1) | bit;
            ++pos_;
        }
        return value;
    }
    void Skip(long long bits) {
        pos_ = static_cast<std::size_t>(static_cast<long long>(pos_) + bits);
    }
    std::size_t Position() const { return pos_; }

  private:
    const std::vector<uint8_t>& bytes_;
    std::size_t pos_ = 0;
};

std::vector<uint8_t> RandomBytes(std::size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(count);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng() & 0xFF);
    return bytes;
}

TEST(BitBuffer, RoundedSizeIsNextPowerOfTwoWithinLimits) {
    EXPECT_EQ(BitBuffer::RoundedSize(-5), 4);
    EXPECT_EQ(BitBuffer::RoundedSize(0), 4);
    EXPECT_EQ(BitBuffer::RoundedSize(1), 4);
    EXPECT_EQ(BitBuffer::RoundedSize(4), 4);
    EXPECT_EQ(BitBuffer::RoundedSize(5), 8);
    EXPECT_EQ(BitBuffer::RoundedSize(8), 8);
    EXPECT_EQ(BitBuffer::RoundedSize(1000), 1024);
    EXPECT_EQ(BitBuffer::RoundedSize(8192), 8192);
    EXPECT_EQ(BitBuffer::RoundedSize(8193), 16384);
    EXPECT_EQ(BitBuffer::RoundedSize(65535), 65536);
    EXPECT_EQ(BitBuffer::RoundedSize(65536), 65536);
    EXPECT_EQ(BitBuffer::RoundedSize(65537), 65536);
    EXPECT_EQ(BitBuffer::RoundedSize(1 << 24), 65536);

    std::vector<uint8_t> storage(1024);
    BitBuffer buffer;
    buffer.Init(storage.data(), 1000);
    EXPECT_EQ(buffer.SizeBytes(), 1024);
    EXPECT_EQ(buffer.Free(), 1024);
    EXPECT_EQ(buffer.UnreadBits(), 0);
}

TEST(BitBuffer, EveryWidthMatchesReferenceReader) {
    const std::vector<uint8_t> data = RandomBytes(64, 1);
    std::vector<uint8_t> storage(64);
    for (int width = 1; width <= 16; ++width) {
        // Start at every bit offset inside a 16-bit word so each width meets every alignment.
        for (int start = 0; start < 16; ++start) {
            BitBuffer buffer;
            buffer.Init(storage.data(), 64);
            ASSERT_EQ(buffer.Write(data.data(), 64), 64);
            ReferenceBits ref(data);
            buffer.Skip(start);
            ref.Skip(start);
            while (ref.Position() + static_cast<std::size_t>(width) <= 64 * 8) {
                const uint32_t peeked = buffer.Peek(width);
                const uint32_t expected = ref.Read(width);
                ASSERT_EQ(peeked, expected) << "width " << width << " at " << ref.Position();
                ASSERT_EQ(buffer.Read(width), expected) << "width " << width;
                ASSERT_LT(expected, 1u << width);
            }
            EXPECT_EQ(buffer.UnreadBits(), static_cast<int>(64 * 8 - ref.Position()));
        }
    }
}

TEST(BitBuffer, ZeroBitReadReturnsZeroAndConsumesNothing) {
    std::vector<uint8_t> storage(4);
    BitBuffer buffer;
    buffer.Init(storage.data(), 4);
    const uint8_t bytes[] = {0xFF, 0xFF, 0xFF, 0xFF};
    buffer.Write(bytes, 4);
    EXPECT_EQ(buffer.Read(0), 0u);
    EXPECT_EQ(buffer.UnreadBits(), 32);
    EXPECT_EQ(buffer.Consumed(), 0);
}

TEST(BitBuffer, Read32IsTwoSixteenBitReads) {
    const std::vector<uint8_t> data = RandomBytes(16, 2);
    std::vector<uint8_t> storage(16);
    for (int start = 0; start < 64; start += 3) {
        BitBuffer a;
        BitBuffer b;
        a.Init(storage.data(), 16);
        a.Write(data.data(), 16);
        b = a;
        a.Skip(start);
        b.Skip(start);
        ReferenceBits ref(data);
        ref.Skip(start);
        const uint32_t word = a.Read32();
        const uint32_t high = b.Read(16);
        const uint32_t low = b.Read(16);
        EXPECT_EQ(word, (high << 16) | low);
        EXPECT_EQ(word, ref.Read(32));
        EXPECT_EQ(a.UnreadBits(), 128 - start - 32);
    }
}

// Random writes and reads through a small buffer: both the write and the read position
// wrap many times, and reads straddle the end of the storage.
TEST(BitBuffer, StreamingAcrossTheWrapPointMatchesReference) {
    const std::vector<uint8_t> data = RandomBytes(4000, 3);
    std::vector<uint8_t> storage(16);
    BitBuffer buffer;
    buffer.Init(storage.data(), 16);
    ReferenceBits ref(data);
    std::mt19937 rng(4);
    std::size_t written = 0;
    int reads = 0;
    while (ref.Position() + 16 <= data.size() * 8) {
        if (written < data.size() && (rng() & 1)) {
            const int want = static_cast<int>(rng() % 9);
            const int len = static_cast<int>(
                std::min<std::size_t>(static_cast<std::size_t>(want), data.size() - written));
            const int expectedCount = std::min(len, buffer.Free());
            const int n = buffer.Write(data.data() + written, len);
            ASSERT_EQ(n, expectedCount);
            written += static_cast<std::size_t>(n);
        }
        const int width = 1 + static_cast<int>(rng() % 16);
        if (buffer.UnreadBits() >= width) {
            ASSERT_EQ(buffer.Read(width), ref.Read(width)) << "at bit " << ref.Position();
            ++reads;
        }
        ASSERT_EQ(buffer.UnreadBits(), static_cast<int>(written * 8 - ref.Position()));
        ASSERT_EQ(buffer.ReadPosition(), ref.Position() % (16 * 8));
    }
    EXPECT_GT(reads, 1000);
}

// The 32-bit look-ahead at every bit position of a small circular buffer: away from the
// wrap point it takes the fast path, near it the word-wise one.
TEST(BitBuffer, Peek32AtEveryPositionMatchesReference) {
    const std::vector<uint8_t> data = RandomBytes(64, 11);
    std::vector<uint8_t> storage(64);
    BitBuffer buffer;
    buffer.Init(storage.data(), 64);
    ASSERT_EQ(buffer.Write(data.data(), 64), 64);
    // The reference sees the storage twice in a row, so reads past the end wrap.
    std::vector<uint8_t> twice(data);
    twice.insert(twice.end(), data.begin(), data.end());
    for (int position = 0; position < 64 * 8; ++position) {
        ReferenceBits ref(twice);
        ref.Skip(position);
        const uint32_t expected = ref.Read(32);
        EXPECT_EQ(buffer.Peek32(), expected) << "at bit " << position;
        EXPECT_EQ(buffer.ReadPosition(), static_cast<uint32_t>(position));  // nothing consumed
        buffer.Skip(1);
    }
}

TEST(BitBuffer, ReadStraddlingEndOfStorage) {
    std::vector<uint8_t> storage(8);
    BitBuffer buffer;
    buffer.Init(storage.data(), 8);
    const uint8_t first[] = {0, 0, 0, 0, 0, 0, 0xAB, 0xCD};
    ASSERT_EQ(buffer.Write(first, 8), 8);
    buffer.Skip(6 * 8 + 4);  // on the low nibble of 0xAB
    const uint8_t second[] = {0xEF, 0x12};
    ASSERT_EQ(buffer.Write(second, 2), 2);  // lands at storage[0..1]
    // Bits: B CD EF 1 -> 0xBCDEF1 spans the wrap.
    EXPECT_EQ(buffer.Read(12), 0xBCDu);
    EXPECT_EQ(buffer.Read(12), 0xEF1u);
    EXPECT_EQ(buffer.Read(4), 0x2u);
    EXPECT_EQ(buffer.UnreadBits(), 0);
}

TEST(BitBuffer, SkipNegativeRereadsConsumedBits) {
    const std::vector<uint8_t> data = RandomBytes(32, 5);
    std::vector<uint8_t> storage(32);
    BitBuffer buffer;
    buffer.Init(storage.data(), 32);
    buffer.Write(data.data(), 32);

    const uint32_t a = buffer.Read(13);
    const uint32_t b = buffer.Read(16);
    const uint32_t c = buffer.Read(11);
    EXPECT_EQ(buffer.Consumed(), 40);
    EXPECT_EQ(buffer.UnreadBits(), 256 - 40);

    buffer.Skip(-27);
    EXPECT_EQ(buffer.Consumed(), 13);
    EXPECT_EQ(buffer.UnreadBits(), 256 - 13);
    EXPECT_EQ(buffer.Read(16), b);
    EXPECT_EQ(buffer.Read(11), c);

    buffer.Skip(-40);
    EXPECT_EQ(buffer.ReadPosition(), 0u);
    EXPECT_EQ(buffer.Read(13), a);

    // Consumed is signed: stepping back past the point of ClearConsumed goes negative.
    buffer.ClearConsumed();
    buffer.Skip(-13);
    EXPECT_EQ(buffer.Consumed(), -13);
    buffer.Skip(20);
    EXPECT_EQ(buffer.Consumed(), 7);
    buffer.ClearConsumed();
    EXPECT_EQ(buffer.Consumed(), 0);
}

TEST(BitBuffer, SkipPositiveMatchesReference) {
    const std::vector<uint8_t> data = RandomBytes(64, 6);
    std::vector<uint8_t> storage(64);
    BitBuffer buffer;
    buffer.Init(storage.data(), 64);
    buffer.Write(data.data(), 64);
    ReferenceBits ref(data);
    std::mt19937 rng(7);
    while (ref.Position() + 40 <= 64 * 8) {
        const int skip = static_cast<int>(rng() % 23);
        buffer.Skip(skip);
        ref.Skip(skip);
        ASSERT_EQ(buffer.Read(9), ref.Read(9));
    }
}

TEST(BitBuffer, SkipBackAcrossTheWrapPoint) {
    std::vector<uint8_t> storage(4);
    BitBuffer buffer;
    buffer.Init(storage.data(), 4);
    const uint8_t first[] = {0x11, 0x22, 0x33, 0x44};
    buffer.Write(first, 4);
    buffer.Skip(24);
    const uint8_t second[] = {0x55, 0x66, 0x77};
    ASSERT_EQ(buffer.Write(second, 3), 3);  // overwrites 0x11 0x22 0x33
    EXPECT_EQ(buffer.Read(16), 0x4455u);    // read position wraps to the start
    EXPECT_EQ(buffer.ReadPosition(), 8u);
    buffer.Skip(-16);  // back over the wrap
    EXPECT_EQ(buffer.ReadPosition(), 24u);
    EXPECT_EQ(buffer.Read32(), 0x44556677u);
    EXPECT_EQ(buffer.UnreadBits(), 0);
}

TEST(BitBuffer, FreeAndWriteWhenFull) {
    std::vector<uint8_t> storage(16);
    BitBuffer buffer;
    buffer.Init(storage.data(), 16);
    const std::vector<uint8_t> data = RandomBytes(40, 8);

    EXPECT_EQ(buffer.Free(), 16);
    EXPECT_EQ(buffer.Write(data.data(), 20), 16);
    EXPECT_EQ(buffer.Free(), 0);
    EXPECT_EQ(buffer.UnreadBits(), 128);
    EXPECT_EQ(buffer.Write(data.data() + 16, 4), 0);
    EXPECT_EQ(buffer.UnreadBits(), 128);

    // A partly read byte does not free it.
    buffer.Read(3);
    EXPECT_EQ(buffer.Free(), 0);
    EXPECT_EQ(buffer.Write(data.data() + 16, 4), 0);
    buffer.Read(13);  // two whole bytes now
    EXPECT_EQ(buffer.Free(), 2);
    EXPECT_EQ(buffer.Write(data.data() + 16, 4), 2);
    EXPECT_EQ(buffer.Free(), 0);

    // The unread data is intact and followed by the two new bytes.
    ReferenceBits ref(data);
    ref.Skip(16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(buffer.Read(8), ref.Read(8)) << i;
    EXPECT_EQ(buffer.UnreadBits(), 0);
    EXPECT_EQ(buffer.Free(), 16);

    EXPECT_EQ(buffer.Write(nullptr, 4), 0);
    EXPECT_EQ(buffer.Write(data.data(), 0), 0);
    EXPECT_EQ(buffer.Write(data.data(), -3), 0);
    EXPECT_EQ(buffer.Free(), 16);
}

TEST(BitBuffer, SteppingBackReducesFree) {
    std::vector<uint8_t> storage(8);
    BitBuffer buffer;
    buffer.Init(storage.data(), 8);
    const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    buffer.Write(bytes, 8);
    buffer.Skip(32);
    EXPECT_EQ(buffer.Free(), 4);
    buffer.Skip(-16);
    EXPECT_EQ(buffer.Free(), 2);  // stepped-back bytes are unread again and protected
    EXPECT_EQ(buffer.Write(bytes, 8), 2);
    EXPECT_EQ(buffer.Read(8), 3u);
}

TEST(BitBuffer, FreeNeverExceedsStorageAfterOverrun) {
    std::vector<uint8_t> storage(8);
    BitBuffer buffer;
    buffer.Init(storage.data(), 8);
    buffer.Read(16);  // past the (empty) data
    EXPECT_EQ(buffer.UnreadBits(), -16);
    EXPECT_EQ(buffer.Free(), 8);
    const uint8_t bytes[12] = {};
    EXPECT_EQ(buffer.Write(bytes, 12), 8);
}

TEST(BitBuffer, MoveBytesLimitedBySourceAndDestination) {
    const std::vector<uint8_t> data = RandomBytes(32, 9);
    std::vector<uint8_t> srcStorage(32);
    std::vector<uint8_t> dstStorage(8);

    BitBuffer src;
    src.Init(srcStorage.data(), 32);
    src.Write(data.data(), 10);
    BitBuffer dst;
    dst.Init(dstStorage.data(), 8);

    // Count limit.
    EXPECT_EQ(dst.MoveBytes(src, 3), 3);
    EXPECT_EQ(src.UnreadBits(), 7 * 8);
    EXPECT_EQ(dst.UnreadBits(), 3 * 8);
    // Destination limit: 5 bytes free.
    EXPECT_EQ(dst.MoveBytes(src, 100), 5);
    EXPECT_EQ(dst.Free(), 0);
    EXPECT_EQ(src.UnreadBits(), 2 * 8);
    EXPECT_EQ(dst.MoveBytes(src, 1), 0);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(dst.Read(8), data[static_cast<std::size_t>(i)]);

    // Source limit: 2 bytes left.
    EXPECT_EQ(dst.MoveBytes(src, 100), 2);
    EXPECT_EQ(src.UnreadBits(), 0);
    EXPECT_EQ(dst.MoveBytes(src, 100), 0);
    EXPECT_EQ(dst.Read(8), data[8]);
    EXPECT_EQ(dst.Read(8), data[9]);
    EXPECT_EQ(dst.MoveBytes(src, -4), 0);
}

TEST(BitBuffer, MoveBytesFromUnalignedBitPosition) {
    const std::vector<uint8_t> data = RandomBytes(32, 10);
    std::vector<uint8_t> srcStorage(32);
    std::vector<uint8_t> dstStorage(16);
    BitBuffer src;
    src.Init(srcStorage.data(), 32);
    src.Write(data.data(), 32);
    src.Skip(5);
    // 32*8 - 5 = 251 unread bits: only 31 whole bytes can move.
    BitBuffer dst;
    dst.Init(dstStorage.data(), 16);
    // Leave both positions near the end of the storage so the moved bytes wrap.
    const uint8_t zeros[13] = {};
    ASSERT_EQ(dst.Write(zeros, 13), 13);
    dst.Skip(13 * 8);
    ReferenceBits ref(data);
    ref.Skip(5);
    EXPECT_EQ(dst.MoveBytes(src, 10), 10);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(dst.Read(8), ref.Read(8)) << i;
    EXPECT_EQ(src.UnreadBits(), 251 - 80);
    // Remaining source: 171 bits = 21 whole bytes; destination has 16 free.
    EXPECT_EQ(dst.MoveBytes(src, 100), 16);
    for (int i = 0; i < 16; ++i) ASSERT_EQ(dst.Read(8), ref.Read(8)) << i;
    EXPECT_EQ(dst.MoveBytes(src, 100), 5);
    EXPECT_EQ(src.UnreadBits(), 3);
    EXPECT_EQ(dst.MoveBytes(src, 100), 0);
}

// Both buffers at random positions, so the moved run crosses the end of the source, of the
// destination, of both or of neither; byte-aligned and unaligned sources alike.
TEST(BitBuffer, MoveBytesAcrossBothWrapPointsMatchesReference) {
    std::mt19937 rng(12);
    std::vector<uint8_t> srcStorage(64);
    std::vector<uint8_t> dstStorage(32);
    for (int trial = 0; trial < 2000; ++trial) {
        BitBuffer src;
        src.Init(srcStorage.data(), 64);
        BitBuffer dst;
        dst.Init(dstStorage.data(), 32);
        const std::vector<uint8_t> filler(64, 0xA5);
        const int srcStart = static_cast<int>(rng() % 64);
        const int dstStart = static_cast<int>(rng() % 32);
        src.Write(filler.data(), srcStart);
        src.Skip(srcStart * 8);
        dst.Write(filler.data(), dstStart);
        dst.Skip(dstStart * 8);

        const std::vector<uint8_t> data = RandomBytes(64, static_cast<uint32_t>(trial));
        const int srcBytes = static_cast<int>(rng() % 65);
        ASSERT_EQ(src.Write(data.data(), srcBytes), srcBytes);
        const int bitShift = trial % 3 == 0 ? static_cast<int>(1 + rng() % 7) : 0;
        src.Skip(bitShift);
        const int dstUsed = static_cast<int>(rng() % 33);
        const std::vector<uint8_t> zeros(32, 0);
        dst.Write(zeros.data(), dstUsed);

        const int count = static_cast<int>(rng() % 70);
        const int sourceWhole = (srcBytes * 8 - bitShift) / 8;
        const int expected = std::min({count, sourceWhole, 32 - dstUsed});
        ASSERT_EQ(dst.MoveBytes(src, count), expected) << "trial " << trial;
        ASSERT_EQ(src.UnreadBits(), srcBytes * 8 - bitShift - expected * 8);
        ASSERT_EQ(dst.UnreadBits(), (dstUsed + expected) * 8);

        ReferenceBits ref(data);
        ref.Skip(bitShift);
        dst.Skip(dstUsed * 8);
        for (int i = 0; i < expected; ++i) {
            ASSERT_EQ(dst.Read(8), ref.Read(8)) << "trial " << trial << " byte " << i;
        }
        // The source continues right after the moved bytes.
        if (src.UnreadBits() >= 8) {
            ASSERT_EQ(src.Read(8), ref.Read(8)) << "trial " << trial;
        }
    }
}

TEST(BitBuffer, EndOfDataFlagAndClear) {
    std::vector<uint8_t> storage(8);
    BitBuffer buffer;
    buffer.Init(storage.data(), 8);
    EXPECT_FALSE(buffer.EndOfData());
    buffer.SetEndOfData();
    EXPECT_TRUE(buffer.EndOfData());
    const uint8_t bytes[5] = {1, 2, 3, 4, 5};
    buffer.Write(bytes, 5);
    buffer.Read(12);
    buffer.Clear();
    EXPECT_FALSE(buffer.EndOfData());
    EXPECT_EQ(buffer.UnreadBits(), 0);
    EXPECT_EQ(buffer.Consumed(), 0);
    EXPECT_EQ(buffer.ReadPosition(), 0u);
    EXPECT_EQ(buffer.Free(), 8);
    // The write position is back at the start too.
    buffer.Write(bytes + 2, 2);
    EXPECT_EQ(buffer.Read(16), 0x0304u);
}

}  // namespace
}  // namespace velora

// Circular bit buffer over caller-owned storage. Used for the input stream and for the
// Layer III bit reservoir. Bits are read most significant first through big-endian
// 16-bit words; consumed bytes stay in the storage until overwritten, so a reader can
// step back over what it has read (Skip with a negative count).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace velora {

class BitBuffer {
public:
    static constexpr int kMinSize = 4;
    static constexpr int kMaxSize = 65536;

    // The smallest power of two not below `requested`, within kMinSize..kMaxSize.
    static int RoundedSize(int requested);

    // `storage` must hold RoundedSize(requestedSize) bytes and outlive the buffer.
    void Init(uint8_t* storage, int requestedSize);
    // Unread bits, write position, counters, read position and end-of-data flag to 0.
    void Clear();

    // Reads 1..16 bits (0 bits reads nothing and returns 0).
    uint32_t Read(int bits) {
        if (bits <= 0) return 0;
        const uint32_t value = Peek(bits);
        Advance(bits);
        return value;
    }
    uint32_t Read32() {
        const uint32_t high = Read(16);
        return (high << 16) | Read(16);
    }
    // The next 1..16 bits without consuming them.
    uint32_t Peek(int bits) const {
        const uint32_t word = readPos_ >> 4;
        const uint32_t window = (Word(word) << 16) | Word(word + 1);
        return (window << (readPos_ & 15)) >> (32 - bits);
    }
    // The next 32 bits without consuming them.
    uint32_t Peek32() const {
        const uint32_t byte = readPos_ >> 3;
        if (byte + 8 <= sizeBytes_) {
            // Away from the wrap point: one unaligned 64-bit load.
            uint64_t raw;
            std::memcpy(&raw, data_ + byte, sizeof(raw));
            return static_cast<uint32_t>((FromBigEndian(raw) << (readPos_ & 7)) >> 32);
        }
        const uint32_t word = readPos_ >> 4;
        const uint32_t shift = readPos_ & 15;
        const uint32_t window = (Word(word) << 16) | Word(word + 1);
        if (shift == 0) return window;
        return (window << shift) | (Word(word + 2) >> (16 - shift));
    }
    // Moves the read position by `bits`, which may be negative.
    void Skip(int bits) { Advance(bits); }

    // Copies at most Free() bytes at the write position; returns the number copied.
    int Write(const uint8_t* bytes, int length);
    // Bytes that can be written without overwriting unread data.
    int Free() const;
    // Reads up to `count` bytes from `from` at its bit position and writes them here;
    // limited by the source's unread bytes and this buffer's free space.
    int MoveBytes(BitBuffer& from, int count);

    void SetEndOfData() { endOfData_ = true; }
    bool EndOfData() const { return endOfData_; }

    int UnreadBits() const { return unreadBits_; }
    int SizeBytes() const { return static_cast<int>(sizeBytes_); }
    // Bits consumed since ClearConsumed (negative after stepping back further).
    int Consumed() const { return consumedBits_; }
    void ClearConsumed() { consumedBits_ = 0; }
    // Bit position of the next read, modulo the buffer size in bits.
    uint32_t ReadPosition() const { return readPos_; }
    // The storage, for readers that take whole words from the read position on; byte
    // indices wrap with StorageMask().
    const uint8_t* Storage() const { return data_; }
    uint32_t StorageMask() const { return byteMask_; }

private:
    static uint64_t FromBigEndian(uint64_t v) {
        if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(v);
        return v;
    }
    uint32_t Word(uint32_t index) const {
        const uint32_t byte = (index << 1) & byteMask_;
        return (uint32_t{data_[byte]} << 8) | data_[byte + 1];
    }
    void Advance(int bits) {
        readPos_ = (readPos_ + static_cast<uint32_t>(bits)) & bitMask_;
        unreadBits_ -= bits;
        consumedBits_ += bits;
    }

    uint8_t* data_ = nullptr;
    uint32_t sizeBytes_ = 0;
    uint32_t byteMask_ = 0;
    uint32_t bitMask_ = 0;
    int unreadBits_ = 0;
    uint32_t writePos_ = 0;
    int consumedBits_ = 0;
    uint32_t readPos_ = 0;
    bool endOfData_ = false;
};

}  // namespace velora

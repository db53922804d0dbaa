// MSB-first bit writer over caller-owned storage. Bits gather in a 64-bit accumulator and go
// to the buffer 32 at a time; nothing is allocated. Writing past the end sets the overflow
// flag and drops the bits, so a full buffer is never overrun.
#pragma once

#include <cstdint>

namespace velora::enc {

class BitWriter {
  public:
    BitWriter() = default;
    BitWriter(uint8_t* buffer, int capacityBytes) { Reset(buffer, capacityBytes); }

    // Starts over at the beginning of `buffer`.
    void Reset(uint8_t* buffer, int capacityBytes);

    // Writes the low `bits` (0..32) bits of `value`, most significant first.
    void Put(uint32_t value, int bits) {
        if (bits <= 0) return;
        const uint64_t masked = bits == 32 ? value : (value & ((uint32_t{1} << bits) - 1u));
        accumulator_ = (accumulator_ << bits) | masked;
        pending_ += bits;
        if (pending_ >= 32) Store();
    }
    void PutOnes(int bits);
    void PutZeros(int bits);
    // Zero bits up to the next byte boundary.
    void AlignWithZeros() { PutZeros((8 - (Position() & 7)) & 7); }

    // Bits written so far.
    int Position() const { return storedBytes_ * 8 + pending_; }
    bool Overflow() const { return overflow_; }
    // Writes the pending bits into the buffer (the last byte zero-filled) and returns the
    // bytes that hold all bits written. Writing may continue afterwards.
    int Sync();
    const uint8_t* Data() const { return buffer_; }

  private:
    void Store();

    uint8_t* buffer_ = nullptr;
    int capacity_ = 0;
    int storedBytes_ = 0;
    int pending_ = 0;  // bits in the accumulator not yet stored, 0..31 between calls
    uint64_t accumulator_ = 0;
    bool overflow_ = false;
};

}  // namespace velora::enc

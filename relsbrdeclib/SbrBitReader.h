// MSB-first bit reader over one SBR payload. A read past the end yields zero bits and sets
// the overrun flag; the position still advances, so the length check after an element sees
// that more bits were consumed than the payload holds. Nothing outside the bytes is read.
#pragma once

#include <cstdint>

namespace velora::sbr {

class SbrBitReader {
public:
    SbrBitReader(const uint8_t* data, int bytes)
        : data_(data), totalBits_(bytes > 0 && data != nullptr ? bytes * 8 : 0) {}

    // 0..24 bits.
    uint32_t Read(int bits) {
        uint32_t value = 0;
        for (int i = 0; i < bits; ++i) value = (value << 1) | ReadBit();
        return value;
    }

    uint32_t ReadBit() {
        if (position_ >= totalBits_) {
            overrun_ = true;
            if (position_ < kPositionLimit) ++position_;
            return 0;
        }
        const int at = position_++;
        return (static_cast<uint32_t>(data_[at >> 3]) >> (7 - (at & 7))) & 1u;
    }

    void Skip(int bits) {
        if (bits <= 0) return;
        const int room = totalBits_ - position_;
        if (bits > room) {
            overrun_ = true;
            position_ = totalBits_ + (bits - room < kPositionLimit - totalBits_ ? bits - room
                                                                               : kPositionLimit - totalBits_);
            return;
        }
        position_ += bits;
    }

    int BitsRead() const { return position_; }
    int TotalBits() const { return totalBits_; }
    bool Overrun() const { return overrun_; }

private:
    // Keeps the position far from overflow however much is read past the end.
    static constexpr int kPositionLimit = 1 << 24;

    const uint8_t* data_;
    int totalBits_;
    int position_ = 0;
    bool overrun_ = false;
};

}  // namespace velora::sbr

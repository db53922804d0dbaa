#include "BitWriter.h"

namespace velora::enc {

void BitWriter::Reset(uint8_t* buffer, int capacityBytes) {
    buffer_ = buffer;
    capacity_ = buffer == nullptr || capacityBytes < 0 ? 0 : capacityBytes;
    storedBytes_ = 0;
    pending_ = 0;
    accumulator_ = 0;
    overflow_ = false;
}

void BitWriter::Store() {
    pending_ -= 32;
    const uint32_t word = static_cast<uint32_t>(accumulator_ >> pending_);
    if (storedBytes_ + 4 <= capacity_) {
        uint8_t* out = buffer_ + storedBytes_;
        out[0] = static_cast<uint8_t>(word >> 24);
        out[1] = static_cast<uint8_t>(word >> 16);
        out[2] = static_cast<uint8_t>(word >> 8);
        out[3] = static_cast<uint8_t>(word);
    } else {
        for (int i = 0; i < 4 && storedBytes_ + i < capacity_; ++i)
            buffer_[storedBytes_ + i] = static_cast<uint8_t>(word >> (24 - 8 * i));
        overflow_ = true;
    }
    storedBytes_ += 4;
    // Keep only the bits not stored, so the shift in Put never loses any.
    accumulator_ &= (uint64_t{1} << pending_) - 1u;
}

void BitWriter::PutOnes(int bits) {
    for (; bits >= 16; bits -= 16) Put(0xFFFFu, 16);
    Put(0xFFFFu, bits);
}

void BitWriter::PutZeros(int bits) {
    for (; bits >= 32; bits -= 32) Put(0, 32);
    Put(0, bits);
}

int BitWriter::Sync() {
    const int bytes = (pending_ + 7) / 8;
    if (pending_ > 0) {
        const uint64_t left = accumulator_ << (64 - pending_);  // first pending bit at bit 63
        for (int i = 0; i < bytes; ++i) {
            if (storedBytes_ + i >= capacity_) {
                overflow_ = true;
                break;
            }
            buffer_[storedBytes_ + i] = static_cast<uint8_t>(left >> (56 - 8 * i));
        }
    }
    const int total = storedBytes_ + bytes;
    return total < capacity_ ? total : capacity_;
}

}  // namespace velora::enc

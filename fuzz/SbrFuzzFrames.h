// Splits fuzz input into SbrFrame payloads: pieces of [control byte][length byte][payload].
// Control bits 0-1 choose the kind (12, 13, or another value), bit 2 stereo, bit 3 present
// (inverted), bit 5 a correct CRC (written into the payload, so that the fuzzer gets past the
// check); the other bits are the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "SbrCrc.h"
#include "SbrHandoff.h"

namespace velora::sbr {

class SbrFuzzFrames {
public:
    SbrFuzzFrames(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // Fills `frame` with the next piece; false at the end of the input.
    bool Next(velora::SbrFrame& frame, uint8_t& control) {
        if (at_ + 2 > size_) return false;
        control = data_[at_];
        const size_t wanted = data_[at_ + 1] * 2u;
        at_ += 2;
        const size_t length = wanted < size_ - at_ ? wanted : size_ - at_;
        std::memset(&frame, 0xEE, sizeof frame);
        const int kinds[4] = {12, 13, 13, 7};
        frame.kind = kinds[control & 3];
        frame.stereo = (control >> 2) & 1;
        frame.present = ((control >> 3) & 1) ^ 1;
        frame.length = static_cast<int32_t>(length);
        std::memcpy(frame.payload, data_ + at_, length);
        at_ += length;
        if ((control & 0x20) && length >= 2) {
            const uint32_t crc = SbrCrc(frame.payload, frame.length, kSbrCrcStartBit,
                                        SbrCrcBits(frame.stereo != 0, frame.kind == 13)) & 0x7Fu;
            frame.payload[0] = static_cast<uint8_t>((frame.payload[0] & 0xF8u) | (crc >> 4));
            frame.payload[1] = static_cast<uint8_t>((frame.payload[1] & 0x0Fu) | ((crc & 0x0Fu) << 4));
        }
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace velora::sbr

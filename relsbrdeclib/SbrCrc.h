// The 8-bit CRC of an SBR payload (generator x^8 + x^6 + x^2 + 1, register starts at 0xFF).
#pragma once

#include <cstdint>

namespace velora::sbr {

// Bits after the 7-bit CRC field that the CRC covers, by element and header presence.
constexpr int kSbrCrcBitsMono = 60;
constexpr int kSbrCrcBitsMonoHeader = 92;
constexpr int kSbrCrcBitsStereo = 108;
constexpr int kSbrCrcBitsStereoHeader = 140;
constexpr int kSbrCrcStartBit = 12;  // marker (4), CRC flag (1), CRC (7)

int SbrCrcBits(bool stereo, bool header);

// Runs the register over `count` bits from bit `start` (MSB first) of `bytes` bytes; bits
// beyond the end are not taken. Returns the 8-bit register.
uint32_t SbrCrc(const uint8_t* data, int bytes, int start, int count);

}  // namespace velora::sbr

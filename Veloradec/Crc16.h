// CRC-16 of protected MPEG audio frames: polynomial 0x8005, initial value 0xFFFF, no
// reflection, no final XOR.
#pragma once

#include <cstdint>

#include "BitBuffer.h"

namespace velora {

constexpr uint16_t kCrc16Initial = 0xFFFF;

// Continues `crc` over the next `bits` bits of `buffer` (consuming them): byte by byte
// through a table, bit by bit for a tail shorter than a byte.
uint16_t Crc16Update(uint16_t crc, BitBuffer& buffer, int bits);
// The same over a byte array.
uint16_t Crc16Bytes(uint16_t crc, const uint8_t* bytes, int length);

}  // namespace velora

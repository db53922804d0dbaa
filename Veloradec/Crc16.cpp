#include "Crc16.h"

#include <array>
#include <cstddef>

namespace velora {
namespace {

constexpr uint16_t kPolynomial = 0x8005;

constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i << 8);
        for (int b = 0; b < 8; ++b) {
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ kPolynomial : crc << 1);
        }
        table[static_cast<std::size_t>(i)] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();

uint16_t UpdateByte(uint16_t crc, uint32_t byte) {
    return static_cast<uint16_t>((crc << 8) ^ kTable[((crc >> 8) ^ byte) & 0xFF]);
}

}  // namespace

uint16_t Crc16Update(uint16_t crc, BitBuffer& buffer, int bits) {
    for (; bits >= 8; bits -= 8) crc = UpdateByte(crc, buffer.Read(8));
    for (; bits > 0; --bits) {
        const uint32_t bit = buffer.Read(1);
        const bool feedback = ((crc >> 15) ^ bit) & 1;
        crc = static_cast<uint16_t>(crc << 1);
        if (feedback) crc ^= kPolynomial;
    }
    return crc;
}

uint16_t Crc16Bytes(uint16_t crc, const uint8_t* bytes, int length) {
    for (int i = 0; i < length; ++i) crc = UpdateByte(crc, bytes[i]);
    return crc;
}

}  // namespace velora

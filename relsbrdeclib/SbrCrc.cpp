#include "SbrCrc.h"

namespace velora::sbr {

int SbrCrcBits(bool stereo, bool header) {
    if (stereo) return header ? kSbrCrcBitsStereoHeader : kSbrCrcBitsStereo;
    return header ? kSbrCrcBitsMonoHeader : kSbrCrcBitsMono;
}

uint32_t SbrCrc(const uint8_t* data, int bytes, int start, int count) {
    uint32_t reg = 0xFF;
    if (data == nullptr || bytes <= 0 || start < 0) return reg;
    const int total = bytes * 8;
    int end = start + (count > 0 ? count : 0);
    if (end > total) end = total;
    for (int at = start; at < end; ++at) {
        const uint32_t bit = (static_cast<uint32_t>(data[at >> 3]) >> (7 - (at & 7))) & 1u;
        const uint32_t feedback = ((reg >> 7) & 1u) ^ bit;
        reg = ((reg << 1) & 0xFFu) ^ (feedback != 0 ? 0x45u : 0u);
    }
    return reg;
}

}  // namespace velora::sbr

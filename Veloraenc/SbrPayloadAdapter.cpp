#include "SbrPayloadAdapter.h"

namespace velora::enc {
namespace {

constexpr int kMarkerBits = 4;
constexpr int kSkippedBits = kMarkerBits + 1;  // marker and flag come from the container
constexpr int kMaxContainerBytes = 510;        // the longest length a container can state

}  // namespace

void ToContainerData(const uint8_t* payload, int bits, uint8_t* scratch, SbrContainerData& container) {
    container = SbrContainerData{};
    if (payload == nullptr || bits <= kSkippedBits) return;
    const int dataBits = bits - kSkippedBits;
    const int dataBytes = (dataBits + 7) / 8;
    // The container states (1 + data bits, padded) - 4 bits in whole bytes.
    if (dataBytes > kSbrContainerScratchBytes || (1 + dataBits + 7 - kMarkerBits) / 8 > kMaxContainerBytes) return;
    const int lastByte = (bits - 1) / 8;
    for (int i = 0; i < dataBytes; ++i) {
        // Source bits [5 + 8i, 13 + 8i): the low 3 bits of byte i and the high 5 of byte i + 1.
        const uint32_t high = payload[i];
        const uint32_t low = i + 1 <= lastByte ? payload[i + 1] : 0u;
        scratch[i] = static_cast<uint8_t>(((high << kSkippedBits) | (low >> (8 - kSkippedBits))) & 0xFFu);
    }
    container.present = true;
    container.header = (payload[0] & 0x20u) != 0;            // the marker's H bit
    container.optionalFields = (payload[0] & 0x08u) != 0;    // the CRC flag
    container.data = scratch;
    container.dataBits = dataBits;
}

}  // namespace velora::enc

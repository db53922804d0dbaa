// Status codes of the decoding core. The top two bits are the severity:
// 0 success, 1 information, 2 warning, 3 error.
#pragma once

#include <cstdint>

namespace velora {

enum Mp3Ssc : uint32_t {
    kSscSuccess = 0x00000000u,
    kSscErrParameter = 0xC0000001u,
    kSscErrMemory = 0xC0000002u,
    kSscErrHandle = 0xC0000003u,
    kSscIoGeneric = 0x80010001u,
    kSscIoOpen = 0x80010002u,
    kSscIoClose = 0x80010003u,
    kSscIoRead = 0x80010004u,
    kSscInfoCrc = 0x41010001u,
    kSscInfoNoMainData = 0x41010002u,
    kSscInfoVeloraStream = 0x41010003u,
    kSscErrDecoder = 0xC1010001u,
    kSscErrLayer = 0xC1010002u,
    kSscErrBufferSize = 0xC1010003u,
    kSscSyncSearched = 0x81010001u,
    kSscSyncLost = 0x81010002u,
    kSscSyncNeedData = 0x81010003u,
    kSscSyncEof = 0x81010004u,
};

// A call succeeded (and delivered PCM) when the severity is success or information.
constexpr bool SscSucceeded(uint32_t code) { return (code & 0xC0000000u) <= 0x40000000u; }
constexpr bool SscIsWarning(uint32_t code) { return (code & 0xC0000000u) == 0x80000000u; }
constexpr bool SscIsError(uint32_t code) { return (code & 0xC0000000u) == 0xC0000000u; }

// The fixed text of a status code; "(Mp3Ssc) unknown SSC" for any other value.
const char* StatusText(uint32_t code);

}  // namespace velora

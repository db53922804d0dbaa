#include "Mp3Ssc.h"

namespace velora {

const char* StatusText(uint32_t code) {
    switch (code) {
        case kSscSuccess: return "(Mp3Ssc) success: no error";
        case kSscErrParameter: return "(Mp3Ssc) error: at least one parameter is wrong";
        case kSscErrMemory: return "(Mp3Ssc) error: not enough memory";
        case kSscErrHandle: return "(Mp3Ssc) error: invalid handle";
        case kSscIoGeneric: return "(Mp3Ssc) error: I/O - generic error";
        case kSscIoOpen: return "(Mp3Ssc) error: I/O - open failed";
        case kSscIoClose: return "(Mp3Ssc) error: I/O - close failed";
        case kSscIoRead: return "(Mp3Ssc) error: I/O - read error";
        case kSscInfoCrc: return "(Mp3Ssc) info: Decoder - CRC error";
        case kSscInfoNoMainData: return "(Mp3Ssc) info: Decoder - not enough main data present";
        case kSscInfoVeloraStream: return "(Mp3Ssc) info: Decoder - Velora stream detected";
        case kSscErrDecoder: return "(Mp3Ssc) error: Decoder - generic error";
        case kSscErrLayer: return "(Mp3Ssc) error: Decoder - wrong MPEG layer";
        case kSscErrBufferSize: return "(Mp3Ssc) error: Decoder - buffer is too small";
        case kSscSyncSearched: return "(Mp3Ssc) warning: Decoder - sync searched";
        case kSscSyncLost: return "(Mp3Ssc) warning: Decoder - sync lost";
        case kSscSyncNeedData: return "(Mp3Ssc) warning: Decoder - sync need data";
        case kSscSyncEof: return "(Mp3Ssc) warning: Decoder - sync eof";
        default: return "(Mp3Ssc) unknown SSC";
    }
}

}  // namespace velora

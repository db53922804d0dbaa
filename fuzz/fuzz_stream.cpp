// Frame synchronisation alone: an MpegStream fed arbitrary bytes, each frame it finds
// skipped. The walk must end in kSscSyncEof, only return codes of the sync family, and every
// frame it reports must be a whole Layer III frame inside the input, starting at its header.
//
// Byte 0 chooses the feed piece (bits 0-1: 1, 13, 417 or 4096 bytes); at most kMaxInput
// bytes are walked.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "MpegHeader.h"
#include "MpegStream.h"

namespace {

using velora::Mp3Ssc;
using velora::MpegHeader;
using velora::MpegStream;

[[noreturn]] void Fail(const char* what, long long detail) {
    std::fprintf(stderr, "fuzz_stream: %s (%lld)\n", what, detail);
    std::abort();
}

constexpr int kStorageSize = 8192;
constexpr int kPieces[4] = {1, 13, 417, 4096};
constexpr size_t kMaxInput = 16384;

uint32_t WordAt(const uint8_t* bytes, long long bitOffset) {
    uint32_t word = 0;
    for (long long i = bitOffset; i < bitOffset + 32; ++i) {
        const auto byte = static_cast<size_t>(i >> 3);
        word = word << 1 | ((bytes[byte] >> (7 - (i & 7))) & 1u);
    }
    return word;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // Longer inputs only repeat what the first frames show and slow the search down.
    if (size > kMaxInput) size = kMaxInput;
    const size_t piece = static_cast<size_t>(kPieces[data[0] & 3]);
    const uint8_t* bytes = data + 1;
    const size_t length = size - 1;
    const long long totalBits = static_cast<long long>(length) * 8;

    std::vector<uint8_t> storage(kStorageSize);
    MpegStream stream;
    stream.Init(storage.data(), kStorageSize);

    size_t fed = 0;
    auto feed = [&] {
        if (fed < length) {
            const size_t chunk = piece < length - fed ? piece : length - fed;
            const int taken = stream.Feed(bytes + fed, static_cast<int>(chunk));
            if (taken < 0 || static_cast<size_t>(taken) > chunk) Fail("Feed took too much", taken);
            fed += static_cast<size_t>(taken);
        }
        if (fed == length) stream.SetEndOfData();
    };
    feed();

    const long long budget = 1000 + 4 * static_cast<long long>(length);
    long long previousEnd = 0;
    for (long long calls = 1;; ++calls) {
        if (calls > budget) Fail("NextFrame did not reach kSscSyncEof", calls);
        const Mp3Ssc status = stream.NextFrame();
        switch (status) {
            case velora::kSscSuccess: {
                const MpegHeader& h = stream.Header();
                const long long offset =
                    static_cast<long long>(fed) * 8 - stream.Buffer().UnreadBits();
                if (h.layer != 3) Fail("frame is not Layer III", h.layer);
                if (h.frameBits < h.headerBits + h.SideInfoBytes() * 8)
                    Fail("frame too short", h.frameBits);
                if (offset < previousEnd) Fail("frame overlaps the previous one", offset);
                if (offset + h.frameBits > totalBits) Fail("frame runs past the input", offset);
                if (WordAt(bytes, offset) != h.word)
                    Fail("header not at the reported frame", offset);
                if ((h.word & velora::kSyncPatternMask) != stream.SyncPattern())
                    Fail("header does not match the sync pattern", offset);
                stream.Buffer().Skip(h.frameBits);
                previousEnd = offset + h.frameBits;
                break;
            }
            case velora::kSscSyncSearched:
            case velora::kSscSyncNeedData:
                feed();
                break;
            case velora::kSscSyncLost:
                break;
            case velora::kSscSyncEof:
                return 0;
            default:
                Fail("unexpected status", static_cast<long long>(status));
        }
    }
}

// Drives a Veloradecoder over arbitrary bytes the way a player does and checks what a
// caller relies on: the loop ends in kSscSyncEof, no error the input cannot cause, byte
// counts that match the frame, finite output, and no write outside the caller's buffers.
//
// Byte 0 chooses the configuration: bits 0-1 shift (3 counts as 0), bit 2 mono, bit 3 float
// output, bits 4-5 the feed piece (29, 417, 4096 or 8192 bytes), bit 6 a Reset once half
// the input has gone in, bit 7 a second decode from differently filled memory, which must
// give the same statuses and output (a read of uninitialised state shows up there).
//
// Work per input is bounded so that the search stays fast: at most kMaxInput bytes and
// kMaxFrames frames are decoded, and the second decode runs on inputs of at most
// kMaxCompared bytes. Sixteen frames hold the six the enhancement's probe reads and the few
// the reservoir reaches back over.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "Veloradecoder.h"

namespace {

using velora::FrameInfo;
using velora::Mp3Ssc;
using velora::Veloradecoder;
using velora::VeloradecoderPtr;

[[noreturn]] void Fail(const char* what, unsigned long long detail) {
    std::fprintf(stderr, "fuzz_decoder: %s (%llu)\n", what, detail);
    std::abort();
}

// No Layer III frame can decode beyond this: the largest requantised line (8206^(4/3) x
// 32768, about 5.4e9), or a concealed one scaled to a band's stored energy, through stereo,
// IMDCT with overlap-add and synthesis stays below about 1e14.
constexpr float kOutputBound = 1e15f;
// 29-byte pieces still split headers and side information across calls at every offset
// (the frames' lengths vary); smaller ones cost far more: until the first frame is decoded,
// each call reads all the frames the probe waits for again.
constexpr int kPieces[4] = {29, 417, 4096, 8192};
constexpr size_t kMaxInput = 16384;
constexpr int kMaxFrames = 16;
constexpr size_t kMaxCompared = 2048;

// Veloradecoder::Create allocates with the nothrow operator new; the memory it gets is
// filled with this byte.
unsigned char heapFill = 0xA5;

struct Config {
    int shift;
    bool mono;
    bool floatOutput;
    size_t piece;
    bool resetMidway;
};

// Every status and every byte of output, in order.
struct Trace {
    std::vector<uint32_t> statuses;
    std::vector<uint8_t> output;
};

void Run(const uint8_t* bytes, size_t length, const Config& c, Trace& trace) {
    const auto [shift, mono, floatOutput, piece, resetMidway] = c;
    VeloradecoderPtr decoder(Veloradecoder::Create(shift, mono, floatOutput));
    if (!decoder) Fail("Create failed", static_cast<unsigned long long>(shift));

    const size_t sampleSize = floatOutput ? sizeof(float) : sizeof(int16_t);
    // Exactly the documented sizes, so that AddressSanitizer sees any write past them.
    std::vector<uint8_t> out(velora::kMaxFrameSamples * sampleSize);
    std::vector<char> text(velora::kAncillaryTextBufferSize);
    std::vector<uint8_t> levels(8);

    // Every call either consumes input, finds a frame (at least 24 bytes) or asks for a
    // piece; a few calls per byte is far more than a working decoder needs.
    const long long budget = 1000 + 4 * static_cast<long long>(length);
    long long calls = 0;
    int frames = 0;
    size_t fed = 0;
    bool wasReset = false;
    bool wantData = true;

    for (;;) {
        if (wantData && fed < length) {
            const size_t chunk = piece < length - fed ? piece : length - fed;
            const int taken = decoder->Feed(bytes + fed, static_cast<int>(chunk));
            if (taken < 0 || static_cast<size_t>(taken) > chunk) Fail("Feed took too much", chunk);
            fed += static_cast<size_t>(taken);
        }
        if (resetMidway && !wasReset && fed >= length / 2) {
            decoder->Reset();
            wasReset = true;
        }
        // Reset clears the end-of-data mark together with the buffer, so it is set again.
        if (fed == length) decoder->SetEndOfData();

        if (++calls > budget) Fail("decoding did not reach kSscSyncEof", calls);
        int written = -1;
        int textLength = -1;
        const Mp3Ssc status = decoder->Decode(out.data(), static_cast<int>(out.size()), &written,
                                              true, text.data(), &textLength);
        trace.statuses.push_back(status);

        if (status == velora::kSscSyncEof) break;
        if (velora::SscIsError(status)) Fail("Decode returned an error", status);
        if (textLength != -1) {
            if (textLength < 0 || textLength >= velora::kAncillaryTextBufferSize)
                Fail("ancillary text length out of range", static_cast<unsigned>(textLength));
            if (text[static_cast<size_t>(textLength)] != '\0')
                Fail("ancillary text not terminated", static_cast<unsigned>(textLength));
        }

        if (velora::SscSucceeded(status)) {
            const FrameInfo& info = decoder->Info();
            // With the enhancement on, a frame is 1152 samples per channel at the output, and a
            // one-channel stream may ask for two (pseudo stereo), which mono output refuses.
            const bool enhanced = info.sbrActive != 0;
            const int samples = enhanced ? 1152 : (info.version == 0 ? 1152 : 576) >> shift;
            int channels = mono ? 1 : info.codedChannels;
            if (enhanced && !mono && channels == 1 && info.outputChannels == 2) channels = 2;
            if (info.outputChannels != channels) Fail("wrong output channel count", channels);
            if (written != samples * channels * static_cast<int>(sampleSize))
                Fail("wrong byte count", static_cast<unsigned>(written));
            trace.output.insert(trace.output.end(), out.begin(), out.begin() + written);
            if (floatOutput) {
                const size_t count = static_cast<size_t>(written) / sizeof(float);
                for (size_t i = 0; i < count; ++i) {
                    float x;
                    std::memcpy(&x, out.data() + i * sizeof(float), sizeof x);
                    if (!std::isfinite(x) || std::fabs(x) >= kOutputBound)
                        Fail("float sample not finite or out of range", i);
                }
            }
            decoder->BandLevels(8, levels.data());
            for (uint8_t level : levels) {
                if (level > 127) Fail("band level above 127", level);
            }
            const float* gains = decoder->Gains();
            for (int g = 0; g < velora::kEqualiserBands; ++g) {
                if (!std::isfinite(gains[g])) Fail("equaliser gain not finite", g);
            }
        } else if (written != 0) {
            Fail("bytes written without success", static_cast<unsigned>(written));
        }

        wantData = status == velora::kSscSyncNeedData || status == velora::kSscSyncSearched;
        // Every status but the sync family's stands for a decoded frame.
        if (!wantData && status != velora::kSscSyncLost && ++frames >= kMaxFrames) break;
    }
}

}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        void* memory = ::operator new(size);
        std::memset(memory, heapFill, size);
        return memory;
    } catch (...) {
        return nullptr;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    if (size > kMaxInput) size = kMaxInput;
    const uint8_t bits = data[0];
    const Config config{(bits & 3) == 3 ? 0 : bits & 3, (bits & 4) != 0, (bits & 8) != 0,
                        static_cast<size_t>(kPieces[(bits >> 4) & 3]), (bits & 0x40) != 0};
    Trace first;
    heapFill = 0xA5;
    Run(data + 1, size - 1, config, first);
    if ((bits & 0x80) && size - 1 <= kMaxCompared) {
        Trace second;
        heapFill = 0x5A;
        Run(data + 1, size - 1, config, second);
        if (second.statuses != first.statuses)
            Fail("statuses depend on uninitialised memory", first.statuses.size());
        if (second.output != first.output) {
            size_t at = 0;
            while (at < first.output.size() && at < second.output.size() &&
                   first.output[at] == second.output[at])
                ++at;
            Fail("output depends on uninitialised memory, first difference at byte", at);
        }
    }
    return 0;
}

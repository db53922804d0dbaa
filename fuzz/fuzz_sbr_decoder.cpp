// Runs the SBR decoder on arbitrary payloads frame after frame, the way the mp3 decoder
// object drives it, with a loud core signal: only the known result codes, and every output
// sample finite and within a sane range.
//
// Input: pieces of [control byte][length byte][payload bytes...] (SbrFuzzFrames.h); control
// bit 4 switches the regeneration off for the frame, bit 6 a mono core, bit 7 equaliser gains
// taken from the payload.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "SbrDecoder.h"
#include "SbrFuzzFrames.h"

namespace {

using namespace velora::sbr;

[[noreturn]] void Fail(const char* what, long long detail) {
    std::fprintf(stderr, "fuzz_sbr_decoder: %s (%lld)\n", what, detail);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static velora::SbrFrame frame;
    static float samples[2 * kSbrOutputFrame];
    static const int edges[8] = {1, 2, 4, 7, 11, 16, 22, 32};
    static float gains[8];
    SbrFuzzFrames frames(data, size);
    uint8_t control = 0;
    SbrDecoder* decoder = nullptr;
    uint32_t noise = 1;
    int frameIndex = 0;
    // Nine frames hold a header period of the seeds' streams and the next header (a header
    // every eighth frame); more only slow the search down: each frame runs both filter banks
    // over 1152 samples.
    while (frameIndex < 9 && frames.Next(frame, control)) {
        const int channels = (control & 0x40) != 0 ? 1 : 2;
        if (decoder == nullptr) {
            decoder = SbrDecoder::Create(22050, 576, DefaultSbrConfig(576), frame);
            if (decoder == nullptr) Fail("creation", 0);
        }
        for (int i = 0; i < 8; ++i)
            gains[i] = (control & 0x80) != 0 && frame.length > i ? frame.payload[i] / 64.0f : 1.0f;
        decoder->SetEnabled((control & 0x10) == 0);
        decoder->SetEqualiser(8, edges, gains);
        for (int n = 0; n < 576 * channels; ++n) {
            noise = noise * 1664525u + 1013904223u;
            samples[n] = static_cast<float>(static_cast<int32_t>(noise) >> 16);
        }
        const int result = decoder->Process(frame, samples, channels);
        if (result != 0 && result != 11 && result != 12 && result != 13) Fail("unknown result", result);
        if (result != 0) {
            SbrDecoder::Destroy(decoder);
            decoder = nullptr;
            ++frameIndex;
            continue;
        }
        const int outChannels = decoder->OutputChannels(channels);
        if (outChannels < 1 || outChannels > 2) Fail("output channels", outChannels);
        for (int n = 0; n < kSbrOutputFrame * outChannels; ++n) {
            if (!std::isfinite(samples[n]) || std::fabs(samples[n]) > 1e12f) Fail("output sample", frameIndex);
        }
        ++frameIndex;
    }
    SbrDecoder::Destroy(decoder);
    return 0;
}

// Test support: decodes a whole byte stream through a Veloradecoder the way a player does.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "Veloradecoder.h"

namespace velora::test {

struct Decoded {
    std::vector<int16_t> pcm;     // 16-bit output, or empty in float mode
    std::vector<float> floats;    // float output
    std::vector<Mp3Ssc> statuses;  // every status Decode returned
    std::vector<FrameInfo> infos;  // Info() after each successful decode
    Mp3Ssc last = kSscSuccess;
};

// Feeds `bytes` in `piece`-sized chunks, decodes until end of stream.
inline Decoded DecodeAll(const std::vector<uint8_t>& bytes, int shift = 0, bool mono = false,
                         bool floatOutput = false, int piece = 4096) {
    Decoded result;
    VeloradecoderPtr decoder(Veloradecoder::Create(shift, mono, floatOutput));
    if (!decoder) return result;
    size_t offset = 0;
    std::vector<uint8_t> out(kMaxFrameSamples * 4);
    for (long guard = 0; guard < 10000000; ++guard) {
        while (offset < bytes.size()) {
            const int want = static_cast<int>(std::min<size_t>(piece, bytes.size() - offset));
            const int taken = decoder->Feed(bytes.data() + offset, want);
            offset += static_cast<size_t>(taken);
            if (taken < want) break;
        }
        if (offset >= bytes.size()) decoder->SetEndOfData();
        int written = 0;
        const Mp3Ssc status = decoder->Decode(out.data(), static_cast<int>(out.size()), &written,
                                              true, nullptr, nullptr);
        result.statuses.push_back(status);
        result.last = status;
        if (status == kSscSyncEof) break;
        if (SscIsError(status)) break;
        if (SscSucceeded(status)) {
            result.infos.push_back(decoder->Info());
            if (floatOutput) {
                const float* f = reinterpret_cast<const float*>(out.data());
                result.floats.insert(result.floats.end(), f, f + written / 4);
            } else {
                const int16_t* s = reinterpret_cast<const int16_t*>(out.data());
                result.pcm.insert(result.pcm.end(), s, s + written / 2);
            }
        }
    }
    return result;
}

struct Comparison {
    double psnr = 0.0;
    int maxDiff = 0;
    size_t compared = 0;
};

inline Comparison Compare(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    Comparison c;
    c.compared = std::min(a.size(), b.size());
    double sum = 0.0;
    for (size_t i = 0; i < c.compared; ++i) {
        const int d = a[i] - b[i];
        sum += static_cast<double>(d) * d;
        c.maxDiff = std::max(c.maxDiff, d < 0 ? -d : d);
    }
    const double mse = c.compared ? sum / static_cast<double>(c.compared) : 0.0;
    c.psnr = mse > 0.0 ? 10.0 * std::log10(32767.0 * 32767.0 / mse) : 200.0;
    return c;
}

}  // namespace velora::test

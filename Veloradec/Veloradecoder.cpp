#include "Veloradecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Layer3Decoder.h"
#include "MpegStream.h"
#include "SbrHandoff.h"

namespace velora {
namespace {

constexpr int kInputBufferSize = 8192;
static_assert(kAncillaryTextBufferSize == kAncillaryTextCapacity,
              "callers size the text buffer by the public constant");

// Converts to 16-bit by rounding to nearest (ties to even) and saturating.
inline int16_t ToPcm16(float x) {
    // Adding and removing 1.5 * 2^23 rounds in the default rounding mode.
    constexpr float kRounder = 12582912.0f;
    const float v = x < 32767.0f ? (x > -32768.0f ? x : -32768.0f) : 32767.0f;
    return static_cast<int16_t>(static_cast<int32_t>((v + kRounder) - kRounder));
}

void ToPcm16(const float* in, int16_t* out, int count) {
    int i = 0;
#if defined(__SSE2__)
    // Clamping first keeps the conversion in range; it rounds by the default mode.
    const __m128 high = _mm_set1_ps(32767.0f);
    const __m128 low = _mm_set1_ps(-32768.0f);
    for (; i + 8 <= count; i += 8) {
        const __m128 a = _mm_max_ps(_mm_min_ps(_mm_loadu_ps(in + i), high), low);
        const __m128 b = _mm_max_ps(_mm_min_ps(_mm_loadu_ps(in + i + 4), high), low);
        const __m128i packed = _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), packed);
    }
#endif
    for (; i < count; ++i) out[i] = ToPcm16(in[i]);
}

struct DecoderObject final : Veloradecoder {
    FrameInfo info{};
    int shift = 0;
    bool mono = false;
    bool floatOutput = false;

    uint8_t inputStorage[kInputBufferSize];
    MpegStream stream;
    Layer3Decoder core;
    float samples[kMaxFrameSamples];

    bool sbrProbePending = true;
    bool sbrActive = false;
    bool veloraPayloadSeen = false;
    SbrFrame sbrFrame{};
    float gains[kEqualiserBands];
    bool endOfStream = false;

    DecoderObject(int downsamplingShift, bool monoOutput, bool floatOut)
        : shift(downsamplingShift), mono(monoOutput), floatOutput(floatOut) {
        stream.Init(inputStorage, kInputBufferSize);
        std::fill(std::begin(gains), std::end(gains), 1.0f);
        std::fill(std::begin(samples), std::end(samples), 0.0f);
    }

    void UpdateInfo(Mp3Ssc coreStatus) {
        const MpegHeader& h = stream.Header();
        info.layer = h.layer;
        info.version = h.version;
        info.bitrate = h.bitrate;
        info.bitrateIndex = h.bitrateIndex;
        info.codedChannels = h.channels;
        info.codedSamplingRate = h.samplingRate;
        info.outputChannels = mono ? 1 : h.channels;
        info.outputSamplingRate = h.samplingRate >> shift;
        info.outputBitsPerSample = 16;
        info.frameBits = h.frameBits;
        info.frameDurationMs = h.frameDurationMs;
        info.crcError = coreStatus == kSscInfoCrc ? 1 : 0;
        info.missingMainData = coreStatus == kSscInfoNoMainData ? 1 : 0;
    }

    // The hand-off record for the enhancement layer of this frame.
    void BuildSbrFrame() {
        const int length = core.SbrPayloadLength();
        sbrFrame.present = (sbrActive && length > 0) ? 1 : 0;
        sbrFrame.stereo = stream.Header().channels == 2 ? 1 : 0;
        sbrFrame.kind = (length > 0 && (core.SbrPayload()[0] & 0x20)) ? 13 : 12;
        sbrFrame.length = length;
        std::memcpy(sbrFrame.payload, core.SbrPayload(), static_cast<size_t>(length));
    }

    Mp3Ssc Decode(void* destination, int destinationSize, int* bytesWritten, char* text,
                  int* textLength) {
        *bytesWritten = 0;
        Mp3Ssc status = stream.NextFrame();
        if (status != kSscSuccess) {
            if (status == kSscSyncEof) endOfStream = true;
            if (status == kSscSyncLost) core.Reset(true);
            info.sbrActive = sbrActive ? 1 : 0;
            return status;
        }

        int coreBytes = 0;
        // The core checks room for 16-bit samples; float samples take twice that.
        const int coreDestinationSize = floatOutput ? destinationSize / 2 : destinationSize;
        status = core.DecodeFrame(stream, samples, coreDestinationSize, &coreBytes, text,
                                  textLength, shift, mono);
        UpdateInfo(status);
        if (!SscSucceeded(status)) {
            info.sbrActive = sbrActive ? 1 : 0;
            return status;
        }

        if (sbrProbePending) {
            sbrProbePending = false;
            veloraPayloadSeen = core.SbrPayloadLength() > 0;
            // The enhancement decoder is not part of this build yet: a stream carrying its
            // payload decodes as plain mp3, and sbrActive stays 0.
            sbrActive = false;
        }
        BuildSbrFrame();

        const int channels = info.outputChannels;
        const int perChannel = stream.Header().SamplesPerFrame() >> shift;
        const int count = perChannel * channels;
        if (destination != nullptr) {
            if (floatOutput) {
                const int bytes = count * static_cast<int>(sizeof(float));
                std::memcpy(destination, samples, static_cast<size_t>(bytes));
                *bytesWritten = bytes;
            } else {
                ToPcm16(samples, static_cast<int16_t*>(destination), count);
                *bytesWritten = count * 2;
            }
        }
        info.sbrActive = sbrActive ? 1 : 0;
        return status;
    }

    void Reset() {
        std::fill(std::begin(gains), std::end(gains), 1.0f);
        endOfStream = false;
        stream.Reset();
        core.Reset(true);
    }

    void BandLevels(int count, uint8_t* levels) const {
        if (count <= 0 || levels == nullptr) return;
        count = std::min(count, 32);
        const int channels = mono ? 1 : std::max(1, static_cast<int>(info.codedChannels));
        float rms[32];
        for (int sb = 0; sb < 32; ++sb) {
            float sum = 0.0f;
            for (int ch = 0; ch < channels; ++ch) {
                const float (*hybrid)[32] = core.Hybrid(ch);
                for (int t = 0; t < 18; ++t) sum += hybrid[t][sb] * hybrid[t][sb];
            }
            rms[sb] = std::sqrt(sum / static_cast<float>(18 * channels));
        }
        for (int g = 0; g < count; ++g) {
            const int begin = g * 32 / count;
            const int end = (g + 1) * 32 / count;
            float mean = 0.0f;
            for (int sb = begin; sb < end; ++sb) mean += rms[sb];
            mean /= static_cast<float>(end - begin);
            const double level = 20.0 * std::log10(static_cast<double>(mean) / 32768.0);
            levels[g] = level < -64.0 ? 0
                                      : static_cast<uint8_t>(std::min((level + 64.0) * 1.5, 127.0));
        }
    }
};

DecoderObject* Self(Veloradecoder* d) { return static_cast<DecoderObject*>(d); }
const DecoderObject* Self(const Veloradecoder* d) { return static_cast<const DecoderObject*>(d); }

}  // namespace

Veloradecoder* Veloradecoder::Create(int downsamplingShift, bool monoOutput, bool floatOutput) {
    if (downsamplingShift < 0 || downsamplingShift > 2) return nullptr;
    return new (std::nothrow) DecoderObject(downsamplingShift, monoOutput, floatOutput);
}

void Veloradecoder::Destroy(Veloradecoder* decoder) { delete Self(decoder); }

int Veloradecoder::Feed(const uint8_t* bytes, int length) {
    return Self(this)->stream.Feed(bytes, length);
}

Mp3Ssc Veloradecoder::Decode(void* destination, int destinationSize, int* bytesWritten,
                             bool /*sbrEnable*/, char* text, int* textLength) {
    int ignored = 0;
    return Self(this)->Decode(destination, destinationSize,
                              bytesWritten != nullptr ? bytesWritten : &ignored, text, textLength);
}

const FrameInfo& Veloradecoder::Info() const { return Self(this)->info; }
void Veloradecoder::SetEndOfData() { Self(this)->stream.SetEndOfData(); }
void Veloradecoder::Reset() { Self(this)->Reset(); }
void Veloradecoder::BandLevels(int count, uint8_t* levels) const {
    Self(this)->BandLevels(count, levels);
}
float* Veloradecoder::Gains() { return Self(this)->gains; }

}  // namespace velora

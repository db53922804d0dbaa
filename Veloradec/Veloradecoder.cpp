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
#include "SbrConfig.h"
#include "SbrDecoder.h"
#include "SbrHandoff.h"

namespace velora {
namespace {

constexpr int kInputBufferSize = 8192;
// Upper QMF band of each equaliser group but the last, which runs to band 63.
constexpr int kEqualiserEdges[kEqualiserBands] = {1, 2, 4, 7, 11, 16, 22, 32};
static_assert(kMaxFrameSamples >= sbr::kSbrOutputFrame * 2,
              "the sample buffer holds an enhanced stereo frame");
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
    // The core frame while the enhancement works on `samples` in place, so that a frame it
    // refuses still comes out as the core decoded it.
    float coreSamples[kMaxFrameSamples];

    bool sbrProbePending = true;
    bool sbrActive = false;
    bool veloraPayloadSeen = false;
    sbr::SbrDecoder* sbr = nullptr;
    SbrFrame sbrFrame{};
    float gains[kEqualiserBands];
    bool endOfStream = false;

    // A decoded frame that did not fit the destination (only when the enhancement turned on
    // or widened the output during that frame): delivered by the next call with room.
    bool held = false;
    Mp3Ssc heldStatus = kSscSuccess;
    int heldCount = 0;

    DecoderObject(int downsamplingShift, bool monoOutput, bool floatOut)
        : shift(downsamplingShift), mono(monoOutput), floatOutput(floatOut) {
        stream.Init(inputStorage, kInputBufferSize);
        std::fill(std::begin(gains), std::end(gains), 1.0f);
        std::fill(std::begin(samples), std::end(samples), 0.0f);
    }
    ~DecoderObject() { ReleaseSbr(); }
    DecoderObject(const DecoderObject&) = delete;
    DecoderObject& operator=(const DecoderObject&) = delete;

    void ReleaseSbr() {
        if (sbr != nullptr) sbr::SbrDecoder::Destroy(sbr);
        sbr = nullptr;
        sbrActive = false;
    }

    int SampleBytes() const { return floatOutput ? static_cast<int>(sizeof(float)) : 2; }
    int CoreChannels() const { return mono ? 1 : stream.Header().channels; }

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
        if (sbr != nullptr) {
            info.outputSamplingRate =
                static_cast<int32_t>(sbr->RateFactor() * static_cast<float>(h.samplingRate));
            info.outputChannels = sbr->OutputChannels(CoreChannels());
        }
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

    // The first decoded frame decides for the life of the object: with a payload the stream
    // is Velora, and the enhancement runs when its decoder accepts the core format.
    void ProbeSbr() {
        sbrProbePending = false;
        veloraPayloadSeen = core.SbrPayloadLength() > 0;
        if (!veloraPayloadSeen) return;
        const int coreSamplesPerFrame = stream.Header().SamplesPerFrame() >> shift;
        BuildSbrFrame();
        sbrFrame.present = 1;
        sbr = sbr::SbrDecoder::Create(stream.Header().samplingRate, coreSamplesPerFrame,
                                      sbr::DefaultSbrConfig(coreSamplesPerFrame), sbrFrame);
        sbrActive = sbr != nullptr;
        // Mono output stays mono also when the stream asks for pseudo stereo.
        if (sbr != nullptr) sbr->AllowPseudoStereo(!mono);
    }

    // Runs the enhancement on `samples`; false (and the enhancement gone for good) when it
    // refused the frame, which then keeps the core output.
    bool ProcessSbr(bool enable, int coreCount) {
        std::memcpy(coreSamples, samples, static_cast<size_t>(coreCount) * sizeof(float));
        sbr->SetEnabled(enable);
        sbr->SetEqualiser(kEqualiserBands, kEqualiserEdges, gains);
        if (sbr->Process(sbrFrame, samples, CoreChannels()) == 0) return true;
        ReleaseSbr();
        std::memcpy(samples, coreSamples, static_cast<size_t>(coreCount) * sizeof(float));
        return false;
    }

    void Deliver(void* destination, int count, int* bytesWritten) {
        if (destination == nullptr) return;
        if (floatOutput) {
            const int bytes = count * static_cast<int>(sizeof(float));
            std::memcpy(destination, samples, static_cast<size_t>(bytes));
            *bytesWritten = bytes;
        } else {
            ToPcm16(samples, static_cast<int16_t*>(destination), count);
            *bytesWritten = count * 2;
        }
    }

    Mp3Ssc Finish(Mp3Ssc status) {
        info.sbrActive = sbrActive ? 1 : 0;
        return status;
    }

    Mp3Ssc DeliverHeld(void* destination, int destinationSize, int* bytesWritten) {
        if (destination != nullptr && destinationSize < heldCount * SampleBytes()) {
            return Finish(kSscErrBufferSize);
        }
        held = false;
        Deliver(destination, heldCount, bytesWritten);
        return Finish(heldStatus);
    }

    Mp3Ssc Decode(void* destination, int destinationSize, int* bytesWritten, bool sbrEnable,
                  char* text, int* textLength) {
        *bytesWritten = 0;
        if (held) return DeliverHeld(destination, destinationSize, bytesWritten);
        Mp3Ssc status = stream.NextFrame();
        if (status != kSscSuccess) {
            if (status == kSscSyncEof) endOfStream = true;
            if (status == kSscSyncLost) core.Reset(true);
            return Finish(status);
        }

        // With the enhancement on, a frame is 1152 samples per channel at the output: refused
        // before decoding, as the core refuses a destination too small for its own frame.
        if (sbr != nullptr) {
            const int needed =
                sbr::kSbrOutputFrame * sbr->OutputChannels(CoreChannels()) * SampleBytes();
            if (destinationSize < needed) {
                UpdateInfo(kSscErrBufferSize);
                return Finish(kSscErrBufferSize);
            }
        }

        int coreBytes = 0;
        // The core checks room for 16-bit samples; float samples take twice that.
        const int coreDestinationSize = floatOutput ? destinationSize / 2 : destinationSize;
        status = core.DecodeFrame(stream, samples, coreDestinationSize, &coreBytes, text,
                                  textLength, shift, mono);
        UpdateInfo(status);
        if (!SscSucceeded(status)) return Finish(status);

        if (sbrProbePending) ProbeSbr();
        BuildSbrFrame();

        const int coreChannels = CoreChannels();
        int perChannel = stream.Header().SamplesPerFrame() >> shift;
        int channels = coreChannels;
        if (sbr != nullptr && ProcessSbr(sbrEnable, perChannel * coreChannels)) {
            perChannel = sbr::kSbrOutputFrame;
            channels = sbr->OutputChannels(coreChannels);
        }
        UpdateInfo(status);

        const int count = perChannel * channels;
        if (destination != nullptr && destinationSize < count * SampleBytes()) {
            // Only the frame that turned the enhancement on or widened it to two channels
            // gets here; the next call with room delivers it.
            held = true;
            heldStatus = status;
            heldCount = count;
            return Finish(kSscErrBufferSize);
        }
        Deliver(destination, count, bytesWritten);
        return Finish(status);
    }

    void Reset() {
        std::fill(std::begin(gains), std::end(gains), 1.0f);
        endOfStream = false;
        held = false;
        stream.Reset();
        core.Reset(true);
        if (sbr != nullptr) sbr->Reset();
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
                             bool sbrEnable, char* text, int* textLength) {
    int ignored = 0;
    return Self(this)->Decode(destination, destinationSize,
                              bytesWritten != nullptr ? bytesWritten : &ignored, sbrEnable, text,
                              textLength);
}

const FrameInfo& Veloradecoder::Info() const { return Self(this)->info; }
bool Veloradecoder::VeloraStream() const { return Self(this)->veloraPayloadSeen; }
void Veloradecoder::SetEndOfData() { Self(this)->stream.SetEndOfData(); }
void Veloradecoder::Reset() { Self(this)->Reset(); }
void Veloradecoder::BandLevels(int count, uint8_t* levels) const {
    Self(this)->BandLevels(count, levels);
}
float* Veloradecoder::Gains() { return Self(this)->gains; }

}  // namespace velora

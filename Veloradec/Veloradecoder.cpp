#include "Veloradecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Crc16.h"
#include "Layer3Decoder.h"
#include "MpegStream.h"
#include "SbrBitReader.h"
#include "SbrConfig.h"
#include "SbrDecoder.h"
#include "SbrHandoff.h"
#include "SbrPayloadParser.h"
#include "SideInfo.h"

namespace velora {
namespace {

constexpr int kInputBufferSize = 8192;
// Upper QMF band of each equaliser group but the last, which runs to band 63.
constexpr int kEqualiserEdges[kEqualiserBands] = {1, 2, 4, 7, 11, 16, 22, 32};
static_assert(kMaxFrameSamples >= sbr::kSbrOutputFrame * 2,
              "the sample buffer holds an enhanced stereo frame");
static_assert(kAncillaryTextBufferSize == kAncillaryTextCapacity,
              "callers size the text buffer by the public constant");

// The SBR probe. A stream counts as Velora when the first decoded frame and the frames that
// follow it, up to kProbeAudioFrames frames with audio in all (a first frame without main
// data, such as a VBR header frame, comes on top), each carry an SBR payload that passes
// every check the format offers: marker, CRC, header values, element syntax and length, and
// its place in the frame's ancillary data (it ends before the next frame's main data
// begins). Fewer frames are judged only when the stream has no more, and never the header
// frame alone. A plain frame whose
// ancillary bytes look like a payload by marker, length and CRC flag (about one first frame
// in two hundred of low-rate encoder output) also passes the 7-bit CRC once in 128 times;
// four such frames in a row do not occur by chance. The frames after the first are read
// ahead from the input buffer, so the first frame already comes out in the stream's format;
// the first Decode waits for them (kSscSyncNeedData) until the buffer holds them, is full
// or the input has ended.
constexpr int kProbeAudioFrames = 4;
// The window, a leading frame without audio, and one more frame for where its main data
// begins.
constexpr int kProbeFramesHeld = kProbeAudioFrames + 2;
constexpr int kMaxAncillarySearch = 510;  // bytes behind the main data the core looks at

// A frame read ahead: its main-data area copied into the probe's bytes.
struct AheadFrame {
    int channels = 0;
    int areaStart = 0;  // in the probe's bytes
    int areaEnd = 0;
    int mainStart = 0;  // first main-data byte; negative when it lies before the bytes held
    int mainBits = 0;   // sum of part2_3_length
    bool crcOk = true;
    // The first byte behind the main data, where the payload starts.
    int PayloadStart() const { return mainStart + (mainBits + 7) / 8; }
};

// Bytes a payload of `length` (SbrFrame length) takes in the frame with its wrapper.
int WrappedBytes(int length) {
    const int after = length - 1;
    return after + (after >= 255 ? 3 : 2);
}

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
    // The first frame stands in the input while the probe waits for the frames after it.
    bool probeWaiting = false;
    bool sbrActive = false;
    bool veloraPayloadSeen = false;
    sbr::SbrPayloadProbe probe;
    SbrFrame probeFrame{};
    AheadFrame ahead[kProbeFramesHeld];
    uint8_t aheadBytes[kInputBufferSize];
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

    // Reads the frames held in the input from `view` (a copy of the stream's reader standing
    // on a frame header) and, with `copyAreas`, copies their main-data areas into aheadBytes
    // (without, only their headers are read). Returns how many
    // were read, at most `wanted`; `incomplete` when a frame was cut by the end of the bytes
    // held rather than by something that is no frame of this stream.
    int ReadAhead(BitBuffer view, int wanted, bool* incomplete, bool copyAreas = true) {
        *incomplete = false;
        int count = 0;
        int used = 0;
        while (count < wanted) {
            if (view.UnreadBits() < 32) {
                *incomplete = true;
                break;
            }
            const uint32_t word = view.Peek32();
            MpegHeader h;
            if ((word & kSyncPatternMask) != stream.SyncPattern() || !h.Parse(word)) break;
            if (view.UnreadBits() < h.frameBits) {
                *incomplete = true;
                break;
            }
            const int sideBits = h.SideInfoBytes() * 8;
            const int areaBytes = (h.frameBits - h.headerBits - sideBits) / 8;
            if (areaBytes < 0 || used + areaBytes > kInputBufferSize) break;
            if (!copyAreas) {
                // Only whether the frames are all here: their headers tell.
                used += areaBytes;
                view.Skip(h.frameBits);
                ++count;
                continue;
            }
            AheadFrame& f = ahead[count];
            view.ClearConsumed();
            f.crcOk = true;
            if (h.crcPresent) {
                // The CRC covers the header's last 16 bits and the side information.
                view.Skip(16);
                uint16_t crc = Crc16Update(kCrc16Initial, view, 16);
                const uint32_t stored = view.Read(16);
                crc = Crc16Update(crc, view, sideBits);
                view.Skip(-sideBits);
                f.crcOk = crc == stored;
            } else {
                view.Skip(32);
            }
            SideInfo side;
            ReadSideInfo(view, h.version == 0, h.channels, side);
            f.channels = h.channels;
            f.mainBits = 0;
            for (int gr = 0; gr < (h.version == 0 ? 2 : 1); ++gr) {
                for (int ch = 0; ch < h.channels; ++ch) f.mainBits += side.granule[gr][ch].part2_3_length;
            }
            f.areaStart = used;
            f.areaEnd = used + areaBytes;
            f.mainStart = used - side.main_data_begin;
            for (int i = 0; i < areaBytes; ++i) aheadBytes[used + i] = static_cast<uint8_t>(view.Read(8));
            used += areaBytes;
            view.Skip(h.frameBits - view.Consumed());
            ++count;
        }
        return count;
    }

    // The payload of read-ahead frame `f` as the core will find it; false when there is none.
    bool AheadPayload(const AheadFrame& f, SbrFrame& out) {
        const int start = f.PayloadStart();
        if (!f.crcOk || start < 0 || start > f.areaEnd) return false;
        const int available = std::min(f.areaEnd - start, kMaxAncillarySearch);
        if (available < 2) return false;
        sbr::SbrBitReader r(aheadBytes + start, available);
        const uint32_t marker = r.Read(4);
        int length = static_cast<int>(r.Read(8));
        int wrapper = 2;
        if (length == 255) {
            length += static_cast<int>(r.Read(8));
            wrapper = 3;
        }
        const bool fits = f.channels == 2 ? (marker == 0xC || marker == 0xE) : (marker == 0xD || marker == 0xF);
        if (!fits || wrapper > available || length > available - wrapper) return false;
        const uint32_t nibble = r.Read(4);
        if ((nibble & 8) == 0) return false;
        out.payload[0] = static_cast<uint8_t>(marker * 16 + nibble);
        for (int i = 0; i < length; ++i) out.payload[1 + i] = static_cast<uint8_t>(r.Read(8));
        out.length = length + 1;
        return true;
    }

    // Before the first frame is decoded: true while the frames the probe reads are not all
    // in the input and more input can still come.
    bool ProbeMustWait() {
        if (stream.Buffer().EndOfData() || stream.Buffer().Free() == 0) return false;
        bool incomplete = false;
        ReadAhead(stream.Buffer(), kProbeFramesHeld, &incomplete, false);
        return incomplete;
    }

    // After the core decoded the first frame (`coreStatus`): whether the stream is Velora.
    bool ProbeVelora(Mp3Ssc coreStatus) {
        const int firstLength = core.SbrPayloadLength();
        if (coreStatus != kSscSuccess || firstLength <= 0) return false;
        BitBuffer view = stream.Buffer();
        view.Skip(-stream.Header().frameBits);  // back to the first frame, still in the buffer
        bool incomplete = false;
        const int read = ReadAhead(view, kProbeFramesHeld, &incomplete);
        if (read < 1) return false;
        const int window = ahead[0].mainBits == 0 ? kProbeAudioFrames + 1 : kProbeAudioFrames;
        // Fewer frames than the window only at the end of the stream.
        if (read < window && incomplete && !stream.Buffer().EndOfData()) return false;
        const int frames = std::min(read, window);
        const int samplesPerFrame = stream.Header().SamplesPerFrame() >> shift;
        sbr::BeginPayloadProbe(probe, stream.Header().samplingRate,
                               sbr::DefaultSbrConfig(samplesPerFrame).tiltDb);
        for (int k = 0; k < frames; ++k) {
            const AheadFrame& f = ahead[k];
            SbrFrame& p = probeFrame;
            if (k == 0) {
                std::memcpy(p.payload, core.SbrPayload(), static_cast<size_t>(firstLength));
                p.length = firstLength;
            } else if (!AheadPayload(f, p)) {
                return false;
            }
            // The payload ends before the next frame's main data (or the frame) begins.
            const int limit = k + 1 < read ? ahead[k + 1].mainStart : f.areaEnd;
            if (f.PayloadStart() + WrappedBytes(p.length) > limit) return false;
            p.present = 1;
            p.stereo = f.channels == 2 ? 1 : 0;
            p.kind = (p.payload[0] & 0x20) != 0 ? 13 : 12;
            if (!sbr::ProbePayload(probe, p)) return false;
        }
        // A stream of one frame is judged on it; a header frame's signature alone is not enough.
        return frames >= 2 || ahead[0].mainBits > 0;
    }

    // The first decoded frame decides for the life of the object: a Velora stream (see the
    // probe above) gets the enhancement when its decoder accepts the core format.
    void ProbeSbr(Mp3Ssc coreStatus) {
        sbrProbePending = false;
        veloraPayloadSeen = ProbeVelora(coreStatus);
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
        // A first frame left standing while the probe waited is still the current frame.
        Mp3Ssc status = probeWaiting ? kSscSuccess : stream.NextFrame();
        probeWaiting = false;
        if (status != kSscSuccess) {
            if (status == kSscSyncEof) endOfStream = true;
            if (status == kSscSyncLost) core.Reset(true);
            return Finish(status);
        }
        if (sbrProbePending && ProbeMustWait()) {
            probeWaiting = true;
            return Finish(kSscSyncNeedData);
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

        if (sbrProbePending) ProbeSbr(status);
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
        probeWaiting = false;
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
                const float* hybrid = core.Hybrid(ch)[sb];
                for (int t = 0; t < kGranuleSlots; ++t) sum += hybrid[t] * hybrid[t];
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

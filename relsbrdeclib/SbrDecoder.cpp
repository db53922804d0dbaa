#include "SbrDecoder.h"

#include <cmath>
#include <cstring>
#include <new>

#include "SbrEnvelopeAdjuster.h"
#include "SbrEnvelopeDecoder.h"
#include "SbrEqualiser.h"
#include "SbrHfGenerator.h"
#include "SbrPayloadParser.h"
#include "SbrPseudoStereo.h"
#include "SbrQmfFrame.h"
#include "SbrWaveform.h"

namespace velora::sbr {
namespace {

constexpr float kSynthesisScale = -1.0f / 64.0f;

struct Channel {
    SbrQmfFrame qmf;
    SbrEnvelopeData envelopes;
    SbrPatches patches;
    bool patchesReady = false;
    AdjusterState adjuster;
    float chirp = 0.0f;
    int32_t previousInvfMode = 0;
    bool previousWaveforms = false;
    float input[kCoreFrameSamples];
};

struct DecoderObject final : SbrDecoder {
    SbrConfig config;
    int coreRate = 0;
    int outputRate = 0;
    int rateMode = 1;  // dual rate
    SbrParserState parser;
    Channel channel[2];
    SbrPseudoStereo pseudoStereo;
    bool enabled = true;
    bool pseudoStereoAllowed = true;
    int equaliserCount = 0;
    const int* equaliserEdges = nullptr;
    const float* equaliserGains = nullptr;
    // Each channel's output frame before interleaving.
    float planar[2][kOutputFrameSamples];
    float lowScale = kSynthesisScale;
    float highScaleSaved = kSynthesisScale;  // the configured scaling, kept while disabled

    // Patches and generator state of one channel after creation or a header reset.
    void Initialise(int ch) {
        Channel& c = channel[ch];
        const SbrChannelData& data = parser.channel[ch];
        c.patchesReady = BuildPatches(parser.freq[ch], outputRate, config.lowestSourceBand,
                                      config.patchGuard, parser.header.flagA != 0 ? data.patchMode : 0,
                                      c.patches);
        ResetEnvelopes(c.envelopes);
        ResetAdjuster(c.adjuster);
        c.chirp = 0.0f;
        c.previousInvfMode = 0;
        c.previousWaveforms = false;
    }

    void ClearHistories() {
        for (Channel& c : channel) {
            c.qmf.Reset();
            ResetAdjuster(c.adjuster);
            c.chirp = 0.0f;
            c.previousInvfMode = 0;
            c.previousWaveforms = false;
        }
        pseudoStereo.Reset();
    }

    float HighScale() const {
        if (!enabled) return 0.0f;
        // The last equaliser group also weighs the regenerated band.
        if (equaliserCount > 0 && equaliserGains != nullptr)
            return highScaleSaved * equaliserGains[equaliserCount - 1];
        return highScaleSaved;
    }

    void DecodeFrameEnvelopes() {
        const int elements = parser.elementChannels;
        const int ampRes = parser.header.ampRes;
        if (elements == 2 && parser.channel[0].coupled) {
            DecodeCoupledEnvelopes(parser.channel[0], parser.channel[1], parser.freq[0], ampRes,
                                   channel[0].envelopes, channel[1].envelopes);
            return;
        }
        for (int ch = 0; ch < elements; ++ch)
            DecodeEnvelopes(parser.channel[ch], parser.freq[ch], ampRes, channel[ch].envelopes);
    }

    // One channel through the QMF domain; `source` selects the parsed channel whose data
    // rebuild its high band.
    void ProcessChannel(int ch, int source, float* output, int stride) {
        Channel& c = channel[ch];
        const SbrChannelData& data = parser.channel[source];
        const SbrFreqData& freq = parser.freq[source];
        c.qmf.Analyse(c.input, 1);
        QmfMatrix& low = c.qmf.Low();
        QmfMatrix& high = c.qmf.High();
        const bool generate = enabled && data.valid && c.patchesReady && parser.header.received;
        // High-band rows this frame writes: none past the grid's borders (generator and
        // adjuster), none past the frame (waveforms).
        int highRowsUsed = kFrameSubsamples;
        if (generate) {
            const float target = ChirpTarget(c.patches.chirpRow, data.invfMode, c.previousInvfMode,
                                             config.chirpOverride);
            c.chirp = SmoothChirp(target, c.chirp);
            c.previousInvfMode = data.invfMode;
            const SbrFrameInfo& grid = channel[source].envelopes.grid;
            for (int e = 0; e <= grid.envelopes && e <= kMaxEnvelopes; ++e) {
                if (2 * grid.borders[e] > highRowsUsed) highRowsUsed = 2 * grid.borders[e];
            }
            GenerateHighBand(low, c.patches, c.chirp, 2 * grid.borders[0],
                             2 * grid.borders[grid.envelopes], high);
            AdjusterSettings settings;
            settings.limiterGainOverride = config.limiterGainOverride;
            settings.smoothingFilter = config.smoothingFilter;
            AdjustEnvelopes(channel[source].envelopes, freq, parser.header, settings, c.adjuster, high);
            c.previousWaveforms = ApplyWaveforms(data, freq.kx, c.previousWaveforms, low, high);
        } else {
            // Rows from 18 on are zero already (see MoveRows).
            std::memset(high.re, 0, sizeof(high.re[0]) * kFrameSubsamples);
            std::memset(high.im, 0, sizeof(high.im[0]) * kFrameSubsamples);
            c.previousWaveforms = false;
        }
        ApplyEqualiser(equaliserCount, equaliserEdges, equaliserGains, low);
        // The synthesis applies the -1/64 of the bank itself.
        c.qmf.Synthesise(freq.kx, freq.upper, lowScale / kSynthesisScale, HighScale() / kSynthesisScale,
                         output, stride);
        c.qmf.MoveRows(highRowsUsed);
    }

    int Process(const velora::SbrFrame& frame, float* samples, int channels) {
        if (samples == nullptr || channels < 1 || channels > 2) return kSbrErrUnusable;
        const int status = ParsePayload(parser, frame);
        if (status != kSbrOk) return status;
        if (parser.headerReset) {
            for (int ch = 0; ch < 2; ++ch) Initialise(ch);
        }
        DecodeFrameEnvelopes();

        if (channels == 2) {
            // Both channels in one pass: a constant stride lets it run on vectors.
            float* __restrict left = channel[0].input;
            float* __restrict right = channel[1].input;
            for (int n = 0; n < kCoreFrameSamples; ++n) {
                left[n] = samples[2 * n];
                right[n] = samples[2 * n + 1];
            }
        } else {
            std::memcpy(channel[0].input, samples, sizeof(channel[0].input));
        }
        const bool pseudo = OutputChannels(channels) == 2 && channels == 1;
        for (int ch = 0; ch < channels; ++ch) {
            // A mono output of a two-channel stream takes the first channel's data.
            const int source = parser.elementChannels == 2 || frame.stereo != 0 ? ch : 0;
            ProcessChannel(ch, source, channels == 1 && !pseudo ? samples : planar[ch], 1);
        }
        if (channels == 2) {
            for (int n = 0; n < kOutputFrameSamples; ++n) {
                samples[2 * n] = planar[0][n];
                samples[2 * n + 1] = planar[1][n];
            }
        }
        if (pseudo) {
            for (int n = 0; n < kOutputFrameSamples; ++n) samples[2 * n] = samples[2 * n + 1] = planar[0][n];
            pseudoStereo.Process(samples, kOutputFrameSamples, parser.header.pseudoStereoWidth);
        }
        return kSbrOk;
    }
};

DecoderObject* Self(SbrDecoder* d) { return static_cast<DecoderObject*>(d); }
const DecoderObject* Self(const SbrDecoder* d) { return static_cast<const DecoderObject*>(d); }

}  // namespace

SbrDecoder* SbrDecoder::Create(int coreRate, int coreSamples, const SbrConfig& config,
                               const velora::SbrFrame& /*first*/) {
    if (coreRate <= 0 || coreRate > kMaxCoreRate) return nullptr;
    if (coreSamples * 2 != kSbrOutputFrame) return nullptr;
    // The cross-fade of the envelope adjuster is built for a parameter of 2 and frames of
    // whole ramps.
    if (std::fabs(static_cast<float>(config.crossfadeSteps) * config.crossfadeStep - 2.0f) > 1e-4f)
        return nullptr;
    static_assert(kFrameSubsamples % kCrossfadeSubsamples == 0, "frames hold whole cross-fades");
    if (!std::isfinite(config.lowBandGain) || !std::isfinite(config.highBandGain) ||
        !std::isfinite(config.tiltDb) || !std::isfinite(config.chirpOverride))
        return nullptr;

    DecoderObject* d = new (std::nothrow) DecoderObject;
    if (d == nullptr) return nullptr;
    d->config = config;
    d->coreRate = coreRate;
    d->outputRate = 2 * coreRate;
    d->lowScale = kSynthesisScale * config.lowBandGain;
    d->highScaleSaved = kSynthesisScale * config.highBandGain;
    if (!InitParserState(d->parser, d->outputRate, config.tiltDb)) {
        delete d;
        return nullptr;
    }
    d->pseudoStereo.Init(d->outputRate);
    d->ClearHistories();
    for (int ch = 0; ch < 2; ++ch) d->Initialise(ch);
    return d;
}

void SbrDecoder::Destroy(SbrDecoder* decoder) {
    delete Self(decoder);
}

float SbrDecoder::RateFactor() const {
    switch (Self(this)->rateMode) {
        case 0: return 1.0f;
        case 1: return 2.0f;
        default: return -1.0f;
    }
}

int SbrDecoder::OutputChannels(int coreChannels) const {
    const DecoderObject* d = Self(this);
    if (coreChannels == 1 && d->pseudoStereoAllowed &&
        d->parser.header.channelMode == ChannelMode::kMonoAfterStereo)
        return 2;
    return coreChannels;
}

void SbrDecoder::AllowPseudoStereo(bool allowed) {
    Self(this)->pseudoStereoAllowed = allowed;
}

void SbrDecoder::SetEnabled(bool enabled) {
    Self(this)->enabled = enabled;
}

void SbrDecoder::SetEqualiser(int count, const int* edges, const float* gains) {
    DecoderObject* d = Self(this);
    const bool usable = count > 0 && edges != nullptr && gains != nullptr;
    d->equaliserCount = usable ? count : 0;
    d->equaliserEdges = usable ? edges : nullptr;
    d->equaliserGains = usable ? gains : nullptr;
}

int SbrDecoder::Process(const velora::SbrFrame& frame, float* samples, int channels) {
    return Self(this)->Process(frame, samples, channels);
}

void SbrDecoder::Reset() {
    DecoderObject* d = Self(this);
    d->ClearHistories();
    for (int ch = 0; ch < 2; ++ch) {
        d->Initialise(ch);
        // The envelope references are gone: deltas over time cannot be decoded until a
        // frame codes its first envelope over frequency, so conceal until then.
        if (d->parser.channel[ch].valid) d->parser.channel[ch].errorState = true;
    }
}

}  // namespace velora::sbr

#include "CoreEncoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "AttackDetector.h"
#include "IntensityStereo.h"
#include "Layer3Tables.h"
#include "ScalefactorCoder.h"

namespace velora::enc {
namespace {

constexpr int kMaxIntensityBitsPerChannel = 40000;

static_assert(CoreEncoder::kDelay >= kFilterBankDelay, "the lead-in cannot be negative");

// Rounds of the quantiser's outer loop by quality mode.
constexpr int kRounds[3] = {1, 4, 8};
// Rounds without a better result before it stops, by quality mode.
constexpr int kPatience[3] = {1, 1, 2};

// The frame writer's coders as the quantiser sees them.
class WriterBitCounter final : public GranuleBitCounter {
public:
    WriterBitCounter(const SpectrumCoder& coder, int version, bool intensityChannel)
        : coder_(coder), version_(version), intensity_(intensityChannel) {}
    int SpectrumBits(const QuantisedGranule& g) const override { return coder_.SpectrumBits(g); }
    int ScalefactorBits(const QuantisedGranule& g) const override {
        return enc::ScalefactorBits(g, version_, intensity_);
    }
    bool SpectrumFits(const QuantisedGranule& g, int limit, int& bits) const override {
        return coder_.Fits(g.values, g.blockType, limit, bits);
    }

private:
    const SpectrumCoder& coder_;
    int version_;
    bool intensity_;
};

bool RateIndices(int rate, int& version, int& index) {
    for (int v = 0; v < 3; ++v)
        for (int i = 0; i < 3; ++i)
            if (kSamplingRates[v][i] == rate) {
                version = v;
                index = i;
                return true;
            }
    return false;
}

int BitrateIndex(int version, int bitrate) {
    for (int i = 1; i < 15; ++i)
        if (kBitratesKbps[version == 0 ? 0 : 1][i] * 1000 == bitrate) return i;
    return -1;
}

}  // namespace

float CoreEncoder::AutomaticBandwidth(int bitratePerChannel, int sampleRate) {
    // Bandwidth by bits per channel: enough lines coded well beats more lines coded badly.
    struct Point {
        int bitrate;
        float bandwidth;
    };
    static constexpr Point kPoints[] = {{8000, 3000.0f},   {16000, 5500.0f},  {24000, 7500.0f},
                                        {32000, 10000.0f}, {40000, 12000.0f}, {48000, 14000.0f},
                                        {64000, 17500.0f}, {80000, 18000.0f}, {96000, 19500.0f}};
    float bandwidth = kPoints[0].bandwidth;
    for (const Point& p : kPoints)
        if (bitratePerChannel >= p.bitrate) bandwidth = p.bandwidth;
    // Below Nyquist by a little, where the filter bank's last band folds.
    return std::min(bandwidth, 0.48f * static_cast<float>(sampleRate));
}

bool CoreEncoder::Init(const CoreEncoderSettings& s) {
    int version = 0;
    int samplingIndex = 0;
    if (!RateIndices(s.sampleRate, version, samplingIndex)) return false;
    if (s.channels != 1 && s.channels != 2) return false;
    const bool vbr = s.bitrate == 0;
    if (vbr && (s.vbrQuality < 1 || s.vbrQuality > 100)) return false;
    const int index = vbr ? 14 : BitrateIndex(version, s.bitrate);
    if (index < 0) return false;
    settings_ = s;
    settings_.qualityMode = std::clamp(s.qualityMode, 0, 2);
    if (s.channels == 1 || s.dualMono) settings_.allowMidSide = settings_.allowIntensity = false;
    granules_ = version == 0 ? 2 : 1;
    bitrateIndex_ = index;

    // VBR: the bandwidth of the per-channel rate the quality would need at 44100 Hz, scaled
    // to the core rate.
    const int perChannel = vbr ? static_cast<int>(static_cast<int64_t>(24000 + 800 * s.vbrQuality) * s.sampleRate / 44100)
                               : s.bitrate / s.channels;
    bandwidth_ = s.bandwidth > 0.0f ? std::min(s.bandwidth, 0.5f * static_cast<float>(s.sampleRate))
                                    : AutomaticBandwidth(perChannel, s.sampleRate);

    // Intensity stereo only at low bit rates, from a frequency that rises with the bits per
    // channel. Above 40 kbit/s a channel the bits code the channels' own high bands better
    // than one carrier and its positions: the listening set graded it 0.04 lower at 56 and
    // 0.1 at 64 kbit/s a channel, where it also empties the last band, which has no
    // position of its own (16 kHz up at 44.1 kHz, inside the bandwidth). Below, the grades
    // differ by less than 0.05.
    if (perChannel > kMaxIntensityBitsPerChannel) settings_.allowIntensity = false;
    const float intensityFrom = std::clamp(0.2f * static_cast<float>(perChannel), 4000.0f, 14000.0f);
    intensityFirstLine_ = static_cast<int>(intensityFrom / (0.5f * static_cast<float>(s.sampleRate)) * kGranuleLines);

    FrameWriterSettings w;
    w.version = version;
    w.samplingIndex = samplingIndex;
    w.channelMode = s.channels == 1 ? 3 : (s.dualMono ? 2 : (settings_.allowMidSide || settings_.allowIntensity ? 1 : 0));
    w.crc = s.crc;
    w.privateBit = s.privateBit;
    w.copyright = s.copyright;
    w.original = s.original;
    w.sbrContainer = s.sbrContainer;
    if (!writer_.Init(w)) return false;

    PsychoacousticConfig config;
    if (!BuildPsychoacousticConfig(s.sampleRate, s.bitrate, bandwidth_, false, settings_.allowMidSide, config))
        return false;
    model_.Init(config);
    for (Quantiser& q : quantiser_) q.Init(kRounds[settings_.qualityMode], version == 0, kPatience[settings_.qualityMode]);
    for (GranuleAnalyser& a : analyser_) a.Reset();
    padding_.Init(s.bitrate, 576 * granules_, s.sampleRate);
    allowance_.Reset();
    reservoirPlan_.Reset();
    std::memset(pending_, 0, sizeof(pending_));
    granule_ = 0;
    return true;
}

int CoreEncoder::MaxFrameBytes() const {
    return writer_.FrameBits(14, 1) / 8;
}

bool CoreEncoder::EncodeGranule(const float* samples, const SbrContainerData* sbr) {
    const int n = settings_.channels;
    int32_t types[2] = {kBlockLong, kBlockLong};
    for (int ch = 0; ch < n; ++ch) {
        float* line = pending_[ch];
        for (int i = 0; i < kGranuleLines; ++i) line[kLeadIn + i] = samples[i * n + ch];
        types[ch] = analyser_[ch].Analyse(line);
        std::memmove(line, line + kGranuleLines, sizeof(float) * kLeadIn);
    }
    if (n == 2) types[0] = types[1] = SynchroniseBlockTypes(types[0], types[1]);
    for (int ch = 0; ch < n; ++ch) analyser_[ch].Transform(types[ch], spectrum_[ch]);

    model_.Analyse(spectrum_, n, input_[granule_], stereo_[granule_]);
    if (stereo_[granule_].midSideAvailable) {
        midSide_[granule_][0] = model_.Mid();
        midSide_[granule_][1] = model_.Side();
    }
    if (++granule_ < granules_) return true;
    granule_ = 0;
    return EncodeFrame(sbr);
}

int CoreEncoder::ChooseVbrIndex(int usedBits) const {
    for (int i = 1; i < 14; ++i)
        if (writer_.MainDataCapacityBits(i, 0) >= usedBits) return i;
    return 14;
}

// Quantises every granule and channel of the frame (`intensity`: its second channel carries
// intensity positions) for an SBR container of `sbrBits`;
// returns the main-data bits used and, in `room`, what the frame could hold.
int CoreEncoder::QuantiseGranules(QuantiserInput (*inputs)[2], bool intensity, int padding, int sbrBits,
                                  int& room) {
    const int n = settings_.channels;
    const bool vbr = settings_.bitrate == 0;
    const int index = bitrateIndex_;
    const int frameBits = writer_.FrameBits(index, padding);
    // Main-data bits a frame brings on average, after its SBR container.
    const int meanFrame = frameBits - writer_.HeaderSideBits() - sbrBits;
    const float meanGranule = static_cast<float>(meanFrame) / static_cast<float>(granules_);
    int capacity = writer_.MainDataCapacityBits(index, padding) - sbrBits;
    int reservoir = capacity - meanFrame;  // what earlier frames left
    const int maxReservoir = 8 * writer_.MaxBackPointer(frameBits);

    stats_ = FrameStats{};
    int usedFrame = 0;
    for (int g = 0; g < granules_; ++g) {
        QuantiserInput* in = inputs[g];
        bool anyShort = false;
        for (int ch = 0; ch < n; ++ch) anyShort = anyShort || in[ch].blockType == kBlockShort;

        // The granule's demand before the allowance flattens it, and the bits the reservoir
        // plan gives it.
        float demand = 0.0f;
        for (int ch = 0; ch < n; ++ch) demand += in[ch].perceptualEntropy;
        const float planned = vbr ? 0.0f
                                  : reservoirPlan_.Target(meanGranule, static_cast<float>(std::max(0, reservoir)),
                                                          static_cast<float>(maxReservoir), demand, anyShort);

        float budget = 0.0f;
        float allowance = 0.0f;
        if (vbr) {
            // Main-data bits of a granule at the top bit rate.
            budget = static_cast<float>(writer_.FrameBits(14, 0) - writer_.HeaderSideBits() - sbrBits) /
                     static_cast<float>(granules_);
            // The quality scales the allowance's knee: each 25 steps double it; 50 gives
            // about 64 kbit/s for stereo at 22050 Hz.
            const float quality = 0.11f * std::exp2((static_cast<float>(settings_.vbrQuality) - 50.0f) / 18.0f);
            const float x = quality * 5760.0f * bandwidth_ / (static_cast<float>(settings_.sampleRate) / 2.0f);
            float entropy = 0.0f;
            for (int ch = 0; ch < n; ++ch) entropy += in[ch].perceptualEntropy;
            allowance = x * std::log(entropy / x + 1.0f) * (anyShort ? 1.5f : 1.0f);
            allowance = std::min(allowance, 0.9f * 1.18f * budget);
        } else {
            allowance = allowance_.Allowance(meanGranule, static_cast<float>(std::max(0, reservoir)), anyShort);
        }
        float mask[2][kMaxQuantiserBands];
        for (int ch = 0; ch < n; ++ch) std::memcpy(mask[ch], in[ch].threshold, sizeof(mask[ch]));
        RaiseToAllowance(in, n, allowance);
        if (vbr && settings_.vbrQuality > 60) {
            // Above 60 the allowance no longer binds: the thresholds themselves come down,
            // 6 dB at the top quality.
            const float lower = std::exp2(-static_cast<float>(settings_.vbrQuality - 60) / 20.0f);
            for (int ch = 0; ch < n; ++ch)
                for (int b = 0; b < in[ch].bands; ++b) in[ch].threshold[b] *= lower;
        }

        float entropy[2] = {};
        for (int ch = 0; ch < n; ++ch) entropy[ch] = in[ch].perceptualEntropy;
        float fractions[2] = {1.0f, 0.0f};
        ShareBits(entropy, n, fractions);

        // What this granule may spend: its mean, plus reservoir bits when its entropy asks
        // for more than the mean; never what the later granules of the frame need at least.
        int available = 0;
        const int laterGranules = granules_ - 1 - g;
        if (vbr) {
            available = static_cast<int>(budget);
        } else {
            available = static_cast<int>(planned);
        }
        const int keep = vbr ? 0 : static_cast<int>(meanGranule * 0.5f) * laterGranules;
        available = std::min(available, capacity - usedFrame - keep);
        available = std::max(available, 0);

        int targets[2] = {};
        for (int ch = 0; ch < n; ++ch) {
            const int bits = vbr ? static_cast<int>(static_cast<float>(available) * fractions[ch])
                                 : (available / 8) * 8;
            targets[ch] = vbr ? bits : static_cast<int>(static_cast<float>(bits / 8) * fractions[ch] * 8.0f);
            targets[ch] = std::min(targets[ch], kMaxGranuleBits);
        }
        int usedGranule = 0;
        for (int ch = 0; ch < n; ++ch) {
            int target = targets[ch];
            // The second channel takes what the first left.
            if (ch == 1) target = std::min(kMaxGranuleBits, targets[0] + targets[1] - usedGranule);
            target = std::max(0, std::min(target, capacity - usedFrame - usedGranule));
            QuantisedGranule& q = quantised_[g][ch];
            q.intensityChannel = intensity && ch == 1 && writer_.Settings().version != 0;
            q.intensityScale = q.intensityChannel ? 1 : 0;
            WriterBitCounter counter(writer_.Spectrum(), writer_.Settings().version, q.intensityChannel);
            QuantiserResult result;
            if (vbr)
                quantiser_[ch].QuantiseToThresholds(in[ch], target, counter, q, result);
            else
                quantiser_[ch].Quantise(in[ch], target, counter, q, result);
            usedGranule += result.bits;
            stats_.blockType[g][ch] = q.blockType;
            stats_.overNoiseDb += result.overNoiseDb;
            stats_.bandsOver += result.bandsOver;
            for (int b = 0; b < in[ch].usedBands; ++b) {
                ++stats_.bandsJudged;
                if (result.noise[b] > mask[ch][b]) ++stats_.bandsOverMask;
            }
        }
        if (!vbr) allowance_.Update(targets[0] + targets[1], usedGranule);
        usedFrame += usedGranule;
        reservoir -= usedGranule - static_cast<int>(meanGranule);
    }
    room = vbr ? writer_.MainDataCapacityBits(14, 0) - sbrBits : capacity;
    return usedFrame;
}

bool CoreEncoder::EncodeFrame(const SbrContainerData* sbr) {
    const int n = settings_.channels;
    const bool vbr = settings_.bitrate == 0;
    static const SbrContainerData kEmpty{};
    const SbrContainerData* container = sbr != nullptr ? sbr : &kEmpty;
    int sbrBits = settings_.sbrContainer ? SbrContainerBits(*container) : 0;

    // Mid/side for the whole frame, from the entropy of its granules.
    bool midSide = false;
    if (n == 2 && settings_.allowMidSide) {
        float separate = 0.0f;
        float joint = 0.0f;
        bool available = true;
        for (int g = 0; g < granules_; ++g) {
            available = available && stereo_[g].midSideAvailable;
            separate += stereo_[g].separateEntropy;
            joint += stereo_[g].jointEntropy;
        }
        midSide = available && PreferMidSide(joint, separate);
    }
    QuantiserInput (*inputs)[2] = midSide ? midSide_ : input_;

    // Intensity stereo from a band that follows the bit rate, when every granule of the
    // frame has long blocks (the mode extension holds for the whole frame).
    bool intensity = false;
    if (n == 2 && settings_.allowIntensity) {
        IntensityPlan plans[2];
        bool longBlocks = true;
        for (int g = 0; g < granules_; ++g) longBlocks = longBlocks && input_[g][0].windows == 1;
        for (int g = 0; g < granules_ && longBlocks; ++g) {
            int first = 1;
            while (first < input_[g][0].bands && input_[g][0].bounds[first] < intensityFirstLine_) ++first;
            const int band = ChooseIntensityBand(input_[g][0], input_[g][1], first);
            PlanIntensity(input_[g][0], input_[g][1], band, writer_.Settings().version == 0, plans[g]);
            intensity = intensity || band < input_[g][0].bands;
        }
        if (intensity) {
            // A copy, so the plain records stay what the model made of the channels.
            if (!midSide) {
                for (int g = 0; g < granules_; ++g) {
                    midSide_[g][0] = input_[g][0];
                    midSide_[g][1] = input_[g][1];
                }
                inputs = midSide_;
            }
            for (int g = 0; g < granules_; ++g) {
                // A granule without intensity bands still needs its second channel's bound
                // above every band the first channel codes, planned from there: gains of
                // zero would make its carrier 0/0.
                const QuantiserInput& left = input_[g][0];
                if (plans[g].band >= left.bands)
                    PlanIntensity(left, input_[g][1], std::min(left.usedBands, left.bands - 1),
                                  writer_.Settings().version == 0, plans[g]);
                ApplyIntensity(input_[g][0], input_[g][1], plans[g], inputs[g][0], inputs[g][1]);
            }
        }
    }

    const int padding = vbr ? 0 : (padding_.Next() ? 1 : 0);
    const int index = bitrateIndex_;
    // A large SBR payload can leave the granules fewer bits than their coarsest coding
    // needs; the frame then goes out with an empty container rather than not at all (the
    // decoder carries the rebuilt band over from the frame before).
    int room = 0;
    int usedFrame = QuantiseGranules(inputs, intensity, padding, sbrBits, room);
    if (usedFrame > room && container != &kEmpty) {
        container = &kEmpty;
        sbrBits = settings_.sbrContainer ? SbrContainerBits(*container) : 0;
        usedFrame = QuantiseGranules(inputs, intensity, padding, sbrBits, room);
    }
    stats_.midSide = midSide;
    if (settings_.sbrContainer) {
        shareMeter_.Reset();
        for (int g = 0; g < granules_; ++g) {
            const QuantiserInput& second = inputs[g][n - 1];
            const int line = intensity && n == 2 && second.intensityBand < second.bands ? second.bounds[second.intensityBand]
                                                                                     : kGranuleLines;
            shareMeter_.AddGranule(input_[g], inputs[g], quantised_[g], n, midSide, line);
        }
        shareMeter_.Finish(share_);
    }

    FrameInput frame;
    frame.bitrateIndex = vbr ? ChooseVbrIndex(usedFrame + sbrBits) : index;
    frame.padding = padding;
    frame.modeExtension = (midSide ? 2 : 0) | (intensity ? 1 : 0);
    for (int g = 0; g < granules_; ++g)
        for (int ch = 0; ch < n; ++ch) frame.granule[g][ch] = &quantised_[g][ch];
    frame.sbr = *container;
    stats_.bitrateIndex = frame.bitrateIndex;
    stats_.usedBits = usedFrame;
    return writer_.Write(frame) == FrameStatus::kOk;
}

}  // namespace velora::enc

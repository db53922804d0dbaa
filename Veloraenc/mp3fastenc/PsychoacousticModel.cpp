#include "PsychoacousticModel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

namespace velora::enc {
namespace {

constexpr float kUnlimited = 1.0e20f;

double Square(float v) {
    const double d = static_cast<double>(v);
    return d * d;
}

// Spreads the per-partition thresholds over the neighbours with the table's slopes.
void Spread(const PartitionTable& t, const float* in, float* out) {
    float up[kMaxPartitions];
    float down[kMaxPartitions];
    const int n = t.used;
    float carry = 0.0f;
    for (int b = 0; b < n; ++b) {
        carry = in[b] + t.spreadUp[b] * carry;
        up[b] = carry;
    }
    carry = 0.0f;
    for (int b = n - 1; b >= 0; --b) {
        carry = in[b] + t.spreadDown[b] * carry;
        down[b] = carry;
    }
    for (int b = 0; b < n; ++b) out[b] = up[b] + down[b] - in[b];
}

// Spectral flatness of a band's line energies mapped to a tonality 0..1 (`fullyTonalDb` of
// flatness below the arithmetic mean is fully tonal).
float Tonality(const float* lines, int begin, int end, int stride, float fullyTonalDb) {
    // The log of a product of up to eight energies (each within 1e-20..1e30, so the product
    // stays inside double range) instead of eight logs: the model's costliest loop.
    double logSum = 0.0;
    double sum = 0.0;
    double product = 1.0;
    int count = 0;
    for (int k = begin; k < end; ++k) {
        const double v = static_cast<double>(lines[k * stride]);
        const double e = v * v + 1e-20;
        product *= e;
        sum += e;
        if (++count % 8 == 0) {
            logSum += std::log(product);
            product = 1.0;
        }
    }
    logSum += std::log(product);
    if (count < 2 || sum <= 1e-18 * count) return 0.0f;
    const double flatnessDb = 10.0 / std::log(10.0) * (logSum / count - std::log(sum / count));
    return static_cast<float>(std::clamp(flatnessDb / static_cast<double>(fullyTonalDb), 0.0, 1.0));
}

// Thresholds of one set of partitions (a long block or one short window) from energies:
// the own share, spreading, threshold in quiet, and the limits against the previous value.
// A tone masks noise far less than noise masks a tone: the own share lies between the two
// offsets by the band's tonality.
void Thresholds(const PsychoacousticConfig& c, const PartitionTable& t, const float* energy,
                const float* tonality, float ceiling, float* previous, float* threshold) {
    float own[kMaxPartitions];
    for (int b = 0; b < t.used; ++b) {
        const float tonal = tonality[b];
        const float bark = 0.01f * static_cast<float>(t.centreBark100[b]);
        const float offsetDb = tonal * (c.toneMaskingNoiseDb + bark) + (1.0f - tonal) * c.noiseMaskingToneDb +
                               c.lowMarginDb * std::max(0.0f, 1.0f - bark / c.lowMarginTopBark);
        own[b] = std::min(energy[b] * std::exp2(-offsetDb * 0.33219281f), ceiling);
    }
    float spread[kMaxPartitions];
    Spread(t, own, spread);
    for (int b = 0; b < t.used; ++b) {
        const float base = std::max(spread[b], t.quiet[b]);
        float v = std::min(base, c.preEchoRise * previous[b]);
        v = std::max(v, c.preEchoFloor * base);
        previous[b] = base;
        threshold[b] = v;
    }
    for (int b = t.used; b < t.count; ++b) threshold[b] = kUnlimited;
}

}  // namespace

float PerceptualEntropy(const QuantiserInput& in) {
    float pe = 0.0f;
    for (int b = 0; b < in.usedBands; ++b) {
        const float e = in.energy[b];
        const float t = in.threshold[b];
        if (e > t && t > 0.0f) pe += static_cast<float>(in.bounds[b + 1] - in.bounds[b]) * 0.5f * std::log2(e / t);
    }
    return pe;
}

void PsychoacousticModel::Init(const PsychoacousticConfig& config) {
    config_ = config;
    Reset();
}

void PsychoacousticModel::Reset() {
    for (ChannelState& s : state_) {
        std::fill(std::begin(s.previousLong), std::end(s.previousLong), kUnlimited);
        std::fill(std::begin(s.previousShort), std::end(s.previousShort), kUnlimited);
        s.previousBlockType = kBlockLong;
    }
}

void PsychoacousticModel::AnalyseChannel(const GranuleSpectrum& spectrum, ChannelState& state,
                                         QuantiserInput& out) const {
    const float scale = static_cast<float>(kModelScale);
    out.blockType = spectrum.blockType;
    // The first granule after a block-type change is not limited by the one before.
    if (spectrum.blockType == kBlockStop || state.previousBlockType == kBlockStart) {
        std::fill(std::begin(state.previousLong), std::end(state.previousLong), kUnlimited);
        std::fill(std::begin(state.previousShort), std::end(state.previousShort), kUnlimited);
    }
    state.previousBlockType = spectrum.blockType;

    if (spectrum.blockType != kBlockShort) {
        const PartitionTable& t = config_.longBlocks;
        out.windows = 1;
        out.bands = t.count;
        out.usedBands = t.used;
        for (int k = 0; k < kGranuleLines; ++k)
            out.lines[k] = k < t.lineLimit ? spectrum.lines[k] : 0.0f;
        float energy[kMaxPartitions] = {};
        for (int b = 0; b <= t.count; ++b) out.bounds[b] = t.bounds[b];
        for (int b = 0; b < t.count; ++b) {
            double e = 0.0;
            for (int k = t.bounds[b]; k < t.bounds[b + 1]; ++k) e += Square(out.lines[k]);
            energy[b] = static_cast<float>(e) * scale * scale;
            out.energy[b] = energy[b];
            out.tonality[b] = Tonality(out.lines, t.bounds[b], std::min(t.bounds[b + 1], t.lineLimit), 1,
                                     config_.fullyTonalDb);
        }
        Thresholds(config_, t, energy, out.tonality, config_.longCeiling, state.previousLong, out.threshold);
    } else {
        const PartitionTable& t = config_.shortBlocks;
        out.windows = kShortWindows;
        out.bands = t.count * kShortWindows;
        out.usedBands = t.used * kShortWindows;
        // Band by band, window by window: window w's line i sits at 3 i + w on entry.
        int at = 0;
        for (int b = 0; b < t.count; ++b) {
            for (int w = 0; w < kShortWindows; ++w) {
                out.bounds[3 * b + w] = at;
                for (int i = t.bounds[b]; i < t.bounds[b + 1]; ++i)
                    out.lines[at++] = i < t.lineLimit ? spectrum.lines[3 * i + w] : 0.0f;
            }
        }
        out.bounds[3 * t.count] = at;
        for (int w = 0; w < kShortWindows; ++w) {
            float energy[kMaxPartitions] = {};
            for (int b = 0; b < t.count; ++b) {
                const int band = 3 * b + w;
                double e = 0.0;
                for (int k = out.bounds[band]; k < out.bounds[band + 1]; ++k)
                    e += Square(out.lines[k]);
                energy[b] = static_cast<float>(e) * scale * scale;
                out.energy[band] = energy[b];
                out.tonality[band] = Tonality(out.lines, out.bounds[band], out.bounds[band + 1], 1, config_.fullyTonalDb);
            }
            // Each window is limited by the one before it, the first by the previous granule's last.
            float threshold[kMaxPartitions];
            float tonality[kMaxPartitions];
            for (int b = 0; b < t.count; ++b) tonality[b] = out.tonality[3 * b + w];
            Thresholds(config_, t, energy, tonality, config_.shortCeiling, state.previousShort, threshold);
            for (int b = 0; b < t.count; ++b) out.threshold[3 * b + w] = threshold[b];
        }
    }
    out.perceptualEntropy = PerceptualEntropy(out);
}

void PsychoacousticModel::Analyse(const GranuleSpectrum* spectra, int channels, QuantiserInput* out,
                                  StereoDecision& stereo) {
    stereo = StereoDecision{};
    for (int ch = 0; ch < channels; ++ch) AnalyseChannel(spectra[ch], state_[ch], out[ch]);
    if (channels != 2 || !config_.allowMidSide || spectra[0].blockType != spectra[1].blockType) return;

    // Mid/side when it needs fewer bits: the side's and the mid's entropy against the lower
    // of the two channel thresholds (noise in M and S spreads evenly into L and R), compared
    // with the entropy of coding L and R as they are.
    QuantiserInput& l = out[0];
    QuantiserInput& r = out[1];
    QuantiserInput& mid = mid_;
    QuantiserInput& side = side_;
    mid = l;
    side = r;
    const float scale = static_cast<float>(kModelScale * kModelScale);
    constexpr float kRoot = 0.70710678f;
    for (int k = 0; k < kGranuleLines; ++k) {
        mid.lines[k] = (l.lines[k] + r.lines[k]) * kRoot;
        side.lines[k] = (l.lines[k] - r.lines[k]) * kRoot;
    }
    for (int b = 0; b < l.bands; ++b) {
        double em = 0.0;
        double es = 0.0;
        for (int k = l.bounds[b]; k < l.bounds[b + 1]; ++k) {
            em += Square(mid.lines[k]);
            es += Square(side.lines[k]);
        }
        mid.energy[b] = static_cast<float>(em) * scale;
        side.energy[b] = static_cast<float>(es) * scale;
        const float t = std::min(l.threshold[b], r.threshold[b]);
        mid.threshold[b] = side.threshold[b] = t;
        mid.tonality[b] = side.tonality[b] = std::max(l.tonality[b], r.tonality[b]);
    }
    mid.perceptualEntropy = PerceptualEntropy(mid);
    side.perceptualEntropy = PerceptualEntropy(side);
    const float separate = l.perceptualEntropy + r.perceptualEntropy;
    const float joint = mid.perceptualEntropy + side.perceptualEntropy;
    stereo.midSideAvailable = true;
    stereo.separateEntropy = separate;
    stereo.jointEntropy = joint;
    stereo.midSide = PreferMidSide(joint, separate);
}

}  // namespace velora::enc

#include "PeaqChannel.h"

#include <algorithm>
#include <cmath>

namespace velora::bench {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Level and pattern adaptation, modulation: 8 ms at high frequencies, 50 ms at 100 Hz.
constexpr double kAdaptTauMin = 0.008;
constexpr double kAdaptTau100 = 0.050;
// Pattern correction is averaged over this many bands below and above.
constexpr int kPatternBelow = 3;
constexpr int kPatternAbove = 4;
// Loudness: Zwicker's exponent and the published constants of the basic model.
constexpr double kLoudnessExponent = 0.23;
constexpr double kLoudnessConstant = 1.07664;
constexpr double kLoudnessE0 = 1e4;
// Noise loudness: masking grows with the modulation of the masker.
constexpr double kNoiseThresholdFactor = 0.15;
constexpr double kNoiseIndex = 0.5;
constexpr double kNoiseAlpha = 1.5;
// The harmonic structure of the error: correlation lags over the lowest 2 * kEhsLags bins.
constexpr int kEhsLags = 256;
// Bandwidth: bins above 21.6 kHz set the floor; only frames of a reference above 8.1 kHz count.
constexpr double kBandwidthFloorHz = 21600.0;
constexpr double kBandwidthMinHz = 8100.0;
constexpr double kBinHz48 = 48000.0 / PeaqEar::kFrameSize;
constexpr double kPowerFloor = 1e-20;

double Db(double power) {
    return 10.0 * std::log10(std::max(power, kPowerFloor));
}

}  // namespace

void PeaqChannel::Modulation::Init(size_t bands) {
    previous.assign(bands, 0.0);
    mean.assign(bands, 0.0);
    change.assign(bands, 0.0);
    value.assign(bands, 0.0);
}

void PeaqChannel::Modulation::Update(const PeaqEar& ear, const std::vector<double>& unsmeared,
                                     const std::vector<double>& smoothing) {
    const double framesPerSecond = static_cast<double>(ear.SampleRate()) / PeaqEar::kHop;
    for (size_t b = 0; b < unsmeared.size(); ++b) {
        const double a = smoothing[b];
        const double e = std::pow(unsmeared[b], 0.3);
        change[b] = a * change[b] + (1.0 - a) * framesPerSecond * std::fabs(e - previous[b]);
        mean[b] = a * mean[b] + (1.0 - a) * e;
        value[b] = change[b] / (1.0 + mean[b] / 0.3);
        previous[b] = e;
    }
}

bool PeaqChannel::Init(int sampleRate) {
    if (!ref_.Init(sampleRate) || !test_.Init(sampleRate) || !ehsFft_.Init(kEhsLags)) return false;
    const size_t bands = static_cast<size_t>(ref_.BandCount());
    adaptSmoothing_.assign(bands, 0.0);
    loudnessIndex_.assign(bands, 0.0);
    for (size_t b = 0; b < bands; ++b) {
        adaptSmoothing_[b] = ref_.Smoothing(static_cast<int>(b), kAdaptTauMin, kAdaptTau100);
        const double f = ref_.CentreHz(static_cast<int>(b));
        const double indexDb = -2.0 - 2.05 * std::atan(f / 4000.0) - 0.75 * std::atan((f / 1600.0) * (f / 1600.0));
        loudnessIndex_[b] = std::pow(10.0, indexDb / 10.0);
    }
    noise_.assign(PeaqEar::kBins, 0.0);
    noiseBands_.assign(bands, 0.0);
    bandNmr_.assign(bands, 0.0);
    for (std::vector<double>* v : {&levelRef_, &levelTest_, &corrNum_, &corrDen_, &ratioRef_, &ratioTest_, &pattRef_,
                                   &pattTest_, &adaptedRef_, &adaptedTest_})
        v->assign(bands, 0.0);
    modRef_.Init(bands);
    modTest_.Init(bands);
    logRatio_.assign(2 * kEhsLags, 0.0);
    ehsIn_.assign(kEhsLags, 0.0f);
    ehsRe_.assign(kEhsLags / 2 + 1, 0.0f);
    ehsIm_.assign(kEhsLags / 2 + 1, 0.0f);
    ehsWindow_.assign(kEhsLags, 0.0f);
    for (int l = 0; l < kEhsLags; ++l)
        ehsWindow_[static_cast<size_t>(l)] =
            static_cast<float>(0.5 * std::sqrt(8.0 / 3.0) * (1.0 - std::cos(2.0 * kPi * l / (kEhsLags - 1))));
    Reset();
    return true;
}

void PeaqChannel::Reset() {
    ref_.Reset();
    test_.Reset();
    for (std::vector<double>* v : {&levelRef_, &levelTest_, &corrNum_, &corrDen_}) std::fill(v->begin(), v->end(), 0.0);
    std::fill(pattRef_.begin(), pattRef_.end(), 1.0);
    std::fill(pattTest_.begin(), pattTest_.end(), 1.0);
    modRef_.Init(levelRef_.size());
    modTest_.Init(levelRef_.size());
}

// Brings the two excitations to the same overall level, then corrects each band of one by
// the lasting ratio between them, so that what remains is a difference the ear notices
// rather than a linear filter or a gain.
void PeaqChannel::Adapt() {
    const std::vector<double>& er = ref_.Excitation();
    const std::vector<double>& et = test_.Excitation();
    const size_t bands = er.size();
    double cross = 0.0;
    double testSum = 0.0;
    for (size_t b = 0; b < bands; ++b) {
        const double a = adaptSmoothing_[b];
        levelRef_[b] = a * levelRef_[b] + (1.0 - a) * er[b];
        levelTest_[b] = a * levelTest_[b] + (1.0 - a) * et[b];
        cross += std::sqrt(levelRef_[b] * levelTest_[b]);
        testSum += levelTest_[b];
    }
    const double correction = testSum > 0.0 ? (cross / testSum) * (cross / testSum) : 1.0;
    for (size_t b = 0; b < bands; ++b) {
        adaptedRef_[b] = correction > 1.0 ? er[b] / correction : er[b];
        adaptedTest_[b] = correction > 1.0 ? et[b] : et[b] * correction;
        const double a = adaptSmoothing_[b];
        corrNum_[b] = a * corrNum_[b] + adaptedTest_[b] * adaptedRef_[b];
        corrDen_[b] = a * corrDen_[b] + adaptedRef_[b] * adaptedRef_[b];
        if (corrNum_[b] >= corrDen_[b]) {
            ratioTest_[b] = corrNum_[b] > 0.0 ? corrDen_[b] / corrNum_[b] : 1.0;
            ratioRef_[b] = 1.0;
        } else {
            ratioTest_[b] = 1.0;
            ratioRef_[b] = corrNum_[b] / corrDen_[b];
        }
    }
    const int count = static_cast<int>(bands);
    for (int b = 0; b < count; ++b) {
        const int lo = std::max(0, b - kPatternBelow);
        const int hi = std::min(count - 1, b + kPatternAbove);
        double sumRef = 0.0;
        double sumTest = 0.0;
        for (int i = lo; i <= hi; ++i) {
            sumRef += ratioRef_[static_cast<size_t>(i)];
            sumTest += ratioTest_[static_cast<size_t>(i)];
        }
        const size_t k = static_cast<size_t>(b);
        const double a = adaptSmoothing_[k];
        pattRef_[k] = a * pattRef_[k] + (1.0 - a) * sumRef / (hi - lo + 1);
        pattTest_[k] = a * pattTest_[k] + (1.0 - a) * sumTest / (hi - lo + 1);
        adaptedRef_[k] *= pattRef_[k];
        adaptedTest_[k] *= pattTest_[k];
    }
}

double PeaqChannel::Loudness(const std::vector<double>& excitation) const {
    double sum = 0.0;
    for (size_t b = 0; b < excitation.size(); ++b) {
        const double thr = ref_.InternalNoise(static_cast<int>(b));
        const double s = loudnessIndex_[b];
        sum += kLoudnessConstant * std::pow(thr / (s * kLoudnessE0), kLoudnessExponent) *
               (std::pow(1.0 - s + s * excitation[b] / thr, kLoudnessExponent) - 1.0);
    }
    return std::max(0.0, 24.0 * sum / static_cast<double>(excitation.size()));
}

// The loudness of the difference, with the reference (its own modulation raising its
// masking) as the masker.
double PeaqChannel::NoiseLoudness() const {
    double sum = 0.0;
    for (size_t b = 0; b < adaptedRef_.size(); ++b) {
        const double thr = ref_.InternalNoise(static_cast<int>(b));
        const double er = adaptedRef_[b];
        const double et = adaptedTest_[b];
        const double sr = kNoiseThresholdFactor * modRef_.value[b] + kNoiseIndex;
        const double st = kNoiseThresholdFactor * modTest_.value[b] + kNoiseIndex;
        const double beta = er > 0.0 ? std::exp(-kNoiseAlpha * (et - er) / er) : 0.0;
        const double excess = std::max(st * et - sr * er, 0.0);
        sum += std::pow(thr / (kLoudnessE0 * st), kLoudnessExponent) *
               (std::pow(1.0 + excess / (thr + sr * er * beta), kLoudnessExponent) - 1.0);
    }
    return std::max(0.0, 24.0 * sum / static_cast<double>(adaptedRef_.size()));
}

void PeaqChannel::Bandwidth(PeaqFrameValues& out) const {
    const double binHz = static_cast<double>(ref_.SampleRate()) / PeaqEar::kFrameSize;
    const int floorBin = static_cast<int>(std::ceil(kBandwidthFloorHz / binHz));
    out.bandwidthValid = false;
    if (floorBin >= PeaqEar::kBins) return;
    const std::vector<double>& pr = ref_.Power();
    const std::vector<double>& pt = test_.Power();
    double zero = -1e9;
    for (int k = floorBin; k < PeaqEar::kBins; ++k) zero = std::max(zero, Db(pt[static_cast<size_t>(k)]));
    int bwRef = 0;
    for (int k = floorBin - 1; k >= 0; --k)
        if (Db(pr[static_cast<size_t>(k)]) >= zero + 10.0) {
            bwRef = k + 1;
            break;
        }
    int bwTest = 0;
    for (int k = bwRef - 1; k >= 0; --k)
        if (Db(pt[static_cast<size_t>(k)]) >= zero + 5.0) {
            bwTest = k + 1;
            break;
        }
    if (bwRef * binHz <= kBandwidthMinHz) return;
    out.bandwidthValid = true;
    out.bandwidthRef = bwRef * binHz / kBinHz48;
    out.bandwidthTest = bwTest * binHz / kBinHz48;
}

// Coding error that repeats along the spectrum (a comb, as from a harmonic tone coded
// badly) shows as a peak in the spectrum of the autocorrelation of the log spectral ratio.
double PeaqChannel::HarmonicStructure() {
    const std::vector<double>& wr = ref_.Weighted();
    const std::vector<double>& wt = test_.Weighted();
    for (int i = 0; i < 2 * kEhsLags; ++i)
        logRatio_[static_cast<size_t>(i)] =
            std::log10(std::max(wt[static_cast<size_t>(i) + 1], kPowerFloor)) -
            std::log10(std::max(wr[static_cast<size_t>(i) + 1], kPowerFloor));
    double first = 0.0;
    for (int i = 0; i < kEhsLags; ++i) first += logRatio_[static_cast<size_t>(i)] * logRatio_[static_cast<size_t>(i)];
    if (first <= 0.0) return 0.0;
    double shifted = first;
    std::vector<float>& c = ehsIn_;
    double mean = 0.0;
    for (int l = 0; l < kEhsLags; ++l) {
        if (l > 0) {
            const double out = logRatio_[static_cast<size_t>(l - 1)];
            const double in = logRatio_[static_cast<size_t>(l + kEhsLags - 1)];
            shifted += in * in - out * out;
        }
        double num = 0.0;
        for (int i = 0; i < kEhsLags; ++i)
            num += logRatio_[static_cast<size_t>(i)] * logRatio_[static_cast<size_t>(i + l)];
        const double v = shifted > 0.0 ? num / std::sqrt(first * shifted) : 0.0;
        c[static_cast<size_t>(l)] = static_cast<float>(v);
        mean += v;
    }
    mean /= kEhsLags;
    for (int l = 0; l < kEhsLags; ++l)
        c[static_cast<size_t>(l)] = static_cast<float>((static_cast<double>(c[static_cast<size_t>(l)]) - mean) *
                                                        static_cast<double>(ehsWindow_[static_cast<size_t>(l)]));
    ehsFft_.Forward(c.data(), ehsRe_.data(), ehsIm_.data());
    const int half = kEhsLags / 2;
    std::vector<float>& power = ehsRe_;  // reused in place
    for (int k = 0; k <= half; ++k) {
        const double r = ehsRe_[static_cast<size_t>(k)];
        const double i = ehsIm_[static_cast<size_t>(k)];
        power[static_cast<size_t>(k)] = static_cast<float>((r * r + i * i) / (static_cast<double>(kEhsLags) * kEhsLags));
    }
    // Past the slope down from the lowest bins, the highest peak.
    int k = 1;
    while (k < half && power[static_cast<size_t>(k) + 1] < power[static_cast<size_t>(k)]) ++k;
    double peak = 0.0;
    for (; k <= half; ++k) peak = std::max(peak, static_cast<double>(power[static_cast<size_t>(k)]));
    return peak;
}

// The probability that a listener detects the difference of the excitations, band by band
// from a level-dependent just-noticeable difference, and how many of them it spans.
void PeaqChannel::Detection(PeaqFrameValues& out) const {
    const std::vector<double>& er = ref_.Excitation();
    const std::vector<double>& et = test_.Excitation();
    double missed = 1.0;
    double jnds = 0.0;
    for (size_t b = 0; b < er.size(); ++b) {
        const double lr = Db(er[b]);
        const double lt = Db(et[b]);
        const double l = 0.3 * std::max(lr, lt) + 0.7 * lt;
        if (l <= 0.0) continue;
        const double s = 5.95072 * std::pow(6.39468 / l, 1.71332) + 9.01033e-11 * std::pow(l, 4.0) +
                         5.05622e-6 * l * l * l - 0.00102438 * l * l + 0.0550197 * l - 0.198719;
        if (s <= 0.0) continue;
        const double e = lr - lt;
        const double bExp = lr > lt ? 4.0 : 6.0;
        const double a = std::pow(10.0, std::log10(std::log10(2.0)) / bExp) / s;
        const double p = 1.0 - std::pow(10.0, -std::pow(a * std::fabs(e), bExp));
        missed *= 1.0 - p;
        jnds += std::fabs(std::trunc(e)) / s;
    }
    out.detection = 1.0 - missed;
    out.jnds = jnds;
}

void PeaqChannel::Process(const float* reference, const float* test, bool loudEnough, PeaqFrameValues& out) {
    ref_.Process(reference);
    test_.Process(test);
    const size_t bands = static_cast<size_t>(ref_.BandCount());

    // Noise to mask: the difference of the weighted magnitudes against the reference's mask.
    const std::vector<double>& wr = ref_.Weighted();
    const std::vector<double>& wt = test_.Weighted();
    for (size_t k = 0; k < noise_.size(); ++k) {
        const double d = std::sqrt(wr[k]) - std::sqrt(wt[k]);
        noise_[k] = d * d;
    }
    ref_.Group(noise_.data(), noiseBands_.data());
    double sum = 0.0;
    double largest = 0.0;
    for (size_t b = 0; b < bands; ++b) {
        const double r = noiseBands_[b] / ref_.Mask()[b];
        bandNmr_[b] = r;
        sum += r;
        largest = std::max(largest, r);
    }
    out.nmr = sum / static_cast<double>(bands);
    out.maxNmrDb = Db(largest);

    Bandwidth(out);
    Adapt();
    modRef_.Update(ref_, ref_.Unsmeared(), adaptSmoothing_);
    modTest_.Update(test_, test_.Unsmeared(), adaptSmoothing_);
    double diff1 = 0.0;
    double diff2 = 0.0;
    double weight = 0.0;
    for (size_t b = 0; b < bands; ++b) {
        const double mr = modRef_.value[b];
        const double mt = modTest_.value[b];
        const double d = std::fabs(mt - mr);
        diff1 += d / (1.0 + mr);
        diff2 += (mt > mr ? 1.0 : 0.1) * d / (0.01 + mr);
        const double thr = std::pow(ref_.InternalNoise(static_cast<int>(b)), 0.3);
        weight += modRef_.mean[b] / (modRef_.mean[b] + 100.0 * thr);
    }
    out.modDiff1 = 100.0 * diff1 / static_cast<double>(bands);
    out.modDiff2 = 100.0 * diff2 / static_cast<double>(bands);
    out.modWeight = weight;
    out.noiseLoudness = NoiseLoudness();
    out.loudnessRef = Loudness(ref_.Excitation());
    out.loudnessTest = Loudness(test_.Excitation());
    out.ehs = loudEnough ? HarmonicStructure() : 0.0;
    Detection(out);
}

}  // namespace velora::bench

#include "PeaqEar.h"

#include <algorithm>
#include <cmath>

namespace velora::bench {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLowHz = 80.0;
constexpr double kHighHz = 18000.0;
// A band's energy never falls below this: keeps the logarithms finite in silence.
constexpr double kBandFloor = 1e-12;
// Spreading towards lower bands, dB per Bark, whatever the level.
constexpr double kLowerSlopeDb = 27.0;
// Excitations add as powers of this before the inverse power: between energy addition (1)
// and the larger of the two (0).
constexpr double kSpreadPower = 0.4;
// The forward smearing: 8 ms at high frequencies, 30 ms at 100 Hz.
constexpr double kSmearTauMin = 0.008;
constexpr double kSmearTau100 = 0.030;

double FromDb(double db) {
    return std::pow(10.0, db / 10.0);
}

double HzOfBark(double z) {
    return 650.0 * std::sinh(z / 7.0);
}

// The outer and middle ear's transfer, in dB, at `hz`.
double EarWeightDb(double hz) {
    const double f = hz / 1000.0;
    return -0.6 * 3.64 * std::pow(f, -0.8) + 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) - 1e-3 * std::pow(f, 3.6);
}

}  // namespace

double PeaqEar::Bark(double hz) {
    return 7.0 * std::asinh(hz / 650.0);
}

double PeaqEar::Smoothing(int band, double tauMin, double tau100) const {
    const double tau = tauMin + 100.0 / centreHz_[static_cast<size_t>(band)] * (tau100 - tauMin);
    return std::exp(-static_cast<double>(kHop) / (rate_ * tau));
}

bool PeaqEar::Init(int sampleRate) {
    if (sampleRate < 16000 || !fft_.Init(kFrameSize)) return false;
    rate_ = sampleRate;
    window_.resize(kFrameSize);
    for (int n = 0; n < kFrameSize; ++n)
        window_[static_cast<size_t>(n)] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * kPi * n / (kFrameSize - 1)));
    windowed_.assign(kFrameSize, 0.0f);
    re_.assign(kBins, 0.0f);
    im_.assign(kBins, 0.0f);

    // The level: the highest bin of a full-scale 1019.5 Hz sine, over a few phases, at 92 dB.
    double peak = 0.0;
    for (int p = 0; p < 8; ++p) {
        for (int n = 0; n < kFrameSize; ++n) {
            const double w = window_[static_cast<size_t>(n)];
            windowed_[static_cast<size_t>(n)] =
                static_cast<float>(32768.0 * std::sin(2.0 * kPi * 1019.5 * n / sampleRate + p * kPi / 8.0) * w);
        }
        fft_.Forward(windowed_.data(), re_.data(), im_.data());
        for (size_t k = 0; k < static_cast<size_t>(kBins); ++k) {
            const double r = re_[k];
            const double i = im_[k];
            peak = std::max(peak, r * r + i * i);
        }
    }
    scale_ = FromDb(kFullScaleSpl) / peak;

    const double binHz = static_cast<double>(sampleRate) / kFrameSize;
    earWeight_.assign(kBins, 0.0);
    for (int k = 1; k < kBins; ++k) earWeight_[static_cast<size_t>(k)] = FromDb(EarWeightDb(k * binHz));

    // Quarter-Bark bands from 80 Hz to 18 kHz (or Nyquist); bins shared by their overlap.
    const double lowBark = Bark(kLowHz);
    const double highHz = std::min(kHighHz, sampleRate / 2.0);
    const double highBark = Bark(highHz);
    const int count = static_cast<int>(std::ceil((highBark - lowBark) / kBandBark - 1e-9));
    firstBin_.assign(static_cast<size_t>(count), 0);
    shareStart_.assign(static_cast<size_t>(count) + 1, 0);
    share_.clear();
    centreHz_.assign(static_cast<size_t>(count), 0.0);
    for (int b = 0; b < count; ++b) {
        const double lo = HzOfBark(lowBark + b * kBandBark);
        const double hi = b == count - 1 ? highHz : HzOfBark(lowBark + (b + 1) * kBandBark);
        centreHz_[static_cast<size_t>(b)] = HzOfBark(0.5 * (Bark(lo) + Bark(hi)));
        const int first = std::max(0, static_cast<int>(std::floor(lo / binHz + 0.5)));
        const int last = std::min(kBins - 1, static_cast<int>(std::floor(hi / binHz + 0.5)));
        firstBin_[static_cast<size_t>(b)] = first;
        shareStart_[static_cast<size_t>(b)] = static_cast<int>(share_.size());
        for (int k = first; k <= last; ++k) {
            const double overlap = std::min(hi, (k + 0.5) * binHz) - std::max(lo, (k - 0.5) * binHz);
            share_.push_back(std::max(0.0, overlap / binHz));
        }
    }
    shareStart_[static_cast<size_t>(count)] = static_cast<int>(share_.size());

    internalNoise_.assign(static_cast<size_t>(count), 0.0);
    maskOffset_.assign(static_cast<size_t>(count), 0.0);
    smear_.assign(static_cast<size_t>(count), 0.0);
    for (int b = 0; b < count; ++b) {
        const size_t i = static_cast<size_t>(b);
        internalNoise_[i] = std::pow(10.0, 0.4 * 0.364 * std::pow(centreHz_[i] / 1000.0, -0.8));
        // The mask lies 3 dB under the excitation up to 12 Bark, then further with the band.
        maskOffset_[i] = FromDb(b * kBandBark <= 12.0 ? 3.0 : 0.25 * b * kBandBark);
        smear_[i] = Smoothing(b, kSmearTauMin, kSmearTau100);
    }
    grouped_.assign(static_cast<size_t>(count), 0.0);
    terms_.assign(static_cast<size_t>(count), 0.0);
    spreadNorm_.assign(static_cast<size_t>(count), 1.0);
    // The normalisation: what the spreading makes of a flat 0 dB spectrum.
    std::vector<double> flat(static_cast<size_t>(count), 1.0);
    std::vector<double> norm(static_cast<size_t>(count), 0.0);
    Spread(flat.data(), norm.data(), false);
    spreadNorm_ = norm;
    power_.assign(kBins, 0.0);
    weighted_.assign(kBins, 0.0);
    unsmeared_.assign(static_cast<size_t>(count), 0.0);
    smeared_.assign(static_cast<size_t>(count), 0.0);
    excitation_.assign(static_cast<size_t>(count), 0.0);
    mask_.assign(static_cast<size_t>(count), 0.0);
    return true;
}

void PeaqEar::Reset() {
    std::fill(smeared_.begin(), smeared_.end(), 0.0);
}

void PeaqEar::Group(const double* binPower, double* bandPower) const {
    for (int b = 0; b < BandCount(); ++b) {
        double sum = 0.0;
        const int first = firstBin_[static_cast<size_t>(b)];
        for (int i = shareStart_[static_cast<size_t>(b)]; i < shareStart_[static_cast<size_t>(b) + 1]; ++i)
            sum += share_[static_cast<size_t>(i)] * binPower[first + i - shareStart_[static_cast<size_t>(b)]];
        bandPower[b] = std::max(sum, kBandFloor);
    }
}

// Each band spreads to the others with 27 dB/Bark downwards and a level-dependent slope
// upwards (shallower for loud maskers), its spread normalised to its own energy; the
// contributions add as powers of 0.4.
void PeaqEar::Spread(const double* bands, double* out, bool normalise) const {
    const int count = BandCount();
    const double lowerRatio = FromDb(-kLowerSlopeDb * kBandBark);
    const double lowerRatioP = std::pow(lowerRatio, kSpreadPower);
    std::fill(out, out + count, 0.0);
    for (int j = 0; j < count; ++j) {
        const double level = 10.0 * std::log10(bands[j]);
        const double upperSlope = 24.0 + 230.0 / centreHz_[static_cast<size_t>(j)] - 0.2 * level;
        const double upperRatio = FromDb(-std::max(upperSlope, 0.0) * kBandBark);
        // The whole spread of band j, both geometric tails and itself.
        const double below = lowerRatio * (1.0 - std::pow(lowerRatio, j)) / (1.0 - lowerRatio);
        const double above = upperRatio >= 1.0 ? static_cast<double>(count - 1 - j)
                                              : upperRatio * (1.0 - std::pow(upperRatio, count - 1 - j)) / (1.0 - upperRatio);
        const double c = std::pow(bands[j] / (1.0 + below + above), kSpreadPower);
        const double upperRatioP = std::pow(upperRatio, kSpreadPower);
        double v = c;
        for (int k = j; k < count; ++k) {
            out[k] += v;
            v *= upperRatioP;
        }
        v = c * lowerRatioP;
        for (int k = j - 1; k >= 0; --k) {
            out[k] += v;
            v *= lowerRatioP;
        }
    }
    for (int k = 0; k < count; ++k) {
        out[k] = std::pow(out[k], 1.0 / kSpreadPower);
        if (normalise) out[k] /= spreadNorm_[static_cast<size_t>(k)];
    }
}

void PeaqEar::Process(const float* frame) {
    for (int n = 0; n < kFrameSize; ++n) windowed_[static_cast<size_t>(n)] = frame[n] * window_[static_cast<size_t>(n)];
    fft_.Forward(windowed_.data(), re_.data(), im_.data());
    for (size_t k = 0; k < static_cast<size_t>(kBins); ++k) {
        const double r = re_[k];
        const double i = im_[k];
        power_[k] = (r * r + i * i) * scale_;
        weighted_[k] = power_[k] * earWeight_[k];
    }
    Group(weighted_.data(), grouped_.data());
    for (size_t b = 0; b < grouped_.size(); ++b) terms_[b] = grouped_[b] + internalNoise_[b];
    Spread(terms_.data(), unsmeared_.data(), true);
    for (size_t b = 0; b < grouped_.size(); ++b) {
        smeared_[b] = smear_[b] * smeared_[b] + (1.0 - smear_[b]) * unsmeared_[b];
        excitation_[b] = std::max(smeared_[b], unsmeared_[b]);
        mask_[b] = excitation_[b] / maskOffset_[b];
    }
}

}  // namespace velora::bench

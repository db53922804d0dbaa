#include "NmrModel.h"

#include <algorithm>
#include <cmath>

namespace velora::bench {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFullScale = 32768.0;
// Below any level that matters; keeps the logarithms of the flatness finite.
constexpr double kPowerFloor = 1e-20;
// The flatness is taken over at least this many bins around a band, so that it means
// something in the narrow low bands.
constexpr int kMinTonalBins = 16;

double FromDb(double db) {
    return std::pow(10.0, db / 10.0);
}

}  // namespace

double NmrModel::Bark(double hz) {
    return 13.0 * std::atan(0.00076 * hz) + 3.5 * std::atan((hz / 7500.0) * (hz / 7500.0));
}

double NmrModel::QuietThresholdDb(double hz) {
    // The formula grows without bound towards 0 Hz; the lowest bins count as 20 Hz.
    const double f = std::max(hz, 20.0) / 1000.0;
    return 3.64 * std::pow(f, -0.8) - 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) + 1e-3 * f * f * f * f;
}

double NmrModel::SpreadingDb(double dz) {
    const double x = dz + 0.474;
    return 15.81 + 7.5 * x - 17.5 * std::sqrt(1.0 + x * x);
}

bool NmrModel::Init(int sampleRate) {
    if (sampleRate < 8000 || !fft_.Init(kFrameSize)) return false;
    rate_ = sampleRate;
    constexpr int kBins = kFrameSize / 2 + 1;
    window_.resize(kFrameSize);
    double windowEnergy = 0.0;
    for (int n = 0; n < kFrameSize; ++n) {
        // Periodic Hann: at 50 % overlap the frames sum to a constant.
        const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * n / kFrameSize);
        window_[static_cast<size_t>(n)] = static_cast<float>(w);
        windowEnergy += w * w;
    }
    windowed_.assign(kFrameSize, 0.0f);
    re_.assign(kBins, 0.0f);
    im_.assign(kBins, 0.0f);
    power_.assign(kBins, 0.0);
    // A sine of amplitude A puts about A^2 / 4 * N * sum(w^2) into the bins of its lobe on
    // the positive side; at full scale that is the playback level.
    powerScale_ = FromDb(kFullScaleSineSpl) / (kFullScale * kFullScale / 4.0 * kFrameSize * windowEnergy);

    // Half-Bark bands; a narrow remainder at the top joins the band below it.
    bands_.clear();
    const double binHz = static_cast<double>(sampleRate) / kFrameSize;
    for (int k = 0; k < kBins; ++k) {
        const int index = static_cast<int>(Bark(k * binHz) / kBandBark);
        if (bands_.empty() || index >= static_cast<int>(bands_.size())) {
            NmrBand band;
            band.firstBin = k;
            bands_.push_back(band);
        }
        bands_.back().endBin = k + 1;
    }
    const double topBark = Bark(sampleRate / 2.0);
    if (bands_.size() > 1 &&
        topBark - kBandBark * static_cast<double>(bands_.size() - 1) < 0.5 * kBandBark) {
        bands_[bands_.size() - 2].endBin = bands_.back().endBin;
        bands_.pop_back();
    }
    for (NmrBand& band : bands_) {
        band.lowHz = band.firstBin * binHz;
        band.highHz = std::min(band.endBin * binHz, sampleRate / 2.0);
        band.centreBark = 0.5 * (Bark(band.firstBin * binHz) + Bark((band.endBin - 1) * binHz));
        // Noise anywhere in the band counts: the band's threshold is its lowest.
        double quietDb = 1e9;
        for (int k = band.firstBin; k < band.endBin; ++k) quietDb = std::min(quietDb, QuietThresholdDb(k * binHz));
        band.quiet = FromDb(quietDb);
    }

    const size_t count = bands_.size();
    spread_.assign(count * count, 0.0);
    spreadNorm_.assign(count, 0.0);
    for (size_t i = 0; i < count; ++i)
        for (size_t j = 0; j < count; ++j) {
            const double s = FromDb(SpreadingDb(bands_[i].centreBark - bands_[j].centreBark));
            spread_[i * count + j] = s;
            spreadNorm_[i] += s;
        }

    // Tonality from the band and half a Bark on either side.
    tonalFirst_.assign(count, 0);
    tonalEnd_.assign(count, 0);
    for (size_t i = 0; i < count; ++i) {
        int first = bands_[i == 0 ? 0 : i - 1].firstBin;
        int end = bands_[std::min(i + 1, count - 1)].endBin;
        while (end - first < kMinTonalBins) {
            first = std::max(0, first - 1);
            end = std::min(kBins, end + 1);
        }
        tonalFirst_[i] = first;
        tonalEnd_[i] = end;
    }
    energy_.assign(count, 0.0);
    tonality_.assign(count, 0.0);
    return true;
}

void NmrModel::PowerSpectrum(const float* frame) {
    for (int n = 0; n < kFrameSize; ++n) windowed_[static_cast<size_t>(n)] = frame[n] * window_[static_cast<size_t>(n)];
    fft_.Forward(windowed_.data(), re_.data(), im_.data());
    for (size_t k = 0; k < power_.size(); ++k) {
        const double r = re_[k];
        const double i = im_[k];
        power_[k] = (r * r + i * i) * powerScale_;
    }
}

void NmrModel::BandEnergies(const float* frame, double* energy) {
    PowerSpectrum(frame);
    for (size_t b = 0; b < bands_.size(); ++b) {
        double sum = 0.0;
        for (int k = bands_[b].firstBin; k < bands_[b].endBin; ++k) sum += power_[static_cast<size_t>(k)];
        energy[b] = sum;
    }
}

void NmrModel::MaskedThreshold(const float* original, double* threshold) {
    BandEnergies(original, energy_.data());
    const size_t count = bands_.size();
    for (size_t b = 0; b < count; ++b) {
        // Spectral flatness: geometric over arithmetic mean of the bin powers.
        double logSum = 0.0;
        double sum = 0.0;
        for (int k = tonalFirst_[b]; k < tonalEnd_[b]; ++k) {
            const double p = power_[static_cast<size_t>(k)] + kPowerFloor;
            logSum += std::log(p);
            sum += p;
        }
        const double bins = tonalEnd_[b] - tonalFirst_[b];
        const double flatnessDb = 10.0 / std::log(10.0) * (logSum / bins - std::log(sum / bins));
        tonality_[b] = std::clamp(flatnessDb / kToneFlatnessDb, 0.0, 1.0);
    }
    for (size_t i = 0; i < count; ++i) {
        double spread = 0.0;
        for (size_t j = 0; j < count; ++j) spread += energy_[j] * spread_[i * count + j];
        // The spreading adds energy from the neighbours; dividing by its sum for a flat
        // spectrum keeps a flat spectrum at its own level.
        spread /= spreadNorm_[i];
        const double t = tonality_[i];
        const double offsetDb = t * (kToneMaskingDb + bands_[i].centreBark) + (1.0 - t) * kNoiseMaskingDb;
        threshold[i] = std::max(spread * FromDb(-offsetDb), bands_[i].quiet);
    }
}

}  // namespace velora::bench

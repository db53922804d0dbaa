#include "SignalMeasures.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "Fft.h"

namespace velora::bench {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSegmentSeconds = 0.020;
constexpr double kSegmentFloorDb = -60.0;
constexpr double kSegmentMinDb = -10.0;
constexpr double kSegmentMaxDb = 35.0;
constexpr int kSpectrumSize = 2048;
constexpr int kSmoothingBins = 3;  // on either side

double Db(double ratio) {
    return 10.0 * std::log10(ratio);
}

}  // namespace

double SnrDb(const Signal& original, const Signal& decoded, size_t begin, size_t end) {
    double signal = 0.0;
    double noise = 0.0;
    for (size_t c = 0; c < original.channels.size(); ++c)
        for (size_t n = begin; n < end; ++n) {
            const double x = original.channels[c][n];
            const double e = static_cast<double>(decoded.channels[c][n]) - x;
            signal += x * x;
            noise += e * e;
        }
    if (noise == 0.0) return std::numeric_limits<double>::infinity();
    return Db(signal / noise);
}

double SegmentalSnrDb(const Signal& original, const Signal& decoded, size_t begin, size_t end) {
    const size_t length = static_cast<size_t>(std::lround(kSegmentSeconds * original.rate));
    const double channels = static_cast<double>(original.channels.size());
    // Mean square of the floor against a full-scale square wave.
    const double floor = 32768.0 * 32768.0 * std::pow(10.0, kSegmentFloorDb / 10.0);
    double sum = 0.0;
    long count = 0;
    for (size_t s = begin; s + length <= end; s += length) {
        double signal = 0.0;
        double noise = 0.0;
        for (size_t c = 0; c < original.channels.size(); ++c)
            for (size_t n = s; n < s + length; ++n) {
                const double x = original.channels[c][n];
                const double e = static_cast<double>(decoded.channels[c][n]) - x;
                signal += x * x;
                noise += e * e;
            }
        if (signal / (static_cast<double>(length) * channels) < floor) continue;
        const double snr = noise > 0.0 ? Db(signal / noise) : kSegmentMaxDb;
        sum += std::clamp(snr, kSegmentMinDb, kSegmentMaxDb);
        ++count;
    }
    return count > 0 ? sum / static_cast<double>(count) : 0.0;
}

double BandwidthHz(const Signal& s, size_t begin, size_t end, double dropDb) {
    math::RealFft fft;
    if (!fft.Init(kSpectrumSize)) return 0.0;
    const size_t size = kSpectrumSize;
    const size_t bins = size / 2 + 1;
    std::vector<float> window(size), frame(size), re(bins), im(bins);
    for (size_t n = 0; n < size; ++n)
        window[n] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(n) / kSpectrumSize));
    std::vector<double> spectrum(bins, 0.0);
    for (const std::vector<float>& channel : s.channels)
        for (size_t p = begin; p + size <= end; p += size / 2) {
            for (size_t n = 0; n < size; ++n) frame[n] = channel[p + n] * window[n];
            fft.Forward(frame.data(), re.data(), im.data());
            for (size_t k = 0; k < bins; ++k) {
                const double r = re[k];
                const double i = im[k];
                spectrum[k] += r * r + i * i;
            }
        }
    std::vector<double> smooth(bins, 0.0);
    double peak = 0.0;
    for (size_t k = 0; k < bins; ++k) {
        const size_t lo = k >= kSmoothingBins ? k - kSmoothingBins : 0;
        const size_t hi = std::min(bins - 1, k + kSmoothingBins);
        double sum = 0.0;
        for (size_t j = lo; j <= hi; ++j) sum += spectrum[j];
        smooth[k] = sum / static_cast<double>(hi - lo + 1);
        peak = std::max(peak, smooth[k]);
    }
    if (peak <= 0.0) return 0.0;
    const double limit = peak * std::pow(10.0, -dropDb / 10.0);
    size_t top = 0;
    for (size_t k = 0; k < bins; ++k)
        if (smooth[k] >= limit) top = k;
    return static_cast<double>(top) * s.rate / kSpectrumSize;
}

}  // namespace velora::bench

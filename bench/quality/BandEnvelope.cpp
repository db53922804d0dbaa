#include "BandEnvelope.h"

#include <algorithm>
#include <cmath>

#include "Fft.h"

namespace velora::bench {
namespace {

constexpr int kSegment = 1024;
constexpr double kPi = 3.14159265358979323846;

// Power of every band of every segment of one channel: [segment][band].
std::vector<std::vector<double>> BandPowers(const std::vector<float>& x, size_t begin, size_t end, int rate,
                                            const std::vector<double>& edgesHz, const math::RealFft& fft,
                                            const std::vector<float>& window) {
    std::vector<std::vector<double>> out;
    std::vector<float> frame(kSegment);
    std::vector<float> re(kSegment / 2 + 1);
    std::vector<float> im(kSegment / 2 + 1);
    const double binHz = static_cast<double>(rate) / kSegment;
    for (size_t at = begin; at + kSegment <= end; at += kSegment) {
        for (int n = 0; n < kSegment; ++n) frame[static_cast<size_t>(n)] = x[at + static_cast<size_t>(n)] * window[static_cast<size_t>(n)];
        fft.Forward(frame.data(), re.data(), im.data());
        std::vector<double> bands(edgesHz.size() - 1, 0.0);
        for (size_t b = 0; b + 1 < edgesHz.size(); ++b) {
            const int lo = static_cast<int>(std::ceil(edgesHz[b] / binHz));
            const int hi = std::min(kSegment / 2, static_cast<int>(std::ceil(edgesHz[b + 1] / binHz)));
            double sum = 0.0;
            for (int k = lo; k < hi; ++k) {
                const double r = re[static_cast<size_t>(k)];
                const double i = im[static_cast<size_t>(k)];
                sum += r * r + i * i;
            }
            bands[b] = sum / std::max(1, hi - lo);
        }
        out.push_back(bands);
    }
    return out;
}

}  // namespace

EnvelopeResult CompareEnvelope(const Signal& original, const Signal& decoded, size_t begin, size_t end,
                               const std::vector<double>& edgesHz, double floorDb) {
    EnvelopeResult r;
    if (edgesHz.size() < 2 || end <= begin) return r;
    math::RealFft fft;
    if (!fft.Init(kSegment)) return r;
    std::vector<float> window(kSegment);
    for (int n = 0; n < kSegment; ++n)
        window[static_cast<size_t>(n)] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * kPi * (n + 0.5) / kSegment));
    // Full scale: a sine of amplitude 32768 puts (32768 x 1024 / 4)^2 into its bin.
    const double fullScale = std::pow(32768.0 * kSegment / 4.0, 2.0);
    double absSum = 0.0;
    double sum = 0.0;
    int within = 0;
    for (int ch = 0; ch < original.ChannelCount(); ++ch) {
        const auto o = BandPowers(original.channels[static_cast<size_t>(ch)], begin, end, original.rate, edgesHz, fft, window);
        const auto d = BandPowers(decoded.channels[static_cast<size_t>(ch)], begin, end, original.rate, edgesHz, fft, window);
        for (size_t b = 0; b + 1 < edgesHz.size(); ++b) {
            double loudest = 0.0;
            for (const auto& s : o) loudest = std::max(loudest, s[b]);
            const double floor = std::max(loudest * std::pow(10.0, -floorDb / 10.0), fullScale * 1e-10);
            for (size_t s = 0; s < o.size(); ++s) {
                if (o[s][b] < floor) continue;
                const double diff = 10.0 * std::log10(std::max(d[s][b], 1e-30) / o[s][b]);
                absSum += std::fabs(diff);
                sum += diff;
                within += std::fabs(diff) <= 6.0 ? 1 : 0;
                ++r.segments;
            }
        }
    }
    if (r.segments > 0) {
        r.meanAbsDb = absSum / r.segments;
        r.meanDb = sum / r.segments;
        r.within6Share = static_cast<double>(within) / r.segments;
    }
    return r;
}

}  // namespace velora::bench

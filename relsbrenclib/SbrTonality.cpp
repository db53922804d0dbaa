#include "SbrTonality.h"

#include <complex>

#include "SbrHfGenerator.h"

namespace velora::sbr {

void EstimateTonality(const SbrQmfRows& rows, int first, int end, int lowBand, int highBand,
                      BandTonality& out) {
    constexpr int kMaxRows = 64;
    const int count = end - first;
    if (count < 4 || count + 2 > kMaxRows) return;
    std::complex<float> x[kMaxRows];
    for (int k = lowBand; k < highBand; ++k) {
        for (int i = 0; i < count + 2; ++i) x[i] = {rows.Re(first - 2 + i)[k], rows.Im(first - 2 + i)[k]};
        const Prediction p = PredictCovariance(x, count);
        double energy = 0.0;
        double error = 0.0;
        for (int i = 2; i < count + 2; ++i) {
            const std::complex<double> s(x[i]);
            const std::complex<double> r = s + std::complex<double>(p.a0) * std::complex<double>(x[i - 1]) +
                                           std::complex<double>(p.a1) * std::complex<double>(x[i - 2]);
            energy += std::norm(s);
            error += std::norm(r);
        }
        out.energy[k] = static_cast<float>(energy / count);
        double share = energy > 0.0 ? 1.0 - error / energy : 0.0;
        share = share < 0.0 ? 0.0 : (share > 1.0 ? 1.0 : share);
        out.predictable[k] = static_cast<float>(share);
    }
}

}  // namespace velora::sbr

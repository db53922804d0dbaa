#include "KaiserDesign.h"

#include <cmath>

namespace velora::resample {
namespace {

constexpr double kPi = 3.14159265358979323846;

}  // namespace

long long KaiserLength(double attenuationDb, double transitionWidth) {
    return static_cast<long long>(
        std::floor((attenuationDb - 7.95) / (14.36 * transitionWidth) + 1.0));
}

double KaiserBeta(double attenuationDb) {
    if (attenuationDb > 50.0 && attenuationDb <= 140.0) return 0.1102 * (attenuationDb - 8.7);
    if (attenuationDb >= 25.0 && attenuationDb <= 50.0) {
        const double a = attenuationDb - 21.0;
        return 0.5842 * std::pow(a, 0.4) + 0.07886 * a;
    }
    return 0.0;
}

double BesselI0(double x) {
    const double quarterSquare = 0.25 * x * x;
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1;; ++k) {
        term *= quarterSquare / (static_cast<double>(k) * k);
        sum += term;
        if (term < 1e-21 * sum) break;
    }
    return sum;
}

double KaiserWindow(long long n, long long length, double beta, double i0OfBeta) {
    if (length < 2) return 1.0;
    // Measured from the centre so that taps n and N - 1 - n get exactly the same value.
    const double halfSpan = 0.5 * static_cast<double>(length - 1);
    const double r = (static_cast<double>(n) - halfSpan) / halfSpan;
    const double inside = 1.0 - r * r;
    return BesselI0(beta * std::sqrt(inside > 0.0 ? inside : 0.0)) / i0OfBeta;
}

void DesignLowPass(double cutoff, double beta, double gain, double* taps, long long length) {
    const double i0OfBeta = BesselI0(beta);
    const double centre = 0.5 * static_cast<double>(length - 1);
    for (long long n = 0; n < length; ++n) {
        const double t = static_cast<double>(n) - centre;
        const double ideal = t == 0.0 ? 2.0 * cutoff : std::sin(2.0 * kPi * cutoff * t) / (kPi * t);
        taps[n] = gain * ideal * KaiserWindow(n, length, beta, i0OfBeta);
    }
}

}  // namespace velora::resample

// Kaiser-window design of the converter's low-pass prototype. Everything is in double; the
// converter rounds the finished taps to float when it builds its phase table.
#pragma once

namespace velora::resample {

// Filter length for a stop-band attenuation (dB) and a transition width normalised to the
// filter's sampling rate: floor((A - 7.95) / (14.36 dw) + 1).
long long KaiserLength(double attenuationDb, double transitionWidth);

// The window's shape parameter for a stop-band attenuation (dB).
double KaiserBeta(double attenuationDb);

// Modified Bessel function of the first kind, order 0, summed as its power series until a
// term falls below 1e-21 of the sum.
double BesselI0(double x);

// Window value at tap n of `length`: I0(beta sqrt(1 - (2n / (length - 1) - 1)^2)) / I0(beta),
// symmetric about the centre (a tap for odd lengths, a half-sample point for even ones).
double KaiserWindow(long long n, long long length, double beta, double i0OfBeta);

// Windowed ideal low-pass: taps[n] = gain * sin(2 pi fc t) / (pi t) * w[n], t = n - (N - 1) / 2,
// fc normalised to the filter's rate. `gain` is the number of phases, so that every
// sub-filter has unit gain in the pass band.
void DesignLowPass(double cutoff, double beta, double gain, double* taps, long long length);

// Tap `index` of sub-filter `phase` of a prototype split into `phases`: tap k of the
// prototype belongs to phase k mod phases. Zero past the end of the prototype.
inline double PhaseTap(const double* taps, long long length, int phases, int phase,
                       long long index) {
    const long long k = index * phases + phase;
    return (k >= 0 && k < length) ? taps[k] : 0.0;
}

}  // namespace velora::resample

#include "SbrHfGenerator.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "SbrMultiversion.h"

#include "SbrQmfFrame.h"
#include "SbrTranspose.h"

namespace velora::sbr {
namespace {

// Lower start-frequency thresholds of the nine chirp table rows, in Hz.
constexpr int kChirpThreshold[9] = {0, 5000, 6000, 6500, 7000, 7500, 8000, 9000, 10000};

struct ChirpRowValues {
    float modeZeroAfterOne;
    float mode1;
    float mode2;
    float mode3;
};

constexpr ChirpRowValues kChirpTable[9] = {
    {0.35f, 0.7f, 0.85f, 0.95f},  {0.35f, 0.55f, 0.75f, 0.85f}, {0.35f, 0.6f, 0.75f, 0.85f},
    {0.35f, 0.7f, 0.8f, 0.9f},    {0.35f, 0.7f, 0.8f, 0.9f},    {0.75f, 0.7f, 0.85f, 0.95f},
    {0.75f, 0.7f, 0.85f, 0.95f},  {0.75f, 0.7f, 0.85f, 0.95f},  {0.75f, 0.7f, 0.85f, 0.95f},
};

// The master edge at or below `e`, clamped to the table's ends.
int SnapToMaster(const SbrFreqData& freq, int e) {
    const int first = freq.master[0];
    const int last = freq.master[freq.masterBands];
    if (e <= first) return first;
    if (e >= last) return last;
    int edge = first;
    for (int i = 0; i <= freq.masterBands && freq.master[i] <= e; ++i) edge = freq.master[i];
    return edge;
}

}  // namespace

int ChirpRow(int startFrequencyHz) {
    for (int row = 0; row < 8; ++row) {
        if (kChirpThreshold[row + 1] > startFrequencyHz) return row;
    }
    return 8;
}

float ChirpTarget(int row, int mode, int previousMode, float override) {
    if (override > 0.0f) return override;
    const ChirpRowValues& r = kChirpTable[row < 0 ? 0 : (row > 8 ? 8 : row)];
    switch (mode) {
        case 1: return r.mode1;
        case 2: return r.mode2;
        case 3: return r.mode3;
        default: return previousMode == 1 ? r.modeZeroAfterOne : 0.0f;
    }
}

float SmoothChirp(float target, float previous) {
    const float smoothed = target < previous ? 0.75f * target + 0.25f * previous
                                             : 0.90625f * target + 0.09375f * previous;
    return smoothed < 0.015625f ? 0.0f : smoothed;
}

bool BuildPatches(const SbrFreqData& freq, int outputRate, int lowestBand, int guard,
                  int patchMode, SbrPatches& patches) {
    SbrPatches p;
    const int k0 = freq.k0;
    const int k2 = freq.k2;
    const int kx = freq.kx;
    const int b0 = lowestBand < 1 ? 1 : lowestBand;
    if (outputRate <= 0 || freq.masterBands <= 0 || k0 - b0 < 4) return false;

    int off = kx - k0;
    int srcTop = k0;
    if (patchMode == 1) {
        srcTop = kx;
        off = 0;
    }
    const int goal = static_cast<int>(std::floor(2.0 * 64.0 * 16000.0 / outputRate + 0.5));
    int top = k0;
    if (k0 < goal) {
        top = k2;
        if (goal < k2) {
            for (int i = 0; i <= freq.masterBands; ++i) {
                if (freq.master[i] >= goal) {
                    top = freq.master[i];
                    break;
                }
            }
        }
    }
    if (std::abs(top - k2) < 4) top = k2;

    int low = b0 + off;
    int t = kx;
    if (t >= k2) return false;
    while (t < k2) {
        if (p.count == kMaxPatches) return false;
        const int n = p.count;
        p.targetStart[n] = t;
        t += guard;
        p.guardedStart[n] = t;
        int width = top - t;
        if (srcTop - low <= width) {
            const int e = SnapToMaster(freq, ((t - low) & ~1) + srcTop);
            width = e - t;
        }
        // A patch that cannot advance would never end the loop.
        if (width <= 0) return false;
        const int shift = (t - srcTop + 1 + width) & ~1;
        p.shift[n] = shift;
        p.width[n] = width;
        p.sourceStart[n] = t - shift;
        p.sourceEnd[n] = t - shift + width;
        if (p.sourceStart[n] < 0) return false;
        ++p.count;
        t += width;
        low = b0;
        if (std::abs(t - top) < 3) top = k2;
    }
    if (p.count > 1 && p.width[p.count - 1] < 3) {
        --p.count;
        t = p.guardedStart[p.count - 1] + p.width[p.count - 1];
    }
    p.end = t;
    p.lowestSource = p.sourceStart[0];
    p.highestSource = p.sourceEnd[0];
    for (int i = 1; i < p.count; ++i) {
        if (p.sourceStart[i] < p.lowestSource) p.lowestSource = p.sourceStart[i];
        if (p.sourceEnd[i] > p.highestSource) p.highestSource = p.sourceEnd[i];
    }
    p.chirpRow = ChirpRow(static_cast<int>(std::floor(0.5 * outputRate * kx / 64.0)));
    patches = p;
    return true;
}

namespace {

// The lag products of one band summed over the frame, and the samples at its ends that
// turn them into the lag-shifted sums.
struct CovarianceSums {
    double energy, lag1r, lag1i, lag2r, lag2i;
    double fr, fi, sr, si;  // the first and second samples
    double br, bi, lr, li;  // the one before the last, and the last
};

// Written out in real arithmetic (std::complex products check for infinities on every
// call) and without branches, so a loop over bands can run it on vectors.
[[gnu::always_inline]] inline void SolveCovariance(const CovarianceSums& c, double& a0r, double& a0i,
                                                   double& a1r, double& a1i) {
    const double r11 = c.energy - (c.lr * c.lr + c.li * c.li) + (c.sr * c.sr + c.si * c.si);
    const double r22 = r11 - (c.br * c.br + c.bi * c.bi) + (c.fr * c.fr + c.fi * c.fi);
    // phi12 = phi01 - last conj(beforeLast) + second conj(first).
    const double p12r = c.lag1r - (c.lr * c.br + c.li * c.bi) + (c.sr * c.fr + c.si * c.fi);
    const double p12i = c.lag1i - (c.li * c.br - c.lr * c.bi) + (c.si * c.fr - c.sr * c.fi);
    const double det = r11 * r22 - (p12r * p12r + p12i * p12i) / (1.0 + 1e-6);
    const bool solvable = det != 0.0;
    const double detOr1 = solvable ? det : 1.0;
    a1r = solvable ? (c.lag1r * p12r - c.lag1i * p12i - c.lag2r * r11) / detOr1 : 0.0;
    a1i = solvable ? (c.lag1r * p12i + c.lag1i * p12r - c.lag2i * r11) / detOr1 : 0.0;
    // a0 = -(phi01 + a1 conj(phi12)) / r11.
    const bool scalable = r11 != 0.0;
    const double r11Or1 = scalable ? r11 : 1.0;
    a0r = scalable ? -(c.lag1r + a1r * p12r + a1i * p12i) / r11Or1 : 0.0;
    a0i = scalable ? -(c.lag1i + a1i * p12r - a1r * p12i) / r11Or1 : 0.0;
    // Squared magnitudes against 4 squared: no square root per band.
    const bool unstable = a0r * a0r + a0i * a0i >= 16.0 || a1r * a1r + a1i * a1i >= 16.0;
    a0r = unstable ? 0.0 : a0r;
    a0i = unstable ? 0.0 : a0i;
    a1r = unstable ? 0.0 : a1r;
    a1i = unstable ? 0.0 : a1i;
}

}  // namespace

Prediction PredictCovariance(const std::complex<float>* x, int count) {
    // phi(i, j) = sum over n of x[n - i] conj(x[n - j]), n over the frame. Three running
    // sums give all six terms: the sums for lag-shifted pairs differ from the unshifted
    // ones only by the samples at the ends. Real arithmetic, as std::complex products
    // check for infinities on every call.
    CovarianceSums sums{};
    for (int n = 2; n < count + 2; ++n) {
        const double ar = static_cast<double>(x[n].real());
        const double ai = static_cast<double>(x[n].imag());
        const double br = static_cast<double>(x[n - 1].real());
        const double bi = static_cast<double>(x[n - 1].imag());
        const double cr = static_cast<double>(x[n - 2].real());
        const double ci = static_cast<double>(x[n - 2].imag());
        sums.energy += ar * ar + ai * ai;
        sums.lag1r += ar * br + ai * bi;
        sums.lag1i += ai * br - ar * bi;
        sums.lag2r += ar * cr + ai * ci;
        sums.lag2i += ai * cr - ar * ci;
    }
    sums.fr = static_cast<double>(x[0].real());
    sums.fi = static_cast<double>(x[0].imag());
    sums.sr = static_cast<double>(x[1].real());
    sums.si = static_cast<double>(x[1].imag());
    sums.br = static_cast<double>(x[count].real());
    sums.bi = static_cast<double>(x[count].imag());
    sums.lr = static_cast<double>(x[count + 1].real());
    sums.li = static_cast<double>(x[count + 1].imag());
    double a0r, a0i, a1r, a1i;
    SolveCovariance(sums, a0r, a0i, a1r, a1i);
    return {std::complex<float>(static_cast<float>(a0r), static_cast<float>(a0i)),
            std::complex<float>(static_cast<float>(a1r), static_cast<float>(a1i))};
}

}  // namespace velora::sbr

namespace velora::sbr {
namespace {

// Low rows 0..kLowRows-1 exist: 8 history rows and the frame's 18 new ones.
constexpr int kLowRows = kHistoryRows + kFrameSubsamples;

// The covariance sums of every low band over all low rows, the bands side by side so the
// arithmetic runs on whole vectors.
struct BandSums {
    double energy[kAnalysisBands];
    double lag1r[kAnalysisBands], lag1i[kAnalysisBands];
    double lag2r[kAnalysisBands], lag2i[kAnalysisBands];
};

SBR_MULTIVERSION void SumCovariances(const QmfMatrix& low, int lowest, int highest, BandSums& out) {
    for (int b = lowest; b < highest; ++b) {
        out.energy[b] = out.lag1r[b] = out.lag1i[b] = out.lag2r[b] = out.lag2i[b] = 0.0;
    }
    for (int n = 2; n < kLowRows; ++n) {
        const float* __restrict xr = low.re[n];
        const float* __restrict xi = low.im[n];
        const float* __restrict yr = low.re[n - 1];
        const float* __restrict yi = low.im[n - 1];
        const float* __restrict zr = low.re[n - 2];
        const float* __restrict zi = low.im[n - 2];
        for (int b = lowest; b < highest; ++b) {
            const double ar = static_cast<double>(xr[b]);
            const double ai = static_cast<double>(xi[b]);
            const double br = static_cast<double>(yr[b]);
            const double bi = static_cast<double>(yi[b]);
            const double cr = static_cast<double>(zr[b]);
            const double ci = static_cast<double>(zi[b]);
            out.energy[b] += ar * ar + ai * ai;
            out.lag1r[b] += ar * br + ai * bi;
            out.lag1i[b] += ai * br - ar * bi;
            out.lag2r[b] += ar * cr + ai * ci;
            out.lag2i[b] += ai * cr - ar * ci;
        }
    }
}

// The prediction of every band in [lowest, highest), with the chirp folded in.
SBR_MULTIVERSION void SolveBands(const QmfMatrix& low, const BandSums& sums, int lowest, int highest,
                                 float chirp, float* a0r, float* a0i, float* a1r, float* a1i) {
    const float chirp2 = chirp * chirp;
    for (int b = lowest; b < highest; ++b) {
        CovarianceSums c;
        c.energy = sums.energy[b];
        c.lag1r = sums.lag1r[b];
        c.lag1i = sums.lag1i[b];
        c.lag2r = sums.lag2r[b];
        c.lag2i = sums.lag2i[b];
        c.fr = static_cast<double>(low.re[0][b]);
        c.fi = static_cast<double>(low.im[0][b]);
        c.sr = static_cast<double>(low.re[1][b]);
        c.si = static_cast<double>(low.im[1][b]);
        c.br = static_cast<double>(low.re[kLowRows - 2][b]);
        c.bi = static_cast<double>(low.im[kLowRows - 2][b]);
        c.lr = static_cast<double>(low.re[kLowRows - 1][b]);
        c.li = static_cast<double>(low.im[kLowRows - 1][b]);
        double p0r, p0i, p1r, p1i;
        SolveCovariance(c, p0r, p0i, p1r, p1i);
        a0r[b] = chirp * static_cast<float>(p0r);
        a0i[b] = chirp * static_cast<float>(p0i);
        a1r[b] = chirp2 * static_cast<float>(p1r);
        a1i[b] = chirp2 * static_cast<float>(p1i);
    }
}

// Every low band of rows firstRow + 2 .. endRow + 1 plus its prediction from the two
// earlier rows, at out[l][b] for high row l: patches then only copy.
SBR_MULTIVERSION void PredictRows(const QmfMatrix& low, int firstRow, int endRow, const float* a0r,
                                  const float* a0i, const float* a1r, const float* a1i,
                                  float (*outRe)[kAnalysisBands], float (*outIm)[kAnalysisBands]) {
    for (int l = firstRow; l < endRow; ++l) {
        const int s = l + kLowBandLag;
        const float* __restrict x0r = low.re[s];
        const float* __restrict x0i = low.im[s];
        const float* __restrict x1r = low.re[s - 1];
        const float* __restrict x1i = low.im[s - 1];
        const float* __restrict x2r = low.re[s - 2];
        const float* __restrict x2i = low.im[s - 2];
        float* __restrict re = outRe[l];
        float* __restrict im = outIm[l];
        for (int b = 0; b < kAnalysisBands; ++b) {
            re[b] = x0r[b] + a0r[b] * x1r[b] - a0i[b] * x1i[b] + a1r[b] * x2r[b] - a1i[b] * x2i[b];
        }
        for (int b = 0; b < kAnalysisBands; ++b) {
            im[b] = x0i[b] + a0r[b] * x1i[b] + a0i[b] * x1r[b] + a1r[b] * x2i[b] + a1i[b] * x2r[b];
        }
    }
}

}  // namespace

void GenerateHighBand(const QmfMatrix& low, const SbrPatches& patches, float chirp, int firstRow,
                      int endRow, QmfMatrix& high) {
    firstRow = firstRow < 0 ? 0 : firstRow;
    endRow = endRow > kLowRows - kLowBandLag ? kLowRows - kLowBandLag : endRow;
    for (int l = firstRow; l < endRow; ++l) {
        ClearFloats(high.re[l], kSynthesisBands);
        ClearFloats(high.im[l], kSynthesisBands);
    }
    if (patches.count <= 0 || firstRow >= endRow) return;

    // Prediction per source band, with the chirp folded in.
    float a0r[kAnalysisBands] = {}, a0i[kAnalysisBands] = {};
    float a1r[kAnalysisBands] = {}, a1i[kAnalysisBands] = {};
    const int lowest = patches.lowestSource < 0 ? 0 : patches.lowestSource;
    const int highest = patches.highestSource > kAnalysisBands ? kAnalysisBands : patches.highestSource;
    if (chirp > 0.0f && lowest < highest) {
        BandSums sums;
        SumCovariances(low, lowest, highest, sums);
        SolveBands(low, sums, lowest, highest, chirp, a0r, a0i, a1r, a1i);
    }

    alignas(32) float predRe[kLowRows][kAnalysisBands];
    alignas(32) float predIm[kLowRows][kAnalysisBands];
    PredictRows(low, firstRow, endRow, a0r, a0i, a1r, a1i, predRe, predIm);
    for (int n = 0; n < patches.count; ++n) {
        // The bands of the patch whose target is in the matrix and whose source was analysed.
        const int shift = patches.shift[n];
        int k0 = patches.guardedStart[n];
        int k1 = k0 + patches.width[n];
        if (k0 < 0) k0 = 0;
        if (k1 > kSynthesisBands) k1 = kSynthesisBands;
        if (k0 < lowest + shift) k0 = lowest + shift;
        if (k1 > highest + shift) k1 = highest + shift;
        if (k0 >= k1) continue;
        for (int l = firstRow; l < endRow; ++l) {
            CopyFloats(high.re[l] + k0, predRe[l] + (k0 - shift), k1 - k0);
            CopyFloats(high.im[l] + k0, predIm[l] + (k0 - shift), k1 - k0);
        }
    }
}

}  // namespace velora::sbr

#include "SbrHfGenerator.h"

#include <cmath>
#include <cstdlib>

#include "SbrQmfFrame.h"

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

Prediction PredictCovariance(const std::complex<float>* x, int count) {
    // phi(i, j) = sum over n of x[n - i] conj(x[n - j]), n over the frame.
    using C = std::complex<double>;
    // Three running sums give all six terms: the sums for lag-shifted pairs differ from the
    // unshifted ones only by the samples at the ends. Real arithmetic, as std::complex
    // products check for infinities on every call.
    double energy = 0.0;
    double lag1r = 0.0, lag1i = 0.0;
    double lag2r = 0.0, lag2i = 0.0;
    for (int n = 2; n < count + 2; ++n) {
        const double ar = static_cast<double>(x[n].real());
        const double ai = static_cast<double>(x[n].imag());
        const double br = static_cast<double>(x[n - 1].real());
        const double bi = static_cast<double>(x[n - 1].imag());
        const double cr = static_cast<double>(x[n - 2].real());
        const double ci = static_cast<double>(x[n - 2].imag());
        energy += ar * ar + ai * ai;
        lag1r += ar * br + ai * bi;
        lag1i += ai * br - ar * bi;
        lag2r += ar * cr + ai * ci;
        lag2i += ai * cr - ar * ci;
    }
    const C first(x[0]);
    const C second(x[1]);
    const C last(x[count + 1]);
    const C beforeLast(x[count]);
    C phi[3][3] = {};
    phi[0][0] = energy;
    phi[1][1] = energy - std::norm(last) + std::norm(second);
    phi[2][2] = phi[1][1].real() - std::norm(beforeLast) + std::norm(first);
    phi[0][1] = C(lag1r, lag1i);
    phi[1][2] = phi[0][1] - last * std::conj(beforeLast) + second * std::conj(first);
    phi[0][2] = C(lag2r, lag2i);
    const double r11 = phi[1][1].real();
    const double r22 = phi[2][2].real();
    const double det = r11 * r22 - std::norm(phi[1][2]) / (1.0 + 1e-6);
    C a1 = 0.0;
    if (det != 0.0) a1 = (phi[0][1] * phi[1][2] - phi[0][2] * r11) / det;
    C a0 = 0.0;
    if (r11 != 0.0) a0 = -(phi[0][1] + a1 * std::conj(phi[1][2])) / r11;
    if (std::abs(a0) >= 4.0 || std::abs(a1) >= 4.0) a0 = a1 = 0.0;
    return {std::complex<float>(static_cast<float>(a0.real()), static_cast<float>(a0.imag())),
            std::complex<float>(static_cast<float>(a1.real()), static_cast<float>(a1.imag()))};
}

}  // namespace velora::sbr

namespace velora::sbr {

void GenerateHighBand(const QmfMatrix& low, const SbrPatches& patches, float chirp, int firstRow,
                      int endRow, QmfMatrix& high) {
    // Low rows 0..kLowRows-1 exist: 8 history rows and the frame's 18 new ones.
    constexpr int kLowRows = kHistoryRows + kFrameSubsamples;
    firstRow = firstRow < 0 ? 0 : firstRow;
    endRow = endRow > kLowRows - kLowBandLag ? kLowRows - kLowBandLag : endRow;
    for (int l = firstRow; l < endRow; ++l) {
        for (int k = 0; k < kSynthesisBands; ++k) high.re[l][k] = high.im[l][k] = 0.0f;
    }
    if (patches.count <= 0 || firstRow >= endRow) return;

    // Prediction per source band, with the chirp folded in.
    std::complex<float> c0[kAnalysisBands];
    std::complex<float> c1[kAnalysisBands];
    const int lowest = patches.lowestSource < 0 ? 0 : patches.lowestSource;
    const int highest = patches.highestSource > kAnalysisBands ? kAnalysisBands : patches.highestSource;
    for (int b = lowest; b < highest; ++b) {
        c0[b] = c1[b] = 0.0f;
        if (chirp <= 0.0f) continue;
        std::complex<float> x[kLowRows];
        for (int l = 0; l < kLowRows; ++l) x[l] = {low.re[l][b], low.im[l][b]};
        const Prediction p = PredictCovariance(x, kLowRows - 2);
        c0[b] = chirp * p.a0;
        c1[b] = chirp * chirp * p.a1;
    }

    for (int n = 0; n < patches.count; ++n) {
        const int start = patches.guardedStart[n];
        for (int j = 0; j < patches.width[n]; ++j) {
            const int k = start + j;
            const int b = k - patches.shift[n];
            if (k < 0 || k >= kSynthesisBands || b < lowest || b >= highest) continue;
            // Written out: std::complex products check for infinities on every call.
            const float a0r = c0[b].real();
            const float a0i = c0[b].imag();
            const float a1r = c1[b].real();
            const float a1i = c1[b].imag();
            for (int l = firstRow; l < endRow; ++l) {
                const int s = l + kLowBandLag;
                const float x1r = low.re[s - 1][b];
                const float x1i = low.im[s - 1][b];
                const float x2r = low.re[s - 2][b];
                const float x2i = low.im[s - 2][b];
                high.re[l][k] = low.re[s][b] + a0r * x1r - a0i * x1i + a1r * x2r - a1i * x2i;
                high.im[l][k] = low.im[s][b] + a0r * x1i + a0i * x1r + a1r * x2i + a1i * x2r;
            }
        }
    }
}

}  // namespace velora::sbr

#include "Alignment.h"

#include <algorithm>
#include <cmath>

#include "Fft.h"

namespace velora::bench {
namespace {

// Long enough to hold several notes of music, short enough for one FFT.
constexpr size_t kSegment = 65536;

double Correlation(const std::vector<float>& a, const std::vector<float>& b, long lag) {
    size_t begin = 0;
    size_t end = 0;
    OverlapRange(lag, a.size(), b.size(), begin, end);
    double ab = 0.0;
    double aa = 0.0;
    double bb = 0.0;
    for (size_t n = begin; n < end; ++n) {
        const double x = a[n];
        const double y = b[static_cast<size_t>(static_cast<long>(n) + lag)];
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    return aa > 0.0 && bb > 0.0 ? ab / std::sqrt(aa * bb) : 0.0;
}

}  // namespace

void OverlapRange(long lag, size_t originalLength, size_t decodedLength, size_t& begin, size_t& end) {
    const long first = std::max(0L, -lag);
    const long last = std::min(static_cast<long>(originalLength), static_cast<long>(decodedLength) - lag);
    begin = static_cast<size_t>(first);
    end = static_cast<size_t>(std::max(first, last));
}

Alignment FindLag(const std::vector<float>& original, const std::vector<float>& decoded, int maxLag) {
    const size_t segment = std::min(kSegment, original.size());
    // The loudest stretch of the original, in steps of a quarter segment.
    size_t start = 0;
    double loudest = -1.0;
    for (size_t p = 0; p + segment <= original.size(); p += std::max<size_t>(1, segment / 4)) {
        double e = 0.0;
        for (size_t i = 0; i < segment; ++i) {
            const double v = original[p + i];
            e += v * v;
        }
        if (e > loudest) {
            loudest = e;
            start = p;
        }
    }
    const size_t span = segment + 2 * static_cast<size_t>(maxLag);
    int size = 2;
    while (static_cast<size_t>(size) < span) size *= 2;
    math::RealFft fft;
    if (!fft.Init(size)) return {};

    // a: the stretch of the original; b: the decoded signal from maxLag before it to maxLag after.
    const size_t n = static_cast<size_t>(size);
    std::vector<float> a(n, 0.0f);
    std::vector<float> b(n, 0.0f);
    for (size_t i = 0; i < segment; ++i) a[i] = original[start + i];
    for (size_t i = 0; i < span; ++i) {
        const long at = static_cast<long>(start + i) - maxLag;
        if (at >= 0 && static_cast<size_t>(at) < decoded.size()) b[i] = decoded[static_cast<size_t>(at)];
    }
    const size_t bins = n / 2 + 1;
    std::vector<float> aRe(bins), aIm(bins), bRe(bins), bIm(bins), c(n);
    fft.Forward(a.data(), aRe.data(), aIm.data());
    fft.Forward(b.data(), bRe.data(), bIm.data());
    // conj(A) * B transforms back to c[k] = sum a[i] b[i + k]; no wrap for k <= 2 maxLag.
    for (size_t k = 0; k < bins; ++k) {
        const float re = aRe[k] * bRe[k] + aIm[k] * bIm[k];
        const float im = aRe[k] * bIm[k] - aIm[k] * bRe[k];
        aRe[k] = re;
        aIm[k] = im;
    }
    fft.Inverse(aRe.data(), aIm.data(), c.data());

    // Normalised by the energy of the decoded stretch each lag covers, so that a loud
    // passage beside the right lag does not win.
    std::vector<double> prefix(span + 1, 0.0);
    for (size_t i = 0; i < span; ++i) {
        const double v = b[i];
        prefix[i + 1] = prefix[i] + v * v;
    }
    const size_t lags = 2 * static_cast<size_t>(maxLag) + 1;
    std::vector<double> score(lags, -1e300);
    double bestScore = -1e300;
    for (size_t k = 0; k < lags; ++k) {
        const double energy = prefix[k + segment] - prefix[k];
        if (energy <= 0.0) continue;
        score[k] = static_cast<double>(c[k]) / std::sqrt(energy);
        bestScore = std::max(bestScore, score[k]);
    }
    // A periodic signal matches nearly as well a whole number of periods away, where the
    // float correlation of one stretch cannot tell the lags apart: each peak near the best
    // is judged over the whole signal in double, and of equal ones the nearest to no delay
    // wins.
    if (!(bestScore > -1e300)) return {0, Correlation(original, decoded, 0)};  // a silent decoded signal
    Alignment result{0, -2.0};
    const double near = bestScore > 0.0 ? bestScore * (1.0 - 1e-3) : bestScore;
    for (size_t k = 0; k < lags; ++k) {
        const bool peak = (k == 0 || score[k] >= score[k - 1]) && (k + 1 == lags || score[k] >= score[k + 1]);
        if (!peak || score[k] < near) continue;
        const long lag = static_cast<long>(k) - maxLag;
        const double r = Correlation(original, decoded, lag);
        if (r > result.correlation + 1e-9 || (r > result.correlation - 1e-9 && std::labs(lag) < std::labs(result.lag)))
            result = {lag, r};
    }
    // The sample: the neighbours of the peak, in double over the whole signal.
    const long best = result.lag;
    for (long lag = best - 3; lag <= best + 3; ++lag) {
        if (lag < -maxLag || lag > maxLag || lag == best) continue;
        const double r = Correlation(original, decoded, lag);
        if (r > result.correlation) result = {lag, r};
    }
    return result;
}

Signal Shift(const Signal& decoded, long lag, size_t length) {
    Signal out;
    out.rate = decoded.rate;
    out.channels.assign(decoded.channels.size(), std::vector<float>(length, 0.0f));
    size_t begin = 0;
    size_t end = 0;
    OverlapRange(lag, length, decoded.Length(), begin, end);
    for (size_t c = 0; c < decoded.channels.size(); ++c)
        for (size_t n = begin; n < end; ++n)
            out.channels[c][n] = decoded.channels[c][static_cast<size_t>(static_cast<long>(n) + lag)];
    return out;
}

}  // namespace velora::bench

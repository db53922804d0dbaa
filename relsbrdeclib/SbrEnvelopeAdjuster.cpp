#include "SbrEnvelopeAdjuster.h"

#include <cmath>
#include <cstring>

#include "SbrGains.h"
#include "SbrMultiversion.h"
#include "SbrNoiseTable.h"
#include "SbrQmfFrame.h"
#include "SbrTranspose.h"

namespace velora::sbr {
namespace {

constexpr int kSmoothingLength[5] = {1, 2, 3, 4, 5};
constexpr float kSmoothing[5][kMaxSmoothingLength] = {
    {1.0f},
    {0.33333334f, 0.66666669f},
    {0.125f, 0.375f, 0.5f},
    {0.05857864f, 0.2f, 0.34142137f, 0.4f},
    {0.0318305f, 0.11516383f, 0.2181695f, 0.30150282f, 0.33333334f},
};

// sin^2(pi / 12 x (i + 0.5)) for i = 0..2, then 1 minus those in reverse order; the falling
// ramp is the same read backwards, so the two always sum to 1.
constexpr float kRise[kCrossfadeSubsamples] = {0.0170371f, 0.1464466f, 0.3705905f,
                                               0.6294095f, 0.8535534f, 0.9829629f};

// White noise in a complex QMF band spreads over positive and negative sub-sample
// frequencies; the synthesis passes only the half that falls into the band, so the noise
// is added 3 dB louder to arrive with the energy the noise amplitude stands for.
constexpr float kNoiseSynthesisLoss = 1.41421356f;

// Index of the band of `edges` (count bands, count + 1 edges) that holds QMF band k.
int BandOf(const int32_t* edges, int count, int k) {
    int b = 0;
    while (b + 1 < count && edges[b + 1] <= k) ++b;
    return b;
}

struct EnvelopeBands {
    float energy[kQmfBands];
    float noise[kQmfBands];
    float current[kQmfBands];
    float gain[kQmfBands];
    float noiseAmplitude[kQmfBands];
};

// Mean energy of the generated sub-samples per QMF band, or per envelope band when the
// energies are not interpolated over frequency.
SBR_MULTIVERSION void EstimateCurrent(const QmfMatrix& high, int r0, int r1, const SbrFreqData& freq,
                     const int32_t* table, int bands, bool perQmfBand, float* current) {
    const int kx = freq.kx;
    double perBand[kQmfBands] = {};
    // Row by row, every band's sum in the same order as band by band.
    for (int l = r0; l < r1; ++l) {
        const float* re = high.re[l];
        const float* im = high.im[l];
        for (int k = kx; k < freq.upper; ++k) {
            const double r = static_cast<double>(re[k]);
            const double i = static_cast<double>(im[k]);
            perBand[k] += r * r + i * i;
        }
    }
    for (int k = kx; k < freq.upper; ++k) perBand[k] /= (r1 - r0);
    if (perQmfBand) {
        for (int k = kx; k < freq.upper; ++k) current[k - kx] = static_cast<float>(perBand[k]);
        return;
    }
    for (int b = 0; b < bands; ++b) {
        const int lo = table[b] < kx ? kx : table[b];
        const int hi = table[b + 1] > freq.upper ? freq.upper : table[b + 1];
        if (hi <= lo) continue;
        double sum = 0.0;
        for (int k = lo; k < hi; ++k) sum += perBand[k];
        const float mean = static_cast<float>(sum / (hi - lo));
        for (int k = lo; k < hi; ++k) current[k - kx] = mean;
    }
}

// What the limiter took away is given back per limiter band, up to kMaxBoost, so the band
// keeps its transmitted total energy where the limiter only redistributed it.
void CompensateLimiter(const int32_t* edges, int limiterBands, int bands, EnvelopeBands& e) {
    for (int b = 0; b < limiterBands; ++b) {
        const int lo = edges[b];
        const int hi = edges[b + 1] < bands ? edges[b + 1] : bands;
        double wanted = 1e-12;
        double delivered = 1e-12;
        for (int m = lo; m < hi; ++m) {
            wanted += static_cast<double>(e.energy[m]);
            const double g = static_cast<double>(e.gain[m]);
            const double n = static_cast<double>(e.noiseAmplitude[m]);
            delivered += g * g * static_cast<double>(e.current[m]) + n * n;
        }
        float boost = static_cast<float>(std::sqrt(wanted / delivered));
        if (boost > kMaxBoost) boost = kMaxBoost;
        for (int m = lo; m < hi; ++m) {
            e.gain[m] *= boost;
            e.noiseAmplitude[m] *= boost;
        }
    }
}

// Newest values go first into the history; the filter's last coefficient weighs them.
void Smooth(const float* filter, int length, int available, float (*history)[kQmfBands], int bands,
            float* out) {
    if (available > length) available = length;
    for (int m = 0; m < bands; ++m) {
        float sum = 0.0f;
        float weight = 0.0f;
        for (int i = 0; i < available; ++i) {
            const float h = filter[length - 1 - i];
            sum += h * history[i][m];
            weight += h;
        }
        out[m] = weight > 0.0f ? sum / weight : history[0][m];
    }
}

void PushHistory(float (*history)[kQmfBands], const float* values, int bands) {
    for (int i = kMaxSmoothingLength - 1; i > 0; --i) CopyFloats(history[i], history[i - 1], kQmfBands);
    CopyFloats(history[0], values, bands);
}

// One row of the cross-fade between the gains and noise levels in use and the envelope's.
SBR_MULTIVERSION void AdjustRow(float fall, float rise, const float* __restrict oldGain,
                                const float* __restrict oldNoise, const float* __restrict newGain,
                                const float* __restrict newNoise, const float* __restrict noiseRe,
                                const float* __restrict noiseIm, float* __restrict re,
                                float* __restrict im, int count) {
    for (int m = 0; m < count; ++m) {
        const float g = fall * oldGain[m] + rise * newGain[m];
        const float n = (fall * oldNoise[m] + rise * newNoise[m]) * kNoiseSynthesisLoss;
        re[m] = g * re[m] + n * noiseRe[m];
        im[m] = g * im[m] + n * noiseIm[m];
    }
}

}  // namespace

const float* SmoothingFilter(int index, int* length) {
    index = index < 0 ? 0 : (index > 4 ? 4 : index);
    if (length != nullptr) *length = kSmoothingLength[index];
    return kSmoothing[index];
}

void ResetAdjuster(AdjusterState& state) {
    std::memset(&state, 0, sizeof(state));
}

void AdjustEnvelopes(const SbrEnvelopeData& env, const SbrFreqData& freq, const SbrHeader& header,
                     const AdjusterSettings& settings, AdjusterState& state, QmfMatrix& high) {
    const int kx = freq.kx;
    const int bands = freq.upper - kx;
    const SbrFrameInfo& grid = env.grid;
    if (bands <= 0 || kx < 0 || freq.upper > kQmfBands || grid.envelopes < 1 ||
        grid.envelopes > kMaxEnvelopes)
        return;

    const int limiterSetting = header.limiterBands & 3;
    const int32_t* limiterEdges = freq.limiter[limiterSetting];
    const int limiterBands = freq.limiterBandCount[limiterSetting];
    const float limiterGain = settings.limiterGainOverride != 1000.0f
                                  ? settings.limiterGainOverride
                                  : kLimiterGains[header.limiterGains & 3];
    int filterLength = 1;
    const float* filter = SmoothingFilter(settings.smoothingFilter, &filterLength);
    // A transient at the end of the previous frame makes this frame's first envelope one too.
    const bool transientCarried =
        state.previousPointer > 0 && state.previousPointer == state.previousEnvelopes;

    EnvelopeBands e;
    int noiseEnvelope = 0;
    for (int l = 0; l < grid.envelopes; ++l) {
        const int r0 = 2 * grid.borders[l];
        int r1 = 2 * grid.borders[l + 1];
        if (r1 > kMatrixRows) r1 = kMatrixRows;
        if (r0 < 0 || r0 >= r1) continue;
        while (noiseEnvelope + 1 < grid.noiseEnvelopes &&
               grid.borders[l] >= grid.noiseBorders[noiseEnvelope + 1])
            ++noiseEnvelope;
        const bool transient = (grid.pointer > 0 && l == grid.pointer) || (l == 0 && transientCarried);

        const bool highRes = grid.freqRes[l] != 0;
        const int32_t* table = highRes ? freq.high : freq.low;
        const int tableBands = highRes ? freq.highBands : freq.lowBands;
        // BandOf of successive bands never goes back, so each search goes on from the last.
        int envelopeBand = BandOf(table, tableBands, kx);
        int noiseBand = BandOf(freq.noise, freq.noiseBandCount, kx);
        for (int k = kx; k < freq.upper; ++k) {
            const int m = k - kx;
            while (envelopeBand + 1 < tableBands && table[envelopeBand + 1] <= k) ++envelopeBand;
            while (noiseBand + 1 < freq.noiseBandCount && freq.noise[noiseBand + 1] <= k) ++noiseBand;
            e.energy[m] = env.envelope[l][envelopeBand];
            e.noise[m] = env.noise[noiseEnvelope][noiseBand];
        }
        EstimateCurrent(high, r0, r1, freq, table, tableBands, header.interpolFreq != 0, e.current);

        GainInput in;
        in.bands = bands;
        in.energy = e.energy;
        in.noise = e.noise;
        in.current = e.current;
        in.limiterEdges = limiterEdges;
        in.limiterBands = limiterBands;
        in.limiterGain = limiterGain;
        // A transient envelope gets its energy from the generated band alone: noise there
        // would smear the attack.
        in.withoutNoiseTerm = transient;
        ComputeGains(in, e.gain, e.noiseAmplitude);
        if (transient) {
            for (int m = 0; m < bands; ++m) e.noiseAmplitude[m] = 0.0f;
        }
        CompensateLimiter(limiterEdges, limiterBands, bands, e);
        for (int m = 0; m < bands; ++m) {
            e.gain[m] *= freq.tilt[kx + m];
            e.noiseAmplitude[m] *= freq.tilt[kx + m];
        }

        // Smoothing runs over successive envelopes; transients and the header's
        // smoothing_mode 1 take the new values as they are.
        if (state.historyCount == 0) {
            for (int i = 0; i < kMaxSmoothingLength; ++i) {
                CopyFloats(state.gainHistory[i], e.gain, bands);
                CopyFloats(state.noiseHistory[i], e.noiseAmplitude, bands);
            }
            CopyFloats(state.gain, e.gain, bands);
            CopyFloats(state.noise, e.noiseAmplitude, bands);
        }
        PushHistory(state.gainHistory, e.gain, bands);
        PushHistory(state.noiseHistory, e.noiseAmplitude, bands);
        if (state.historyCount < kMaxSmoothingLength) ++state.historyCount;
        if (!transient && header.smoothingMode == 0 && filterLength > 1) {
            Smooth(filter, filterLength, kMaxSmoothingLength, state.gainHistory, bands, e.gain);
            Smooth(filter, filterLength, kMaxSmoothingLength, state.noiseHistory, bands, e.noiseAmplitude);
        }

        for (int l2 = r0; l2 < r1; ++l2) {
            const int step = l2 - r0;
            const float rise = step < kCrossfadeSubsamples ? kRise[step] : 1.0f;
            const float fall = 1.0f - rise;
            // The noise table wraps at most once within a row: two runs of plain indices.
            const int index = state.noiseIndex;
            const int firstRun = bands < 512 - index ? bands : 512 - index;
            AdjustRow(fall, rise, state.gain, state.noise, e.gain, e.noiseAmplitude, kNoiseTableReal + index,
                      kNoiseTableImag + index, high.re[l2] + kx, high.im[l2] + kx, firstRun);
            AdjustRow(fall, rise, state.gain + firstRun, state.noise + firstRun, e.gain + firstRun,
                      e.noiseAmplitude + firstRun, kNoiseTableReal, kNoiseTableImag, high.re[l2] + kx + firstRun,
                      high.im[l2] + kx + firstRun, bands - firstRun);
            state.noiseIndex = (state.noiseIndex + bands) & 511;
        }
        CopyFloats(state.gain, e.gain, bands);
        CopyFloats(state.noise, e.noiseAmplitude, bands);
    }
    state.previousEnvelopes = grid.envelopes;
    state.previousPointer = grid.pointer;
}

}  // namespace velora::sbr

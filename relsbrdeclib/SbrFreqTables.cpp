#include "SbrFreqTables.h"

#include <algorithm>
#include <cmath>

namespace velora::sbr {
namespace {

constexpr int kStartOffset[16] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13, 16, 20, 24, 28, 33};
constexpr double kLimiterBandsPerOctave[4] = {1.0, 1.2, 2.0, 3.0};
constexpr int kMaxSpan = 48;  // k2 - k0

// Every rounding of the tables is "nearest, halves up" (floor(x + 0.5)); band edges of
// the logarithmic scales are never exact halves, so the choice only matters for the
// linear band count, which is computed in integers.
int RoundHalfUp(double x) {
    return static_cast<int>(std::floor(x + 0.5));
}

// round(num / den) for positive integers, halves up.
int RoundRatio(int num, int den) {
    return (2 * num + den) / (2 * den);
}

int RateRegion(int outputRate) {
    if (outputRate < 32000) return 0;
    if (outputRate < 64000) return 1;
    return 2;
}

bool HeaderFieldsInRange(const SbrHeader& h) {
    return h.startFreq >= 0 && h.startFreq <= 15 && h.stopFreq >= 0 && h.stopFreq <= 15 &&
           h.xoverBand >= 0 && h.xoverBand <= 7 && h.freqScale >= 0 && h.freqScale <= 3 &&
           h.alterScale >= 0 && h.alterScale <= 1 && h.noiseBands >= 0 && h.noiseBands <= 3;
}

// Linear scale: bands of width 1 or 2. The count 2 * round(span / (2 * width)) may not
// exceed the span (with width 1 and an odd span the half is rounded down), so no band
// ends up empty. The shortfall or excess is spread one band at a time: widening from the
// top band down, narrowing from the bottom band up, which keeps the widths ascending.
bool LinearMaster(int k0, int k2, int alterScale, int32_t* master, int& count) {
    const int span = k2 - k0;
    const int width = alterScale != 0 ? 2 : 1;
    int bands = 2 * RoundRatio(span, 2 * width);
    if (bands > span) bands -= 2;
    if (bands <= 0 || bands > kMaxMasterBands) return false;
    int widths[kMaxMasterBands];
    for (int k = 0; k < bands; ++k) widths[k] = width;
    int diff = span - bands * width;
    for (int k = bands - 1; diff > 0; --k, --diff) ++widths[k];
    for (int k = 0; diff < 0; ++k, ++diff) --widths[k];
    master[0] = k0;
    for (int k = 0; k < bands; ++k) {
        if (widths[k] <= 0) return false;
        master[k + 1] = master[k] + widths[k];
    }
    count = bands;
    return true;
}

// Widths of `bands` logarithmically spaced bands from lo to hi, sorted ascending.
void LogWidths(int lo, int hi, int bands, int* widths) {
    const double ratio = static_cast<double>(hi) / lo;
    int previous = lo;
    for (int k = 0; k < bands; ++k) {
        const double exponent = static_cast<double>(k + 1) / bands;
        const int edge = RoundHalfUp(lo * std::pow(ratio, exponent));
        widths[k] = edge - previous;
        previous = edge;
    }
    std::sort(widths, widths + bands);
}

// Logarithmic scale: 12, 10 or 8 bands per octave; above 2 * k0 (when k2 / k0 > 2.2449) a
// second region whose band count is divided by the warp factor. If the second region
// starts with bands narrower than the widest of the first, its narrowest band is widened
// at the expense of its widest, by at most half their difference so the order is kept.
bool LogMaster(int k0, int k2, int freqScale, int alterScale, int32_t* master, int& count) {
    static constexpr int kBandsPerOctave[4] = {0, 12, 10, 8};
    const double perOctave = kBandsPerOctave[freqScale];
    const double warp = alterScale != 0 ? 1.3 : 1.0;
    const bool twoRegions = static_cast<double>(k2) / k0 > 2.2449;
    const int k1 = twoRegions ? 2 * k0 : k2;

    const int bands0 = 2 * RoundHalfUp(perOctave * std::log2(static_cast<double>(k1) / k0) / 2.0);
    if (bands0 <= 0 || bands0 > kMaxMasterBands) return false;
    int widths0[kMaxMasterBands];
    LogWidths(k0, k1, bands0, widths0);

    int bands1 = 0;
    int widths1[kMaxMasterBands];
    if (twoRegions) {
        bands1 =
            2 * RoundHalfUp(perOctave * std::log2(static_cast<double>(k2) / k1) / (2.0 * warp));
        if (bands1 <= 0 || bands0 + bands1 > kMaxMasterBands) return false;
        LogWidths(k1, k2, bands1, widths1);
        const int widest0 = widths0[bands0 - 1];
        if (widths1[0] < widest0) {
            const int change =
                std::min(widest0 - widths1[0], (widths1[bands1 - 1] - widths1[0]) / 2);
            widths1[0] += change;
            widths1[bands1 - 1] -= change;
            std::sort(widths1, widths1 + bands1);
        }
    }

    master[0] = k0;
    int n = 0;
    for (int k = 0; k < bands0; ++k, ++n) {
        if (widths0[k] <= 0) return false;
        master[n + 1] = master[n] + widths0[k];
    }
    for (int k = 0; k < bands1; ++k, ++n) {
        if (widths1[k] <= 0) return false;
        master[n + 1] = master[n] + widths1[k];
    }
    count = n;
    return true;
}

// Groups `bands` bands of `edges` into `groups` bands: each group takes the remaining
// bands divided by the remaining groups. Requires 1 <= groups <= bands.
void GroupEdges(const int32_t* edges, int bands, int groups, int32_t* out, int offset) {
    int index = 0;
    out[0] = edges[0] - offset;
    for (int g = 0; g < groups; ++g) {
        index += (bands - index) / (groups - g);
        out[g + 1] = edges[index] - offset;
    }
}

bool BuildMaster(const SbrHeader& header, int outputRate, SbrFreqData& d) {
    const int k0 = StartBand(header.startFreq, outputRate);
    const int k2 = StopBand(header.stopFreq, k0, outputRate);
    if (k0 < 0 || k2 < 0) return false;
    if (k2 - k0 < 0 || k2 - k0 > kMaxSpan) return false;
    d.k0 = k0;
    d.k2 = k2;
    if (k2 == k0) return false;  // no master band
    int count = 0;
    const bool ok = header.freqScale == 0
                        ? LinearMaster(k0, k2, header.alterScale, d.master, count)
                        : LogMaster(k0, k2, header.freqScale, header.alterScale, d.master, count);
    if (!ok) return false;
    d.masterBands = count;
    return true;
}

// Everything below the master table. `d` already holds k0, k2 and the master table.
bool BuildDerived(const SbrHeader& header, float tiltDb, SbrFreqData& d) {
    if (header.xoverBand >= d.masterBands) return false;
    d.highBands = d.masterBands - header.xoverBand;
    for (int k = 0; k <= d.highBands; ++k) d.high[k] = d.master[header.xoverBand + k];

    d.lowBands = d.highBands - d.highBands / 2;
    if (d.lowBands >= 25) return false;
    const int odd = d.highBands % 2;
    d.low[0] = d.high[0];
    for (int k = 1; k <= d.lowBands; ++k) d.low[k] = d.high[2 * k - odd];

    d.kx = d.high[0];
    d.upper = d.high[d.highBands];
    d.m = d.upper - d.kx;
    if (d.kx > 32) return false;

    const double octaves = std::log2(static_cast<double>(d.upper) / d.kx);
    // At least one noise band, and never more than low-resolution bands to group.
    int noiseBands = header.noiseBands == 0 ? 1 : RoundHalfUp(header.noiseBands * octaves);
    if (noiseBands > kMaxNoiseBands) return false;
    noiseBands = std::clamp(noiseBands, 1, d.lowBands);
    d.noiseBandCount = noiseBands;
    GroupEdges(d.low, d.lowBands, noiseBands, d.noise, 0);

    for (int s = 0; s < 4; ++s) {
        int count = RoundHalfUp(octaves * kLimiterBandsPerOctave[s]);
        count = std::clamp(count, 1, std::min(kMaxLimiterBands, d.lowBands));
        d.limiterBandCount[s] = count;
        GroupEdges(d.low, d.lowBands, count, d.limiter[s], d.kx);
    }

    // Bands outside kx..upper-1 are neutral.
    for (int k = 0; k < kQmfBands; ++k) d.tilt[k] = 1.0f;
    if (tiltDb != 0.0f) {
        const double exponent =
            static_cast<double>(tiltDb) / (20.0 * std::log10(static_cast<double>(d.upper) / d.kx));
        for (int k = d.kx; k < d.upper; ++k) {
            d.tilt[k] = static_cast<float>(std::pow(static_cast<double>(k) / d.kx, exponent));
        }
    }
    return true;
}

}  // namespace

int StartBand(int startFreq, int outputRate) {
    if (startFreq < 0 || startFreq > 15 || outputRate <= 0) return -1;
    static constexpr int kStartHz[3] = {6000, 8000, 10000};
    return RoundRatio(kStartHz[RateRegion(outputRate)] * 64, outputRate) + kStartOffset[startFreq];
}

int StopBand(int stopFreq, int k0, int outputRate) {
    if (stopFreq < 0 || stopFreq > 15 || outputRate <= 0 || k0 < 0) return -1;
    int k2 = 0;
    if (stopFreq == 14) {
        k2 = 2 * k0;
    } else if (stopFreq == 15) {
        k2 = 3 * k0;
    } else {
        static constexpr int kStopHz[3] = {12000, 16000, 20000};
        const int stopMin = RoundRatio(kStopHz[RateRegion(outputRate)] * 64, outputRate);
        if (stopMin <= 0) return -1;
        const double ratio = 64.0 / stopMin;
        int diffs[13];
        int previous = stopMin;
        for (int i = 1; i <= 13; ++i) {
            const int edge = RoundHalfUp(stopMin * std::pow(ratio, i / 13.0));
            diffs[i - 1] = edge - previous;
            previous = edge;
        }
        std::sort(diffs, diffs + 13);
        k2 = stopMin;
        for (int i = 0; i < stopFreq; ++i) k2 += diffs[i];
    }
    return std::min(k2, kQmfBands);
}

bool MasterTableChanged(const SbrHeader& a, const SbrHeader& b) {
    return a.startFreq != b.startFreq || a.stopFreq != b.stopFreq || a.freqScale != b.freqScale ||
           a.alterScale != b.alterScale;
}

bool BuildFreqTables(const SbrHeader& header, int outputRate, SbrFreqData& out) {
    return BuildFreqTables(header, outputRate, 0.0f, out);
}

bool BuildFreqTables(const SbrHeader& header, int outputRate, float tiltDb, SbrFreqData& out) {
    if (outputRate <= 0 || !HeaderFieldsInRange(header) || !std::isfinite(tiltDb)) return false;
    SbrFreqData d;
    if (!BuildMaster(header, outputRate, d)) return false;
    if (!BuildDerived(header, tiltDb, d)) return false;
    out = d;
    return true;
}

bool UpdateFreqTables(const SbrHeader& previous, const SbrHeader& header, int outputRate,
                      float tiltDb, SbrFreqData& data) {
    if (MasterTableChanged(previous, header) || data.masterBands <= 0 ||
        data.masterBands > kMaxMasterBands) {
        return BuildFreqTables(header, outputRate, tiltDb, data);
    }
    if (outputRate <= 0 || !HeaderFieldsInRange(header) || !std::isfinite(tiltDb)) return false;
    SbrFreqData d;
    d.k0 = data.k0;
    d.k2 = data.k2;
    d.masterBands = data.masterBands;
    for (int k = 0; k <= d.masterBands; ++k) d.master[k] = data.master[k];
    if (!BuildDerived(header, tiltDb, d)) return false;
    data = d;
    return true;
}

}  // namespace velora::sbr

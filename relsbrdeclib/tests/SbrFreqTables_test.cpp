// Frequency band tables: edge cases, the operating point and every header at the three
// output rates, against a reference computed here with long-double arithmetic.
#include "SbrFreqTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace velora::sbr {
namespace {

// ---- Reference -------------------------------------------------------------------------

struct RefTables {
    bool usable = false;
    bool zeroWidthOnly = false;  // refused only for an empty master band
    int k0 = 0;
    int k2 = 0;
    std::vector<int> master, high, low, noise;
    std::vector<int> limiter[4];
};

int Nint(long double x) {
    return static_cast<int>(std::floor(x + 0.5L));
}

int RefK0(int startFreq, int fs) {
    static const int offsets[16] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13, 16, 20, 24, 28, 33};
    const long double s = fs < 32000 ? 6000.0L : (fs < 64000 ? 8000.0L : 10000.0L);
    return Nint(s * 64.0L / fs) + offsets[startFreq];
}

int RefK2(int stopFreq, int k0, int fs) {
    int k2 = 0;
    if (stopFreq == 14) {
        k2 = 2 * k0;
    } else if (stopFreq == 15) {
        k2 = 3 * k0;
    } else {
        const long double t = fs < 32000 ? 12000.0L : (fs < 64000 ? 16000.0L : 20000.0L);
        const int stopMin = Nint(t * 64.0L / fs);
        std::vector<int> values;
        for (int i = 0; i <= 13; ++i) {
            values.push_back(Nint(stopMin * std::exp(std::log(64.0L / stopMin) * i / 13.0L)));
        }
        std::vector<int> diffs;
        for (int i = 0; i < 13; ++i) diffs.push_back(values[i + 1] - values[i]);
        std::stable_sort(diffs.begin(), diffs.end());
        k2 = stopMin;
        for (int i = 0; i < stopFreq; ++i) k2 += diffs[i];
    }
    return std::min(k2, 64);
}

std::vector<int> RefLogWidths(int lo, int hi, int bands) {
    std::vector<int> edges;
    for (int k = 0; k <= bands; ++k) {
        edges.push_back(
            Nint(lo * std::exp(std::log(static_cast<long double>(hi) / lo) * k / bands)));
    }
    std::vector<int> widths;
    for (int k = 0; k < bands; ++k) widths.push_back(edges[k + 1] - edges[k]);
    std::stable_sort(widths.begin(), widths.end());
    return widths;
}

// Master table as widths; empty when the rule gives no band.
std::vector<int> RefMasterWidths(int k0, int k2, int freqScale, int alterScale) {
    std::vector<int> widths;
    if (freqScale == 0) {
        const int width = alterScale ? 2 : 1;
        const int span = k2 - k0;
        // 2 * round(span / (2 * width)), halves up, but never more bands than QMF bands.
        int bands = 2 * Nint(static_cast<long double>(span) / (2 * width));
        if (bands > span) bands -= 2;
        if (bands <= 0) return widths;
        widths.assign(bands, width);
        int diff = span - bands * width;
        int k = bands - 1;
        while (diff > 0) {
            widths[k--] += 1;
            --diff;
        }
        k = 0;
        while (diff < 0) {
            widths[k++] -= 1;
            ++diff;
        }
        return widths;
    }
    const long double perOctave = freqScale == 1 ? 12 : (freqScale == 2 ? 10 : 8);
    const long double warp = alterScale ? 1.3L : 1.0L;
    const bool two = static_cast<long double>(k2) / k0 > 2.2449L;
    const int k1 = two ? 2 * k0 : k2;
    const int bands0 = 2 * Nint(perOctave * std::log2(static_cast<long double>(k1) / k0) / 2);
    if (bands0 <= 0) return widths;
    widths = RefLogWidths(k0, k1, bands0);
    if (two) {
        const int bands1 =
            2 * Nint(perOctave * std::log2(static_cast<long double>(k2) / k1) / (2 * warp));
        if (bands1 <= 0) return {};
        std::vector<int> upper = RefLogWidths(k1, k2, bands1);
        const int widest = widths.back();
        if (upper.front() < widest) {
            const int change = std::min(widest - upper.front(), (upper.back() - upper.front()) / 2);
            upper.front() += change;
            upper.back() -= change;
            std::stable_sort(upper.begin(), upper.end());
        }
        widths.insert(widths.end(), upper.begin(), upper.end());
    }
    return widths;
}

std::vector<int> Group(const std::vector<int>& edges, int groups, int offset) {
    const int bands = static_cast<int>(edges.size()) - 1;
    std::vector<int> out{edges[0] - offset};
    int used = 0;
    for (int g = 0; g < groups; ++g) {
        used += (bands - used) / (groups - g);
        out.push_back(edges[used] - offset);
    }
    return out;
}

RefTables Reference(const SbrHeader& h, int fs) {
    RefTables r;
    r.k0 = RefK0(h.startFreq, fs);
    r.k2 = RefK2(h.stopFreq, r.k0, fs);
    if (r.k2 - r.k0 < 0 || r.k2 - r.k0 > 48) return r;
    const std::vector<int> widths = RefMasterWidths(r.k0, r.k2, h.freqScale, h.alterScale);
    const bool zeroWidth = std::any_of(widths.begin(), widths.end(), [](int w) { return w <= 0; });
    const int masterBands = static_cast<int>(widths.size());
    if (masterBands > 48) return r;
    r.master.push_back(r.k0);
    for (int w : widths) r.master.push_back(r.master.back() + w);
    if (h.xoverBand >= masterBands) return r;
    r.high.assign(r.master.begin() + h.xoverBand, r.master.end());
    const int nHigh = static_cast<int>(r.high.size()) - 1;
    const int nLow = (nHigh + 1) / 2;
    r.low.push_back(r.high[0]);
    // Odd N_high: the first low band is a single high band, then pairs.
    for (int k = nHigh % 2 ? 1 : 2; k <= nHigh; k += 2) r.low.push_back(r.high[k]);
    EXPECT_EQ(static_cast<int>(r.low.size()) - 1, nLow);
    const int kx = r.high.front();
    const int upper = r.high.back();
    const long double octaves = std::log2(static_cast<long double>(upper) / kx);
    int nq = h.noiseBands == 0 ? 1 : static_cast<int>(h.noiseBands * octaves + 0.5L);
    const bool statedOk = nLow < 25 && kx <= 32 && nq <= 5;
    if (!statedOk) return r;
    if (zeroWidth) {
        r.zeroWidthOnly = true;
        return r;
    }
    nq = std::clamp(nq, 1, nLow);
    r.noise = Group(r.low, nq, 0);
    static const long double perOctave[4] = {1.0L, 1.2L, 2.0L, 3.0L};
    for (int s = 0; s < 4; ++s) {
        int count = Nint(octaves * perOctave[s]);
        count = std::clamp(count, 1, std::min(12, nLow));
        r.limiter[s] = Group(r.low, count, kx);
    }
    r.usable = true;
    return r;
}

// ---- Comparison helpers -----------------------------------------------------------------

testing::AssertionResult SameEdges(const char* what, const int32_t* edges, int bands,
                                   const std::vector<int>& expected) {
    if (bands + 1 != static_cast<int>(expected.size())) {
        return testing::AssertionFailure()
               << what << ": " << bands << " bands, expected " << expected.size() - 1;
    }
    for (int k = 0; k <= bands; ++k) {
        if (edges[k] != expected[k]) {
            return testing::AssertionFailure()
                   << what << "[" << k << "] = " << edges[k] << ", expected " << expected[k];
        }
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult MatchesReference(const SbrFreqData& d, const RefTables& r) {
    if (d.k0 != r.k0 || d.k2 != r.k2) {
        return testing::AssertionFailure()
               << "k0/k2 " << d.k0 << "/" << d.k2 << " expected " << r.k0 << "/" << r.k2;
    }
    auto result = SameEdges("master", d.master, d.masterBands, r.master);
    if (result) result = SameEdges("high", d.high, d.highBands, r.high);
    if (result) result = SameEdges("low", d.low, d.lowBands, r.low);
    if (result) result = SameEdges("noise", d.noise, d.noiseBandCount, r.noise);
    for (int s = 0; s < 4 && result; ++s) {
        result = SameEdges("limiter", d.limiter[s], d.limiterBandCount[s], r.limiter[s]);
    }
    if (!result) return result;
    if (d.kx != r.high.front() || d.upper != r.high.back() || d.m != d.upper - d.kx) {
        return testing::AssertionFailure() << "kx/upper/M " << d.kx << "/" << d.upper << "/" << d.m;
    }
    return testing::AssertionSuccess();
}

bool StrictlyIncreasing(const int32_t* edges, int bands, int lo, int hi) {
    for (int k = 0; k <= bands; ++k) {
        if (edges[k] < lo || edges[k] > hi) return false;
        if (k > 0 && edges[k] <= edges[k - 1]) return false;
    }
    return true;
}

bool IsLowEdge(const SbrFreqData& d, int edge) {
    for (int k = 0; k <= d.lowBands; ++k) {
        if (d.low[k] == edge) return true;
    }
    return false;
}

// Structural invariants, independent of the reference.
testing::AssertionResult InRange(const SbrFreqData& d) {
    if (d.masterBands < 1 || d.masterBands > kMaxMasterBands)
        return testing::AssertionFailure() << "master count";
    if (d.highBands < 1 || d.highBands > d.masterBands)
        return testing::AssertionFailure() << "high count";
    if (d.lowBands < 1 || d.lowBands > 24 || d.lowBands != d.highBands - d.highBands / 2) {
        return testing::AssertionFailure() << "low count " << d.lowBands;
    }
    if (d.noiseBandCount < 1 || d.noiseBandCount > kMaxNoiseBands ||
        d.noiseBandCount > d.lowBands) {
        return testing::AssertionFailure() << "noise count " << d.noiseBandCount;
    }
    if (!StrictlyIncreasing(d.master, d.masterBands, 0, 64))
        return testing::AssertionFailure() << "master edges";
    if (!StrictlyIncreasing(d.high, d.highBands, 0, 64))
        return testing::AssertionFailure() << "high edges";
    if (!StrictlyIncreasing(d.low, d.lowBands, 0, 64))
        return testing::AssertionFailure() << "low edges";
    if (!StrictlyIncreasing(d.noise, d.noiseBandCount, 0, 64))
        return testing::AssertionFailure() << "noise edges";
    if (d.master[0] != d.k0 || d.master[d.masterBands] != d.k2)
        return testing::AssertionFailure() << "master ends";
    if (d.kx > 32 || d.kx != d.high[0] || d.low[0] != d.kx || d.noise[0] != d.kx) {
        return testing::AssertionFailure() << "kx " << d.kx;
    }
    if (d.upper != d.high[d.highBands] || d.low[d.lowBands] != d.upper ||
        d.noise[d.noiseBandCount] != d.upper || d.m != d.upper - d.kx || d.m <= 0) {
        return testing::AssertionFailure() << "upper " << d.upper;
    }
    for (int k = 0; k <= d.noiseBandCount; ++k) {
        if (!IsLowEdge(d, d.noise[k]))
            return testing::AssertionFailure() << "noise edge not a low edge";
    }
    for (int s = 0; s < 4; ++s) {
        const int n = d.limiterBandCount[s];
        if (n < 1 || n > kMaxLimiterBands || n > d.lowBands)
            return testing::AssertionFailure() << "limiter count";
        if (!StrictlyIncreasing(d.limiter[s], n, 0, d.m) || d.limiter[s][0] != 0 ||
            d.limiter[s][n] != d.m) {
            return testing::AssertionFailure() << "limiter edges " << s;
        }
        for (int k = 0; k <= n; ++k) {
            if (!IsLowEdge(d, d.limiter[s][k] + d.kx))
                return testing::AssertionFailure() << "limiter edge not a low edge";
        }
    }
    for (int k = d.kx; k < d.upper; ++k) {
        if (d.tilt[k] != 1.0f) return testing::AssertionFailure() << "tilt " << k;
    }
    return testing::AssertionSuccess();
}

// A record whose every field holds a value no build produces.
SbrFreqData Sentinel() {
    SbrFreqData d;
    d.k0 = d.k2 = d.masterBands = d.highBands = d.lowBands = d.kx = d.upper = d.m = 77;
    d.noiseBandCount = 77;
    for (int k = 0; k <= kMaxMasterBands; ++k) d.master[k] = d.high[k] = d.low[k] = 77 + k;
    for (int& v : d.noise) v = 78;
    for (int s = 0; s < 4; ++s) {
        d.limiterBandCount[s] = 79;
        for (int& v : d.limiter[s]) v = 80;
    }
    for (float& v : d.tilt) v = 0.5f;
    return d;
}

bool Same(const SbrFreqData& a, const SbrFreqData& b) {
    bool same = a.k0 == b.k0 && a.k2 == b.k2 && a.masterBands == b.masterBands &&
                a.highBands == b.highBands && a.lowBands == b.lowBands && a.kx == b.kx &&
                a.upper == b.upper && a.m == b.m && a.noiseBandCount == b.noiseBandCount;
    for (int k = 0; k <= kMaxMasterBands; ++k) {
        same = same && a.master[k] == b.master[k] && a.high[k] == b.high[k] && a.low[k] == b.low[k];
    }
    for (int k = 0; k <= kMaxNoiseBands; ++k) same = same && a.noise[k] == b.noise[k];
    for (int s = 0; s < 4; ++s) {
        same = same && a.limiterBandCount[s] == b.limiterBandCount[s];
        for (int k = 0; k <= kMaxLimiterBands; ++k)
            same = same && a.limiter[s][k] == b.limiter[s][k];
    }
    for (int k = 0; k < kQmfBands; ++k) same = same && a.tilt[k] == b.tilt[k];
    return same;
}

SbrHeader Header(int start, int stop, int xover, int scale, int alter, int noise) {
    SbrHeader h;
    h.startFreq = start;
    h.stopFreq = stop;
    h.xoverBand = xover;
    h.freqScale = scale;
    h.alterScale = alter;
    h.noiseBands = noise;
    return h;
}

// ---- Tests --------------------------------------------------------------------------------

TEST(sbr_tables_EdgeCases, StartBandAt44100) {
    // 8000 Hz * 64 / 44100 = 11.6 -> 12, plus offset 5.
    EXPECT_EQ(StartBand(5, 44100), 17);
    SbrFreqData d;
    SbrHeader h;  // start_freq 5 by default
    h.stopFreq = 9;
    ASSERT_TRUE(BuildFreqTables(h, 44100, d));
    EXPECT_EQ(d.k0, 17);
    // The other two rate regions: 6000 Hz below 32000, 10000 Hz from 64000.
    EXPECT_EQ(StartBand(0, 24000), 16);
    EXPECT_EQ(StartBand(15, 96000), 7 + 33);
    EXPECT_EQ(StartBand(16, 44100), -1);
}

TEST(sbr_tables_EdgeCases, StopFreq14And15) {
    EXPECT_EQ(StopBand(14, 20, 44100), 40);
    EXPECT_EQ(StopBand(15, 20, 44100), 60);
    EXPECT_EQ(StopBand(15, 30, 44100), 64);  // limited to 64
    // k0 = 20 at 48000 Hz: round(10.67) = 11, plus offset 9 (start_freq 8).
    SbrFreqData d;
    ASSERT_TRUE(BuildFreqTables(Header(8, 14, 0, 2, 1, 2), 48000, d));
    EXPECT_EQ(d.k0, 20);
    EXPECT_EQ(d.k2, 40);
}

TEST(sbr_tables_EdgeCases, StopBandTable) {
    // 16000 * 64 / 44100 = 23.2 -> stopMin 23; the 14 values 23 * (64/23)^(i/13):
    // 23 25 27 29 32 34 37 40 43 47 51 55 59 64 (computed by hand), differences sorted:
    // 2 2 2 2 3 3 3 3 4 4 4 4 5.
    const int expected[14] = {23, 25, 27, 29, 31, 34, 37, 40, 43, 47, 51, 55, 59, 64};
    for (int stop = 0; stop < 14; ++stop)
        EXPECT_EQ(StopBand(stop, 17, 44100), expected[stop]) << stop;
}

TEST(sbr_tables_EdgeCases, NoiseBandsZeroGivesOneBand) {
    SbrFreqData d;
    ASSERT_TRUE(BuildFreqTables(Header(5, 9, 0, 2, 1, 0), 44100, d));
    EXPECT_EQ(d.noiseBandCount, 1);
    EXPECT_EQ(d.noise[0], d.kx);
    EXPECT_EQ(d.noise[1], d.upper);
}

TEST(sbr_tables_EdgeCases, TiltZeroIsExactlyOne) {
    SbrFreqData d;
    ASSERT_TRUE(BuildFreqTables(Header(5, 9, 0, 2, 1, 2), 44100, 0.0f, d));
    for (int k = d.kx; k < d.upper; ++k) EXPECT_EQ(d.tilt[k], 1.0f) << k;
    SbrFreqData plain;
    ASSERT_TRUE(BuildFreqTables(Header(5, 9, 0, 2, 1, 2), 44100, plain));
    for (int k = 0; k < kQmfBands; ++k) EXPECT_EQ(plain.tilt[k], 1.0f) << k;
}

TEST(sbr_tables_EdgeCases, TiltFollowsDecibelSlope) {
    const double tilt = -6.0;
    SbrFreqData d;
    ASSERT_TRUE(BuildFreqTables(Header(5, 9, 0, 2, 1, 2), 44100, static_cast<float>(tilt), d));
    // In dB the factor is linear in log(k): tilt * log(k / kx) / log(upper / kx).
    for (int k = d.kx; k < d.upper; ++k) {
        const double db = tilt * std::log(static_cast<double>(k) / d.kx) /
                          std::log(static_cast<double>(d.upper) / d.kx);
        EXPECT_NEAR(d.tilt[k], std::pow(10.0, db / 20.0), 1e-6) << k;
    }
    EXPECT_EQ(d.tilt[d.kx], 1.0f);
    EXPECT_LT(d.tilt[d.upper - 1], 1.0f);
}

TEST(sbr_tables_EdgeCases, RefusedHeaderLeavesOutputUnchanged) {
    SbrFreqData d = Sentinel();
    const SbrFreqData before = d;
    // start_freq 15 at 44100: k0 = 45 above the default k2 = 23: k2 - k0 < 0.
    EXPECT_FALSE(BuildFreqTables(Header(15, 0, 0, 2, 1, 2), 44100, d));
    EXPECT_TRUE(Same(d, before));
    EXPECT_FALSE(BuildFreqTables(Header(5, 0, 0, 2, 1, 2), 0, d));
    EXPECT_FALSE(BuildFreqTables(Header(5, 0, 0, 4, 1, 2), 44100, d));
    EXPECT_FALSE(BuildFreqTables(Header(5, 0, 0, 2, 1, 2), 44100, NAN, d));
    EXPECT_TRUE(Same(d, before));
}

TEST(sbr_tables_OperatingPoint, DefaultHeaderAt44100) {
    // Core 22050 Hz, output 44100 Hz, header before the first one received.
    const SbrHeader h;
    SbrFreqData d;
    ASSERT_TRUE(BuildFreqTables(h, 44100, d));
    EXPECT_TRUE(MatchesReference(d, Reference(h, 44100)));
    EXPECT_TRUE(InRange(d));
    // By hand: k0 = 17, k2 = stopMin = 23; 23/17 < 2.2449 -> one region of
    // 2 * round(10 * log2(23/17) / 2) = 4 bands; edges 17 * (23/17)^(k/4) = 17, 18.3, 19.8,
    // 21.3, 23 -> widths 1 2 1 2, sorted 1 1 2 2.
    const std::vector<int> master{17, 18, 19, 21, 23};
    EXPECT_TRUE(SameEdges("master", d.master, d.masterBands, master));
    EXPECT_TRUE(SameEdges("high", d.high, d.highBands, master));
    EXPECT_TRUE(SameEdges("low", d.low, d.lowBands, {17, 19, 23}));
    EXPECT_EQ(d.kx, 17);
    EXPECT_EQ(d.upper, 23);
    EXPECT_EQ(d.m, 6);
    // 2 * log2(23/17) = 0.87 -> 1 noise band.
    EXPECT_TRUE(SameEdges("noise", d.noise, d.noiseBandCount, {17, 23}));
    // 0.44, 0.52, 0.87, 1.31 octave-bands: rounded 0, 1, 1, 1; at least one band.
    for (int s = 0; s < 4; ++s)
        EXPECT_TRUE(SameEdges("limiter", d.limiter[s], d.limiterBandCount[s], {0, 6}));
}

TEST(sbr_tables_OperatingPoint, TypicalStreamHeaderAt44100) {
    // stop_freq 9 gives k2 = 47, two regions (47/17 > 2.2449): from 34 upwards warped.
    const SbrHeader h = Header(5, 9, 0, 2, 1, 2);
    SbrFreqData d;
    ASSERT_TRUE(BuildFreqTables(h, 44100, d));
    EXPECT_TRUE(MatchesReference(d, Reference(h, 44100)));
    EXPECT_TRUE(InRange(d));
    // 10 bands from 17 to 34 (widths 1 1 1 2 2 2 2 2 2 2), then
    // 2 * round(10 * log2(47/34) / 2.6) = 4 bands (widths 3 3 3 4).
    EXPECT_TRUE(SameEdges("master", d.master, d.masterBands,
                          {17, 18, 19, 20, 22, 24, 26, 28, 30, 32, 34, 37, 40, 43, 47}));
}

TEST(sbr_tables_OperatingPoint, LinearScale) {
    // k0 17, k2 23 (span 6): width 1 -> 6 bands of 1; width 2 -> 2 * round(1.5) = 4 bands,
    // the two lowest narrowed to 1: 17 18 19 21 23.
    SbrFreqData d;
    ASSERT_TRUE(BuildFreqTables(Header(5, 0, 0, 0, 0, 2), 44100, d));
    EXPECT_TRUE(SameEdges("master", d.master, d.masterBands, {17, 18, 19, 20, 21, 22, 23}));
    ASSERT_TRUE(BuildFreqTables(Header(5, 0, 0, 0, 1, 2), 44100, d));
    EXPECT_TRUE(SameEdges("master", d.master, d.masterBands, {17, 18, 19, 21, 23}));
    // Odd span 5 (k0 18, k2 23) at width 1: 2 * round(2.5) = 6 bands would exceed the span,
    // so 4 bands, the top one widened.
    ASSERT_TRUE(BuildFreqTables(Header(6, 0, 0, 0, 0, 2), 44100, d));
    EXPECT_TRUE(SameEdges("master", d.master, d.masterBands, {18, 19, 20, 21, 23}));
}

// Every header at the three output rates: refused exactly by the checks, or usable with
// every table in range and equal to the reference.
TEST(sbr_tables_AllHeaders, RefusedOrInRange) {
    int usable = 0;
    int refused = 0;
    int zeroWidth = 0;
    for (int fs : {32000, 44100, 48000}) {
        for (int start = 0; start < 16; ++start) {
            for (int stop = 0; stop < 16; ++stop) {
                for (int scale = 0; scale < 4; ++scale) {
                    for (int alter = 0; alter < 2; ++alter) {
                        for (int xover = 0; xover < 8; ++xover) {
                            for (int noise = 0; noise < 4; ++noise) {
                                SbrHeader h = Header(start, stop, xover, scale, alter, noise);
                                h.limiterBands = (start + stop) % 4;
                                const RefTables r = Reference(h, fs);
                                SbrFreqData d = Sentinel();
                                const SbrFreqData before = d;
                                const bool ok = BuildFreqTables(h, fs, d);
                                ASSERT_EQ(ok, r.usable)
                                    << fs << " start " << start << " stop " << stop << " scale "
                                    << scale << " alter " << alter << " xover " << xover
                                    << " noise " << noise;
                                if (ok) {
                                    ++usable;
                                    ASSERT_TRUE(InRange(d)) << fs << " " << start << " " << stop;
                                    ASSERT_TRUE(MatchesReference(d, r))
                                        << fs << " " << start << " " << stop;
                                } else {
                                    ++refused;
                                    if (r.zeroWidthOnly) ++zeroWidth;
                                    ASSERT_TRUE(Same(d, before));
                                }
                            }
                        }
                    }
                }
            }
        }
    }
    // Both outcomes occur in quantity; the empty-band refusal is a minority.
    EXPECT_GT(usable, 10000);
    EXPECT_GT(refused, 10000);
    EXPECT_LT(zeroWidth, refused / 4);
    RecordProperty("usable", usable);
    RecordProperty("refused", refused);
    RecordProperty("zeroWidth", zeroWidth);
}

TEST(sbr_tables_Update, SameTablesAsFullBuild) {
    const int fs = 44100;
    for (int start = 0; start < 16; start += 3) {
        for (int stop = 0; stop < 16; stop += 2) {
            const SbrHeader previous = Header(start, stop, 0, 2, 1, 2);
            SbrFreqData data;
            if (!BuildFreqTables(previous, fs, data)) continue;
            for (int xover = 0; xover < 8; ++xover) {
                for (int noise = 0; noise < 4; ++noise) {
                    for (int scale : {2, 1}) {
                        const SbrHeader next = Header(start, stop, xover, scale, 1, noise);
                        SbrFreqData updated = data;
                        SbrFreqData full;
                        const bool okUpdate = UpdateFreqTables(previous, next, fs, 0.0f, updated);
                        const bool okFull = BuildFreqTables(next, fs, full);
                        ASSERT_EQ(okUpdate, okFull);
                        if (okFull) {
                            EXPECT_TRUE(Same(updated, full))
                                << start << " " << stop << " " << xover;
                        } else {
                            EXPECT_TRUE(Same(updated, data));
                        }
                    }
                }
            }
        }
    }
    EXPECT_TRUE(MasterTableChanged(Header(5, 0, 0, 2, 1, 2), Header(5, 0, 0, 2, 0, 2)));
    EXPECT_FALSE(MasterTableChanged(Header(5, 0, 0, 2, 1, 2), Header(5, 0, 3, 2, 1, 0)));
}

TEST(sbr_tables_Update, KeepsMasterWhenUnchanged) {
    // The master table is taken from the previous tables, not recomputed: a doctored
    // master (still valid) survives an xover change.
    const SbrHeader previous = Header(5, 9, 0, 2, 1, 2);
    SbrFreqData data;
    ASSERT_TRUE(BuildFreqTables(previous, 44100, data));
    data.master[3] += 1;
    ASSERT_LT(data.master[3], data.master[4]);
    const int doctored = data.master[3];
    const SbrHeader next = Header(5, 9, 3, 2, 1, 2);
    ASSERT_TRUE(UpdateFreqTables(previous, next, 44100, 0.0f, data));
    EXPECT_EQ(data.high[0], doctored);
    EXPECT_EQ(data.kx, doctored);
}

}  // namespace
}  // namespace velora::sbr

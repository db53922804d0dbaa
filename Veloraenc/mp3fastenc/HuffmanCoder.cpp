#include "HuffmanCoder.h"

#include <algorithm>
#include <bit>
#include <climits>

#include "HuffmanCodes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velora::enc {
namespace {

// Rows of the table choice grouped by the packed table that counts them. A region's class
// follows from its largest magnitude.
enum Class : int {
    kZero = 0,  // table 0, no bits
    kOne,       // table 1
    kTwo,       // 2, 3
    kThree,     // 5, 6
    kFive,      // 7, 8, 9
    kSeven,     // 10, 11, 12
    kFifteen,   // 13, 15
    kEscape,    // 16.. with linbits
    kClassCount
};

constexpr int8_t kClassOfMax[16] = {kZero,    kOne,     kTwo,     kThree,   kFive,    kFive,
                                    kSeven,   kSeven,   kFifteen, kFifteen, kFifteen, kFifteen,
                                    kFifteen, kFifteen, kFifteen, kFifteen};

inline int ClassOf(int maxValue) {
    return maxValue < 16 ? static_cast<int>(kClassOfMax[maxValue]) : static_cast<int>(kEscape);
}

// Escape rows: largest value covered and the two candidates (codes of 16 and of 24).
struct EscapeRow {
    int maxValue;
    int first;
    int second;
};
constexpr EscapeRow kEscapeRows[] = {
    {16, 16, 24},  {18, 17, 24},  {22, 18, 24},  {30, 19, 24},   {46, 20, 25},   {78, 20, 26},
    {142, 21, 27}, {270, 21, 28}, {526, 22, 29}, {1038, 22, 30}, {2062, 23, 30}, {8206, 23, 31},
};

// The escape row of a largest value from 16 up: rows cover 15 + 2^(r+1) - 1, but the last,
// which covers up to 8206.
inline int EscapeRowIndex(int maxValue) {
    return std::min(static_cast<int>(std::bit_width(static_cast<unsigned>(maxValue - 15))) - 1, 11);
}

// The candidates of each class in the lanes of its packed table (bits 32, 16, 0); -1: no
// candidate in that lane. The escape class's come from its row.
constexpr int8_t kLaneTables[kClassCount][3] = {
    {-1, -1, -1}, {-1, -1, 1}, {-1, 2, 3}, {-1, 5, 6}, {7, 8, 9}, {10, 11, 12}, {-1, 13, 15}, {-1, -1, -1},
};

constexpr int kMaxSegments = 22;
constexpr int kMaxRegion0Bands = 16;  // region0_count has 4 bits
constexpr int kMaxRegion1Bands = 8;   // region1_count has 3 bits

struct RegionChoice {
    int bits;
    int table;
};

}  // namespace

// Scratch of one plan: magnitudes, the segments (scale-factor bands cut at the end of the
// big values) and their bit sums per class, computed when a split first needs them.
struct HuffmanWork {
    uint16_t mag[kGranuleLines];
    int segBegin[kMaxSegments + 1];
    int segMax[kMaxSegments];
    int segments = 0;
    uint64_t cost[kMaxSegments][kClassCount];
    int escapes[kMaxSegments];
    uint32_t known[kMaxSegments];  // bit c: cost[s][c] is filled in

    template <typename Entry>
    uint64_t Sum(const Entry* table, int begin, int end) const {
        uint64_t sum = 0;
        for (int i = begin; i < end; i += 2) sum += table[PairIndex(mag[i], mag[i + 1])];
        return sum;
    }

    uint64_t EscapeSum(int begin, int end, int& escapeCount) const {
        uint32_t sum = 0;
        int count = 0;
        for (int i = begin; i < end; i += 2) {
            const int x = mag[i];
            const int y = mag[i + 1];
            // Sign bits for the count: a compare here becomes a branch the data cannot predict.
            count += static_cast<int>((static_cast<uint32_t>(14 - x) >> 31) + (static_cast<uint32_t>(14 - y) >> 31));
            sum += kPairBits16And24[PairIndex(std::min(x, 15), std::min(y, 15))];
        }
        escapeCount = count;
        return sum;
    }

    uint64_t SegmentCost(int s, int c) {
        if (known[s] & (1u << c)) return cost[s][c];
        const int b = segBegin[s];
        const int e = segBegin[s + 1];
        uint64_t sum = 0;
        switch (c) {
            case kOne:
                sum = Sum(kPairBits1, b, e);
                break;
            case kTwo:
                sum = Sum(kPairBits2And3, b, e);
                break;
            case kThree:
                sum = Sum(kPairBits5And6, b, e);
                break;
            case kFive:
                sum = Sum(kPairBits7To9, b, e);
                break;
            case kSeven:
                sum = Sum(kPairBits10To12, b, e);
                break;
            case kFifteen:
                sum = Sum(kPairBits13And15, b, e);
                break;
            case kEscape:
                sum = EscapeSum(b, e, escapes[s]);
                break;
            default:
                break;
        }
        cost[s][c] = sum;
        known[s] |= 1u << c;
        return sum;
    }

    // Best table for segments [first, last) and its bits; the splits tried share most
    // regions, so each is worked out once.
    RegionChoice regionMemo[kMaxSegments][kMaxSegments + 1];
    uint32_t regionKnown[kMaxSegments];  // bit `last` of [first]: regionMemo filled in

    RegionChoice Region(int first, int last) {
        if (first >= last) return {0, 0};
        if (regionKnown[first] & (1u << last)) return regionMemo[first][last];
        const RegionChoice choice = ChooseRegion(first, last);
        regionMemo[first][last] = choice;
        regionKnown[first] |= 1u << last;
        return choice;
    }

    RegionChoice ChooseRegion(int first, int last) {
        int maxValue = 0;
        for (int s = first; s < last; ++s) maxValue = std::max(maxValue, segMax[s]);
        const int c = ClassOf(maxValue);
        if (c == kZero) return {0, 0};
        uint64_t sum = 0;
        int escapeCount = 0;
        for (int s = first; s < last; ++s) {
            sum += SegmentCost(s, c);
            if (c == kEscape) escapeCount += escapes[s];
        }
        const auto lane = [sum](int shift) { return static_cast<int>((sum >> shift) & 0xFFFFu); };
        // The candidates by lane, the first listed in the highest; a missing one counts as
        // too many bits. Selects rather than branches: the class varies from region to region.
        int tables[3] = {kLaneTables[c][0], kLaneTables[c][1], kLaneTables[c][2]};
        int bits[3] = {tables[0] < 0 ? INT_MAX : lane(32), tables[1] < 0 ? INT_MAX : lane(16),
                       tables[2] < 0 ? INT_MAX : lane(0)};
        if (c == kEscape) {
            const EscapeRow& row = kEscapeRows[EscapeRowIndex(maxValue)];
            tables[1] = row.first;
            tables[2] = row.second;
            bits[1] = lane(16) + escapeCount * kPairCodeTables[row.first].linbits;
            bits[2] = lane(0) + escapeCount * kPairCodeTables[row.second].linbits;
        }
        // Fewest bits wins; on equal counts the candidate listed first.
        RegionChoice best{bits[0], tables[0]};
        best = bits[1] < best.bits ? RegionChoice{bits[1], tables[1]} : best;
        best = bits[2] < best.bits ? RegionChoice{bits[2], tables[2]} : best;
        return best;
    }
};

namespace {

// The row of the table choice for a largest value: classes below the escape rows, then one
// step per escape row (their linbits differ).
int RowOf(int maxValue) {
    return maxValue < 16 ? ClassOf(maxValue) : kEscape + EscapeRowIndex(maxValue);
}

// Fewest bits any table spends on a pair (code and sign bits; linbits not included): a
// lower bound of every coding, whatever the regions. `escaped`: only the escape tables,
// for pairs with a value above 15.
struct PairLowerBits {
    uint16_t any[256];
    uint16_t escaped[256];
    PairLowerBits() {
        for (int x = 0; x < 16; ++x) {
            for (int y = 0; y < 16; ++y) {
                const int index = PairIndex(x, y);
                const int signs = (x != 0 ? 1 : 0) + (y != 0 ? 1 : 0);
                int fewest = 0xFFFF;
                int fewestEscaped = 0xFFFF;
                for (const PairCodeTable& t : kPairCodeTables) {
                    if (t.words == nullptr || std::max(x, y) > std::min(t.maxValue, 15)) continue;
                    const int bits = CodeLength(t.words[index]) + signs;
                    fewest = std::min(fewest, bits);
                    if (t.linbits > 0) fewestEscaped = std::min(fewestEscaped, bits);
                }
                any[index] = static_cast<uint16_t>(x == 0 && y == 0 ? 0 : fewest);
                escaped[index] = static_cast<uint16_t>(fewestEscaped);
            }
        }
    }
};
const PairLowerBits kPairLowerBits;

// Linbits a value needs at least: the fewest of any escape table that holds it.
inline int LinbitsAtLeast(int value) {
    int bits = 0;
    for (int rest = value - 15; rest > 0; rest >>= 1) ++bits;
    return value > 15 ? bits : 0;
}

// Regions [0, e0), [e0, e1), [e1, segments) in segments.
struct Split {
    int e0;
    int e1;
    int bits;
    RegionChoice region[3];
};

Split EvaluateSplit(HuffmanWork& w, int e0, int e1) {
    Split s{e0, e1, 0, {}};
    const int n = w.segments;
    s.region[0] = w.Region(0, std::min(e0, n));
    s.region[1] = w.Region(std::min(e0, n), std::min(e1, n));
    s.region[2] = w.Region(std::min(e1, n), n);
    s.bits = s.region[0].bits + s.region[1].bits + s.region[2].bits;
    return s;
}

bool ValidSplit(int segments, int e0, int e1) {
    return e0 >= 1 && e0 <= kMaxRegion0Bands && e0 <= segments && e1 > e0 &&
           e1 - e0 <= kMaxRegion1Bands && e1 <= kMaxSegments;
}

// The region split of a long block. Natural boundaries are where the row of everything
// above drops or that of everything below rises (a smaller table becomes possible on one
// side); every pair of them within the count limits is tried, then the best split is moved
// by one band each way.
Split ChooseLongSplit(HuffmanWork& w) {
    const int n = w.segments;
    int below[kMaxSegments + 1];  // row of segments [0, s)
    int above[kMaxSegments + 1];  // row of segments [s, n)
    int runningMax = 0;
    below[0] = kZero;
    for (int s = 0; s < n; ++s) {
        runningMax = std::max(runningMax, w.segMax[s]);
        below[s + 1] = RowOf(runningMax);
    }
    runningMax = 0;
    above[n] = kZero;
    for (int s = n - 1; s >= 0; --s) {
        runningMax = std::max(runningMax, w.segMax[s]);
        above[s] = RowOf(runningMax);
    }
    int points[kMaxSegments + 1];
    int count = 0;
    for (int s = 1; s < n; ++s) {
        if (above[s] != above[s - 1] || below[s + 1] != below[s]) points[count++] = s;
    }
    points[count++] = n;

    Split best{0, 0, kUncodableBits, {}};
    const auto consider = [&](int e0, int e1) {
        if (!ValidSplit(n, e0, e1)) return;
        const Split s = EvaluateSplit(w, e0, e1);
        if (s.bits < best.bits) best = s;
    };
    // The last point, the end of the big values, always gives a valid split: everything in
    // region 0 when it fits, else region 0 at its band limit and region 1 for the rest.
    const int firstLimit = std::min(n, kMaxRegion0Bands);
    for (int i = 0; i < count; ++i) {
        const int e0 = std::min(points[i], firstLimit);
        if (e0 >= n) {
            consider(e0, e0 + 1);
            continue;
        }
        bool reachedLimit = false;
        for (int j = i; j < count; ++j) {
            int e1 = points[j];
            if (e1 <= e0) continue;
            if (e1 - e0 > kMaxRegion1Bands) {
                e1 = e0 + kMaxRegion1Bands;
                reachedLimit = true;
            }
            consider(e0, e1);
            if (reachedLimit) break;
        }
    }
    // Then one band either way until nothing improves (most splits settle at once).
    for (int round = 0; round < 4; ++round) {
        const int e0 = best.e0;
        const int e1 = best.e1;
        for (int d0 = -1; d0 <= 1; ++d0) {
            for (int d1 = -1; d1 <= 1; ++d1) {
                if (d0 != 0 || d1 != 0) consider(e0 + d0, e1 + d1);
            }
        }
        if (best.e0 == e0 && best.e1 == e1) break;
    }
    return best;
}

}  // namespace

bool SpectrumCoder::Init(int version, int samplingIndex) {
    if (version < 0 || version > 2 || samplingIndex < 0 || samplingIndex > 2) return false;
    bands_ = &kScaleFactorBands[version][samplingIndex];
    shortRegionEnd_ = 36;
    shortOneTable_ = 3 * bands_->shortBounds[3] != shortRegionEnd_;
    return true;
}

int SpectrumCoder::CountBits(const int32_t values[kGranuleLines], int blockType) const {
    SpectrumPlan plan;
    return Plan(values, blockType, plan) ? plan.bits : kUncodableBits;
}

bool SpectrumCoder::Plan(const int32_t values[kGranuleLines], int blockType,
                         SpectrumPlan& plan) const {
    HuffmanWork w;
    int quadA = 0;
    int quadB = 0;
    if (!Prepare(values, blockType, plan, w, quadA, quadB)) return false;
    Finish(w, blockType, quadA, quadB, plan);
    return true;
}

bool SpectrumCoder::Fits(const int32_t values[kGranuleLines], int blockType, int limit, int& bits) const {
    bits = -1;
    HuffmanWork w;
    SpectrumPlan plan;
    int quadA = 0;
    int quadB = 0;
    if (!Prepare(values, blockType, plan, w, quadA, quadB)) {
        bits = kUncodableBits;
        return false;
    }
    const int count1 = std::min(quadA, quadB);
    // A lower bound first, the fewest bits of each pair under any table: most gains far
    // from the answer need no table choice.
    const int bigEnd = 2 * plan.bigValues;
    int lower = count1;
    for (int i = 0; i < bigEnd; i += 2) {
        const int x = w.mag[i];
        const int y = w.mag[i + 1];
        const int index = PairIndex(std::min(x, 15), std::min(y, 15));
        lower += (x > 15 || y > 15) ? kPairLowerBits.escaped[index] + LinbitsAtLeast(x) + LinbitsAtLeast(y)
                                    : kPairLowerBits.any[index];
    }
    if (lower > limit) {
        bits = -1 - lower;
        return false;
    }
    Finish(w, blockType, quadA, quadB, plan);
    bits = plan.bits;
    return plan.bits <= limit;
}

// Magnitudes, the big-values and count1 boundaries, the segments and their largest values;
// false when a value cannot be coded.
bool SpectrumCoder::Prepare(const int32_t values[kGranuleLines], int blockType, SpectrumPlan& plan,
                            HuffmanWork& w, int& quadA, int& quadB) const {
    plan = SpectrumPlan{};
    // Zero pairs at the top carry nothing; below them quadruples of magnitudes up to 1.
    int end = kGranuleLines;
#if defined(__SSE2__)
    // Eight lines at a time first: the quantiser leaves everything above the bandwidth zero.
    while (end >= 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + end - 8));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + end - 4));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_or_si128(a, b), _mm_setzero_si128())) != 0xFFFF) break;
        end -= 8;
    }
#endif
    while (end > 0 && (values[end - 1] | values[end - 2]) == 0) end -= 2;
    int bigEnd = end;
    const auto small = [](int32_t v) { return v >= -1 && v <= 1; };
    while (bigEnd >= 4 && small(values[bigEnd - 1]) && small(values[bigEnd - 2]) &&
           small(values[bigEnd - 3]) && small(values[bigEnd - 4]))
        bigEnd -= 4;

    uint32_t quadSum = 0;
    for (int i = bigEnd; i < end; i += 4) {
        const int index = (values[i] != 0 ? 8 : 0) | (values[i + 1] != 0 ? 4 : 0) |
                          (values[i + 2] != 0 ? 2 : 0) | (values[i + 3] != 0 ? 1 : 0);
        quadSum += kQuadBits[index];
    }
    quadA = static_cast<int>(quadSum >> 16);
    quadB = static_cast<int>(quadSum & 0xFFFFu);
    plan.count1Table = quadB < quadA ? 1 : 0;
    plan.bigValues = bigEnd / 2;
    plan.count1End = end;

    // Segments: scale-factor bands for long blocks; for short blocks the two regions.
    const bool shortBlock = blockType == kBlockShort;
    if (shortBlock) {
        w.segBegin[0] = 0;
        w.segments = 0;
        if (bigEnd > 0) {
            const int split = shortOneTable_ ? bigEnd : std::min(shortRegionEnd_, bigEnd);
            w.segBegin[++w.segments] = split;
            if (split < bigEnd) w.segBegin[++w.segments] = bigEnd;
        }
    } else {
        int s = 0;
        w.segBegin[0] = 0;
        while (s < kMaxSegments && bands_->longBounds[static_cast<size_t>(s)] < bigEnd) {
            ++s;
            w.segBegin[s] = std::min(bands_->longBounds[static_cast<size_t>(s)], bigEnd);
        }
        w.segments = s;
    }
#if defined(__SSE2__)
    // Magnitudes eight lines at a time, saturated at 32767 (any value above the codable
    // largest fails the plan, whatever its magnitude here); the largest per segment from
    // loads that may overlap, the unsigned order through a flipped sign bit.
    const int bigRounded = (bigEnd + 7) & ~7;
    for (int i = 0; i < bigRounded; i += 8) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + i));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + i + 4));
        const __m128i sa = _mm_srai_epi32(a, 31);
        const __m128i sb = _mm_srai_epi32(b, 31);
        a = _mm_sub_epi32(_mm_xor_si128(a, sa), sa);
        b = _mm_sub_epi32(_mm_xor_si128(b, sb), sb);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(w.mag + i), _mm_packs_epi32(a, b));
    }
    const __m128i flip = _mm_set1_epi16(static_cast<int16_t>(0x8000));
    const auto load8 = [&](int i) {
        return _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w.mag + i)), flip);
    };
    const auto load4 = [&](int i) {
        return _mm_xor_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(w.mag + i)), flip);
    };
#endif
    for (int s = 0; s < w.segments; ++s) {
        uint32_t segmentMax = 0;
        const int b = w.segBegin[s];
        const int e = w.segBegin[s + 1];
#if defined(__SSE2__)
        if (e - b >= 4) {
            __m128i m = e - b >= 8 ? _mm_max_epi16(load8(b), load8(e - 8)) : _mm_max_epi16(load4(b), load4(e - 4));
            for (int i = b + 8; i + 8 < e; i += 8) m = _mm_max_epi16(m, load8(i));
            m = _mm_max_epi16(m, _mm_srli_si128(m, 8));
            m = _mm_max_epi16(m, _mm_srli_si128(m, 4));
            m = _mm_max_epi16(m, _mm_srli_si128(m, 2));
            segmentMax = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_xor_si128(m, flip)) & 0xFFFF);
        } else {
            for (int i = b; i < e; ++i) segmentMax = std::max<uint32_t>(segmentMax, w.mag[i]);
        }
#else
        for (int i = b; i < e; ++i) {
            const int32_t v = values[i];
            const uint32_t m = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
            segmentMax = std::max(segmentMax, m);
            w.mag[i] = static_cast<uint16_t>(std::min<uint32_t>(m, 0xFFFFu));
        }
#endif
        if (segmentMax > static_cast<uint32_t>(kMaxCodableValue)) {
            plan.codable = false;
            plan.bits = kUncodableBits;
            return false;
        }
        w.segMax[s] = static_cast<int>(segmentMax);
        w.known[s] = 0;
        w.regionKnown[s] = 0;
    }
    return true;
}

// The region split and tables of prepared values, and their bits.
void SpectrumCoder::Finish(HuffmanWork& w, int blockType, int quadA, int quadB, SpectrumPlan& plan) const {
    const bool shortBlock = blockType == kBlockShort;
    const int bigEnd = 2 * plan.bigValues;
    int bigBits = 0;
    if (shortBlock) {
        // region0 ends at 36 lines, region1 takes the rest; there is no region2.
        const RegionChoice r0 = w.Region(0, std::min(1, w.segments));
        const RegionChoice r1 = w.Region(std::min(1, w.segments), w.segments);
        plan.tableSelect[0] = r0.table;
        plan.tableSelect[1] = shortOneTable_ ? r0.table : r1.table;
        plan.regionEnd[0] = std::min(shortRegionEnd_, bigEnd);
        plan.regionEnd[1] = bigEnd;
        plan.regionEnd[2] = bigEnd;
        bigBits = r0.bits + r1.bits;
    } else if (blockType != kBlockLong) {
        // Start and stop blocks: region0 is the first eight bands, region1 the rest.
        const Split s = EvaluateSplit(w, 8, kMaxSegments);
        plan.tableSelect[0] = s.region[0].table;
        plan.tableSelect[1] = s.region[1].table;
        plan.regionEnd[0] = std::min(bands_->longBounds[8], bigEnd);
        plan.regionEnd[1] = bigEnd;
        plan.regionEnd[2] = bigEnd;
        bigBits = s.bits;
    } else if (w.segments == 0) {
        plan.region0Count = 0;
        plan.region1Count = 0;
    } else {
        const Split s = ChooseLongSplit(w);
        plan.region0Count = s.e0 - 1;
        plan.region1Count = s.e1 - s.e0 - 1;
        for (int r = 0; r < 3; ++r) plan.tableSelect[r] = s.region[r].table;
        plan.regionEnd[0] = std::min(bands_->longBounds[static_cast<size_t>(s.e0)], bigEnd);
        plan.regionEnd[1] =
            std::min(bands_->longBounds[static_cast<size_t>(std::min(s.e1, kMaxSegments))], bigEnd);
        plan.regionEnd[2] = bigEnd;
        bigBits = s.bits;
    }
    plan.bits = bigBits + (plan.count1Table == 0 ? quadA : quadB);
}

void SpectrumCoder::Write(const int32_t values[kGranuleLines], const SpectrumPlan& plan,
                          BitWriter& out) const {
    if (!plan.codable) return;
    int line = 0;
    for (int r = 0; r < 3; ++r) {
        const PairCodeTable& table = kPairCodeTables[plan.tableSelect[r] & 31];
        const int end = plan.regionEnd[r];
        if (table.words == nullptr) {  // table 0: the region is all zero
            line = std::max(line, end);
            continue;
        }
        for (; line < end; line += 2) {
            const int32_t vx = values[line];
            const int32_t vy = values[line + 1];
            // Magnitudes as the plan saw them; the table index stays inside the table even
            // for values the plan was not made for.
            const uint32_t x = vx < 0 ? 0u - static_cast<uint32_t>(vx) : static_cast<uint32_t>(vx);
            const uint32_t y = vy < 0 ? 0u - static_cast<uint32_t>(vy) : static_cast<uint32_t>(vy);
            const int index =
                PairIndex(static_cast<int>(std::min(x, 15u)), static_cast<int>(std::min(y, 15u)));
            if (table.linbits == 0) {
                const uint32_t entry = table.words[index];
                uint32_t word = CodeWord(entry);
                int length = CodeLength(entry);
                if (x != 0) {
                    word = (word << 1) | (vx < 0 ? 1u : 0u);
                    ++length;
                }
                if (y != 0) {
                    word = (word << 1) | (vy < 0 ? 1u : 0u);
                    ++length;
                }
                out.Put(word, length);
                continue;
            }
            const uint32_t entry = table.words[index];
            out.Put(CodeWord(entry), CodeLength(entry));
            if (x >= 15) out.Put(x - 15, table.linbits);
            if (x != 0) out.Put(vx < 0 ? 1u : 0u, 1);
            if (y >= 15) out.Put(y - 15, table.linbits);
            if (y != 0) out.Put(vy < 0 ? 1u : 0u, 1);
        }
    }
    const uint32_t* quads = kQuadCodeWords[plan.count1Table & 1];
    for (line = 2 * plan.bigValues; line < plan.count1End; line += 4) {
        int index = 0;
        uint32_t signs = 0;
        int signCount = 0;
        for (int k = 0; k < 4; ++k) {
            const int32_t v = values[line + k];
            index = index * 2 + (v != 0 ? 1 : 0);
            if (v != 0) {
                signs = (signs << 1) | (v < 0 ? 1u : 0u);
                ++signCount;
            }
        }
        const uint32_t entry = quads[index];
        out.Put((CodeWord(entry) << signCount) | signs, CodeLength(entry) + signCount);
    }
}

}  // namespace velora::enc

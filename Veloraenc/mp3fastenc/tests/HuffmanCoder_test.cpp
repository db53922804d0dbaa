// The spectrum coder: what it writes decodes (with the decoder's Huffman routine) to the
// values it was given, its count equals what it writes and its fit test agrees with it,
// the table of every region follows the table-choice rule (checked with code lengths summed
// here from the code tables), the region split comes close to the best of all splits, and
// counting is fast.

#include "HuffmanCoder.h"
#include "BitstreamTestSupport.h"
#include "HuffmanCodes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace velora::enc {
namespace {

using test::FillValues;
using test::Shape;

// The side information a decoder would read for this plan.
GranuleInfo InfoFor(const SpectrumPlan& plan, int blockType) {
    GranuleInfo info;
    info.part2_3_length = plan.bits;
    info.big_values = plan.bigValues;
    info.window_switching_flag = blockType != kBlockLong ? 1 : 0;
    info.block_type = blockType;
    for (int r = 0; r < 3; ++r) info.table_select[r] = plan.tableSelect[r];
    if (blockType != kBlockLong) {
        info.table_select[2] = 0;
        info.region0_count = blockType == kBlockShort ? 8 : 7;
        info.region1_count = 20 - info.region0_count;
    } else {
        info.region0_count = plan.region0Count;
        info.region1_count = plan.region1Count;
    }
    info.count1table_select = plan.count1Table;
    return info;
}

// Writes the plan and decodes it again; returns the decoded values.
std::vector<int32_t> RoundTrip(const SpectrumCoder& coder, const int32_t* values, int blockType,
                               int version, SpectrumPlan& plan, int& written) {
    EXPECT_TRUE(coder.Plan(values, blockType, plan));
    std::vector<uint8_t> buffer(4096 + 64, 0);
    BitWriter w(buffer.data(), 4096);
    coder.Write(values, plan, w);
    written = w.Position();
    w.Sync();
    std::vector<uint8_t> storage(static_cast<size_t>(BitBuffer::RoundedSize(8192)));
    BitBuffer b;
    b.Init(storage.data(), 8192);
    b.Write(buffer.data(), 4096 + 64);
    b.ClearConsumed();
    const GranuleInfo info = InfoFor(plan, blockType);
    std::vector<int32_t> decoded(kGranuleLines);
    DecodeHuffman(b, info, coder.Bands(), version, decoded.data());
    EXPECT_EQ(b.Consumed(), plan.bits) << "the decoder stops where the count says";
    return decoded;
}

struct Rate {
    int version;
    int samplingIndex;
};
constexpr Rate kRates[] = {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}, {2, 0}, {2, 1}, {2, 2}};

TEST(mp3enc_bs_SpectrumCoder, WrittenValuesDecodeBackAndCountsMatch) {
    std::mt19937 rng(11);
    int granules = 0;
    for (const Rate& rate : kRates) {
        SpectrumCoder coder;
        ASSERT_TRUE(coder.Init(rate.version, rate.samplingIndex));
        for (int i = 0; i < 150; ++i) {
            int32_t values[kGranuleLines];
            FillValues(rng, static_cast<Shape>(i % 5), values);
            const int blockType = (i / 5) % 4;
            SpectrumPlan plan;
            int written = 0;
            const std::vector<int32_t> decoded =
                RoundTrip(coder, values, blockType, rate.version, plan, written);
            ASSERT_EQ(written, plan.bits);
            ASSERT_EQ(coder.CountBits(values, blockType), plan.bits);
            // The fit test answers as the count does, at and around it and far from it.
            for (const int limit : {0, plan.bits / 2, plan.bits - 1, plan.bits, plan.bits + 1, 2 * plan.bits}) {
                int counted = 0;
                ASSERT_EQ(coder.Fits(values, blockType, limit, counted), plan.bits <= limit)
                    << "granule " << i << " limit " << limit;
                if (counted >= 0) {
                    ASSERT_EQ(counted, plan.bits);
                } else {
                    ASSERT_GT(-1 - counted, limit);  // a lower bound that decided
                    ASSERT_LE(-1 - counted, plan.bits);
                }
            }
            for (int k = 0; k < kGranuleLines; ++k)
                ASSERT_EQ(decoded[static_cast<size_t>(k)], values[k])
                    << "rate " << rate.version << "/" << rate.samplingIndex << " granule " << i
                    << " line " << k;
            ++granules;
        }
    }
    EXPECT_EQ(granules, 9 * 150);
}

TEST(mp3enc_bs_SpectrumCoder, BoundariesOfBigValuesAndCount1) {
    SpectrumCoder coder;
    ASSERT_TRUE(coder.Init(0, 0));
    int32_t values[kGranuleLines] = {};
    SpectrumPlan plan;
    ASSERT_TRUE(coder.Plan(values, kBlockLong, plan));
    EXPECT_EQ(plan.bits, 0);
    EXPECT_EQ(plan.bigValues, 0);
    EXPECT_EQ(plan.count1End, 0);

    values[575] = -1;  // a quadruple ending at the last line
    values[100] = 1;
    ASSERT_TRUE(coder.Plan(values, kBlockLong, plan));
    EXPECT_EQ(plan.bigValues, 0);
    EXPECT_EQ(plan.count1End, 576);

    values[3] = 2;  // lines 0..3 hold a value above 1: big values reach line 4
    ASSERT_TRUE(coder.Plan(values, kBlockLong, plan));
    EXPECT_EQ(plan.bigValues, 2);
    EXPECT_EQ(plan.count1End, 576);

    values[574] = 3;  // the last pair is big, so nothing is left for quadruples
    ASSERT_TRUE(coder.Plan(values, kBlockLong, plan));
    EXPECT_EQ(plan.bigValues, 288);
    EXPECT_EQ(plan.count1End, 576);

    values[10] = kMaxCodableValue + 1;
    EXPECT_FALSE(coder.Plan(values, kBlockLong, plan));
    EXPECT_EQ(coder.CountBits(values, kBlockLong), kUncodableBits);
    values[10] = -kMaxCodableValue - 1;
    EXPECT_EQ(coder.CountBits(values, kBlockShort), kUncodableBits);
    values[10] = -kMaxCodableValue;
    EXPECT_LT(coder.CountBits(values, kBlockShort), kUncodableBits);
}

// ---- Reference: the table-choice rule with lengths summed from the code tables.

struct Row {
    int maxValue;
    int candidates[3];
};
constexpr Row kRows[] = {
    {1, {1, -1, -1}},     {2, {2, 3, -1}},      {3, {5, 6, -1}},     {5, {7, 8, 9}},
    {7, {10, 11, 12}},    {15, {13, 15, -1}},   {16, {16, 24, -1}},  {18, {17, 24, -1}},
    {22, {18, 24, -1}},   {30, {19, 24, -1}},   {46, {20, 25, -1}},  {78, {20, 26, -1}},
    {142, {21, 27, -1}},  {270, {21, 28, -1}},  {526, {22, 29, -1}}, {1038, {22, 30, -1}},
    {2062, {23, 30, -1}}, {8206, {23, 31, -1}},
};

int TableBits(int table, const int32_t* values, int begin, int end) {
    const PairCodeTable& t = kPairCodeTables[table];
    int bits = 0;
    for (int i = begin; i < end; i += 2) {
        const int x = std::abs(values[i]);
        const int y = std::abs(values[i + 1]);
        bits += CodeLength(t.words[PairIndex(std::min(x, 15), std::min(y, 15))]);
        bits += (x != 0) + (y != 0);
        if (t.linbits > 0) bits += t.linbits * ((x >= 15) + (y >= 15));
    }
    return bits;
}

struct Choice {
    int table;
    int bits;
};

Choice ReferenceChoice(const int32_t* values, int begin, int end) {
    int maxValue = 0;
    for (int i = begin; i < end; ++i) maxValue = std::max(maxValue, std::abs(values[i]));
    if (maxValue == 0) return {0, 0};
    const Row* row = kRows;
    while (row->maxValue < maxValue) ++row;
    Choice best{-1, 0};
    for (int c : row->candidates) {
        if (c < 0) continue;
        const int bits = TableBits(c, values, begin, end);
        if (best.table < 0 || bits < best.bits) best = {c, bits};
    }
    return best;
}

int ReferenceCount1Bits(const int32_t* values, int begin, int end, int table) {
    int bits = 0;
    for (int i = begin; i < end; i += 4) {
        int index = 0;
        for (int k = 0; k < 4; ++k) {
            index = index * 2 + (values[i + k] != 0);
            bits += values[i + k] != 0;
        }
        bits += CodeLength(kQuadCodeWords[table][index]);
    }
    return bits;
}

TEST(mp3enc_bs_SpectrumCoder, TablesFollowTheChoiceRule) {
    std::mt19937 rng(23);
    int regions = 0;
    for (const Rate& rate : kRates) {
        SpectrumCoder coder;
        ASSERT_TRUE(coder.Init(rate.version, rate.samplingIndex));
        for (int i = 0; i < 120; ++i) {
            int32_t values[kGranuleLines];
            FillValues(rng, static_cast<Shape>(i % 5), values);
            const int blockType = (i / 5) % 4;
            SpectrumPlan plan;
            ASSERT_TRUE(coder.Plan(values, blockType, plan));
            int begin = 0;
            int bits = 0;
            const bool oneTable =
                blockType == kBlockShort && rate.version == 2 && rate.samplingIndex == 2;
            const int regionCount = blockType == kBlockLong ? 3 : 2;
            for (int r = 0; r < regionCount; ++r) {
                int end = plan.regionEnd[r];
                if (oneTable && r == 0) end = plan.regionEnd[1];
                const Choice expected = ReferenceChoice(values, begin, end);
                ASSERT_EQ(plan.tableSelect[r], expected.table)
                    << "region " << r << " granule " << i;
                bits += expected.bits;
                begin = end;
                if (oneTable) {
                    ASSERT_EQ(plan.tableSelect[1], plan.tableSelect[0]);
                    break;
                }
                ++regions;
            }
            const int a = ReferenceCount1Bits(values, 2 * plan.bigValues, plan.count1End, 0);
            const int b = ReferenceCount1Bits(values, 2 * plan.bigValues, plan.count1End, 1);
            ASSERT_EQ(plan.count1Table, b < a ? 1 : 0);
            ASSERT_EQ(plan.bits, bits + std::min(a, b));
        }
    }
    EXPECT_GT(regions, 2000);
}

TEST(mp3enc_bs_SpectrumCoder, RegionSplitIsCloseToTheBestSplit) {
    std::mt19937 rng(31);
    long long planned = 0;
    long long best = 0;
    double worst = 0.0;
    for (const Rate& rate : kRates) {
        SpectrumCoder coder;
        ASSERT_TRUE(coder.Init(rate.version, rate.samplingIndex));
        const ScaleFactorBands& bands = coder.Bands();
        for (int i = 0; i < 60; ++i) {
            int32_t values[kGranuleLines];
            FillValues(rng, i % 2 == 0 ? Shape::kDecaying : Shape::kMixed, values);
            SpectrumPlan plan;
            ASSERT_TRUE(coder.Plan(values, kBlockLong, plan));
            const int bigEnd = 2 * plan.bigValues;
            int bestBits = -1;
            for (int r0 = 0; r0 < 16; ++r0) {
                for (int r1 = 0; r1 < 8; ++r1) {
                    const int e0 = std::min(
                        bands.longBounds[static_cast<size_t>(std::min(r0 + 1, 22))], bigEnd);
                    const int e1 = std::min(
                        bands.longBounds[static_cast<size_t>(std::min(r0 + r1 + 2, 22))], bigEnd);
                    const int bits = ReferenceChoice(values, 0, e0).bits +
                                     ReferenceChoice(values, e0, std::max(e0, e1)).bits +
                                     ReferenceChoice(values, std::max(e0, e1), bigEnd).bits;
                    if (bestBits < 0 || bits < bestBits) bestBits = bits;
                }
            }
            const int count1 = plan.count1Table == 0
                                   ? ReferenceCount1Bits(values, bigEnd, plan.count1End, 0)
                                   : ReferenceCount1Bits(values, bigEnd, plan.count1End, 1);
            const int bigBits = plan.bits - count1;
            ASSERT_GE(bigBits, bestBits);
            worst =
                std::max(worst, static_cast<double>(bigBits - bestBits) / std::max(bestBits, 1));
            EXPECT_LE(bigBits, bestBits + bestBits / 20 + 8) << "far from the best split";
            planned += bigBits;
            best += bestBits;
        }
    }
    std::printf(
        "region split: %lld bits against %lld for the best splits (+%.2f%%, worst granule "
        "+%.1f%%)\n",
        planned, best, 100.0 * static_cast<double>(planned - best) / static_cast<double>(best),
        100.0 * worst);
    EXPECT_LE(planned, best + best / 100) << "more than 1% above the best splits overall";
}

// A granule like a quantiser produces at a medium rate: large values at the bottom falling
// off with frequency, zeros above about 15 kHz.
void TypicalGranule(std::mt19937& rng, int32_t* values) {
    std::fill(values, values + kGranuleLines, 0);
    for (int i = 0; i < 400; ++i) {
        const double scale = 12.0 * std::exp(-static_cast<double>(i) / 90.0) + 0.25;
        std::exponential_distribution<double> e(1.0 / scale);
        const int m = std::min(static_cast<int>(e(rng)), kMaxCodableValue);
        values[i] = (rng() & 1u) != 0 ? -m : m;
    }
}

TEST(mp3enc_bs_SpectrumCoder, CountingSpeed) {
    std::mt19937 rng(5);
    SpectrumCoder coder;
    ASSERT_TRUE(coder.Init(0, 0));
    constexpr int kGranules = 16;
    std::vector<int32_t> granules(kGranules * kGranuleLines);
    long long totalBits = 0;
    int bits[kGranules] = {};
    for (int g = 0; g < kGranules; ++g) {
        TypicalGranule(rng, granules.data() + g * kGranuleLines);
        SpectrumPlan plan;
        int written = 0;
        const std::vector<int32_t> decoded =
            RoundTrip(coder, granules.data() + g * kGranuleLines, kBlockLong, 0, plan, written);
        ASSERT_EQ(written, plan.bits);
        bits[g] = plan.bits;
        totalBits += plan.bits;
    }
    const auto start = std::chrono::steady_clock::now();
    long long counts = 0;
    long long sum = 0;
    double seconds = 0.0;
    do {
        for (int rep = 0; rep < 1000; ++rep) {
            sum +=
                coder.CountBits(granules.data() + (counts % kGranules) * kGranuleLines, kBlockLong);
            ++counts;
        }
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    } while (seconds < 0.5);
    std::printf("bit counting: %.0f counts/s (typical granule of %lld bits)\n",
                static_cast<double>(counts) / seconds, totalBits / kGranules);
    long long expected = (counts / kGranules) * totalBits;
    for (int g = 0; g < counts % kGranules; ++g) expected += bits[g];
    EXPECT_EQ(sum, expected) << "every count equals the bits written for that granule";
    EXPECT_GT(static_cast<double>(counts) / seconds, 20000.0);
}

}  // namespace
}  // namespace velora::enc

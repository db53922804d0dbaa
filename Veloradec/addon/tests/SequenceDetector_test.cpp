#include "SequenceDetector.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "FieldStatistics.h"

namespace velora {
namespace {

SequenceDetector Fed(const std::vector<int32_t>& values) {
    SequenceDetector detector;
    for (const int32_t v : values) detector.Add(v);
    return detector;
}

// `pattern` repeated until `count` values were given.
std::vector<int32_t> Repeated(std::initializer_list<int32_t> pattern, int count) {
    std::vector<int32_t> values;
    while (static_cast<int>(values.size()) < count) {
        for (const int32_t v : pattern) {
            if (static_cast<int>(values.size()) < count) values.push_back(v);
        }
    }
    return values;
}

TEST(addon_SequenceDetector, ConstantValuesHavePeriodOne) {
    const SequenceDetector d = Fed(Repeated({3336}, 25));
    EXPECT_EQ(d.Period(), 1);
    EXPECT_EQ(d.PeriodSum(), 3336);
    EXPECT_EQ(d.Count(), 25);
}

TEST(addon_SequenceDetector, FindsPeriodsTwoThreeAndFour) {
    const SequenceDetector two = Fed(Repeated({417 * 8, 418 * 8}, 9));
    EXPECT_EQ(two.Period(), 2);
    EXPECT_EQ(two.PeriodSum(), 417 * 8 + 418 * 8);

    const SequenceDetector three = Fed(Repeated({5, 5, 9}, 13));
    EXPECT_EQ(three.Period(), 3);
    EXPECT_EQ(three.PeriodSum(), 19);

    // 1, 2, 1, 3 fits period 2 for the first three values only.
    const SequenceDetector four = Fed(Repeated({1, 2, 1, 3}, 14));
    EXPECT_EQ(four.Period(), 4);
    EXPECT_EQ(four.PeriodSum(), 7);
}

TEST(addon_SequenceDetector, ReportsTheShortestPeriod) {
    // Fits periods 2 and 4; 2 is the answer.
    const SequenceDetector d = Fed(Repeated({128000, 160000}, 20));
    EXPECT_EQ(d.Period(), 2);
    EXPECT_EQ(d.PeriodSum(), 288000);
    // Fits 1, 2, 3, 4.
    EXPECT_EQ(Fed(Repeated({7}, 12)).Period(), 1);
}

TEST(addon_SequenceDetector, NoPeriod) {
    EXPECT_EQ(Fed({1, 2, 3, 4, 5}).Period(), 0);
    EXPECT_EQ(Fed({1, 2, 3, 4, 5}).PeriodSum(), 0);
    // Period 5 is beyond the capacity.
    EXPECT_EQ(Fed(Repeated({1, 2, 3, 4, 5}, 20)).Period(), 0);
    // A pattern that held for a while and then broke.
    EXPECT_EQ(Fed({4, 6, 4, 6, 4, 6, 4, 4}).Period(), 0);
    EXPECT_EQ(Fed({9, 9, 9, 9, 9, 9, 9, 8}).Period(), 0);
    // Breaking after the kept values: the last one differs from its value four back.
    EXPECT_EQ(Fed({1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 5}).Period(), 0);
}

TEST(addon_SequenceDetector, FewerValuesThanCapacity) {
    EXPECT_EQ(Fed({}).Period(), 0);
    EXPECT_EQ(Fed({}).PeriodSum(), 0);
    EXPECT_EQ(Fed({7}).Period(), 1);
    EXPECT_EQ(Fed({7}).PeriodSum(), 7);
    EXPECT_EQ(Fed({7, 7}).Period(), 1);
    EXPECT_EQ(Fed({7, 7, 7}).PeriodSum(), 7);
    // A longer period counts only once it has been seen to repeat.
    EXPECT_EQ(Fed({7, 8}).Period(), 0);
    EXPECT_EQ(Fed({7, 8, 7}).Period(), 2);
    EXPECT_EQ(Fed({7, 8, 7}).PeriodSum(), 15);
    EXPECT_EQ(Fed({7, 8, 9}).Period(), 0);
    EXPECT_EQ(Fed({7, 8, 9, 7}).Period(), 3);
    EXPECT_EQ(Fed({7, 8, 9, 7}).PeriodSum(), 24);
    EXPECT_EQ(Fed({7, 8, 9, 10}).Period(), 0);
}

TEST(addon_SequenceDetector, ResetForgetsEverything) {
    SequenceDetector d = Fed({1, 2, 3, 4, 5});
    ASSERT_EQ(d.Period(), 0);
    d.Reset();
    EXPECT_EQ(d.Count(), 0);
    for (int i = 0; i < 6; ++i) d.Add(40);
    EXPECT_EQ(d.Period(), 1);
    EXPECT_EQ(d.PeriodSum(), 40);
}

TEST(addon_FieldStatistics, CountsSumsAndRange) {
    FieldStatistics s;
    EXPECT_TRUE(s.allEqual);
    EXPECT_EQ(s.Mean(), 0);
    for (const int32_t v : {44100, 44100, 44100}) s.Add(v);
    EXPECT_TRUE(s.allEqual);
    EXPECT_EQ(s.Mean(), 44100);
    s.Add(48000);
    s.Add(32000);
    EXPECT_FALSE(s.allEqual);
    EXPECT_EQ(s.count, 5);
    EXPECT_EQ(s.sum, 44100 * 3 + 48000 + 32000);
    EXPECT_EQ(s.first, 44100);
    EXPECT_EQ(s.minimum, 32000);
    EXPECT_EQ(s.maximum, 48000);
    EXPECT_EQ(s.Mean(), (44100 * 3 + 48000 + 32000) / 5);
    // Returning to the first value does not make the values equal again.
    s.Add(44100);
    EXPECT_FALSE(s.allEqual);
}

}  // namespace
}  // namespace velora

// The compiled noise table against its data file and the published first entries.
#include "SbrNoiseTable.h"

#include <gtest/gtest.h>

#include <vector>

#include "DataFileRows.h"

namespace velora::sbr {
namespace {

TEST(sbr_noise_Table, MatchesTheDataFile) {
    const auto rows = test::DataFileRows(VELORA_SOURCE_DIR "/relsbrdeclib/tables/sbr_noise_table.txt");
    int count = 0;
    for (const std::vector<double>& row : rows) {
        ASSERT_EQ(row.size(), 3u);
        const int index = static_cast<int>(row[0]);
        ASSERT_GE(index, 0);
        ASSERT_LT(index, kNoiseTableSize);
        EXPECT_EQ(kNoiseTableReal[index], static_cast<float>(row[1])) << index;
        EXPECT_EQ(kNoiseTableImag[index], static_cast<float>(row[2])) << index;
        ++count;
    }
    EXPECT_EQ(count, kNoiseTableSize);
    EXPECT_NEAR(kNoiseTableReal[0], -0.99948153f, 1e-7f);
    EXPECT_NEAR(kNoiseTableImag[0], -0.59483417f, 1e-7f);
    EXPECT_NEAR(kNoiseTableReal[1], 0.97113454f, 1e-7f);
    EXPECT_NEAR(kNoiseTableImag[1], -0.67528515f, 1e-7f);
}

}  // namespace
}  // namespace velora::sbr

// The compiled noise table against its data file and the published first entries.
#include "SbrNoiseTable.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace velora::sbr {
namespace {

TEST(sbr_noise_Table, MatchesTheDataFile) {
    std::ifstream in(VELORA_SOURCE_DIR "/relsbrdeclib/tables/sbr_noise_table.txt");
    ASSERT_TRUE(in);
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        int index = 0;
        double re = 0.0;
        double im = 0.0;
        ASSERT_TRUE(s >> index >> re >> im);
        ASSERT_GE(index, 0);
        ASSERT_LT(index, kNoiseTableSize);
        EXPECT_EQ(kNoiseTableReal[index], static_cast<float>(re)) << index;
        EXPECT_EQ(kNoiseTableImag[index], static_cast<float>(im)) << index;
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

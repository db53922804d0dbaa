// The bit writer against a bit-by-bit model: random field widths, bytes after Sync, the
// overflow guard at the end of the buffer.

#include "BitWriter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace velora::enc {
namespace {

TEST(mp3enc_bs_BitWriter, RandomFieldsMatchABitModel) {
    std::mt19937 rng(7);
    std::vector<uint8_t> buffer(4096, 0xAA);
    BitWriter w(buffer.data(), static_cast<int>(buffer.size()));
    std::vector<int> model;
    for (int i = 0; i < 2000; ++i) {
        const int bits = std::uniform_int_distribution<int>(0, 32)(rng);
        const uint32_t value =
            static_cast<uint32_t>(rng());  // high bits beyond `bits` must be ignored
        w.Put(value, bits);
        for (int b = bits - 1; b >= 0; --b) model.push_back(static_cast<int>((value >> b) & 1u));
        if (i % 97 == 0) {
            const int ones = std::uniform_int_distribution<int>(0, 40)(rng);
            w.PutOnes(ones);
            model.insert(model.end(), static_cast<size_t>(ones), 1);
        }
        ASSERT_EQ(w.Position(), static_cast<int>(model.size()));
        if (model.size() > 30000) break;
    }
    w.AlignWithZeros();
    while (model.size() % 8 != 0) model.push_back(0);
    const int bytes = w.Sync();
    ASSERT_FALSE(w.Overflow());
    ASSERT_EQ(bytes * 8, static_cast<int>(model.size()));
    for (size_t i = 0; i < model.size(); ++i)
        ASSERT_EQ((buffer[i / 8] >> (7 - i % 8)) & 1, model[i]) << "bit " << i;
}

TEST(mp3enc_bs_BitWriter, SyncMidwayLeavesWritingIntact) {
    uint8_t buffer[8] = {};
    BitWriter w(buffer, 8);
    w.Put(0x5, 3);  // 101
    EXPECT_EQ(w.Sync(), 1);
    EXPECT_EQ(buffer[0], 0xA0);
    w.Put(0x1F, 5);  // 101 11111
    w.Put(0xABCD, 16);
    EXPECT_EQ(w.Sync(), 3);
    EXPECT_EQ(buffer[0], 0xBF);
    EXPECT_EQ(buffer[1], 0xAB);
    EXPECT_EQ(buffer[2], 0xCD);
}

TEST(mp3enc_bs_BitWriter, OverflowIsFlaggedAndBoundsKept) {
    uint8_t buffer[7] = {};
    uint8_t guard[4] = {0x11, 0x22, 0x33, 0x44};
    BitWriter w(buffer, 5);
    for (int i = 0; i < 5; ++i) w.Put(0xFF, 8);
    EXPECT_FALSE(w.Overflow());
    EXPECT_EQ(w.Sync(), 5);
    w.Put(0xFFFFFFFFu, 32);
    w.Put(0xFFFFFFFFu, 32);
    EXPECT_TRUE(w.Overflow());
    EXPECT_EQ(w.Sync(), 5);
    EXPECT_EQ(buffer[5], 0);
    EXPECT_EQ(buffer[6], 0);
    EXPECT_EQ(guard[0], 0x11);
}

}  // namespace
}  // namespace velora::enc

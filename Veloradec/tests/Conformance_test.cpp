// Every Layer III conformance stream decodes fully accurately against its reference PCM:
// PSNR above 96 dB and no sample off by more than 1.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "DecodeHelpers.h"
#include "FrameWalker.h"

namespace velora {
namespace {

std::vector<int16_t> ReadPcm(const std::string& path) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    std::vector<int16_t> pcm(bytes.size() / 2);
    for (size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return pcm;
}

test::Comparison DecodeAndCompare(const std::string& name, size_t* decodedSize,
                                  size_t* referenceSize) {
    const std::string base = test::ConformanceDir() + name;
    const test::Decoded decoded = test::DecodeAll(test::ReadFileBytes(base + ".bit"));
    const std::vector<int16_t> reference = ReadPcm(base + ".pcm");
    *decodedSize = decoded.pcm.size();
    *referenceSize = reference.size();
    EXPECT_EQ(decoded.last, kSscSyncEof) << name;
    return test::Compare(decoded.pcm, reference);
}

class FullyAccurate : public ::testing::TestWithParam<const char*> {};

TEST_P(FullyAccurate, MatchesReference) {
    size_t decodedSize = 0;
    size_t referenceSize = 0;
    const test::Comparison c = DecodeAndCompare(GetParam(), &decodedSize, &referenceSize);
    // Some reference files stop one frame before the stream does; the rest must be there.
    const size_t lastFrame = decodedSize - referenceSize;
    EXPECT_TRUE(decodedSize == referenceSize || lastFrame == 576 || lastFrame == 1152 ||
                lastFrame == 2304)
        << decodedSize << " decoded, " << referenceSize << " in the reference";
    EXPECT_GT(c.psnr, 96.0);
    EXPECT_LE(c.maxDiff, 1);
    std::printf("%-22s PSNR %.2f dB, max diff %d, %zu samples\n", GetParam(), c.psnr, c.maxDiff,
                c.compared);
}

INSTANTIATE_TEST_SUITE_P(Layer3, FullyAccurate,
                         ::testing::Values("l3-compl", "l3-he_32khz", "l3-he_44khz",
                                           "l3-he_48khz", "l3-he_mode", "l3-hecommon", "l3-si",
                                           "l3-si_block", "l3-si_huff", "l3-sin1k0db",
                                           "M2L3_bitrate_16_all", "M2L3_bitrate_22_all",
                                           "M2L3_bitrate_24_all", "M2L3_compl24", "M2L3_noise",
                                           // hard cases that many decoders miss
                                           "l3-test45", "l3-test46"),
                         [](const auto& param) {
                             std::string name = param.param;
                             for (char& ch : name) {
                                 if (ch == '-') ch = '_';
                             }
                             return name;
                         });

TEST(FreeFormat, GivesNoOutputAndEnds) {
    const test::Decoded decoded =
        test::DecodeAll(test::ReadFileBytes(test::ConformanceDir() + "l3-he_free.bit"));
    EXPECT_TRUE(decoded.pcm.empty());
    EXPECT_EQ(decoded.last, kSscSyncEof);
}

}  // namespace
}  // namespace velora

// Inputs the SBR decoder's fuzz target once failed on, replayed through that target's own
// driver, which aborts on any result or sample a caller could not rely on. The clang fuzz
// build also starts from them, and its sanitizers see index errors this build may not.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

TEST(SbrFuzzRegressions, EveryKeptInputRunsCleanly) {
    const std::filesystem::path dir = VELORA_SOURCE_DIR "/relsbrdeclib/tests/regressions";
    int inputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
        ++inputs;
    }
    EXPECT_GT(inputs, 0);
}

}  // namespace

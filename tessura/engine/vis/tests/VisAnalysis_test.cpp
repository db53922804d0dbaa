// Visualisation-data blocks made from PCM of known shape: silence, a full-scale square wave,
// mono against stereo, 8/16/24/32-bit samples, frames split between calls, and the hand-over
// between the output's thread and the window's.
#include "VisAnalysis.h"

#include "OutputChain.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace tessura {
namespace {

// `frames` frames of `channels` channels, each sample from value(frame, channel), as
// little-endian `bits`-bit samples (8-bit ones unsigned).
template <typename Value>
std::vector<uint8_t> pcm(int frames, int channels, int bits, Value value) {
    const int bytes = bits / 8;
    std::vector<uint8_t> out;
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c) {
            const int64_t v = value(f, c);
            if (bits == 8) {
                out.push_back(static_cast<uint8_t>(v + 128));
                continue;
            }
            for (int b = 0; b < bytes; ++b) out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * b)));
        }
    return out;
}

// A full-scale square of period 128 frames: high for the first 64, low for the next.
int64_t square(int frame, int bits) {
    const int64_t high = (int64_t{1} << (bits - 1)) - 1, low = -(int64_t{1} << (bits - 1));
    return (frame / 64) % 2 == 0 ? high : low;
}

TEST(VisAnalysis, SilenceGivesSilentBlocks) {
    VisAnalysis analysis;
    const std::vector<uint8_t> quiet = pcm(1024, 2, 16, [](int, int) { return 0; });
    analysis.addPcm(quiet.data(), quiet.size(), {44100, 2, 16});
    const std::vector<VisBlock> blocks = analysis.newestBlocks();
    ASSERT_EQ(blocks.size(), 2u);
    for (int i = 0; i < TESSURA_VIS_SAMPLES; ++i) {
        EXPECT_EQ(blocks[1].left(i), 0);
        EXPECT_EQ(blocks[1].right(i), 0);
    }
    for (int i = 0; i < TESSURA_VIS_SPECTRUM_BINS; ++i) {
        EXPECT_EQ(blocks[1].leftBin(i), 0);
        EXPECT_EQ(blocks[1].rightBin(i), 0);
    }
    int32_t heardMs = 0;
    std::memcpy(&heardMs, blocks[1].bytes.data(), 4);
    EXPECT_EQ(heardMs, 23) << "1024 frames at 44100 Hz";
}

struct SquareCase {
    int bits;
};

TEST(VisAnalysis, AFullScaleSquareWaveKeepsItsTopBytesAndItsOddHarmonics) {
    for (const SquareCase c : {SquareCase{8}, SquareCase{16}, SquareCase{24}, SquareCase{32}}) {
        VisAnalysis analysis;
        // Right is the left inverted.
        const std::vector<uint8_t> wave =
            pcm(512, 2, c.bits, [&](int f, int ch) { return square(ch == 0 ? f : f + 64, c.bits); });
        analysis.addPcm(wave.data(), wave.size(), {48000, 2, c.bits});
        const std::vector<VisBlock> blocks = analysis.newestBlocks();
        ASSERT_EQ(blocks.size(), 1u) << c.bits;
        const VisBlock& b = blocks[0];
        for (int i = 0; i < TESSURA_VIS_SAMPLES; ++i) {
            const bool high = (i / 64) % 2 == 0;
            ASSERT_EQ(b.left(i), high ? 127 : -128) << c.bits << " bits, sample " << i;
            ASSERT_EQ(b.right(i), high ? -128 : 127) << c.bits << " bits, sample " << i;
        }
        // Four periods in 512 samples, so only bins 0, 4, 12, 20 ... (odd multiples of the
        // fundamental) carry anything. The bins are the rounded real parts: a square of
        // +-127.5 starting high gives 127.5 / 16 x 8 = 63.75 in every odd harmonic's real part,
        // and the 127/-128 asymmetry (-0.5 in every sample) leaves 512 x 0.5 / 16 = 16 at DC.
        EXPECT_EQ(b.leftBin(4), 64);
        EXPECT_EQ(b.leftBin(12), 64);
        EXPECT_EQ(b.rightBin(4), 64);
        EXPECT_EQ(b.leftBin(8), 0);
        EXPECT_EQ(b.leftBin(16), 0);
        EXPECT_EQ(b.leftBin(0), 16);
        EXPECT_EQ(b.leftBin(3), 0) << "below the fundamental";
    }
}

TEST(VisAnalysis, MonoFillsBothChannelsAndMoreChannelsGiveTheFirstTwo) {
    struct Case {
        int channels;
        int8_t wantLeft, wantRight;
    };
    // Channel c holds the 16-bit value (c + 1) * 0x1000: its top byte is (c + 1) * 16.
    for (const Case c : {Case{1, 16, 16}, Case{2, 16, 32}, Case{6, 16, 32}}) {
        VisAnalysis analysis;
        const std::vector<uint8_t> data = pcm(512, c.channels, 16, [](int, int ch) { return (ch + 1) * 0x1000; });
        analysis.addPcm(data.data(), data.size(), {22050, c.channels, 16});
        const std::vector<VisBlock> blocks = analysis.newestBlocks();
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_EQ(blocks[0].left(100), c.wantLeft) << c.channels;
        EXPECT_EQ(blocks[0].right(100), c.wantRight) << c.channels;
    }
}

TEST(VisAnalysis, FramesSplitBetweenCallsGiveTheSameBlock) {
    const std::vector<uint8_t> data = pcm(512, 2, 24, [](int f, int ch) { return (f * 977 + ch * 50000) % 8000000 - 4000000; });
    VisAnalysis whole, pieces;
    whole.addPcm(data.data(), data.size(), {44100, 2, 24});
    for (std::size_t at = 0; at < data.size(); at += 7)
        pieces.addPcm(data.data() + at, std::min<std::size_t>(7, data.size() - at), {44100, 2, 24});
    ASSERT_EQ(whole.newestBlocks().size(), 1u);
    ASSERT_EQ(pieces.newestBlocks().size(), 1u);
    EXPECT_EQ(whole.newestBlocks()[0].bytes, pieces.newestBlocks()[0].bytes);
}

TEST(VisAnalysis, KeepsTheNewestBlocksAndStartsAgainOnAFormatChangeOrReset) {
    VisAnalysis analysis;
    for (int n = 0; n < 6; ++n) {
        const std::vector<uint8_t> data = pcm(512, 1, 16, [n](int, int) { return n * 256; });
        analysis.addPcm(data.data(), data.size(), {44100, 1, 16});
    }
    std::vector<VisBlock> blocks = analysis.newestBlocks();
    ASSERT_EQ(blocks.size(), static_cast<std::size_t>(VisAnalysis::kKeptBlocks));
    EXPECT_EQ(blocks.front().left(0), 2);
    EXPECT_EQ(blocks.back().left(0), 5) << "the newest last";
    EXPECT_EQ(analysis.blocksMade(), 6u);

    // Half a block, then another format: the half is dropped.
    const std::vector<uint8_t> half = pcm(256, 1, 16, [](int, int) { return 0x7F00; });
    analysis.addPcm(half.data(), half.size(), {44100, 1, 16});
    const std::vector<uint8_t> other = pcm(512, 2, 8, [](int, int) { return -100; });
    analysis.addPcm(other.data(), other.size(), {8000, 2, 8});
    blocks = analysis.newestBlocks();
    EXPECT_EQ(blocks.back().left(0), -100);
    EXPECT_EQ(blocks.back().left(511), -100);

    analysis.reset();
    EXPECT_TRUE(analysis.newestBlocks().empty());
    const uint8_t odd[3] = {1, 2, 3};
    analysis.addPcm(odd, 3, {44100, 0, 16});
    analysis.addPcm(nullptr, 100, {44100, 2, 16});
    analysis.addPcm(odd, 3, {44100, 2, 40});
    EXPECT_EQ(analysis.blocksMade(), 0u) << "formats that make no sense are ignored";
}

TEST(VisAnalysis, ServesAsTheOutputChainsTap) {
    VisAnalysis analysis;
    OutputChain::AnalysisTap tap = analysis.tap();
    const std::vector<uint8_t> data = pcm(512, 2, 16, [](int, int ch) { return ch == 0 ? 0x4000 : -0x4000; });
    tap(data.data(), data.size(), PcmFormat{44100, 2, 16});
    ASSERT_EQ(analysis.newestBlocks().size(), 1u);
    EXPECT_EQ(analysis.newestBlocks()[0].left(3), 0x40);
    EXPECT_EQ(analysis.newestBlocks()[0].right(3), -0x40);
}

TEST(VisAnalysis, OutputThreadAndWindowThreadHandOverBlocks) {
    VisAnalysis analysis;
    const std::vector<uint8_t> data = pcm(512, 2, 16, [](int f, int) { return f * 64 - 16384; });
    std::thread output([&] {
        for (int n = 0; n < 200; ++n) analysis.addPcm(data.data(), data.size(), {44100, 2, 16});
    });
    std::size_t seen = 0;
    for (int n = 0; n < 200; ++n) {
        for (const VisBlock& block : analysis.newestBlocks()) {
            EXPECT_EQ(block.left(0), -64);
            ++seen;
        }
    }
    output.join();
    EXPECT_EQ(analysis.blocksMade(), 200u);
    EXPECT_EQ(analysis.newestBlocks().back().left(511), static_cast<int8_t>((511 * 64 - 16384) >> 8));
    (void)seen;
}

}  // namespace
}  // namespace tessura

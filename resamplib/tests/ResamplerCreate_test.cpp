// Creation: the mode, factors, filter size, delay and matching block size it reports, the
// cut-off limit, and every way it can fail; Process's argument checks.
#include "Resampler.h"

#include <gtest/gtest.h>

#include <vector>

namespace velora::resample {
namespace {

ResamplerSettings Settings(int channels, int in, int out, int block, double cutoff) {
    ResamplerSettings s;
    s.channels = channels;
    s.inputRate = in;
    s.outputRate = out;
    s.inputBlockSamples = block;
    s.cutoffHz = cutoff;
    return s;
}

struct Created {
    Resampler* resampler;
    ResamplerInfo info;
    CreateError error;
};

Created Make(const ResamplerSettings& s) {
    Created c{nullptr, {}, CreateError::kOutOfMemory};
    c.resampler = Create(s, &c.info, &c.error);
    return c;
}

TEST(resample_Create, PlainDecimationByTwo) {
    const Created c = Make(Settings(2, 44100, 22050, 2048, 11025.0));
    ASSERT_NE(c.resampler, nullptr);
    EXPECT_EQ(c.error, CreateError::kNone);
    EXPECT_EQ(c.info.mode, ResamplerMode::kExact);
    EXPECT_EQ(c.info.upFactor, 1);
    EXPECT_EQ(c.info.downFactor, 2);
    EXPECT_EQ(c.info.phases, 1);
    // Transition 1102.5 Hz at 44.1 kHz: dw = 0.025, 229 taps, all in one phase.
    EXPECT_EQ(c.info.filterLength, 229);
    EXPECT_EQ(c.info.tapsPerPhase, 229);
    EXPECT_EQ(c.info.delay, 114);
    EXPECT_TRUE(c.info.fastConvolution);
    EXPECT_EQ(c.info.inputBlockSamples, 2048);
    EXPECT_EQ(c.info.outputBlockSamples, 1024);
    Destroy(c.resampler);
}

TEST(resample_Create, FortyEightToFortyFourOneUses147Phases) {
    const Created c = Make(Settings(2, 48000, 44100, 2 * 1152, 22050.0));
    ASSERT_NE(c.resampler, nullptr);
    EXPECT_EQ(c.info.mode, ResamplerMode::kExact);
    EXPECT_EQ(c.info.upFactor, 147);
    EXPECT_EQ(c.info.downFactor, 160);
    EXPECT_EQ(c.info.phases, 147);
    // dw = 2205 / (147 * 48000): 18285 taps, ceil(18285 / 147) = 125 per phase.
    EXPECT_EQ(c.info.filterLength, 18285);
    EXPECT_EQ(c.info.tapsPerPhase, 125);
    EXPECT_EQ(c.info.delay, 62);
    EXPECT_FALSE(c.info.fastConvolution);
    // 1152 * 147 / 160 = 1058.4 frames, rounded up.
    EXPECT_EQ(c.info.outputBlockSamples, 2 * 1059);
    Destroy(c.resampler);
}

TEST(resample_Create, OutputBlockRoundsUpToWholeFrames) {
    struct Case {
        int channels, in, out, block, expected;
    } cases[] = {
        {1, 32000, 22050, 1000, 690},                                      // 689.06
        {2, 11025, 44100, 2000, 8000},                                     // exactly 4000 frames
        {2, 48000, 22050, 2 * 640, 2 * 294},                               // exactly 294
        {2, 48000, 22050, 2 * 641, 2 * 295},                               // 294.46
        {1, 22050, 32000, 441, 640},         {1, 22050, 32000, 442, 642},  // 641.45
    };
    for (const Case& k : cases) {
        const Created c = Make(Settings(k.channels, k.in, k.out, k.block, 1e9));
        ASSERT_NE(c.resampler, nullptr) << k.in << " " << k.out;
        EXPECT_EQ(c.info.outputBlockSamples, k.expected) << k.in << " " << k.out << " " << k.block;
        Destroy(c.resampler);
    }
}

TEST(resample_Create, LargeUpFactorsUseTheTable) {
    // 22050 -> 32000: L = 640, M = 441.
    Created c = Make(Settings(1, 22050, 32000, 1024, 11025.0));
    ASSERT_NE(c.resampler, nullptr);
    EXPECT_EQ(c.info.mode, ResamplerMode::kTable);
    EXPECT_EQ(c.info.upFactor, 640);
    EXPECT_EQ(c.info.downFactor, 441);
    EXPECT_EQ(c.info.phases, 512);
    EXPECT_EQ(c.info.tapsPerPhase, (c.info.filterLength + 511) / 512);
    EXPECT_EQ(c.info.delay, c.info.tapsPerPhase / 2);
    Destroy(c.resampler);

    // L = 512 exactly is already the table; 511 is not.
    c = Make(Settings(1, 100, 51200, 16, 50.0));
    ASSERT_NE(c.resampler, nullptr);
    EXPECT_EQ(c.info.mode, ResamplerMode::kTable);
    Destroy(c.resampler);
    c = Make(Settings(1, 100, 51100, 16, 50.0));
    ASSERT_NE(c.resampler, nullptr);
    EXPECT_EQ(c.info.mode, ResamplerMode::kExact);
    EXPECT_EQ(c.info.phases, 511);
    Destroy(c.resampler);
}

TEST(resample_Create, CutOffIsLimitedToHalfTheLowerRate) {
    const Created asked = Make(Settings(2, 48000, 44100, 2048, 30000.0));
    const Created limit = Make(Settings(2, 48000, 44100, 2048, 22050.0));
    const Created lower = Make(Settings(2, 48000, 44100, 2048, 20000.0));
    ASSERT_NE(asked.resampler, nullptr);
    ASSERT_NE(limit.resampler, nullptr);
    ASSERT_NE(lower.resampler, nullptr);
    EXPECT_EQ(asked.info.cutoffHz, 22050.0);
    EXPECT_EQ(asked.info.filterLength, limit.info.filterLength);
    // A lower cut-off narrows the transition, so the filter grows.
    EXPECT_EQ(lower.info.cutoffHz, 20000.0);
    EXPECT_GT(lower.info.filterLength, limit.info.filterLength);
    Destroy(asked.resampler);
    Destroy(limit.resampler);
    Destroy(lower.resampler);
}

TEST(resample_Create, EqualRatesAtFullBandPassThrough) {
    for (double cutoff : {22050.0, 30000.0}) {
        const Created c = Make(Settings(2, 44100, 44100, 2048, cutoff));
        ASSERT_NE(c.resampler, nullptr);
        EXPECT_EQ(c.info.mode, ResamplerMode::kPassThrough);
        EXPECT_EQ(c.info.delay, 0);
        EXPECT_EQ(c.info.filterLength, 0);
        EXPECT_EQ(c.info.outputBlockSamples, 2048);
        Destroy(c.resampler);
    }
    // Below the full band, equal rates band-limit.
    const Created c = Make(Settings(2, 44100, 44100, 2048, 16000.0));
    ASSERT_NE(c.resampler, nullptr);
    EXPECT_EQ(c.info.mode, ResamplerMode::kExact);
    EXPECT_EQ(c.info.upFactor, 1);
    EXPECT_EQ(c.info.downFactor, 1);
    EXPECT_GT(c.info.delay, 0);
    Destroy(c.resampler);
}

TEST(resample_Create, FailuresSayWhy) {
    struct Case {
        ResamplerSettings settings;
        CreateError expected;
    } cases[] = {
        {Settings(2, 0, 44100, 2048, 20000.0), CreateError::kBadRate},
        {Settings(2, 44100, -1, 2048, 20000.0), CreateError::kBadRate},
        {Settings(2, -48000, -44100, 2048, 20000.0), CreateError::kBadRate},
        {Settings(2, 48000, 44100, 2047, 20000.0), CreateError::kBadBlockSize},
        {Settings(2, 48000, 44100, 0, 20000.0), CreateError::kBadBlockSize},
        {Settings(3, 48000, 44100, 2048, 20000.0), CreateError::kBadBlockSize},
        {Settings(1, 48000, 44100, -4, 20000.0), CreateError::kBadBlockSize},
        // L = 513, M = 1; and L = 1000, M = 1.
        {Settings(1, 100, 51300, 16, 50.0), CreateError::kRatioTooLarge},
        {Settings(1, 1, 1000, 16, 0.5), CreateError::kRatioTooLarge},
        {Settings(0, 48000, 44100, 2048, 20000.0), CreateError::kBadChannels},
        {Settings(kMaxChannels + 1, 48000, 44100, 2048, 20000.0), CreateError::kBadChannels},
        {Settings(2, 48000, 44100, 2048, 0.0), CreateError::kBadFilter},
        {Settings(2, 48000, 44100, 2048, -100.0), CreateError::kBadFilter},
        // Ten hertz at 147 phases of 48 kHz would need tens of millions of taps.
        {Settings(2, 48000, 44100, 2048, 10.0), CreateError::kBadFilter},
    };
    for (const Case& k : cases) {
        ResamplerInfo info;
        CreateError error = CreateError::kNone;
        EXPECT_EQ(Create(k.settings, &info, &error), nullptr)
            << k.settings.inputRate << " " << k.settings.outputRate;
        EXPECT_EQ(error, k.expected) << k.settings.inputRate << " " << k.settings.outputRate;
    }
    ResamplerSettings noTransition = Settings(2, 48000, 44100, 2048, 20000.0);
    noTransition.transitionFactor = 0.0;
    CreateError error = CreateError::kNone;
    EXPECT_EQ(Create(noTransition, nullptr, &error), nullptr);
    EXPECT_EQ(error, CreateError::kBadFilter);
}

TEST(resample_Create, ProcessRejectsBadArgumentsWithoutTouchingAnything) {
    const Created c = Make(Settings(2, 48000, 44100, 2048, 22050.0));
    ASSERT_NE(c.resampler, nullptr);
    std::vector<float> in(4096, 0.25f);
    std::vector<float> out(static_cast<size_t>(c.info.outputBlockSamples), -7.0f);
    const int room = static_cast<int>(out.size());
    int position = 0;
    int written = -1;
    // Too little room for a block's output.
    EXPECT_FALSE(Process(c.resampler, in.data(), 4096, &position, out.data(), room - 1, &written));
    position = 4097;
    EXPECT_FALSE(Process(c.resampler, in.data(), 4096, &position, out.data(), room, &written));
    position = -2;
    EXPECT_FALSE(Process(c.resampler, in.data(), 4096, &position, out.data(), room, &written));
    position = 0;
    EXPECT_FALSE(Process(c.resampler, nullptr, 4096, &position, out.data(), room, &written));
    EXPECT_FALSE(Process(c.resampler, in.data(), 4096, &position, nullptr, room, &written));
    EXPECT_FALSE(Process(c.resampler, in.data(), 4096, nullptr, out.data(), room, &written));
    EXPECT_FALSE(Process(nullptr, in.data(), 4096, &position, out.data(), room, &written));
    EXPECT_EQ(position, 0);
    EXPECT_EQ(written, -1);
    for (float v : out) ASSERT_EQ(v, -7.0f);

    // A good call takes one block and no more.
    EXPECT_TRUE(Process(c.resampler, in.data(), 4096, &position, out.data(), room, &written));
    EXPECT_EQ(position, 2048);
    EXPECT_GT(written, 0);
    EXPECT_LE(written, c.info.outputBlockSamples);
    EXPECT_EQ(written % 2, 0);
    Destroy(c.resampler);
}

}  // namespace
}  // namespace velora::resample

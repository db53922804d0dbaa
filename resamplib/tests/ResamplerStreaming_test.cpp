// Streaming behaviour: any cutting of the input gives the same output stream, the per-call
// output stays within the reported block, a short last block is padded with zeros, channels
// do not mix, pass-through is bit-exact, and the FFT and time-domain decimators agree.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "ConverterRun.h"
#include "Resampler.h"

namespace velora::resample {
namespace {

using testing::RunConverter;
using testing::RunResult;

ResamplerSettings Settings(int channels, int in, int out, int block, double cutoff) {
    ResamplerSettings s;
    s.channels = channels;
    s.inputRate = in;
    s.outputRate = out;
    s.inputBlockSamples = block;
    s.cutoffHz = cutoff;
    return s;
}

std::vector<float> Noise(size_t samples, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-0.5f, 0.5f);
    std::vector<float> v(samples);
    for (float& x : v) x = u(rng);
    return v;
}

struct Path {
    const char* name;
    ResamplerSettings settings;
    ResamplerMode mode;
    bool fast;
};

const Path kPaths[] = {
    {"fft decimator", Settings(2, 44100, 22050, 2 * 1024, 11025.0), ResamplerMode::kExact, true},
    {"fft decimator by 3", Settings(2, 48000, 16000, 2 * 1000, 8000.0), ResamplerMode::kExact,
     true},
    {"fft band-limit", Settings(2, 44100, 44100, 2 * 500, 16000.0), ResamplerMode::kExact, true},
    {"147 phases", Settings(2, 48000, 44100, 2 * 1152, 22050.0), ResamplerMode::kExact, false},
    {"441 phases", Settings(1, 8000, 44100, 320, 4000.0), ResamplerMode::kExact, false},
    {"long decimator", Settings(2, 96000, 8000, 2 * 960, 4000.0), ResamplerMode::kExact, false},
    {"table", Settings(2, 22050, 32000, 2 * 1000, 11025.0), ResamplerMode::kTable, false},
    {"pass-through", Settings(2, 32000, 32000, 2 * 700, 16000.0), ResamplerMode::kPassThrough,
     false},
};

TEST(resample_Streaming, AnySlicingGivesTheSameStream) {
    for (const Path& path : kPaths) {
        SCOPED_TRACE(path.name);
        const int channels = path.settings.channels;
        const int block = path.settings.inputBlockSamples / channels;
        const std::vector<float> input =
            Noise(static_cast<size_t>(channels) * block * 9 + 2 * 37, 5);
        const RunResult whole = RunConverter(path.settings, input);
        ASSERT_TRUE(whole.created);
        EXPECT_EQ(whole.info.mode, path.mode);
        EXPECT_EQ(whole.info.fastConvolution, path.fast);
        ASSERT_FALSE(whole.output.empty());

        std::mt19937 rng(17);
        std::uniform_int_distribution<int> sizes(0, 2 * block + 3);
        const RunResult sliced =
            RunConverter(path.settings, input, [&] { return static_cast<size_t>(sizes(rng)); });
        ASSERT_TRUE(sliced.created);
        EXPECT_GT(sliced.calls, whole.calls);
        EXPECT_EQ(sliced.output, whole.output);
        // Single frames, and blocks that straddle the block grid.
        const RunResult single = RunConverter(path.settings, input, [] { return size_t{1}; });
        EXPECT_EQ(single.output, whole.output);
        const RunResult shifted =
            RunConverter(path.settings, input, [&] { return static_cast<size_t>(block - 1); });
        EXPECT_EQ(shifted.output, whole.output);

        for (const RunResult* r : {&whole, &sliced, &single, &shifted}) {
            EXPECT_LE(r->largestCallOutput, whole.info.outputBlockSamples);
        }
    }
}

TEST(resample_Streaming, OutputCountFollowsTheRatio) {
    // After n whole blocks the converter has written at most ceil(n B L / M) frames, and
    // only those whose filter still waits for later input are missing.
    for (const Path& path : kPaths) {
        SCOPED_TRACE(path.name);
        const int channels = path.settings.channels;
        const int block = path.settings.inputBlockSamples / channels;
        ResamplerInfo info;
        Resampler* r = Create(path.settings, &info, nullptr);
        ASSERT_NE(r, nullptr);
        const std::vector<float> input = Noise(static_cast<size_t>(channels) * block, 9);
        std::vector<float> out(static_cast<size_t>(info.outputBlockSamples));
        long long frames = 0;
        const long long up = path.mode == ResamplerMode::kPassThrough ? 1 : info.upFactor;
        const long long down = path.mode == ResamplerMode::kPassThrough ? 1 : info.downFactor;
        for (long long n = 1; n <= 40; ++n) {
            int position = 0;
            int written = 0;
            ASSERT_TRUE(Process(r, input.data(), static_cast<int>(input.size()), &position,
                                out.data(), static_cast<int>(out.size()), &written));
            ASSERT_EQ(position, static_cast<int>(input.size()));
            frames += written / channels;
            const long long due = (n * block * up + down - 1) / down;
            EXPECT_LE(frames, due) << n;
            // Outputs wait for at most two input samples beyond their time.
            EXPECT_GE(frames, due - (2 * up + down - 1) / down - 1) << n;
        }
        Destroy(r);
    }
}

TEST(resample_Streaming, ShortLastBlockIsPaddedWithZeros) {
    for (const Path& path : kPaths) {
        SCOPED_TRACE(path.name);
        const size_t channels = static_cast<size_t>(path.settings.channels);
        const size_t block = static_cast<size_t>(path.settings.inputBlockSamples) / channels;
        const std::vector<float> input = Noise(channels * (2 * block + block / 2), 21);
        std::vector<float> padded = input;
        padded.resize(channels * 3 * block, 0.0f);

        const RunResult last = RunConverter(path.settings, input, nullptr, true);
        const RunResult explicitZeros = RunConverter(path.settings, padded, nullptr, false);
        EXPECT_EQ(last.output, explicitZeros.output);
        // Without the end mark the tail waits for more input instead.
        const RunResult open = RunConverter(path.settings, input, nullptr, false);
        EXPECT_LT(open.output.size(), last.output.size());
    }
}

TEST(resample_Streaming, LastMarkAfterTheInputEndsWithPadding) {
    // The end marked on an empty call after the data still pads the open block.
    const ResamplerSettings s = Settings(2, 48000, 44100, 2 * 256, 22050.0);
    ResamplerInfo info;
    Resampler* a = Create(s, &info, nullptr);
    Resampler* b = Create(s, &info, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    const std::vector<float> input = Noise(2 * 300, 4);
    std::vector<float> out(static_cast<size_t>(info.outputBlockSamples));
    auto feed = [&](Resampler* r, const float* data, int size, InputEnd end) {
        std::vector<float> produced;
        int position = 0;
        do {
            int written = 0;
            EXPECT_TRUE(Process(r, data, size, &position, out.data(), static_cast<int>(out.size()),
                                &written, end));
            produced.insert(produced.end(), out.begin(), out.begin() + written);
        } while (position < size);
        return produced;
    };
    std::vector<float> first = feed(a, input.data(), 600, InputEnd::kMore);
    const std::vector<float> tail = feed(a, input.data(), 0, InputEnd::kLast);
    first.insert(first.end(), tail.begin(), tail.end());
    std::vector<float> zeros(2 * 212, 0.0f);
    std::vector<float> second = feed(b, input.data(), 600, InputEnd::kMore);
    const std::vector<float> rest = feed(b, zeros.data(), 2 * 212, InputEnd::kMore);
    second.insert(second.end(), rest.begin(), rest.end());
    EXPECT_EQ(first, second);
    EXPECT_GT(tail.size(), 0u);
    Destroy(a);
    Destroy(b);
}

TEST(resample_Streaming, ChannelsStayIndependent) {
    for (const Path& path : kPaths) {
        SCOPED_TRACE(path.name);
        if (path.settings.channels != 2) continue;
        const size_t block = static_cast<size_t>(path.settings.inputBlockSamples) / 2;
        const size_t frames = block * 5 + 11;
        const std::vector<float> left = Noise(frames, 31);
        const std::vector<float> right = Noise(frames, 32);
        std::vector<float> both(2 * frames), leftOnly(2 * frames, 0.0f);
        for (size_t n = 0; n < frames; ++n) {
            both[2 * n] = left[n];
            both[2 * n + 1] = right[n];
            leftOnly[2 * n] = left[n];
        }
        ResamplerSettings mono = path.settings;
        mono.channels = 1;
        mono.inputBlockSamples = static_cast<int>(block);
        const RunResult stereo = RunConverter(path.settings, both);
        const RunResult monoLeft = RunConverter(mono, left);
        const RunResult monoRight = RunConverter(mono, right);
        const RunResult silentRight = RunConverter(path.settings, leftOnly);
        ASSERT_EQ(stereo.output.size(), 2 * monoLeft.output.size());
        ASSERT_EQ(monoRight.output.size(), monoLeft.output.size());
        ASSERT_EQ(silentRight.output.size(), stereo.output.size());
        for (size_t k = 0; k < monoLeft.output.size(); ++k) {
            ASSERT_EQ(stereo.output[2 * k], monoLeft.output[k]) << k;
            ASSERT_EQ(stereo.output[2 * k + 1], monoRight.output[k]) << k;
            ASSERT_EQ(silentRight.output[2 * k], monoLeft.output[k]) << k;
            ASSERT_EQ(silentRight.output[2 * k + 1], 0.0f) << k;
        }
    }
}

TEST(resample_Streaming, EqualRatesAtFullBandAreBitExact) {
    const ResamplerSettings s = Settings(2, 48000, 48000, 2 * 333, 24000.0);
    std::vector<float> input = Noise(2 * 5000 + 2 * 17, 77);
    // Values a filter could not keep: tiny, huge, negative zero, denormal.
    input[0] = 1e-42f;
    input[1] = -0.0f;
    input[2] = 3.0e38f;
    input[3] = -1.0f / 3.0f;
    const RunResult r = RunConverter(s, input, nullptr, false);
    ASSERT_TRUE(r.created);
    EXPECT_EQ(r.info.mode, ResamplerMode::kPassThrough);
    ASSERT_EQ(r.output.size(), input.size());
    for (size_t i = 0; i < input.size(); ++i) {
        ASSERT_EQ(std::signbit(r.output[i]), std::signbit(input[i])) << i;
        ASSERT_EQ(r.output[i], input[i]) << i;
    }
}

TEST(resample_Streaming, TinyFiltersStillStream) {
    // A wide transition leaves one or two taps per phase on every path.
    for (const Path& path : kPaths) {
        if (path.mode == ResamplerMode::kPassThrough) continue;
        SCOPED_TRACE(path.name);
        ResamplerSettings s = path.settings;
        s.transitionFactor = 400.0;
        const int channels = s.channels;
        const std::vector<float> input = Noise(static_cast<size_t>(channels) * 3001, 8);
        const RunResult whole = RunConverter(s, input);
        ASSERT_TRUE(whole.created);
        EXPECT_LE(whole.info.tapsPerPhase, 2);
        const RunResult single = RunConverter(s, input, [] { return size_t{1}; });
        EXPECT_EQ(single.output, whole.output);
        ASSERT_FALSE(whole.output.empty());
        for (float v : whole.output) ASSERT_TRUE(std::isfinite(v));
    }
}

TEST(resample_Streaming, FftAndTimeDomainDecimatorsAgree) {
    // A block shorter than the filter leaves no segment worth an FFT, so the same conversion
    // goes through the time-domain filter.
    const ResamplerSettings fast = Settings(1, 44100, 22050, 1024, 11025.0);
    const ResamplerSettings slow = Settings(1, 44100, 22050, 100, 11025.0);
    const std::vector<float> input = Noise(140000, 3);
    const RunResult a = RunConverter(fast, input, nullptr, false);
    const RunResult b = RunConverter(slow, input, nullptr, false);
    ASSERT_TRUE(a.info.fastConvolution);
    ASSERT_FALSE(b.info.fastConvolution);
    EXPECT_EQ(a.info.delay, b.info.delay);
    const size_t common = std::min(a.output.size(), b.output.size());
    ASSERT_GT(common, 60000u);
    double worst = 0.0;
    for (size_t i = 0; i < common; ++i) {
        worst = std::max(worst, static_cast<double>(std::abs(a.output[i] - b.output[i])));
    }
    EXPECT_LT(worst, 2e-6);
}

}  // namespace
}  // namespace velora::resample

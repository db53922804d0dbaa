// The equaliser filter: bit-exact at unity over random PCM, untouched where it must not act,
// and a boosted band measured with a plain DFT of a test tone.
#include "EqualiserFilter.h"
#include "Equaliser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

namespace tessura {
namespace {

std::vector<uint8_t> randomPcm(std::size_t bytes, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> data(bytes);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    return data;
}

void setAllGains(EqualiserFilter& filter, double value) {
    const auto* table =
        reinterpret_cast<const EqualiserFilterInterfaceTable*>(filter.processorInterface()->table);
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(table->SetFilterGain(filter.processorInterface(), i, value), 0);
}

// Runs `data` through the filter's Process slot in blocks of `block` bytes.
void processInBlocks(EqualiserFilter& filter, std::vector<uint8_t>& data, std::size_t block) {
    ProcessorInterface* p = filter.processorInterface();
    for (std::size_t at = 0; at < data.size(); at += block) {
        void* piece = data.data() + at;
        uint32_t length = static_cast<uint32_t>(std::min(block, data.size() - at));
        ASSERT_EQ(p->table->Process(p, &piece, &length), 0);
    }
}

TEST(EqualiserFilter, LeavesTheSamplesAloneWhereItMustNotAct) {
    struct Case {
        const char* what;
        int32_t rate, channels, bits;
        double gain;  // every model band
        bool enabled;
    } cases[] = {
        {"unity mono 8000", 8000, 1, 16, 1.0, true},
        {"unity stereo 8000", 8000, 2, 16, 1.0, true},
        {"unity mono 22050", 22050, 1, 16, 1.0, true},
        {"unity stereo 44100", 44100, 2, 16, 1.0, true},
        {"unity mono 48000", 48000, 1, 16, 1.0, true},
        {"unity stereo 48000", 48000, 2, 16, 1.0, true},
        {"unity stereo 96000", 96000, 2, 16, 1.0, true},
        {"1.005 is below the threshold", 44100, 2, 16, 1.005, true},
        {"0.995 is below the threshold", 48000, 1, 16, 0.995, true},
        {"disabled", 44100, 2, 16, 1.4, false},
        {"8-bit", 44100, 2, 8, 1.4, true},
        {"24-bit", 44100, 2, 24, 1.4, true},
        {"rate 0", 0, 2, 16, 1.4, true},
        {"negative rate", -44100, 2, 16, 1.4, true},
        {"no channels", 44100, 0, 16, 1.4, true},
    };
    uint32_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EqualiserFilter filter;
        ProcessorInterface* p = filter.processorInterface();
        int32_t rate = c.rate, channels = c.channels, bits = c.bits;
        ASSERT_EQ(p->table->SetFormat(p, &rate, &channels, &bits), 0);
        filter.setEnabled(c.enabled);
        setAllGains(filter, c.gain);
        const std::vector<uint8_t> input = randomPcm(96000 + 6, seed++);  // a partial frame too
        std::vector<uint8_t> output = input;
        processInBlocks(filter, output, 4096 + 2);
        EXPECT_TRUE(output == input);
        for (int k = 0; k < 20; ++k) {
            const auto band = filter.band(k);
            EXPECT_TRUE(std::isfinite(band.alpha) && std::isfinite(band.beta) &&
                        std::isfinite(band.gamma))
                << k;
        }
    }
}

TEST(EqualiserFilter, BandCentresFollowTheRate) {
    for (int32_t rate : {8000, 44100, 48000}) {
        SCOPED_TRACE(rate);
        EqualiserFilter filter;
        filter.setFormat({rate, 2, 16});
        // Centres 3/8 of the rate, then 3/4 of the one before, each band half as wide as the
        // range below the band above; the last band spans all of the range below.
        double centre = rate * 3.0 / 8.0;
        for (int k = 0; k < 19; ++k) {
            const auto band = filter.band(k);
            EXPECT_NEAR(band.centre, centre, 1e-9 * rate) << k;
            EXPECT_NEAR(band.bandwidth, centre * 2.0 / 3.0, 1e-9 * rate) << k;
            centre *= 0.75;
        }
        const double lastUpper = filter.band(18).centre;
        EXPECT_NEAR(filter.band(19).bandwidth, lastUpper, 1e-9 * rate);
        EXPECT_NEAR(filter.band(19).centre, lastUpper / 2.0, 1e-9 * rate);
    }
}

// The amplitude of the `frequency` component of the second half of `samples` (channel `ch`
// of `channels`), by a plain DFT at that one frequency.
double amplitudeAt(const std::vector<int16_t>& samples, int channels, int ch, double frequency,
                   int rate) {
    const std::size_t frames = samples.size() / channels;
    double re = 0, im = 0;
    std::size_t n = 0;
    for (std::size_t f = frames / 2; f < frames; ++f, ++n) {
        const double phase = 2.0 * std::numbers::pi * frequency * static_cast<double>(f) / rate;
        re += samples[f * channels + ch] * std::cos(phase);
        im -= samples[f * channels + ch] * std::sin(phase);
    }
    return 2.0 * std::hypot(re, im) / static_cast<double>(n);
}

// Two seconds of a tone (channel 1 inverted) through the filter; for each channel the
// output's amplitude over the input's at the tone, over the second second (a whole number of
// cycles, after the filters have settled).
std::array<double, 2> measureGains(EqualiserFilter& filter, int rate, int channels, double tone) {
    const int frames = 2 * rate;
    std::vector<int16_t> in(static_cast<std::size_t>(frames * channels));
    for (int f = 0; f < frames; ++f) {
        const double s = 6000.0 * std::sin(2.0 * std::numbers::pi * tone * f / rate);
        for (int ch = 0; ch < channels; ++ch)
            in[f * channels + ch] = static_cast<int16_t>(std::lround(ch ? -s : s));
    }
    std::vector<uint8_t> bytes(in.size() * 2);
    std::memcpy(bytes.data(), in.data(), bytes.size());
    processInBlocks(filter, bytes, 8192);
    std::vector<int16_t> out(in.size());
    std::memcpy(out.data(), bytes.data(), bytes.size());
    std::array<double, 2> ratios{};
    for (int ch = 0; ch < channels; ++ch) {
        ratios[ch] =
            amplitudeAt(out, channels, ch, tone, rate) / amplitudeAt(in, channels, ch, tone, rate);
    }
    return ratios;
}

TEST(EqualiserFilter, BoostsABandAtItsCentreAndNothingFarAway) {
    struct Case {
        int rate, channels;
        int modelBand;
        double gain;
    } cases[] = {
        {44100, 2, 10, 2.0}, {44100, 1, 3, 1.4}, {48000, 2, 17, 1.8},
        {8000, 1, 12, 2.0},  {8000, 2, 16, 0.2},  // a cut
        {22050, 2, 8, 1.6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz " << c.channels << "ch band "
                                        << c.modelBand << " x" << c.gain);
        EqualiserFilter filter;
        filter.setFormat({c.rate, c.channels, 16});
        filter.setEnabled(true);
        setAllGains(filter, 1.0);
        ASSERT_TRUE(filter.setFilterGain(c.modelBand, c.gain));
        const int k = 19 - c.modelBand;
        const double centre = filter.band(k).centre;
        const double near = std::round(centre);
        const double far =
            std::round(k >= 10 ? centre * std::pow(0.75, -9.0) : centre * std::pow(0.75, 9.0));
        for (double tone : {near, far}) {
            SCOPED_TRACE(testing::Message() << "tone " << tone << " Hz, centre " << centre);
            const double expected = tone == near ? 1.0 + (c.gain - 1.0) * 0.75 : 1.0;
            const auto ratios = measureGains(filter, c.rate, c.channels, tone);
            for (int ch = 0; ch < c.channels; ++ch) {
                // The band-pass has unit gain at its centre, so the band adds exactly its gain.
                EXPECT_NEAR(ratios[ch], expected, tone == near ? 0.002 : 0.01) << "channel " << ch;
            }
        }
    }
}

TEST(EqualiserFilter, RockLiftsTheEndsAndLeavesTheMiddle) {
    EqualiserFilter filter;
    filter.setFormat({44100, 2, 16});
    Equaliser eq(EqualiserPresetFile("/nonexistent/TesEque.spf"), filter.processorInterface(),
                 nullptr, nullptr);
    ASSERT_TRUE(eq.SelectPreset(2));
    EXPECT_EQ(measureGains(filter, 44100, 2, 1000.0)[0], 1.0);  // the model starts it disabled
    eq.EnableEqualiser(true, false);
    const double top = std::round(filter.band(19 - 19).centre);     // model band 19: 1.4
    const double middle = std::round(filter.band(19 - 12).centre);  // bands 9-15 flat
    const double bottom = std::round(filter.band(19 - 1).centre);   // bands 0, 1: 1.3
    EXPECT_GT(measureGains(filter, 44100, 2, top)[0], 1.3);
    // The wide neighbouring bands reach a little into the flat middle, no more.
    const double lift = measureGains(filter, 44100, 2, middle)[1];
    EXPECT_GT(lift, 1.0);
    EXPECT_LT(lift, 1.08);
    EXPECT_GT(measureGains(filter, 44100, 2, bottom)[0], 1.25);
}

TEST(EqualiserFilter, ExtremeBoostsSaturate) {
    EqualiserFilter filter;
    filter.setFormat({44100, 1, 16});
    filter.setEnabled(true);
    setAllGains(filter, 1.0);
    ASSERT_TRUE(filter.setFilterGain(10, 60.0));
    const double tone = std::round(filter.band(9).centre);
    std::vector<int16_t> samples(44100);
    for (std::size_t f = 0; f < samples.size(); ++f) {
        samples[f] = static_cast<int16_t>(std::lround(
            30000.0 * std::sin(2.0 * std::numbers::pi * tone * static_cast<double>(f) / 44100)));
    }
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    processInBlocks(filter, bytes, bytes.size());
    std::memcpy(samples.data(), bytes.data(), bytes.size());
    const auto [low, high] = std::minmax_element(samples.begin(), samples.end());
    EXPECT_EQ(*low, -32768);
    EXPECT_EQ(*high, 32767);
    // Saturation, not wrap-around: a wrapped signal would seldom sit on the rails.
    std::size_t clipped = 0;
    for (int16_t s : samples) clipped += s == 32767 || s == -32768;
    EXPECT_GT(clipped, samples.size() / 4);
}

TEST(EqualiserFilter, RecoversFromGainsThatOverflowTheCascade) {
    EqualiserFilter filter;
    filter.setFormat({44100, 2, 16});
    filter.setEnabled(true);
    setAllGains(filter, 3.0e38);  // finite, but twenty bands in series overflow a double
    std::vector<uint8_t> noise = randomPcm(8192, 7);
    processInBlocks(filter, noise, noise.size());
    // Back to one modest band: it works as if nothing had happened.
    setAllGains(filter, 1.0);
    ASSERT_TRUE(filter.setFilterGain(10, 2.0));
    const auto ratios = measureGains(filter, 44100, 2, std::round(filter.band(9).centre));
    EXPECT_NEAR(ratios[0], 1.75, 0.002);
    EXPECT_NEAR(ratios[1], 1.75, 0.002);
}

}  // namespace
}  // namespace tessura

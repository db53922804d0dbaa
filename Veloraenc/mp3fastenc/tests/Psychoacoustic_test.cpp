// The psychoacoustic model: partition tables, spreading slopes, the threshold in quiet,
// pre-echo control, the short-block order handed to the quantiser, the perceptual entropy
// and the mid/side decision.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "FilterBank.h"
#include "Layer3Tables.h"
#include "PsychoacousticConfig.h"
#include "PsychoacousticModel.h"

namespace velora::enc {
namespace {

constexpr int kRate = 22050;

struct Lcg {
    uint32_t state = 7;
    float Next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<double>(state >> 8) / 8388608.0 - 1.0);
    }
};

PsychoacousticConfig Config(float bandwidth = 11025.0f, bool midSide = true) {
    PsychoacousticConfig c;
    EXPECT_TRUE(BuildPsychoacousticConfig(kRate, 64000, bandwidth, false, midSide, c));
    return c;
}

double Db(double r) { return 10.0 * std::log10(r); }

// How far below a fully tonal band's energy its own masking lies.
// The further margin of the low bands: the full value at 0 Bark, none from the top Bark on.
double LowMarginDb(const PsychoacousticConfig& c, const PartitionTable& t, int band) {
    const double bark = t.centreBark100[band] / 100.0;
    return static_cast<double>(c.lowMarginDb) * std::max(0.0, 1.0 - bark / static_cast<double>(c.lowMarginTopBark));
}

double ToneOffsetDb(const PsychoacousticConfig& c, const PartitionTable& t, int band) {
    return static_cast<double>(c.toneMaskingNoiseDb) + t.centreBark100[band] / 100.0 + LowMarginDb(c, t, band);
}

TEST(mp3enc_psy_Config, PartitionsAreTheScaleFactorBands) {
    const PsychoacousticConfig c = Config(5000.0f);
    const ScaleFactorBands& sfb = kScaleFactorBands[1][0];
    ASSERT_EQ(c.longBlocks.count, 22);
    ASSERT_EQ(c.shortBlocks.count, 13);
    for (int b = 0; b <= 22; ++b) EXPECT_EQ(c.longBlocks.bounds[b], sfb.longBounds[static_cast<size_t>(b)]);
    for (int b = 0; b <= 13; ++b) EXPECT_EQ(c.shortBlocks.bounds[b], sfb.shortBounds[static_cast<size_t>(b)]);
    EXPECT_EQ(c.longBlocks.lineLimit, 261);  // 5000 x 2 / 22050 x 576
    EXPECT_EQ(c.shortBlocks.lineLimit, 87);
    for (int b = 0; b < 22; ++b) {
        EXPECT_EQ(b < c.longBlocks.used, c.longBlocks.bounds[b] < 261) << b;
        if (b > 0) {
            EXPECT_GT(c.longBlocks.centreBark100[b], c.longBlocks.centreBark100[b - 1]);
        }
    }
    EXPECT_EQ(c.stereoBands, 9);
    EXPECT_EQ(c.rateClass, 1);
    PsychoacousticConfig bad;
    EXPECT_FALSE(BuildPsychoacousticConfig(44000, 64000, 10000.0f, false, false, bad));
    EXPECT_FALSE(BuildPsychoacousticConfig(kRate, 64000, 0.0f, false, false, bad));
}

TEST(mp3enc_psy_Config, BarkScaleAndQuiet) {
    EXPECT_NEAR(BarkOf(1000.0), 8.7, 0.1);
    EXPECT_NEAR(BarkOf(4000.0), 17.6, 0.1);
    // The ear is most sensitive near 3-4 kHz, far less at 100 Hz and 15 kHz.
    EXPECT_GT(Db(QuietEnergyPerLine(100.0) / QuietEnergyPerLine(3500.0)), 25.0);
    EXPECT_GT(Db(QuietEnergyPerLine(15000.0) / QuietEnergyPerLine(3500.0)), 40.0);
    EXPECT_LT(QuietEnergyPerLine(3500.0), 1e-9);
}

class mp3enc_psy_Model : public ::testing::Test {
protected:
    void Init(const PsychoacousticConfig& c) {
        config = c;
        model = std::make_unique<PsychoacousticModel>();
        model->Init(config);
    }
    // A long granule with one loud line per band in `loud`, silence elsewhere.
    void Tone(GranuleSpectrum& s, int line, float amplitude) {
        for (float& v : s.lines) v = 0.0f;
        s.blockType = kBlockLong;
        s.lines[line] = amplitude;
    }
    PsychoacousticConfig config;
    std::unique_ptr<PsychoacousticModel> model;
    GranuleSpectrum spectra[2];
    QuantiserInput out[2];
    StereoDecision stereo;
};

TEST_F(mp3enc_psy_Model, ToneMasksWithSpreadingSlopes) {
    Init(Config());
    const PartitionTable& t = config.longBlocks;
    const int band = 12;
    Tone(spectra[0], (t.bounds[band] + t.bounds[band + 1]) / 2, 20000.0f);
    model->Analyse(spectra, 1, out, stereo);
    const double energy = static_cast<double>(out[0].energy[band]);
    EXPECT_NEAR(energy, 20000.0 * 20000.0 / 32768.0 / 32768.0, 1e-6);
    EXPECT_NEAR(Db(energy / static_cast<double>(out[0].threshold[band])), ToneOffsetDb(config, t, band), 0.5)
        << "own masking 14.5 dB + Bark below, and the low bands' margin";
    // Upwards 15 dB per Bark, downwards 30 dB per Bark, measured band to band while the
    // spread stays well above the threshold in quiet.
    int checked = 0;
    for (int b = band + 1; out[0].threshold[b] > 10.0f * t.quiet[b]; ++b, ++checked) {
        const double dz = (t.centreBark100[b] - t.centreBark100[b - 1]) / 100.0;
        EXPECT_NEAR(Db(static_cast<double>(out[0].threshold[b - 1] / out[0].threshold[b])) / dz, 15.0, 0.3) << b;
    }
    for (int b = band - 1; out[0].threshold[b] > 10.0f * t.quiet[b]; --b, ++checked) {
        const double dz = (t.centreBark100[b + 1] - t.centreBark100[b]) / 100.0;
        EXPECT_NEAR(Db(static_cast<double>(out[0].threshold[b + 1] / out[0].threshold[b])) / dz, 30.0, 0.6) << b;
    }
    EXPECT_GE(checked, 2);
    EXPECT_GT(out[0].perceptualEntropy, 0.0f);
}

TEST_F(mp3enc_psy_Model, SilenceHasQuietThresholdsAndNoEntropy) {
    Init(Config(8000.0f));
    for (float& v : spectra[0].lines) v = 0.0f;
    model->Analyse(spectra, 1, out, stereo);
    for (int b = 0; b < config.longBlocks.used; ++b) EXPECT_EQ(out[0].threshold[b], config.longBlocks.quiet[b]) << b;
    for (int b = config.longBlocks.used; b < 22; ++b) EXPECT_GE(out[0].threshold[b], 1e19f) << "above the bandwidth";
    EXPECT_EQ(out[0].perceptualEntropy, 0.0f);
}

TEST_F(mp3enc_psy_Model, PreEchoControlLimitsTheRiseUnlessTheBlockTypeChanged) {
    Init(Config());
    const int band = 10;
    const int line = (config.longBlocks.bounds[band] + config.longBlocks.bounds[band + 1]) / 2;
    Tone(spectra[0], line, 100.0f);
    model->Analyse(spectra, 1, out, stereo);
    const float quietThreshold = out[0].threshold[band];
    Tone(spectra[0], line, 30000.0f);
    model->Analyse(spectra, 1, out, stereo);
    // At most three times the previous granule's, but never below 0.001 of its own value
    // (14.5 dB + Bark below the energy of a tone).
    const double offsetDb = ToneOffsetDb(config, config.longBlocks, band);
    const float own = out[0].energy[band] * static_cast<float>(std::pow(10.0, -offsetDb / 10.0));
    const float limited = std::max(3.0f * quietThreshold, 0.001f * own);
    EXPECT_NEAR(out[0].threshold[band], limited, 1e-2f * limited);
    EXPECT_LT(out[0].threshold[band], 0.01f * own);
    // A modest rise stays within the factor of three.
    Tone(spectra[0], line, 30000.0f * 1.5f);
    model->Analyse(spectra, 1, out, stereo);
    EXPECT_NEAR(out[0].threshold[band], 1.5f * 1.5f * own, 1e-2f * own) << "a rise of 2.25 is allowed";
    // The same jump into a stop block is not limited.
    Init(Config());
    Tone(spectra[0], line, 100.0f);
    model->Analyse(spectra, 1, out, stereo);
    Tone(spectra[0], line, 30000.0f);
    spectra[0].blockType = kBlockStop;
    for (int k = 0; k < kGranuleLines; ++k) spectra[0].lines[k] = k == line ? 30000.0f : 0.0f;
    model->Analyse(spectra, 1, out, stereo);
    EXPECT_NEAR(Db(out[0].energy[band] / out[0].threshold[band]), offsetDb, 0.5);
}

TEST_F(mp3enc_psy_Model, ShortBlocksGoBandByBandWindowByWindow) {
    Init(Config());
    spectra[0].blockType = kBlockShort;
    for (int i = 0; i < kShortLines; ++i)
        for (int w = 0; w < 3; ++w) spectra[0].lines[3 * i + w] = static_cast<float>(1000 * w + i + 1);
    model->Analyse(spectra, 1, out, stereo);
    const PartitionTable& t = config.shortBlocks;
    ASSERT_EQ(out[0].bands, 39);
    ASSERT_EQ(out[0].windows, 3);
    int at = 0;
    for (int b = 0; b < 13; ++b) {
        for (int w = 0; w < 3; ++w) {
            EXPECT_EQ(out[0].bounds[3 * b + w], at);
            for (int i = t.bounds[b]; i < t.bounds[b + 1]; ++i, ++at)
                ASSERT_EQ(out[0].lines[at], static_cast<float>(1000 * w + i + 1)) << b << "," << w << "," << i;
        }
    }
    EXPECT_EQ(at, 576);
    // Window energies differ, so do their thresholds.
    EXPECT_GT(out[0].energy[3 * 5 + 2], out[0].energy[3 * 5]);
}

TEST_F(mp3enc_psy_Model, MidSideForCorrelatedChannelsOnly) {
    Init(Config());
    Lcg noise;
    for (int k = 0; k < kGranuleLines; ++k) spectra[0].lines[k] = spectra[1].lines[k] = 3000.0f * noise.Next();
    spectra[0].blockType = spectra[1].blockType = kBlockLong;
    model->Analyse(spectra, 2, out, stereo);
    ASSERT_TRUE(stereo.midSide);
    ASSERT_TRUE(stereo.midSideAvailable);
    // Noise masks 5.5 dB under itself: each channel costs about 0.9 bits a line, the mid
    // (twice the energy, the same threshold) 1.4.
    EXPECT_LT(stereo.jointEntropy, 0.8f * stereo.separateEntropy);
    for (int k = 0; k < kGranuleLines; ++k) ASSERT_EQ(model->Side().lines[k], 0.0f) << "the side of equal channels";
    EXPECT_NEAR(model->Mid().lines[100], spectra[0].lines[100] * std::sqrt(2.0f), 1e-2f);
    EXPECT_EQ(out[1].lines[100], spectra[1].lines[100]) << "the records stay left and right";
    // Mid/side thresholds: the lower of the two channels', so neither channel gets more noise.
    for (int b = 0; b < 22; ++b) EXPECT_EQ(model->Mid().threshold[b], std::min(out[0].threshold[b], out[1].threshold[b]));
    // Independent channels of unequal level stay left/right: mid and side would both need
    // the quieter channel's thresholds. (At equal level the two codings cost about alike.)
    for (int k = 0; k < kGranuleLines; ++k) spectra[1].lines[k] = 750.0f * noise.Next();
    model->Analyse(spectra, 2, out, stereo);
    EXPECT_FALSE(stereo.midSide);
    // Different block types, or no permission (dual mono): never.
    for (int k = 0; k < kGranuleLines; ++k) spectra[1].lines[k] = spectra[0].lines[k];
    spectra[1].blockType = kBlockStart;
    model->Analyse(spectra, 2, out, stereo);
    EXPECT_FALSE(stereo.midSide);
    Init(Config(11025.0f, false));
    spectra[1].blockType = kBlockLong;
    model->Analyse(spectra, 2, out, stereo);
    EXPECT_FALSE(stereo.midSide);
    EXPECT_FALSE(stereo.intensity);
}

TEST_F(mp3enc_psy_Model, TonalityTellsTonesFromNoise) {
    Init(Config());
    Lcg noise;
    for (int k = 0; k < kGranuleLines; ++k) spectra[0].lines[k] = 3000.0f * noise.Next();
    const int band = 15;
    const int line = config.longBlocks.bounds[band] + 2;
    for (int k = config.longBlocks.bounds[band]; k < config.longBlocks.bounds[band + 1]; ++k)
        spectra[0].lines[k] = k == line ? 30000.0f : 0.01f * spectra[0].lines[k];
    model->Analyse(spectra, 1, out, stereo);
    EXPECT_GT(out[0].tonality[band], 0.5f);
    EXPECT_LT(out[0].tonality[band + 2], 0.2f);
}

// Known masking behaviour, with signals through the encoder's own filter bank at 44.1 kHz:
// a steady tone masks noise far below itself (14.5 dB + Bark), a band of noise masks only a
// few dB below itself, masking spreads further upwards than downwards, and a signal under
// the threshold in quiet leaves that threshold alone.
TEST(mp3enc_psy_Masking, KnownBehaviourOfTonesNoiseAndQuiet) {
    enum Kind { kTone, kNoiseBand };
    struct Case {
        const char* name;
        Kind kind;
        double lowHz, highHz;  // a tone lies at lowHz
        double levelDb;        // of full scale
        // Energy over threshold in the loudest band, relative to the noise offset; a tone's
        // at most its tone offset.
        double minOverNoiseDb, maxOverNoiseDb;
    };
    // A steady tone through the filter bank reads only partly tonal (its band's flatness
    // over few lines, with the window's leakage), so its offset lies between the noise
    // value and 14.5 dB + Bark: the table asks for 3 dB beyond the noise value at least.
    const Case cases[] = {
        {"tone 1 kHz", kTone, 1000.0, 0.0, -6.0, 3.0, 0.0},
        {"tone 3 kHz", kTone, 3000.0, 0.0, -6.0, 3.0, 0.0},
        {"tone 8 kHz", kTone, 8000.0, 0.0, -6.0, 3.0, 0.0},
        {"noise 1-1.6 kHz", kNoiseBand, 1000.0, 1600.0, -6.0, -1.5, 3.5},
        {"noise 4-6 kHz", kNoiseBand, 4000.0, 6000.0, -6.0, -1.5, 3.5},
        {"quiet tone 3 kHz", kTone, 3000.0, 0.0, -110.0, 0.0, 0.0},
    };
    constexpr int kCoreRate = 44100;
    constexpr int kGranules = 12;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PsychoacousticConfig config;
        ASSERT_TRUE(BuildPsychoacousticConfig(kCoreRate, 128000, 16000.0f, false, false, config));
        PsychoacousticModel model;
        model.Init(config);
        GranuleAnalyser analyser;
        analyser.Reset();
        // The noise band: many sines of random phase, evenly spaced over it.
        constexpr int kPartials = 200;
        double phase[kPartials];
        Lcg rng;
        for (double& p : phase) p = 3.14159265 * (1.0 + static_cast<double>(rng.Next()));
        const double amplitude = 32768.0 * std::pow(10.0, c.levelDb / 20.0);
        QuantiserInput out;
        StereoDecision stereo;
        for (int g = 0; g < kGranules; ++g) {
            float samples[kGranuleLines];
            for (int i = 0; i < kGranuleLines; ++i) {
                const double t = static_cast<double>(g * kGranuleLines + i) / kCoreRate;
                double v = 0.0;
                if (c.kind == kTone) {
                    v = amplitude * std::sin(2.0 * 3.14159265358979 * c.lowHz * t);
                } else {
                    for (int p = 0; p < kPartials; ++p) {
                        const double f = c.lowHz + (c.highHz - c.lowHz) * (p + 0.5) / kPartials;
                        v += amplitude * std::sqrt(2.0 / kPartials) * std::sin(2.0 * 3.14159265358979 * f * t + phase[p]);
                    }
                }
                samples[i] = static_cast<float>(v);
            }
            analyser.Analyse(samples);
            GranuleSpectrum spectrum;
            analyser.Transform(kBlockLong, spectrum);
            model.Analyse(&spectrum, 1, &out, stereo);
        }
        const PartitionTable& t = config.longBlocks;
        int loudest = 0;
        for (int b = 0; b < t.used; ++b) loudest = out.energy[b] > out.energy[loudest] ? b : loudest;
        const double offset = Db(static_cast<double>(out.energy[loudest] / out.threshold[loudest]));
        std::printf("  %-18s band %2d (%.1f Bark): tonality %.2f, %.1f dB under the energy (tone masking noise %.1f dB)\n",
                    c.name, loudest, t.centreBark100[loudest] / 100.0, static_cast<double>(out.tonality[loudest]), offset,
                    ToneOffsetDb(config, t, loudest));
        if (c.levelDb < -100.0) {
            // Under the threshold in quiet: every band keeps it.
            for (int b = 0; b < t.used; ++b) EXPECT_EQ(out.threshold[b], t.quiet[b]) << b;
            continue;
        }
        const double noiseOffset = static_cast<double>(config.noiseMaskingToneDb) + LowMarginDb(config, t, loudest);
        EXPECT_GE(offset, noiseOffset + c.minOverNoiseDb);
        if (c.kind == kTone) {
            EXPECT_LE(offset, ToneOffsetDb(config, t, loudest) + 0.5);
        } else {
            EXPECT_LE(offset, noiseOffset + c.maxOverNoiseDb) << "noise masks within a few dB of itself";
        }
        // Spreading: the threshold two bands above the masker stands higher over its own
        // band's energy share than two bands below, per Bark of distance.
        if (c.kind == kTone && loudest >= 2 && loudest + 2 < t.used) {
            const double up = Db(static_cast<double>(out.threshold[loudest] / out.threshold[loudest + 2])) /
                              ((t.centreBark100[loudest + 2] - t.centreBark100[loudest]) / 100.0);
            const double down = Db(static_cast<double>(out.threshold[loudest] / out.threshold[loudest - 2])) /
                                ((t.centreBark100[loudest] - t.centreBark100[loudest - 2]) / 100.0);
            std::printf("  %-18s falls %.1f dB/Bark upwards, %.1f dB/Bark downwards\n", c.name, up, down);
            EXPECT_LT(up, down);
            EXPECT_GT(up, 5.0);
        }
    }
}

}  // namespace
}  // namespace velora::enc

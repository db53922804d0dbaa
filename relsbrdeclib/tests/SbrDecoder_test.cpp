// The SBR decoder object end to end: creation refusals, the regenerated band's energy
// against what the payload asks for (measured on the output with an FFT), the switch, the
// equaliser, the limiter, pseudo stereo, Reset.
#include "SbrDecoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

#include "SbrFreqTables.h"
#include "SbrPayloadWriter.h"
#include "SbrQmfFrame.h"

namespace velora::sbr {
namespace {

constexpr int kCoreRate = 22050;
constexpr int kOutRate = 44100;
constexpr double kPi = 3.14159265358979323846;
constexpr double kBandHz = kOutRate / 2.0 / 64.0;  // width of one synthesis band

struct Noise {
    uint32_t state = 12345;
    float Next() {  // uniform in -1..1
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<double>(state >> 8) / 8388608.0 - 1.0);
    }
};

void Fft(std::vector<std::complex<double>>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> w = std::polar(1.0, -2.0 * kPi / static_cast<double>(len));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> v = 1.0;
            for (size_t k = 0; k < len / 2; ++k, v *= w) {
                const std::complex<double> x = a[i + k];
                const std::complex<double> y = a[i + k + len / 2] * v;
                a[i + k] = x + y;
                a[i + k + len / 2] = x - y;
            }
        }
    }
}

// Mean power per sample of `x` between two frequencies (Hann-windowed 2048-point segments).
double BandPower(const std::vector<float>& x, double f1, double f2, double rate = kOutRate) {
    constexpr size_t kN = 2048;
    double window[kN];
    double windowEnergy = 0.0;
    for (size_t i = 0; i < kN; ++i) {
        window[i] = 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / kN);
        windowEnergy += window[i] * window[i];
    }
    double sum = 0.0;
    int segments = 0;
    for (size_t start = 0; start + kN <= x.size(); start += kN / 2, ++segments) {
        std::vector<std::complex<double>> a(kN);
        for (size_t i = 0; i < kN; ++i) a[i] = static_cast<double>(x[start + i]) * window[i];
        Fft(a);
        for (size_t b = 1; b < kN / 2; ++b) {
            const double f = static_cast<double>(b) * rate / kN;
            if (f >= f1 && f < f2) sum += 2.0 * std::norm(a[b]);
        }
    }
    return segments > 0 ? sum / (segments * windowEnergy * static_cast<double>(kN)) : 0.0;
}

double Db(double ratio) { return 10.0 * std::log10(ratio); }

struct Payloads {
    SbrHeader header;
    SbrFreqData freq;
    SbrPayloadWriter writer;
    SbrWriteOptions options;

    Payloads() {
        header.startFreq = 5;
        header.stopFreq = 9;
        header.xoverBand = 0;
        header.smoothingMode = 1;
        options.writeHeader = true;
    }
    bool Tables() { return BuildFreqTables(header, kOutRate, freq); }

    // One envelope over the frame, every value given per high-resolution band, coded over
    // frequency; a noise floor of `noiseValue` in every noise band.
    velora::SbrFrame Frame(const std::vector<int>& values, int noiseValue, int invfMode = 0) {
        SbrChannelData c;
        c.grid = SbrFrameInfo{};
        c.grid.envelopes = 1;
        c.grid.borders[0] = 0;
        c.grid.borders[1] = 9;
        c.grid.freqRes[0] = 1;
        c.grid.noiseEnvelopes = 1;
        c.grid.noiseBorders[0] = 0;
        c.grid.noiseBorders[1] = 9;
        c.invfMode = invfMode;
        for (int k = 0; k < freq.highBands; ++k)
            c.envelope[0][k] = k == 0 ? values[0] : values[static_cast<size_t>(k)] - values[static_cast<size_t>(k) - 1];
        for (int k = 0; k < freq.noiseBandCount; ++k) c.noise[0][k] = k == 0 ? noiseValue : 0;
        velora::SbrFrame f{};
        EXPECT_TRUE(writer.Write(header, options, &c, freq, f));
        return f;
    }
};

struct DecoderDeleter {
    void operator()(SbrDecoder* d) const { SbrDecoder::Destroy(d); }
};
using DecoderPtr = std::unique_ptr<SbrDecoder, DecoderDeleter>;

DecoderPtr MakeDecoder(const velora::SbrFrame& first, SbrConfig config = DefaultSbrConfig(576)) {
    return DecoderPtr(SbrDecoder::Create(kCoreRate, 576, config, first));
}

// Runs `frames` frames of a core signal through the decoder, with the payload of `make`
// (frame index -> payload); returns the output of channel 0 after `skip` frames.
template <typename MakeCore, typename MakePayload>
std::vector<float> RunFrames(SbrDecoder& d, int frames, int skip, MakeCore core, MakePayload payload,
                       int channels = 1, std::vector<float>* second = nullptr) {
    std::vector<float> out;
    std::vector<float> buffer(2 * kSbrOutputFrame);
    for (int f = 0; f < frames; ++f) {
        core(f, buffer.data());
        const velora::SbrFrame frame = payload(f);
        EXPECT_EQ(d.Process(frame, buffer.data(), channels), 0) << "frame " << f;
        const int outChannels = d.OutputChannels(channels);
        if (f < skip) continue;
        for (int n = 0; n < kSbrOutputFrame; ++n) {
            out.push_back(buffer[static_cast<size_t>(n * outChannels)]);
            if (second != nullptr && outChannels == 2) second->push_back(buffer[static_cast<size_t>(n * 2 + 1)]);
        }
    }
    return out;
}

auto WhiteCore(float amplitude) {
    return [amplitude, noise = Noise{}](int, float* buffer) mutable {
        for (int n = 0; n < 576; ++n) buffer[n] = amplitude * noise.Next();
    };
}

// Output power per sample of the synthesis for a mean sub-sample energy E in a band,
// found by passing white noise through the banks alone (band 10 of the low band).
double SynthesisPowerPerEnergy() {
    SbrQmfFrame qmf;
    qmf.Reset();
    Noise noise;
    std::vector<float> core(576);
    std::vector<float> out;
    std::vector<float> frame(1152);
    double energy = 0.0;
    int rows = 0;
    for (int f = 0; f < 80; ++f) {
        for (float& s : core) s = 3000.0f * noise.Next();
        qmf.Analyse(core.data(), 1);
        if (f >= 10) {
            for (int l = kHistoryRows; l < kHistoryRows + kFrameSubsamples; ++l, ++rows) {
                energy += std::norm(std::complex<double>(qmf.Low().re[l][10], qmf.Low().im[l][10]));
            }
        }
        qmf.Synthesise(32, 32, 1.0f, 1.0f, frame.data(), 1);
        qmf.MoveRows();
        if (f >= 10) out.insert(out.end(), frame.begin(), frame.end());
    }
    return BandPower(out, 10 * kBandHz, 11 * kBandHz) / (energy / rows);
}

TEST(sbr_decoder_Create, RefusesWhatTheLayerCannotDouble) {
    const velora::SbrFrame none{};
    const SbrConfig config = DefaultSbrConfig(576);
    EXPECT_EQ(SbrDecoder::Create(44100, 1152, config, none), nullptr);
    EXPECT_EQ(SbrDecoder::Create(32000, 576, config, none), nullptr) << "core above 24000 Hz";
    EXPECT_EQ(SbrDecoder::Create(22050, 1152, config, none), nullptr) << "output frame not 1152";
    EXPECT_EQ(SbrDecoder::Create(22050, 288, config, none), nullptr);
    SbrConfig broken = config;
    broken.crossfadeSteps = 30;
    EXPECT_EQ(SbrDecoder::Create(22050, 576, broken, none), nullptr);
    for (int rate : {8000, 11025, 12000, 16000, 22050, 24000}) {
        SbrDecoder* d = SbrDecoder::Create(rate, 576, config, none);
        ASSERT_NE(d, nullptr) << rate;
        EXPECT_EQ(d->RateFactor(), 2.0f);
        EXPECT_EQ(d->OutputChannels(1), 1);
        EXPECT_EQ(d->OutputChannels(2), 2);
        SbrDecoder::Destroy(d);
    }
}

TEST(sbr_decoder_Config, Mp3CoresOverrideThreeFields) {
    const SbrConfig plain;
    const SbrConfig mp3 = DefaultSbrConfig(576);
    EXPECT_EQ(plain.crcRequired, 0);
    EXPECT_EQ(mp3.crcRequired, 1);
    EXPECT_EQ(plain.maxBorder, 16);
    EXPECT_EQ(mp3.maxBorder, 12);
    EXPECT_EQ(plain.smoothingFilter, 4);
    EXPECT_EQ(mp3.smoothingFilter, 2);
    EXPECT_EQ(DefaultSbrConfig(1024).crcRequired, 0);
}

class sbr_decoder_Frames : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(p.Tables()); }

    // Mean output power per sample of QMF bands [k1, k2).
    static double Power(const std::vector<float>& out, int k1, int k2) {
        return BandPower(out, k1 * kBandHz, k2 * kBandHz);
    }
    static double Energy(int value) { return 64.0 * std::exp2(value); }  // amp_res 1

    Payloads p;
};

TEST_F(sbr_decoder_Frames, RegeneratedBandCarriesTheRequestedEnergy) {
    const double g = SynthesisPowerPerEnergy();
    // Steps of 3 dB between envelope bands around a level well above the noise floor.
    std::vector<int> values;
    for (int k = 0; k < p.freq.highBands; ++k) values.push_back(22 + (k % 3) - (k / 3) % 2);
    const velora::SbrFrame frame = p.Frame(values, 30);
    DecoderPtr d = MakeDecoder(frame);
    ASSERT_NE(d, nullptr);
    const std::vector<float> out = RunFrames(*d, 70, 10, WhiteCore(3000.0f), [&](int) { return frame; });
    int checked = 0;
    for (int b = 0; b < p.freq.highBands; ++b) {
        const int k1 = p.freq.high[b];
        const int k2 = p.freq.high[b + 1];
        // Interior bands only: the filter bank's band edges share power with neighbours.
        if (k2 - k1 < 3) continue;
        const double want = g * Energy(values[static_cast<size_t>(b)]) * (k2 - k1 - 2);
        const double got = Power(out, k1 + 1, k2 - 1);
        EXPECT_NEAR(Db(got / want), 0.0, 1.0) << "envelope band " << b << " (QMF " << k1 << ".." << k2 << ")";
        ++checked;
    }
    EXPECT_GE(checked, 2);
    // The whole SBR range, every band edge included.
    double want = 0.0;
    for (int b = 0; b < p.freq.highBands; ++b)
        want += g * Energy(values[static_cast<size_t>(b)]) * (p.freq.high[b + 1] - p.freq.high[b]);
    EXPECT_NEAR(Db(Power(out, p.freq.kx, p.freq.upper) / want), 0.0, 1.0);
    // Nothing above the SBR range.
    EXPECT_LT(Power(out, p.freq.upper + 1, 64), 1e-4 * want);
}

TEST_F(sbr_decoder_Frames, NoiseFloorShareComesAsNoise) {
    // With Q = 1 (noise value 6) half of the energy comes from the noise table and the total
    // is E. With a silent low band only the noise remains, and the limiter's compensation
    // (at most 4 dB) raises it to E.
    const double g = SynthesisPowerPerEnergy();
    std::vector<int> values(static_cast<size_t>(p.freq.highBands), 20);
    const velora::SbrFrame frame = p.Frame(values, 6);
    DecoderPtr d = MakeDecoder(frame);
    ASSERT_NE(d, nullptr);
    const double want = g * Energy(20) * (p.freq.upper - p.freq.kx);
    const std::vector<float> out = RunFrames(*d, 60, 10, WhiteCore(3000.0f), [&](int) { return frame; });
    EXPECT_NEAR(Db(Power(out, p.freq.kx, p.freq.upper) / want), 0.0, 1.0);
    const std::vector<float> silent =
        RunFrames(*d, 60, 10, [](int, float* b) { std::fill(b, b + 576, 0.0f); }, [&](int) { return frame; });
    EXPECT_NEAR(Db(Power(silent, p.freq.kx, p.freq.upper) / want), 0.0, 1.0);
}

TEST_F(sbr_decoder_Frames, SwitchedOffLeavesNothingAboveKxAtTheDoubledRate) {
    std::vector<int> values(static_cast<size_t>(p.freq.highBands), 24);
    const velora::SbrFrame frame = p.Frame(values, 30);
    DecoderPtr d = MakeDecoder(frame);
    ASSERT_NE(d, nullptr);
    d->SetEnabled(false);
    const std::vector<float> off = RunFrames(*d, 40, 8, WhiteCore(3000.0f), [&](int) { return frame; });
    ASSERT_EQ(off.size(), 32u * 1152u);
    const double low = Power(off, 1, p.freq.kx - 1);
    EXPECT_GT(low, 1e4);
    EXPECT_LT(Power(off, p.freq.kx + 1, 64), 1e-7 * low);
    // Back on, the band returns.
    d->SetEnabled(true);
    const std::vector<float> on = RunFrames(*d, 20, 8, WhiteCore(3000.0f), [&](int) { return frame; });
    EXPECT_GT(Power(on, p.freq.kx + 1, p.freq.upper - 1), 1e-3 * low);
}

TEST_F(sbr_decoder_Frames, EqualiserUnitGainsChangeNothingAndGroupZeroIsBandZero) {
    std::vector<int> values(static_cast<size_t>(p.freq.highBands), 20);
    const velora::SbrFrame frame = p.Frame(values, 30);
    // Tones in QMF band 0 (100 Hz) and band 3 (1200 Hz) of the low band.
    auto tones = [](int f, float* b) {
        for (int n = 0; n < 576; ++n) {
            const double t = static_cast<double>(f * 576 + n) / kCoreRate;
            b[n] = static_cast<float>(4000.0 * std::sin(2 * kPi * 100.0 * t) + 4000.0 * std::sin(2 * kPi * 1200.0 * t));
        }
    };
    const int edges[8] = {1, 2, 4, 7, 11, 16, 22, 32};
    DecoderPtr plain = MakeDecoder(frame);
    DecoderPtr unit = MakeDecoder(frame);
    DecoderPtr cut = MakeDecoder(frame);
    const float ones[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    const float groupZeroOff[8] = {0, 1, 1, 1, 1, 1, 1, 1};
    unit->SetEqualiser(8, edges, ones);
    cut->SetEqualiser(8, edges, groupZeroOff);
    const auto payload = [&](int) { return frame; };
    const std::vector<float> a = RunFrames(*plain, 40, 8, tones, payload);
    const std::vector<float> b = RunFrames(*unit, 40, 8, tones, payload);
    const std::vector<float> c = RunFrames(*cut, 40, 8, tones, payload);
    EXPECT_EQ(a, b);
    EXPECT_LT(Db(BandPower(c, 60, 140) / BandPower(a, 60, 140)), -40.0);
    EXPECT_NEAR(Db(BandPower(c, 1150, 1250) / BandPower(a, 1150, 1250)), 0.0, 0.1);
    EXPECT_NEAR(Db(Power(c, p.freq.kx, p.freq.upper) / Power(a, p.freq.kx, p.freq.upper)), 0.0, 0.1);
}

TEST_F(sbr_decoder_Frames, LastEqualiserGroupAlsoScalesTheRegeneratedBand) {
    std::vector<int> values(static_cast<size_t>(p.freq.highBands), 20);
    const velora::SbrFrame frame = p.Frame(values, 30);
    const int edges[8] = {1, 2, 4, 7, 11, 16, 22, 32};
    const float half[8] = {1, 1, 1, 1, 1, 1, 1, 0.5f};
    const float none[8] = {1, 1, 1, 1, 1, 1, 1, 0.0f};
    DecoderPtr ref = MakeDecoder(frame);
    DecoderPtr d = MakeDecoder(frame);
    const auto payload = [&](int) { return frame; };
    const std::vector<float> a = RunFrames(*ref, 40, 8, WhiteCore(3000.0f), payload);
    d->SetEqualiser(8, edges, half);
    const std::vector<float> b = RunFrames(*d, 40, 8, WhiteCore(3000.0f), payload);
    EXPECT_NEAR(Db(Power(b, p.freq.kx + 1, p.freq.upper - 1) / Power(a, p.freq.kx + 1, p.freq.upper - 1)), -6.02, 0.1);
    // A gain of 0 silences the band, and the band comes back when the gain does.
    d->SetEqualiser(8, edges, none);
    const std::vector<float> silent = RunFrames(*d, 10, 2, WhiteCore(3000.0f), payload);
    EXPECT_LT(Power(silent, p.freq.kx + 1, p.freq.upper - 1), 1e-8 * Power(a, p.freq.kx + 1, p.freq.upper - 1));
    d->SetEqualiser(8, edges, half);
    const std::vector<float> back = RunFrames(*d, 40, 8, WhiteCore(3000.0f), payload);
    EXPECT_NEAR(Db(Power(back, p.freq.kx + 1, p.freq.upper - 1) / Power(a, p.freq.kx + 1, p.freq.upper - 1)), -6.02, 0.3);
}

TEST_F(sbr_decoder_Frames, LimiterGainsThreeLetsALoudBandThrough) {
    // One envelope band 15 dB above its neighbours within a wide limiter band.
    p.header.limiterBands = 0;
    std::vector<int> values(static_cast<size_t>(p.freq.highBands), 16);
    int loud = 0;
    for (int b = 0; b < p.freq.highBands; ++b)
        if (p.freq.high[b + 1] - p.freq.high[b] > p.freq.high[loud + 1] - p.freq.high[loud]) loud = b;
    values[static_cast<size_t>(loud)] = 21;
    const double g = SynthesisPowerPerEnergy();
    const int k1 = p.freq.high[loud] + 1;
    const int k2 = p.freq.high[loud + 1] - 1;
    ASSERT_GT(k2, k1);
    const double want = g * Energy(21) * (k2 - k1);
    double level[4] = {};
    for (int limiterGains : {0, 3}) {
        p.header.limiterGains = limiterGains;
        const velora::SbrFrame frame = p.Frame(values, 30);
        DecoderPtr d = MakeDecoder(frame);
        const std::vector<float> out = RunFrames(*d, 50, 10, WhiteCore(3000.0f), [&](int) { return frame; });
        level[limiterGains] = Db(Power(out, k1, k2) / want);
    }
    EXPECT_NEAR(level[3], 0.0, 1.0);
    EXPECT_LT(level[0], -2.0) << "limiter gain 0.70795 must hold the loud band back";
}

TEST_F(sbr_decoder_Frames, MonoCoreBecomesPseudoStereoWhenTheHeaderSaysSo) {
    p.options.outputMode = 1;
    p.header.pseudoStereoWidth = 3;
    std::vector<int> values(static_cast<size_t>(p.freq.highBands), 20);
    const velora::SbrFrame frame = p.Frame(values, 30);
    DecoderPtr d = MakeDecoder(frame);
    ASSERT_NE(d, nullptr);
    std::vector<float> right;
    const std::vector<float> left = RunFrames(*d, 30, 10, WhiteCore(3000.0f), [&](int) { return frame; }, 1, &right);
    EXPECT_EQ(d->OutputChannels(1), 2);
    ASSERT_EQ(left.size(), right.size());
    double diff = 0.0;
    double sum = 0.0;
    for (size_t n = 0; n < left.size(); ++n) {
        const double l = left[n];
        const double r = right[n];
        diff += (l - r) * (l - r);
        sum += l * l;
    }
    EXPECT_GT(diff, 1e-3 * sum) << "the channels must differ";
    // A caller that wants mono keeps one channel.
    d->AllowPseudoStereo(false);
    EXPECT_EQ(d->OutputChannels(1), 1);
    std::vector<float> none;
    const std::vector<float> mono = RunFrames(*d, 3, 0, WhiteCore(3000.0f), [&](int) { return frame; }, 1, &none);
    EXPECT_EQ(mono.size(), 3u * 1152u);
    EXPECT_TRUE(none.empty());
}

TEST_F(sbr_decoder_Frames, ResetClearsHistoryButKeepsTheHeader) {
    p.options.outputMode = 1;
    std::vector<int> values(static_cast<size_t>(p.freq.highBands), 20);
    const velora::SbrFrame frame = p.Frame(values, 30);
    DecoderPtr d = MakeDecoder(frame);
    ASSERT_NE(d, nullptr);
    const auto payload = [&](int) { return frame; };
    const std::vector<float> first = RunFrames(*d, 12, 0, WhiteCore(3000.0f), payload);
    d->Reset();
    EXPECT_EQ(d->OutputChannels(1), 2) << "the stored header stays";
    const std::vector<float> second = RunFrames(*d, 12, 0, WhiteCore(3000.0f), payload);
    EXPECT_EQ(first, second) << "after Reset the decoder starts afresh";
}

TEST_F(sbr_decoder_Frames, MissingPayloadIsConcealedAndBandDecays) {
    std::vector<int> values(static_cast<size_t>(p.freq.highBands), 24);
    const velora::SbrFrame frame = p.Frame(values, 30);
    velora::SbrFrame none = frame;
    none.present = 0;
    DecoderPtr d = MakeDecoder(frame);
    ASSERT_NE(d, nullptr);
    const std::vector<float> good = RunFrames(*d, 20, 10, WhiteCore(3000.0f), [&](int) { return frame; });
    const std::vector<float> lost = RunFrames(*d, 12, 2, WhiteCore(3000.0f), [&](int) { return none; });
    const double before = Power(good, p.freq.kx + 1, p.freq.upper - 1);
    const double after = Power(lost, p.freq.kx + 1, p.freq.upper - 1);
    EXPECT_LT(after, before) << "concealment lowers the envelope step by step";
    EXPECT_GT(after, 0.0);
}

TEST_F(sbr_decoder_Frames, DamagedPayloadsNeverBreakTheOutput) {
    std::vector<int> values(static_cast<size_t>(p.freq.highBands), 24);
    const velora::SbrFrame frame = p.Frame(values, 30);
    DecoderPtr d = MakeDecoder(frame);
    ASSERT_NE(d, nullptr);
    Noise noise;
    std::vector<float> buffer(2 * kSbrOutputFrame);
    for (int f = 0; f < 300; ++f) {
        velora::SbrFrame bad = frame;
        for (int i = 1; i < bad.length; ++i)
            if (noise.Next() > 0.8f) bad.payload[i] = static_cast<uint8_t>(noise.Next() * 127.0f + 128.0f);
        for (int n = 0; n < 576; ++n) buffer[static_cast<size_t>(n)] = 20000.0f * noise.Next();
        const int status = d->Process(f % 2 == 0 ? frame : bad, buffer.data(), 1);
        ASSERT_EQ(status, 0) << "a good frame was decoded before, so damage is concealed";
        for (int n = 0; n < kSbrOutputFrame * d->OutputChannels(1); ++n)
            ASSERT_TRUE(std::isfinite(buffer[static_cast<size_t>(n)])) << f;
    }
}

}  // namespace
}  // namespace velora::sbr

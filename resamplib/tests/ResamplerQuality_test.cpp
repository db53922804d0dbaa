// Conversion quality, measured on the output: tones come out at their frequency with a flat
// pass band, nothing else (images, aliases, rounding) comes within 85 dB of them, stop-band
// tones vanish, the measured delay is the reported one, and a sweep is the delayed input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "ConverterRun.h"
#include "Resampler.h"
#include "SignalAnalysis.h"

namespace velora::resample {
namespace {

using namespace testing;

struct Conversion {
    const char* name;
    int inputRate;
    int outputRate;
    double cutoffHz;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Conversion& c, std::ostream* os) {
    *os << c.name;
}

const Conversion kConversions[] = {
    {"44100_to_22050", 44100, 22050, 11025.0},
    {"48000_to_44100", 48000, 44100, 22050.0},
    {"48000_to_22050", 48000, 22050, 11025.0},
    {"32000_to_22050", 32000, 22050, 11025.0},
    {"11025_to_44100", 11025, 44100, 5512.5},
    {"22050_to_32000", 22050, 32000, 11025.0},
    {"11025_to_48000", 11025, 48000, 5512.5},
    {"48000_to_44101", 48000, 44101, 22050.0},  // coprime rates: the table, downwards
    {"44100_cut_16000", 44100, 44100, 16000.0},
    {"96000_to_8000", 96000, 8000, 4000.0},
    {"48000_to_16000", 48000, 16000, 8000.0},  // FFT segments not a multiple of 3
};

constexpr size_t kWindow = 16384;  // output samples analysed
constexpr double kToneAmplitude = 0.03;
constexpr int kBlockFrames = 1024;

class resample_Quality : public ::testing::TestWithParam<Conversion> {
  protected:
    void SetUp() override {
        const Conversion& c = GetParam();
        settings_.channels = 1;
        settings_.inputRate = c.inputRate;
        settings_.outputRate = c.outputRate;
        settings_.inputBlockSamples = kBlockFrames;
        settings_.cutoffHz = c.cutoffHz;
        Resampler* r = Create(settings_, &info_, nullptr);
        ASSERT_NE(r, nullptr);
        Destroy(r);
        ASSERT_NE(info_.mode, ResamplerMode::kPassThrough);
        in_ = c.inputRate;
        out_ = c.outputRate;
        passEdge_ = 0.95 * info_.cutoffHz;
        stopEdge_ = 1.05 * info_.cutoffHz;
        // Past the filter's start-up: its whole span, in output samples.
        start_ = static_cast<size_t>(std::ceil((info_.tapsPerPhase + 4.0) * out_ / in_)) + 16;
    }

    // Input long enough for the analysis window, converted with the end marked.
    std::vector<float> Convert(const std::vector<Tone>& tones) {
        const size_t frames = static_cast<size_t>(
            std::ceil((static_cast<double>(start_ + kWindow) + 16.0) * in_ / out_) +
            info_.tapsPerPhase + 2 * kBlockFrames);
        const RunResult r = RunConverter(settings_, Tones(tones, in_, frames));
        EXPECT_GE(r.output.size(), start_ + kWindow);
        return r.output;
    }

    ResamplerSettings settings_;
    ResamplerInfo info_;
    double in_ = 0.0, out_ = 0.0;
    double passEdge_ = 0.0, stopEdge_ = 0.0;
    size_t start_ = 0;
};

double WrapPhase(double p) {
    return std::remainder(p, 2.0 * kPi);
}

TEST_P(resample_Quality, PassBandIsFlatWithTheReportedDelayAndNothingElse) {
    // Tones on exact bins of the output window, from 40 Hz to the pass-band edge.
    const double binHz = out_ / static_cast<double>(kWindow);
    const size_t lowBin = static_cast<size_t>(std::ceil(40.0 / binHz));
    const size_t highBin = static_cast<size_t>(std::floor(0.999 * passEdge_ / binHz));
    const size_t count = 24;
    std::vector<Tone> tones;
    std::vector<size_t> bins;
    for (size_t i = 0; i < count; ++i) {
        bins.push_back(lowBin + (highBin - lowBin) * i / (count - 1));
        tones.push_back({static_cast<double>(bins.back()) * binHz, kToneAmplitude,
                         0.7 * static_cast<double>(i)});
    }
    const std::vector<float> y = Convert(tones);
    ASSERT_GE(y.size(), start_ + kWindow);

    // Gains, and the delay from the phases: first from the lowest tone (whose period is far
    // longer than any delay), then refined tone by tone upwards.
    double gainMin = 1e9, gainMax = -1e9;
    std::vector<double> phase(count);
    for (size_t i = 0; i < count; ++i) {
        const std::complex<double> c = BinAmplitude(y, start_, kWindow, bins[i]);
        const double gainDb = Db(std::abs(c) / kToneAmplitude);
        gainMin = std::min(gainMin, gainDb);
        gainMax = std::max(gainMax, gainDb);
        EXPECT_LT(std::abs(gainDb), 0.05) << tones[i].frequency << " Hz";
        // The sine's phase at output sample 0.
        const double omega = 2.0 * kPi * tones[i].frequency / out_;
        phase[i] = std::arg(c) - omega * static_cast<double>(start_) + 0.5 * kPi;
    }
    double delay = WrapPhase(tones[0].phase - phase[0]) / (2.0 * kPi * tones[0].frequency);
    if (delay < 0.0) delay += 1.0 / tones[0].frequency;
    for (size_t i = 1; i < count; ++i) {
        const double predicted = tones[i].phase - 2.0 * kPi * tones[i].frequency * delay;
        delay -= WrapPhase(phase[i] - predicted) / (2.0 * kPi * tones[i].frequency);
    }
    double worstPhase = 0.0;
    for (size_t i = 0; i < count; ++i) {
        const double predicted = tones[i].phase - 2.0 * kPi * tones[i].frequency * delay;
        worstPhase = std::max(worstPhase, std::abs(WrapPhase(phase[i] - predicted)));
    }
    const double delayInput = delay * in_;
    EXPECT_LT(gainMax - gainMin, 0.1);
    EXPECT_LT(worstPhase, 2e-3) << "phase is not linear";
    // With one phase the filter's centre lies on an input sample: the delay is exact.
    EXPECT_NEAR(delayInput, info_.delay, info_.phases == 1 ? 1e-3 : 0.5 / info_.phases + 1e-3);

    // Everything away from the tones' main lobes: images, aliases, rounding noise.
    const std::vector<double> spectrum = WindowedAmplitudes(y, start_, kWindow);
    double spur = 0.0;
    size_t spurBin = 0;
    for (size_t k = 0; k < spectrum.size(); ++k) {
        bool nearTone = false;
        for (size_t b : bins) nearTone = nearTone || (k + 12 > b && k < b + 12);
        if (!nearTone && spectrum[k] > spur) {
            spur = spectrum[k];
            spurBin = k;
        }
    }
    const double spurDb = Db(spur / kToneAmplitude);
    EXPECT_LT(spurDb, -85.0) << "at " << static_cast<double>(spurBin) * binHz << " Hz";
    std::printf(
        "[quality] %s: pass-band ripple %.5f dB (gain %+.5f..%+.5f dB), worst spur "
        "%.1f dB at %.0f Hz, delay reported %d measured %.4f input samples, phase "
        "error %.1e rad\n",
        GetParam().name, gainMax - gainMin, gainMin, gainMax, spurDb,
        static_cast<double>(spurBin) * binHz, info_.delay, delayInput, worstPhase);
}

// Only the conversions whose input reaches above the stop-band edge.
class resample_StopBand : public resample_Quality {};

std::vector<Conversion> WithInputAboveTheStopBand() {
    std::vector<Conversion> list;
    for (const Conversion& c : kConversions) {
        const double cutoff = std::min(c.cutoffHz, 0.5 * std::min(c.inputRate, c.outputRate));
        if (1.05 * cutoff < 0.5 * c.inputRate) list.push_back(c);
    }
    return list;
}

TEST_P(resample_StopBand, TonesVanish) {
    ASSERT_LT(stopEdge_, 0.5 * in_);
    std::vector<Tone> tones;
    const size_t count = 12;
    for (size_t i = 0; i < count; ++i) {
        const double f =
            stopEdge_ + (0.497 * in_ - stopEdge_) * static_cast<double>(i) / (count - 1);
        tones.push_back({f, kToneAmplitude, 1.3 * static_cast<double>(i)});
    }
    const std::vector<float> y = Convert(tones);
    ASSERT_GE(y.size(), start_ + kWindow);
    const std::vector<double> spectrum = WindowedAmplitudes(y, start_, kWindow);
    const auto peak = std::max_element(spectrum.begin(), spectrum.end());
    const double peakDb = Db(*peak / kToneAmplitude);
    const double peakHz = static_cast<double>(peak - spectrum.begin()) * out_ / kWindow;
    EXPECT_LT(peakDb, -85.0) << "at " << peakHz << " Hz";
    std::printf("[quality] %s: stop band from %.1f Hz, strongest residue %.1f dB at %.0f Hz\n",
                GetParam().name, stopEdge_, peakDb, peakHz);
}

TEST_P(resample_Quality, SweepIsTheInputDelayed) {
    const Sweep sweep{30.0, 0.95 * passEdge_, 1.0, 0.02};
    const size_t frames = static_cast<size_t>(in_ * 1.1) + info_.tapsPerPhase + 2 * kBlockFrames;
    std::vector<float> x(frames);
    for (size_t n = 0; n < frames; ++n)
        x[n] = static_cast<float>(sweep(static_cast<double>(n) / in_));
    const RunResult r = RunConverter(settings_, x);
    const size_t end = static_cast<size_t>(out_ * 1.05);
    ASSERT_GE(r.output.size(), end + static_cast<size_t>(info_.delay * out_ / in_));

    // Relative error energy of the output against the sweep delayed by tau seconds.
    auto error = [&](double tau, double* reference) {
        double e = 0.0, s = 0.0;
        for (size_t k = 0; k < end; ++k) {
            const double ideal = sweep(static_cast<double>(k) / out_ - tau);
            const double d = static_cast<double>(r.output[k]) - ideal;
            e += d * d;
            s += ideal * ideal;
        }
        if (reference) *reference = s;
        return e;
    };
    // The least error lies at the true delay; the error is quadratic around it.
    double tau = info_.delay / in_;
    for (double step : {0.5 / in_, 0.1 / in_, 0.02 / in_, 0.004 / in_}) {
        const double a = error(tau - step, nullptr);
        const double b = error(tau, nullptr);
        const double c = error(tau + step, nullptr);
        tau += 0.5 * step * (a - c) / (a - 2.0 * b + c);
    }
    double energy = 0.0;
    const double e = error(tau, &energy);
    const double errorDb = 10.0 * std::log10(e / energy);
    EXPECT_NEAR(tau * in_, info_.delay, 0.5 / info_.phases + 2e-3);
    EXPECT_LT(errorDb, -90.0);
    std::printf("[quality] %s: sweep 30..%.0f Hz, error %.1f dB, delay %.4f input samples\n",
                GetParam().name, sweep.f1, errorDb, tau * in_);
}

std::string CaseName(const ::testing::TestParamInfo<Conversion>& p) {
    return p.param.name;
}

INSTANTIATE_TEST_SUITE_P(Conversions, resample_Quality, ::testing::ValuesIn(kConversions),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Conversions, resample_StopBand,
                         ::testing::ValuesIn(WithInputAboveTheStopBand()), CaseName);

}  // namespace
}  // namespace velora::resample

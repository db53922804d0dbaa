#include "PeaqAnalysis.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "PeaqChannel.h"

namespace velora::bench {
namespace {

// A frame whose second half holds less energy than this (16-bit units) counts as silent.
constexpr double kSilenceEnergy = 8000.0;
// The averages of the modulation and noise loudness begin this late, after the start of
// the signal has settled the adaptation.
constexpr double kSettleSeconds = 0.5;
// Noise loudness counts from when both signals reach this loudness, in sone.
constexpr double kLoudnessStart = 0.1;
constexpr double kDisturbedDb = 1.5;
constexpr int kModWindow = 4;
// Filtering of the detection probability, per 1024 samples at 48 kHz.
constexpr double kDetectionSmoothing = 0.9;
constexpr double kDetectionHold = 0.99;

double HalfEnergy(const float* frame) {
    double e = 0.0;
    for (int n = PeaqEar::kHop; n < PeaqEar::kFrameSize; ++n) {
        const double x = frame[n];
        e += x * x;
    }
    return e;
}

struct ChannelSums {
    double nmr = 0.0;
    int disturbed = 0;
    int bandwidthFrames = 0;
    double bandwidthRef = 0.0;
    double bandwidthTest = 0.0;
    double modWeight = 0.0;
    double mod1 = 0.0;
    double mod2 = 0.0;
    std::vector<double> mod1Sequence;
    bool loud = false;
    int noiseFrames = 0;
    double noiseSquares = 0.0;
    int ehsFrames = 0;
    double ehs = 0.0;
};

double WindowedModDiff(const std::vector<double>& d) {
    if (d.size() < static_cast<size_t>(kModWindow)) return 0.0;
    double sum = 0.0;
    for (size_t n = kModWindow - 1; n < d.size(); ++n) {
        double w = 0.0;
        for (int i = 0; i < kModWindow; ++i) w += std::sqrt(d[n - static_cast<size_t>(i)]);
        w /= kModWindow;
        sum += w * w * w * w;
    }
    return std::sqrt(sum / static_cast<double>(d.size() - kModWindow + 1));
}

}  // namespace

PeaqResult AnalysePeaq(const Signal& reference, const Signal& test, size_t begin, size_t end) {
    PeaqResult result;
    const int channels = reference.ChannelCount();
    if (channels < 1 || test.ChannelCount() != channels || test.Length() < end || reference.Length() < end) return result;
    std::vector<PeaqChannel> model(static_cast<size_t>(channels));
    for (PeaqChannel& m : model)
        if (!m.Init(reference.rate)) return result;

    // The judged stretch: from the first to the last frame in which the reference sounds.
    const size_t frameSize = PeaqEar::kFrameSize;
    const size_t hop = PeaqEar::kHop;
    size_t first = 0;
    size_t last = 0;
    bool sounds = false;
    for (size_t p = begin; p + frameSize <= end; p += hop)
        for (int c = 0; c < channels; ++c)
            if (HalfEnergy(reference.channels[static_cast<size_t>(c)].data() + p) >= kSilenceEnergy) {
                if (!sounds) first = p;
                last = p;
                sounds = true;
            }
    if (!sounds) return result;

    const double frameSeconds = static_cast<double>(hop) / reference.rate;
    const double span = static_cast<double>(last - first) / reference.rate;
    const size_t settleFrames = span > 2.0 * kSettleSeconds ? static_cast<size_t>(kSettleSeconds / frameSeconds) : 0;
    const double perHop = frameSeconds / (1024.0 / 48000.0);
    const double smoothing = std::pow(kDetectionSmoothing, perHop);
    const double hold = std::pow(kDetectionHold, perHop);

    std::vector<ChannelSums> sums(static_cast<size_t>(channels));
    double filtered = 0.0;
    double peak = 0.0;
    int distorted = 0;
    double distortedJnds = 0.0;
    int frames = 0;
    const size_t bands = static_cast<size_t>(model[0].Ear().BandCount());
    std::vector<double> bandNmr(bands, 0.0);
    std::vector<double> bandDisturbed(bands, 0.0);
    const double disturbedRatio = std::pow(10.0, kDisturbedDb / 10.0);
    PeaqFrameValues v;
    for (size_t p = first; p <= last; p += hop, ++frames) {
        double detection = 0.0;
        double jnds = 0.0;
        for (int c = 0; c < channels; ++c) {
            const float* r = reference.channels[static_cast<size_t>(c)].data() + p;
            const float* t = test.channels[static_cast<size_t>(c)].data() + p;
            const bool loudEnough = HalfEnergy(r) >= kSilenceEnergy || HalfEnergy(t) >= kSilenceEnergy;
            model[static_cast<size_t>(c)].Process(r, t, loudEnough, v);
            ChannelSums& s = sums[static_cast<size_t>(c)];
            s.nmr += v.nmr;
            if (v.maxNmrDb > kDisturbedDb) ++s.disturbed;
            const std::vector<double>& ratio = model[static_cast<size_t>(c)].BandNmr();
            for (size_t b = 0; b < bands; ++b) {
                bandNmr[b] += ratio[b];
                if (ratio[b] > disturbedRatio) bandDisturbed[b] += 1.0;
            }
            if (v.bandwidthValid) {
                ++s.bandwidthFrames;
                s.bandwidthRef += v.bandwidthRef;
                s.bandwidthTest += v.bandwidthTest;
            }
            if (static_cast<size_t>(frames) >= settleFrames) {
                s.modWeight += v.modWeight;
                s.mod1 += v.modWeight * v.modDiff1;
                s.mod2 += v.modWeight * v.modDiff2;
                s.mod1Sequence.push_back(v.modDiff1);
                s.loud = s.loud || (v.loudnessRef > kLoudnessStart && v.loudnessTest > kLoudnessStart);
                if (s.loud) {
                    ++s.noiseFrames;
                    s.noiseSquares += v.noiseLoudness * v.noiseLoudness;
                }
            }
            if (loudEnough) {
                ++s.ehsFrames;
                s.ehs += v.ehs;
            }
            detection = std::max(detection, v.detection);
            jnds += v.jnds / channels;
        }
        filtered = smoothing * filtered + (1.0 - smoothing) * detection;
        peak = std::max(hold * peak, filtered);
        if (detection > 0.5) {
            ++distorted;
            distortedJnds += jnds;
        }
    }

    PeaqMovs& m = result.movs;
    for (const ChannelSums& s : sums) {
        const double share = 1.0 / channels;
        m.totalNmrDb += share * 10.0 * std::log10(std::max(s.nmr / frames, 1e-30));
        m.relDistFrames += share * s.disturbed / frames;
        if (s.bandwidthFrames > 0) {
            m.bandwidthRef += share * s.bandwidthRef / s.bandwidthFrames;
            m.bandwidthTest += share * s.bandwidthTest / s.bandwidthFrames;
        }
        if (s.modWeight > 0.0) {
            m.avgModDiff1 += share * s.mod1 / s.modWeight;
            m.avgModDiff2 += share * s.mod2 / s.modWeight;
        }
        m.winModDiff1 += share * WindowedModDiff(s.mod1Sequence);
        if (s.noiseFrames > 0) m.rmsNoiseLoudness += share * std::sqrt(s.noiseSquares / s.noiseFrames);
        if (s.ehsFrames > 0) m.ehs += share * 1000.0 * s.ehs / s.ehsFrames;
    }
    m.mfpd = peak;
    m.adb = distorted == 0 ? 0.0 : distortedJnds > 0.0 ? std::log10(distortedJnds / distorted) : -0.5;
    result.grade = MapToGrade(m);
    const double judged = static_cast<double>(frames) * channels;
    for (size_t b = 0; b < bands; ++b) {
        result.bandCentreHz.push_back(model[0].Ear().CentreHz(static_cast<int>(b)));
        result.bandNmrDb.push_back(10.0 * std::log10(std::max(bandNmr[b] / judged, 1e-30)));
        result.bandDisturbed.push_back(bandDisturbed[b] / judged);
    }
    result.frames = frames;
    result.ok = true;
    return result;
}

}  // namespace velora::bench

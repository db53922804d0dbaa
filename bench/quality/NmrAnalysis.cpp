#include "NmrAnalysis.h"

#include <algorithm>
#include <cmath>

namespace velora::bench {
namespace {

constexpr double kLoudDb = 6.0;

double Db(double ratio) {
    return 10.0 * std::log10(std::max(ratio, std::pow(10.0, kNmrFloorDb / 10.0)));
}

}  // namespace

NmrResult AnalyseNmr(const Signal& original, const Signal& decoded, size_t begin, size_t end, NmrModel& model,
                     int judged) {
    NmrResult r;
    const int all = model.BandCount();
    const size_t bands = static_cast<size_t>(judged > 0 ? std::min(judged, all) : all);
    const size_t channels = original.channels.size();
    r.bandMean.assign(bands, 0.0);
    r.bandAudible.assign(bands, 0.0);
    std::vector<float> error(NmrModel::kFrameSize);
    std::vector<double> mask(static_cast<size_t>(all)), noise(static_cast<size_t>(all)), nmr(channels * bands);
    double sumMean = 0.0;
    double sumMax = 0.0;
    int audible = 0;
    int loud = 0;
    for (size_t p = begin; p + NmrModel::kFrameSize <= end; p += NmrModel::kHop) {
        bool anythingAudible = false;
        for (size_t c = 0; c < channels; ++c) {
            const float* x = original.channels[c].data() + p;
            const float* y = decoded.channels[c].data() + p;
            for (size_t n = 0; n < error.size(); ++n) error[n] = y[n] - x[n];
            model.MaskedThreshold(x, mask.data());
            model.BandEnergies(error.data(), noise.data());
            for (size_t b = 0; b < bands; ++b) {
                const double quiet = model.Band(static_cast<int>(b)).quiet;
                anythingAudible = anythingAudible || model.LastEnergy(static_cast<int>(b)) > quiet || noise[b] > quiet;
                nmr[c * bands + b] = noise[b] / mask[b];
            }
        }
        if (!anythingAudible) {
            ++r.skipped;
            continue;
        }
        NmrFrame f;
        f.startSeconds = static_cast<double>(p) / original.rate;
        double mean = 0.0;
        double largest = -1.0;
        for (size_t c = 0; c < channels; ++c)
            for (size_t b = 0; b < bands; ++b) {
                const double v = nmr[c * bands + b];
                mean += v;
                r.bandMean[b] += v;
                r.bandAudible[b] += v > 1.0 ? 1.0 : 0.0;
                if (v > largest) {
                    largest = v;
                    f.maxBand = static_cast<int>(b);
                    f.maxChannel = static_cast<int>(c);
                }
            }
        f.meanDb = Db(mean / static_cast<double>(channels * bands));
        f.maxDb = Db(largest);
        sumMean += f.meanDb;
        sumMax += f.maxDb;
        audible += f.maxDb > 0.0 ? 1 : 0;
        loud += f.maxDb > kLoudDb ? 1 : 0;
        r.frameList.push_back(f);
    }
    r.frames = static_cast<int>(r.frameList.size());
    if (r.frames > 0) {
        const double frames = r.frames;
        r.meanDb = sumMean / frames;
        r.meanMaxDb = sumMax / frames;
        r.audibleShare = audible / frames;
        r.loudShare = loud / frames;
        for (size_t b = 0; b < bands; ++b) {
            r.bandMean[b] /= frames * static_cast<double>(channels);
            r.bandAudible[b] /= frames * static_cast<double>(channels);
        }
    }
    return r;
}

}  // namespace velora::bench

#include "CodedShare.h"

#include <cmath>

#include "PsychoacousticConfig.h"
#include "Quantiser.h"

namespace velora::enc {
namespace {

constexpr int kSliceLines = kGranuleLines / kShareSlices;

}  // namespace

CodedShare::CodedShare() {
    for (auto& channel : share)
        for (float& s : channel) s = 1.0f;
}

void CodedShareMeter::Reset() {
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < kShareSlices; ++i) original_[ch][i] = coded_[ch][i] = 0.0;
    channels_ = 0;
    any_ = false;
}

void CodedShareMeter::AddGranule(const QuantiserInput* original, const QuantiserInput* coded,
                                 const QuantisedGranule* quantised, int channels, bool midSide, int intensityLine) {
    if (channels < 1 || channels > 2) return;
    for (int ch = 0; ch < channels; ++ch)
        if (original[ch].windows != 1 || coded[ch].windows != 1) return;
    float decoded[2][kGranuleLines];
    for (int ch = 0; ch < channels; ++ch) Quantiser::Dequantise(coded[ch], quantised[ch], decoded[ch]);
    if (channels == 2 && midSide) {
        // Mid/side below the intensity bound; above it the first channel carries the sum.
        const float r = static_cast<float>(1.0 / std::sqrt(2.0));
        const int end = intensityLine < kGranuleLines ? intensityLine : kGranuleLines;
        for (int k = 0; k < end; ++k) {
            const float m = decoded[0][k];
            const float s = decoded[1][k];
            decoded[0][k] = (m + s) * r;
            decoded[1][k] = (m - s) * r;
        }
    }
    const double scale = kModelScale;
    for (int slice = 0; slice < kShareSlices; ++slice) {
        double o[2] = {};
        double c[2] = {};
        double firstAbove[2] = {};  // the first channel's original and kept energy above the bound
        double secondAbove = 0.0;    // the second channel's original energy there
        for (int k = slice * kSliceLines; k < (slice + 1) * kSliceLines; ++k) {
            for (int ch = 0; ch < channels; ++ch) {
                const double x = static_cast<double>(original[ch].lines[k]) * scale;
                const double y = static_cast<double>(decoded[ch][k]);
                if (ch == 1 && k >= intensityLine) {
                    secondAbove += x * x;
                    continue;
                }
                o[ch] += x * x;
                c[ch] += y * y;
                if (ch == 0 && k >= intensityLine) {
                    firstAbove[0] += x * x;
                    firstAbove[1] += y * y;
                }
            }
        }
        if (channels == 2 && secondAbove > 0.0) {
            o[1] += secondAbove;
            if (firstAbove[0] > 0.0) c[1] += secondAbove * firstAbove[1] / firstAbove[0];
        }
        for (int ch = 0; ch < channels; ++ch) {
            original_[ch][slice] += o[ch];
            coded_[ch][slice] += c[ch];
        }
    }
    channels_ = channels;
    any_ = true;
}

void CodedShareMeter::Finish(CodedShare& out) const {
    if (!any_) return;
    for (int ch = 0; ch < channels_; ++ch)
        for (int i = 0; i < kShareSlices; ++i)
            if (original_[ch][i] > 0.0)
                out.share[ch][i] = static_cast<float>(coded_[ch][i] / original_[ch][i]);
}

}  // namespace velora::enc

#include "SbrQmfRows.h"

#include <cstring>
#include <new>

namespace velora::sbr {
namespace {

std::unique_ptr<float[]> Floats(long long count) {
    return std::unique_ptr<float[]>(new (std::nothrow) float[static_cast<size_t>(count)]());
}

}  // namespace

bool SbrQmfRows::Init(int delay, int frameRows, int historyRows) {
    if (delay < 0 || frameRows <= 0 || historyRows < 0 || !analysis_.Init()) return false;
    frameRows_ = frameRows;
    sampleDelay_ = delay % kEncoderQmfBands;
    lookAhead_ = delay / kEncoderQmfBands;
    // Everything from the oldest history row to the newest analysed one, plus a frame of
    // margin so that a frame's push never overwrites rows still read.
    ringRows_ = historyRows + frameRows + lookAhead_ + frameRows;
    const long long values = static_cast<long long>(ringRows_) * kEncoderQmfBands;
    line_ = Floats(sampleDelay_ + frameRows * kEncoderQmfBands);
    re_ = Floats(values);
    im_ = Floats(values);
    energy_ = Floats(values);
    if (!line_ || !re_ || !im_ || !energy_) return false;
    Reset();
    return true;
}

void SbrQmfRows::Reset() {
    analysis_.Reset();
    const size_t values = static_cast<size_t>(ringRows_) * kEncoderQmfBands;
    std::memset(line_.get(), 0, sizeof(float) * static_cast<size_t>(sampleDelay_ + frameRows_ * kEncoderQmfBands));
    std::memset(re_.get(), 0, sizeof(float) * values);
    std::memset(im_.get(), 0, sizeof(float) * values);
    std::memset(energy_.get(), 0, sizeof(float) * values);
    analysed_ = 0;
    // The first encoded frame starts lookAhead_ rows before the first analysed row: its
    // early rows describe the silence before the stream.
    encodedStart_ = -lookAhead_;
}

void SbrQmfRows::Push(const float* samples) {
    const int frameSamples = frameRows_ * kEncoderQmfBands;
    float* line = line_.get();
    std::memcpy(line + sampleDelay_, samples, sizeof(float) * static_cast<size_t>(frameSamples));
    for (int r = 0; r < frameRows_; ++r) {
        long long s = analysed_ % ringRows_;
        float* re = re_.get() + s * kEncoderQmfBands;
        float* im = im_.get() + s * kEncoderQmfBands;
        float* e = energy_.get() + s * kEncoderQmfBands;
        analysis_.Run(line + r * kEncoderQmfBands, re, im);
        for (int k = 0; k < kEncoderQmfBands; ++k) e[k] = re[k] * re[k] + im[k] * im[k];
        ++analysed_;
    }
    // The samples still delayed move to the front of the line.
    std::memmove(line, line + frameSamples, sizeof(float) * static_cast<size_t>(sampleDelay_));
    encodedStart_ = analysed_ - frameRows_ - lookAhead_;
}

}  // namespace velora::sbr

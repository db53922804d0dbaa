// One channel's analysed QMF rows: the full-rate input runs through a short sample delay and
// the 64-band analysis into a ring of rows, so that the rows of the frame being encoded lie
// `delay` samples behind the newest input and the rows after them serve as look-ahead.
#pragma once

#include <cstdint>
#include <memory>

#include "SbrQmfAnalysis64.h"

namespace velora::sbr {

class SbrQmfRows {
public:
    // `delay` in full-rate samples (>= 0); `historyRows` rows before a frame are kept for
    // the prediction analysis. False when memory is short.
    bool Init(int delay, int frameRows, int historyRows);
    void Reset();

    // Analyses one frame of frameRows x 64 samples (oldest first).
    void Push(const float* samples);

    // Row `i` of the frame being encoded (0 = its first row; negative: earlier rows,
    // frameRows and up: look-ahead, up to LookAheadRows()).
    const float* Re(int i) const { return re_.get() + Slot(i) * kEncoderQmfBands; }
    const float* Im(int i) const { return im_.get() + Slot(i) * kEncoderQmfBands; }
    const float* Energy(int i) const { return energy_.get() + Slot(i) * kEncoderQmfBands; }

    // Rows after the frame that have already been analysed.
    int LookAheadRows() const { return lookAhead_; }
    // Row index (as for Re) of the first row of the newest analysed frame.
    int NewestFrameStart() const { return lookAhead_; }

private:
    int Slot(int i) const {
        long long row = encodedStart_ + i;
        long long s = row % ringRows_;
        if (s < 0) s += ringRows_;
        return static_cast<int>(s);
    }

    SbrQmfAnalysis64 analysis_;
    int frameRows_ = 0;
    int sampleDelay_ = 0;   // delay % 64, held in the sample line
    int lookAhead_ = 0;     // delay / 64 rows
    int ringRows_ = 0;
    long long analysed_ = 0;      // rows analysed so far
    long long encodedStart_ = 0;  // absolute row of the frame being encoded
    std::unique_ptr<float[]> line_;  // sampleDelay_ + frame samples
    std::unique_ptr<float[]> re_;
    std::unique_ptr<float[]> im_;
    std::unique_ptr<float[]> energy_;
};

}  // namespace velora::sbr

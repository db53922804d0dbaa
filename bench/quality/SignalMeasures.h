// Plain measures of a decoded signal against its original (both aligned, same length):
// SNR, segmental SNR, and the audio bandwidth of one signal.
#pragma once

#include <cstddef>

#include "Signal.h"

namespace velora::bench {

// Over every channel and sample of [begin, end); +inf for identical signals.
double SnrDb(const Signal& original, const Signal& decoded, size_t begin, size_t end);

// The mean over 20 ms segments of their SNR, each clamped to [-10, 35] dB; segments where
// the original is below -60 dB of full scale are left out.
double SegmentalSnrDb(const Signal& original, const Signal& decoded, size_t begin, size_t end);

// The frequency above which the long-term spectrum (Hann-windowed 2048-point frames,
// averaged over frames and channels, smoothed over 7 bins) stays more than `dropDb` below
// its peak. 0 for a silent signal.
double BandwidthHz(const Signal& s, size_t begin, size_t end, double dropDb = 60.0);

}  // namespace velora::bench

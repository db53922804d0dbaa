// Finds the delay of a decoded signal against its original by cross-correlation, and
// shifts it into place.
#pragma once

#include <cstddef>
#include <vector>

#include "Signal.h"

namespace velora::bench {

struct Alignment {
    long lag = 0;               // decoded[n + lag] lines up with original[n]
    double correlation = 0.0;   // normalised, over the whole overlap, at that lag
};

// Searches lags in [-maxLag, maxLag] on the loudest stretch of the original, then checks
// the neighbours of the best one over the whole signal.
Alignment FindLag(const std::vector<float>& original, const std::vector<float>& decoded, int maxLag);

// `decoded` moved by `lag` and cut or padded with zeros to `length` samples.
Signal Shift(const Signal& decoded, long lag, size_t length);

// The samples of the original that the shifted decoded signal covers: [begin, end).
void OverlapRange(long lag, size_t originalLength, size_t decodedLength, size_t& begin, size_t& end);

}  // namespace velora::bench

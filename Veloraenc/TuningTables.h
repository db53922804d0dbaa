// The operating points the encoder offers, as data: the selection code walks whatever rows
// these tables hold, so a new bit rate, core rate or channel count is a new row here.
#pragma once

#include <cstdint>

namespace velora::enc {

// One SBR operating point; searched in order. The row's parameters configure the SBR
// encoder.
struct SbrTuningRow {
    int32_t bitrateLow;   // bit/s, inclusive
    int32_t bitrateHigh;  // bit/s, exclusive
    int32_t coreRate;     // Hz
    int32_t channels;     // coded channels
    int32_t startFreq;
    int32_t stopFreq;
    int32_t tuning[5];
    int32_t stereoCoding;
};
static_assert(sizeof(SbrTuningRow) == 48, "rows are twelve 32-bit values");

// Core rates for the bit rates below `bitrateBound` (and at or above the previous row's
// bound). A row whose rates are 0 offers nothing.
struct CoreTuningRow {
    int32_t minRate;
    int32_t preferredRate;
    int32_t maxRate;
    int32_t extra[2];  // handed to the core unchanged
    int32_t bitrateBound;  // bit/s, exclusive
};
static_assert(sizeof(CoreTuningRow) == 24, "rows are six 32-bit values");

// Rows per core block; a bound above this ends a block early.
constexpr int kCoreTuningBlockRows = 14;
constexpr int32_t kCoreTuningLastBound = 320000;

struct TuningTables {
    const SbrTuningRow* sbr;
    int sbrRows;
    // [0] one coded channel, [1] two.
    const CoreTuningRow* core[2];
    int coreRows[2];
};

// The tables this encoder ships with.
const TuningTables& DefaultTuningTables();

}  // namespace velora::enc

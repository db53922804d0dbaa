// Constant tables of Layer III taken from ISO/IEC 11172-3 and ISO/IEC 13818-3 (the
// MPEG-2.5 scale-factor bands are this format's own). tables/layer3_tables.txt holds the
// source figures; a test compares these arrays with it.
#pragma once

#include <array>

namespace velora {

// [0] MPEG-1, [1] MPEG-2 and 2.5; kbit/s by bit-rate index (0 free, 15 forbidden).
extern const int kBitratesKbps[2][16];
// [version][sampling-frequency index].
extern const int kSamplingRates[3][3];

// Scale-factor band boundaries in lines: 23 long (bands 0..21) then 14 short (bands 0..12).
struct ScaleFactorBands {
    std::array<int, 23> longBounds;
    std::array<int, 14> shortBounds;
};
// [version][sampling-frequency index].
extern const ScaleFactorBands kScaleFactorBands[3][3];

extern const int kSlen[2][16];           // MPEG-1 slen1, slen2 by scalefac_compress
extern const int kPartitionSizes[6][3][4];  // MPEG-2 nr_of_sfb[table][long, short, mixed]
extern const int kPretab[22];
extern const double kAliasCoefficients[8];

}  // namespace velora

// Frequency band tables of the SBR decoder: from the stored header and the output rate,
// the master table and the high-resolution, low-resolution, noise and limiter band tables
// that divide the 64-band synthesis range, plus the per-band tilt factors.
#pragma once

#include "SbrData.h"

namespace velora::sbr {

// Builds every table of `out` from the header (always recomputing the master table).
// Returns false when the header cannot be used; `out` is then left unchanged. A header is
// unusable when:
//  - the output rate is not positive, or a header field lies outside its bit range;
//  - k2 - k0 lies outside 0..48;
//  - the master table has a band of zero width or more than 48 bands (logarithmic scales
//    with narrow start bands, e.g. 12 bands per octave from k0 below 17);
//  - xover_band does not name a master band (xover_band >= number of master bands, so
//    the SBR range is never empty);
//  - N_low >= 25, kx > 32, or more than 5 noise bands.
bool BuildFreqTables(const SbrHeader& header, int outputRate, SbrFreqData& out);
// The same with a spectral tilt in dB over the SBR range (0 gives factors of exactly 1).
bool BuildFreqTables(const SbrHeader& header, int outputRate, float tiltDb, SbrFreqData& out);

// Rebuild after a header reset: k0, k2 and the master table of `data` are kept when
// start_freq, stop_freq, freq_scale and alter_scale equal those of `previous` (`data` must
// have been built from `previous` at the same output rate); everything else is rebuilt.
// The result is identical to BuildFreqTables(header, ...). On failure `data` is unchanged.
bool UpdateFreqTables(const SbrHeader& previous, const SbrHeader& header, int outputRate,
                      float tiltDb, SbrFreqData& data);

// True when the master table depends on a field that differs between the two headers.
bool MasterTableChanged(const SbrHeader& a, const SbrHeader& b);

// k0 for start_freq 0..15 at the output rate; -1 for an invalid argument.
int StartBand(int startFreq, int outputRate);
// k2 for stop_freq 0..15 (limited to 64); -1 for an invalid argument.
int StopBand(int stopFreq, int k0, int outputRate);

}  // namespace velora::sbr

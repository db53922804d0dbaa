// Pieces of the high-band generator: the patches that copy low QMF bands upwards, the
// chirp (bandwidth) factors of inverse filtering, and the second-order linear prediction
// of each source band by the covariance method.
#pragma once

#include <complex>

#include "SbrData.h"

namespace velora::sbr {

constexpr int kMaxPatches = 6;

struct SbrPatches {
    int32_t count = 0;
    int32_t targetStart[kMaxPatches] = {};
    int32_t guardedStart[kMaxPatches] = {};
    int32_t shift[kMaxPatches] = {};
    int32_t width[kMaxPatches] = {};
    int32_t sourceStart[kMaxPatches] = {};
    int32_t sourceEnd[kMaxPatches] = {};
    int32_t lowestSource = 0;   // the low-band range the prediction must analyse
    int32_t highestSource = 0;
    int32_t end = 0;            // the band after the last patched one
    int32_t chirpRow = 0;       // row of the chirp table chosen by the start frequency
};

// Builds the patches of a channel from its frequency tables. `lowestBand` (b0) is raised to
// 1 when below; `guard` is the patch guard; `patchMode` the element's 3-bit field. False
// when the tables admit no patching (the channel cannot be initialised).
bool BuildPatches(const SbrFreqData& freq, int outputRate, int lowestBand, int guard,
                  int patchMode, SbrPatches& patches);

// The chirp table row for a start frequency of the SBR range in Hz.
int ChirpRow(int startFrequencyHz);
// Target chirp factor for an inverse-filtering mode, given the previous frame's mode; an
// `override` above 0 replaces the table.
float ChirpTarget(int row, int mode, int previousMode, float override = 0.0f);
// The factor after smoothing against the previous frame's.
float SmoothChirp(float target, float previous);

// Second-order prediction coefficients of a complex sequence by the covariance method:
// `x` holds `count` samples after two samples of history (x[-2], x[-1] are x[0], x[1] of
// the array). Coefficients whose magnitude reaches 4 are unusable and come out as 0.
struct Prediction {
    std::complex<float> a0;
    std::complex<float> a1;
};
Prediction PredictCovariance(const std::complex<float>* x, int count);

}  // namespace velora::sbr

namespace velora::sbr {

struct QmfMatrix;

// Fills high-band rows [firstRow, endRow) of `high` from the low band: every patched band
// is its source band (low row l + 2 for high row l) plus the chirp-weighted second-order
// prediction from the two earlier low rows, which flattens the source's spectral peaks by
// the amount the inverse-filtering mode asks for. Bands outside the patches are cleared.
// The prediction coefficients are estimated over all low rows the frame holds.
void GenerateHighBand(const QmfMatrix& low, const SbrPatches& patches, float chirp, int firstRow,
                      int endRow, QmfMatrix& high);

}  // namespace velora::sbr

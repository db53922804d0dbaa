// One coded channel's analysis per frame: QMF rows, transient detection on every new
// frame of rows, the time grid, envelope energies, tonality, inverse filtering, noise
// floors and missing harmonics. Coding and writing happen in SbrEncoder, which may code two
// channels jointly.
#pragma once

#include "SbrCrossfade.h"
#include "SbrData.h"
#include "SbrEnvelopeEstimator.h"
#include "SbrEncoderSettings.h"
#include "SbrHfGenerator.h"
#include "SbrLimiterCompensation.h"
#include "SbrNoiseFloorEstimator.h"
#include "SbrQmfRows.h"
#include "SbrTonality.h"
#include "SbrTransientDetector.h"

namespace velora::sbr {

// Frequency tables and patches shared by the channels (the decoder builds the same).
struct SbrTables {
    SbrFreqData freq;
    SbrPatches patches;
    int rate = 0;  // SBR (output) sample rate
};

struct ChannelFrame {
    SbrFrameInfo grid;
    EnvelopeEnergies energies;
    NoiseFloorResult noise;
    int harmonicBand = -1;  // QMF band coded as a waveform component, -1 none
    SbrChannelData waveform;  // its waveform group when harmonicBand >= 0
    double peakGainDb = 0.0;  // PeakGainDb of the frame's envelopes
};

class SbrChannelEncoder {
public:
    static constexpr int kFrameRows = 18;
    static constexpr int kTonalityRows = 30;  // rows of the prediction window, ending with the frame

    bool Init(int delay, const SbrEncoderSettings& settings, const SbrTables& tables);
    // After new tables: the detector's bands follow, the grid starts afresh (the decoder
    // re-initialises on the header change).
    void SetTables(const SbrTables& tables);
    void Reset();

    // Analyses one frame of kFrameRows x 64 full-rate samples into `out`.
    void Analyse(const float* samples, const SbrTables& tables, ChannelFrame& out);
    // Then, once the frame's limiter setting is known (`limiterGains` 3: off), moves the
    // envelope values against what that limiter will do to them.
    void CompensateLimiter(const SbrTables& tables, int limiterBands, int limiterGains, ChannelFrame& out);
    // What the core kept of each of its bands (decoded over original energy); see
    // SbrEncoder::SetSourceShare.
    void SetSourceShare(const float* share, int count);
    // What the payload finally carried (the grid may be replaced when writing fails).
    void Sent(const SbrFrameInfo& grid, int invfMode);

private:
    void NoteTransients();
    // Whether the transient envelope at `row` may start kTransientLeadRows earlier: the
    // sources the patches copy are not rising from silence there.
    bool LeadsSource(const SbrTables& tables, int row) const;

    static constexpr int kMaxPending = 8;
    SbrEncoderSettings settings_;
    SbrQmfRows rows_;
    SbrTransientDetector detector_;
    BandTonality tonality_;
    SbrCrossfadeCompensator crossfade_;
    SbrLimiterCompensator limiter_;
    int pending_[kMaxPending] = {};  // transient rows from the encoded frame's start
    int pendingCount_ = 0;
    int previousLastBorder_ = kFrameSlots;
    int previousInvfMode_ = 0;
    float sourceShare_[kEncoderQmfBands] = {};
};

}  // namespace velora::sbr

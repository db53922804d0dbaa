#include "SbrChannelEncoder.h"

#include "SbrGridChooser.h"
#include "SbrMissingHarmonics.h"
#include "SbrSourceFill.h"

namespace velora::sbr {

bool SbrChannelEncoder::Init(int delay, const SbrEncoderSettings& settings, const SbrTables& tables) {
    settings_ = settings;
    SetSourceShare(nullptr, 0);
    // The prediction window reaches kTonalityRows - kFrameRows rows back, plus two of history.
    if (!rows_.Init(delay, kFrameRows, kTonalityRows - kFrameRows + 2)) return false;
    const SbrFreqData& f = tables.freq;
    if (!detector_.Init(kFrameRows, f.kx, (f.kx + f.upper) / 2, f.upper, settings.transientRule,
                        settings.transientDetection))
        return false;
    Reset();
    return true;
}

void SbrChannelEncoder::SetTables(const SbrTables& tables) {
    const SbrFreqData& f = tables.freq;
    detector_.SetBands(f.kx, (f.kx + f.upper) / 2, f.upper);
    previousLastBorder_ = kFrameSlots;
    previousInvfMode_ = 0;
    crossfade_.Reset();
    limiter_.Reset();
}

void SbrChannelEncoder::SetSourceShare(const float* share, int count) {
    for (int k = 0; k < kEncoderQmfBands; ++k) sourceShare_[k] = k < count && share != nullptr ? share[k] : 1.0f;
}

void SbrChannelEncoder::Reset() {
    crossfade_.Reset();
    limiter_.Reset();
    rows_.Reset();
    detector_.Reset();
    tonality_ = BandTonality{};
    pendingCount_ = 0;
    previousLastBorder_ = kFrameSlots;
    previousInvfMode_ = 0;
}

void SbrChannelEncoder::NoteTransients() {
    // The encoded frame moved on by a frame: earlier transients move back, those before it
    // are done.
    int kept = 0;
    for (int i = 0; i < pendingCount_; ++i) {
        const int row = pending_[i] - kFrameRows;
        if (row >= 0) pending_[kept++] = row;
    }
    pendingCount_ = kept;
    const int newest = rows_.NewestFrameStart();
    const TransientResult r = detector_.Detect([&](int i) { return rows_.Energy(newest + i); });
    if (r.present && pendingCount_ < kMaxPending) pending_[pendingCount_++] = newest + r.qmfSlot;
}

void SbrChannelEncoder::Analyse(const float* samples, const SbrTables& tables, ChannelFrame& out) {
    rows_.Push(samples);
    NoteTransients();

    // The first transient at or after the frame's first border that the grid can reach.
    GridRequest request;
    request.start = previousLastBorder_ - kFrameSlots;
    request.fixedEnvelopes = settings_.fixedEnvelopes;
    const int reach = kFrameSlots + (rows_.LookAheadRows() / 2 < kMaxLastBorder - kFrameSlots
                                         ? rows_.LookAheadRows() / 2
                                         : kMaxLastBorder - kFrameSlots);
    for (int i = 0; i < pendingCount_; ++i) {
        const int slot = pending_[i] / 2;
        if (slot >= request.start && slot <= reach && (request.transient < 0 || slot < request.transient))
            request.transient = slot;
    }
    ChooseGrid(request, out.grid);

    const SbrFreqData& f = tables.freq;
    EstimateEnvelopes(rows_, out.grid, f, out.energies);
    EstimateTonality(rows_, kFrameRows - kTonalityRows, kFrameRows, 0, f.upper, tonality_);
    EstimateNoiseFloor(tonality_, f, tables.patches, previousInvfMode_, out.noise);
    FillMissingSources(rows_, f, tables.patches, sourceShare_, out.noise);
    crossfade_.Compensate(rows_, out.grid, f, tables.patches, out.noise, settings_.ampRes, out.energies);
    out.peakGainDb = PeakGainDb(rows_, out.grid, f, tables.patches, out.energies);
    out.harmonicBand = settings_.waveforms ? DetectMissingHarmonic(tonality_, f, tables.patches) : -1;
    out.waveform.waveformGroups = 0;
    if (out.harmonicBand >= 0) CodeWaveform(rows_, out.harmonicBand, out.waveform);
}

void SbrChannelEncoder::CompensateLimiter(const SbrTables& tables, int limiterBands, int limiterGains,
                                          ChannelFrame& out) {
    if (!settings_.limiterCompensation) return;
    limiter_.Compensate(rows_, out.grid, tables.freq, tables.patches, out.noise, limiterBands, limiterGains,
                        settings_.ampRes, out.energies);
}

void SbrChannelEncoder::Sent(const SbrFrameInfo& grid, int invfMode) {
    previousLastBorder_ = grid.borders[grid.envelopes];
    previousInvfMode_ = invfMode;
}

}  // namespace velora::sbr

// Transient detection on the QMF band energies of each newly analysed frame: an adaptive
// threshold per band, two rise measures per QMF slot (lower and upper half of the SBR
// range), and a scan of the newest frame that combines the two flags by a configured rule.
#pragma once

namespace velora::sbr {

enum class TransientRule { kExclusiveOr = 0, kOr = 1, kAnd = 2, kLowerOnly = 3 };

struct TransientResult {
    bool present = false;
    int slot = 0;  // time slot (2 QMF slots) within the scanned frame
    int qmfSlot = 0;
};

class SbrTransientDetector {
public:
    static constexpr int kMaxFrameSlots = 36;  // QMF slots of the longest frame
    static constexpr float kThresholdFloor = 128000.0f;

    // `slots` QMF slots per frame; bands [lower, middle) and [middle, upper) form the parts.
    // False when the arguments cannot be served.
    bool Init(int slots, int lower, int middle, int upper, TransientRule rule, float detection);
    void Reset();
    void SetBands(int lower, int middle, int upper);

    // `energy(i)` gives the 64 band energies of QMF slot i of the newest frame, 0..slots-1.
    template <typename EnergyOfSlot>
    TransientResult Detect(EnergyOfSlot energy) {
        for (int i = 0; i < slots_; ++i) {
            const float* e = energy(i);
            for (int m = 0; m < 64; ++m) window_[slots_ + i][m] = e[m];
        }
        return Scan();
    }

    // The rise measure of the last Detect, per part, for QMF slot i of the newest frame.
    float Measure(int part, int i) const { return measure_[part][slots_ + i]; }

private:
    TransientResult Scan();
    void UpdateThresholds();
    float PartMeasure(int first, int end, int i) const;

    int slots_ = 0;
    int lower_ = 0, middle_ = 0, upper_ = 0;
    TransientRule rule_ = TransientRule::kOr;
    float detection_ = 1.0f;
    // Two frames of energies: the previous one in [0, slots), the newest in [slots, 2 slots).
    float window_[2 * kMaxFrameSlots][64] = {};
    float threshold_[64] = {};
    float measure_[2][2 * kMaxFrameSlots] = {};
};

}  // namespace velora::sbr

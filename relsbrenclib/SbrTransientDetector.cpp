#include "SbrTransientDetector.h"

#include <cmath>
#include <cstring>

namespace velora::sbr {

bool SbrTransientDetector::Init(int slots, int lower, int middle, int upper, TransientRule rule,
                                float detection) {
    if (slots < 2 || slots > kMaxFrameSlots || !(detection > 0.0f)) return false;
    slots_ = slots;
    rule_ = rule;
    detection_ = detection;
    SetBands(lower, middle, upper);
    Reset();
    return true;
}

void SbrTransientDetector::SetBands(int lower, int middle, int upper) {
    auto clamp = [](int v) { return v < 0 ? 0 : (v > 64 ? 64 : v); };
    lower_ = clamp(lower);
    upper_ = clamp(upper) < lower_ ? lower_ : clamp(upper);
    middle_ = clamp(middle) < lower_ ? lower_ : (clamp(middle) > upper_ ? upper_ : clamp(middle));
}

void SbrTransientDetector::Reset() {
    std::memset(window_, 0, sizeof(window_));
    std::memset(measure_, 0, sizeof(measure_));
    for (float& t : threshold_) t = kThresholdFloor;
}

void SbrTransientDetector::UpdateThresholds() {
    const int d = slots_;
    for (int m = 0; m < 64; ++m) {
        double mean = 0.0;
        for (int i = 0; i < d; ++i) mean += static_cast<double>(window_[d + i][m]);
        mean /= d;
        double sum = 0.0;
        for (int i = 0; i < d; ++i) {
            const double diff = mean - static_cast<double>(window_[d + i][m]);
            sum += diff * diff;
        }
        const float sigma = static_cast<float>(std::sqrt(sum / (d - 1)));
        const float t = 0.5f * (0.9f * sigma + threshold_[m]);
        threshold_[m] = t > kThresholdFloor ? t : kThresholdFloor;
    }
}

// Mean over the part's bands of the energy's rise above the two slots before it, in units
// of the band's threshold: a stationary band hovers near 0.5, an onset jumps far above.
float SbrTransientDetector::PartMeasure(int first, int end, int i) const {
    if (end <= first || i < 2) return 0.0f;
    float sum = 0.0f;
    for (int m = first; m < end; ++m) {
        const float before = 0.5f * (window_[i - 1][m] + window_[i - 2][m]);
        const float rise = window_[i][m] - before;
        if (rise > 0.0f) sum += rise / threshold_[m];
    }
    return sum / static_cast<float>(end - first);
}

TransientResult SbrTransientDetector::Scan() {
    const int d = slots_;
    UpdateThresholds();
    for (int i = d; i < 2 * d; ++i) {
        measure_[0][i] = PartMeasure(lower_, middle_, i);
        measure_[1][i] = PartMeasure(middle_, upper_, i);
    }
    TransientResult result;
    // The look-ahead window is the newest frame: slots [d, 2d) from the window's start.
    for (int i = d; i < 2 * d; ++i) {
        bool flag[2];
        for (int part = 0; part < 2; ++part)
            flag[part] = measure_[part][i] >= detection_ || measure_[part][i - 1] >= detection_;
        bool combined = false;
        switch (rule_) {
            case TransientRule::kExclusiveOr: combined = flag[0] != flag[1]; break;
            case TransientRule::kOr: combined = flag[0] || flag[1]; break;
            case TransientRule::kAnd: combined = flag[0] && flag[1]; break;
            case TransientRule::kLowerOnly: combined = flag[0]; break;
        }
        if (combined) {
            result.present = true;
            result.qmfSlot = i - d;
            result.slot = (i - d) / 2;
            break;
        }
    }
    // The newest frame becomes the previous one.
    std::memcpy(window_[0], window_[d], sizeof(float) * 64 * static_cast<size_t>(d));
    std::memcpy(measure_[0], measure_[0] + d, sizeof(float) * static_cast<size_t>(d));
    std::memcpy(measure_[1], measure_[1] + d, sizeof(float) * static_cast<size_t>(d));
    return result;
}

}  // namespace velora::sbr

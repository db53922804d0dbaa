#include "SbrStereoParameters.h"

#include <cmath>

namespace velora::sbr {
namespace {

constexpr float kLowerSplitDb = -12.8f;  // between index 0 (no width) and 2
constexpr float kUpperSplitDb = -3.0f;   // between index 2 and 3
constexpr float kHysteresisDb = 1.5f;
constexpr float kSmoothing = 0.7f;       // weight of the previous frames' energies
constexpr int kMinHold = 8;              // frames between changes: each costs a header

int IndexFor(float db, int current) {
    // Moving away from the current index needs the ratio past the split by the hysteresis.
    const float up = kHysteresisDb;
    auto level = [](int index) { return index >= 3 ? 2 : (index == 2 ? 1 : 0); };
    const int now = level(current);
    int target = db < kLowerSplitDb ? 0 : (db < kUpperSplitDb ? 1 : 2);
    if (target > now) {
        const float split = now == 0 ? kLowerSplitDb : kUpperSplitDb;
        if (db < split + up && target == now + 1) target = now;
    } else if (target < now) {
        const float split = now == 2 ? kUpperSplitDb : kLowerSplitDb;
        if (db > split - up && target == now - 1) target = now;
    }
    return target == 0 ? 0 : (target == 1 ? 2 : 3);
}

}  // namespace

void SbrStereoParameters::Reset() {
    *this = SbrStereoParameters{};
}

bool SbrStereoParameters::Update(const float* left, const float* right, int samples) {
    // First differences weigh the highs, where the decoder widens, above the bass it keeps
    // in the middle.
    double mid = 0.0;
    double side = 0.0;
    for (int i = 1; i < samples; ++i) {
        const double l = static_cast<double>(left[i]) - static_cast<double>(left[i - 1]);
        const double r = static_cast<double>(right[i]) - static_cast<double>(right[i - 1]);
        mid += 0.25 * (l + r) * (l + r);
        side += 0.25 * (l - r) * (l - r);
    }
    if (!started_) {
        mid_ = static_cast<float>(mid);
        side_ = static_cast<float>(side);
    } else {
        mid_ = kSmoothing * mid_ + (1.0f - kSmoothing) * static_cast<float>(mid);
        side_ = kSmoothing * side_ + (1.0f - kSmoothing) * static_cast<float>(side);
    }
    ratioDb_ = 10.0f * std::log10((side_ + 1e-3f) / (mid_ + 1e-3f));
    if (!started_) {
        started_ = true;
        index_ = IndexFor(ratioDb_, ratioDb_ < kLowerSplitDb ? 0 : (ratioDb_ < kUpperSplitDb ? 2 : 3));
        held_ = 0;
        return false;
    }
    ++held_;
    if (held_ < kMinHold) return false;
    const int next = IndexFor(ratioDb_, index_);
    if (next == index_) return false;
    index_ = next;
    held_ = 0;
    return true;
}

}  // namespace velora::sbr

#include "SliderModel.h"

#include <algorithm>
#include <cmath>

namespace veloraplay {

bool SliderModel::set(int value) {
    if (dragging_) return false;
    value_ = value == kIdle ? kIdle : std::clamp(value, 0, 100);
    return true;
}

int SliderModel::valueAt(int x) const {
    const int width = std::max(1, track_ - knob_ - 2 * kMargin);
    const double v = std::floor((x - knob_ / 2.0) * 100.0 / width + 0.5);
    return static_cast<int>(std::clamp(v, 0.0, 100.0));
}

bool SliderModel::press(int x) {
    if (value_ > 100) return false;
    dragging_ = true;
    value_ = valueAt(x);
    return true;
}

std::optional<int> SliderModel::move(int x) {
    if (!dragging_) return std::nullopt;
    const int v = valueAt(x);
    const bool changed = v != value_;
    value_ = v;
    if (postWhileDragging_ && changed && v % 10 == 0) return v;
    return std::nullopt;
}

std::optional<int> SliderModel::release(int x) {
    if (!dragging_) return std::nullopt;
    value_ = valueAt(x);
    dragging_ = false;
    return value_;
}

std::optional<int> SliderModel::knobX() const {
    if (value_ > 100) return std::nullopt;
    const int width = std::max(0, track_ - knob_ - 2 * kMargin);
    return kMargin + value_ * width / 100;
}

}  // namespace veloraplay

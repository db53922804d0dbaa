#include "EqualiserFilter.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace tessura {

namespace {
constexpr double kInactiveBelow = 0.01;

EqualiserFilter& filter(ProcessorInterface* self) {
    return static_cast<EqualiserFilter&>(BuiltinProcessor::of(self));
}

int16_t toSample(double value) {
    const double rounded = std::nearbyint(value);
    if (rounded >= 32767.0) return 32767;
    if (rounded <= -32768.0) return -32768;
    return static_cast<int16_t>(rounded);
}
}  // namespace

const EqualiserFilterInterfaceTable EqualiserFilter::kTable = {
    BuiltinProcessor::commonSlots(),
    [](ProcessorInterface* self, int32_t index, double value) -> int32_t {
        return filter(self).setFilterGain(index, value) ? TESSURA_RESULT_OK : TESSURA_RESULT_FAILED;
    },
    [](ProcessorInterface* self, int32_t on) -> int32_t {
        filter(self).setEnabled(on != 0);
        return TESSURA_RESULT_OK;
    },
};

EqualiserFilter::EqualiserFilter() : BuiltinProcessor(&kTable.common) {
    setFormat(format_);
}

void EqualiserFilter::setFormat(const PcmFormat& format) {
    std::lock_guard<std::mutex> hold(mutex_);
    format_ = format;
    // A rate of zero (or a negative one from a confused plug-in) would divide by zero below:
    // such a stream is passed through untouched instead.
    designed_ = format.rate > 0;
    const double rate = designed_ ? format.rate : 1.0;
    double upper = rate / 2.0;
    for (int k = 0; k < kBands; ++k) {
        Band& b = bands_[k];
        b.bandwidth = k < kBands - 1 ? upper / 2.0 : upper;
        b.centre = upper - b.bandwidth / 2.0;
        upper = b.centre;
        const double c = 1.0 / std::tan(std::numbers::pi * b.bandwidth / rate);
        b.alpha = 1.0 / (c + 1.0);
        b.beta = -2.0 * c * std::cos(2.0 * std::numbers::pi * b.centre / rate) * b.alpha;
        b.gamma = (c - 1.0) * b.alpha;
        b.history = {};
    }
}

bool EqualiserFilter::setFilterGain(int index, double value) {
    if (index < 0 || index >= kBands || !std::isfinite(value)) return false;
    std::lock_guard<std::mutex> hold(mutex_);
    bands_[kBands - 1 - index].gain = (value - 1.0) * 0.75;
    return true;
}

void EqualiserFilter::setEnabled(bool on) {
    std::lock_guard<std::mutex> hold(mutex_);
    enabled_ = on;
}

bool EqualiserFilter::enabled() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return enabled_;
}

EqualiserFilter::Band EqualiserFilter::band(int k) const {
    std::lock_guard<std::mutex> hold(mutex_);
    return bands_.at(static_cast<std::size_t>(k));
}

std::size_t EqualiserFilter::process(uint8_t* data, std::size_t length, std::size_t) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!enabled_ || !designed_ || format_.bits != 16 || format_.channels <= 0) return length;
    std::array<Band*, kBands> active{};
    int count = 0;
    for (Band& b : bands_) {
        if (std::fabs(b.gain) >= kInactiveBelow) active[count++] = &b;
    }
    if (count == 0) return length;

    const std::size_t frameBytes = static_cast<std::size_t>(format_.channels) * 2;
    const std::size_t frames = length / frameBytes;
    const int filtered = format_.channels == 2 ? 2 : 1;
    for (std::size_t f = 0; f < frames; ++f) {
        for (int ch = 0; ch < filtered; ++ch) {
            uint8_t* at = data + f * frameBytes + static_cast<std::size_t>(ch) * 2;
            int16_t in;
            std::memcpy(&in, at, 2);
            double s = in;
            for (int i = 0; i < count; ++i) {
                Band& b = *active[i];
                auto& h = b.history[static_cast<std::size_t>(ch)];  // x1, x2, y1, y2
                const double y = b.alpha * (s - h[1]) - b.beta * h[2] - b.gamma * h[3];
                h = {s, h[0], y, h[2]};
                s += b.gain * y;
            }
            if (!std::isfinite(s)) {
                // Gains large enough to overflow the cascade: this sample is lost, but the
                // history must not stay NaN, or the channel would fall silent for good.
                for (int i = 0; i < count; ++i)
                    active[i]->history[static_cast<std::size_t>(ch)] = {};
                s = 0.0;
            }
            const int16_t out = toSample(s);
            std::memcpy(at, &out, 2);
        }
    }
    return length;
}

PluginInfo EqualiserFilter::info() const {
    return {"Tessura Equaliser",
            "",
            {0x6A3F1C22, 0x5B1E, 0x4C7A, {0x9E, 0x21, 0x0D, 0x44, 0x7B, 0x3A, 0x10, 0x03}},
            1};
}

}  // namespace tessura

#include "BandMeters.h"

#include <algorithm>
#include <cstdio>

namespace veloraplay {
namespace {

// Band edges in units of 344.53125 Hz (one of the enhancement layer's 64 bands at 44.1 kHz).
constexpr int kEdges[BandMeters::kBands + 1] = {0, 1, 2, 4, 7, 11, 16, 22, 32};
constexpr double kBandHz = 344.53125;

}  // namespace

BandMeters::BandMeters() {
    idle();
}

std::array<int, BandMeters::kBands> BandMeters::tick(const std::array<uint8_t, kBands>& peaks) {
    for (int i = 0; i < kBands; ++i) {
        const size_t b = static_cast<size_t>(i);
        const int v = std::min(peaks[b] / 8, kMaxMeter);
        if (v > hold_[b]) {
            hold_[b] = v;
        } else if (hold_[b] > 0) {
            --hold_[b];
        }
        history_[static_cast<size_t>(writeRow_)][b] = hold_[b];
    }
    writeRow_ = (writeRow_ + 1) % kRows;
    const std::array<int, kBands> shown = history_[static_cast<size_t>(readRow_)];
    readRow_ = (readRow_ + 1) % kRows;
    return shown;
}

std::array<int, BandMeters::kBands> BandMeters::idle() {
    for (auto& row : history_) row.fill(0);
    hold_.fill(0);
    return {};
}

int BandMeters::stepForY(int y) {
    if (y < 0) return 0;
    if (y < 7) return kMaxStep;
    return std::clamp(kMaxStep - (y - 3) / 4, 0, kMaxStep);
}

std::array<int, BandMeters::kBands> BandMeters::stepsFromWord(uint32_t word) {
    std::array<int, kBands> steps{};
    for (int i = 0; i < kBands; ++i) {
        steps[static_cast<size_t>(i)] = std::min(static_cast<int>((word >> (4 * i)) & 0xF), kMaxStep);
    }
    return steps;
}

uint32_t BandMeters::wordFromSteps(const std::array<int, kBands>& steps) {
    uint32_t word = 0;
    for (int i = 0; i < kBands; ++i) {
        word |= static_cast<uint32_t>(std::clamp(steps[static_cast<size_t>(i)], 0, kMaxStep)) << (4 * i);
    }
    return word;
}

double BandMeters::centreHz(int band) {
    band = std::clamp(band, 0, kBands - 1);
    return (kEdges[band] + kEdges[band + 1]) * 0.5 * kBandHz;
}

std::string BandMeters::tooltip(int band) {
    const double hz = centreHz(band);
    char text[64];
    if (hz < 1000.0) {
        std::snprintf(text, sizeof text, "Band #%d - Center %dHz", band + 1, static_cast<int>(hz));
    } else {
        std::snprintf(text, sizeof text, "Band #%d - Center %.1fkHz", band + 1, hz * 0.001);
    }
    return text;
}

}  // namespace veloraplay

// The mapping of the eleven model output variables of the basic version to a distortion
// index and an objective difference grade: the published one-hidden-layer network.
#pragma once

#include <array>

namespace velora::bench {

constexpr int kPeaqMovCount = 11;

// In the network's order.
struct PeaqMovs {
    double bandwidthRef = 0.0;    // bins of a 2048-point frame at 48 kHz
    double bandwidthTest = 0.0;
    double totalNmrDb = 0.0;
    double winModDiff1 = 0.0;
    double adb = 0.0;             // average distorted block
    double ehs = 0.0;             // harmonic structure of the error, x 1000
    double avgModDiff1 = 0.0;
    double avgModDiff2 = 0.0;
    double rmsNoiseLoudness = 0.0;
    double mfpd = 0.0;            // maximum filtered probability of detection
    double relDistFrames = 0.0;

    std::array<double, kPeaqMovCount> AsArray() const;
};

struct PeaqGrade {
    double distortionIndex = 0.0;
    double odg = 0.0;  // 0 imperceptible ... -4 very annoying
};

PeaqGrade MapToGrade(const PeaqMovs& movs);

}  // namespace velora::bench

#include "PeaqNetwork.h"

#include <cmath>

namespace velora::bench {
namespace {

constexpr int kHidden = 3;

// The published scaling of each input to [0, 1] and the trained weights.
constexpr std::array<double, kPeaqMovCount> kMin = {393.916656, 361.965332, -24.045116, 1.110661,
                                                    -0.206623,  0.074318,   1.113683,   0.950345,
                                                    0.029985,   0.000101,   0.0};
constexpr std::array<double, kPeaqMovCount> kMax = {921.0,     881.131226, 16.212030,   107.137772,
                                                    2.886017,  13.933351,  63.257874,   1145.018555,
                                                    14.819740, 1.0,        1.0};
constexpr double kInputWeights[kPeaqMovCount][kHidden] = {
    {-0.502657, 0.436333, 1.219602},   {4.307481, 3.246017, 1.123743},   {4.984241, -2.211189, -0.192096},
    {0.051056, -1.762424, 4.331315},   {2.321580, 1.789971, -0.754560},  {-5.303901, -3.452257, -10.814982},
    {2.730991, -6.111805, 1.519223},   {0.624950, -1.331523, -5.955151}, {3.102889, 0.871260, -5.922878},
    {-1.051468, -0.939882, -0.142913}, {-1.804679, -0.503610, -0.620456}};
constexpr double kHiddenBias[kHidden] = {-2.518254, 0.654841, -2.207228};
constexpr double kOutputWeights[kHidden] = {-3.817048, 4.107138, 4.629582};
constexpr double kOutputBias = -0.307594;
constexpr double kGradeMin = -3.98;
constexpr double kGradeMax = 0.22;

double Sigmoid(double x) {
    return 1.0 / (1.0 + std::exp(-x));
}

}  // namespace

std::array<double, kPeaqMovCount> PeaqMovs::AsArray() const {
    return {bandwidthRef, bandwidthTest, totalNmrDb, winModDiff1, adb, ehs, avgModDiff1, avgModDiff2,
            rmsNoiseLoudness, mfpd, relDistFrames};
}

PeaqGrade MapToGrade(const PeaqMovs& movs) {
    const std::array<double, kPeaqMovCount> x = movs.AsArray();
    double index = kOutputBias;
    for (int j = 0; j < kHidden; ++j) {
        double sum = kHiddenBias[j];
        for (int i = 0; i < kPeaqMovCount; ++i)
            sum += kInputWeights[i][j] * (x[static_cast<size_t>(i)] - kMin[static_cast<size_t>(i)]) /
                   (kMax[static_cast<size_t>(i)] - kMin[static_cast<size_t>(i)]);
        index += kOutputWeights[j] * Sigmoid(sum);
    }
    return {index, kGradeMin + (kGradeMax - kGradeMin) * Sigmoid(index)};
}

}  // namespace velora::bench

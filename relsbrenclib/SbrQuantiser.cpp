#include "SbrQuantiser.h"

#include <cmath>

#include "SbrEnvelopeDecoder.h"

namespace velora::sbr {
namespace {

int Clamp(long v, int lo, int hi) {
    return v < lo ? lo : (v > hi ? hi : static_cast<int>(v));
}

// log2 with silence kept finite.
double Log2(float x) {
    return std::log2(static_cast<double>(x) > 1e-30 ? static_cast<double>(x) : 1e-30);
}

}  // namespace

int QuantiseEnergy(float energy, int ampRes) {
    const int steps = ampRes != 0 ? 1 : 2;  // values per octave of energy
    return Clamp(std::lround(steps * (Log2(energy) - 6.0)), 0, EnvelopeLimit(ampRes));
}

int QuantiseNoise(float noiseFloor) {
    return Clamp(std::lround(6.0 - Log2(noiseFloor)), 0, kMaxNoiseValue);
}

void QuantiseCoupledEnergy(float left, float right, int ampRes, int& level, int& balance) {
    // The decoder gives right = 2 L / (1 + r), left = r x right, r = 2^(b / (2 - amp_res) - 12)
    // with b the doubled balance: L is the mean, r the ratio; b moves in steps of 2.
    level = QuantiseEnergy(0.5f * (left + right), ampRes);
    const int steps = ampRes != 0 ? 1 : 2;
    const double ratio = Log2(left) - Log2(right);
    const long half = std::lround((ratio + 12.0) * steps / 2.0);
    balance = 2 * Clamp(half, 0, MaxBalanceSymbol(ampRes));
}

void QuantiseCoupledNoise(float left, float right, int& level, int& balance) {
    // left = y (a + 1), right = y (1 + 1 / a), y = 2^(5 - n1), a = 2^(12 - n2), n2 doubled.
    const double a = Log2(left) - Log2(right);
    const long half = std::lround((12.0 - a) / 2.0);
    balance = 2 * Clamp(half, 0, kMaxNoiseBalanceSymbol);
    const double aq = std::exp2(12.0 - balance);
    const double y = static_cast<double>(left) / (aq + 1.0);
    level = Clamp(std::lround(5.0 - std::log2(y > 1e-30 ? y : 1e-30)), 0, kMaxNoiseValue);
}

}  // namespace velora::sbr

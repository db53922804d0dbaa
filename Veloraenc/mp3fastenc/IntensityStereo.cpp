#include "IntensityStereo.h"

#include <algorithm>
#include <cmath>

namespace velora::enc {
namespace {

constexpr int kLastBand = 21;            // long band without a scale factor
constexpr float kMinCorrelation = 0.8f;  // below it the image would collapse audibly

double Square(float v) {
    return static_cast<double>(v) * static_cast<double>(v);
}

}  // namespace

void IntensityGains(int position, bool mpeg1, float& left, float& right) {
    if (mpeg1) {
        const double angle = position * M_PI / 12.0;
        const double s = std::sin(angle);
        const double c = std::cos(angle);
        left = static_cast<float>(s / (s + c));
        right = static_cast<float>(c / (s + c));
        return;
    }
    left = right = 1.0f;
    if (position == 0) return;
    const float step = static_cast<float>(std::pow(std::sqrt(0.5), (position + 1) / 2));
    if (position & 1)
        left = step;
    else
        right = static_cast<float>(std::pow(std::sqrt(0.5), position / 2));
}

int ChooseIntensityBand(const QuantiserInput& left, const QuantiserInput& right, int firstBand) {
    if (left.windows != 1 || right.windows != 1) return left.bands;
    const int top = std::min(left.usedBands, kLastBand);
    int band = top;
    // Downwards while every band qualifies: correlated in phase, or inaudible in both.
    while (band > firstBand) {
        const int b = band - 1;
        double ll = 0.0;
        double rr = 0.0;
        double lr = 0.0;
        for (int k = left.bounds[b]; k < left.bounds[b + 1]; ++k) {
            ll += Square(left.lines[k]);
            rr += Square(right.lines[k]);
            lr += static_cast<double>(left.lines[k]) * static_cast<double>(right.lines[k]);
        }
        const bool inaudible = left.energy[b] <= left.threshold[b] && right.energy[b] <= right.threshold[b];
        const bool correlated = ll > 0.0 && rr > 0.0 && lr >= static_cast<double>(kMinCorrelation) * std::sqrt(ll * rr);
        if (!inaudible && !correlated) break;
        band = b;
    }
    return band < top ? band : left.bands;
}

void PlanIntensity(const QuantiserInput& left, const QuantiserInput& right, int band, bool mpeg1,
                   IntensityPlan& plan) {
    plan = IntensityPlan{};
    plan.band = band;
    for (int b = band; b < std::min(left.bands, kMaxPartitions); ++b) {
        const double el = static_cast<double>(left.energy[b]);
        const double er = static_cast<double>(right.energy[b]);
        int position = 0;
        if (mpeg1) {
            // Tangent law: left / right = tan(position x 15 degrees).
            const double angle = (el + er) > 0.0 ? std::atan2(std::sqrt(el), std::sqrt(er)) : M_PI / 4.0;
            position = static_cast<int>(std::lround(angle * 12.0 / M_PI));
        } else if (el > 0.0 && er > 0.0) {
            // Steps of 3 dB: even positions lower the right channel, odd ones the left.
            const double db = 10.0 * std::log10(el / er);
            const int steps = std::min(kMaxIntensityPosition / 2, static_cast<int>(std::lround(std::fabs(db) / 3.0103)));
            position = steps == 0 ? 0 : (db > 0.0 ? 2 * steps : 2 * steps - 1);
        } else if (el > 0.0 || er > 0.0) {
            position = el > 0.0 ? kMaxIntensityPosition : kMaxIntensityPosition - 1;
        }
        position = std::clamp(position, 0, kMaxIntensityPosition);
        plan.position[b] = position;
        IntensityGains(position, mpeg1, plan.left[b], plan.right[b]);
    }
}

void ApplyIntensity(const QuantiserInput& left, const QuantiserInput& right, const IntensityPlan& plan,
                    QuantiserInput& first, QuantiserInput& second) {
    if (plan.band >= left.bands) return;
    const float scale = static_cast<float>(kModelScale * kModelScale);
    for (int b = plan.band; b < left.bands; ++b) {
        const int begin = left.bounds[b];
        const int end = left.bounds[b + 1];
        const float kl = plan.left[b];
        const float kr = plan.right[b];
        const float norm = kl * kl + kr * kr;
        double energy = 0.0;
        for (int k = begin; k < end; ++k) {
            const float x = b == kLastBand || !(norm > 0.0f) ? 0.0f : (kl * left.lines[k] + kr * right.lines[k]) / norm;
            first.lines[k] = x;
            second.lines[k] = 0.0f;
            energy += Square(x);
        }
        first.energy[b] = static_cast<float>(energy) * scale;
        // Noise n in the carrier reaches the channels as kl^2 n and kr^2 n.
        const float tl = kl > 0.0f ? left.threshold[b] / (kl * kl) : 1e30f;
        const float tr = kr > 0.0f ? right.threshold[b] / (kr * kr) : 1e30f;
        first.threshold[b] = std::min(tl, tr);
        first.tonality[b] = std::max(left.tonality[b], right.tonality[b]);
        second.energy[b] = 0.0f;
        if (b < kMaxPartitions) second.intensityPosition[b] = b == kLastBand ? 0 : plan.position[b];
    }
    second.intensityBand = plan.band;
    first.perceptualEntropy = PerceptualEntropy(first);
    second.perceptualEntropy = PerceptualEntropy(second);
}

}  // namespace velora::enc

#include "SbrGains.h"

#include <cmath>

#include "SbrMultiversion.h"

namespace velora::sbr {

SBR_MULTIVERSION void ComputeGains(const GainInput& in, float* gain, float* noiseAmplitude) {
    for (int k = 0; k < in.bands; ++k) {
        const double e = static_cast<double>(in.energy[k]);
        const double q = static_cast<double>(in.noise[k]);
        const double current = static_cast<double>(in.current[k]);
        noiseAmplitude[k] = static_cast<float>(std::sqrt(e * q / (1.0 + q)));
        const double g =
            in.withoutNoiseTerm ? e / (1.0 + current) : e / ((1.0 + current) * (1.0 + q));
        gain[k] = static_cast<float>(std::sqrt(g));
    }
    // The limiter keeps each limiter band's gains near the gain that would restore the
    // band's total energy, so one loud band cannot be boosted far beyond its neighbours.
    for (int b = 0; b < in.limiterBands; ++b) {
        const int begin = in.limiterEdges[b];
        const int end = in.limiterEdges[b + 1] < in.bands ? in.limiterEdges[b + 1] : in.bands;
        double sumEnergy = 0.0;
        double sumCurrent = 0.0;
        for (int k = begin; k < end; ++k) {
            sumEnergy += static_cast<double>(in.energy[k]);
            sumCurrent += static_cast<double>(in.current[k]);
        }
        double limit =
            static_cast<double>(in.limiterGain) * std::sqrt((1e-12 + sumEnergy) / (1e-12 + sumCurrent));
        if (limit > static_cast<double>(kMaxLimitedGain)) limit = static_cast<double>(kMaxLimitedGain);
        for (int k = begin; k < end; ++k) {
            if (static_cast<double>(gain[k]) > limit) gain[k] = static_cast<float>(limit);
        }
    }
}

}  // namespace velora::sbr

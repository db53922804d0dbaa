// Envelope adjuster gains: energy restored, noise added in the transmitted proportion,
// and the limiter.
#include "SbrGains.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace velora::sbr {
namespace {

struct Bands {
    std::vector<float> energy;
    std::vector<float> noise;
    std::vector<float> current;
    std::vector<int> edges;
    std::vector<float> gain;
    std::vector<float> noiseAmplitude;

    GainInput Input(float limiterGain) {
        GainInput in;
        in.bands = static_cast<int>(energy.size());
        in.energy = energy.data();
        in.noise = noise.data();
        in.current = current.data();
        in.limiterEdges = edges.data();
        in.limiterBands = static_cast<int>(edges.size()) - 1;
        in.limiterGain = limiterGain;
        return in;
    }
    void Run(float limiterGain, bool withoutNoiseTerm = false) {
        GainInput in = Input(limiterGain);
        in.withoutNoiseTerm = withoutNoiseTerm;
        gain.assign(energy.size(), 0.0f);
        noiseAmplitude.assign(energy.size(), 0.0f);
        ComputeGains(in, gain.data(), noiseAmplitude.data());
    }
};

TEST(sbr_gains, RestoreTheTransmittedEnergyWithNoiseInProportion) {
    Bands b{{1e6f, 4e5f, 2.5e4f}, {0.01f, 0.5f, 1.0f}, {3e5f, 8e4f, 1e5f}, {0, 3}, {}, {}};
    b.Run(kLimiterGains[3]);
    for (size_t k = 0; k < 3; ++k) {
        // Output energy: the gained band plus the noise, against the transmitted energy.
        const double g = b.gain[k];
        const double n = b.noiseAmplitude[k];
        const double e = b.energy[k];
        const double q = b.noise[k];
        const double out = g * g * static_cast<double>(b.current[k]) + n * n;
        EXPECT_NEAR(10.0 * std::log10(out / e), 0.0, 0.01) << k;
        // The noise share is Q / (1 + Q).
        EXPECT_NEAR(n * n / e, q / (1.0 + q), 1e-5) << k;
    }
}

TEST(sbr_gains, SecondModeLeavesOutTheNoiseTerm) {
    Bands b{{1e6f}, {1.0f}, {1e4f}, {0, 1}, {}, {}};
    b.Run(kLimiterGains[3], true);
    EXPECT_NEAR(b.gain[0], std::sqrt(1e6 / (1.0 + 1e4)), 1e-3);
}

TEST(sbr_gains, LimiterCapsBoostsWithinALimiterBand) {
    // One band nearly empty in the generated signal but asked to be loud.
    Bands b{{1e5f, 1e5f}, {0.0f, 0.0f}, {1e5f, 1.0f}, {0, 2}, {}, {}};
    b.Run(kLimiterGains[1]);
    const double limit = std::sqrt((1e-12 + 2e5) / (1e-12 + 1e5 + 1.0));
    EXPECT_NEAR(b.gain[0], std::sqrt(1e5 / (1.0 + 1e5)), 1e-4);  // below the limit: kept
    EXPECT_NEAR(b.gain[1], limit, 1e-4);                          // capped
    // limiter_gains 3 leaves it alone.
    b.Run(kLimiterGains[3]);
    EXPECT_NEAR(b.gain[1], std::sqrt(1e5 / 2.0), 1e-1);
    // The cap never exceeds 100000.
    Bands silent{{1e12f}, {0.0f}, {0.0f}, {0, 1}, {}, {}};
    silent.Run(kLimiterGains[3]);
    EXPECT_FLOAT_EQ(silent.gain[0], kMaxLimitedGain);
}

}  // namespace
}  // namespace velora::sbr

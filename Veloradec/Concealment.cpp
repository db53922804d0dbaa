#include "Concealment.h"

#include <cmath>
#include <cstring>

namespace velora {
namespace {

constexpr int32_t kModulus = 1000000000;
constexpr int32_t kSeedConstant = 161803398;
constexpr uint32_t kSignSeed = 0xFEED4u;
constexpr int32_t kRandomSeed = 42;

}  // namespace

void SubtractiveRandom::Seed(int32_t seed) {
    int32_t mj = (kSeedConstant - (seed < 0 ? -seed : seed)) % kModulus;
    state_[55] = mj;
    int32_t mk = 1;
    for (int i = 1; i <= 54; ++i) {
        const int ii = (21 * i) % 55;
        state_[ii] = mk;
        mk = mj - mk;
        if (mk < 0) mk += kModulus;
        mj = state_[ii];
    }
    for (int round = 0; round < 4; ++round) {
        for (int i = 1; i <= 55; ++i) {
            state_[i] -= state_[1 + (i + 30) % 55];
            if (state_[i] < 0) state_[i] += kModulus;
        }
    }
    next_ = 0;
    nextP_ = 31;
}

int32_t SubtractiveRandom::Next() {
    if (++next_ == 56) next_ = 1;
    if (++nextP_ == 56) nextP_ = 1;
    int32_t mj = state_[next_] - state_[nextP_];
    if (mj < 0) mj += kModulus;
    state_[next_] = mj;
    return mj;
}

void Concealment::Reset() {
    std::memset(static_cast<void*>(channels_), 0, sizeof(channels_));
    for (Channel& c : channels_) {
        for (GranuleInfo& g : c.info) g = GranuleInfo{};
    }
    signRegister_ = kSignSeed;
    randomSeeded_ = false;
}

void Concealment::Store(int channel, const float spectrum[576], const GranuleInfo& info) {
    if (info.ShortBlocks()) return;
    Channel& c = channels_[channel];
    std::memcpy(c.ring[c.index], spectrum, sizeof(float) * 576);
    c.info[c.index] = info;
    c.index = (c.index + 1) & 3;
    if (c.stored < 4) ++c.stored;
    c.meanValid = false;
}

void Concealment::UpdateMean(Channel& c, const ScaleFactorBands& bands) {
    for (int i = 0; i < 576; ++i) {
        float sum = 0.0f;
        for (int slot = 0; slot < 4; ++slot) sum += std::fabs(c.ring[slot][i]);
        c.mean[i] = sum * 0.25f;
    }
    for (int band = 0; band < 22; ++band) {
        float energy = 0.0f;
        for (int i = bands.longBounds[static_cast<size_t>(band)];
             i < bands.longBounds[static_cast<size_t>(band) + 1]; ++i) {
            energy += c.mean[i] * c.mean[i];
        }
        c.bandEnergy[band] = energy;
    }
    c.meanValid = true;
}

float Concealment::NextSign() {
    if (signRegister_ & 0x80000000u) {
        signRegister_ = ((signRegister_ ^ 9u) << 1) | 1u;
        return 1.0f;
    }
    signRegister_ <<= 1;
    return -1.0f;
}

void Concealment::Conceal(int channel, const ScaleFactorBands& bands, float spectrum[576],
                          GranuleInfo& info) {
    Channel& c = channels_[channel];
    if (c.stored == 0) {
        std::memset(spectrum, 0, sizeof(float) * 576);
        info.nonzeroLines = 0;
        return;
    }
    if (!c.meanValid) UpdateMean(c, bands);
    if (!randomSeeded_) {
        random_.Seed(kRandomSeed);
        randomSeeded_ = true;
    }
    info = c.info[(c.index + 3) & 3];

    for (int band = 0; band < 22; ++band) {
        const int begin = bands.longBounds[static_cast<size_t>(band)];
        const int end = bands.longBounds[static_cast<size_t>(band) + 1];
        const float target = c.bandEnergy[band];
        if (!(target > 0.0f)) {
            for (int i = begin; i < end; ++i) spectrum[i] = 0.0f;
            continue;
        }
        float generated = 0.0f;
        for (int i = begin; i < end; ++i) {
            const float v = band == 0 ? c.mean[i] * NextSign()
                                      : static_cast<float>(random_.Next()) * 1e-9f - 0.5f;
            spectrum[i] = v;
            generated += v * v;
        }
        if (generated > 0.0f) {
            const float scale = std::sqrt(target / generated);
            for (int i = begin; i < end; ++i) spectrum[i] *= scale;
        }
    }
    for (int i = bands.longBounds[22]; i < 576; ++i) spectrum[i] = 0.0f;
    info.nonzeroLines = bands.longBounds[22];
    info.longBandCount = 22;
}

}  // namespace velora

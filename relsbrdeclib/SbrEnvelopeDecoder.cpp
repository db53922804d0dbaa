#include "SbrEnvelopeDecoder.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace velora::sbr {
namespace {

// Quantised values of one frame, before dequantisation.
struct Quantised {
    SbrFrameInfo grid;
    float env[kMaxEnvelopes][kMaxMasterBands];
    float noise[kMaxNoiseEnvelopes][kMaxNoiseBands];
};

struct References {
    float envelope[kMaxMasterBands];
    float noise[kMaxNoiseBands];
};

// Band counts limited to the arrays, whatever the tables hold.
int HighBands(const SbrFreqData& f) {
    return std::clamp(f.highBands, 0, kMaxMasterBands);
}
int LowBands(const SbrFreqData& f) {
    return std::clamp(f.lowBands, 0, kMaxMasterBands);
}
int NoiseBands(const SbrFreqData& f) {
    return std::clamp(f.noiseBandCount, 0, kMaxNoiseBands);
}

bool GridUsable(const SbrFrameInfo& g) {
    if (g.envelopes < 1 || g.envelopes > kMaxEnvelopes) return false;
    if (g.noiseEnvelopes < 1 || g.noiseEnvelopes > kMaxNoiseEnvelopes) return false;
    if (g.borders[0] < 0 || g.borders[g.envelopes] > 12) return false;
    for (int e = 0; e < g.envelopes; ++e) {
        if (g.borders[e] >= g.borders[e + 1]) return false;
    }
    for (int n = 0; n < g.noiseEnvelopes; ++n) {
        if (g.noiseBorders[n] >= g.noiseBorders[n + 1]) return false;
    }
    return true;
}

// The high-resolution bands [first, end) that low-resolution band k covers: from the one
// starting at the low band's lower edge up to the low band's upper edge.
void CoveredHighBands(const SbrFreqData& f, int k, int& first, int& end) {
    const int high = HighBands(f);
    first = 0;
    while (first < high && f.high[first] < f.low[k]) ++first;
    end = first;
    while (end < high && f.high[end] < f.low[k + 1]) ++end;
    if (first >= high) first = end = std::max(high - 1, 0);
    if (end == first && high > 0) end = first + 1;
}

void SaveReferences(const SbrEnvelopeData& env, References& r) {
    std::copy(env.referenceEnvelope, env.referenceEnvelope + kMaxMasterBands, r.envelope);
    std::copy(env.referenceNoise, env.referenceNoise + kMaxNoiseBands, r.noise);
}

void RestoreReferences(const References& r, SbrEnvelopeData& env) {
    std::copy(r.envelope, r.envelope + kMaxMasterBands, env.referenceEnvelope);
    std::copy(r.noise, r.noise + kMaxNoiseBands, env.referenceNoise);
}

// Delta decoding of the parsed values into `q`, updating the references. False on a
// value above the limit (the references are then partly updated; the caller restores).
bool DeltaDecode(const SbrChannelData& data, const SbrFreqData& f, int ampRes, SbrEnvelopeData& env,
                 Quantised& q) {
    const float limit = static_cast<float>(EnvelopeLimit(ampRes));
    const int high = HighBands(f);
    const int low = LowBands(f);
    for (int e = 0; e < q.grid.envelopes; ++e) {
        const bool highRes = q.grid.freqRes[e] != 0;
        const int bands = highRes ? high : low;
        float raw[kMaxMasterBands];
        for (int i = 0; i < bands; ++i) {
            const float coded = static_cast<float>(data.envelope[e][i]);
            if (data.deltaTime[e] != 0) {
                int first = i;
                int end = i + 1;
                if (!highRes) CoveredHighBands(f, i, first, end);
                raw[i] = env.referenceEnvelope[first] + coded;
            } else {
                raw[i] = i == 0 ? coded : raw[i - 1] + coded;
            }
        }
        for (int i = 0; i < bands; ++i) {
            if (raw[i] > limit) return false;
            const float value = std::max(raw[i], 0.0f);
            q.env[e][i] = value;
            int first = i;
            int end = i + 1;
            if (!highRes) CoveredHighBands(f, i, first, end);
            for (int j = first; j < end; ++j) env.referenceEnvelope[j] = value;
        }
    }
    const int noiseBands = NoiseBands(f);
    for (int n = 0; n < q.grid.noiseEnvelopes; ++n) {
        float previous = 0.0f;
        for (int i = 0; i < noiseBands; ++i) {
            const float coded = static_cast<float>(data.noise[n][i]);
            float raw = 0.0f;
            if (data.noiseDeltaTime[n] != 0) {
                raw = env.referenceNoise[i] + coded;
            } else {
                raw = i == 0 ? coded : previous + coded;
            }
            previous = raw;
            const float value = std::clamp(raw, 0.0f, limit);
            q.noise[n][i] = value;
            env.referenceNoise[i] = value;
        }
    }
    return true;
}

// One envelope and one noise envelope from the previous frame's end to this frame's end,
// high resolution, over time, drifting from the references.
void Conceal(const SbrFreqData& f, bool balance, int ampRes, SbrEnvelopeData& env, Quantised& q) {
    const int start = std::clamp(env.previousLastBorder - kFrameSlots, 0, kFrameSlots - 1);
    q.grid = SbrFrameInfo{};
    q.grid.frameClass = 0;
    q.grid.envelopes = 1;
    q.grid.borders[0] = start;
    q.grid.borders[1] = kFrameSlots;
    q.grid.freqRes[0] = 1;
    q.grid.pointer = 0;
    q.grid.noiseEnvelopes = 1;
    q.grid.noiseBorders[0] = start;
    q.grid.noiseBorders[1] = kFrameSlots;
    const float limit = static_cast<float>(EnvelopeLimit(ampRes));
    const int high = HighBands(f);
    for (int i = 0; i < high; ++i) {
        const float reference = env.referenceEnvelope[i];
        float delta = 0.0f;
        if (balance) {
            delta = reference > 12.0f ? -0.5f : 0.5f;
        } else {
            delta = reference > 0.0f ? -1.0f : 1.0f;
        }
        const float value = std::clamp(reference + delta, 0.0f, limit);
        q.env[0][i] = value;
        env.referenceEnvelope[i] = value;
    }
    const int noiseBands = NoiseBands(f);
    for (int i = 0; i < noiseBands; ++i) {
        q.noise[0][i] = std::clamp(env.referenceNoise[i], 0.0f, limit);
        env.referenceNoise[i] = q.noise[0][i];
    }
}

// First good frame after a concealed one: the concealed frame ended at the previous last
// border; the first envelope is stretched (or shortened) to start there.
void JoinConcealedFrame(const SbrEnvelopeData& env, const SbrFreqData& f, int ampRes, bool rescale,
                        Quantised& q) {
    const int target = env.previousLastBorder - kFrameSlots;
    const int b0 = q.grid.borders[0];
    const int b1 = q.grid.borders[1];
    if (target == b0 || target < 0 || target >= b1 || q.grid.noiseBorders[1] <= target) return;
    if (rescale) {
        const float steps = static_cast<float>(
            (2 - ampRes) * std::log2(static_cast<double>(b1 - b0) / (b1 - target)));
        const int bands = q.grid.freqRes[0] != 0 ? HighBands(f) : LowBands(f);
        for (int i = 0; i < bands; ++i) q.env[0][i] += steps;
    }
    q.grid.borders[0] = target;
    q.grid.noiseBorders[0] = target;
}

void Finish(const Quantised& q, int ampRes, bool balance, bool concealed, SbrEnvelopeData& env) {
    env.grid = q.grid;
    env.ampRes = ampRes;
    env.balance = balance;
    env.frameError = concealed;
    env.previousLastBorder = q.grid.borders[q.grid.envelopes];
    for (auto& row : env.envelope) std::fill(std::begin(row), std::end(row), 0.0f);
    for (auto& row : env.noise) std::fill(std::begin(row), std::end(row), 0.0f);
}

int EnvelopeBands(const SbrFreqData& f, const SbrFrameInfo& g, int e) {
    return g.freqRes[e] != 0 ? HighBands(f) : LowBands(f);
}

double Energy(float value, int ampRes) {
    return 64.0 * std::exp2(static_cast<double>(value) / (2 - ampRes));
}

void Dequantise(const Quantised& q, const SbrFreqData& f, int ampRes, SbrEnvelopeData& env) {
    for (int e = 0; e < q.grid.envelopes; ++e) {
        const int bands = EnvelopeBands(f, q.grid, e);
        for (int i = 0; i < bands; ++i) {
            env.envelope[e][i] = static_cast<float>(Energy(q.env[e][i], ampRes));
        }
    }
    const int noiseBands = NoiseBands(f);
    for (int n = 0; n < q.grid.noiseEnvelopes; ++n) {
        for (int i = 0; i < noiseBands; ++i) {
            env.noise[n][i] =
                static_cast<float>(std::exp2(6.0 - static_cast<double>(q.noise[n][i])));
        }
    }
}

void DequantiseCoupled(const Quantised& ql, const Quantised& qb, const SbrFreqData& f, int ampRes,
                       SbrEnvelopeData& left, SbrEnvelopeData& right) {
    for (int e = 0; e < ql.grid.envelopes; ++e) {
        const int bands = EnvelopeBands(f, ql.grid, e);
        for (int i = 0; i < bands; ++i) {
            const double level = Energy(ql.env[e][i], ampRes);
            // Balance energy B = 64 * 2^(b / (2 - amp_res)); r = B * 2^-12 / 64.
            const double ratio = Energy(qb.env[e][i], ampRes) * std::exp2(-12.0) / 64.0;
            const double r = 2.0 * level / (1.0 + ratio);
            right.envelope[e][i] = static_cast<float>(r);
            left.envelope[e][i] = static_cast<float>(ratio * r);
        }
    }
    const int noiseBands = NoiseBands(f);
    for (int n = 0; n < ql.grid.noiseEnvelopes; ++n) {
        for (int i = 0; i < noiseBands; ++i) {
            const double y = std::exp2(5.0 - static_cast<double>(ql.noise[n][i]));
            const double a = std::exp2(12.0 - static_cast<double>(qb.noise[n][i]));
            left.noise[n][i] = static_cast<float>(y * (a + 1.0));
            right.noise[n][i] = static_cast<float>(y * (1.0 + 1.0 / a));
        }
    }
}

bool FrameMarked(const SbrChannelData& data) {
    return data.frameError || data.errorState;
}

}  // namespace

void ResetEnvelopes(SbrEnvelopeData& env) {
    env = SbrEnvelopeData{};
}

bool DecodeEnvelopes(const SbrChannelData& data, const SbrFreqData& freq, int ampRes,
                     SbrEnvelopeData& env) {
    ampRes = ampRes != 0 ? 1 : 0;
    Quantised q{};
    const bool afterConcealment = env.frameError;
    bool concealed = FrameMarked(data) || !GridUsable(data.grid);
    if (!concealed) {
        References saved;
        SaveReferences(env, saved);
        q.grid = data.grid;
        if (!DeltaDecode(data, freq, ampRes, env, q)) {
            RestoreReferences(saved, env);
            concealed = true;
        }
    }
    if (concealed) {
        Conceal(freq, false, ampRes, env, q);
    } else if (afterConcealment) {
        JoinConcealedFrame(env, freq, ampRes, true, q);
    }
    Finish(q, ampRes, false, concealed, env);
    Dequantise(q, freq, ampRes, env);
    return !concealed;
}

bool DecodeCoupledEnvelopes(const SbrChannelData& level, const SbrChannelData& balance,
                            const SbrFreqData& freq, int ampRes, SbrEnvelopeData& left,
                            SbrEnvelopeData& right) {
    ampRes = ampRes != 0 ? 1 : 0;
    Quantised ql{};
    Quantised qb{};
    const bool afterConcealment = left.frameError || right.frameError;
    bool concealed = FrameMarked(level) || FrameMarked(balance) || !GridUsable(level.grid);
    if (!concealed) {
        References savedLeft;
        References savedRight;
        SaveReferences(left, savedLeft);
        SaveReferences(right, savedRight);
        ql.grid = level.grid;
        qb.grid = level.grid;
        const bool levelOk = DeltaDecode(level, freq, ampRes, left, ql);
        const bool balanceOk = levelOk && DeltaDecode(balance, freq, ampRes, right, qb);
        if (!balanceOk) {
            RestoreReferences(savedLeft, left);
            RestoreReferences(savedRight, right);
            concealed = true;
        }
    }
    if (concealed) {
        right.previousLastBorder = left.previousLastBorder;
        Conceal(freq, false, ampRes, left, ql);
        Conceal(freq, true, ampRes, right, qb);
    } else if (afterConcealment) {
        JoinConcealedFrame(left, freq, ampRes, true, ql);
        qb.grid = ql.grid;
    }
    Finish(ql, ampRes, false, concealed, left);
    Finish(qb, ampRes, true, concealed, right);
    DequantiseCoupled(ql, qb, freq, ampRes, left, right);
    return !concealed;
}

}  // namespace velora::sbr

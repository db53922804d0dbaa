#include "SbrDeltaCoder.h"

#include "SbrEnvelopeDecoder.h"

namespace velora::sbr {
namespace {

constexpr int kUnusable = 1 << 20;

struct Books {
    const SbrHuffmanCodeTable* time;
    const SbrHuffmanCodeTable* freq;
    int firstBits;  // bits of the absolute first value over frequency
    int unit;       // stored value per symbol: 2 for balance values
    int limit;      // largest stored value
};

Books EnvelopeBooks(const SbrPayloadWriter& w, int ampRes, bool balance) {
    Books b{};
    if (balance) {
        b.time = &w.Codes(ampRes == 0 ? SbrCodebook::kBalance15Time : SbrCodebook::kBalance30Time);
        b.freq = &w.Codes(ampRes == 0 ? SbrCodebook::kBalance15Freq : SbrCodebook::kBalance30Freq);
        b.firstBits = ampRes == 0 ? 6 : 5;
        b.unit = 2;
        b.limit = 2 * MaxBalanceSymbol(ampRes);
    } else {
        b.time = &w.Codes(ampRes == 0 ? SbrCodebook::kEnvelope15Time : SbrCodebook::kEnvelope30Time);
        b.freq = &w.Codes(ampRes == 0 ? SbrCodebook::kEnvelope15Freq : SbrCodebook::kEnvelope30Freq);
        b.firstBits = ampRes == 0 ? 7 : 6;
        b.unit = 1;
        b.limit = EnvelopeLimit(ampRes);
    }
    return b;
}

Books NoiseBooks(const SbrPayloadWriter& w, bool balance) {
    Books b{};
    b.time = &w.Codes(balance ? SbrCodebook::kNoiseBalanceTime : SbrCodebook::kNoiseTime);
    b.freq = &w.Codes(balance ? SbrCodebook::kBalance30Freq : SbrCodebook::kEnvelope30Freq);
    b.firstBits = 5;
    b.unit = balance ? 2 : 1;
    b.limit = balance ? 2 * kMaxNoiseBalanceSymbol : kMaxNoiseValue;
    return b;
}

int Clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

// The symbol nearest to `wanted` that the table codes (tables code contiguous ranges).
int Codable(const SbrHuffmanCodeTable& t, int wanted) {
    const int s = Clamp(wanted, t.symbolMin, t.symbolMax);
    return t.Has(s) ? s : 0;
}

int CodeBits(const SbrHuffmanCodeTable& t, int symbol) {
    return t.Has(symbol) ? t.length[symbol - t.symbolMin] : kUnusable;
}

// One row of values coded over frequency: absolute first value, then band-to-band deltas.
// Writes the coded symbols (times unit) and the decoded values; returns the bits.
int OverFrequency(const Books& b, const int32_t* wanted, int count, int32_t* coded, int32_t* decoded) {
    const int maxFirst = ((1 << b.firstBits) - 1) * b.unit;
    int bits = b.firstBits;
    int previous = Clamp(wanted[0], 0, b.limit < maxFirst ? b.limit : maxFirst) / b.unit;
    coded[0] = previous * b.unit;
    decoded[0] = previous * b.unit;
    for (int i = 1; i < count; ++i) {
        const int target = Clamp(wanted[i], 0, b.limit) / b.unit;
        int symbol = Codable(*b.freq, target - previous);
        // Stay within the decoder's range when the delta had to be limited.
        while (previous + symbol < 0) ++symbol;
        while ((previous + symbol) * b.unit > b.limit) --symbol;
        bits += CodeBits(*b.freq, symbol);
        previous += symbol;
        coded[i] = symbol * b.unit;
        decoded[i] = previous * b.unit;
    }
    return bits;
}

// One row coded over time against `reference[map[i]]`.
int OverTime(const Books& b, const int32_t* wanted, int count, const int32_t* reference, const int* map,
             int32_t* coded, int32_t* decoded) {
    int bits = 0;
    for (int i = 0; i < count; ++i) {
        const int ref = reference[map[i]] / b.unit;
        const int target = Clamp(wanted[i], 0, b.limit) / b.unit;
        int symbol = Codable(*b.time, target - ref);
        while (ref + symbol < 0) ++symbol;
        while ((ref + symbol) * b.unit > b.limit) --symbol;
        bits += CodeBits(*b.time, symbol);
        coded[i] = symbol * b.unit;
        decoded[i] = (ref + symbol) * b.unit;
    }
    return bits;
}

}  // namespace

void CoveredHighBands(const SbrFreqData& f, int k, int& first, int& end) {
    const int high = f.highBands;
    first = 0;
    while (first < high && f.high[first] < f.low[k]) ++first;
    end = first;
    while (end < high && f.high[end] < f.low[k + 1]) ++end;
    if (first >= high) first = end = high > 0 ? high - 1 : 0;
    if (end == first && high > 0) end = first + 1;
}

int DeltaCode(const SbrPayloadWriter& writer, const SbrFreqData& freq, const DeltaOptions& o,
              QuantisedChannel& v, DeltaReference& ref, SbrChannelData& out) {
    const Books env = EnvelopeBooks(writer, o.ampRes, v.balance);
    const Books noise = NoiseBooks(writer, v.balance);
    out.grid = v.grid;
    int total = 0;
    for (int e = 0; e < v.grid.envelopes && e < kMaxEnvelopes; ++e) {
        const bool highRes = v.grid.freqRes[e] != 0;
        const int count = highRes ? freq.highBands : freq.lowBands;
        int map[kMaxMasterBands];
        for (int i = 0; i < count; ++i) {
            int first = i, end = i + 1;
            if (!highRes) CoveredHighBands(freq, i, first, end);
            map[i] = first;
        }
        int32_t fCoded[kMaxMasterBands], fDecoded[kMaxMasterBands];
        int32_t tCoded[kMaxMasterBands], tDecoded[kMaxMasterBands];
        const int fBits = OverFrequency(env, v.envelope[e], count, fCoded, fDecoded);
        const bool timeAllowed = !(e == 0 && o.firstOverFrequency);
        const int tBits = timeAllowed ? OverTime(env, v.envelope[e], count, ref.envelope, map, tCoded, tDecoded)
                                      : kUnusable;
        const bool time = tBits < fBits;
        out.deltaTime[e] = time ? 1 : 0;
        const int32_t* coded = time ? tCoded : fCoded;
        const int32_t* decoded = time ? tDecoded : fDecoded;
        for (int i = 0; i < count; ++i) {
            out.envelope[e][i] = coded[i];
            v.envelope[e][i] = decoded[i];
            int first = i, end = i + 1;
            if (!highRes) CoveredHighBands(freq, i, first, end);
            for (int j = first; j < end; ++j) ref.envelope[j] = decoded[i];
        }
        total += time ? tBits : fBits;
    }
    const int bands = freq.noiseBandCount;
    int identity[kMaxNoiseBands];
    for (int i = 0; i < kMaxNoiseBands; ++i) identity[i] = i;
    for (int n = 0; n < v.grid.noiseEnvelopes && n < kMaxNoiseEnvelopes; ++n) {
        int32_t fCoded[kMaxNoiseBands], fDecoded[kMaxNoiseBands];
        int32_t tCoded[kMaxNoiseBands], tDecoded[kMaxNoiseBands];
        const int fBits = OverFrequency(noise, v.noise[n], bands, fCoded, fDecoded);
        const bool timeAllowed = !(n == 0 && o.firstOverFrequency);
        const int tBits =
            timeAllowed ? OverTime(noise, v.noise[n], bands, ref.noise, identity, tCoded, tDecoded) : kUnusable;
        const bool time = tBits < fBits;
        out.noiseDeltaTime[n] = time ? 1 : 0;
        for (int i = 0; i < bands; ++i) {
            out.noise[n][i] = time ? tCoded[i] : fCoded[i];
            v.noise[n][i] = time ? tDecoded[i] : fDecoded[i];
            ref.noise[i] = v.noise[n][i];
        }
        total += time ? tBits : fBits;
    }
    return total;
}

}  // namespace velora::sbr

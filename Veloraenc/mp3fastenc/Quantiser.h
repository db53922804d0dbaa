// The Layer III quantiser: for one granule of one channel and a bit target, the global gain,
// scale factors and scale-factor scaling that keep the quantisation noise of each band under
// its threshold as far as the bits allow.
//
// The search: an inner loop finds the smallest global gain whose spectrum fits the target;
// an outer loop raises the scale factors of the bands whose noise exceeds their threshold and
// runs the inner loop again, for a bounded number of rounds, and keeps the round with the
// least audible noise (the sum of the bands' excess over their thresholds in dB).
#pragma once

#include <cstdint>

#include "Layer3Granule.h"
#include "PsychoacousticModel.h"

namespace velora::enc {

constexpr int kMaxQuantised = 8206;  // 15 + 2^13 - 1, the largest escape value

// Bit counts of a candidate, from the frame writer's coders.
class GranuleBitCounter {
public:
    virtual ~GranuleBitCounter() = default;
    // Huffman bits of the quantised values (part 3).
    virtual int SpectrumBits(const QuantisedGranule& granule) const = 0;
    // Bits of the scale factors (part 2), or -1 when no scalefac_compress can carry them.
    virtual int ScalefactorBits(const QuantisedGranule& granule) const = 0;
    // Whether SpectrumBits(granule) <= limit, and in `bits` that count, or when the answer
    // came without it, -1 - a lower bound of it; a counter may answer for less than a count.
    virtual bool SpectrumFits(const QuantisedGranule& granule, int limit, int& bits) const {
        bits = SpectrumBits(granule);
        return bits <= limit;
    }
};

struct QuantiserResult {
    int32_t bits = 0;         // part 2 + part 3
    int32_t rounds = 0;       // outer-loop rounds run
    float overNoiseDb = 0.0f; // sum over bands of max(0, noise / threshold in dB)
    int32_t bandsOver = 0;    // bands whose noise exceeds their threshold
    float noise[kMaxQuantiserBands] = {};  // per band, model scale
};

class Quantiser {
public:
    // `maxRounds` bounds the outer loop (the speed / quality trade); MPEG-1 streams may use
    // the pre-emphasis flag.
    void Init(int maxRounds, bool mpeg1, int patience = 2);
    // Quantises `in` into `out` with at most `targetBits` of part 2 + part 3. Returns false
    // only when even the coarsest quantisation does not fit (the result is then that).
    bool Quantise(const QuantiserInput& in, int targetBits, const GranuleBitCounter& counter,
                  QuantisedGranule& out, QuantiserResult& result);

    // VBR: the coarsest quantisation that keeps every band's noise under its threshold,
    // found band by band (each band's step, the global gain from the coarsest, scale factors
    // for the finer ones), within `maxBits` (beyond it the gain rises as in Quantise).
    bool QuantiseToThresholds(const QuantiserInput& in, int maxBits, const GranuleBitCounter& counter,
                              QuantisedGranule& out, QuantiserResult& result);

    // Building blocks, also used by tests.
    // Quantisation step of band b in quarter steps of 2^(1/4) relative to global gain 210.
    static int BandStep(const QuantisedGranule& g, int band, int windows);
    // Quantises every band of `in` with the gains and scale factors of `g` into g.values;
    // returns the largest magnitude.
    int QuantiseAll(const QuantiserInput& in, QuantisedGranule& g) const;
    // What a decoder makes of g.values: signed line values in model scale, in the order of
    // in.lines.
    static void Dequantise(const QuantiserInput& in, const QuantisedGranule& g, float* lines);
    // Noise energy per band (model scale) of the quantised values in `g`.
    void BandNoise(const QuantiserInput& in, const QuantisedGranule& g, float* noise) const;

private:
    // The coarsest step (quarter steps relative to gain 210) at which band b's noise stays
    // under `threshold`; the search starts at `guess` (the band's last answer). `nearEnough`:
    // a step whose noise lies within one step's rise of the threshold ends the search (the
    // step or the one under it), for a start the outer loop refines anyway.
    int CoarsestStep(const QuantiserInput& in, int band, float threshold, int guess, bool nearEnough) const;
    float NoiseAtStep(const QuantiserInput& in, int band, int step) const;
    void PrepareLines(const QuantiserInput& in);
    // Sets the global gain and scale factors that give every audible band the coarsest step
    // its threshold allows, the steps' differences taken at `depth` of their size (1: the
    // thresholds met as they are), and with `floorDb` > 0 no band's noise above its energy
    // that far down; false when no band needs a step.
    bool ShapeToThresholds(const QuantiserInput& in, const GranuleBitCounter& counter, float depth, float floorDb,
                           QuantisedGranule& g);
    // Gives the band below an intensity band a non-zero value when it has none; returns the
    // granule's bits (part 2 + part 3).
    int KeepIntensityBound(const QuantiserInput& in, int targetBits, const GranuleBitCounter& counter,
                           QuantisedGranule& g) const;
    void Summarise(const QuantiserInput& in, const QuantisedGranule& g, int bits, QuantiserResult& result) const;
    int SearchGain(const QuantiserInput& in, int targetBits, int part2Bits,
                   const GranuleBitCounter& counter, QuantisedGranule& g);

    int maxRounds_ = 8;
    int patience_ = 2;  // rounds without a better result before the search stops
    int lastGain_ = 180;  // where the next gain search starts
    bool mpeg1_ = true;
    int lastSteps_[kMaxQuantiserBands] = {};  // each band's coarsest allowed step, last granule
    int shapeOffset_ = 0;                     // last fitted gain less the shape's own
    float xr34_[kGranuleLines] = {};  // |x|^(3/4) of the current granule (model scale)
    int32_t fittedValues_[kGranuleLines] = {};  // the gain search's last fitting values
};

}  // namespace velora::enc

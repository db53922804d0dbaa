// Huffman coding of the quantised spectrum of one granule and channel (the main data behind
// its scale factors): the big-values / count1 boundary, the regions and their tables, the
// count1 table, the bit count and the writing. The quantiser counts candidates many times
// per granule, so counting writes nothing and reuses per-band sums across the region splits
// it tries.
#pragma once

#include <cstdint>

#include "BitWriter.h"
#include "Layer3Granule.h"
#include "Layer3Tables.h"

namespace velora::enc {

// Largest magnitude any table codes: 15 + 2^13 - 1.
constexpr int kMaxCodableValue = 8206;
// What CountBits returns for a spectrum with a larger value: more than any granule may use.
constexpr int kUncodableBits = 1 << 20;

// How one granule's values are coded; everything the side information says about the Huffman data.
struct SpectrumPlan {
    int32_t bigValues = 0;  // pairs coded with the region tables
    int32_t count1End = 0;  // big values, then quadruples up to this line
    int32_t tableSelect[3] = {};
    int32_t region0Count = 0;  // long blocks; implied by the block type otherwise
    int32_t region1Count = 0;
    int32_t regionEnd[3] = {};  // line where each region ends
    int32_t count1Table = 0;    // 0 table A, 1 table B
    int32_t bits = 0;           // Huffman bits
    bool codable = true;        // false: a value above kMaxCodableValue
};

struct HuffmanWork;

class SpectrumCoder {
  public:
    // `version` 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5; `samplingIndex` 0..2. False for other values.
    bool Init(int version, int samplingIndex);

    // Huffman bits of `values` (576 lines in bitstream order) for `blockType`, or
    // kUncodableBits. Equal to plan.bits of Plan and to what Write writes.
    int CountBits(const int32_t values[kGranuleLines], int blockType) const;
    int SpectrumBits(const QuantisedGranule& granule) const {
        return CountBits(granule.values, granule.blockType);
    }

    // Chooses the coding; false (plan.codable false) when a value cannot be coded.
    bool Plan(const int32_t values[kGranuleLines], int blockType, SpectrumPlan& plan) const;
    // Whether CountBits(values, blockType) <= limit; a lower bound of the bits decides it
    // without the table choice when it can. `bits`: the count, or -1 - that bound when it
    // decided.
    bool Fits(const int32_t values[kGranuleLines], int blockType, int limit, int& bits) const;
    // Writes the Huffman data of a codable plan made for these values.
    void Write(const int32_t values[kGranuleLines], const SpectrumPlan& plan, BitWriter& out) const;

    const ScaleFactorBands& Bands() const { return *bands_; }

  private:
    bool Prepare(const int32_t values[kGranuleLines], int blockType, SpectrumPlan& plan, HuffmanWork& w,
                 int& quadA, int& quadB) const;
    void Finish(HuffmanWork& w, int blockType, int quadA, int quadB, SpectrumPlan& plan) const;

    const ScaleFactorBands* bands_ = &kScaleFactorBands[0][0];
    // Short blocks: the first region's end in lines.
    int shortRegionEnd_ = 36;
    // Decoders disagree where the first region of a short block ends at 8 kHz; one table for
    // both regions makes the boundary irrelevant there.
    bool shortOneTable_ = false;
};

}  // namespace velora::enc

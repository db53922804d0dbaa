// The Layer III Huffman codes as the encoder needs them: code word and length by value, and
// the bit counts of candidate tables packed side by side, so that one pass over a region
// sums the cost of every candidate at once. Generated at build time from
// Veloradec/tables/huffman_codes.txt by tools/huffman_code_gen.
#pragma once

#include <cstdint>

namespace velora::enc {

constexpr int kPairTableCount = 32;
constexpr int kQuadTableA = 0;
constexpr int kQuadTableB = 1;

// Pair tables are indexed by (x << 4) | y with x, y the magnitudes (escape tables: at most 15,
// the escape). Quadruple tables by v * 8 + w * 4 + x * 2 + y.
constexpr int PairIndex(int x, int y) {
    return (x << 4) | y;
}

// A code entry: the code word in bits 5 and up (first bit most significant), its length in
// bits 0..4. Zero where the table has no code.
constexpr uint32_t CodeWord(uint32_t entry) {
    return entry >> 5;
}
constexpr int CodeLength(uint32_t entry) {
    return static_cast<int>(entry & 31u);
}

struct PairCodeTable {
    const uint32_t* words;  // 256 entries; null for tables 0, 4 and 14
    int32_t linbits;
    int32_t maxValue;  // largest magnitude the table codes; 0 for table 0, -1 for 4 and 14
};

extern const PairCodeTable kPairCodeTables[kPairTableCount];
extern const uint32_t kQuadCodeWords[2][16];

// Bits of one pair (code length plus one sign bit per non-zero value) under the candidates of
// one row of the table choice, the first candidate in the highest lane. 32-bit entries have
// two 16-bit lanes; 64-bit entries three 16-bit lanes (bits 32..47, 16..31, 0..15). A lane
// sum stays below 2^16 for any region of a granule, so lanes never carry into each other.
// Escape tables: the entry for 15 stands for every value from 15 on, linbits not included.
extern const uint32_t kPairBits1[256];  // table 1 alone, low lane
extern const uint32_t kPairBits2And3[256];
extern const uint32_t kPairBits5And6[256];
extern const uint64_t kPairBits7To9[256];
extern const uint64_t kPairBits10To12[256];
extern const uint32_t kPairBits13And15[256];
extern const uint32_t kPairBits16And24[256];  // codes of 16..23 high, of 24..31 low
// Count1 quadruples: table A high, table B low, sign bits included.
extern const uint32_t kQuadBits[16];

}  // namespace velora::enc

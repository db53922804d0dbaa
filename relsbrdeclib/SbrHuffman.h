// The ten SBR codebooks as binary decoding trees (generated from tables/sbr_huffman_trees.txt)
// and a bounded decoder.
#pragma once

#include <cstdint>

#include "SbrBitReader.h"

namespace velora::sbr {

enum class SbrCodebook : int {
    kEnvelope15Time = 0,
    kEnvelope15Freq,
    kBalance15Time,
    kBalance15Freq,
    kEnvelope30Time,
    kEnvelope30Freq,
    kBalance30Time,
    kBalance30Freq,
    kNoiseTime,
    kNoiseBalanceTime,
};
constexpr int kSbrCodebookCount = 10;
constexpr int kSbrLeafOffset = 64;  // a negative entry v ends a code word with symbol v + 64

// Pair p holds the two successors of a node: entry [bit]; >= 0 is the next pair, < 0 a leaf.
struct SbrHuffmanTree {
    const int8_t (*pairs)[2];
    int pairCount;
    int symbolMin;
    int symbolMax;
    const char* name;
};

extern const SbrHuffmanTree kSbrHuffmanTrees[kSbrCodebookCount];

inline const SbrHuffmanTree& SbrTree(SbrCodebook book) { return kSbrHuffmanTrees[static_cast<int>(book)]; }

// Reads one code word. Returns false (symbol 0) when the walk leaves the tree or takes more
// steps than the tree has pairs, which a well-formed tree never does; a short payload reads
// zero bits and still ends on a leaf.
bool SbrHuffmanDecode(const SbrHuffmanTree& tree, SbrBitReader& reader, int& symbol);

}  // namespace velora::sbr

// The 34 Layer III Huffman tables as 4-way trees: 0..31 big values, 32 and 33 the count1
// tables A and B. A node is four 32-bit entries chosen by the next two bits. An entry
// with bits 8..15 equal to 0 is an inner node whose bits 0..7 give the next node's index;
// otherwise it is a leaf: bits 8..15 the code length, bits 0..7 the value (big values:
// x in bits 4..7, y in bits 0..3; count1: v, w, x, y in bits 3, 2, 1, 0). After a leaf
// the reader sets its position to the start of the code plus its length.
// The trees are generated at build time from tables/huffman_codes.txt.
#pragma once

#include <cstdint>

namespace velora {

struct HuffmanTable {
    int linbits;
    const uint32_t* tree;  // null for tables 0, 4 and 14: such a region decodes to zeros
};

constexpr int kHuffmanTableCount = 34;
extern const HuffmanTable kHuffmanTables[kHuffmanTableCount];

constexpr bool HuffmanIsLeaf(uint32_t entry) { return (entry & 0xFF00u) != 0; }
constexpr int HuffmanLength(uint32_t entry) { return static_cast<int>((entry >> 8) & 0xFF); }
constexpr int HuffmanValue(uint32_t entry) { return static_cast<int>(entry & 0xFF); }

}  // namespace velora

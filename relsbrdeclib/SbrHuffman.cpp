#include "SbrHuffman.h"

namespace velora::sbr {

bool SbrHuffmanDecode(const SbrHuffmanTree& tree, SbrBitReader& reader, int& symbol) {
    symbol = 0;
    if (tree.pairs == nullptr || tree.pairCount <= 0) return false;
    int index = 0;
    // Every step moves to a later pair, so pairCount steps always suffice.
    for (int step = 0; step < tree.pairCount; ++step) {
        const int entry = tree.pairs[index][reader.ReadBit()];
        if (entry < 0) {
            const int value = entry + kSbrLeafOffset;
            if (value < tree.symbolMin || value > tree.symbolMax) return false;
            symbol = value;
            return true;
        }
        if (entry <= index || entry >= tree.pairCount) return false;
        index = entry;
    }
    return false;
}

}  // namespace velora::sbr

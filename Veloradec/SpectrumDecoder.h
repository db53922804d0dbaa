// Huffman decoding and requantisation of one granule and channel.
#pragma once

#include <cstdint>

#include "BitBuffer.h"
#include "Layer3Tables.h"
#include "ScaleFactors.h"
#include "SideInfo.h"

namespace velora {

// Decodes big values and count1 quadruples into `values` (576 lines). The buffer's
// consumed-bits counter must have been cleared at the start of the granule, so that
// part2_3_length is counted from there. Returns the number of lines up to the last
// non-zero value; all later lines are 0.
int DecodeHuffman(BitBuffer& buffer, const GranuleInfo& info, const ScaleFactorBands& bands,
                  int version, int32_t values[576]);
// The same, but each line comes out as sign(v) |v|^(4/3), the input of Requantise.
int DecodePowered(BitBuffer& buffer, const GranuleInfo& info, const ScaleFactorBands& bands,
                  int version, float powered[576]);
// Whether the lookup tables behind both were built for every tree (they are, unless a
// tree breaks the limits of their layout).
bool HuffmanLookupsComplete();

// Requantises `powered` into `spectrum` (full scale +-32768) and fills the band counts of
// `info` used by stereo processing.
void Requantise(const float powered[576], GranuleInfo& info, const ScaleFactors& factors,
                const ScaleFactorBands& bands, int version, float spectrum[576]);

}  // namespace velora

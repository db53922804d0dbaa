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

// Requantises `values` into `spectrum` (full scale +-32768) and fills the band counts of
// `info` used by stereo processing.
void Requantise(const int32_t values[576], GranuleInfo& info, const ScaleFactors& factors,
                const ScaleFactorBands& bands, int version, float spectrum[576]);

}  // namespace velora

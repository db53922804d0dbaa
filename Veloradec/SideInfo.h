// Side information of one Layer III frame.
#pragma once

#include <cstdint>

#include "BitBuffer.h"

namespace velora {

struct GranuleInfo {
    int32_t part2_3_length = 0;
    int32_t big_values = 0;
    int32_t global_gain = 0;
    int32_t scalefac_compress = 0;
    int32_t window_switching_flag = 0;
    int32_t block_type = 0;
    int32_t mixed_block_flag = 0;
    int32_t table_select[3] = {};
    int32_t subblock_gain[3] = {};
    int32_t region0_count = 0;
    int32_t region1_count = 0;
    int32_t preflag = 0;
    int32_t scalefac_scale = 0;
    int32_t count1table_select = 0;

    // Derived while decoding the granule.
    int32_t nonzeroLines = 0;        // lines up to the last non-zero value
    int32_t longBandCount = 0;       // long bands up to the last non-zero value
    int32_t shortBandCount[3] = {};  // per window: short bands up to the last non-zero one
    int32_t intensityScale = 0;      // MPEG-2/2.5: bit 0 of scalefac_compress (intensity channel)
    int32_t reserved[4] = {};

    bool ShortBlocks() const { return window_switching_flag != 0 && block_type == 2; }
    bool MixedBlocks() const { return ShortBlocks() && mixed_block_flag != 0; }
};

struct SideInfo {
    int32_t main_data_begin = 0;
    int32_t private_bits = 0;
    int32_t scfsi[2][4] = {};
    GranuleInfo granule[2][2];  // [granule][channel]
};

// Reads the side information at the buffer's position. `mpeg1` selects the MPEG-1 syntax
// (two granules); the MPEG-2 syntax is used for MPEG-2 and 2.5.
void ReadSideInfo(BitBuffer& buffer, bool mpeg1, int channels, SideInfo& info);

}  // namespace velora

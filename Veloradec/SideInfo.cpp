#include "SideInfo.h"

namespace velora {
namespace {

int ReadInt(BitBuffer& buffer, int bits) { return static_cast<int>(buffer.Read(bits)); }

void ReadGranule(BitBuffer& buffer, bool mpeg1, GranuleInfo& g) {
    g = GranuleInfo{};
    g.part2_3_length = ReadInt(buffer, 12);
    g.big_values = ReadInt(buffer, 9);
    g.global_gain = ReadInt(buffer, 8);
    g.scalefac_compress = ReadInt(buffer, mpeg1 ? 4 : 9);
    g.window_switching_flag = ReadInt(buffer, 1);
    if (g.window_switching_flag) {
        g.block_type = ReadInt(buffer, 2);
        g.mixed_block_flag = ReadInt(buffer, 1);
        g.table_select[0] = ReadInt(buffer, 5);
        g.table_select[1] = ReadInt(buffer, 5);
        for (int w = 0; w < 3; ++w) g.subblock_gain[w] = ReadInt(buffer, 3);
        g.region0_count = (g.block_type == 2 && !g.mixed_block_flag) ? 8 : 7;
        g.region1_count = 20 - g.region0_count;
    } else {
        for (int r = 0; r < 3; ++r) g.table_select[r] = ReadInt(buffer, 5);
        g.region0_count = ReadInt(buffer, 4);
        g.region1_count = ReadInt(buffer, 3);
    }
    if (mpeg1) g.preflag = ReadInt(buffer, 1);
    g.scalefac_scale = ReadInt(buffer, 1);
    g.count1table_select = ReadInt(buffer, 1);

    // A granule that cannot be decoded safely becomes silence.
    if (g.big_values > 288 || (g.window_switching_flag && g.block_type == 0)) {
        g.part2_3_length = 0;
        g.big_values = 0;
        g.scalefac_compress = 0;
    }
}

}  // namespace

void ReadSideInfo(BitBuffer& buffer, bool mpeg1, int channels, SideInfo& info) {
    info = SideInfo{};
    if (mpeg1) {
        info.main_data_begin = ReadInt(buffer, 9);
        info.private_bits = ReadInt(buffer, channels == 1 ? 5 : 3);
        for (int ch = 0; ch < channels; ++ch) {
            for (int band = 0; band < 4; ++band) info.scfsi[ch][band] = ReadInt(buffer, 1);
        }
    } else {
        info.main_data_begin = ReadInt(buffer, 8);
        info.private_bits = ReadInt(buffer, channels == 1 ? 1 : 2);
    }
    const int granules = mpeg1 ? 2 : 1;
    for (int gr = 0; gr < granules; ++gr) {
        for (int ch = 0; ch < channels; ++ch) ReadGranule(buffer, mpeg1, info.granule[gr][ch]);
    }
}

}  // namespace velora

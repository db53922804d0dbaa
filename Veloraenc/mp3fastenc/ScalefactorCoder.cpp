#include "ScalefactorCoder.h"

#include <algorithm>

#include "Layer3Tables.h"

namespace velora::enc {
namespace {

constexpr int kLongValues = 21;   // bands 0..20
constexpr int kShortValues = 36;  // bands 0..11, three windows each

// Bits a value needs; 32 for a negative one, which no width carries.
int Width(int32_t value) {
    if (value < 0) return 32;
    int bits = 0;
    while (bits < 31 && (value >> bits) != 0) ++bits;
    return bits;
}

// `margin` 1 keeps every value below 2^width - 1, which an intensity channel's partition
// reserves as its illegal position.
int GroupWidth(const int32_t* values, int begin, int end, int margin = 0) {
    int width = 0;
    for (int i = begin; i < end; ++i) width = std::max(width, Width(values[i] < 0 ? values[i] : values[i] + margin));
    return width;
}

// MPEG-2 partition tables: widths each partition allows and how slen map to the 9 bits.
struct PartitionTable {
    int limit[4];
};
constexpr PartitionTable kPartitionLimits[6] = {
    {{4, 4, 3, 3}}, {{4, 4, 3, 0}}, {{3, 2, 0, 0}},  // plain: preflag 0, 0, 1
    {{4, 5, 5, 0}}, {{3, 3, 3, 0}}, {{3, 2, 0, 0}},  // intensity channel
};

int CompressOf(int table, const int slen[4], int intensityScale) {
    switch (table) {
        case 0:
            return ((slen[0] * 5 + slen[1]) << 4) + (slen[2] << 2) + slen[3];
        case 1:
            return 400 + ((slen[0] * 5 + slen[1]) << 2) + slen[2];
        case 2:
            return 500 + slen[0] * 3 + slen[1];
        case 3:
            return ((slen[0] * 36 + slen[1] * 6 + slen[2]) << 1) | intensityScale;
        case 4:
            return ((180 + slen[0] * 16 + slen[1] * 4 + slen[2]) << 1) | intensityScale;
        default:
            return ((244 + slen[0] * 3 + slen[1]) << 1) | intensityScale;
    }
}

int ValueCount(const QuantisedGranule& g) {
    return g.blockType == kBlockShort ? kShortValues : kLongValues;
}

}  // namespace

bool ChooseScalefactorsMpeg1(const QuantisedGranule& g, ScalefactorCoding& coding) {
    coding = ScalefactorCoding{};
    const bool shortBlock = g.blockType == kBlockShort;
    // Short blocks: bands 0..5 and 6..11 of three windows; long: bands 0..10 and 11..20.
    const int split = shortBlock ? 18 : 11;
    const int end = ValueCount(g);
    const int widthA = GroupWidth(g.scalefactors, 0, split);
    const int widthB = GroupWidth(g.scalefactors, split, end);
    int best = -1;
    int bestBits = 0;
    for (int sfc = 0; sfc < 16; ++sfc) {
        const int slen1 = kSlen[0][sfc];
        const int slen2 = kSlen[1][sfc];
        if (widthA > slen1 || widthB > slen2) continue;
        const int bits = split * slen1 + (end - split) * slen2;
        if (best < 0 || bits < bestBits) {
            best = sfc;
            bestBits = bits;
        }
    }
    if (best < 0) return false;
    coding.scalefacCompress = best;
    coding.scalefactorBits = bestBits;
    coding.slen[0] = kSlen[0][best];
    coding.slen[1] = kSlen[1][best];
    return true;
}

bool ChooseScalefactorsMpeg2(const QuantisedGranule& g, bool intensityChannel,
                             ScalefactorCoding& coding) {
    coding = ScalefactorCoding{};
    if (intensityChannel && g.preflag != 0) return false;  // the intensity tables have no preflag
    const int kind = g.blockType == kBlockShort ? 1 : 0;
    int first = 0;
    int last = 1;
    if (intensityChannel) {
        first = 3;
        last = 5;
    } else if (g.preflag != 0) {
        first = 2;
        last = 2;
    }
    bool found = false;
    for (int table = first; table <= last; ++table) {
        const int* sizes = kPartitionSizes[table][kind];
        int slen[4] = {};
        int bits = 0;
        int at = 0;
        bool fits = true;
        for (int p = 0; p < 4; ++p) {
            slen[p] = GroupWidth(g.scalefactors, at, at + sizes[p], intensityChannel ? 1 : 0);
            at += sizes[p];
            if (slen[p] > kPartitionLimits[table].limit[p]) fits = false;
            bits += sizes[p] * slen[p];
        }
        if (!fits || (found && bits >= coding.scalefactorBits)) continue;
        found = true;
        coding.table = table;
        coding.scalefactorBits = bits;
        std::copy(slen, slen + 4, coding.slen);
        coding.scalefacCompress = CompressOf(table, slen, g.intensityScale & 1);
    }
    return found;
}

bool ChooseScalefactors(const QuantisedGranule& g, int version, bool intensityChannel,
                        ScalefactorCoding& coding) {
    return version == 0 ? ChooseScalefactorsMpeg1(g, coding)
                        : ChooseScalefactorsMpeg2(g, intensityChannel, coding);
}

int ScalefactorBits(const QuantisedGranule& g, int version, bool intensityChannel) {
    ScalefactorCoding coding;
    return ChooseScalefactors(g, version, intensityChannel, coding) ? coding.scalefactorBits : -1;
}

void WriteScalefactors(const QuantisedGranule& g, int version, const ScalefactorCoding& coding,
                       BitWriter& out) {
    const int end = ValueCount(g);
    if (version == 0) {
        const int split = g.blockType == kBlockShort ? 18 : 11;
        for (int i = 0; i < end; ++i)
            out.Put(static_cast<uint32_t>(g.scalefactors[i]),
                    i < split ? coding.slen[0] : coding.slen[1]);
        return;
    }
    if (coding.table < 0 || coding.table > 5) return;
    const int kind = g.blockType == kBlockShort ? 1 : 0;
    const int* sizes = kPartitionSizes[coding.table][kind];
    int at = 0;
    for (int p = 0; p < 4; ++p) {
        for (int i = 0; i < sizes[p]; ++i, ++at)
            out.Put(static_cast<uint32_t>(g.scalefactors[at]), coding.slen[p]);
    }
}

}  // namespace velora::enc

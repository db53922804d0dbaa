#include "ScaleFactors.h"

#include "Layer3Tables.h"

namespace velora {
namespace {

int32_t ReadValue(BitBuffer& buffer, int bits) {
    return bits > 0 ? static_cast<int32_t>(buffer.Read(bits)) : 0;
}

}  // namespace

void ReadScaleFactorsMpeg1(BitBuffer& buffer, const GranuleInfo& info, const int32_t scfsi[4],
                           int granule, ScaleFactors& factors) {
    const int slen1 = kSlen[0][info.scalefac_compress & 15];
    const int slen2 = kSlen[1][info.scalefac_compress & 15];
    for (int band = 0; band < 13; ++band) factors.illegalShort[band] = 7;
    for (int band = 0; band < 23; ++band) factors.illegalLong[band] = 7;

    if (info.ShortBlocks()) {
        int firstShort = 0;
        if (info.MixedBlocks()) {
            for (int band = 0; band < 8; ++band) factors.longBands[band] = ReadValue(buffer, slen1);
            firstShort = 3;
        }
        for (int band = firstShort; band < 12; ++band) {
            const int bits = band < 6 ? slen1 : slen2;
            for (int w = 0; w < 3; ++w) factors.shortBands[band][w] = ReadValue(buffer, bits);
        }
        for (int w = 0; w < 3; ++w) factors.shortBands[12][w] = 0;
        return;
    }

    static constexpr int kGroupStart[5] = {0, 6, 11, 16, 21};
    for (int group = 0; group < 4; ++group) {
        if (granule == 1 && scfsi[group]) continue;
        const int bits = group < 2 ? slen1 : slen2;
        for (int band = kGroupStart[group]; band < kGroupStart[group + 1]; ++band) {
            factors.longBands[band] = ReadValue(buffer, bits);
        }
    }
    factors.longBands[21] = 0;
    factors.longBands[22] = 0;
}

void ReadScaleFactorsMpeg2(BitBuffer& buffer, GranuleInfo& info, bool intensityChannel,
                           ScaleFactors& factors) {
    int slen[4] = {0, 0, 0, 0};
    int table = 0;
    const int sfc = info.scalefac_compress;
    if (intensityChannel) {
        const int isc = sfc >> 1;
        info.intensityScale = sfc & 1;
        info.preflag = 0;
        if (isc < 180) {
            slen[0] = isc / 36;
            slen[1] = (isc % 36) / 6;
            slen[2] = isc % 6;
            table = 3;
        } else if (isc < 244) {
            slen[0] = ((isc - 180) % 64) >> 4;
            slen[1] = ((isc - 180) % 16) >> 2;
            slen[2] = (isc - 180) % 4;
            table = 4;
        } else {
            slen[0] = (isc - 244) / 3;
            slen[1] = (isc - 244) % 3;
            table = 5;
        }
    } else if (sfc < 400) {
        slen[0] = (sfc >> 4) / 5;
        slen[1] = (sfc >> 4) % 5;
        slen[2] = (sfc % 16) >> 2;
        slen[3] = sfc % 4;
        info.preflag = 0;
        table = 0;
    } else if (sfc < 500) {
        slen[0] = ((sfc - 400) >> 2) / 5;
        slen[1] = ((sfc - 400) >> 2) % 5;
        slen[2] = (sfc - 400) % 4;
        info.preflag = 0;
        table = 1;
    } else {
        slen[0] = (sfc - 500) / 3;
        slen[1] = (sfc - 500) % 3;
        info.preflag = 1;
        table = 2;
    }

    const int kind = info.ShortBlocks() ? (info.MixedBlocks() ? 2 : 1) : 0;
    const int* sizes = kPartitionSizes[table][kind];
    factors = ScaleFactors{};

    if (kind == 0) {
        int band = 0;
        for (int p = 0; p < 4; ++p) {
            for (int i = 0; i < sizes[p] && band < 21; ++i, ++band) {
                factors.longBands[band] = ReadValue(buffer, slen[p]);
                factors.illegalLong[band] = (1 << slen[p]) - 1;
            }
        }
        // The last band carries no scale factor; intensity positions continue from band 20.
        factors.illegalLong[21] = factors.illegalLong[20];
        factors.illegalLong[22] = factors.illegalLong[20];
        return;
    }

    // Short and mixed blocks count their values in units of three windows; a mixed block
    // starts with six long bands.
    int longLeft = kind == 2 ? 6 : 0;
    int band = 0;       // next long band
    int shortBand = kind == 2 ? 3 : 0;
    int window = 0;
    for (int p = 0; p < 4; ++p) {
        for (int i = 0; i < sizes[p]; ++i) {
            const int32_t value = ReadValue(buffer, slen[p]);
            const int32_t illegal = (1 << slen[p]) - 1;
            if (longLeft > 0) {
                factors.longBands[band] = value;
                factors.illegalLong[band] = illegal;
                ++band;
                --longLeft;
                continue;
            }
            if (shortBand < 12) {
                factors.shortBands[shortBand][window] = value;
                factors.illegalShort[shortBand] = illegal;
            }
            if (++window == 3) {
                window = 0;
                ++shortBand;
            }
        }
    }
    factors.illegalShort[12] = factors.illegalShort[11];
}

}  // namespace velora

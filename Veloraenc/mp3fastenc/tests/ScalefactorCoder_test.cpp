// The scale-factor coder: written values read back with the decoder's routines, the
// scale-factor bit count equals what the decoder consumes, the chosen scalefac_compress is the
// cheapest of all that carry the values (every one of the 16 or 512 tried through the decoder), and
// values no choice carries are reported.

#include "ScalefactorCoder.h"
#include "BitstreamTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace velora::enc {
namespace {

GranuleInfo InfoFor(const QuantisedGranule& g, int scalefacCompress) {
    GranuleInfo info;
    info.scalefac_compress = scalefacCompress;
    info.window_switching_flag = g.blockType != kBlockLong ? 1 : 0;
    info.block_type = g.blockType;
    info.preflag = g.preflag;
    return info;
}

// Reads scale factors with `scalefacCompress` from `bytes` through the decoder.
struct ReadBack {
    ScaleFactors factors;
    GranuleInfo info;
    int consumed = 0;
};

ReadBack Read(const QuantisedGranule& g, int version, bool intensity, int scalefacCompress,
              const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> storage(static_cast<size_t>(BitBuffer::RoundedSize(512)));
    BitBuffer b;
    b.Init(storage.data(), 512);
    b.Write(bytes.data(), static_cast<int>(bytes.size()));
    b.ClearConsumed();
    ReadBack r;
    r.info = InfoFor(g, scalefacCompress);
    const int32_t scfsi[4] = {};
    if (version == 0)
        ReadScaleFactorsMpeg1(b, r.info, scfsi, 0, r.factors);
    else
        ReadScaleFactorsMpeg2(b, r.info, intensity, r.factors);
    r.consumed = b.Consumed();
    return r;
}

int32_t ValueAt(const ScaleFactors& f, bool shortBlock, int i) {
    return shortBlock ? f.shortBands[i / 3][i % 3] : f.longBands[i];
}

void ExpectRoundTrip(const QuantisedGranule& g, int version, bool intensity,
                     const ScalefactorCoding& coding) {
    std::vector<uint8_t> bytes(128, 0);
    BitWriter w(bytes.data(), 128);
    WriteScalefactors(g, version, coding, w);
    ASSERT_EQ(w.Position(), coding.scalefactorBits);
    w.Sync();
    const ReadBack r = Read(g, version, intensity, coding.scalefacCompress, bytes);
    ASSERT_EQ(r.consumed, coding.scalefactorBits);
    const bool shortBlock = g.blockType == kBlockShort;
    for (int i = 0; i < (shortBlock ? 36 : 21); ++i)
        ASSERT_EQ(ValueAt(r.factors, shortBlock, i), g.scalefactors[i]) << i;
    if (version != 0) {
        EXPECT_EQ(r.info.preflag, g.preflag) << "MPEG-2 preflag follows from the partition table";
        if (intensity) {
            EXPECT_EQ(r.info.intensityScale, g.intensityScale);
        }
    }
}

// The cheapest scalefac_compress that carries `g`, found by letting the decoder read each.
int CheapestByDecoder(const QuantisedGranule& g, int version, bool intensity) {
    const std::vector<uint8_t> zeros(128, 0);
    const bool shortBlock = g.blockType == kBlockShort;
    const int count = shortBlock ? 36 : 21;
    int best = -1;
    for (int sfc = 0; sfc < (version == 0 ? 16 : 512); ++sfc) {
        const ReadBack r = Read(g, version, intensity, sfc, zeros);
        bool fits = true;
        for (int i = 0; i < count && fits; ++i) {
            int limit = 0;
            if (version == 0) {
                const int split = shortBlock ? 18 : 11;
                limit = (1 << kSlen[i < split ? 0 : 1][sfc]) - 1;
            } else {
                // The decoder marks the largest value of each band's width; an intensity
                // channel keeps below it, since that value means "no intensity position".
                limit = shortBlock ? r.factors.illegalShort[i / 3] : r.factors.illegalLong[i];
                if (intensity) --limit;
            }
            fits = g.scalefactors[i] <= limit;
        }
        if (version != 0 && r.info.preflag != g.preflag) fits = false;
        if (intensity && r.info.intensityScale != g.intensityScale) fits = false;
        if (fits && (best < 0 || r.consumed < best)) best = r.consumed;
    }
    return best;
}

QuantisedGranule RandomGranule(std::mt19937& rng, int version, bool intensity) {
    QuantisedGranule g;
    g.blockType = test::RandomInt(rng, 0, 1) != 0 ? kBlockShort : kBlockLong;
    g.intensityChannel = intensity;
    g.preflag =
        version != 0 && !intensity && g.blockType == kBlockLong ? test::RandomInt(rng, 0, 1) : 0;
    g.intensityScale = intensity ? test::RandomInt(rng, 0, 1) : 0;
    const int count = g.blockType == kBlockShort ? 36 : 21;
    // Partitions of different widths, often zero, so that every table and width comes up.
    for (int i = 0; i < count; ++i) {
        const int width = test::RandomInt(rng, 0, 4) == 0 ? 0 : test::RandomInt(rng, 0, 4);
        g.scalefactors[i] = test::RandomInt(rng, 0, (1 << width) - 1);
        if (test::RandomInt(rng, 0, 3) == 0) g.scalefactors[i] = 0;
    }
    if (test::RandomInt(rng, 0, 3) == 0) {  // silence above some band
        for (int i = test::RandomInt(rng, 0, count); i < count; ++i) g.scalefactors[i] = 0;
    }
    return g;
}

TEST(mp3enc_bs_ScalefactorCoder, ChoicesAreCheapestAndReadBack) {
    std::mt19937 rng(3);
    int coded = 0;
    int refused = 0;
    for (int version = 0; version < 2; ++version) {
        for (int intensity = 0; intensity < (version == 0 ? 1 : 2); ++intensity) {
            for (int i = 0; i < 300; ++i) {
                const QuantisedGranule g = RandomGranule(rng, version, intensity != 0);
                ScalefactorCoding coding;
                const bool ok = ChooseScalefactors(g, version, intensity != 0, coding);
                const int cheapest = CheapestByDecoder(g, version, intensity != 0);
                ASSERT_EQ(ok, cheapest >= 0) << "version " << version << " granule " << i;
                ASSERT_EQ(ScalefactorBits(g, version, intensity != 0),
                          ok ? coding.scalefactorBits : -1);
                if (!ok) {
                    ++refused;
                    continue;
                }
                ASSERT_EQ(coding.scalefactorBits, cheapest)
                    << "version " << version << " granule " << i;
                ExpectRoundTrip(g, version, intensity != 0, coding);
                ++coded;
            }
        }
    }
    EXPECT_GT(coded, 500);
    EXPECT_GT(refused, 10) << "the random values should also exceed the widths sometimes";
}

TEST(mp3enc_bs_ScalefactorCoder, ValuesNoChoiceCarriesAreReported) {
    QuantisedGranule g;
    ScalefactorCoding coding;
    g.scalefactors[0] = 15;
    g.scalefactors[11] = 7;
    EXPECT_TRUE(ChooseScalefactorsMpeg1(g, coding));
    g.scalefactors[0] = 16;
    EXPECT_FALSE(ChooseScalefactorsMpeg1(g, coding));
    g.scalefactors[0] = 0;
    g.scalefactors[11] = 8;
    EXPECT_FALSE(ChooseScalefactorsMpeg1(g, coding));
    g.scalefactors[11] = -1;
    EXPECT_FALSE(ChooseScalefactorsMpeg1(g, coding));
    EXPECT_EQ(ScalefactorBits(g, 0, false), -1);

    QuantisedGranule s;
    s.blockType = kBlockShort;
    s.scalefactors[3 * 6 + 2] = 8;  // band 6 has at most 3 bits
    EXPECT_FALSE(ChooseScalefactorsMpeg1(s, coding));
    s.scalefactors[3 * 6 + 2] = 7;
    s.scalefactors[3 * 5 + 2] = 15;
    EXPECT_TRUE(ChooseScalefactorsMpeg1(s, coding));
    EXPECT_EQ(coding.scalefactorBits, 18 * 4 + 18 * 3);

    QuantisedGranule m;
    m.scalefactors[20] = 15;  // partition 3 of table 0 has 3 bits at most
    EXPECT_FALSE(ChooseScalefactorsMpeg2(m, false, coding));
    m.scalefactors[20] = 7;
    m.preflag = 1;  // table 2: second partition 2 bits
    EXPECT_FALSE(ChooseScalefactorsMpeg2(m, false, coding));
    m.scalefactors[20] = 3;
    EXPECT_TRUE(ChooseScalefactorsMpeg2(m, false, coding));
    EXPECT_EQ(coding.table, 2);
    EXPECT_FALSE(ChooseScalefactorsMpeg2(m, true, coding)) << "no preflag on the intensity channel";
    m.preflag = 0;
    m.scalefactors[10] = 30;
    EXPECT_TRUE(ChooseScalefactorsMpeg2(m, true, coding))
        << "five bits in the second intensity partition";
    EXPECT_EQ(coding.table, 3);
    m.scalefactors[10] = 31;
    EXPECT_FALSE(ChooseScalefactorsMpeg2(m, true, coding)) << "31 is the illegal position of five bits";
}

}  // namespace
}  // namespace velora::enc

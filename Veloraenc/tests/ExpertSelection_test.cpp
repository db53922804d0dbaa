// The selection rules on the shipped tables and on tables of the tests' own: SBR
// feasibility and its fallback core rates, the core row, the automatic channel mode, the
// divisor rule, the core's bit rates, and the SBR tuning bit rate of VBR; and the shipped
// rows' consistency (every row reachable, every accepted bit rate one its core has).
#include "ExpertSelection.h"

#include <gtest/gtest.h>

#include "EncoderTestSupport.h"

namespace velora::enc {
namespace {

EncoderOutputFormat Auto(uint32_t bitrate) {
    EncoderOutputFormat f;
    f.bitrate = bitrate;
    return f;
}

constexpr int kStandardRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr int kMpeg1Kbps[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kMpeg2Kbps[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

bool InList(int kbps, const int* list, int n) {
    for (int i = 0; i < n; ++i)
        if (list[i] == kbps) return true;
    return false;
}

TEST(veloraenc_Selection, CoreOffersTheStandardBitRatesOfItsVersion) {
    for (int rate : kStandardRates) {
        const bool mpeg1 = rate >= 32000;
        for (int bitrate = 1000; bitrate <= 330000; bitrate += 1000) {
            const int kbps = bitrate / 1000;
            const bool standard = mpeg1 ? InList(kbps, kMpeg1Kbps, 14) : InList(kbps, kMpeg2Kbps, 14);
            EXPECT_EQ(CoreOffersBitrate(rate, bitrate), standard) << rate << " " << bitrate;
        }
        EXPECT_FALSE(CoreOffersBitrate(rate, 64001));
        EXPECT_FALSE(CoreOffersBitrate(rate, 0));
        EXPECT_FALSE(CoreOffersBitrate(rate, -64000));
    }
}

TEST(veloraenc_Selection, ShippedTablesKeepTheFirstPoint) {
    const TuningTables& t = DefaultTuningTables();
    const CoreTuningRow* row = FindCoreRow(t, 2, 64000);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->minRate, 22050);
    EXPECT_EQ(row->preferredRate, 22050);
    EXPECT_EQ(row->maxRate, 22050);
    for (int channels : {1, 2}) EXPECT_EQ(FindCoreRow(t, channels, 400000), nullptr);  // past the block's end
    EXPECT_EQ(FindCoreRow(t, 3, 64000), nullptr);
    const SbrTuningRow* sbr = FindSbrRow(t, 64000, 2, 22050);
    ASSERT_NE(sbr, nullptr);
    EXPECT_EQ(sbr->startFreq, 8);
    EXPECT_EQ(sbr->stopFreq, 12);
    // One noise-floor band per octave and 3.0 dB envelope steps; the other choices default.
    const int32_t tuning[5] = {0, 1, 2, 0, 0};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(sbr->tuning[i], tuning[i]) << i;
    EXPECT_EQ(sbr->stereoCoding, 2);
    EXPECT_EQ(FindSbrRow(t, 64000, 1, 22050), nullptr);
    EXPECT_EQ(FindSbrRow(t, 64001, 2, 22050), nullptr);
    EXPECT_EQ(FindSbrRow(t, 63999, 2, 22050), nullptr);
}

// Every rate a core row can yield (its range and its preferred rate) must offer every
// standard bit rate the row covers, or the core would refuse what the selection accepted.
TEST(veloraenc_Selection, ShippedCoreRowsYieldCoresThatHaveTheirBitRates) {
    const TuningTables& t = DefaultTuningTables();
    for (int channels : {1, 2}) {
        const CoreTuningRow* block = t.core[channels - 1];
        int low = 0;
        int offered = 0;
        for (int i = 0; i < t.coreRows[channels - 1]; ++i) {
            const CoreTuningRow& row = block[i];
            ASSERT_GT(row.bitrateBound, low) << "bounds ascend";
            ASSERT_GT(row.minRate, 0) << "no gaps: every bit rate has a row";
            EXPECT_LE(row.minRate, row.preferredRate);
            EXPECT_LE(row.preferredRate, row.maxRate);
            for (int bitrate = (low + 999) / 1000 * 1000; bitrate < row.bitrateBound; bitrate += 1000) {
                const int kbps = bitrate / 1000;
                if (!InList(kbps, kMpeg1Kbps, 14) && !InList(kbps, kMpeg2Kbps, 14)) continue;
                ++offered;
                EXPECT_EQ(FindCoreRow(t, channels, bitrate), &row);
                for (int rate : kStandardRates) {
                    if ((rate >= row.minRate && rate <= row.maxRate) || rate == row.preferredRate) {
                        EXPECT_TRUE(CoreOffersBitrate(rate, bitrate)) << channels << " " << bitrate << " " << rate;
                    }
                }
            }
            low = row.bitrateBound;
            if (row.bitrateBound > kCoreTuningLastBound) break;
        }
        EXPECT_GT(low, kCoreTuningLastBound);
        EXPECT_EQ(offered, 18) << "every standard bit rate of either version";
    }
}

// An SBR row is reachable only through a core row for its channels and bit rate, and a
// constant rate must be one its core has (the 28000 row serves VBR alone).
TEST(veloraenc_Selection, ShippedSbrRowsAreReachable) {
    const TuningTables& t = DefaultTuningTables();
    ASSERT_GT(t.sbrRows, 1);
    for (int i = 0; i < t.sbrRows; ++i) {
        const SbrTuningRow& r = t.sbr[i];
        EXPECT_EQ(FindSbrRow(t, r.bitrateLow, r.channels, r.coreRate), &r) << i << ": shadowed by an earlier row";
        EXPECT_NE(FindCoreRow(t, r.channels, r.bitrateLow), nullptr) << i;
        if (r.bitrateLow != 28000) {
            EXPECT_TRUE(CoreOffersBitrate(r.coreRate, r.bitrateLow)) << i;
        }
        EXPECT_EQ(SbrFeasibleCoreRate(t, r.bitrateLow, r.channels, 2 * r.coreRate), r.coreRate) << i;
    }
}

TEST(veloraenc_Selection, SbrFeasibility) {
    const TuningTables& t = DefaultTuningTables();
    EXPECT_EQ(SbrFeasibleCoreRate(t, 64000, 2, 44100), 22050);
    EXPECT_EQ(SbrFeasibleCoreRate(t, 64000, 2, 48000), 22050);  // 24000 has no row
    EXPECT_EQ(SbrFeasibleCoreRate(t, 64000, 2, 32000), 16000);
    EXPECT_EQ(SbrFeasibleCoreRate(t, 64000, 2, 24000), 0);
    EXPECT_EQ(SbrFeasibleCoreRate(t, 64000, 1, 44100), 0);  // one coded channel up to 48000
    EXPECT_EQ(SbrFeasibleCoreRate(t, 48000, 1, 44100), 22050);
    // 32000 and 40000 for two channels have no 22050 Hz row: the 16000 Hz core serves 44100
    // and 48000.
    EXPECT_EQ(SbrFeasibleCoreRate(t, 40000, 2, 44100), 16000);
    EXPECT_EQ(SbrFeasibleCoreRate(t, 40000, 2, 48000), 16000);
    EXPECT_EQ(SbrFeasibleCoreRate(t, 32000, 2, 44100), 16000);
    EXPECT_EQ(SbrFeasibleCoreRate(t, 24000, 2, 44100), 0);
    EXPECT_EQ(SbrFeasibleCoreRate(t, 144000, 2, 44100), 0);
    test::ExtendedTables x;
    // 16000 Hz core once 22050 fails, for rates above 32000.
    EXPECT_EQ(SbrFeasibleCoreRate(x.tables, 30000, 1, 44100), 16000);
    EXPECT_EQ(SbrFeasibleCoreRate(x.tables, 30000, 1, 32000), 16000);  // 32000 / 2
    EXPECT_EQ(SbrFeasibleCoreRate(x.tables, 30000, 1, 48000), 16000);
    EXPECT_EQ(SbrFeasibleCoreRate(x.tables, 30000, 1, 24000), 0);
}

TEST(veloraenc_Selection, ExplicitRates) {
    const TuningTables& t = DefaultTuningTables();
    EncoderOutputFormat f = Auto(64000);
    f.sampleRate = 44100;
    ASSERT_TRUE(ExpertSelect(t, 48000, 2, f));
    EXPECT_EQ(f.sbrMode, kSbrModeOn);
    EXPECT_EQ(f.channelMode, kChannelModeStereo);
    f = Auto(64000);
    f.sampleRate = 22050;
    ASSERT_TRUE(ExpertSelect(t, 44100, 2, f));
    EXPECT_EQ(f.sbrMode, kSbrModeOff);
    f = Auto(64000);
    f.sampleRate = 16000;  // neither SBR (below 32000) nor the 22050 Hz core row serves it
    EXPECT_FALSE(ExpertSelect(t, 44100, 2, f));
    EXPECT_EQ(f.sampleRate, 16000u);  // unchanged on failure
    f = Auto(64000);
    f.sampleRate = 32000;  // SBR over a 16000 Hz core
    ASSERT_TRUE(ExpertSelect(t, 44100, 2, f));
    EXPECT_EQ(f.sbrMode, kSbrModeOn);
}

TEST(veloraenc_Selection, BitRatesTheCoreLacksAreRefused) {
    const TuningTables& t = DefaultTuningTables();
    for (uint32_t bitrate : {1000u, 7999u, 28000u, 50000u, 63999u, 64001u, 150000u, 330000u}) {
        EncoderOutputFormat f = Auto(bitrate);
        EXPECT_FALSE(ExpertSelect(t, 44100, 2, f)) << bitrate;
        EXPECT_EQ(f.sampleRate, 0u);
    }
    // 144 kbit/s exists only below 32000 Hz, 192 only from 32000 Hz up.
    EncoderOutputFormat f = Auto(144000);
    ASSERT_TRUE(ExpertSelect(t, 44100, 2, f));
    EXPECT_EQ(f.sampleRate, 22050u);
    f = Auto(192000);
    f.sampleRate = 24000;
    EXPECT_FALSE(ExpertSelect(t, 48000, 2, f));
    // One-channel SBR at 24000 makes an explicit 44100 Hz without SBR feasible, but an
    // MPEG-1 core has no 24 kbit/s.
    f = Auto(24000);
    f.channelMode = kChannelModeMono;
    f.sampleRate = 44100;
    f.sbrMode = kSbrModeOff;
    EXPECT_FALSE(ExpertSelect(t, 44100, 1, f));
    f.sbrMode = kSbrModeOn;
    ASSERT_TRUE(ExpertSelect(t, 44100, 1, f));
    // VBR picks its own rates: a bit rate handed in only steers the selection.
    f = Auto(24000);
    f.channelMode = kChannelModeMono;
    f.sampleRate = 44100;
    f.sbrMode = kSbrModeOff;
    f.vbrQuality = 50;
    EXPECT_TRUE(ExpertSelect(t, 44100, 1, f));
}

// VBR with SBR derives its table bit rate from the quality: every one of them has a row, at
// every output rate the selection gives SBR (44100 for 44100 and 48000 input, 32000).
TEST(veloraenc_Selection, EveryVbrQualityHasAnSbrRow) {
    const TuningTables& t = DefaultTuningTables();
    for (uint32_t rate : {32000u, 44100u}) {
        for (uint32_t mode : {kChannelModeMono, kChannelModeStereo, kChannelModeLcStereo, kChannelModeDualMono}) {
            for (uint32_t q = 1; q <= 100; ++q) {
                EncoderOutputFormat f;
                f.sampleRate = rate;
                f.channelMode = mode;
                f.sbrMode = kSbrModeOn;
                f.vbrQuality = q;
                EXPECT_NE(SelectSbrTuning(t, f), nullptr) << rate << " mode " << mode << " q " << q;
            }
        }
    }
}

TEST(veloraenc_Selection, AutomaticChannelModeAndDivisors) {
    test::ExtendedTables x;
    // 24000..35999 bit/s with one-channel SBR: LC Stereo for two channels, rate twice the
    // 16000 Hz core.
    EncoderOutputFormat f = Auto(24000);
    ASSERT_TRUE(ExpertSelect(x.tables, 44100, 2, f));
    EXPECT_EQ(f.channelMode, kChannelModeLcStereo);
    EXPECT_EQ(f.sbrMode, kSbrModeOn);
    EXPECT_EQ(f.sampleRate, 32000u);
    // SBR off: the preferred 16000 Hz unless a standard divisor of the input lies in range.
    f = Auto(24000);
    f.sbrMode = kSbrModeOff;
    ASSERT_TRUE(ExpertSelect(x.tables, 44100, 2, f));
    EXPECT_EQ(f.channelMode, kChannelModeLcStereo);
    EXPECT_EQ(f.sampleRate, 22050u);  // 44100 / 2
    f = Auto(24000);
    f.sbrMode = kSbrModeOff;
    ASSERT_TRUE(ExpertSelect(x.tables, 48000, 1, f));
    EXPECT_EQ(f.channelMode, kChannelModeMono);
    EXPECT_EQ(f.sampleRate, 24000u);  // 48000 / 2
    f = Auto(24000);
    ASSERT_TRUE(ExpertSelect(x.tables, 22050, 2, f));  // no SBR below 32000: Mono
    EXPECT_EQ(f.channelMode, kChannelModeMono);
    EXPECT_EQ(f.sampleRate, 22050u);
    f = Auto(24000);
    ASSERT_TRUE(ExpertSelect(x.tables, 16000, 1, f));
    EXPECT_EQ(f.sampleRate, 16000u);
    f = Auto(30000);  // in the row's range, but no core has 30 kbit/s
    EXPECT_FALSE(ExpertSelect(x.tables, 16000, 1, f));
    // An input below the row's minimum is coded at its own rate where that core has the
    // bit rate, never raised to the row.
    f = Auto(24000);
    ASSERT_TRUE(ExpertSelect(x.tables, 12000, 1, f));
    EXPECT_EQ(f.sampleRate, 12000u);
    EXPECT_EQ(f.sbrMode, kSbrModeOff);
    f = Auto(64000);
    ASSERT_TRUE(ExpertSelect(x.tables, 11025, 2, f));  // the row keeps 22050
    EXPECT_EQ(f.sampleRate, 11025u);
    EXPECT_EQ(f.channelMode, kChannelModeStereo);
    f = Auto(64000);
    f.sampleRate = 16000;  // an explicit rate below the row that is not the input's
    EXPECT_FALSE(ExpertSelect(x.tables, 22050, 2, f));
}

// Two channels at 8000..24000 Hz on the shipped tables: below a row's range the input's own
// rate with every bit rate its MPEG version has, two coded channels included; above the
// version's range refused.
TEST(veloraenc_Selection, LowRateInputsKeepTheirRate) {
    const TuningTables& t = DefaultTuningTables();
    for (int rate : {8000, 11025, 12000, 16000}) {
        for (int kbps : kMpeg2Kbps) {
            EncoderOutputFormat f = Auto(static_cast<uint32_t>(kbps) * 1000u);
            f.channelMode = kChannelModeStereo;
            ASSERT_TRUE(ExpertSelect(t, rate, 2, f)) << rate << " " << kbps;
            // 8..24 kbit/s for two channels: the rows' 8000 Hz core.
            EXPECT_EQ(f.sampleRate, kbps <= 24 ? 8000u : static_cast<uint32_t>(rate)) << rate << " " << kbps;
            EXPECT_EQ(f.sbrMode, kSbrModeOff);
        }
        for (uint32_t bitrate : {192000u, 320000u, 28000u}) {
            EncoderOutputFormat f = Auto(bitrate);
            f.channelMode = kChannelModeStereo;
            EXPECT_FALSE(ExpertSelect(t, rate, 2, f)) << rate << " " << bitrate;
        }
    }
    EncoderOutputFormat f = Auto(80000);
    f.channelMode = kChannelModeStereo;
    ASSERT_TRUE(ExpertSelect(t, 22050, 2, f));  // the 32000 Hz row
    EXPECT_EQ(f.sampleRate, 22050u);
    f = Auto(80000);
    f.channelMode = kChannelModeStereo;
    f.sbrMode = kSbrModeOff;
    ASSERT_TRUE(ExpertSelect(t, 44100, 2, f));  // unchanged above it
    EXPECT_EQ(f.sampleRate, 32000u);
}

TEST(veloraenc_Selection, RangeChecks) {
    const TuningTables& t = DefaultTuningTables();
    EncoderOutputFormat f = Auto(64000);
    f.vbrQuality = 101;
    EXPECT_FALSE(ExpertSelect(t, 44100, 2, f));
    f = Auto(64000);
    f.sbrMode = 3;
    EXPECT_FALSE(ExpertSelect(t, 44100, 2, f));
    f = Auto(64000);
    f.channelMode = 5;
    EXPECT_FALSE(ExpertSelect(t, 44100, 2, f));
    f = Auto(64000);
    f.channelMode = kChannelModeLcStereo;  // needs one-channel SBR
    EXPECT_FALSE(ExpertSelect(t, 44100, 2, f));
    f = Auto(0xFFFFFFFFu);
    EXPECT_FALSE(ExpertSelect(t, 44100, 2, f));
}

TEST(veloraenc_Selection, VbrTuningBitrate) {
    EncoderOutputFormat f;
    f.channelMode = kChannelModeStereo;
    f.sampleRate = 44100;
    const struct {
        uint32_t q;
        int bitrate;
    } stereo[] = {{1, 48000}, {29, 48000}, {30, 56000}, {39, 56000}, {40, 64000},
                  {59, 64000}, {60, 80000}, {74, 80000}, {75, 96000}, {100, 96000}};
    for (const auto& c : stereo) {
        f.vbrQuality = c.q;
        EXPECT_EQ(SbrTuningBitrate(f), c.bitrate) << c.q;
    }
    f.channelMode = kChannelModeLcStereo;
    f.vbrQuality = 20;
    EXPECT_EQ(SbrTuningBitrate(f), 32000);  // one channel at 44100 below 40
    f.sampleRate = 32000;
    EXPECT_EQ(SbrTuningBitrate(f), 24000);
    f.vbrQuality = 0;
    f.bitrate = 64000;
    EXPECT_EQ(SbrTuningBitrate(f), 64000);
}

}  // namespace
}  // namespace velora::enc

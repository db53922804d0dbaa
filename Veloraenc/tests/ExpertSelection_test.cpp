// The selection rules on the shipped tables and on tables with further rows: SBR
// feasibility and its fallback core rates, the core row, the automatic channel mode, the
// divisor rule, and the SBR tuning bit rate of VBR.
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

TEST(veloraenc_Selection, ShippedTablesOfferOnePoint) {
    const TuningTables& t = DefaultTuningTables();
    for (int channels : {1, 2}) {
        const CoreTuningRow* row = FindCoreRow(t, channels, 64000);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->minRate, 22050);
        EXPECT_EQ(row->preferredRate, 22050);
        EXPECT_EQ(row->maxRate, 22050);
        EXPECT_EQ(FindCoreRow(t, channels, 63999), nullptr);
        EXPECT_EQ(FindCoreRow(t, channels, 64001), nullptr);
        EXPECT_EQ(FindCoreRow(t, channels, 400000), nullptr);  // past the block's end
    }
    EXPECT_EQ(FindCoreRow(t, 3, 64000), nullptr);
    const SbrTuningRow* sbr = FindSbrRow(t, 64000, 2, 22050);
    ASSERT_NE(sbr, nullptr);
    EXPECT_EQ(sbr->startFreq, 10);
    EXPECT_EQ(sbr->stopFreq, 9);
    EXPECT_EQ(sbr->stereoCoding, 2);
    EXPECT_EQ(FindSbrRow(t, 64000, 1, 22050), nullptr);
    EXPECT_EQ(FindSbrRow(t, 64001, 2, 22050), nullptr);
}

TEST(veloraenc_Selection, SbrFeasibility) {
    const TuningTables& t = DefaultTuningTables();
    EXPECT_EQ(SbrFeasibleCoreRate(t, 64000, 2, 44100), 22050);
    EXPECT_EQ(SbrFeasibleCoreRate(t, 64000, 2, 48000), 22050);  // 24000 has no row
    EXPECT_EQ(SbrFeasibleCoreRate(t, 64000, 2, 32000), 0);
    EXPECT_EQ(SbrFeasibleCoreRate(t, 64000, 2, 24000), 0);
    EXPECT_EQ(SbrFeasibleCoreRate(t, 64000, 1, 44100), 0);
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
    f.sampleRate = 32000;  // neither SBR nor the core row serves it
    EXPECT_FALSE(ExpertSelect(t, 44100, 2, f));
    EXPECT_EQ(f.sampleRate, 32000u);  // unchanged on failure
}

TEST(veloraenc_Selection, AutomaticChannelModeAndDivisors) {
    test::ExtendedTables x;
    // 24000..35999 bit/s with one-channel SBR: LC Stereo for two channels, rate twice the
    // 16000 Hz core.
    EncoderOutputFormat f = Auto(30000);
    ASSERT_TRUE(ExpertSelect(x.tables, 44100, 2, f));
    EXPECT_EQ(f.channelMode, kChannelModeLcStereo);
    EXPECT_EQ(f.sbrMode, kSbrModeOn);
    EXPECT_EQ(f.sampleRate, 32000u);
    // SBR off: the preferred 16000 Hz unless a standard divisor of the input lies in range.
    f = Auto(30000);
    f.sbrMode = kSbrModeOff;
    ASSERT_TRUE(ExpertSelect(x.tables, 44100, 2, f));
    EXPECT_EQ(f.channelMode, kChannelModeLcStereo);
    EXPECT_EQ(f.sampleRate, 22050u);  // 44100 / 2
    f = Auto(30000);
    f.sbrMode = kSbrModeOff;
    ASSERT_TRUE(ExpertSelect(x.tables, 48000, 1, f));
    EXPECT_EQ(f.channelMode, kChannelModeMono);
    EXPECT_EQ(f.sampleRate, 24000u);  // 48000 / 2
    f = Auto(30000);
    ASSERT_TRUE(ExpertSelect(x.tables, 22050, 2, f));  // no SBR below 32000: Mono
    EXPECT_EQ(f.channelMode, kChannelModeMono);
    EXPECT_EQ(f.sampleRate, 22050u);
    f = Auto(30000);
    ASSERT_TRUE(ExpertSelect(x.tables, 16000, 1, f));
    EXPECT_EQ(f.sampleRate, 16000u);
    f = Auto(30000);
    EXPECT_FALSE(ExpertSelect(x.tables, 12000, 1, f));  // below the row's minimum
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

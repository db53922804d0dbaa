// The seven calls: what mp3EncOpen chooses, which output formats and configurations are
// accepted, the byte-count check, null handles, and an instance after a failed call.
#include "EncoderApi.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "EncoderInstance.h"
#include "EncoderTestSupport.h"
#include "ExpertSelection.h"

namespace velora::enc {
namespace {

using test::Handle;

EncoderOutputFormat Format(uint32_t rate, uint32_t mode, uint32_t sbr, uint32_t bitrate, uint32_t quality) {
    EncoderOutputFormat f;
    f.sampleRate = rate;
    f.channelMode = mode;
    f.sbrMode = sbr;
    f.bitrate = bitrate;
    f.vbrQuality = quality;
    return f;
}

TEST(veloraenc_Open, StereoAt44100ChoosesSbrStereoAt64000) {
    Handle e(mp3EncOpen(44100, 2, kInputInt16));
    ASSERT_NE(e.h, nullptr);
    EXPECT_EQ(e.h->format.channelMode, kChannelModeStereo);
    EXPECT_EQ(e.h->format.sbrMode, kSbrModeOn);
    EXPECT_EQ(e.h->format.sampleRate, 44100u);
    EXPECT_EQ(e.h->format.bitrate, 64000u);
    EXPECT_EQ(e.h->format.vbrQuality, 0u);
    EXPECT_EQ(e.h->pipeline.CoreRate(), 22050);
    EXPECT_EQ(e.h->pipeline.CodedChannels(), 2);
    EXPECT_TRUE(e.h->pipeline.SbrActive());
    ASSERT_NE(mp3EncGetConfiguration(e.h), nullptr);
    EXPECT_EQ(mp3EncGetConfiguration(e.h)->qualityMode, 1);
    EXPECT_STREQ(e.h->buildDate, "Dec 18 2001");
    EXPECT_STREQ(e.h->version, "1.2");
}

TEST(veloraenc_Open, OperatingPointsPerInput) {
    struct Case {
        int rate;
        int channels;
        uint32_t outputRate;  // 0: refused
        uint32_t mode;
        uint32_t sbr;
    };
    const Case cases[] = {
        {48000, 2, 44100, kChannelModeStereo, kSbrModeOn},  // through the 22050 Hz fallback
        {32000, 2, 32000, kChannelModeStereo, kSbrModeOn},  // a 16000 Hz core
        {44100, 1, 44100, kChannelModeMono, kSbrModeOff},   // one-channel SBR ends at 48000
        {48000, 1, 48000, kChannelModeMono, kSbrModeOff},
        {22050, 1, 22050, kChannelModeMono, kSbrModeOff},
        {16000, 1, 16000, kChannelModeMono, kSbrModeOff},
        {22050, 2, 22050, kChannelModeStereo, kSbrModeOff},
        {24000, 2, 22050, kChannelModeStereo, kSbrModeOff},
        {12000, 1, 12000, kChannelModeMono, kSbrModeOff},
        {8000, 1, 8000, kChannelModeMono, kSbrModeOff},
        // Below the 64000 bit/s two-channel core's 22050 Hz: at the input's own rate.
        {16000, 2, 16000, kChannelModeStereo, kSbrModeOff},
        {12000, 2, 12000, kChannelModeStereo, kSbrModeOff},
        {11025, 2, 11025, kChannelModeStereo, kSbrModeOff},
        {8000, 2, 8000, kChannelModeStereo, kSbrModeOff},
    };
    for (const Case& c : cases) {
        Handle e(mp3EncOpen(c.rate, c.channels, kInputInt16));
        if (c.outputRate == 0) {
            EXPECT_EQ(e.h, nullptr) << c.rate;
            continue;
        }
        ASSERT_NE(e.h, nullptr) << c.rate;
        EXPECT_EQ(e.h->format.sampleRate, c.outputRate) << c.rate;
        EXPECT_EQ(e.h->format.channelMode, c.mode) << c.rate;
        EXPECT_EQ(e.h->format.sbrMode, c.sbr) << c.rate;
    }
}

TEST(veloraenc_Open, RefusesWhatItCannotRead) {
    EXPECT_EQ(mp3EncOpen(44000, 2, kInputInt16), nullptr);
    EXPECT_EQ(mp3EncOpen(96000, 2, kInputInt16), nullptr);
    EXPECT_EQ(mp3EncOpen(44100, 0, kInputInt16), nullptr);
    EXPECT_EQ(mp3EncOpen(44100, 3, kInputInt16), nullptr);
    EXPECT_EQ(mp3EncOpen(44100, 2, 2), nullptr);
    EXPECT_EQ(mp3EncOpen(44100, 2, -1), nullptr);
    Handle f(mp3EncOpen(44100, 2, kInputFloat32));
    EXPECT_NE(f.h, nullptr);
}

TEST(veloraenc_Open, FurtherRowsOfferFurtherOperatingPoints) {
    // An SBR row for one coded channel: a mono input gets SBR, a stereo input may ask for
    // LC Stereo.
    test::ExtendedTables t;
    Handle mono(OpenWithTables(44100, 1, kInputInt16, t.tables));
    ASSERT_NE(mono.h, nullptr);
    EXPECT_EQ(mono.h->format.channelMode, kChannelModeMono);
    EXPECT_EQ(mono.h->format.sbrMode, kSbrModeOn);
    EXPECT_EQ(mono.h->format.sampleRate, 44100u);
    Handle stereo(OpenWithTables(44100, 2, kInputInt16, t.tables));
    ASSERT_NE(stereo.h, nullptr);
    EXPECT_EQ(stereo.h->format.channelMode, kChannelModeStereo);
    EncoderOutputFormat f = Format(0, kChannelModeLcStereo, 0, 64000, 0);
    ASSERT_EQ(mp3EncSetOutputFormat(stereo.h, &f), 1);
    EXPECT_EQ(f.sbrMode, kSbrModeOn);
    EXPECT_EQ(f.sampleRate, 44100u);
    EXPECT_EQ(stereo.h->pipeline.CodedChannels(), 1);
    // LC Stereo without SBR does not exist.
    f = Format(0, kChannelModeLcStereo, kSbrModeOff, 64000, 0);
    EXPECT_EQ(mp3EncSetOutputFormat(stereo.h, &f), 0);
}

TEST(veloraenc_SetOutputFormat, StandardBitRatesOnly) {
    Handle e(mp3EncOpen(44100, 2, kInputInt16));
    ASSERT_NE(e.h, nullptr);
    for (uint32_t bitrate : {1000u, 7999u, 28000u, 50000u, 63999u, 64001u, 150000u, 321000u, 330000u}) {
        EncoderOutputFormat f = Format(0, 0, 0, bitrate, 0);
        EXPECT_EQ(mp3EncSetOutputFormat(e.h, &f), 0) << bitrate;
        EXPECT_EQ(f.bitrate, bitrate);
        EXPECT_EQ(f.sampleRate, 0u);  // refused before anything was stored or written back
        EXPECT_EQ(e.h->format.bitrate, 64000u);
    }
    struct Case {
        uint32_t bitrate;
        uint32_t rate;
        uint32_t mode;
        uint32_t sbr;
    };
    // Automatic fields from a stereo input at 44100 Hz: LC Stereo below 36000 where
    // one-channel SBR exists, SBR stereo from 48000 to 128000, the plain core elsewhere.
    const Case cases[] = {
        {8000, 8000, kChannelModeMono, kSbrModeOff},
        {16000, 11025, kChannelModeMono, kSbrModeOff},
        {24000, 44100, kChannelModeLcStereo, kSbrModeOn},
        {32000, 44100, kChannelModeLcStereo, kSbrModeOn},
        {40000, 32000, kChannelModeStereo, kSbrModeOn},  // two channels over the 16000 Hz core
        {48000, 44100, kChannelModeStereo, kSbrModeOn},
        {64000, 44100, kChannelModeStereo, kSbrModeOn},
        {128000, 44100, kChannelModeStereo, kSbrModeOn},
        {144000, 22050, kChannelModeStereo, kSbrModeOff},
        {160000, 44100, kChannelModeStereo, kSbrModeOff},
        {320000, 44100, kChannelModeStereo, kSbrModeOff},
    };
    for (const Case& c : cases) {
        EncoderOutputFormat f = Format(0, 0, 0, c.bitrate, 0);
        ASSERT_EQ(mp3EncSetOutputFormat(e.h, &f), 1) << c.bitrate;
        EXPECT_EQ(f.sampleRate, c.rate) << c.bitrate;
        EXPECT_EQ(f.channelMode, c.mode) << c.bitrate;
        EXPECT_EQ(f.sbrMode, c.sbr) << c.bitrate;
        EXPECT_EQ(f.bitrate, c.bitrate);
    }
    EncoderOutputFormat f = Format(0, 0, 0, 64000, 0);
    ASSERT_EQ(mp3EncSetOutputFormat(e.h, &f), 1);
    EXPECT_EQ(f.sampleRate, 44100u);
    EXPECT_EQ(f.channelMode, kChannelModeStereo);
    EXPECT_EQ(f.sbrMode, kSbrModeOn);
    EXPECT_EQ(f.bitrate, 64000u);
}

// Every standard bit rate, channel mode and SBR request at every input rate: what the
// selection accepts, the pipeline (and so the core) accepts too; a refusal comes from the
// selection, before the instance changes.
TEST(veloraenc_SetOutputFormat, WhatTheSelectionAcceptsTheCoreCodes) {
    const int rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    const uint32_t kbps[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};
    int accepted = 0;
    for (int channels : {1, 2}) {
        for (int rate : rates) {
            // Inputs without a 64000 bit/s point do not open; the tables in use are the same.
            Handle e(mp3EncOpen(rate, channels, kInputInt16));
            if (e.h == nullptr) continue;
            for (uint32_t mode = kChannelModeMono; mode <= kChannelModeDualMono; ++mode) {
                for (uint32_t sbr : {kSbrModeAuto, kSbrModeOn, kSbrModeOff}) {
                    for (uint32_t k : kbps) {
                        EncoderOutputFormat f = Format(0, mode, sbr, k * 1000, 0);
                        EncoderOutputFormat selected = f;
                        const bool selects = ExpertSelect(DefaultTuningTables(), rate, channels, selected);
                        const uint32_t before = e.h->format.bitrate;
                        const int ok = mp3EncSetOutputFormat(e.h, &f);
                        if (ok == 1) {
                            ++accepted;
                            EXPECT_TRUE(selects);
                            const int core = static_cast<int>(f.sbrMode == kSbrModeOn ? f.sampleRate / 2 : f.sampleRate);
                            EXPECT_TRUE(CoreOffersBitrate(core, static_cast<int>(f.bitrate)));
                            EXPECT_EQ(e.h->pipeline.CoreRate(), core);
                            EXPECT_EQ(e.h->pipeline.SbrActive(), f.sbrMode == kSbrModeOn);
                        } else if (!(mode == kChannelModeLcStereo && selected.sbrMode == kSbrModeOff) &&
                                   CodedChannels(mode) <= channels) {
                            // LC Stereo without SBR and two coded channels from one are
                            // refused after the selection (the latter by the pipeline).
                            EXPECT_FALSE(selects) << rate << " " << channels << " mode " << mode << " sbr " << sbr
                                                  << " " << k;
                            EXPECT_EQ(e.h->format.bitrate, before);
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(accepted, 400);
}

TEST(veloraenc_SetOutputFormat, WritesTheChoiceBack) {
    Handle e(mp3EncOpen(44100, 2, kInputInt16));
    ASSERT_NE(e.h, nullptr);
    // SBR off: the 22050 Hz core, by the divisor rule.
    EncoderOutputFormat f = Format(0, 0, kSbrModeOff, 64000, 0);
    ASSERT_EQ(mp3EncSetOutputFormat(e.h, &f), 1);
    EXPECT_EQ(f.sampleRate, 22050u);
    EXPECT_EQ(f.sbrMode, kSbrModeOff);
    EXPECT_EQ(f.channelMode, kChannelModeStereo);
    EXPECT_FALSE(e.h->pipeline.SbrActive());
    EXPECT_EQ(e.h->pipeline.CoreRate(), 22050);
    // Dual Mono keeps SBR.
    f = Format(0, kChannelModeDualMono, 0, 64000, 0);
    ASSERT_EQ(mp3EncSetOutputFormat(e.h, &f), 1);
    EXPECT_EQ(f.sbrMode, kSbrModeOn);
    EXPECT_EQ(f.sampleRate, 44100u);
    // An explicit rate above the input, an unknown mode, an explicit LC Stereo the table
    // has no one-channel row for.
    f = Format(48000, 0, 0, 64000, 0);
    EXPECT_EQ(mp3EncSetOutputFormat(e.h, &f), 0);
    f = Format(0, 5, 0, 64000, 0);
    EXPECT_EQ(mp3EncSetOutputFormat(e.h, &f), 0);
    f = Format(0, 0, 3, 64000, 0);
    EXPECT_EQ(mp3EncSetOutputFormat(e.h, &f), 0);
    f = Format(0, kChannelModeLcStereo, 0, 64000, 0);
    EXPECT_EQ(mp3EncSetOutputFormat(e.h, &f), 0);
}

TEST(veloraenc_SetOutputFormat, VbrQualityRangeWithSbr) {
    Handle e(mp3EncOpen(44100, 2, kInputInt16));
    ASSERT_NE(e.h, nullptr);
    for (uint32_t q : {1u, 29u, 30u, 39u, 40u, 50u, 59u, 60u, 74u, 75u, 100u}) {
        EncoderOutputFormat f = Format(0, 0, kSbrModeOn, 64000, q);
        ASSERT_EQ(mp3EncSetOutputFormat(e.h, &f), 1) << q;
        EXPECT_EQ(f.bitrate, 0u);
        EXPECT_EQ(f.vbrQuality, q);
        EXPECT_EQ(f.sampleRate, 44100u);
        EXPECT_EQ(f.sbrMode, kSbrModeOn);
        EXPECT_TRUE(e.h->pipeline.SbrActive());
        EXPECT_GT(mp3EncGetVbrHeader(e.h, nullptr, 0), 0);
    }
    {
        Handle fresh(mp3EncOpen(44100, 2, kInputInt16));
        EncoderOutputFormat f = Format(0, 0, kSbrModeOn, 64000, 101);
        EXPECT_EQ(mp3EncSetOutputFormat(fresh.h, &f), 0);
    }
    // One coded channel, and the 16000 Hz core of a 32000 Hz input (28000 bit/s at 30..39).
    for (int rate : {32000, 44100}) {
        for (int channels : {1, 2}) {
            Handle h(mp3EncOpen(rate, channels, kInputInt16));
            ASSERT_NE(h.h, nullptr);
            for (uint32_t q : {1u, 35u, 50u, 65u, 90u}) {
                EncoderOutputFormat f = Format(0, channels == 2 ? kChannelModeLcStereo : kChannelModeMono, kSbrModeOn, 0, q);
                ASSERT_EQ(mp3EncSetOutputFormat(h.h, &f), 1) << rate << " " << channels << " q " << q;
                EXPECT_EQ(f.sampleRate, static_cast<uint32_t>(rate));
                EXPECT_TRUE(h.h->pipeline.SbrActive());
                EXPECT_EQ(h.h->pipeline.CodedChannels(), 1);
            }
        }
    }
    // Without a bit rate: the fields as given.
    EncoderOutputFormat f = Format(0, 0, 0, 0, 50);
    ASSERT_EQ(mp3EncSetOutputFormat(e.h, &f), 1);
    EXPECT_EQ(f.sampleRate, 44100u);
    EXPECT_EQ(f.channelMode, kChannelModeStereo);
    EXPECT_EQ(f.sbrMode, kSbrModeOn);
    // VBR without SBR at the explicit 22050 Hz.
    f = Format(22050, kChannelModeStereo, 0, 0, 80);
    ASSERT_EQ(mp3EncSetOutputFormat(e.h, &f), 1);
    EXPECT_EQ(f.sbrMode, kSbrModeOff);
    EXPECT_EQ(e.h->pipeline.CoreRate(), 22050);
    EXPECT_FALSE(e.h->pipeline.SbrActive());
}

TEST(veloraenc_SetOutputFormat, ExplicitFieldsMustFitTheInput) {
    Handle mono(mp3EncOpen(44100, 1, kInputInt16));
    ASSERT_NE(mono.h, nullptr);
    EncoderOutputFormat f = Format(22050, kChannelModeStereo, kSbrModeOff, 0, 50);
    EXPECT_EQ(mp3EncSetOutputFormat(mono.h, &f), 0);  // two coded channels from one
    f = Format(22050, kChannelModeLcStereo, kSbrModeOn, 0, 50);
    EXPECT_EQ(mp3EncSetOutputFormat(mono.h, &f), 0);
    Handle stereo(mp3EncOpen(22050, 2, kInputInt16));
    ASSERT_NE(stereo.h, nullptr);
    f = Format(44100, kChannelModeStereo, kSbrModeOff, 0, 50);
    EXPECT_EQ(mp3EncSetOutputFormat(stereo.h, &f), 0);  // above the input rate
    // VBR with SBR needs at least 32000 Hz.
    f = Format(0, 0, kSbrModeOn, 0, 50);
    EXPECT_EQ(mp3EncSetOutputFormat(stereo.h, &f), 0);
}

TEST(veloraenc_SetOutputFormat, FailedCallLeavesAnInstanceThatCloses) {
    Mp3EncHandle h = mp3EncOpen(48000, 2, kInputInt16);
    ASSERT_NE(h, nullptr);
    // Fails in the SBR tuning after the selected fields were stored: the fields as given
    // keep the 48000 Hz output, and no row serves a 24000 Hz core.
    EncoderOutputFormat f = Format(0, 0, kSbrModeOn, 0, 70);
    EXPECT_EQ(mp3EncSetOutputFormat(h, &f), 0);
    EXPECT_EQ(h->format.vbrQuality, 70u);
    EXPECT_EQ(h->format.sampleRate, 48000u);
    EXPECT_EQ(f.sampleRate, 0u);  // the caller's record is untouched
    // The header call does not reach a writer the failed call never created.
    EXPECT_EQ(mp3EncGetVbrHeader(h, nullptr, 0), 0);
    EXPECT_EQ(mp3EncClose(h), 1);
}

TEST(veloraenc_SetConfiguration, ValidatesBeforeChanging) {
    Handle e(mp3EncOpen(44100, 2, kInputInt16));
    ASSERT_NE(e.h, nullptr);
    EncoderConfiguration* c = mp3EncGetConfiguration(e.h);
    ASSERT_NE(c, nullptr);
    EncoderConfiguration edited = *c;
    edited.qualityMode = 3;
    EXPECT_EQ(mp3EncSetConfiguration(e.h, &edited), 0);
    edited.qualityMode = -1;
    EXPECT_EQ(mp3EncSetConfiguration(e.h, &edited), 0);
    edited.qualityMode = 2;
    edited.rateControlMode = 3;
    EXPECT_EQ(mp3EncSetConfiguration(e.h, &edited), 0);
    edited.rateControlMode = 2;
    edited.bandwidth = 22050.5f;
    EXPECT_EQ(mp3EncSetConfiguration(e.h, &edited), 0);
    EXPECT_EQ(c->qualityMode, 1);  // nothing changed
    edited.bandwidth = 22050.0f;
    edited.intensityStereo = 1;
    ASSERT_EQ(mp3EncSetConfiguration(e.h, &edited), 1);
    EXPECT_EQ(c->qualityMode, 2);
    EXPECT_EQ(c->intensityStereo, 1);
    // With SBR the crossover is the core's bandwidth, whatever the record says.
    EXPECT_FLOAT_EQ(e.h->pipeline.CoreBandwidth(), e.h->pipeline.Sbr().Crossover());
    // A new output format clears the bandwidth.
    EncoderOutputFormat f = Format(0, 0, 0, 64000, 0);
    ASSERT_EQ(mp3EncSetOutputFormat(e.h, &f), 1);
    EXPECT_EQ(c->bandwidth, 0.0f);
}

TEST(veloraenc_SetConfiguration, BandwidthReachesTheCoreWithoutSbr) {
    Handle e(mp3EncOpen(22050, 2, kInputInt16));
    ASSERT_NE(e.h, nullptr);
    EncoderConfiguration c = *mp3EncGetConfiguration(e.h);
    c.bandwidth = 8000.0f;
    ASSERT_EQ(mp3EncSetConfiguration(e.h, &c), 1);
    EXPECT_FLOAT_EQ(e.h->pipeline.CoreBandwidth(), 8000.0f);
    c.bandwidth = 11026.0f;  // above half the 22050 Hz output
    EXPECT_EQ(mp3EncSetConfiguration(e.h, &c), 0);
}

TEST(veloraenc_EncodeFrame, ByteCountAndBuffers) {
    Handle e(mp3EncOpen(44100, 2, kInputInt16));
    ASSERT_NE(e.h, nullptr);
    std::vector<uint8_t> in(64, 0);
    std::vector<uint8_t> out(kEncodeOutputBytes);
    int consumed = -5;
    EXPECT_EQ(VeloraencEncodeFrame(e.h, in.data(), 6, &consumed, out.data(), kEncodeOutputBytes, 0, 0), -1);
    EXPECT_EQ(consumed, 0);
    EXPECT_EQ(VeloraencEncodeFrame(e.h, in.data(), 8, &consumed, out.data(), kEncodeOutputBytes, 0, 0), 0);
    EXPECT_EQ(consumed, 8);
    // Only bit 1 is looked at: 5 bytes pass, and the cut sample waits for the next call.
    EXPECT_EQ(VeloraencEncodeFrame(e.h, in.data(), 5, &consumed, out.data(), kEncodeOutputBytes, 0, 0), 0);
    EXPECT_EQ(consumed, 5);
    EXPECT_EQ(VeloraencEncodeFrame(e.h, in.data(), 16, &consumed, out.data(), 100, 0, 0), -1);
    EXPECT_EQ(VeloraencEncodeFrame(e.h, in.data(), 16, &consumed, nullptr, kEncodeOutputBytes, 0, 0), -1);
    EXPECT_EQ(VeloraencEncodeFrame(e.h, nullptr, 16, &consumed, out.data(), kEncodeOutputBytes, 0, 0), -1);

    Handle f(mp3EncOpen(44100, 2, kInputFloat32));
    ASSERT_NE(f.h, nullptr);
    EXPECT_EQ(VeloraencEncodeFrame(f.h, in.data(), 12, &consumed, out.data(), kEncodeOutputBytes, 0, 0), -1);
    EXPECT_EQ(VeloraencEncodeFrame(f.h, in.data(), 16, &consumed, out.data(), kEncodeOutputBytes, 0, 0), 0);
    EXPECT_EQ(consumed, 16);
    // One channel: no check.
    Handle m(mp3EncOpen(44100, 1, kInputInt16));
    ASSERT_NE(m.h, nullptr);
    EXPECT_EQ(VeloraencEncodeFrame(m.h, in.data(), 6, &consumed, out.data(), kEncodeOutputBytes, 0, 0), 0);
    EXPECT_EQ(consumed, 6);
}

TEST(veloraenc_EncodeFrame, InputAfterTheFlushIsAnError) {
    Handle e(mp3EncOpen(32000, 2, kInputInt16));
    ASSERT_NE(e.h, nullptr);
    const std::vector<uint8_t> in = test::AsInt16Bytes(test::MusicSignal(32000, 2, 0.2));
    const test::EncodedStream s = test::EncodeAll(e.h, in);
    ASSERT_TRUE(s.ok);
    std::vector<uint8_t> out(kEncodeOutputBytes);
    int consumed = 0;
    EXPECT_EQ(VeloraencEncodeFrame(e.h, nullptr, 0, &consumed, out.data(), kEncodeOutputBytes, 0, 0), 0);
    EXPECT_EQ(VeloraencEncodeFrame(e.h, in.data(), 4, &consumed, out.data(), kEncodeOutputBytes, 0, 0), -1);
}

TEST(veloraenc_Calls, NullHandles) {
    EncoderOutputFormat f = Format(0, 0, 0, 64000, 0);
    EncoderConfiguration c;
    uint8_t buffer[kEncodeOutputBytes];
    int consumed = 7;
    EXPECT_EQ(mp3EncSetOutputFormat(nullptr, &f), 0);
    EXPECT_EQ(mp3EncGetConfiguration(nullptr), nullptr);
    EXPECT_EQ(mp3EncSetConfiguration(nullptr, &c), 0);
    EXPECT_EQ(VeloraencEncodeFrame(nullptr, buffer, 4, &consumed, buffer, kEncodeOutputBytes, 0, 0), -1);
    EXPECT_EQ(consumed, 0);
    EXPECT_EQ(mp3EncGetVbrHeader(nullptr, buffer, kEncodeOutputBytes), 0);
    EXPECT_EQ(mp3EncClose(nullptr), 0);
    Handle e(mp3EncOpen(44100, 2, kInputInt16));
    ASSERT_NE(e.h, nullptr);
    EXPECT_EQ(mp3EncSetOutputFormat(e.h, nullptr), 0);
    EXPECT_EQ(mp3EncSetConfiguration(e.h, nullptr), 0);
    EXPECT_EQ(mp3EncGetVbrHeader(e.h, buffer, kEncodeOutputBytes), 0);  // CBR: no header
}

}  // namespace
}  // namespace velora::enc

// Streams of synthetic granules for MPEG-1, 2 and 2.5, mono and stereo, at several CBR rates
// with the reservoir in use, read back with the decoder's routines (values, scale factors,
// gains, block types, lengths), decoded by the decoding core (SBR payloads found with the
// same bytes) and by mpg123 and ffmpeg (no message, the same PCM as this project's decoder).

#include "BitstreamTestSupport.h"
#include "FrameWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace velora::enc {
namespace {

using test::ReadFrame;
using test::ReadStream;
using test::StreamOptions;
using test::WriteStream;
using test::WrittenStream;

struct Config {
    const char* name;
    int version;
    int samplingIndex;
    int mode;
    int bitrateIndex;
    bool crc;
};

const Config kConfigs[] = {
    {"Mpeg1Joint44k128", 0, 0, 1, 9, false},  {"Mpeg1Stereo44k64", 0, 0, 0, 5, true},
    {"Mpeg1Mono48k96", 0, 1, 3, 7, false},    {"Mpeg1Dual32k192", 0, 2, 2, 11, false},
    {"Mpeg1Joint44k320", 0, 0, 1, 14, false}, {"Mpeg1Mono44k32", 0, 0, 3, 1, false},
    {"Mpeg1Joint44k256", 0, 0, 1, 13, false}, {"Mpeg2Joint22k64", 1, 0, 1, 8, false},
    {"Mpeg2Mono24k32", 1, 1, 3, 4, true},     {"Mpeg2Stereo16k48", 1, 2, 0, 6, false},
    {"Mpeg25Joint11k32", 2, 0, 1, 4, false},  {"Mpeg25Mono12k16", 2, 1, 3, 2, false},
    {"Mpeg25Mono8k8", 2, 2, 3, 1, false},     {"Mpeg25Joint8k24", 2, 2, 1, 3, true},
};

StreamOptions OptionsFor(const Config& c, uint32_t seed) {
    StreamOptions o;
    o.version = c.version;
    o.samplingIndex = c.samplingIndex;
    o.channelMode = c.mode;
    o.bitrateIndex = c.bitrateIndex;
    o.crc = c.crc;
    o.frames = 40;
    o.intensity = c.version != 0;
    o.seed = seed;
    return o;
}

// Names the configuration in test listings (instead of the bytes of the record).
void PrintTo(const Config& c, std::ostream* os) {
    *os << c.name;
}

class mp3enc_bs_Streams : public ::testing::TestWithParam<Config> {};

int FillerBit(int position) {
    return (kFillerPattern[position / 8] >> (7 - position % 8)) & 1;
}

TEST_P(mp3enc_bs_Streams, ReadBackEqualsWhatWasWritten) {
    const Config& c = GetParam();
    StreamOptions o = OptionsFor(c, 100 + static_cast<uint32_t>(c.bitrateIndex));
    o.sbrPayloads = true;
    const WrittenStream s = WriteStream(o);
    ASSERT_TRUE(s.ok) << s.error;
    const test::ReadStreamResult r = ReadStream(s.bytes, true);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.frames.size(), s.reports.size());

    const int limit = c.version == 0 ? 511 : 255;
    int fillerPosition = 0;
    int framesWithReservoir = 0;
    int granulesChecked = 0;
    for (size_t f = 0; f < r.frames.size(); ++f) {
        const ReadFrame& rf = r.frames[f];
        const FrameReport& report = s.reports[f];
        SCOPED_TRACE("frame " + std::to_string(f));
        const uint32_t sync = uint32_t{s.bytes[rf.offset]} << 4 | s.bytes[rf.offset + 1] >> 4;
        EXPECT_EQ(sync, c.version == 2 ? 0xFFEu : 0xFFFu);
        EXPECT_EQ(rf.header.version, c.version);
        EXPECT_EQ(rf.header.crcPresent, c.crc);

        // The back pointer within its limits; frame and reservoir within what a decoder keeps.
        const int mdb = rf.side.main_data_begin;
        EXPECT_EQ(mdb, report.mainDataBegin);
        EXPECT_LE(mdb, limit);
        if (mdb > 0) {
            EXPECT_LE(rf.header.frameBits + 8 * mdb, kMaxFrameAndReservoirBits);
            ++framesWithReservoir;
        }
        EXPECT_EQ(rf.consumedMismatch, 0);

        const int channels = rf.header.channels;
        for (int gr = 0; gr < (c.version == 0 ? 2 : 1); ++gr) {
            for (int ch = 0; ch < channels; ++ch) {
                const QuantisedGranule& g = s.granules[f][static_cast<size_t>(gr * channels + ch)];
                const test::ReadGranule& rg = rf.granule[gr][ch];
                const GranuleInfo& info = rg.info;
                ASSERT_EQ(info.part2_3_length, report.granuleBits[gr][ch]);
                EXPECT_EQ(info.global_gain, g.globalGain);
                EXPECT_EQ(info.window_switching_flag, g.blockType != kBlockLong ? 1 : 0);
                if (g.blockType != kBlockLong) {
                    EXPECT_EQ(info.block_type, g.blockType);
                    EXPECT_EQ(info.mixed_block_flag, 0);
                    for (int w = 0; w < 3; ++w) EXPECT_EQ(info.subblock_gain[w], g.subblockGain[w]);
                }
                EXPECT_EQ(info.scalefac_scale, g.scalefacScale);
                EXPECT_EQ(info.preflag, g.preflag);
                if (ch == 1 && g.intensityChannel) {
                    EXPECT_EQ(info.intensityScale, g.intensityScale);
                }
                const bool shortBlock = g.blockType == kBlockShort;
                for (int i = 0; i < (shortBlock ? 36 : 21); ++i) {
                    const int32_t read =
                        shortBlock ? rg.factors.shortBands[i / 3][i % 3] : rg.factors.longBands[i];
                    ASSERT_EQ(read, g.scalefactors[i]) << "scale factor " << i;
                }
                for (int i = 0; i < kGranuleLines; ++i)
                    ASSERT_EQ(rg.values[i], g.values[i]) << "line " << i;
                // The counts the quantiser gets equal the bits in the stream.
                const int part2 = ScalefactorBits(g, c.version, g.intensityChannel);
                EXPECT_EQ(rg.scalefactorBits, part2);
                const int part3 =
                    info.part2_3_length - report.stuffingBits[gr][ch] - rg.scalefactorBits;
                SpectrumCoder coder;
                ASSERT_TRUE(coder.Init(c.version, c.samplingIndex));
                EXPECT_EQ(coder.CountBits(g.values, g.blockType), part3);
                ++granulesChecked;
            }
        }

        // Filler up to the container, which carries this frame's payload or none.
        EXPECT_LT(report.fillerBits, 8);
        ASSERT_EQ(static_cast<int>(rf.filler.size()), report.fillerBits);
        for (int bit : rf.filler) {
            EXPECT_EQ(bit, FillerBit(fillerPosition)) << "filler pattern bit " << fillerPosition;
            fillerPosition = (fillerPosition + 1) % (8 * kFillerPatternBytes);
        }
        ASSERT_TRUE(rf.container);
        const std::vector<uint8_t>& payload = s.payloads[f];
        if (payload.empty()) {
            EXPECT_EQ(rf.marker, channels == 2 ? 0xCu : 0xDu);
            EXPECT_EQ(rf.length, 0);
            EXPECT_EQ(rf.flag, 0);
        } else {
            EXPECT_EQ(rf.marker, channels == 2 ? 0xEu : 0xFu);
            EXPECT_EQ(rf.flag, 1);
            const int dataBits = s.payloadBits[f];
            EXPECT_EQ(8 * rf.length + 4, SbrContainerBits(true, dataBits - 7, 0) - 12)
                << "length counts the bytes";
            for (int i = 0; i < 8 * rf.length + 3; ++i) {
                const int bit = (rf.body[static_cast<size_t>(i / 8)] >> (7 - i % 8)) & 1;
                const int want =
                    i < dataBits ? (payload[static_cast<size_t>(i / 8)] >> (7 - i % 8)) & 1 : 0;
                ASSERT_EQ(bit, want) << "container bit " << i;
            }
        }
    }
    FrameWriter writer;
    FrameWriterSettings settings;
    settings.version = c.version;
    settings.samplingIndex = c.samplingIndex;
    ASSERT_TRUE(writer.Init(settings));
    if (writer.MaxBackPointer(writer.FrameBits(c.bitrateIndex, 0)) == 0) {
        EXPECT_EQ(framesWithReservoir, 0) << "frames this long leave no room for a reservoir";
    } else {
        EXPECT_GT(framesWithReservoir, 5) << "the stream should use the reservoir";
    }
    EXPECT_GT(granulesChecked, 30);
}

TEST_P(mp3enc_bs_Streams, DecodingCoreFindsThePayloads) {
    const Config& c = GetParam();
    StreamOptions o = OptionsFor(c, 200 + static_cast<uint32_t>(c.bitrateIndex));
    o.sbrPayloads = true;
    const WrittenStream s = WriteStream(o);
    ASSERT_TRUE(s.ok) << s.error;
    std::vector<Mp3Ssc> sync;
    const std::vector<test::CoreFrame> frames = test::DecodeCore(s.bytes, &sync);
    ASSERT_EQ(frames.size(), s.reports.size());
    EXPECT_TRUE(sync.empty()) << "the stream never loses sync";
    const int channels = c.mode == 3 ? 1 : 2;
    for (size_t f = 0; f < frames.size(); ++f) {
        EXPECT_EQ(frames[f].status, kSscSuccess) << "frame " << f;
        const std::vector<uint8_t>& payload = s.payloads[f];
        if (payload.empty()) {
            EXPECT_TRUE(frames[f].sbr.empty()) << "frame " << f;
            continue;
        }
        EXPECT_EQ(frames[f].sbr,
                  test::CorePayload(channels == 2 ? 0xE : 0xF, payload.data(), s.payloadBits[f]))
            << "frame " << f;
    }
}

INSTANTIATE_TEST_SUITE_P(mp3enc_bs_Rates, mp3enc_bs_Streams, ::testing::ValuesIn(kConfigs),
                         [](const ::testing::TestParamInfo<Config>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
}  // namespace velora::enc

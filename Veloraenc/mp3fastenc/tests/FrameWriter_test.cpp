// Single frames and short streams of the frame writer: header fields, CRC as the decoder
// checks it, the SBR container's size formula and layout, stuffing and the reservoir limits,
// refused frames leaving the writer unchanged.

#include "FrameWriter.h"
#include "BitstreamTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace velora::enc {
namespace {

using test::ReadStream;

struct Bytes {
    std::vector<uint8_t> data;
    int Emit(FrameWriter& w) {
        std::vector<uint8_t> chunk(16384);
        const int n = w.Emit(chunk.data(), static_cast<int>(chunk.size()));
        data.insert(data.end(), chunk.begin(), chunk.begin() + n);
        return n;
    }
};

FrameWriterSettings Settings(int version, int samplingIndex, int mode) {
    FrameWriterSettings s;
    s.version = version;
    s.samplingIndex = samplingIndex;
    s.channelMode = mode;
    return s;
}

// A frame of silent granules.
FrameInput Silent(const FrameWriter& w, const QuantisedGranule& g, int bitrateIndex) {
    FrameInput in;
    in.bitrateIndex = bitrateIndex;
    for (int gr = 0; gr < w.Granules(); ++gr)
        for (int ch = 0; ch < w.Channels(); ++ch) in.granule[gr][ch] = &g;
    return in;
}

uint32_t Bits(const std::vector<uint8_t>& b, int from, int count) {
    uint32_t v = 0;
    for (int i = from; i < from + count; ++i)
        v = (v << 1) | ((b[static_cast<size_t>(i / 8)] >> (7 - i % 8)) & 1u);
    return v;
}

TEST(mp3enc_bs_FrameWriter, HeaderFields) {
    struct Case {
        int version, samplingIndex, mode, bitrateIndex, padding, modeExtension;
        bool crc, privateBit, copyright, original;
    };
    const Case cases[] = {
        {0, 0, 1, 9, 1, 2, false, true, false, true},
        {0, 1, 3, 5, 0, 0, true, false, true, false},
        {0, 2, 0, 14, 0, 0, false, false, false, false},
        {1, 0, 1, 8, 1, 3, true, true, true, true},
        {1, 2, 2, 4, 0, 0, false, false, false, true},
        {2, 0, 3, 2, 0, 0, false, false, false, true},
        {2, 2, 1, 1, 0, 1, true, false, false, false},
    };
    for (const Case& c : cases) {
        FrameWriterSettings s = Settings(c.version, c.samplingIndex, c.mode);
        s.crc = c.crc;
        s.privateBit = c.privateBit;
        s.copyright = c.copyright;
        s.original = c.original;
        FrameWriter w;
        ASSERT_TRUE(w.Init(s));
        QuantisedGranule g;
        FrameInput in = Silent(w, g, c.bitrateIndex);
        in.padding = c.padding;
        in.modeExtension = c.modeExtension;
        QuantisedGranule right;
        right.intensityChannel = w.IntensityChannel(c.modeExtension, 1);
        for (int gr = 0; gr < w.Granules(); ++gr)
            if (w.Channels() == 2) in.granule[gr][1] = &right;
        ASSERT_EQ(w.Write(in), FrameStatus::kOk);
        ASSERT_TRUE(w.Flush());
        Bytes out;
        out.Emit(w);
        ASSERT_EQ(static_cast<int>(out.data.size()) * 8, w.FrameBits(c.bitrateIndex, c.padding));
        const std::vector<uint8_t>& b = out.data;
        EXPECT_EQ(Bits(b, 0, 12), c.version == 2 ? 0xFFEu : 0xFFFu);
        EXPECT_EQ(Bits(b, 12, 1), c.version == 0 ? 1u : 0u) << "ID";
        EXPECT_EQ(Bits(b, 13, 2), 1u) << "layer III";
        EXPECT_EQ(Bits(b, 15, 1), c.crc ? 0u : 1u);
        EXPECT_EQ(Bits(b, 16, 4), static_cast<uint32_t>(c.bitrateIndex));
        EXPECT_EQ(Bits(b, 20, 2), static_cast<uint32_t>(c.samplingIndex));
        EXPECT_EQ(Bits(b, 22, 1), static_cast<uint32_t>(c.padding));
        EXPECT_EQ(Bits(b, 23, 1), c.privateBit ? 1u : 0u);
        EXPECT_EQ(Bits(b, 24, 2), static_cast<uint32_t>(c.mode));
        EXPECT_EQ(Bits(b, 26, 2), static_cast<uint32_t>(c.modeExtension));
        EXPECT_EQ(Bits(b, 28, 1), c.copyright ? 1u : 0u);
        EXPECT_EQ(Bits(b, 29, 1), c.original ? 1u : 0u);
        EXPECT_EQ(Bits(b, 30, 2), 0u);
        MpegHeader h;
        ASSERT_TRUE(h.Parse(Bits(b, 0, 16) << 16 | Bits(b, 16, 16)));
        EXPECT_EQ(h.version, c.version);
        EXPECT_EQ(h.frameBits, w.FrameBits(c.bitrateIndex, c.padding));
    }
}

TEST(mp3enc_bs_FrameWriter, DecoderAcceptsTheCrcAndNoticesDamage) {
    for (int version = 0; version < 3; ++version) {
        test::StreamOptions o;
        o.version = version;
        o.samplingIndex = 1;
        o.bitrateIndex = version == 0 ? 9 : 8;
        o.crc = true;
        o.frames = 12;
        o.seed = 40 + static_cast<uint32_t>(version);
        const test::WrittenStream s = test::WriteStream(o);
        ASSERT_TRUE(s.ok) << s.error;
        for (const test::CoreFrame& f : test::DecodeCore(s.bytes)) EXPECT_EQ(f.status, kSscSuccess);
        // One flipped bit of the first frame's side information.
        std::vector<uint8_t> damaged = s.bytes;
        damaged[9] ^= 0x10;
        const std::vector<test::CoreFrame> frames = test::DecodeCore(damaged);
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames[0].status, kSscInfoCrc) << "version " << version;
    }
}

TEST(mp3enc_bs_FrameWriter, ContainerSizeFormula) {
    // Worked through by hand: P, padding to (P - 4) mod 8 = 0, 12 or 20 bits around it.
    EXPECT_EQ(SbrContainerBits(false, 0, 0), 16);           // P 1, pad 3, 0 bytes
    EXPECT_EQ(SbrContainerBits(true, 0, 0), 24);            // P 8, pad 4, 1 byte
    EXPECT_EQ(SbrContainerBits(true, 4, 0), 24);            // P 12, pad 0
    EXPECT_EQ(SbrContainerBits(true, 5, 0), 32);            // P 13, pad 7
    EXPECT_EQ(SbrContainerBits(true, 2028, 0), 2036 + 12);  // P 2036, pad 0: 254 bytes
    EXPECT_EQ(SbrContainerBits(true, 2029, 0), 2044 + 20);  // P 2037, pad 7: 255 bytes
    EXPECT_EQ(SbrContainerBits(true, 100, 9), SbrContainerBits(true, 109, 0));
    SbrContainerData d;
    EXPECT_EQ(SbrContainerBits(d), 16);
    d.present = true;
    d.optionalFields = true;
    d.dataBits = 7 + 100;
    EXPECT_EQ(SbrContainerBits(d), SbrContainerBits(true, 100, 0));
}

// Writes one stereo MPEG-1 frame with a container of `dataBits` and reads the container back.
TEST(mp3enc_bs_FrameWriter, ContainersOfEverySizeReadBack) {
    std::vector<uint8_t> data(600);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + 11);
    for (int dataBits : {0, 1, 3, 7, 8, 100, 2023, 2024, 2025, 2031, 2032, 2040, 3000, 4000}) {
        for (int mode : {1, 3}) {
            FrameWriter w;
            ASSERT_TRUE(w.Init(Settings(0, 0, mode)));
            QuantisedGranule g;
            FrameInput in = Silent(w, g, 14);
            in.sbr.present = dataBits > 0;
            in.sbr.optionalFields = dataBits > 0;
            // Payloads with an SBR header: the marker says so.
            in.sbr.header = dataBits % 2 == 1 || dataBits == 100;
            in.sbr.data = data.data();
            in.sbr.dataBits = dataBits;
            const uint8_t ancillary[3] = {0x12, 0x34, 0x56};
            in.ancillary = ancillary;
            in.ancillaryBytes = 3;
            FrameReport report;
            ASSERT_EQ(w.Write(in, &report), FrameStatus::kOk) << dataBits;
            ASSERT_TRUE(w.Flush());
            Bytes out;
            out.Emit(w);
            const test::ReadStreamResult r = ReadStream(out.data, true);
            ASSERT_TRUE(r.ok) << r.error;
            const test::ReadFrame& f = r.frames[0];
            ASSERT_TRUE(f.container);
            const uint32_t headerBit = in.sbr.present && in.sbr.header ? 0x2u : 0u;
            EXPECT_EQ(f.marker, (mode == 3 ? 0xDu : 0xCu) | headerBit) << dataBits;
            EXPECT_EQ(f.flag, dataBits > 0 ? 1 : 0);
            const int containerBits = (f.length >= 255 ? 20 : 12) + 8 * f.length + 4;
            EXPECT_EQ(containerBits, SbrContainerBits(in.sbr)) << dataBits;
            EXPECT_EQ(report.sbrBits, containerBits);
            for (int i = 0; i < 8 * f.length + 3; ++i) {
                const int expected =
                    i < dataBits ? (data[static_cast<size_t>(i / 8)] >> (7 - i % 8)) & 1 : 0;
                ASSERT_EQ((f.body[static_cast<size_t>(i / 8)] >> (7 - i % 8)) & 1, expected)
                    << dataBits << " bit " << i;
            }
            // The ancillary bytes follow the container; the first frame's main data starts
            // right after its side information.
            const size_t start =
                static_cast<size_t>(4 + (mode == 3 ? 17 : 32)) +
                static_cast<size_t>(f.mainDataBits / 8 + (f.mainDataBits % 8 != 0)) +
                static_cast<size_t>(containerBits / 8);
            EXPECT_EQ(out.data[start], 0x12);
            EXPECT_EQ(out.data[start + 1], 0x34);
            EXPECT_EQ(out.data[start + 2], 0x56);
        }
    }
}

TEST(mp3enc_bs_FrameWriter, FillerPatternStartsWithFeFe) {
    EXPECT_EQ(kFillerPattern[0], 0xFE);
    EXPECT_EQ(kFillerPattern[1], 0xFE);
    // A frame needing three filler bits takes the pattern's first three, the next frame
    // continues from there.
    FrameWriter w;
    ASSERT_TRUE(w.Init(Settings(0, 0, 3)));
    QuantisedGranule g;
    g.values[0] = 1;  // one quadruple: 1 + 1 bits with table A
    FrameReport r;
    ASSERT_EQ(w.Write(Silent(w, g, 1), &r), FrameStatus::kOk);
    EXPECT_EQ(w.FillerPosition(), r.fillerBits);
    const int first = r.fillerBits;
    ASSERT_EQ(w.Write(Silent(w, g, 1), &r), FrameStatus::kOk);
    EXPECT_EQ(w.FillerPosition(), first + r.fillerBits);
}

TEST(mp3enc_bs_FrameWriter, ContainerTooLongIsRefused) {
    FrameWriter w;
    ASSERT_TRUE(w.Init(Settings(0, 0, 1)));
    QuantisedGranule g;
    std::vector<uint8_t> data(600, 0x55);
    FrameInput in = Silent(w, g, 14);
    in.sbr.present = true;
    in.sbr.optionalFields = true;
    in.sbr.data = data.data();
    in.sbr.dataBits = 8 * 510 + 4;  // 511 bytes after the flag's nibble
    EXPECT_EQ(w.Write(in), FrameStatus::kInvalidInput);
    in.sbr.dataBits = 8 * 510 + 3;
    EXPECT_EQ(w.Write(in), FrameStatus::kOk);
}

TEST(mp3enc_bs_FrameWriter, ReservoirLimits) {
    struct Case {
        int version, samplingIndex, bitrateIndex, padding, expected;
    };
    // 7680 - frame bits, in whole bytes, once that is below 511 (255) bytes.
    const Case cases[] = {
        {0, 0, 9, 0, 511}, {0, 0, 13, 0, 125}, {0, 0, 13, 1, 124}, {0, 0, 14, 0, 0},
        {0, 2, 14, 0, 0},  {0, 1, 14, 0, 0},   {1, 0, 8, 0, 255},  {1, 2, 14, 0, 240},
        {2, 2, 14, 0, 0},  {2, 2, 12, 0, 0},   {2, 2, 8, 0, 255},
    };
    for (const Case& c : cases) {
        FrameWriter w;
        ASSERT_TRUE(w.Init(Settings(c.version, c.samplingIndex, 3)));
        EXPECT_EQ(w.MaxBackPointer(w.FrameBits(c.bitrateIndex, c.padding)), c.expected)
            << c.version << "/" << c.samplingIndex << " index " << c.bitrateIndex;
    }
}

// 256 kbit/s at 44.1 kHz: 125 bytes of reservoir after an unpadded frame, but a padded frame
// may point back only 124. The byte in between stays unused.
TEST(mp3enc_bs_FrameWriter, BackPointerShrinksWithTheFrame) {
    FrameWriter w;
    ASSERT_TRUE(w.Init(Settings(0, 0, 1)));
    QuantisedGranule g;
    Bytes out;
    FrameInput in = Silent(w, g, 13);
    FrameReport first;
    ASSERT_EQ(w.Write(in, &first), FrameStatus::kOk);
    EXPECT_EQ(w.ReservoirBytes(), 125);
    in.padding = 1;
    FrameReport second;
    ASSERT_EQ(w.Write(in, &second), FrameStatus::kOk);
    EXPECT_EQ(second.mainDataBegin, 124);
    EXPECT_EQ(second.frameBits + 8 * second.mainDataBegin, kMaxFrameAndReservoirBits);
    EXPECT_EQ(w.ReservoirBytes(), 124);
    out.Emit(w);
    ASSERT_TRUE(w.Flush());
    out.Emit(w);
    const test::ReadStreamResult r = ReadStream(out.data, true);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.frames.size(), 2u);
    EXPECT_EQ(r.frames[1].side.main_data_begin, 124);
    EXPECT_EQ(r.frames[1].marker, 0xCu);
    for (const test::CoreFrame& f : test::DecodeCore(out.data)) EXPECT_EQ(f.status, kSscSuccess);
}

// Silence at a rate far above what it needs: every frame fills the reservoir to its limit
// and puts the rest into the granules as stuffing, which decodes as zeros.
TEST(mp3enc_bs_FrameWriter, ExcessBecomesStuffing) {
    for (int version = 0; version < 3; ++version) {
        FrameWriter w;
        ASSERT_TRUE(w.Init(Settings(version, 0, 1)));
        QuantisedGranule g;
        Bytes out;
        std::vector<FrameReport> reports;
        const int index = version == 0 ? 11 : 10;
        for (int f = 0; f < 6; ++f) {
            FrameReport r;
            ASSERT_EQ(w.Write(Silent(w, g, index), &r), FrameStatus::kOk);
            reports.push_back(r);
            out.Emit(w);
        }
        ASSERT_TRUE(w.Flush());
        out.Emit(w);
        const int maxBack = w.MaxBackPointer(w.FrameBits(index, 0));
        for (size_t f = 0; f < reports.size(); ++f) {
            const FrameReport& r = reports[f];
            EXPECT_EQ(r.reservoirAfter, maxBack);
            int stuffing = 0;
            for (int gr = 0; gr < w.Granules(); ++gr) {
                for (int ch = 0; ch < 2; ++ch) {
                    EXPECT_EQ(r.stuffingBits[gr][ch] % 4, 0);
                    EXPECT_LE(r.granuleBits[gr][ch], 4092);
                    stuffing += r.stuffingBits[gr][ch];
                }
            }
            EXPECT_GT(stuffing, 0);
            EXPECT_LT(r.fillerBits, 8) << "four granule-channels take all the excess";
            EXPECT_EQ(r.mainDataBits % 8, 0);
            // Frame bits = header/side + what this frame's data takes from its own share and
            // what it leaves in it.
            EXPECT_EQ(r.frameBits - r.headerSideBits + 8 * r.mainDataBegin,
                      r.mainDataBits + 8 * r.reservoirAfter);
        }
        const test::ReadStreamResult read = ReadStream(out.data, true);
        ASSERT_TRUE(read.ok) << read.error;
        ASSERT_EQ(read.frames.size(), reports.size());
        for (size_t f = 0; f < reports.size(); ++f) {
            const test::ReadFrame& rf = read.frames[f];
            EXPECT_EQ(rf.consumedMismatch, 0);
            for (int gr = 0; gr < w.Granules(); ++gr) {
                for (int ch = 0; ch < 2; ++ch) {
                    EXPECT_EQ(rf.granule[gr][ch].info.part2_3_length,
                              reports[f].granuleBits[gr][ch]);
                    for (int i = 0; i < kGranuleLines; ++i)
                        ASSERT_EQ(rf.granule[gr][ch].values[i], 0);
                }
            }
            EXPECT_EQ(rf.marker, 0xCu);
        }
        for (const test::CoreFrame& f : test::DecodeCore(out.data))
            EXPECT_EQ(f.status, kSscSuccess);
    }
}

// One granule cannot take all the excess: the container must still sit where the decoder
// looks, right after the granules, with the rest of the filler behind the ancillary bytes.
TEST(mp3enc_bs_FrameWriter, LargeExcessKeepsTheContainerInPlace) {
    FrameWriter w;
    ASSERT_TRUE(w.Init(Settings(1, 2, 3)));  // MPEG-2 16 kHz mono at 160 kbit/s: 5760-bit frames
    QuantisedGranule g;
    std::vector<uint8_t> payload(40);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(0xC3 ^ i);
    Bytes out;
    for (int f = 0; f < 4; ++f) {
        FrameInput in = Silent(w, g, 14);
        in.sbr.present = true;
        in.sbr.header = true;
        in.sbr.optionalFields = true;
        in.sbr.data = payload.data();
        in.sbr.dataBits = 8 * 40;
        FrameReport r;
        ASSERT_EQ(w.Write(in, &r), FrameStatus::kOk);
        if (f > 0) {  // from the second frame on the reservoir is full
            EXPECT_GE(r.fillerBits, 8);
            EXPECT_EQ(r.granuleBits[0][0], 4092);
        }
        out.Emit(w);
    }
    ASSERT_TRUE(w.Flush());
    out.Emit(w);
    const std::vector<test::CoreFrame> frames = test::DecodeCore(out.data);
    ASSERT_EQ(frames.size(), 4u);
    for (const test::CoreFrame& f : frames) {
        EXPECT_EQ(f.status, kSscSuccess);
        EXPECT_EQ(f.sbr, test::CorePayload(0xF, payload.data(), 8 * 40));
    }
}

TEST(mp3enc_bs_FrameWriter, RefusedFramesChangeNothing) {
    FrameWriter w;
    ASSERT_TRUE(w.Init(Settings(0, 0, 3)));
    QuantisedGranule quiet;
    QuantisedGranule loud;
    for (int i = 0; i < 400; ++i) loud.values[i] = (i % 3 == 0) ? 200 : -30;
    ASSERT_EQ(w.Write(Silent(w, quiet, 1)), FrameStatus::kOk);
    const int reservoir = w.ReservoirBytes();
    const int filler = w.FillerPosition();
    const int ready = w.ReadyBytes();
    EXPECT_EQ(w.Write(Silent(w, loud, 1)), FrameStatus::kGranuleTooLong);

    QuantisedGranule medium;
    for (int i = 0; i < 120; ++i) medium.values[i] = (i % 2 == 0) ? 9 : -4;
    const int bits = w.Spectrum().CountBits(medium.values, kBlockLong);
    ASSERT_LT(bits, kMaxGranuleBits);
    ASSERT_GT(2 * bits, w.MainDataCapacityBits(1, 0));
    EXPECT_EQ(w.Write(Silent(w, medium, 1)), FrameStatus::kFrameTooSmall);

    QuantisedGranule badScale;
    badScale.scalefactors[0] = 16;
    EXPECT_EQ(w.Write(Silent(w, badScale, 1)), FrameStatus::kUncodableScalefactors);
    QuantisedGranule badValue;
    badValue.values[7] = kMaxCodableValue + 1;
    EXPECT_EQ(w.Write(Silent(w, badValue, 1)), FrameStatus::kUncodableSpectrum);
    QuantisedGranule badGain;
    badGain.globalGain = 256;
    EXPECT_EQ(w.Write(Silent(w, badGain, 1)), FrameStatus::kInvalidInput);
    FrameInput missing = Silent(w, quiet, 1);
    missing.granule[1][0] = nullptr;
    EXPECT_EQ(w.Write(missing), FrameStatus::kInvalidInput);
    FrameInput badRate = Silent(w, quiet, 15);
    EXPECT_EQ(w.Write(badRate), FrameStatus::kInvalidInput);

    EXPECT_EQ(w.ReservoirBytes(), reservoir);
    EXPECT_EQ(w.FillerPosition(), filler);
    EXPECT_EQ(w.ReadyBytes(), ready);
    EXPECT_EQ(w.Write(Silent(w, quiet, 1)), FrameStatus::kOk);
}

TEST(mp3enc_bs_FrameWriter, IntensityFlagMustMatchTheHeader) {
    FrameWriter w;
    ASSERT_TRUE(w.Init(Settings(1, 0, 1)));
    QuantisedGranule left;
    QuantisedGranule right;
    FrameInput in = Silent(w, left, 8);
    in.granule[0][1] = &right;
    in.modeExtension = 1;
    EXPECT_EQ(w.Write(in), FrameStatus::kInvalidInput) << "the right channel is intensity coded";
    right.intensityChannel = true;
    EXPECT_EQ(w.Write(in), FrameStatus::kOk);
    in.modeExtension = 2;
    EXPECT_EQ(w.Write(in), FrameStatus::kInvalidInput);
}

}  // namespace
}  // namespace velora::enc

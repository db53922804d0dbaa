#include "MpegHeader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace velora {
namespace {

// Bit rates and sampling rates read from the reference table file, so the expectations
// do not come from the arrays the parser uses.
struct ReferenceRates {
    std::map<std::string, std::vector<int>> bitrateKbps;  // "mpeg1", "mpeg2"
    std::map<std::string, std::vector<int>> samplingHz;   // "mpeg1", "mpeg2", "mpeg25"
};

const ReferenceRates& Rates() {
    static const ReferenceRates rates = [] {
        ReferenceRates r;
        std::ifstream in(VELORA_SOURCE_DIR "/Veloradec/tables/layer3_tables.txt");
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string key;
            std::string which;
            fields >> key >> which;
            std::vector<int> values;
            for (int v = 0; fields >> v;) values.push_back(v);
            if (key == "bitrate") r.bitrateKbps[which] = values;
            if (key == "samplerate") r.samplingHz[which] = values;
        }
        return r;
    }();
    return rates;
}

const char* const kVersionName[3] = {"mpeg1", "mpeg2", "mpeg25"};

struct Fields {
    int ext = 1;
    int id = 1;
    int layerCode = 1;
    int protection = 1;
    int bitrateIndex = 9;
    int samplingIndex = 0;
    int padding = 0;
    int privateBit = 0;
    int mode = 0;
    int modeExtension = 0;
    int copyright = 0;
    int original = 0;
    int emphasis = 0;
};

uint32_t Word(const Fields& f) {
    return 0xFFE00000u | static_cast<uint32_t>(f.ext) << 20 | static_cast<uint32_t>(f.id) << 19 |
           static_cast<uint32_t>(f.layerCode) << 17 | static_cast<uint32_t>(f.protection) << 16 |
           static_cast<uint32_t>(f.bitrateIndex) << 12 |
           static_cast<uint32_t>(f.samplingIndex) << 10 | static_cast<uint32_t>(f.padding) << 9 |
           static_cast<uint32_t>(f.privateBit) << 8 | static_cast<uint32_t>(f.mode) << 6 |
           static_cast<uint32_t>(f.modeExtension) << 4 | static_cast<uint32_t>(f.copyright) << 3 |
           static_cast<uint32_t>(f.original) << 2 | static_cast<uint32_t>(f.emphasis);
}

void ExpectCleared(const MpegHeader& h) {
    EXPECT_EQ(h.word, 0u);
    EXPECT_EQ(h.id, 0);
    EXPECT_EQ(h.layer, 0);
    EXPECT_EQ(h.bitrateIndex, 0);
    EXPECT_EQ(h.mode, 0);
    EXPECT_EQ(h.version, 0);
    EXPECT_EQ(h.channels, 0);
    EXPECT_EQ(h.samplingRate, 0);
    EXPECT_EQ(h.bitrate, 0);
    EXPECT_EQ(h.frameBits, 0);
    EXPECT_EQ(h.headerBits, 0);
    EXPECT_FALSE(h.crcPresent);
}

TEST(MpegHeader, ReferenceTableIsReadable) {
    ASSERT_EQ(Rates().bitrateKbps.at("mpeg1").size(), 16u);
    ASSERT_EQ(Rates().bitrateKbps.at("mpeg2").size(), 16u);
    for (const char* v : kVersionName) ASSERT_EQ(Rates().samplingHz.at(v).size(), 3u) << v;
}

// Every combination of the fields that decide acceptance (bits 20..10), with several
// patterns in the low ten bits.
TEST(MpegHeader, AcceptsExactlyLayer3WithValidIndices) {
    const uint32_t lowPatterns[] = {0x000u, 0x3FFu, 0x1B5u, 0x24Au};
    int accepted = 0;
    for (uint32_t top = 0; top < 2048; ++top) {
        for (uint32_t low : lowPatterns) {
            const uint32_t word = 0xFFE00000u | top << 10 | low;
            const int ext = static_cast<int>(top >> 10 & 1);
            const int id = static_cast<int>(top >> 9 & 1);
            const int layerCode = static_cast<int>(top >> 7 & 3);
            const int rate = static_cast<int>(top >> 2 & 15);
            const int freq = static_cast<int>(top & 3);
            const bool valid =
                !(ext == 0 && id == 1) && layerCode == 1 && rate >= 1 && rate <= 14 && freq <= 2;
            MpegHeader h;
            ASSERT_EQ(h.Parse(word), valid) << std::hex << word;
            if (valid) {
                ++accepted;
                EXPECT_EQ(h.word, word);
                EXPECT_EQ(h.layer, 3);
            } else {
                EXPECT_EQ(h.word, 0u) << std::hex << word;
            }
        }
    }
    // 3 versions x 2 protection x 14 rates x 3 frequencies, per low pattern.
    EXPECT_EQ(accepted, 3 * 2 * 14 * 3 * 4);
}

TEST(MpegHeader, RejectsAnyMissingSyncBit) {
    const uint32_t good = Word(Fields{});
    MpegHeader h;
    ASSERT_TRUE(h.Parse(good));
    for (int bit = 21; bit < 32; ++bit) {
        const uint32_t word = good & ~(1u << bit);
        EXPECT_FALSE(h.Parse(word)) << "sync bit " << bit;
    }
    EXPECT_FALSE(h.Parse(0u));
    EXPECT_FALSE(h.Parse(0xFFFFFFFFu));  // Layer I code
    EXPECT_FALSE(h.Parse(0x7FFB9000u));
}

TEST(MpegHeader, RejectedWordClearsTheRecord) {
    MpegHeader h;
    Fields f;
    f.mode = 1;
    f.padding = 1;
    f.protection = 0;
    ASSERT_TRUE(h.Parse(Word(f)));
    ASSERT_NE(h.frameBits, 0);
    f.bitrateIndex = 15;
    EXPECT_FALSE(h.Parse(Word(f)));
    ExpectCleared(h);

    ASSERT_TRUE(h.Parse(Word(Fields{})));
    f = Fields{};
    f.bitrateIndex = 0;  // free format
    EXPECT_FALSE(h.Parse(Word(f)));
    ExpectCleared(h);

    ASSERT_TRUE(h.Parse(Word(Fields{})));
    f = Fields{};
    f.samplingIndex = 3;
    EXPECT_FALSE(h.Parse(Word(f)));
    ExpectCleared(h);

    ASSERT_TRUE(h.Parse(Word(Fields{})));
    f = Fields{};
    f.ext = 0;  // with ID 1: reserved
    EXPECT_FALSE(h.Parse(Word(f)));
    ExpectCleared(h);

    for (int layerCode : {0, 2, 3}) {
        ASSERT_TRUE(h.Parse(Word(Fields{})));
        f = Fields{};
        f.layerCode = layerCode;
        EXPECT_FALSE(h.Parse(Word(f))) << layerCode;
        ExpectCleared(h);
    }
}

TEST(MpegHeader, ExtractsEveryField) {
    Fields f;
    f.protection = 0;
    f.bitrateIndex = 5;
    f.samplingIndex = 2;
    f.padding = 1;
    f.privateBit = 1;
    f.mode = 1;
    f.modeExtension = 2;
    f.copyright = 1;
    f.original = 0;
    f.emphasis = 3;
    MpegHeader h;
    ASSERT_TRUE(h.Parse(Word(f)));
    EXPECT_EQ(h.extensionBit, 1);
    EXPECT_EQ(h.id, 1);
    EXPECT_EQ(h.protectionBit, 0);
    EXPECT_EQ(h.bitrateIndex, 5);
    EXPECT_EQ(h.samplingIndex, 2);
    EXPECT_EQ(h.padding, 1);
    EXPECT_EQ(h.privateBit, 1);
    EXPECT_EQ(h.mode, 1);
    EXPECT_EQ(h.modeExtension, 2);
    EXPECT_EQ(h.copyright, 1);
    EXPECT_EQ(h.original, 0);
    EXPECT_EQ(h.emphasis, 3);

    // The complementary settings, so no field is stuck at one value.
    f.protection = 1;
    f.padding = 0;
    f.privateBit = 0;
    f.mode = 2;
    f.modeExtension = 1;
    f.copyright = 0;
    f.original = 1;
    f.emphasis = 1;
    ASSERT_TRUE(h.Parse(Word(f)));
    EXPECT_EQ(h.protectionBit, 1);
    EXPECT_EQ(h.padding, 0);
    EXPECT_EQ(h.privateBit, 0);
    EXPECT_EQ(h.mode, 2);
    EXPECT_EQ(h.modeExtension, 1);
    EXPECT_EQ(h.copyright, 0);
    EXPECT_EQ(h.original, 1);
    EXPECT_EQ(h.emphasis, 1);
}

TEST(MpegHeader, DerivedValuesForAllVersions) {
    const int extOf[3] = {1, 1, 0};
    const int idOf[3] = {1, 0, 0};
    for (int version = 0; version < 3; ++version) {
        const std::vector<int>& kbps = Rates().bitrateKbps.at(version == 0 ? "mpeg1" : "mpeg2");
        const std::vector<int>& hz = Rates().samplingHz.at(kVersionName[version]);
        const int spf = version == 0 ? 1152 : 576;
        // Bytes per frame: 144 x bitrate / rate for MPEG-1, half of it for the others.
        const int slotFactor = version == 0 ? 144 : 72;
        for (int rate = 1; rate <= 14; ++rate) {
            for (int freq = 0; freq < 3; ++freq) {
                for (int mode = 0; mode < 4; ++mode) {
                    for (int padding = 0; padding < 2; ++padding) {
                        Fields f;
                        f.ext = extOf[version];
                        f.id = idOf[version];
                        f.bitrateIndex = rate;
                        f.samplingIndex = freq;
                        f.mode = mode;
                        f.padding = padding;
                        MpegHeader h;
                        ASSERT_TRUE(h.Parse(Word(f)));
                        const int bitrate = kbps[static_cast<std::size_t>(rate)] * 1000;
                        const int sampling = hz[static_cast<std::size_t>(freq)];
                        EXPECT_EQ(h.version, version);
                        EXPECT_EQ(h.channels, mode == 3 ? 1 : 2);
                        EXPECT_EQ(h.samplingRate, sampling);
                        EXPECT_EQ(h.bitrate, bitrate);
                        EXPECT_EQ(h.SamplesPerFrame(), spf);
                        const long long bytes =
                            static_cast<long long>(slotFactor) * bitrate / sampling + padding;
                        EXPECT_EQ(h.frameBits, 8 * bytes)
                            << "version " << version << " rate " << rate << " freq " << freq;
                        EXPECT_EQ(h.FrameBits(), h.frameBits);
                        EXPECT_EQ(h.headerBits, 32);
                        EXPECT_FALSE(h.crcPresent);
                        EXPECT_NEAR(static_cast<double>(h.frameDurationMs), 1000.0 * spf / sampling,
                                    1e-3);
                        EXPECT_EQ(h.SideInfoBytes(),
                                  version == 0 ? (mode == 3 ? 17 : 32) : (mode == 3 ? 9 : 17));
                    }
                }
            }
        }
    }
}

TEST(MpegHeader, KnownFrameLengths) {
    struct Case {
        int ext, id, bitrateIndex, samplingIndex, padding, bytes;
    };
    const Case cases[] = {
        {1, 1, 9, 0, 0, 417},    // 128 kbit/s, 44100 Hz
        {1, 1, 9, 0, 1, 418},    //   padded
        {1, 1, 9, 1, 0, 384},    // 128 kbit/s, 48000 Hz
        {1, 1, 1, 1, 0, 96},     // 32 kbit/s, 48000 Hz: the shortest MPEG-1 frame
        {1, 1, 14, 2, 1, 1441},  // 320 kbit/s, 32000 Hz padded: the longest
        {1, 0, 8, 0, 0, 208},    // MPEG-2 64 kbit/s, 22050 Hz
        {1, 0, 1, 1, 0, 24},     // MPEG-2 8 kbit/s, 24000 Hz
        {1, 0, 14, 2, 0, 720},   // MPEG-2 160 kbit/s, 16000 Hz
        {0, 0, 1, 0, 0, 52},     // MPEG-2.5 8 kbit/s, 11025 Hz
        {0, 0, 14, 2, 0, 1440},  // MPEG-2.5 160 kbit/s, 8000 Hz
    };
    for (const Case& c : cases) {
        Fields f;
        f.ext = c.ext;
        f.id = c.id;
        f.bitrateIndex = c.bitrateIndex;
        f.samplingIndex = c.samplingIndex;
        f.padding = c.padding;
        MpegHeader h;
        ASSERT_TRUE(h.Parse(Word(f)));
        EXPECT_EQ(h.frameBits, 8 * c.bytes) << c.ext << c.id << " " << c.bitrateIndex;
    }
}

TEST(MpegHeader, KnownDurations) {
    MpegHeader h;
    Fields f;
    ASSERT_TRUE(h.Parse(Word(f)));
    EXPECT_NEAR(static_cast<double>(h.frameDurationMs), 1152000.0 / 44100.0, 1e-3);
    f.samplingIndex = 1;
    ASSERT_TRUE(h.Parse(Word(f)));
    EXPECT_FLOAT_EQ(h.frameDurationMs, 24.0f);
    f.id = 0;
    f.samplingIndex = 1;  // MPEG-2 24000 Hz
    ASSERT_TRUE(h.Parse(Word(f)));
    EXPECT_FLOAT_EQ(h.frameDurationMs, 24.0f);
    f.ext = 0;
    f.samplingIndex = 2;  // MPEG-2.5 8000 Hz
    ASSERT_TRUE(h.Parse(Word(f)));
    EXPECT_FLOAT_EQ(h.frameDurationMs, 72.0f);
}

TEST(MpegHeader, ProtectionBitZeroMeansCrc) {
    for (int version = 0; version < 3; ++version) {
        Fields f;
        f.ext = version == 2 ? 0 : 1;
        f.id = version == 0 ? 1 : 0;
        f.protection = 0;
        MpegHeader h;
        ASSERT_TRUE(h.Parse(Word(f)));
        EXPECT_TRUE(h.crcPresent);
        EXPECT_EQ(h.protectionBit, 0);
        EXPECT_EQ(h.headerBits, 48);
        const int frameBits = h.frameBits;
        f.protection = 1;
        ASSERT_TRUE(h.Parse(Word(f)));
        EXPECT_FALSE(h.crcPresent);
        EXPECT_EQ(h.headerBits, 32);
        EXPECT_EQ(h.frameBits, frameBits);  // the CRC is inside the frame, not added
    }
}

TEST(MpegHeader, SyncPatternMaskCoversTheStableFields) {
    // Sync, ID, extension bit, layer and sampling frequency; not protection, bit rate,
    // padding, mode or the rest.
    EXPECT_EQ(kSyncPatternMask, 0xFFE00000u | 1u << 20 | 1u << 19 | 3u << 17 | 3u << 10);
}

}  // namespace
}  // namespace velora

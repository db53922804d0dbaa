// The small stages behind the handle: input gathering (cuts anywhere, mix-down, float
// input), the FIFO between block sizes, and the SBR payload as the core's container takes it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "EncoderApi.h"
#include "InputGatherer.h"
#include "SampleFifo.h"
#include "SbrPayloadAdapter.h"

namespace velora::enc {
namespace {

std::vector<uint8_t> Int16Bytes(const std::vector<int16_t>& v) {
    std::vector<uint8_t> b(v.size() * 2);
    std::memcpy(b.data(), v.data(), b.size());
    return b;
}

TEST(veloraenc_Gatherer, CutsAnywhereGiveTheSameFrame) {
    std::mt19937 rng(11);
    std::vector<int16_t> samples(2 * 576);
    for (int16_t& s : samples) s = static_cast<int16_t>(std::uniform_int_distribution<int>(-32768, 32767)(rng));
    const std::vector<uint8_t> bytes = Int16Bytes(samples);
    for (int cut : {1, 3, 5, 7, 2304}) {
        InputGatherer g;
        ASSERT_TRUE(g.Configure(2, kInputInt16, 576, false));
        EXPECT_EQ(g.FrameBytes(), 2304);
        size_t at = 0;
        while (!g.Full()) {
            const int n = std::min(cut, static_cast<int>(bytes.size() - at));
            const int taken = g.Gather(bytes.data() + at, n);
            ASSERT_GT(taken, 0);
            at += static_cast<size_t>(taken);
            EXPECT_EQ(g.MissingBytes(), static_cast<int>(bytes.size() - at));
        }
        EXPECT_EQ(at, bytes.size());
        for (size_t i = 0; i < samples.size(); ++i) ASSERT_EQ(g.Samples()[i], static_cast<float>(samples[i])) << cut;
    }
}

TEST(veloraenc_Gatherer, StopsAtTheFrameEnd) {
    InputGatherer g;
    ASSERT_TRUE(g.Configure(1, kInputInt16, 4, false));
    const std::vector<uint8_t> bytes = Int16Bytes({1, 2, 3, 4, 5, 6});
    EXPECT_EQ(g.Gather(bytes.data(), 12), 8);
    EXPECT_TRUE(g.Full());
    EXPECT_EQ(g.Gather(bytes.data(), 12), 0);
    g.Clear();
    EXPECT_EQ(g.Gather(bytes.data(), 3), 3);  // one sample and half of the next
    EXPECT_EQ(g.MissingBytes(), 5);
    g.PadWithZeros();
    EXPECT_TRUE(g.Full());
    EXPECT_EQ(g.Samples()[0], 1.0f);
    for (int i = 1; i < 4; ++i) EXPECT_EQ(g.Samples()[i], 0.0f);
}

TEST(veloraenc_Gatherer, MixDownAndFloats) {
    InputGatherer g;
    ASSERT_TRUE(g.Configure(2, kInputInt16, 2, true));
    EXPECT_EQ(g.OutputChannels(), 1);
    const std::vector<uint8_t> bytes = Int16Bytes({100, 300, -32768, -32768});
    EXPECT_EQ(g.Gather(bytes.data(), 8), 8);
    EXPECT_EQ(g.Samples()[0], 200.0f);
    EXPECT_EQ(g.Samples()[1], -32768.0f);

    ASSERT_TRUE(g.Configure(2, kInputFloat32, 3, false));
    const float in[6] = {0.5f, -12345.25f, std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(), -1e30f, 32768.0f};
    uint8_t raw[sizeof(in)];
    std::memcpy(raw, in, sizeof(in));
    EXPECT_EQ(g.Gather(raw, static_cast<int>(sizeof(raw))), static_cast<int>(sizeof(raw)));
    EXPECT_EQ(g.Samples()[0], 0.5f);
    EXPECT_EQ(g.Samples()[1], -12345.25f);
    EXPECT_EQ(g.Samples()[2], 0.0f);  // not a number: silence
    EXPECT_EQ(g.Samples()[3], 32768.0f);
    EXPECT_EQ(g.Samples()[4], -32768.0f);
    EXPECT_EQ(g.Samples()[5], 32768.0f);

    EXPECT_FALSE(g.Configure(1, kInputInt16, 4, true));
    EXPECT_FALSE(g.Configure(3, kInputInt16, 4, false));
    EXPECT_FALSE(g.Configure(2, 2, 4, false));
    EXPECT_FALSE(g.Configure(2, kInputInt16, InputGatherer::kMaxFrameSamples + 1, false));
}

TEST(veloraenc_Fifo, KeepsOrderAndRefusesOverflow) {
    SampleFifo f;
    ASSERT_TRUE(f.Allocate(8));
    const float a[5] = {1, 2, 3, 4, 5};
    EXPECT_TRUE(f.Append(a, 5));
    EXPECT_FALSE(f.Append(a, 4));
    EXPECT_EQ(f.Count(), 5);
    f.Drop(3);
    EXPECT_EQ(f.Count(), 2);
    EXPECT_EQ(f.Front()[0], 4.0f);
    EXPECT_EQ(f.Room(), 6);
    f.WritePosition()[0] = 9.0f;
    f.Commit(1);
    EXPECT_EQ(f.Front()[2], 9.0f);
}

// Bits [from, from + count) of `bytes`, most significant first.
std::vector<int> Bits(const uint8_t* bytes, int from, int count) {
    std::vector<int> bits;
    for (int i = from; i < from + count; ++i) bits.push_back((bytes[i / 8] >> (7 - i % 8)) & 1);
    return bits;
}

TEST(veloraenc_SbrAdapter, DataStartsAfterMarkerAndFlag) {
    std::mt19937 rng(5);
    uint8_t scratch[kSbrContainerScratchBytes];
    for (int bits : {13, 20, 64, 101, 400, 4080}) {
        std::vector<uint8_t> payload(static_cast<size_t>((bits + 7) / 8) + 4, 0xFF);  // bytes past the end
        for (size_t i = 0; i < static_cast<size_t>((bits + 7) / 8); ++i) payload[i] = static_cast<uint8_t>(rng());
        payload[0] = static_cast<uint8_t>(0xE8 | (payload[0] & 0x07));  // marker 0xE, CRC flag 1
        SbrContainerData c;
        ToContainerData(payload.data(), bits, scratch, c);
        ASSERT_TRUE(c.present) << bits;
        EXPECT_TRUE(c.header);
        EXPECT_TRUE(c.optionalFields);
        EXPECT_EQ(c.dataBits, bits - 5);
        EXPECT_EQ(Bits(c.data, 0, c.dataBits), Bits(payload.data(), 5, bits - 5)) << bits;
    }
    std::vector<uint8_t> payload(600, 0xC8);
    SbrContainerData c;
    ToContainerData(payload.data(), 5, scratch, c);
    EXPECT_FALSE(c.present);  // nothing after the flag
    ToContainerData(payload.data(), 8 * 512 + 1, scratch, c);
    EXPECT_FALSE(c.present);  // longer than a container
    ToContainerData(payload.data(), 12, scratch, c);
    ASSERT_TRUE(c.present);
    EXPECT_FALSE(c.header);  // marker 0xC
    ToContainerData(nullptr, 40, scratch, c);
    EXPECT_FALSE(c.present);
}

TEST(veloraenc_SbrAdapter, LongestPayloadFitsTheContainer) {
    uint8_t scratch[kSbrContainerScratchBytes];
    std::vector<uint8_t> payload(600, 0xD8);
    SbrContainerData c;
    // 510 counted bytes plus the first byte: 511 bytes as the decoder sees them.
    ToContainerData(payload.data(), 511 * 8, scratch, c);
    EXPECT_TRUE(c.present);
    EXPECT_LE(SbrContainerBits(c), (511 + 2) * 8 + 8);
    ToContainerData(payload.data(), 512 * 8, scratch, c);
    EXPECT_FALSE(c.present);
}

}  // namespace
}  // namespace velora::enc

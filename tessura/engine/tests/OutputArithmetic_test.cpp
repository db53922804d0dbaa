// The built-in output's block arithmetic and the built-in amplifier and pitch shifter, against
// values worked out by hand.
#include "Amplifier.h"
#include "OutputBlockSize.h"
#include "PitchShifter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace tessura {
namespace {

TEST(OutputBlockSize, FollowsTheFragmentRateAndFrame) {
    struct Case {
        uint32_t fragment, rate, channels, bits, block, durationMs;
    } cases[] = {
        {32768, 44100, 1, 16, 16384, 185},  // mono halves the fragment
        {32768, 44100, 2, 16, 32768, 185},
        {32768, 48000, 1, 16, 17832, 185},  // 35665 halved, whole frames
        {32768, 48000, 2, 16, 32768, 170},  // capped (the divide-by-zero case of 44100 / rate)
        {32768, 96000, 2, 16, 32768, 85},
        {32768, 8000, 1, 16, 2972, 185},    // 5944 halved
        {32768, 8000, 2, 16, 5944, 185},    // a whole number of 4-byte frames
        {32768, 8000, 1, 8, 2972, 371},
        {4096, 8000, 1, 8, 371, 46},        // 743 halved, one-byte frames
        {4096, 11025, 2, 16, 1024, 42},     // 23 ms raised to the floor of 42 ms
        {32768, 44100, 2, 24, 32766, 123},  // 6-byte frames below the cap
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fragment << " " << c.rate << " Hz " << c.channels << "ch " << c.bits);
        const uint32_t block = outputBlockSize(c.fragment, c.rate, c.channels, c.bits);
        EXPECT_EQ(block, c.block);
        EXPECT_EQ(block % (c.channels * c.bits / 8), 0u);
        EXPECT_EQ(fragmentDurationMs(block, c.rate, c.channels, c.bits), c.durationMs);
    }
}

TEST(Amplifier, SaturatesAtTheBoundInsteadOfWrapping) {
    struct Case {
        double gain;
        int16_t in, out;
    } cases[] = {
        {2.0, 1000, 2000},     {2.0, -1000, -2000},  {2.0, 16383, 32766},
        {2.0, 16384, 32767},   // 2^27 exactly saturates
        {2.0, -16384, -32768}, {2.0, -16385, -32768}, {8.0, 32767, 32767},
        {8.0, -32768, -32768}, {0.5, 1001, 500},     {0.5, -1001, -501},  // shift floors
        {0.125, 7, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.gain << " x " << c.in);
        Amplifier amp;
        amp.setFormat({44100, 1, 16});
        amp.setGain(c.gain);
        uint8_t bytes[2];
        std::memcpy(bytes, &c.in, 2);
        EXPECT_EQ(amp.process(bytes, 2, 2), 2u);
        int16_t out;
        std::memcpy(&out, bytes, 2);
        EXPECT_EQ(out, c.out);
    }
    // 8-bit samples are centred at 128 and bounded at +-2^19.
    EXPECT_EQ(amplify8(128 + 64, 2 * 4096), 255);
    EXPECT_EQ(amplify8(128 + 63, 2 * 4096), 128 + 126);
    EXPECT_EQ(amplify8(0, 2 * 4096), 0);
    EXPECT_EQ(amplify8(128 - 64, 2 * 4096), 0);
    EXPECT_EQ(amplify8(128 - 65, 2 * 4096), 0);
    EXPECT_EQ(amplify8(128 + 10, 4096 / 2), 128 + 5);
    // Exactly 1.0 is off: even a sample the shift would change stays.
    Amplifier off;
    off.setGain(1.0);
    uint8_t odd[2] = {0x01, 0x80};
    off.process(odd, 2, 2);
    EXPECT_EQ(odd[0], 0x01);
    EXPECT_EQ(odd[1], 0x80);
}

TEST(BuiltinProcessors, AnswerThroughTheirInterfaceTables) {
    Amplifier amp;
    ProcessorInterface* a = amp.processorInterface();
    const auto* ampTable = reinterpret_cast<const AmplifierInterfaceTable*>(a->table);
    int32_t rate = 44100, channels = 1, bits = 16;
    EXPECT_EQ(a->table->SetFormat(a, &rate, &channels, &bits), 0);
    EXPECT_EQ(ampTable->SetGain(a, 0.5), 0);
    double gain = 0;
    EXPECT_EQ(ampTable->GetGain(a, &gain), 0);
    EXPECT_EQ(gain, 0.5);
    int16_t samples[2] = {1000, -1000};
    void* data = samples;
    uint32_t length = sizeof samples;
    EXPECT_EQ(a->table->Process(a, &data, &length), 0);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(samples[0], 500);
    EXPECT_EQ(samples[1], -500);
    PluginInfo info{};
    EXPECT_EQ(a->table->GetInfo(a, &info), 0);
    EXPECT_STREQ(info.name, "Tessura Amplifier");

    PitchShifter shifter;
    ProcessorInterface* p = shifter.processorInterface();
    EXPECT_EQ(p->table->SetFormat(p, &rate, &channels, &bits), 0);
    EXPECT_EQ(reinterpret_cast<const PitchShifterInterfaceTable*>(p->table)->SetPitch(p, 2.0), 0);
    EXPECT_EQ(shifter.storedFactor(), 512);
    EXPECT_EQ(p->table->Process(p, &data, &length), 0);
    EXPECT_EQ(length, 2u);  // every second sample
    EXPECT_EQ(p->table->GetInfo(p, &info), 0);
    EXPECT_STREQ(info.name, "Tessura Pitch Shift");
}

std::vector<uint8_t> rampBytes(std::size_t frames, uint32_t frameBytes) {
    std::vector<uint8_t> bytes(frames * frameBytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i / frameBytes);
    return bytes;
}

TEST(PitchShifter, ResamplesByTheStoredFactor) {
    struct Case {
        double factor;
        int32_t stored;
        int32_t channels, bits;
        std::size_t inFrames, outFrames;
        std::vector<uint8_t> firstFrames;  // the first output frames' first bytes
    } cases[] = {
        {1.0, 256, 1, 16, 100, 100, {0, 1, 2, 3}},     // 256 is off: untouched
        {2.0, 512, 1, 16, 100, 50, {0, 2, 4, 6}},      // every second frame
        {0.5, 128, 1, 16, 100, 200, {0, 0, 1, 1}},     // every frame twice
        {1.5, 384, 1, 8, 10, 7, {0, 1, 3, 4}},         // index 0, 1.5, 3, 4.5 -> 0, 1, 3, 4
        {1.999, 511, 2, 8, 8, 5, {0, 1, 3, 5}},        // truncated to 511
        {0.75, 192, 2, 16, 6, 8, {0, 192, 129, 66}},   // four-byte frames interpolate: 257 n ramps
        {1.25, 320, 2, 24, 10, 0, {}},                 // six-byte frames: empty
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.factor << " " << c.channels << "ch " << c.bits);
        PitchShifter shifter;
        shifter.setFormat({44100, c.channels, c.bits});
        shifter.setPitch(c.factor);
        EXPECT_EQ(shifter.storedFactor(), c.stored);
        const uint32_t frameBytes = static_cast<uint32_t>(c.channels * c.bits / 8);
        std::vector<uint8_t> data = rampBytes(c.inFrames, frameBytes);
        data.resize(c.inFrames * frameBytes * 4);
        const std::size_t out = shifter.process(data.data(), c.inFrames * frameBytes, data.size());
        EXPECT_EQ(out, c.outFrames * frameBytes);
        for (std::size_t i = 0; i < c.firstFrames.size(); ++i)
            EXPECT_EQ(data[i * frameBytes], c.firstFrames[i]) << "frame " << i;
    }
}

TEST(PitchShifter, NeverWritesPastTheCapacityItIsGiven) {
    PitchShifter shifter;
    shifter.setFormat({44100, 1, 16});
    shifter.setPitch(0.5);
    std::vector<uint8_t> data(4096 + 16, 0xEE);
    const std::size_t out = shifter.process(data.data(), 4096, 4096);
    EXPECT_EQ(out, 4096u);
    EXPECT_EQ(data[4096], 0xEE);
}

}  // namespace
}  // namespace tessura

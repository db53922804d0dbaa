#include "MpegStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "FrameWalker.h"

namespace velora {
namespace {

using test::WalkFrames;
using test::WalkResult;

// Layer III bit rates (kbit/s) and sampling rates, for building synthetic frames.
constexpr int kKbps[2][15] = {
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};
constexpr int kHz[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

struct FrameSpec {
    int version = 0;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int bitrateIndex = 9;
    int samplingIndex = 0;
    int padding = 0;
    int mode = 3;
    bool crc = false;
};

uint32_t HeaderWord(const FrameSpec& s) {
    const uint32_t ext = s.version == 2 ? 0u : 1u;
    const uint32_t id = s.version == 0 ? 1u : 0u;
    return 0xFFE00000u | ext << 20 | id << 19 | 1u << 17 | (s.crc ? 0u : 1u) << 16 |
           static_cast<uint32_t>(s.bitrateIndex) << 12 |
           static_cast<uint32_t>(s.samplingIndex) << 10 | static_cast<uint32_t>(s.padding) << 9 |
           static_cast<uint32_t>(s.mode) << 6;
}

int FrameBytes(const FrameSpec& s) {
    const int spf = s.version == 0 ? 1152 : 576;
    const int bitrate = kKbps[s.version == 0 ? 0 : 1][s.bitrateIndex] * 1000;
    return spf / 8 * bitrate / kHz[s.version][s.samplingIndex] + s.padding;
}

int SamplesTimesChannels(const FrameSpec& s) {
    return (s.version == 0 ? 1152 : 576) * (s.mode == 3 ? 1 : 2);
}

// A header word, a CRC word when protected, and zero filler up to the frame length.
// Returns the frame's byte offset.
std::size_t AppendFrame(std::vector<uint8_t>& out, const FrameSpec& s) {
    const std::size_t offset = out.size();
    const uint32_t word = HeaderWord(s);
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(word >> shift));
    if (s.crc) {
        out.push_back(0x12);
        out.push_back(0x34);
    }
    out.resize(offset + static_cast<std::size_t>(FrameBytes(s)), 0);
    return offset;
}

void AppendFrames(std::vector<uint8_t>& out, const FrameSpec& s, int count) {
    for (int i = 0; i < count; ++i) AppendFrame(out, s);
}

// Bytes below 0x80 cannot hold eleven one bits in a row, so garbage never looks like sync.
void AppendGarbage(std::vector<uint8_t>& out, int count, uint32_t seed) {
    std::mt19937 rng(seed);
    for (int i = 0; i < count; ++i) out.push_back(static_cast<uint8_t>(rng() & 0x7F));
}

// The same bits preceded by `bits` zero bits.
std::vector<uint8_t> PrependZeroBits(const std::vector<uint8_t>& in, int bits) {
    std::vector<uint8_t> out(in.size() + 1, 0);
    for (std::size_t i = 0; i < in.size() * 8; ++i) {
        if ((in[i >> 3] >> (7 - (i & 7))) & 1) {
            const std::size_t j = i + static_cast<std::size_t>(bits);
            out[j >> 3] = static_cast<uint8_t>(out[j >> 3] | 0x80u >> (j & 7));
        }
    }
    return out;
}

int SuccessesBeforeFirstLost(const WalkResult& r) {
    int count = 0;
    for (Mp3Ssc s : r.trace) {
        if (s == kSscSyncLost) return count;
        if (s == kSscSuccess) ++count;
    }
    return -1;
}

class MpegStreamTest : public ::testing::Test {
  protected:
    void SetUp() override { stream.Init(storage.data(), test::kWalkBufferSize); }
    int Feed(const std::vector<uint8_t>& bytes, std::size_t from, std::size_t count) {
        return stream.Feed(bytes.data() + from, static_cast<int>(count));
    }

    std::array<uint8_t, test::kWalkBufferSize> storage{};
    MpegStream stream;
};

TEST_F(MpegStreamTest, EmptyInputIsSearchedUntilEndOfData) {
    EXPECT_EQ(stream.State(), kSscSyncSearched);
    EXPECT_EQ(stream.NextFrame(), kSscSyncSearched);
    const uint8_t three[3] = {0xFF, 0xFB, 0x90};
    stream.Feed(three, 3);  // fewer than 32 bits
    EXPECT_EQ(stream.NextFrame(), kSscSyncSearched);
    stream.SetEndOfData();
    EXPECT_EQ(stream.NextFrame(), kSscSyncEof);
    EXPECT_EQ(stream.NextFrame(), kSscSyncEof);
}

TEST(MpegStream, FindsFramesBehindId3v2Tag) {
    std::vector<uint8_t> data = {'I', 'D', '3', 4, 0, 0};
    const int body = 1000;
    // Tag size as four 7-bit groups.
    for (int shift = 21; shift >= 0; shift -= 7) {
        data.push_back(static_cast<uint8_t>((body >> shift) & 0x7F));
    }
    std::mt19937 rng(11);
    for (int i = 0; i < body; ++i) {
        data.push_back(static_cast<uint8_t>(i % 50 < 30 ? 0x20 + rng() % 0x5F : 0));
    }
    const std::size_t tagBytes = data.size();
    FrameSpec spec;
    long long expectedSamples = 0;
    for (int i = 0; i < 15; ++i) {
        spec.padding = i % 3 == 1 ? 1 : 0;
        AppendFrame(data, spec);
        expectedSamples += SamplesTimesChannels(spec);
    }

    std::vector<long long> offsets;
    int stepsAtFirstFrame = -1;
    const WalkResult r = WalkFrames(data, [&](MpegStream& s, long long offset) {
        if (offsets.empty()) stepsAtFirstFrame = s.SearchSteps();
        offsets.push_back(offset);
    });
    EXPECT_EQ(r.frames, 15);
    EXPECT_EQ(r.samples, expectedSamples);
    EXPECT_EQ(r.lost, 0);
    EXPECT_EQ(r.last, kSscSyncEof);
    ASSERT_FALSE(offsets.empty());
    EXPECT_EQ(offsets.front(), static_cast<long long>(tagBytes) * 8);
    EXPECT_EQ(stepsAtFirstFrame, static_cast<int>(tagBytes) * 8);  // one bit per step
}

TEST(MpegStream, FindsFramesBehindZerosAtAnyBitOffset) {
    for (int shift : {0, 1, 3, 7}) {
        std::vector<uint8_t> frames(777, 0);
        std::vector<long long> expectedOffsets;
        FrameSpec spec;
        spec.mode = 1;
        for (int i = 0; i < 12; ++i) {
            spec.padding = i & 1;
            expectedOffsets.push_back(static_cast<long long>(AppendFrame(frames, spec)) * 8 +
                                      shift);
        }
        const std::vector<uint8_t> data = PrependZeroBits(frames, shift);
        std::vector<long long> offsets;
        const WalkResult r =
            WalkFrames(data, [&](MpegStream&, long long offset) { offsets.push_back(offset); });
        EXPECT_EQ(offsets, expectedOffsets) << "shift " << shift;
        EXPECT_EQ(r.lost, 0);
        EXPECT_EQ(r.last, kSscSyncEof);
    }
}

TEST_F(MpegStreamTest, LoneHeaderAtEndIsSearchedThenEof) {
    std::vector<uint8_t> data(100, 0);
    AppendFrame(data, FrameSpec{});
    data.resize(104);  // the header word only
    ASSERT_EQ(Feed(data, 0, data.size()), 104);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(stream.NextFrame(), kSscSyncSearched);
        EXPECT_EQ(stream.Buffer().ReadPosition(), 800u);  // waits on the candidate
        EXPECT_EQ(stream.Buffer().UnreadBits(), 32);
    }
    stream.SetEndOfData();
    EXPECT_EQ(stream.NextFrame(), kSscSyncEof);

    // Final until Reset, even when good data arrives.
    std::vector<uint8_t> good;
    AppendFrames(good, FrameSpec{}, 3);
    Feed(good, 0, good.size());
    EXPECT_EQ(stream.NextFrame(), kSscSyncEof);
    EXPECT_EQ(stream.State(), kSscSyncEof);

    stream.Reset();
    EXPECT_EQ(stream.State(), kSscSyncSearched);
    EXPECT_EQ(stream.Buffer().UnreadBits(), 0);
    EXPECT_FALSE(stream.Buffer().EndOfData());
    ASSERT_EQ(Feed(good, 0, good.size()), static_cast<int>(good.size()));
    EXPECT_EQ(stream.NextFrame(), kSscSuccess);
    EXPECT_EQ(stream.Buffer().ReadPosition(), 0u);
}

TEST_F(MpegStreamTest, LoneCompleteFrameWithoutSuccessorIsNotConfirmed) {
    std::vector<uint8_t> data;
    AppendFrame(data, FrameSpec{});
    data.resize(data.size() + 3, 0);  // less than a following header
    Feed(data, 0, data.size());
    EXPECT_EQ(stream.NextFrame(), kSscSyncSearched);
    EXPECT_EQ(stream.NextFrame(), kSscSyncSearched);
    stream.SetEndOfData();
    EXPECT_EQ(stream.NextFrame(), kSscSyncEof);
}

TEST_F(MpegStreamTest, IncompleteFrameWhileTrackingNeedsData) {
    FrameSpec a;
    FrameSpec b;
    b.padding = 1;
    ASSERT_EQ(FrameBytes(a), 417);
    ASSERT_EQ(FrameBytes(b), 418);
    std::vector<uint8_t> data;
    AppendFrame(data, a);
    AppendFrame(data, b);

    ASSERT_EQ(Feed(data, 0, 417 + 417), 834);
    ASSERT_EQ(stream.NextFrame(), kSscSuccess);
    EXPECT_EQ(stream.Header().frameBits, 417 * 8);
    stream.Buffer().Skip(stream.Header().frameBits);

    EXPECT_EQ(stream.NextFrame(), kSscSyncNeedData);
    EXPECT_EQ(stream.NextFrame(), kSscSyncNeedData);
    EXPECT_EQ(stream.Buffer().ReadPosition(), 417u * 8);  // still on the header
    EXPECT_EQ(stream.Buffer().UnreadBits(), 417 * 8);

    ASSERT_EQ(Feed(data, 834, 1), 1);
    ASSERT_EQ(stream.NextFrame(), kSscSuccess);
    EXPECT_EQ(stream.Header().frameBits, 418 * 8);
    EXPECT_EQ(stream.Header().padding, 1);
    EXPECT_EQ(stream.Buffer().ReadPosition(), 417u * 8);
    stream.Buffer().Skip(stream.Header().frameBits);

    // Nothing left: after a frame that is NeedData, not Searched.
    EXPECT_EQ(stream.NextFrame(), kSscSyncNeedData);
    stream.SetEndOfData();
    EXPECT_EQ(stream.NextFrame(), kSscSyncEof);
}

// At the end of the data a header-like pattern whose frame would run past the end must not
// hide the real frames behind it.
TEST_F(MpegStreamTest, IncompleteCandidateAtEndOfDataIsPassedOver) {
    FrameSpec fake;
    fake.bitrateIndex = 14;  // 320 kbit/s: claims 1044 bytes
    ASSERT_GT(FrameBytes(fake), 4 + 2 * 417);
    std::vector<uint8_t> data;
    const uint32_t word = HeaderWord(fake);
    for (int shift = 24; shift >= 0; shift -= 8) data.push_back(static_cast<uint8_t>(word >> shift));
    AppendFrames(data, FrameSpec{}, 2);
    ASSERT_EQ(Feed(data, 0, data.size()), static_cast<int>(data.size()));
    EXPECT_EQ(stream.NextFrame(), kSscSyncSearched);  // more data may still come
    stream.SetEndOfData();
    int frames = 0;
    for (int guard = 0; guard < 100; ++guard) {
        const Mp3Ssc status = stream.NextFrame();
        if (status == kSscSyncEof) break;
        ASSERT_EQ(status, kSscSuccess);
        EXPECT_EQ(stream.Buffer().ReadPosition(), static_cast<uint32_t>(32 + frames * 417 * 8));
        stream.Buffer().Skip(stream.Header().frameBits);
        ++frames;
    }
    EXPECT_EQ(frames, 2);
}

TEST_F(MpegStreamTest, IncompleteCandidateIsRetriedWhileSearching) {
    FrameSpec a;
    a.padding = 1;
    std::vector<uint8_t> data;
    AppendFrame(data, a);
    AppendFrame(data, FrameSpec{});

    ASSERT_EQ(Feed(data, 0, 417), 417);
    EXPECT_EQ(stream.NextFrame(), kSscSyncSearched);
    EXPECT_EQ(stream.Buffer().ReadPosition(), 0u);
    ASSERT_EQ(Feed(data, 417, 1), 1);  // frame complete, next header missing
    EXPECT_EQ(stream.NextFrame(), kSscSyncSearched);
    EXPECT_EQ(stream.Buffer().ReadPosition(), 0u);
    ASSERT_EQ(Feed(data, 418, 3), 3);  // three bytes of the next header
    EXPECT_EQ(stream.NextFrame(), kSscSyncSearched);
    ASSERT_EQ(Feed(data, 421, 1), 1);
    ASSERT_EQ(stream.NextFrame(), kSscSuccess);
    EXPECT_EQ(stream.Buffer().ReadPosition(), 0u);
    EXPECT_EQ(stream.SearchSteps(), 0);
    EXPECT_EQ(stream.Header().frameBits, 418 * 8);
}

TEST_F(MpegStreamTest, NextHeaderIsComparedUnderThePatternMask) {
    // Successor differs in protection, bit rate, padding and mode only: confirmed.
    FrameSpec a;
    a.crc = true;
    a.mode = 0;
    FrameSpec b;
    b.bitrateIndex = 1;
    b.padding = 1;
    std::vector<uint8_t> data;
    AppendFrame(data, a);
    AppendFrame(data, b);
    Feed(data, 0, data.size());
    ASSERT_EQ(stream.NextFrame(), kSscSuccess);
    EXPECT_EQ(stream.Buffer().ReadPosition(), 0u);
    EXPECT_EQ(stream.SearchSteps(), 0);
    EXPECT_EQ(stream.SyncPattern(), HeaderWord(a) & kSyncPatternMask);
    EXPECT_EQ(stream.SyncPattern(), HeaderWord(b) & kSyncPatternMask);
}

TEST_F(MpegStreamTest, CandidateWithDisagreeingSuccessorIsSkipped) {
    FrameSpec a;  // 44100 Hz
    FrameSpec b;
    b.samplingIndex = 1;  // 48000 Hz
    std::vector<uint8_t> data;
    AppendFrame(data, a);
    AppendFrame(data, b);
    AppendFrame(data, b);
    Feed(data, 0, data.size());
    ASSERT_EQ(stream.NextFrame(), kSscSuccess);
    EXPECT_EQ(stream.Buffer().ReadPosition(), 417u * 8);
    EXPECT_EQ(stream.SearchSteps(), 417 * 8);
    EXPECT_EQ(stream.Header().samplingRate, 48000);
}

TEST_F(MpegStreamTest, ConfirmationCountsDown) {
    std::vector<uint8_t> data;
    AppendFrames(data, FrameSpec{}, 15);
    Feed(data, 0, data.size());
    ASSERT_EQ(stream.NextFrame(), kSscSuccess);
    EXPECT_EQ(stream.ConfirmationCount(), MpegStream::kConfirmationFrames);
    EXPECT_EQ(stream.SyncPattern(), HeaderWord(FrameSpec{}) & kSyncPatternMask);
    int expected = MpegStream::kConfirmationFrames;
    for (int i = 1; i < 15; ++i) {
        stream.Buffer().Skip(stream.Header().frameBits);
        ASSERT_EQ(stream.NextFrame(), kSscSuccess) << i;
        if (expected > 0) --expected;
        EXPECT_EQ(stream.ConfirmationCount(), expected) << i;
    }
}

TEST(MpegStream, ProtectionBitChangingBetweenFramesStillTracks) {
    std::vector<uint8_t> data;
    std::vector<bool> crcs;
    long long expectedSamples = 0;
    for (int i = 0; i < 30; ++i) {
        FrameSpec spec;
        spec.crc = i % 3 != 1;
        spec.mode = i % 4;              // mono and stereo mixed
        spec.bitrateIndex = 5 + i % 7;  // variable bit rate
        spec.padding = i % 5 == 0 ? 1 : 0;
        AppendFrame(data, spec);
        crcs.push_back(spec.crc);
        expectedSamples += SamplesTimesChannels(spec);
    }
    std::vector<bool> seen;
    const WalkResult r =
        WalkFrames(data, [&](MpegStream& s, long long) { seen.push_back(s.Header().crcPresent); });
    EXPECT_EQ(r.frames, 30);
    EXPECT_EQ(r.lost, 0);
    EXPECT_EQ(r.samples, expectedSamples);
    EXPECT_EQ(seen, crcs);
    EXPECT_EQ(r.last, kSscSyncEof);
}

// Garbage after frame k. While confirmations remain (the search frame and the next ten)
// the frame before the garbage is rejected because its successor is not a header; after
// that the garbage itself is reported as Lost. Either way the frames after it are found.
TEST(MpegStream, GarbageBetweenFramesIsLostThenResynchronised) {
    FrameSpec spec;
    spec.bitrateIndex = 1;
    spec.samplingIndex = 1;  // 96-byte frames: the whole input fits in the buffer
    for (int k = 1; k <= 14; ++k) {
        std::vector<uint8_t> data;
        AppendFrames(data, spec, k);
        AppendGarbage(data, 150, static_cast<uint32_t>(k));
        const long long resyncOffset = static_cast<long long>(data.size()) * 8;
        AppendFrames(data, spec, 12);

        std::vector<long long> offsets;
        const WalkResult r =
            WalkFrames(data, [&](MpegStream&, long long offset) { offsets.push_back(offset); });
        const int delivered = k <= 11 ? k - 1 : k;
        EXPECT_EQ(r.frames, delivered + 12) << "k " << k;
        EXPECT_EQ(r.lost, k == 1 ? 0 : 1) << "k " << k;
        if (k > 1) {
            EXPECT_EQ(SuccessesBeforeFirstLost(r), delivered) << "k " << k;
        }
        ASSERT_EQ(offsets.size(), static_cast<std::size_t>(delivered + 12));
        EXPECT_EQ(offsets[static_cast<std::size_t>(delivered)], resyncOffset) << "k " << k;
        EXPECT_EQ(r.last, kSscSyncEof);
    }
}

TEST(MpegStream, FrameWithDifferentStableFieldsIsLost) {
    FrameSpec base;
    base.bitrateIndex = 1;  // 104-byte frames at 44100 Hz
    FrameSpec otherRate = base;
    otherRate.samplingIndex = 1;
    FrameSpec otherVersion = base;
    otherVersion.version = 1;
    for (const FrameSpec& odd : {otherRate, otherVersion}) {
        std::vector<uint8_t> data;
        AppendFrames(data, base, 14);
        AppendFrame(data, odd);
        AppendFrames(data, base, 12);
        std::vector<int> rates;
        const WalkResult r = WalkFrames(
            data, [&](MpegStream& s, long long) { rates.push_back(s.Header().samplingRate); });
        EXPECT_EQ(r.frames, 26);
        EXPECT_EQ(r.lost, 1);
        EXPECT_EQ(SuccessesBeforeFirstLost(r), 14);
        EXPECT_EQ(rates, std::vector<int>(26, 44100));
        EXPECT_EQ(r.last, kSscSyncEof);
    }
}

TEST(MpegStream, SwitchToAnotherSamplingRateResynchronises) {
    FrameSpec first;
    first.bitrateIndex = 1;
    FrameSpec second = first;
    second.samplingIndex = 1;
    std::vector<uint8_t> data;
    AppendFrames(data, first, 14);
    AppendFrames(data, second, 14);
    std::vector<int> rates;
    uint32_t lastPattern = 0;
    const WalkResult r = WalkFrames(data, [&](MpegStream& s, long long) {
        rates.push_back(s.Header().samplingRate);
        lastPattern = s.SyncPattern();
    });
    std::vector<int> expected(14, 44100);
    expected.insert(expected.end(), 14, 48000);
    EXPECT_EQ(rates, expected);
    EXPECT_EQ(r.lost, 1);
    EXPECT_EQ(lastPattern, HeaderWord(second) & kSyncPatternMask);
}

TEST_F(MpegStreamTest, FullBufferFreesSpaceFrameByFrame) {
    FrameSpec spec;
    spec.padding = 1;
    const int frameBytes = FrameBytes(spec);
    ASSERT_EQ(frameBytes, 418);
    std::vector<uint8_t> data;
    AppendFrames(data, spec, 40);

    std::size_t fed = static_cast<std::size_t>(Feed(data, 0, data.size()));
    ASSERT_EQ(fed, static_cast<std::size_t>(test::kWalkBufferSize));
    EXPECT_EQ(stream.Buffer().Free(), 0);
    EXPECT_EQ(Feed(data, fed, data.size() - fed), 0);

    int frames = 0;
    for (int calls = 0; calls < 200; ++calls) {
        const Mp3Ssc status = stream.NextFrame();
        if (status == kSscSyncEof) break;
        ASSERT_EQ(status, kSscSuccess) << "frame " << frames;
        ++frames;
        const bool wasFull = stream.Buffer().Free() == 0;
        stream.Buffer().Skip(stream.Header().frameBits);
        const int freeAfterSkip = stream.Buffer().Free();
        if (wasFull) {
            EXPECT_EQ(freeAfterSkip, frameBytes);
        }
        const std::size_t want = data.size() - fed;
        const int n = Feed(data, fed, want);
        EXPECT_EQ(static_cast<std::size_t>(n),
                  std::min(want, static_cast<std::size_t>(freeAfterSkip)));
        fed += static_cast<std::size_t>(n);
        if (fed < data.size()) {
            EXPECT_EQ(stream.Buffer().Free(), 0);
        }
        if (fed == data.size()) stream.SetEndOfData();
    }
    EXPECT_EQ(frames, 40);
    EXPECT_EQ(stream.State(), kSscSyncEof);
}

}  // namespace
}  // namespace velora

// The assembler places each frame's main data main_data_begin bytes back and emits a frame
// only when its space is filled; it refuses overlapping or overlong data.

#include "FrameAssembler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace velora::enc {
namespace {

struct Planned {
    int frameBytes;
    int mainDataBegin;
    int mainDataBytes;
};

// Main data of frame k is k + 1 repeated, so every byte names its owner.
std::vector<uint8_t> Data(int k, int bytes) {
    return std::vector<uint8_t>(static_cast<size_t>(bytes), static_cast<uint8_t>(k + 1));
}

TEST(mp3enc_bs_FrameAssembler, MainDataLandsBehindTheBackPointer) {
    // Header/side 4 bytes; shares of 12, 12, 16, 12 bytes.
    const Planned plan[] = {{16, 0, 5}, {16, 7, 14}, {20, 5, 20}, {16, 1, 3}};
    FrameAssembler a;
    a.Reset();
    std::vector<uint8_t> out(1024);
    int written = 0;
    for (int k = 0; k < 4; ++k) {
        const uint8_t header[4] = {0xFF, 0xFB, static_cast<uint8_t>(k), 0};
        const std::vector<uint8_t> data = Data(k, plan[k].mainDataBytes);
        ASSERT_TRUE(a.Push(header, 4, plan[k].frameBytes, plan[k].mainDataBegin, data.data(),
                           plan[k].mainDataBytes));
        written += a.Emit(out.data() + written, static_cast<int>(out.size()) - written);
    }
    // Frame 0's share holds its 5 bytes and the first 7 of frame 1; frame 1's share the other
    // 7 of frame 1 and 5 of frame 2; ...
    EXPECT_EQ(written, 16 + 16 + 20);  // frame 3's share still waits for later data
    ASSERT_TRUE(a.Flush());
    written += a.Emit(out.data() + written, static_cast<int>(out.size()) - written);
    ASSERT_EQ(written, 16 + 16 + 20 + 16);
    const std::vector<int> expectedShares[] = {
        {1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2},
        {2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3},
        {3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4},
        {4, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    };
    int at = 0;
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(out[static_cast<size_t>(at + 2)], k) << "frame order";
        for (size_t i = 0; i < expectedShares[k].size(); ++i)
            EXPECT_EQ(out[static_cast<size_t>(at + 4) + i], expectedShares[k][i])
                << "frame " << k << " byte " << i;
        at += plan[k].frameBytes;
    }
}

TEST(mp3enc_bs_FrameAssembler, UnclaimedReservoirBytesBecomeZeros) {
    FrameAssembler a;
    a.Reset();
    const uint8_t header[4] = {0xFF, 0xFB, 0, 0};
    const std::vector<uint8_t> first = Data(0, 4);
    ASSERT_TRUE(a.Push(header, 4, 14, 0, first.data(), 4));
    EXPECT_EQ(a.FreeBytes(), 6);
    const std::vector<uint8_t> second = Data(1, 10);
    ASSERT_TRUE(a.Push(header, 4, 14, 2, second.data(), 10));  // 4 bytes left unclaimed
    std::vector<uint8_t> out(64, 0xEE);
    ASSERT_EQ(a.Emit(out.data(), 64), 14) << "the second frame's share is not filled yet";
    const int share0[] = {1, 1, 1, 1, 0, 0, 0, 0, 2, 2};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[static_cast<size_t>(4 + i)], share0[i]);
}

TEST(mp3enc_bs_FrameAssembler, RefusesInconsistentFrames) {
    FrameAssembler a;
    a.Reset();
    const uint8_t header[4] = {0xFF, 0xFB, 0, 0};
    const std::vector<uint8_t> data = Data(0, 40);
    EXPECT_FALSE(a.Push(header, 4, 14, 0, data.data(), 11));  // longer than its share
    EXPECT_FALSE(a.Push(header, 4, 14, 1, data.data(), 2));   // reaches before the stream
    ASSERT_TRUE(a.Push(header, 4, 14, 0, data.data(), 8));
    EXPECT_FALSE(a.Push(header, 4, 14, 3, data.data(), 2));  // overlaps the previous data
    EXPECT_TRUE(a.Push(header, 4, 14, 2, data.data(), 2));
    EXPECT_EQ(a.PendingFrames(), 2);
    EXPECT_EQ(a.ReadyBytes(), 14);
    uint8_t small[10];
    EXPECT_EQ(a.Emit(small, 10), 0) << "a frame is never split";
    EXPECT_EQ(a.NextFrameBytes(), 14);
}

TEST(mp3enc_bs_FrameAssembler, QueueLimitIsReported) {
    FrameAssembler a;
    a.Reset();
    const uint8_t header[4] = {0xFF, 0xFB, 0, 0};
    int pushed = 0;
    // Nothing is taken out, so the queue fills; frames without main data leave their shares
    // to zeros, which completes each as the next one arrives.
    const std::vector<uint8_t> none = Data(0, 0);
    while (pushed < FrameAssembler::kMaxPendingFrames + 2 &&
           a.Push(header, 4, 6, 0, none.data(), 0))
        ++pushed;
    EXPECT_EQ(pushed, FrameAssembler::kMaxPendingFrames);
    EXPECT_EQ(a.ReadyBytes(), 6 * (FrameAssembler::kMaxPendingFrames - 1));
    ASSERT_TRUE(a.Flush());
    std::vector<uint8_t> out(6 * FrameAssembler::kMaxPendingFrames);
    EXPECT_EQ(a.Emit(out.data(), static_cast<int>(out.size())), 6 * FrameAssembler::kMaxPendingFrames);
}

}  // namespace
}  // namespace velora::enc

// The ring's semantics: counts and wrap, blocking and non-blocking calls, cancel, finish.
#include "StreamRing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <thread>
#include <vector>

namespace tessura {
namespace {

std::vector<uint8_t> bytes(std::size_t n, uint8_t first) {
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

TEST(StreamRing, CountsAndWrapsAcrossTheEnd) {
    // (write, read) steps on a 10-byte ring (capacity 11), each with the counts after it.
    struct Step {
        std::size_t write, read;
        std::size_t readable, free;
    };
    const std::vector<Step> steps = {{7, 0, 7, 3}, {0, 5, 2, 8}, {8, 0, 10, 0}, {0, 10, 0, 10},
                                     {10, 3, 7, 3}, {3, 10, 0, 10}};
    StreamRing ring(10);
    EXPECT_EQ(ring.Capacity(), 11u);
    uint8_t next = 0, expected = 0;
    for (const Step& step : steps) {
        const auto in = bytes(step.write, next);
        EXPECT_EQ(ring.Write(in.data(), in.size(), false, nullptr), step.write);
        next = static_cast<uint8_t>(next + step.write);
        std::vector<uint8_t> out(step.read);
        EXPECT_EQ(ring.Read(out.data(), out.size(), false, true, nullptr), static_cast<int64_t>(step.read));
        EXPECT_EQ(out, bytes(step.read, expected));
        expected = static_cast<uint8_t>(expected + step.read);
        EXPECT_EQ(ring.Readable(), step.readable);
        EXPECT_EQ(ring.Free(), step.free);
    }
}

TEST(StreamRing, NonBlockingCallsTakeWhatFits) {
    StreamRing ring(8);
    const auto in = bytes(12, 0);
    EXPECT_EQ(ring.Write(in.data(), in.size(), false, nullptr), 8u);
    EXPECT_EQ(ring.Write(in.data(), 1, false, nullptr), 0u);
    std::vector<uint8_t> out(12);
    EXPECT_EQ(ring.Read(out.data(), out.size(), false, true, nullptr), 8);
    EXPECT_EQ(ring.Read(out.data(), out.size(), false, true, nullptr), 0);
}

TEST(StreamRing, NullDataWritesZerosAndNullDestinationSkips) {
    StreamRing ring(8);
    const auto in = bytes(4, 9);
    ring.Write(in.data(), 4, false, nullptr);
    ring.Write(nullptr, 3, false, nullptr);
    EXPECT_EQ(ring.Read(nullptr, 2, false, true, nullptr), 2);
    std::vector<uint8_t> out(5);
    EXPECT_EQ(ring.Read(out.data(), 5, false, true, nullptr), 5);
    EXPECT_EQ(out, (std::vector<uint8_t>{11, 12, 0, 0, 0}));
}

TEST(StreamRing, ReadingWithoutConsumingLeavesTheBytes) {
    StreamRing ring(8);
    const auto in = bytes(6, 1);
    ring.Write(in.data(), 6, false, nullptr);
    std::vector<uint8_t> out(10);
    EXPECT_EQ(ring.Read(out.data(), 10, true, false, nullptr), 6);
    EXPECT_EQ(ring.Readable(), 6u);
}

TEST(StreamRing, FinishKeepsOrDropsWhatIsLeft) {
    for (const bool discard : {false, true}) {
        SCOPED_TRACE(discard ? "discard" : "keep");
        StreamRing ring(16);
        const auto in = bytes(10, 0);
        ring.Write(in.data(), 10, true, nullptr);
        ring.Finish(discard);
        EXPECT_TRUE(ring.Closed());
        EXPECT_EQ(ring.Write(in.data(), 1, true, nullptr), 0u);
        std::vector<uint8_t> out(32);
        // A blocking read of more than is there returns what is left, then 0.
        EXPECT_EQ(ring.Read(out.data(), out.size(), true, true, nullptr), discard ? 0 : 10);
        EXPECT_EQ(ring.Read(out.data(), out.size(), true, true, nullptr), 0);
    }
}

TEST(StreamRing, BlockedReaderGetsEverythingEvenBeyondTheCapacity) {
    StreamRing ring(100);
    const auto in = bytes(250, 0);
    std::vector<uint8_t> out(250);
    int64_t got = 0;
    std::thread reader([&] { got = ring.Read(out.data(), out.size(), true, true, nullptr); });
    for (std::size_t at = 0; at < in.size(); at += 25) ring.Write(in.data() + at, 25, true, nullptr);
    reader.join();
    EXPECT_EQ(got, 250);
    EXPECT_EQ(out, in);
}

TEST(StreamRing, BlockedWriterWaitsForSpace) {
    StreamRing ring(64);
    const auto in = bytes(200, 0);
    std::size_t stored = 0;
    std::thread writer([&] { stored = ring.Write(in.data(), in.size(), true, nullptr); });
    std::vector<uint8_t> out;
    uint8_t piece[16];
    while (out.size() < in.size()) {
        const std::size_t want = std::min(sizeof piece, in.size() - out.size());
        const int64_t n = ring.Read(piece, want, true, true, nullptr);
        ASSERT_GT(n, 0);
        out.insert(out.end(), piece, piece + n);
    }
    writer.join();
    EXPECT_EQ(stored, in.size());
    EXPECT_EQ(out, in);
}

TEST(StreamRing, CancelEndsTheWaits) {
    PollableEvent cancel(PollableEvent::Reset::Manual);
    StreamRing ring(8);
    int64_t readResult = 0;
    std::thread reader([&] {
        uint8_t out[4];
        readResult = ring.Read(out, sizeof out, true, true, &cancel);
    });
    cancel.set();
    reader.join();
    EXPECT_EQ(readResult, -1);

    const auto in = bytes(20, 0);
    std::size_t stored = 0;
    std::thread writer([&] { stored = ring.Write(in.data(), in.size(), true, &cancel); });
    writer.join();
    EXPECT_EQ(stored, 8u);  // what fitted before the wait
}

TEST(StreamRing, FinishWakesABlockedReaderAndWriter) {
    StreamRing ring(8);
    int64_t readResult = -5;
    std::thread reader([&] {
        uint8_t out[4];
        readResult = ring.Read(out, sizeof out, true, true, nullptr);
    });
    ring.Finish(false);
    reader.join();
    EXPECT_EQ(readResult, 0);

    StreamRing full(4);
    const auto in = bytes(10, 0);
    std::size_t stored = 0;
    std::thread writer([&] { stored = full.Write(in.data(), in.size(), true, nullptr); });
    full.Finish(true);
    writer.join();
    EXPECT_LE(stored, 4u);
}

}  // namespace
}  // namespace tessura

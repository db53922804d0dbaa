// The encoding call allocates nothing: every buffer comes from Open or a re-configuration.
// This executable counts the global allocations made while frames are encoded and flushed.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "EncoderApi.h"
#include "EncoderTestSupport.h"

namespace {

std::atomic<long> gAllocations{0};

}  // namespace

void* operator new(std::size_t size) {
    gAllocations.fetch_add(1);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    gAllocations.fetch_add(1);
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
// These free what the replacements above took from malloc; the compiler, seeing a `new`
// inlined beside them, cannot tell that the global operator is the replaced one.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace velora::enc {
namespace {

TEST(veloraenc_Allocation, EncodingAllocatesNothing) {
    struct Case {
        int rate;
        uint32_t sbr;
        uint32_t quality;
    };
    for (const Case& c : {Case{44100, 0, 0}, Case{48000, 0, 0}, Case{44100, 0, 50}, Case{32000, 0, 0},
                          Case{44100, kSbrModeOff, 0}}) {
        const long beforeOpen = gAllocations.load();
        Mp3EncHandle h = mp3EncOpen(c.rate, 2, kInputInt16);
        ASSERT_NE(h, nullptr);
        EXPECT_GT(gAllocations.load(), beforeOpen);  // the counter sees the library's allocations
        EncoderOutputFormat f;
        f.sbrMode = c.sbr;
        f.bitrate = 64000;
        f.vbrQuality = c.quality;
        ASSERT_EQ(mp3EncSetOutputFormat(h, &f), 1);
        const std::vector<uint8_t> in = test::AsInt16Bytes(test::MusicSignal(c.rate, 2, 1.0));
        std::vector<uint8_t> out(8192);
        const long before = gAllocations.load();
        size_t at = 0;
        int consumed = 0;
        while (at < in.size()) {
            ASSERT_GE(VeloraencEncodeFrame(h, in.data() + at, static_cast<int>(std::min<size_t>(2304, in.size() - at)),
                                           &consumed, out.data(), 8192, 0, 0), 0);
            at += static_cast<size_t>(consumed);
        }
        for (int n = 1; n > 0;) {
            n = VeloraencEncodeFrame(h, nullptr, 0, &consumed, out.data(), 8192, 0, 0);
            ASSERT_GE(n, 0);
        }
        mp3EncGetVbrHeader(h, out.data(), 8192);
        EXPECT_EQ(gAllocations.load() - before, 0) << c.rate << " Hz, VBR " << c.quality;
        mp3EncClose(h);
    }
}

}  // namespace
}  // namespace velora::enc

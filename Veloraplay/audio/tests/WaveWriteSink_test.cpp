#include "WaveWriteSink.h"

#include "TestFiles.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace veloraplay {
namespace {

using test::listDir;
using test::readAll;
using test::TempDir;
using test::writeAll;

void put16(std::string& s, int v) {
    s += static_cast<char>(v & 0xff);
    s += static_cast<char>((v >> 8) & 0xff);
}
void put32(std::string& s, uint32_t v) {
    put16(s, static_cast<int>(v & 0xffff));
    put16(s, static_cast<int>(v >> 16));
}

// The sample i of frame n: distinct per frame and position, negative values included.
int16_t sampleOf(int n, int i) {
    return static_cast<int16_t>((n + 1) * 1000 - 32768 + i * 7 - (i % 3) * 9000);
}

// Feeds `frames` frames as the decoding worker does: nextBlock, fill, ..., drain, close.
// Returns the bytes the file must then hold.
// `lastSamples` (when > 0) is where the stream ends in the last block.
std::string decodeInto(WaveWriteSink& sink, int channels, int rate, int samples, int frames,
                       int lastSamples = 0) {
    std::string expected = "RIFF";
    const int cut = frames > 0 && lastSamples > 0 ? samples * channels - lastSamples : 0;
    const uint32_t dataBytes = static_cast<uint32_t>((frames * samples * channels - cut) * 2);
    put32(expected, 36 + dataBytes);
    expected += "WAVEfmt ";
    put32(expected, 16);
    put16(expected, 1);
    put16(expected, channels);
    put32(expected, static_cast<uint32_t>(rate));
    put32(expected, static_cast<uint32_t>(rate * channels * 2));
    put16(expected, channels * 2);
    put16(expected, 16);
    expected += "data";
    put32(expected, dataBytes);
    for (int n = 0; n < frames; ++n) {
        int16_t* block = sink.nextBlock(nullptr);
        if (block == nullptr) break;
        for (int i = 0; i < samples * channels; ++i) {
            EXPECT_EQ(block[i], 0) << "a block starts silent";
            block[i] = sampleOf(n, i);
            if (n < frames - 1 || i < samples * channels - cut) put16(expected, block[i]);
        }
    }
    if (cut > 0) sink.setLastBlockLength(static_cast<size_t>(lastSamples));
    sink.drain(nullptr);
    sink.close();
    return expected;
}

// Every decoded frame is in the file, in order, the first one first and the last one kept.
TEST(WaveWriteSink, WritesEveryFrameInOrder) {
    struct Case {
        int channels;
        int rate;
        int samples;
        int frames;
        bool existing;  // the output file is there already (the user agreed to replace it)
        int lastSamples;  // where the stream ends in the last block; 0: at its end
    };
    for (const Case c : {Case{1, 8000, 576, 1, false, 0}, Case{2, 44100, 1152, 7, false, 0},
                         Case{1, 22050, 4, 300, true, 0}, Case{2, 48000, 1152, 0, true, 0},
                         Case{2, 44100, 1152, 3, false, 1000}, Case{1, 8000, 576, 1, false, 1}}) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels, " + std::to_string(c.frames));
        TempDir dir;
        const std::string out = dir.path + "/out.wav";
        if (c.existing) writeAll(out, "an older file, longer than a WAVE header of 44 bytes.....");
        WaveWriteSink sink;
        sink.setOutput(out, nullptr);
        ASSERT_TRUE(sink.open(c.channels, c.rate, c.samples)) << sink.error();
        const std::string expected = decodeInto(sink, c.channels, c.rate, c.samples, c.frames, c.lastSamples);
        EXPECT_EQ(sink.error(), "");
        EXPECT_FALSE(sink.isOpen());
        const std::string got = readAll(out);
        ASSERT_EQ(got.size(), expected.size());
        EXPECT_TRUE(got == expected) << "the bytes differ";
        EXPECT_EQ(listDir(dir.path), std::vector<std::string>{"out.wav"}) << "no temporary left";
        EXPECT_EQ(sink.nextBlock(nullptr), nullptr) << "closed";
    }
}

// Failures: a write error (the file size limit stands for a full disk), a cancelled job and an
// output that is the input. None leaves a partial file or a temporary; an existing one stays.
TEST(WaveWriteSink, FailureAndCancelLeaveNoPartialFile) {
    enum Kind { kDiskFull, kAbort, kAbortAfterWriteError, kOutputIsInput, kOutputLinksToInput };
    for (const Kind kind :
         {kDiskFull, kAbort, kAbortAfterWriteError, kOutputIsInput, kOutputLinksToInput}) {
        SCOPED_TRACE(kind);
        TempDir dir;
        const std::string input = dir.path + "/in.mp3";
        const std::string out = dir.path + "/out.wav";
        const std::string previous = "the file the user chose to overwrite";
        writeAll(input, "compressed input");
        if (kind == kAbort) writeAll(out, previous);
        if (kind == kOutputLinksToInput) {
            ASSERT_EQ(::symlink("in.mp3", out.c_str()), 0);
        }
        struct stat inputStat {};
        ASSERT_EQ(::stat(input.c_str(), &inputStat), 0);
        std::vector<std::string> before = listDir(dir.path);

        WaveWriteSink sink;
        sink.setOutput(kind == kOutputIsInput ? input : out, &inputStat);
        if (kind == kOutputIsInput || kind == kOutputLinksToInput) {
            EXPECT_FALSE(sink.open(2, 44100, 1152));
            EXPECT_NE(sink.error(), "");
            EXPECT_EQ(sink.nextBlock(nullptr), nullptr);
            sink.close();
        } else if (kind == kAbort) {
            ASSERT_TRUE(sink.open(2, 44100, 1152)) << sink.error();
            for (int n = 0; n < 50; ++n) ASSERT_NE(sink.nextBlock(nullptr), nullptr);
            sink.abort();  // the worker was stopped: abort, then close
            sink.close();
            EXPECT_EQ(sink.error(), "");
        } else {
            // Files may grow to 64 KiB only; writing past it fails with EFBIG, not the signal.
            rlimit saved{};
            ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
            rlimit small = saved;
            small.rlim_cur = 64 * 1024;
            auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
            const bool opened = sink.open(2, 44100, 1152);
            int handedOut = 0;
            while (opened && handedOut < 100 && sink.nextBlock(nullptr) != nullptr) ++handedOut;
            if (kind == kAbortAfterWriteError) sink.abort();
            sink.close();
            ::setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, oldHandler);
            ASSERT_TRUE(opened) << sink.error();
            if (kind == kDiskFull) {
                EXPECT_NE(sink.error(), "") << handedOut << " blocks handed out";
                EXPECT_NE(sink.error().find(out), std::string::npos) << sink.error();
            }
        }
        EXPECT_FALSE(sink.isOpen());
        EXPECT_EQ(listDir(dir.path), before) << "no new file, no temporary";
        EXPECT_EQ(readAll(input), "compressed input");
        if (kind == kAbort) {
            EXPECT_EQ(readAll(out), previous);
        }
    }
}

}  // namespace
}  // namespace veloraplay

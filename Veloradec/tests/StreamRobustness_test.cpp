// Frame synchronisation over hostile input: malformed files, random bytes, cut and damaged
// conformance streams. The walk must end in kSscSyncEof within its call budget, and every
// frame it reports must really be in the input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "FrameWalker.h"
#include "MpegHeader.h"

namespace velora {
namespace {

using test::ConformanceDir;
using test::FilesIn;
using test::ReadFileBytes;
using test::WalkFrames;
using test::WalkResult;

// The longest Layer III frame (320 kbit/s at 32000 Hz, padded) plus the next header.
constexpr int kLongestFrameAndHeader = 1441 + 4;

uint32_t WordAt(const std::vector<uint8_t>& bytes, long long bitOffset) {
    uint32_t word = 0;
    for (long long i = bitOffset; i < bitOffset + 32; ++i) {
        const std::size_t byte = static_cast<std::size_t>(i >> 3);
        word = word << 1 | ((bytes[byte] >> (7 - (i & 7))) & 1u);
    }
    return word;
}

struct Checked {
    WalkResult result;
    std::vector<long long> offsets;
    std::vector<int> bits;
    int badFrames = 0;  // reported frames not wholly in the input or with the wrong header
    std::string firstBad;
};

// Walks and checks that each reported frame lies wholly inside the input and starts with
// the header the stream describes.
Checked WalkChecked(const std::vector<uint8_t>& bytes, int piece = 4096) {
    Checked c;
    const long long totalBits = static_cast<long long>(bytes.size()) * 8;
    c.result = WalkFrames(
        bytes,
        [&](MpegStream& s, long long offset) {
            const MpegHeader& h = s.Header();
            const bool inside =
                offset >= 0 && h.frameBits >= 32 && offset + h.frameBits <= totalBits;
            if (!inside || WordAt(bytes, offset) != h.word) {
                if (c.badFrames++ == 0) {
                    c.firstBad = "frame at bit " + std::to_string(offset) + " of " +
                                 std::to_string(h.frameBits) + " bits";
                }
            }
            c.offsets.push_back(offset);
            c.bits.push_back(h.frameBits);
        },
        piece);
    return c;
}

void ExpectTerminates(const Checked& c, const std::string& what) {
    EXPECT_FALSE(c.result.capped) << what << ": no end within " << c.result.calls << " calls";
    EXPECT_FALSE(c.result.unexpected) << what;
    EXPECT_EQ(c.result.last, kSscSyncEof) << what;
    EXPECT_EQ(c.badFrames, 0) << what << ": " << c.firstBad;
}

TEST(StreamRobustness, MalformedFiles) {
    const auto files = FilesIn(ConformanceDir() + "robustness/", "");
    ASSERT_FALSE(files.empty());
    for (const auto& path : files) {
        const std::vector<uint8_t> bytes = ReadFileBytes(path);
        for (int piece : {4096, 1, 13}) {
            ExpectTerminates(WalkChecked(bytes, piece),
                             path.filename().string() + " piece " + std::to_string(piece));
        }
    }
}

TEST(StreamRobustness, RandomBytes) {
    const std::size_t sizes[] = {0, 1, 2, 3, 4, 5, 6, 17, 100, 1000, 5000, 20000};
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        std::mt19937 rng(seed);
        for (std::size_t size : sizes) {
            std::vector<uint8_t> bytes(size);
            for (auto& b : bytes) b = static_cast<uint8_t>(rng());
            const std::string what =
                "seed " + std::to_string(seed) + " size " + std::to_string(size);
            ExpectTerminates(WalkChecked(bytes), what);
            ExpectTerminates(WalkChecked(bytes, 3), what + " piece 3");
        }
    }
}

// Random bytes with plausible header words scattered in, some at the distance of the frame
// they announce, so search, tracking and loss all get exercised.
TEST(StreamRobustness, RandomBytesWithScatteredHeaders) {
    const uint32_t words[] = {0xFFFB90C0u, 0xFFFB9064u, 0xFFFA9000u, 0xFFF380C4u,
                              0xFFE340C0u, 0xFFFB14C0u, 0xFFFBE040u};
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        std::mt19937 rng(seed + 100);
        for (std::size_t size : {std::size_t{40}, std::size_t{3000}, std::size_t{30000}}) {
            std::vector<uint8_t> bytes(size);
            for (auto& b : bytes) b = static_cast<uint8_t>(rng());
            std::size_t at = rng() % 64;
            while (at + 4 <= size) {
                const uint32_t word = words[rng() % 7];
                for (int i = 0; i < 4; ++i) {
                    bytes[at + static_cast<std::size_t>(i)] =
                        static_cast<uint8_t>(word >> (24 - 8 * i));
                }
                MpegHeader h;
                h.Parse(word);
                // Mostly the announced distance, sometimes a little off.
                const std::size_t step = static_cast<std::size_t>(h.frameBits / 8);
                at += rng() % 4 == 0 ? step + rng() % 9 : step;
            }
            const std::string what =
                "seed " + std::to_string(seed) + " size " + std::to_string(size);
            const Checked c = WalkChecked(bytes);
            ExpectTerminates(c, what);
            ExpectTerminates(WalkChecked(bytes, 5), what + " piece 5");
            if (size >= 30000) {
                EXPECT_GT(c.result.frames, 0) << what;
            }
        }
    }
}

// Expected frames of a prefix of `cut` bytes, from the frames of the whole stream: every
// complete frame, except that a first frame alone is confirmed only by the header after it.
int FramesInPrefix(const Checked& whole, long long cutBits) {
    int complete = 0;
    for (std::size_t i = 0; i < whole.offsets.size(); ++i) {
        if (whole.offsets[i] + whole.bits[i] <= cutBits) ++complete;
    }
    if (complete == 1 && whole.offsets[0] + whole.bits[0] + 32 > cutBits) return 0;
    return complete;
}

TEST(StreamRobustness, TruncatedConformanceStreams) {
    for (const auto& path : FilesIn(ConformanceDir(), ".bit")) {
        const std::string name = path.filename().string();
        const std::vector<uint8_t> bytes = ReadFileBytes(path);
        const Checked whole = WalkChecked(bytes);
        ExpectTerminates(whole, name);

        std::vector<std::size_t> cuts = {0, 1, 2, 3, 4, 5, bytes.size() - 1};
        for (std::size_t i = 0; i < std::min<std::size_t>(3, whole.offsets.size()); ++i) {
            const long long end = (whole.offsets[i] + whole.bits[i]) / 8;
            for (long long d : {-1LL, 0LL, 1LL, 3LL, 4LL, 5LL}) {
                if (end + d >= 0) cuts.push_back(static_cast<std::size_t>(end + d));
            }
        }
        for (std::size_t k = 1; k < 16; ++k) cuts.push_back(bytes.size() * k / 16);

        for (std::size_t cut : cuts) {
            cut = std::min(cut, bytes.size());
            const std::vector<uint8_t> prefix(bytes.begin(),
                                              bytes.begin() + static_cast<std::ptrdiff_t>(cut));
            const Checked c = WalkChecked(prefix);
            const std::string what = name + " cut at " + std::to_string(cut);
            ExpectTerminates(c, what);
            EXPECT_EQ(c.result.lost, 0) << what;
            if (whole.offsets.empty()) {
                EXPECT_EQ(c.result.frames, 0) << what;
                continue;
            }
            const long long cutBits = static_cast<long long>(cut) * 8;
            const int expected = FramesInPrefix(whole, cutBits);
            // Bytes ahead of the first frame may hold a candidate that waits for more data
            // than a short prefix has; past the longest frame from there, none can.
            if (whole.offsets[0] == 0 || cutBits >= whole.offsets[0] + kLongestFrameAndHeader * 8) {
                EXPECT_EQ(c.result.frames, expected) << what;
                const std::size_t n = static_cast<std::size_t>(std::max(c.result.frames, 0));
                EXPECT_TRUE(std::equal(c.offsets.begin(), c.offsets.end(), whole.offsets.begin(),
                                       whole.offsets.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                                   n, whole.offsets.size()))))
                    << what;
            } else {
                EXPECT_LE(c.result.frames, expected) << what;
            }
        }
    }
}

// Damaged copies of real streams: bytes overwritten, ranges removed, junk inserted.
TEST(StreamRobustness, DamagedConformanceStreams) {
    for (const char* name : {"l3-compl.bit", "l3-he_mode.bit", "M2L3_compl24.bit",
                             "l3-hecommon.bit", "l3-sin1k0db.bit"}) {
        const std::vector<uint8_t> original = ReadFileBytes(ConformanceDir() + name);
        ASSERT_FALSE(original.empty()) << name;
        for (uint32_t seed = 1; seed <= 4; ++seed) {
            std::mt19937 rng(seed * 7919u);
            std::vector<uint8_t> bytes = original;
            for (int i = 0; i < 40; ++i) {
                const std::size_t at = rng() % bytes.size();
                switch (rng() % 3) {
                    case 0:
                        bytes[at] = static_cast<uint8_t>(rng());
                        break;
                    case 1: {
                        const std::size_t len =
                            std::min<std::size_t>(rng() % 700, bytes.size() - at);
                        bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                    bytes.begin() + static_cast<std::ptrdiff_t>(at + len));
                        break;
                    }
                    default: {
                        std::vector<uint8_t> junk(rng() % 300);
                        for (auto& b : junk) b = static_cast<uint8_t>(rng() | 0xE0u);  // sync-like
                        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), junk.begin(),
                                     junk.end());
                        break;
                    }
                }
                if (bytes.empty()) bytes.push_back(0);
            }
            const std::string what = std::string(name) + " seed " + std::to_string(seed);
            const Checked c = WalkChecked(bytes);
            ExpectTerminates(c, what);
            EXPECT_GT(c.result.frames, 0) << what;
            ExpectTerminates(WalkChecked(bytes, 11), what + " piece 11");
        }
    }
}

}  // namespace
}  // namespace velora

// The decoder object over hostile input: malformed files, found regressions, random bytes,
// random frames behind valid headers, and cut and damaged conformance streams, each in
// every output configuration and feed size. Decoding must reach kSscSyncEof within a call
// budget, return no code the input cannot cause, deliver exactly one frame of samples per
// successful call, keep float output finite and bounded, and allocate nothing: all memory
// comes from Create (and, for a Velora stream, the enhancement's set-up on its first frame).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "FrameWalker.h"
#include "LameStreams.h"
#include "MpegHeader.h"
#include "VeloraPayloads.h"
#include "VeloraStreamBuilder.h"
#include "Veloradecoder.h"

namespace velora {
namespace {

using test::ConformanceDir;
using test::FilesIn;
using test::ReadFileBytes;

struct Config {
    int shift;
    bool mono;
    bool floatOutput;
    int piece;
};

std::string Describe(const Config& c) {
    return "shift " + std::to_string(c.shift) + (c.mono ? " mono" : " stereo") +
           (c.floatOutput ? " float" : " int16") + " piece " + std::to_string(c.piece);
}

std::vector<Config> AllConfigs() {
    std::vector<Config> configs;
    for (int shift : {0, 1, 2}) {
        for (bool mono : {false, true}) {
            for (int piece : {1, 417, 4096}) {
                // Float right after int16: ExpectRobust compares the two.
                for (bool floatOutput : {false, true})
                    configs.push_back({shift, mono, floatOutput, piece});
            }
        }
    }
    return configs;
}

// Real audio stays within a few times full scale (32768).
constexpr float kAudioBound = 1e6f;
// What arbitrary bits can reach: the largest requantised line (8206^(4/3) x 32768, about
// 5.4e9), or a concealed one scaled to a band's stored energy, through stereo processing,
// IMDCT with overlap-add and the synthesis filter bank stays below about 1e14.
constexpr float kCorruptBound = 1e15f;

struct Outcome {
    std::string problem;  // empty when every check held
    Mp3Ssc last = kSscSuccess;
    int frames = 0;
    std::vector<float> samples;  // the output, as floats in both modes
    std::vector<Mp3Ssc> statuses;
};

// Veloradecoder::Create allocates with the nothrow operator new, which this test replaces:
// the memory it hands out is filled with this byte.
unsigned char heapFill = 0;
// Every global allocation of the process, counted by the replaced operators.
std::atomic<long> allocations{0};
std::atomic<long> allocatedBytes{0};

bool Expected(Mp3Ssc status) {
    switch (status) {
        case kSscSuccess:
        case kSscInfoCrc:
        case kSscInfoNoMainData:
        case kSscSyncSearched:
        case kSscSyncLost:
        case kSscSyncNeedData:
        case kSscSyncEof:
            return true;
        default:
            return false;
    }
}

// Decodes like a player: one piece is offered whenever Decode asks for data (the part Feed
// did not take is offered again), end of data after the last byte, until kSscSyncEof.
Outcome DecodeChecked(const std::vector<uint8_t>& bytes, const Config& c, float bound) {
    Outcome o;
    const long allocationsBeforeCreate = allocations.load();
    VeloradecoderPtr decoder(Veloradecoder::Create(c.shift, c.mono, c.floatOutput));
    if (!decoder) {
        o.problem = "Create failed";
        return o;
    }
    if (allocations.load() == allocationsBeforeCreate) {
        o.problem = "the allocation counter did not see Create";
        return o;
    }
    const int sampleSize = c.floatOutput ? 4 : 2;
    // Exactly the documented sizes, so that AddressSanitizer sees any write past them.
    std::vector<uint8_t> out(static_cast<size_t>(kMaxFrameSamples * sampleSize));
    std::vector<char> text(kAncillaryTextBufferSize);
    std::vector<uint8_t> levels(8);

    const long long budget = 1000 + 4 * static_cast<long long>(bytes.size());
    size_t fed = 0;
    bool wantData = true;
    for (long long calls = 1;; ++calls) {
        const long allocationsBefore = allocations.load();
        if (wantData && fed < bytes.size()) {
            const size_t chunk = std::min(static_cast<size_t>(c.piece), bytes.size() - fed);
            fed += static_cast<size_t>(decoder->Feed(bytes.data() + fed, static_cast<int>(chunk)));
        }
        if (fed == bytes.size()) decoder->SetEndOfData();
        if (calls > budget) {
            o.problem = "no kSscSyncEof within " + std::to_string(budget) + " calls";
            return o;
        }
        int written = -1;
        int textLength = -1;
        const Mp3Ssc status = decoder->Decode(out.data(), static_cast<int>(out.size()), &written,
                                              true, text.data(), &textLength);
        if (SscSucceeded(status)) decoder->BandLevels(8, levels.data());
        if (allocations.load() != allocationsBefore) {
            o.problem = std::to_string(allocations.load() - allocationsBefore) +
                        " allocations in decoding, at call " + std::to_string(calls);
            return o;
        }
        o.last = status;
        o.statuses.push_back(status);
        const std::string at = " at call " + std::to_string(calls);
        if (!Expected(status)) {
            o.problem = std::string("status ") + StatusText(status) + at;
            return o;
        }
        if (textLength != -1 && (textLength < 0 || textLength >= kAncillaryTextBufferSize ||
                                 text[static_cast<size_t>(textLength)] != '\0')) {
            o.problem = "bad ancillary text, length " + std::to_string(textLength) + at;
            return o;
        }
        if (status == kSscSyncEof) return o;
        wantData = status == kSscSyncNeedData || status == kSscSyncSearched;
        if (!SscSucceeded(status)) {
            if (written != 0) {
                o.problem = std::to_string(written) + " bytes written with a warning" + at;
                return o;
            }
            continue;
        }

        ++o.frames;
        const FrameInfo& info = decoder->Info();
        const int perChannel = (info.version == 0 ? 1152 : 576) >> c.shift;
        const int channels = c.mono ? 1 : info.codedChannels;
        if (info.outputChannels != channels ||
            info.outputSamplingRate != info.codedSamplingRate >> c.shift || info.sbrActive != 0) {
            o.problem = "inconsistent FrameInfo" + at;
            return o;
        }
        if (written != perChannel * channels * sampleSize) {
            o.problem = std::to_string(written) + " bytes written for " +
                        std::to_string(perChannel) + " x " + std::to_string(channels) + " samples" +
                        at;
            return o;
        }
        const size_t count = static_cast<size_t>(written / sampleSize);
        for (size_t i = 0; i < count; ++i) {
            float x;
            if (c.floatOutput) {
                std::memcpy(&x, out.data() + 4 * i, 4);
            } else {
                int16_t s;
                std::memcpy(&s, out.data() + 2 * i, 2);
                x = s;
            }
            if (!std::isfinite(x) || std::fabs(x) >= bound) {
                o.problem = "sample " + std::to_string(x) + at;
                return o;
            }
            o.samples.push_back(x);
        }
        if (*std::max_element(levels.begin(), levels.end()) > 127) {
            o.problem = "band level above 127" + at;
            return o;
        }
    }
}

// 16-bit output must be the float output rounded to nearest (ties to even) and saturated.
std::string CompareFormats(const Outcome& pcm, const Outcome& floats) {
    if (pcm.samples.size() != floats.samples.size()) {
        return std::to_string(pcm.samples.size()) + " int16 samples but " +
               std::to_string(floats.samples.size()) + " floats";
    }
    for (size_t i = 0; i < pcm.samples.size(); ++i) {
        const float clamped = std::min(std::max(floats.samples[i], -32768.0f), 32767.0f);
        if (pcm.samples[i] != std::nearbyint(clamped)) {
            return "sample " + std::to_string(i) + ": int16 " + std::to_string(pcm.samples[i]) +
                   ", float " + std::to_string(floats.samples[i]);
        }
    }
    return "";
}

// Runs every configuration; returns the number of frames decoded in the first one.
int ExpectRobust(const std::vector<uint8_t>& bytes, const std::string& what, float bound) {
    int frames = -1;
    Outcome pcm;
    for (const Config& c : AllConfigs()) {
        Outcome o = DecodeChecked(bytes, c, bound);
        EXPECT_EQ(o.problem, "") << what << ", " << Describe(c);
        EXPECT_EQ(o.last, kSscSyncEof) << what << ", " << Describe(c);
        if (frames < 0) frames = o.frames;
        // Each int16 configuration is followed by the same one with float output.
        if (!c.floatOutput) {
            pcm = std::move(o);
        } else if (o.problem.empty() && pcm.problem.empty()) {
            EXPECT_EQ(CompareFormats(pcm, o), "") << what << ", " << Describe(c);
        }
    }
    return frames;
}

uint32_t Next(std::mt19937& rng) {
    return static_cast<uint32_t>(rng());
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t size) {
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(Next(rng) & 0xFF);
    return bytes;
}

// Layer III frames with valid headers (one sync pattern per stream, the other fields
// random) and random side information and main data, so that the core itself gets garbage.
// main_data_begin is 0, so that each frame's main data is there to be decoded.
std::vector<uint8_t> RandomFrames(std::mt19937& rng, int count) {
    const uint32_t versionBits[3] = {0x3u, 0x2u, 0x0u};  // extension and ID: MPEG-1, 2, 2.5
    const uint32_t version = versionBits[Next(rng) % 3];
    const uint32_t sampling = Next(rng) % 3;
    std::vector<uint8_t> bytes;
    for (int f = 0; f < count; ++f) {
        const uint32_t word = 0xFFE00000u | version << 19 | 1u << 17 | 1u << 16 |
                              (1 + Next(rng) % 14) << 12 | sampling << 10 | (Next(rng) & 0x3FFu);
        MpegHeader header;
        if (!header.Parse(word)) break;
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<uint8_t>(word >> shift));
        const std::vector<uint8_t> body =
            RandomBytes(rng, static_cast<size_t>(header.frameBits / 8 - 4));
        bytes.push_back(0);
        bytes.push_back(body[1] & 0x7F);
        bytes.insert(bytes.end(), body.begin() + 2, body.end());
    }
    return bytes;
}

std::vector<std::filesystem::path> ConformanceStreams() {
    return FilesIn(ConformanceDir(), ".bit");
}

// Inputs the fuzz targets once failed on (byte 0 is the fuzz target's configuration byte;
// here it is decoded as part of the stream, where it is junk before the first header).
std::vector<std::filesystem::path> RegressionFiles() {
    const std::string dir = VELORA_SOURCE_DIR "/Veloradec/tests/regressions/";
    if (!std::filesystem::is_directory(dir)) return {};
    return FilesIn(dir, ".bin");
}

// The first 3000 bytes of a conformance stream with about one flipped bit in 400:
// headers, side information and main data all get hit.
std::vector<uint8_t> Damaged(const std::vector<uint8_t>& whole, std::mt19937& rng) {
    const size_t length = std::min<size_t>(whole.size(), 3000);
    std::vector<uint8_t> damaged(whole.begin(), whole.begin() + static_cast<long>(length));
    for (int flip = 0; flip < static_cast<int>(length / 50); ++flip) {
        damaged[Next(rng) % length] ^= static_cast<uint8_t>(1u << (Next(rng) % 8));
    }
    return damaged;
}

TEST(DecoderRobustness, MalformedAndRegressionFiles) {
    std::vector<std::filesystem::path> files = FilesIn(ConformanceDir() + "robustness/", "");
    ASSERT_FALSE(files.empty());
    for (const auto& path : RegressionFiles()) files.push_back(path);
    for (const auto& path : files) {
        ExpectRobust(ReadFileBytes(path), path.filename().string(), kCorruptBound);
    }
}

TEST(DecoderRobustness, RandomBytes) {
    std::mt19937 rng(20240611u);
    for (size_t size :
         {size_t{0}, size_t{1}, size_t{3}, size_t{4}, size_t{100}, size_t{5000}, size_t{20000}}) {
        ExpectRobust(RandomBytes(rng, size), "random " + std::to_string(size) + " bytes",
                     kCorruptBound);
    }
    // Bytes biased towards the sync word, so that headers and short runs of them appear.
    for (int run = 0; run < 2; ++run) {
        std::vector<uint8_t> bytes = RandomBytes(rng, 12000);
        for (size_t i = 0; i + 1 < bytes.size(); i += 1 + Next(rng) % 64) {
            bytes[i] = 0xFF;
            bytes[i + 1] |= 0xE0;
        }
        ExpectRobust(bytes, "sync-biased run " + std::to_string(run), kCorruptBound);
    }
}

TEST(DecoderRobustness, RandomFramesBehindValidHeaders) {
    std::mt19937 rng(7u);
    int decoded = 0;
    for (int run = 0; run < 6; ++run) {
        decoded += ExpectRobust(RandomFrames(rng, 12), "random frames run " + std::to_string(run),
                                kCorruptBound);
    }
    // The sync search must accept such streams, or the core was never exercised.
    EXPECT_GT(decoded, 0);
}

TEST(DecoderRobustness, TruncatedConformanceStreams) {
    const auto streams = ConformanceStreams();
    ASSERT_FALSE(streams.empty());
    for (const auto& path : streams) {
        const std::vector<uint8_t> whole = ReadFileBytes(path);
        const std::string name = path.filename().string();
        // Cut inside the first header, inside the first frame, and a few frames in; then
        // a piece from the middle that starts inside a frame and refers to missing data.
        for (size_t cut : {size_t{2}, size_t{211}, size_t{3001}}) {
            if (cut >= whole.size()) continue;
            const std::vector<uint8_t> head(whole.begin(), whole.begin() + static_cast<long>(cut));
            ExpectRobust(head, name + " cut at " + std::to_string(cut), kAudioBound);
        }
        const size_t start = whole.size() / 2 + 5;
        const size_t end = std::min(whole.size(), start + 4500);
        const std::vector<uint8_t> middle(whole.begin() + static_cast<long>(start),
                                          whole.begin() + static_cast<long>(end));
        const int frames = ExpectRobust(middle, name + " middle", kAudioBound);
        // Free-format streams are not decoded at all.
        if (name != "l3-he_free.bit") {
            EXPECT_GT(frames, 0) << name << ": no frame decoded from 4500 bytes in the middle";
        }
    }
}

TEST(DecoderRobustness, DamagedConformanceStreams) {
    const auto streams = ConformanceStreams();
    ASSERT_FALSE(streams.empty());
    std::mt19937 rng(1234u);
    for (const auto& path : streams) {
        ExpectRobust(Damaged(ReadFileBytes(path), rng),
                     path.filename().string() + " with bit flips", kCorruptBound);
    }
}

// Two decoders whose memory starts out different must decode alike: nothing may depend on
// state that creation or Reset did not set. A granule that claims more main data than the
// reservoir holds once read on into never-written reservoir storage.
TEST(DecoderRobustness, IndependentOfUninitialisedMemory) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> inputs;
    for (const auto& path : RegressionFiles()) {
        inputs.emplace_back(path.filename().string(), ReadFileBytes(path));
    }
    std::mt19937 rng(1234u);
    for (const auto& path : ConformanceStreams()) {
        inputs.emplace_back(path.filename().string() + " with bit flips",
                            Damaged(ReadFileBytes(path), rng));
    }
    std::mt19937 frameRng(99u);
    for (int run = 0; run < 4; ++run) {
        inputs.emplace_back("random frames run " + std::to_string(run), RandomFrames(frameRng, 12));
    }
    for (const auto& [what, bytes] : inputs) {
        for (const Config& c : {Config{0, false, true, 4096}, Config{2, true, false, 1}}) {
            heapFill = 0x00;
            const Outcome zeros = DecodeChecked(bytes, c, kCorruptBound);
            heapFill = 0xFF;
            const Outcome ones = DecodeChecked(bytes, c, kCorruptBound);
            heapFill = 0x00;
            EXPECT_EQ(zeros.problem, "") << what;
            EXPECT_TRUE(zeros.statuses == ones.statuses) << what << ", " << Describe(c);
            EXPECT_TRUE(zeros.samples == ones.samples) << what << ", " << Describe(c);
        }
    }
}

// A first frame as 16-bit and as float output, decoded with room to spare.
Outcome FirstFrame(const std::vector<uint8_t>& bytes, int shift, bool floatOutput) {
    Config c{shift, false, floatOutput, 4096};
    std::vector<uint8_t> head(bytes.begin(), bytes.begin() + 8192);
    Outcome o = DecodeChecked(head, c, kAudioBound);
    EXPECT_EQ(o.problem, "");
    return o;
}

// Too small a destination is the one error a caller can cause. In 16-bit mode the frame is
// refused before anything is decoded, so a second call with room decodes the same frame;
// a destination of exactly one frame is enough.
TEST(DecoderRobustness, DestinationSize) {
    const std::vector<uint8_t> bytes = ReadFileBytes(ConformanceDir() + "l3-si.bit");
    ASSERT_GT(bytes.size(), 8192u);
    MpegHeader header;
    ASSERT_TRUE(header.Parse(
        static_cast<uint32_t>(bytes[0] << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3])));
    for (bool floatOutput : {false, true}) {
        for (int shift : {0, 1, 2}) {
            const std::string what =
                "shift " + std::to_string(shift) + (floatOutput ? " float" : " int16");
            const int sampleSize = floatOutput ? 4 : 2;
            const int samples = (header.SamplesPerFrame() >> shift) * header.channels;
            const Outcome reference = FirstFrame(bytes, shift, floatOutput);
            const size_t compared = static_cast<size_t>(3 * samples);
            ASSERT_GE(reference.samples.size(), compared) << what;

            VeloradecoderPtr decoder(Veloradecoder::Create(shift, false, floatOutput));
            ASSERT_TRUE(decoder);
            ASSERT_EQ(decoder->Feed(bytes.data(), 8192), 8192);
            // Exact sizes: AddressSanitizer sees a write past them.
            std::vector<uint8_t> small(static_cast<size_t>(samples * 2 - 1));
            std::vector<uint8_t> exact(static_cast<size_t>(samples * sampleSize));
            int written = -1;
            EXPECT_EQ(decoder->Decode(small.data(), static_cast<int>(small.size()), &written, true,
                                      nullptr, nullptr),
                      kSscErrBufferSize)
                << what;
            EXPECT_EQ(written, 0) << what;

            std::vector<float> got;
            for (int call = 0; call < 20 && got.size() < compared; ++call) {
                const Mp3Ssc status = decoder->Decode(exact.data(), static_cast<int>(exact.size()),
                                                      &written, true, nullptr, nullptr);
                ASSERT_FALSE(SscIsError(status)) << what << ": " << StatusText(status);
                if (!SscSucceeded(status)) continue;
                ASSERT_EQ(written, samples * sampleSize) << what;
                for (int i = 0; i < samples; ++i) {
                    float x;
                    if (floatOutput) {
                        std::memcpy(&x, exact.data() + 4 * i, 4);
                    } else {
                        int16_t s;
                        std::memcpy(&s, exact.data() + 2 * i, 2);
                        x = s;
                    }
                    got.push_back(x);
                }
            }
            ASSERT_EQ(got.size(), compared) << what;
            EXPECT_TRUE(std::equal(got.begin(), got.end(), reference.samples.begin()))
                << what << ": the refused frame was not kept";
        }
    }
    // Float output needs twice the 16-bit room; the 16-bit size alone is refused, not
    // overrun.
    for (int shift : {0, 1, 2}) {
        VeloradecoderPtr decoder(Veloradecoder::Create(shift, false, true));
        ASSERT_TRUE(decoder);
        ASSERT_EQ(decoder->Feed(bytes.data(), 8192), 8192);
        const int samples = (header.SamplesPerFrame() >> shift) * header.channels;
        std::vector<uint8_t> half(static_cast<size_t>(samples * 2));
        Mp3Ssc status = kSscSyncNeedData;
        int written = -1;
        for (int call = 0; call < 20 && SscIsWarning(status); ++call) {
            status = decoder->Decode(half.data(), static_cast<int>(half.size()), &written, true,
                                     nullptr, nullptr);
        }
        EXPECT_EQ(status, kSscErrBufferSize) << "shift " << shift;
        EXPECT_EQ(written, 0);
    }
}

// A Velora stream: the enhancement's decoder is made on the first frame, the only call
// after Create that may allocate. Prints what one decoder object takes with and without
// that state (bench/README.md quotes it).
TEST(DecoderRobustness, VeloraStreamAllocatesOnlyOnItsFirstFrame) {
    const std::string lame = test::FindTool("lame");
    if (lame.empty()) GTEST_SKIP() << "lame is not on PATH";
    test::ScratchDir dir("velora-robustness");
    test::LameSettings settings;
    settings.rate = 22050;
    settings.channels = 2;
    settings.kbps = 48;
    const std::optional<std::vector<uint8_t>> core = test::EncodeWithLame(
        lame, dir, "core", test::MakeTones(22050, 2, 2.0, {{1000.0, 0.3}, {4200.0, 0.05}}, 0.002),
        settings);
    ASSERT_TRUE(core.has_value());
    const test::VeloraPayloadMaker maker(test::VeloraPayloadPlan{});
    ASSERT_TRUE(maker.Ready());
    test::VeloraBuildReport report;
    const std::vector<uint8_t> bytes = test::BuildVeloraStream(
        test::WidenFrames(*core, 64), [&](int i) { return maker(i); }, &report);
    ASSERT_TRUE(report.ok);

    for (const bool floatOutput : {false, true}) {
        const long bytesBeforeCreate = allocatedBytes.load();
        VeloradecoderPtr decoder(Veloradecoder::Create(0, false, floatOutput));
        ASSERT_TRUE(decoder);
        const long objectBytes = allocatedBytes.load() - bytesBeforeCreate;
        std::vector<uint8_t> out(kMaxFrameSamples * 4);
        long enhancementBytes = -1;
        int frames = 0;
        size_t fed = 0;
        for (int call = 0; call < 100000; ++call) {
            const long allocationsBefore = allocations.load();
            const long bytesBefore = allocatedBytes.load();
            fed += static_cast<size_t>(decoder->Feed(bytes.data() + fed, static_cast<int>(bytes.size() - fed)));
            if (fed == bytes.size()) decoder->SetEndOfData();
            int written = 0;
            const Mp3Ssc status = decoder->Decode(out.data(), static_cast<int>(out.size()),
                                                  &written, true, nullptr, nullptr);
            if (status == kSscSyncEof || SscIsError(status)) break;
            if (!SscSucceeded(status)) {
                EXPECT_EQ(allocations.load(), allocationsBefore) << "call " << call;
                continue;
            }
            if (frames++ == 0) {
                enhancementBytes = allocatedBytes.load() - bytesBefore;
            } else {
                EXPECT_EQ(allocations.load(), allocationsBefore) << "frame " << frames;
            }
            EXPECT_EQ(decoder->Info().sbrActive, 1) << "frame " << frames;
        }
        EXPECT_EQ(frames, report.frames);
        EXPECT_GT(enhancementBytes, 0);
        std::printf("decoder object (%s output): %ld bytes; with the enhancement's state: %ld bytes\n",
                    floatOutput ? "float" : "16-bit", objectBytes, objectBytes + enhancementBytes);
    }
}

}  // namespace
}  // namespace velora

// Counted replacements of the global allocation functions, over malloc and free.
void* operator new(std::size_t size) {
    velora::allocations.fetch_add(1);
    velora::allocatedBytes.fetch_add(static_cast<long>(size));
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    velora::allocations.fetch_add(1);
    velora::allocatedBytes.fetch_add(static_cast<long>(size));
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory != nullptr) std::memset(memory, velora::heapFill, size);
    return memory;
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
// Over-aligned objects (the filter banks keep vector-aligned state) come through these.
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    velora::allocations.fetch_add(1);
    velora::allocatedBytes.fetch_add(static_cast<long>(size));
    const auto align = static_cast<std::size_t>(alignment);
    const std::size_t rounded = size == 0 ? align : (size + align - 1) / align * align;
    void* memory = std::aligned_alloc(align, rounded);
    if (memory != nullptr) std::memset(memory, velora::heapFill, size);
    return memory;
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    if (void* p = operator new(size, alignment, std::nothrow)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) { return operator new(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t& tag) noexcept {
    return operator new(size, alignment, tag);
}
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
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

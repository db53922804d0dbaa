// The decoder object as an application sees it: input handling, frame information,
// destination size, 16-bit conversion, reduced-rate and mono output, reset and band
// levels. Expected values come from the test's own header and side-information parsing,
// and from its own rounding, filtering and filter-bank arithmetic applied to the decoder's
// full-rate float output, never from the code path under test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "DecodeHelpers.h"
#include "FrameWalker.h"
#include "Veloradecoder.h"

namespace velora {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<uint8_t> StreamBytes(const std::string& name) {
    return test::ReadFileBytes(test::ConformanceDir() + name + ".bit");
}

// Whole-stream decodes are shared between tests: the sanitizer build is slow.
const test::Decoded& Cached(const std::string& name, int shift, bool mono, bool floatOutput) {
    static std::map<std::tuple<std::string, int, bool, bool>, test::Decoded> cache;
    const auto key = std::make_tuple(name, shift, mono, floatOutput);
    auto it = cache.find(key);
    if (it == cache.end()) {
        it = cache.emplace(key, test::DecodeAll(StreamBytes(name), shift, mono, floatOutput)).first;
    }
    return it->second;
}

// ---------------------------------------------------------------------------------------
// The test's own frame header and side-information reading.

struct RefFrame {
    size_t offset = 0;
    int version = 0;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int bitrateIndex = 0;
    int bitrate = 0;
    int samplingRate = 0;
    int channels = 0;
    int mode = 0;
    bool crc = false;
    int bytes = 0;
    int samples = 0;  // per channel
};

bool ParseHeader(const std::vector<uint8_t>& data, size_t at, RefFrame* f) {
    if (at + 4 > data.size()) return false;
    const uint32_t w = (uint32_t{data[at]} << 24) | (uint32_t{data[at + 1]} << 16) |
                       (uint32_t{data[at + 2]} << 8) | data[at + 3];
    if ((w >> 21) != 0x7FF) return false;
    const uint32_t versionBits = (w >> 19) & 3;
    if (versionBits == 1) return false;
    if (((w >> 17) & 3) != 1) return false;  // Layer III only
    const int bri = static_cast<int>((w >> 12) & 15);
    const int sri = static_cast<int>((w >> 10) & 3);
    if (bri == 0 || bri == 15 || sri == 3) return false;
    static const int kMpeg1Rates[] = {44100, 48000, 32000};
    static const int kMpeg1Kbps[] = {0,   32,  40,  48,  56,  64,  80, 96,
                                     112, 128, 160, 192, 224, 256, 320};
    static const int kMpeg2Kbps[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    f->offset = at;
    f->version = versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2;
    f->bitrateIndex = bri;
    f->bitrate = 1000 * (f->version == 0 ? kMpeg1Kbps[bri] : kMpeg2Kbps[bri]);
    f->samplingRate = kMpeg1Rates[sri] >> f->version;
    f->mode = static_cast<int>((w >> 6) & 3);
    f->channels = f->mode == 3 ? 1 : 2;
    f->crc = ((w >> 16) & 1) == 0;
    const int padding = static_cast<int>((w >> 9) & 1);
    f->samples = f->version == 0 ? 1152 : 576;
    f->bytes = (f->samples / 8) * f->bitrate / f->samplingRate + padding;
    return true;
}

// Every frame of a conformance stream: from the first header whose successor sits at the
// computed distance, frame after frame while headers follow.
std::vector<RefFrame> ListFrames(const std::vector<uint8_t>& data) {
    std::vector<RefFrame> frames;
    RefFrame f;
    size_t at = 0;
    for (; at + 4 <= data.size(); ++at) {
        RefFrame next;
        if (ParseHeader(data, at, &f) &&
            ParseHeader(data, at + static_cast<size_t>(f.bytes), &next))
            break;
    }
    while (ParseHeader(data, at, &f) && at + static_cast<size_t>(f.bytes) <= data.size()) {
        frames.push_back(f);
        at += static_cast<size_t>(f.bytes);
    }
    return frames;
}

class BitReader {
  public:
    BitReader(const std::vector<uint8_t>& data, size_t byteOffset)
        : data_(data), bit_(byteOffset * 8) {}
    int Read(int bits) {
        int v = 0;
        for (int i = 0; i < bits; ++i, ++bit_) {
            v = (v << 1) | ((data_[bit_ / 8] >> (7 - bit_ % 8)) & 1);
        }
        return v;
    }

  private:
    const std::vector<uint8_t>& data_;
    size_t bit_;
};

// Window shape of one granule and channel: block type (0 without window switching) and
// mixed flag.
struct Shape {
    int blockType = 0;
    int mixed = 0;
    bool operator==(const Shape&) const = default;
};

// [granule][channel] shapes of one frame.
std::vector<std::vector<Shape>> ReadShapes(const std::vector<uint8_t>& data, const RefFrame& f) {
    BitReader r(data, f.offset + 4 + (f.crc ? 2 : 0));
    const bool mpeg1 = f.version == 0;
    const int granules = mpeg1 ? 2 : 1;
    r.Read(mpeg1 ? 9 : 8);                                                  // main_data_begin
    r.Read(mpeg1 ? (f.channels == 1 ? 5 : 3) : (f.channels == 1 ? 1 : 2));  // private bits
    if (mpeg1) r.Read(4 * f.channels);                                      // scfsi
    std::vector<std::vector<Shape>> shapes(static_cast<size_t>(granules),
                                           std::vector<Shape>(static_cast<size_t>(f.channels)));
    for (int gr = 0; gr < granules; ++gr) {
        for (int ch = 0; ch < f.channels; ++ch) {
            Shape& s = shapes[static_cast<size_t>(gr)][static_cast<size_t>(ch)];
            r.Read(12 + 9 + 8);     // part2_3_length, big_values, global_gain
            r.Read(mpeg1 ? 4 : 9);  // scalefac_compress
            if (r.Read(1)) {        // window switching
                s.blockType = r.Read(2);
                s.mixed = r.Read(1);
                r.Read(2 * 5 + 3 * 3);  // table_select, subblock_gain
            } else {
                r.Read(3 * 5 + 4 + 3);  // table_select, region counts
            }
            r.Read(mpeg1 ? 3 : 2);  // (preflag), scalefac_scale, count1table_select
        }
    }
    return shapes;
}

// ---------------------------------------------------------------------------------------
// Signal helpers.

std::vector<double> Channel(const std::vector<float>& interleaved, int channels, int ch,
                            size_t begin, size_t end) {
    std::vector<double> out;
    for (size_t i = begin; i < end; ++i) {
        out.push_back(static_cast<double>(
            interleaved[i * static_cast<size_t>(channels) + static_cast<size_t>(ch)]));
    }
    return out;
}

double Rms(const std::vector<double>& x) {
    double sum = 0.0;
    for (double v : x) sum += v * v;
    return x.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(x.size()));
}

// Low-pass FIR (Blackman-windowed sinc, unity gain at DC, cutoff in cycles per input
// sample) evaluated at every `factor`-th input sample, centred, so without delay.
std::vector<double> LowPassDecimate(const std::vector<double>& x, double cutoff, int factor) {
    constexpr int kHalf = 192;
    std::vector<double> h(2 * kHalf + 1);
    double sum = 0.0;
    for (int k = -kHalf; k <= kHalf; ++k) {
        const double sinc = k == 0 ? 2.0 * cutoff : std::sin(2.0 * kPi * cutoff * k) / (kPi * k);
        const double t = static_cast<double>(k + kHalf) / (2.0 * kHalf);
        const double w = 0.42 - 0.5 * std::cos(2.0 * kPi * t) + 0.08 * std::cos(4.0 * kPi * t);
        h[static_cast<size_t>(k + kHalf)] = sinc * w;
        sum += sinc * w;
    }
    for (double& v : h) v /= sum;
    std::vector<double> y(x.size() / static_cast<size_t>(factor));
    for (size_t n = 0; n < y.size(); ++n) {
        const long centre = static_cast<long>(n) * factor;
        double acc = 0.0;
        for (int k = -kHalf; k <= kHalf; ++k) {
            const long i = centre - k;
            if (i >= 0 && i < static_cast<long>(x.size())) {
                acc += h[static_cast<size_t>(k + kHalf)] * x[static_cast<size_t>(i)];
            }
        }
        y[n] = acc;
    }
    return y;
}

// Power at `frequency` (Hann-windowed Goertzel).
double TonePower(const std::vector<double>& x, double frequency, double rate) {
    const double w = 2.0 * kPi * frequency / rate;
    const double coeff = 2.0 * std::cos(w);
    double s1 = 0.0;
    double s2 = 0.0;
    const double n = static_cast<double>(x.size());
    for (size_t i = 0; i < x.size(); ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / n);
        const double s = x[i] * hann + coeff * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return s1 * s1 + s2 * s2 - coeff * s1 * s2;
}

// Frequency from the spacing of the first and last upward zero crossings.
double ZeroCrossingFrequency(const std::vector<double>& x, double rate) {
    double first = -1.0;
    double last = -1.0;
    int crossings = 0;
    for (size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0.0 && x[i] >= 0.0) {
            const double t = static_cast<double>(i - 1) + x[i - 1] / (x[i - 1] - x[i]);
            if (first < 0.0) first = t;
            last = t;
            ++crossings;
        }
    }
    return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0.0;
}

// Rounding to nearest with ties to even and saturation, without the FPU's rounding mode.
int16_t ReferencePcm16(float value) {
    const double v = static_cast<double>(value);
    if (v >= 32767.0) return 32767;
    if (v <= -32768.0) return -32768;
    const double below = std::floor(v);
    const double fraction = v - below;
    double rounded = below;
    if (fraction > 0.5) {
        rounded = below + 1.0;
    } else if (fraction == 0.5) {
        rounded = std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
    }
    return static_cast<int16_t>(rounded);
}

// ---------------------------------------------------------------------------------------
// Create, Feed and Decode on an empty object.

TEST(object_Lifecycle, CreateAcceptsOnlyShiftsZeroToTwo) {
    for (int shift : {-100, -1, 3, 4, 32}) {
        for (bool mono : {false, true}) {
            EXPECT_EQ(Veloradecoder::Create(shift, mono, false), nullptr) << shift;
            EXPECT_EQ(Veloradecoder::Create(shift, mono, true), nullptr) << shift;
        }
    }
    for (int shift = 0; shift <= 2; ++shift) {
        for (bool mono : {false, true}) {
            for (bool floatOutput : {false, true}) {
                VeloradecoderPtr d(Veloradecoder::Create(shift, mono, floatOutput));
                ASSERT_NE(d, nullptr) << shift << mono << floatOutput;
                for (int i = 0; i < kEqualiserBands; ++i) EXPECT_EQ(d->Gains()[i], 1.0f);
            }
        }
    }
}

TEST(object_Lifecycle, DecodeOnEmptyObjectSearchesThenEnds) {
    VeloradecoderPtr d(Veloradecoder::Create(0, false, false));
    ASSERT_NE(d, nullptr);
    std::vector<uint8_t> out(kMaxFrameSamples * 4, 0xA5);
    char text[kAncillaryTextBufferSize];
    int textLength = 0;
    for (int i = 0; i < 3; ++i) {
        int written = 12345;
        EXPECT_EQ(
            d->Decode(out.data(), static_cast<int>(out.size()), &written, true, text, &textLength),
            kSscSyncSearched);
        EXPECT_EQ(written, 0);
    }
    d->SetEndOfData();
    for (int i = 0; i < 2; ++i) {
        int written = 12345;
        EXPECT_EQ(
            d->Decode(out.data(), static_cast<int>(out.size()), &written, false, nullptr, nullptr),
            kSscSyncEof);
        EXPECT_EQ(written, 0);
    }
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xA5; }));
    EXPECT_EQ(d->Info().sbrActive, 0);
}

TEST(object_Lifecycle, FeedTakesWhatFitsInTheInputBuffer) {
    const std::vector<uint8_t> bytes = StreamBytes("l3-test46");
    const std::vector<RefFrame> frames = ListFrames(bytes);
    ASSERT_GT(bytes.size(), 20000u);
    ASSERT_FALSE(frames.empty());
    ASSERT_EQ(frames[0].offset, 0u);

    VeloradecoderPtr d(Veloradecoder::Create(0, false, false));
    EXPECT_EQ(d->Feed(bytes.data(), 0), 0);
    EXPECT_EQ(d->Feed(bytes.data(), -1), 0);
    EXPECT_EQ(d->Feed(bytes.data(), -10000), 0);
    EXPECT_EQ(d->Feed(bytes.data(), 10000), 8192);
    EXPECT_EQ(d->Feed(bytes.data() + 8192, 10000), 0);
    EXPECT_EQ(d->Feed(bytes.data() + 8192, 1), 0);

    // Decoding the first frame frees exactly its bytes.
    std::vector<uint8_t> out(kMaxFrameSamples * 4);
    int written = 0;
    ASSERT_EQ(d->Decode(out.data(), static_cast<int>(out.size()), &written, true, nullptr, nullptr),
              kSscSuccess);
    EXPECT_EQ(d->Feed(bytes.data() + 8192, 10000), frames[0].bytes);
    EXPECT_EQ(d->Feed(bytes.data() + 8192, 10000), 0);
}

// ---------------------------------------------------------------------------------------
// Frame information.

struct Config {
    int shift;
    bool mono;
};

void CheckInfos(const std::string& name, const Config& config, int* framesChecked) {
    SCOPED_TRACE(name + " shift " + std::to_string(config.shift) +
                 (config.mono ? " mono" : " as coded"));
    const std::vector<uint8_t> bytes = StreamBytes(name);
    const std::vector<RefFrame> frames = ListFrames(bytes);
    const test::Decoded& d = Cached(name, config.shift, config.mono, false);
    ASSERT_EQ(d.last, kSscSyncEof);
    ASSERT_LE(d.infos.size(), frames.size());
    // Frames without main data are skipped at the start only; the rest lines up from the end.
    ASSERT_GE(d.infos.size() + 10, frames.size());
    const size_t skipped = frames.size() - d.infos.size();
    size_t expectedSamples = 0;
    for (size_t i = 0; i < d.infos.size(); ++i) {
        const FrameInfo& info = d.infos[i];
        const RefFrame& f = frames[i + skipped];
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(info.layer, 3);
        EXPECT_EQ(info.version, f.version);
        EXPECT_EQ(info.bitrate, f.bitrate);
        EXPECT_EQ(info.bitrateIndex, f.bitrateIndex);
        EXPECT_EQ(info.codedChannels, f.channels);
        EXPECT_EQ(info.codedSamplingRate, f.samplingRate);
        EXPECT_EQ(info.outputChannels, config.mono ? 1 : f.channels);
        EXPECT_EQ(info.outputSamplingRate, f.samplingRate >> config.shift);
        EXPECT_EQ(info.outputBitsPerSample, 16);
        EXPECT_EQ(info.frameBits, f.bytes * 8);
        EXPECT_NEAR(static_cast<double>(info.frameDurationMs), f.samples * 1000.0 / f.samplingRate,
                    1e-4);
        EXPECT_EQ(info.crcError, 0);
        EXPECT_EQ(info.missingMainData, 0);
        EXPECT_EQ(info.sbrActive, 0);
        expectedSamples +=
            static_cast<size_t>((f.samples >> config.shift) * (config.mono ? 1 : f.channels));
        ++*framesChecked;
    }
    EXPECT_EQ(d.pcm.size(), expectedSamples);
}

TEST(object_Info, Mpeg1Streams) {
    int checked = 0;
    // Joint stereo at 44.1 kHz behind leading junk, mono at 48 and 32 kHz, and a stream
    // that switches between one and two channels.
    for (const char* name : {"l3-sin1k0db", "l3-compl", "l3-he_32khz", "l3-he_mode"}) {
        for (const Config& c : {Config{0, false}, Config{1, true}, Config{2, false}}) {
            CheckInfos(name, c, &checked);
        }
    }
    EXPECT_GT(checked, 1000);
}

TEST(object_Info, Mpeg2Streams) {
    int checked = 0;
    for (const char* name : {"l3-test46", "M2L3_compl24", "M2L3_bitrate_16_all"}) {
        for (const Config& c : {Config{0, true}, Config{1, false}, Config{2, true}}) {
            CheckInfos(name, c, &checked);
        }
    }
    EXPECT_GT(checked, 1000);
}

TEST(object_Info, Mpeg25Streams) {
    // The conformance set has no MPEG-2.5 stream; streams/ holds encoded ones.
    std::vector<std::string> found;
    for (const auto& path : test::FilesIn(test::ConformanceDir() + "../streams/", ".bit")) {
        const std::vector<RefFrame> frames = ListFrames(test::ReadFileBytes(path));
        if (!frames.empty() && frames[0].version == 2) {
            found.push_back("../streams/" + path.stem().string());
        }
    }
    ASSERT_EQ(found.size(), 3u);
    int checked = 0;
    for (const std::string& name : found) {
        for (const Config& c : {Config{0, false}, Config{1, true}, Config{2, false}}) {
            CheckInfos(name, c, &checked);
        }
    }
    EXPECT_GT(checked, 0);
}

// ---------------------------------------------------------------------------------------
// Destination too small.

struct ShortCallRun {
    std::vector<uint8_t> output;  // every byte written, in order
    int shortCalls = 0;
};

// Decodes like DecodeAll, but before the frames whose index is in `shortAt` offers a
// destination one byte smaller than that frame needs; it must be refused untouched.
ShortCallRun DecodeWithShortCalls(const std::vector<uint8_t>& bytes, int shift, bool mono,
                                  bool floatOutput, const std::set<int>& shortAt) {
    ShortCallRun run;
    VeloradecoderPtr d(Veloradecoder::Create(shift, mono, floatOutput));
    const std::vector<RefFrame> frames = ListFrames(bytes);
    if (!d || frames.empty()) return run;
    const int channels = mono ? 1 : frames[0].channels;
    const int needed = (frames[0].samples >> shift) * channels * (floatOutput ? 4 : 2);
    std::vector<uint8_t> out(kMaxFrameSamples * 4);
    std::vector<uint8_t> small(static_cast<size_t>(needed - 1));
    size_t fed = 0;
    int decoded = 0;
    std::set<int> pending = shortAt;
    for (int guard = 0; guard < 100000; ++guard) {
        while (fed < bytes.size()) {
            const int want = static_cast<int>(std::min<size_t>(4096, bytes.size() - fed));
            const int taken = d->Feed(bytes.data() + fed, want);
            fed += static_cast<size_t>(taken);
            if (taken < want) break;
        }
        if (fed >= bytes.size()) d->SetEndOfData();
        if (pending.count(decoded) != 0) {
            std::fill(small.begin(), small.end(), uint8_t{0x5A});
            int written = 777;
            const Mp3Ssc status = d->Decode(small.data(), static_cast<int>(small.size()), &written,
                                            true, nullptr, nullptr);
            EXPECT_EQ(written, 0);
            EXPECT_TRUE(
                std::all_of(small.begin(), small.end(), [](uint8_t b) { return b == 0x5A; }));
            if (status == kSscErrBufferSize) {
                pending.erase(decoded);
                ++run.shortCalls;
            } else {
                // Only a sync warning may come before the frame is there.
                EXPECT_TRUE(SscIsWarning(status)) << std::hex << status;
                if (status == kSscSyncEof) break;
                continue;
            }
        }
        int written = 0;
        const Mp3Ssc status =
            d->Decode(out.data(), static_cast<int>(out.size()), &written, true, nullptr, nullptr);
        if (status == kSscSyncEof || SscIsError(status)) break;
        if (SscSucceeded(status)) {
            run.output.insert(run.output.end(), out.begin(), out.begin() + written);
            ++decoded;
        }
    }
    return run;
}

std::vector<uint8_t> AsBytes(const test::Decoded& d) {
    std::vector<uint8_t> bytes;
    const auto* p = d.floats.empty() ? reinterpret_cast<const uint8_t*>(d.pcm.data())
                                     : reinterpret_cast<const uint8_t*>(d.floats.data());
    const size_t size = d.floats.empty() ? d.pcm.size() * 2 : d.floats.size() * 4;
    bytes.assign(p, p + size);
    return bytes;
}

struct BufferCase {
    const char* name;
    int shift;
    bool mono;
    bool floatOutput;
};

void CheckShortCalls(const BufferCase& c) {
    SCOPED_TRACE(std::string(c.name) + " shift " + std::to_string(c.shift) +
                 (c.mono ? " mono" : "") + (c.floatOutput ? " float" : " 16-bit"));
    const std::vector<uint8_t> bytes = StreamBytes(c.name);
    // The first frames (before and after sync), and later ones twice in a row.
    const std::set<int> shortAt{0, 1, 17, 60, 61};
    const ShortCallRun run = DecodeWithShortCalls(bytes, c.shift, c.mono, c.floatOutput, shortAt);
    EXPECT_EQ(run.shortCalls, static_cast<int>(shortAt.size()));
    const std::vector<uint8_t> plain = AsBytes(Cached(c.name, c.shift, c.mono, c.floatOutput));
    ASSERT_FALSE(plain.empty());
    EXPECT_EQ(run.output.size(), plain.size());
    EXPECT_TRUE(run.output == plain);
}

TEST(object_Buffer, TooSmallDestinationIsRefusedAndTheFrameStays) {
    for (const BufferCase& c :
         {BufferCase{"l3-test46", 0, false, false}, BufferCase{"l3-sin1k0db", 1, true, false},
          BufferCase{"M2L3_compl24", 2, false, false},
          BufferCase{"l3-sin1k0db", 2, false, false}}) {
        CheckShortCalls(c);
    }
}

// In float mode a frame takes twice the bytes of its 16-bit form.
TEST(object_Buffer, TooSmallFloatDestinationIsRefusedAndTheFrameStays) {
    for (const BufferCase& c :
         {BufferCase{"l3-test46", 0, false, true}, BufferCase{"l3-sin1k0db", 1, true, true},
          BufferCase{"M2L3_compl24", 2, false, true}}) {
        CheckShortCalls(c);
    }
}

// ---------------------------------------------------------------------------------------
// 16-bit conversion.

TEST(object_Pcm16, RoundsToNearestEvenAndSaturates) {
    long ties[2] = {};  // exact halves above an even / an odd integer
    long saturated = 0;
    long compared = 0;
    struct Case {
        const char* name;
        int shift;
        bool mono;
    };
    // The 0 dB tone and l3-si_huff exceed full scale; the others have many exact halves.
    for (const Case& c : {Case{"l3-sin1k0db", 0, false}, Case{"l3-si_huff", 0, false},
                          Case{"l3-he_44khz", 0, false}, Case{"M2L3_noise", 0, false},
                          Case{"l3-sin1k0db", 1, true}, Case{"l3-test46", 2, false}}) {
        SCOPED_TRACE(std::string(c.name) + " shift " + std::to_string(c.shift));
        const test::Decoded& f = Cached(c.name, c.shift, c.mono, true);
        const test::Decoded& s = Cached(c.name, c.shift, c.mono, false);
        ASSERT_EQ(f.floats.size(), s.pcm.size());
        ASSERT_FALSE(s.pcm.empty());
        long mismatches = 0;
        for (size_t i = 0; i < s.pcm.size(); ++i) {
            const float v = f.floats[i];
            if (v - std::floor(v) == 0.5f) ++ties[std::fmod(std::floor(v), 2.0f) == 0.0f ? 0 : 1];
            if (v > 32767.0f || v < -32768.0f) ++saturated;
            if (s.pcm[i] != ReferencePcm16(v)) {
                if (mismatches++ < 5) {
                    ADD_FAILURE() << "sample " << i << ": float " << v << " gave " << s.pcm[i]
                                  << ", expected " << ReferencePcm16(v);
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
        compared += static_cast<long>(s.pcm.size());
    }
    std::printf("16-bit conversion: %ld samples, %ld + %ld exact halves, %ld beyond full scale\n",
                compared, ties[0], ties[1], saturated);
    // The comparison only means something if every rule was exercised.
    EXPECT_GT(ties[0], 50);
    EXPECT_GT(ties[1], 50);
    EXPECT_GT(saturated, 100);
}

// ---------------------------------------------------------------------------------------
// Half and quarter rate.

struct RateComparison {
    double levelDb[2] = {};  // decoded against reference, per channel
    double snrDb[2] = {};    // waveform agreement, per channel
};

// Compares the decoder's output at `shift` with the full-rate float output, low-passed
// at 85 % of the new Nyquist frequency and decimated, over [first, last) output samples.
// A non-zero `bandLimit` (fraction of the new Nyquist frequency) low-passes both sides
// once more at the reduced rate, leaving out the top of the band, where the decoder keeps
// what the reference filter removes.
RateComparison CompareReducedRate(const std::string& name, int shift, size_t first, size_t last,
                                  double bandLimit) {
    RateComparison result;
    const test::Decoded& full = Cached(name, 0, false, true);
    const test::Decoded& reduced = Cached(name, shift, false, true);
    const int channels = full.infos.front().codedChannels;
    const size_t factor = size_t{1} << shift;
    const size_t pad = 200;    // reduced-rate samples beyond the compared range
    const size_t reach = 400;  // full-rate samples the decimating filter reaches out
    const size_t fullFrames = full.floats.size() / static_cast<size_t>(channels);
    const size_t reducedFrames = reduced.floats.size() / static_cast<size_t>(channels);
    if (first < pad || (first - pad) * factor < reach || last + pad > reducedFrames ||
        (last + pad) * factor + reach > fullFrames) {
        ADD_FAILURE() << "range too close to the ends";
        return result;
    }
    const size_t lo = first - pad;
    const size_t hi = last + pad;
    for (int ch = 0; ch < channels; ++ch) {
        const std::vector<double> x =
            Channel(full.floats, channels, ch, lo * factor - reach, hi * factor + reach);
        std::vector<double> ref =
            LowPassDecimate(x, 0.85 * 0.5 / static_cast<double>(factor), static_cast<int>(factor));
        ref.erase(ref.begin(), ref.begin() + static_cast<long>(reach / factor));
        ref.resize(hi - lo);
        std::vector<double> dec = Channel(reduced.floats, channels, ch, lo, hi);
        if (bandLimit > 0.0) {
            ref = LowPassDecimate(ref, 0.5 * bandLimit, 1);
            dec = LowPassDecimate(dec, 0.5 * bandLimit, 1);
        }
        ref = std::vector<double>(ref.begin() + static_cast<long>(pad),
                                  ref.end() - static_cast<long>(pad));
        dec = std::vector<double>(dec.begin() + static_cast<long>(pad),
                                  dec.end() - static_cast<long>(pad));
        double noise = 0.0;
        double signal = 0.0;
        for (size_t i = 0; i < ref.size(); ++i) {
            noise += (dec[i] - ref[i]) * (dec[i] - ref[i]);
            signal += ref[i] * ref[i];
        }
        result.levelDb[ch] = 20.0 * std::log10(Rms(dec) / Rms(ref));
        result.snrDb[ch] = 10.0 * std::log10(signal / std::max(noise, 1e-30));
    }
    return result;
}

TEST(object_Rate, ReducedRateToneKeepsLevelAndFrequency) {
    const std::string name = "l3-sin1k0db";
    const test::Decoded& full = Cached(name, 0, false, true);
    ASSERT_FALSE(full.infos.empty());
    const int channels = full.infos.front().codedChannels;
    const double rate = full.infos.front().codedSamplingRate;
    ASSERT_EQ(channels, 2);
    for (int shift = 1; shift <= 2; ++shift) {
        SCOPED_TRACE("shift " + std::to_string(shift));
        const test::Decoded& reduced = Cached(name, shift, false, true);
        EXPECT_EQ(reduced.floats.size(), full.floats.size() >> shift);
        EXPECT_EQ(Cached(name, shift, false, false).pcm.size(), full.floats.size() >> shift);

        // 120 frames of the steady part.
        const size_t perFrame = static_cast<size_t>(1152 >> shift);
        const size_t frames = reduced.floats.size() / static_cast<size_t>(channels) / perFrame;
        ASSERT_GT(frames, 160u);
        const size_t first = 20 * perFrame;
        const size_t last = 140 * perFrame;
        // The reduced-rate synthesis keeps every (1 << shift)-th sample of the band-limited
        // full-rate waveform: the comparison is sample by sample, without delay.
        const RateComparison c = CompareReducedRate(name, shift, first, last, 0.0);
        const double outRate = rate / (1 << shift);
        for (int ch = 0; ch < channels; ++ch) {
            EXPECT_LT(std::fabs(c.levelDb[ch]), 0.5) << "channel " << ch;
            const std::vector<double> dec = Channel(reduced.floats, channels, ch, first, last);
            EXPECT_NEAR(ZeroCrossingFrequency(dec, outRate), 1000.0, 2.0) << "channel " << ch;
            const double tone = TonePower(dec, 1000.0, outRate);
            for (double other : {900.0, 1100.0, 500.0, 2000.0}) {
                EXPECT_GT(10.0 * std::log10(tone / TonePower(dec, other, outRate)), 40.0)
                    << other << " Hz, channel " << ch;
            }
            std::printf("shift %d channel %d: level %+.3f dB, waveform SNR %.1f dB\n", shift, ch,
                        c.levelDb[ch], c.snrDb[ch]);
            EXPECT_GT(c.snrDb[ch], 60.0) << "channel " << ch;
        }
    }
}

TEST(object_Rate, ReducedRateMpeg2Stream) {
    const std::string name = "l3-test46";
    const test::Decoded& full = Cached(name, 0, false, true);
    ASSERT_FALSE(full.infos.empty());
    ASSERT_EQ(full.infos.front().version, 1);
    const int channels = full.infos.front().codedChannels;
    for (int shift = 1; shift <= 2; ++shift) {
        SCOPED_TRACE("shift " + std::to_string(shift));
        const test::Decoded& reduced = Cached(name, shift, false, true);
        EXPECT_EQ(reduced.floats.size(), full.floats.size() >> shift);
        EXPECT_EQ(Cached(name, shift, true, false).pcm.size(),
                  full.floats.size() / static_cast<size_t>(channels) >> shift);
        const size_t perFrame = static_cast<size_t>(576 >> shift);
        const size_t frames = reduced.floats.size() / static_cast<size_t>(channels) / perFrame;
        ASSERT_GT(frames, 200u);
        const size_t first = 4 * perFrame;
        const size_t last = 200 * perFrame;
        // Broadband music: compared below 75 % of the new Nyquist frequency.
        const RateComparison c = CompareReducedRate(name, shift, first, last, 0.75);
        for (int ch = 0; ch < channels; ++ch) {
            std::printf("shift %d channel %d: level %+.3f dB, waveform SNR %.1f dB\n", shift, ch,
                        c.levelDb[ch], c.snrDb[ch]);
            EXPECT_LT(std::fabs(c.levelDb[ch]), 0.5) << "channel " << ch;
            EXPECT_GT(c.snrDb[ch], 60.0) << "channel " << ch;
        }
    }
}

// ---------------------------------------------------------------------------------------
// Mono output.

struct MonoResult {
    int framesCompared = 0;
    int framesSkipped = 0;
    double maxDiffCompared = 0.0;
    long samplesOver1SkippedFrames = 0;
};

// Mono output against the mean of the stereo outputs, frame by frame, on the frames whose
// granules (and the two before, which still reach the output through the overlap and the
// synthesis history) use the same window shape in both channels.
MonoResult CompareMono(const std::string& name, int shift) {
    MonoResult r;
    const std::vector<uint8_t> bytes = StreamBytes(name);
    const std::vector<RefFrame> frames = ListFrames(bytes);
    const test::Decoded& stereo = Cached(name, shift, false, true);
    const test::Decoded& mono = Cached(name, shift, true, true);
    EXPECT_EQ(mono.floats.size() * 2, stereo.floats.size());
    EXPECT_EQ(mono.infos.size(), stereo.infos.size());
    if (mono.floats.size() * 2 != stereo.floats.size() || stereo.infos.empty()) return r;
    const size_t skipped = frames.size() - stereo.infos.size();

    std::vector<bool> granuleMatches;  // per decoded granule
    size_t sample = 0;
    for (size_t i = 0; i < stereo.infos.size(); ++i) {
        const RefFrame& f = frames[i + skipped];
        EXPECT_EQ(f.channels, 2);
        for (const auto& granule : ReadShapes(bytes, f)) {
            granuleMatches.push_back(granule[0] == granule[1]);
        }
        const size_t granules = f.version == 0 ? 2 : 1;
        const size_t last = granuleMatches.size();
        bool matches = true;
        for (size_t g = last >= granules + 2 ? last - granules - 2 : 0; g < last; ++g) {
            matches = matches && granuleMatches[g];
        }
        const size_t count = static_cast<size_t>(f.samples >> shift);
        double maxDiff = 0.0;
        long over = 0;
        for (size_t n = sample; n < sample + count; ++n) {
            const double mean = 0.5 * (static_cast<double>(stereo.floats[2 * n]) +
                                       static_cast<double>(stereo.floats[2 * n + 1]));
            const double diff = std::fabs(static_cast<double>(mono.floats[n]) - mean);
            maxDiff = std::max(maxDiff, diff);
            if (diff > 1.0) ++over;
        }
        sample += count;
        if (matches) {
            ++r.framesCompared;
            r.maxDiffCompared = std::max(r.maxDiffCompared, maxDiff);
            EXPECT_LE(maxDiff, 1.0) << name << " frame " << i;
        } else {
            ++r.framesSkipped;
            r.samplesOver1SkippedFrames += over;
        }
    }
    return r;
}

TEST(object_Mono, EqualsMeanOfStereoChannels) {
    struct Case {
        const char* name;
        int shift;
    };
    // MS and intensity stereo (l3-test46), intensity only (l3-test45), MS only
    // (l3-sin1k0db) and plain stereo (l3-hecommon, M2L3_noise), at all three rates.
    for (const Case& c : {Case{"l3-test46", 0}, Case{"l3-test46", 1}, Case{"l3-test45", 2},
                          Case{"l3-sin1k0db", 1}, Case{"l3-hecommon", 0}, Case{"M2L3_noise", 0}}) {
        SCOPED_TRACE(std::string(c.name) + " shift " + std::to_string(c.shift));
        const MonoResult r = CompareMono(c.name, c.shift);
        std::printf(
            "%-12s shift %d: %d frames compared (max diff %.4f), %d with differing "
            "windows (%ld samples off by more than 1)\n",
            c.name, c.shift, r.framesCompared, r.maxDiffCompared, r.framesSkipped,
            r.samplesOver1SkippedFrames);
        EXPECT_GT(r.framesCompared, (r.framesCompared + r.framesSkipped) / 2);
    }
}

// ---------------------------------------------------------------------------------------
// Reset.

struct Collected {
    std::vector<uint8_t> output;
    Mp3Ssc last = kSscSuccess;
};

// Called after every successful Decode with the bytes it wrote.
using FrameCallback = std::function<void(const Veloradecoder&, const uint8_t*, int)>;

// Feeds from `bytes` (tracking `fed`) and decodes until `frames` frames came out (all when
// negative) or the stream ended.
void DecodeFrames(Veloradecoder& d, const std::vector<uint8_t>& bytes, size_t& fed, int frames,
                  Collected& into, const FrameCallback& onFrame = {}) {
    std::vector<uint8_t> out(kMaxFrameSamples * 4);
    int decoded = 0;
    for (int guard = 0; guard < 100000 && (frames < 0 || decoded < frames); ++guard) {
        while (fed < bytes.size()) {
            const int want = static_cast<int>(std::min<size_t>(4096, bytes.size() - fed));
            const int taken = d.Feed(bytes.data() + fed, want);
            fed += static_cast<size_t>(taken);
            if (taken < want) break;
        }
        if (fed >= bytes.size()) d.SetEndOfData();
        int written = 0;
        into.last =
            d.Decode(out.data(), static_cast<int>(out.size()), &written, true, nullptr, nullptr);
        if (into.last == kSscSyncEof || SscIsError(into.last)) return;
        if (SscSucceeded(into.last)) {
            into.output.insert(into.output.end(), out.begin(), out.begin() + written);
            if (onFrame) onFrame(d, out.data(), written);
            ++decoded;
        }
    }
}

TEST(object_Reset, RestartGivesTheOutputOfAFreshObject) {
    struct Case {
        const char* name;
        int shift;
        bool mono;
        bool floatOutput;
    };
    for (const Case& c : {Case{"l3-test46", 0, false, false}, Case{"l3-sin1k0db", 1, true, false},
                          Case{"l3-he_44khz", 2, false, true}}) {
        SCOPED_TRACE(std::string(c.name) + " shift " + std::to_string(c.shift));
        const std::vector<uint8_t> bytes = StreamBytes(c.name);
        const std::vector<uint8_t> fresh = AsBytes(Cached(c.name, c.shift, c.mono, c.floatOutput));
        const int frames = static_cast<int>(ListFrames(bytes).size());

        VeloradecoderPtr d(Veloradecoder::Create(c.shift, c.mono, c.floatOutput));
        // Halfway, with the end of the data not yet announced.
        size_t fed = 0;
        Collected half;
        DecodeFrames(*d, bytes, fed, frames / 2, half);
        ASSERT_LT(fed, bytes.size());
        ASSERT_FALSE(half.output.empty());
        for (int i = 0; i < kEqualiserBands; ++i) d->Gains()[i] = 0.25f * static_cast<float>(i);
        d->Reset();
        for (int i = 0; i < kEqualiserBands; ++i) EXPECT_EQ(d->Gains()[i], 1.0f);

        // The input was emptied: nothing to decode until fed again.
        std::vector<uint8_t> out(kMaxFrameSamples * 4);
        int written = 99;
        EXPECT_EQ(
            d->Decode(out.data(), static_cast<int>(out.size()), &written, true, nullptr, nullptr),
            kSscSyncSearched);
        EXPECT_EQ(written, 0);

        fed = 0;
        Collected again;
        DecodeFrames(*d, bytes, fed, -1, again);
        EXPECT_EQ(again.last, kSscSyncEof);
        EXPECT_EQ(again.output.size(), fresh.size());
        EXPECT_TRUE(again.output == fresh);

        // After the end of the stream: Reset clears the end-of-data state as well.
        d->Gains()[3] = 4.0f;
        d->Reset();
        EXPECT_EQ(d->Gains()[3], 1.0f);
        written = 99;
        EXPECT_EQ(
            d->Decode(out.data(), static_cast<int>(out.size()), &written, true, nullptr, nullptr),
            kSscSyncSearched);
        EXPECT_EQ(written, 0);
        fed = 0;
        Collected third;
        DecodeFrames(*d, bytes, fed, -1, third);
        EXPECT_EQ(third.last, kSscSyncEof);
        EXPECT_TRUE(third.output == fresh);
    }
}

// ---------------------------------------------------------------------------------------
// Band levels.

// The synthesis window of the standard, from the project's table (k / 65536 per line).
std::vector<double> ReadSynthesisWindow() {
    std::ifstream in(VELORA_SOURCE_DIR "/Veloradec/tables/synthesis_window.txt");
    std::vector<double> d(512, 0.0);
    std::string line;
    int read = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        int index = 0;
        long k = 0;
        if (fields >> index >> k && index >= 0 && index < 512) {
            d[static_cast<size_t>(index)] = static_cast<double>(k) / 65536.0;
            ++read;
        }
    }
    return read == 512 ? d : std::vector<double>();
}

// Impulse responses of the 32 subbands through the standard's synthesis procedure
// (matrixing into a 1024-value FIFO, 512-tap window), 512 samples each; empty when the
// window table cannot be read.
const std::vector<std::vector<double>>& SynthesisImpulses() {
    static const std::vector<std::vector<double>> impulses = [] {
        const std::vector<double> window = ReadSynthesisWindow();
        if (window.empty()) return std::vector<std::vector<double>>();
        std::vector<std::vector<double>> h(32, std::vector<double>(512, 0.0));
        for (size_t k = 0; k < 32; ++k) {
            std::vector<double> v(1024, 0.0);
            for (size_t slot = 0; slot < 16; ++slot) {
                std::copy_backward(v.begin(), v.end() - 64, v.end());
                for (size_t i = 0; i < 64; ++i) {
                    v[i] = slot == 0
                               ? std::cos(static_cast<double>((16 + i) * (2 * k + 1)) * kPi / 64.0)
                               : 0.0;
                }
                std::vector<double> u(512);
                for (size_t i = 0; i < 8; ++i) {
                    for (size_t j = 0; j < 32; ++j) {
                        u[64 * i + j] = v[128 * i + j];
                        u[64 * i + 32 + j] = v[128 * i + 96 + j];
                    }
                }
                for (size_t j = 0; j < 32; ++j) {
                    double sum = 0.0;
                    for (size_t i = 0; i < 16; ++i) sum += u[j + 32 * i] * window[j + 32 * i];
                    h[k][32 * slot + j] = sum;
                }
            }
        }
        return h;
    }();
    return impulses;
}

// Independent estimate of the subband samples behind full-rate float PCM: the PCM
// correlated with each subband's synthesis impulse response (the filter bank is nearly
// orthogonal). Returns, per group of 4 subbands, the display level before the limit of
// 127: RMS over `slots` time slots from `firstSlot` and over the channels, mean over the
// group, (20 log10(r / 32768) + 64) x 1.5.
std::vector<double> ReferenceGroupLevels(const std::vector<float>& pcm, int channels,
                                         size_t firstSlot, size_t slots) {
    const std::vector<std::vector<double>>& impulses = SynthesisImpulses();
    std::vector<double> levels(8, 0.0);
    if (impulses.empty() ||
        (firstSlot + slots + 16) * 32 * static_cast<size_t>(channels) > pcm.size()) {
        ADD_FAILURE() << "no synthesis window or too little PCM";
        return levels;
    }
    std::vector<double> rms(32, 0.0);
    for (size_t k = 0; k < 32; ++k) {
        double energy = 0.0;
        for (double v : impulses[k]) energy += v * v;
        double sum = 0.0;
        for (size_t m = firstSlot; m < firstSlot + slots; ++m) {
            for (size_t ch = 0; ch < static_cast<size_t>(channels); ++ch) {
                double s = 0.0;
                for (size_t n = 0; n < 512; ++n) {
                    s += static_cast<double>(
                             pcm[static_cast<size_t>(channels) * (32 * m + n) + ch]) *
                         impulses[k][n];
                }
                s /= energy;
                sum += s * s;
            }
        }
        rms[k] = std::sqrt(sum / static_cast<double>(slots * static_cast<size_t>(channels)));
    }
    for (size_t g = 0; g < 8; ++g) {
        const double mean = (rms[4 * g] + rms[4 * g + 1] + rms[4 * g + 2] + rms[4 * g + 3]) / 4.0;
        levels[g] = (20.0 * std::log10(mean / 32768.0) + 64.0) * 1.5;
    }
    return levels;
}

int DisplayLevel(double rawLevel) {
    return rawLevel < 0.0 ? 0 : static_cast<int>(std::min(rawLevel, 127.0));
}

// Decodes `bytes` at full rate as floats (mono output on request), noting BandLevels(8)
// after every frame.
struct LevelRun {
    std::vector<float> pcm;
    std::vector<std::vector<int>> levels;  // per frame
    int channels = 0;
};

LevelRun DecodeWithLevels(const std::vector<uint8_t>& bytes, bool mono = false) {
    LevelRun run;
    VeloradecoderPtr d(Veloradecoder::Create(0, mono, true));
    uint8_t initial[8];
    std::memset(initial, 0xFF, sizeof(initial));
    d->BandLevels(8, initial);  // nothing decoded yet: silence
    for (uint8_t l : initial) EXPECT_EQ(l, 0);
    size_t fed = 0;
    Collected collected;
    DecodeFrames(*d, bytes, fed, -1, collected,
                 [&run](const Veloradecoder& decoder, const uint8_t* out, int written) {
                     const float* f = reinterpret_cast<const float*>(out);
                     run.pcm.insert(run.pcm.end(), f, f + written / 4);
                     run.channels = decoder.Info().outputChannels;
                     uint8_t levels[8];
                     std::memset(levels, 0xFF, sizeof(levels));
                     decoder.BandLevels(8, levels);
                     run.levels.emplace_back(levels, levels + 8);
                 });
    EXPECT_EQ(collected.last, kSscSyncEof);
    return run;
}

// A frame header like `like`'s, without CRC and padding.
std::vector<uint8_t> PlainHeader(const uint8_t* like) {
    std::vector<uint8_t> h(like, like + 4);
    h[1] |= 1;
    h[2] &= static_cast<uint8_t>(~0x02u);
    return h;
}

// Digital silence: side information and main data all zero.
std::vector<uint8_t> SilentFrame(const std::vector<uint8_t>& header) {
    RefFrame f;
    std::vector<uint8_t> frame = header;
    if (!ParseHeader(frame, 0, &f)) return {};
    frame.resize(static_cast<size_t>(f.bytes), 0);
    return frame;
}

TEST(object_BandLevels, ToneAndSilence) {
    std::vector<uint8_t> bytes = StreamBytes("l3-sin1k0db");
    const std::vector<RefFrame> frames = ListFrames(bytes);
    ASSERT_GT(frames.size(), 250u);
    const std::vector<uint8_t> silent = SilentFrame(PlainHeader(&bytes[frames.back().offset]));
    ASSERT_FALSE(silent.empty());
    bytes.resize(frames.back().offset + static_cast<size_t>(frames.back().bytes));
    for (int i = 0; i < 3; ++i) bytes.insert(bytes.end(), silent.begin(), silent.end());

    const LevelRun run = DecodeWithLevels(bytes);
    const size_t decoded = run.levels.size();
    ASSERT_GT(decoded, 250u);
    ASSERT_EQ(run.channels, 2);

    // The last granule of the first silent frame already holds no tone.
    for (size_t i = decoded - 3; i < decoded; ++i) {
        for (size_t g = 0; g < 8; ++g) EXPECT_EQ(run.levels[i][g], 0) << "frame " << i;
    }

    // 1 kHz lies in subband 1 of 32 at 44.1 kHz, so in the first of 8 groups.
    ASSERT_EQ(frames[0].samplingRate, 44100);
    ASSERT_EQ(static_cast<int>(1000.0 / (44100.0 / 64.0)) * 8 / 32, 0);

    const size_t steadyFrom = 40;
    const size_t steadyTo = 240;
    const std::vector<double> expected = ReferenceGroupLevels(run.pcm, 2, steadyFrom * 36, 40 * 36);
    std::printf("reference levels:");
    for (double e : expected) std::printf(" %.2f", e);
    std::printf("\n");
    ASSERT_GT(expected[0], 40.0);
    int lowest = 127;
    int highest = 0;
    for (size_t i = steadyFrom; i < steadyTo; ++i) {
        const std::vector<int>& l = run.levels[i];
        lowest = std::min(lowest, l[0]);
        highest = std::max(highest, l[0]);
        EXPECT_NEAR(l[0], DisplayLevel(expected[0]), 2) << "frame " << i;
        for (size_t g = 5; g < 8; ++g) EXPECT_GT(l[0], l[g] + 40) << "frame " << i;
    }
    std::printf("group 0 level over the steady part: %d..%d\n", lowest, highest);
}

TEST(object_BandLevels, LoudestLevelIs127) {
    // Frames whose first 72 lines (subbands 0..3) hold the largest Huffman value, 15 + 8191,
    // at unit gain; behind two silent frames. MPEG-1 mono, 128 kbit/s, 44.1 kHz.
    const std::vector<uint8_t> header{0xFF, 0xFB, 0x90, 0xC0};
    RefFrame f;
    ASSERT_TRUE(ParseHeader(header, 0, &f));
    ASSERT_EQ(f.channels, 1);
    const std::vector<uint8_t> silent = SilentFrame(header);

    constexpr int kPairs = 36;
    constexpr int kPairBits = 8 + 2 * (13 + 1);  // code word of (15, 15), two escapes and signs
    std::vector<uint8_t> loud = silent;
    ASSERT_EQ(loud.size(), static_cast<size_t>(f.bytes));
    {
        size_t bit = 32;
        const auto put = [&loud, &bit](uint32_t value, int bits) {
            for (int b = bits - 1; b >= 0; --b, ++bit) {
                if ((value >> b) & 1u) loud[bit / 8] |= static_cast<uint8_t>(0x80u >> (bit % 8));
            }
        };
        put(0, 9 + 5 + 4);  // main_data_begin, private bits, scfsi
        for (int gr = 0; gr < 2; ++gr) {
            put(kPairs * kPairBits, 12);             // part2_3_length (no scale factor bits)
            put(kPairs, 9);                          // big_values
            put(210, 8);                             // global_gain: unit step size
            put(0, 4 + 1);                           // scalefac_compress, no window switching
            for (int t = 0; t < 3; ++t) put(23, 5);  // table 23: 13 escape bits
            put(15, 4);                              // region0_count
            put(7, 3);                               // region1_count
            put(0, 3);                               // preflag, scalefac_scale, count1table_select
        }
        for (int gr = 0; gr < 2; ++gr) {
            for (int pair = 0; pair < kPairs; ++pair) {
                put(0x03, 8);      // (15, 15) in tables 16..23: 00000011
                put(8191, 13);     // x escape
                put(0, 1);         // x positive
                put(8191, 13);     // y escape
                put(pair & 1, 1);  // y sign
            }
        }
    }
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 2; ++i) bytes.insert(bytes.end(), silent.begin(), silent.end());
    for (int i = 0; i < 6; ++i) bytes.insert(bytes.end(), loud.begin(), loud.end());

    const LevelRun run = DecodeWithLevels(bytes);
    ASSERT_EQ(run.levels.size(), 8u);
    ASSERT_EQ(run.channels, 1);
    for (size_t g = 0; g < 8; ++g) EXPECT_EQ(run.levels[1][g], 0);
    // Unlimited, the level of the first group would be far above 127.
    const std::vector<double> expected = ReferenceGroupLevels(run.pcm, 1, 4 * 36, 2 * 36);
    std::printf("reference level of group 0: %.1f\n", expected[0]);
    ASSERT_GT(expected[0], 140.0);
    for (size_t i = 3; i < 8; ++i) {
        EXPECT_EQ(run.levels[i][0], 127) << "frame " << i;
        for (size_t g = 0; g < 8; ++g) EXPECT_LE(run.levels[i][g], 127);
    }
}

TEST(object_BandLevels, FollowTheLastGranuleOfEveryFrame) {
    struct Case {
        const char* name;
        bool mono;
    };
    long compared = 0;
    long nonZero = 0;
    for (const Case& c :
         {Case{"l3-sin1k0db", false}, Case{"l3-test46", false}, Case{"l3-test46", true},
          Case{"l3-compl", false}, Case{"M2L3_noise", true}, Case{"l3-si_huff", false}}) {
        SCOPED_TRACE(std::string(c.name) + (c.mono ? " mono" : ""));
        const LevelRun run = DecodeWithLevels(StreamBytes(c.name), c.mono);
        ASSERT_GT(run.levels.size(), 20u);
        const size_t slots = run.pcm.size() / static_cast<size_t>(run.channels) / 32;
        const size_t slotsPerFrame = slots / run.levels.size();
        // A sample of the frames; the last granule of frame i ends at slot
        // (i + 1) x slots per frame, and its samples reach 15 slots further.
        for (size_t i = 0; (i + 2) * slotsPerFrame <= slots; i += 9) {
            const std::vector<double> expected =
                ReferenceGroupLevels(run.pcm, run.channels, (i + 1) * slotsPerFrame - 18, 18);
            for (size_t g = 0; g < 8; ++g) {
                EXPECT_NEAR(run.levels[i][g], DisplayLevel(expected[g]), 1)
                    << "frame " << i << " group " << g << " reference " << expected[g];
                ++compared;
                if (run.levels[i][g] != 0) ++nonZero;
            }
        }
    }
    std::printf("%ld levels compared, %ld of them above 0\n", compared, nonZero);
    EXPECT_GT(nonZero, compared / 4);
}

TEST(object_BandLevels, NeverAbove127OnConformanceStreams) {
    int highest = 0;
    for (const char* name : {"l3-si_huff", "l3-sin1k0db", "M2L3_noise", "l3-compl"}) {
        for (bool mono : {false, true}) {
            VeloradecoderPtr d(Veloradecoder::Create(0, mono, false));
            size_t fed = 0;
            Collected collected;
            int frames = 0;
            DecodeFrames(*d, StreamBytes(name), fed, -1, collected,
                         [&](const Veloradecoder& decoder, const uint8_t*, int) {
                             ++frames;
                             for (int count : {8, 32}) {
                                 uint8_t levels[32];
                                 std::memset(levels, 0xFF, sizeof(levels));
                                 decoder.BandLevels(count, levels);
                                 for (int g = 0; g < count; ++g) {
                                     EXPECT_LE(levels[g], 127) << name << " count " << count;
                                     highest = std::max(highest, static_cast<int>(levels[g]));
                                 }
                             }
                         });
            EXPECT_GT(frames, 50) << name;
        }
    }
    EXPECT_GT(highest, 80);
    std::printf("highest level seen: %d\n", highest);
}

// ---------------------------------------------------------------------------------------
// Status texts not covered by the status-code tests.

TEST(object_StatusText, EveryRemainingCode) {
    const std::pair<uint32_t, const char*> texts[] = {
        {kSscErrParameter, "(Mp3Ssc) error: at least one parameter is wrong"},
        {kSscErrMemory, "(Mp3Ssc) error: not enough memory"},
        {kSscErrHandle, "(Mp3Ssc) error: invalid handle"},
        {kSscIoGeneric, "(Mp3Ssc) error: I/O - generic error"},
        {kSscIoOpen, "(Mp3Ssc) error: I/O - open failed"},
        {kSscIoClose, "(Mp3Ssc) error: I/O - close failed"},
        {kSscInfoCrc, "(Mp3Ssc) info: Decoder - CRC error"},
        {kSscInfoVeloraStream, "(Mp3Ssc) info: Decoder - Velora stream detected"},
        {kSscErrDecoder, "(Mp3Ssc) error: Decoder - generic error"},
        {kSscErrLayer, "(Mp3Ssc) error: Decoder - wrong MPEG layer"},
        {kSscErrBufferSize, "(Mp3Ssc) error: Decoder - buffer is too small"},
        {kSscSyncSearched, "(Mp3Ssc) warning: Decoder - sync searched"},
        {kSscSyncLost, "(Mp3Ssc) warning: Decoder - sync lost"},
        {kSscSyncNeedData, "(Mp3Ssc) warning: Decoder - sync need data"},
    };
    for (const auto& [code, text] : texts) EXPECT_STREQ(StatusText(code), text) << std::hex << code;
    // Neighbours of real codes, differing only in severity or in the last digit.
    for (uint32_t code : {0x00000001u, 0x40000000u, 0x80000000u, 0xC0000000u, 0xC0000004u,
                          0x80010000u, 0x80010005u, 0x41010000u, 0x41010004u, 0x01010001u,
                          0xC1010000u, 0x81010000u, 0x81010005u, 0xFFFFFFFFu}) {
        EXPECT_STREQ(StatusText(code), "(Mp3Ssc) unknown SSC") << std::hex << code;
    }
}

}  // namespace
}  // namespace velora

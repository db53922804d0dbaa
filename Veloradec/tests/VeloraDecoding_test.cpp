// Velora streams through the decoder object. lame makes plain streams without the bit
// reservoir from tones below 5 kHz; the stream builder widens their frames and writes SBR
// payloads (from the payload writer) behind the main data. The decoder must find the payload
// in the first frame, turn the enhancement on and deliver frames at twice the core rate; a
// stream its enhancement cannot take plays as plain mp3. Expected values come from the frame
// headers, from plain decodings of the same frames and from mpg123, never from the code
// under test. The tests skip when lame (or, where named, mpg123) is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "LameStreams.h"
#include "Layer3Decoder.h"
#include "MpegStream.h"
#include "VeloraPayloads.h"
#include "VeloraStreamBuilder.h"
#include "Veloradecoder.h"

namespace velora {
namespace {

using test::BuildVeloraStream;
using test::VeloraBuildReport;
using test::VeloraPayloadMaker;
using test::VeloraPayloadPlan;

constexpr double kSeconds = 2.0;
const std::vector<test::Tone> kTones = {{1000.0, 0.3}, {2500.0, 0.1}, {4200.0, 0.05}};

// ---------------------------------------------------------------------------------------
// The streams, made once per run.

struct StreamSet {
    std::vector<uint8_t> lame;    // as lame wrote it
    std::vector<uint8_t> plain;   // widened, no payloads
    std::vector<uint8_t> velora;  // widened, payloads in every frame
    VeloraBuildReport report;
    int channels = 0;
};

struct Streams {
    bool haveLame = false;
    std::string lame;
    std::string mpg123;
    std::unique_ptr<test::ScratchDir> dir;
    std::vector<uint8_t> lame96;  // lame's frames at 96 kbit/s, with as much room as it left
    StreamSet stereo;
    StreamSet mono;
    StreamSet mpeg1;       // 44100 Hz with payloads: more than the enhancement takes
    StreamSet versionOne;  // the first header has version 1
    StreamSet quarter;     // an 11025 Hz core
};

// Frames widened from `fromKbps` to `toKbps`, with payloads from `plan`.
StreamSet MakeSet(const Streams& s, const std::string& name, int rate, int channels, int fromKbps,
                  int toKbps, const VeloraPayloadPlan& plan) {
    StreamSet set;
    set.channels = channels;
    const std::vector<int16_t> pcm = test::MakeTones(rate, channels, kSeconds, kTones, 0.002);
    test::LameSettings settings;
    settings.rate = rate;
    settings.channels = channels;
    settings.kbps = fromKbps;
    const std::optional<std::vector<uint8_t>> mp3 =
        test::EncodeWithLame(s.lame, *s.dir, name, pcm, settings);
    if (!mp3) return set;
    set.lame = *mp3;
    set.plain = test::WidenFrames(*mp3, toKbps);
    const VeloraPayloadMaker maker(plan);
    if (!maker.Ready()) return set;
    set.velora = BuildVeloraStream(
        set.plain, [&](int i) { return maker(i); }, &set.report);
    return set;
}

const Streams& TheStreams() {
    static const Streams streams = [] {
        Streams s;
        s.lame = test::FindTool("lame");
        s.mpg123 = test::FindTool("mpg123");
        s.haveLame = !s.lame.empty();
        if (!s.haveLame) return s;
        s.dir = std::make_unique<test::ScratchDir>("velora-stream");
        VeloraPayloadPlan stereo;
        VeloraPayloadPlan mono;
        mono.stereo = false;
        s.stereo = MakeSet(s, "stereo", 22050, 2, 48, 64, stereo);
        s.mono = MakeSet(s, "mono", 22050, 1, 32, 48, mono);
        VeloraPayloadPlan versionOne = stereo;
        versionOne.firstHeaderVersion = 1;
        s.versionOne = MakeSet(s, "version1", 22050, 2, 48, 64, versionOne);
        s.mpeg1 = MakeSet(s, "mpeg1", 44100, 2, 128, 160, stereo);
        VeloraPayloadPlan quarter = mono;
        quarter.outputRate = 22050;
        s.quarter = MakeSet(s, "quarter", 11025, 1, 16, 24, quarter);
        test::LameSettings settings;
        settings.kbps = 96;
        s.lame96 =
            test::EncodeWithLame(s.lame, *s.dir, "lame96",
                                 test::MakeTones(22050, 2, kSeconds, kTones, 0.002), settings)
                .value_or(std::vector<uint8_t>{});
        return s;
    }();
    return streams;
}

class VeloraStreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!TheStreams().haveLame) GTEST_SKIP() << "lame is not on PATH";
    }
    static const Streams& S() { return TheStreams(); }
    static void ExpectUsable(const StreamSet& set) {
        ASSERT_FALSE(set.plain.empty()) << "lame or the widening failed";
        ASSERT_FALSE(set.velora.empty());
        ASSERT_TRUE(set.report.ok);
        ASSERT_GT(set.report.frames, 30);
        ASSERT_EQ(set.report.withPayload, set.report.frames) << "widened frames all have room";
    }
};

// ---------------------------------------------------------------------------------------
// Drivers

struct Call {
    Mp3Ssc status;
    int written;
    FrameInfo info;
};

struct Output {
    std::vector<Call> calls;  // successful calls only
    std::vector<int16_t> pcm;
    std::vector<float> floats;
    Mp3Ssc last = kSscSuccess;
};

void DecodeInto(Veloradecoder& d, const std::vector<uint8_t>& bytes, bool enable, bool floatOutput,
                Output& run, int maxFrames = 1 << 30) {
    std::vector<uint8_t> out(kMaxFrameSamples * 4);
    std::size_t fed = 0;
    for (int guard = 0; guard < 100000 && static_cast<int>(run.calls.size()) < maxFrames; ++guard) {
        while (fed < bytes.size()) {
            const int taken = d.Feed(bytes.data() + fed, static_cast<int>(bytes.size() - fed));
            fed += static_cast<std::size_t>(taken);
            if (taken == 0) break;
        }
        if (fed == bytes.size()) d.SetEndOfData();
        int written = 0;
        const Mp3Ssc status =
            d.Decode(out.data(), static_cast<int>(out.size()), &written, enable, nullptr, nullptr);
        run.last = status;
        if (status == kSscSyncEof || SscIsError(status)) break;
        if (!SscSucceeded(status)) continue;
        run.calls.push_back({status, written, d.Info()});
        if (floatOutput) {
            const float* f = reinterpret_cast<const float*>(out.data());
            run.floats.insert(run.floats.end(), f, f + written / 4);
        } else {
            const int16_t* p = reinterpret_cast<const int16_t*>(out.data());
            run.pcm.insert(run.pcm.end(), p, p + written / 2);
        }
    }
}

Output Decode(const std::vector<uint8_t>& bytes, bool enable = true, bool floatOutput = false,
              bool mono = false) {
    Output run;
    VeloradecoderPtr d(Veloradecoder::Create(0, mono, floatOutput));
    if (d) DecodeInto(*d, bytes, enable, floatOutput, run);
    return run;
}

// The payload the core finds behind each frame's main data, frame by frame.
std::vector<std::vector<uint8_t>> PayloadsFound(const std::vector<uint8_t>& bytes) {
    std::vector<std::vector<uint8_t>> found;
    auto storage = std::make_unique<uint8_t[]>(8192);
    auto stream = std::make_unique<MpegStream>();
    auto core = std::make_unique<Layer3Decoder>();
    std::vector<float> pcm(kMaxFrameSamples);
    stream->Init(storage.get(), 8192);
    std::size_t fed = 0;
    for (int guard = 0; guard < 100000; ++guard) {
        if (fed < bytes.size()) {
            fed += static_cast<std::size_t>(
                stream->Feed(bytes.data() + fed, static_cast<int>(bytes.size() - fed)));
            if (fed == bytes.size()) stream->SetEndOfData();
        }
        const Mp3Ssc sync = stream->NextFrame();
        if (sync == kSscSyncEof) break;
        if (sync != kSscSuccess) continue;
        int coreBytes = 0;
        const Mp3Ssc status = core->DecodeFrame(*stream, pcm.data(), kMaxFrameSamples * 4,
                                                &coreBytes, nullptr, nullptr, 0, false);
        if (!SscSucceeded(status)) break;
        found.emplace_back(core->SbrPayload(), core->SbrPayload() + core->SbrPayloadLength());
    }
    return found;
}

std::vector<uint8_t> PayloadBytes(const SbrFrame& f) {
    return std::vector<uint8_t>(f.payload, f.payload + f.length);
}

// `first`, then `second` from its frame `from` on.
std::vector<uint8_t> Spliced(const std::vector<uint8_t>& first, const std::vector<uint8_t>& second,
                             int from) {
    const std::vector<test::VeloraFrameLayout> frames = test::ListFrameLayouts(second);
    std::vector<uint8_t> out = first;
    out.insert(out.end(),
               second.begin() +
                   static_cast<std::ptrdiff_t>(frames.at(static_cast<std::size_t>(from)).offset),
               second.end());
    return out;
}

// A payload of `length` bytes with a marker for `channels` and the CRC-flag bit set; the
// rest random. The core does not look inside, so this stands for any payload.
SbrFrame RawPayload(int length, int channels, uint32_t seed) {
    SbrFrame f{};
    std::mt19937 rng(seed);
    f.present = 1;
    f.length = length;
    for (int i = 0; i < length; ++i) f.payload[i] = static_cast<uint8_t>(rng() & 0xFF);
    f.payload[0] =
        static_cast<uint8_t>((channels == 2 ? 0xC0 : 0xD0) | 0x08 | (f.payload[0] & 0x07));
    return f;
}

// ---------------------------------------------------------------------------------------
// Tone measurement: frequency and amplitude of the strongest component near `around` Hz,
// from a Hann-windowed transform scanned in 0.05 Hz steps over one second.

struct ToneEstimate {
    double frequency = 0.0;
    double amplitude = 0.0;  // peak, in LSB
};

ToneEstimate MeasureTone(const std::vector<int16_t>& pcm, int channels, int channel, int rate,
                         double around) {
    const std::size_t start = static_cast<std::size_t>(0.5 * rate);
    const std::size_t n = static_cast<std::size_t>(rate);
    ToneEstimate best;
    if (pcm.size() < (start + n) * static_cast<std::size_t>(channels)) return best;
    double windowSum = 0.0;
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                              static_cast<double>(n));
        windowSum += w;
        x[i] = w * pcm[(start + i) * static_cast<std::size_t>(channels) +
                       static_cast<std::size_t>(channel)];
    }
    for (double f = around - 3.0; f <= around + 3.0; f += 0.05) {
        const std::complex<double> step = std::polar(1.0, -2.0 * std::numbers::pi * f / rate);
        std::complex<double> phasor = 1.0;
        std::complex<double> sum = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            sum += x[i] * phasor;
            phasor *= step;
        }
        const double amplitude = 2.0 * std::abs(sum) / windowSum;
        if (amplitude > best.amplitude) best = {f, amplitude};
    }
    return best;
}

// ---------------------------------------------------------------------------------------
// The builder

using velora_stream_builder = VeloraStreamTest;

TEST_F(velora_stream_builder, PayloadsSitWhereTheCoreFindsThem) {
    for (const StreamSet* set : {&S().stereo, &S().mono}) {
        SCOPED_TRACE(set->channels == 2 ? "stereo" : "mono");
        ExpectUsable(*set);
        VeloraPayloadPlan plan;
        plan.stereo = set->channels == 2;
        const VeloraPayloadMaker maker(plan);
        const std::vector<std::vector<uint8_t>> found = PayloadsFound(set->velora);
        ASSERT_EQ(static_cast<int>(found.size()), set->report.frames);
        for (std::size_t i = 0; i < found.size(); ++i) {
            const std::optional<SbrFrame> want = maker(static_cast<int>(i));
            ASSERT_TRUE(want.has_value());
            EXPECT_EQ(found[i], PayloadBytes(*want)) << "frame " << i;
        }
        // Headers went with the first frame and every eighth one.
        EXPECT_EQ(found[0][0] & 0x20, 0x20);
        EXPECT_EQ(found[1][0] & 0x20, 0x00);
        EXPECT_EQ(found[8][0] & 0x20, 0x20);
        // The plain stream carries nothing.
        for (const std::vector<uint8_t>& p : PayloadsFound(set->plain)) EXPECT_TRUE(p.empty());
    }
}

TEST_F(velora_stream_builder, FramesWithoutRoomGetNoPayload) {
    // lame's own frames: how much room each keeps varies, so a 40-byte payload fits some
    // frames and not others.
    const std::vector<uint8_t>& lame = S().lame96;
    ASSERT_FALSE(lame.empty());
    const SbrFrame payload = RawPayload(40, 2, 5);
    VeloraBuildReport report;
    const std::vector<uint8_t> built = BuildVeloraStream(
        lame, [&](int) { return std::optional<SbrFrame>(payload); }, &report);
    ASSERT_TRUE(report.ok);
    EXPECT_GT(report.withPayload, 0);
    EXPECT_GT(report.withoutRoom, 0);
    EXPECT_EQ(report.withPayload + report.withoutRoom, report.frames);
    const std::vector<std::vector<uint8_t>> found = PayloadsFound(built);
    ASSERT_EQ(static_cast<int>(found.size()), report.frames);
    int carried = 0;
    for (const std::vector<uint8_t>& p : found) {
        if (p.empty()) continue;
        EXPECT_EQ(p, PayloadBytes(payload));
        ++carried;
    }
    EXPECT_EQ(carried, report.withPayload);
    // No payload went into main data.
    EXPECT_EQ(Decode(built).pcm, Decode(lame).pcm);
}

TEST_F(velora_stream_builder, LeadingInfoFrameIsDropped) {
    // lame's Info frame would be the first decoded frame, without a payload. (lame leaves it
    // out of frames too short for it, as at 48 kbit/s here.)
    test::LameSettings settings;
    settings.kbps = 64;
    settings.infoTag = true;
    const std::optional<std::vector<uint8_t>> tagged = test::EncodeWithLame(
        S().lame, *S().dir, "tagged", test::MakeTones(22050, 2, kSeconds, kTones, 0.002), settings);
    ASSERT_TRUE(tagged.has_value());
    const std::vector<uint8_t> wide = test::WidenFrames(*tagged, 80);
    const std::vector<test::VeloraFrameLayout> frames = test::ListFrameLayouts(wide);
    ASSERT_GT(frames.size(), 2u);
    ASSERT_TRUE(frames[0].tagFrame);
    ASSERT_FALSE(frames[1].tagFrame);
    const VeloraPayloadMaker maker{VeloraPayloadPlan{}};
    VeloraBuildReport report;
    const std::vector<uint8_t> built = BuildVeloraStream(
        wide, [&](int i) { return maker(i); }, &report);
    EXPECT_EQ(report.droppedTagFrames, 1);
    EXPECT_EQ(report.frames, static_cast<int>(frames.size()) - 1);
    EXPECT_EQ(built.size(), wide.size() - static_cast<std::size_t>(frames[0].bytes));
    const std::vector<std::vector<uint8_t>> found = PayloadsFound(built);
    ASSERT_EQ(static_cast<int>(found.size()), report.frames);
    EXPECT_EQ(found[0], PayloadBytes(*maker(0)));
    EXPECT_EQ(Decode(built).calls.front().info.sbrActive, 1);
}

TEST_F(velora_stream_builder, LongPayloadsTakeTheLengthExtension) {
    // 160 kbit/s frames have room for a payload whose length needs the extra byte.
    const std::vector<uint8_t> wide = test::WidenFrames(S().stereo.lame, 160);
    ASSERT_FALSE(wide.empty());
    for (int length : {255, 256, 257, 300}) {
        const SbrFrame payload = RawPayload(length, 2, static_cast<uint32_t>(length));
        VeloraBuildReport report;
        const std::vector<uint8_t> built = BuildVeloraStream(
            wide,
            [&](int i) { return i % 2 == 0 ? std::optional<SbrFrame>(payload) : std::nullopt; },
            &report);
        EXPECT_EQ(report.withoutRoom, 0) << length;
        const std::vector<std::vector<uint8_t>> found = PayloadsFound(built);
        ASSERT_GT(found.size(), 2u);
        for (std::size_t i = 0; i < found.size(); ++i) {
            if (i % 2 == 0) {
                EXPECT_EQ(found[i], PayloadBytes(payload)) << length << " frame " << i;
            } else {
                EXPECT_TRUE(found[i].empty()) << length << " frame " << i;
            }
        }
    }
}

TEST_F(velora_stream_builder, WidenedFramesWithPayloadsDecodeAsTheOriginal) {
    // The frames keep their main data: both decoders give the same samples for lame's
    // stream, the widened one and the one with payloads.
    ExpectUsable(S().stereo);
    const Output original = Decode(S().stereo.lame);
    ASSERT_FALSE(original.pcm.empty());
    EXPECT_EQ(Decode(S().stereo.plain).pcm, original.pcm);
    if (S().mpg123.empty()) GTEST_SKIP() << "mpg123 is not on PATH";
    const test::Mpg123Decoding reference =
        test::DecodeWithMpg123(S().mpg123, *S().dir, "lame-original", S().stereo.lame);
    ASSERT_TRUE(reference.ran) << reference.messages;
    ASSERT_FALSE(reference.pcm.empty());
    for (const StreamSet* set : {&S().stereo, &S().mono}) {
        const test::Mpg123Decoding plain =
            test::DecodeWithMpg123(S().mpg123, *S().dir, "widened", set->plain);
        const test::Mpg123Decoding built =
            test::DecodeWithMpg123(S().mpg123, *S().dir, "built", set->velora);
        EXPECT_TRUE(built.ran) << built.messages;
        EXPECT_EQ(built.messages, "") << "mpg123 complained about the payloads";
        EXPECT_EQ(built.pcm, plain.pcm);
        if (set == &S().stereo) {
            EXPECT_EQ(built.pcm, reference.pcm);
        }
    }
}

// ---------------------------------------------------------------------------------------
// Decoding with the enhancement

using velora_stream_decoding = VeloraStreamTest;

TEST_F(velora_stream_decoding, CoreRateIsDoubledOnEveryFrame) {
    for (const StreamSet* set : {&S().stereo, &S().mono}) {
        SCOPED_TRACE(set->channels == 2 ? "stereo" : "mono");
        ExpectUsable(*set);
        for (bool enable : {true, false}) {
            SCOPED_TRACE(enable ? "enhancement on" : "enhancement off");
            const Output run = Decode(set->velora, enable);
            EXPECT_EQ(run.last, kSscSyncEof);
            ASSERT_EQ(static_cast<int>(run.calls.size()), set->report.frames);
            for (const Call& c : run.calls) {
                EXPECT_EQ(c.info.codedSamplingRate, 22050);
                EXPECT_EQ(c.info.outputSamplingRate, 44100);
                EXPECT_EQ(c.info.codedChannels, set->channels);
                EXPECT_EQ(c.info.outputChannels, set->channels);
                EXPECT_EQ(c.info.sbrActive, 1);
                EXPECT_EQ(c.written, 1152 * set->channels * 2);
            }
        }
    }
}

TEST_F(velora_stream_decoding, CoreOf11025HzGivesWholeEnhancedFrames) {
    // The enhanced frame is twice the core frame at every core rate, also where the output
    // rate stays below 32000 Hz.
    const StreamSet& set = S().quarter;
    ExpectUsable(set);
    const Output run = Decode(set.velora);
    ASSERT_EQ(static_cast<int>(run.calls.size()), set.report.frames);
    for (const Call& c : run.calls) {
        EXPECT_EQ(c.info.version, 2);
        EXPECT_EQ(c.info.codedSamplingRate, 11025);
        EXPECT_EQ(c.info.outputSamplingRate, 22050);
        EXPECT_EQ(c.info.sbrActive, 1);
        EXPECT_EQ(c.written, 1152 * 2);
    }
}

TEST_F(velora_stream_decoding, ProbeResultIsKeptForTheObject) {
    ExpectUsable(S().stereo);
    for (const std::vector<uint8_t>* bytes :
         {&S().stereo.velora, &S().mpeg1.velora, &S().stereo.plain}) {
        VeloradecoderPtr d(Veloradecoder::Create(0, false, false));
        ASSERT_TRUE(d);
        EXPECT_FALSE(d->VeloraStream()) << "nothing decoded yet";
        Output run;
        DecodeInto(*d, *bytes, true, false, run, 3);
        ASSERT_EQ(run.calls.size(), 3u);
        EXPECT_EQ(d->VeloraStream(), bytes != &S().stereo.plain);
        d->Reset();
        EXPECT_EQ(d->VeloraStream(), bytes != &S().stereo.plain);
    }
    // A plain first frame settles it: payloads from the second frame on are not looked at.
    const StreamSet& set = S().stereo;
    const std::vector<test::VeloraFrameLayout> frames = test::ListFrameLayouts(set.plain);
    ASSERT_GT(frames.size(), 2u);
    std::vector<uint8_t> late(set.plain.begin(),
                              set.plain.begin() + static_cast<std::ptrdiff_t>(frames[1].offset));
    late.insert(late.end(), set.velora.begin() + static_cast<std::ptrdiff_t>(frames[1].offset),
                set.velora.end());
    ASSERT_TRUE(PayloadsFound(late)[0].empty());
    ASSERT_FALSE(PayloadsFound(late)[1].empty());
    const Output run = Decode(late);
    ASSERT_EQ(static_cast<int>(run.calls.size()), set.report.frames);
    for (const Call& c : run.calls) {
        EXPECT_EQ(c.info.outputSamplingRate, 22050);
        EXPECT_EQ(c.info.sbrActive, 0);
    }
}

TEST_F(velora_stream_decoding, FirstFramesMustAllCarryGoodPayloads) {
    // The first frame alone, a damaged CRC or a missing payload among the first four frames
    // make the stream plain; payloads in the first four frames only are enough.
    ExpectUsable(S().stereo);
    const VeloraPayloadMaker maker{VeloraPayloadPlan{}};
    ASSERT_TRUE(maker.Ready());
    struct Case {
        const char* what;
        test::VeloraPayloadSource source;
        bool velora;
    };
    const Case cases[] = {
        {"first frame only", [&](int i) { return i == 0 ? maker(i) : std::nullopt; }, false},
        {"frame 2 without payload", [&](int i) { return i == 2 ? std::nullopt : maker(i); }, false},
        {"frame 3 with a wrong CRC",
         [&](int i) {
             std::optional<SbrFrame> f = maker(i);
             if (f && i == 3) f->payload[0] ^= 0x01;  // lowest of the CRC's top three bits
             return f;
         },
         false},
        {"frame 1 one byte longer",
         [&](int i) {
             std::optional<SbrFrame> f = maker(i);
             if (f && i == 1) f->payload[f->length++] = 0;
             return f;
         },
         false},
        {"first four frames", [&](int i) { return i < 4 ? maker(i) : std::nullopt; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VeloraBuildReport report;
        const std::vector<uint8_t> bytes = BuildVeloraStream(S().stereo.plain, c.source, &report);
        ASSERT_TRUE(report.ok);
        ASSERT_FALSE(PayloadsFound(bytes).front().empty());
        VeloradecoderPtr d(Veloradecoder::Create(0, false, false));
        ASSERT_TRUE(d);
        Output run;
        DecodeInto(*d, bytes, true, false, run);
        ASSERT_EQ(static_cast<int>(run.calls.size()), report.frames);
        EXPECT_EQ(d->VeloraStream(), c.velora);
        EXPECT_EQ(run.calls.front().info.sbrActive, c.velora ? 1 : 0);
        EXPECT_EQ(run.calls.front().info.outputSamplingRate, c.velora ? 44100 : 22050);
        if (!c.velora) {
            EXPECT_EQ(run.pcm, Decode(S().stereo.plain).pcm);
        }
    }
}

TEST_F(velora_stream_decoding, FloatAndMonoOutputFollowTheEnhancedFormat) {
    ExpectUsable(S().stereo);
    const Output floats = Decode(S().stereo.velora, true, true);
    ASSERT_EQ(static_cast<int>(floats.calls.size()), S().stereo.report.frames);
    for (const Call& c : floats.calls) EXPECT_EQ(c.written, 1152 * 2 * 4);
    // 16-bit output is the float output rounded and limited.
    const Output ints = Decode(S().stereo.velora, true, false);
    ASSERT_EQ(ints.pcm.size(), floats.floats.size());
    for (std::size_t i = 0; i < ints.pcm.size(); ++i) {
        const float want = std::clamp(std::nearbyint(floats.floats[i]), -32768.0f, 32767.0f);
        ASSERT_EQ(static_cast<float>(ints.pcm[i]), want) << i;
    }
    const Output mono = Decode(S().stereo.velora, true, false, true);
    ASSERT_EQ(static_cast<int>(mono.calls.size()), S().stereo.report.frames);
    for (const Call& c : mono.calls) {
        EXPECT_EQ(c.info.outputChannels, 1);
        EXPECT_EQ(c.info.outputSamplingRate, 44100);
        EXPECT_EQ(c.info.sbrActive, 1);
        EXPECT_EQ(c.written, 1152 * 2);
    }
}

TEST_F(velora_stream_decoding, ResetKeepsTheEnhancementOn) {
    ExpectUsable(S().stereo);
    VeloradecoderPtr d(Veloradecoder::Create(0, false, false));
    ASSERT_TRUE(d);
    Output first;
    DecodeInto(*d, S().stereo.velora, true, false, first, 10);
    ASSERT_EQ(first.calls.size(), 10u);
    EXPECT_EQ(first.calls.back().info.sbrActive, 1);
    d->Reset();
    // On from frame 33 (as after a seek), whose payload has no header.
    Output second;
    DecodeInto(*d, Spliced({}, S().stereo.velora, 33), true, false, second);
    ASSERT_GT(second.calls.size(), 10u);
    for (const Call& c : second.calls) {
        EXPECT_EQ(c.info.sbrActive, 1);
        EXPECT_EQ(c.info.outputSamplingRate, 44100);
        EXPECT_EQ(c.written, 1152 * 2 * 2);
    }
    // The probe is not repeated: frames without payloads after a reset keep the format.
    d->Reset();
    Output third;
    DecodeInto(*d, S().stereo.plain, true, false, third);
    ASSERT_EQ(static_cast<int>(third.calls.size()), S().stereo.report.frames);
    for (const Call& c : third.calls) {
        EXPECT_EQ(c.info.sbrActive, 1);
        EXPECT_EQ(c.info.outputSamplingRate, 44100);
        EXPECT_EQ(c.written, 1152 * 2 * 2);
    }
}

// ---------------------------------------------------------------------------------------
// Streams the enhancement does not take play as plain mp3

using velora_stream_fallback = VeloraStreamTest;

TEST_F(velora_stream_fallback, Mpeg1StreamWithPayloadsPlaysPlain) {
    const StreamSet& set = S().mpeg1;
    ExpectUsable(set);
    ASSERT_FALSE(PayloadsFound(set.velora).front().empty());
    const Output run = Decode(set.velora);
    ASSERT_EQ(static_cast<int>(run.calls.size()), set.report.frames);
    for (const Call& c : run.calls) {
        EXPECT_EQ(c.info.codedSamplingRate, 44100);
        EXPECT_EQ(c.info.outputSamplingRate, 44100);
        EXPECT_EQ(c.info.sbrActive, 0);
        EXPECT_EQ(c.written, 1152 * 2 * 2);
    }
    EXPECT_EQ(run.pcm, Decode(set.plain).pcm);
}

TEST_F(velora_stream_fallback, FirstHeaderOfVersionOneSwitchesTheEnhancementOff) {
    const StreamSet& set = S().versionOne;
    ExpectUsable(set);
    // Headers of version 0 follow every eighth frame; the enhancement stays off all the same.
    const std::vector<std::vector<uint8_t>> found = PayloadsFound(set.velora);
    ASSERT_GT(found.size(), 9u);
    ASSERT_EQ(found[8][0] & 0x20, 0x20);
    const Output run = Decode(set.velora);
    ASSERT_EQ(static_cast<int>(run.calls.size()), set.report.frames);
    for (const Call& c : run.calls) {
        EXPECT_EQ(c.info.outputSamplingRate, 22050);
        EXPECT_EQ(c.info.sbrActive, 0);
        EXPECT_EQ(c.written, 576 * 2 * 2);
    }
    // The frame that was refused comes out as the core decoded it.
    EXPECT_EQ(run.pcm, Decode(set.plain).pcm);
}

TEST_F(velora_stream_fallback, EnhancementThatFailsLaterStaysOff) {
    // Stereo Velora frames, then single-channel ones whose first payload has no header: the
    // enhancement, set up for a channel pair, refuses that frame and is gone for the rest.
    ExpectUsable(S().stereo);
    ExpectUsable(S().mono);
    const int stereoFrames = S().stereo.report.frames;
    const std::vector<uint8_t> spliced = Spliced(S().stereo.velora, S().mono.velora, 1);
    const Output run = Decode(spliced);
    ASSERT_EQ(static_cast<int>(run.calls.size()), stereoFrames + S().mono.report.frames - 1);
    for (std::size_t i = 0; i < run.calls.size(); ++i) {
        const Call& c = run.calls[i];
        const bool enhanced = static_cast<int>(i) < stereoFrames;
        EXPECT_EQ(c.info.sbrActive, enhanced ? 1 : 0) << i;
        EXPECT_EQ(c.info.outputSamplingRate, enhanced ? 44100 : 22050) << i;
        EXPECT_EQ(c.written, enhanced ? 1152 * 2 * 2 : 576 * 2) << i;
    }
    // From the refused frame on the output is the core's: the same stream without the
    // stereo payloads never turns the enhancement on, and its core decodes the same frames.
    const Output plain = Decode(Spliced(S().stereo.plain, S().mono.velora, 1));
    const std::size_t tail = static_cast<std::size_t>(S().mono.report.frames - 1) * 576;
    ASSERT_GE(plain.pcm.size(), tail);
    ASSERT_GE(run.pcm.size(), tail);
    EXPECT_TRUE(std::equal(run.pcm.end() - static_cast<std::ptrdiff_t>(tail), run.pcm.end(),
                           plain.pcm.end() - static_cast<std::ptrdiff_t>(tail)));
}

TEST_F(velora_stream_fallback, PlainStreamStaysPlain) {
    ExpectUsable(S().stereo);
    const Output run = Decode(S().stereo.plain);
    ASSERT_EQ(static_cast<int>(run.calls.size()), S().stereo.report.frames);
    for (const Call& c : run.calls) {
        EXPECT_EQ(c.info.outputSamplingRate, 22050);
        EXPECT_EQ(c.info.sbrActive, 0);
        EXPECT_EQ(c.written, 576 * 2 * 2);
    }
}

// ---------------------------------------------------------------------------------------
// Destination size

using velora_stream_destination = VeloraStreamTest;

TEST_F(velora_stream_destination, TooSmallIsRefusedUntouchedAndNoFrameIsLost) {
    ExpectUsable(S().stereo);
    const std::vector<uint8_t>& bytes = S().stereo.velora;
    for (bool floatOutput : {false, true}) {
        SCOPED_TRACE(floatOutput ? "float" : "int16");
        const int sampleBytes = floatOutput ? 4 : 2;
        const Output reference = Decode(bytes, true, floatOutput);
        const std::size_t frameBytes = static_cast<std::size_t>(1152 * 2 * sampleBytes);
        VeloradecoderPtr d(Veloradecoder::Create(0, false, floatOutput));
        ASSERT_TRUE(d);
        ASSERT_EQ(d->Feed(bytes.data(), 8192), 8192);
        // Exact sizes, so that AddressSanitizer sees a write past them.
        std::vector<uint8_t> core(static_cast<std::size_t>(576 * 2 * sampleBytes));
        std::vector<uint8_t> small(frameBytes - 1);
        std::vector<uint8_t> exact(frameBytes);
        std::vector<uint8_t> got;
        const auto refused = [&](std::vector<uint8_t>& dest) {
            std::fill(dest.begin(), dest.end(), uint8_t{0x5A});
            int written = 777;
            const Mp3Ssc status = d->Decode(dest.data(), static_cast<int>(dest.size()), &written,
                                            true, nullptr, nullptr);
            EXPECT_EQ(status, kSscErrBufferSize);
            EXPECT_EQ(written, 0);
            EXPECT_TRUE(std::all_of(dest.begin(), dest.end(), [](uint8_t b) { return b == 0x5A; }));
        };
        const auto delivered = [&] {
            int written = 0;
            const Mp3Ssc status = d->Decode(exact.data(), static_cast<int>(exact.size()), &written,
                                            true, nullptr, nullptr);
            ASSERT_TRUE(SscSucceeded(status)) << StatusText(status);
            ASSERT_EQ(written, static_cast<int>(frameBytes));
            got.insert(got.end(), exact.begin(), exact.end());
        };
        // The first frame decides: room for the core frame is not enough once it turns the
        // enhancement on, and the frame waits for a call with room.
        refused(core);
        EXPECT_EQ(d->Info().sbrActive, 1);
        refused(small);
        delivered();
        for (int frame = 1; frame < 6; ++frame) {
            if (frame % 2 == 1) {
                refused(small);
                refused(core);
            }
            delivered();
        }
        const std::vector<uint8_t> want =
            floatOutput
                ? std::vector<uint8_t>(
                      reinterpret_cast<const uint8_t*>(reference.floats.data()),
                      reinterpret_cast<const uint8_t*>(reference.floats.data()) + got.size())
                : std::vector<uint8_t>(
                      reinterpret_cast<const uint8_t*>(reference.pcm.data()),
                      reinterpret_cast<const uint8_t*>(reference.pcm.data()) + got.size());
        ASSERT_GE(reference.calls.size(), 6u);
        EXPECT_EQ(got, want) << "a refused frame was lost or changed";
    }
    // Float output: the 16-bit size of an enhanced frame is refused.
    VeloradecoderPtr d(Veloradecoder::Create(0, false, true));
    ASSERT_TRUE(d);
    ASSERT_EQ(d->Feed(bytes.data(), 8192), 8192);
    std::vector<uint8_t> half(1152 * 2 * 2);
    std::vector<uint8_t> exact(1152 * 2 * 4);
    int written = 0;
    ASSERT_EQ(
        d->Decode(exact.data(), static_cast<int>(exact.size()), &written, true, nullptr, nullptr),
        kSscSuccess);
    EXPECT_EQ(
        d->Decode(half.data(), static_cast<int>(half.size()), &written, true, nullptr, nullptr),
        kSscErrBufferSize);
    EXPECT_EQ(written, 0);
}

// ---------------------------------------------------------------------------------------
// The low band of the enhanced output is the core signal

using velora_stream_lowband = VeloraStreamTest;

TEST_F(velora_stream_lowband, TonesMatchMpg123AtTheCoreRate) {
    if (S().mpg123.empty()) GTEST_SKIP() << "mpg123 is not on PATH";
    for (const StreamSet* set : {&S().stereo, &S().mono}) {
        SCOPED_TRACE(set->channels == 2 ? "stereo" : "mono");
        ExpectUsable(*set);
        const test::Mpg123Decoding plain =
            test::DecodeWithMpg123(S().mpg123, *S().dir, "lowband", set->velora);
        ASSERT_TRUE(plain.ran) << plain.messages;
        for (bool enable : {true, false}) {
            const Output run = Decode(set->velora, enable);
            for (int ch = 0; ch < set->channels; ++ch) {
                for (double f : {1000.0, 2500.0}) {
                    SCOPED_TRACE(testing::Message() << (enable ? "on" : "off") << ", channel " << ch
                                                    << ", " << f << " Hz");
                    const ToneEstimate want = MeasureTone(plain.pcm, set->channels, ch, 22050, f);
                    const ToneEstimate got = MeasureTone(run.pcm, set->channels, ch, 44100, f);
                    ASSERT_GT(want.amplitude, 1000.0) << "the tone is in the stream";
                    EXPECT_NEAR(got.frequency, want.frequency, 0.1);
                    EXPECT_NEAR(20.0 * std::log10(got.amplitude / want.amplitude), 0.0, 0.1);
                }
            }
        }
    }
}

}  // namespace
}  // namespace velora

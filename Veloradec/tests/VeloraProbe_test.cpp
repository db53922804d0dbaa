// Which streams the decoder takes for Velora. Every operating point of the project's encoder
// (mono, stereo, lc, dual, 32 kHz outputs, VBR with its VBRI header frame first, silence)
// must be recognised and enhanced from the first frame on; plain low-rate lame streams
// without a VBR header frame and the conformance streams must not be, whatever their
// ancillary bits happen to look like. The lame tests skip when lame is not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "EncoderApi.h"
#include "EncoderTestSupport.h"
#include "LameStreams.h"
#include "Veloradecoder.h"

namespace velora {
namespace {

struct ProbeRun {
    bool velora = false;
    int frames = 0;
    int enhancedFrames = 0;
    int codedRate = 0;
    int firstOutputRate = 0;
    bool sameRateThroughout = true;
};

// Decodes the whole stream, topping the input up before each call (in `chunk` bytes at most
// per call when given).
ProbeRun DecodeStream(const std::vector<uint8_t>& bytes, std::size_t chunk = 0) {
    ProbeRun run;
    VeloradecoderPtr d(Veloradecoder::Create(0, false, false));
    if (!d) return run;
    std::vector<int16_t> pcm(kMaxFrameSamples);
    std::size_t fed = 0;
    for (int guard = 0; guard < 1000000; ++guard) {
        if (fed < bytes.size()) {
            const std::size_t offer = chunk > 0 ? std::min(chunk, bytes.size() - fed) : bytes.size() - fed;
            fed += static_cast<std::size_t>(d->Feed(bytes.data() + fed, static_cast<int>(offer)));
            if (fed == bytes.size()) d->SetEndOfData();
        }
        int written = 0;
        const Mp3Ssc status = d->Decode(pcm.data(), static_cast<int>(pcm.size() * 2), &written,
                                        true, nullptr, nullptr);
        if (status == kSscSyncEof || SscIsError(status)) break;
        if (!SscSucceeded(status)) continue;
        const FrameInfo& info = d->Info();
        if (run.frames == 0) {
            run.codedRate = info.codedSamplingRate;
            run.firstOutputRate = info.outputSamplingRate;
        }
        run.sameRateThroughout = run.sameRateThroughout && info.outputSamplingRate == run.firstOutputRate;
        run.enhancedFrames += info.sbrActive;
        ++run.frames;
    }
    run.velora = d->VeloraStream();
    return run;
}

// ---------------------------------------------------------------------------------------
// The encoder's streams

struct OperatingPoint {
    int inputRate;
    int inputChannels;
    uint32_t mode;
    int kbps;        // 0 with VBR
    int vbrQuality;  // 0 constant bit rate
    bool silent;     // digital silence instead of music
};

std::string Describe(const OperatingPoint& p) {
    static const char* const kModes[] = {"auto", "mono", "stereo", "lc", "dual"};
    char text[96];
    std::snprintf(text, sizeof(text), "%d Hz x%d %s %s %d%s", p.inputRate, p.inputChannels,
                  kModes[p.mode], p.vbrQuality > 0 ? "q" : "kbit/s",
                  p.vbrQuality > 0 ? p.vbrQuality : p.kbps, p.silent ? " silence" : "");
    return text;
}

TEST(velora_probe, EveryEncoderOperatingPointIsVeloraFromTheFirstFrame) {
    using enc::kChannelModeDualMono;
    using enc::kChannelModeLcStereo;
    using enc::kChannelModeMono;
    using enc::kChannelModeStereo;
    // Rows of `velora encode --list` with SBR: both output rates (32000 and 44100 Hz), every
    // mode, the ends of each mode's bit-rate range, and VBR.
    const OperatingPoint kPoints[] = {
        {44100, 1, kChannelModeMono, 24, 0, false},    {44100, 1, kChannelModeMono, 48, 0, false},
        {44100, 2, kChannelModeMono, 40, 0, false},    {44100, 2, kChannelModeStereo, 48, 0, false},
        {44100, 2, kChannelModeStereo, 64, 0, false},  {44100, 2, kChannelModeStereo, 128, 0, false},
        {44100, 2, kChannelModeStereo, 32, 0, false},  {44100, 2, kChannelModeLcStereo, 24, 0, false},
        {44100, 2, kChannelModeLcStereo, 48, 0, false}, {44100, 2, kChannelModeDualMono, 64, 0, false},
        {44100, 2, kChannelModeDualMono, 128, 0, false}, {48000, 2, kChannelModeStereo, 56, 0, false},
        {48000, 1, kChannelModeMono, 32, 0, false},    {32000, 1, kChannelModeMono, 24, 0, false},
        {32000, 2, kChannelModeStereo, 32, 0, false},  {32000, 2, kChannelModeStereo, 96, 0, false},
        {32000, 2, kChannelModeLcStereo, 40, 0, false}, {32000, 2, kChannelModeDualMono, 48, 0, false},
        {44100, 2, kChannelModeStereo, 0, 50, false},  {44100, 2, kChannelModeStereo, 0, 1, false},
        {44100, 2, kChannelModeDualMono, 0, 100, false}, {32000, 2, kChannelModeStereo, 0, 80, false},
        {32000, 2, kChannelModeDualMono, 0, 30, false},  {44100, 2, kChannelModeStereo, 64, 0, true},
        {44100, 1, kChannelModeMono, 32, 0, true},     {44100, 2, kChannelModeStereo, 0, 50, true},
    };
    for (const OperatingPoint& p : kPoints) {
        SCOPED_TRACE(Describe(p));
        enc::test::Handle h(enc::mp3EncOpen(p.inputRate, p.inputChannels, enc::kInputInt16));
        ASSERT_NE(h.h, nullptr);
        enc::EncoderOutputFormat format;
        format.channelMode = p.mode;
        format.sbrMode = enc::kSbrModeOn;
        format.bitrate = static_cast<uint32_t>(p.kbps * 1000);
        format.vbrQuality = static_cast<uint32_t>(p.vbrQuality);
        ASSERT_EQ(enc::mp3EncSetOutputFormat(h.h, &format), 1);
        std::vector<float> signal = enc::test::MusicSignal(p.inputRate, p.inputChannels, 1.0);
        if (p.silent) signal.assign(signal.size(), 0.0f);
        const enc::test::EncodedStream stream = enc::test::EncodeAll(h.h, enc::test::AsInt16Bytes(signal));
        ASSERT_TRUE(stream.ok);
        if (p.vbrQuality > 0) {
            // The VBRI header frame comes first; its tag sits 36 bytes into the frame.
            ASSERT_GT(stream.bytes.size(), 40u);
            EXPECT_EQ(std::string(stream.bytes.begin() + 36, stream.bytes.begin() + 40), "VBRI");
        }
        for (std::size_t chunk : {std::size_t{0}, std::size_t{97}}) {
            SCOPED_TRACE(chunk == 0 ? "fed whole" : "fed in small pieces");
            const ProbeRun run = DecodeStream(stream.bytes, chunk);
            EXPECT_TRUE(run.velora);
            ASSERT_GT(run.frames, 10);
            EXPECT_EQ(run.enhancedFrames, run.frames);
            EXPECT_EQ(run.firstOutputRate, 2 * run.codedRate);
            EXPECT_TRUE(run.sameRateThroughout);
        }
    }
}

// ---------------------------------------------------------------------------------------
// Plain streams

TEST(velora_probe, ConformanceStreamsArePlain) {
    const std::filesystem::path dir = std::filesystem::path(VELORA_SOURCE_DIR) / "Veloradec/tests/conformance";
    int streams = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".bit") continue;
        SCOPED_TRACE(entry.path().filename().string());
        const ProbeRun run = DecodeStream(test::ReadAll(entry.path()));
        EXPECT_FALSE(run.velora);
        EXPECT_EQ(run.enhancedFrames, 0);
        ++streams;
    }
    EXPECT_GT(streams, 10);
}

// Quiet signals leave lame most of each frame for its ancillary filler, whose bytes now and
// then begin like a payload: tones, a sweep and noise at a few LSB, with a dither from a
// fixed seed.
std::vector<int16_t> QuietSignal(int rate, int channels, int kind, double level, uint32_t seed) {
    const std::size_t frames = static_cast<std::size_t>(2.5 * rate);
    std::vector<int16_t> pcm(frames * static_cast<std::size_t>(channels));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-0.5, 0.5);
    const double pi = 3.14159265358979323846;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        for (int ch = 0; ch < channels; ++ch) {
            double v = 0.0;
            switch (kind) {
                case 0: v = std::sin(2 * pi * 440.0 * t + ch); break;
                case 1: v = std::sin(2 * pi * (100.0 + 0.2 * rate * t / 2.5) * t); break;
                case 2: v = std::fmod(330.0 * t, 1.0) < 0.5 ? 0.5 : -0.5; break;
                default: v = 2.0 * u(rng); break;
            }
            const double sample = level * v + u(rng) + u(rng);
            pcm[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(ch)] =
                static_cast<int16_t>(std::lround(std::clamp(sample, -32768.0, 32767.0)));
        }
    }
    return pcm;
}

TEST(velora_probe, PlainLowRateLameStreamsArePlain) {
    const std::string lame = test::FindTool("lame");
    if (lame.empty()) GTEST_SKIP() << "lame is not on PATH";
    test::ScratchDir dir("velora-probe");
    ASSERT_TRUE(dir.Ok());
    constexpr int kRates[] = {8000, 11025, 12000, 16000, 22050, 24000};
    constexpr int kKbps[] = {80, 96, 112, 128, 144, 160, 8, 32, 64};
    int files = 0;
    for (int i = 0; i < 36; ++i) {
        const int rate = kRates[i % 6];
        const int channels = 1 + (i / 6) % 2;
        const bool vbr = i % 3 == 2;
        char rateControl[32];
        if (vbr)
            std::snprintf(rateControl, sizeof(rateControl), "-V %d", (i * 7) % 10);
        else
            std::snprintf(rateControl, sizeof(rateControl), "--cbr -b %d", kKbps[(i * 5) % 9]);
        const double level = 4.0 + 7.0 * (i % 5);
        char name[16];
        std::snprintf(name, sizeof(name), "plain%d", i);
        char trace[96];
        std::snprintf(trace, sizeof(trace), "%s: %d Hz x%d %s", name, rate, channels, rateControl);
        SCOPED_TRACE(trace);
        const std::vector<int16_t> pcm = QuietSignal(rate, channels, i % 4, level, 1000u + static_cast<uint32_t>(i));
        const std::filesystem::path wav = dir / (std::string(name) + ".wav");
        const std::filesystem::path mp3 = dir / (std::string(name) + ".mp3");
        ASSERT_TRUE(test::WriteWave(wav, pcm, channels, rate));
        ASSERT_TRUE(test::RunTool(test::ShellQuoted(lame) + " --quiet -t " + std::string(rateControl) +
                                  (channels == 1 ? " -m m " : " -m j ") + test::ShellQuoted(wav.string()) +
                                  " " + test::ShellQuoted(mp3.string())));
        const ProbeRun run = DecodeStream(test::ReadAll(mp3));
        ASSERT_GT(run.frames, 10);
        EXPECT_FALSE(run.velora);
        EXPECT_EQ(run.enhancedFrames, 0);
        EXPECT_EQ(run.firstOutputRate, run.codedRate);
        ++files;
    }
    EXPECT_EQ(files, 36);
}

}  // namespace
}  // namespace velora

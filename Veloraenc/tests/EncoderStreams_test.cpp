// Whole streams through the seven calls: each operating point decoded by this project's
// decoder (SBR active where it should be, rate, length) and by mpg123 and ffmpeg; VBR
// streams read back through their VBRI header by the stream analysis and by ffprobe; the
// flush; the delay the header reports against the delay a click shows; and the SBR
// payloads, which must reach the decoder bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "BitstreamTestSupport.h"
#include "DecodeHelpers.h"
#include "EncoderApi.h"
#include "EncoderInstance.h"
#include "EncoderTestSupport.h"
#include "MpegHeader.h"
#include "StreamInfo.h"

namespace velora::enc {
namespace {

using test::Handle;

struct Point {
    const char* name;
    int inputRate;
    int inputChannels;
    int inputFormat;
    uint32_t channelMode;  // 0: as Open chose
    uint32_t sbrMode;
    uint32_t vbrQuality;
    uint32_t kbps;          // the bit rate asked (with VBR it steers the selection; 0: none)
    bool extendedTables;    // the tests' own tables (LC Stereo at 64000 bit/s)
    // Expected.
    bool sbr;
    int codedChannels;
    int coreRate;
    double minCorrelation;  // of the decoded low band with the input at the reported delay
};

// The handle configured for the point, as the encode job does it.
Mp3EncHandle OpenPoint(const Point& p, const test::ExtendedTables& extended) {
    Mp3EncHandle h = p.extendedTables ? OpenWithTables(p.inputRate, p.inputChannels, p.inputFormat, extended.tables)
                                      : mp3EncOpen(p.inputRate, p.inputChannels, p.inputFormat);
    if (h == nullptr) return nullptr;
    EncoderOutputFormat f;
    f.channelMode = p.channelMode;
    f.sbrMode = p.sbrMode;
    f.bitrate = p.kbps * 1000;
    f.vbrQuality = p.vbrQuality;
    if (mp3EncSetOutputFormat(h, &f) != 1) {
        mp3EncClose(h);
        return nullptr;
    }
    return h;
}

// Frame starts and lengths, walking the headers from offset 0.
struct FrameWalk {
    std::vector<size_t> starts;
    std::vector<MpegHeader> headers;
    bool complete = false;  // the walk ended exactly at the end of the bytes
};

FrameWalk WalkFrames(const std::vector<uint8_t>& bytes) {
    FrameWalk w;
    size_t at = 0;
    while (at + 4 <= bytes.size()) {
        MpegHeader h;
        const uint32_t word = uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
                              uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
        if (!h.Parse(word)) break;
        w.starts.push_back(at);
        w.headers.push_back(h);
        at += static_cast<size_t>(h.frameBits / 8);
    }
    w.complete = at == bytes.size();
    return w;
}

// One channel of every decoded frame, frame by frame (the first, or with `mix` the mean of
// two): a Velora stream may change its channel count after its first frame (a VBR header
// frame before the header that turns a single core channel into stereo).
std::vector<int16_t> OneChannel(const velora::test::Decoded& d, bool mix = false) {
    std::vector<int16_t> out;
    size_t at = 0;
    for (const FrameInfo& info : d.infos) {
        const size_t frames = static_cast<size_t>(std::lround(static_cast<double>(info.frameDurationMs) * info.outputSamplingRate / 1000.0));
        const size_t channels = static_cast<size_t>(info.outputChannels);
        for (size_t n = 0; n < frames && at + channels <= d.pcm.size(); ++n, at += channels) {
            const int v = mix && channels == 2 ? (d.pcm[at] + d.pcm[at + 1]) / 2 : d.pcm[at];
            out.push_back(static_cast<int16_t>(v));
        }
    }
    return out;
}

// Correlation of one decoded channel with the input's channel 0 moved by `delay` output
// samples, over the output rate's view of the input. With one coded channel both sides are
// mono mixes (LC Stereo rebuilds its two channels from one).
double Correlation(const std::vector<float>& input, int inputChannels, int inputRate, bool mono,
                   const std::vector<int16_t>& decoded, int outputRate, int delay) {
    double xy = 0.0;
    double xx = 0.0;
    double yy = 0.0;
    const size_t inputFrames = input.size() / static_cast<size_t>(inputChannels);
    for (size_t n = static_cast<size_t>(delay); n < decoded.size(); ++n) {
        // Nearest input sample (the rates may differ); enough for a correlation.
        const size_t k = static_cast<size_t>(static_cast<double>(n - static_cast<size_t>(delay)) * inputRate / outputRate);
        if (k >= inputFrames) break;
        double x = static_cast<double>(input[k * static_cast<size_t>(inputChannels)]);
        if (mono && inputChannels == 2) x = 0.5 * (x + static_cast<double>(input[k * 2 + 1]));
        const double y = decoded[n];
        xy += x * y;
        xx += x * x;
        yy += y * y;
    }
    return xy / std::sqrt(std::max(xx * yy, 1e-9));
}

class veloraenc_Streams : public ::testing::TestWithParam<Point> {};

TEST_P(veloraenc_Streams, DecodeHereAndInPeers) {
    const Point& p = GetParam();
    test::ExtendedTables extended;
    Handle e(OpenPoint(p, extended));
    ASSERT_NE(e.h, nullptr) << "the operating point was refused";
    EXPECT_EQ(e.h->pipeline.SbrActive(), p.sbr);
    EXPECT_EQ(e.h->pipeline.CodedChannels(), p.codedChannels);
    const int outputRate = static_cast<int>(e.h->format.sampleRate);
    const int delay = e.h->pipeline.DelaySamples();

    const double seconds = 1.0;
    const std::vector<float> pcm = test::MusicSignal(p.inputRate, p.inputChannels, seconds);
    const std::vector<uint8_t> input = p.inputFormat == kInputInt16 ? test::AsInt16Bytes(pcm) : test::AsFloatBytes(pcm);
    const test::EncodedStream s = test::EncodeAll(e.h, input);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.vbrHeaderBytes > 0, p.vbrQuality != 0);

    // Whole frames only, each at the core rate with the coded channels.
    const FrameWalk walk = WalkFrames(s.bytes);
    ASSERT_TRUE(walk.complete);
    ASSERT_GT(walk.headers.size(), 10u);
    for (const MpegHeader& h : walk.headers) {
        ASSERT_EQ(h.samplingRate, p.coreRate);
        ASSERT_EQ(h.channels, p.codedChannels);
        if (p.vbrQuality == 0) {
            ASSERT_EQ(h.bitrate, static_cast<int>(p.kbps * 1000));
        }
    }
    if (p.vbrQuality == 0) {
        // The mean over the frames (padding included) is the rate asked.
        const double frameSeconds = (p.coreRate >= 32000 ? 1152.0 : 576.0) / p.coreRate;
        const double mean = 8.0 * static_cast<double>(s.bytes.size()) /
                            (frameSeconds * static_cast<double>(walk.headers.size()));
        EXPECT_NEAR(mean, p.kbps * 1000.0, p.kbps * 10.0);
    }

    const velora::test::Decoded d = velora::test::DecodeAll(s.bytes);
    EXPECT_EQ(d.last, kSscSyncEof);
    ASSERT_FALSE(d.infos.empty());
    const FrameInfo& info = d.infos.back();
    EXPECT_EQ(info.outputSamplingRate, p.sbr ? 2 * p.coreRate : p.coreRate);
    EXPECT_EQ(outputRate, p.sbr ? 2 * p.coreRate : p.coreRate);
    EXPECT_EQ(info.sbrActive != 0, p.sbr);
    const int outputChannels = info.outputChannels;
    EXPECT_EQ(outputChannels, p.sbr && p.inputChannels == 2 ? 2 : p.codedChannels);
    for (const Mp3Ssc status : d.statuses) EXPECT_FALSE(SscIsError(status)) << std::hex << status;

    // The flush brought out the whole input and the delay.
    const size_t decodedFrames = d.pcm.size() / static_cast<size_t>(outputChannels);
    const size_t headerSamples = p.vbrQuality != 0 ? static_cast<size_t>(p.sbr ? 1152 : 576) : 0;
    const size_t inputFrames = pcm.size() / static_cast<size_t>(p.inputChannels);
    const size_t needed = static_cast<size_t>(std::ceil(static_cast<double>(inputFrames) * outputRate / p.inputRate)) +
                          static_cast<size_t>(delay) + headerSamples;
    EXPECT_GE(decodedFrames, needed);
    EXPECT_LT(decodedFrames, needed + 2 * 1152u);

    // The coded low band follows the input at the reported delay.
    const bool mono = p.codedChannels == 1;
    const double c = Correlation(pcm, p.inputChannels, p.inputRate, mono, OneChannel(d, mono), outputRate,
                                 delay + static_cast<int>(headerSamples));
    // A wrong delay brings this near 0; the lowest VBR qualities and the rebuilt high band
    // (a waveform of its own) keep it below 1.
    EXPECT_GT(c, p.minCorrelation) << "decoded against input at the reported delay";

    const std::string path = test::TempPath(std::string("veloraenc_") + p.name + ".mp3");
    ASSERT_TRUE(test::WriteFile(path, s.bytes));
    std::string output;
    if (test::ToolAvailable("ffmpeg")) {
        EXPECT_EQ(test::RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null -", output), 0);
        EXPECT_EQ(output, "") << "ffmpeg: " << output;
    }
    if (test::ToolAvailable("mpg123")) {
        EXPECT_EQ(test::RunCommand("mpg123 -q -t '" + path + "'", output), 0);
        EXPECT_EQ(output, "") << "mpg123: " << output;
    }
    if (test::ToolAvailable("ffprobe")) {
        test::RunCommand("ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,channels -of "
                         "default=nw=1 '" + path + "'", output);
        EXPECT_NE(output.find("sample_rate=" + std::to_string(p.coreRate)), std::string::npos) << output;
        EXPECT_NE(output.find("channels=" + std::to_string(p.codedChannels)), std::string::npos) << output;
        if (p.vbrQuality == 0) {
            test::RunCommand("ffprobe -v error -show_entries format=bit_rate -of csv=p=0 '" + path + "'", output);
            EXPECT_NEAR(std::atof(output.c_str()), p.kbps * 1000.0, p.kbps * 10.0) << output;
        }
    }
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Points, veloraenc_Streams,
    ::testing::Values(
        // The point the encoder started with, through each input path.
        Point{"stereo_44k_int16", 44100, 2, kInputInt16, 0, 0, 0, 64, false, true, 2, 22050, 0.8},
        Point{"stereo_48k_int16", 48000, 2, kInputInt16, 0, 0, 0, 64, false, true, 2, 22050, 0.8},
        Point{"stereo_44k_float", 44100, 2, kInputFloat32, 0, 0, 0, 64, false, true, 2, 22050, 0.8},
        Point{"stereo_48k_float", 48000, 2, kInputFloat32, 0, 0, 0, 64, false, true, 2, 22050, 0.8},
        Point{"dualmono_44k", 44100, 2, kInputInt16, kChannelModeDualMono, 0, 0, 64, false, true, 2, 22050, 0.8},
        Point{"lcstereo_44k_64_own_rows", 44100, 2, kInputInt16, kChannelModeLcStereo, 0, 0, 64, true, true, 1, 22050, 0.8},
        Point{"sbr_off_44k", 44100, 2, kInputInt16, 0, kSbrModeOff, 0, 64, false, false, 2, 22050, 0.8},
        Point{"sbr_off_48k", 48000, 2, kInputInt16, 0, kSbrModeOff, 0, 64, false, false, 2, 22050, 0.8},
        Point{"stereo_32k", 32000, 2, kInputInt16, 0, 0, 0, 64, false, true, 2, 16000, 0.8},
        Point{"stereo_22k", 22050, 2, kInputInt16, 0, 0, 0, 64, false, false, 2, 22050, 0.8},
        // SBR, two coded channels.
        Point{"sbr_stereo_44k_48", 44100, 2, kInputInt16, kChannelModeStereo, 0, 0, 48, false, true, 2, 22050, 0.8},
        Point{"sbr_stereo_44k_80", 44100, 2, kInputInt16, kChannelModeStereo, 0, 0, 80, false, true, 2, 22050, 0.8},
        Point{"sbr_stereo_44k_96", 44100, 2, kInputInt16, kChannelModeStereo, 0, 0, 96, false, true, 2, 22050, 0.8},
        Point{"sbr_stereo_44k_112", 44100, 2, kInputInt16, kChannelModeStereo, 0, 0, 112, false, true, 2, 22050, 0.8},
        Point{"sbr_stereo_44k_128", 44100, 2, kInputInt16, kChannelModeStereo, 0, 0, 128, false, true, 2, 22050, 0.8},
        Point{"sbr_stereo_48k_48", 48000, 2, kInputInt16, kChannelModeStereo, 0, 0, 48, false, true, 2, 22050, 0.8},
        Point{"sbr_stereo_48k_128", 48000, 2, kInputInt16, kChannelModeStereo, 0, 0, 128, false, true, 2, 22050, 0.8},
        Point{"sbr_dualmono_44k_96", 44100, 2, kInputInt16, kChannelModeDualMono, 0, 0, 96, false, true, 2, 22050, 0.8},
        // SBR, one coded channel.
        Point{"sbr_mono_44k_24", 44100, 1, kInputInt16, 0, 0, 0, 24, false, true, 1, 22050, 0.8},
        Point{"sbr_mono_44k_32", 44100, 1, kInputInt16, 0, 0, 0, 32, false, true, 1, 22050, 0.8},
        Point{"sbr_mono_44k_40", 44100, 1, kInputInt16, 0, 0, 0, 40, false, true, 1, 22050, 0.8},
        Point{"sbr_mono_44k_48", 44100, 1, kInputFloat32, 0, 0, 0, 48, false, true, 1, 22050, 0.8},
        Point{"sbr_mono_48k_32", 48000, 1, kInputInt16, 0, 0, 0, 32, false, true, 1, 22050, 0.8},
        Point{"sbr_lc_44k_24", 44100, 2, kInputInt16, 0, 0, 0, 24, false, true, 1, 22050, 0.8},
        Point{"sbr_lc_44k_32", 44100, 2, kInputInt16, 0, 0, 0, 32, false, true, 1, 22050, 0.8},
        Point{"sbr_lc_44k_40", 44100, 2, kInputInt16, kChannelModeLcStereo, 0, 0, 40, false, true, 1, 22050, 0.8},
        Point{"sbr_lc_44k_48", 44100, 2, kInputInt16, kChannelModeLcStereo, 0, 0, 48, false, true, 1, 22050, 0.8},
        Point{"sbr_lc_48k_32", 48000, 2, kInputFloat32, 0, 0, 0, 32, false, true, 1, 22050, 0.8},
        // SBR over a 16000 Hz core: 32000 Hz input, and two channels below 48000 bit/s.
        Point{"sbr_stereo_32k_32", 32000, 2, kInputInt16, kChannelModeStereo, 0, 0, 32, false, true, 2, 16000, 0.8},
        Point{"sbr_stereo_32k_40", 32000, 2, kInputInt16, kChannelModeStereo, 0, 0, 40, false, true, 2, 16000, 0.8},
        Point{"sbr_stereo_32k_48", 32000, 2, kInputInt16, kChannelModeStereo, 0, 0, 48, false, true, 2, 16000, 0.8},
        Point{"sbr_stereo_32k_56", 32000, 2, kInputInt16, kChannelModeStereo, 0, 0, 56, false, true, 2, 16000, 0.8},
        Point{"sbr_mono_32k_24", 32000, 1, kInputInt16, 0, 0, 0, 24, false, true, 1, 16000, 0.8},
        Point{"sbr_mono_32k_32", 32000, 1, kInputInt16, 0, 0, 0, 32, false, true, 1, 16000, 0.8},
        Point{"sbr_mono_32k_40", 32000, 1, kInputInt16, 0, 0, 0, 40, false, true, 1, 16000, 0.8},
        Point{"sbr_mono_32k_48", 32000, 1, kInputInt16, 0, 0, 0, 48, false, true, 1, 16000, 0.8},
        Point{"sbr_lc_32k_32", 32000, 2, kInputInt16, 0, 0, 0, 32, false, true, 1, 16000, 0.8},
        Point{"sbr_stereo_44k_40", 44100, 2, kInputInt16, kChannelModeStereo, 0, 0, 40, false, true, 2, 16000, 0.8},
        // Without SBR: each standard bit rate once, MPEG-1, 2 and 2.5 cores.
        Point{"core_stereo_44k_8", 44100, 2, kInputInt16, kChannelModeStereo, kSbrModeOff, 0, 8, false, false, 2, 8000, 0.5},
        Point{"core_stereo_44k_16", 44100, 2, kInputInt16, kChannelModeStereo, kSbrModeOff, 0, 16, false, false, 2, 8000, 0.6},
        Point{"core_mono_44k_24", 44100, 1, kInputInt16, 0, kSbrModeOff, 0, 24, false, false, 1, 16000, 0.6},
        Point{"core_stereo_44k_32", 44100, 2, kInputInt16, kChannelModeStereo, kSbrModeOff, 0, 32, false, false, 2, 16000, 0.7},
        Point{"core_mono_48k_40", 48000, 1, kInputInt16, 0, kSbrModeOff, 0, 40, false, false, 1, 24000, 0.8},
        Point{"core_mono_44k_56", 44100, 1, kInputInt16, 0, kSbrModeOff, 0, 56, false, false, 1, 32000, 0.8},
        Point{"core_stereo_48k_80", 48000, 2, kInputInt16, kChannelModeStereo, kSbrModeOff, 0, 80, false, false, 2, 32000, 0.8},
        Point{"core_stereo_44k_96", 44100, 2, kInputInt16, kChannelModeStereo, kSbrModeOff, 0, 96, false, false, 2, 32000, 0.8},
        Point{"core_stereo_48k_128", 48000, 2, kInputInt16, kChannelModeStereo, kSbrModeOff, 0, 128, false, false, 2, 48000, 0.8},
        Point{"core_stereo_44k_144", 44100, 2, kInputInt16, kChannelModeStereo, 0, 0, 144, false, false, 2, 22050, 0.8},
        Point{"core_stereo_32k_160", 32000, 2, kInputInt16, kChannelModeStereo, 0, 0, 160, false, false, 2, 32000, 0.8},
        Point{"core_stereo_48k_224", 48000, 2, kInputInt16, kChannelModeStereo, 0, 0, 224, false, false, 2, 48000, 0.8},
        Point{"core_mono_8k_8", 8000, 1, kInputInt16, 0, 0, 0, 8, false, false, 1, 8000, 0.5},
        Point{"core_mono_12k_16", 12000, 1, kInputInt16, 0, 0, 0, 16, false, false, 1, 12000, 0.6},
        Point{"core_mono_11k_64", 11025, 1, kInputInt16, 0, 0, 0, 64, false, false, 1, 11025, 0.8},
        Point{"core_stereo_24k_48", 24000, 2, kInputInt16, 0, 0, 0, 48, false, false, 2, 22050, 0.8},
        Point{"core_mono_16k_144", 16000, 1, kInputInt16, 0, 0, 0, 144, false, false, 1, 16000, 0.8},
        // VBR with SBR over the quality range, and without SBR.
        Point{"vbr_q1", 44100, 2, kInputInt16, 0, 0, 1, 64, false, true, 2, 22050, 0.8},
        Point{"vbr_q35", 44100, 2, kInputInt16, 0, 0, 35, 64, false, true, 2, 22050, 0.8},
        Point{"vbr_q40", 44100, 2, kInputInt16, 0, 0, 40, 64, false, true, 2, 22050, 0.8},
        Point{"vbr_q50", 44100, 2, kInputInt16, 0, 0, 50, 64, false, true, 2, 22050, 0.8},
        Point{"vbr_q59_float", 44100, 2, kInputFloat32, 0, 0, 59, 64, false, true, 2, 22050, 0.8},
        Point{"vbr_q70_48k", 48000, 2, kInputInt16, 0, 0, 70, 64, false, true, 2, 22050, 0.8},
        Point{"vbr_q100", 44100, 2, kInputInt16, 0, 0, 100, 64, false, true, 2, 22050, 0.8},
        Point{"vbr_mono_q20", 44100, 1, kInputInt16, 0, 0, 20, 32, false, true, 1, 22050, 0.8},
        Point{"vbr_mono_32k_q35", 32000, 1, kInputInt16, kChannelModeMono, kSbrModeOn, 35, 0, false, true, 1, 16000, 0.8},
        Point{"vbr_stereo_32k_q90", 32000, 2, kInputInt16, 0, 0, 90, 64, false, true, 2, 16000, 0.8},
        Point{"vbr_core_22k_q60", 22050, 2, kInputInt16, 0, 0, 60, 64, false, false, 2, 22050, 0.8},
        // A 44100 Hz MPEG-1 core (its frames hold two granules: the flush must complete the
        // last one), SBR with a lower crossover, LC Stereo VBR (one channel until the header).
        Point{"mono_input_44k", 44100, 1, kInputInt16, 0, 0, 0, 64, false, false, 1, 44100, 0.8},
        Point{"sbr_stereo_44k_56", 44100, 2, kInputInt16, kChannelModeStereo, 0, 0, 56, false, true, 2, 22050, 0.8},
        Point{"core_stereo_44k_112", 44100, 2, kInputInt16, kChannelModeStereo, kSbrModeOff, 0, 112, false, false, 2, 44100, 0.8},
        Point{"core_stereo_44k_192", 44100, 2, kInputInt16, kChannelModeStereo, 0, 0, 192, false, false, 2, 44100, 0.8},
        Point{"core_mono_44k_256", 44100, 1, kInputInt16, 0, 0, 0, 256, false, false, 1, 44100, 0.8},
        Point{"core_stereo_44k_320", 44100, 2, kInputFloat32, kChannelModeStereo, 0, 0, 320, false, false, 2, 44100, 0.8},
        Point{"vbr_lc_q80", 44100, 2, kInputInt16, kChannelModeLcStereo, 0, 80, 0, false, true, 1, 22050, 0.8}),
    [](const ::testing::TestParamInfo<Point>& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------
// VBR header

struct VbrCase {
    const char* name;
    int inputRate;
    uint32_t sbrMode;
    uint32_t quality;
    double seconds;
};

class veloraenc_VbrHeader : public ::testing::TestWithParam<VbrCase> {};

TEST_P(veloraenc_VbrHeader, ReadBackByStreamInfoAndFfprobe) {
    const VbrCase& v = GetParam();
    Handle e(mp3EncOpen(v.inputRate, 2, kInputInt16));
    ASSERT_NE(e.h, nullptr);
    EncoderOutputFormat f;
    f.sbrMode = v.sbrMode;
    f.sampleRate = v.sbrMode == kSbrModeOff ? 22050 : 0;
    f.vbrQuality = v.quality;
    ASSERT_EQ(mp3EncSetOutputFormat(e.h, &f), 1);
    const test::EncodedStream s = test::EncodeAll(e.h, test::AsInt16Bytes(test::MusicSignal(v.inputRate, 2, v.seconds)));
    ASSERT_TRUE(s.ok);
    ASSERT_GT(s.vbrHeaderBytes, 0);

    const FrameWalk walk = WalkFrames(s.bytes);
    ASSERT_TRUE(walk.complete);
    const size_t audioFrames = walk.starts.size() - 1;
    std::set<int> bitrates;
    for (size_t i = 1; i < walk.headers.size(); ++i) bitrates.insert(walk.headers[i].bitrate);
    EXPECT_GT(bitrates.size(), 1u) << "VBR uses more than one bit rate";

    StreamInfo info;
    info.Init();
    const int block = static_cast<int>(std::min<size_t>(4096, s.bytes.size()));
    ASSERT_EQ(info.Analyse(s.bytes.data(), block, static_cast<uint32_t>(s.bytes.size())), 1);
    EXPECT_EQ(info.vbrHeader, 1);
    EXPECT_EQ(info.seekTable, 1);
    EXPECT_EQ(info.vbri.frames, audioFrames + 1);
    EXPECT_EQ(info.vbri.bytes, s.bytes.size());
    EXPECT_EQ(info.vbri.quality, v.quality);
    EXPECT_EQ(info.vbri.delay, e.h->pipeline.DelaySamples() + (v.sbrMode == kSbrModeOff ? 576 : 1152));
    const double frameMs = 576.0 * 1000.0 / 22050.0;
    EXPECT_NEAR(info.durationMs, static_cast<double>(audioFrames + 1) * frameMs, frameMs);
    EXPECT_EQ(info.velora != 0, v.sbrMode != kSbrModeOff);
    // Every table position is a frame start.
    const std::set<size_t> starts(walk.starts.begin(), walk.starts.end());
    ASSERT_GT(info.vbri.tocEntries, 0);
    for (int i = 0; i <= info.vbri.tocEntries; ++i)
        EXPECT_EQ(starts.count(info.vbri.table[i]), 1u) << "TOC entry " << i << " at " << info.vbri.table[i];

    if (test::ToolAvailable("ffprobe")) {
        const std::string path = test::TempPath(std::string("veloraenc_vbr_") + v.name + ".mp3");
        ASSERT_TRUE(test::WriteFile(path, s.bytes));
        std::string output;
        test::RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "'", output);
        const double audioSeconds = static_cast<double>(audioFrames) * 576.0 / 22050.0;
        EXPECT_NEAR(std::atof(output.c_str()), audioSeconds, 576.0 / 22050.0) << output;
        std::remove(path.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Qualities, veloraenc_VbrHeader,
                         ::testing::Values(VbrCase{"sbr_q40", 44100, kSbrModeOn, 40, 3.0},
                                           VbrCase{"sbr_q59", 44100, kSbrModeOn, 59, 3.0},
                                           // Long enough for the table to double (over 200 frames).
                                           VbrCase{"sbr_q50_long", 44100, kSbrModeOn, 50, 12.0},
                                           VbrCase{"core_q70", 44100, kSbrModeOff, 70, 3.0}),
                         [](const ::testing::TestParamInfo<VbrCase>& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------
// Flush

TEST(veloraenc_Flush, EmitsEverythingAndThenNothing) {
    for (int inputRate : {44100, 48000, 32000}) {
        for (size_t samples : {size_t{0}, size_t{1}, size_t{1151}, size_t{1152}, size_t{5000}}) {
            Handle e(mp3EncOpen(inputRate, 2, kInputInt16));
            ASSERT_NE(e.h, nullptr);
            std::vector<uint8_t> in = test::AsInt16Bytes(test::MusicSignal(inputRate, 2, 1.0));
            in.resize(samples * 4);
            const test::EncodedStream s = test::EncodeAll(e.h, in);
            ASSERT_TRUE(s.ok) << inputRate << " " << samples;
            const velora::test::Decoded d = velora::test::DecodeAll(s.bytes);
            const int outputRate = static_cast<int>(e.h->format.sampleRate);
            const size_t channels = d.infos.empty() ? 2 : static_cast<size_t>(d.infos.back().outputChannels);
            const double needed = std::ceil(static_cast<double>(samples) * outputRate / inputRate) +
                                  e.h->pipeline.DelaySamples();
            EXPECT_GE(static_cast<double>(d.pcm.size() / channels), needed) << inputRate << " " << samples;
            // Finished: further calls give nothing.
            std::vector<uint8_t> out(kEncodeOutputBytes);
            int consumed = 0;
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(VeloraencEncodeFrame(e.h, nullptr, 0, &consumed, out.data(), kEncodeOutputBytes, 0, 0), 0);
            EXPECT_TRUE(e.h->pipeline.Finished());
        }
    }
}

TEST(veloraenc_Flush, SmallOutputBuffersLoseNothing) {
    // At the smallest accepted buffer the frames that do not fit wait for the next call.
    Handle a(mp3EncOpen(44100, 2, kInputInt16));
    Handle b(mp3EncOpen(44100, 2, kInputInt16));
    ASSERT_NE(a.h, nullptr);
    ASSERT_NE(b.h, nullptr);
    const std::vector<uint8_t> in = test::AsInt16Bytes(test::MusicSignal(44100, 2, 1.0));
    const test::EncodedStream reference = test::EncodeAll(a.h, in);
    ASSERT_TRUE(reference.ok);
    const int small = b.h->pipeline.MinOutputBytes();
    std::vector<uint8_t> out(static_cast<size_t>(small));
    std::vector<uint8_t> stream;
    size_t at = 0;
    int consumed = 0;
    while (at < in.size()) {
        const int n = VeloraencEncodeFrame(b.h, in.data() + at, static_cast<int>(std::min<size_t>(in.size() - at, 8192)),
                                           &consumed, out.data(), small, 0, 0);
        ASSERT_GE(n, 0);
        at += static_cast<size_t>(consumed);
        stream.insert(stream.end(), out.begin(), out.begin() + n);
    }
    for (int n = 1; n > 0;) {
        n = VeloraencEncodeFrame(b.h, nullptr, 0, &consumed, out.data(), small, 0, 0);
        ASSERT_GE(n, 0);
        stream.insert(stream.end(), out.begin(), out.begin() + n);
    }
    EXPECT_EQ(stream, reference.bytes);
}

TEST(veloraenc_Flush, SilenceInEveryMode) {
    // Digital silence gives the smallest frames there are; every mode must still code it.
    struct Mode {
        uint32_t rate;
        uint32_t sbr;
        uint32_t bitrate;
        uint32_t quality;
    };
    for (const Mode& m : {Mode{0, 0, 64000, 0}, Mode{0, kSbrModeOff, 64000, 0}, Mode{0, 0, 0, 50},
                          Mode{22050, kSbrModeOff, 0, 60}}) {
        Handle e(mp3EncOpen(44100, 2, kInputInt16));
        ASSERT_NE(e.h, nullptr);
        EncoderOutputFormat f;
        f.sampleRate = m.rate;
        f.sbrMode = m.sbr;
        f.bitrate = m.bitrate;
        f.vbrQuality = m.quality;
        ASSERT_EQ(mp3EncSetOutputFormat(e.h, &f), 1);
        const test::EncodedStream s = test::EncodeAll(e.h, std::vector<uint8_t>(44100 * 4 * 2, 0));
        EXPECT_TRUE(s.ok) << "rate " << m.rate << " SBR " << m.sbr << " quality " << m.quality;
    }
}

// ---------------------------------------------------------------------------------------
// SBR payloads

void CollectPayload(void* context, const sbr::SbrExchange& exchange) {
    auto* payloads = static_cast<std::vector<std::vector<uint8_t>>*>(context);
    const int bytes = (std::clamp(exchange.bits, 0, 8 * sbr::kSbrBitBufferBytes) + 7) / 8;
    payloads->emplace_back(exchange.buffer, exchange.buffer + bytes);
}

struct PayloadCase {
    const char* name;
    uint32_t channelMode;
    bool extendedTables;
    uint32_t quality;
};

class veloraenc_SbrPayload : public ::testing::TestWithParam<PayloadCase> {};

TEST_P(veloraenc_SbrPayload, DecoderSeesWhatTheSbrEncoderWrote) {
    const PayloadCase& c = GetParam();
    test::ExtendedTables extended;
    Handle e(c.extendedTables ? OpenWithTables(44100, 2, kInputInt16, extended.tables) : mp3EncOpen(44100, 2, kInputInt16));
    ASSERT_NE(e.h, nullptr);
    EncoderOutputFormat f;
    f.channelMode = c.channelMode;
    f.bitrate = 64000;
    f.vbrQuality = c.quality;
    ASSERT_EQ(mp3EncSetOutputFormat(e.h, &f), 1);
    ASSERT_TRUE(e.h->pipeline.SbrActive());
    std::vector<std::vector<uint8_t>> written;
    e.h->pipeline.SetPayloadHook(CollectPayload, &written);
    const test::EncodedStream s = test::EncodeAll(e.h, test::AsInt16Bytes(test::MusicSignal(44100, 2, 2.0)));
    ASSERT_TRUE(s.ok);
    std::vector<uint8_t> audio(s.bytes.begin() + s.vbrHeaderBytes, s.bytes.end());
    const std::vector<test::CoreFrame> frames = test::DecodeCore(audio);
    ASSERT_EQ(frames.size(), written.size());
    int headers = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_FALSE(written[i].empty()) << "frame " << i << " has no payload";
        EXPECT_EQ(frames[i].sbr, written[i]) << "frame " << i;
        // The marker: header flag, and one core channel for LC Stereo.
        EXPECT_EQ(written[i][0] & 0x10u, c.channelMode == kChannelModeLcStereo ? 0x10u : 0u) << i;
        if ((written[i][0] & 0x20u) != 0) ++headers;
    }
    // A header about every 38 frames at 44100 Hz, and in the first.
    EXPECT_NE(written[0][0] & 0x20u, 0u);
    EXPECT_GE(headers, static_cast<int>(frames.size() / 38));

    // And the decoder runs the enhancement on every frame.
    const velora::test::Decoded d = velora::test::DecodeAll(s.bytes);
    ASSERT_FALSE(d.infos.empty());
    for (const FrameInfo& info : d.infos) {
        ASSERT_EQ(info.sbrActive, 1);
        ASSERT_EQ(info.outputSamplingRate, 44100);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, veloraenc_SbrPayload,
                         ::testing::Values(PayloadCase{"stereo", kChannelModeStereo, false, 0},
                                           PayloadCase{"dual_mono", kChannelModeDualMono, false, 0},
                                           PayloadCase{"lc_stereo", kChannelModeLcStereo, true, 0},
                                           PayloadCase{"stereo_vbr", kChannelModeStereo, false, 50}),
                         [](const ::testing::TestParamInfo<PayloadCase>& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------
// Delay

// A band-limited click (well inside the core band) at `at` over a quiet noise floor.
std::vector<float> Click(int rate, int channels, double seconds, size_t at) {
    std::vector<float> pcm(static_cast<size_t>(seconds * rate) * static_cast<size_t>(channels), 0.0f);
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 30.0);
    for (float& v : pcm) v = static_cast<float>(noise(rng));
    const double cutoff = 2500.0 / rate;
    for (int k = -64; k <= 64; ++k) {
        const double x = 2 * test::kTestPi * cutoff * k;
        const double sinc = k == 0 ? 1.0 : std::sin(x) / x;
        const double window = 0.5 + 0.5 * std::cos(test::kTestPi * k / 65.0);
        for (int ch = 0; ch < channels; ++ch)
            pcm[(at + static_cast<size_t>(k)) * static_cast<size_t>(channels) + static_cast<size_t>(ch)] =
                static_cast<float>(20000.0 * sinc * window);
    }
    return pcm;
}

struct DelayCase {
    const char* name;
    int inputRate;
    uint32_t sbrMode;
    uint32_t quality;
    uint32_t bitrate = 64000;  // with quality 0
    uint32_t channelMode = 0;
};

class veloraenc_Delay : public ::testing::TestWithParam<DelayCase> {};

TEST_P(veloraenc_Delay, ReportedAgreesWithMeasured) {
    const DelayCase& c = GetParam();
    Handle e(mp3EncOpen(c.inputRate, 2, kInputInt16));
    ASSERT_NE(e.h, nullptr);
    EncoderOutputFormat f;
    f.sbrMode = c.sbrMode;
    f.channelMode = c.channelMode;
    f.bitrate = c.quality == 0 ? c.bitrate : 0;
    f.sampleRate = c.quality != 0 && c.sbrMode == kSbrModeOff ? 22050 : 0;
    f.vbrQuality = c.quality;
    ASSERT_EQ(mp3EncSetOutputFormat(e.h, &f), 1);
    const size_t at = static_cast<size_t>(c.inputRate / 2);
    const test::EncodedStream s = test::EncodeAll(e.h, test::AsInt16Bytes(Click(c.inputRate, 2, 1.5, at)));
    ASSERT_TRUE(s.ok);
    const velora::test::Decoded d = velora::test::DecodeAll(s.bytes);
    ASSERT_FALSE(d.infos.empty());
    const int outputRate = d.infos.back().outputSamplingRate;
    const std::vector<int16_t> left = OneChannel(d);
    size_t peak = 0;
    for (size_t n = 0; n < left.size(); ++n)
        if (std::abs(left[n]) > std::abs(left[peak])) peak = n;
    const double clickOut = static_cast<double>(at) * outputRate / c.inputRate;
    const double measured = static_cast<double>(peak) - clickOut;

    // What a reader of the stream is told: the VBRI field, which counts the header frame;
    // without VBR the delay the encoder keeps.
    int reported = e.h->pipeline.DelaySamples();
    if (s.vbrHeaderBytes > 0) {
        StreamInfo info;
        info.Init();
        ASSERT_EQ(info.Analyse(s.bytes.data(), static_cast<int>(std::min<size_t>(4096, s.bytes.size())),
                               static_cast<uint32_t>(s.bytes.size())), 1);
        reported = info.vbri.delay;
    }
    std::printf("[ delay    ] %-14s reported %5d, measured %8.1f samples at %d Hz (difference %+.1f)\n", c.name,
                reported, measured, outputRate, measured - reported);
    RecordProperty("reported", reported);
    RecordProperty("measured", static_cast<int>(std::lround(measured)));
    EXPECT_NEAR(measured, reported, 3.0);
}

INSTANTIATE_TEST_SUITE_P(Paths, veloraenc_Delay,
                         ::testing::Values(DelayCase{"sbr_44k", 44100, kSbrModeAuto, 0},
                                           DelayCase{"sbr_48k", 48000, kSbrModeAuto, 0},
                                           DelayCase{"sbr_44k_vbr", 44100, kSbrModeAuto, 50},
                                           DelayCase{"core_44k", 44100, kSbrModeOff, 0},
                                           DelayCase{"core_32k", 32000, kSbrModeOff, 0},
                                           DelayCase{"core_22k", 22050, kSbrModeOff, 0},
                                           DelayCase{"core_44k_vbr", 44100, kSbrModeOff, 60},
                                           DelayCase{"sbr_44k_56", 44100, kSbrModeAuto, 0, 56000},
                                           DelayCase{"sbr_44k_128", 44100, kSbrModeAuto, 0, 128000},
                                           DelayCase{"sbr_lc_44k_32", 44100, kSbrModeAuto, 0, 32000, kChannelModeLcStereo},
                                           DelayCase{"sbr_lc_44k_vbr80", 44100, kSbrModeAuto, 80, 0, kChannelModeLcStereo},
                                           DelayCase{"sbr_32k_48", 32000, kSbrModeAuto, 0, 48000}),
                         [](const ::testing::TestParamInfo<DelayCase>& p) { return std::string(p.param.name); });

// Two channels of one high-passed noise at a level difference, over a shared tone: what
// intensity stereo is for. Without SBR a 22050 Hz core at 48 kbit/s codes part of it with intensity
// positions; with SBR the core's band ends at the crossover, and it never does.
std::vector<float> PannedHighNoise(int rate, double seconds) {
    std::mt19937 rng(11);
    std::normal_distribution<double> noise(0.0, 1.0);
    const size_t frames = static_cast<size_t>(seconds * rate);
    std::vector<float> out(2 * frames);
    // White noise through a second difference (rising 12 dB an octave), and a 220 Hz tone
    // so the low band is not empty.
    double x1 = 0.0, x2 = 0.0;
    for (size_t n = 0; n < frames; ++n) {
        const double x = noise(rng);
        const double high = x - 2.0 * x1 + x2;
        x2 = x1;
        x1 = x;
        const double tone = 3000.0 * std::sin(2.0 * test::kTestPi * 220.0 * static_cast<double>(n) / rate);
        out[2 * n] = static_cast<float>(tone + 1500.0 * high);
        out[2 * n + 1] = static_cast<float>(tone + 500.0 * high);
    }
    return out;
}

int IntensityFrames(int inputRate, uint32_t sbrMode, uint32_t kbps) {
    Handle e(mp3EncOpen(inputRate, 2, kInputInt16));
    if (e.h == nullptr) return -1;
    EncoderOutputFormat f;
    f.channelMode = kChannelModeStereo;
    f.sbrMode = sbrMode;
    f.bitrate = kbps * 1000;
    if (mp3EncSetOutputFormat(e.h, &f) != 1) return -1;
    EncoderConfiguration c = *mp3EncGetConfiguration(e.h);
    c.intensityStereo = 1;  // as the encode job asks by default
    if (mp3EncSetConfiguration(e.h, &c) != 1) return -1;
    const test::EncodedStream s = test::EncodeAll(e.h, test::AsInt16Bytes(PannedHighNoise(inputRate, 3.0)));
    if (!s.ok) return -1;
    const FrameWalk w = WalkFrames(s.bytes);
    if (!w.complete || w.headers.size() < 50) return -1;
    int count = 0;
    for (const MpegHeader& h : w.headers) count += h.mode == 1 && (h.modeExtension & 1) != 0 ? 1 : 0;
    return count;
}

TEST(veloraenc_Stereo, NoIntensityUnderSbr) {
    // The check sees intensity frames where the core may use them ...
    EXPECT_GT(IntensityFrames(22050, kSbrModeOff, 48), 0);
    // ... and none with the SBR layer on, at any of its two-channel rates.
    for (const uint32_t kbps : {48u, 56u, 64u, 80u}) {
        SCOPED_TRACE(kbps);
        EXPECT_EQ(IntensityFrames(44100, kSbrModeOn, kbps), 0);
    }
}

}  // namespace
}  // namespace velora::enc

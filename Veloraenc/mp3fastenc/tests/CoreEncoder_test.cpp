// The core encoder end to end: streams at every MPEG version, CBR and VBR, mono and stereo,
// read back frame by frame (limits of the reservoir, exact mean bit rate), decoded by this
// project's decoder and by mpg123 and ffmpeg; the SBR container; silence, a click, dual
// mono; extreme input.
#include "CoreEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BitstreamTestSupport.h"

namespace velora::enc {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Something like music: a few partials with vibrato, a noise floor, and drum-like bursts.
std::vector<float> MusicLike(int rate, int channels, double seconds, uint32_t seed = 5) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    const size_t frames = static_cast<size_t>(seconds * rate);
    std::vector<float> out(frames * static_cast<size_t>(channels));
    for (size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / rate;
        for (int ch = 0; ch < channels; ++ch) {
            double v = 0.0;
            const double base = ch == 0 ? 220.0 : 330.0;
            for (int k = 1; k <= 6; ++k)
                v += 2500.0 / k * std::sin(2 * kPi * base * k * t + 0.3 * std::sin(2 * kPi * 5 * t));
            v += 300.0 * noise(rng);
            const double beat = std::fmod(t, 0.5);
            if (beat < 0.03) v += 6000.0 * noise(rng) * (1.0 - beat / 0.03);
            out[n * static_cast<size_t>(channels) + static_cast<size_t>(ch)] = static_cast<float>(v);
        }
    }
    return out;
}

struct Encoded {
    std::vector<uint8_t> bytes;
    std::vector<CoreEncoder::FrameStats> frames;
    bool ok = true;
};

Encoded Encode(const CoreEncoderSettings& s, const std::vector<float>& pcm,
               const std::vector<SbrContainerData>* sbr = nullptr) {
    Encoded e;
    auto encoder = std::make_unique<CoreEncoder>();
    if (!encoder->Init(s)) {
        e.ok = false;
        return e;
    }
    const size_t granuleSamples = static_cast<size_t>(576 * s.channels);
    const size_t granules = (pcm.size() + granuleSamples - 1) / granuleSamples + 3;
    std::vector<float> g(granuleSamples);
    std::vector<uint8_t> out(static_cast<size_t>(encoder->MaxFrameBytes()) * 8);
    for (size_t i = 0; i < granules; ++i) {
        for (size_t k = 0; k < granuleSamples; ++k) {
            const size_t at = i * granuleSamples + k;
            g[k] = at < pcm.size() ? pcm[at] : 0.0f;
        }
        const size_t frame = i / static_cast<size_t>(encoder->GranulesPerFrame());
        const SbrContainerData* data = sbr != nullptr && frame < sbr->size() ? &(*sbr)[frame] : nullptr;
        if (!encoder->EncodeGranule(g.data(), data)) {
            e.ok = false;
            return e;
        }
        if ((i + 1) % static_cast<size_t>(encoder->GranulesPerFrame()) == 0) e.frames.push_back(encoder->LastFrame());
        const int n = encoder->Emit(out.data(), static_cast<int>(out.size()));
        e.bytes.insert(e.bytes.end(), out.begin(), out.begin() + n);
    }
    e.ok = encoder->Flush();
    // Many small frames may wait for the flush: more than one buffer holds.
    for (int n; (n = encoder->Emit(out.data(), static_cast<int>(out.size()))) > 0;)
        e.bytes.insert(e.bytes.end(), out.begin(), out.begin() + n);
    return e;
}

// Peak signal to noise of `b` against `a` over their common length.
double Psnr(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    const size_t n = std::min(a.size(), b.size());
    double error = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        error += d * d;
    }
    if (error == 0.0) return 200.0;
    return 10.0 * std::log10(32767.0 * 32767.0 * static_cast<double>(n) / error);
}

// The peers on a stream this project decodes to `ours`: mpg123 without a message and the
// same PCM (PSNR above 90 dB), ffmpeg without a message. Tools that are missing are skipped.
void ExpectPeersAgree(const std::vector<uint8_t>& stream, const std::string& name, const std::vector<int16_t>& ours) {
    const std::string path = test::TempPath(name + ".mp3");
    ASSERT_TRUE(test::WriteFile(path, stream));
    std::string output;
    if (test::ToolAvailable("mpg123")) {
        const std::string raw = path + ".raw";
        EXPECT_EQ(test::RunCommand("mpg123 -q -s '" + path + "' > '" + raw + "'", output), 0);
        EXPECT_EQ(output, "") << "mpg123 on " << name << ": " << output;
        std::vector<int16_t> theirs;
        const std::vector<uint8_t> bytes = test::ReadFile(raw);
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            theirs.push_back(static_cast<int16_t>(static_cast<uint16_t>(bytes[i] | bytes[i + 1] << 8)));
        EXPECT_GT(Psnr(ours, theirs), 90.0) << "this decoder against mpg123 on " << name;
        std::remove(raw.c_str());
    }
    if (test::ToolAvailable("ffmpeg")) {
        EXPECT_EQ(test::RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null -", output), 0);
        EXPECT_EQ(output, "") << "ffmpeg on " << name << ": " << output;
    }
    std::remove(path.c_str());
}

// Signal to noise of the decoded output against the input, aligned by the encoder's delay.
double Snr(const std::vector<float>& input, const std::vector<int16_t>& decoded, int channels) {
    double signal = 0.0;
    double error = 0.0;
    const size_t offset = static_cast<size_t>(CoreEncoder::kDelay * channels);
    for (size_t i = 0; i + offset < decoded.size() && i < input.size(); ++i) {
        const double x = input[i];
        const double d = x - decoded[i + offset];
        signal += x * x;
        error += d * d;
    }
    return 10.0 * std::log10(signal / std::max(error, 1e-9));
}

struct Config {
    const char* name;
    int rate;
    int channels;
    int bitrate;  // 0: VBR
    int quality;
};

class mp3enc_core_Streams : public ::testing::TestWithParam<Config> {};

TEST_P(mp3enc_core_Streams, ValidExactAndDecodable) {
    const Config c = GetParam();
    CoreEncoderSettings s;
    s.sampleRate = c.rate;
    s.channels = c.channels;
    s.bitrate = c.bitrate;
    s.vbrQuality = c.quality;
    const double seconds = 3.0;
    const std::vector<float> pcm = MusicLike(c.rate, c.channels, seconds);
    const Encoded e = Encode(s, pcm);
    ASSERT_TRUE(e.ok);

    // Frame by frame: exact walk, no granule read past its length, reservoir limits.
    const test::ReadStreamResult r = test::ReadStream(e.bytes, false);
    ASSERT_TRUE(r.ok) << r.error;
    const int version = r.frames.front().header.version;
    const int limit = version == 0 ? 511 : 255;
    int indices = 0;
    int lastIndex = -1;
    for (const test::ReadFrame& f : r.frames) {
        EXPECT_EQ(f.consumedMismatch, 0);
        EXPECT_LE(f.side.main_data_begin, limit);
        // Frame and reservoir within 7680 bits (frames above it have no reservoir).
        EXPECT_LE(8 * f.side.main_data_begin, std::max(0, 7680 - f.header.frameBits));
        if (f.header.bitrateIndex != lastIndex) ++indices;
        lastIndex = f.header.bitrateIndex;
    }
    const size_t samplesPerFrame = version == 0 ? 1152 : 576;
    const double duration = static_cast<double>(r.frames.size() * samplesPerFrame) / c.rate;
    const double bitrate = 8.0 * static_cast<double>(e.bytes.size()) / duration;
    if (c.bitrate > 0) {
        // Padding keeps the mean: within one byte over the stream.
        EXPECT_NEAR(bitrate, c.bitrate, 8.0 / duration * 1.01);
        EXPECT_EQ(indices, 1);
    } else {
        EXPECT_GT(indices, 2) << "VBR uses several bit rates";
    }

    std::vector<Mp3Ssc> statuses;
    const std::vector<int16_t> ours = test::DecodePcm(e.bytes, statuses);
    for (Mp3Ssc st : statuses) ASSERT_EQ(st, kSscSuccess);
    const double snr = Snr(pcm, ours, c.channels);
    std::printf("%s: %.1f kbit/s, SNR %.1f dB\n", c.name, bitrate / 1000.0, snr);
    EXPECT_GT(snr, c.bitrate > 0 ? 8.0 : 2.0) << "the output follows the input";

    ExpectPeersAgree(e.bytes, std::string("core_") + c.name, ours);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, mp3enc_core_Streams,
    ::testing::Values(Config{"mpeg1_44k_stereo_128", 44100, 2, 128000, 0},
                      Config{"mpeg1_48k_mono_64", 48000, 1, 64000, 0},
                      Config{"mpeg1_32k_stereo_96", 32000, 2, 96000, 0},
                      Config{"mpeg2_22k_stereo_64", 22050, 2, 64000, 0},
                      Config{"mpeg2_24k_mono_32", 24000, 1, 32000, 0},
                      Config{"mpeg2_16k_stereo_48", 16000, 2, 48000, 0},
                      Config{"mpeg25_11k_stereo_32", 11025, 2, 32000, 0},
                      Config{"mpeg25_8k_mono_8", 8000, 1, 8000, 0},
                      Config{"vbr_44k_stereo_q50", 44100, 2, 0, 50},
                      Config{"vbr_22k_stereo_q20", 22050, 2, 0, 20},
                      Config{"vbr_12k_mono_q80", 12000, 1, 0, 80}),
    [](const ::testing::TestParamInfo<Config>& p) { return std::string(p.param.name); });

// VBR: the mean rate rises with the quality over the whole range, at both MPEG versions.
TEST(mp3enc_core, VbrRateRisesWithQuality) {
    for (const int rate : {22050, 44100}) {
        const std::vector<float> pcm = MusicLike(rate, 2, 2.0);
        double previous = 0.0;
        for (const int quality : {1, 25, 50, 75, 100}) {
            CoreEncoderSettings s;
            s.sampleRate = rate;
            s.channels = 2;
            s.bitrate = 0;
            s.vbrQuality = quality;
            const Encoded e = Encode(s, pcm);
            ASSERT_TRUE(e.ok);
            const double kbps = 8.0 * static_cast<double>(e.bytes.size()) / 2.0 / 1000.0;
            std::printf("%d Hz q%d: %.1f kbit/s\n", rate, quality, kbps);
            EXPECT_GT(kbps, previous * 1.05) << rate << " Hz q" << quality;
            previous = kbps;
        }
    }
}

// Random SBR payloads of the given byte counts and the containers that point at them.
struct SbrPayloads {
    std::vector<std::vector<uint8_t>> bytes;
    std::vector<SbrContainerData> containers;

    SbrPayloads(const std::vector<size_t>& sizes, uint32_t seed) {
        std::mt19937 rng(seed);
        for (size_t size : sizes) {
            bytes.emplace_back(size);
            for (uint8_t& b : bytes.back()) b = static_cast<uint8_t>(rng());
        }
        for (const std::vector<uint8_t>& b : bytes) {
            SbrContainerData d;
            d.present = true;
            d.optionalFields = true;
            d.data = b.data();
            d.dataBits = static_cast<int>(b.size()) * 8;
            containers.push_back(d);
        }
    }
};

TEST(mp3enc_core, SbrContainerReachesTheDecodersPayloadSearch) {
    CoreEncoderSettings s;
    s.sampleRate = 22050;
    s.channels = 2;
    s.bitrate = 64000;
    s.sbrContainer = true;
    const std::vector<float> pcm = MusicLike(22050, 2, 1.0);
    std::vector<size_t> sizes;
    for (size_t f = 0; f < 60; ++f) sizes.push_back(10 + f % 40);
    SbrPayloads payloads(sizes, 3);
    std::vector<SbrContainerData>& sbr = payloads.containers;
    for (size_t f = 0; f < sbr.size(); ++f) {
        sbr[f].present = f % 5 != 4;
        sbr[f].header = f % 8 == 0;
    }
    const Encoded e = Encode(s, pcm, &sbr);
    ASSERT_TRUE(e.ok);
    const std::vector<test::CoreFrame> frames = test::DecodeCore(e.bytes);
    ASSERT_GE(frames.size(), 40u);
    for (size_t f = 0; f < 40; ++f) {
        const SbrContainerData& d = sbr[f];
        if (!d.present) {
            EXPECT_TRUE(frames[f].sbr.empty()) << f;
            continue;
        }
        EXPECT_EQ(frames[f].sbr, test::CorePayload(d.header ? 0xE : 0xC, d.data, d.dataBits)) << f;
    }
}

// An SBR payload larger than the granules can spare: those frames go out with an empty
// container (never a failed frame), the others carry the payload unchanged.
TEST(mp3enc_core, OversizedSbrPayloadIsLeftOut) {
    CoreEncoderSettings s;
    s.sampleRate = 16000;
    s.channels = 2;
    s.bitrate = 32000;
    s.sbrContainer = true;
    const std::vector<float> pcm = MusicLike(16000, 2, 2.0);
    // Every third frame asks for more than a frame and a full reservoir hold (144 + 255 bytes).
    std::vector<size_t> sizes;
    for (size_t f = 0; f < 80; ++f) sizes.push_back(f % 3 == 0 ? 420 : 12);
    SbrPayloads payloads(sizes, 4);
    const std::vector<SbrContainerData>& sbr = payloads.containers;
    const Encoded e = Encode(s, pcm, &sbr);
    ASSERT_TRUE(e.ok);
    const std::vector<test::CoreFrame> frames = test::DecodeCore(e.bytes);
    ASSERT_GE(frames.size(), 50u);
    int dropped = 0;
    for (size_t f = 0; f < 50; ++f) {
        const SbrContainerData& d = sbr[f];
        if (frames[f].sbr.empty()) {
            ++dropped;
            EXPECT_EQ(f % 3, 0u) << "only the oversized payloads are left out, frame " << f;
        } else {
            EXPECT_EQ(frames[f].sbr, test::CorePayload(0xC, d.data, d.dataBits)) << f;
        }
    }
    EXPECT_EQ(dropped, 17);
}

TEST(mp3enc_core, SilenceCodesToNothing) {
    CoreEncoderSettings s;
    s.sampleRate = 44100;
    s.channels = 2;
    s.bitrate = 128000;
    const std::vector<float> pcm(44100 * 2, 0.0f);
    const Encoded e = Encode(s, pcm);
    ASSERT_TRUE(e.ok);
    const test::ReadStreamResult r = test::ReadStream(e.bytes, false);
    ASSERT_TRUE(r.ok) << r.error;
    for (const test::ReadFrame& f : r.frames) {
        for (int gr = 0; gr < 2; ++gr) {
            for (int ch = 0; ch < 2; ++ch) {
                const GranuleInfo& g = f.side.granule[gr][ch];
                EXPECT_EQ(g.big_values, 0);
                EXPECT_EQ(f.granule[gr][ch].scalefactorBits, 0);
                for (int v : f.granule[gr][ch].values) ASSERT_EQ(v, 0);
            }
        }
    }
    std::vector<Mp3Ssc> statuses;
    for (int16_t v : test::DecodePcm(e.bytes, statuses)) ASSERT_EQ(v, 0);
}

// Near-empty frames leave their shares to the reservoir for many frames: digital silence in
// VBR, and the smallest frames there are (24000 Hz stereo at 8 kbit/s with CRC, 1 byte of
// main data each), must still come out as a valid stream.
TEST(mp3enc_core, LongSilenceKeepsFramesFlowing) {
    struct Case {
        int rate;
        int bitrate;
        bool crc;
    };
    for (const Case c : {Case{22050, 0, false}, Case{24000, 8000, true}, Case{44100, 0, true}}) {
        CoreEncoderSettings s;
        s.sampleRate = c.rate;
        s.channels = 2;
        s.bitrate = c.bitrate;
        s.vbrQuality = 60;
        s.crc = c.crc;
        const std::vector<float> silence(static_cast<size_t>(c.rate) * 2 * 10, 0.0f);
        const Encoded e = Encode(s, silence);
        ASSERT_TRUE(e.ok) << c.rate;
        const test::ReadStreamResult r = test::ReadStream(e.bytes, false);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_GE(r.frames.size() * (c.rate >= 32000 ? 1152u : 576u), static_cast<size_t>(c.rate) * 10) << c.rate;
    }
}

TEST(mp3enc_core, ClickAfterSilenceSwitchesThroughStartShortStop) {
    CoreEncoderSettings s;
    s.sampleRate = 22050;  // one granule per frame
    s.channels = 1;
    s.bitrate = 64000;
    std::vector<float> pcm(22050, 0.0f);
    for (int i = 0; i < 40; ++i) pcm[11000 + static_cast<size_t>(i)] = 30000.0f * (i % 2 == 0 ? 1.0f : -1.0f);
    const Encoded e = Encode(s, pcm);
    ASSERT_TRUE(e.ok);
    std::string sequence;
    for (const auto& f : e.frames) sequence += static_cast<char>('0' + f.blockType[0][0]);
    // Long blocks, then start, shorts, stop, long blocks.
    const size_t start = sequence.find('1');
    ASSERT_NE(start, std::string::npos) << sequence;
    EXPECT_EQ(sequence.find_first_not_of('0'), start) << sequence;
    const size_t stop = sequence.find('3', start);
    ASSERT_NE(stop, std::string::npos) << sequence;
    EXPECT_GT(stop, start + 1);
    EXPECT_EQ(sequence.substr(start + 1, stop - start - 1).find_first_not_of('2'), std::string::npos) << sequence;
    EXPECT_EQ(sequence.find_first_not_of('0', stop + 1), std::string::npos) << sequence;
}

// The reservoir in a constant-bit-rate stream: dense music, then the same kind of music
// far softer (easy granules: main_data_begin climbs), then a burst after near silence (short blocks: the attack
// granules get well over the mean and main_data_begin falls). The stream stays exact and
// the peers decode it as this project does.
TEST(mp3enc_core, ReservoirFillsBeforeAnAttackAndSpendsOnIt) {
    constexpr int kRate = 44100;
    CoreEncoderSettings s;
    s.sampleRate = kRate;
    s.channels = 2;
    s.bitrate = 128000;
    const size_t music = kRate;  // samples per channel
    std::vector<float> pcm = MusicLike(kRate, 2, 1.0);
    // The same kind of music 30 dB down: nearer the threshold in quiet,
    // so less entropy, yet still enough detail to fill any target.
    const size_t quiet = static_cast<size_t>(1.5 * kRate);
    const size_t burst = static_cast<size_t>(0.03 * kRate);
    const size_t after = static_cast<size_t>(0.5 * kRate);
    const std::vector<float> soft = MusicLike(kRate, 2, 2.1, 7);  // a little longer than needed
    std::mt19937 rng(9);
    std::normal_distribution<double> noise(0.0, 1.0);
    const size_t attackAt = music + quiet;
    for (size_t n = 0; n < quiet + burst + after; ++n) {
        const double click = n >= quiet && n < quiet + burst ? 12000.0 * noise(rng) : 0.0;
        for (size_t ch = 0; ch < 2; ++ch) pcm.push_back(static_cast<float>(0.03 * static_cast<double>(soft[2 * n + ch]) + click));
    }
    const Encoded e = Encode(s, pcm);
    ASSERT_TRUE(e.ok);
    const test::ReadStreamResult r = test::ReadStream(e.bytes, false);
    ASSERT_TRUE(r.ok) << r.error;

    // Input sample n lands in the decoder's frame (n + kDelay) / 1152; the attack's short
    // blocks come in that frame or the one before.
    const size_t attackFrame = (attackAt + static_cast<size_t>(CoreEncoder::kDelay)) / 1152;
    ASSERT_LT(attackFrame + 4, r.frames.size());
    const size_t denseEnd = (music + static_cast<size_t>(CoreEncoder::kDelay)) / 1152 - 1;  // the last of the music
    const size_t beforeAttack = attackFrame - 2;
    const int fillAfterMusic = r.frames[denseEnd].side.main_data_begin;
    const int fillBeforeAttack = r.frames[beforeAttack].side.main_data_begin;
    EXPECT_GT(fillBeforeAttack, 300) << "the easy granules fill the reservoir";
    EXPECT_GT(fillBeforeAttack, fillAfterMusic + 100);

    const test::ReadFrame& first = r.frames.front();
    const double meanGranule =
        (first.header.frameBits - first.header.headerBits - 8.0 * first.header.SideInfoBytes()) / 2.0;
    int shortBits = 0;
    int shortGranules = 0;
    for (size_t f = attackFrame - 1; f <= attackFrame + 2; ++f) {
        for (int g = 0; g < 2; ++g) {
            const auto& granule = r.frames[f].granule[g];
            if (granule[0].info.block_type != kBlockShort) continue;
            EXPECT_EQ(granule[1].info.block_type, kBlockShort) << "the channels share their block type";
            shortBits += granule[0].info.part2_3_length + granule[1].info.part2_3_length;
            ++shortGranules;
        }
    }
    ASSERT_GT(shortGranules, 0) << "the burst switches to short blocks";
    EXPECT_GT(shortBits / shortGranules, 1.3 * meanGranule) << "the attack draws on the reservoir";
    int lowest = fillBeforeAttack;
    for (size_t f = attackFrame; f <= attackFrame + 3; ++f) lowest = std::min(lowest, r.frames[f].side.main_data_begin);
    EXPECT_LT(lowest, fillBeforeAttack - 100) << "the attack empties the reservoir";

    std::vector<Mp3Ssc> statuses;
    const std::vector<int16_t> ours = test::DecodePcm(e.bytes, statuses);
    for (Mp3Ssc st : statuses) ASSERT_EQ(st, kSscSuccess);
    ExpectPeersAgree(e.bytes, "core_reservoir_attack", ours);
}

// Intensity stereo on a panned mono signal at the low rates: chosen in most frames, both
// channels keep their level ratio, and the peers decode the stream as this project does.
// Above 40 kbit/s a channel it is never chosen.
TEST(mp3enc_core, IntensityStereoKeepsThePanning) {
    struct Point {
        int rate;
        int bitrate;
    };
    for (const Point p : {Point{32000, 80000}, Point{22050, 64000}, Point{44100, 96000}}) {
        const bool low = p.bitrate / 2 <= 40000;
        CoreEncoderSettings s;
        s.sampleRate = p.rate;
        s.channels = 2;
        s.bitrate = p.bitrate;
        s.allowIntensity = true;
        // Most of the energy in the bands intensity stereo takes (from 0.2 x the bits per
        // channel up to the bandwidth), a weaker tone and noise below.
        std::mt19937 rng(11);
        std::normal_distribution<double> noise(0.0, 100.0);
        const double top = CoreEncoder::AutomaticBandwidth(p.bitrate / 2, p.rate);
        const double from = 0.1 * p.bitrate;
        std::vector<float> pcm;
        for (int n = 0; n < 2 * p.rate; ++n) {
            const double t = static_cast<double>(n) / p.rate;
            double v = 1000.0 * std::sin(2 * kPi * 440.0 * t) + noise(rng);
            for (int k = 1; k <= 3; ++k) v += 3000.0 * std::sin(2 * kPi * (from + (top - from) * k / 4.0) * t);
            pcm.push_back(static_cast<float>(0.9 * v));
            pcm.push_back(static_cast<float>(0.3 * v));
        }
        const Encoded e = Encode(s, pcm);
        ASSERT_TRUE(e.ok);
        const test::ReadStreamResult r = test::ReadStream(e.bytes, false);
        ASSERT_TRUE(r.ok) << r.error;
        size_t intensity = 0;
        for (const test::ReadFrame& f : r.frames) {
            EXPECT_EQ(f.consumedMismatch, 0);
            intensity += (f.header.modeExtension & 1) != 0 ? 1 : 0;
        }
        if (!low) {
            EXPECT_EQ(intensity, 0u) << p.rate;
            continue;
        }
        EXPECT_GT(intensity, r.frames.size() / 2) << p.rate;

        std::vector<Mp3Ssc> statuses;
        const std::vector<int16_t> ours = test::DecodePcm(e.bytes, statuses);
        for (Mp3Ssc st : statuses) ASSERT_EQ(st, kSscSuccess);
        double left = 0.0;
        double right = 0.0;
        for (size_t i = 0; i + 1 < ours.size(); i += 2) {
            left += static_cast<double>(ours[i]) * ours[i];
            right += static_cast<double>(ours[i + 1]) * ours[i + 1];
        }
        // MPEG-1 positions are 15 degrees apart: 3:1 lies between 4.8 and 11.4 dB and takes
        // the latter; MPEG-2's 3 dB steps come within 0.5 dB.
        const double tolerance = p.rate >= 32000 ? 2.0 : 0.75;
        EXPECT_NEAR(10.0 * std::log10(left / right), 10.0 * std::log10(9.0), tolerance) << p.rate;

        ExpectPeersAgree(e.bytes, "core_intensity_" + std::to_string(p.rate), ours);
    }
}

// A frame whose granules disagree: one codes intensity bands, the other none. Under a
// bandwidth below the last band the second one's bound still needs positions for the bands
// above its used range; without them its carrier there was 0/0, which coded as the largest
// values (a burst in every decoder) or overflowed the frame.
TEST(mp3enc_core, IntensityFramesWithAGranuleWithoutIntensityBands) {
    CoreEncoderSettings s;
    s.sampleRate = 32000;
    s.channels = 2;
    s.bitrate = 80000;
    s.allowIntensity = true;
    // Independent noise in both channels, and a panned high tone faded in and out every
    // 100 ms (slowly enough for long blocks): intensity stereo only while it sounds.
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 300.0);
    std::vector<float> pcm;
    for (int n = 0; n < 2 * s.sampleRate; ++n) {
        const double t = static_cast<double>(n) / s.sampleRate;
        const double fade = 0.5 - 0.5 * std::cos(2 * kPi * 5.0 * t);
        const double tone = fade * fade * 8000.0 * std::sin(2 * kPi * 10000.0 * t);
        pcm.push_back(static_cast<float>(noise(rng) + tone));
        pcm.push_back(static_cast<float>(noise(rng) + 0.5 * tone));
    }
    const Encoded e = Encode(s, pcm);
    ASSERT_TRUE(e.ok);
    const test::ReadStreamResult r = test::ReadStream(e.bytes, false);
    ASSERT_TRUE(r.ok) << r.error;
    size_t intensity = 0;
    for (const test::ReadFrame& f : r.frames) intensity += (f.header.modeExtension & 1) != 0 ? 1 : 0;
    EXPECT_GT(intensity, 0u);
    EXPECT_LT(intensity, r.frames.size());

    std::vector<Mp3Ssc> statuses;
    const std::vector<int16_t> ours = test::DecodePcm(e.bytes, statuses);
    for (Mp3Ssc st : statuses) ASSERT_EQ(st, kSscSuccess);
    int peak = 0;
    for (int16_t v : ours) peak = std::max(peak, std::abs(static_cast<int>(v)));
    EXPECT_LT(peak, 16000) << "the input peaks near 9000";
    ExpectPeersAgree(e.bytes, "core_intensity_partial", ours);
}

TEST(mp3enc_core, DualMonoMakesNoStereoDecision) {
    CoreEncoderSettings s;
    s.sampleRate = 44100;
    s.channels = 2;
    s.bitrate = 128000;
    s.dualMono = true;
    s.allowIntensity = true;
    // Identical channels would make mid/side and intensity the obvious choice.
    std::vector<float> pcm = MusicLike(44100, 1, 1.0);
    std::vector<float> stereo;
    for (float v : pcm) {
        stereo.push_back(v);
        stereo.push_back(v);
    }
    const Encoded e = Encode(s, stereo);
    ASSERT_TRUE(e.ok);
    const test::ReadStreamResult r = test::ReadStream(e.bytes, false);
    ASSERT_TRUE(r.ok) << r.error;
    for (const test::ReadFrame& f : r.frames) {
        EXPECT_EQ(f.header.mode, 2);
        EXPECT_EQ(f.header.modeExtension, 0);
    }
    // Without dual mono the same input codes as mid/side.
    s.dualMono = false;
    const Encoded joint = Encode(s, stereo);
    int midSide = 0;
    for (const auto& f : joint.frames) midSide += f.midSide ? 1 : 0;
    EXPECT_GT(midSide, static_cast<int>(joint.frames.size()) / 2);
}

TEST(mp3enc_core, ExtremeInputGivesValidFrames) {
    CoreEncoderSettings s;
    s.sampleRate = 44100;
    s.channels = 2;
    s.bitrate = 128000;
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> uniform(-32768.0f, 32767.0f);
    std::vector<float> pcm;
    for (int n = 0; n < 44100; ++n) {
        const float square = (n / 50) % 2 == 0 ? 32767.0f : -32768.0f;
        pcm.push_back(square);                        // full-scale square wave
        pcm.push_back(n < 22050 ? 32767.0f : uniform(rng));  // DC, then white noise at 0 dBFS
    }
    const Encoded e = Encode(s, pcm);
    ASSERT_TRUE(e.ok);
    const test::ReadStreamResult r = test::ReadStream(e.bytes, false);
    ASSERT_TRUE(r.ok) << r.error;
    for (const test::ReadFrame& f : r.frames) {
        EXPECT_EQ(f.consumedMismatch, 0);
        for (int gr = 0; gr < 2; ++gr)
            for (int ch = 0; ch < 2; ++ch) EXPECT_LT(f.side.granule[gr][ch].global_gain, 255) << "gain pinned";
    }
    std::vector<Mp3Ssc> statuses;
    const std::vector<int16_t> ours = test::DecodePcm(e.bytes, statuses);
    for (Mp3Ssc st : statuses) ASSERT_EQ(st, kSscSuccess);
    EXPECT_GT(Snr(pcm, ours, 2), 5.0);
}

TEST(mp3enc_core, RefusesWhatLayerThreeLacks) {
    CoreEncoder e;
    CoreEncoderSettings s;
    s.sampleRate = 44000;
    EXPECT_FALSE(e.Init(s));
    s.sampleRate = 22050;
    s.bitrate = 100000;
    EXPECT_FALSE(e.Init(s));
    s.bitrate = 192000;  // an MPEG-1 rate, not an MPEG-2 one
    EXPECT_FALSE(e.Init(s));
    s.bitrate = 0;
    s.vbrQuality = 101;
    EXPECT_FALSE(e.Init(s));
    s.vbrQuality = 50;
    s.channels = 3;
    EXPECT_FALSE(e.Init(s));
}

}  // namespace
}  // namespace velora::enc

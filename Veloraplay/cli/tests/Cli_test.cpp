// The velora command as a user meets it: exit codes, messages, the output file appearing
// only when complete, the WAVE layout, and info; for Velora files (made from lame's frames
// by the test stream builder) the doubled rate, the switch that leaves the high band out
// and what info says about the enhancement.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CommandFixture.h"
#include "LameStreams.h"
#include "VeloraPayloads.h"
#include "VeloraStreamBuilder.h"
#include "Veloradecoder.h"
#include "WaveFileWriter.h"

namespace {

namespace fs = std::filesystem;

using velora::cli::test::CommandResult;
using velora::cli::test::Slurp;

class VeloraCommand : public velora::cli::test::CommandFixture {
  protected:
    VeloraCommand() : CommandFixture("velora-cli-") {}

    // Files in the work folder.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
        return names;
    }
};

const std::string kConformance = VELORA_SOURCE_DIR "/Veloradec/tests/conformance/";

uint32_t Le32(const std::string& s, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}
uint16_t Le16(const std::string& s, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8);
}

TEST_F(VeloraCommand, HelpVersionAndUsageErrors) {
    CommandResult r = Velora("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("decode"), std::string::npos);
    r = Velora("--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("velora ", 0), 0u);
    r = Velora("frobnicate");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown command"), std::string::npos);
    r = Velora("decode --shift 3 a b");
    EXPECT_EQ(r.status, 2);
    r = Velora("decode onlyone");
    EXPECT_EQ(r.status, 2);
}

TEST_F(VeloraCommand, DecodeWritesEveryFrameAsWave) {
    const fs::path out = dir_ / "out.wav";
    const CommandResult r = Velora("decode -q " + kConformance + "l3-sin1k0db.bit " + out.string());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string wav = Slurp(out);
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(Le32(wav, 4), wav.size() - 8);
    EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(Le32(wav, 16), 16u);
    EXPECT_EQ(Le16(wav, 20), 1);      // PCM
    EXPECT_EQ(Le16(wav, 22), 2);      // channels
    EXPECT_EQ(Le32(wav, 24), 44100u);
    EXPECT_EQ(Le32(wav, 28), 44100u * 4);
    EXPECT_EQ(Le16(wav, 32), 4);
    EXPECT_EQ(Le16(wav, 34), 16);
    EXPECT_EQ(wav.substr(36, 4), "data");
    EXPECT_EQ(Le32(wav, 40), wav.size() - 44);
    // The reference holds every frame except the first two, whose data lies before the
    // stream: the file must hold at least as much.
    const auto reference = fs::file_size(kConformance + "l3-sin1k0db.pcm");
    EXPECT_GE(wav.size() - 44, reference);
    EXPECT_EQ((wav.size() - 44) % (1152 * 4), 0u);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{"out.wav"});
}

TEST_F(VeloraCommand, MonoAndHalfRateChangeTheFormat) {
    const fs::path out = dir_ / "half.wav";
    const CommandResult r = Velora("decode -q -m -s 1 " + kConformance + "l3-sin1k0db.bit " + out.string());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string wav = Slurp(out);
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(Le16(wav, 22), 1);
    EXPECT_EQ(Le32(wav, 24), 22050u);
    EXPECT_EQ(Le16(wav, 32), 2);
    EXPECT_EQ((wav.size() - 44) % (576 * 2), 0u);
}

TEST_F(VeloraCommand, InputWithoutFramesFailsAndLeavesNothing) {
    const fs::path junk = dir_ / "junk.mp3";
    std::ofstream(junk) << std::string(5000, 'x');
    const fs::path out = dir_ / "out.wav";
    const CommandResult r = Velora("decode -q " + junk.string() + " " + out.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("junk.mp3"), std::string::npos);
    EXPECT_NE(r.err.find("no MPEG audio frames"), std::string::npos);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{"junk.mp3"});
}

TEST_F(VeloraCommand, UnreadableInputAndUnwritableOutputAreNamed) {
    CommandResult r = Velora("decode -q " + (dir_ / "missing.mp3").string() + " " + (dir_ / "o.wav").string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.mp3"), std::string::npos);
    r = Velora("decode -q " + kConformance + "l3-si.bit " + (dir_ / "no/such/dir/o.wav").string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("o.wav"), std::string::npos);
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(VeloraCommand, DecodeToStandardOutput) {
    // Through a pipe: the header cannot be patched afterwards.
    const CommandResult r = Velora("decode -q " + kConformance + "l3-si.bit - | cat");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_GE(r.out.size(), 44u);
    EXPECT_EQ(r.out.substr(0, 4), "RIFF");
    EXPECT_EQ(Le32(r.out, 40), 0xFFFFFFFFu);  // a pipe cannot be patched
}

TEST_F(VeloraCommand, InfoDescribesTheStream) {
    CommandResult r = Velora("info " + kConformance + "M2L3_bitrate_22_all.bit");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("MPEG-2 Layer III"), std::string::npos);
    EXPECT_NE(r.out.find("22050 Hz"), std::string::npos);
    EXPECT_NE(r.out.find("plain mp3"), std::string::npos);
    r = Velora("info --json " + kConformance + "l3-si.bit");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.front(), '{');
    EXPECT_NE(r.out.find("\"sampleRate\": "), std::string::npos);
    EXPECT_NE(r.out.find("\"velora\": false"), std::string::npos);
    r = Velora("info " + kConformance + "l3-he_free.bit");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("l3-he_free.bit"), std::string::npos);
}

std::vector<int16_t> WaveSamples(const std::string& wav);

// A FIFO in `dir` that a background `cat` fills with `file`: an input that cannot be read ahead.
std::string PipeFrom(const fs::path& dir, const std::string& file) {
    const fs::path fifo = dir / "pipe.mp3";
    fs::remove(fifo);
    if (std::system(("mkfifo " + fifo.string()).c_str()) != 0) return {};
    if (std::system(("cat " + file + " >" + fifo.string() + " &").c_str()) != 0) return {};
    return fifo.string();
}

// A stream that starts in mono and turns stereo keeps both channels where the headers can be
// read ahead: mono frames are widened, so the file equals the reference frame by frame. From
// a pipe the first frames decide, and a warning says what was mixed down.
TEST_F(VeloraCommand, MonoThenStereoStreamStaysStereo) {
    const std::string bit = kConformance + "l3-he_mode.bit";
    const auto layouts = velora::test::ListFrameLayouts(velora::test::ReadFileBytes(bit));
    const std::string pcm = Slurp(kConformance + "l3-he_mode.pcm");
    ASSERT_GT(layouts.size(), 10u);
    ASSERT_EQ(layouts.front().channels, 1);
    const auto stereo = std::count_if(layouts.begin(), layouts.end(), [](const auto& f) { return f.channels == 2; });
    ASSERT_GT(stereo, 0);

    const fs::path out = dir_ / "out.wav";
    CommandResult r = Velora("decode -q " + bit + " " + out.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string wav = Slurp(out);
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(Le16(wav, 22), 2);
    const std::vector<int16_t> ours = WaveSamples(wav);
    ASSERT_EQ(ours.size(), layouts.size() * 1152 * 2);
    size_t at = 0;  // in the reference, whose frames keep their own channel count
    int worst = 0;
    for (size_t f = 0; f < layouts.size() && at + 2 <= pcm.size(); ++f) {
        for (size_t i = 0; i < 1152; ++i) {
            for (size_t c = 0; c < 2; ++c) {
                const size_t ref = at + 2 * (layouts[f].channels == 2 ? 2 * i + c : i);
                if (ref + 2 > pcm.size()) break;
                const int d = ours[(f * 1152 + i) * 2 + c] - static_cast<int16_t>(Le16(pcm, ref));
                worst = std::max(worst, d < 0 ? -d : d);
            }
        }
        at += 1152 * 2 * static_cast<size_t>(layouts[f].channels);
    }
    EXPECT_EQ(at, pcm.size());
    EXPECT_LE(worst, 1);

    r = Velora("decode -q - " + out.string() + " <" + bit);  // a file: seekable
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Le16(Slurp(out), 22), 2);
    const std::string pipe = PipeFrom(dir_, bit);
    ASSERT_FALSE(pipe.empty());
    r = Velora("decode -q " + pipe + " " + out.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Le16(Slurp(out), 22), 1);
    EXPECT_NE(r.err.find("warning: '" + pipe + "': " + std::to_string(stereo) + " frames have more channels"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
}

// Tags around the audio: a large ID3v2 tag (with a footer, and bytes that look like frame
// headers) before it, an APE tag and an ID3v1 tag after it. info finds the stream and counts
// only the audio; decode gives what the bare stream gives.
TEST_F(VeloraCommand, TagsAroundTheAudioAreNotCounted) {
    const std::string bare = Slurp(kConformance + "l3-si.bit");
    ASSERT_GT(bare.size(), 1000u);
    const auto Syncsafe = [](size_t n) {
        return std::string{static_cast<char>(n >> 21 & 0x7F), static_cast<char>(n >> 14 & 0x7F),
                           static_cast<char>(n >> 7 & 0x7F), static_cast<char>(n & 0x7F)};
    };
    const auto Le = [](uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 24)};
    };
    const auto Id3v2 = [&](size_t body, bool footer) {
        std::string frames = "PRIV" + std::string{0, static_cast<char>(body >> 16), static_cast<char>(body >> 8),
                                                  static_cast<char>(body)} + std::string(2, '\0');
        for (size_t i = 0; i < body; ++i) frames += static_cast<char>(i % 7 == 0 ? 0xFF : 0xFB - i % 3);
        const std::string flags(1, footer ? '\x10' : '\0');
        std::string tag = "ID3\x04" + std::string(1, '\0') + flags + Syncsafe(frames.size()) + frames;
        if (footer) tag += "3DI\x04" + std::string(1, '\0') + flags + Syncsafe(frames.size());
        return tag;
    };
    const std::string apeItems(40, 'a');
    const auto ApeBlock = [&](bool header) {
        return "APETAGEX" + Le(2000) + Le(static_cast<uint32_t>(apeItems.size() + 32)) + Le(1) +
               Le(0x80000000u | (header ? 0x20000000u : 0u)) + std::string(8, '\0');
    };
    const std::string ape = ApeBlock(true) + apeItems + ApeBlock(false);
    const std::string id3v1 = "TAG" + std::string(125, ' ');

    const fs::path plainFile = dir_ / "bare.mp3";
    std::ofstream(plainFile, std::ios::binary) << bare;
    CommandResult r = Velora("info --json " + plainFile.string());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto Field = [](const std::string& json, const std::string& name) {
        const size_t at = json.find("\"" + name + "\": ");
        return at == std::string::npos ? std::string("?") : json.substr(at, json.find(',', at) - at);
    };
    const std::string duration = Field(r.out, "durationMs");
    const std::string first = Field(r.out, "firstFrameByte");
    const int firstByte = std::atoi(first.substr(first.find(':') + 1).c_str());
    const fs::path bareWav = dir_ / "bare.wav";
    ASSERT_EQ(Velora("decode -q " + plainFile.string() + " " + bareWav.string()).status, 0);

    for (const size_t body : {size_t{9000}, size_t{65536}, size_t{300000}}) {
        SCOPED_TRACE(body);
        const std::string lead = Id3v2(body, body == 300000);
        const fs::path tagged = dir_ / "tagged.mp3";
        std::ofstream(tagged, std::ios::binary) << lead << bare << ape << id3v1;
        r = Velora("info --json " + tagged.string());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Field(r.out, "durationMs"), duration);
        EXPECT_EQ(Field(r.out, "audioBytes"), "\"audioBytes\": " + std::to_string(bare.size()));
        EXPECT_EQ(Field(r.out, "firstFrameByte"), "\"firstFrameByte\": " + std::to_string(lead.size() + static_cast<size_t>(firstByte)));
        const fs::path wav = dir_ / "tagged.wav";
        r = Velora("decode -q " + tagged.string() + " " + wav.string());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(Slurp(wav) == Slurp(bareWav));
    }
}

// A file cut inside its last frame decodes what is there, exits 0 and says what was lost,
// from a file and from a pipe.
TEST_F(VeloraCommand, CutLastFrameIsNamed) {
    const std::string bare = Slurp(kConformance + "l3-si.bit");
    const auto layouts = velora::test::ListFrameLayouts(velora::test::ReadFileBytes(kConformance + "l3-si.bit"));
    ASSERT_GT(layouts.size(), 4u);
    const auto& last = layouts.back();
    const size_t keep = 100;
    const fs::path cut = dir_ / "cut.mp3";
    std::ofstream(cut, std::ios::binary) << bare.substr(0, last.offset + keep);
    const std::string expected = "velora: warning: '" + cut.string() + "': the last frame is cut: " +
                                 std::to_string(keep) + " of " + std::to_string(last.bytes) + " bytes\n";
    const fs::path whole = dir_ / "whole.wav";
    CommandResult r = Velora("decode -q " + kConformance + "l3-si.bit " + whole.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // a whole file says nothing
    const std::string wholeWav = Slurp(whole);
    ASSERT_GE(wholeWav.size(), 44u);
    const size_t frameBytes = 1152 * 2 * Le16(wholeWav, 22);
    const fs::path out = dir_ / "out.wav";
    r = Velora("decode -q " + cut.string() + " " + out.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, expected);
    // Everything before the cut frame is there.
    EXPECT_EQ(Slurp(out).substr(44), wholeWav.substr(44, wholeWav.size() - 44 - frameBytes));
    const std::string pipe = PipeFrom(dir_, cut.string());
    ASSERT_FALSE(pipe.empty());
    r = Velora("decode -q " + pipe + " " + out.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("'" + pipe + "': the last frame is cut: " + std::to_string(keep) + " of "), std::string::npos)
        << r.err;
}

// The lag (in samples, at most `maxLag` either way) at which `decoded`, mixed to mono, best
// matches `source`: decoded[n + lag] against source[n].
long BestLag(const std::vector<int16_t>& decoded, int decodedChannels, const std::vector<int16_t>& source,
             int sourceChannels, long maxLag) {
    const auto Mono = [](const std::vector<int16_t>& pcm, int ch) {
        std::vector<double> m(pcm.size() / static_cast<size_t>(ch));
        for (size_t i = 0; i < m.size(); ++i) {
            double sum = 0.0;
            for (int c = 0; c < ch; ++c) sum += pcm[i * static_cast<size_t>(ch) + static_cast<size_t>(c)];
            m[i] = sum / ch;
        }
        return m;
    };
    const std::vector<double> a = Mono(decoded, decodedChannels);
    const std::vector<double> b = Mono(source, sourceChannels);
    long best = 0;
    double bestScore = -2.0;
    const long from = maxLag;
    const long to = static_cast<long>(std::min(a.size(), b.size())) - maxLag;
    for (long lag = -maxLag; lag <= maxLag; ++lag) {
        double ab = 0.0, aa = 0.0, bb = 0.0;
        for (long n = from; n < to; n += 4) {
            const double x = a[static_cast<size_t>(n + lag)];
            const double y = b[static_cast<size_t>(n)];
            ab += x * y;
            aa += x * x;
            bb += y * y;
        }
        const double score = ab / std::sqrt(aa * bb + 1e-9);
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    return best;
}

// A Velora VBR file records its encoder's delay in the VBRI header: decoded, it lines up with
// its source sample for sample; with --no-gapless it comes that delay (less the header frame)
// later.
TEST_F(VeloraCommand, VeloraVbrFileLinesUpWithItsSource) {
    constexpr int kRate = 44100;
    std::vector<int16_t> source(2 * kRate * 2);  // 2 s stereo: noise bursts over a quiet tone
    uint32_t seed = 12345;
    double smooth = 0.0;
    for (size_t i = 0; i < source.size() / 2; ++i) {
        seed = seed * 1664525u + 1013904223u;
        smooth += 0.3 * ((static_cast<double>(seed >> 8) / 8388608.0 - 1.0) - smooth);
        const double burst = (i / 4410) % 3 == 0 ? 0.6 : 0.05;
        const double tone = 0.1 * std::sin(2.0 * 3.14159265358979 * 330.0 * static_cast<double>(i) / kRate);
        source[2 * i] = static_cast<int16_t>(std::lround(32767.0 * (burst * smooth + tone)));
        source[2 * i + 1] = static_cast<int16_t>(std::lround(32767.0 * (0.8 * burst * smooth - tone)));
    }
    const fs::path wav = dir_ / "source.wav";
    std::FILE* f = std::fopen(wav.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    veloraplay::WaveFileWriter writer;
    const bool written = writer.Begin(f, 2, kRate) && writer.Append(source.data(), source.size()) && writer.Finish();
    ASSERT_EQ(std::fclose(f), 0);
    ASSERT_TRUE(written);

    const fs::path mp3 = dir_ / "vbr.mp3";
    CommandResult r = Velora("encode --quiet -V 60 " + wav.string() + " " + mp3.string());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string file = Slurp(mp3);
    ASSERT_GT(file.size(), 62u);
    ASSERT_EQ(file.substr(36, 4), "VBRI");
    const long delay = static_cast<uint8_t>(file[42]) << 8 | static_cast<uint8_t>(file[43]);
    const fs::path out = dir_ / "out.wav";
    for (const bool gapless : {true, false}) {
        SCOPED_TRACE(gapless ? "gapless" : "--no-gapless");
        r = Velora(std::string("decode -q ") + (gapless ? "" : "--no-gapless ") + mp3.string() + " " + out.string());
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string decoded = Slurp(out);
        ASSERT_GE(decoded.size(), 44u);
        ASSERT_EQ(Le32(decoded, 24), static_cast<uint32_t>(kRate));
        const std::vector<int16_t> pcm = WaveSamples(decoded);
        const int channels = Le16(decoded, 22);
        const long lag = BestLag(pcm, channels, source, 2, 4000);
        std::printf("Velora VBR (VBRI delay %ld), %s: decoded %zu samples for %zu, lag %ld\n", delay,
                    gapless ? "gapless" : "--no-gapless", pcm.size() / static_cast<size_t>(channels),
                    source.size() / 2, lag);
        EXPECT_EQ(lag, gapless ? 0 : delay - 1152);
        EXPECT_GE(pcm.size() / static_cast<size_t>(channels), source.size() / 2);
    }
}

// ---------------------------------------------------------------------------------------------
// Velora files

struct VeloraFiles {
    bool made = false;
    int stereoFrames = 0;
    int monoFrames = 0;
    std::vector<uint8_t> velora;   // 22050 Hz stereo with payloads
    std::vector<uint8_t> plain;    // the same frames without
    std::vector<uint8_t> mpeg1;    // 44100 Hz with payloads
    std::vector<uint8_t> dropout;  // stereo Velora frames, then mono ones the enhancement refuses
};

// Widened lame frames with payloads; empty when lame fails.
std::vector<uint8_t> MakeVelora(const std::string& lame, const velora::test::ScratchDir& dir,
                                const std::string& name, int rate, int channels, int kbps,
                                int wideKbps, std::vector<uint8_t>* plain, int* frames) {
    namespace vt = velora::test;
    const std::vector<int16_t> pcm =
        vt::MakeTones(rate, channels, 2.0, {{1000.0, 0.3}, {2500.0, 0.1}}, 0.002);
    vt::LameSettings settings;
    settings.rate = rate;
    settings.channels = channels;
    settings.kbps = kbps;
    const auto mp3 = vt::EncodeWithLame(lame, dir, name, pcm, settings);
    if (!mp3) return {};
    const std::vector<uint8_t> wide = vt::WidenFrames(*mp3, wideKbps);
    vt::VeloraPayloadPlan plan;
    plan.stereo = channels == 2;
    const vt::VeloraPayloadMaker maker(plan);
    vt::VeloraBuildReport report;
    std::vector<uint8_t> out = vt::BuildVeloraStream(
        wide, [&](int i) { return maker(i); }, &report);
    if (!report.ok || report.withPayload != report.frames) return {};
    if (plain != nullptr) *plain = wide;
    if (frames != nullptr) *frames = report.frames;
    return out;
}

const VeloraFiles& TheVeloraFiles() {
    static const VeloraFiles files = [] {
        VeloraFiles f;
        const std::string lame = velora::test::FindTool("lame");
        if (lame.empty()) return f;
        const velora::test::ScratchDir dir("velora-cli-streams");
        f.velora = MakeVelora(lame, dir, "stereo", 22050, 2, 48, 64, &f.plain, &f.stereoFrames);
        f.mpeg1 = MakeVelora(lame, dir, "mpeg1", 44100, 2, 128, 160, nullptr, nullptr);
        const std::vector<uint8_t> mono =
            MakeVelora(lame, dir, "mono", 22050, 1, 32, 48, nullptr, &f.monoFrames);
        // The mono frames from the second one on, whose payload carries no header.
        const auto layouts = velora::test::ListFrameLayouts(mono);
        if (layouts.size() > 2) {
            f.dropout = f.velora;
            f.dropout.insert(f.dropout.end(),
                             mono.begin() + static_cast<std::ptrdiff_t>(layouts[1].offset),
                             mono.end());
        }
        f.made = !f.velora.empty() && !f.mpeg1.empty() && !f.dropout.empty();
        return f;
    }();
    return files;
}

// What the library makes of `bytes`: 16-bit samples, with or without the enhancement.
std::vector<int16_t> LibraryDecode(const std::vector<uint8_t>& bytes, bool enhancement) {
    std::vector<int16_t> pcm;
    velora::VeloradecoderPtr d(velora::Veloradecoder::Create(0, false, false));
    if (!d) return pcm;
    std::vector<int16_t> out(velora::kMaxFrameSamples);
    size_t fed = 0;
    for (int guard = 0; guard < 100000; ++guard) {
        if (fed < bytes.size()) {
            fed += static_cast<size_t>(
                d->Feed(bytes.data() + fed, static_cast<int>(bytes.size() - fed)));
            if (fed == bytes.size()) d->SetEndOfData();
        }
        int written = 0;
        const velora::Mp3Ssc status = d->Decode(out.data(), static_cast<int>(out.size() * 2),
                                                &written, enhancement, nullptr, nullptr);
        if (status == velora::kSscSyncEof || velora::SscIsError(status)) break;
        if (velora::SscSucceeded(status))
            pcm.insert(pcm.end(), out.begin(), out.begin() + written / 2);
    }
    return pcm;
}

std::vector<int16_t> WaveSamples(const std::string& wav) {
    std::vector<int16_t> pcm;
    if (wav.size() < 44) return pcm;
    pcm.resize((wav.size() - 44) / 2);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(Le16(wav, 44 + 2 * i));
    return pcm;
}

class velora_cli_velora : public VeloraCommand {
  protected:
    void SetUp() override {
        VeloraCommand::SetUp();
        if (velora::test::FindTool("lame").empty()) GTEST_SKIP() << "lame is not on PATH";
        ASSERT_TRUE(TheVeloraFiles().made) << "lame or the stream builder failed";
    }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const fs::path p = dir_ / name;
        EXPECT_TRUE(velora::test::WriteAll(p, bytes));
        return p.string();
    }
};

TEST_F(velora_cli_velora, DecodeDoublesTheRateWithOrWithoutTheHighBand) {
    const VeloraFiles& f = TheVeloraFiles();
    const std::string in = Write("stream.mp3", f.velora);
    const std::vector<std::pair<std::string, bool>> runs = {
        {"", true}, {"-n ", false}, {"--no-enhancement ", false}, {"--no-sbr ", false}};
    for (const auto& [option, enhancement] : runs) {
        SCOPED_TRACE(option);
        const fs::path out = dir_ / "out.wav";
        const CommandResult r = Velora("decode -q " + option + in + " " + out.string());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const std::string wav = Slurp(out);
        ASSERT_GE(wav.size(), 44u);
        EXPECT_EQ(Le16(wav, 22), 2);
        EXPECT_EQ(Le32(wav, 24), 44100u);
        EXPECT_EQ(Le32(wav, 28), 44100u * 4);
        EXPECT_EQ(wav.size() - 44, static_cast<size_t>(f.stereoFrames) * 1152 * 4);
        EXPECT_EQ(WaveSamples(wav), LibraryDecode(f.velora, enhancement));
    }
    // The same frames without payloads stay at the core rate.
    const fs::path out = dir_ / "plain.wav";
    const CommandResult r = Velora("decode -q " + Write("plain.mp3", f.plain) + " " + out.string());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string wav = Slurp(out);
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(Le32(wav, 24), 22050u);
    EXPECT_EQ(wav.size() - 44, static_cast<size_t>(f.stereoFrames) * 576 * 4);
}

TEST_F(velora_cli_velora, EnhancementThatStopsKeepsTheFileInTime) {
    const VeloraFiles& f = TheVeloraFiles();
    const fs::path out = dir_ / "out.wav";
    const CommandResult r =
        Velora("decode -q " + Write("dropout.mp3", f.dropout) + " " + out.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("resampled to 44100 Hz"), std::string::npos) << r.err;
    const std::string wav = Slurp(out);
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(Le16(wav, 22), 2);
    EXPECT_EQ(Le32(wav, 24), 44100u);
    // Every mono frame of 576 samples at 22050 Hz becomes 1152 stereo samples at 44100 Hz.
    const size_t frames = static_cast<size_t>(f.stereoFrames + f.monoFrames - 1);
    EXPECT_EQ(wav.size() - 44, frames * 1152 * 4);
    // The resampled part holds every core sample, on both channels.
    const std::vector<int16_t> pcm = WaveSamples(wav);
    const std::vector<int16_t> core = LibraryDecode(f.dropout, true);
    const size_t tail = static_cast<size_t>(f.monoFrames - 1) * 576;  // mono core samples
    ASSERT_GE(core.size(), tail);
    ASSERT_EQ(pcm.size(), frames * 1152 * 2);
    for (size_t i = 0; i < tail; ++i) {
        const int16_t want = core[core.size() - tail + i];
        const size_t at = pcm.size() - 4 * (tail - i) + 2;  // second sample pair of each
        ASSERT_EQ(pcm[at], want) << i;
        ASSERT_EQ(pcm[at + 1], want) << i;
    }
}

TEST_F(velora_cli_velora, InfoNamesTheCoreAndOutputRates) {
    const VeloraFiles& f = TheVeloraFiles();
    const std::string velora = Write("velora.mp3", f.velora);
    CommandResult r = Velora("info " + velora);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("MPEG-2 Layer III, Velora (enhancement layer present)\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Sample rate: 22050 Hz\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Core rate:   22050 Hz\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Output rate: 44100 Hz (with the enhancement)\n"), std::string::npos)
        << r.out;
    r = Velora("info --json " + velora);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"velora\": true,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"enhancement\": true,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"sampleRate\": 22050,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"coreRate\": 22050,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"outputRate\": 44100,"), std::string::npos) << r.out;

    // Payloads in a 44100 Hz stream: a Velora stream whose enhancement this decoder cannot run.
    const std::string mpeg1 = Write("mpeg1.mp3", f.mpeg1);
    r = Velora("info " + mpeg1);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(
        r.out.find("MPEG-1 Layer III, Velora (enhancement layer present, not decodable here)\n"),
        std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Output rate: 44100 Hz\n"), std::string::npos) << r.out;
    r = Velora("info --json " + mpeg1);
    EXPECT_NE(r.out.find("\"velora\": true,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"enhancement\": false,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"outputRate\": 44100,"), std::string::npos) << r.out;

    const std::string plain = Write("plain.mp3", f.plain);
    r = Velora("info --json " + plain);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"velora\": false,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"enhancement\": false,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"outputRate\": 22050,"), std::string::npos) << r.out;
    r = Velora("info " + plain);
    EXPECT_NE(r.out.find("plain mp3"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Output rate: 22050 Hz\n"), std::string::npos) << r.out;
}

TEST_F(velora_cli_velora, UsageNamesTheSwitch) {
    const CommandResult r = Velora("--help");
    EXPECT_NE(r.out.find("--no-enhancement"), std::string::npos);
    EXPECT_NE(r.out.find("--no-sbr"), std::string::npos);
}

}  // namespace

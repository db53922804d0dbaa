// The velora command as a user meets it: exit codes, messages, the output file appearing
// only when complete, the WAVE layout, and info; for Velora files (made from lame's frames
// by the test stream builder) the doubled rate, the switch that leaves the high band out
// and what info says about the enhancement.
#include <algorithm>
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

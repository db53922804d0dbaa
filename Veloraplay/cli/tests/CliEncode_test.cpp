// `velora encode` as a user meets it: a WAVE file in, a file out that this project's decoder
// plays as Velora (or as plain mp3 without SBR) and the peers accept, with the default tag
// at its end and, for VBR, the VBRI header frame first; refusals with one line naming what
// is supported, exit status 1 and no output file.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CommandFixture.h"
#include "MpegHeader.h"
#include "Veloradecoder.h"

namespace {

namespace fs = std::filesystem;

using velora::cli::test::CommandResult;
using velora::cli::test::Slurp;

void Put16(std::string& s, uint32_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

// A RIFF/WAVE file of `seconds` of two tones and some noise.
std::string Wave(int rate, int channels, double seconds, int bits = 16) {
    const uint32_t frames = static_cast<uint32_t>(seconds * rate);
    const uint32_t blockAlign = static_cast<uint32_t>(channels * bits / 8);
    std::string data;
    uint32_t seed = 1;
    for (uint32_t n = 0; n < frames; ++n) {
        for (int ch = 0; ch < channels; ++ch) {
            seed = seed * 1664525u + 1013904223u;
            const double t = static_cast<double>(n) / rate;
            const double v = 6000.0 * std::sin(2 * 3.14159265358979 * (ch == 0 ? 440.0 : 660.0) * t) +
                             3000.0 * std::sin(2 * 3.14159265358979 * 3100.0 * t) +
                             static_cast<double>(static_cast<int>(seed >> 20) - 2048) * 0.3;
            const auto s = static_cast<int32_t>(std::lround(v));
            if (bits == 16) {
                Put16(data, static_cast<uint32_t>(s) & 0xFFFF);
            } else {
                const uint32_t u = static_cast<uint32_t>(s * 256);
                data.push_back(static_cast<char>(u & 0xFF));
                data.push_back(static_cast<char>((u >> 8) & 0xFF));
                data.push_back(static_cast<char>((u >> 16) & 0xFF));
            }
        }
    }
    std::string w = "RIFF";
    Put32(w, static_cast<uint32_t>(36 + data.size()));
    w += "WAVEfmt ";
    Put32(w, 16);
    Put16(w, 1);
    Put16(w, static_cast<uint32_t>(channels));
    Put32(w, static_cast<uint32_t>(rate));
    Put32(w, static_cast<uint32_t>(rate) * blockAlign);
    Put16(w, blockAlign);
    Put16(w, static_cast<uint32_t>(bits));
    w += "data";
    Put32(w, static_cast<uint32_t>(data.size()));
    return w + data;
}

uint32_t Be32(const std::string& s, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 8 | static_cast<uint8_t>(s[at + 3]);
}

// The frames of a file without its 128-byte tag.
std::vector<velora::MpegHeader> Frames(const std::string& file, bool& exact) {
    std::vector<velora::MpegHeader> frames;
    const size_t end = file.size() >= 128 ? file.size() - 128 : 0;
    size_t at = 0;
    while (at + 4 <= end) {
        velora::MpegHeader h;
        if (!h.Parse(Be32(file, at))) break;
        frames.push_back(h);
        at += static_cast<size_t>(h.frameBits / 8);
    }
    exact = at == end;
    return frames;
}

struct Decoded {
    size_t samples = 0;  // per channel
    velora::FrameInfo info{};
    bool errors = false;
};

Decoded Decode(const std::string& file) {
    Decoded d;
    velora::VeloradecoderPtr decoder(velora::Veloradecoder::Create(0, false, false));
    if (!decoder) return d;
    const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
    size_t fed = 0;
    std::vector<int16_t> out(velora::kMaxFrameSamples * 2);
    for (int guard = 0; guard < 1000000; ++guard) {
        if (fed < file.size()) {
            fed += static_cast<size_t>(decoder->Feed(bytes + fed, static_cast<int>(file.size() - fed)));
            if (fed == file.size()) decoder->SetEndOfData();
        }
        int written = 0;
        const velora::Mp3Ssc status =
            decoder->Decode(out.data(), static_cast<int>(out.size() * 2), &written, true, nullptr, nullptr);
        if (status == velora::kSscSyncEof) break;
        if (velora::SscIsError(status)) d.errors = true;
        if (velora::SscSucceeded(status) && written > 0) {
            d.info = decoder->Info();
            d.samples += static_cast<size_t>(written) / 2 / static_cast<size_t>(d.info.outputChannels);
        }
    }
    return d;
}

class velora_cli_encode : public velora::cli::test::CommandFixture {
  protected:
    velora_cli_encode() : CommandFixture("velora-cli-encode-") {}

    std::string Write(const std::string& name, const std::string& bytes) {
        const fs::path p = dir_ / name;
        std::FILE* f = std::fopen(p.c_str(), "wb");
        if (f != nullptr) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return p.string();
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(velora_cli_encode, StereoBecomesAVeloraFileWithTheDefaultTag) {
    for (int rate : {44100, 48000}) {
        const std::string in = Write("in.wav", Wave(rate, 2, 2.0));
        const std::string out = (dir_ / "out.mp3").string();
        const CommandResult r = Velora("encode " + in + " " + out);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");  // no progress line off a terminal
        EXPECT_EQ(Files(), (std::vector<std::string>{"in.wav", "out.mp3"}));
        const std::string file = Slurp(out);
        ASSERT_GT(file.size(), 128u);
        EXPECT_EQ(file.substr(file.size() - 128, 3), "TAG");
        EXPECT_EQ(file.substr(file.size() - 125, 2), "in");  // the title from the file name
        bool exact = false;
        const std::vector<velora::MpegHeader> frames = Frames(file, exact);
        EXPECT_TRUE(exact);
        ASSERT_FALSE(frames.empty());
        for (const velora::MpegHeader& h : frames) {
            ASSERT_EQ(h.samplingRate, 22050);
            ASSERT_EQ(h.bitrate, 64000);
        }
        const Decoded d = Decode(file);
        EXPECT_FALSE(d.errors);
        EXPECT_EQ(d.info.outputSamplingRate, 44100);
        EXPECT_EQ(d.info.sbrActive, 1);
        EXPECT_EQ(d.info.outputChannels, 2);
        EXPECT_GE(d.samples, static_cast<size_t>(2.0 * 44100));
        if (std::system("command -v ffmpeg >/dev/null 2>&1") == 0) {
            const std::string log = (dir_ / "ffmpeg.txt").string();
            std::system(("ffmpeg -nostdin -v error -i " + out + " -f null - 2>" + log).c_str());
            EXPECT_EQ(Slurp(log), "");
            fs::remove(log);
        }
        fs::remove(out);
    }
}

TEST_F(velora_cli_encode, OptionsReachTheStream) {
    const std::string in = Write("in.wav", Wave(44100, 2, 1.0));
    const std::string out = (dir_ / "out.mp3").string();
    // Without SBR: plain mp3 at 22050 Hz.
    CommandResult r = Velora("encode --no-sbr -q 0 --no-intensity " + in + " " + out);
    ASSERT_EQ(r.status, 0) << r.err;
    Decoded d = Decode(Slurp(out));
    EXPECT_EQ(d.info.outputSamplingRate, 22050);
    EXPECT_EQ(d.info.sbrActive, 0);
    // Dual Mono: two channels coded apart.
    r = Velora("encode --mode dual -b 64 " + in + " " + out);
    ASSERT_EQ(r.status, 0) << r.err;
    bool exact = false;
    const std::vector<velora::MpegHeader> frames = Frames(Slurp(out), exact);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].mode, 2);
    d = Decode(Slurp(out));
    EXPECT_EQ(d.info.sbrActive, 1);
    // A one-channel file.
    const std::string mono = Write("mono.wav", Wave(44100, 1, 1.0));
    r = Velora("encode --quiet " + mono + " " + out);
    ASSERT_EQ(r.status, 0) << r.err;
    d = Decode(Slurp(out));
    EXPECT_EQ(d.info.outputChannels, 1);
    EXPECT_EQ(d.info.outputSamplingRate, 44100);  // one-channel SBR ends at 48 kbit/s
    EXPECT_EQ(d.info.sbrActive, 0);
    r = Velora("encode --quiet -b 32 " + mono + " " + out);
    ASSERT_EQ(r.status, 0) << r.err;
    d = Decode(Slurp(out));
    EXPECT_EQ(d.info.outputSamplingRate, 44100);
    EXPECT_EQ(d.info.sbrActive, 1);
}

TEST_F(velora_cli_encode, VbrFileStartsWithItsHeaderFrame) {
    const std::string in = Write("in.wav", Wave(44100, 2, 3.0));
    const std::string out = (dir_ / "out.mp3").string();
    const CommandResult r = Velora("encode -V 50 " + in + " " + out);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string file = Slurp(out);
    bool exact = false;
    const std::vector<velora::MpegHeader> frames = Frames(file, exact);
    EXPECT_TRUE(exact);
    ASSERT_GT(frames.size(), 10u);
    ASSERT_GT(file.size(), 62u);
    EXPECT_EQ(file.substr(36, 4), "VBRI");
    EXPECT_EQ(Be32(file, 50), frames.size());                           // audio frames + the header frame
    EXPECT_EQ(Be32(file, 46), file.size() - 128);                       // stream bytes, without the tag
    EXPECT_EQ((static_cast<uint8_t>(file[44]) << 8) | static_cast<uint8_t>(file[45]), 50);  // quality
    EXPECT_EQ(file.substr(file.size() - 128, 3), "TAG");
    const Decoded d = Decode(file);
    EXPECT_EQ(d.info.sbrActive, 1);
}

// An LC Stereo VBR file starts with its header frame, which comes before the SBR header that
// turns the single core channel into stereo: `velora decode` must still write two channels,
// every audio frame without the header frame and the delay its VBRI header records.
TEST_F(velora_cli_encode, LcStereoVbrDecodesToTwoChannels) {
    const std::string in = Write("in.wav", Wave(44100, 2, 2.0));
    const std::string out = (dir_ / "lc.mp3").string();
    const CommandResult r = Velora("encode --quiet --mode lc -b 48 -V 80 " + in + " " + out);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string wav = (dir_ / "lc.wav").string();
    const CommandResult d = Velora("decode -q " + out + " " + wav);
    ASSERT_EQ(d.status, 0) << d.err;
    const std::string pcm = Slurp(wav);
    ASSERT_GT(pcm.size(), 44u);
    EXPECT_EQ(static_cast<uint8_t>(pcm[22]), 2) << "channels in the WAVE header";
    EXPECT_EQ(Be32(pcm, 24), 0x44AC0000u) << "44100 Hz, little-endian";
    bool exact = false;
    const std::string file = Slurp(out);
    const size_t frames = Frames(file, exact).size();
    ASSERT_GT(file.size(), 44u);
    // The delay counts the header frame's 1152 samples.
    const size_t delay = (static_cast<uint8_t>(file[42]) << 8 | static_cast<uint8_t>(file[43])) - 1152u;
    EXPECT_EQ(pcm.size() - 44, ((frames - 1) * 1152u - delay) * 2u * 2u) << "every audio frame at two channels";
}

TEST_F(velora_cli_encode, RefusalsNameWhatIsSupportedAndLeaveNoFile) {
    const std::string stereo = Write("in.wav", Wave(44100, 2, 0.5));
    const std::string deep = Write("deep.wav", Wave(44100, 2, 0.5, 24));
    const std::string slow = Write("slow.wav", Wave(16000, 2, 0.5));
    const std::string junk = Write("junk.wav", "RIFF1234WAVEjunkjunk");
    const std::string out = (dir_ / "out.mp3").string();
    struct Case {
        std::string args;
        std::string says;
    };
    const Case cases[] = {
        {deep + " " + out, "only 16-bit linear PCM"},
        {junk + " " + out, "only 16-bit linear PCM"},
        {(dir_ / "missing.wav").string() + " " + out, "only 16-bit linear PCM"},
        {slow + " " + out, "kbit/s from 2-channel input at 22050"},
        {"-b 50 " + stereo + " " + out, "supported: 8, 16, 24, 32"},
        {"--mode lc " + stereo + " " + out, "modes mono, stereo, dual"},
        {"--mode lc -V 70 " + stereo + " " + out, "VBR with SBR at quality 1..100"},
    };
    for (const Case& c : cases) {
        const CommandResult r = Velora("encode " + c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("velora: ", 0), 0u) << r.err;
        EXPECT_FALSE(fs::exists(out)) << c.args;
    }
    EXPECT_EQ(Files(), (std::vector<std::string>{"deep.wav", "in.wav", "junk.wav", "slow.wav"}));
}

// The list comes from the encoder itself: a sample of its lines encodes to what the line
// says, and what is not listed is refused.
TEST_F(velora_cli_encode, ListNamesWhatTheEncoderDoes) {
    const CommandResult list = Velora("encode --list");
    ASSERT_EQ(list.status, 0) << list.err;
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < list.out.size()) {
        const size_t end = list.out.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        lines.push_back(list.out.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_GT(lines.size(), 100u);
    for (size_t i = 0; i < lines.size(); ++i)
        for (size_t j = i + 1; j < lines.size(); ++j) ASSERT_NE(lines[i], lines[j]);
    const auto listed = [&lines](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(listed("cbr in=44100 ch=2 mode=stereo sbr=on kbps=64 out=44100"));
    EXPECT_TRUE(listed("cbr in=44100 ch=2 mode=stereo sbr=on kbps=128 out=44100"));
    EXPECT_TRUE(listed("cbr in=44100 ch=2 mode=lc sbr=on kbps=32 out=44100"));
    EXPECT_TRUE(listed("cbr in=48000 ch=2 mode=stereo sbr=off kbps=320 out=48000"));
    EXPECT_TRUE(listed("vbr in=44100 ch=2 mode=stereo sbr=on q=1..100 out=44100 kbps=64"));
    EXPECT_FALSE(listed("cbr in=44100 ch=2 mode=lc sbr=on kbps=64 out=44100"));

    // Every 12th constant-rate line from a two-channel 44100 or 48000 Hz input, plus one
    // named above, encoded from a WAVE file with the line's options.
    const std::string wave44 = Write("in44.wav", Wave(44100, 2, 0.3));
    const std::string wave48 = Write("in48.wav", Wave(48000, 2, 0.3));
    const std::string out = (dir_ / "out.mp3").string();
    int checked = 0;
    int candidates = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        const bool named = l == "cbr in=44100 ch=2 mode=lc sbr=on kbps=32 out=44100";
        if (l.rfind("cbr in=44100 ch=2 ", 0) != 0 && l.rfind("cbr in=48000 ch=2 ", 0) != 0) continue;
        if (candidates++ % 12 != 0 && !named) continue;
        char mode[16] = {};
        char sbr[8] = {};
        int in = 0, kbps = 0, rate = 0;
        ASSERT_EQ(std::sscanf(l.c_str(), "cbr in=%d ch=2 mode=%15s sbr=%7s kbps=%d out=%d", &in, mode, sbr, &kbps, &rate), 5)
            << l;
        const std::string args = std::string("encode --quiet --mode ") + mode + (std::string(sbr) == "on" ? "" : " --no-sbr") +
                                 " -b " + std::to_string(kbps) + " " + (in == 44100 ? wave44 : wave48) + " " + out;
        const CommandResult r = Velora(args);
        ASSERT_EQ(r.status, 0) << l << ": " << r.err;
        bool exact = false;
        const std::vector<velora::MpegHeader> frames = Frames(Slurp(out), exact);
        ASSERT_FALSE(frames.empty()) << l;
        EXPECT_EQ(frames[0].bitrate, kbps * 1000) << l;
        const Decoded d = Decode(Slurp(out));
        EXPECT_EQ(d.info.sbrActive != 0, std::string(sbr) == "on") << l;
        EXPECT_EQ(d.info.outputSamplingRate, rate) << l;
        ++checked;
    }
    EXPECT_GE(checked, 8);
    // Not listed, refused.
    const CommandResult r = Velora("encode --quiet --mode lc -b 64 " + wave44 + " " + out);
    EXPECT_EQ(r.status, 1);
}

TEST_F(velora_cli_encode, UsageErrors) {
    const std::string in = Write("in.wav", Wave(44100, 2, 0.2));
    const std::string o = (dir_ / "o.mp3").string();
    const std::vector<std::string> commands = {
        "encode", "encode " + in, "encode -q 3 " + in + " " + o, "encode -V 0 " + in + " " + o,
        "encode --mode quad " + in + " " + o, "encode -b " + in + " " + o, "encode --frob " + in + " " + o,
        "encode " + in + " -", "encode --list " + in};
    for (const std::string& args : commands) {
        const CommandResult r = Velora(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("velora --help"), std::string::npos) << r.err;
    }
    EXPECT_EQ(Files(), std::vector<std::string>{"in.wav"});
    const CommandResult help = Velora("--help");
    EXPECT_NE(help.out.find("encode [OPTIONS] IN.wav OUT"), std::string::npos);
    EXPECT_NE(help.out.find("--vbr-quality"), std::string::npos);
}

}  // namespace

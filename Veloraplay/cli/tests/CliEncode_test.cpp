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
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "CommandFixture.h"
#include "EncoderApi.h"
#include "MpegHeader.h"
#include "Veloradecoder.h"
#include "EncodeJob.h"

namespace {

namespace fs = std::filesystem;

using velora::cli::test::CommandResult;
using velora::cli::test::Slurp;

using velora::cli::test::PutLe;

// A RIFF/WAVE file of `seconds` of two tones and some noise.
std::string Wave(int rate, int channels, double seconds, int bits = 16) {
    const uint32_t frames = static_cast<uint32_t>(seconds * rate);
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
                PutLe(data, static_cast<uint32_t>(s) & 0xFFFF, 2);
            } else {
                const uint32_t u = static_cast<uint32_t>(s * 256);
                data.push_back(static_cast<char>(u & 0xFF));
                data.push_back(static_cast<char>((u >> 8) & 0xFF));
                data.push_back(static_cast<char>((u >> 16) & 0xFF));
            }
        }
    }
    return velora::cli::test::WaveHeader(channels, rate, bits, static_cast<uint32_t>(data.size())) + data;
}

uint32_t Le32(const std::string& s, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8 | static_cast<uint8_t>(s[at]);
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

// Every refusal is one line that names the file and what would be taken instead.
TEST_F(velora_cli_encode, RefusalsNameWhatIsSupportedAndLeaveNoFile) {
    const std::string stereo = Write("in.wav", Wave(44100, 2, 0.5));
    const std::string three = Write("three.wav", Wave(44100, 3, 0.5));
    const std::string slow = Write("slow.wav", Wave(16000, 2, 0.5));
    const std::string tiny = Write("tiny.wav", Wave(4000, 2, 0.5));
    const std::string junk = Write("junk.wav", "RIFF1234WAVEjunkjunk");
    const std::string missing = (dir_ / "missing.wav").string();
    const std::string out = (dir_ / "out.mp3").string();
    struct Case {
        std::string args;
        std::string file;
        std::string says;
    };
    const Case cases[] = {
        {junk + " " + out, junk, "not a sound file this reads (Error in WAV file. No 'data' chunk marker.); velora "
                                 "encode reads WAVE (any PCM width, float, the extensible header), RF64, AIFF, FLAC"},
        {missing + " " + out, missing, "cannot open it: No such file or directory\n"},
        {three + " " + out, three, "3 channels; the encoder takes one or two (--downmix mixes more to stereo)\n"},
        {tiny + " " + out, tiny, "4000 Hz input; rates from 8000 to 192000 Hz are converted to one the encoder takes "
                                 "(8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000 Hz)\n"},
        {"--resample 7000 " + stereo + " " + out, stereo, "cannot encode at 7000 Hz with these options; they are "
                                                          "offered at 8000, 11025, 12000, 16000"},
        {"--mode lc -b 32 --resample 16000 " + stereo + " " + out, stereo, "offered at 32000, 44100, 48000 Hz\n"},
        // Only what works for that input, mode and SBR request: MPEG-2's bit rates for
        // 16000 Hz, LC Stereo's four, the other modes when the one asked has none.
        {"-b 192 --resample 16000 " + slow + " " + out, slow,
         "offered for it: 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160 kbit/s stereo\n"},
        {"-b 50 " + stereo + " " + out, stereo, "offered for it: 8, 16, 24, 32"},
        {"--mode lc " + stereo + " " + out, stereo, "offered for it: 24, 32, 40, 48 kbit/s lc\n"},
        {"--mode lc -V 70 " + stereo + " " + out, stereo, "offered for it: 24, 32, 40, 48 kbit/s lc at VBR quality 70\n"},
        {"--mode lc --no-sbr " + slow + " " + out, slow, "offered for it: no bit rate for lc without SBR; 8, 16"},
    };
    for (const Case& c : cases) {
        const CommandResult r = Velora("encode " + c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(r.err.rfind("velora: '" + c.file + "': ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(out)) << c.args;
    }
    EXPECT_EQ(Files(), (std::vector<std::string>{"in.wav", "junk.wav", "slow.wav", "three.wav", "tiny.wav"}));
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

namespace enc = velora::enc;

struct EncoderCloser {
    void operator()(enc::Mp3EncInstance* h) const { enc::mp3EncClose(h); }
};
using Encoder = std::unique_ptr<enc::Mp3EncInstance, EncoderCloser>;

constexpr int kInputRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr int kStandardKbps[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};
const char* const kModeNames[] = {"", "mono", "stereo", "lc", "dual"};

// The output format `velora encode` asks for with these options.
enc::EncoderOutputFormat AskedFormat(const veloraplay::EncodeOptions& o, int channels) {
    enc::EncoderOutputFormat f;
    f.channelMode = o.channelMode != 0 ? o.channelMode
                                       : (channels == 2 ? enc::kChannelModeStereo : enc::kChannelModeMono);
    f.sbrMode = o.sbr ? enc::kSbrModeOn : enc::kSbrModeOff;
    f.bitrate = static_cast<uint32_t>(o.bitrateKbps) * 1000u;
    f.vbrQuality = static_cast<uint32_t>(o.vbrQuality);
    return f;
}

// Whether an instance (any earlier format; each setting re-initialises it) takes the options.
bool Accepted(enc::Mp3EncInstance* h, int channels, const veloraplay::EncodeOptions& o) {
    enc::EncoderOutputFormat f = AskedFormat(o, channels);
    return enc::mp3EncSetOutputFormat(h, &f) == 1;
}

// The whole stream the library makes of `pcm` (16-bit interleaved), fed as the job feeds it;
// empty on an encoder error.
std::string EncodeWithLibrary(enc::Mp3EncInstance* h, const std::string& pcm) {
    std::string stream;
    std::vector<uint8_t> out(enc::kEncodeOutputBytes);
    const int header = enc::mp3EncGetVbrHeader(h, out.data(), static_cast<int>(out.size()));
    stream.append(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(header));
    size_t at = 0;
    for (int guard = 0; guard < 100000; ++guard) {
        const int pending = static_cast<int>(std::min<size_t>(2304, pcm.size() - at));
        int consumed = 0;
        const int n = enc::VeloraencEncodeFrame(h, pcm.data() + at, pending, &consumed, out.data(),
                                                static_cast<int>(out.size()), 0, 0);
        if (n < 0) return std::string();
        at += static_cast<size_t>(consumed);
        stream.append(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(n));
        if (pending == 0 && n == 0) break;
    }
    if (header > 0) enc::mp3EncGetVbrHeader(h, reinterpret_cast<uint8_t*>(stream.data()), static_cast<int>(stream.size()));
    return stream;
}

// The bit rates a refusal names, by the mode each is named with: "8, 16 kbit/s stereo
// without SBR; 32 kbit/s mono without SBR" or "no bit rate lc without SBR; ...".
std::vector<std::pair<uint32_t, int>> NamedBitrates(const std::string& text) {
    std::vector<std::pair<uint32_t, int>> named;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find("; ", at);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(at, end - at);
        const size_t unit = part.find(" kbit/s ");
        if (unit != std::string::npos) {
            const std::string mode = part.substr(unit + 8, part.find(' ', unit + 8) - unit - 8);
            uint32_t m = 0;
            for (uint32_t i = 1; i <= 4; ++i)
                if (mode == kModeNames[i]) m = i;
            EXPECT_NE(m, 0u) << text;
            const char* p = part.c_str();
            const char* stop = p + unit;
            while (p < stop) {
                char* next = nullptr;
                named.emplace_back(m, static_cast<int>(std::strtol(p, &next, 10)));
                p = next + (*next == ',' ? 2 : 0);
            }
        }
        at = end + 2;
    }
    return named;
}

// Every input rate and channel count, with SBR asked for and not, every mode and standard
// bit rate (and VBR at quality 50) asked as `velora encode` asks: (a) what the encoder
// accepts encodes, 50 ms of it through the library, into frames of the chosen rate and bit
// rate that play at the chosen rate and channel count, with SBR or without, in this
// project's decoder (plain ones also in mpg123); (b)
// what it refuses gets a message naming exactly the bit rates it accepts for that input,
// mode and SBR request, or, with none, others that work for the input.
TEST_F(velora_cli_encode, OfferedPointsEncodeAndRefusalsNameWhatWorks) {
    const bool peer = std::system("command -v mpg123 >/dev/null 2>&1") == 0;
    constexpr double kSeconds = 0.05;
    const std::string mp3 = (dir_ / "point.mp3").string();
    const std::string wav = (dir_ / "point.wav").string();
    int encoded = 0;
    int peerChecked = 0;
    // A request that comes to a point already encoded (SBR asked where there is none, VBR
    // from another bit rate) is not encoded again.
    std::set<std::string> done;
    int refusals = 0;
    for (int rate : kInputRates) {
        for (int channels = 1; channels <= 2; ++channels) {
            Encoder h(enc::mp3EncOpen(rate, channels, enc::kInputInt16));
            ASSERT_TRUE(h) << rate << " Hz " << channels;
            const std::string pcm = Wave(rate, channels, kSeconds).substr(44);
            for (const bool sbr : {true, false}) {
                for (uint32_t mode = enc::kChannelModeMono; mode <= enc::kChannelModeDualMono; ++mode) {
                    for (const int quality : {0, 50}) {
                        veloraplay::EncodeOptions o;
                        o.channelMode = mode;
                        o.sbr = sbr;
                        o.vbrQuality = quality;
                        std::vector<int> accepted;
                        std::vector<int> refused;
                        for (int kbps : kStandardKbps) {
                            if (quality != 0 && kbps != 24 && kbps != 48 && kbps != 64 && kbps != 128) continue;
                            o.bitrateKbps = kbps;
                            const std::string point = std::to_string(rate) + " Hz ch=" + std::to_string(channels) +
                                                      " " + kModeNames[mode] + (sbr ? " sbr" : "") + " " +
                                                      std::to_string(kbps) + " kbit/s q=" + std::to_string(quality);
                            enc::EncoderOutputFormat f = AskedFormat(o, channels);
                            if (enc::mp3EncSetOutputFormat(h.get(), &f) != 1) {
                                refused.push_back(kbps);
                                continue;
                            }
                            accepted.push_back(kbps);
                            if (!done.insert(std::to_string(rate) + " " + std::to_string(channels) + " " +
                                             std::to_string(f.sampleRate) + " " + std::to_string(f.channelMode) + " " +
                                             std::to_string(f.sbrMode) + " " + std::to_string(f.bitrate) + " " +
                                             std::to_string(f.vbrQuality))
                                     .second)
                                continue;
                            const std::string stream = EncodeWithLibrary(h.get(), pcm);
                            ASSERT_FALSE(stream.empty()) << point;
                            const bool withSbr = f.sbrMode == enc::kSbrModeOn;
                            const int coreRate = static_cast<int>(withSbr ? f.sampleRate / 2 : f.sampleRate);
                            size_t at = 0;
                            int frames = 0;
                            while (at + 4 <= stream.size()) {
                                velora::MpegHeader header;
                                ASSERT_TRUE(header.Parse(Be32(stream, at))) << point << " at byte " << at;
                                EXPECT_EQ(header.samplingRate, coreRate) << point;
                                if (quality == 0) {
                                    EXPECT_EQ(header.bitrate, kbps * 1000) << point;
                                }
                                at += static_cast<size_t>(header.frameBits / 8);
                                ++frames;
                            }
                            EXPECT_EQ(at, stream.size()) << point;
                            const int outChannels = f.channelMode == enc::kChannelModeMono ? 1 : 2;
                            const auto least = static_cast<size_t>(kSeconds * f.sampleRate);
                            ++encoded;
                            if (withSbr) {
                                const Decoded d = Decode(stream);
                                EXPECT_FALSE(d.errors) << point;
                                EXPECT_EQ(d.info.outputSamplingRate, static_cast<int>(f.sampleRate)) << point;
                                EXPECT_EQ(d.info.outputChannels, outChannels) << point;
                                EXPECT_NE(d.info.sbrActive, 0) << point;
                                EXPECT_GE(d.samples, least) << point << ", " << frames << " frames";
                                continue;
                            }
                            // Plain mp3: this decoder must not take the filler of a full
                            // frame for a payload, and the peer knows nothing of payloads.
                            const Decoded own = Decode(stream);
                            EXPECT_EQ(own.info.sbrActive, 0) << point;
                            EXPECT_EQ(own.info.outputSamplingRate, static_cast<int>(f.sampleRate)) << point;
                            EXPECT_EQ(own.info.outputChannels, outChannels) << point;
                            if (!peer) continue;
                            Write("point.mp3", stream);
                            ASSERT_EQ(std::system(("mpg123 -q -w " + wav + " " + mp3 + " 2>/dev/null").c_str()), 0) << point;
                            const std::string played = Slurp(wav);
                            ASSERT_GE(played.size(), 44u) << point;
                            EXPECT_EQ(static_cast<uint8_t>(played[22]), outChannels) << point;
                            EXPECT_EQ(Le32(played, 24), f.sampleRate) << point;
                            EXPECT_GE((played.size() - 44) / 2 / static_cast<size_t>(outChannels), least) << point;
                            ++peerChecked;
                        }
                        if (refused.empty()) continue;
                        o.bitrateKbps = refused.front();
                        const std::string text = veloraplay::DescribeOperatingPoints(rate, channels, o);
                        ++refusals;
                        std::vector<int> named;
                        for (const auto& [namedMode, kbps] : NamedBitrates(text)) {
                            if (namedMode == mode) named.push_back(kbps);
                            // What was tried above is known; anything else is asked.
                            if (namedMode == mode && std::find(refused.begin(), refused.end(), kbps) != refused.end()) {
                                ADD_FAILURE() << kbps << " kbit/s refused, but named: " << text;
                                continue;
                            }
                            if (namedMode == mode && std::find(accepted.begin(), accepted.end(), kbps) != accepted.end())
                                continue;
                            veloraplay::EncodeOptions n = o;
                            n.channelMode = namedMode;
                            n.bitrateKbps = kbps;
                            EXPECT_TRUE(Accepted(h.get(), channels, n)) << rate << " Hz ch=" << channels << ": " << text;
                        }
                        // With VBR only some bit rates were tried here: each must be named.
                        for (int kbps : accepted) {
                            EXPECT_NE(std::find(named.begin(), named.end(), kbps), named.end()) << kbps << ": " << text;
                        }
                        if (quality == 0) {
                            EXPECT_EQ(named.size(), accepted.size()) << rate << " Hz ch=" << channels << ": " << text;
                        }
                        if (accepted.empty()) {
                            EXPECT_EQ(text.rfind("no bit rate ", 0), 0u) << text;
                        }
                    }
                }
            }
        }
    }
    std::printf("%d points encoded (%d played by the peer), %d refusals\n", encoded, peerChecked, refusals);
    EXPECT_GT(encoded, 500);
    if (peer) {
        EXPECT_GT(peerChecked, 500);
    }
    EXPECT_GT(refusals, 100);
}

// Two-channel files at MPEG-2.5 and MPEG-2 rates, encoded by the command and played by the
// peer: two channels at the rate the encoder reports, every frame's samples, and the
// signal's level (so not silence or noise from a misread stream).
TEST_F(velora_cli_encode, LowRateStereoFilesPlayInThePeer) {
    if (std::system("command -v mpg123 >/dev/null 2>&1") != 0) GTEST_SKIP() << "mpg123 is not installed";
    const struct {
        int rate;
        int kbps;
        int out;  // Hz
    } cases[] = {{11025, 16, 8000}, {11025, 32, 11025}, {11025, 64, 11025}, {11025, 160, 11025},
                 {16000, 24, 8000}, {16000, 48, 16000}, {16000, 96, 16000}, {16000, 160, 16000}};
    const double seconds = 1.0;
    for (const auto& c : cases) {
        const std::string label = std::to_string(c.rate) + " Hz " + std::to_string(c.kbps) + " kbit/s";
        const std::string wave = Wave(c.rate, 2, seconds);
        const std::string in = Write("in.wav", wave);
        const std::string out = (dir_ / "out.mp3").string();
        const std::string wav = (dir_ / "out.wav").string();
        const CommandResult r = Velora("encode --quiet -b " + std::to_string(c.kbps) + " " + in + " " + out);
        ASSERT_EQ(r.status, 0) << label << ": " << r.err;
        bool exact = false;
        const std::vector<velora::MpegHeader> frames = Frames(Slurp(out), exact);
        EXPECT_TRUE(exact) << label;
        ASSERT_FALSE(frames.empty()) << label;
        EXPECT_EQ(frames[0].samplingRate, c.out) << label;
        EXPECT_EQ(frames[0].bitrate, c.kbps * 1000) << label;
        EXPECT_EQ(frames[0].channels, 2) << label;
        ASSERT_EQ(std::system(("mpg123 -q -w " + wav + " " + out + " 2>/dev/null").c_str()), 0) << label;
        const std::string pcm = Slurp(wav);
        ASSERT_GT(pcm.size(), 44u) << label;
        EXPECT_EQ(static_cast<uint8_t>(pcm[22]), 2) << label;
        EXPECT_EQ(Le32(pcm, 24), static_cast<uint32_t>(c.out)) << label;
        const size_t samples = (pcm.size() - 44) / 4;
        EXPECT_EQ(samples, frames.size() * 576) << label;
        EXPECT_GE(samples, static_cast<size_t>(seconds * c.out)) << label;
        EXPECT_LE(samples, static_cast<size_t>(seconds * c.out) + 4 * 576) << label << ": delay and flush";
        // Levels of the input and the decoded signal, left channel.
        const auto level = [](const std::string& bytes, size_t from) {
            double sum = 0.0;
            size_t n = 0;
            for (size_t at = from; at + 4 <= bytes.size(); at += 4, ++n) {
                const auto v = static_cast<int16_t>(static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8);
                sum += static_cast<double>(v) * v;
            }
            return n > 0 ? 10.0 * std::log10(sum / static_cast<double>(n) + 1.0) : 0.0;
        };
        EXPECT_NEAR(level(pcm, 44), level(wave, 44), 3.0) << label << " (dB)";
    }
}

TEST_F(velora_cli_encode, UsageErrors) {
    const std::string in = Write("in.wav", Wave(44100, 2, 0.2));
    const std::string o = (dir_ / "o.mp3").string();
    const std::vector<std::string> commands = {
        "encode", "encode " + in, "encode -q 3 " + in + " " + o, "encode -V 0 " + in + " " + o,
        "encode --mode quad " + in + " " + o, "encode -b " + in + " " + o, "encode --frob " + in + " " + o,
        "encode --list " + in, "encode --genre-list " + in, "encode --resample x " + in + " " + o,
        "encode --track 0 " + in + " " + o, "encode --track 256 " + in + " " + o, "encode --genre Nope " + in + " " + o,
        "encode --genre 148 " + in + " " + o, "encode --no-tag --title T " + in + " " + o, "encode --title"};
    for (const std::string& args : commands) {
        const CommandResult r = Velora(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("velora --help"), std::string::npos) << r.err;
    }
    EXPECT_EQ(Files(), std::vector<std::string>{"in.wav"});
    const CommandResult help = Velora("--help");
    EXPECT_NE(help.out.find("encode [OPTIONS] IN OUT"), std::string::npos);
    EXPECT_NE(help.out.find("--vbr-quality"), std::string::npos);
}

}  // namespace

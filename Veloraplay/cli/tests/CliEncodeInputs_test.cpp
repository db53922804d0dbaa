// `velora encode` against the peers, as people who use lame expect it: the inputs made by
// sox (16- and 24-bit, float and extensible WAVE, AIFF, FLAC, a pipe with and without a
// length), rates the chosen point does not take, more than two channels, the tag texts read
// back by id3v2, and `velora decode --raw` / `--float` read by mpg123 and sox.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CommandFixture.h"

namespace {

namespace fs = std::filesystem;

using velora::cli::test::CommandResult;
using velora::cli::test::PutLe;
using velora::cli::test::Slurp;

bool Have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

uint32_t Le32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
    return v;
}

std::vector<int16_t> AsSamples(const std::string& bytes) {
    std::vector<int16_t> v(bytes.size() / 2);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) | static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
    return v;
}

// The same file with its 16-byte PCM "fmt " chunk replaced by the extensible form
// (WAVE_FORMAT_EXTENSIBLE, 16 valid bits, front left and right, the PCM sub-format).
std::string Extensible(const std::string& plain) {
    const size_t fmt = plain.find("fmt ");
    if (fmt == std::string::npos || Le32(plain, fmt + 4) != 16) return std::string();
    std::string body = plain.substr(fmt + 8, 16);
    body[0] = static_cast<char>(0xFE);
    body[1] = static_cast<char>(0xFF);
    PutLe(body, 22, 2);
    PutLe(body, 16, 2);
    PutLe(body, 3, 4);
    static const unsigned char kPcm[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    body.append(reinterpret_cast<const char*>(kPcm), 16);
    std::string out = plain.substr(0, fmt) + "fmt ";
    PutLe(out, 40, 4);
    out += body + plain.substr(fmt + 24);
    out.replace(4, 4, std::string(4, '\0'));
    std::string riff;
    PutLe(riff, static_cast<uint32_t>(out.size() - 8), 4);
    out.replace(4, 4, riff);
    return out;
}

class velora_cli_inputs : public velora::cli::test::CommandFixture {
  protected:
    velora_cli_inputs() : CommandFixture("velora-cli-inputs-") {}

    std::string P(const std::string& name) const { return (dir_ / name).string(); }
    // Runs a shell command in the work folder; its status.
    int Sh(const std::string& command) const {
        return std::system(("cd '" + dir_.string() + "' && " + command + " 2>" + P("sh.txt")).c_str());
    }
    // The 16-bit samples of any file sox reads.
    std::vector<int16_t> Samples(const std::string& file) const {
        const std::string raw = P("samples.raw");
        if (Sh("sox -D '" + file + "' -t s16 -L '" + raw + "'") != 0) return {};
        std::vector<int16_t> v = AsSamples(Slurp(raw));
        fs::remove(raw);
        return v;
    }
    std::string Soxi(const std::string& option, const std::string& file) const {
        const std::string txt = P("soxi.txt");
        Sh("soxi " + option + " '" + file + "' >'" + txt + "'");
        std::string s = Slurp(txt);
        fs::remove(txt);
        while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
        return s;
    }
};

// The same music in every container and through a pipe gives the same Velora file byte for
// byte where the samples are the same; where they carry more than 16 bits, the decoded files
// are within 1 LSB (RMS) of the 16-bit one's.
TEST_F(velora_cli_inputs, SameMusicGivesTheSameFileFromEveryContainer) {
    if (!Have("sox")) GTEST_SKIP() << "sox is not installed";
    ASSERT_EQ(Sh("sox -n -r 44100 -c 2 -b 16 m16.wav synth 1.5 sine 300-3000 sine 660 gain -8"), 0);
    std::FILE* f = std::fopen(P("ext.wav").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::string ext = Extensible(Slurp(P("m16.wav")));
    ASSERT_FALSE(ext.empty());
    std::fwrite(ext.data(), 1, ext.size(), f);
    std::fclose(f);
    const std::string velora = VELORA_BINARY;
    const std::string tag = " --title Same --artist Band ";
    const struct {
        const char* name;
        std::string make;     // sox's part, empty when the file is there
        std::string command;  // the encode, writing out.mp3
    } cases[] = {
        {"16-bit WAVE", "", velora + " encode" + tag + "m16.wav out.mp3"},
        {"24-bit WAVE", "sox m16.wav -b 24 in.wav", velora + " encode" + tag + "in.wav out.mp3"},
        {"32-bit WAVE", "sox m16.wav -b 32 in.wav", velora + " encode" + tag + "in.wav out.mp3"},
        {"float WAVE", "sox m16.wav -e floating-point -b 32 in.wav", velora + " encode" + tag + "in.wav out.mp3"},
        {"extensible WAVE", "", velora + " encode" + tag + "ext.wav out.mp3"},
        {"Wave64", "sox m16.wav -b 24 in.w64", velora + " encode" + tag + "in.w64 out.mp3"},
        {"RF64", Have("ffmpeg") ? "ffmpeg -nostdin -v error -i m16.wav -c:a pcm_s24le -rf64 always -f wav in.wav" : "",
         velora + " encode" + tag + (Have("ffmpeg") ? "in.wav" : "m16.wav") + " out.mp3"},
        {"AIFF", "sox m16.wav in.aiff", velora + " encode" + tag + "in.aiff out.mp3"},
        {"FLAC", "sox m16.wav in.flac", velora + " encode" + tag + "in.flac out.mp3"},
        {"24-bit FLAC", "sox m16.wav -b 24 in.flac", velora + " encode" + tag + "in.flac out.mp3"},
        {"a pipe", "", "sox m16.wav -t wav - | " + velora + " encode" + tag + "- out.mp3"},
        {"a pipe without a length",
         "", "sox m16.wav -t raw - | sox -t raw -r 44100 -c 2 -e signed -b 16 - -t wav - | " + velora + " encode" + tag +
                 "- out.mp3"},
        {"to a pipe", "", velora + " encode" + tag + "m16.wav - | cat >out.mp3"},
    };
    std::string reference;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.make.empty()) {
            ASSERT_EQ(Sh(c.make), 0) << Slurp(P("sh.txt"));
        }
        ASSERT_EQ(Sh(c.command), 0) << Slurp(P("sh.txt"));
        const std::string file = Slurp(P("out.mp3"));
        ASSERT_GT(file.size(), 1000u);
        if (reference.empty()) reference = file;
        EXPECT_TRUE(file == reference) << "differs from the 16-bit WAVE's file";
        fs::remove(P("out.mp3"));
        fs::remove(P("in.wav"));
    }

    // More than 16 bits: the same samples in every container give the same file, and the
    // fraction reaches the encoder. A lossy coder turns a sub-LSB change of its input into
    // other decisions (a 16-bit copy dithered, or scaled by 1.00003, decodes 12 to 27 LSB RMS
    // away from the truncated one), so "within 1 LSB" holds for what reaches the encoder,
    // not for the decoded files: those are checked to stay within the coder's own noise,
    // 50 dB below the signal.
    ASSERT_EQ(Sh("sox -n -r 44100 -c 2 -b 24 s24.wav synth 1.5 sine 300-3000 sine 660 gain -8.3"), 0);
    ASSERT_EQ(Sh("sox s24.wav s24.flac && sox s24.wav -e floating-point -b 32 sf.wav && sox -D s24.wav -b 16 s16.wav"),
              0);
    for (const char* in : {"s24.wav", "s24.flac", "sf.wav", "s16.wav"}) {
        ASSERT_EQ(Sh(velora + " encode --quiet" + tag + in + " " + in + ".mp3 && " + velora + " decode -q " + in +
                     ".mp3 " + in + ".out.wav"),
                  0)
            << in << ": " << Slurp(P("sh.txt"));
    }
    EXPECT_TRUE(Slurp(P("s24.wav.mp3")) == Slurp(P("s24.flac.mp3")));
    EXPECT_TRUE(Slurp(P("s24.wav.mp3")) == Slurp(P("sf.wav.mp3")));
    EXPECT_FALSE(Slurp(P("s24.wav.mp3")) == Slurp(P("s16.wav.mp3"))) << "the fraction was lost on the way";
    const std::vector<int16_t> wide = Samples(P("s24.wav.out.wav"));
    const std::vector<int16_t> narrow = Samples(P("s16.wav.out.wav"));
    ASSERT_EQ(wide.size(), narrow.size());
    ASSERT_GT(wide.size(), 44100u * 2);
    double difference = 0.0;
    double signal = 0.0;
    for (size_t i = 0; i < wide.size(); ++i) {
        difference += std::pow(static_cast<double>(wide[i]) - narrow[i], 2);
        signal += std::pow(static_cast<double>(narrow[i]), 2);
    }
    const double db = 10.0 * std::log10(signal / std::max(difference, 1.0));
    std::printf("24-bit against 16-bit input, decoded: %.2f LSB RMS apart, %.1f dB below the signal\n",
                std::sqrt(difference / static_cast<double>(wide.size())), db);
    EXPECT_GT(db, 50.0);
}

// Rates the chosen point does not take are converted to the nearest it does (or to
// --resample's), with one notice; a rate the encoder codes only without SBR says so; more
// than two channels are mixed down on request. Each file decodes at the expected rate and
// length, in this project's decoder and, for plain mp3, in mpg123.
TEST_F(velora_cli_inputs, RatesAndChannelsThePointDoesNotTakeAreConverted) {
    if (!Have("sox")) GTEST_SKIP() << "sox is not installed";
    const bool mpg123 = Have("mpg123");
    const struct {
        int rate;
        int channels;
        std::string args;
        std::string notice;  // the whole of standard error
        int decodedRate;
        int decodedChannels;
        bool plain;  // no SBR layer: mpg123 plays it too
    } cases[] = {
        {96000, 2, "", "96000 Hz converted to 48000 Hz, the nearest rate this point takes", 44100, 2, false},
        {11025, 2, "", "no SBR layer at this point (11025 Hz, 2 channels); coded as plain mp3 at 11025 Hz", 11025, 2, true},
        {44000, 1, "-b 32", "44000 Hz converted to 44100 Hz, the nearest rate this point takes", 44100, 1, false},
        {192000, 2, "-b 128 --no-sbr", "192000 Hz converted to 48000 Hz, the nearest rate this point takes", 48000, 2, true},
        {96000, 2, "--resample 32000", "96000 Hz converted to 32000 Hz", 32000, 2, false},
        {88200, 2, "--resample 22050 --no-sbr", "88200 Hz converted to 22050 Hz", 22050, 2, true},
        {44100, 6, "--downmix", "", 44100, 2, false},
    };
    const std::string velora = VELORA_BINARY;
    for (const auto& c : cases) {
        const std::string label = std::to_string(c.rate) + " Hz " + std::to_string(c.channels) + " " + c.args;
        SCOPED_TRACE(label);
        ASSERT_EQ(Sh("sox -n -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) +
                     " -b 24 in.wav synth 1 sine 440 sine 1000 sine 2500 gain -6"),
                  0);
        const CommandResult r = Velora("encode " + c.args + " " + P("in.wav") + " " + P("out.mp3"));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, c.notice.empty() ? "" : "velora: '" + P("in.wav") + "': " + c.notice + "\n");
        const CommandResult d = Velora("decode -q " + P("out.mp3") + " " + P("out.wav"));
        ASSERT_EQ(d.status, 0) << d.err;
        EXPECT_EQ(Soxi("-r", P("out.wav")), std::to_string(c.decodedRate));
        EXPECT_EQ(Soxi("-c", P("out.wav")), std::to_string(c.decodedChannels));
        // One second, with the encoder's delay and last frame.
        const double seconds = std::atof(Soxi("-D", P("out.wav")).c_str());
        EXPECT_GE(seconds, 1.0);
        EXPECT_LE(seconds, 1.2);
        if (c.plain && mpg123) {
            ASSERT_EQ(Sh("mpg123 -q -w peer.wav out.mp3"), 0);
            EXPECT_EQ(Soxi("-r", P("peer.wav")), std::to_string(c.decodedRate));
            EXPECT_EQ(Soxi("-s", P("peer.wav")), Soxi("-s", P("out.wav")));
        }
    }
}

// The tag texts as lame takes them, read back by id3v2; texts too long for their field are
// cut with one warning each; --no-tag writes none.
TEST_F(velora_cli_inputs, TagTextsAreReadBackByTheTagReader) {
    if (!Have("sox") || !Have("id3v2")) GTEST_SKIP() << "sox or id3v2 is not installed";
    ASSERT_EQ(Sh("sox -n -r 44100 -c 2 -b 16 in.wav synth 0.3 sine 440"), 0);
    const struct {
        std::string args;
        std::vector<std::string> shows;  // lines (or their starts) of id3v2 -l
        std::string warns;
    } cases[] = {
        {"--title Song --artist Band --album Record --year 2024 --comment Fine --track 3 --genre rock",
         {"Title  : Song                            Artist: Band",
          "Album  : Record                          Year: 2024, Genre: Rock (17)",
          "Comment: Fine                            Track: 3"},
         ""},
        {"--tt Short --ta Lame --tn 5/12 --tg 79",
         {"Title  : Short                           Artist: Lame", "Year: 20", "Genre: Hard Rock (79)",
          "Comment: KESTRAN Velora Encoder v1.0.    Track: 5"},
         ""},
        {"--genre 'hard rock' --artist 'Caf\xc3\xa9'", {"Artist: Caf\xe9 ", "Genre: Hard Rock (79)"}, ""},
        {"--title 'A title that is longer than thirty'", {"Title  : A title that is longer than th  Artist: Unknown"},
         "velora: warning: the title is cut to its 30 characters: 'A title that is longer than th'\n"},
        {"--track 1 --comment 'twenty-nine characters here!!'", {"Comment: twenty-nine characters here!    Track: 1"},
         "velora: warning: the comment is cut to its 28 characters: 'twenty-nine characters here!'\n"},
        {"--year 20245", {"Year: 2024,"}, "velora: warning: the year is cut to its 4 characters: '2024'\n"},
        {"", {"Title  : in                              Artist: Unknown", "Genre: Other (12)"}, ""},
        {"--no-tag", {"out.mp3: No ID3 tag"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const CommandResult r = Velora("encode --quiet " + c.args + " " + P("in.wav") + " " + P("out.mp3"));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, c.warns);
        ASSERT_EQ(Sh("id3v2 -l out.mp3 >tag.txt"), 0);
        const std::string shown = Slurp(P("tag.txt"));
        for (const std::string& line : c.shows) EXPECT_NE(shown.find(line), std::string::npos) << line << "\n" << shown;
        const std::string file = Slurp(P("out.mp3"));
        EXPECT_EQ(file.size() > 128 && file.compare(file.size() - 128, 3, "TAG") == 0, c.args != "--no-tag");
    }
}

// Lossy containers encode too, a file's own title and artist (FLAC, Ogg) reach the tag, and
// what libsndfile cannot read from a pipe is refused in one line naming standard input.
TEST_F(velora_cli_inputs, OtherContainersEncodeAndLendTheirTexts) {
    if (!Have("sox") || !Have("id3v2") || !Have("ffmpeg")) GTEST_SKIP() << "sox, id3v2 or ffmpeg is not installed";
    ASSERT_EQ(Sh("sox -n -r 44100 -c 2 -b 16 in.wav synth 0.5 sine 440 sine 660"), 0);
    const std::string velora = VELORA_BINARY;
    const std::string meta = " -metadata title='Own Title' -metadata artist='Own Artist' ";
    const struct {
        const char* name;
        std::string make;
        std::string input;
        int decodedRate;
    } cases[] = {
        {"Ogg Vorbis", "sox in.wav in.ogg", "in.ogg", 44100},
        {"Opus", "ffmpeg -nostdin -v error -i in.wav -c:a libopus" + meta + "in.opus", "in.opus", 44100},
        {"FLAC with texts", "ffmpeg -nostdin -v error -i in.wav" + meta + "in.flac", "in.flac", 44100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Sh(c.make), 0) << Slurp(P("sh.txt"));
        const CommandResult r = Velora("encode " + P(c.input) + " " + P("out.mp3"));
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(Velora("decode -q " + P("out.mp3") + " " + P("out.wav")).status, 0);
        EXPECT_EQ(Soxi("-r", P("out.wav")), std::to_string(c.decodedRate));
        ASSERT_EQ(Sh("id3v2 -l out.mp3 >tag.txt"), 0);
        const std::string shown = Slurp(P("tag.txt"));
        if (c.make.find("metadata") != std::string::npos) {
            EXPECT_NE(shown.find("Title  : Own Title                       Artist: Own Artist"), std::string::npos)
                << shown;
        }
    }
    // A file on standard input can seek, so FLAC is read from it; a pipe cannot.
    ASSERT_EQ(Velora("encode - " + P("fromfile.mp3") + " <" + P("in.flac")).status, 0);
    EXPECT_NE(Sh("cat in.flac | " + velora + " encode - piped.mp3"), 0);
    CommandResult pipe;
    pipe.err = Slurp(P("sh.txt"));
    EXPECT_FALSE(fs::exists(P("piped.mp3")));
    EXPECT_EQ(pipe.err.rfind("velora: standard input: not a sound file this reads (", 0), 0u) << pipe.err;
    EXPECT_NE(pipe.err.find("and WAVE, AIFF or AU from a pipe\n"), std::string::npos) << pipe.err;
    EXPECT_EQ(std::count(pipe.err.begin(), pipe.err.end(), '\n'), 1);
}

// `decode --raw` is what mpg123 -s writes; `--float` a float WAVE that sox reads as the same
// samples; both together the float WAVE's data without its header. To a pipe as well.
TEST_F(velora_cli_inputs, RawAndFloatOutputAsThePeersReadThem) {
    if (!Have("sox")) GTEST_SKIP() << "sox is not installed";
    ASSERT_EQ(Sh("sox -n -r 44100 -c 2 -b 16 in.wav synth 1 sine 440 sine 3000 gain -6"), 0);
    ASSERT_EQ(Velora("encode --quiet --no-sbr -b 128 " + P("in.wav") + " " + P("in.mp3")).status, 0);
    ASSERT_EQ(Velora("decode -q " + P("in.mp3") + " " + P("pcm.wav")).status, 0);
    const std::string wave = Slurp(P("pcm.wav"));
    ASSERT_GT(wave.size(), 44u + 44100 * 4);
    const std::string pcm = wave.substr(44);
    const std::string velora = VELORA_BINARY;

    ASSERT_EQ(Sh(velora + " decode -q --raw in.mp3 raw.pcm && " + velora + " decode -q -r in.mp3 - | cat >piped.pcm"), 0);
    EXPECT_TRUE(Slurp(P("raw.pcm")) == pcm);
    EXPECT_TRUE(Slurp(P("piped.pcm")) == pcm);
    if (Have("mpg123")) {
        ASSERT_EQ(Sh("mpg123 -q -s in.mp3 >peer.pcm"), 0);
        const std::vector<int16_t> peer = AsSamples(Slurp(P("peer.pcm")));
        const std::vector<int16_t> own = AsSamples(pcm);
        ASSERT_EQ(peer.size(), own.size());
        int worst = 0;
        for (size_t i = 0; i < own.size(); ++i) worst = std::max(worst, std::abs(own[i] - peer[i]));
        EXPECT_LE(worst, 1);
    }

    ASSERT_EQ(Sh(velora + " decode -q --float in.mp3 float.wav && " + velora + " decode -q -f in.mp3 - | cat >fpipe.wav"),
              0);
    EXPECT_EQ(Soxi("-e", P("float.wav")), "Floating Point PCM");
    EXPECT_EQ(Soxi("-b", P("float.wav")), "32");
    EXPECT_EQ(Soxi("-r", P("float.wav")), "44100");
    EXPECT_EQ(Samples(P("float.wav")), AsSamples(pcm));
    EXPECT_EQ(Samples(P("fpipe.wav")), AsSamples(pcm)) << "open sizes from a pipe";
    ASSERT_EQ(Sh(velora + " decode -q --raw --float in.mp3 float.raw"), 0);
    const std::string floats = Slurp(P("float.wav"));
    EXPECT_TRUE(Slurp(P("float.raw")) == floats.substr(floats.size() - pcm.size() * 2));
}

// A VBR file written to a pipe cannot have its header rewritten: it keeps the placeholder,
// says so, and is otherwise the file written to a seekable output.
TEST_F(velora_cli_inputs, VbrToAPipeKeepsItsPlaceholderHeaderWithANotice) {
    if (!Have("sox")) GTEST_SKIP() << "sox is not installed";
    ASSERT_EQ(Sh("sox -n -r 44100 -c 2 -b 16 in.wav synth 1 sine 440"), 0);
    const std::string velora = VELORA_BINARY;
    ASSERT_EQ(Sh(velora + " encode -V 50 in.wav file.mp3"), 0);
    ASSERT_EQ(Sh(velora + " encode -V 50 in.wav - 2>notice.txt | cat >piped.mp3"), 0);
    EXPECT_EQ(Slurp(P("notice.txt")), "velora: standard output cannot seek: the VBR header keeps its placeholder counts\n");
    const std::string file = Slurp(P("file.mp3"));
    const std::string piped = Slurp(P("piped.mp3"));
    ASSERT_EQ(file.size(), piped.size());
    ASSERT_GT(file.size(), 62u);
    EXPECT_EQ(file.substr(36, 4), "VBRI");
    EXPECT_NE(piped.substr(36, 4), "VBRI");
    // Only inside the header frame (at most 1440 bytes, 320 kbit/s at 32 kHz).
    size_t first = file.size();
    size_t last = 0;
    for (size_t i = 0; i < file.size(); ++i) {
        if (file[i] == piped[i]) continue;
        first = std::min(first, i);
        last = i;
    }
    EXPECT_LT(first, last) << "the counts differ";
    EXPECT_LT(last, 1440u);
    EXPECT_EQ(Velora("decode -q " + P("piped.mp3") + " " + P("piped.wav")).status, 0);
}

}  // namespace

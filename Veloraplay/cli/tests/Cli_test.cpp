// The velora command as a user meets it: exit codes, messages, the output file appearing
// only when complete, the WAVE layout, and info.
#include <sys/wait.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

struct CommandResult {
    int status = -1;
    std::string out;
    std::string err;
};

class VeloraCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("velora-cli-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    CommandResult Velora(const std::string& args) {
        const fs::path out = dir_ / "stdout.txt";
        const fs::path err = dir_ / "stderr.txt";
        const std::string command = std::string(VELORA_BINARY) + " " + args + " >" +
                                    out.string() + " 2>" + err.string();
        CommandResult r;
        const int raw = std::system(command.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = Slurp(out);
        r.err = Slurp(err);
        return r;
    }
    static std::string Slurp(const fs::path& p) {
        std::string data;
        std::FILE* f = std::fopen(p.c_str(), "rb");
        if (f == nullptr) return data;
        char buf[65536];
        size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) data.append(buf, n);
        std::fclose(f);
        return data;
    }
    // Files in the work folder other than the captured streams.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) {
            const std::string n = e.path().filename().string();
            if (n != "stdout.txt" && n != "stderr.txt") names.push_back(n);
        }
        return names;
    }

    fs::path dir_;
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

}  // namespace

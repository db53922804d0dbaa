// The velora command as the command-line tests run it: a work folder per test, removed
// afterwards, and each run's exit status with what it printed on either stream.
#pragma once

#include <sys/wait.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include <gtest/gtest.h>

namespace velora::cli::test {

struct CommandResult {
    int status = -1;
    std::string out;
    std::string err;
};

// The whole file, empty when it cannot be read.
inline std::string Slurp(const std::filesystem::path& p) {
    std::string data;
    std::FILE* f = std::fopen(p.c_str(), "rb");
    if (f == nullptr) return data;
    char buf[65536];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) data.append(buf, n);
    std::fclose(f);
    return data;
}

// Appends `v` as `bytes` little-endian bytes.
inline void PutLe(std::string& s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// The 44-byte header of a linear PCM RIFF/WAVE file with `dataBytes` of samples; `riffSize`
// defaults to what those make.
inline std::string WaveHeader(int channels, int rate, int bits, uint32_t dataBytes,
                              uint32_t riffSize = 0) {
    const auto blockAlign = static_cast<uint32_t>(channels * bits / 8);
    std::string h = "RIFF";
    PutLe(h, riffSize != 0 ? riffSize : 36 + dataBytes, 4);
    h += "WAVEfmt ";
    PutLe(h, 16, 4);
    PutLe(h, 1, 2);
    PutLe(h, static_cast<uint32_t>(channels), 2);
    PutLe(h, static_cast<uint32_t>(rate), 4);
    PutLe(h, static_cast<uint32_t>(rate) * blockAlign, 4);
    PutLe(h, blockAlign, 2);
    PutLe(h, static_cast<uint32_t>(bits), 2);
    h += "data";
    PutLe(h, dataBytes, 4);
    return h;
}

class CommandFixture : public ::testing::Test {
  protected:
    // `prefix` names the work folders of one test program, so programs running at the same
    // time keep apart.
    explicit CommandFixture(std::string prefix) : prefix_(std::move(prefix)) {}

    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               (prefix_ + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Runs `velora ARGS` from the shell; the captured streams leave the work folder again.
    CommandResult Velora(const std::string& args) {
        const std::filesystem::path out = dir_ / "stdout.txt";
        const std::filesystem::path err = dir_ / "stderr.txt";
        const std::string command =
            std::string(VELORA_BINARY) + " " + args + " >" + out.string() + " 2>" + err.string();
        CommandResult r;
        const int raw = std::system(command.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = Slurp(out);
        r.err = Slurp(err);
        std::filesystem::remove(out);
        std::filesystem::remove(err);
        return r;
    }

    std::filesystem::path dir_;

  private:
    std::string prefix_;
};

}  // namespace velora::cli::test

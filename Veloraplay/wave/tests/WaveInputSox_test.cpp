// A file made by sox (an independent writer) must open with the rate, channels and data
// size sox was asked for. Skipped where sox is not installed.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "WaveInputFile.h"

namespace {

namespace fs = std::filesystem;

TEST(wave_input_Sox, OpensSoxSine) {
    if (std::system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox not installed";
    const fs::path dir = fs::temp_directory_path() / ("wave-input-sox-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path out = dir / "out.wav";
    const std::string cmd =
        "sox -n -r 22050 -c 2 -b 16 " + out.string() + " synth 0.5 sine 440 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);

    EXPECT_TRUE(velora::IsPcmWaveFile(out.string()));
    velora::WaveInputFile in;
    ASSERT_TRUE(in.Open(out.string())) << in.FailureReason();
    EXPECT_EQ(in.SampleRate(), 22050);
    EXPECT_EQ(in.Channels(), 2);
    EXPECT_EQ(in.DataBytes(), 22050u / 2 * 2 * 2);  // half a second, two channels, 2 bytes
    in.Close();
    fs::remove_all(dir);
}

}  // namespace

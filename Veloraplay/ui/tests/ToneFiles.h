#pragma once
// Short files for the window tests: a stereo 44100 Hz tone as a 16-bit WAVE file, encoded with
// the velora command.
#include "WaveFileWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace veloraplay::test {

// `seconds` of 440 Hz left and 660 Hz right in `wav`; encoded to `mp3` unless that is empty.
inline void makeToneFile(const std::string& wav, const std::string& mp3, int seconds) {
    constexpr int kRate = 44100;
    std::vector<int16_t> pcm;
    pcm.reserve(static_cast<size_t>(2 * kRate * seconds));
    for (int i = 0; i < kRate * seconds; ++i) {
        for (const double f : {440.0, 660.0}) {
            pcm.push_back(static_cast<int16_t>(8000.0 * std::sin(2.0 * M_PI * f * i / kRate)));
        }
    }
    std::FILE* out = std::fopen(wav.c_str(), "wb");
    ASSERT_NE(out, nullptr) << wav;
    WaveFileWriter writer;
    const bool written = writer.Begin(out, 2, kRate) && writer.Append(pcm.data(), pcm.size()) && writer.Finish();
    ASSERT_EQ(std::fclose(out), 0);
    ASSERT_TRUE(written) << wav;
    if (mp3.empty()) return;
    const std::string command = std::string(VELORA_BINARY) + " encode '" + wav + "' '" + mp3 + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

}  // namespace veloraplay::test

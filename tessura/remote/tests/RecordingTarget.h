#pragma once
// A player that writes down what it is asked to do, with a position and a volume to report.
#include "MprisModel.h"

#include <mutex>
#include <string>
#include <vector>

namespace tessura::remote {

struct RecordingTarget final : MprisTarget {
    std::vector<std::string> calls;
    int32_t position = -1;
    int32_t seekLandsAt = -1;  // where a seek ends up; -1: where asked
    uint32_t level = 65535;

    void play() override { calls.push_back("play"); }
    void togglePause() override { calls.push_back("togglePause"); }
    void stop() override { calls.push_back("stop"); }
    void next() override { calls.push_back("next"); }
    void previous() override { calls.push_back("previous"); }
    void seekTo(int32_t ms) override {
        calls.push_back("seekTo:" + std::to_string(ms));
        position = seekLandsAt >= 0 ? seekLandsAt : ms;
    }
    void openUri(const std::string& entry) override { calls.push_back("openUri:" + entry); }
    void raise() override { calls.push_back("raise"); }
    void quit() override { calls.push_back("quit"); }
    void setVolume(uint32_t l) override {
        calls.push_back("setVolume:" + std::to_string(l));
        level = l;
    }
    void setRepeatMode(int mode) override { calls.push_back("setRepeatMode:" + std::to_string(mode)); }
    void setShuffle(bool on) override { calls.push_back(on ? "setShuffle:on" : "setShuffle:off"); }
    int32_t positionMs() override { return position; }
    uint32_t volume() override { return level; }
};

}  // namespace tessura::remote

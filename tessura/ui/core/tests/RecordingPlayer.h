#pragma once
// A player and window that only record what they are asked to do, for the action and window
// tests.
#include "PlayerActions.h"
#include "PlaylistHost.h"

#include <functional>
#include <string>
#include <vector>

namespace tessura::ui::test {

struct RecordingPlayer final : CommandTarget, WindowPlayer, WindowActions {
    PlaylistHost host;
    Playlist list{host, PlaylistOptions{true, false, false}};
    std::vector<std::string> calls;
    std::vector<std::string> status;
    bool isPlaying = false, isPaused = false, eq = false, announce = false;
    int32_t at = 0;
    uint32_t level = 30000;

    // CommandTarget.
    Playlist& playlist() override { return list; }
    void stop() override { calls.push_back("stop"); }
    void play() override { calls.push_back("play"); }
    bool paused() override { return isPaused; }
    void togglePause() override { calls.push_back("pause"); }
    void playPosition(int p) override { calls.push_back("playPosition " + std::to_string(p)); }
    int32_t position() override { return at; }
    void seek(int32_t ms) override { calls.push_back("seek " + std::to_string(ms)); }
    uint32_t volume() override { return level; }
    void setVolume(uint32_t v) override { level = v; calls.push_back("volume " + std::to_string(v)); }
    void post(uint32_t code, intptr_t, intptr_t, int) override { calls.push_back("post " + std::to_string(code)); }
    void installSkin(const std::string&) override {}
    void storeSkinToLoad(const std::string&) override {}
    void stepVisualisation(int step) override { calls.push_back("vis " + std::to_string(step)); }
    void showStatus(const std::string& text) override { status.push_back(text); }
    void showMessage(const std::string&, const std::string&) override {}
    void execute(const std::string&, const std::string&) override {}
    int audioCdTracks(const std::string&) override { return 0; }
    void saveCdDump() override {}

    // WindowPlayer.
    CommandTarget& target() override { return *this; }
    void runCommands(const std::string& words) override { calls.push_back(words); }
    int32_t lengthMs() override { return 200000; }
    bool playing() override { return isPlaying; }
    bool equaliserOn() override { return eq; }
    void setEqualiserOn(bool on) override { eq = on; }
    uint32_t balance() override { return 32768; }
    std::string balanceText() override { return text("main/balancecentre"); }
    void setBalance(uint32_t) override {}
    void setAmplifierKnob(uint32_t) override {}
    void setPitchKnob(uint32_t) override {}
    bool announcing() override { return announce; }
    void setAnnouncing(bool on) override { announce = on; }
    // The language's texts when a test gives them, else the key in angle brackets.
    std::function<std::string(const std::string&)> language;
    std::string text(const std::string& key) override {
        if (language) return language(key);
        return key == "main/volume" ? "Volume: %d%%" : "<" + key + ">";
    }

    // WindowActions.
    void switchMode(int mode, int page) override { calls.push_back("mode " + std::to_string(mode) + "/" + std::to_string(page)); }
    void tabMode() override { calls.push_back("tab"); }
    void filesDialog(bool add) override { calls.push_back(add ? "add dialog" : "open dialog"); }
    void jumpDialog() override { calls.push_back("jump"); }
    void removeSelected() override { calls.push_back("remove"); }
    bool toggleAlwaysOnTop() override { return true; }
    bool toggleLockMovement() override { return false; }
    void loadDefaultSkin() override { calls.push_back("default skin"); }
};

}  // namespace tessura::ui::test

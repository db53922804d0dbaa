#pragma once
// A player and window that only record what they are asked to do, for the action and window
// tests.
#include "PlayerActions.h"
#include "PlaylistHost.h"

#include <array>
#include <functional>
#include <map>
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
    uint32_t balanceValue = 32768;
    // The equaliser model as far as the window sees it.
    std::array<double, 20> gains = [] {
        std::array<double, 20> flat{};
        flat.fill(1.0);
        return flat;
    }();
    int preset = 0;
    std::map<int, std::string> userNames;  // saved user presets; the rest keep "UserPreset%d"

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
    void setEqualiserOn(bool on) override {
        eq = on;
        status.push_back(on ? "<main/eqenabled>" : "<main/eqdisabled>");
    }
    double bandGain(int band) override { return band >= 0 && band < 20 ? gains[std::size_t(band)] : 1.0; }
    void setBandGain(int band, double value) override {
        if (band < 0 || band >= 20) return;
        gains[std::size_t(band)] = value;
        preset = 6;
    }
    int equaliserPreset() override { return preset; }
    void selectPreset(int id) override {
        preset = id;
        calls.push_back("preset " + std::to_string(id));
    }
    std::string presetName(int id) override {
        static const char* const builtin[] = {"None", "Pop", "Rock", "Jazz", "Classical", "Dance", "Custom"};
        if (id >= 0 && id <= 6) return builtin[id];
        if (id < 100 || id > 109) return "";
        const auto saved = userNames.find(id);
        return saved != userNames.end() ? saved->second : "UserPreset" + std::to_string(id - 100);
    }
    bool saveUserPreset(int id, const std::string& name) override {
        userNames[id] = name.empty() ? "UserPreset" + std::to_string(id - 100) : name;
        preset = id;
        calls.push_back("save " + std::to_string(id) + " " + name);
        return true;
    }
    uint32_t balance() override { return balanceValue; }
    std::string balanceText() override { return text("main/balancecentre"); }
    void setBalance(uint32_t b) override {
        balanceValue = b;
        calls.push_back("balance " + std::to_string(b));
    }
    void setAmplifierKnob(uint32_t k) override { calls.push_back("amp " + std::to_string(k)); }
    void setPitchKnob(uint32_t k) override { calls.push_back("pitch " + std::to_string(k)); }
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
    void openSettings() override { calls.push_back("settings"); }
    void openAbout() override { calls.push_back("about"); }
};

}  // namespace tessura::ui::test

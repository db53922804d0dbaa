#pragma once
// A playlist host that claims a few extensions and records what the playlist asked of it.
#include "EntryPath.h"
#include "PlaylistHost.h"
#include "TextCase.h"

#include <set>
#include <string>
#include <vector>

namespace tessura::test {

struct RecordingHost : PlaylistHost {
    std::set<std::string> extensions{"mp3", "ogg", "wav"};
    bool playing = false;
    std::vector<int> playedFrom;
    int stops = 0;
    std::vector<std::string> statuses, messages, skins;
    std::vector<std::vector<intptr_t>> notes;

    bool claimsFile(const std::string& name) override {
        return extensions.count(lowerAscii(extensionOf(name))) > 0;
    }
    bool isPlaying() override { return playing; }
    void playFrom(int position) override { playedFrom.push_back(position); }
    void stopPlayback() override { ++stops; }
    void showStatus(const std::string& key) override { statuses.push_back(key); }
    void showMessage(const std::string& caption, const std::string& text) override {
        messages.push_back(caption + "|" + text);
    }
    void loadSkin(const std::string& path) override { skins.push_back(path); }
    void notifyEditor(uint32_t code, intptr_t w, intptr_t l) override {
        notes.push_back({static_cast<intptr_t>(code), w, l});
    }
};

}  // namespace tessura::test

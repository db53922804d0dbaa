#include "HistoryLists.h"

#include "TextCase.h"

#include <algorithm>

namespace tessura {

namespace {
constexpr const char* kPlaySection = "PLAY_HISTORY";
constexpr const char* kUrlSection = "URL_HISTORY";
constexpr std::size_t kPlayEntries = 10;
constexpr std::size_t kFileSize = 2000;
constexpr std::size_t kDisplaySize = 4096;
constexpr std::size_t kUrlSize = 2000;
// Every opened address would otherwise be kept (and read at each open) for ever.
constexpr std::size_t kUrlEntries = 100;

std::string numbered(const char* prefix, std::size_t index) {
    return std::string(prefix) + std::to_string(index);
}

int itemCount(SettingsStore& store, const char* section) {
    return std::max(0, store.GetSettingInt(section, "numItems", 0));
}
}  // namespace

std::vector<PlayedTrack> ReadPlayHistory(SettingsStore& store) {
    std::vector<PlayedTrack> tracks;
    const auto count = static_cast<std::size_t>(itemCount(store, kPlaySection));
    for (std::size_t i = 0; i < count && i < kPlayEntries; ++i) {
        PlayedTrack t;
        t.file = store.GetSettingText(kPlaySection, numbered("file_", i), "", kFileSize);
        t.display = store.GetSettingText(kPlaySection, numbered("display_", i), "", kDisplaySize);
        if (!t.file.empty()) tracks.push_back(std::move(t));
    }
    return tracks;
}

void RecordPlayedTrack(SettingsStore& store, const PlayedTrack& track) {
    std::vector<PlayedTrack> old = ReadPlayHistory(store);
    if (!old.empty() && old.front().file == track.file) return;
    std::vector<PlayedTrack> list{track};
    for (PlayedTrack& t : old) {
        if (t.file != track.file && list.size() < kPlayEntries) list.push_back(std::move(t));
    }
    SettingsStore::Batch batch(store);
    for (std::size_t i = 0; i < list.size(); ++i) {
        store.SetSetting(kPlaySection, numbered("file_", i), cutUtf8(list[i].file, kFileSize - 1));
        store.SetSetting(kPlaySection, numbered("display_", i),
                         cutUtf8(list[i].display, kDisplaySize - 1));
    }
    store.SetSettingInt(kPlaySection, "numItems", static_cast<int>(list.size()));
}

std::vector<std::string> ReadUrlHistory(SettingsStore& store) {
    std::vector<std::string> urls;
    const auto count = static_cast<std::size_t>(itemCount(store, kUrlSection));
    for (std::size_t i = 0; i < count && i < kUrlEntries; ++i) {
        std::string url = store.GetSettingText(kUrlSection, numbered("url_", i), "", kUrlSize);
        if (!url.empty()) urls.push_back(std::move(url));
    }
    return urls;
}

void RecordOpenedUrl(SettingsStore& store, const std::string& url) {
    std::vector<std::string> list{cutUtf8(url, kUrlSize - 1)};
    for (std::string& old : ReadUrlHistory(store)) {
        if (old != list.front() && list.size() < kUrlEntries) list.push_back(std::move(old));
    }
    SettingsStore::Batch batch(store);
    for (std::size_t i = 0; i < list.size(); ++i) {
        store.SetSetting(kUrlSection, numbered("url_", i), list[i]);
    }
    store.SetSettingInt(kUrlSection, "numItems", static_cast<int>(list.size()));
}

}  // namespace tessura

#pragma once
// The play and address histories, kept as sections of the settings store: "PLAY_HISTORY" with
// "file_%d" / "display_%d" and "URL_HISTORY" with "url_%d", each with "numItems", numbered from 0.
#include "SettingsStore.h"

#include <string>
#include <vector>

namespace tessura {

struct PlayedTrack {
    std::string file, display;
};

std::vector<PlayedTrack> ReadPlayHistory(SettingsStore& store);
// The track first, then the older entries of other files; at most 10 kept. A track whose file
// is already first changes nothing.
void RecordPlayedTrack(SettingsStore& store, const PlayedTrack& track);

std::vector<std::string> ReadUrlHistory(SettingsStore& store);
// The address first, then the older ones that differ from it; at most 100 kept.
void RecordOpenedUrl(SettingsStore& store, const std::string& url);

}  // namespace tessura

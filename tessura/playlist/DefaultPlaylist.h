#pragma once
// The playlist kept between runs: "tessura.pls" in the program folder, read at start-up under
// the LoadPlayList guard and written at exit with information and the external playlist's name.
#include "Playlist.h"
#include "SettingsStore.h"

#include <string>

namespace tessura {

inline constexpr const char* kDefaultPlaylistName = "tessura.pls";

std::string defaultPlaylistPath(const std::string& programFolder);

struct DefaultPlaylistLoad {
    bool skipped = false;  // the last start's read never finished
    int added = 0;
    bool autoplay = false;
};

// Reads the default playlist unless the guard says the last read crashed; then the external
// playlist's name is taken from it and the current entry set to `savedPosition` (when it is
// inside the list). A skipped read puts the guard back, so the list this run saves at exit is
// read next time.
DefaultPlaylistLoad LoadDefaultPlaylist(Playlist& playlist, SettingsStore& store,
                                        const std::string& programFolder, int savedPosition);

// Writes the whole list with information (no warning) and "ExternalPlaylist" when there is one.
bool SaveDefaultPlaylist(Playlist& playlist, const std::string& programFolder);

}  // namespace tessura

#include "DefaultPlaylist.h"

#include "CrashGuard.h"
#include "Preferences.h"

namespace tessura {

std::string defaultPlaylistPath(const std::string& programFolder) {
    return programFolder + "/" + kDefaultPlaylistName;
}

DefaultPlaylistLoad LoadDefaultPlaylist(Playlist& playlist, SettingsStore& store,
                                        const std::string& programFolder, int savedPosition) {
    DefaultPlaylistLoad load;
    if (!lastGuardedLoadFinished(store, kPlaylistGuard)) {
        load.skipped = true;
        store.SetSetting(kPreferencesSection, kPlaylistGuard, "1");
        return load;
    }
    GuardedLoad guard(store, kPlaylistGuard);
    LoadOutcome outcome;
    load.added = playlist.LoadPlaylistFile(defaultPlaylistPath(programFolder), &outcome);
    playlist.setExternalPlaylist(outcome.externalPlaylist);
    load.autoplay = outcome.autoplay > 0;
    if (savedPosition >= 0 && savedPosition < playlist.size()) {
        playlist.setCurrentIndex(savedPosition);
    }
    playlist.clearChanged();
    return load;
}

bool SaveDefaultPlaylist(Playlist& playlist, const std::string& programFolder) {
    std::vector<std::pair<std::string, std::string>> extra;
    const std::string external = playlist.externalPlaylist();
    if (!external.empty()) extra.emplace_back("ExternalPlaylist", external);
    return playlist.SavePlaylistFile(defaultPlaylistPath(programFolder), true, false, extra);
}

}  // namespace tessura

#include "PlaylistHistory.h"

#include "EntryPath.h"
#include "HistoryLists.h"

namespace tessura {

void RecordTrackStart(SettingsStore& store, const PlaylistEntry& entry) {
    if (entry.file.empty()) return;
    RecordPlayedTrack(store, {entry.file, entry.display});
}

int OpenLocation(Playlist& playlist, SettingsStore& store, const std::string& typed,
                 const AddRequest& request) {
    const std::string url = locationToUrl(typed);
    if (url.empty()) return 0;
    if (isUrl(url)) RecordOpenedUrl(store, url);
    return playlist.AddItem(url, request);
}

}  // namespace tessura

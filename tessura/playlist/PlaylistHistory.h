#pragma once
// The two histories the playlist feeds: tracks that started (PLAY_HISTORY) and addresses the
// user opened (URL_HISTORY), both kept in the settings store.
#include "Playlist.h"
#include "SettingsStore.h"

#include <string>

namespace tessura {

// A track started: it heads the play history unless it is the one announced last.
void RecordTrackStart(SettingsStore& store, const PlaylistEntry& entry);

// A location typed into the open dialog: made a URL (locationToUrl), put first in the address
// history, and added. Returns the number of entries added.
int OpenLocation(Playlist& playlist, SettingsStore& store, const std::string& typed,
                 const AddRequest& request = {});

}  // namespace tessura

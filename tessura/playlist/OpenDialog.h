#pragma once
// The open dialog's side of the playlist: its filter list and what happens to the files chosen.
#include "Playlist.h"

#include <functional>
#include <string>
#include <vector>

namespace tessura {

// The dialog filters in the dialog service's form ("Name (*.a *.b)"), in order: every extension
// of every input module plus the playlists under "main/allaudioformats", the playlists
// ("main/playlists"), the skins ("main/skinfiles") and everything ("main/allfiles").
std::vector<std::string> openDialogFilters(const std::vector<std::string>& moduleExtensions,
                                           const std::function<std::string(const char*)>& translate);

// The four dialog commands: their title keys, and whether they clear the list first and play.
enum class OpenCommand { Open, OpenAndPlay, Add, AddAndPlay };
const char* openDialogTitleKey(OpenCommand command);

// Adds the chosen files (an "Open" clears the list first) and, for the "and play" commands,
// plays from the first entry added. Returns the number of entries added.
int addChosenFiles(Playlist& playlist, PlaylistHost& host, OpenCommand command,
                   const std::vector<std::string>& chosen);

}  // namespace tessura

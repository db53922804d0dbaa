#pragma once
// The two playlist file formats: PLS (an INI file with a section "playlist") and M3U (one name a
// line, "#EXTINF:" information in the extended form). Reading gives the entries' resolved names
// and what the file says about them; writing gives the bytes of a PLS file.
#include "PlaylistEntry.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessura {

// Titles and the like longer than this are cut (at a character boundary).
inline constexpr std::size_t kMaxInfoText = 4096;

struct PlaylistFileItem {
    std::string name;                 // resolved against the playlist's folder
    std::optional<EntryInfo> info;    // when the file carries information for it
};

struct PlaylistFileContent {
    bool readable = false;  // false: a PLS without a usable NumberOfEntries
    bool pls = false;
    std::vector<PlaylistFileItem> items;
    int autoplay = 0;              // PLS "autoplay"
    std::string externalPlaylist;  // PLS "ExternalPlaylist" (the default playlist only)
};

// `folder`: the playlist file's folder, against which relative names resolve.
PlaylistFileContent parsePlaylistText(std::string_view text, std::string_view folder);
PlaylistFileContent parsePls(std::string_view text, std::string_view folder);
PlaylistFileContent parseM3u(std::string_view text, std::string_view folder);

struct PlsText {
    std::string bytes;
    bool replacedControls = false;  // a bare name held characters 1-31, written as '?'
};

// A PLS file for `entries` stored in `folder`: each entry as its bare name when it lies in that
// folder, else as its stored name; with information its length (unless -1) and the texts that
// are not empty; `extra` keys follow the counts. Values go through the INI writer's escaping, so
// a line break inside a title or path can never start a key of its own.
PlsText serialisePls(const std::vector<PlaylistEntry>& entries, std::string_view folder,
                     bool withInfo,
                     const std::vector<std::pair<std::string, std::string>>& extra = {});

}  // namespace tessura

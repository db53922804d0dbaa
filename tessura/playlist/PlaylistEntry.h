#pragma once
// One entry of the playlist: a local file or a stream address, and what is known about it.
#include <string>

namespace tessura {

// Information a playlist file or an input module gives about an entry.
struct EntryInfo {
    std::string title, author, info, extraInfo;
    int length = -1;  // whole seconds, -1 unknown
};

struct PlaylistEntry {
    std::string file;  // local path or URL
    std::string title, author, info, extraInfo;
    std::string display;  // built from the others (Playlist::BuildDisplayText)
    int length = -1;      // whole seconds, -1 unknown
    bool infoReported = false;  // the input module has told its information
};

}  // namespace tessura

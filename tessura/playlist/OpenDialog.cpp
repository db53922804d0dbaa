#include "OpenDialog.h"

namespace tessura {

std::vector<std::string> openDialogFilters(const std::vector<std::string>& moduleExtensions,
                                           const std::function<std::string(const char*)>& translate) {
    std::string audio;
    for (const std::string& extension : moduleExtensions) audio += "*." + extension + " ";
    audio += "*.pls *.m3u";
    return {translate("main/allaudioformats") + " (" + audio + ")",
            translate("main/playlists") + " (*.pls *.m3u)",
            translate("main/skinfiles") + " (*.tgf)",
            translate("main/allfiles") + " (*)"};
}

const char* openDialogTitleKey(OpenCommand command) {
    switch (command) {
        case OpenCommand::Open: return "main/open";
        case OpenCommand::OpenAndPlay: return "main/openandplay";
        case OpenCommand::Add: return "main/add";
        case OpenCommand::AddAndPlay: return "main/addandplay";
    }
    return "main/open";
}

int addChosenFiles(Playlist& playlist, PlaylistHost& host, OpenCommand command,
                   const std::vector<std::string>& chosen) {
    if (chosen.empty()) return 0;  // a cancelled dialog leaves the list alone
    const bool clear = command == OpenCommand::Open || command == OpenCommand::OpenAndPlay;
    const bool play = command == OpenCommand::OpenAndPlay || command == OpenCommand::AddAndPlay;
    if (clear) playlist.ClearPlaylist();
    const int first = playlist.size();
    int added = 0;
    for (const std::string& file : chosen) added += playlist.AddItem(file, {.append = !clear});
    if (play && added > 0) host.playFrom(playlist.PositionOfEntry(first));
    return added;
}

}  // namespace tessura

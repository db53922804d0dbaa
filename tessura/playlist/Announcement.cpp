#include "Announcement.h"

#include "CheckedFormat.h"

namespace tessura {

std::string AnnouncementSongText(const PlaylistEntry& entry) {
    if (entry.title.empty()) return entry.display;
    return entry.author + " - " + entry.title;
}

std::string AnnouncementText(const std::string& format, const PlaylistEntry& entry, const std::string& version) {
    const std::string cut = format.substr(0, kMaxAnnouncementFormat);
    const std::string song = AnnouncementSongText(entry);
    const FormatArg args[] = {std::string_view(song), std::string_view(version)};
    return formatChecked(cut, args).value_or(std::string());
}

bool AnnounceTrack(bool tellmIrc, const std::string& format, const PlaylistEntry& entry, ChatClient& client) {
    if (!tellmIrc) return false;
    const std::string text = AnnouncementText(format, entry, "1.96");
    if (text.empty()) return false;
    return client.poke("mIrc", "command", " ", text);
}

}  // namespace tessura

#pragma once
// Telling a chat client what is playing when a new file starts: the text built from the
// TellmIRCString setting, and the client it is handed to (service "mIrc", topic "command", a
// poke of the text on the item " "). The client is outside the program; without one nothing
// happens.
#include "PlaylistEntry.h"

#include <string>

namespace tessura {

inline constexpr std::size_t kMaxAnnouncementFormat = 120;

class ChatClient {
  public:
    virtual ~ChatClient() = default;
    // False when there is no client to take it.
    virtual bool poke(const std::string& service, const std::string& topic, const std::string& item,
                      const std::string& text) = 0;
};

// The stand-in where no chat client can be reached: it reports "no client".
class NoChatClient final : public ChatClient {
  public:
    bool poke(const std::string&, const std::string&, const std::string&, const std::string&) override {
        return false;
    }
};

// "author - title" when the entry has a title (the author may be empty), else its display text.
std::string AnnouncementSongText(const PlaylistEntry& entry);
// The setting (cut to 120 characters) as a format of the song text and the version. Empty when
// the format does not fit those two texts (a setting is never trusted as a format).
std::string AnnouncementText(const std::string& format, const PlaylistEntry& entry, const std::string& version);
// With TellmIRC on: builds the text and hands it over. True when a client took it.
bool AnnounceTrack(bool tellmIrc, const std::string& format, const PlaylistEntry& entry, ChatClient& client);

}  // namespace tessura

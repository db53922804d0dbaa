#pragma once
// What the audio file library window asks of the player window that owns it.
#include "Playlist.h"

#include <string>

namespace veloraplay {

class LibraryHost {
  public:
    virtual ~LibraryHost() = default;
    // The player's current folder list, which "Play All Items" fills.
    virtual Playlist& folderList() = 0;
    // As a copy-data message to the player: a command line to open, or empty for "play the
    // folder list from its start".
    virtual void handToPlayer(const std::string& payload) = 0;
    // A command the player carries out: the about box (16), the skins (100, 101), minimise
    // (0xF020), quit (0xF060), the volume panel (71), the conversion folder (72).
    virtual void playerCommand(int id) = 0;
    // The encoder window, modally, with `waveInput` as its input ("" for none).
    virtual void runEncoder(const std::string& waveInput) = 0;
    virtual bool playbackRunning() const = 0;
    // The item number on the display goes back to none while a playback runs.
    virtual void clearItemNumber() = 0;
    // Opens a help page ("library_index.html").
    virtual void openHelp(const std::string& topic) = 0;
};

}  // namespace veloraplay

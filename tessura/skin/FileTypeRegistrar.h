#pragma once
// Registration of tessura's file types with the desktop: the desktop entry
// $XDG_DATA_HOME/applications/tessura.desktop with one action per shell verb ("Play",
// "Add to playlist", "Open", "Install into Tessura"), the skin type's MIME definition, and the
// default handlers in $XDG_CONFIG_HOME/mimeapps.list. The handler a type had before is saved in
// the settings section "Tessura_Old" so that unregistering gives it back. The audio-CD handler
// is a second entry, tessura-audiocd.desktop, whose command is the program and "/cdinsert".
#include "ProgramFolder.h"
#include "SettingsStore.h"

#include <functional>
#include <string>
#include <vector>

namespace tessura {

namespace mime {
inline constexpr const char* kMpeg = "audio/mpeg";
inline constexpr const char* kWave = "audio/x-wav";
inline constexpr const char* kM3u = "audio/x-mpegurl";
inline constexpr const char* kPls = "audio/x-scpls";
inline constexpr const char* kSkin = "application/x-tessura-skin";
inline constexpr const char* kAudioCd = "x-content/audio-cdda";
}  // namespace mime

inline constexpr const char* kDesktopEntryName = "tessura.desktop";
inline constexpr const char* kAudioCdEntryName = "tessura-audiocd.desktop";
inline constexpr const char* kOldHandlersSection = "Tessura_Old";

// The verbs' captions and the types' descriptions, translated ("main/playcommand", ...).
struct FileTypeTexts {
    std::string play = "Play";
    std::string addToPlaylist = "Add to playlist";
    std::string open = "Open";
    std::string install = "Install into Tessura";
    std::string playlistType = "Tessura Playlist";
    std::string skinType = "Tessura Skin";
};

class FileTypeRegistrar {
  public:
    // Runs a desktop database tool (update-desktop-database, update-mime-database) when present.
    using ToolRunner = std::function<void(const std::vector<std::string>& argv)>;

    FileTypeRegistrar(ProgramFolder folder, SettingsStore& store, ToolRunner runner = {});

    // Writes the desktop entry and the skin type, and makes this program the default for each
    // of `mimeTypes`. False when a file could not be written.
    bool Register(const std::vector<std::string>& mimeTypes, const FileTypeTexts& texts);
    // Gives each of `mimeTypes` back to its earlier handler (or to none).
    bool Unregister(const std::vector<std::string>& mimeTypes);
    // The default entry for `mimeType` is ours and its command names this program.
    bool IsDefaultFor(const std::string& mimeType) const;

    bool IsAudioCdHandler() const;
    bool SetAudioCdHandler(bool on);

    // The command line of the desktop entries, "\"PATH\"" quoted for the Exec key.
    std::string ProgramCommand() const;

  private:
    bool writeDesktopEntry(const FileTypeTexts& texts);
    bool writeSkinType(const FileTypeTexts& texts);
    bool editDefaults(const std::function<void(class MimeAppsList&)>& edit);
    bool entryCommandIsOurs(const std::string& entryName, const std::string& command) const;
    void runTool(const std::vector<std::string>& argv) const;

    ProgramFolder folder_;
    SettingsStore& store_;
    ToolRunner runner_;
};

// One argument quoted for a desktop entry's Exec key (quotes, the reserved characters escaped,
// '%' doubled, then the desktop file's own backslash escaping).
std::string quoteExecArgument(const std::string& argument);

// Runs the tool with posix_spawnp when it is on PATH and waits for it; nothing otherwise.
void runToolIfPresent(const std::vector<std::string>& argv);

}  // namespace tessura

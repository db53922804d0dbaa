#pragma once
// File types, as freedesktop desktop entries: at every start of the player the desktop entry
// (with its "&Encode to Velora" action for WAVE files) is written afresh, and unless the user
// declined for good the "Associate File Types" question offers to make veloraplay the default
// application for audio/mpeg in mimeapps.list.
#include "DialogService.h"
#include "Processes.h"
#include "SettingsStore.h"

#include <string>
#include <vector>

namespace veloraplay {

inline constexpr char kDesktopId[] = "veloraplay.desktop";
inline constexpr char kMp3MimeType[] = "audio/mpeg";

inline constexpr char kAssociateTitle[] = "Associate File Types";
inline constexpr char kAssociateText[] =
    "Velora Audio Player is not currently the default player for mp3 and Velora digital audio "
    "files. Would you like to associate this program with .mp3 files now?";
inline constexpr char kAssociateCheckBox[] = "Don't ask this question again.";
inline constexpr char kEncodeActionName[] = "&Encode to Velora";

struct RegistrarPaths {
    std::string applicationsFolder;     // $XDG_DATA_HOME/applications
    std::vector<std::string> dataDirs;  // $XDG_DATA_DIRS, for entries installed elsewhere
    std::string mimeappsList;           // $XDG_CONFIG_HOME/mimeapps.list
    std::string programPath;            // this program
};

class FiletypeRegistrar {
  public:
    // `runner` may be null (no desktop database refresh).
    FiletypeRegistrar(RegistrarPaths paths, SettingsStore& settings, DialogService& dialogs,
                      CommandRunner* runner);

    // The whole start-up check.
    void check();

    // Whether the default application for `mimeType` is a desktop entry whose Exec names this
    // program's path as a whole word.
    bool isDefaultPlayer(const std::string& mimeType) const;

    std::string desktopEntryText() const;
    std::string desktopFilePath() const;

  private:
    void writeDesktopEntry();
    bool makeDefault(const std::string& mimeType);

    RegistrarPaths paths_;
    SettingsStore& settings_;
    DialogService& dialogs_;
    CommandRunner* runner_;
};

// Exec values of desktop entries: one word quoted as the format wants it, and a value split
// back into its words (string escapes, quoting and "%%" undone; field codes stay as words).
std::string quoteExecWord(const std::string& word);
std::vector<std::string> splitExecValue(const std::string& value);

// `text` of a mimeapps.list with `mimeType=desktopId` in [Default Applications]; every other
// line is kept byte for byte.
std::string withMimeDefault(const std::string& text, const std::string& mimeType,
                            const std::string& desktopId);

// The desktop ids listed as defaults for `mimeType` in a mimeapps.list text.
std::vector<std::string> mimeDefaults(const std::string& text, const std::string& mimeType);

// The value of `key` in the [Desktop Entry] group of a desktop file's text.
std::string desktopEntryValue(const std::string& text, const std::string& key);

}  // namespace veloraplay

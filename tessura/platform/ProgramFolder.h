#pragma once
// Where tessura finds its run-time folders and keeps its per-user files.
//
// The program folder holds "system/" (modules, plug-ins, language files, the default skin),
// "vis/", "skins/", "Temp/", "tessura.pls" and the older settings file "tessura.ini". It is
// $TESSURA_HOME when set, else the executable's own folder; an installed program (bin/ with no
// system/ beside it) uses <prefix>/share/tessura.
#include <string>

namespace tessura {

struct ProgramFolder {
    std::string home;            // the program folder, no trailing '/'
    std::string executablePath;  // absolute path of the running program ("" when unknown)
    std::string configHome;      // $XDG_CONFIG_HOME, default ~/.config
    std::string dataHome;        // $XDG_DATA_HOME, default ~/.local/share
    std::string runtimeDir;      // $XDG_RUNTIME_DIR, "" when unset

    static ProgramFolder fromEnvironment();

    // `relative` under the program folder; '\' of names written on Windows becomes '/'.
    std::string file(const std::string& relative) const;
    std::string systemDir() const { return home + "/system"; }
    std::string visDir() const { return home + "/vis"; }
    std::string skinsDir() const { return home + "/skins"; }
    std::string tempDir() const { return home + "/Temp"; }

    // The per-user settings file that stands in for the registry key.
    std::string settingsFile() const { return configHome + "/Quellmark/tessura.ini"; }
    // The older settings source, read where the settings file has no value.
    std::string legacySettingsFile() const { return file("tessura.ini"); }
    std::string mimeappsList() const { return configHome + "/mimeapps.list"; }
    std::string applicationsDir() const { return dataHome + "/applications"; }
    std::string mimePackagesDir() const { return dataHome + "/mime/packages"; }

    // Where a running tessura listens for the command lines of later starts, and the lock file
    // that serialises two starts: in $XDG_RUNTIME_DIR, else in /tmp/tessura-<uid>/ (which the
    // single-instance code creates 0700 and checks to be the user's own).
    std::string instanceFolder() const;
    std::string instanceSocket() const { return instanceFolder() + "/tessura.sock"; }
    std::string instanceLock() const { return instanceFolder() + "/tessura.lock"; }
};

// The sound output chosen by $TESSURA_AUDIO: unset or "sdl" the desktop's sound device, "null"
// no sound (buffers consumed at the real-time rate), "wav:PATH" what would be heard written to
// PATH. Anything else is refused rather than guessed.
struct AudioBackendChoice {
    enum class Kind { Sdl, Null, Wav, Invalid };
    Kind kind = Kind::Sdl;
    std::string wavPath;
};
AudioBackendChoice parseAudioBackend(const char* value);
AudioBackendChoice audioBackendFromEnvironment();

// The running program's path from /proc/self/exe; "" when it cannot be read.
std::string runningProgramPath();

// A path written with '\' (Windows) read with '/'.
std::string withSlashes(std::string path);

}  // namespace tessura

#pragma once
// Where veloraplay keeps its files: the XDG base folders of the user and its own location.
#include <string>
#include <vector>

namespace veloraplay {

struct AppPaths {
    std::string configHome;             // $XDG_CONFIG_HOME, default ~/.config
    std::string dataHome;               // $XDG_DATA_HOME, default ~/.local/share
    std::vector<std::string> dataDirs;  // $XDG_DATA_DIRS, default /usr/local/share:/usr/share
    std::string runtimeDir;             // $XDG_RUNTIME_DIR, empty when unset
    std::string programPath;            // absolute path of the running program
    std::string programHome;            // $VELORAPLAY_HOME, else the program's folder

    static AppPaths fromEnvironment();

    std::string settingsFile() const { return configHome + "/Nordvale/veloraplay.ini"; }
    std::string mimeappsList() const { return configHome + "/mimeapps.list"; }
    std::string applicationsFolder() const { return dataHome + "/applications"; }
};

// The running program's own path (from /proc/self/exe); empty when unknown.
std::string currentProgramPath();

}  // namespace veloraplay

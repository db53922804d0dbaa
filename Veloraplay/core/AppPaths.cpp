#include "AppPaths.h"

#include "AtomicFile.h"

#include <pwd.h>
#include <unistd.h>
#include <climits>
#include <cstdlib>

namespace veloraplay {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string homeFolder() {
    std::string home = environment("HOME");
    if (!home.empty()) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

// The base-directory rules ignore relative values.
std::string absoluteOr(const char* name, const std::string& fallback) {
    std::string value = environment(name);
    return (!value.empty() && value[0] == '/') ? value : fallback;
}

}  // namespace

std::string currentProgramPath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

AppPaths AppPaths::fromEnvironment() {
    AppPaths paths;
    const std::string home = homeFolder();
    paths.configHome = absoluteOr("XDG_CONFIG_HOME", home + "/.config");
    paths.dataHome = absoluteOr("XDG_DATA_HOME", home + "/.local/share");
    std::string dirs = environment("XDG_DATA_DIRS");
    if (dirs.empty()) dirs = "/usr/local/share:/usr/share";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t colon = dirs.find(':', start);
        const std::string dir =
            dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!dir.empty() && dir[0] == '/') paths.dataDirs.push_back(dir);
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    paths.runtimeDir = absoluteOr("XDG_RUNTIME_DIR", "");
    paths.programPath = currentProgramPath();
    paths.programHome = environment("VELORAPLAY_HOME");
    if (paths.programHome.empty()) paths.programHome = folderOf(paths.programPath);
    return paths;
}

}  // namespace veloraplay

#include "ProgramFolder.h"

#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tessura {

namespace {
std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string userHome() {
    std::string home = environment("HOME");
    if (!home.empty()) return home;
    if (const passwd* entry = ::getpwuid(::getuid())) return entry->pw_dir;
    return "/tmp";
}

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool isFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// XDG rules: a relative or empty value counts as unset.
std::string xdgFolder(const char* name, const std::string& fallback) {
    const std::string value = environment(name);
    if (value.empty() || value.front() != '/') return fallback;
    return withoutTrailingSlash(value);
}
}  // namespace

std::string runningProgramPath() {
    std::vector<char> buffer(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return {};
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

std::string withSlashes(std::string path) {
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

ProgramFolder ProgramFolder::fromEnvironment() {
    ProgramFolder folder;
    folder.executablePath = runningProgramPath();
    const std::string home = userHome();
    folder.configHome = xdgFolder("XDG_CONFIG_HOME", home + "/.config");
    folder.dataHome = xdgFolder("XDG_DATA_HOME", home + "/.local/share");
    folder.runtimeDir = xdgFolder("XDG_RUNTIME_DIR", "");

    const std::string override = environment("TESSURA_HOME");
    if (!override.empty()) {
        folder.home = withoutTrailingSlash(override);
        return folder;
    }
    const std::string beside =
        folder.executablePath.empty() ? std::string(".") : folderOf(folder.executablePath);
    const std::string installed = folderOf(beside) + "/share/tessura";
    folder.home =
        (!isFolder(beside + "/system") && isFolder(installed + "/system")) ? installed : beside;
    return folder;
}

std::string ProgramFolder::file(const std::string& relative) const {
    return home + "/" + withSlashes(relative);
}

}  // namespace tessura

namespace tessura {

std::string ProgramFolder::instanceFolder() const {
    if (!runtimeDir.empty()) return runtimeDir;
    return "/tmp/tessura-" + std::to_string(::getuid());
}

AudioBackendChoice parseAudioBackend(const char* value) {
    AudioBackendChoice choice;
    const std::string text = value ? value : "";
    if (text.empty() || text == "sdl") return choice;
    if (text == "null") {
        choice.kind = AudioBackendChoice::Kind::Null;
    } else if (text.rfind("wav:", 0) == 0 && text.size() > 4) {
        choice.kind = AudioBackendChoice::Kind::Wav;
        choice.wavPath = text.substr(4);
    } else {
        choice.kind = AudioBackendChoice::Kind::Invalid;
    }
    return choice;
}

AudioBackendChoice audioBackendFromEnvironment() {
    return parseAudioBackend(std::getenv("TESSURA_AUDIO"));
}

}  // namespace tessura

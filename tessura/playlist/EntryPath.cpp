#include "EntryPath.h"

#include "ProgramFolder.h"

namespace tessura {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool hasDrive(std::string_view name) {
    return name.size() >= 2 && name[1] == ':' && !isUrl(name);
}

// A name from a Windows file uses '\'; one that already holds '/' was written here and may hold
// a '\' as an ordinary character of a file name.
std::string localName(std::string_view name) {
    if (name.find('/') != std::string_view::npos) return std::string(name);
    return withSlashes(std::string(name));
}

std::string joined(std::string_view folder, char separator, std::string_view name) {
    std::string out(folder);
    if (!out.empty() && out.back() != separator) out += separator;
    out += name;
    return out;
}

}  // namespace

bool isUrl(std::string_view name) {
    return name.find("://") != std::string_view::npos;
}

std::string folderOfPath(std::string_view path) {
    const bool windows = startsWith(path, "\\\\") || hasDrive(path);
    const auto slash = path.find_last_of(windows ? "\\/" : "/");
    if (slash == std::string_view::npos) return "";
    if (slash == 0) return std::string(path.substr(0, 1));
    return std::string(path.substr(0, slash));
}

std::string resolveEntryPath(std::string_view folder, std::string_view name) {
    if (hasDrive(name) || isUrl(name) || startsWith(name, "\\\\")) return std::string(name);
    if (!name.empty() && (name.front() == '\\' || name.front() == '/')) {
        if (startsWith(folder, "\\\\")) {
            return std::string(folder.substr(0, folder.find_first_of("\\/", 2))) + std::string(name);
        }
        if (hasDrive(folder)) return std::string(folder.substr(0, 2)) + std::string(name);
        if (isUrl(folder)) {
            const auto host = folder.find("://") + 3;
            return std::string(folder.substr(0, folder.find('/', host))) +
                   withSlashes(std::string(name));
        }
        return localName(name);
    }
    if (startsWith(folder, "\\\\") || hasDrive(folder)) return joined(folder, '\\', name);
    if (isUrl(folder)) return joined(folder, '/', withSlashes(std::string(name)));
    return joined(folder, '/', localName(name));
}

std::string nameInFolder(std::string_view folder, std::string_view path) {
    if (isUrl(path)) return "";
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos || slash + 1 == path.size()) return "";
    const std::string_view dir = slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
    if (dir != folder) return "";
    const std::string name(path.substr(slash + 1));
    return resolveEntryPath(folder, name) == path ? name : "";
}

std::string extensionOf(std::string_view name) {
    const auto slash = name.find_last_of("/\\");
    const std::string_view last = slash == std::string_view::npos ? name : name.substr(slash + 1);
    const auto dot = last.rfind('.');
    return dot == std::string_view::npos ? "" : std::string(last.substr(dot + 1));
}

std::string shownFileTitle(std::string_view name) {
    if (isUrl(name)) {
        std::string_view rest = name.substr(name.find("://") + 3);
        while (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
        return std::string(rest.empty() ? name : rest);
    }
    const auto slash = name.find_last_of(name.find('/') != std::string_view::npos ? "/" : "/\\");
    std::string_view last = slash == std::string_view::npos ? name : name.substr(slash + 1);
    const auto dot = last.rfind('.');
    if (dot != std::string_view::npos && dot > 0) last = last.substr(0, dot);
    return std::string(last);
}

std::string locationToUrl(std::string_view typed) {
    std::string url(typed);
    if (isUrl(url)) return url;
    if (url.find("www.") != std::string::npos || url.find("WWW.") != std::string::npos ||
        (!url.empty() && url.front() >= '0' && url.front() <= '9')) {
        return "http://" + url;
    }
    if (url.find("ftp.") != std::string::npos || url.find("FTP.") != std::string::npos) {
        return "ftp://" + url;
    }
    return url;
}

}  // namespace tessura

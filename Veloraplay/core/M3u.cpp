#include "M3u.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "AtomicFile.h"
#include "TextUtil.h"

namespace veloraplay {

namespace {

bool beginsWithNoCase(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && equalNoCase(s.substr(0, prefix.size()), prefix);
}

bool endsWithNoCase(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && equalNoCase(s.substr(s.size() - suffix.size()), suffix);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// One line of the file, already without its LF.
void takeLine(std::string line, bool first, std::vector<std::string>& items,
              std::string* listName) {
    static const std::string kBom = "\xEF\xBB\xBF";
    if (first && line.compare(0, kBom.size(), kBom) == 0) line.erase(0, kBom.size());
    line = trimmed(line);
    if (line.empty()) return;
    if (line[0] != '#') {
        if (items.size() < kMaxPlaylistItems) items.push_back(std::move(line));
        return;
    }
    static const std::string kMarker = "##ListName:";
    if (beginsWithNoCase(line, kMarker)) {
        std::string name = trimmed(line.substr(kMarker.size()));
        if (!name.empty() && listName) *listName = std::move(name);
    }
}

// Keeps the mode of a file that is replaced; a new playlist or page is readable by all.
unsigned modeFor(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
    return 0644;
}

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

std::vector<std::string> readM3u(const std::string& path, std::string* listName) {
    std::vector<std::string> items;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return items;
    std::string line;
    bool tooLong = false;  // the rest of an overlong line is dropped up to its LF
    bool first = true;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buffer[i];
            if (c == '\n') {
                if (!tooLong) takeLine(std::move(line), first, items, listName);
                line.clear();
                tooLong = false;
                first = false;
            } else if (!tooLong) {
                if (line.size() >= kMaxM3uLine) {
                    tooLong = true;
                    line.clear();
                } else {
                    line.push_back(c);
                }
            }
        }
        if (items.size() >= kMaxPlaylistItems) break;
    }
    ::close(fd);
    if (!tooLong && !line.empty()) takeLine(std::move(line), first, items, listName);
    return items;
}

bool writeM3u(const std::string& path, const std::string& listName,
              const std::vector<std::string>& items) {
    std::string content;
    if (!listName.empty()) {
        std::string name = listName;
        for (char& c : name) {
            if (c == '\r' || c == '\n') c = ' ';
        }
        content += "##ListName: " + name + "\r\n";
    }
    for (const std::string& item : items) {
        if (item.empty() || item.find_first_of("\r\n") != std::string::npos) continue;
        if (item[0] == '#') content += "./";
        content += item + "\r\n";
    }
    return writeFileAtomically(path, content, modeFor(path));
}

std::vector<std::string> expandArguments(const std::vector<std::string>& args) {
    std::vector<std::string> items;
    const auto add = [&items](std::vector<std::string> more) {
        for (std::string& item : more) {
            if (items.size() >= kMaxPlaylistItems) return;
            items.push_back(std::move(item));
        }
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word.empty()) continue;
        bool isSwitch = false;
        if ((word[0] == '-' || word[0] == '/') && !exists(word)) {
            isSwitch = word[0] == '-' || equalNoCase(word, "/L") || equalNoCase(word, "/ENCODE");
        }
        if (isSwitch) {
            if (equalNoCase(word.substr(1), "L") && i + 1 < args.size()) add(readM3u(args[++i]));
            continue;
        }
        if (endsWithNoCase(word, ".m3u")) {
            add(readM3u(word));
        } else if (items.size() < kMaxPlaylistItems) {
            items.push_back(word);
        }
    }
    return items;
}

std::string htmlEscaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string fileLink(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "file://";
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c) || c == '/') {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

bool writeHtmlExport(const std::string& path, const std::string& listName,
                     const std::vector<std::string>& items) {
    std::string page = "<html><head></head><body>\n";
    if (!listName.empty()) page += "<b>" + htmlEscaped(listName) + "</b><br><br>\n";
    for (std::size_t k = 0; k < items.size(); ++k) {
        // The link is percent-encoded, so it needs no escaping inside its quotes.
        page += "<a href=\"" + fileLink(items[k]) + "\">" + std::to_string(k) + ") " +
                htmlEscaped(items[k]) + "</a><br>\n";
    }
    page += "</body></html>\n";
    return writeFileAtomically(path, page, modeFor(path));
}

}  // namespace veloraplay

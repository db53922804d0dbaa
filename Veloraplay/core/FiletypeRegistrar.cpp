#include "FiletypeRegistrar.h"

#include "AtomicFile.h"
#include "TextUtil.h"
#include "PlayerSettings.h"

#include <sys/stat.h>
#include <cctype>

namespace veloraplay {
namespace {

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return lines;
}

bool isGroupHeader(const std::string& line, std::string& name) {
    const std::string t = trimmed(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
    name = t.substr(1, t.size() - 2);
    return true;
}

bool keyOf(const std::string& line, std::string& key, std::string& value) {
    const std::string t = trimmed(line);
    if (t.empty() || t[0] == '#') return false;
    const auto eq = t.find('=');
    if (eq == std::string::npos) return false;
    key = trimmed(t.substr(0, eq));
    value = trimmed(t.substr(eq + 1));
    return true;
}

// The string escapes of desktop entry values.
std::string escapeValue(const std::string& raw) {
    std::string out;
    for (const char c : raw) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::string unescapeValue(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            const char e = value[++i];
            c = e == 's' ? ' ' : e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
        }
        out.push_back(c);
    }
    return out;
}

}  // namespace

std::string quoteExecWord(const std::string& word) {
    std::string out = "\"";
    for (const char c : word) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out.push_back('\\');
        if (c == '%') out.push_back('%');
        out.push_back(c);
    }
    out.push_back('"');
    return escapeValue(out);
}

std::vector<std::string> splitExecValue(const std::string& value) {
    const std::string text = unescapeValue(value);
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i >= text.size()) break;
        std::string word;
        bool quoted = false;
        while (i < text.size()) {
            const char c = text[i];
            if (quoted) {
                if (c == '\\' && i + 1 < text.size()) {
                    word.push_back(text[i + 1]);
                    i += 2;
                    continue;
                }
                if (c == '"') {
                    quoted = false;
                    ++i;
                    continue;
                }
            } else {
                if (c == ' ' || c == '\t') break;
                if (c == '"') {
                    quoted = true;
                    ++i;
                    continue;
                }
            }
            if (c == '%' && i + 1 < text.size() && text[i + 1] == '%') ++i;
            word.push_back(text[i]);
            ++i;
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::vector<std::string> mimeDefaults(const std::string& text, const std::string& mimeType) {
    std::vector<std::string> ids;
    std::string group;
    for (const std::string& line : splitLines(text)) {
        std::string name, key, value;
        if (isGroupHeader(line, name)) {
            group = name;
        } else if (group == "Default Applications" && keyOf(line, key, value) && key == mimeType) {
            std::size_t start = 0;
            while (start <= value.size()) {
                const auto semi = value.find(';', start);
                const std::string id = trimmed(value.substr(
                    start, semi == std::string::npos ? std::string::npos : semi - start));
                if (!id.empty()) ids.push_back(id);
                if (semi == std::string::npos) break;
                start = semi + 1;
            }
            break;
        }
    }
    return ids;
}

std::string withMimeDefault(const std::string& text, const std::string& mimeType,
                            const std::string& desktopId) {
    const std::string entry = mimeType + "=" + desktopId;
    // Walk the text line by line, keeping each line's exact bytes (and its '\r', if any).
    std::size_t sectionEnd = std::string::npos;  // where to insert when the key is missing
    bool inSection = false;
    std::string group;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        const std::size_t lineEnd = nl == std::string::npos ? text.size() : nl;
        const std::string line = text.substr(pos, lineEnd - pos);
        std::string name, key, value;
        if (isGroupHeader(line, name)) {
            if (inSection) break;
            inSection = name == "Default Applications";
            if (inSection) sectionEnd = nl == std::string::npos ? text.size() : nl + 1;
        } else if (inSection) {
            if (keyOf(line, key, value) && key == mimeType) {
                const bool cr = !line.empty() && line.back() == '\r';
                return text.substr(0, pos) + entry + (cr ? "\r" : "") + text.substr(lineEnd);
            }
            if (!trimmed(line).empty()) sectionEnd = nl == std::string::npos ? text.size() : nl + 1;
        }
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
    if (sectionEnd != std::string::npos) {
        std::string head = text.substr(0, sectionEnd);
        if (!head.empty() && head.back() != '\n') head.push_back('\n');
        return head + entry + "\n" + text.substr(sectionEnd);
    }
    std::string out = text;
    if (!out.empty() && out.back() != '\n') out.push_back('\n');
    if (!out.empty()) out.push_back('\n');
    return out + "[Default Applications]\n" + entry + "\n";
}

std::string desktopEntryValue(const std::string& text, const std::string& wanted) {
    std::string group;
    for (const std::string& line : splitLines(text)) {
        std::string name, key, value;
        if (isGroupHeader(line, name))
            group = name;
        else if (group == "Desktop Entry" && keyOf(line, key, value) && key == wanted)
            return value;
    }
    return {};
}

FiletypeRegistrar::FiletypeRegistrar(RegistrarPaths paths, SettingsStore& settings,
                                     DialogService& dialogs, CommandRunner* runner)
    : paths_(std::move(paths)), settings_(settings), dialogs_(dialogs), runner_(runner) {}

std::string FiletypeRegistrar::desktopFilePath() const {
    return paths_.applicationsFolder + "/" + kDesktopId;
}

std::string FiletypeRegistrar::desktopEntryText() const {
    const std::string program = quoteExecWord(paths_.programPath);
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Version=1.0\n"
           "Name=Velora Audio Player\n"
           "GenericName=Audio Player\n"
           "Comment=Play, convert and create Velora audio files\n"
           "Exec=" +
           program +
           " %f\n"
           "Icon=audio-x-generic\n"
           "Terminal=false\n"
           "Categories=AudioVideo;Audio;Player;\n"
           "MimeType=audio/mpeg;audio/x-wav;audio/wav;\n"
           "Actions=Veloraify;\n"
           "\n"
           "[Desktop Action Veloraify]\n"
           "Name=" +
           std::string(kEncodeActionName) +
           "\n"
           "Exec=" +
           program + " /ENCODE %f\n";
}

void FiletypeRegistrar::writeDesktopEntry() {
    const std::string text = desktopEntryText();
    std::string current;
    if (readWholeFile(desktopFilePath(), current) && current == text) return;
    if (!writeFileAtomically(desktopFilePath(), text, 0644)) return;  // silent, as all of this
    if (runner_) runner_->run({"update-desktop-database", "-q", paths_.applicationsFolder});
}

bool FiletypeRegistrar::isDefaultPlayer(const std::string& mimeType) const {
    std::string list;
    if (!readWholeFile(paths_.mimeappsList, list)) return false;
    for (const std::string& id : mimeDefaults(list, mimeType)) {
        std::vector<std::string> folders{paths_.applicationsFolder};
        for (const std::string& dir : paths_.dataDirs) folders.push_back(dir + "/applications");
        for (const std::string& folder : folders) {
            std::string entry;
            if (!readWholeFile(folder + "/" + id, entry)) continue;
            // The first listed entry that is installed is the default; it is ours only when its
            // command names this very program, not one whose path merely begins the same.
            for (const std::string& word : splitExecValue(desktopEntryValue(entry, "Exec"))) {
                if (equalNoCase(word, paths_.programPath)) return true;
            }
            return false;
        }
    }
    return false;
}

bool FiletypeRegistrar::makeDefault(const std::string& mimeType) {
    std::string list;
    unsigned mode = 0644;
    struct stat st {};
    if (::stat(paths_.mimeappsList.c_str(), &st) == 0) {
        if (!readWholeFile(paths_.mimeappsList, list)) return false;
        mode = st.st_mode & 07777;
    }
    return writeFileAtomically(paths_.mimeappsList, withMimeDefault(list, mimeType, kDesktopId),
                               mode);
}

void FiletypeRegistrar::check() {
    writeDesktopEntry();
    if (readSetting(settings_, PlayerSetting::DefaultPlayerNot) != 0) return;
    if (isDefaultPlayer(kMp3MimeType)) return;
    QuestionRequest request;
    request.title = kAssociateTitle;
    request.text = kAssociateText;
    request.checkBoxText = kAssociateCheckBox;
    request.buttons = DialogButtons::YesNo;
    const QuestionAnswer answer = dialogs_.question(request);
    if (answer.button == DialogButton::Yes) {
        if (answer.checked) settings_.setInt("File Types", "Default Player.Not", 1);
        makeDefault(kMp3MimeType);
    } else if (answer.checked) {
        settings_.setInt("File Types", "Default player.Not", 1);
    }
    if (answer.checked) settings_.save();
}

}  // namespace veloraplay

#include "SettingsStore.h"

#include "AtomicFile.h"
#include "TextUtil.h"

#include <sys/stat.h>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace veloraplay {
namespace {

std::string valueOf(const std::string& raw) {
    const auto eq = raw.find('=');
    return trimmed(raw.substr(eq + 1));
}

}  // namespace

std::string encodeSettingText(const std::string& value) {
    const bool plain =
        value.find_first_of("\n\r") == std::string::npos &&
        (value.empty() || (value.front() != ' ' && value.front() != '\t' && value.front() != '"' &&
                           value.back() != ' ' && value.back() != '\t'));
    if (plain) return value;
    std::string out = "\"";
    for (const char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

std::string decodeSettingText(const std::string& stored) {
    if (stored.size() < 2 || stored.front() != '"' || stored.back() != '"') return stored;
    std::string out;
    for (std::size_t i = 1; i + 1 < stored.size(); ++i) {
        char c = stored[i];
        if (c == '\\' && i + 2 < stored.size()) {
            c = stored[++i];
            if (c == 'n')
                c = '\n';
            else if (c == 'r')
                c = '\r';
        }
        out.push_back(c);
    }
    return out;
}

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {}

bool SettingsStore::load() {
    std::string text;
    if (!readWholeFile(path_, text)) {
        lines_.clear();
        endsWithNewline_ = true;
        struct stat st {};
        return ::stat(path_.c_str(), &st) != 0 && errno == ENOENT;
    }
    parse(text);
    return true;
}

void SettingsStore::parse(const std::string& text) {
    lines_.clear();
    endsWithNewline_ = text.empty() || text.back() == '\n';
    std::string current;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        Line line;
        line.raw = text.substr(start, nl - start);
        const std::string t = trimmed(line.raw);
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
            line.isSection = true;
            line.section = trimmed(t.substr(1, t.size() - 2));
            current = line.section;
        } else if (!t.empty() && t[0] != ';' && t[0] != '#' && t.find('=') != std::string::npos &&
                   t[0] != '=') {
            line.isKey = true;
            line.section = current;
            line.key = trimmed(t.substr(0, t.find('=')));
        }
        lines_.push_back(std::move(line));
        start = nl + 1;
    }
}

const SettingsStore::Line* SettingsStore::find(const std::string& section,
                                               const std::string& key) const {
    for (const Line& line : lines_) {
        if (line.isKey && equalNoCase(line.section, section) && equalNoCase(line.key, key))
            return &line;
    }
    return nullptr;
}

bool SettingsStore::contains(const std::string& section, const std::string& key) const {
    return find(section, key) != nullptr;
}

int32_t SettingsStore::getInt(const std::string& section, const std::string& key,
                              int32_t fallback) const {
    const Line* line = find(section, key);
    if (!line) return fallback;
    const std::string value = valueOf(line->raw);
    if (value.empty()) return fallback;
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(value.c_str(), &end, 10);
    if (end == value.c_str() || *end != '\0') return fallback;
    if (errno == ERANGE || parsed > INT32_MAX) return INT32_MAX;
    if (parsed < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(parsed);
}

std::string SettingsStore::getString(const std::string& section, const std::string& key,
                                     const std::string& fallback) const {
    const Line* line = find(section, key);
    return line ? decodeSettingText(valueOf(line->raw)) : fallback;
}

void SettingsStore::setInt(const std::string& section, const std::string& key, int32_t value) {
    Change change{section, key, std::to_string(value)};
    apply(change);
    pending_.push_back(std::move(change));
}

void SettingsStore::setString(const std::string& section, const std::string& key,
                              const std::string& value) {
    Change change{section, key, encodeSettingText(value)};
    apply(change);
    pending_.push_back(std::move(change));
}

void SettingsStore::apply(const Change& change) {
    // An existing value keeps the spelling of its name, as a registry value does.
    for (Line& line : lines_) {
        if (line.isKey && equalNoCase(line.section, change.section) &&
            equalNoCase(line.key, change.key)) {
            line.raw = line.key + "=" + change.value;
            return;
        }
    }
    Line added;
    added.isKey = true;
    added.key = change.key;
    added.raw = change.key + "=" + change.value;
    // After the last non-blank line of the section, when the section exists.
    std::size_t insertAt = lines_.size();
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].isSection) {
            if (inSection) break;
            inSection = equalNoCase(lines_[i].section, change.section);
            if (inSection) {
                added.section = lines_[i].section;
                insertAt = i + 1;
            }
        } else if (inSection && !trimmed(lines_[i].raw).empty()) {
            insertAt = i + 1;
        }
    }
    if (added.section.empty()) {
        if (!lines_.empty() && !trimmed(lines_.back().raw).empty()) lines_.push_back(Line{});
        Line header;
        header.isSection = true;
        header.section = change.section;
        header.raw = "[" + change.section + "]";
        lines_.push_back(std::move(header));
        added.section = change.section;
        insertAt = lines_.size();
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(added));
}

std::string SettingsStore::render() const {
    std::string text;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        text += lines_[i].raw;
        if (i + 1 < lines_.size() || endsWithNewline_) text.push_back('\n');
    }
    return text;
}

bool SettingsStore::save() {
    // Start again from the file as it is now and replay this process's changes on it.
    std::vector<Change> changes = std::move(pending_);
    pending_.clear();
    std::string text;
    if (readWholeFile(path_, text))
        parse(text);
    else
        lines_.clear();
    for (const Change& change : changes) apply(change);
    if (!endsWithNewline_ && !lines_.empty()) endsWithNewline_ = true;
    if (writeFileAtomically(path_, render(), 0600)) return true;
    pending_ = std::move(changes);  // try again at the next save
    return false;
}

}  // namespace veloraplay

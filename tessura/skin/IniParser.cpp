#include "IniParser.h"

#include "AtomicFile.h"
#include "TextCase.h"

#include <charconv>
#include <climits>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace tessura {

namespace {

void registerTexts(ErrorService* errors) {
    if (!errors || errors->hasModule(INIParser::kModuleName)) return;
    errors->registerModule(INIParser::kModuleName, INIParser::kErrMemoryMap,
                           {"unable to memory map file", "file not open",
                            "file was opened read only", "file seek failed"});
}

bool needsQuoting(std::string_view value) {
    if (value.empty()) return false;
    if (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' ||
        value.back() == '\t' || value.front() == '"') {
        return true;
    }
    for (char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7F) return true;
    }
    return false;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Keys and section names are written bare, so only those that read back the same are taken.
bool isWritableKey(std::string_view key) {
    if (key.empty() || stripBlanks(key) != key) return false;
    if (key.front() == '#' || key.front() == '[') return false;
    for (char c : key) {
        if (c == '=' || c == '\r' || c == '\n' || c == '\0') return false;
    }
    return true;
}

bool isWritableSectionName(std::string_view name) {
    for (char c : name) {
        if (c == ']' || c == '\r' || c == '\n' || c == '\0') return false;
    }
    return true;
}

}  // namespace

int leadingDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) break;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

std::string INIParser::EscapeValue(std::string_view value) {
    if (!needsQuoting(value)) return std::string(value);
    std::string out = "\"";
    for (char c : value) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: {
                const auto u = static_cast<unsigned char>(c);
                if (u < 0x20 || u == 0x7F) {
                    static const char kHex[] = "0123456789ABCDEF";
                    out += "\\x";
                    out += kHex[u >> 4];
                    out += kHex[u & 15];
                } else {
                    out += c;
                }
            }
        }
    }
    out += '"';
    return out;
}

std::string INIParser::UnescapeValue(std::string_view written) {
    if (written.size() < 2 || written.front() != '"' || written.back() != '"') {
        return std::string(written);
    }
    const std::string_view inner = written.substr(1, written.size() - 2);
    std::string out;
    for (std::size_t i = 0; i < inner.size(); ++i) {
        const char c = inner[i];
        if (c == '"') return std::string(written);  // not our quoting: keep it as it stands
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= inner.size()) return std::string(written);
        switch (inner[i]) {
            case '\\': out += '\\'; break;
            case '"': out += '"'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'x': {
                const int hi = i + 1 < inner.size() ? hexDigit(inner[i + 1]) : -1;
                const int lo = i + 2 < inner.size() ? hexDigit(inner[i + 2]) : -1;
                if (hi < 0 || lo < 0) return std::string(written);
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default: return std::string(written);  // a Windows path in quotes, say
        }
    }
    return out;
}

std::vector<IniSection> INIParser::Parse(std::string_view text, std::vector<IniNote>* notes) {
    std::vector<IniSection> sections;
    std::unordered_map<std::string, std::size_t> sectionIndex;
    IniSection* current = nullptr;
    std::string pendingComment;
    int line = 1;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view content = stripBlanks(text.substr(start, end - start));
        const int thisLine = line;
        // CR LF counts as one line break; a lone CR or LF as one too.
        if (end < text.size()) {
            if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
            ++line;
        }
        start = end + 1;
        if (content.empty()) continue;

        if (content.front() == '#') {
            if (!pendingComment.empty()) pendingComment += '\n';
            pendingComment += stripBlanks(content.substr(1));
            continue;
        }
        const auto close = content.find(']');
        if (content.front() == '[' && close != std::string_view::npos) {
            const std::string_view name = content.substr(1, close - 1);
            // Sections by lower-case name, so a file of many sections is read in linear time.
            const auto [at, added] = sectionIndex.emplace(lowerAscii(name), sections.size());
            if (added) sections.push_back(IniSection{std::string(name), {}, {}});
            current = &sections[at->second];
            const std::string_view after = stripBlanks(content.substr(close + 1));
            std::string comment = !after.empty() && after.front() == '#'
                                      ? std::string(stripBlanks(after.substr(1)))
                                      : std::move(pendingComment);
            if (current->comment.empty()) current->comment = std::move(comment);
            pendingComment.clear();
            continue;
        }
        const auto equals = content.find('=');
        if (!current || equals == std::string_view::npos) {
            if (notes) {
                notes->push_back({thisLine, "line " + std::to_string(thisLine) +
                                                (current ? ": no '=' in an entry line, ignored"
                                                         : ": text before the first section, ignored")});
            }
            pendingComment.clear();
            continue;
        }
        IniEntry entry;
        entry.key = std::string(stripBlanks(content.substr(0, equals)));
        entry.value = UnescapeValue(stripBlanks(content.substr(equals + 1)));
        entry.comment = std::move(pendingComment);
        pendingComment.clear();
        current->entries.push_back(std::move(entry));
    }
    return sections;
}

INIParser::INIParser(std::shared_ptr<ErrorService> errors) : errors_(std::move(errors)) {
    registerTexts(errors_.get());
}

INIParser::~INIParser() {
    Close();
}

int INIParser::Open(const std::string& path, Mode mode) {
    Close();
    std::string bytes;
    if (!readWholeFile(path, bytes)) {
        if (mode != Mode::Create || fileExists(path)) return kErrFileNotOpen;
        bytes.clear();
    }
    sections_ = Parse(bytes, &notes_);
    path_ = path;
    open_ = true;
    writable_ = mode != Mode::ReadOnly;
    changed_ = false;
    return 0;
}

int INIParser::OpenMemory(std::string_view text) {
    Close();
    sections_ = Parse(text, &notes_);
    path_.clear();
    open_ = true;
    writable_ = false;
    changed_ = false;
    return 0;
}

int INIParser::Close() {
    int result = 0;
    if (open_ && writable_ && changed_) result = Write();
    sections_.clear();
    notes_.clear();
    path_.clear();
    open_ = false;
    writable_ = false;
    changed_ = false;
    return result;
}

int INIParser::checkWritable() const {
    if (!open_) return kErrFileNotOpen;
    if (!writable_) return kErrReadOnly;
    return 0;
}

std::string INIParser::Serialise() const {
    std::string out;
    for (const IniSection& section : sections_) {
        out += '[';
        out += section.name;
        out += ']';
        if (!section.comment.empty()) {
            out += " #";
            out += singleLine(section.comment);
        }
        out += "\r\n";
        for (const IniEntry& entry : section.entries) {
            std::size_t start = 0;
            while (!entry.comment.empty() && start <= entry.comment.size()) {
                std::size_t end = entry.comment.find('\n', start);
                if (end == std::string::npos) end = entry.comment.size();
                out += '#';
                out += singleLine(entry.comment.substr(start, end - start));
                out += "\r\n";
                start = end + 1;
            }
            out += entry.key;
            out += '=';
            out += EscapeValue(entry.value);
            out += "\r\n";
        }
        out += "\r\n";
    }
    return out;
}

int INIParser::Write() {
    if (const int refused = checkWritable()) return refused;
    switch (writeFileAtomically(path_, Serialise(), fileMode_)) {
        case WriteResult::Ok: changed_ = false; return 0;
        case WriteResult::ShortWrite: return error_code::kDiskWriteFailed;
        case WriteResult::CannotCreate:
        case WriteResult::CannotReplace: return error_code::kCouldNotWrite;
    }
    return error_code::kUnknown;
}

const IniSection* INIParser::findSection(std::string_view name) const {
    for (const IniSection& s : sections_) {
        if (equalsNoCase(s.name, name)) return &s;
    }
    return nullptr;
}

IniSection* INIParser::findSection(std::string_view name) {
    for (IniSection& s : sections_) {
        if (equalsNoCase(s.name, name)) return &s;
    }
    return nullptr;
}

bool INIParser::HasSection(std::string_view section) const {
    return findSection(section) != nullptr;
}

std::optional<std::string> INIParser::Find(std::string_view section, std::string_view key) const {
    const IniSection* s = findSection(section);
    if (!s) return std::nullopt;
    for (const IniEntry& e : s->entries) {
        if (equalsNoCase(e.key, key)) return e.value;
    }
    return std::nullopt;
}

int INIParser::GetString(std::string_view section, std::string_view key, char* buffer,
                         std::size_t size) const {
    const IniSection* s = findSection(section);
    if (!s) return kNoSection;
    for (const IniEntry& e : s->entries) {
        if (!equalsNoCase(e.key, key)) continue;
        if (!buffer || size == 0) return 0;
        const std::size_t n = std::min(e.value.size(), size - 1);
        std::memcpy(buffer, e.value.data(), n);
        buffer[n] = '\0';
        return static_cast<int>(n);
    }
    return kNoKey;
}

int INIParser::GetInt(std::string_view section, std::string_view key) const {
    if (!findSection(section)) return kNoSection;
    const auto value = Find(section, key);
    return value ? leadingDecimal(*value) : kNoKey;
}

double INIParser::GetFloat(std::string_view section, std::string_view key) const {
    if (!findSection(section)) return kNoSection;
    const auto value = Find(section, key);
    if (!value) return kNoKey;
    std::string_view text = stripBlanks(*value);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double number = 0.0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), number,
                                        std::chars_format::fixed | std::chars_format::scientific);
    return parsed.ec == std::errc() ? number : 0.0;
}

int INIParser::SetString(std::string_view section, std::string_view key, std::string_view value) {
    if (const int refused = checkWritable()) return refused;
    if (!isWritableKey(key) || !isWritableSectionName(section)) {
        return error_code::kInvalidParameter;
    }
    IniSection* s = findSection(section);
    if (!s) {
        sections_.push_back(IniSection{std::string(section), {}, {}});
        s = &sections_.back();
    }
    for (IniEntry& e : s->entries) {
        if (equalsNoCase(e.key, key)) {
            if (e.value != value) {
                e.value = std::string(value);
                changed_ = true;
            }
            return 0;
        }
    }
    s->entries.push_back(IniEntry{std::string(key), std::string(value), {}});
    changed_ = true;
    return 0;
}

int INIParser::RemoveKey(std::string_view section, std::string_view key) {
    if (const int refused = checkWritable()) return refused;
    IniSection* s = findSection(section);
    if (!s) return kNoSection;
    for (auto it = s->entries.begin(); it != s->entries.end(); ++it) {
        if (equalsNoCase(it->key, key)) {
            s->entries.erase(it);
            changed_ = true;
            return 0;
        }
    }
    return kNoKey;
}

int INIParser::RemoveSection(std::string_view section) {
    if (const int refused = checkWritable()) return refused;
    for (auto it = sections_.begin(); it != sections_.end(); ++it) {
        if (equalsNoCase(it->name, section)) {
            sections_.erase(it);
            changed_ = true;
            return 0;
        }
    }
    return kNoSection;
}

std::optional<std::string> INIParser::ErrorText(int code) const {
    return errors_ ? errors_->text(code) : std::nullopt;
}

}  // namespace tessura

#include "PlaylistFile.h"

#include "EntryPath.h"
#include "IniParser.h"
#include "SettingsStore.h"
#include "TextCase.h"

#include <map>
#include <unordered_map>

namespace tessura {

namespace {

constexpr std::string_view kSection = "playlist";

const IniSection* playlistSection(const std::vector<IniSection>& sections) {
    for (const IniSection& s : sections) {
        if (equalsNoCase(s.name, kSection)) return &s;
    }
    return nullptr;
}

// The numbered keys of one entry (the first of repeated keys wins, as in a look-up).
enum Field { kFile, kTitle, kAuthor, kInfo, kExtraInfo, kLength, kFieldCount };
struct NumberedKeys {
    const std::string* field[kFieldCount] = {};
};

// "title17" -> (kTitle, 17); n = 0 for any other key.
std::pair<Field, long> numberedKey(std::string_view lowerKey) {
    static constexpr std::pair<std::string_view, Field> kPrefixes[] = {
        {"file", kFile}, {"title", kTitle}, {"author", kAuthor},
        {"info", kInfo}, {"extrainfo", kExtraInfo}, {"length", kLength}};
    for (const auto& [prefix, field] : kPrefixes) {
        if (lowerKey.substr(0, prefix.size()) != prefix) continue;
        const std::string_view digits = lowerKey.substr(prefix.size());
        if (digits.empty() || digits.size() > 9) return {kFile, 0};
        long n = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return {kFile, 0};
            n = n * 10 + (c - '0');
        }
        return {field, n};
    }
    return {kFile, 0};
}

std::string infoText(const std::string* value) {
    return value ? cutUtf8(*value, kMaxInfoText) : std::string();
}

bool startsWithNoCase(std::string_view line, std::string_view prefix) {
    return line.size() >= prefix.size() && equalsNoCase(line.substr(0, prefix.size()), prefix);
}

void addValue(std::string& out, const std::string& key, std::string_view value) {
    out += key;
    out += '=';
    out += INIParser::EscapeValue(value);
    out += "\r\n";
}

}  // namespace

namespace {
PlaylistFileContent plsFromSection(const IniSection* section, std::string_view folder);
}  // namespace

PlaylistFileContent parsePlaylistText(std::string_view text, std::string_view folder) {
    const std::vector<IniSection> sections = INIParser::Parse(text, nullptr);
    const IniSection* section = playlistSection(sections);
    return section ? plsFromSection(section, folder) : parseM3u(text, folder);
}

PlaylistFileContent parsePls(std::string_view text, std::string_view folder) {
    const std::vector<IniSection> sections = INIParser::Parse(text, nullptr);
    return plsFromSection(playlistSection(sections), folder);
}

namespace {
PlaylistFileContent plsFromSection(const IniSection* section, std::string_view folder) {
    PlaylistFileContent content;
    content.pls = true;
    if (!section) return content;
    // One pass over the keys: a file of many entries is read in n log n, and the count only
    // bounds the numbers taken, so a file claiming two billion entries costs nothing.
    std::unordered_map<std::string, const std::string*> single;
    std::map<long, NumberedKeys> numbered;
    for (const IniEntry& e : section->entries) {
        const std::string key = lowerAscii(e.key);
        const auto [field, n] = numberedKey(key);
        if (n >= 1) {
            const std::string*& slot = numbered[n].field[field];
            if (!slot) slot = &e.value;
        } else {
            single.emplace(key, &e.value);
        }
    }
    auto lookUp = [&](const char* key) -> const std::string* {
        const auto found = single.find(key);
        return found == single.end() ? nullptr : found->second;
    };
    const std::string* count = lookUp("numberofentries");
    if (!count || leadingDecimal(*count) < 0) return content;
    const long declared = leadingDecimal(*count);
    content.readable = true;

    const std::string* cached = lookUp("cachedinfo");
    const std::string* version = lookUp("version");
    const bool withInfo = (cached && leadingDecimal(*cached) == 1) ||
                          (version && leadingDecimal(*version) == 2);
    if (const std::string* autoplay = lookUp("autoplay")) {
        content.autoplay = leadingDecimal(*autoplay);
    }
    content.externalPlaylist = infoText(lookUp("externalplaylist"));

    for (const auto& [n, keys] : numbered) {
        if (n > declared) break;
        const std::string* name = keys.field[kFile];
        if (!name || name->empty() || name->size() > kMaxEntryName) continue;
        PlaylistFileItem item;
        item.name = resolveEntryPath(folder, *name);
        if (withInfo) {
            EntryInfo info;
            info.title = infoText(keys.field[kTitle]);
            info.author = infoText(keys.field[kAuthor]);
            info.info = infoText(keys.field[kInfo]);
            info.extraInfo = infoText(keys.field[kExtraInfo]);
            const std::string* length = keys.field[kLength];
            info.length = length ? parseAutoBase(*length).value_or(-1) : 0;
            item.info = std::move(info);
        }
        content.items.push_back(std::move(item));
    }
    return content;
}
}  // namespace

PlaylistFileContent parseM3u(std::string_view bytes, std::string_view folder) {
    PlaylistFileContent content;
    content.readable = true;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    bool extended = false;
    std::optional<EntryInfo> pending;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view line = bytes.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
        if (line.size() > kMaxEntryName) {  // no such file can exist; never split it into names
            pending.reset();
            continue;
        }
        if (startsWithNoCase(line, "#EXTM3U")) {
            extended = true;
            continue;
        }
        if (extended && line.substr(0, 8) == "#EXTINF:") {
            const std::string_view rest = line.substr(8);
            const auto comma = rest.find(',');
            EntryInfo info;
            info.length = parseAutoBase(stripBlanks(rest.substr(0, comma))).value_or(-1);
            if (comma != std::string_view::npos) {
                info.title = cutUtf8(stripBlanks(rest.substr(comma + 1)), kMaxInfoText);
            }
            pending = std::move(info);
            continue;
        }
        // Only a line that begins with '#' is a comment: a '#' inside a name is part of it.
        if (line.empty() || line.front() == '#' || stripBlanks(line).empty()) continue;
        content.items.push_back({resolveEntryPath(folder, line), std::move(pending)});
        pending.reset();
    }
    return content;
}

PlsText serialisePls(const std::vector<PlaylistEntry>& entries, std::string_view folder,
                     bool withInfo, const std::vector<std::pair<std::string, std::string>>& extra) {
    PlsText out;
    out.bytes = "[playlist]\r\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const PlaylistEntry& entry = entries[i];
        const std::string n = std::to_string(i + 1);
        std::string name = nameInFolder(folder, entry.file);
        if (name.empty()) {
            name = entry.file;
        } else {
            for (char& c : name) {
                if (c >= 1 && c <= 31) {
                    c = '?';
                    out.replacedControls = true;
                }
            }
        }
        addValue(out.bytes, "File" + n, name);
        if (!withInfo) continue;
        if (entry.length != -1) addValue(out.bytes, "Length" + n, std::to_string(entry.length));
        if (!entry.title.empty()) addValue(out.bytes, "Title" + n, entry.title);
        if (!entry.author.empty()) addValue(out.bytes, "Author" + n, entry.author);
        if (!entry.info.empty()) addValue(out.bytes, "Info" + n, entry.info);
        if (!entry.extraInfo.empty()) addValue(out.bytes, "ExtraInfo" + n, entry.extraInfo);
    }
    addValue(out.bytes, "NumberOfEntries", std::to_string(entries.size()));
    if (withInfo) {
        addValue(out.bytes, "CachedInfo", "1");
        addValue(out.bytes, "Version", "2");
    }
    for (const auto& [key, value] : extra) addValue(out.bytes, key, value);
    out.bytes += "\r\n";
    return out;
}

}  // namespace tessura

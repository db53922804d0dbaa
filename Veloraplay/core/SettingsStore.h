#pragma once
// The per-user settings: an INI file whose sections stand for the settings key's subkeys.
// Look-ups ignore case in section and key names, as the registry does; integers are decimal.
// Changes are kept in memory until save(), which applies them to the file as it is on disk
// at that moment (so another veloraplay process's values are not lost) and writes it
// atomically with mode 0600. Lines the store does not understand are kept byte for byte.
#include <cstdint>
#include <string>
#include <vector>

namespace veloraplay {

class SettingsStore {
  public:
    explicit SettingsStore(std::string path);

    const std::string& path() const { return path_; }

    // Reads the file; a missing file is an empty store. False only when it exists but cannot
    // be read.
    bool load();

    int32_t getInt(const std::string& section, const std::string& key, int32_t fallback) const;
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& fallback) const;
    bool contains(const std::string& section, const std::string& key) const;

    void setInt(const std::string& section, const std::string& key, int32_t value);
    void setString(const std::string& section, const std::string& key, const std::string& value);

    // Writes the changes since the last save. True when the file now holds them.
    bool save();

    // The file's text as it would be written now (for tests and diagnostics).
    std::string render() const;

  private:
    struct Line {
        std::string raw;      // the line as read, without its '\n'
        std::string section;  // for a section header: its name
        std::string key;      // for a key line: its name as written
        bool isSection = false;
        bool isKey = false;
    };
    struct Change {
        std::string section, key, value;  // value already encoded for the file
    };

    void parse(const std::string& text);
    void apply(const Change& change);
    const Line* find(const std::string& section, const std::string& key) const;

    std::string path_;
    std::vector<Line> lines_;
    bool endsWithNewline_ = true;
    std::vector<Change> pending_;
};

// How a text value is written to the file and read back (quoted with escapes only when
// the plain form would not survive).
std::string encodeSettingText(const std::string& value);
std::string decodeSettingText(const std::string& stored);

}  // namespace veloraplay

#pragma once
// INI-style files: PLS playlists, plug-in and visualisation settings, the settings file.
//
// Reading: lines split at CR or LF; blanks and tabs stripped; "[name]" opens a section (a name
// seen before continues that section); "key = value" inside a section is an entry; other lines
// are ignored and noted with their line number. Only a line that begins with '#' is a comment —
// a '#' later in a line is text, so paths and addresses with '#' survive. A comment line belongs
// to the entry that follows it; a comment after a section's ']' to that section.
//
// Writing (a file opened for writing, when something changed): "[name]" (" #comment" after it),
// then each entry as "key=value" (its comment on a "#" line before it), lines ended with CR LF,
// an empty line after each section. The file is replaced atomically, mode 0600. A value that
// would not read back as written (blanks at its ends, line breaks, control characters, a
// leading '"') is written quoted with backslash escapes and unquoted on reading.
#include "ErrorService.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace tessura {

struct IniEntry {
    std::string key, value, comment;
};

struct IniSection {
    std::string name, comment;
    std::vector<IniEntry> entries;
};

// A line the parser did not take, for diagnostics.
struct IniNote {
    int line = 0;
    std::string text;  // "line 7: no '=' in an entry line, ignored"
};

class INIParser {
  public:
    enum class Mode { ReadOnly, ReadWrite, Create };  // Create: a missing file is empty

    // GetString's own results (not codes of the error service).
    static constexpr int kNoSection = -1;
    static constexpr int kNoKey = -2;
    // The parser's codes, registered with the error service under kModuleName.
    static constexpr int kErrMemoryMap = -101;
    static constexpr int kErrFileNotOpen = -102;
    static constexpr int kErrReadOnly = -103;
    static constexpr int kErrSeek = -104;
    static constexpr const char* kModuleName = "INI Parser";

    explicit INIParser(std::shared_ptr<ErrorService> errors = nullptr);
    ~INIParser();  // writes back like Close
    INIParser(const INIParser&) = delete;
    INIParser& operator=(const INIParser&) = delete;

    int Open(const std::string& path, Mode mode = Mode::ReadOnly);
    int OpenMemory(std::string_view text);  // a read-only document over a block of memory
    // Writes a changed document that was opened for writing, then releases it.
    int Close();
    // Writes the document now (a file opened for writing).
    int Write();

    bool IsOpen() const { return open_; }
    bool HasSection(std::string_view section) const;
    // Copies at most size - 1 characters, always NUL-terminated; kNoSection / kNoKey.
    int GetString(std::string_view section, std::string_view key, char* buffer,
                  std::size_t size) const;
    // Leading decimal digits (saturated to the int range), or kNoSection / kNoKey.
    int GetInt(std::string_view section, std::string_view key) const;
    // The leading decimal number, or kNoSection / kNoKey.
    double GetFloat(std::string_view section, std::string_view key) const;
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;

    // Sets (or adds) an entry, adding the section when needed. kErrFileNotOpen, kErrReadOnly,
    // or kInvalidParameter for a key or section name that could not be read back.
    int SetString(std::string_view section, std::string_view key, std::string_view value);
    int RemoveKey(std::string_view section, std::string_view key);
    int RemoveSection(std::string_view section);

    const std::vector<IniSection>& Sections() const { return sections_; }
    const std::vector<IniNote>& Notes() const { return notes_; }
    std::string Serialise() const;
    void SetFileMode(mode_t mode) { fileMode_ = mode; }
    std::optional<std::string> ErrorText(int code) const;

    // Parses `text` into sections (what Open does with a file's bytes).
    static std::vector<IniSection> Parse(std::string_view text, std::vector<IniNote>* notes);
    static std::string EscapeValue(std::string_view value);
    static std::string UnescapeValue(std::string_view written);

  private:
    const IniSection* findSection(std::string_view name) const;
    IniSection* findSection(std::string_view name);
    int checkWritable() const;

    std::shared_ptr<ErrorService> errors_;
    std::vector<IniSection> sections_;
    std::vector<IniNote> notes_;
    std::string path_;
    bool open_ = false;
    bool writable_ = false;
    bool changed_ = false;
    mode_t fileMode_ = 0600;
};

// Leading decimal integer of `text` as atoi reads it (blanks, sign, digits), saturated.
int leadingDecimal(std::string_view text);

}  // namespace tessura

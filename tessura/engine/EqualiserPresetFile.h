#pragma once
// "TesEque.spf": the ten user presets and the "Custom" curve, 11 records of 100 bytes — a name
// of 20 bytes (NUL-terminated, NUL-padded) and 20 little-endian 32-bit floats, the gains of
// bands 0 (lowest) to 19. A missing file, or one of any other size, is written afresh with
// "UserPreset0" … "UserPreset9" and "Custom", every gain 1.0. Every write replaces the whole
// file atomically, so a crash mid-save never leaves a short file behind.
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tessura {

struct ProgramFolder;

inline constexpr const char* kPresetFileName = "TesEque.spf";

struct PresetRecord {
    std::string name;  // at most kNameBytes - 1 bytes, so the NUL always fits its field
    std::array<float, 20> gains{};
};

class EqualiserPresetFile {
  public:
    static constexpr std::size_t kRecords = 11;
    static constexpr std::size_t kRecordBytes = 100;
    static constexpr std::size_t kFileBytes = kRecords * kRecordBytes;
    static constexpr std::size_t kNameBytes = 20;
    static constexpr std::size_t kCustomRecord = 10;

    explicit EqualiserPresetFile(std::string path) : path_(std::move(path)) {}
    // The file in the program folder, where the program keeps it.
    static EqualiserPresetFile InProgramFolder(const ProgramFolder& folder);
    const std::string& path() const { return path_; }

    // Makes sure a file of the right size is there; false when it could not be created.
    bool Ensure();
    // Record `index` (0-10). Empty when the file cannot be read or the record holds a gain that
    // is not a finite number.
    std::optional<PresetRecord> Read(std::size_t index);
    bool Write(std::size_t index, const PresetRecord& record);

    // The record that a fresh file holds at `index`.
    static PresetRecord DefaultRecord(std::size_t index);
    static std::string FreshFile();
    static std::string Encode(const PresetRecord& record);  // kRecordBytes bytes

  private:
    std::string path_;
};

// `text` cut to at most `maxBytes` bytes without splitting a UTF-8 sequence.
std::string fitUtf8(std::string_view text, std::size_t maxBytes);
// `text` cut to at most `maxChars` UTF-8 characters.
std::string firstUtf8Chars(std::string_view text, std::size_t maxChars);

}  // namespace tessura

#include "EqualiserPresetFile.h"

#include "AtomicFile.h"
#include "ProgramFolder.h"

#include <sys/stat.h>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace tessura {

namespace {
bool hasPresetFileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           static_cast<std::size_t>(info.st_size) == EqualiserPresetFile::kFileBytes;
}

bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}
}  // namespace

std::string fitUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    std::size_t end = maxBytes;
    while (end > 0 && isContinuation(static_cast<unsigned char>(text[end]))) --end;
    return std::string(text.substr(0, end));
}

std::string firstUtf8Chars(std::string_view text, std::size_t maxChars) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isContinuation(static_cast<unsigned char>(text[i]))) continue;
        if (chars == maxChars) return std::string(text.substr(0, i));
        ++chars;
    }
    return std::string(text);
}

EqualiserPresetFile EqualiserPresetFile::InProgramFolder(const ProgramFolder& folder) {
    return EqualiserPresetFile(folder.file(kPresetFileName));
}

PresetRecord EqualiserPresetFile::DefaultRecord(std::size_t index) {
    PresetRecord record;
    record.name = index == kCustomRecord ? "Custom" : "UserPreset" + std::to_string(index);
    record.gains.fill(1.0f);
    return record;
}

std::string EqualiserPresetFile::Encode(const PresetRecord& record) {
    std::string bytes(kRecordBytes, '\0');
    const std::string name = fitUtf8(record.name, kNameBytes - 1);
    bytes.replace(0, name.size(), name);
    for (std::size_t band = 0; band < record.gains.size(); ++band) {
        const uint32_t bits = std::bit_cast<uint32_t>(record.gains[band]);
        for (std::size_t i = 0; i < 4; ++i) {
            bytes[kNameBytes + band * 4 + i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
        }
    }
    return bytes;
}

std::string EqualiserPresetFile::FreshFile() {
    std::string bytes;
    for (std::size_t i = 0; i < kRecords; ++i) bytes += Encode(DefaultRecord(i));
    return bytes;
}

bool EqualiserPresetFile::Ensure() {
    if (hasPresetFileSize(path_)) return true;
    return writeFileAtomically(path_, FreshFile(), 0644) == WriteResult::Ok;
}

std::optional<PresetRecord> EqualiserPresetFile::Read(std::size_t index) {
    if (index >= kRecords || !Ensure()) return std::nullopt;
    std::string bytes;
    if (!readWholeFile(path_, bytes) || bytes.size() != kFileBytes) return std::nullopt;
    const std::string_view raw = std::string_view(bytes).substr(index * kRecordBytes, kRecordBytes);

    PresetRecord record;
    // A name that fills its field without a NUL is read no further than the field allows.
    const std::string_view field = raw.substr(0, kNameBytes - 1);
    record.name =
        fitUtf8(field.substr(0, std::min(field.find('\0'), field.size())), kNameBytes - 1);
    for (std::size_t band = 0; band < record.gains.size(); ++band) {
        uint32_t bits = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            bits |= uint32_t{static_cast<unsigned char>(raw[kNameBytes + band * 4 + i])} << (8 * i);
        }
        const float gain = std::bit_cast<float>(bits);
        // A NaN or infinite gain would poison the filter's history for good.
        if (!std::isfinite(gain)) return std::nullopt;
        record.gains[band] = gain;
    }
    return record;
}

bool EqualiserPresetFile::Write(std::size_t index, const PresetRecord& record) {
    if (index >= kRecords || !Ensure()) return false;
    std::string bytes;
    if (!readWholeFile(path_, bytes) || bytes.size() != kFileBytes) return false;
    bytes.replace(index * kRecordBytes, kRecordBytes, Encode(record));
    return writeFileAtomically(path_, bytes, 0644) == WriteResult::Ok;
}

}  // namespace tessura

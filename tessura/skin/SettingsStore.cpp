#include "SettingsStore.h"

#include "AtomicFile.h"
#include "ProgramFolder.h"
#include "TextCase.h"

#include <climits>
#include <cstring>
#include <utility>

namespace tessura {

std::optional<int> parseAutoBase(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int base = 10;
    auto digitValue = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return 99;
    };
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        i + 2 < text.size() && digitValue(text[i + 2]) < 16) {
        base = 16;
        i += 2;
    } else if (i < text.size() && text[i] == '0') {
        base = 8;
    }
    long long value = 0;
    bool any = false;
    for (; i < text.size() && digitValue(text[i]) < base; ++i) {
        any = true;
        if (value <= static_cast<long long>(INT_MAX) + 1) value = value * base + digitValue(text[i]);
    }
    if (!any) return std::nullopt;
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

namespace {
std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string limited(std::string text, std::size_t size) {
    return size == 0 ? text : cutUtf8(text, size - 1);
}
}  // namespace

SettingsStore::SettingsStore(std::string settingsFile, std::string programFolder,
                             std::shared_ptr<ErrorService> errors)
    : settingsFile_(std::move(settingsFile)),
      programFolder_(std::move(programFolder)),
      errors_(errors),
      store_(errors),
      legacy_(errors) {
    store_.SetFileMode(0600);
    usable_ = makeFolders(folderOf(settingsFile_), 0700) &&
              store_.Open(settingsFile_, INIParser::Mode::Create) == 0;
    // Without it the older file is the store, read and written the same way.
    if (!usable_) store_.Open(otherFilePath(kStoreFileName), INIParser::Mode::Create);
}

SettingsStore::~SettingsStore() {
    std::lock_guard<std::recursive_mutex> hold(mutex_);
    flushLocked();
}

bool SettingsStore::isStoreFile(std::string_view file) const {
    return equalsNoCase(file, kStoreFileName);
}

std::string SettingsStore::otherFilePath(std::string_view file) const {
    const std::string name = withSlashes(std::string(file));
    return !name.empty() && name.front() == '/' ? name : programFolder_ + "/" + name;
}

INIParser& SettingsStore::legacy() {
    if (!legacyTried_) {
        legacyTried_ = true;
        legacy_.Open(otherFilePath(kStoreFileName), INIParser::Mode::ReadOnly);
    }
    return legacy_;
}

void SettingsStore::flushLocked() {
    if (!pendingWrite_ || !store_.IsOpen()) return;
    pendingWrite_ = false;
    lastWrite_ = store_.Write();
}

bool SettingsStore::setLocked(std::string_view section, std::string_view key,
                              std::string_view text) {
    if (store_.SetString(section, key, text) != 0) return false;
    pendingWrite_ = true;
    if (batchDepth_ == 0) flushLocked();
    return lastWrite_ == 0;
}

std::optional<std::string> SettingsStore::StoredValue(std::string_view section,
                                                      std::string_view key) {
    std::lock_guard<std::recursive_mutex> hold(mutex_);
    return store_.Find(section, key);
}

int SettingsStore::GetSettingInt(std::string_view section, std::string_view key,
                                 int defaultValue, std::string_view file) {
    std::lock_guard<std::recursive_mutex> hold(mutex_);
    if (!isStoreFile(file)) {
        INIParser other(errors_);
        if (other.Open(otherFilePath(file)) != 0) return defaultValue;
        const auto value = other.Find(section, key);
        return value ? leadingDecimal(*value) : defaultValue;
    }
    if (!usable_) {
        const auto value = store_.Find(section, key);
        return value ? leadingDecimal(*value) : defaultValue;
    }
    if (const auto stored = store_.Find(section, key)) {
        return parseAutoBase(*stored).value_or(defaultValue);
    }
    const auto older = legacy().Find(section, key);
    if (!older) return defaultValue;
    const int value = leadingDecimal(*older);
    if (value != defaultValue) setLocked(section, key, std::to_string(value));
    return value;
}

std::string SettingsStore::GetSettingText(std::string_view section, std::string_view key,
                                          std::string_view defaultValue, std::size_t size,
                                          std::string_view file) {
    std::lock_guard<std::recursive_mutex> hold(mutex_);
    if (!isStoreFile(file)) {
        INIParser other(errors_);
        if (other.Open(otherFilePath(file)) != 0) return limited(std::string(defaultValue), size);
        return limited(other.Find(section, key).value_or(std::string(defaultValue)), size);
    }
    if (!usable_) return limited(store_.Find(section, key).value_or(std::string(defaultValue)), size);
    if (auto stored = store_.Find(section, key)) return limited(std::move(*stored), size);
    auto older = legacy().Find(section, key);
    if (!older) return limited(std::string(defaultValue), size);
    if (!older->empty() && *older != defaultValue) setLocked(section, key, *older);
    return limited(std::move(*older), size);
}

std::size_t SettingsStore::GetSettingText(std::string_view section, std::string_view key,
                                          std::string_view defaultValue, char* buffer,
                                          std::size_t size, std::string_view file) {
    if (!buffer || size == 0) return 0;
    const std::string text = GetSettingText(section, key, defaultValue, size, file);
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return text.size();
}

bool SettingsStore::SetSetting(std::string_view section, std::string_view key,
                               std::string_view text, std::string_view file) {
    std::lock_guard<std::recursive_mutex> hold(mutex_);
    if (isStoreFile(file)) return setLocked(section, key, text);
    INIParser other(errors_);
    if (other.Open(otherFilePath(file), INIParser::Mode::Create) != 0) return false;
    if (other.SetString(section, key, text) != 0) return false;
    return other.Close() == 0;
}

bool SettingsStore::SetSettingInt(std::string_view section, std::string_view key, int value,
                                  std::string_view file) {
    return SetSetting(section, key, std::to_string(value), file);
}

bool SettingsStore::RemoveSetting(std::string_view section, std::string_view key,
                                  std::string_view file) {
    std::lock_guard<std::recursive_mutex> hold(mutex_);
    if (isStoreFile(file)) {
        if (store_.RemoveKey(section, key) != 0) return false;
        pendingWrite_ = true;
        if (batchDepth_ == 0) flushLocked();
        return lastWrite_ == 0;
    }
    INIParser other(errors_);
    if (other.Open(otherFilePath(file), INIParser::Mode::ReadWrite) != 0) return false;
    if (other.RemoveKey(section, key) != 0) return false;
    return other.Close() == 0;
}

SettingsStore::Batch::Batch(SettingsStore& store) : store_(store) {
    std::lock_guard<std::recursive_mutex> hold(store_.mutex_);
    ++store_.batchDepth_;
}

SettingsStore::Batch::~Batch() {
    std::lock_guard<std::recursive_mutex> hold(store_.mutex_);
    if (--store_.batchDepth_ == 0) store_.flushLocked();
}

}  // namespace tessura

#pragma once
// The settings store: values addressed by (section, key, file).
//
// Requests for the store's own file name "tessura.ini" (compared without case) use the per-user
// settings file, which stands in for the registry key: one section per subkey, values kept as
// text, integers read with automatic base (decimal, "0x" hexadecimal, leading-0 octal) and
// written in decimal. A value missing there is looked up in the older "tessura.ini" of the
// program folder; one found that differs from the default (a non-empty text, for texts) is
// copied into the settings file, so older settings migrate on first read. Requests for any
// other file go straight to that INI file (relative names under the program folder).
//
// Every write reaches the disk at once (atomically, mode 0600) — the crash guards depend on
// it — unless a Batch is open, which writes once when it ends. Safe to call from any thread.
#include "ErrorService.h"
#include "IniParser.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace tessura {

class SettingsStore {
  public:
    static constexpr const char* kStoreFileName = "tessura.ini";

    // `settingsFile`: the per-user file ($XDG_CONFIG_HOME/Quellmark/tessura.ini);
    // `programFolder`: where the older "tessura.ini" and other relative files are.
    SettingsStore(std::string settingsFile, std::string programFolder,
                  std::shared_ptr<ErrorService> errors = nullptr);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    int GetSettingInt(std::string_view section, std::string_view key, int defaultValue,
                      std::string_view file = kStoreFileName);
    std::string GetSettingText(std::string_view section, std::string_view key,
                               std::string_view defaultValue, std::size_t size = 0,
                               std::string_view file = kStoreFileName);
    // The C form: at most size - 1 bytes copied, NUL-terminated; returns the length copied.
    std::size_t GetSettingText(std::string_view section, std::string_view key,
                               std::string_view defaultValue, char* buffer, std::size_t size,
                               std::string_view file = kStoreFileName);
    bool SetSetting(std::string_view section, std::string_view key, std::string_view text,
                    std::string_view file = kStoreFileName);
    bool SetSettingInt(std::string_view section, std::string_view key, int value,
                       std::string_view file = kStoreFileName);
    bool RemoveSetting(std::string_view section, std::string_view key,
                       std::string_view file = kStoreFileName);
    // The raw value in the store, without default or migration.
    std::optional<std::string> StoredValue(std::string_view section, std::string_view key);

    // False when the settings file could not be created: the store then works on the older
    // INI file alone, read as the profile functions read it (the start-up check reports it).
    bool usable() const { return usable_; }
    // The result of the last write to the settings file (0 or an error-service code).
    int lastWriteResult() const { return lastWrite_; }
    const std::string& settingsFile() const { return settingsFile_; }

    // Holds writes to the settings file until it ends (SavePreferences' many values).
    class Batch {
      public:
        explicit Batch(SettingsStore& store);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

      private:
        SettingsStore& store_;
    };

  private:
    bool isStoreFile(std::string_view file) const;
    std::string otherFilePath(std::string_view file) const;
    INIParser& legacy();  // opened on first use; caller holds mutex_
    bool setLocked(std::string_view section, std::string_view key, std::string_view text);
    void flushLocked();

    std::string settingsFile_;
    std::string programFolder_;
    std::shared_ptr<ErrorService> errors_;
    std::recursive_mutex mutex_;  // guards everything below
    INIParser store_;
    INIParser legacy_;
    bool legacyTried_ = false;
    bool usable_ = false;
    int batchDepth_ = 0;
    bool pendingWrite_ = false;
    int lastWrite_ = 0;
};

// strtol with base 0, saturated to the int range; nothing when `text` holds no number.
std::optional<int> parseAutoBase(std::string_view text);

}  // namespace tessura

#pragma once
// Every setting of the player side in one table: where it lives, its default and the values
// it may take. Reads go through readSetting, which clamps what a hand-edited or damaged file
// holds into that range.
#include "SettingsStore.h"

#include <cstdint>
#include <span>

namespace veloraplay {

enum class PlayerSetting {
    WindowLeft,
    WindowTop,
    SkinType,
    ExtendedView,
    TitleBar,
    EqControls,
    LibraryWindow,
    VeloraEnabled,
    VolumeLevel,
    MuteState,
    DefaultPlayerNot,
};

enum class SettingRange {
    Span,     // min..max
    Flag,     // any non-zero value means 1
    Nibbles,  // eight 4-bit fields, each min..max
};

struct SettingDef {
    PlayerSetting id;
    const char* section;
    const char* key;
    int32_t fallback;
    SettingRange range;
    int32_t min;
    int32_t max;
};

// The table, in the order the settings are written.
std::span<const SettingDef> playerSettings();
const SettingDef& settingDef(PlayerSetting id);

int32_t clampSetting(const SettingDef& def, int32_t value);

// The stored value clamped into range, or the table's default when absent.
int32_t readSetting(const SettingsStore& store, PlayerSetting id);
// The same with another default: the stand-alone encoder reads "Skin Type" with 0.
int32_t readSetting(const SettingsStore& store, PlayerSetting id, int32_t fallback);
void writeSetting(SettingsStore& store, PlayerSetting id, int32_t value);

inline constexpr int32_t kSkinBrushedMetal = 0;
inline constexpr int32_t kSkinOceanic = 1;

}  // namespace veloraplay

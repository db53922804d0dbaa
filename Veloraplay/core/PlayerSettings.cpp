#include "PlayerSettings.h"

#include <algorithm>

namespace veloraplay {
namespace {

// Window positions are screen pixels; the span allows any arrangement of monitors.
constexpr int32_t kScreenLimit = 1 << 20;

constexpr SettingDef kTable[] = {
    {PlayerSetting::WindowLeft, "Controller", "WindowRect.Left", 0, SettingRange::Span,
     -kScreenLimit, kScreenLimit},
    {PlayerSetting::WindowTop, "Controller", "WindowRect.Top", 0, SettingRange::Span, -kScreenLimit,
     kScreenLimit},
    {PlayerSetting::SkinType, "Controller", "Skin Type", kSkinOceanic, SettingRange::Span,
     kSkinBrushedMetal, kSkinOceanic},
    {PlayerSetting::ExtendedView, "Controller", "Extended View", 0, SettingRange::Flag, 0, 1},
    {PlayerSetting::TitleBar, "Controller", "Title Bar", 1, SettingRange::Flag, 0, 1},
    {PlayerSetting::EqControls, "Controller", "EQ Controls", 0x33333333, SettingRange::Nibbles, 0,
     6},
    {PlayerSetting::LibraryWindow, "Controller", "Library Window", 0, SettingRange::Flag, 0, 1},
    {PlayerSetting::VeloraEnabled, "Controller", "Velora.Enabled", 1, SettingRange::Flag, 0, 1},
    {PlayerSetting::VolumeLevel, "Volume Panel", "VolumeLevel", 100, SettingRange::Span, 0, 100},
    {PlayerSetting::MuteState, "Volume Panel", "MuteState", 0, SettingRange::Flag, 0, 1},
    {PlayerSetting::DefaultPlayerNot, "File Types", "Default Player.Not", 0, SettingRange::Flag, 0,
     1},
};

}  // namespace

std::span<const SettingDef> playerSettings() {
    return kTable;
}

const SettingDef& settingDef(PlayerSetting id) {
    for (const SettingDef& def : kTable) {
        if (def.id == id) return def;
    }
    return kTable[0];  // every enumerator has a row
}

int32_t clampSetting(const SettingDef& def, int32_t value) {
    switch (def.range) {
        case SettingRange::Flag:
            return value != 0 ? 1 : 0;
        case SettingRange::Nibbles: {
            uint32_t bits = static_cast<uint32_t>(value);
            uint32_t out = 0;
            for (int band = 0; band < 8; ++band) {
                const int32_t level = static_cast<int32_t>((bits >> (4 * band)) & 0xFu);
                out |= static_cast<uint32_t>(std::clamp(level, def.min, def.max)) << (4 * band);
            }
            return static_cast<int32_t>(out);
        }
        case SettingRange::Span:
            break;
    }
    return std::clamp(value, def.min, def.max);
}

int32_t readSetting(const SettingsStore& store, PlayerSetting id) {
    return readSetting(store, id, settingDef(id).fallback);
}

int32_t readSetting(const SettingsStore& store, PlayerSetting id, int32_t fallback) {
    const SettingDef& def = settingDef(id);
    if (!store.contains(def.section, def.key)) return fallback;
    return clampSetting(def, store.getInt(def.section, def.key, fallback));
}

void writeSetting(SettingsStore& store, PlayerSetting id, int32_t value) {
    const SettingDef& def = settingDef(id);
    store.setInt(def.section, def.key, clampSetting(def, value));
}

}  // namespace veloraplay

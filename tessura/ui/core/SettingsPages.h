#pragma once
// The settings screen as a table: its two groups, the general tabs and the options each tab
// shows (language key, kind, range, and the setting it edits), and what pressing OK or Apply
// does with the edited copy. The window builds its pages from this table and never touches a
// setting by itself, so the rules here are the whole behaviour of the screen.
#include "Preferences.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessura {

// What the screen edits: the preferences, and the connection type, which lives in the store's
// own key ("ConnectionType": 1 local network, 2 modem, anything else none).
struct SettingsValues {
    Preferences preferences;
    int connectionType = 0;
    // The desktop's default handlers for the file types (bit i: kFileTypeMimeTypes[i]).
    uint32_t fileTypes = 0;
    int checkFileTypes = 0;  // check at start-up that the types are still this program's
};

inline constexpr const char* kFileTypeMimeTypes[] = {"audio/mpeg", "audio/x-wav", "audio/x-mpegurl",
                                                     "audio/x-scpls", "application/x-tessura-skin"};
inline constexpr int kFileTypeCount = 5;

enum class SettingsTab { System, Playlist, Audio, Visual, FileTypes, VisualEffects, Internet, Skins };

enum class OptionKind {
    Check,    // on/off
    Slider,   // an integer in [minimum, maximum]
    Choice,   // one of `choices` (their values in `choiceValues`)
    Text,     // a line of text up to `maximum` characters
    List,     // one of a list the program supplies (languages, outputs, effects, skins)
    Button,   // an action (configure the selected output)
    Heading,  // a caption over the options that follow
};

// Which live parts must follow a change (a bit set).
namespace settings_effect {
inline constexpr uint32_t kNone = 0;
inline constexpr uint32_t kAlwaysOnTop = 1u << 0;
inline constexpr uint32_t kFrameRate = 1u << 1;
inline constexpr uint32_t kVisualEffects = 1u << 2;
inline constexpr uint32_t kWindowBehaviour = 1u << 3;  // task bar, translucency, locking
inline constexpr uint32_t kLanguage = 1u << 4;
inline constexpr uint32_t kOutput = 1u << 5;
inline constexpr uint32_t kEffectPlugin = 1u << 6;
inline constexpr uint32_t kSkin = 1u << 7;
inline constexpr uint32_t kConnectionType = 1u << 8;
inline constexpr uint32_t kAudioCdHandler = 1u << 9;
inline constexpr uint32_t kVolume = 1u << 10;
inline constexpr uint32_t kStreams = 1u << 11;
inline constexpr uint32_t kPlaylistDisplay = 1u << 12;
inline constexpr uint32_t kFileTypes = 1u << 13;
}  // namespace settings_effect

// Which list a List option offers.
enum class OptionList { None, Languages, Outputs, EffectPlugins, Skins, FileTypes };

struct SettingOption {
    const char* key = "";
    OptionKind kind = OptionKind::Check;
    // Integer options (Check, Slider, Choice).
    int (*get)(const SettingsValues&) = nullptr;
    void (*set)(SettingsValues&, int) = nullptr;
    // Text and List options.
    std::string (*getText)(const SettingsValues&) = nullptr;
    void (*setText)(SettingsValues&, const std::string&) = nullptr;
    int minimum = 0, maximum = 1;  // Slider range; Text: the longest text
    std::vector<const char*> choices;  // Choice: the items' keys, in order
    std::vector<int> choiceValues;     // Choice: the value each item stores
    // Slider: the texts at its two ends, and the key its value is shown with ("%d" filled in).
    const char* lowKey = nullptr;
    const char* highKey = nullptr;
    const char* valueKey = nullptr;
    const char* zeroKey = nullptr;  // shown instead of valueKey at 0
    bool reversed = false;  // Slider: the maximum sits at the left end
    bool cycles = false;    // Choice: one button that steps through the items
    OptionList list = OptionList::None;
    uint32_t effects = settings_effect::kNone;

    bool editsSetting() const { return get != nullptr || getText != nullptr; }
    // The keys this option shows, in the order it shows them.
    std::vector<std::string> keys() const;
};

struct SettingsTabInfo {
    SettingsTab tab;
    const char* key;  // "settings/tab/..."
    std::vector<SettingOption> options;
};

inline constexpr const char* kGeneralGroupKey = "settings/generalsettings_text";
inline constexpr const char* kPluginGroupKey = "settings/audioplugins_text";

// The general tabs in order: eight, or seven without the skins tab when AllowSkins is 0.
const std::vector<SettingsTabInfo>& GeneralSettingsTabs(const Preferences& preferences);
const SettingsTabInfo& SettingsTabFor(SettingsTab tab);

// An integer option's value, and setting it (clamped to the slider's range, a choice's values,
// a check box's 0/1).
int OptionValue(const SettingOption& option, const SettingsValues& values);
void SetOptionValue(const SettingOption& option, SettingsValues& values, int value);
int ClampOptionValue(const SettingOption& option, int value);
std::string OptionText(const SettingOption& option, const SettingsValues& values);
void SetOptionText(const SettingOption& option, SettingsValues& values, const std::string& text);

// A cycling choice's value after one click: the next item in table order after the current
// one (a value that is no item's goes to the first item). The connection type's items are
// local network (1), modem (2), none (0), so a click steps 0 -> 1 -> 2 -> 0.
int NextChoiceValue(const SettingOption& option, int value);

// A slider's value as its label shows it, through the checked formatter: the translation of
// valueKey with the value (zeroKey's at 0); a translation that does not take one integer gives
// the plain number after the key's text.
using SettingsTextLookup = std::function<std::string(std::string_view key)>;
std::string SliderValueText(const SettingOption& option, int value, const SettingsTextLookup& text);

struct SettingsApplyResult {
    uint32_t effects = settings_effect::kNone;
    std::vector<std::string> changedKeys;  // the options written, in table order
    bool changed() const { return !changedKeys.empty(); }
};

// OK and Apply: copies into `live` only the options whose edited value differs from the live
// one and tells which live parts must follow. Cancel is not applying: `live` stays as it was.
SettingsApplyResult ApplySettings(SettingsValues& live, const SettingsValues& edited);

// The plug-in group's tabs: one per input module that offers a settings page (flag 0x10),
// walked from the last module to the first, titled with the module's name.
struct InputModuleEntry {
    std::string name;
    uint32_t flags = 0;
};
inline constexpr uint32_t kModuleOffersSettingsPage = 0x10;
std::vector<std::size_t> PluginSettingsTabs(const std::vector<InputModuleEntry>& modules);

}  // namespace tessura

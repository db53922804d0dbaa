#include "SettingsPages.h"

#include "CheckedFormat.h"

#include <algorithm>

namespace tessura {

namespace {

namespace fx = settings_effect;

// A field of the preferences as the option's getter and setter.
#define PREF_INT(field)                                                     \
    +[](const SettingsValues& v) { return v.preferences.field; },          \
        +[](SettingsValues& v, int x) { v.preferences.field = x; }
// The same shown the other way round ("show on the task bar" is "not a tool window").
#define PREF_NOT(field)                                                     \
    +[](const SettingsValues& v) { return v.preferences.field != 0 ? 0 : 1; }, \
        +[](SettingsValues& v, int x) { v.preferences.field = x != 0 ? 0 : 1; }
#define PREF_TEXT(field)                                                    \
    +[](const SettingsValues& v) { return v.preferences.field; },          \
        +[](SettingsValues& v, const std::string& x) { v.preferences.field = x; }
#define PREF_GUID(field)                                                    \
    +[](const SettingsValues& v) { return formatGuid(v.preferences.field); }, \
        +[](SettingsValues& v, const std::string& x) {                       \
            if (const auto g = parseGuid(x)) v.preferences.field = *g;       \
        }

using IntGet = int (*)(const SettingsValues&);
using IntSet = void (*)(SettingsValues&, int);
using TextGet = std::string (*)(const SettingsValues&);
using TextSet = void (*)(SettingsValues&, const std::string&);

SettingOption check(const char* key, IntGet get, IntSet set, uint32_t effects = fx::kNone) {
    SettingOption o;
    o.key = key;
    o.kind = OptionKind::Check;
    o.get = get;
    o.set = set;
    o.effects = effects;
    return o;
}

SettingOption slider(const char* key, IntGet get, IntSet set, int minimum, int maximum, uint32_t effects) {
    SettingOption o = check(key, get, set, effects);
    o.kind = OptionKind::Slider;
    o.minimum = minimum;
    o.maximum = maximum;
    return o;
}

SettingOption heading(const char* key) {
    SettingOption o;
    o.key = key;
    o.kind = OptionKind::Heading;
    return o;
}

SettingOption list(const char* key, OptionList which, TextGet get, TextSet set, uint32_t effects) {
    SettingOption o;
    o.key = key;
    o.kind = OptionKind::List;
    o.list = which;
    o.getText = get;
    o.setText = set;
    o.effects = effects;
    return o;
}

std::vector<SettingsTabInfo> buildTabs() {
    std::vector<SettingsTabInfo> tabs;
    tabs.push_back({SettingsTab::System, "settings/tab/system",
                    {check("settings/alwaysontop", PREF_INT(alwaysOnTop), fx::kAlwaysOnTop),
                     check("settings/showontaskbar", PREF_NOT(minimizeToSystemTray), fx::kWindowBehaviour),
                     check("settings/rememberfullscreen", PREF_INT(rememberFullscreenMode)),
                     check("settings/synctorefresh", PREF_INT(waitForVertBlank), fx::kFrameRate),
                     check("settings/invidualmodepos", PREF_INT(individualModePositions)),
                     check("settings/lockmovement", PREF_INT(lockWindowMovement), fx::kWindowBehaviour),
                     check("settings/transparent", PREF_INT(translucentOnDeactivate), fx::kWindowBehaviour),
                     list("settings/language", OptionList::Languages, PREF_TEXT(language), fx::kLanguage)}});

    SettingOption cdHandler = check(
        "settings/audiocdinsert", +[](const SettingsValues& v) { return v.preferences.autoCDInsert; },
        +[](SettingsValues& v, int x) { v.preferences.autoCDInsert = x; }, fx::kAudioCdHandler);
    tabs.push_back({SettingsTab::Playlist, "settings/tab/playlist",
                    {check("settings/appendtoplaylist", PREF_INT(listAppend)),
                     check("settings/playsongsimmediately", PREF_INT(immediatePlay)),
                     cdHandler,
                     check("settings/clearplaylistoncd", PREF_INT(autoCDClearPlaylist)),
                     check("settings/display_asspace", PREF_INT(underscore2Space), fx::kPlaylistDisplay),
                     check("settings/alwaysdisplayfilename", PREF_NOT(showTitleOnly), fx::kPlaylistDisplay),
                     check("settings/savesonginfotopl", PREF_INT(cachePlaylistInfo))}});

    SettingOption configure;
    configure.key = "settings/configplugin";
    configure.kind = OptionKind::Button;
    tabs.push_back({SettingsTab::Audio, "settings/tab/audio",
                    {list("settings/selectoutput", OptionList::Outputs, PREF_GUID(activeOutput), fx::kOutput),
                     configure,
                     list("settings/selectdsp", OptionList::EffectPlugins, PREF_GUID(activeDSP), fx::kEffectPlugin),
                     check("settings/alwaysusemastervol", PREF_INT(alwaysUseMasterVolume), fx::kVolume)}});

    // Smoothness is the frame rate, speed the transition time (short is fast, so its slider
    // runs from the longest time on the left to the shortest on the right).
    SettingOption smoothness = slider("settings/framespersec", PREF_INT(displayFrameRate), 10, 100, fx::kFrameRate);
    smoothness.lowKey = "settings/animchunky";
    smoothness.highKey = "settings/animsmooth";
    SettingOption speed = slider("settings/transitiontime", PREF_INT(animationTime), 1, 1000, fx::kNone);
    speed.lowKey = "settings/animslow";
    speed.highKey = "settings/animfast";
    speed.reversed = true;
    tabs.push_back({SettingsTab::Visual, "settings/tab/visual",
                    {heading("settings/animsmoothness"), smoothness, heading("settings/animspeed"), speed,
                     heading("settings/fullscreen_display"),
                     check("settings/fullscreen_exclusive", PREF_INT(directXExclusiveFullscreen)),
                     check("settings/fullscreen_gdi", PREF_INT(useGDIFullscreen))}});

    SettingOption types;
    types.key = "settings/tessuramediatypes";
    types.kind = OptionKind::List;
    types.list = OptionList::FileTypes;
    types.get = +[](const SettingsValues& v) { return static_cast<int>(v.fileTypes); };
    types.set = +[](SettingsValues& v, int x) { v.fileTypes = static_cast<uint32_t>(x); };
    types.maximum = (1 << kFileTypeCount) - 1;
    types.effects = fx::kFileTypes;
    tabs.push_back({SettingsTab::FileTypes, "settings/tab/filetypes",
                    {check("settings/checkfiletypes", +[](const SettingsValues& v) { return v.checkFileTypes; },
                           +[](SettingsValues& v, int x) { v.checkFileTypes = x; }, fx::kFileTypes),
                     types}});

    tabs.push_back({SettingsTab::VisualEffects, "settings/tab/visfx",
                    {heading("settings/visoptions"),
                     check("settings/visblurfx", PREF_INT(visBlur), fx::kVisualEffects),
                     check("settings/vissmokefx", PREF_INT(visSmoke), fx::kVisualEffects),
                     check("settings/viszoomfx", PREF_INT(visZoom), fx::kVisualEffects),
                     check("settings/visreverse", PREF_INT(visZoomReverse), fx::kVisualEffects),
                     slider("settings/viseffectslevel", PREF_INT(visFXLevel), 0, 7, fx::kVisualEffects),
                     slider("settings/viszoomspeed", PREF_INT(visZoomLevel), 2, 15, fx::kVisualEffects)}});

    SettingOption preBuffer = slider("settings/internet/prebuffer", PREF_INT(streamPreBufferSize), 0, 100, fx::kStreams);
    preBuffer.valueKey = "settings/internet/prebuffer";
    preBuffer.zeroKey = "settings/internet/prebufferoff";
    SettingOption bufferSize = slider("settings/internet/buffersize", PREF_INT(streamBufferSize), 24, 256, fx::kStreams);
    bufferSize.valueKey = "settings/internet/buffersize";
    SettingOption connection;
    connection.key = "settings/internet/connectiontype";
    connection.kind = OptionKind::Choice;
    connection.get = +[](const SettingsValues& v) { return v.connectionType; };
    connection.set = +[](SettingsValues& v, int x) { v.connectionType = x; };
    connection.choices = {"settings/internet/lan", "settings/internet/modem", "settings/internet/none"};
    connection.choiceValues = {1, 2, 0};
    connection.cycles = true;
    connection.effects = fx::kConnectionType;
    SettingOption proxyUrl;
    proxyUrl.key = "settings/internet/proxyurl";
    proxyUrl.kind = OptionKind::Text;
    proxyUrl.getText = +[](const SettingsValues& v) { return v.preferences.webProxyURL; };
    proxyUrl.setText = +[](SettingsValues& v, const std::string& x) { v.preferences.webProxyURL = x; };
    proxyUrl.maximum = 256;
    proxyUrl.effects = fx::kStreams;
    tabs.push_back({SettingsTab::Internet, "settings/tab/internet",
                    {preBuffer, bufferSize, connection,
                     check("settings/internet/usewebproxy", PREF_INT(useWebProxy), fx::kStreams), proxyUrl}});

    SettingOption skins = list("settings/tab/skins", OptionList::Skins, PREF_TEXT(currentSkin), fx::kSkin);
    skins.lowKey = "settings/skinauthor";  // the preview's two credit lines
    skins.highKey = "settings/skincontact";
    tabs.push_back({SettingsTab::Skins, "settings/tab/skins", {skins}});
    return tabs;
}

#undef PREF_INT
#undef PREF_NOT
#undef PREF_TEXT
#undef PREF_GUID

const std::vector<SettingsTabInfo>& allTabs() {
    static const std::vector<SettingsTabInfo> tabs = buildTabs();
    return tabs;
}

const std::vector<SettingsTabInfo>& tabsWithoutSkins() {
    static const std::vector<SettingsTabInfo> tabs = [] {
        std::vector<SettingsTabInfo> t = allTabs();
        std::erase_if(t, [](const SettingsTabInfo& i) { return i.tab == SettingsTab::Skins; });
        return t;
    }();
    return tabs;
}

// The translation of `key` with one integer, or the key's text and the number when the
// translation does not take one.
std::string formatValue(const SettingsTextLookup& text, const char* key, int value) {
    const std::string format = text(key);
    const FormatArg args[] = {static_cast<long long>(value)};
    if (std::optional<std::string> out = formatChecked(format, args)) return *out;
    return format + " " + std::to_string(value);
}

}  // namespace

std::vector<std::string> SettingOption::keys() const {
    std::vector<std::string> out;
    const auto add = [&out](const char* k) {
        if (k != nullptr && std::find(out.begin(), out.end(), k) == out.end()) out.emplace_back(k);
    };
    add(key);
    add(zeroKey);
    for (const char* c : choices) add(c);
    add(lowKey);
    add(highKey);
    return out;
}

const std::vector<SettingsTabInfo>& GeneralSettingsTabs(const Preferences& preferences) {
    return preferences.allowSkins != 0 ? allTabs() : tabsWithoutSkins();
}

const SettingsTabInfo& SettingsTabFor(SettingsTab tab) {
    for (const SettingsTabInfo& t : allTabs())
        if (t.tab == tab) return t;
    return allTabs().front();
}

int ClampOptionValue(const SettingOption& option, int value) {
    switch (option.kind) {
        case OptionKind::Check: return value != 0 ? 1 : 0;
        case OptionKind::Slider: return std::clamp(value, option.minimum, option.maximum);
        case OptionKind::Choice: {
            const auto& v = option.choiceValues;
            if (v.empty() || std::find(v.begin(), v.end(), value) != v.end()) return value;
            return v.back();  // the last item is the "none" of every choice
        }
        case OptionKind::List:
            return option.list == OptionList::FileTypes ? (value & option.maximum) : value;
        default: return value;
    }
}

int OptionValue(const SettingOption& option, const SettingsValues& values) {
    return option.get != nullptr ? option.get(values) : 0;
}

void SetOptionValue(const SettingOption& option, SettingsValues& values, int value) {
    if (option.set != nullptr) option.set(values, ClampOptionValue(option, value));
}

std::string OptionText(const SettingOption& option, const SettingsValues& values) {
    return option.getText != nullptr ? option.getText(values) : std::string();
}

void SetOptionText(const SettingOption& option, SettingsValues& values, const std::string& text) {
    if (option.setText == nullptr) return;
    if (option.kind == OptionKind::Text && text.size() > static_cast<std::size_t>(option.maximum)) {
        // Cut at a character boundary so the stored text stays valid UTF-8.
        std::size_t end = static_cast<std::size_t>(option.maximum);
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
        option.setText(values, text.substr(0, end));
        return;
    }
    option.setText(values, text);
}

int NextChoiceValue(const SettingOption& option, int value) {
    const auto& v = option.choiceValues;
    if (v.empty()) return value;
    const auto at = std::find(v.begin(), v.end(), value);
    if (at == v.end()) {
        // A value that is no item's counts as the last ("none"), whose next is the first.
        return v.front();
    }
    return std::next(at) == v.end() ? v.front() : *std::next(at);
}

std::string SliderValueText(const SettingOption& option, int value, const SettingsTextLookup& text) {
    if (value == 0 && option.zeroKey != nullptr) return text(option.zeroKey);
    if (option.valueKey != nullptr) return formatValue(text, option.valueKey, value);
    return std::to_string(value);
}

SettingsApplyResult ApplySettings(SettingsValues& live, const SettingsValues& edited) {
    SettingsApplyResult result;
    for (const SettingsTabInfo& tab : allTabs()) {
        for (const SettingOption& option : tab.options) {
            bool changed = false;
            if (option.get != nullptr && option.get(live) != option.get(edited)) {
                option.set(live, option.get(edited));
                changed = true;
            }
            if (option.getText != nullptr && option.getText(live) != option.getText(edited)) {
                option.setText(live, option.getText(edited));
                changed = true;
            }
            if (!changed) continue;
            result.effects |= option.effects;
            result.changedKeys.emplace_back(option.key);
        }
    }
    return result;
}

std::vector<std::size_t> PluginSettingsTabs(const std::vector<InputModuleEntry>& modules) {
    std::vector<std::size_t> out;
    for (std::size_t i = modules.size(); i-- > 0;)
        if ((modules[i].flags & kModuleOffersSettingsPage) != 0) out.push_back(i);
    return out;
}

}  // namespace tessura

#include "Preferences.h"

#include "AtomicFile.h"
#include "CheckedFormat.h"
#include "ProgramFolder.h"
#include "TextCase.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace tessura {

namespace {

constexpr int kNoLimit = INT_MAX;

struct IntRow {
    const char* key;
    int Preferences::*field;
    int defaultValue;
    int low, high;
};

// The plain numeric keys: read with their default, clamped to [low, high], written at exit.
// DisplayFrameRate and StreamPreBufferSize are bounded too: the frame timer divides by the
// first, and a pre-buffer above 100 percent would never start a stream.
constexpr IntRow kIntRows[] = {
    {"ShowSplashScreen", &Preferences::showSplashScreen, 1, INT_MIN, kNoLimit},
    {"AlwaysOnTop", &Preferences::alwaysOnTop, 0, INT_MIN, kNoLimit},
    {"AudioBalance", &Preferences::audioBalance, 32768, 0, 65535},
    {"ImmediatePlay", &Preferences::immediatePlay, 1, INT_MIN, kNoLimit},
    {"ListAppend", &Preferences::listAppend, 1, INT_MIN, kNoLimit},
    {"MultipleInstances", &Preferences::multipleInstances, 0, INT_MIN, kNoLimit},
    {"MinimizeToSystemTray", &Preferences::minimizeToSystemTray, 0, INT_MIN, kNoLimit},
    {"Underscore2Space", &Preferences::underscore2Space, 0, INT_MIN, kNoLimit},
    {"DisplayFrameRate", &Preferences::displayFrameRate, 75, 1, 1000},
    {"AnimationTime", &Preferences::animationTime, 300, 1, 1000},
    {"ShowOscope", &Preferences::showOscope, 0, INT_MIN, kNoLimit},
    {"ShowSpectrum", &Preferences::showSpectrum, 0, INT_MIN, kNoLimit},
    {"ShowVUSweep", &Preferences::showVUSweep, 1, INT_MIN, kNoLimit},
    {"WindowState", &Preferences::windowState, 2, 1, 3},
    {"NavWindowState", &Preferences::navWindowState, 0, 0, 11},
    {"LoadedSong", &Preferences::loadedSong, 0, INT_MIN, kNoLimit},
    {"RepeatMode", &Preferences::repeatMode, 0, 0, 2},
    {"ShufflePlay", &Preferences::shufflePlay, 0, INT_MIN, kNoLimit},
    {"AutoCDClearPlaylist", &Preferences::autoCDClearPlaylist, 1, INT_MIN, kNoLimit},
    {"CachePlaylistInfo", &Preferences::cachePlaylistInfo, 0, INT_MIN, kNoLimit},
    {"ReadPlaylistInfoWhenIdle", &Preferences::readPlaylistInfoWhenIdle, 0, INT_MIN, kNoLimit},
    {"ReadPlaylistInfoIdleWait", &Preferences::readPlaylistInfoIdleWait, 1000, 0, kNoLimit},
    {"ReadPlaylistInfoIdleInterval", &Preferences::readPlaylistInfoIdleInterval, 100, 0, kNoLimit},
    {"VisBlur", &Preferences::visBlur, 0, INT_MIN, kNoLimit},
    {"VisSmoke", &Preferences::visSmoke, 1, INT_MIN, kNoLimit},
    {"VisZoom", &Preferences::visZoom, 1, INT_MIN, kNoLimit},
    {"NewVisZoom", &Preferences::newVisZoom, 1, INT_MIN, kNoLimit},
    {"VisZoomReverse", &Preferences::visZoomReverse, 0, INT_MIN, kNoLimit},
    {"VisFXLevel", &Preferences::visFXLevel, 3, 0, 7},
    {"VisZoomLevel", &Preferences::visZoomLevel, 10, 2, 15},
    {"ShowElapsedTime", &Preferences::showElapsedTime, 0, INT_MIN, kNoLimit},
    {"AllowDefaultType", &Preferences::allowDefaultType, 0, INT_MIN, kNoLimit},
    {"TellmIRC", &Preferences::tellmIRC, 0, INT_MIN, kNoLimit},
    {"FunkyEasterEggQuiller", &Preferences::funkyEasterEggQuiller, 0, INT_MIN, kNoLimit},
    {"EQPreset", &Preferences::eqPreset, 0, INT_MIN, kNoLimit},
    {"EnableEQ", &Preferences::enableEQ, 0, INT_MIN, kNoLimit},
    {"UseWebProxy", &Preferences::useWebProxy, 0, INT_MIN, kNoLimit},
    {"UseWebProxyAuth", &Preferences::useWebProxyAuth, 0, INT_MIN, kNoLimit},
    {"AllowSkins", &Preferences::allowSkins, 1, INT_MIN, kNoLimit},
    {"ShowTitleOnly", &Preferences::showTitleOnly, 0, INT_MIN, kNoLimit},
    {"RememberFullscreenMode", &Preferences::rememberFullscreenMode, 1, INT_MIN, kNoLimit},
    {"WaitForVertBlank", &Preferences::waitForVertBlank, 0, INT_MIN, kNoLimit},
    {"AlwaysUseMasterVolume", &Preferences::alwaysUseMasterVolume, 0, INT_MIN, kNoLimit},
    {"IndividualModePositions", &Preferences::individualModePositions, 0, INT_MIN, kNoLimit},
    {"LockWindowMovement", &Preferences::lockWindowMovement, 0, INT_MIN, kNoLimit},
    {"DumpStreamDataOnPause", &Preferences::dumpStreamDataOnPause, 0, INT_MIN, kNoLimit},
    {"FullscreenModeWidth", &Preferences::fullscreenModeWidth, 1, INT_MIN, kNoLimit},
    {"FullscreenModeHeight", &Preferences::fullscreenModeHeight, 1, INT_MIN, kNoLimit},
    {"FullscreenModeDepth", &Preferences::fullscreenModeDepth, 1, INT_MIN, kNoLimit},
    {"StreamBufferSize", &Preferences::streamBufferSize, 64, 24, 256},
    {"StreamPreBufferSize", &Preferences::streamPreBufferSize, 50, 0, 100},
    {"DirectXExclusiveFullscreen", &Preferences::directXExclusiveFullscreen, 0, INT_MIN, kNoLimit},
    {"UseGDIFullscreen", &Preferences::useGDIFullscreen, 0, INT_MIN, kNoLimit},
    {"DoubledFullscreen", &Preferences::doubledFullscreen, 1, INT_MIN, kNoLimit},
    {"TranslucentOnDeactivate", &Preferences::translucentOnDeactivate, 0, INT_MIN, kNoLimit},
    {"CreateCrashThread", &Preferences::createCrashThread, 0, INT_MIN, kNoLimit},
};

struct TextRow {
    const char* key;
    std::string Preferences::*field;
    const char* defaultValue;
    std::size_t size;  // buffer size of the value, terminator included
};

constexpr TextRow kTextRows[] = {
    {"DefaultFilesDirectory", &Preferences::defaultFilesDirectory, "", 4096},
    {"DefaultExtension", &Preferences::defaultExtension, ".mp3", 20},
    {"WAVWritePath", &Preferences::wavWritePath, "", 324},
    {"WebProxyURL", &Preferences::webProxyURL, "", 256},
    {"WebProxyUserName", &Preferences::webProxyUserName, "", 64},
    {"Language", &Preferences::language, "English", 2048},
};

constexpr const char* kTellmIRCDefault = "/ame is listening to %s in Tessura %s";
constexpr std::size_t kTellmIRCSize = 120;
constexpr std::size_t kPasswordSize = 64;
const std::string kNullGuidText = formatGuid(Guid{});

int clampTo(int value, int low, int high) {
    return std::clamp(value, low, high);
}

std::string windowKey(int mode, char axis) {
    char key[32];
    std::snprintf(key, sizeof key, "Window%d_%c", mode, axis);
    return key;
}

Guid readGuid(SettingsStore& store, const char* key) {
    const std::string text = store.GetSettingText(kPreferencesSection, key, kNullGuidText);
    return parseGuid(text).value_or(Guid{});
}

bool skinExists(const PreferenceContext& context, const std::string& skin) {
    const std::string path = withSlashes(skin);
    if (path.empty()) return false;
    return fileExists(path.front() == '/' ? path : context.programFolder + "/" + path);
}

// The announcement text is a printf format with the song and the version; one that would not
// format those two texts is replaced by the default before anything uses it.
bool isAnnouncementFormat(const std::string& text) {
    const FormatArg args[] = {std::string_view("song"), std::string_view(kTessuraVersion)};
    return formatChecked(text, args).has_value();
}

}  // namespace

std::string scramblePassword(const std::string& clear) {
    static const char kHex[] = "0123456789abcdef";
    std::string stored;
    for (std::size_t i = 0; i < clear.size(); ++i) {
        const auto byte = static_cast<unsigned>(static_cast<unsigned char>(clear[i]) ^
                                                ((0x5Bu + 37u * i) & 0xFFu));
        stored += kHex[byte >> 4];
        stored += kHex[byte & 15];
    }
    return stored;
}

std::string unscramblePassword(const std::string& stored) {
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    if (stored.size() % 2 != 0) return {};
    std::string clear;
    for (std::size_t i = 0; i < stored.size(); i += 2) {
        const int hi = value(stored[i]), lo = value(stored[i + 1]);
        if (hi < 0 || lo < 0) return {};
        const unsigned byte = static_cast<unsigned>(hi * 16 + lo) ^ ((0x5Bu + 37u * (i / 2)) & 0xFFu);
        clear += static_cast<char>(byte);
    }
    return clear;
}

Preferences LoadPreferences(SettingsStore& store, const PreferenceContext& context) {
    const char* section = kPreferencesSection;
    // Older values that migrate, and TessuraPath, reach the file in one write.
    SettingsStore::Batch batch(store);
    Preferences p;
    for (const IntRow& row : kIntRows) {
        p.*row.field = clampTo(store.GetSettingInt(section, row.key, row.defaultValue), row.low, row.high);
    }
    for (const TextRow& row : kTextRows) {
        p.*row.field = store.GetSettingText(section, row.key, row.defaultValue, row.size);
    }

    p.audioVolume = clampTo(store.GetSettingInt(section, "AudioVolume", context.deviceVolume), 0, 65535);
    p.mainWindowX = store.GetSettingInt(section, "MainWindowX", context.screenWidth / 2);
    p.mainWindowY = store.GetSettingInt(section, "MainWindowY", context.screenHeight / 2);
    for (int mode = 0; mode < 3; ++mode) {
        const auto m = static_cast<std::size_t>(mode);
        p.windowX[m] = store.GetSettingInt(section, windowKey(mode, 'X'), context.screenWidth / 2);
        p.windowY[m] = store.GetSettingInt(section, windowKey(mode, 'Y'), context.screenHeight / 2);
    }
    p.visNumber = clampTo(store.GetSettingInt(section, "VisNumber", 0), 0,
                          std::max(0, context.visualisationCount - 1));

    p.tellmIRCString = store.GetSettingText(section, "TellmIRCString", kTellmIRCDefault, kTellmIRCSize);
    if (!isAnnouncementFormat(p.tellmIRCString)) p.tellmIRCString = kTellmIRCDefault;
    p.webProxyPassword = cutUtf8(
        unscramblePassword(store.GetSettingText(section, "WebProxyPassword", "")), kPasswordSize - 1);

    p.defaultSkin = withSlashes(store.GetSettingText(section, "DefaultSkin", kBuiltInDefaultSkin));
    if (!skinExists(context, p.defaultSkin)) p.defaultSkin = kBuiltInDefaultSkin;
    p.currentSkin = withSlashes(store.GetSettingText(section, "CurrentSkin", p.defaultSkin));

    p.activeDSP = readGuid(store, "ActiveDSP");
    p.activeOutput = readGuid(store, "ActiveOutput");
    const bool installed = p.activeOutput == kBuiltInOutputGuid ||
                           std::find(context.outputs.begin(), context.outputs.end(),
                                     p.activeOutput) != context.outputs.end();
    if (!installed) p.activeOutput = kBuiltInOutputGuid;
    p.directXDisplay = readGuid(store, "DirectXDisplay");

    p.displayFadeRate = store.GetSettingInt(section, "DisplayFadeRate", 0) != 0 ? 1 : 0;
    p.loadPlayList = store.GetSettingInt(section, "LoadPlayList", 1);
    p.loadSkin = store.GetSettingInt(section, "LoadSkin", 1);
    p.autoCDInsert = context.audioCdHandlerIsOurs ? 1 : 0;

    p.tessuraVersion = store.GetSettingText(section, "TessuraVersion", "");
    p.seedNumber = store.GetSettingInt(section, "SeedNumber", 0);
    if (p.seedNumber < INT_MAX) ++p.seedNumber;
    p.openWithSplash = p.showSplashScreen != 0 || p.tessuraVersion != kTessuraVersion ||
                       p.seedNumber % 10 == 0;

    store.SetSetting(section, "TessuraPath", context.programFolder);
    return p;
}

void SavePreferences(SettingsStore& store, const Preferences& p, const PreferenceContext& context) {
    const char* section = kPreferencesSection;
    SettingsStore::Batch batch(store);
    for (const IntRow& row : kIntRows) store.SetSettingInt(section, row.key, p.*row.field);
    for (const TextRow& row : kTextRows) {
        store.SetSetting(section, row.key, cutUtf8(p.*row.field, row.size - 1));
    }
    store.SetSettingInt(section, "SeedNumber", p.seedNumber);
    store.SetSettingInt(section, "AudioVolume", clampTo(p.audioVolume, 0, 65535));
    store.SetSettingInt(section, "MainWindowX", p.mainWindowX);
    store.SetSettingInt(section, "MainWindowY", p.mainWindowY);
    for (int mode = 0; mode < 3; ++mode) {
        const auto m = static_cast<std::size_t>(mode);
        store.SetSettingInt(section, windowKey(mode, 'X'), p.windowX[m]);
        store.SetSettingInt(section, windowKey(mode, 'Y'), p.windowY[m]);
    }
    store.SetSettingInt(section, "VisNumber", p.visNumber);
    store.SetSetting(section, "TellmIRCString", cutUtf8(p.tellmIRCString, kTellmIRCSize - 1));
    store.SetSetting(section, "WebProxyPassword",
                     scramblePassword(cutUtf8(p.webProxyPassword, kPasswordSize - 1)));
    store.SetSetting(section, "DefaultSkin", p.defaultSkin);
    store.SetSetting(section, "CurrentSkin", p.currentSkin);
    store.SetSetting(section, "ActiveDSP", formatGuid(p.activeDSP));
    store.SetSetting(section, "ActiveOutput", formatGuid(p.activeOutput));
    store.SetSetting(section, "DirectXDisplay", formatGuid(p.directXDisplay));
    store.SetSettingInt(section, "DisplayFadeRate", p.displayFadeRate != 0 ? 1 : 0);
    store.SetSettingInt(section, "AutoCDInsert", context.audioCdHandlerIsOurs ? 1 : 0);
    store.SetSetting(section, "TessuraVersion", kTessuraVersion);
    store.SetSetting(section, "TessuraPath", context.programFolder);
}

OutputDeviceSettings LoadOutputDeviceSettings(SettingsStore& store) {
    OutputDeviceSettings s;
    s.fragmentSize = clampTo(store.GetSettingInt(kPreferencesSection, "WAOFragmentSize", 32768), 4096, 32768);
    s.outputDevice = std::max(-1, store.GetSettingInt(kPreferencesSection, "WAOOutputDevice", -1));
    s.numBuffers = clampTo(store.GetSettingInt(kPreferencesSection, "WAONumBuffers", 9), 3, 9);
    return s;
}

void SaveOutputDeviceSettings(SettingsStore& store, const OutputDeviceSettings& s) {
    SettingsStore::Batch batch(store);
    store.SetSettingInt(kPreferencesSection, "WAOFragmentSize", clampTo(s.fragmentSize, 4096, 32768));
    store.SetSettingInt(kPreferencesSection, "WAOOutputDevice", std::max(-1, s.outputDevice));
    store.SetSettingInt(kPreferencesSection, "WAONumBuffers", clampTo(s.numBuffers, 3, 9));
}

}  // namespace tessura

#pragma once
// The program's options, section "General Preferences 0.80" of the settings store: read at
// start-up (after the plug-ins and visualisations are known, before the window opens) and
// written at exit. Every plain key, with its default and range, is one row of one table
// (Preferences.cpp); the rest are the few whose defaults or meaning depend on the machine.
#include "Guid.h"
#include "SettingsStore.h"

#include <array>
#include <string>
#include <vector>

namespace tessura {

inline constexpr const char* kPreferencesSection = "General Preferences 0.80";
inline constexpr const char* kTessuraVersion = "1.96";
inline constexpr const char* kBuiltInDefaultSkin = "system/tessura.tgf";
// The built-in output's identifier {DDDCE15A-BEBC-4F0B-980D-1DD79F804323}.
inline constexpr Guid kBuiltInOutputGuid{
    0xDDDCE15A, 0xBEBC, 0x4F0B, {0x98, 0x0D, 0x1D, 0xD7, 0x9F, 0x80, 0x43, 0x23}};

// What the defaults and ranges depend on, known at start-up.
struct PreferenceContext {
    std::string programFolder;
    int screenWidth = 1024;
    int screenHeight = 768;
    int deviceVolume = 65535;    // the sound device's current (left) level
    int visualisationCount = 0;  // how many visualisations exist
    std::vector<Guid> outputs;   // installed output plug-ins (the built-in one always counts)
    bool audioCdHandlerIsOurs = false;  // AutoCDInsert is derived, never read
};

struct Preferences {
    int showSplashScreen = 1;
    int seedNumber = 0;
    int alwaysOnTop = 0;
    int audioVolume = 65535;
    int audioBalance = 32768;
    int immediatePlay = 1;
    int listAppend = 1;
    int multipleInstances = 0;
    int minimizeToSystemTray = 0;
    int underscore2Space = 0;
    int displayFrameRate = 75;
    int mainWindowX = 0, mainWindowY = 0;
    std::array<int, 3> windowX{}, windowY{};
    int animationTime = 300;
    int showOscope = 0, showSpectrum = 0, showVUSweep = 1;
    int windowState = 2;
    int navWindowState = 0;
    std::string defaultFilesDirectory;
    int loadedSong = 0;
    std::string tessuraVersion;  // as read; written as kTessuraVersion
    int repeatMode = 0;
    int shufflePlay = 0;
    int autoCDInsert = 0;  // derived at start-up
    int autoCDClearPlaylist = 1;
    int cachePlaylistInfo = 0;
    int readPlaylistInfoWhenIdle = 0;
    int readPlaylistInfoIdleWait = 1000;
    int readPlaylistInfoIdleInterval = 100;
    int visBlur = 0, visSmoke = 1, visZoom = 1, newVisZoom = 1, visZoomReverse = 0;
    int visFXLevel = 3;
    int visZoomLevel = 10;
    int visNumber = 0;
    int showElapsedTime = 0;
    int allowDefaultType = 0;
    std::string defaultExtension = ".mp3";
    int tellmIRC = 0;
    std::string tellmIRCString = "/ame is listening to %s in Tessura %s";
    int funkyEasterEggQuiller = 0;
    int eqPreset = 0;
    int enableEQ = 0;
    std::string wavWritePath;
    std::string webProxyURL, webProxyUserName, webProxyPassword;  // the password in clear
    int useWebProxy = 0, useWebProxyAuth = 0;
    std::string defaultSkin = kBuiltInDefaultSkin;  // relative to the program folder
    std::string currentSkin = kBuiltInDefaultSkin;
    int allowSkins = 1;
    int showTitleOnly = 0;
    int rememberFullscreenMode = 1;
    int waitForVertBlank = 0;
    int alwaysUseMasterVolume = 0;
    int individualModePositions = 0;
    int lockWindowMovement = 0;
    int dumpStreamDataOnPause = 0;
    int fullscreenModeWidth = 1, fullscreenModeHeight = 1, fullscreenModeDepth = 1;
    int streamBufferSize = 64;
    int streamPreBufferSize = 50;
    std::string language = "English";
    Guid activeDSP{};
    Guid activeOutput{};
    int directXExclusiveFullscreen = 0;  // 1 only on a platform family that is not this one
    int useGDIFullscreen = 0;
    Guid directXDisplay{};
    int doubledFullscreen = 1;
    int translucentOnDeactivate = 0;
    int displayFadeRate = 0;
    int loadPlayList = 1, loadSkin = 1;  // the start-up guards as found
    int createCrashThread = 0;

    bool openWithSplash = false;  // derived: the window opens on the splash page
    int visualisationLayers() const {  // bits 0, 1, 2: oscilloscope, spectrum, VU sweep
        return (showOscope ? 1 : 0) | (showSpectrum ? 2 : 0) | (showVUSweep ? 4 : 0);
    }
};

// Reads every key (migrating older values), applies the clamps, counts this start and writes
// TessuraPath.
Preferences LoadPreferences(SettingsStore& store, const PreferenceContext& context);
// Writes every key that is written at exit, in one atomic write.
void SavePreferences(SettingsStore& store, const Preferences& preferences,
                     const PreferenceContext& context);

// The proxy password as stored: a reversible scrambling, so it is not legible at a glance.
std::string scramblePassword(const std::string& clear);
std::string unscramblePassword(const std::string& stored);

// The built-in output's own settings (it reads them when created, writes them when destroyed).
struct OutputDeviceSettings {
    int fragmentSize = 32768;  // WAOFragmentSize, bytes, 4096-32768
    int outputDevice = -1;     // WAOOutputDevice, -1 = the default device
    int numBuffers = 9;        // WAONumBuffers, 3-9
};
OutputDeviceSettings LoadOutputDeviceSettings(SettingsStore& store);
void SaveOutputDeviceSettings(SettingsStore& store, const OutputDeviceSettings& settings);

}  // namespace tessura

#pragma once
// The visual-effect settings of "General Preferences 0.80" as the visualisations use them,
// clamped as they are read, and where the visualisations keep their own settings.
#include "Preferences.h"

#include <string>

namespace tessura {

struct VisSettings {
    int fxLevel = 3;     // VisFXLevel 0-7: 0 clears every frame, else the fade level
    bool blur = false;   // VisBlur
    bool smoke = true;   // VisSmoke
    bool zoom = true;    // VisZoom
    bool newZoom = true; // NewVisZoom: the zoom works only with both
    bool zoomReverse = false;  // VisZoomReverse
    int zoomLevel = 10;  // VisZoomLevel 2-15
    int number = 0;      // VisNumber, at least 0

    // The factor handed to the surface's zoom: level x 4096, negated for outwards.
    int zoomFactor() const { return zoomLevel * 4096 * (zoomReverse ? -1 : 1); }
};

// The settings from the preferences, with the clamps applied again (a caller may have set
// the fields by hand).
VisSettings visSettingsFrom(const Preferences& preferences);
// Back into the preferences, for the settings screen and the write at exit.
void storeVisSettings(const VisSettings& settings, Preferences& preferences);
// "vis.ini" in the program folder: the file every visualisation's Configure is given.
std::string visIniPath(const std::string& programFolder);
// The folder of the visualisation plug-ins (*.tvp).
std::string visPluginFolder(const std::string& programFolder);

}  // namespace tessura

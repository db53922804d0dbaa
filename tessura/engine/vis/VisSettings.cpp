#include "VisSettings.h"

#include <algorithm>

namespace tessura {

VisSettings visSettingsFrom(const Preferences& p) {
    VisSettings s;
    s.fxLevel = std::clamp(p.visFXLevel, 0, 7);
    s.blur = p.visBlur != 0;
    s.smoke = p.visSmoke != 0;
    s.zoom = p.visZoom != 0;
    s.newZoom = p.newVisZoom != 0;
    s.zoomReverse = p.visZoomReverse != 0;
    s.zoomLevel = std::clamp(p.visZoomLevel, 2, 15);
    s.number = std::max(p.visNumber, 0);
    return s;
}

void storeVisSettings(const VisSettings& s, Preferences& p) {
    p.visFXLevel = s.fxLevel;
    p.visBlur = s.blur ? 1 : 0;
    p.visSmoke = s.smoke ? 1 : 0;
    p.visZoom = s.zoom ? 1 : 0;
    p.newVisZoom = s.newZoom ? 1 : 0;
    p.visZoomReverse = s.zoomReverse ? 1 : 0;
    p.visZoomLevel = s.zoomLevel;
    p.visNumber = s.number;
}

std::string visIniPath(const std::string& programFolder) {
    return programFolder + "/vis.ini";
}

std::string visPluginFolder(const std::string& programFolder) {
    return programFolder + "/vis";
}

}  // namespace tessura

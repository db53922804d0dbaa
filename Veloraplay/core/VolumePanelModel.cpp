#include "VolumePanelModel.h"

#include "PlayerSettings.h"

#include <algorithm>

namespace veloraplay {
namespace {

int placeOnAxis(int pointer, int size, int screenStart, int screenSize) {
    const int start = pointer - size / 2;
    // The far edge first, so that a panel wider than the screen ends up at its start.
    return std::max(std::min(start, screenStart + screenSize - size), screenStart);
}

}  // namespace

VolumePanelModel::VolumePanelModel(SettingsStore& settings)
    : settings_(settings),
      position_(kMaxLevel - readSetting(settings, PlayerSetting::VolumeLevel)),
      muted_(readSetting(settings, PlayerSetting::MuteState) != 0) {}

int VolumePanelModel::moveSlider(int position) {
    position_ = std::clamp(position, 0, kMaxLevel);
    return deviceVolume();
}

int VolumePanelModel::setMuted(bool muted) {
    muted_ = muted;
    return deviceVolume();
}

void VolumePanelModel::close() {
    writeSetting(settings_, PlayerSetting::VolumeLevel, level());
    writeSetting(settings_, PlayerSetting::MuteState, muted_ ? 1 : 0);
    settings_.save();
}

int VolumePanelModel::outputOpenLevel(const SettingsStore& settings) {
    if (readSetting(settings, PlayerSetting::MuteState) != 0) return 0;
    return readSetting(settings, PlayerSetting::VolumeLevel);
}

std::pair<int, int> VolumePanelModel::placeAt(int px, int py, int w, int h, int screenX,
                                              int screenY, int screenW, int screenH) {
    return {placeOnAxis(px, w, screenX, screenW), placeOnAxis(py, h, screenY, screenH)};
}

}  // namespace veloraplay

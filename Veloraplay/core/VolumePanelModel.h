#pragma once
// The volume panel's state without widgets: a slider whose position runs the other way from
// the level (position 0 is full volume, so the top of a vertical slider is loud) and a mute
// switch. The panel keeps its state in the settings only from one opening to the next.
#include "SettingsStore.h"

#include <utility>

namespace veloraplay {

class VolumePanelModel {
  public:
    static constexpr int kMaxLevel = 100;

    // Reads "VolumeLevel" (default 100) and "MuteState" (default 0).
    explicit VolumePanelModel(SettingsStore& settings);

    // Slider position 0..100 = 100 − level.
    int sliderPosition() const { return position_; }
    bool muted() const { return muted_; }
    // The level the slider shows, muted or not.
    int level() const { return kMaxLevel - position_; }
    // What the output should play at: 0 when muted, else the level.
    int deviceVolume() const { return muted_ ? 0 : level(); }

    // Clamps to 0..100; returns the device volume to set now.
    int moveSlider(int position);
    // Returns the device volume to set now.
    int setMuted(bool muted);

    // Writes "VolumeLevel" = 100 − position and "MuteState", and saves the settings file so
    // that a player that ends abnormally still opens at this level next time.
    void close();

    // The level the device output opens with: 0 when muted, else "VolumeLevel".
    static int outputOpenLevel(const SettingsStore& settings);

    // Top-left of a w×h panel centred on the pointer (px, py), moved inside the screen
    // rectangle; a panel larger than the screen keeps to the screen's top-left corner.
    static std::pair<int, int> placeAt(int px, int py, int w, int h, int screenX, int screenY,
                                       int screenW, int screenH);

  private:
    SettingsStore& settings_;
    int position_ = 0;
    bool muted_ = false;
};

}  // namespace veloraplay

#pragma once
// The built-in output's page on the settings screen: device list, fragment size (4-32 KB) and
// number of buffers (3-9), described by control records and run by their handler.
#include "TessuraPluginAbi.h"

namespace tessura {

class WaveAudioOutput;

namespace wao_control {
inline constexpr int32_t kTitle = 0, kFragmentLabel = 1, kFragmentSlider = 2, kDeviceLabel = 3,
                         kDeviceList = 4, kBuffersLabel = 5, kBuffersSlider = 6;
}

// The page, allocated zeroed with its seven controls; the handler frees both when the page
// closes.
SettingsPage* createWaveOutputSettingsPage(WaveAudioOutput& output);

}  // namespace tessura

#include "StreamSettings.h"

#include "Preferences.h"
#include "SettingsStore.h"

#include <algorithm>
#include <cmath>

namespace tessura {

StreamSettings StreamSettings::clamped() const {
    StreamSettings s = *this;
    s.bufferKb = std::clamp(bufferKb, kMinBufferKb, kMaxBufferKb);
    s.preBufferPercent = std::clamp(preBufferPercent, 0, 100);
    s.proxyUrl = proxyUrl.substr(0, 255);
    s.proxyUser = proxyUser.substr(0, 63);
    s.proxyPassword = proxyPassword.substr(0, 63);
    return s;
}

StreamSettings LoadStreamSettings(SettingsStore& store) {
    StreamSettings s;
    s.bufferKb = store.GetSettingInt(kPreferencesSection, "StreamBufferSize", StreamSettings::kDefaultBufferKb);
    s.preBufferPercent =
        store.GetSettingInt(kPreferencesSection, "StreamPreBufferSize", StreamSettings::kDefaultPreBufferPercent);
    s.useProxy = store.GetSettingInt(kPreferencesSection, "UseWebProxy", 0) != 0;
    s.proxyUrl = store.GetSettingText(kPreferencesSection, "WebProxyURL", "");
    s.useProxyAuth = store.GetSettingInt(kPreferencesSection, "UseWebProxyAuth", 0) != 0;
    s.proxyUser = store.GetSettingText(kPreferencesSection, "WebProxyUserName", "");
    s.proxyPassword = unscramblePassword(store.GetSettingText(kPreferencesSection, "WebProxyPassword", ""));
    return s.clamped();
}

std::size_t StreamRingBytes(const StreamSettings& settings) {
    return static_cast<std::size_t>(settings.clamped().bufferKb) * 1024;
}

int64_t PreBufferThreshold(const StreamSettings& settings) {
    const StreamSettings s = settings.clamped();
    if (s.preBufferPercent == 0) return 0;
    const double kilobytes = std::floor(s.bufferKb / (100.0 / s.preBufferPercent));
    const auto threshold = static_cast<int64_t>(kilobytes) * 1024;
    return std::min<int64_t>(threshold, static_cast<int64_t>(StreamRingBytes(s) - kStreamReadBytes));
}

}  // namespace tessura

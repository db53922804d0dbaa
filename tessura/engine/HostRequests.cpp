#include "HostRequests.h"

#include "ModuleHostServices.h"
#include "Preferences.h"

#include <cstring>

namespace tessura {

namespace {
constexpr std::size_t kMaxStatusText = 4096;
}

HostRequests::HostRequests(SettingsStore& settings, ThreadMessageQueue& messages,
                           std::string programFolder, HostWindow* window)
    : settings_(settings), messages_(messages), programFolder_(std::move(programFolder) + "/"),
      window_(window) {}

intptr_t HostRequests::settingText(const char* key, char* buffer, std::size_t size) {
    std::string value = settings_.GetSettingText(kPreferencesSection, key, "");
    if (std::strcmp(key, "WebProxyPassword") == 0) value = unscramblePassword(value);
    std::lock_guard<std::mutex> hold(mutex_);
    copyTerminated(value, buffer, static_cast<uint32_t>(size));
    return reinterpret_cast<intptr_t>(buffer);
}

intptr_t HostRequests::handle(int32_t type, intptr_t argument) {
    switch (type) {
    case HOST_REQUEST_RELOAD_CD_DUMP:
        if (window_ != nullptr) window_->replayAudioCdPlaylist();
        return 0;
    case HOST_REQUEST_SET_FLAG:
        hostFlag_ = true;
        return 0;
    case HOST_REQUEST_MAIN_WINDOW:
        return (window_ != nullptr && window_->interfaceModeActive())
                   ? reinterpret_cast<intptr_t>(window_->mainWindow())
                   : 0;
    case HOST_REQUEST_STATUS_TEXT:
        if (argument != 0) {
            const char* text = reinterpret_cast<const char*>(argument);
            ThreadMessage message;
            message.code = thread_message::kStatusText;
            message.text.assign(text, strnlen(text, kMaxStatusText));
            messages_.post(std::move(message));
        }
        return 0;
    case HOST_REQUEST_USE_WEB_PROXY:
        return settings_.GetSettingInt(kPreferencesSection, "UseWebProxy", 0) != 0 ? 1 : 0;
    case HOST_REQUEST_WEB_PROXY_URL:
        return settingText("WebProxyURL", proxyUrl_, sizeof proxyUrl_);
    case HOST_REQUEST_RESET_DISPLAY_COUNTER:
        displayCounter_ = -10;
        return 0;
    case HOST_REQUEST_SEND_MESSAGE: {
        if (argument == 0) return 0;
        const auto& m = *reinterpret_cast<const HostWindowMessage*>(argument);
        if (m.window != nullptr) {
            if (window_ != nullptr) window_->sendMessage(m.window, m.message, m.wparam, m.lparam);
        } else {
            messages_.post(m.message, m.wparam, m.lparam);
        }
        return 0;
    }
    case HOST_REQUEST_STATE_FLAG:
        return stateFlag_ ? 1 : 0;
    case HOST_REQUEST_USE_WEB_PROXY_AUTH:
        return settings_.GetSettingInt(kPreferencesSection, "UseWebProxyAuth", 0) != 0 ? 1 : 0;
    case HOST_REQUEST_WEB_PROXY_USER:
        return settingText("WebProxyUserName", proxyUser_, sizeof proxyUser_);
    case HOST_REQUEST_WEB_PROXY_PASSWORD:
        return settingText("WebProxyPassword", proxyPassword_, sizeof proxyPassword_);
    case HOST_REQUEST_SHOW_MODULE_PAGE: {
        pageCallback_ = argument;
        if (window_ != nullptr) {
            int expected = -1;
            rememberedMode_.compare_exchange_strong(expected, window_->currentMode());
            window_->redrawModeWindow();
            window_->switchModeAfter(settings_.GetSettingInt(kPreferencesSection, "AnimationTime", 300),
                                     2, kModulePage);
        }
        return 1;
    }
    case HOST_REQUEST_HIDE_MODULE_PAGE:
        pageCallback_ = 0;
        if (window_ != nullptr) {
            window_->redrawModeWindow();
            window_->switchModeAfter(settings_.GetSettingInt(kPreferencesSection, "AnimationTime", 300),
                                     rememberedMode_.load(), kRestorePage);
        }
        return 1;
    case HOST_REQUEST_REFRESH_SONG:
        messages_.post(thread_message::kRefreshSongDisplay);
        return 0;
    case HOST_REQUEST_PROGRAM_FOLDER:
        return reinterpret_cast<intptr_t>(programFolder_.c_str());
    default:
        return 0;
    }
}

}  // namespace tessura

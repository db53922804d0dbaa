#pragma once
// The answers to an input module's HostRequest(type, argument): settings, status texts,
// messages to windows and the module's own page in the window. What needs the window goes to a
// HostWindow; without one those requests change nothing and give their usual results.
#include "TessuraPluginAbi.h"

#include "SettingsStore.h"
#include "ThreadMessages.h"

#include <atomic>
#include <mutex>
#include <string>

namespace tessura {

class HostWindow {
  public:
    virtual ~HostWindow() = default;
    virtual void* mainWindow() = 0;          // the native window id
    virtual bool interfaceModeActive() = 0;  // a user-interface mode is showing
    virtual void replayAudioCdPlaylist() = 0;  // "cddump.pls" back in the playlist, if saved
    virtual void sendMessage(void* window, uint32_t message, intptr_t wparam, intptr_t lparam) = 0;
    virtual int currentMode() = 0;
    virtual void redrawModeWindow() = 0;
    // After `delayMs`, switch to `mode` showing `page`.
    virtual void switchModeAfter(int delayMs, int mode, int page) = 0;
};

class HostRequests {
  public:
    static constexpr int kModulePage = 11;
    static constexpr int kRestorePage = 0xFFFD;

    HostRequests(SettingsStore& settings, ThreadMessageQueue& messages, std::string programFolder,
                 HostWindow* window = nullptr);

    intptr_t handle(int32_t type, intptr_t argument);

    // The module's page callback stored by type 22, null after 23.
    intptr_t modulePageCallback() const { return pageCallback_; }
    int displayCounter() const { return displayCounter_; }

  private:
    intptr_t settingText(const char* key, char* buffer, std::size_t size);

    SettingsStore& settings_;
    ThreadMessageQueue& messages_;
    const std::string programFolder_;
    HostWindow* window_;
    std::mutex mutex_;  // guards the text buffers handed out
    char proxyUrl_[HOST_WEB_PROXY_URL_SIZE] = {};
    char proxyUser_[HOST_WEB_PROXY_USER_SIZE] = {};
    char proxyPassword_[HOST_WEB_PROXY_PASSWORD_SIZE] = {};
    std::atomic<intptr_t> pageCallback_{0};
    std::atomic<int> rememberedMode_{-1};
    std::atomic<int> displayCounter_{0};
    std::atomic<bool> hostFlag_{false};
    std::atomic<bool> stateFlag_{false};
};

}  // namespace tessura

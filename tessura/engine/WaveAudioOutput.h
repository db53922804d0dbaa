#pragma once
// The built-in output "Windows Audio Output": an OutputInterface over the sound device layer.
// A feeder thread keeps the device's buffers filled from OutputHost NextBlock; the device's
// buffer-done callback advances the audible position and reports song changes.
#include "TessuraPluginAbi.h"
#include "audio/WaveOutDevice.h"

#include "DialogService.h"
#include "Event.h"
#include "Preferences.h"
#include "SettingsStore.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tessura {

inline constexpr const char* kBuiltinOutputName = "Windows Audio Output";
inline constexpr PluginGuid kBuiltinOutputGuid = {
    0xDDDCE15A, 0xBEBC, 0x4F0B, {0x98, 0x0D, 0x1D, 0xD7, 0x9F, 0x80, 0x43, 0x23}};
inline constexpr const char* kOpenDeviceErrorTitle = "Error Opening Audio Device...";

class WaveAudioOutput {
  public:
    using DeviceFactory = std::function<std::unique_ptr<WaveOutDevice>(int deviceNumber)>;
    // Reads the WAO settings now and writes them back when destroyed. `devices` makes the sound
    // device (TESSURA_AUDIO's backend by default); `deviceNames` lists the devices for the page.
    WaveAudioOutput(SettingsStore& settings, DialogService& dialogs, DeviceFactory devices = {},
                    std::vector<std::string> deviceNames = {});
    ~WaveAudioOutput();
    WaveAudioOutput(const WaveAudioOutput&) = delete;
    WaveAudioOutput& operator=(const WaveAudioOutput&) = delete;

    OutputInterface* outputInterface() { return &handle_.iface; }

    int32_t initialise(void* window, OutputHost* host);
    int32_t shutdown();
    int32_t open(int32_t songId, int32_t& rate, int32_t& channels, int32_t& bits);
    int32_t close(bool immediate);
    int32_t pause();
    int32_t resume();
    int32_t flush();
    int32_t position() const;
    int64_t written() const;
    void setVolume(uint32_t packed);
    uint32_t volume() const;
    bool stillPlaying() const;

    uint32_t blockSize() const { return blockSize_; }
    uint32_t fragmentMs() const { return fragmentMs_; }

    // The settings the page edits (the device's next open uses them).
    OutputDeviceSettings deviceSettings() const;
    void setDeviceSettings(const OutputDeviceSettings& settings);
    // The backend's devices, asked for the first time the page wants them.
    const std::vector<std::string>& deviceNames();

  private:
    struct Slot {
        std::vector<uint8_t> storage;
        bool busy = false;
    };
    struct Handle {
        OutputInterface iface;
        WaveAudioOutput* owner;
    };
    static WaveAudioOutput& of(OutputInterface* self);
    static const OutputInterfaceTable kTable;

    void onBufferDone(const WaveOutBuffer& buffer);
    void feed();
    void feederLoop();
    void stopFeeder();
    void resetState(int32_t songId);
    int64_t nowMs() const;

    SettingsStore& settings_;
    DialogService& dialogs_;
    DeviceFactory devices_;
    std::vector<std::string> deviceNames_;
    bool namesKnown_ = false;
    AudioBackendChoice backend_;
    Handle handle_;
    OutputHost* host_ = nullptr;

    std::unique_ptr<WaveOutDevice> device_;  // open/close on the chain's thread only
    WaveOutFormat format_;
    uint32_t blockSize_ = 0;
    uint32_t fragmentMs_ = kDefaultFragmentMs;
    static constexpr uint32_t kDefaultFragmentMs = 42;

    std::thread feeder_;
    Event feederWake_{Event::Reset::Automatic};
    std::atomic<bool> feederStop_{false};
    std::mutex feedMutex_;  // one feed at a time (the feeder does not re-enter itself)

    mutable std::mutex mutex_;  // guards everything below
    OutputDeviceSettings wao_;
    std::vector<Slot> slots_;
    int queued_ = 0;
    bool open_ = false, paused_ = false;
    bool flushing_ = false;  // the device is handing back what a flush dropped
    int32_t lastSongId_ = 0;
    int64_t positionMs_ = 0;      // end of the last finished buffer
    int64_t lastDoneMs_ = 0;      // when it finished
    int64_t resumedAtMs_ = 0;     // GetWritten's clock
    int64_t writtenBase_ = 0;
    uint32_t volume_ = 0xFFFFFFFFu;
};

}  // namespace tessura

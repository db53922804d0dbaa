#include "WaveAudioOutput.h"

#include "OutputBlockSize.h"
#include "WaveOutputSettingsPage.h"

#include <algorithm>

namespace tessura {

using namespace std::chrono;

WaveAudioOutput::WaveAudioOutput(SettingsStore& settings, DialogService& dialogs,
                                 DeviceFactory devices, std::vector<std::string> deviceNames)
    : settings_(settings), dialogs_(dialogs), devices_(std::move(devices)),
      deviceNames_(std::move(deviceNames)), namesKnown_(!deviceNames_.empty() || static_cast<bool>(devices_)),
      handle_{{&kTable}, this}, wao_(LoadOutputDeviceSettings(settings)) {
    if (!devices_) {
        backend_ = audioBackendFromEnvironment();
        devices_ = [backend = backend_](int number) { return createWaveOutDevice(backend, number); };
    }
}

const std::vector<std::string>& WaveAudioOutput::deviceNames() {
    if (!namesKnown_) {
        deviceNames_ = waveOutDeviceNames(backend_);
        namesKnown_ = true;
    }
    return deviceNames_;
}

WaveAudioOutput::~WaveAudioOutput() {
    close(true);
    SaveOutputDeviceSettings(settings_, deviceSettings());
}

OutputDeviceSettings WaveAudioOutput::deviceSettings() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return wao_;
}

void WaveAudioOutput::setDeviceSettings(const OutputDeviceSettings& s) {
    std::lock_guard<std::mutex> hold(mutex_);
    wao_.fragmentSize = std::clamp(s.fragmentSize, 4096, 32768);
    wao_.numBuffers = std::clamp(s.numBuffers, 3, 9);
    wao_.outputDevice = std::max(-1, s.outputDevice);
}

int64_t WaveAudioOutput::nowMs() const {
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int32_t WaveAudioOutput::initialise(void*, OutputHost* host) {
    host_ = host;
    return TESSURA_RESULT_OK;
}

int32_t WaveAudioOutput::shutdown() {
    close(true);
    host_ = nullptr;
    return TESSURA_RESULT_OK;
}

void WaveAudioOutput::resetState(int32_t songId) {
    std::lock_guard<std::mutex> hold(mutex_);
    lastSongId_ = songId;
    positionMs_ = 0;
    lastDoneMs_ = resumedAtMs_ = nowMs();
    writtenBase_ = 0;
}

int32_t WaveAudioOutput::open(int32_t songId, int32_t& rate, int32_t& channels, int32_t& bits) {
    const WaveOutFormat format{rate, channels, bits};
    if (device_ && format.rate == format_.rate && format.channels == format_.channels &&
        format.bits == format_.bits) {
        // The next song plays on in the same format. The previous song's buffers may still be
        // queued; each buffer carries its song id, so the change shows when the new song's first
        // buffer is done, with that buffer's position.
        return TESSURA_RESULT_OK;
    }
    close(true);
    if (format.bytesPerSecond() == 0 || channels > 8) return TESSURA_RESULT_FAILED;
    const OutputDeviceSettings wao = deviceSettings();
    std::unique_ptr<WaveOutDevice> device = devices_(wao.outputDevice);
    std::string error;
    if (!device || !device->open(format, [this](const WaveOutBuffer& b) { onBufferDone(b); }, error)) {
        MessageRequest request;
        request.title = kOpenDeviceErrorTitle;
        request.text = error;
        dialogs_.message(request);
        return TESSURA_RESULT_FAILED;
    }
    device->setVolume(volume());
    device_ = std::move(device);
    format_ = format;
    const auto uRate = static_cast<uint32_t>(rate), uChannels = static_cast<uint32_t>(channels),
               uBits = static_cast<uint32_t>(bits);
    blockSize_ = outputBlockSize(static_cast<uint32_t>(wao.fragmentSize), uRate, uChannels, uBits);
    fragmentMs_ = fragmentDurationMs(blockSize_, uRate, uChannels, uBits);
    if (host_ != nullptr) host_->table->SetBlockSize(host_, blockSize_);
    {
        std::lock_guard<std::mutex> hold(mutex_);
        slots_.assign(static_cast<std::size_t>(wao.numBuffers), Slot{});
        for (Slot& slot : slots_) slot.storage.assign(blockSize_, 0);
        queued_ = 0;
        open_ = true;
        paused_ = false;
    }
    resetState(songId);
    feederStop_ = false;
    feeder_ = std::thread([this] { feederLoop(); });
    return TESSURA_RESULT_OK;
}

void WaveAudioOutput::feederLoop() {
    const auto period = milliseconds(std::max<uint32_t>(1, fragmentMs_ / 3));
    while (!feederStop_) {
        feed();
        feederWake_.waitFor(period);
    }
}

void WaveAudioOutput::feed() {
    std::lock_guard<std::mutex> feeding(feedMutex_);
    if (host_ == nullptr || !device_) return;
    for (;;) {
        std::size_t free = 0;
        uint8_t* storage = nullptr;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (!open_ || paused_) return;
            while (free < slots_.size() && slots_[free].busy) ++free;
            if (free == slots_.size()) return;
            storage = slots_[free].storage.data();
        }
        OutputBlock block{storage, blockSize_, 0, 0, 0};
        if (host_->table->NextBlock(host_, &block) != 0) return;
        // The host may not hand more than one block, whatever it says.
        const uint32_t length = std::min(block.length, blockSize_);
        if (length == 0) {
            // An end-of-song marker carries no sound; the song change shows on the next buffer.
            if ((block.flags & OUTPUT_BLOCK_END_OF_SONG) != 0) return;
            continue;
        }
        WaveOutBuffer buffer;
        buffer.data = storage;
        buffer.length = length;
        buffer.songId = block.songId;
        buffer.positionMs = block.positionMs;
        buffer.positionValid = (block.flags & OUTPUT_BLOCK_POSITION_VALID) != 0;
        buffer.durationMs = static_cast<uint32_t>(uint64_t{length} * 1000 / format_.bytesPerSecond());
        buffer.slot = free;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            slots_[free].busy = true;
            ++queued_;
        }
        device_->write(buffer);
    }
}

void WaveAudioOutput::onBufferDone(const WaveOutBuffer& buffer) {
    int32_t previous = 0;
    bool changed = false;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        // Buffers a flush hands back were never heard: the position stays where playing stopped.
        if (!flushing_ && buffer.positionValid) positionMs_ = buffer.positionMs;
        lastDoneMs_ = nowMs();
        if (!flushing_) positionMs_ += buffer.durationMs;
        if (!flushing_ && buffer.songId != lastSongId_) {
            previous = lastSongId_;
            lastSongId_ = buffer.songId;
            changed = true;
            writtenBase_ = 0;
            resumedAtMs_ = lastDoneMs_;
        }
        if (buffer.slot < slots_.size()) slots_[buffer.slot].busy = false;
        queued_ = std::max(0, queued_ - 1);
    }
    if (changed && host_ != nullptr) host_->table->SongChanged(host_, previous, buffer.songId);
    feederWake_.set();
}

void WaveAudioOutput::stopFeeder() {
    feederStop_ = true;
    feederWake_.set();
    if (feeder_.joinable()) feeder_.join();
}

int32_t WaveAudioOutput::close(bool immediate) {
    if (!device_) return TESSURA_RESULT_OK;
    if (!immediate) {
        for (;;) {
            {
                std::lock_guard<std::mutex> hold(mutex_);
                if (queued_ == 0 || paused_) break;
            }
            std::this_thread::sleep_for(milliseconds(fragmentMs_));
        }
    }
    stopFeeder();
    device_->reset();
    std::this_thread::sleep_for(milliseconds(100));
    bool wasPaused;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        wasPaused = paused_;
        open_ = paused_ = false;
        queued_ = 0;
        for (Slot& slot : slots_) slot.busy = false;
    }
    if (wasPaused) device_->restart();
    device_->close();
    device_.reset();
    format_ = {};
    return TESSURA_RESULT_OK;
}

int32_t WaveAudioOutput::pause() {
    if (!device_) return TESSURA_RESULT_FAILED;
    device_->pause();
    std::lock_guard<std::mutex> hold(mutex_);
    if (!paused_) {
        writtenBase_ += (nowMs() - resumedAtMs_) * format_.bytesPerSecond() / 1000;
        paused_ = true;
    }
    return TESSURA_RESULT_OK;
}

int32_t WaveAudioOutput::resume() {
    if (!device_) return TESSURA_RESULT_FAILED;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (paused_) {
            paused_ = false;
            resumedAtMs_ = lastDoneMs_ = nowMs();
        }
    }
    device_->restart();
    feederWake_.set();
    return TESSURA_RESULT_OK;
}

int32_t WaveAudioOutput::flush() {
    if (!device_) return TESSURA_RESULT_FAILED;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        flushing_ = true;
    }
    device_->reset();
    std::lock_guard<std::mutex> hold(mutex_);
    flushing_ = false;
    lastDoneMs_ = nowMs();
    return TESSURA_RESULT_OK;
}

int32_t WaveAudioOutput::position() const {
    std::lock_guard<std::mutex> hold(mutex_);
    if (paused_) return static_cast<int32_t>(positionMs_);
    const int64_t since = std::min<int64_t>(nowMs() - lastDoneMs_, fragmentMs_ * 3 / 2);
    return static_cast<int32_t>(positionMs_ + since);
}

int64_t WaveAudioOutput::written() const {
    std::lock_guard<std::mutex> hold(mutex_);
    if (paused_ || !open_) return writtenBase_;
    return writtenBase_ + (nowMs() - resumedAtMs_) * format_.bytesPerSecond() / 1000;
}

void WaveAudioOutput::setVolume(uint32_t packed) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        volume_ = packed;
    }
    if (device_) device_->setVolume(packed);
}

uint32_t WaveAudioOutput::volume() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return volume_;
}

bool WaveAudioOutput::stillPlaying() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return open_ && queued_ > 0;
}

WaveAudioOutput& WaveAudioOutput::of(OutputInterface* self) {
    return *reinterpret_cast<Handle*>(self)->owner;
}

namespace {
int32_t result(bool ok) {
    return ok ? TESSURA_RESULT_OK : TESSURA_RESULT_FAILED;
}
}  // namespace

// The built-in output belongs to the host: destroy and Release close it but leave the object.
const OutputInterfaceTable WaveAudioOutput::kTable = {
    [](OutputInterface* self) { of(self).close(true); },
    [](OutputInterface* self) -> int32_t { return of(self).shutdown(); },
    [](OutputInterface* self, void* window, OutputHost* host) -> int32_t {
        return of(self).initialise(window, host);
    },
    [](OutputInterface* self) -> int32_t { return of(self).shutdown(); },
    [](OutputInterface*, PluginInfo* info) -> int32_t {
        if (info == nullptr) return TESSURA_RESULT_FAILED;
        *info = {kBuiltinOutputName, "", kBuiltinOutputGuid, 1};
        return TESSURA_RESULT_OK;
    },
    [](OutputInterface* self, SettingsPage** page) -> int32_t {
        if (page == nullptr) return TESSURA_RESULT_FAILED;
        *page = createWaveOutputSettingsPage(of(self));
        return result(*page != nullptr);
    },
    [](OutputInterface* self, int32_t songId, int32_t* rate, int32_t* channels, int32_t* bits) -> int32_t {
        if (rate == nullptr || channels == nullptr || bits == nullptr) return TESSURA_RESULT_FAILED;
        return of(self).open(songId, *rate, *channels, *bits);
    },
    [](OutputInterface* self, int32_t immediate) -> int32_t { return of(self).close(immediate != 0); },
    [](OutputInterface* self) -> int32_t { return of(self).pause(); },
    [](OutputInterface* self) -> int32_t { return of(self).resume(); },
    [](OutputInterface* self) -> int32_t { return of(self).flush(); },
    [](OutputInterface* self, int32_t* ms) -> int32_t {
        if (ms == nullptr) return TESSURA_RESULT_FAILED;
        *ms = of(self).position();
        return TESSURA_RESULT_OK;
    },
    [](OutputInterface* self, int64_t* value) -> int32_t {
        if (value == nullptr) return TESSURA_RESULT_FAILED;
        *value = of(self).written();
        return TESSURA_RESULT_OK;
    },
    [](OutputInterface* self, uint32_t packed) -> int32_t {
        of(self).setVolume(packed);
        return TESSURA_RESULT_OK;
    },
    [](OutputInterface* self, uint32_t* packed) -> int32_t {
        if (packed == nullptr) return TESSURA_RESULT_FAILED;
        *packed = of(self).volume();
        return TESSURA_RESULT_OK;
    },
    [](OutputInterface* self, int32_t* flag) -> int32_t {
        if (flag == nullptr) return TESSURA_RESULT_FAILED;
        *flag = of(self).stillPlaying() ? 1 : 0;
        return TESSURA_RESULT_OK;
    },
};

}  // namespace tessura

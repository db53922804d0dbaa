#include "PlayerEngine.h"

#include "PlaybackControls.h"
#include "TextCase.h"

#include <algorithm>

namespace tessura {

namespace {

// The name tried when no module claims an entry's own: "test" with the default extension, or
// ".wma" for an "mms://" address.
std::string fallbackName(const std::string& file, const std::string& defaultExtension) {
    if (file.size() >= 6 && equalsNoCase(std::string_view(file).substr(0, 6), "mms://")) return "test.wma";
    std::string name = "test";
    if (defaultExtension.empty() || defaultExtension.front() != '.') name += '.';
    return name + defaultExtension;
}

}  // namespace

PlayerEngine::PlayerEngine(EngineParts parts, EngineSettings settings)
    : parts_(std::move(parts)), settings_(std::move(settings)),
      context_{parts_.chain, parts_.sourceKinds,
               [this](int32_t type, intptr_t argument) { return parts_.requests.handle(type, argument); },
               [this](const std::string& key) { showStatus(key); }, openLock_, playMutex_},
      playlist_(*this, settings_.playlist), volume_(std::min<uint32_t>(settings_.volume, 65535)),
      balance_(std::min<uint32_t>(settings_.balance, 65535)) {
    for (auto& module : parts_.plugins.inputModules()) {
        if (players_.size() == kMaxModules) break;
        players_.push_back(std::make_unique<CPlayer>(*module, context_));
    }
    setCurrentModuleServices(this);
}

PlayerEngine::~PlayerEngine() {
    {
        std::lock_guard<std::recursive_mutex> playback(playbackLock_);
        stopAndClose();
        if (current_ != nullptr && current_->module().loaded()) current_->Unload(true);
        current_ = nullptr;
    }
    parts_.chain.Close(true);
    if (currentModuleServices() == this) setCurrentModuleServices(nullptr);
}

// ---- Choosing and playing ----

CPlayer* PlayerEngine::chooseModule(const std::string& file) {
    for (auto& player : players_)
        if (player->ClaimsFile(file)) return player.get();
    const std::string test = fallbackName(file, settings_.defaultExtension);
    for (auto& player : players_)
        if (player->ClaimsFile(test)) return player.get();
    return nullptr;
}

bool PlayerEngine::claimsFile(const std::string& name) {
    return std::any_of(players_.begin(), players_.end(), [&](const auto& p) { return p->ClaimsFile(name); });
}

void PlayerEngine::stopAndClose() {
    if (current_ == nullptr) return;
    if (current_->playing() || current_->paused()) current_->Stop();
    if (current_->opened()) current_->Close();
}

bool PlayerEngine::PlayEntry(int position) {
    if (playlist_.size() == 0 || players_.empty()) {
        const bool device = !parts_.hasOutputDevice || parts_.hasOutputDevice();
        showStatus(device ? "errors/nofile" : "errors/noaudiodev");
        StopPlayback();
        return false;
    }
    const int index = playlist_.EntryAtPosition(position);
    if (index < 0) return false;
    const PlaylistEntry entry = playlist_.entry(index);

    std::lock_guard<std::recursive_mutex> playback(playbackLock_);
    stopAndClose();
    endPending_ = false;
    CPlayer* chosen = chooseModule(entry.file);
    if (chosen == nullptr) return false;
    if (chosen != current_) {
        if (current_ != nullptr && current_->module().loaded()) current_->Unload(true);
        current_ = nullptr;
        if (!chosen->Load(true)) return false;
    } else if (!chosen->module().loaded() && !chosen->Load(true)) {
        return false;
    }
    current_ = chosen;
    serving_ = chosen;
    playlist_.setCurrentIndex(index);

    if (!current_->Open(entry.file)) {
        // The source's own complaint is already on the status line.
        if (current_->module().loaded())
            parts_.events.statusText(parts_.language.Format(
                "errors/unabletoopen", {std::string_view(entry.file), std::string_view(entry.title),
                                        std::string_view(entry.info)}));
        return false;
    }
    if (!IsPlaying()) playlist_.setLastPlayedIndex(index);
    refreshTrackInfo(false);  // the entry learns its title and length from the module
    return true;
}

bool PlayerEngine::PlayFrom(int position, bool autoplay, bool restart) {
    const int index = playlist_.EntryAtPosition(position);
    if (index < 0) return false;
    const PlaylistEntry entry = playlist_.entry(index);
    if (current_ != nullptr && current_->playing() && entry.file == playingFile_) {
        playlist_.setCurrentIndex(index);
        return true;
    }
    if (!PlayEntry(position)) return false;
    playingFile_ = entry.file;
    if (!nothingPlayedYet_ || autoplay) {
        // Following on without a gap, the previous track is still heard for a while: readers
        // outside learn of the new one when its first block is heard (the song change).
        const bool following = !restart && parts_.chain.IsPlaying();
        if (!current_->Play(restart)) return false;
        nothingPlayedYet_ = false;
        playlist_.setLastPlayedIndex(index);
        applyVolume();
        pendingStart_ = Started{current_->songId(), entry.file, current_->Length(), current_->Title(),
                                current_->StreamText()};
        if (!following) announceStart();
        parts_.events.playState(EngineEvents::kStatePlaying);
    }
    parts_.events.displayChanged();
    return true;
}

bool PlayerEngine::Advance(bool force) {
    const int size = playlist_.size();
    const int at = playlist_.PositionOfEntry(playlist_.currentIndex());
    const int repeat = playlist_.repeatMode();
    int next = at;
    if (force || repeat != 1) {
        next = at + 1;
        if (repeat == 2 && next >= size) next = 0;
    }
    if (next >= 0 && next < size && PlayFrom(next, true, false)) return true;
    parts_.messages.post(thread_message::kStopAndNotify);
    return false;
}

void PlayerEngine::StopPlayback() {
    {
        std::lock_guard<std::recursive_mutex> playback(playbackLock_);
        stopAndClose();
        endPending_ = false;
        pendingStart_.reset();
    }
    parts_.chain.Close(true);
    playingFile_.clear();
    parts_.events.playState(EngineEvents::kStateStopped);
    parts_.events.playbackStopped();
}

bool PlayerEngine::TogglePause() {
    if (current_ == nullptr) return false;
    const bool done = current_->TogglePause();
    if (done) {
        parts_.events.playState(current_->paused() ? EngineEvents::kStatePaused : EngineEvents::kStatePlaying);
        parts_.events.displayChanged();
    }
    if (done && !current_->paused() && endPending_) {
        endPending_ = false;
        parts_.messages.post(thread_message::kEndOfTrack);
    }
    return done;
}

bool PlayerEngine::Seek(int32_t ms) {
    if (current_ == nullptr) return false;
    return current_->Seek(std::max(0, ms), true);
}

int32_t PlayerEngine::Position() {
    return current_ != nullptr ? current_->Position() : -1;
}

int32_t PlayerEngine::Length() {
    return current_ != nullptr ? current_->Length() : -1;
}

bool PlayerEngine::IsPlaying() {
    return current_ != nullptr && current_->IsActive();
}

bool PlayerEngine::IsPaused() {
    return current_ != nullptr && current_->paused();
}

std::string PlayerEngine::playingFile() const {
    return playingFile_;
}

// ---- Volume, balance, amplifier and pitch ----

void PlayerEngine::applyVolume() {
    const uint32_t packed = packVolume(volume_, balance_);
    if (settings_.alwaysUseMasterVolume && parts_.masterVolume != nullptr && parts_.masterVolume->available()) {
        parts_.masterVolume->set(packed);
    } else if (current_ != nullptr) {
        current_->SetVolume(packed);
    } else {
        parts_.chain.SetVolume(packed);
    }
}

void PlayerEngine::SetVolume(uint32_t level, bool announce) {
    volume_ = std::min<uint32_t>(level, 65535);
    applyVolume();
    if (announce) parts_.events.statusText(volumeText(parts_.language, volume_));
}

void PlayerEngine::SetBalance(uint32_t value) {
    balance_ = std::min<uint32_t>(value, 65535);
    applyVolume();
    parts_.events.statusText(balanceText(parts_.language, balance_));
}

void PlayerEngine::SetPitch(double factor) {
    parts_.stages.pitch.setPitch(snapPitch(factor));
}

void PlayerEngine::SetAmplifierKnob(uint32_t knob) {
    const double gain = amplifierGainFromKnob(knob);
    parts_.stages.amplifier.setGain(gain);
    parts_.events.statusText(parts_.language.Format("nav/ampformat", {gain * 100.0}));
}

void PlayerEngine::SetPitchKnob(uint32_t knob, bool fine) {
    const double factor = pitchFactorFromKnob(knob, fine);
    parts_.stages.pitch.setPitch(factor);
    parts_.events.statusText(parts_.language.Format("nav/pitchformat", {factor * 100.0}));
}

// ---- Messages and texts ----

void PlayerEngine::refreshTrackInfo(bool announce) {
    if (current_ == nullptr) return;
    const int index = playlist_.currentIndex();
    if (index < 0) return;
    current_->RefreshInfo(true);
    EntryInfo info;
    info.title = current_->Title();
    info.info = current_->InfoText();
    info.extraInfo = current_->StreamText();
    const int32_t length = current_->Length();
    info.length = length >= 0 ? length / 1000 : -1;
    playlist_.ApplyModuleInfo(index, info);
    if (announce && !pendingStart_) parts_.events.trackInfo(info.title, info.extraInfo);
    parts_.events.displayChanged();
}

bool PlayerEngine::handleMessage(const ThreadMessage& message) {
    switch (message.code) {
        case thread_message::kEndOfTrack:
            // Decoding ended but the rest is still queued behind the pause: the track ends when
            // playing goes on (a Stop now would drop that rest).
            if (current_ != nullptr && current_->paused()) {
                endPending_ = true;
                return true;
            }
            if (current_ != nullptr) current_->Stop();
            Advance(false);
            return true;
        case thread_message::kStopAndNotify:
            // The list ran out: what is still queued plays to its end first.
            {
                std::lock_guard<std::recursive_mutex> playback(playbackLock_);
                stopAndClose();
            }
            parts_.chain.Close(false);
            playingFile_.clear();
            parts_.events.playState(EngineEvents::kStateStopped);
            parts_.events.playbackStopped();
            return true;
        case thread_message::kRefreshTrackInfo:
            refreshTrackInfo(true);
            return true;
        case thread_message::kRefreshSongDisplay:
            if (pendingStart_ && message.wparam == pendingStart_->songId) announceStart();
            parts_.events.displayChanged();
            return true;
        default:
            return false;
    }
}

void PlayerEngine::announceStart() {
    if (!pendingStart_) return;
    const Started started = *pendingStart_;
    pendingStart_.reset();
    parts_.events.trackStarted(started.file, started.lengthMs, 0);
    parts_.events.trackInfo(started.title, started.second);
}

void PlayerEngine::showStatus(const std::string& key) {
    parts_.events.statusText(parts_.language.Text(key));
}

void PlayerEngine::showMessage(const std::string& captionKey, const std::string& textKey) {
    parts_.events.message(parts_.language.Text(captionKey), parts_.language.Text(textKey));
}

// ---- The current module's host functions ----

int32_t PlayerEngine::openOutput(int32_t sampleRate, int32_t channels, int32_t bitsCode) {
    CPlayer* player = serving_;
    if (player == nullptr) return 0;
    const int32_t songId = std::max(1, player->songId());
    return parts_.chain.Open(songId, channels, sampleRate, bitsCode) ? songId : 0;
}

int32_t PlayerEngine::writeOutput(int32_t songId, const WriteBlock& block) {
    return parts_.chain.Write(songId, block);
}

void PlayerEngine::notifyEnd() {
    // A Stop in progress holds the play mutex: the track was ended on purpose, nothing advances.
    if (!playMutex_.try_lock()) return;
    playMutex_.unlock();
    parts_.messages.post(thread_message::kEndOfTrack);
}

intptr_t PlayerEngine::hostRequest(int32_t type, intptr_t argument) {
    return parts_.requests.handle(type, argument);
}

bool PlayerEngine::readSource(void* buffer, uint32_t size, uint32_t& bytesRead) {
    CPlayer* player = serving_;
    StreamSource* source = player != nullptr ? player->source() : nullptr;
    bytesRead = 0;
    if (source == nullptr) return false;
    uint32_t length = size;
    if (!source->Read(buffer, length)) return false;
    bytesRead = std::min(length, size);
    return true;
}

bool PlayerEngine::seekSource(int64_t position, int32_t method, int64_t& previous) {
    CPlayer* player = serving_;
    StreamSource* source = player != nullptr ? player->source() : nullptr;
    if (source == nullptr) return false;
    int64_t offset = position;
    return source->Seek(offset, method, previous);
}

std::string PlayerEngine::sourceName() {
    CPlayer* player = serving_;
    return player != nullptr ? player->sourceName() : std::string();
}

}  // namespace tessura

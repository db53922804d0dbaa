#include "MprisModel.h"

#include <algorithm>
#include <utility>

namespace tessura::remote {

ThreadMessage MprisCommandMessage(const MprisCommand& command) {
    ThreadMessage message;
    message.code = kMprisCommandMessage;
    message.wparam = static_cast<intptr_t>(command.action);
    message.lparam = static_cast<intptr_t>(command.value);
    message.text = command.text;
    return message;
}

std::optional<MprisCommand> MprisCommandFromMessage(const ThreadMessage& message) {
    if (message.code != kMprisCommandMessage) return std::nullopt;
    if (message.wparam < static_cast<intptr_t>(MprisAction::Play) ||
        message.wparam > static_cast<intptr_t>(MprisAction::SetShuffle))
        return std::nullopt;
    MprisCommand command;
    command.action = static_cast<MprisAction>(message.wparam);
    command.value = static_cast<int64_t>(message.lparam);
    command.text = message.text;
    return command;
}

MprisModel::MprisModel(MprisOptions options) : options_(std::move(options)) {}

void MprisModel::setChangeListener(std::function<void()> listener) {
    std::lock_guard<std::mutex> hold(mutex_);
    listener_ = std::move(listener);
}

void MprisModel::update(const std::function<void(MprisSnapshot&)>& change, std::optional<int64_t> seeked) {
    std::function<void()> listener;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        const MprisSnapshot before = state_;
        change(state_);
        state_.canSeek = canSeek(state_);
        unsigned changed = 0;
        if (state_.status != before.status) changed |= kStatus;
        const MprisTrack &a = state_.track, &b = before.track;
        if (a.serial != b.serial || a.entry != b.entry || a.title != b.title || a.artist != b.artist ||
            a.lengthUs != b.lengthUs)
            changed |= kMetadata;
        if (state_.volume != before.volume) changed |= kVolume;
        if (state_.canSeek != before.canSeek) changed |= kCanSeek;
        if (state_.repeatMode != before.repeatMode) changed |= kLoop;
        if (state_.shuffle != before.shuffle) changed |= kShuffle;
        if (changed == 0 && !seeked) return;
        const bool wasIdle = pending_ == 0 && !seeked_;
        pending_ |= changed;
        if (seeked) seeked_ = seeked;
        // One wake-up per batch: the bus takes everything that gathered when it runs.
        if (wasIdle) listener = listener_;
    }
    if (listener) listener();
}

void MprisModel::playState(int engineState) {
    const PlaybackStatus status = PlaybackStatusFromEngineState(engineState);
    update([&](MprisSnapshot& s) {
        s.status = status;
        if (status == PlaybackStatus::Stopped) s.positionUs = 0;
    });
}

void MprisModel::trackStarted(const std::string& entry, int32_t lengthMs, int32_t positionMs) {
    update([&](MprisSnapshot& s) {
        s.track.serial = nextSerial_++;
        s.track.entry = entry;
        s.track.title = DisplayNameFromEntry(entry);
        s.track.artist.clear();
        s.track.lengthUs = lengthMs > 0 ? MicrosFromMillis(lengthMs) : 0;
        s.positionUs = MicrosFromMillis(std::max(positionMs, 0));
    });
}

void MprisModel::trackInfo(const std::string& title, const std::string& second) {
    update([&](MprisSnapshot& s) {
        if (s.track.serial == 0) return;
        s.track.title = title.empty() ? DisplayNameFromEntry(s.track.entry) : title;
        s.track.artist = second;
    });
}

void MprisModel::volumeChanged(uint32_t level) {
    const double fraction = FractionFromVolume(level);
    update([&](MprisSnapshot& s) { s.volume = fraction; });
}

void MprisModel::positionChanged(int32_t ms) {
    // Not announced: controllers read the position when they need it.
    std::lock_guard<std::mutex> hold(mutex_);
    state_.positionUs = MicrosFromMillis(std::max(ms, 0));
}

void MprisModel::playlistModes(int repeatMode, bool shuffle) {
    const int mode = repeatMode >= 0 && repeatMode <= 2 ? repeatMode : 0;
    update([&](MprisSnapshot& s) {
        s.repeatMode = mode;
        s.shuffle = shuffle;
    });
}

MprisSnapshot MprisModel::snapshot() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return state_;
}

MprisChanges MprisModel::takeChanges() {
    std::lock_guard<std::mutex> hold(mutex_);
    MprisChanges changes;
    if (pending_ & kStatus) changes.properties.push_back("PlaybackStatus");
    if (pending_ & kMetadata) changes.properties.push_back("Metadata");
    if (pending_ & kVolume) changes.properties.push_back("Volume");
    if (pending_ & kCanSeek) changes.properties.push_back("CanSeek");
    if (pending_ & kLoop) changes.properties.push_back("LoopStatus");
    if (pending_ & kShuffle) changes.properties.push_back("Shuffle");
    changes.seekedUs = seeked_;
    pending_ = 0;
    seeked_.reset();
    return changes;
}

void MprisModel::seekTo(int64_t us, MprisTarget& target) {
    target.seekTo(MillisFromMicros(us));
    const int32_t now = target.positionMs();
    const int64_t position = MicrosFromMillis(std::max(now, 0));
    update([&](MprisSnapshot& s) { s.positionUs = position; }, position);
}

void MprisModel::run(const MprisCommand& command, MprisTarget& target) {
    const MprisSnapshot s = snapshot();
    switch (command.action) {
        case MprisAction::Play:
            if (s.status != PlaybackStatus::Playing) target.play();
            break;
        case MprisAction::Pause:
            if (s.status == PlaybackStatus::Playing) target.togglePause();
            break;
        case MprisAction::PlayPause:
            if (s.status == PlaybackStatus::Stopped)
                target.play();
            else
                target.togglePause();
            break;
        case MprisAction::Stop:
            if (s.status != PlaybackStatus::Stopped) target.stop();
            break;
        case MprisAction::Next:
            target.next();
            break;
        case MprisAction::Previous:
            target.previous();
            break;
        case MprisAction::SeekBy: {
            if (!s.canSeek) break;
            const int64_t from = MicrosFromMillis(std::max(target.positionMs(), 0));
            // Saturating: an offset near the type's limits must not wrap.
            const int64_t offset = std::clamp<int64_t>(command.value, -s.track.lengthUs - from, s.track.lengthUs);
            const int64_t to = from + offset;
            if (to > s.track.lengthUs)
                target.next();  // past the end: as if the track had ended
            else
                seekTo(std::max<int64_t>(to, 0), target);
            break;
        }
        case MprisAction::SetPosition:
            // A position for another track than the current one is stale: ignored.
            if (!s.canSeek || command.text != s.track.objectPath()) break;
            if (command.value < 0 || command.value > s.track.lengthUs) break;
            seekTo(command.value, target);
            break;
        case MprisAction::OpenUri:
            if (!command.text.empty()) target.openUri(command.text);
            break;
        case MprisAction::Raise:
            if (options_.canRaise) target.raise();
            break;
        case MprisAction::Quit:
            if (options_.canQuit) target.quit();
            break;
        case MprisAction::SetVolume:
            target.setVolume(static_cast<uint32_t>(std::clamp<int64_t>(command.value, 0, kMaxVolume)));
            volumeChanged(target.volume());
            break;
        case MprisAction::SetLoopStatus: {
            if (command.value < 0 || command.value > 2) break;
            const int mode = static_cast<int>(command.value);
            target.setRepeatMode(mode);
            // Taken as set; the next tick's playlistModes() tells if the player differs.
            playlistModes(mode, s.shuffle);
            break;
        }
        case MprisAction::SetShuffle:
            target.setShuffle(command.value != 0);
            playlistModes(s.repeatMode, command.value != 0);
            break;
    }
}

}  // namespace tessura::remote

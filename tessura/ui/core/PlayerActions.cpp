#include "PlayerActions.h"

#include "CheckedFormat.h"
#include "ThreadMessages.h"

#include <algorithm>

namespace tessura::ui {

std::string VolumeStatusText(const std::string& format, uint32_t level) {
    const FormatArg args[] = {static_cast<long long>((uint64_t{level} * 100 + 32767) / 65535)};
    return formatChecked(format, args).value_or(std::string());
}

void PlayerActions::status(const std::string& key) {
    player_.target().showStatus(player_.text(key));
}

void PlayerActions::setVolume(int64_t level) {
    const auto clamped = static_cast<uint32_t>(std::clamp<int64_t>(level, 0, 65535));
    CommandTarget& target = player_.target();
    target.setVolume(clamped);
    target.showStatus(VolumeStatusText(player_.text("main/volume"), clamped));
}

void PlayerActions::previous() {
    CommandTarget& target = player_.target();
    // More than a second into a track of known length: back to its start.
    if (player_.playing() && target.position() > 1000 && player_.lengthMs() > 0) target.seek(0);
    else player_.runCommands("-playprev");
    status("nav/previoustrack");
}

void PlayerActions::click(Control control) {
    CommandTarget& target = player_.target();
    switch (control) {
        case Control::Play:
            target.play();
            status("nav/play");
            break;
        case Control::Pause:
            target.togglePause();
            status("nav/pause");
            break;
        case Control::Stop:
            target.stop();
            status("nav/stop");
            break;
        case Control::Previous: previous(); break;
        case Control::Next:
            player_.runCommands("-playnext");
            status("nav/nexttrack");
            break;
        case Control::Eject:
            window_.filesDialog(false);
            status("nav/openfiles");
            break;
        case Control::Repeat:
            target.playlist().SetRepeatMode(CommandDispatcher::nextRepeatMode(target.playlist().repeatMode()));
            status("nav/repeatmode");
            break;
        case Control::Shuffle:
            target.playlist().ToggleShuffle();
            status(target.playlist().shuffle() ? "main/shuffleon" : "main/shuffleoff");
            break;
        case Control::Equaliser:
            player_.setEqualiserOn(!player_.equaliserOn());  // announces itself
            break;
        case Control::JumpToNavigator:
            window_.switchMode(2, 255);
            break;
    }
}

void PlayerActions::run(const KeyCommand& command) {
    CommandTarget& target = player_.target();
    switch (command.action) {
        case KeyAction::None: break;
        case KeyAction::SwitchMode: window_.switchMode(command.a, command.b); break;
        case KeyAction::TabMode: window_.tabMode(); break;
        case KeyAction::Previous: previous(); break;
        case KeyAction::Next: click(Control::Next); break;
        case KeyAction::VolumeStep: setVolume(int64_t{target.volume()} + command.a); break;
        case KeyAction::SetVolume: setVolume(command.a); break;
        case KeyAction::AddFilesDialog: window_.filesDialog(true); break;
        case KeyAction::OpenFilesDialog: window_.filesDialog(false); break;
        case KeyAction::TogglePause: click(Control::Pause); break;
        case KeyAction::RemoveSelected: window_.removeSelected(); break;
        case KeyAction::ExtendedInfo: target.post(thread_message::kExtendedInfo); break;
        case KeyAction::JumpDialog: window_.jumpDialog(); break;
        case KeyAction::ToggleEqualiser: click(Control::Equaliser); break;
        case KeyAction::NextRepeatMode: click(Control::Repeat); break;
        case KeyAction::ToggleShuffle: click(Control::Shuffle); break;
        case KeyAction::Stop: click(Control::Stop); break;
        case KeyAction::PlayPauseOrStop:
            if (target.paused()) click(Control::Pause);
            else if (player_.playing()) click(Control::Stop);
            else click(Control::Play);
            break;
        case KeyAction::PlayOrPause:
            if (player_.playing()) click(Control::Pause);
            else click(Control::Play);
            break;
        case KeyAction::PreviousVis: target.stepVisualisation(-1); break;
        case KeyAction::NextVis: target.stepVisualisation(1); break;
        case KeyAction::Seek:
            if (player_.playing()) {
                target.seek(std::max<int32_t>(0, target.position() + command.a));
                status("main/scanto");
            }
            break;
        case KeyAction::AlwaysOnTop:
            status(window_.toggleAlwaysOnTop() ? "main/alwaysontop" : "main/notalwaysontop");
            break;
        case KeyAction::ClearPlaylist: player_.runCommands("-clearplaylist"); break;
        case KeyAction::ToggleAnnounce:
            player_.setAnnouncing(!player_.announcing());
            status(player_.announcing() ? "main/announceon" : "main/announceoff");
            break;
        case KeyAction::LockMovement:
            status(window_.toggleLockMovement() ? "main/movementlocked" : "main/movementnotlocked");
            break;
        case KeyAction::LoadDefaultSkin: window_.loadDefaultSkin(); break;
        case KeyAction::PlaylistEditor: window_.playlistEditor(); break;
        case KeyAction::SettingsScreen: window_.openSettings(); break;
        case KeyAction::AboutBox: window_.openAbout(); break;
    }
}

}  // namespace tessura::ui

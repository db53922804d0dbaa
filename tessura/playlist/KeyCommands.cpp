#include "KeyCommands.h"

namespace tessura {

namespace {

KeyCommand mode(int a, int b) {
    return {KeyAction::SwitchMode, a, b};
}

KeyCommand plain(int key) {
    switch (key) {
        case key::kEscape: return mode(2, 255);
        case key::kLeft:
        case 'Z': return {KeyAction::Previous};
        case key::kRight:
        case 'B': return {KeyAction::Next};
        case key::kUp: return {KeyAction::VolumeStep, 2048};
        case key::kDown: return {KeyAction::VolumeStep, -2048};
        case 'A': return {KeyAction::AddFilesDialog};
        case 'L':
        case 'O': return {KeyAction::OpenFilesDialog};
        case 'C': return {KeyAction::TogglePause};
        case 'D': return {KeyAction::RemoveSelected};
        case 'E': return mode(2, 5);
        case 'P': return mode(2, 1);
        case 'I': return {KeyAction::ExtendedInfo};
        case 'J': return {KeyAction::JumpDialog};
        case 'Q': return {KeyAction::ToggleEqualiser};
        case 'R': return {KeyAction::NextRepeatMode};
        case 'S': return {KeyAction::ToggleShuffle};
        case 'V': return {KeyAction::Stop};
        case 'W': return {KeyAction::PlaylistEditor};
        case 'X': return {KeyAction::PlayPauseOrStop};
        case key::kComma: return {KeyAction::PreviousVis};
        case key::kPeriod: return {KeyAction::NextVis};
        case key::kBackquote: return {KeyAction::SetVolume, 0};
        case '0': return {KeyAction::SetVolume, 65535};
        case key::kF1: return {KeyAction::AboutBox};
        default: break;
    }
    // '1'-'9': about the digit x 6554, by the formula the key codes were scaled with.
    if (key >= '1' && key <= '9') return {KeyAction::SetVolume, (key * 65541 - 3145968) / 10};
    return {};
}

KeyCommand withCtrl(int key) {
    switch (key) {
        case key::kLeft: return {KeyAction::Seek, -5000};
        case key::kRight: return {KeyAction::Seek, 5000};
        case 'A':
        case 'T': return {KeyAction::AlwaysOnTop};
        case 'D': return {KeyAction::ClearPlaylist};
        case 'E': return mode(2, 5);
        case 'F': return mode(5, 0);
        case 'I': return {KeyAction::ToggleAnnounce};
        case 'K': return {KeyAction::SettingsScreen};  // Ctrl+P, the usual one, is a mode switch here
        case 'L': return {KeyAction::LockMovement};
        case 'N': return mode(2, 255);
        case 'O': return mode(2, 2);
        case 'P': return mode(2, 1);
        case 'R': return mode(2, 4);
        case 'S': return mode(2, 6);
        case key::kComma: return mode(3, 0);
        case key::kTab: return {KeyAction::TabMode};
        case 'Z': return {KeyAction::LoadDefaultSkin};
        default: return {};
    }
}

}  // namespace

KeyCommand commandForKey(int key, bool ctrl) {
    if (key >= 'a' && key <= 'z') key -= 'a' - 'A';
    return ctrl ? withCtrl(key) : plain(key);
}

KeyCommand commandForMediaKey(MediaKey key) {
    switch (key) {
        case MediaKey::NextTrack: return {KeyAction::Next};
        case MediaKey::PreviousTrack: return {KeyAction::Previous};
        case MediaKey::Stop: return {KeyAction::Stop};
        case MediaKey::PlayPause: return {KeyAction::PlayOrPause};
        case MediaKey::MediaSelect: return {KeyAction::OpenFilesDialog};
    }
    return {};
}

}  // namespace tessura

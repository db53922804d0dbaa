#pragma once
// What each key and media key of the main window does, as a table the window looks keys up in.
// Keys are the platform's virtual-key codes (letters and digits are their upper-case ASCII), so
// the view layer maps its own key events once and the table stays testable on its own.
#include <cstdint>

namespace tessura {

namespace key {
inline constexpr int kTab = 0x09, kEscape = 0x1B, kLeft = 0x25, kUp = 0x26, kRight = 0x27, kDown = 0x28;
inline constexpr int kComma = 0xBC, kPeriod = 0xBE, kBackquote = 0xC0;
// F1 sits above the byte-wide codes: its usual code, 0x70, is a lower-case letter here.
inline constexpr int kF1 = 0x170;
}  // namespace key

enum class KeyAction {
    None,
    SwitchMode,       // a = mode, b = page (0x8217)
    TabMode,          // a mode switch that depends on the current mode
    Previous,         // restart the track when more than 1 s played and its length is known
    Next,
    VolumeStep,       // a = step (±2048), clamped
    SetVolume,        // a = level
    AddFilesDialog,
    OpenFilesDialog,
    TogglePause,
    RemoveSelected,   // the entry selected in the editor
    ExtendedInfo,     // 0x822A
    JumpDialog,
    ToggleEqualiser,
    NextRepeatMode,
    ToggleShuffle,
    Stop,
    PlayPauseOrStop,  // X: play when stopped, resume when paused, stop when playing
    PlayOrPause,      // media play/pause: pause or resume when playing, else play
    PreviousVis,
    NextVis,
    Seek,             // a = step in ms (±5000), not below 0, shows "main/scanto"
    AlwaysOnTop,
    ClearPlaylist,
    ToggleAnnounce,
    LockMovement,
    LoadDefaultSkin,
    PlaylistEditor,   // open the playlist editor window
    SettingsScreen,   // the settings screen
    AboutBox,
};

struct KeyCommand {
    KeyAction action = KeyAction::None;
    int a = 0, b = 0;
};

KeyCommand commandForKey(int key, bool ctrl);

enum class MediaKey { NextTrack, PreviousTrack, Stop, PlayPause, MediaSelect };
KeyCommand commandForMediaKey(MediaKey key);

}  // namespace tessura

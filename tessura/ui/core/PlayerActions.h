#pragma once
// What a key, a media key or a click on one of the window's controls does. Both end here, so
// every control is reachable from the keyboard and each action is tested without a window.
// The player side and the window side are interfaces.
#include "CommandLine.h"
#include "KeyCommands.h"

#include <cstdint>
#include <string>

namespace tessura::ui {

// The player as the window drives it.
class WindowPlayer {
  public:
    virtual ~WindowPlayer() = default;
    virtual CommandTarget& target() = 0;
    // Command-line words ("-playnext"), run by the command dispatcher.
    virtual void runCommands(const std::string& words) = 0;
    virtual int32_t lengthMs() = 0;  // -1 unknown
    virtual bool playing() = 0;
    virtual bool equaliserOn() = 0;
    // Switches the equaliser and announces it ("main/eqenabled", "main/eqdisabled").
    virtual void setEqualiserOn(bool on) = 0;
    // The equaliser model: band 0 the lowest, 1.0 flat; presets 0-5 built in, 6 Custom, 100-109
    // the user's. Setting a band makes the preset Custom.
    virtual double bandGain(int band) = 0;
    virtual void setBandGain(int band, double value) = 0;
    virtual int equaliserPreset() = 0;
    virtual void selectPreset(int id) = 0;
    virtual std::string presetName(int id) = 0;  // "" for an id that names no preset
    virtual bool saveUserPreset(int id, const std::string& name) = 0;
    virtual uint32_t balance() = 0;
    virtual std::string balanceText() = 0;  // as the status line shows it
    virtual void setBalance(uint32_t balance) = 0;
    virtual void setAmplifierKnob(uint32_t knob) = 0;
    virtual void setPitchKnob(uint32_t knob) = 0;
    virtual bool announcing() = 0;
    virtual void setAnnouncing(bool on) = 0;
    virtual std::string text(const std::string& key) = 0;  // the language's text
};

// What only the window can do.
class WindowActions {
  public:
    virtual ~WindowActions() = default;
    virtual void switchMode(int mode, int page) = 0;  // posted as 0x8217
    virtual void tabMode() = 0;
    virtual void filesDialog(bool add) = 0;
    virtual void jumpDialog() = 0;
    virtual void removeSelected() = 0;
    virtual bool toggleAlwaysOnTop() = 0;  // the new state
    virtual bool toggleLockMovement() = 0;
    virtual void loadDefaultSkin() = 0;
    virtual void playlistEditor() {}
    virtual void openSettings() {}
    virtual void openAbout() {}
};

// The controls of the skins that are not keys of their own.
enum class Control { Play, Pause, Stop, Previous, Next, Eject, Repeat, Shuffle, Equaliser, JumpToNavigator };

class PlayerActions {
  public:
    PlayerActions(WindowPlayer& player, WindowActions& window) : player_(player), window_(window) {}

    void run(const KeyCommand& command);
    void click(Control control);
    // Volume knobs and keys: the level clamped to 0-65535, announced on the status line.
    void setVolume(int64_t level);

  private:
    void status(const std::string& key);
    void previous();

    WindowPlayer& player_;
    WindowActions& window_;
};

// "main/volume" with the level in percent, from the language's format (checked).
std::string VolumeStatusText(const std::string& format, uint32_t level);

}  // namespace tessura::ui

#pragma once
// What happens once per process start, in order: the colour-depth warning, the settings
// (every start begins unmuted), the encoder switch, the single-instance hand-over, the file
// type check and the player window. Everything it touches is an interface, so the order and
// the choices are tested without a display.
#include "DialogService.h"
#include "InstanceChannel.h"
#include "SettingsStore.h"

#include <string>
#include <vector>

namespace veloraplay {

inline constexpr char kLowColourText[] =
    "This program is intended for use with at least a High Color display.";

class Display {
  public:
    virtual ~Display() = default;
    virtual int colourDepth() const = 0;  // bits per pixel of the screen
};

class InstanceGate {
  public:
    virtual ~InstanceGate() = default;
    virtual InstanceChannel::Outcome claimOrHandOver(const std::string& commandLine) = 0;
    virtual std::string error() const = 0;
};

class StartupRegistrar {
  public:
    virtual ~StartupRegistrar() = default;
    virtual void check() = 0;
};

class WindowFactory {
  public:
    virtual ~WindowFactory() = default;
    // Each runs its window until it closes and returns the process's exit status.
    virtual int runPlayer(const std::string& commandLine) = 0;
    virtual int runEncoder(int skinType, const std::string& inputFile) = 0;
};

struct StartupParts {
    Display& display;
    SettingsStore& settings;
    DialogService& dialogs;
    InstanceGate& instance;
    StartupRegistrar& registrar;
    WindowFactory& windows;
    std::FILE* log = stderr;  // where failures that have no dialog of their own are reported
};

// args: the program's arguments without argv[0]. Returns the exit status.
int runStartup(const StartupParts& parts, const std::vector<std::string>& args);

}  // namespace veloraplay

#include "MessageQueue.h"

namespace veloraplay {

// The instance gate of a real start: later starts' requests become messages to the player
// window (kActivate, then kCopyData with the command line).
class QueueingInstanceGate final : public InstanceGate {
  public:
    QueueingInstanceGate(InstanceChannel& channel, MessageQueue& queue)
        : channel_(channel), queue_(queue) {}
    InstanceChannel::Outcome claimOrHandOver(const std::string& commandLine) override;
    std::string error() const override { return channel_.error(); }

  private:
    InstanceChannel& channel_;
    MessageQueue& queue_;
};

}  // namespace veloraplay

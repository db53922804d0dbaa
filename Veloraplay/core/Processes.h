#pragma once
// Starting other programs: a viewer for a help page or a web address (not waited for), and
// helper tools whose end the caller waits for.
#include <string>
#include <vector>

namespace veloraplay {

class Launcher {
  public:
    virtual ~Launcher() = default;
    // Opens a file or an address in the user's viewer. Returns at once; false when no viewer
    // could be started.
    virtual bool open(const std::string& target) = 0;
};

class CommandRunner {
  public:
    virtual ~CommandRunner() = default;
    // Runs argv[0] (looked up in PATH) and waits for it. False when it is not there or fails.
    virtual bool run(const std::vector<std::string>& argv) = 0;
};

// xdg-open for open(); posix_spawnp for both.
class SystemLauncher final : public Launcher, public CommandRunner {
  public:
    bool open(const std::string& target) override;
    bool run(const std::vector<std::string>& argv) override;
};

}  // namespace veloraplay

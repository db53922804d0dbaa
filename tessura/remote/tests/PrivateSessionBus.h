#pragma once
// A session bus of the test's own: a dbus-daemon listening in a fresh temporary folder, ended
// with the object. The user's session bus is never reached: everything is given this address.
#include <string>
#include <sys/types.h>

namespace tessura::remote {

class PrivateSessionBus {
  public:
    PrivateSessionBus();  // empty address() when the daemon could not be started
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    const std::string& address() const { return address_; }
    const std::string& failure() const { return failure_; }
    void end();  // stops the daemon now

  private:
    std::string folder_;
    std::string address_;
    std::string failure_;
    pid_t daemon_ = -1;
};

// Runs a shell command line and gives its standard output and error; `status` gets the exit
// status.
std::string RunCommand(const std::string& command, int& status);

}  // namespace tessura::remote

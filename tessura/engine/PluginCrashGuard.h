#pragma once
// A crash inside a plug-in cannot be caught safely, but it can be remembered: while the host
// calls a plug-in it names it here; a handler for SIGSEGV, SIGBUS, SIGILL and SIGFPE writes that
// name to a crash file opened in advance and lets the signal go on. The next start moves the
// name into the list of crashed plug-ins, which discovery skips.
#include <set>
#include <string>

namespace tessura {

class PluginCrashGuard {
  public:
    // Opens the crash file and installs the handlers (once per process; a later call only
    // changes the file).
    static void install(const std::string& crashFile);
    // After a crash: the plug-in named in `crashFile` is added to `listFile` (one path a line)
    // and the crash file emptied. Returns every listed plug-in.
    static std::set<std::string> collectCrashed(const std::string& crashFile,
                                                const std::string& listFile);
    // Start-up in one call: the crash of the last run collected, the guard armed for this one,
    // both files ("plugin.crash", "crashed-plugins") in `settingsFolder`. Returns what to skip.
    static std::set<std::string> startRun(const std::string& settingsFolder);
};

// Names the plug-in the current thread is calling, for as long as the object lives. The last
// name set by any thread stays as the fallback for crashes on a plug-in's own threads.
class PluginCall {
  public:
    explicit PluginCall(const std::string& plugin);
    ~PluginCall();
    PluginCall(const PluginCall&) = delete;
    PluginCall& operator=(const PluginCall&) = delete;

  private:
    const char* previous_;
};

}  // namespace tessura

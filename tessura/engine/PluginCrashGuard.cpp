#include "PluginCrashGuard.h"

#include "AtomicFile.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <sstream>

namespace tessura {

namespace {

// Names handed out are never freed, so a handler never reads released memory.
const char* keepName(const std::string& name) {
    static std::mutex mutex;
    static std::set<std::string> names;
    std::lock_guard<std::mutex> hold(mutex);
    return names.insert(name).first->c_str();
}

thread_local const char* tCurrentPlugin = nullptr;
std::atomic<const char*> gLastPlugin{nullptr};
std::atomic<int> gCrashFd{-1};
constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
struct sigaction gPrevious[std::size(kSignals)];

void onFatalSignal(int signal) {
    const char* name = tCurrentPlugin != nullptr ? tCurrentPlugin : gLastPlugin.load();
    const int fd = gCrashFd.load();
    if (name != nullptr && fd >= 0) {
        (void)!::ftruncate(fd, 0);
        (void)!::pwrite(fd, name, std::strlen(name), 0);
        (void)!::fsync(fd);
    }
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        if (kSignals[i] == signal) ::sigaction(signal, &gPrevious[i], nullptr);
    ::raise(signal);
}

}  // namespace

void PluginCrashGuard::install(const std::string& crashFile) {
    const int fd = ::open(crashFile.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const int old = gCrashFd.exchange(fd);
    if (old >= 0) {
        ::close(old);
        return;
    }
    struct sigaction action {};
    action.sa_handler = &onFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_NODEFER;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, &gPrevious[i]);
}

std::set<std::string> PluginCrashGuard::collectCrashed(const std::string& crashFile,
                                                       const std::string& listFile) {
    std::set<std::string> crashed;
    std::string bytes;
    if (readWholeFile(listFile, bytes)) {
        std::istringstream lines(bytes);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty()) crashed.insert(line);
    }
    std::string name;
    if (readWholeFile(crashFile, name) && !name.empty()) {
        if (crashed.insert(name).second) {
            std::string list;
            for (const std::string& entry : crashed) list += entry + "\n";
            writeFileAtomically(listFile, list);
        }
        (void)!::truncate(crashFile.c_str(), 0);
    }
    return crashed;
}

std::set<std::string> PluginCrashGuard::startRun(const std::string& settingsFolder) {
    makeFolders(settingsFolder);
    const std::string crashFile = settingsFolder + "/plugin.crash";
    std::set<std::string> crashed = collectCrashed(crashFile, settingsFolder + "/crashed-plugins");
    install(crashFile);
    return crashed;
}

PluginCall::PluginCall(const std::string& plugin) : previous_(tCurrentPlugin) {
    const char* name = keepName(plugin);
    tCurrentPlugin = name;
    gLastPlugin = name;
}

PluginCall::~PluginCall() {
    tCurrentPlugin = previous_;
}

}  // namespace tessura

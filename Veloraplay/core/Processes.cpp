#include "Processes.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <thread>

extern char** environ;

namespace veloraplay {
namespace {

bool spawn(const std::vector<std::string>& argv, pid_t& pid) {
    if (argv.empty()) return false;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // A helper never reads our input.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", 0, 0);
    const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

}  // namespace

bool SystemLauncher::open(const std::string& target) {
    pid_t pid = 0;
    if (!spawn({"xdg-open", target}, pid)) return false;
    // Reaped in the background so that the caller never waits for the viewer.
    std::thread([pid] { waitFor(pid); }).detach();
    return true;
}

bool SystemLauncher::run(const std::vector<std::string>& argv) {
    pid_t pid = 0;
    if (!spawn(argv, pid)) return false;
    const int status = waitFor(pid);
    return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace veloraplay

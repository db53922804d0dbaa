#include "PrivateSessionBus.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tessura::remote {

PrivateSessionBus::PrivateSessionBus() {
    char folder[] = "/tmp/tessura-bus-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        failure_ = "no temporary folder";
        return;
    }
    folder_ = folder;
    int out[2];
    if (pipe(out) != 0) {
        failure_ = "no pipe";
        return;
    }
    const std::string listen = "--address=unix:path=" + folder_ + "/bus";
    const char* argv[] = {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1",
                          listen.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    // Its complaints about the limits of a test machine are no part of the test's output.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawnp(&daemon_, "dbus-daemon", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        daemon_ = -1;
        close(out[0]);
        failure_ = std::string("dbus-daemon cannot be started (scripts/setup.sh installs it): ") + std::strerror(spawned);
        return;
    }
    // The daemon prints its address once it listens; a guard against one that never does.
    std::string line;
    for (;;) {
        pollfd readable{out[0], POLLIN, 0};
        if (poll(&readable, 1, 5000) <= 0) break;
        char c = 0;
        if (read(out[0], &c, 1) != 1 || c == '\n') break;
        line += c;
    }
    close(out[0]);
    if (line.empty()) {
        failure_ = "dbus-daemon gave no address";
        end();
        return;
    }
    address_ = line;
}

void PrivateSessionBus::end() {
    if (daemon_ > 0) {
        kill(daemon_, SIGTERM);
        int status = 0;
        waitpid(daemon_, &status, 0);
        daemon_ = -1;
    }
}

PrivateSessionBus::~PrivateSessionBus() {
    end();
    if (!folder_.empty()) {
        unlink((folder_ + "/bus").c_str());
        rmdir(folder_.c_str());
    }
}

std::string RunCommand(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return output;
    }
    char buffer[4096];
    std::size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int result = pclose(pipe);
    status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    return output;
}

}  // namespace tessura::remote

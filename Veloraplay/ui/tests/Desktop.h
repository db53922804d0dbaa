#pragma once
// The real program started as a person's desktop would start it: temporary XDG folders,
// scripted dialogs, the offscreen platform unless a display is given, and the event log that
// shows what the player received and did.
#include "AtomicFile.h"
#include "TempFolder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <chrono>
#include <csignal>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace veloraplay::test {

using Clock = std::chrono::steady_clock;

// How long to wait for something that must happen; only a hang ever reaches it.
constexpr auto kPatience = std::chrono::seconds(60);

struct Event {
    std::string pid, what, detail;
};

class Desktop {
  public:
    Desktop() {
        for (const char* sub : {"config", "data", "run"}) ::mkdir((dir_ / sub).c_str(), 0700);
        dialogs("");
    }

    std::string path(const std::string& name) const { return dir_ / name; }
    void dialogs(const std::string& script) { writeFileAtomically(path("dialogs"), script, 0600); }

    pid_t start(const std::vector<std::string>& args, const std::string& stderrName = "stderr",
                const std::vector<std::string>& extraEnv = {}) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            if (v.rfind("XDG_", 0) == 0 || v.rfind("QT_QPA_", 0) == 0 ||
                v.rfind("VELORAPLAY_", 0) == 0 || v.rfind("DISPLAY=", 0) == 0)
                continue;
            env.push_back(v);
        }
        env.push_back("XDG_CONFIG_HOME=" + path("config"));
        env.push_back("XDG_DATA_HOME=" + path("data"));
        env.push_back("XDG_DATA_DIRS=" + path("nowhere"));
        env.push_back("XDG_RUNTIME_DIR=" + path("run"));
        // A test that gives a display runs on it; the others draw offscreen.
        bool display = false;
        for (const std::string& v : extraEnv) display = display || v.rfind("DISPLAY=", 0) == 0;
        if (!display) env.push_back("QT_QPA_PLATFORM=offscreen");
        env.push_back("VELORAPLAY_DIALOGS=" + path("dialogs"));
        env.push_back("VELORAPLAY_EVENT_LOG=" + path("events"));
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        // No sound card in a test: nothing is heard unless a test names a backend.
        bool audio = false;
        for (const std::string& v : extraEnv) audio = audio || v.rfind("VELORAPLAY_AUDIO=", 0) == 0;
        if (!audio) env.push_back("VELORAPLAY_AUDIO=null");
        std::vector<std::string> argv{VELORAPLAY_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> a, e;
        for (auto& s : argv) a.push_back(s.data());
        a.push_back(nullptr);
        for (auto& s : env) e.push_back(s.data());
        e.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string err = path(stderrName);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0600);
        pid_t pid = 0;
        EXPECT_EQ(::posix_spawn(&pid, a[0], &actions, nullptr, a.data(), e.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    std::vector<Event> events() const {
        std::string text;
        readWholeFile(path("events"), text);
        std::vector<Event> out;
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            Event ev;
            std::istringstream fields(line);
            std::getline(fields, ev.pid, '\t');
            std::getline(fields, ev.what, '\t');
            std::getline(fields, ev.detail);
            out.push_back(ev);
        }
        return out;
    }

    std::vector<std::string> eventsOf(pid_t pid, const std::string& what) const {
        std::vector<std::string> details;
        for (const Event& ev : events()) {
            if (ev.pid == std::to_string(pid) && ev.what == what) details.push_back(ev.detail);
        }
        return details;
    }

    // Waits until `pid` logged `what` (with `detail`, when given) or ended.
    bool waitFor(pid_t pid, const std::string& what, const std::string& detail = "\x01") const {
        const auto end = Clock::now() + kPatience;
        while (Clock::now() < end) {
            for (const std::string& d : eventsOf(pid, what)) {
                if (detail == "\x01" || d == detail) return true;
            }
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::string read(const std::string& name) const {
        std::string text;
        readWholeFile(path(name), text);
        return text;
    }

  private:
    TempFolder dir_;
};

// The exit status, or -1 when it did not end in time (then it is killed).
inline int waitExit(pid_t pid, std::chrono::steady_clock::duration limit = kPatience) {
    const auto end = Clock::now() + limit;
    int status = 0;
    while (Clock::now() < end) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

}  // namespace veloraplay::test

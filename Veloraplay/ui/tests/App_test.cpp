// The real program, as a person's desktop would start it: temporary XDG folders, the
// offscreen platform, scripted dialogs, and the event log to see what the player received.
#include "AtomicFile.h"
#include "PlayerSettings.h"
#include "SettingsStore.h"
#include "TempFolder.h"
#include "ToneFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <thread>

extern char** environ;

namespace veloraplay {
namespace {

using Clock = std::chrono::steady_clock;

#ifdef VELORAPLAY_SANITIZED
constexpr auto kHandOverLimit = std::chrono::seconds(10);  // instrumented start-up is slower
#else
constexpr auto kHandOverLimit = std::chrono::seconds(2);
#endif
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
        env.push_back("QT_QPA_PLATFORM=offscreen");
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
    test::TempFolder dir_;
};

// The exit status, or -1 when it did not end in time (then it is killed).
int waitExit(pid_t pid, std::chrono::steady_clock::duration limit = kPatience) {
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

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        }
        ::closedir(d);
    }
    return names;
}

TEST(App, OnePlayerTakesLaterStartsAndSavesItsSettingsOnSigterm) {
    Desktop desktop;
    const std::string first = desktop.path("a.mp3");
    const pid_t player = desktop.start({first});
    ASSERT_TRUE(desktop.waitFor(player, "open", first)) << desktop.read("stderr");
    struct stat st {};
    ASSERT_EQ(::lstat(desktop.path("run/veloraplay.sock").c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    const std::string second = desktop.path("dir with blanks/b.mp3");
    const auto begin = Clock::now();
    const pid_t later = desktop.start({second});
    EXPECT_EQ(waitExit(later, kHandOverLimit), 0) << "the later start hands over and ends";
    EXPECT_LT(Clock::now() - begin, kHandOverLimit);
    ASSERT_TRUE(desktop.waitFor(player, "handover", second));
    EXPECT_EQ(desktop.eventsOf(player, "handover"), std::vector<std::string>{second});
    EXPECT_TRUE(desktop.eventsOf(later, "player").empty());

    // An empty start only brings the player to the front.
    EXPECT_EQ(waitExit(desktop.start({}), kHandOverLimit), 0);
    ASSERT_TRUE(desktop.waitFor(player, "activate"));
    EXPECT_EQ(desktop.eventsOf(player, "handover").size(), 1u);

    // A player killed outright leaves its socket behind; the next start takes it over.
    ::kill(player, SIGKILL);
    waitExit(player);
    const pid_t next = desktop.start({"c.mp3"});
    ASSERT_TRUE(desktop.waitFor(next, "open", "c.mp3")) << desktop.read("stderr");
    EXPECT_EQ(waitExit(desktop.start({"d.mp3"}), kHandOverLimit), 0);
    ASSERT_TRUE(desktop.waitFor(next, "handover", "d.mp3"));

    ::kill(next, SIGTERM);
    EXPECT_EQ(waitExit(next), 0);
    EXPECT_EQ(namesIn(desktop.path("config/Nordvale")), std::vector<std::string>{"veloraplay.ini"});
    EXPECT_EQ(test::modeOf(desktop.path("config/Nordvale/veloraplay.ini")), 0600u);
    SettingsStore saved(desktop.path("config/Nordvale/veloraplay.ini"));
    ASSERT_TRUE(saved.load());
    for (const SettingDef& def : playerSettings()) {
        EXPECT_TRUE(saved.contains(def.section, def.key)) << def.key;
        EXPECT_EQ(saved.getInt(def.section, def.key, -12345), def.fallback) << def.key;
    }
    EXPECT_EQ(desktop.eventsOf(next, "close").size(), 1u);
}

TEST(App, MuteStateIsZeroAfterEveryStart) {
    Desktop desktop;
    ASSERT_TRUE(writeFileAtomically(desktop.path("config/Nordvale/veloraplay.ini"),
                                    "[Volume Panel]\nMuteState=1\nVolumeLevel=35\n", 0600));
    const pid_t player = desktop.start({});
    ASSERT_TRUE(desktop.waitFor(player, "player"));
    ::kill(player, SIGINT);
    EXPECT_EQ(waitExit(player), 0);
    SettingsStore saved(desktop.path("config/Nordvale/veloraplay.ini"));
    ASSERT_TRUE(saved.load());
    EXPECT_EQ(readSetting(saved, PlayerSetting::MuteState), 0);
    EXPECT_EQ(readSetting(saved, PlayerSetting::VolumeLevel), 35);
}

TEST(App, FileTypeQuestionAnsweredNoWithTheBoxTicked) {
    Desktop desktop;
    desktop.dialogs("Associate File Types = No, checked\n");
    pid_t player = desktop.start({});
    ASSERT_TRUE(desktop.waitFor(player, "player"));
    ::kill(player, SIGTERM);
    EXPECT_EQ(waitExit(player), 0);
    EXPECT_NE(desktop.read("stderr").find("\"Associate File Types\""), std::string::npos);
    EXPECT_EQ(desktop.read("config/mimeapps.list"), "");
    const std::string entry = desktop.read("data/applications/veloraplay.desktop");
    EXPECT_NE(entry.find("Name=&Encode to Velora\nExec=\"" VELORAPLAY_BINARY "\" /ENCODE %f\n"),
              std::string::npos)
        << entry;

    desktop.dialogs("");
    player = desktop.start({}, "stderr2");
    ASSERT_TRUE(desktop.waitFor(player, "player"));
    ::kill(player, SIGTERM);
    EXPECT_EQ(waitExit(player), 0);
    EXPECT_EQ(desktop.read("stderr2").find("dialog"), std::string::npos) << desktop.read("stderr2");
}

TEST(App, FileTypeQuestionAnsweredYes) {
    Desktop desktop;
    const std::string before =
        "[Default Applications]\n"
        "text/plain=editor.desktop\n"
        "audio/mpeg=someplayer.desktop;\n"
        "# keep me\n"
        "\n"
        "[Added Associations]\n"
        "audio/mpeg=someplayer.desktop;\n";
    ASSERT_TRUE(writeFileAtomically(desktop.path("config/mimeapps.list"), before, 0644));
    desktop.dialogs("Associate File Types = Yes\n");
    pid_t player = desktop.start({});
    ASSERT_TRUE(desktop.waitFor(player, "player"));
    ::kill(player, SIGTERM);
    EXPECT_EQ(waitExit(player), 0);
    std::string expected = before;
    expected.replace(expected.find("someplayer"), 10, "veloraplay");
    expected.replace(expected.find("veloraplay.desktop;"), 19, "veloraplay.desktop");
    EXPECT_EQ(desktop.read("config/mimeapps.list"), expected);

    // Now the default player: the next start asks nothing.
    desktop.dialogs("");
    player = desktop.start({}, "stderr2");
    ASSERT_TRUE(desktop.waitFor(player, "player"));
    ::kill(player, SIGTERM);
    EXPECT_EQ(waitExit(player), 0);
    EXPECT_EQ(desktop.read("stderr2").find("dialog"), std::string::npos) << desktop.read("stderr2");
}

TEST(App, EncodeSwitchOpensTheEncoderAloneEvenWithAPlayerRunning) {
    Desktop desktop;
    const pid_t player = desktop.start({});
    ASSERT_TRUE(desktop.waitFor(player, "player"));
    const pid_t encoder = desktop.start({"/encode", "dir with blanks/in.wav"});
    ASSERT_TRUE(desktop.waitFor(encoder, "encoder", "dir with blanks/in.wav"))
        << desktop.read("stderr");
    ::kill(encoder, SIGTERM);
    EXPECT_EQ(waitExit(encoder), 0);
    ::kill(player, SIGTERM);
    EXPECT_EQ(waitExit(player), 0);
    EXPECT_TRUE(desktop.eventsOf(player, "handover").empty());
}

uint32_t le32(const std::string& d, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(d[at + i])) << (8 * i);
    return v;
}


TEST(App, PlaysToTheDeviceAndClosesItCleanlyOnSigterm) {
    Desktop desktop;
    const std::string heard = desktop.path("heard.wav");
    const pid_t player = desktop.start({VELORAPLAY_SAMPLE}, "stderr", {"VELORAPLAY_AUDIO=wav:" + heard});
    ASSERT_TRUE(desktop.waitFor(player, "state", "playing")) << desktop.read("stderr");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ::kill(player, SIGTERM);
    EXPECT_EQ(waitExit(player), 0);
    const std::string wav = desktop.read("heard.wav");
    ASSERT_GT(wav.size(), 44u);
    EXPECT_EQ(wav.compare(0, 4, "RIFF"), 0);
    EXPECT_EQ(wav.compare(8, 8, "WAVEfmt "), 0);
    EXPECT_EQ(wav.compare(36, 4, "data"), 0);
    EXPECT_EQ(le32(wav, 4), wav.size() - 8) << "the header was completed at close";
    EXPECT_EQ(le32(wav, 40), wav.size() - 44);
    EXPECT_GT(wav.size() - 44, 0u) << "something was heard";
    // The sample is 12 s long: stopped after about one second, not played out.
    EXPECT_LT(wav.size() - 44, 6u * 44100 * 4);
    const auto states = desktop.eventsOf(player, "state");
    EXPECT_EQ(states, (std::vector<std::string>{"playing", "stopped"}));
    EXPECT_EQ(desktop.read("stderr").find("Couldn't"), std::string::npos) << desktop.read("stderr");
}

TEST(App, ShortFilesPlayToTheirEndOneAfterTheOtherAndStop) {
    Desktop desktop;
    const std::string first = desktop.path("tone.mp3");
    const std::string second = desktop.path("short.wav");
    test::makeToneFile(desktop.path("tone.wav"), first, 2);
    test::makeToneFile(second, "", 1);
    const auto begin = Clock::now();
    const pid_t player = desktop.start({first, second}, "stderr", {"VELORAPLAY_AUDIO=null"});
    ASSERT_TRUE(desktop.waitFor(player, "play", second)) << desktop.read("stderr");
    // The null device plays in real time: the first file was not cut short.
    EXPECT_GE(Clock::now() - begin, std::chrono::milliseconds(1900));
    const auto stops = [&] {
        const auto s = desktop.eventsOf(player, "state");
        return std::count(s.begin(), s.end(), "stopped");
    };
    const auto end = Clock::now() + kPatience;
    while (stops() < 2 && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(desktop.eventsOf(player, "state"),
              (std::vector<std::string>{"playing", "stopped", "playing", "stopped"}));
    EXPECT_EQ(desktop.eventsOf(player, "play"), (std::vector<std::string>{first, second}));
    EXPECT_TRUE(desktop.eventsOf(player, "close").empty()) << "the window stays open";
    ::kill(player, SIGTERM);
    EXPECT_EQ(waitExit(player), 0);
    EXPECT_EQ(desktop.read("stderr").find("Couldn't"), std::string::npos) << desktop.read("stderr");
}

}  // namespace
}  // namespace veloraplay

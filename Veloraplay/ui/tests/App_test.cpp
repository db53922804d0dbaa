// The real program, as a person's desktop would start it: temporary XDG folders, the
// offscreen platform, scripted dialogs, and the event log to see what the player received.
#include "AtomicFile.h"
#include "PlayerSettings.h"
#include "SettingsStore.h"
#include "Desktop.h"
#include "TempFolder.h"
#include "ToneFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include "FolderNames.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <thread>


namespace veloraplay {
namespace {

using test::namesIn;

using test::Clock;
using test::Desktop;
using test::kPatience;
using test::waitExit;

#ifdef VELORAPLAY_SANITIZED
constexpr auto kHandOverLimit = std::chrono::seconds(10);  // instrumented start-up is slower
#else
constexpr auto kHandOverLimit = std::chrono::seconds(2);
#endif
// The manual page renders without a warning and tells the command line and the environment
// the program reads.
TEST(App, ManualPageRendersAndNamesTheSwitchesAndTheEnvironment) {
    test::TempFolder tmp;
    const std::string warnings = tmp / "warnings", text = tmp / "text";
    ASSERT_EQ(std::system(("MANWIDTH=100 man --warnings -l '" VELORAPLAY_MANUAL "' >/dev/null 2>'" + warnings +
                           "' && MANWIDTH=100 man -l '" VELORAPLAY_MANUAL "' 2>/dev/null | col -b >'" + text + "'")
                              .c_str()),
              0);
    std::string warned, page;
    ASSERT_TRUE(readWholeFile(warnings, warned) && readWholeFile(text, page));
    EXPECT_EQ(warned, "");
    for (const char* word : {"veloraplay - play Velora", "/ENCODE", "/L playlist", "VELORAPLAY_AUDIO", "wav:path",
                             "VELORAPLAY_DIALOGS", "Nordvale/veloraplay.ini", "velora(1)"})
        EXPECT_NE(page.find(word), std::string::npos) << word << "\n" << page;
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
    // What a later start hands over is played at once, in place of what was playing.
    ASSERT_TRUE(desktop.waitFor(player, "play", second));
    EXPECT_EQ(desktop.eventsOf(player, "play"), (std::vector<std::string>{first, second}));
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
    // The window writes its own settings at close; the volume is written only when it changes,
    // the file type choice only by its question, and every start unmutes.
    for (const SettingDef& def : playerSettings()) {
        const std::string section = def.section;
        const std::string key = def.key;
        if (section == "Controller" || key == "MuteState") {
            EXPECT_TRUE(saved.contains(def.section, def.key)) << def.key;
            // The position is where the window is.
            if (key.rfind("WindowRect.", 0) == 0) continue;
            EXPECT_EQ(saved.getInt(def.section, def.key, -12345), def.fallback) << def.key;
        } else {
            EXPECT_FALSE(saved.contains(def.section, def.key)) << def.key;
        }
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

// A command line naming two files plays the first to its end and stops: the rest is not kept.
TEST(App, ACommandLinePlaysOnlyItsFirstFileToItsEnd) {
    Desktop desktop;
    const std::string first = desktop.path("tone.mp3");
    const std::string second = desktop.path("short.wav");
    test::makeToneFile(desktop.path("tone.wav"), first, 2);
    test::makeToneFile(second, "", 1);
    const auto begin = Clock::now();
    const pid_t player = desktop.start({first, second}, "stderr", {"VELORAPLAY_AUDIO=null"});
    ASSERT_TRUE(desktop.waitFor(player, "state", "stopped")) << desktop.read("stderr");
    // The null device plays in real time: the file was not cut short.
    EXPECT_GE(Clock::now() - begin, std::chrono::milliseconds(1900));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(desktop.eventsOf(player, "state"), (std::vector<std::string>{"playing", "stopped"}));
    EXPECT_EQ(desktop.eventsOf(player, "play"), (std::vector<std::string>{first}));
    EXPECT_TRUE(desktop.eventsOf(player, "close").empty()) << "the window stays open";
    ::kill(player, SIGTERM);
    EXPECT_EQ(waitExit(player), 0);
    EXPECT_EQ(desktop.read("stderr").find("Couldn't"), std::string::npos) << desktop.read("stderr");
}

// Energy above about 8 kHz of a 16-bit stereo WAVE file's data, left and right summed, through
// a second-order high-pass filter.
double highBandEnergy(const std::string& wav) {
    if (wav.size() <= 44) return 0;
    const double rate = le32(wav, 24);
    const double w0 = 2.0 * M_PI * 8000.0 / rate;
    const double alpha = std::sin(w0) / (2.0 * 0.7071);
    const double c = std::cos(w0);
    const double a0 = 1 + alpha;
    const double b0 = (1 + c) / 2 / a0, b1 = -(1 + c) / a0, b2 = (1 + c) / 2 / a0;
    const double a1 = -2 * c / a0, a2 = (1 - alpha) / a0;
    double energy = 0;
    for (int ch = 0; ch < 2; ++ch) {
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (size_t at = 44 + 2 * static_cast<size_t>(ch); at + 1 < wav.size(); at += 4) {
            const double x = static_cast<int16_t>(static_cast<uint8_t>(wav[at]) | (static_cast<uint8_t>(wav[at + 1]) << 8));
            const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = y;
            energy += y * y;
        }
    }
    return energy;
}

// What is heard of the Velora sample, for a second and a half, with the gains `eq` stored.
std::string heardWithGains(uint32_t eq) {
    Desktop desktop;
    std::ostringstream settings;
    settings << "[Controller]\nSkin Type=0\nExtended View=1\nEQ Controls=" << eq << "\n";
    EXPECT_TRUE(writeFileAtomically(desktop.path("config/Nordvale/veloraplay.ini"), settings.str(), 0600));
    const std::string heard = desktop.path("heard.wav");
    const pid_t player = desktop.start({VELORAPLAY_SAMPLE}, "stderr", {"VELORAPLAY_AUDIO=wav:" + heard});
    EXPECT_TRUE(desktop.waitFor(player, "state", "playing")) << desktop.read("stderr");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ::kill(player, SIGTERM);
    EXPECT_EQ(waitExit(player), 0);
    return desktop.read("heard.wav");
}

// The gains the window starts with are the gains heard: all bands at 0 take the high band away.
TEST(App, StoredGainsOfZeroTakeTheHighBandAway) {
    const std::string unity = heardWithGains(0x33333333);
    const std::string silent = heardWithGains(0);
    ASSERT_GT(unity.size(), 44u + 44100 * 4);
    ASSERT_GT(silent.size(), 44u + 44100 * 4);
    const double drop = 10.0 * std::log10((highBandEnergy(unity) + 1.0) / (highBandEnergy(silent) + 1.0));
    EXPECT_GT(drop, 20.0) << "high band " << highBandEnergy(unity) << " -> " << highBandEnergy(silent);
    std::printf("high band (above 8 kHz) with every gain at 0: %.1f dB below unity\n", drop);
}

}  // namespace
}  // namespace veloraplay

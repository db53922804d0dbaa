// The tessura program from the outside: started with a private settings folder, it reads the
// language file and the settings beside it, writes the settings back and ends; without any
// language file it cannot run and says so.
#include "CommandOutput.h"
#include "TempFolder.h"

#include "Equaliser.h"
#include "EqualiserFilter.h"
#include "EqualiserPresetFile.h"
#include "InfoBlockReader.h"
#include "LoopbackServer.h"
#include "PrivateSessionBus.h"
#include "PlaybackControls.h"
#include "audio/WaveOutDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace tessura {
namespace {

struct ProgramRun {
    int status = -1;
    std::string output;
};

ProgramRun runProgram(const std::string& environment, const std::string& arguments = "") {
    // Never the user's own session bus (a run that sets one of its own overrides this).
    const std::string command = "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent " + environment +
                                " '" TESSURA_PROGRAM "' " + arguments + " 2>&1";
    ProgramRun run;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char piece[4096];
    std::size_t n = 0;
    while ((n = std::fread(piece, 1, sizeof piece, pipe)) > 0) run.output.append(piece, n);
    const int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

TEST(TessuraProgram, OpensItsWindowReadsItsFilesAndWritesTheSettingsWhenToldToQuit) {
    test::TempFolder folder;
    const std::string environment = "env -u TESSURA_HOME XDG_CONFIG_HOME='" + folder.file("config") +
                                    "' XDG_DATA_HOME='" + folder.file("data") + "' XDG_RUNTIME_DIR='" +
                                    folder.path() + "' TESSURA_DIALOGS= TESSURA_AUDIO=null QT_QPA_PLATFORM=offscreen";
    ProgramRun first = runProgram(environment, "-quit");
    ASSERT_EQ(first.status, 0) << first.output;
    const std::string settings = folder.read("config/Quellmark/tessura.ini");
    EXPECT_NE(settings.find("SeedNumber=1\r\n"), std::string::npos);
    EXPECT_NE(settings.find("TessuraVersion=1.96\r\n"), std::string::npos);

    // The window's state comes back: the mode it was left in and its position.
    EXPECT_NE(settings.find("WindowState=2\r\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("CurrentSkin=system/tessura.tgf\r\n"), std::string::npos) << settings;
    ProgramRun second = runProgram(environment, "-showwindow 1 0 -quit");
    ASSERT_EQ(second.status, 0) << second.output;
    const std::string again = folder.read("config/Quellmark/tessura.ini");
    EXPECT_NE(again.find("SeedNumber=2\r\n"), std::string::npos);
    EXPECT_NE(again.find("WindowState=3\r\n"), std::string::npos) << again;

    ProgramRun help = runProgram(environment, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("-nogui"), std::string::npos);
    EXPECT_NE(help.output.find("TESSURA_AUDIO"), std::string::npos);
}

using test::commandOutput;

// A sine tone of `seconds` at `hz`, 44.1 kHz stereo, as FLAC (by sox) or mp3 (by lame, through
// a WAVE file beside it).
void makeTone(const std::string& path, double seconds, int hz) {
    const std::string synth = " synth " + std::to_string(seconds) + " sine " + std::to_string(hz) + " gain -6";
    const bool mp3 = path.size() > 4 && path.compare(path.size() - 4, 4, ".mp3") == 0;
    const std::string command = mp3 ? "sox -n -r 44100 -c 2 -b 16 '" + path + ".wav'" + synth + " && lame --quiet -b 128 '" +
                                          path + ".wav' '" + path + "'"
                                    : "sox -n -r 44100 -c 2 -b 16 '" + path + "'" + synth;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Waits up to `seconds` for `done`.
template <typename Done>
bool waitFor(Done done, double seconds = 10) {
    for (int i = 0; i < seconds * 100; ++i) {
        if (done()) return true;
        ::usleep(10000);
    }
    return done();
}

// What a run without a window needs: a program folder whose system/ is the built one, private
// settings, data and runtime folders, an information block of its own and the wav: output.
struct HeadlessHome {
    // `bus`: the session bus the player may use; by default one that cannot be reached, so no
    // run shows up on the user's own.
    explicit HeadlessHome(const std::string& name, const std::string& bus = "unix:path=/nonexistent")
        : out(folder.file("out.wav")), suffix(std::to_string(::getpid()) + name) {
        const std::string home = folder.file("home");
        EXPECT_EQ(std::system(("mkdir -p '" + home + "' && ln -s '" + program.substr(0, program.rfind('/')) +
                               "/system' '" + home + "/system'").c_str()), 0);
        ::setenv("TESSURA_INFO_SUFFIX", suffix.c_str(), 1);  // for the test's own reader
        environment = "TESSURA_HOME='" + home + "' XDG_CONFIG_HOME='" + folder.file("config") +
                      "' XDG_DATA_HOME='" + folder.file("data") + "' XDG_RUNTIME_DIR='" + folder.path() +
                      "' TESSURA_INFO_SUFFIX=" + suffix + " TESSURA_AUDIO='wav:" + out +
                      "' DBUS_SESSION_BUS_ADDRESS='" + bus + "'";
    }
    ~HeadlessHome() { ::unsetenv("TESSURA_INFO_SUFFIX"); }

    // Starts the program in the background; its process id ("" when it did not start).
    std::string start(const std::string& arguments) {
        const std::string pidFile = folder.file("pid");
        if (std::system(("env " + environment + " '" + program + "' " + arguments + " > '" + folder.file("log") +
                         "' 2>&1 & echo $! > '" + pidFile + "'").c_str()) != 0)
            return {};
        std::string pid;
        waitFor([&] { return readWholeFile(pidFile, pid) && pid.find('\n') != std::string::npos; });
        return pid.substr(0, pid.find('\n'));
    }
    std::string log() const { return folder.read("log"); }

    test::TempFolder folder;
    const std::string program = TESSURA_PROGRAM;
    const std::string out, suffix;
    std::string environment;
};

TEST(TessuraProgram, PlaysItsCommandLineWithoutAWindowUntilItIsTold) {
    HeadlessHome run("a");
    const test::TempFolder& folder = run.folder;
    const std::string a = folder.file("a.flac"), b = folder.file("b.mp3"), out = run.out;
    makeTone(a, 1.1, 440);
    makeTone(b, 0.4, 700);
    const std::string expected = commandOutput("sox '" + a + "' -t raw -e signed-integer -b 16 -L - && mpg123 -q -e s16 -s '" + b + "'");
    ASSERT_GT(expected.size(), 100000u);

    // Started in the background; ended by a termination signal once everything was heard.
    const std::string pid = run.start("-nogui '" + a + "' '" + b + "'");
    ASSERT_FALSE(pid.empty());
    std::string heard;
    for (int i = 0; i < 200 && heard.size() < 44 + expected.size(); ++i) {
        ::usleep(50000);
        readWholeFile(out, heard);
    }
    ASSERT_EQ(std::system(("kill -TERM " + pid + " && while kill -0 " + pid + " 2>/dev/null; do sleep 0.05; done").c_str()), 0);
    ASSERT_EQ(heard.size(), 44 + expected.size()) << run.log();
    EXPECT_TRUE(heard.compare(44, std::string::npos, expected) == 0) << "what was heard is both files' decodes";

    // The playlist kept at exit, with what the modules told of each entry.
    const std::string kept = folder.read("home/tessura.pls");
    EXPECT_NE(kept.find("File1=" + a + "\r\n"), std::string::npos) << kept;
    EXPECT_NE(kept.find("File2=" + b + "\r\n"), std::string::npos) << kept;
    EXPECT_NE(kept.find("Length1=1\r\n"), std::string::npos) << kept;
    EXPECT_NE(kept.find("Title1=a\r\n"), std::string::npos) << kept;
    EXPECT_NE(kept.find("NumberOfEntries=2\r\n"), std::string::npos) << kept;
}

TEST(TessuraProgram, StartsWithTheSavedEqualiserPresetAndKeepsTheCurveAsCustomAtExit) {
    HeadlessHome run("eq");
    const test::TempFolder& folder = run.folder;
    folder.write("config/Quellmark/tessura.ini", "[General Preferences 0.80]\r\nEnableEQ=1\r\nEQPreset=2\r\n");
    const std::string a = folder.file("a.flac");
    makeTone(a, 0.5, 440);
    std::string decoded = commandOutput("sox '" + a + "' -t raw -e signed-integer -b 16 -L -");
    ASSERT_GT(decoded.size(), 40000u);
    // What the Rock curve makes of it, through the same filter.
    EqualiserFilter filter;
    filter.setFormat({44100, 2, 16});
    filter.setEnabled(true);
    const auto& rock = Equaliser::BuiltinGains()[2];
    for (int band = 0; band < 20; ++band) filter.setFilterGain(band, rock[std::size_t(band)]);
    std::string expected = decoded;
    filter.process(reinterpret_cast<uint8_t*>(expected.data()), expected.size(), expected.size());
    ASSERT_NE(expected, decoded) << "the curve changes the tone";

    const std::string pid = run.start("-nogui '" + a + "'");
    ASSERT_FALSE(pid.empty());
    std::string heard;
    for (int i = 0; i < 200 && heard.size() < 44 + expected.size(); ++i) {
        ::usleep(50000);
        readWholeFile(run.out, heard);
    }
    ASSERT_EQ(std::system(("kill -TERM " + pid + " && while kill -0 " + pid + " 2>/dev/null; do sleep 0.05; done").c_str()), 0);
    ASSERT_EQ(heard.size(), 44 + expected.size()) << run.log();
    EXPECT_TRUE(heard.compare(44, std::string::npos, expected) == 0) << "what was heard went through the Rock curve";

    // At exit the curve is kept as the Custom record; the preset and the switch are kept too.
    const std::string presets = folder.read("home/TesEque.spf");
    ASSERT_EQ(presets.size(), 1100u);
    EqualiserPresetFile file(folder.file("home/TesEque.spf"));
    const std::optional<PresetRecord> custom = file.Read(10);
    ASSERT_TRUE(custom.has_value());
    EXPECT_EQ(custom->name, "Custom");
    for (int band = 0; band < 20; ++band)
        EXPECT_EQ(custom->gains[std::size_t(band)], static_cast<float>(rock[std::size_t(band)])) << band;
    const std::optional<PresetRecord> user = file.Read(0);
    ASSERT_TRUE(user.has_value());
    EXPECT_EQ(user->name, "UserPreset0");
    const std::string settings = folder.read("config/Quellmark/tessura.ini");
    EXPECT_NE(settings.find("EQPreset=2\r\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("EnableEQ=1\r\n"), std::string::npos) << settings;
}

TEST(TessuraProgram, LaterStartsHandTheirCommandsToTheRunningPlayer) {
    HeadlessHome run("remote");
    const test::TempFolder& folder = run.folder;
    const std::string a = folder.file("a.flac"), b = folder.file("b.mp3"), out = run.out;
    // The first entry is longer than the player decodes ahead, so it is still current when
    // -playnext comes.
    makeTone(a, 8, 440);
    makeTone(b, 0.8, 700);
    const std::string first = commandOutput("sox '" + a + "' -t raw -e signed-integer -b 16 -L -");
    std::string second = commandOutput("mpg123 -q -e s16 -s '" + b + "'");
    ASSERT_GT(second.size(), 100000u);
    // What is heard of the second entry: at the volume set, as the output scales it.
    applyVolume(reinterpret_cast<uint8_t*>(second.data()), second.size(), 16, 2, packVolume(32768, 32768));

    const std::string pid = run.start("-nogui '" + a + "' '" + b + "'");
    ASSERT_FALSE(pid.empty());
    const std::string& environment = run.environment;

    info::InfoBlockReader reader;
    ASSERT_TRUE(waitFor([&] { return reader.open(); })) << run.log();
    auto snapshot = [&] { return reader.read().value_or(info::Snapshot{}); };
    auto heardBytes = [&] {
        std::string bytes;
        readWholeFile(out, bytes);
        return bytes.size();
    };
    EXPECT_TRUE(waitFor([&] { return snapshot().state == 1 && heardBytes() > 44 + 44100 * 4 / 2; }));
    const info::Snapshot playing = snapshot();
    EXPECT_EQ(playing.magic, info::kRunningMagic);
    EXPECT_EQ(playing.fileName, a);
    EXPECT_EQ(playing.title, "a");
    EXPECT_EQ(playing.length, 8000);
    EXPECT_EQ(playing.visName, "Waveform");
    EXPECT_EQ(playing.skinName, "Tessura Slate") << "the default skin's own title";
    for (const uint32_t colour : playing.colours) EXPECT_EQ(colour >> 24, 0xFFu);

    // Each later start hands its words over and ends at once.
    auto later = [&](const std::string& words) {
        SCOPED_TRACE(words);
        const auto started = std::chrono::steady_clock::now();
        ProgramRun answer = runProgram(environment, words);
        EXPECT_EQ(answer.status, 0) << answer.output;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    };
    later("-pause");
    EXPECT_TRUE(waitFor([&] { return snapshot().state == 3; }));
    reader.takeEvent();
    const std::size_t paused = heardBytes();
    ::usleep(400000);
    EXPECT_LE(heardBytes(), paused + 40000) << "at most the buffer playing when it paused";
    later("-resume");
    // However long the player takes to resume on a loaded machine, the event is pending once
    // the state shows (it is posted right after the state is written).
    EXPECT_TRUE(waitFor([&] { return snapshot().state == 1; }, 20));
    EXPECT_TRUE(reader.waitEvent(std::chrono::seconds(2))) << "the state change signals readers";
    later("-setvolume 32768");
    ::usleep(300000);
    later("-playnext");
    EXPECT_TRUE(waitFor([&] { return snapshot().fileName == b; }));
    EXPECT_TRUE(waitFor([&] { return snapshot().state == 2; }, 15)) << "the list ran out";
    later("-quit");
    EXPECT_TRUE(waitFor([&] { return std::system(("kill -0 " + pid + " 2>/dev/null").c_str()) != 0; }));
    EXPECT_EQ(snapshot().magic, 0u) << "0 once the player has ended";
    EXPECT_FALSE(info::readBlockOnce().has_value()) << "and the names are gone";

    std::string heard;
    ASSERT_TRUE(readWholeFile(out, heard));
    ASSERT_GT(heard.size(), 44 + 44100u * 2 + second.size());
    EXPECT_TRUE(heard.compare(44, 44100 * 2, first, 0, 44100 * 2) == 0) << "the first entry from its start";
    EXPECT_TRUE(heard.compare(heard.size() - second.size(), second.size(), second) == 0)
        << "then the second, whole, at half volume";
    EXPECT_LT(heard.size(), 44 + first.size()) << "-playnext cut the first one short";
    const std::string kept = folder.read("home/tessura.pls");
    EXPECT_NE(kept.find("Length1=8\r\n"), std::string::npos) << kept;
}

TEST(TessuraProgram, PlaysAnInternetStationAndShowsItsTitle) {
    HeadlessHome run("station");
    const test::TempFolder& folder = run.folder;
    const std::string station = folder.file("station.mp3"), out = run.out;
    makeTone(station, 1.2, 500);
    const std::string expected = commandOutput("mpg123 -q -e s16 -s '" + station + "'");
    ASSERT_GT(expected.size(), 100000u);

    LoopbackServer server(VELORA_SOURCE_DIR "/tessura/engine/stream/tests/stream_server.py");
    ASSERT_NE(server.port(), 0);
    const std::string url = server.url("/file?path=" + station + "&name=A&desc=B");
    ASSERT_FALSE(run.start("-nogui '" + url + "'").empty());
    const std::string& environment = run.environment;
    info::InfoBlockReader reader;
    ASSERT_TRUE(waitFor([&] { return reader.open(); }));
    auto snapshot = [&] { return reader.read().value_or(info::Snapshot{}); };
    EXPECT_TRUE(waitFor([&] { return snapshot().author == "A / B"; })) << run.log();
    EXPECT_EQ(snapshot().fileName, url);
    EXPECT_TRUE(waitFor([&] { return snapshot().state == 2; }, 15)) << "the station's stream ended";
    ProgramRun quit = runProgram(environment, "-quit");
    EXPECT_EQ(quit.status, 0);
    EXPECT_TRUE(waitFor([&] { return !info::readBlockOnce().has_value(); }));
    std::string heard;
    ASSERT_TRUE(readWholeFile(out, heard));
    ASSERT_EQ(heard.size(), 44 + expected.size()) << run.log();
    EXPECT_TRUE(heard.compare(44, std::string::npos, expected) == 0) << "what is heard is mpg123's decode of the bytes served";
}

TEST(TessuraProgram, DesktopControllersDriveItOverTheSessionBus) {
    remote::PrivateSessionBus bus;
    ASSERT_FALSE(bus.address().empty()) << bus.failure();
    HeadlessHome run("mpris", bus.address());
    const std::string a = run.folder.file("a.flac");
    makeTone(a, 8, 440);
    const std::string pid = run.start("-nogui '" + a + "'");
    ASSERT_FALSE(pid.empty());
    info::InfoBlockReader reader;
    ASSERT_TRUE(waitFor([&] { return reader.open(); })) << run.log();
    auto state = [&] { return reader.read().value_or(info::Snapshot{}).state; };
    ASSERT_TRUE(waitFor([&] { return state() == 1; })) << run.log();

    const std::string send = "dbus-send --bus='" + bus.address() +
                             "' --print-reply --dest=org.mpris.MediaPlayer2.tessura /org/mpris/MediaPlayer2 ";
    const std::string get = send + "org.freedesktop.DBus.Properties.Get string:org.mpris.MediaPlayer2.Player string:";
    int status = 0;
    auto call = [&](const std::string& command) {
        const std::string reply = remote::RunCommand(command, status);
        EXPECT_EQ(status, 0) << command << "\n" << reply;
        return reply;
    };
    EXPECT_TRUE(waitFor([&] { return call(get + "Metadata").find("\"a\"") != std::string::npos; }))
        << "the track's title";
    call(send + "org.mpris.MediaPlayer2.Player.PlayPause");
    EXPECT_TRUE(waitFor([&] { return state() == 3; })) << "paused from the bus";
    EXPECT_TRUE(waitFor([&] { return call(get + "PlaybackStatus").find("\"Paused\"") != std::string::npos; }));
    call(send + "org.freedesktop.DBus.Properties.Set string:org.mpris.MediaPlayer2.Player string:Volume "
                "variant:double:0.5");
    EXPECT_TRUE(waitFor([&] { return call(get + "Volume").find("double 0.5") != std::string::npos; }));
    call(send + "org.mpris.MediaPlayer2.Player.Play");
    EXPECT_TRUE(waitFor([&] { return state() == 1; }));
    call(send + "org.mpris.MediaPlayer2.Quit");
    EXPECT_TRUE(waitFor([&] { return std::system(("kill -0 " + pid + " 2>/dev/null").c_str()) != 0; }));
    EXPECT_FALSE(info::readBlockOnce().has_value()) << "ended as -quit ends it";
}

TEST(TessuraProgram, WithoutASettingsFolderItWarnsAndKeepsTheOlderFileInstead) {
    test::TempFolder folder;
    std::string english;
    ASSERT_TRUE(readWholeFile(std::string(VELORA_SOURCE_DIR) + "/tessura/system/english.lng", english));
    folder.write("home/system/english.lng", english);
    // The window needs something to play with: the built input modules beside the language.
    const std::string program = TESSURA_PROGRAM;
    ASSERT_EQ(std::system(("ln -s '" + program.substr(0, program.rfind('/')) + "'/system/*.tqp '" +
                           folder.file("home/system") + "/'").c_str()), 0);
    folder.write("config", "a file where the settings folder should be");
    const std::string environment = "TESSURA_HOME='" + folder.file("home") + "' XDG_CONFIG_HOME='" +
                                    folder.file("config") + "' XDG_DATA_HOME='" + folder.file("data") +
                                    "' XDG_RUNTIME_DIR='" + folder.path() +
                                    "' TESSURA_DIALOGS= TESSURA_AUDIO=null QT_QPA_PLATFORM=offscreen";
    ProgramRun run = runProgram(environment, "-quit");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("\"Non-fatal error\" / \"Tessura could not check its settings"), std::string::npos)
        << run.output;
    EXPECT_NE(folder.read("home/tessura.ini").find("TessuraVersion=1.96\r\n"), std::string::npos);
}

TEST(TessuraProgram, WithoutALanguageFileItCannotRun) {
    test::TempFolder folder;
    folder.write("home/system/readme.txt", "no language files here");
    const std::string environment = "TESSURA_HOME='" + folder.file("home") + "' XDG_CONFIG_HOME='" +
                                    folder.file("config") + "' XDG_RUNTIME_DIR='" + folder.path() +
                                    "' TESSURA_DIALOGS=";
    ProgramRun run = runProgram(environment);
    EXPECT_EQ(run.status, 255);  // the exit code -1
    EXPECT_NE(run.output.find("\"Files Missing\" / \"Error loading languages - can not run Tessura\""),
              std::string::npos) << run.output;
}

}  // namespace
}  // namespace tessura

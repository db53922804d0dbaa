// The program with its window on a virtual X display, used as a person would: the shaped window
// lets the desktop show through its cut-outs, and pointer clicks on pause, play, the seek bar and
// next change what the player sends to its sound output.
#include "CommandOutput.h"
#include "TempFolder.h"

#include "InfoBlockReader.h"
#include "SkinLayout.h"
#include "SkinRegion.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tessura {
namespace {

using Clock = std::chrono::steady_clock;

template <typename Done>
bool waitFor(Done done, double seconds = 10) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

bool have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null").c_str()) == 0; }

// An X server of the test's own, on the first free display from 150 on.
class VirtualDisplay {
  public:
    VirtualDisplay() {
        for (int n = 150 + ::getpid() % 40; n < 250 && name_.empty(); ++n) {
            const std::string number = std::to_string(n), lock = "/tmp/.X" + number + "-lock";
            if (::access(lock.c_str(), F_OK) == 0) continue;
            const std::string display = ":" + number;
            pid_ = ::fork();
            if (pid_ == 0) {
                ::execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "800x600x24", "-nolisten", "tcp", "-noreset",
                         static_cast<char*>(nullptr));
                ::_exit(127);
            }
            const std::string socket = "/tmp/.X11-unix/X" + number;
            if (waitFor([&] { return ::access(socket.c_str(), F_OK) == 0; })) name_ = display;
        }
    }
    ~VirtualDisplay() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& name() const { return name_; }
    int run(const std::string& command) const { return std::system(("DISPLAY=" + name_ + " " + command).c_str()); }
    // The whole screen as a picture.
    bool grab(const std::string& png) const { return run("import -window root '" + png + "'") == 0; }
    void click(int x, int y) const {
        run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1");
    }

  private:
    pid_t pid_ = -1;
    std::string name_;
};

// The colour of one pixel of a picture, as "#RRGGBB".
std::string pixel(const std::string& png, int x, int y) {
    const std::string text = test::commandOutput("convert '" + png + "' -crop 1x1+" + std::to_string(x) + "+" +
                                                 std::to_string(y) + " txt:- 2>/dev/null");
    const std::size_t hash = text.find(" #");
    return hash == std::string::npos ? "" : text.substr(hash + 1, 7);
}

// The tone's frequency in the last `seconds` of a 44.1 kHz stereo 16-bit WAVE file, from the
// zero crossings of its left channel.
double recentFrequency(const std::string& wav, double seconds) {
    const std::size_t frames = std::size_t(44100 * seconds);
    if (wav.size() < 44 + frames * 4) return 0;
    const auto left = [&](std::size_t frame) {
        const std::size_t at = wav.size() - (frames - frame) * 4;
        return int16_t(uint8_t(wav[at]) | uint8_t(wav[at + 1]) << 8);
    };
    int crossings = 0;
    for (std::size_t i = 1; i < frames; ++i) crossings += (left(i - 1) < 0) != (left(i) < 0);
    return crossings / 2.0 / seconds;
}

TEST(TessuraDesktop, TheShapedWindowShowsTheDesktopAndClicksDriveWhatIsHeard) {
    for (const char* tool : {"Xvfb", "xdotool", "xsetroot", "import", "sox"})
        if (!have(tool)) GTEST_SKIP() << tool << " is not installed (scripts/setup.sh installs it)";
    VirtualDisplay display;
    ASSERT_FALSE(display.name().empty());
    ASSERT_EQ(display.run("xsetroot -solid '#00C080'"), 0);

    test::TempFolder folder;
    const std::string program = TESSURA_PROGRAM, home = folder.file("home"), out = folder.file("out.wav");
    const std::string a = folder.file("a.flac"), b = folder.file("b.flac");
    // a: 6 s at 440 Hz, then 6 s at 880 Hz; b: 6 s at 1500 Hz.
    const std::string tones = "cd '" + folder.path() + "' && sox -n -r 44100 -c 2 -b 16 a1.wav synth 6 sine 440 && " +
                              "sox -n -r 44100 -c 2 -b 16 a2.wav synth 6 sine 880 && sox a1.wav a2.wav a.flac && " +
                              "sox -n -r 44100 -c 2 -b 16 b.flac synth 6 sine 1500";
    ASSERT_EQ(std::system(tones.c_str()), 0);
    ASSERT_EQ(std::system(("mkdir -p '" + home + "' '" + folder.file("config/Quellmark") + "' && ln -s '" +
                           program.substr(0, program.rfind('/')) + "/system' '" + home + "/system'").c_str()), 0);
    // The navigator at a known place, no splash.
    folder.write("config/Quellmark/tessura.ini",
                 "[General Preferences 0.80]\r\nShowSplashScreen=0\r\nTessuraVersion=1.96\r\nSeedNumber=1\r\n"
                 "WindowState=2\r\nNavWindowState=0\r\nMainWindowX=100\r\nMainWindowY=80\r\n");
    const std::string suffix = std::to_string(::getpid()) + "desktop";
    ::setenv("TESSURA_INFO_SUFFIX", suffix.c_str(), 1);
    const std::string environment = "DISPLAY=" + display.name() + " TESSURA_HOME='" + home + "' XDG_CONFIG_HOME='" +
                                    folder.file("config") + "' XDG_DATA_HOME='" + folder.file("data") +
                                    "' XDG_RUNTIME_DIR='" + folder.path() + "' TESSURA_INFO_SUFFIX=" + suffix +
                                    " TESSURA_AUDIO='wav:" + out + "' TESSURA_DIALOGS= QT_QPA_PLATFORM=xcb" +
                                    " DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent";
    ASSERT_EQ(std::system(("env " + environment + " '" + program + "' '" + a + "' '" + b + "' > '" +
                           folder.file("log") + "' 2>&1 &").c_str()), 0);
    info::InfoBlockReader reader;
    ASSERT_TRUE(waitFor([&] { return reader.open(); })) << folder.read("log");
    auto snapshot = [&] { return reader.read().value_or(info::Snapshot{}); };
    auto heard = [&] {
        std::string bytes;
        readWholeFile(out, bytes);
        return bytes;
    };
    ASSERT_TRUE(waitFor([&] { return snapshot().state == 1 && heard().size() > 44 + 44100 * 4; }))
        << folder.read("log");
    EXPECT_NEAR(recentFrequency(heard(), 0.2), 440, 15);

    // The desktop's colour shows through a cut-out of the frame and nowhere inside it.
    const std::string skin = home + "/system/tessura.tgf";
    const std::optional<SkinRegion> frame = LoadSkinRegion("/rgn/nav/frame", skin, home);
    ASSERT_TRUE(frame.has_value());
    const int left = 100, top = 80;
    int outsideX = -1, outsideY = -1;
    for (int y = frame->bounds.top; y < frame->bounds.bottom && outsideX < 0; y += 2)
        for (int x = frame->bounds.left; x < frame->bounds.right; x += 2)
            if (!frame->Contains(x, y)) {
                outsideX = x;
                outsideY = y;
                break;
            }
    ASSERT_GE(outsideX, 0) << "the frame has a cut-out";
    const std::string screen = folder.file("screen.png");
    ASSERT_TRUE(display.grab(screen));
    std::system(("mkdir -p /tmp/tessura-grabs && cp '" + screen + "' /tmp/tessura-grabs/desktop.png").c_str());  // to look at
    EXPECT_EQ(pixel(screen, left + outsideX, top + outsideY), "#00C080") << "cut-out at " << outsideX << "," << outsideY;
    const art::NavLayout nav;
    EXPECT_NE(pixel(screen, left + nav.display.center().x(), top + nav.display.center().y()), "#00C080");
    EXPECT_NE(pixel(screen, left + 200, top + 120), "#00C080");

    const auto centre = [&](const char* member) {
        const std::optional<SkinRegion> r = LoadSkinRegion(member, skin, home);
        EXPECT_TRUE(r.has_value()) << member;
        return r ? std::pair{left + (r->bounds.left + r->bounds.right) / 2, top + (r->bounds.top + r->bounds.bottom) / 2}
                 : std::pair{0, 0};
    };
    // Pause: the output stops growing; Play: it goes on.
    const auto [pauseX, pauseY] = centre("/rgn/nav/pause");
    display.click(pauseX, pauseY);
    ASSERT_TRUE(waitFor([&] { return snapshot().state == 3; })) << folder.read("log");
    const std::size_t paused = heard().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LE(heard().size(), paused + 40000) << "at most the buffer in flight";
    const auto [playX, playY] = centre("/rgn/nav/play");
    display.click(playX, playY);
    ASSERT_TRUE(waitFor([&] { return snapshot().state == 1; }));
    EXPECT_TRUE(waitFor([&] { return heard().size() > paused + 44100 * 4; }));

    // 55 % along the seek bar is 6.6 s into the first file: its 880 Hz half is sent at once (the
    // output runs up to about 1.7 s ahead of what is heard, still within that half).
    display.click(left + nav.seek.x() + nav.seek.width() * 55 / 100, top + nav.seek.center().y());
    EXPECT_TRUE(waitFor([&] { return snapshot().position >= 6400 && snapshot().position < 9000; }, 5))
        << snapshot().position;
    EXPECT_TRUE(waitFor([&] { return std::abs(recentFrequency(heard(), 0.2) - 880) < 20; }, 5))
        << recentFrequency(heard(), 0.2);

    // Next: the second file, 1500 Hz.
    const auto [nextX, nextY] = centre("/rgn/nav/next");
    display.click(nextX, nextY);
    EXPECT_TRUE(waitFor([&] { return snapshot().fileName == b; }, 5)) << snapshot().fileName;
    EXPECT_TRUE(waitFor([&] { return std::abs(recentFrequency(heard(), 0.2) - 1500) < 30; }, 5))
        << recentFrequency(heard(), 0.2);

    ASSERT_EQ(std::system(("env " + environment + " '" + program + "' -quit > /dev/null 2>&1").c_str()), 0);
    EXPECT_TRUE(waitFor([&] { return !info::readBlockOnce().has_value(); }));
    ::unsetenv("TESSURA_INFO_SUFFIX");
}

}  // namespace
}  // namespace tessura

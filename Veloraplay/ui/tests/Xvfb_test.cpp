// The program on a virtual X display, driven with real pointer input as a person would: Play
// with no file asks for one, a drag of the position knob jumps ahead in what is heard, a drag
// of the volume knob lowers what is heard, and a right click opens the context menu.
#include "Desktop.h"
#include "PlayerWindowModel.h"
#include "SkinArt.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace veloraplay {
namespace {

using test::Clock;
using test::Desktop;

// The output of a shell command, or "" when it fails.
std::string capture(const std::string& command) {
    std::string out;
    if (std::FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
        if (::pclose(p) != 0) out.clear();
    }
    return out;
}

bool have(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// An X server of its own for the test, on the first free display number from 90 on.
class VirtualDisplay {
  public:
    VirtualDisplay() {
        for (int n = 90 + ::getpid() % 40; n < 200 && name_.empty(); ++n) {
            const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
            if (::access(lock.c_str(), F_OK) == 0) continue;
            const std::string display = ":" + std::to_string(n);
            pid_ = ::fork();
            if (pid_ == 0) {
                ::execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                         static_cast<char*>(nullptr));
                ::_exit(127);
            }
            const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
            const auto end = Clock::now() + std::chrono::seconds(10);
            while (Clock::now() < end && ::access(socket.c_str(), F_OK) != 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (::access(socket.c_str(), F_OK) == 0) name_ = display;
        }
    }
    ~VirtualDisplay() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            test::waitExit(pid_);
        }
    }
    const std::string& name() const { return name_; }
    std::string run(const std::string& command) const { return capture("DISPLAY=" + name_ + " " + command); }

  private:
    pid_t pid_ = -1;
    std::string name_;
};

// The 16-bit stereo samples of a WAVE file written by the program's wav: backend.
std::vector<int16_t> samplesOf(const std::string& wav) {
    std::vector<int16_t> out;
    for (size_t at = 44; at + 1 < wav.size(); at += 2)
        out.push_back(static_cast<int16_t>(static_cast<uint8_t>(wav[at]) | (static_cast<uint8_t>(wav[at + 1]) << 8)));
    return out;
}

double rms(const std::vector<int16_t>& s, size_t from, size_t count) {
    double sum = 0;
    for (size_t i = from; i < from + count && i < s.size(); ++i) sum += double(s[i]) * s[i];
    return std::sqrt(sum / double(count));
}

TEST(OnADisplay, PlaySeekAndVolumeWithThePointer) {
    if (!have("Xvfb") || !have("xdotool")) GTEST_SKIP() << "needs Xvfb and xdotool";
    VirtualDisplay x;
    ASSERT_FALSE(x.name().empty()) << "no X server started";
    Desktop desktop;
    desktop.dialogs(std::string("Select Source File=") + VELORAPLAY_SAMPLE + "\n");
    const std::string heard = desktop.path("heard.wav");
    // On a real display the platform's session-bus library keeps a buffer it never frees; under
    // the leak checker that is not ours.
    ASSERT_TRUE(writeFileAtomically(desktop.path("lsan.supp"), "leak:libdbus\nleak:libfontconfig\n", 0600));
    const pid_t player = desktop.start({}, "stderr",
                                       {"DISPLAY=" + x.name(), "VELORAPLAY_AUDIO=wav:" + heard,
                                        "LSAN_OPTIONS=suppressions=" + desktop.path("lsan.supp")});
    ASSERT_TRUE(desktop.waitFor(player, "player")) << desktop.read("stderr");

    std::string window;
    const auto end = Clock::now() + test::kPatience;
    while (window.empty() && Clock::now() < end) {
        window = x.run("xdotool search --name 'KESTRAN Velora Audio Player' 2>/dev/null | head -n1");
        if (window.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_FALSE(window.empty());
    window.erase(window.find_last_not_of("\n") + 1);
    // Where the window's client area is on the screen (no window manager frames it).
    const std::string shell = x.run("xdotool getwindowgeometry --shell " + window);
    int left = -1, top = -1;
    std::sscanf(shell.c_str() + shell.find("X="), "X=%d\nY=%d", &left, &top);
    ASSERT_GE(left, 0) << shell;
    const SkinLayout& layout = skinLayout(kSkinOceanic);
    const auto at = [&](int cx, int cy) {
        return std::to_string(left + cx) + " " + std::to_string(top + cy);
    };
    const auto click = [&](const QRect& r) {
        x.run("xdotool mousemove " + at(r.center().x(), r.center().y()) + " click 1");
    };
    const auto drag = [&](const QRect& track, int toX) {
        const int y = track.center().y();
        x.run("xdotool mousemove " + at(track.left() + toX, y) + " mousedown 1 mousemove " +
              at(track.left() + toX + 1, y) + " mousemove " + at(track.left() + toX, y) + " mouseup 1");
    };

    // Play with no file set asks for one and plays what was chosen.
    click(layout.button(cmd::kPlay));
    ASSERT_TRUE(desktop.waitFor(player, "state", "playing")) << desktop.read("stderr");
    EXPECT_EQ(desktop.eventsOf(player, "play"), std::vector<std::string>{VELORAPLAY_SAMPLE});
    std::this_thread::sleep_for(std::chrono::milliseconds(700));

    // The position knob dragged to the middle of its track seeks there.
    drag(layout.position, layout.position.width() / 2);
    ASSERT_TRUE(desktop.waitFor(player, "seek")) << desktop.read("stderr");
    const int percent = std::stoi(desktop.eventsOf(player, "seek").front());
    EXPECT_NEAR(percent, 50, 3);

    // The volume knob dragged to its middle: about half the level from then on.
    drag(layout.volume, layout.volume.width() / 2);
    ASSERT_TRUE(desktop.waitFor(player, "volume")) << desktop.read("stderr");
    const int level = std::stoi(desktop.eventsOf(player, "volume").back());
    EXPECT_NEAR(level, 50, 5);

    // Then to the end of the file.
    ASSERT_TRUE(desktop.waitFor(player, "state", "stopped")) << desktop.read("stderr");
    if (const char* grabs = std::getenv("VELORAPLAY_GRAB_DIR"))
        x.run(std::string("import -window root ") + grabs + "/xvfb-after-play.png");
    ::kill(player, SIGTERM);
    EXPECT_EQ(test::waitExit(player), 0) << desktop.read("stderr");

    // The 12-second sample was heard for well under its length: the middle was skipped.
    const std::vector<int16_t> got = samplesOf(desktop.read("heard.wav"));
    const double seconds = double(got.size()) / (2 * 44100);
    EXPECT_LT(seconds, 12.0 * (100 - percent) / 100 + 4.0);
    EXPECT_GT(seconds, 12.0 * (100 - percent) / 100 - 0.5);
    // The last second, well after the volume change, against what the decoder gives for the
    // file's last second.
    const std::string reference = desktop.path("reference.wav");
    ASSERT_EQ(std::system((std::string(VELORA_BINARY) + " decode '" + VELORAPLAY_SAMPLE + "' '" + reference +
                           "' >/dev/null 2>&1").c_str()),
              0);
    const std::vector<int16_t> full = samplesOf(desktop.read("reference.wav"));
    const size_t second = 2 * 44100;
    ASSERT_GT(got.size(), 2 * second);
    ASSERT_GT(full.size(), 2 * second);
    const double ratio = rms(got, got.size() - second - second / 2, second) /
                         rms(full, full.size() - second - second / 2, second);
    const double expected = double(static_cast<uint32_t>(level * 655.35)) / 65535.0;
    EXPECT_NEAR(ratio, expected, 0.12 * expected) << "level " << level;
    std::printf("seek to %d%%: %.2f s heard of 12; volume %d: level ratio %.3f (expected %.3f)\n", percent,
                seconds, level, ratio, expected);
}

}  // namespace
}  // namespace veloraplay

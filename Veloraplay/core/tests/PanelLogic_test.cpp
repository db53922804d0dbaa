// The volume panel's arithmetic and settings, the web link's address handling and failure
// message, and the about box's version line, all without widgets.
#include "AboutText.h"
#include "AtomicFile.h"
#include "PlayerSettings.h"
#include "SettingsStore.h"
#include "TempFolder.h"
#include "VolumePanelModel.h"
#include "WebLink.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace veloraplay {
namespace {

using test::TempFolder;

// ---- Volume panel ----

struct StoreCase {
    const char* file;  // the settings file's text, nullptr for no file
    int position;
    bool muted;
    int device;
    int openLevel;
};

TEST(VolumePanelModel, ReadsTheSavedStateAtOpening) {
    const StoreCase cases[] = {
        {nullptr, 0, false, 100, 100},  // defaults: full volume, not muted
        {"[Volume Panel]\nVolumeLevel=35\n", 65, false, 35, 35},
        {"[Volume Panel]\nVolumeLevel=35\nMuteState=1\n", 65, true, 0, 0},
        {"[Volume Panel]\nMuteState=1\n", 0, true, 0, 0},
        {"[volume panel]\nvolumelevel=0\n", 100, false, 0, 0},
        {"[Volume Panel]\nVolumeLevel=250\nMuteState=7\n", 0, true, 0, 0},  // clamped
        {"[Volume Panel]\nVolumeLevel=-4\n", 100, false, 0, 0},
        {"[Controller]\nVolumeLevel=20\n", 0, false, 100, 100},  // another section
    };
    for (const StoreCase& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "(no file)");
        TempFolder dir;
        const std::string path = dir / "veloraplay.ini";
        if (c.file) {
            ASSERT_TRUE(writeFileAtomically(path, c.file, 0600));
        }
        SettingsStore store(path);
        ASSERT_TRUE(store.load());
        VolumePanelModel model(store);
        EXPECT_EQ(model.sliderPosition(), c.position);
        EXPECT_EQ(model.muted(), c.muted);
        EXPECT_EQ(model.deviceVolume(), c.device);
        EXPECT_EQ(VolumePanelModel::outputOpenLevel(store), c.openLevel);
    }
}

TEST(VolumePanelModel, SliderAndMuteGiveTheDeviceVolume) {
    struct Step {
        enum { Move, Mute } what;
        int value;  // position, or 1/0 for Mute
        int device;
        int position;
    };
    const Step steps[] = {
        {Step::Move, 0, 100, 0},  {Step::Move, 100, 0, 100}, {Step::Move, 30, 70, 30},
        {Step::Move, -5, 100, 0}, {Step::Move, 101, 0, 100}, {Step::Move, 1000, 0, 100},
        {Step::Move, 42, 58, 42}, {Step::Mute, 1, 0, 42},    {Step::Move, 10, 0, 10},
        {Step::Move, -1, 0, 0},   {Step::Mute, 0, 100, 0},   {Step::Move, 99, 1, 99},
        {Step::Mute, 0, 1, 99},   {Step::Mute, 1, 0, 99},    {Step::Mute, 1, 0, 99},
        {Step::Mute, 0, 1, 99},
    };
    SettingsStore store("");
    VolumePanelModel model(store);
    int i = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(i++);
        const int device =
            s.what == Step::Move ? model.moveSlider(s.value) : model.setMuted(s.value);
        EXPECT_EQ(device, s.device);
        EXPECT_EQ(model.deviceVolume(), s.device);
        EXPECT_EQ(model.sliderPosition(), s.position);
        EXPECT_EQ(model.level(), 100 - s.position);
    }
}

TEST(VolumePanelModel, CloseWritesAndSavesLevelAndMute) {
    const struct {
        int position;
        bool muted;
        const char* expected;
    } cases[] = {
        {0, false, "[Volume Panel]\nVolumeLevel=100\nMuteState=0\n"},
        {100, false, "[Volume Panel]\nVolumeLevel=0\nMuteState=0\n"},
        {27, true, "[Volume Panel]\nVolumeLevel=73\nMuteState=1\n"},  // the level, not 0
        {-20, true, "[Volume Panel]\nVolumeLevel=100\nMuteState=1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        TempFolder dir;
        const std::string path = dir / "veloraplay.ini";
        SettingsStore store(path);
        ASSERT_TRUE(store.load());
        VolumePanelModel model(store);
        model.moveSlider(c.position);
        model.setMuted(c.muted);
        EXPECT_FALSE(store.contains("Volume Panel", "VolumeLevel"));  // nothing before closing
        model.close();
        // On disk, not only in memory.
        SettingsStore reread(path);
        ASSERT_TRUE(reread.load());
        EXPECT_EQ(reread.render(), c.expected);
        // The next opening and the next output start from what was saved.
        VolumePanelModel next(reread);
        EXPECT_EQ(next.sliderPosition(), std::clamp(c.position, 0, 100));
        EXPECT_EQ(next.muted(), c.muted);
        EXPECT_EQ(VolumePanelModel::outputOpenLevel(reread),
                  c.muted ? 0 : 100 - std::clamp(c.position, 0, 100));
    }
}

TEST(VolumePanelModel, CloseKeepsTheOtherSettings) {
    TempFolder dir;
    const std::string path = dir / "veloraplay.ini";
    ASSERT_TRUE(writeFileAtomically(
        path, "[Controller]\nSkin Type=0\n[Volume Panel]\nVolumeLevel=10\nMuteState=1\n", 0600));
    SettingsStore store(path);
    ASSERT_TRUE(store.load());
    VolumePanelModel model(store);
    EXPECT_EQ(model.moveSlider(50), 0);  // still muted
    model.close();
    SettingsStore reread(path);
    ASSERT_TRUE(reread.load());
    EXPECT_EQ(readSetting(reread, PlayerSetting::SkinType), 0);
    EXPECT_EQ(readSetting(reread, PlayerSetting::VolumeLevel), 50);
    EXPECT_EQ(readSetting(reread, PlayerSetting::MuteState), 1);
}

TEST(VolumePanelModel, PlacedCentredOnThePointerAndInsideTheScreen) {
    const struct {
        int px, py, w, h, sx, sy, sw, sh;
        int x, y;
    } cases[] = {
        {500, 400, 60, 180, 0, 0, 1920, 1080, 470, 310},     // centred
        {501, 401, 61, 181, 0, 0, 1920, 1080, 471, 311},     // odd sizes: half rounds down
        {10, 400, 60, 180, 0, 0, 1920, 1080, 0, 310},        // left edge
        {1915, 400, 60, 180, 0, 0, 1920, 1080, 1860, 310},   // right edge
        {500, 5, 60, 180, 0, 0, 1920, 1080, 470, 0},         // top edge
        {500, 1079, 60, 180, 0, 0, 1920, 1080, 470, 900},    // bottom edge
        {0, 0, 60, 180, 0, 0, 1920, 1080, 0, 0},             // top-left corner
        {1919, 1079, 60, 180, 0, 0, 1920, 1080, 1860, 900},  // bottom-right corner
        {30, 90, 60, 180, 0, 0, 1920, 1080, 0, 0},           // just fits at the corner
        // A second screen right of the first, and one above-left of the origin.
        {1930, 20, 60, 180, 1920, 0, 1280, 1024, 1920, 0},
        {3195, 1020, 60, 180, 1920, 0, 1280, 1024, 3140, 844},
        {-1000, -700, 60, 180, -1280, -800, 1280, 800, -1030, -790},
        {-1275, -5, 60, 180, -1280, -800, 1280, 800, -1280, -180},
        // Larger than the screen: its top-left corner.
        {100, 100, 300, 400, 0, 0, 200, 300, 0, 0},
        // Pointer outside the screen rectangle: still inside.
        {-50, 5000, 60, 180, 0, 0, 1920, 1080, 0, 900},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.px << "," << c.py << " in " << c.sx << "," << c.sy
                                        << " " << c.sw << "x" << c.sh);
        const auto [x, y] = VolumePanelModel::placeAt(c.px, c.py, c.w, c.h, c.sx, c.sy, c.sw, c.sh);
        EXPECT_EQ(x, c.x);
        EXPECT_EQ(y, c.y);
    }
}

// ---- Web link ----

struct FakeLauncher : Launcher {
    bool works = true;
    std::vector<std::string> opened;
    bool open(const std::string& target) override {
        opened.push_back(target);
        return works;
    }
};

struct RecordingDialogs : DialogService {
    std::vector<MessageBoxRequest> boxes;
    DialogButton messageBox(const MessageBoxRequest& request) override {
        boxes.push_back(request);
        return DialogButton::Ok;
    }
    QuestionAnswer question(const QuestionRequest&) override { return {}; }
    std::optional<std::string> chooseFile(const FileDialogRequest&) override { return {}; }
    std::optional<std::string> chooseFolder(const std::string&, const std::string&) override {
        return {};
    }
};

TEST(WebLink, GuessesTheSchemeAndKeepsAGivenOne) {
    const struct {
        const char* address;
        const char* opened;
    } cases[] = {
        {"www.velora.example", "http://www.velora.example"},
        {"www.velora.example/player/", "http://www.velora.example/player/"},
        {"velora.example", "http://velora.example"},
        {"WWW.Velora.Example/A?b=c&d#e", "http://WWW.Velora.Example/A?b=c&d#e"},
        {"ftp.velora.example/pub/", "ftp://ftp.velora.example/pub/"},
        {"FTP.velora.example", "ftp://FTP.velora.example"},
        {"ftpsite.example", "http://ftpsite.example"},
        {"team@velora.example", "mailto:team@velora.example"},
        {"user@velora.example/page", "http://user@velora.example/page"},
        {"localhost:8080", "http://localhost:8080"},
        {"localhost:8080/status", "http://localhost:8080/status"},
        {"www.velora.example:8080/x", "http://www.velora.example:8080/x"},
        {"127.0.0.1/x", "http://127.0.0.1/x"},
        {"http://www.velora.example/", "http://www.velora.example/"},
        {"https://www.velora.example/a%20b", "https://www.velora.example/a%20b"},
        {"HTTPS://www.velora.example", "HTTPS://www.velora.example"},
        {"ftp://ftp.velora.example/pub", "ftp://ftp.velora.example/pub"},
        {"mailto:team@velora.example", "mailto:team@velora.example"},
        {"http://[::1]:8080/", "http://[::1]:8080/"},
        {"https://www.v\xc3\xa9lora.example/", "https://www.v\xc3\xa9lora.example/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        FakeLauncher launcher;
        RecordingDialogs dialogs;
        WebLink link(launcher, dialogs);
        EXPECT_TRUE(link.open(c.address));
        ASSERT_EQ(launcher.opened.size(), 1u);
        EXPECT_EQ(launcher.opened[0], c.opened);
        EXPECT_TRUE(dialogs.boxes.empty());
    }
}

TEST(WebLink, RefusedAddressesShowTheMessageAndOpenNothing) {
    const char* refused[] = {
        "",
        " ",
        "www.velora.example/a b",
        " www.velora.example",
        "www.velora.example\n",
        "www.velora.example\tx",
        "http://www.velora.example/\r",
        "www.velora.example\x7f",
        "file:///etc/passwd",
        "javascript:alert(1)",
        "data:text/html,hi",
        "ssh://host",
        "x-scheme-handler:foo",
        "http:",
        "http:www.velora.example",
        "http://",
        "http:///etc/passwd",
        "https:/host",
        "mailto:",
        "-h",
        "--help",
        "/etc/passwd",
        "./index.html",
        "~/page.html",
        ":8080",
    };
    for (const char* address : refused) {
        SCOPED_TRACE(address);
        FakeLauncher launcher;
        RecordingDialogs dialogs;
        WebLink link(launcher, dialogs);
        EXPECT_FALSE(link.open(address));
        EXPECT_TRUE(launcher.opened.empty());
        ASSERT_EQ(dialogs.boxes.size(), 1u);
        EXPECT_EQ(dialogs.boxes[0].text, browserProblemText(address));
        EXPECT_EQ(dialogs.boxes[0].buttons, DialogButtons::Ok);
        EXPECT_FALSE(browserAddress(address).has_value());
    }
}

TEST(WebLink, ABrowserThatDoesNotStartGivesTheExactMessage) {
    FakeLauncher launcher;
    launcher.works = false;
    RecordingDialogs dialogs;
    WebLink link(launcher, dialogs);
    EXPECT_FALSE(link.open("www.velora.example/player/"));
    ASSERT_EQ(launcher.opened.size(), 1u);
    EXPECT_EQ(launcher.opened[0], "http://www.velora.example/player/");
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    // The address as the user gave it, not the guessed one.
    EXPECT_EQ(dialogs.boxes[0].text,
              "There appears to be a configuration problem with your web browser.\n"
              "Please visit www.velora.example/player/ on the internet.");
}

TEST(WebLink, EveryAboutLogoAddressOpensAsItStands) {
    for (const AboutLogo& logo : kAboutLogos) {
        SCOPED_TRACE(logo.address);
        EXPECT_EQ(browserAddress(logo.address), std::optional<std::string>(logo.address));
    }
}

// ---- About box ----

TEST(AboutText, VersionLineFormat) {
    const struct {
        int major, minor, build, revision;
        const char* date;
        const char* line;
    } cases[] = {
        {0, 1, 0, 0, "Dec  9 2026", "Version 0.1.0 (Build 0) Dec  9 2026"},
        {2, 10, 3, 412, "Dec 18 2001", "Version 2.10.3 (Build 412) Dec 18 2001"},
        {1, 0, 0, 65535, "Jan  1 2000", "Version 1.0.0 (Build 65535) Jan  1 2000"},
        {-1, 0, 0, 0, "", "Version -1.0.0 (Build 0) "},
        {2147483647, 2147483647, 2147483647, 2147483647, "Feb 29 2028",
         "Version 2147483647.2147483647.2147483647 (Build 2147483647) Feb 29 2028"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(aboutVersionLine(c.major, c.minor, c.build, c.revision, c.date), c.line);
    }
}

TEST(AboutText, TheProgramsOwnVersionLine) {
    const std::string line = aboutVersionLine();
    const ProgramVersion v = programVersion();
    // The library may have been compiled on another day than this test: the date is only
    // held to __DATE__'s form, a blank before a one-digit day.
    const std::string head = aboutVersionLine(v.major, v.minor, v.build, v.revision, "");
    ASSERT_GT(line.size(), head.size());
    EXPECT_EQ(line.substr(0, head.size()), head);
    // "Mmm dd yyyy": a month's name, the day (a blank before one digit), four digits.
    const std::string date = line.substr(head.size());
    ASSERT_EQ(date.size(), 11u) << line;
    EXPECT_NE(std::string("JanFebMarAprMayJunJulAugSepOctNovDec").find(date.substr(0, 3)), std::string::npos)
        << line;
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    EXPECT_TRUE(date[3] == ' ' && (date[4] == ' ' || (date[4] >= '1' && date[4] <= '3')) && digit(date[5]) &&
                date[6] == ' ' && digit(date[7]) && digit(date[8]) && digit(date[9]) && digit(date[10]))
        << line;
    EXPECT_EQ(std::string(__DATE__).size(), line.size() - head.size());
    EXPECT_STREQ(kProductName, "Velora Audio Player");
}

TEST(AboutText, TheVersionIsTheProjectsVersion) {
    std::string text;
    ASSERT_TRUE(readWholeFile(std::string(VELORA_SOURCE_DIR) + "/CMakeLists.txt", text));
    const std::size_t at = text.find(" VERSION ", text.find("project("));
    ASSERT_NE(at, std::string::npos);
    int major = -1, minor = -1, patch = -1;
    ASSERT_EQ(std::sscanf(text.c_str() + at, " VERSION %d.%d.%d", &major, &minor, &patch), 3);
    const ProgramVersion v = programVersion();
    EXPECT_EQ(v.major, major);
    EXPECT_EQ(v.minor, minor);
    EXPECT_EQ(v.build, patch);
    EXPECT_GE(v.revision, 0);
}

}  // namespace
}  // namespace veloraplay

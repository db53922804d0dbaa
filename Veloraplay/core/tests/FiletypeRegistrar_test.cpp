#include "FiletypeRegistrar.h"
#include "AtomicFile.h"
#include "PlayerSettings.h"
#include "ScriptedDialogService.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

namespace veloraplay {
namespace {

using test::TempFolder;

struct Desktop {
    TempFolder dir;
    std::string program = "/usr/bin/veloraplay";
    RegistrarPaths paths() const {
        return RegistrarPaths{
            dir / "data/applications", {dir / "system"}, dir / "config/mimeapps.list", program};
    }
    std::string mimeapps() const {
        std::string text;
        readWholeFile(dir / "config/mimeapps.list", text);
        return text;
    }
};

// One start: the check with the scripted answer (empty: no answer given).
int startWith(Desktop& desktop, SettingsStore& settings, const std::string& answer) {
    ScriptedDialogService dialogs(nullptr);
    if (!answer.empty()) dialogs.addAnswer(kAssociateTitle, answer);
    FiletypeRegistrar(desktop.paths(), settings, dialogs, nullptr).check();
    return dialogs.shownCount();
}

TEST(FiletypeRegistrar, DesktopEntryCarriesTheEncodeActionAndIsRefreshedEveryStart) {
    Desktop desktop;
    desktop.program = "/opt/my \"player\"/veloraplay";
    SettingsStore settings(desktop.dir / "s.ini");
    startWith(desktop, settings, "No checked");
    const std::string file = desktop.dir / "data/applications/veloraplay.desktop";
    std::string text;
    ASSERT_TRUE(readWholeFile(file, text));
    EXPECT_NE(text.find("[Desktop Action Veloraify]\nName=&Encode to Velora\n"), std::string::npos);
    EXPECT_NE(text.find("Exec=\"/opt/my \\\\\"player\\\\\"/veloraplay\" /ENCODE %f\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(splitExecValue(desktopEntryValue(text, "Exec")),
              (std::vector<std::string>{desktop.program, "%f"}));

    ASSERT_TRUE(writeFileAtomically(file, "stale", 0644));
    EXPECT_EQ(startWith(desktop, settings, ""), 0) << "declined for good: no question";
    ASSERT_TRUE(readWholeFile(file, text));
    EXPECT_NE(text.find("/ENCODE %f"), std::string::npos);
}

TEST(FiletypeRegistrar, NoWithTheBoxTickedIsNeverAskedAgain) {
    Desktop desktop;
    SettingsStore settings(desktop.dir / "s.ini");
    EXPECT_EQ(startWith(desktop, settings, "No"), 1);
    EXPECT_EQ(startWith(desktop, settings, "No checked"), 1) << "plain No asks again";
    EXPECT_EQ(desktop.mimeapps(), "");
    SettingsStore reread(desktop.dir / "s.ini");
    ASSERT_TRUE(reread.load());
    EXPECT_EQ(readSetting(reread, PlayerSetting::DefaultPlayerNot), 1);
    EXPECT_EQ(startWith(desktop, reread, "Yes"), 0);
    EXPECT_EQ(desktop.mimeapps(), "");
}

TEST(FiletypeRegistrar, YesWritesOnlyItsLineAndIsThenTheDefault) {
    Desktop desktop;
    const std::string before =
        "# my associations\r\n"
        "[Added Associations]\r\n"
        "audio/mpeg=other.desktop;\r\n"
        "[Default Applications]\r\n"
        "text/plain=editor.desktop\r\n"
        "audio/mpeg=other.desktop;\r\n"
        "image/png=viewer.desktop\r\n"
        "\r\n"
        "[Removed Associations]\r\n"
        "video/mp4=x.desktop";  // no newline at the end
    ASSERT_TRUE(writeFileAtomically(desktop.dir / "config/mimeapps.list", before, 0640));
    SettingsStore settings(desktop.dir / "s.ini");
    EXPECT_EQ(startWith(desktop, settings, "Yes"), 1);
    std::string expected = before;
    const std::string old = "audio/mpeg=other.desktop;\r\nimage";
    expected.replace(expected.find(old), old.size(), "audio/mpeg=veloraplay.desktop\r\nimage");
    EXPECT_EQ(desktop.mimeapps(), expected);
    EXPECT_EQ(test::modeOf(desktop.dir / "config/mimeapps.list"), 0640u);
    EXPECT_EQ(startWith(desktop, settings, "Yes"), 0) << "now the default: no question";
    EXPECT_FALSE(settings.contains("File Types", "Default Player.Not")) << "box not ticked";
}

TEST(FiletypeRegistrar, DefaultPlayerTest) {
    Desktop desktop;
    SettingsStore settings(desktop.dir / "s.ini");
    ScriptedDialogService dialogs(nullptr);
    FiletypeRegistrar registrar(desktop.paths(), settings, dialogs, nullptr);
    const struct {
        const char* list;
        const char* id;
        const char* entry;  // null: no such file
        bool ours;
    } cases[] = {
        {"[Default Applications]\naudio/mpeg=mine.desktop\n", "mine.desktop",
         "[Desktop Entry]\nExec=/usr/bin/veloraplay %f\n", true},
        {"[Default Applications]\naudio/mpeg=mine.desktop\n", "mine.desktop",
         "[Desktop Entry]\nExec=\"/USR/BIN/VeloraPlay\" %f\n",
         true},  // letter case as the registry
        {"[Default Applications]\naudio/mpeg=mine.desktop\n", "mine.desktop",
         "[Desktop Entry]\nExec=/usr/bin/veloraplay-old %f\n", false},  // only a prefix
        {"[Default Applications]\naudio/mpeg=mine.desktop\n", "mine.desktop",
         "[Desktop Entry]\nName=No command\n", false},
        {"[Default Applications]\naudio/mpeg=gone.desktop;mine.desktop;\n", "mine.desktop",
         "[Desktop Entry]\nExec=/usr/bin/veloraplay\n", true},  // the first installed one counts
        {"[Added Associations]\naudio/mpeg=mine.desktop\n", "mine.desktop",
         "[Desktop Entry]\nExec=/usr/bin/veloraplay\n", false},  // not a default
        {"[Default Applications]\naudio/mpeg=mine.desktop\n", "mine.desktop",
         "[Desktop Action X]\nExec=/usr/bin/veloraplay\n", false},
        {"", "mine.desktop", nullptr, false},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(writeFileAtomically(desktop.dir / "config/mimeapps.list", c.list, 0644));
        const std::string entry = desktop.dir / (std::string("system/applications/") + c.id);
        ::unlink(entry.c_str());
        if (c.entry) {
            ASSERT_TRUE(writeFileAtomically(entry, c.entry, 0644));
        }
        EXPECT_EQ(registrar.isDefaultPlayer("audio/mpeg"), c.ours)
            << c.list << (c.entry ? c.entry : "(no entry)");
    }
}

TEST(FiletypeRegistrar, MimeDefaultLandsInTheRightPlace) {
    EXPECT_EQ(withMimeDefault("", "audio/mpeg", "v.desktop"),
              "[Default Applications]\naudio/mpeg=v.desktop\n");
    EXPECT_EQ(withMimeDefault("[Other]\na=b", "audio/mpeg", "v.desktop"),
              "[Other]\na=b\n\n[Default Applications]\naudio/mpeg=v.desktop\n");
    EXPECT_EQ(
        withMimeDefault("[Default Applications]\nx/y=z\n\n[Next]\n", "audio/mpeg", "v.desktop"),
        "[Default Applications]\nx/y=z\naudio/mpeg=v.desktop\n\n[Next]\n");
}

}  // namespace
}  // namespace veloraplay

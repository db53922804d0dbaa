#include "FileTypeRegistrar.h"

#include "IniParser.h"
#include "MimeAppsList.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

namespace tessura {
namespace {

class Registration : public ::testing::Test {
  protected:
    Registration() : settings(folder.file("config/Quellmark/tessura.ini"), folder.file("program")) {
        programFolder.home = folder.file("program");
        programFolder.executablePath = folder.file("my $programs/tessura");
        programFolder.configHome = folder.file("config");
        programFolder.dataHome = folder.file("data");
    }
    FileTypeRegistrar registrar() {
        return FileTypeRegistrar(programFolder, settings,
                                 [this](const std::vector<std::string>& argv) { tools.push_back(argv.at(0)); });
    }
    test::TempFolder folder;
    SettingsStore settings;
    ProgramFolder programFolder;
    std::vector<std::string> tools;
};

const char* kMimeapps =
    "# the user's own notes\n"
    "[Added Associations]\n"
    "audio/mpeg=other.desktop;\n"
    "\n"
    "[Default Applications]\n"
    "text/plain=editor.desktop;\n"
    "audio/mpeg=player.desktop;other.desktop;\n"
    "\n"
    "[Removed Associations]\n"
    "image/png=viewer.desktop;\n";

TEST_F(Registration, RegisteringTakesTheTypesAndUnregisteringGivesThemBack) {
    folder.write("config/mimeapps.list", kMimeapps);
    FileTypeRegistrar r = registrar();
    EXPECT_FALSE(r.IsDefaultFor(mime::kMpeg));
    ASSERT_TRUE(r.Register({mime::kMpeg, mime::kPls}, FileTypeTexts{}));
    EXPECT_TRUE(r.IsDefaultFor(mime::kMpeg));
    EXPECT_TRUE(r.IsDefaultFor(mime::kPls));
    EXPECT_FALSE(r.IsDefaultFor(mime::kM3u));
    EXPECT_EQ(folder.read("config/mimeapps.list"),
              "# the user's own notes\n"
              "[Added Associations]\n"
              "audio/mpeg=other.desktop;\n"
              "\n"
              "[Default Applications]\n"
              "text/plain=editor.desktop;\n"
              "audio/mpeg=tessura.desktop;\n"
              "audio/x-scpls=tessura.desktop;\n"
              "\n"
              "[Removed Associations]\n"
              "image/png=viewer.desktop;\n");
    EXPECT_EQ(tools, (std::vector<std::string>{"update-desktop-database", "update-mime-database"}));
    // Registering again keeps the first owner.
    ASSERT_TRUE(r.Register({mime::kMpeg}, FileTypeTexts{}));
    EXPECT_EQ(settings.StoredValue(kOldHandlersSection, mime::kMpeg), "player.desktop;other.desktop;");

    // Another copy of the program at another path is not the default player.
    ProgramFolder elsewhere = programFolder;
    elsewhere.executablePath = folder.file("other/tessura");
    EXPECT_FALSE(FileTypeRegistrar(elsewhere, settings, [](const auto&) {}).IsDefaultFor(mime::kMpeg));

    ASSERT_TRUE(r.Unregister({mime::kMpeg, mime::kPls}));
    EXPECT_EQ(folder.read("config/mimeapps.list"), kMimeapps);
    EXPECT_FALSE(settings.StoredValue(kOldHandlersSection, mime::kMpeg).has_value());
}

TEST_F(Registration, TheDesktopEntryCarriesOneActionPerVerbWithTheProgramQuoted) {
    FileTypeTexts texts;
    texts.play = "&Play";
    texts.install = "Install into Tessura";
    texts.skinType = "Tessura <Skin>";
    ASSERT_TRUE(registrar().Register({mime::kSkin}, texts));
    INIParser entry;
    ASSERT_EQ(entry.Open(folder.file("data/applications/tessura.desktop")), 0);
    const std::string program = "\"" + folder.file("my \\\\$programs/tessura") + "\"";
    EXPECT_EQ(entry.Find("Desktop Entry", "Exec"), program + " %F");
    EXPECT_EQ(entry.Find("Desktop Entry", "Actions"), "Play;AddToPlaylist;Open;InstallSkin;");
    EXPECT_EQ(entry.Find("Desktop Action Play", "Name"), "Play");
    EXPECT_EQ(entry.Find("Desktop Action AddToPlaylist", "Name"), "Add to playlist");
    EXPECT_EQ(entry.Find("Desktop Action AddToPlaylist", "Exec"), program + " -appendonly %F");
    EXPECT_EQ(entry.Find("Desktop Action InstallSkin", "Exec"), program + " -installskin %F");
    EXPECT_EQ(entry.Find("Desktop Action InstallSkin", "Name"), "Install into Tessura");
    const std::string mimeType = folder.read("data/mime/packages/tessura.xml");
    EXPECT_NE(mimeType.find("<glob pattern=\"*.tgf\"/>"), std::string::npos);
    EXPECT_NE(mimeType.find("<comment>Tessura &lt;Skin&gt;</comment>"), std::string::npos);
    // No mimeapps.list before: one is made with just our defaults.
    EXPECT_EQ(folder.read("config/mimeapps.list"),
              "[Default Applications]\napplication/x-tessura-skin=tessura.desktop;\n");
}

TEST_F(Registration, TheAudioCdHandlerIsSwitchedOnAndBackOff) {
    folder.write("config/mimeapps.list", "[Default Applications]\nx-content/audio-cdda=cdplayer.desktop;\n");
    FileTypeRegistrar r = registrar();
    EXPECT_FALSE(r.IsAudioCdHandler());
    ASSERT_TRUE(r.SetAudioCdHandler(true));
    EXPECT_TRUE(r.IsAudioCdHandler());
    INIParser entry;
    ASSERT_EQ(entry.Open(folder.file("data/applications/tessura-audiocd.desktop")), 0);
    EXPECT_EQ(entry.Find("Desktop Entry", "Exec"), r.ProgramCommand() + " /cdinsert %f");
    ASSERT_TRUE(r.SetAudioCdHandler(true));  // twice: the old handler is still the one kept
    ASSERT_TRUE(r.SetAudioCdHandler(false));
    EXPECT_FALSE(r.IsAudioCdHandler());
    EXPECT_EQ(folder.read("config/mimeapps.list"), "[Default Applications]\nx-content/audio-cdda=cdplayer.desktop;\n");
}

TEST(ExecQuoting, ReservedCharactersAreEscapedTwice) {
    EXPECT_EQ(quoteExecArgument("/opt/tessura"), "\"/opt/tessura\"");
    EXPECT_EQ(quoteExecArgument("/a b/\"q\"/$x/`c`/100%"), "\"/a b/\\\\\"q\\\\\"/\\\\$x/\\\\`c\\\\`/100%%\"");
    EXPECT_EQ(quoteExecArgument("/back\\slash"), "\"/back\\\\\\\\slash\"");
}

TEST(MimeAppsList, KeepsAFileWithoutAFinalLineBreakAsItWas) {
    MimeAppsList list;
    list.load("[Default Applications]\naudio/mpeg=a.desktop;");
    EXPECT_EQ(list.firstDefaultFor("AUDIO/MPEG"), "a.desktop");
    list.setDefault("audio/x-wav", "b.desktop;");
    EXPECT_EQ(list.text(), "[Default Applications]\naudio/mpeg=a.desktop;\naudio/x-wav=b.desktop;");
    list.removeDefault("audio/x-wav");
    EXPECT_EQ(list.text(), "[Default Applications]\naudio/mpeg=a.desktop;");
}

}  // namespace
}  // namespace tessura

#include "LanguageStore.h"

#include "ScriptedDialogService.h"
#include "SettingsStore.h"
#include "StartupLanguage.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include "AtomicFile.h"

#include <filesystem>
#include <set>

namespace tessura {
namespace {

const char* kEnglish =
    "<?xml version=\"1.0\"?>\n"
    "<Translation>\n"
    "  <Language>English</Language>\n"
    "  <resource>english</resource>\n"
    "  <help>help</help>\n"
    "  <item name=\"nav/play\">Play</item>\n"
    "  <item name=\"main/volume\">Volume: %d%%</item>\n"
    "  <item name=\"errors/unabletoopen\">Unable to open %s (%s %s)</item>\n"
    "  <item name=\"only/english\">English only</item>\n"
    "</Translation>\n";

// Two translations in one file, one of them with a format that would crash printf.
const char* kOthers =
    "<Translation>\n"
    "  <Language>Deutsch</Language>\n"
    "  <resource>deutsch</resource>\n"
    "  <help>hilfe</help>\n"
    "  <item name=\"NAV/PLAY\">Abspielen</item>\n"
    "  <item name=\"main/volume\">Lautst\xC3\xA4rke: %s%n</item>\n"
    "</Translation>\n"
    "<Translation>\n"
    "  <Language>Plain</Language>\n"
    "</Translation>\n";

class LanguageFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        folder.write("system/english.lng", kEnglish);
        folder.write("system/others.LNG", kOthers);
        folder.write("system/broken.lng", "<Translation>\n<Language>Broken</Language>\n");
        folder.write("system/notes.txt", "<Translation><Language>Ignored</Language></Translation>");
    }
    test::TempFolder folder;
};

TEST_F(LanguageFiles, ListsTheLanguagesAndReportsTheFileThatDoesNotParse) {
    LanguageStore store;
    const auto errors = store.LoadLanguageList(folder.file("system"));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].title, "Error loading language file 'broken.lng'");
    EXPECT_EQ(errors[0].text,
              "Couldn't parse XML : XML code ends with an open tag, tag started on line 1 of file broken.lng");
    std::set<std::string> names;
    for (const auto& l : store.Languages()) names.insert(l.name);
    EXPECT_EQ(names, (std::set<std::string>{"English", "Deutsch", "Plain"}));
}

TEST_F(LanguageFiles, SelectsByNameAndTellsWhyItCannot) {
    LanguageStore store;
    store.LoadLanguageList(folder.file("system"));
    EXPECT_EQ(store.SelectLanguage("Klingon"), LanguageStore::kNotOffered);
    EXPECT_EQ(store.SelectLanguage("deutsch"), LanguageStore::kSelected);
    EXPECT_EQ(store.SelectedName(), "Deutsch");

    // The file changed since it was listed.
    folder.write("system/others.LNG", "<Translation><Language>Deutsch</Language>");
    EXPECT_EQ(store.SelectLanguage("Deutsch"), LanguageStore::kFileNoLongerParses);
    folder.write("system/others.LNG", "<Translation><Language>Dansk</Language></Translation>");
    EXPECT_EQ(store.SelectLanguage("Deutsch"), LanguageStore::kNoSuchTranslation);
    EXPECT_EQ(store.SelectedName(), "Deutsch");  // a failed selection keeps the last one
}

TEST_F(LanguageFiles, TextFallsBackToEnglishAndThenToTheKey) {
    LanguageStore store;
    store.LoadLanguageList(folder.file("system"));
    ASSERT_EQ(store.SelectLanguage("Deutsch"), 0);
    EXPECT_EQ(store.Text("nav/play"), "Abspielen");
    EXPECT_EQ(store.Text("Nav/Play"), "Abspielen");
    EXPECT_EQ(store.Text("only/english"), "English only");
    EXPECT_EQ(store.Text("only/english", false), "only/english");
    EXPECT_EQ(store.Text("errors/notranslation"), "errors/notranslation");
    EXPECT_EQ(store.ResourceName("/jpeg/%s/navbuttons"), "/jpeg/deutsch/navbuttons");
    EXPECT_EQ(store.HelpName("%s/index.html"), "hilfe/index.html");

    ASSERT_EQ(store.SelectLanguage("Plain"), 0);  // no resource or help words: the defaults
    EXPECT_EQ(store.ResourceName("/jpeg/%s/navbuttons"), "/jpeg/english/navbuttons");
    EXPECT_EQ(store.HelpName("%s"), "help");
}

TEST_F(LanguageFiles, AFormatThatDoesNotFitItsValuesIsNotUsed) {
    LanguageStore store;
    store.LoadLanguageList(folder.file("system"));
    ASSERT_EQ(store.SelectLanguage("Deutsch"), 0);
    // The German "%s%n" would write through a number: the English format is used instead.
    EXPECT_EQ(store.Format("main/volume", {50LL}), "Volume: 50%");
    EXPECT_EQ(store.Format("errors/unabletoopen", {std::string_view("a.mp3"), std::string_view("x"),
                                                   std::string_view("y")}),
              "Unable to open a.mp3 (x y)");
    // Neither fits: the key and the values.
    EXPECT_EQ(store.Format("errors/unabletoopen", {1LL}), "errors/unabletoopen 1");
    EXPECT_EQ(store.Format("no/such", {std::string_view("v")}), "no/such v");
}

TEST_F(LanguageFiles, StartUpTakesTheSettingThenEnglishElseCannotRun) {
    SettingsStore settings(folder.file("config/tessura.ini"), folder.path());
    ScriptedDialogService dialogs(nullptr);
    settings.SetSetting("General Preferences 0.80", "Language", "Klingon");
    LanguageStore store;
    ASSERT_TRUE(SelectStartupLanguage(store, settings, dialogs, folder.file("system")));
    EXPECT_EQ(store.SelectedName(), "English");
    ASSERT_EQ(dialogs.shown().size(), 1u);  // the broken file
    EXPECT_EQ(dialogs.shown()[0].rfind("Error loading language file 'broken.lng' | Couldn't parse XML : ", 0), 0u);

    std::filesystem::remove(folder.file("system/english.lng"));
    LanguageStore none;
    ScriptedDialogService quiet(nullptr);
    EXPECT_FALSE(SelectStartupLanguage(none, settings, quiet, folder.file("system")));
    EXPECT_EQ(quiet.shown().back(), "Files Missing | Error loading languages - can not run Tessura");
}

// Every quoted text of the form "area/name" with one of the program's key areas.
std::set<std::string> languageKeysIn(const std::string& code) {
    static const char* const kAreas[] = {"about", "ddraw", "eq", "errors", "html", "internet", "jump", "main",
                                         "mid", "misc", "nav", "openfile", "player", "playlist",
                                         "settings", "vis"};
    auto isKeyChar = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
               c == '/';
    };
    std::set<std::string> keys;
    for (const char* area : kAreas) {
        const std::string opening = std::string("\"") + area + "/";
        for (std::size_t at = code.find(opening); at != std::string::npos; at = code.find(opening, at + 1)) {
            std::size_t end = at + opening.size();
            while (end < code.size() && isKeyChar(code[end])) ++end;
            if (end < code.size() && code[end] == '"' && end > at + opening.size()) {
                keys.insert(code.substr(at + 1, end - at - 1));
            }
        }
    }
    return keys;
}

// The shipped language file parses, is English, and holds every key the program's sources name,
// and its formats are well formed.
TEST(ShippedLanguageFile, HoldsEveryKeyTheProgramUses) {
    const std::string root = std::string(VELORA_SOURCE_DIR) + "/tessura";
    LanguageStore store;
    ASSERT_TRUE(store.LoadLanguageList(root + "/system").empty());
    ASSERT_EQ(store.SelectLanguage("English"), 0);

    std::set<std::string> used{"tessura"};
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".cpp" && ext != ".h") continue;
        if (entry.path().string().find("/tests/") != std::string::npos) continue;
        std::string code;
        ASSERT_TRUE(readWholeFile(entry.path().string(), code));
        for (const std::string& key : languageKeysIn(code)) used.insert(key);
    }
    for (const std::string& key : used) {
        EXPECT_NE(store.Text(key, false), key) << "no translation of " << key;
    }
    std::string bytes;
    ASSERT_TRUE(readWholeFile(root + "/system/english.lng", bytes));
    XmlParser parser;
    XmlElement doc;
    ASSERT_TRUE(parser.Parse(bytes, "english.lng", doc));
    int items = 0;
    for (const XmlElement& item : doc.children.at(0).children) {
        if (item.name != "item") continue;
        ++items;
        EXPECT_TRUE(isWellFormedFormat(item.text)) << *item.attribute("name");
    }
    EXPECT_GT(items, 150);
    EXPECT_EQ(store.Text("html/songinfoheader").rfind("<html>", 0), 0u);
}

}  // namespace
}  // namespace tessura

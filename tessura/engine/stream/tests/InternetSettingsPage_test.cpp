// The internet tab's logic: the connection type's cycle and texts, its write failure, and the
// slider texts from the program's own language file.
#include "InternetSettingsPage.h"
#include "LanguageStore.h"
#include "ScriptedDialogService.h"
#include "SettingsStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace tessura {
namespace {

TEST(ConnectionType, CyclesThroughTheThreeChoices) {
    struct Row {
        int value, next;
        const char* key;
        bool connected;
    };
    const std::vector<Row> rows = {
        {0, 1, "settings/internet/none", false},  {1, 2, "settings/internet/lan", true},
        {2, 0, "settings/internet/modem", false}, {7, 1, "settings/internet/none", false},
        {-1, 1, "settings/internet/none", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(NextConnectionType(row.value), row.next) << row.value;
        EXPECT_STREQ(ConnectionTypeTextKey(row.value), row.key);
        EXPECT_EQ(ConnectionTypeConnected(row.value), row.connected) << row.value;
    }
}

TEST(ConnectionType, IsStoredAtTheTopOfTheStore) {
    const auto folder = std::filesystem::temp_directory_path() / ("tessura-conn-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    {
        SettingsStore store((folder / "tessura.ini").string(), (folder / "program").string());
        ScriptedDialogService dialogs(nullptr);
        EXPECT_EQ(ReadConnectionType(store), 0);
        EXPECT_EQ(AdvanceConnectionType(store, &dialogs, nullptr), 1);
        EXPECT_EQ(AdvanceConnectionType(store, &dialogs, nullptr), 2);
        SettingsStore reread((folder / "tessura.ini").string(), (folder / "program").string());
        EXPECT_EQ(ReadConnectionType(reread), 2);
        EXPECT_EQ(AdvanceConnectionType(store, &dialogs, nullptr), 0);
        EXPECT_TRUE(dialogs.shown().empty());
    }
    std::filesystem::remove_all(folder);
}

TEST(ConnectionType, AFailedWriteIsShownAndChangesNothing) {
    // A settings file whose folder is a regular file cannot be written.
    const auto blocker = std::filesystem::temp_directory_path() / ("tessura-block-" + std::to_string(::getpid()));
    std::FILE* file = std::fopen(blocker.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    SettingsStore store((blocker / "tessura.ini").string(), blocker.string());
    ScriptedDialogService dialogs(nullptr);
    EXPECT_EQ(AdvanceConnectionType(store, &dialogs, nullptr), 0);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0], "errors/nonfatalerror | errors/regerror");
    std::filesystem::remove(blocker);
}

TEST(InternetSliders, ShowTheirValuesThroughTheLanguageFile) {
    LanguageStore language;
    language.LoadLanguageList(VELORA_SOURCE_DIR "/tessura/system");
    ASSERT_EQ(language.SelectLanguage("English"), LanguageStore::kSelected);
    const std::vector<std::pair<std::string, std::string>> rows = {
        {BufferSizeText(language, 64), "Buffer size: 64 KB"},
        {PreBufferText(language, 50), "Pre-buffer: 50%"},
        {PreBufferText(language, 0), "Pre-buffer: off"},
    };
    for (const auto& [shown, expected] : rows) EXPECT_EQ(shown, expected);
}

}  // namespace
}  // namespace tessura

// The stream title joined from the audiocast headers, and the stream settings' clamps.
#include "Preferences.h"
#include "SettingsStore.h"
#include "StreamSettings.h"
#include "StreamTitle.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace tessura {
namespace {

using Text = std::optional<std::string>;

TEST(JoinStreamTitle, JoinsTheHeadersAsTheyStand) {
    struct Row {
        Text streamTitle, name, description, genre, openText;
        bool result;
        std::string streamText, title;
    };
    const Text none;
    const std::vector<Row> rows = {
        {none, "A", "B", none, none, true, "A / B", ""},
        {"T", "A", none, none, none, true, "T - A", ""},
        {"T", none, "D", none, none, true, "T - D", ""},
        {"T", "A", "D", "G", none, true, "T - A / D", "G"},
        {none, "A", none, "G", none, true, "A", "G"},
        {none, none, "D", none, none, true, "D", ""},
        {"", "A", none, none, none, true, "A", ""},
        {none, none, none, "G", "Open", true, "", "G"},
        {none, none, none, none, "Open", true, "Open", ""},
        {none, none, none, none, "", false, "", ""},
        {none, none, none, none, none, false, "", ""},
    };
    for (const Row& row : rows) {
        StreamInfo info;
        const bool result = JoinStreamTitle({row.streamTitle, row.name, row.description, row.genre}, row.openText, info);
        EXPECT_EQ(result, row.result) << row.streamText;
        EXPECT_EQ(info.streamText, row.streamText);
        EXPECT_EQ(info.title, row.title);
    }
}

TEST(StreamSettings, ClampsAndDerivesTheThreshold) {
    struct Row {
        int bufferKb, percent;
        std::size_t ringBytes;
        int64_t threshold;
    };
    const std::vector<Row> rows = {
        {64, 50, 65536, 32768},  {64, 0, 65536, 0},         {10, 50, 24576, 12288},
        {1000, 50, 262144, 131072}, {64, 30, 65536, 19456},  {64, 100, 65536, 65536 - 512},
        {64, 150, 65536, 65536 - 512}, {64, -20, 65536, 0},  {24, 1, 24576, 0},
    };
    for (const Row& row : rows) {
        StreamSettings s;
        s.bufferKb = row.bufferKb;
        s.preBufferPercent = row.percent;
        EXPECT_EQ(StreamRingBytes(s), row.ringBytes) << row.bufferKb << " " << row.percent;
        EXPECT_EQ(PreBufferThreshold(s), row.threshold) << row.bufferKb << " " << row.percent;
        EXPECT_LT(PreBufferThreshold(s), static_cast<int64_t>(StreamRingBytes(s)));
    }
}

TEST(StreamSettings, ReadsThePreferencesWithThePasswordInClear) {
    const auto folder = std::filesystem::temp_directory_path() / ("tessura-stream-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    {
        SettingsStore store((folder / "a" / "tessura.ini").string(), (folder / "program").string());
        store.SetSettingInt(kPreferencesSection, "StreamBufferSize", 10);
        store.SetSettingInt(kPreferencesSection, "StreamPreBufferSize", 20);
        store.SetSettingInt(kPreferencesSection, "UseWebProxy", 1);
        store.SetSetting(kPreferencesSection, "WebProxyURL", "proxy:3128");
        store.SetSettingInt(kPreferencesSection, "UseWebProxyAuth", 1);
        store.SetSetting(kPreferencesSection, "WebProxyUserName", "me");
        store.SetSetting(kPreferencesSection, "WebProxyPassword", scramblePassword("secret"));
        const StreamSettings s = LoadStreamSettings(store);
        EXPECT_EQ(s.bufferKb, 24);
        EXPECT_EQ(s.preBufferPercent, 20);
        EXPECT_TRUE(s.useProxy);
        EXPECT_EQ(s.proxyUrl, "proxy:3128");
        EXPECT_TRUE(s.useProxyAuth);
        EXPECT_EQ(s.proxyUser, "me");
        EXPECT_EQ(s.proxyPassword, "secret");

        SettingsStore empty((folder / "b" / "tessura.ini").string(), (folder / "program").string());
        const StreamSettings d = LoadStreamSettings(empty);
        EXPECT_EQ(d.bufferKb, 64);
        EXPECT_EQ(d.preBufferPercent, 50);
        EXPECT_FALSE(d.useProxy);
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tessura

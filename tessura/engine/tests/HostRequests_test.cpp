// An input module's host requests, the information page and the volume of the sound backends,
// table-driven.
#include "EngineTestKit.h"
#include "HostRequests.h"
#include "TrackInfoPage.h"
#include "audio/WaveOutDevice.h"

#include "Preferences.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tessura {
namespace {

class RecordingWindow final : public HostWindow {
  public:
    void* mainWindow() override { return this; }
    bool interfaceModeActive() override { return active; }
    void replayAudioCdPlaylist() override { calls.push_back("replay"); }
    void sendMessage(void* window, uint32_t message, intptr_t wparam, intptr_t) override {
        calls.push_back("send " + std::to_string(window == this) + " " + std::to_string(message) + " " +
                        std::to_string(wparam));
    }
    int currentMode() override { return 3; }
    void redrawModeWindow() override { calls.push_back("redraw"); }
    void switchModeAfter(int delayMs, int mode, int page) override {
        calls.push_back("switch " + std::to_string(delayMs) + " " + std::to_string(mode) + " " + std::to_string(page));
    }
    bool active = true;
    std::vector<std::string> calls;
};

TEST(HostRequests, AnswerAsTheTableSays) {
    test::TempFolder folder;
    test::writeBytes(folder.file("tessura.ini"),
                     "[General Preferences 0.80]\nUseWebProxy=1\nUseWebProxyAuth=0\n"
                     "WebProxyURL=http://proxy:8080\nWebProxyUserName=somebody\nAnimationTime=250\n");
    SettingsStore settings(folder.file("tessura.ini"), folder.path());
    settings.SetSetting(kPreferencesSection, "WebProxyPassword", scramblePassword("secret"));
    ThreadMessageQueue messages;
    RecordingWindow window;
    HostRequests requests(settings, messages, "/opt/tessura", &window);

    auto text = [&](int type) { return std::string(reinterpret_cast<const char*>(requests.handle(type, 0))); };
    EXPECT_EQ(requests.handle(HOST_REQUEST_USE_WEB_PROXY, 0), 1);
    EXPECT_EQ(requests.handle(HOST_REQUEST_USE_WEB_PROXY_AUTH, 0), 0);
    EXPECT_EQ(text(HOST_REQUEST_WEB_PROXY_URL), "http://proxy:8080");
    EXPECT_EQ(text(HOST_REQUEST_WEB_PROXY_USER), "somebody");
    EXPECT_EQ(text(HOST_REQUEST_WEB_PROXY_PASSWORD), "secret");
    EXPECT_EQ(text(HOST_REQUEST_PROGRAM_FOLDER), "/opt/tessura/");
    EXPECT_EQ(requests.handle(HOST_REQUEST_MAIN_WINDOW, 0), reinterpret_cast<intptr_t>(&window));
    window.active = false;
    EXPECT_EQ(requests.handle(HOST_REQUEST_MAIN_WINDOW, 0), 0);
    EXPECT_EQ(requests.handle(HOST_REQUEST_RESET_DISPLAY_COUNTER, 0), 0);
    EXPECT_EQ(requests.displayCounter(), -10);
    EXPECT_EQ(requests.handle(HOST_REQUEST_SET_FLAG, 0), 0);
    EXPECT_EQ(requests.handle(HOST_REQUEST_STATE_FLAG, 0), 0);
    EXPECT_EQ(requests.handle(77, 5), 0);
    EXPECT_EQ(requests.handle(HOST_REQUEST_RELOAD_CD_DUMP, 0), 0);

    // A status text is copied (bounded) and travels to the main thread.
    std::string longText(10000, 'a');
    EXPECT_EQ(requests.handle(HOST_REQUEST_STATUS_TEXT, reinterpret_cast<intptr_t>("Buffering 50%")), 0);
    EXPECT_EQ(requests.handle(HOST_REQUEST_STATUS_TEXT, reinterpret_cast<intptr_t>(longText.c_str())), 0);
    HostWindowMessage toWindow{&window, 0x111, 7, 0}, toMain{nullptr, 0x8204, 9, 0};
    EXPECT_EQ(requests.handle(HOST_REQUEST_SEND_MESSAGE, reinterpret_cast<intptr_t>(&toWindow)), 0);
    EXPECT_EQ(requests.handle(HOST_REQUEST_SEND_MESSAGE, reinterpret_cast<intptr_t>(&toMain)), 0);
    EXPECT_EQ(requests.handle(HOST_REQUEST_REFRESH_SONG, 0), 0);
    std::vector<std::string> posted;
    messages.drain([&](const ThreadMessage& m) {
        posted.push_back(std::to_string(m.code) + " " + std::to_string(m.wparam) + " " + std::to_string(m.text.size()));
    });
    EXPECT_EQ(posted, (std::vector<std::string>{std::to_string(0x822F) + " 0 13", std::to_string(0x822F) + " 0 4096",
                                                std::to_string(0x8204) + " 9 0", std::to_string(0x8225) + " 0 0"}));

    // The module's page: shown after the animation time in mode 2 page 11, then back.
    EXPECT_EQ(requests.handle(HOST_REQUEST_SHOW_MODULE_PAGE, 1234), 1);
    EXPECT_EQ(requests.modulePageCallback(), 1234);
    EXPECT_EQ(requests.handle(HOST_REQUEST_HIDE_MODULE_PAGE, 0), 1);
    EXPECT_EQ(requests.modulePageCallback(), 0);
    EXPECT_EQ(window.calls, (std::vector<std::string>{"replay", "send 1 273 7", "redraw", "switch 250 2 11",
                                                      "redraw", "switch 250 3 65533"}));
}

TEST(TrackInfoPage, WrapsTheTextOrTellsThereIsNone) {
    test::TempFolder folder;
    LanguageStore language;
    language.LoadLanguageList(VELORA_SOURCE_DIR "/tessura/system");
    ASSERT_EQ(language.SelectLanguage("English"), LanguageStore::kSelected);
    const std::string temp = folder.file("Temp");

    EXPECT_EQ(writeTrackInfoPage(temp, language, std::nullopt, 1).statusKey, "main/noextendedinfo");
    EXPECT_EQ(writeTrackInfoPage(temp, language, std::string(), 1).statusKey, "main/noextendedinfo");
    const TrackInfoPage page = writeTrackInfoPage(temp, language, std::string("<p>Track</p>"), 42);
    EXPECT_EQ(page.path, temp + "/tqi00042.html");
    EXPECT_EQ(test::readBytes(page.path), language.Text("html/songinfoheader") + "<p>Track</p>" +
                                              language.Text("html/songinfotrailer"));
    test::writeBytes(temp + "/keep.txt", "x");
    EXPECT_EQ(writeTrackInfoPage(temp, language, std::string("b"), 7).path, temp + "/tqi00007.html");
    EXPECT_EQ(removeTrackInfoPages(temp), 2);
    EXPECT_TRUE(std::filesystem::exists(temp + "/keep.txt"));
}

TEST(WaveOutVolume, ScalesEachChannelByItsLevel) {
    struct Case {
        uint32_t packed;
        int32_t bits, channels;
        std::vector<int16_t> in, out;
    } cases[] = {
        {0xFFFFFFFFu, 16, 2, {1000, -1000}, {1000, -1000}},
        {0xFFFF0000u, 16, 2, {1000, -1000}, {0, -1000}},       // left silent
        {0x0000FFFFu, 16, 2, {1000, -1000}, {1000, 0}},
        {0x80008000u, 16, 2, {32767, -32768}, {16383, -16384}},
        {0x8000FFFFu, 16, 1, {32767, -32768}, {32767, -32768}},  // mono follows the left level
    };
    for (const Case& c : cases) {
        std::vector<int16_t> samples = c.in;
        applyVolume(reinterpret_cast<uint8_t*>(samples.data()), samples.size() * 2, c.bits, c.channels, c.packed);
        EXPECT_EQ(samples, c.out) << std::hex << c.packed;
    }
    uint8_t eight[2] = {255, 0};
    applyVolume(eight, 2, 8, 2, 0x80008000u);
    EXPECT_EQ(eight[0], 128 + 63);
    EXPECT_EQ(eight[1], 128 - 64);
}

}  // namespace
}  // namespace tessura

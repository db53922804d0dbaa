// The built-in output's settings page, its settings and its refusal of a device that does not
// open.
#include "EngineTestKit.h"
#include "PluginHost.h"
#include "WaveAudioOutput.h"
#include "WaveOutputSettingsPage.h"

#include "ScriptedDialogService.h"

#include <gtest/gtest.h>

#include <map>

namespace tessura {
namespace {

// What the settings screen was asked to do, in order.
struct ScreenLog {
    std::vector<std::string> calls;
    intptr_t selection = 0;
};
ScreenLog gScreen;

intptr_t screenRequest(SettingsPage*, int32_t control, int32_t request, intptr_t value) {
    std::string line = std::to_string(control) + ":" + std::to_string(request) + ":";
    if (request == SETTINGS_REQUEST_ADD_ITEM || request == SETTINGS_REQUEST_SET_TEXT) {
        line += reinterpret_cast<const char*>(value);
    } else {
        line += std::to_string(value);
    }
    gScreen.calls.push_back(line);
    return request == SETTINGS_REQUEST_GET_SELECTION ? gScreen.selection : 0;
}

std::unique_ptr<WaveOutDevice> nullDevice(int) {
    return createWaveOutDevice("null", -1);
}

TEST(WaveAudioOutput, SettingsPageShowsAndStoresTheDeviceSettings) {
    test::TempFolder folder;
    ScriptedDialogService dialogs(nullptr);
    {
        SettingsStore settings(folder.file("tessura.ini"), folder.path());
        WaveAudioOutput output(settings, dialogs, nullDevice, {"Card A", "Card B"});
        OutputInterface* iface = output.outputInterface();
        PluginInfo info{};
        ASSERT_EQ(iface->table->GetInfo(iface, &info), 0);
        EXPECT_STREQ(info.name, "Windows Audio Output");
        EXPECT_TRUE(sameGuid(info.guid, kBuiltinOutputGuid));

        SettingsPage* page = nullptr;
        ASSERT_EQ(iface->table->GetSettingsPage(iface, &page), 0);
        ASSERT_EQ(page->count, 7);
        const int32_t order[] = {0, 3, 4, 1, 2, 5, 6};
        const int32_t kinds[] = {4099, 4099, 4100, 4099, 4098, 4099, 4098};
        for (int i = 0; i < 7; ++i) {
            EXPECT_EQ(page->controls[i].control, order[i]);
            EXPECT_EQ(page->controls[i].kind, kinds[i]);
            EXPECT_EQ(page->controls[i].layout0, -300 - 150 * i);
            EXPECT_EQ(page->controls[i].layout1, 100 * (i + 1));
        }
        EXPECT_STREQ(page->controls[0].text, "Windows Audio Output");
        EXPECT_STREQ(page->controls[1].text, "Select Output Device:");

        gScreen = {};
        page->handler(page, SETTINGS_PAGE_OPENED, 0, 0, &screenRequest);
        const std::vector<std::string> opened = {
            "4:65805:0", "4:65803:Wave Mapper", "4:65803:Card A", "4:65803:Card B",
            "4:65798:0",  // device -1 (the mapper) is item 0
            "1:65806:Buffer Fragment Size: (32k)", "2:65800:" + std::to_string((32 << 16) | 4), "2:65798:32",
            "5:65806:Number Of Buffers : 9", "6:65800:" + std::to_string((9 << 16) | 3), "6:65798:9"};
        EXPECT_EQ(gScreen.calls, opened);

        gScreen = {};
        page->handler(page, SETTINGS_PAGE_CHANGED, 2, 8, &screenRequest);
        page->handler(page, SETTINGS_PAGE_CHANGED, 6, 40, &screenRequest);  // beyond the range
        EXPECT_EQ(gScreen.calls, (std::vector<std::string>{"1:65806:Buffer Fragment Size: (8k)",
                                                           "5:65806:Number Of Buffers : 9"}));
        gScreen.selection = 2;
        page->handler(page, SETTINGS_PAGE_CLOSED, 0, 0, &screenRequest);  // frees the page
        EXPECT_EQ(output.deviceSettings().outputDevice, 1);
        EXPECT_EQ(output.deviceSettings().fragmentSize, 8192);

        // A selection of 0 is the wave mapper again.
        ASSERT_EQ(iface->table->GetSettingsPage(iface, &page), 0);
        gScreen.selection = 0;
        page->handler(page, SETTINGS_PAGE_CLOSED, 0, 0, &screenRequest);
        EXPECT_EQ(output.deviceSettings().outputDevice, -1);
    }
    // Written back when the output goes.
    SettingsStore reread(folder.file("tessura.ini"), folder.path());
    EXPECT_EQ(reread.GetSettingInt("General Preferences 0.80", "WAOFragmentSize", 0), 8192);
    EXPECT_EQ(reread.GetSettingInt("General Preferences 0.80", "WAONumBuffers", 0), 9);
    EXPECT_EQ(reread.GetSettingInt("General Preferences 0.80", "WAOOutputDevice", 0), -1);
}

TEST(WaveAudioOutput, StoredSettingsOutsideTheirRangesAreClamped) {
    test::TempFolder folder;
    test::writeBytes(folder.file("tessura.ini"),
                     "[General Preferences 0.80]\nWAOFragmentSize=99999999\nWAONumBuffers=1000\n"
                     "WAOOutputDevice=-7\n");
    ScriptedDialogService dialogs(nullptr);
    SettingsStore settings(folder.file("tessura.ini"), folder.path());
    WaveAudioOutput output(settings, dialogs, nullDevice);
    EXPECT_EQ(output.deviceSettings().fragmentSize, 32768);
    EXPECT_EQ(output.deviceSettings().numBuffers, 9);
    EXPECT_EQ(output.deviceSettings().outputDevice, -1);
}

TEST(WaveAudioOutput, ADeviceThatCannotOpenIsToldAndFails) {
    test::TempFolder folder;
    ScriptedDialogService dialogs(nullptr);
    SettingsStore settings(folder.file("tessura.ini"), folder.path());
    WaveAudioOutput output(settings, dialogs, [&](int) {
        return createWaveOutDevice("wav:" + folder.file("no/such/folder/out.wav"), -1);
    });
    int32_t rate = 44100, channels = 2, bits = 16;
    EXPECT_EQ(output.open(1, rate, channels, bits), TESSURA_RESULT_FAILED);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].rfind("Error Opening Audio Device... | cannot create ", 0), 0u) << dialogs.shown()[0];
    EXPECT_FALSE(output.stillPlaying());
}

}  // namespace
}  // namespace tessura

namespace tessura {
namespace {

// Plays `bytes` of silence through a wav: device of `format` and closes it.
void playThrough(const std::string& path, const WaveOutFormat& format, std::size_t bytes) {
    std::unique_ptr<WaveOutDevice> device = createWaveOutDevice("wav:" + path, -1);
    std::string error;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    ASSERT_TRUE(device->open(format, [&](const WaveOutBuffer&) {
        std::lock_guard<std::mutex> hold(mutex);
        finished = true;
        done.notify_all();
    }, error)) << error;
    const std::vector<uint8_t> silence(bytes, 0);
    WaveOutBuffer buffer;
    buffer.data = silence.data();
    buffer.length = static_cast<uint32_t>(bytes);
    device->write(buffer);
    std::unique_lock<std::mutex> hold(mutex);
    ASSERT_TRUE(done.wait_for(hold, std::chrono::seconds(5), [&] { return finished; }));
    hold.unlock();
    device->close();
}

TEST(WavBackend, GoesOnAppendingInOneFormatAndStartsTheNextFileForAnother) {
    test::TempFolder folder;
    const std::string path = folder.file("heard.wav");
    const WaveOutFormat stereo{44100, 2, 16}, mono{22050, 1, 16};
    playThrough(path, stereo, 1764);  // 10 ms each
    playThrough(path, stereo, 1764);
    playThrough(path, mono, 441);
    playThrough(path, stereo, 1764);

    struct Expected {
        const char* name;
        uint32_t channels, rate, dataBytes;
    };
    const Expected files[] = {{"heard.wav", 2, 44100, 2 * 1764}, {"heard.2.wav", 1, 22050, 441},
                              {"heard.3.wav", 2, 44100, 1764}};
    for (const Expected& e : files) {
        SCOPED_TRACE(e.name);
        const std::string bytes = test::readBytes(folder.file(e.name));
        ASSERT_EQ(bytes.size(), 44u + e.dataBytes);
        auto le = [&](std::size_t at, int width) {
            uint32_t v = 0;
            for (int i = width - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
            return v;
        };
        EXPECT_EQ(le(22, 2), e.channels);
        EXPECT_EQ(le(24, 4), e.rate);
        EXPECT_EQ(le(40, 4), e.dataBytes);
        EXPECT_EQ(le(4, 4), e.dataBytes + 36);
    }
}

}  // namespace
}  // namespace tessura

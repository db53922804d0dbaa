#include "WaveOutputSettingsPage.h"

#include "WaveAudioOutput.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tessura {

namespace {

// The header with the output it belongs to behind it, so the handler finds its output.
struct PageBlock {
    SettingsPage page;
    WaveAudioOutput* output;
    char fragmentText[64];
    char buffersText[64];
};

struct ControlSpec {
    int32_t control, kind;
    const char* text;
    int32_t x, y, width, height;
};

// In the order the screen lays them out.
constexpr ControlSpec kControls[] = {
    {wao_control::kTitle, SETTINGS_CONTROL_LABEL, "Windows Audio Output", 10, 10, 300, 20},
    {wao_control::kDeviceLabel, SETTINGS_CONTROL_LABEL, "Select Output Device:", 10, 40, 300, 16},
    {wao_control::kDeviceList, SETTINGS_CONTROL_LIST, "", 10, 58, 300, 120},
    {wao_control::kFragmentLabel, SETTINGS_CONTROL_LABEL, "Buffer Fragment Size:", 10, 90, 300, 16},
    {wao_control::kFragmentSlider, SETTINGS_CONTROL_SLIDER, "", 10, 108, 300, 24},
    {wao_control::kBuffersLabel, SETTINGS_CONTROL_LABEL, "Number Of Buffers:", 10, 140, 300, 16},
    {wao_control::kBuffersSlider, SETTINGS_CONTROL_SLIDER, "", 10, 158, 300, 24},
};

intptr_t range(int32_t low, int32_t high) {
    return static_cast<intptr_t>((static_cast<uint32_t>(high) << 16) | static_cast<uint32_t>(low));
}

intptr_t textValue(const char* text) {
    return reinterpret_cast<intptr_t>(text);
}

void showFragment(PageBlock& block, SettingsRequestFunction request, int fragmentBytes) {
    std::snprintf(block.fragmentText, sizeof block.fragmentText, "Buffer Fragment Size: (%dk)",
                  fragmentBytes / 1024);
    request(&block.page, wao_control::kFragmentLabel, SETTINGS_REQUEST_SET_TEXT, textValue(block.fragmentText));
}

void showBuffers(PageBlock& block, SettingsRequestFunction request, int buffers) {
    std::snprintf(block.buffersText, sizeof block.buffersText, "Number Of Buffers : %d", buffers);
    request(&block.page, wao_control::kBuffersLabel, SETTINGS_REQUEST_SET_TEXT, textValue(block.buffersText));
}

intptr_t handle(SettingsPage* page, int32_t message, int32_t control, intptr_t value,
                SettingsRequestFunction request) {
    if (page == nullptr) return 0;
    PageBlock& block = *reinterpret_cast<PageBlock*>(page);
    WaveAudioOutput& output = *block.output;
    OutputDeviceSettings s = output.deviceSettings();
    switch (message) {
    case SETTINGS_PAGE_OPENED: {
        if (request == nullptr) return 0;
        request(page, wao_control::kDeviceList, SETTINGS_REQUEST_PREPARE_LIST, 0);
        request(page, wao_control::kDeviceList, SETTINGS_REQUEST_ADD_ITEM, textValue("Wave Mapper"));
        for (const std::string& name : output.deviceNames())
            request(page, wao_control::kDeviceList, SETTINGS_REQUEST_ADD_ITEM, textValue(name.c_str()));
        request(page, wao_control::kDeviceList, SETTINGS_REQUEST_SET_POSITION, s.outputDevice + 1);
        showFragment(block, request, s.fragmentSize);
        request(page, wao_control::kFragmentSlider, SETTINGS_REQUEST_SET_RANGE, range(4, 32));
        request(page, wao_control::kFragmentSlider, SETTINGS_REQUEST_SET_POSITION, s.fragmentSize / 1024);
        showBuffers(block, request, s.numBuffers);
        request(page, wao_control::kBuffersSlider, SETTINGS_REQUEST_SET_RANGE, range(3, 9));
        request(page, wao_control::kBuffersSlider, SETTINGS_REQUEST_SET_POSITION, s.numBuffers);
        return 1;
    }
    case SETTINGS_PAGE_CHANGED:
        if (control == wao_control::kFragmentSlider) {
            s.fragmentSize = static_cast<int>(std::clamp<intptr_t>(value, 4, 32)) * 1024;
            output.setDeviceSettings(s);
            if (request != nullptr) showFragment(block, request, s.fragmentSize);
        } else if (control == wao_control::kBuffersSlider) {
            s.numBuffers = static_cast<int>(std::clamp<intptr_t>(value, 3, 9));
            output.setDeviceSettings(s);
            if (request != nullptr) showBuffers(block, request, s.numBuffers);
        }
        return 1;
    case SETTINGS_PAGE_CLOSED: {
        if (request != nullptr) {
            const intptr_t selection = request(page, wao_control::kDeviceList, SETTINGS_REQUEST_GET_SELECTION, 0);
            const auto devices = static_cast<intptr_t>(output.deviceNames().size());
            s.outputDevice = static_cast<int>(std::clamp<intptr_t>(selection, 0, devices)) - 1;
            output.setDeviceSettings(s);
        }
        std::free(page->controls);
        std::free(page);
        return 1;
    }
    default:
        return 0;
    }
}

}  // namespace

SettingsPage* createWaveOutputSettingsPage(WaveAudioOutput& output) {
    constexpr int32_t count = static_cast<int32_t>(std::size(kControls));
    auto* block = static_cast<PageBlock*>(std::calloc(1, sizeof(PageBlock)));
    auto* controls = static_cast<SettingsControl*>(std::calloc(count, sizeof(SettingsControl)));
    if (block == nullptr || controls == nullptr) {
        std::free(block);
        std::free(controls);
        return nullptr;
    }
    for (int32_t i = 0; i < count; ++i) {
        const ControlSpec& spec = kControls[i];
        SettingsControl& c = controls[i];
        c.layout0 = -300 - 150 * i;
        c.layout1 = 100 * (i + 1);
        c.x = spec.x;
        c.y = spec.y;
        c.width = spec.width;
        c.height = spec.height;
        c.text = spec.text;
        c.kind = spec.kind;
        c.control = spec.control;
    }
    block->page.controls = controls;
    block->page.count = count;
    block->page.handler = &handle;
    block->output = &output;
    return &block->page;
}

}  // namespace tessura

// A processor plug-in that widens the stereo image of 16-bit stereo PCM: the difference of the
// channels is raised by half while their sum stays, saturating at full scale. Other formats
// pass unchanged.
#include "TessuraPluginAbi.h"

#include <algorithm>
#include <cstring>

namespace {

struct StereoWidth {
    ProcessorInterface iface;
    int32_t channels = 2, bits = 16;
};

StereoWidth& of(ProcessorInterface* self) {
    return *reinterpret_cast<StereoWidth*>(self);
}

constexpr int32_t kWidthPercent = 150;

int16_t saturate(int32_t value) {
    return static_cast<int16_t>(std::clamp(value, -32768, 32767));
}

const ProcessorInterfaceTable kTable = {
    [](ProcessorInterface* self) { delete &of(self); },
    [](ProcessorInterface* self) -> int32_t {
        delete &of(self);
        return TESSURA_RESULT_OK;
    },
    [](ProcessorInterface*) -> int32_t { return TESSURA_RESULT_OK; },
    [](ProcessorInterface*) -> int32_t { return TESSURA_RESULT_OK; },
    [](ProcessorInterface*, PluginInfo* info) -> int32_t {
        if (info == nullptr) return TESSURA_RESULT_FAILED;
        *info = {"Stereo Width", "Widens the stereo image by half",
                 {0x3C1D8E52, 0x7A40, 0x4E19, {0xB2, 0x6F, 0x58, 0x0C, 0x91, 0xE4, 0x2D, 0x77}}, 1};
        return TESSURA_RESULT_OK;
    },
    [](ProcessorInterface*) -> int32_t { return TESSURA_RESULT_OK; },
    [](ProcessorInterface* self, int32_t* rate, int32_t* channels, int32_t* bits) -> int32_t {
        if (rate == nullptr || channels == nullptr || bits == nullptr) return TESSURA_RESULT_FAILED;
        of(self).channels = *channels;
        of(self).bits = *bits;
        return TESSURA_RESULT_OK;
    },
    [](ProcessorInterface* self, void** data, uint32_t* length) -> int32_t {
        if (data == nullptr || *data == nullptr || length == nullptr) return TESSURA_RESULT_FAILED;
        if (of(self).channels != 2 || of(self).bits != 16) return TESSURA_RESULT_OK;
        auto* bytes = static_cast<uint8_t*>(*data);
        for (uint32_t at = 0; at + 4 <= *length; at += 4) {
            int16_t frame[2];
            std::memcpy(frame, bytes + at, 4);
            const int32_t mid = (frame[0] + frame[1]) / 2;
            const int32_t side = (frame[0] - frame[1]) / 2 * kWidthPercent / 100;
            frame[0] = saturate(mid + side);
            frame[1] = saturate(mid - side);
            std::memcpy(bytes + at, frame, 4);
        }
        return TESSURA_RESULT_OK;
    },
};

}  // namespace

extern "C" TESSURA_EXPORT int32_t CreateProcessorInterface(ProcessorInterface** created) {
    if (created == nullptr) return TESSURA_RESULT_FAILED;
    auto* width = new StereoWidth{{&kTable}};
    *created = &width->iface;
    return TESSURA_RESULT_OK;
}

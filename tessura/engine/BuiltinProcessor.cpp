#include "BuiltinProcessor.h"

#include <algorithm>

namespace tessura {

uint32_t PcmFormat::frameBytes() const {
    const int bytes = bits <= 8 ? 1 : bits / 8;
    return static_cast<uint32_t>(std::max(1, channels) * bytes);
}

BuiltinProcessor::BuiltinProcessor(const ProcessorInterfaceTable* table) : handle_{{table}, this} {}

void BuiltinProcessor::setFormat(const PcmFormat& format) {
    std::lock_guard<std::mutex> hold(mutex_);
    format_ = format;
}

PcmFormat BuiltinProcessor::format() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return format_;
}

BuiltinProcessor& BuiltinProcessor::of(ProcessorInterface* self) {
    return *reinterpret_cast<Handle*>(self)->owner;
}

// The built-in processors live as long as the engine: destroy and Release leave them be.
void BuiltinProcessor::slotDestroy(ProcessorInterface*) {}

int32_t BuiltinProcessor::slotOk(ProcessorInterface*) {
    return TESSURA_RESULT_OK;
}

int32_t BuiltinProcessor::slotGetInfo(ProcessorInterface* self, PluginInfo* info) {
    if (info == nullptr) return TESSURA_RESULT_FAILED;
    *info = of(self).info();
    return TESSURA_RESULT_OK;
}

int32_t BuiltinProcessor::slotSetFormat(ProcessorInterface* self, int32_t* rate, int32_t* channels, int32_t* bits) {
    if (rate == nullptr || channels == nullptr || bits == nullptr) return TESSURA_RESULT_FAILED;
    of(self).setFormat({*rate, *channels, *bits});
    return TESSURA_RESULT_OK;
}

int32_t BuiltinProcessor::slotProcess(ProcessorInterface* self, void** data, uint32_t* length) {
    if (data == nullptr || length == nullptr || *data == nullptr) return TESSURA_RESULT_FAILED;
    BuiltinProcessor& p = of(self);
    *length = static_cast<uint32_t>(
        p.process(static_cast<uint8_t*>(*data), *length, std::max<std::size_t>(*length, p.workCapacity_)));
    return TESSURA_RESULT_OK;
}

const ProcessorInterfaceTable BuiltinProcessor::kCommonTable = commonSlots();

}  // namespace tessura

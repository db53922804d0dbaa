// Test plug-in, both an output and a processor: the output asks the host for a block of nearly
// 4 GB when opened; the processor claims a result of 2 GB from a 1 MB buffer of its own.
#include "TessuraPluginAbi.h"

#include <vector>

namespace {

struct HugeOutput {
    OutputInterface iface;
    OutputHost* host = nullptr;
};
HugeOutput& output(OutputInterface* self) {
    return *reinterpret_cast<HugeOutput*>(self);
}

int32_t ok(OutputInterface*) {
    return TESSURA_RESULT_OK;
}

const OutputInterfaceTable kOutputTable = {
    [](OutputInterface* self) { delete &output(self); },
    [](OutputInterface* self) -> int32_t {
        delete &output(self);
        return TESSURA_RESULT_OK;
    },
    [](OutputInterface* self, void*, OutputHost* host) -> int32_t {
        output(self).host = host;
        return TESSURA_RESULT_OK;
    },
    ok,
    [](OutputInterface*, PluginInfo* info) -> int32_t {
        *info = {"Huge Block Output", "", {0x11111111, 0x2222, 0x3333, {4, 4, 5, 5, 5, 5, 5, 5}}, 1};
        return TESSURA_RESULT_OK;
    },
    [](OutputInterface*, SettingsPage**) -> int32_t { return TESSURA_RESULT_FAILED; },
    [](OutputInterface* self, int32_t, int32_t*, int32_t*, int32_t*) -> int32_t {
        OutputHost* host = output(self).host;
        if (host != nullptr) host->table->SetBlockSize(host, 0xFFFFFFF0u);
        return TESSURA_RESULT_OK;
    },
    [](OutputInterface*, int32_t) -> int32_t { return TESSURA_RESULT_OK; },
    ok, ok, ok,
    [](OutputInterface*, int32_t* ms) -> int32_t {
        *ms = 0;
        return TESSURA_RESULT_OK;
    },
    [](OutputInterface*, int64_t* value) -> int32_t {
        *value = 0;
        return TESSURA_RESULT_OK;
    },
    [](OutputInterface*, uint32_t) -> int32_t { return TESSURA_RESULT_OK; },
    [](OutputInterface*, uint32_t* packed) -> int32_t {
        *packed = 0xFFFFFFFFu;
        return TESSURA_RESULT_OK;
    },
    [](OutputInterface*, int32_t* flag) -> int32_t {
        *flag = 0;
        return TESSURA_RESULT_OK;
    },
};

struct GreedyProcessor {
    ProcessorInterface iface;
    std::vector<uint8_t> own = std::vector<uint8_t>(1 << 20, 0x5A);
};
GreedyProcessor& processor(ProcessorInterface* self) {
    return *reinterpret_cast<GreedyProcessor*>(self);
}
int32_t okProcessor(ProcessorInterface*) {
    return TESSURA_RESULT_OK;
}

const ProcessorInterfaceTable kProcessorTable = {
    [](ProcessorInterface* self) { delete &processor(self); },
    [](ProcessorInterface* self) -> int32_t {
        delete &processor(self);
        return TESSURA_RESULT_OK;
    },
    okProcessor,
    okProcessor,
    [](ProcessorInterface*, PluginInfo* info) -> int32_t {
        *info = {"Greedy Processor", "", {0x11111111, 0x2222, 0x3333, {4, 4, 6, 6, 6, 6, 6, 6}}, 1};
        return TESSURA_RESULT_OK;
    },
    okProcessor,
    [](ProcessorInterface*, int32_t*, int32_t*, int32_t*) -> int32_t { return TESSURA_RESULT_OK; },
    [](ProcessorInterface* self, void** data, uint32_t* length) -> int32_t {
        *data = processor(self).own.data();
        *length = 0x80000000u;
        return TESSURA_RESULT_OK;
    },
};

}  // namespace

extern "C" {
TESSURA_EXPORT int32_t CreateOutputInterface(OutputInterface** created) {
    *created = &(new HugeOutput{{&kOutputTable}})->iface;
    return TESSURA_RESULT_OK;
}
TESSURA_EXPORT int32_t CreateProcessorInterface(ProcessorInterface** created) {
    *created = &(new GreedyProcessor{{&kProcessorTable}})->iface;
    return TESSURA_RESULT_OK;
}
}

// Test module: has Query, Initialise and Shutdown but no Configure.
#include "TessuraPluginAbi.h"

namespace {
const ModuleDescription kDescription = {0, "Incomplete Module", "lacks Configure", "", 0, "tsu\0", 0, 0, 0};
}

extern "C" {
TESSURA_EXPORT const ModuleDescription* Query() {
    return &kDescription;
}
TESSURA_EXPORT int32_t Initialise(InputModuleRecord*) {
    return 1;
}
TESSURA_EXPORT int32_t Shutdown(InputModuleRecord*) {
    return 1;
}
}

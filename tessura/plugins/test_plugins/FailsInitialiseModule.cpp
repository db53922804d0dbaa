// Test module: loads and describes itself, but refuses Initialise. Its ExtendedInfo first asks
// for a larger buffer and then fills all of it without a terminating NUL.
#include "TessuraPluginAbi.h"

#include <cstring>

namespace {
const ModuleDescription kDescription = {0, "Refusing Module", "fails in Initialise", "", 0, "tst\0", 0,
                                        MODULE_HAS_SETTINGS_PAGE, 0};
int gShutdowns = 0;
}  // namespace

extern "C" {
TESSURA_EXPORT const ModuleDescription* Query() {
    return &kDescription;
}
TESSURA_EXPORT int32_t Initialise(InputModuleRecord*) {
    return 0;
}
TESSURA_EXPORT int32_t Shutdown(InputModuleRecord*) {
    return ++gShutdowns;
}
TESSURA_EXPORT int32_t Configure(ConfigureRecord* record) {
    if (record == nullptr) return 0;
    record->result = 4242;
    return 1;
}
TESSURA_EXPORT int32_t ExtendedInfo(char* buffer, uint32_t* size, InputModuleRecord*) {
    if (*size < 5000) {
        *size = 5000;
        return 0;
    }
    std::memset(buffer, 'x', *size);
    return 1;
}
}

#include "ModuleHostServices.h"

#include <atomic>
#include <cstring>

namespace tessura {

namespace {
std::atomic<ModuleHostServices*> gServices{nullptr};

int32_t openOutput(int32_t rate, int32_t channels, int32_t bitsCode) {
    ModuleHostServices* s = gServices;
    return s != nullptr ? s->openOutput(rate, channels, bitsCode) : 0;
}
int32_t writeOutput(int32_t songId, const WriteBlock* block) {
    ModuleHostServices* s = gServices;
    return (s != nullptr && block != nullptr) ? s->writeOutput(songId, *block) : 0;
}
int32_t notifyEnd() {
    if (ModuleHostServices* s = gServices) s->notifyEnd();
    return 1;
}
intptr_t hostRequest(int32_t type, intptr_t argument) {
    ModuleHostServices* s = gServices;
    return s != nullptr ? s->hostRequest(type, argument) : 0;
}
int32_t readSource(void* buffer, uint32_t size, uint32_t* bytesRead) {
    ModuleHostServices* s = gServices;
    if (bytesRead != nullptr) *bytesRead = 0;
    if (s == nullptr || buffer == nullptr || bytesRead == nullptr) return 0;
    return s->readSource(buffer, size, *bytesRead) ? 1 : 0;
}
int32_t seekSource(int64_t position, int32_t method, int64_t* previous) {
    ModuleHostServices* s = gServices;
    if (s == nullptr) return 0;
    int64_t before = 0;
    const bool ok = s->seekSource(position, method, before);
    if (previous != nullptr) *previous = before;
    return ok ? 1 : 0;
}
int32_t sourceName(char* buffer, uint32_t size) {
    ModuleHostServices* s = gServices;
    copyTerminated(s != nullptr ? s->sourceName() : std::string(), buffer, size);
    return 1;
}
}  // namespace

void setCurrentModuleServices(ModuleHostServices* services) {
    gServices = services;
}

ModuleHostServices* currentModuleServices() {
    return gServices;
}

void fillHostFunctions(InputModuleRecord& record, const char* settingsPath) {
    record.OpenOutput = &openOutput;
    record.WriteOutput = &writeOutput;
    record.NotifyEnd = &notifyEnd;
    record.HostRequest = &hostRequest;
    record.settingsPath = settingsPath;
    record.Read = &readSource;
    record.SeekSource = &seekSource;
    record.GetSourceName = &sourceName;
}

void copyTerminated(const std::string& text, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return;
    const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

}  // namespace tessura

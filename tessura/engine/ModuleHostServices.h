#pragma once
// What the host does for the current input module. The module reaches these through the
// function pointers of its InputModuleRecord, which carry no context: they act on the services
// made current here (the module being played), as the single current module of the player.
#include "TessuraPluginAbi.h"

#include <cstdint>
#include <string>

namespace tessura {

class ModuleHostServices {
  public:
    virtual ~ModuleHostServices() = default;
    // Song id, 0 on failure.
    virtual int32_t openOutput(int32_t sampleRate, int32_t channels, int32_t bitsCode) = 0;
    virtual int32_t writeOutput(int32_t songId, const WriteBlock& block) = 0;
    virtual void notifyEnd() = 0;
    virtual intptr_t hostRequest(int32_t type, intptr_t argument) = 0;
    // The open source of the current module.
    virtual bool readSource(void* buffer, uint32_t size, uint32_t& bytesRead) = 0;
    virtual bool seekSource(int64_t position, int32_t method, int64_t& previous) = 0;
    virtual std::string sourceName() = 0;
};

// The services the record's host functions reach (null: every call fails).
void setCurrentModuleServices(ModuleHostServices* services);
ModuleHostServices* currentModuleServices();

// Fills the host fields of `record` (everything but the library and the owner).
void fillHostFunctions(InputModuleRecord& record, const char* settingsPath);

// The source name into a caller's buffer: at most size - 1 bytes, always terminated.
void copyTerminated(const std::string& text, char* buffer, uint32_t size);

}  // namespace tessura

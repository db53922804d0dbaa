// Test visualisation plug-in (version 1, no host effects) that fails on request. Message sets
// what fails next: 1 = Initialise throws, 2 = Render throws, 3 = Render writes to an unmapped address
// (the process dies, for the crash guard), 4 = this Message throws; 10 answers whether the
// host-variable entry was ever called, 11 how often Render drew. Without a request Render
// fills the picture with one colour.
#include "TessuraVisAbi.h"

#include <stdexcept>

namespace {

enum Fault : uint32_t { kNone = 0, kInitialise = 1, kRender = 2, kSegfault = 3, kMessage = 4 };
uint32_t gFault = kNone;
bool gGotHostVariables = false;
int32_t gRenders = 0;
// An address in the never-mapped first page, read at run time so that neither the compiler
// nor the null-pointer sanitizer sees the fault coming: the store is a real SIGSEGV.
volatile uintptr_t gNowhere = 16;

int32_t initialise() {
    if (gFault == kInitialise) throw std::runtime_error("initialise fails");
    return 0;
}

int32_t render(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch, const uint8_t*) {
    if (gFault == kRender) throw std::runtime_error("render fails");
    if (gFault == kSegfault) {
        *reinterpret_cast<volatile uint32_t*>(gNowhere) = 1;
    }
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) pixels[y * pitch + x] = 0xff123456u;
    return ++gRenders;
}

int32_t message(uint32_t what) {
    if (what == 10) return gGotHostVariables ? 1 : 0;
    if (what == 11) return gRenders;
    if (what == kMessage) throw std::runtime_error("message fails");
    gFault = what;
    return 1;
}

void setHostVariables(HostVariables*) {
    gGotHostVariables = true;
}

const VisPluginRecord kRecord = {1, "Failing test visualisation", 0, &initialise, &render, &message, nullptr,
                                 nullptr, nullptr, &setHostVariables};

}  // namespace

extern "C" TESSURA_VIS_EXPORT const VisPluginRecord* QueryModule() {
    return &kRecord;
}

// Test module standing for a device that plays by itself (an audio CD in its drive): it claims
// "cda" and "wma", opens its sources itself, keeps its own clock for position and pause, takes
// the volume, and supplies visualisation samples (a full-scale square wave on the left, silence
// on the right). Nothing goes through the host's output.
#include "TessuraPluginAbi.h"

#include <chrono>
#include <cstring>
#include <string>

namespace {
const ModuleDescription kDescription = {
    0, "Drive Module", "renders by itself", "", 0, "cda\0wma\0", 0,
    MODULE_RENDERS_ITSELF | MODULE_SUPPLIES_VIS_DATA | MODULE_OPENS_SOURCES, 0};

using Clock = std::chrono::steady_clock;
struct Drive {
    std::string opened;
    bool playing = false, paused = false;
    Clock::time_point started;
    int64_t heldMs = 0;  // position while paused
    uint32_t volume = 0;
    TrackInfo info{};
};
Drive gDrive;

int64_t elapsed() {
    if (!gDrive.playing) return 0;
    if (gDrive.paused) return gDrive.heldMs;
    return gDrive.heldMs +
           std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - gDrive.started).count();
}

int32_t open(InputModuleRecord*, const char* name) {
    gDrive = Drive{};
    gDrive.opened = name;
    return 1;
}
int32_t close(InputModuleRecord*) {
    gDrive.opened.clear();
    gDrive.playing = false;
    return 1;
}
int32_t play(InputModuleRecord*) {
    gDrive.playing = true;
    gDrive.started = Clock::now();
    return 1;
}
void stop(InputModuleRecord*) {
    gDrive.playing = false;
    gDrive.heldMs = 0;
}
int32_t pause(InputModuleRecord*, int32_t pausedNow) {
    if (pausedNow != 0 && !gDrive.paused) gDrive.heldMs = elapsed();
    if (pausedNow == 0 && gDrive.paused) gDrive.started = Clock::now();
    gDrive.paused = pausedNow != 0;
    return 1;
}
int32_t isPlaying(InputModuleRecord*) {
    return gDrive.playing && elapsed() < 60000 ? 1 : 0;
}
void setVolume(InputModuleRecord*, uint32_t packed) {
    gDrive.volume = packed;
}
int32_t getInfo(InputModuleRecord*, TrackInfo* info) {
    info->title = "Track 01";
    info->infoText1 = "Drive";
    info->infoText2 = gDrive.opened.c_str();
    info->lengthMs = 60000;
    return 1;
}
int32_t getLength(InputModuleRecord*, int32_t* ms) {
    *ms = 60000;
    return 1;
}
int32_t getPosition(InputModuleRecord*, int32_t* ms) {
    *ms = static_cast<int32_t>(elapsed());
    return 1;
}
int32_t getVisData(InputModuleRecord*, void* buffer, int32_t) {
    auto* samples = static_cast<int8_t*>(buffer);
    for (int n = 0; n < 512; ++n) samples[n] = n % 2 == 0 ? 127 : -128;
    std::memset(samples + 512, 0, 512);
    return 1;
}
int32_t seek(InputModuleRecord*, int32_t ms) {
    gDrive.heldMs = ms;
    gDrive.started = Clock::now();
    return 1;
}
}  // namespace

extern "C" {
TESSURA_EXPORT const ModuleDescription* Query() {
    return &kDescription;
}
TESSURA_EXPORT int32_t Initialise(InputModuleRecord* record) {
    record->Open = &open;
    record->Close = &close;
    record->Play = &play;
    record->Stop = &stop;
    record->Seek = &seek;
    record->GetInfo = &getInfo;
    record->Pause = &pause;
    record->IsPlaying = &isPlaying;
    record->SetVolume = &setVolume;
    record->GetVisData = &getVisData;
    record->GetLength = &getLength;
    record->GetPosition = &getPosition;
    return 1;
}
TESSURA_EXPORT int32_t Shutdown(InputModuleRecord*) {
    return 1;
}
TESSURA_EXPORT int32_t Configure(ConfigureRecord*) {
    return 0;
}
// What the engine last set, for the tests (looked up with dlsym).
TESSURA_EXPORT uint32_t DriveVolume() {
    return gDrive.volume;
}
}

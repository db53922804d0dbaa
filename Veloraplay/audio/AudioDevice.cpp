#include "AudioDevice.h"

#include <cstdlib>

namespace veloraplay {

std::unique_ptr<AudioDevice> makeAudioDevice(const std::string& spec) {
    if (spec.empty() || spec == "sdl") return makeSdlAudioDevice();
    if (spec == "null") return makeNullAudioDevice();
    if (spec.rfind("wav:", 0) == 0 && spec.size() > 4) return makeWavAudioDevice(spec.substr(4));
    return nullptr;
}

std::unique_ptr<AudioDevice> makeAudioDeviceFromEnvironment() {
    const char* spec = std::getenv("VELORAPLAY_AUDIO");
    return makeAudioDevice(spec ? spec : "");
}

}  // namespace veloraplay

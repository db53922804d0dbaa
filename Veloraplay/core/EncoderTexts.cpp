#include "EncoderTexts.h"

#include <cstdio>

namespace veloraplay {
namespace {

std::string clock(uint64_t seconds) {
    char text[40];
    std::snprintf(text, sizeof text, "%2.2i:%2.2i:%2.2i", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

uint64_t audioSeconds(uint64_t bytes, int bytesPerSecond) {
    return bytesPerSecond > 0 ? bytes / static_cast<uint64_t>(bytesPerSecond) : 0;
}

}  // namespace

std::string encoderInfoLine(int sampleRate, int channels, uint64_t dataBytes) {
    const int bytesPerSecond = sampleRate * 2 * channels;
    char text[120];
    std::snprintf(text, sizeof text, "WAVE %d Hz %s - Linear PCM - %s", sampleRate, channels == 2 ? "Stereo" : "Mono",
                  clock(audioSeconds(dataBytes, bytesPerSecond)).c_str());
    return text;
}

std::string derivedOutputPath(const std::string& inputPath, const std::string& defaultDirectory) {
    const size_t slash = inputPath.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = inputPath.rfind('.');
    const size_t nameEnd = dot != std::string::npos && dot >= nameStart ? dot : inputPath.size();
    if (defaultDirectory.empty()) return inputPath.substr(0, nameEnd) + ".mp3";
    std::string folder = defaultDirectory;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder != "/") folder += '/';
    return folder + inputPath.substr(nameStart, nameEnd - nameStart) + ".mp3";
}

std::string parameterEntryText(int kbps, int inputRate, bool sbr) {
    return std::to_string(kbps) + " kbps - " + std::to_string(inputRate) + " Hz " + (sbr ? "Velora" : "mp3");
}

std::string encodeStatusLine(uint64_t bytesRead, int bytesPerSecond, int elapsedSeconds) {
    const double audio = bytesPerSecond > 0 ? static_cast<double>(bytesRead) / bytesPerSecond : 0.0;
    const double speed = elapsedSeconds > 0 ? audio / elapsedSeconds : 1.0;
    char text[160];
    std::snprintf(text, sizeof text, "Duration: %s  Time: %s  Speed: %.1f",
                  clock(audioSeconds(bytesRead, bytesPerSecond)).c_str(),
                  clock(static_cast<uint64_t>(elapsedSeconds > 0 ? elapsedSeconds : 0)).c_str(), speed);
    return text;
}

std::string monitorStatusLine(uint64_t bytesRead, int bytesPerSecond, int outputRate, int outputChannels, bool sbr) {
    char text[160];
    std::snprintf(text, sizeof text, "Encoding: %s - %i Hz", clock(audioSeconds(bytesRead, bytesPerSecond)).c_str(),
                  outputRate);
    return std::string(text) + (outputChannels == 2 ? " stereo" : " mono") + (sbr ? " - Velora" : "");
}

}  // namespace veloraplay

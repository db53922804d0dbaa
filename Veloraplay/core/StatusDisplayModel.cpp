#include "StatusDisplayModel.h"

#include <cstdio>

namespace veloraplay {
namespace {

// PlayerNotify codes.
constexpr uintptr_t kItem = 10;
constexpr uintptr_t kState = 11;
constexpr uintptr_t kElapsed = 12;
constexpr uintptr_t kChannels = 202;
constexpr uintptr_t kSampleRate = 203;
constexpr uintptr_t kBitrate = 204;
constexpr int kPcmBitrate = -42;

}  // namespace

bool StatusDisplayModel::notify(uintptr_t code, intptr_t value) {
    const int v = static_cast<int>(value);
    switch (code) {
        case kItem:
            item_ = v;
            return true;
        case kState:
            state_ = v == 1 ? State::Playing : v == 2 ? State::Paused : State::Stopped;
            return true;
        case kElapsed:
            elapsed_ = v;
            return true;
        case kChannels:
            channels_ = v;
            return true;
        case kSampleRate:
            rate_ = v;
            return true;
        case kBitrate:
            bitrate_ = v;
            return true;
        default:
            return false;
    }
}

void StatusDisplayModel::tick() {
    if (state_ == State::Playing && elapsed_ >= 0) ++elapsed_;
}

std::string StatusDisplayModel::itemText() const {
    if (item_ <= 0) return "  ";
    char text[8];
    std::snprintf(text, sizeof text, "%2d", item_ % 100);
    return text;
}

std::string StatusDisplayModel::elapsedText() const {
    if (state_ == State::Stopped || elapsed_ < 0) return "    ";
    const int minutes = (elapsed_ / 60) % 100;
    char text[16];
    std::snprintf(text, sizeof text, "%d:%02d", minutes, elapsed_ % 60);
    std::string s = text;
    return minutes < 10 ? " " + s : s;
}

std::string StatusDisplayModel::rateText() const {
    if (rate_ < 0) return "  ";
    char text[8];
    std::snprintf(text, sizeof text, "%2d", (rate_ / 1000) % 100);
    return text;
}

std::string StatusDisplayModel::bitrateText() const {
    if (bitrate_ == kPcmBitrate) return "PCM";
    if (bitrate_ <= 0) return "   ";
    char text[8];
    std::snprintf(text, sizeof text, "%3d", bitrate_ % 1000);
    return text;
}

int StatusDisplayModel::channelGlyph() const {
    return channels_ == 2 ? 1 : channels_ == 3 ? 2 : 0;
}

}  // namespace veloraplay

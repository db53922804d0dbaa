#include "StatusDisplayModel.h"

#include <cstdio>

#include "MessageQueue.h"

namespace veloraplay {
bool StatusDisplayModel::notify(uintptr_t code, intptr_t value) {
    const int v = static_cast<int>(value);
    switch (code) {
        case notify::kItem:
            item_ = v;
            return true;
        case notify::kState:
            state_ = value == notify::kPlaying  ? State::Playing
                     : value == notify::kPaused ? State::Paused
                                                : State::Stopped;
            return true;
        case notify::kElapsed:
            elapsed_ = v;
            return true;
        case notify::kChannels:
            channels_ = v;
            return true;
        case notify::kSampleRate:
            rate_ = v;
            return true;
        case notify::kBitrate:
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
    if (bitrate_ == notify::kWaveBitrate) return "PCM";
    if (bitrate_ <= 0) return "   ";
    char text[8];
    std::snprintf(text, sizeof text, "%3d", bitrate_ % 1000);
    return text;
}

int StatusDisplayModel::channelGlyph() const {
    return channels_ == 2 ? 1 : channels_ == 3 ? 2 : 0;
}

}  // namespace veloraplay

#include "QtKeys.h"

#include <Qt>

namespace tessura::ui {

int VirtualKeyForQtKey(int qtKey) {
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)) return qtKey;
    switch (qtKey) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab: return key::kTab;
        case Qt::Key_Escape: return key::kEscape;
        case Qt::Key_F1: return key::kF1;
        case Qt::Key_Left: return key::kLeft;
        case Qt::Key_Up: return key::kUp;
        case Qt::Key_Right: return key::kRight;
        case Qt::Key_Down: return key::kDown;
        case Qt::Key_Comma:
        case Qt::Key_Less: return key::kComma;
        case Qt::Key_Period:
        case Qt::Key_Greater: return key::kPeriod;
        case Qt::Key_QuoteLeft:
        case Qt::Key_AsciiTilde: return key::kBackquote;
        default: return 0;
    }
}

std::optional<MediaKey> MediaKeyForQtKey(int qtKey) {
    switch (qtKey) {
        case Qt::Key_MediaNext: return MediaKey::NextTrack;
        case Qt::Key_MediaPrevious: return MediaKey::PreviousTrack;
        case Qt::Key_MediaStop: return MediaKey::Stop;
        case Qt::Key_MediaPlay:
        case Qt::Key_MediaPause:
        case Qt::Key_MediaTogglePlayPause: return MediaKey::PlayPause;
        case Qt::Key_LaunchMedia: return MediaKey::MediaSelect;
        default: return std::nullopt;
    }
}

}  // namespace tessura::ui

#include "PositionPreview.h"

#include <algorithm>
#include <cstdio>

namespace tessura::ui {

int64_t PreviewTargetMs(int64_t lengthMs, int dragOffset, int controlLength) {
    if (controlLength <= 0 || lengthMs <= 0) return 0;
    const int64_t offset = std::clamp(dragOffset, 0, controlLength);
    return lengthMs * offset / controlLength;
}

std::string PositionPreviewText(int64_t lengthMs, int dragOffset, int controlLength) {
    lengthMs = std::max<int64_t>(0, lengthMs);
    const int64_t target = PreviewTargetMs(lengthMs, dragOffset, controlLength) / 1000;
    const int64_t length = lengthMs / 1000;
    const int th = static_cast<int>(target / 3600), tm = static_cast<int>(target / 60 % 60);
    const int ts = static_cast<int>(target % 60);
    const int lh = static_cast<int>(length / 3600), lm = static_cast<int>(length / 60 % 60);
    const int ls = static_cast<int>(length % 60);
    char text[64];
    if (lh == 0) {
        std::snprintf(text, sizeof text, "%d:%.2d - (%d:%.2d)", static_cast<int>(target / 60), ts,
                      static_cast<int>(length / 60), ls);
    } else if (th == 0) {
        std::snprintf(text, sizeof text, "%d:%.2d - (%d:%.2d:%.2d)", tm, ts, lh, lm, ls);
    } else {
        std::snprintf(text, sizeof text, "%d:%.2d:%.2d - (%d:%.2d:%.2d)", th, tm, ts, lh, lm, ls);
    }
    return text;
}

}  // namespace tessura::ui

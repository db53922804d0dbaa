#pragma once
// The text shown while the song-position control is dragged: the target time and the length.
#include <cstdint>
#include <string>

namespace tessura::ui {

// The target is length x (offset / control length); an offset outside the control is taken at
// its nearer end, and a control of length 0 (or less) targets the start.
int64_t PreviewTargetMs(int64_t lengthMs, int dragOffset, int controlLength);
std::string PositionPreviewText(int64_t lengthMs, int dragOffset, int controlLength);

}  // namespace tessura::ui

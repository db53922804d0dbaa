#pragma once
// The host's background effects on what the buffer held from the previous frame: used by
// every built-in visualisation before it draws, and before a plug-in's Render when its record
// asks for them (flag 0x04).
#include "VisFrame.h"
#include "VisSettings.h"

namespace tessura {

// FXLevel 0 clears the rectangle and does nothing else; otherwise fade, then blur frame,
// smoke and zoom as the settings ask, in that order.
void ApplyEffects(const VisFrame& frame, const VisSettings& settings);

}  // namespace tessura

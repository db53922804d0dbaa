// The polyphase synthesis window D[0..511] of ISO/IEC 11172-3, exactly k / 65536.
// Generated at build time from tables/synthesis_window.txt.
#pragma once

namespace velora {

extern const float kSynthesisWindow[512];

}  // namespace velora

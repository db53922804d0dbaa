// The time grid of one channel's frame from the transient found for it: one envelope over
// the frame when nothing happens, otherwise a short envelope starting at the transient with
// borders placed so that the relative steps (2, 4, 6 or 8 slots) can code them, and a
// frame that ends at a transient just after it so that the next frame can start with it.
#pragma once

#include "SbrData.h"

namespace velora::sbr {

struct GridRequest {
    int start = 0;          // first border: the previous frame's last border - 9 (0..3)
    int transient = -1;     // time slot of the transient from the frame start, -1 none;
                            // 9 .. kMaxLastBorder lie in the next frame
    int fixedEnvelopes = 1;         // envelopes of a frame without transient: 1, 2 or 4
};

constexpr int kMaxLastBorder = 12;  // the decoder's limit for the last border

// Fills `grid` (all envelopes at high frequency resolution). The result always passes the
// decoder's grid checks.
void ChooseGrid(const GridRequest& request, SbrFrameInfo& grid);

// Noise borders of a variable-class grid from its envelope borders and stored pointer,
// by the rules the parser uses.
void SetNoiseBorders(SbrFrameInfo& grid);

}  // namespace velora::sbr

// The low-band source of a high-band QMF band through the decoder's patches.
#pragma once

#include "SbrHfGenerator.h"

namespace velora::sbr {

// Source band of QMF band k, or -1 when no patch covers k.
inline int PatchSource(const SbrPatches& p, int k) {
    for (int i = 0; i < p.count; ++i) {
        if (k >= p.guardedStart[i] && k < p.guardedStart[i] + p.width[i]) return k - p.shift[i];
    }
    return -1;
}

}  // namespace velora::sbr

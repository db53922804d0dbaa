// Envelope decoding of the SBR decoder: turns one channel's parsed element (delta-coded
// envelope and noise-floor values) into absolute envelope energies and noise-floor levels,
// concealing damaged frames from the previous frame's references.
//
// Per frame and channel:
//  - delta decoding over frequency or over time; the time reference is kept at high
//    resolution (a low-resolution band reads the high-resolution band at its lower edge
//    and writes every high-resolution band it covers); each envelope's values are clamped
//    at 0 before they become the reference;
//  - a value above 70 (amp_res 0) or 35 (amp_res 1) restores the references and conceals
//    the frame; noise values are clamped to 0..limit;
//  - concealment (the element's frameError or errorState, a range error, or an unusable
//    grid): one envelope and one noise envelope from the previous frame's last border - 9
//    to the frame end, high resolution, over time; envelope deltas -1 when the reference
//    is above 0 else +1 (balance: -0.5 above 12 else +0.5); noise deltas 0;
//  - the first good frame after a concealed one: the concealed frame ended at the frame
//    end, so when the new frame's first border differs from the previous last border - 9
//    it is moved there (if it stays below the second border), and the first envelope's
//    energies (not its reference values, and never a balance channel's values) are
//    rescaled by the length ratio old / new, i.e. (2 - amp_res) * log2(old / new) steps,
//    which keeps the envelope's total energy;
//  - dequantisation: energy 64 * 2^(v / (2 - amp_res)), noise level 2^(6 - v); a coupled
//    pair uses the level/balance formulas instead.
// After a header reset the caller resets the envelope data (the references then refer to
// other bands).
#pragma once

#include "SbrData.h"

namespace velora::sbr {

// Clears the references and the previous-frame state.
void ResetEnvelopes(SbrEnvelopeData& env);

// Decodes an uncoupled channel. Returns false when the frame was concealed.
bool DecodeEnvelopes(const SbrChannelData& data, const SbrFreqData& freq, int ampRes,
                     SbrEnvelopeData& env);

// Decodes a coupled pair: `level` carries the levels, `balance` the (doubled) balance
// values sharing its grid. `left` keeps the level references, `right` the balance
// references; both receive their channel's energies and noise levels. A frame error or
// range error in either channel conceals both. Returns false when concealed.
bool DecodeCoupledEnvelopes(const SbrChannelData& level, const SbrChannelData& balance,
                            const SbrFreqData& freq, int ampRes, SbrEnvelopeData& left,
                            SbrEnvelopeData& right);

// Largest valid envelope value at the amp_res.
constexpr int EnvelopeLimit(int ampRes) {
    return ampRes != 0 ? 35 : 70;
}

}  // namespace velora::sbr

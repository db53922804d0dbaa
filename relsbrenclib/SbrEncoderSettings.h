// The encoder's own choices, from the tuning row's further parameters (0 keeps a default):
//   tuning[0]  freq_scale 1..3 (default 2, 10 bands per octave)
//   tuning[1]  noise_bands 1..3 (default 2)
//   tuning[2]  amplitude resolution: 1 = 1.5 dB steps, 2 = 3.0 dB steps (default 1.5 dB)
//   tuning[3]  transient rule: 1 exclusive or, 2 or, 3 and, 4 lower part alone (default or)
//   tuning[4]  xover_band 1..7 (default 0)
#pragma once

#include <cstdint>

#include "SbrTransientDetector.h"

namespace velora::sbr {

struct SbrEncoderSettings {
    int freqScale = 2;
    int alterScale = 1;
    int noiseBands = 2;
    // Header value: 1 = 3.0 dB, 0 = 1.5 dB. The finer steps track music's high band 0.06 dB
    // closer (six excerpts at 64 kbit/s through the whole codec: 1.98 -> 1.92 dB mean band
    // error) for about 20 bits a stereo frame.
    int ampRes = 0;
    int xoverBand = 0;
    TransientRule transientRule = TransientRule::kOr;
    // Rise measure (in thresholds) that flags a transient: stationary noise stays near
    // 0.5, an onset of 10 dB or more reaches 3 and beyond. 1.7 rather than 2 catches more
    // of music's softer onsets (whole codec 2.08 -> 2.05 dB mean band error, 95.2 -> 95.6 %
    // within 6 dB) and still leaves noise its fixed grids; from 1.4 down noise turns
    // transient now and then, at 1.0 in most frames.
    float transientDetection = 1.7f;
    bool waveforms = true;  // code missing harmonics as waveform components
    // Envelopes per frame without transient: two follow music's high band 0.3 dB closer
    // than one for about 20 bits a frame.
    int fixedEnvelopes = 2;
    // The decoder's limiter as the header sets it (limiter_bands, limiter_gains).
    int limiterBands = 3;
    int limiterGains = 2;
    // Move the values so the decoder's limited gains deliver the wanted energies (music 2.27
    // -> 2.09 dB mean band error through the whole codec).
    bool limiterCompensation = true;
    // The limiter only for risky frames (see SbrEncoder): those with a transient or with a
    // power gain above limiterPeakGainDb, and limiterHoldFrames after them.
    bool adaptiveLimiter = true;
    float limiterPeakGainDb = 30.0f;
    int limiterHoldFrames = 2;
};

// False when a tuning value lies outside its range.
bool SettingsFromTuning(const int32_t tuning[5], SbrEncoderSettings& out);

}  // namespace velora::sbr

#include "SbrEncoderSettings.h"

namespace velora::sbr {

bool SettingsFromTuning(const int32_t tuning[5], SbrEncoderSettings& s) {
    s = SbrEncoderSettings{};
    if (tuning[0] < 0 || tuning[0] > 3 || tuning[1] < 0 || tuning[1] > 3 || tuning[2] < 0 || tuning[2] > 2 ||
        tuning[3] < 0 || tuning[3] > 4 || tuning[4] < 0 || tuning[4] > 7)
        return false;
    if (tuning[0] != 0) s.freqScale = tuning[0];
    if (tuning[1] != 0) s.noiseBands = tuning[1];
    if (tuning[2] != 0) s.ampRes = tuning[2] == 1 ? 0 : 1;
    if (tuning[3] != 0) s.transientRule = static_cast<TransientRule>(tuning[3] - 1);
    s.xoverBand = tuning[4];
    return true;
}

}  // namespace velora::sbr

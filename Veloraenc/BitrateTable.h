// Layer III bit rates in kbit/s by bit-rate index (0 = free format, 15 invalid), for MPEG-1
// and for MPEG-2 / MPEG-2.5.
#pragma once

namespace velora::enc {

constexpr int kLayer3Kbps[2][15] = {
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};

// Version index 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5.
constexpr int Layer3Kbps(int version, int index) {
    return kLayer3Kbps[version == 0 ? 0 : 1][index];
}

}  // namespace velora::enc

// The psychoacoustic model's tables, built once per core rate: the partitions of the
// spectrum (the scale-factor bands of the rate) for long and for short blocks, with their
// Bark positions, spreading weights and thresholds in quiet, and the model's constants.
//
// The model works on the filter bank's lines scaled by 1 / 32768 (input full scale 1.0);
// kFullScaleSineEnergy is the line energy a full-scale sine gives there.
#pragma once

#include <cstdint>

namespace velora::enc {

constexpr int kMaxPartitions = 22;  // long blocks; short blocks use 13
constexpr double kModelScale = 1.0 / 32768.0;
// Sum of squared lines of a full-scale sine, in a long block and in each short window alike
// (measured on the filter bank, whose spectrum is on the scale of the input).
constexpr double kFullScaleSineEnergy = 1.0;

struct PartitionTable {
    int32_t lines = 0;      // 576 long, 192 short (per window)
    int32_t count = 0;      // partitions (scale-factor bands)
    int32_t used = 0;       // partitions that start below the line limit
    int32_t lineLimit = 0;  // lines from here upward are zeroed
    int32_t bounds[kMaxPartitions + 1] = {};  // line boundaries
    int32_t centreBark100[kMaxPartitions] = {};
    // Spreading: towards higher partitions (from i - 1 into i) and towards lower ones (from
    // i + 1 into i); the first partition receives nothing from below.
    float spreadUp[kMaxPartitions] = {};
    float spreadDown[kMaxPartitions] = {};
    float quiet[kMaxPartitions] = {};  // threshold in quiet, as band energy
};

struct PsychoacousticConfig {
    int32_t coreRate = 0;
    int32_t bitrate = 0;
    float bandwidth = 0.0f;
    bool allowIntensity = false;
    bool allowMidSide = false;
    PartitionTable longBlocks;
    PartitionTable shortBlocks;

    // The own share of a band's energy that masks: this far below it for a tone (plus the
    // band's Bark), this far for noise. Tonality is the band's spectral flatness over
    // `fullyTonalDb`: the lines of one band of the filter bank are few, so even noise reads
    // some dB below flat and a steady tone rarely reaches -60 dB.
    float toneMaskingNoiseDb = 14.5f;
    float noiseMaskingToneDb = 5.5f;
    float fullyTonalDb = -90.0f;
    // Noise in the low bands is heard well before their simultaneous masking says (in the
    // listening set, the bass of dense music was where a flat margin lost most): a further
    // margin of `lowMarginDb` at 0 Bark, falling linearly to none at `lowMarginTopBark`.
    float lowMarginDb = 20.0f;
    float lowMarginTopBark = 22.0f;
    float longCeiling = 1000.0f;
    float shortCeiling = 111.11111f;
    float preEchoRise = 3.0f;
    float preEchoFloor = 0.001f;
    // Values the stereo decisions use.
    float stereoLow = 0.0019952623f;   // 10^-2.7
    float stereoHigh = 7.9432823f;     // 10^0.9
    int32_t stereoBands = 9;           // 7 when the core rate is above 24000 Hz
    bool lowRate96 = false;            // bit rate at most 96000
    bool lowRate160 = false;           // bit rate at most 159999
    int32_t rateClass = 0;             // 0 at 32000 Hz and above, 1 from 16000, 2 below
};

// Bark value of a frequency in Hz.
double BarkOf(double frequency);
// Threshold in quiet of a frequency as line energy (full scale 1.0).
double QuietEnergyPerLine(double frequency);

// False when the rate has no scale-factor bands or the bandwidth is not positive.
bool BuildPsychoacousticConfig(int coreRate, int bitrate, float bandwidth, bool allowIntensity,
                               bool allowMidSide, PsychoacousticConfig& config);

}  // namespace velora::enc

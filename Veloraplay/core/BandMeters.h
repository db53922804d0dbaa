// The eight band meters of the extended view, which double as band gain controls: the meter
// history that shows each band's level 1.2 s late with a falling peak hold, the gain step a
// mouse position gives, and the texts of the controls.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace veloraplay {

class BandMeters {
  public:
    static constexpr int kBands = 8;
    static constexpr int kRows = 11;       // history rows: a meter shows the row ten ticks old
    static constexpr int kMaxMeter = 7;    // meter values 0..7
    static constexpr int kMaxStep = 6;     // gain steps 0..6
    static constexpr int kUnityStep = 3;
    static constexpr int kTickMs = 120;

    BandMeters();

    // One timer tick while playing: `peaks` are the controller's band peaks (0..127) since
    // the last tick. Returns the meter values to draw now.
    std::array<int, kBands> tick(const std::array<uint8_t, kBands>& peaks);
    // No playback, or paused: the history and the holds are cleared; every meter shows 0.
    std::array<int, kBands> idle();

    // The gain step for a press or drag at `y` client pixels inside a band control.
    static int stepForY(int y);
    // The steps kept in the settings as one word, a nibble per band (band 0 lowest); nibbles
    // above 6 count as 6.
    static std::array<int, kBands> stepsFromWord(uint32_t word);
    static uint32_t wordFromSteps(const std::array<int, kBands>& steps);

    // A band's centre in Hz and the control's tooltip, "Band #1 - Center 172Hz" or
    // "Band #3 - Center 1.0kHz".
    static double centreHz(int band);
    static std::string tooltip(int band);

  private:
    std::array<std::array<int, kBands>, kRows> history_{};
    std::array<int, kBands> hold_{};
    int writeRow_ = 10;
    int readRow_ = 0;
};

}  // namespace veloraplay

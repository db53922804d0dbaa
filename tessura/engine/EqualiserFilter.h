#pragma once
// The built-in equaliser filter: twenty band-pass sections in series over 16-bit PCM, each
// adding its own output times its gain back to the signal. Band 0 is the highest frequency
// (centre at 3/8 of the rate), each following centre 3/4 of the one before. A band whose gain
// is below 0.01 in magnitude is skipped, so with every gain at zero the samples pass untouched
// bit for bit.
#include "BuiltinProcessor.h"

#include <array>

namespace tessura {

// The filter's table: the common slots, then 8 SetFilterGain and 9 SetEnabled.
struct EqualiserFilterInterfaceTable {
    ProcessorInterfaceTable common;
    // `index` is a model band (0 = lowest frequency); `value` the model's gain, 1.0 = flat.
    int32_t (*SetFilterGain)(ProcessorInterface* self, int32_t index, double value);
    int32_t (*SetEnabled)(ProcessorInterface* self, int32_t on);
};

class EqualiserFilter final : public BuiltinProcessor {
  public:
    static constexpr int kBands = 20;
    static const EqualiserFilterInterfaceTable kTable;

    EqualiserFilter();
    void setFormat(const PcmFormat& format) override;
    // Model band `index` drives filter band 19 - index with gain (value - 1) x 0.75. False for
    // an index outside 0-19 or a value that is not finite.
    bool setFilterGain(int index, double value);
    void setEnabled(bool on);
    bool enabled() const;
    std::size_t process(uint8_t* data, std::size_t length, std::size_t capacity) override;
    PluginInfo info() const override;

    struct Band {
        double alpha = 0, beta = 0, gamma = 0;
        double gain = 0;
        double centre = 0, bandwidth = 0;
        // Per channel: x1, x2 (previous inputs), y1, y2 (previous outputs).
        std::array<std::array<double, 4>, 2> history{};
    };
    // Filter band `k` (0 = highest frequency) as it stands.
    Band band(int k) const;

  private:
    std::array<Band, kBands> bands_{};  // guarded by mutex_
    bool enabled_ = false;              // guarded by mutex_
    bool designed_ = false;             // false while the rate cannot be filtered (0 or less)
};

}  // namespace tessura

#pragma once
// The built-in amplifier: a gain in integer arithmetic (gain x 4096, shifted back by 12) that
// saturates instead of wrapping. A gain of exactly 1.0 leaves the samples alone.
#include "BuiltinProcessor.h"

namespace tessura {

// The amplifier's table: the common slots, then 8 SetGain and 9 GetGain.
struct AmplifierInterfaceTable {
    ProcessorInterfaceTable common;
    int32_t (*SetGain)(ProcessorInterface* self, double gain);
    int32_t (*GetGain)(ProcessorInterface* self, double* gain);
};

class Amplifier final : public BuiltinProcessor {
  public:
    Amplifier();
    static const AmplifierInterfaceTable kTable;
    void setGain(double gain);
    double gain() const;
    std::size_t process(uint8_t* data, std::size_t length, std::size_t capacity) override;
    PluginInfo info() const override;

  private:
    double gain_ = 1.0;  // guarded by mutex_
    int32_t scaled_ = 4096;
};

// One sample through gain x 4096.
int16_t amplify16(int16_t sample, int32_t scaledGain);
uint8_t amplify8(uint8_t sample, int32_t scaledGain);

}  // namespace tessura

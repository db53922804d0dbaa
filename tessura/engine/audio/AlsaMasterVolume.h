#pragma once
// The system mixer's master level: the "Master" control of the default ALSA mixer, where the
// machine has one (a machine without a sound card, or with a sound server only, has none).
#include "PlayerEngine.h"

namespace tessura {

class AlsaMasterVolume final : public MasterVolume {
  public:
    AlsaMasterVolume();
    ~AlsaMasterVolume() override;
    AlsaMasterVolume(const AlsaMasterVolume&) = delete;
    AlsaMasterVolume& operator=(const AlsaMasterVolume&) = delete;

    bool available() override { return element_ != nullptr; }
    // Left level in the low 16 bits, right in the high 16 bits, each 0-65535.
    void set(uint32_t packed) override;

  private:
    struct Mixer;
    Mixer* mixer_ = nullptr;
    void* element_ = nullptr;
};

}  // namespace tessura

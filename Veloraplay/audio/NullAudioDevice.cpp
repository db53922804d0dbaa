// "null": no sound; buffers are consumed at the real-time rate, so playback keeps its pace.
#include "PacedDevice.h"

namespace veloraplay {
namespace {

class NullAudioDevice final : public PacedDevice {
  public:
    ~NullAudioDevice() override { shutDown(); }

  protected:
    bool begin(int, int) override { return true; }
    void consume(const int16_t*, size_t, uint32_t) override {}
    void end() override {}
};

}  // namespace

std::unique_ptr<AudioDevice> makeNullAudioDevice() {
    return std::make_unique<NullAudioDevice>();
}

}  // namespace veloraplay

#pragma once
// Monitor playback of an encode: the frames the encoder wrote are decoded by a decoder of the
// job's own into the job's own buffer and laid into the output's blocks back to back, so a
// frame of any length fills blocks of any size. The output opens with the first decoded
// frame's format (blocks of 576 samples below 32000 Hz, else 1152); later frames in another
// format are converted to it.
#include "FrameConverter.h"
#include "MonitorOutput.h"
#include "Veloradecoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veloraplay {

class EncodeMonitor {
  public:
    explicit EncodeMonitor(MonitorOutput& output);
    ~EncodeMonitor();
    EncodeMonitor(const EncodeMonitor&) = delete;
    EncodeMonitor& operator=(const EncodeMonitor&) = delete;

    // Decodes `count` more bytes of the stream and plays every frame they complete.
    void push(const uint8_t* bytes, size_t count);
    // The stream ended: the rest is decoded and played out, and the output closed. True when
    // there was an output to play out.
    bool finish();
    // Stopped: the output closes without playing what is queued.
    void abandon();

    // The decoder exists (the status line may show its format).
    bool decoding() const { return decoder_ != nullptr; }
    // The last decoded frame's information; only while decoding().
    const velora::FrameInfo& info() const { return decoder_->Info(); }
    // The output could not be opened: monitoring is off for the rest of the job.
    bool off() const { return off_; }

  private:
    bool ensureDecoder();
    void decodeAvailable();
    void play(const velora::FrameInfo& info, const int16_t* samples, size_t count);

    MonitorOutput& output_;
    velora::VeloradecoderPtr decoder_;
    std::vector<int16_t> pcm_;
    FrameConverter converter_;
    size_t blockSamples_ = 0;  // per block, all channels
    int16_t* block_ = nullptr;
    size_t fill_ = 0;
    bool opened_ = false;
    bool off_ = false;
};

}  // namespace veloraplay

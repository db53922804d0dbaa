#pragma once
// The encoder's monitor playback over a PcmSink (the process's sound output): waits for a
// free buffer and the play-out give up as soon as the job is stopped.
#include "Event.h"
#include "MonitorOutput.h"
#include "PcmSink.h"

namespace veloraplay {

class DeviceMonitor final : public MonitorOutput {
  public:
    explicit DeviceMonitor(PcmSink& sink) : sink_(sink) {}

    bool open(int channels, int sampleRate, int samplesPerBlock) override {
        return sink_.open(channels, sampleRate, samplesPerBlock);
    }
    int16_t* nextBlock() override { return sink_.nextBlock(&stop_); }
    void setLastBlockLength(size_t samples) override { sink_.setLastBlockLength(samples); }
    void drain() override { sink_.drain(&stop_); }
    void close() override { sink_.close(); }
    void interrupt() override { stop_.set(); }
    void rearm() override { stop_.reset(); }

  private:
    PcmSink& sink_;
    Event stop_{true};
};

}  // namespace veloraplay

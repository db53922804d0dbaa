// Where the playback and decode-to-file workers put their PCM: one block per decoded frame
// (or per 1024 samples per channel of WAVE input), interleaved 16-bit signed samples.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veloraplay {

class Event;

class PcmSink {
  public:
    virtual ~PcmSink() = default;
    // Prepares for blocks of samplesPerBlock samples per channel; false when it cannot.
    virtual bool open(int channels, int sampleRate, int samplesPerBlock) = 0;
    // The next block to fill, or null when `stop` (may be null) was signalled meanwhile.
    virtual int16_t* nextBlock(Event* stop) = 0;
    // The stream ends inside the block handed out last: only its first `samples` samples
    // count. Until the next nextBlock, drain and close use just those.
    virtual void setLastBlockLength(size_t samples) = 0;
    // Lets what was handed out be heard (or written) before close; returns early when `stop`
    // (may be null) is signalled.
    virtual void drain(Event* stop) = 0;
    virtual void close() = 0;
    // Drops whatever is queued (pause and seek).
    virtual void reset() = 0;
    // The run was stopped: the sink may discard its result.
    virtual void abort() = 0;
};

}  // namespace veloraplay

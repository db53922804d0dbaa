// The decode-to-file sink: every block handed out is written to a 16-bit PCM WAVE file. The file
// is written to a temporary beside the output and renamed over it at close, so a cancelled or
// failed job leaves an existing file as it was and no partial one behind.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "OutputTarget.h"
#include "PcmSink.h"
#include "WaveFileWriter.h"

namespace veloraplay {

class WaveWriteSink final : public PcmSink {
  public:
    WaveWriteSink() = default;
    WaveWriteSink(const WaveWriteSink&) = delete;
    WaveWriteSink& operator=(const WaveWriteSink&) = delete;
    ~WaveWriteSink() override { abort(); }

    // The output for the next open; `input` (may be null) is the stat of the file being
    // decoded, which the output must not be.
    void setOutput(const std::string& name, const struct stat* input);

    // Creates the output and writes the header; false (see error()) when it cannot.
    bool open(int channels, int sampleRate, int samplesPerBlock) override;
    // Writes the block the caller filled last time and hands it back zeroed; null when no file
    // is open or a write failed (the output is then discarded).
    int16_t* nextBlock(Event* stop) override;
    void setLastBlockLength(size_t samples) override { lastBlockLength_ = samples; }
    void drain(Event* /*stop*/) override {}
    // Writes the last block, fixes the sizes and puts the file in place; on an error the
    // output is discarded and error() tells why.
    void close() override;
    void reset() override {}
    // Discards the output: an existing file is kept, no temporary is left.
    void abort() override;

    // Why the last open, write or close failed; empty when all went well.
    const std::string& error() const { return error_; }
    bool isOpen() const { return open_; }

  private:
    bool writeBlock(size_t samples);
    void fail(const std::string& reason);

    std::string name_;
    struct stat input_ {};
    bool hasInput_ = false;
    OutputTarget target_;
    WaveFileWriter writer_;
    std::vector<int16_t> block_;
    bool filled_ = false;  // a block was handed out and is still to be written
    size_t lastBlockLength_ = 0;
    bool open_ = false;
    std::string error_;
};

// The process's decode-to-file sink, made on first use.
WaveWriteSink& waveWriter();

}  // namespace veloraplay

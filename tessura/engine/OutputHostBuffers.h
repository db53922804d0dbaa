#pragma once
// The host's side of an output's block size, and of a DSP plug-in's result: both come from
// outside the program, so both are bounded before they size or fill a buffer.
#include "TessuraPluginAbi.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessura {

class OutputHostBuffers {
  public:
    // Far above any output's fragment (the built-in one stops at 32768), small enough that the
    // eight-block work buffer stays a few megabytes.
    static constexpr uint32_t kMaxBlockSize = 256 * 1024;

    // SetBlockSize: 0 keeps the current size, anything above kMaxBlockSize is cut to it; the
    // work (8 blocks), staging (4) and output (9: what is left of one block and a work
    // buffer's worth) buffers follow. Returns the size in force.
    uint32_t setBlockSize(uint32_t requested);
    uint32_t blockSize() const { return blockSize_; }

    std::vector<uint8_t>& work() { return work_; }
    std::vector<uint8_t>& staging() { return staging_; }
    std::vector<uint8_t>& output() { return output_; }

  private:
    uint32_t blockSize_ = 0;
    std::vector<uint8_t> work_, staging_, output_;
};

// Runs a DSP plug-in's Process on `length` bytes in `buffer` (of `capacity` bytes). A result in
// the plug-in's own memory is copied back; whatever length it claims, the result is cut to
// `capacity` and to whole frames. A failing Process leaves the block as it was given.
std::size_t runProcessor(ProcessorInterface* processor, uint8_t* buffer, std::size_t length,
                         std::size_t capacity, uint32_t frameBytes);

}  // namespace tessura

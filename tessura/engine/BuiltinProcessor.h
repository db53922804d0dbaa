#pragma once
// A processor the program carries itself, reachable through the same ProcessorInterface table
// as a DSP plug-in. Subclasses give the info record and the processing; the table functions
// forward to them.
#include "TessuraPluginAbi.h"

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace tessura {

struct PcmFormat {
    int32_t rate = 44100;
    int32_t channels = 2;
    int32_t bits = 16;
    uint32_t frameBytes() const;
};

class BuiltinProcessor {
  public:
    BuiltinProcessor();
    virtual ~BuiltinProcessor() = default;
    BuiltinProcessor(const BuiltinProcessor&) = delete;
    BuiltinProcessor& operator=(const BuiltinProcessor&) = delete;

    ProcessorInterface* processorInterface() { return &handle_.iface; }

    void setFormat(const PcmFormat& format);
    PcmFormat format() const;
    // Processes `length` bytes at `data` in place; the result may be longer or shorter but never
    // more than `capacity` bytes. Returns the new length.
    virtual std::size_t process(uint8_t* data, std::size_t length, std::size_t capacity) = 0;
    virtual PluginInfo info() const = 0;

    // What the Process slot of the table may write back (the host's work buffer).
    void setWorkCapacity(std::size_t bytes) { workCapacity_ = bytes; }

  protected:
    mutable std::mutex mutex_;  // guards the format and the subclass's settings
    PcmFormat format_;          // guarded by mutex_

  private:
    struct Handle {
        ProcessorInterface iface;
        BuiltinProcessor* owner;
    };
    static BuiltinProcessor& of(ProcessorInterface* self);
    static const ProcessorInterfaceTable kTable;
    Handle handle_;
    std::size_t workCapacity_ = 128 * 1024;
};

}  // namespace tessura

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
    // `table` begins with the eight common slots (commonSlots()); a processor with slots of its
    // own passes a longer table.
    explicit BuiltinProcessor(const ProcessorInterfaceTable* table = &kCommonTable);

    // Constant, so tables built from it need no start-up code and no initialisation order.
    static constexpr ProcessorInterfaceTable commonSlots() {
        return {&slotDestroy, &slotOk, &slotOk, &slotOk, &slotGetInfo, &slotOk, &slotSetFormat, &slotProcess};
    }
    virtual ~BuiltinProcessor() = default;
    BuiltinProcessor(const BuiltinProcessor&) = delete;
    BuiltinProcessor& operator=(const BuiltinProcessor&) = delete;

    ProcessorInterface* processorInterface() { return &handle_.iface; }

    // Virtual so a processor whose state depends on the format can rebuild it here.
    virtual void setFormat(const PcmFormat& format);
    PcmFormat format() const;
    // Processes `length` bytes at `data` in place; the result may be longer or shorter but never
    // more than `capacity` bytes. Returns the new length.
    virtual std::size_t process(uint8_t* data, std::size_t length, std::size_t capacity) = 0;
    virtual PluginInfo info() const = 0;

    // What the Process slot of the table may write back (the host's work buffer).
    void setWorkCapacity(std::size_t bytes) { workCapacity_ = bytes; }

    // The object behind an interface this class handed out.
    static BuiltinProcessor& of(ProcessorInterface* self);
    static const ProcessorInterfaceTable kCommonTable;

  protected:
    mutable std::mutex mutex_;  // guards the format and the subclass's settings
    PcmFormat format_;          // guarded by mutex_

  private:
    static void slotDestroy(ProcessorInterface* self);
    static int32_t slotOk(ProcessorInterface* self);
    static int32_t slotGetInfo(ProcessorInterface* self, PluginInfo* info);
    static int32_t slotSetFormat(ProcessorInterface* self, int32_t* rate, int32_t* channels, int32_t* bits);
    static int32_t slotProcess(ProcessorInterface* self, void** data, uint32_t* length);

    struct Handle {
        ProcessorInterface iface;
        BuiltinProcessor* owner;
    };
    Handle handle_;
    std::size_t workCapacity_ = 128 * 1024;
};

}  // namespace tessura

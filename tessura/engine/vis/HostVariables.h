#pragma once
// The host-variable interface offered to plug-ins of version 2 and later. The values come
// from the program through a HostVariableSource; the interface itself only answers by name.
#include "TessuraVisAbi.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tessura {

// What the program knows at the moment of the question. Called on the window's thread; a
// source that reads the playlist takes the playlist's lock itself.
class HostVariableSource {
  public:
    virtual ~HostVariableSource() = default;
    virtual int32_t songLengthMs() = 0;
    virtual int32_t songPositionMs() = 0;
    // The current skin's three visualisation colours (0xAARRGGBB).
    virtual uint32_t visualLeftColour() = 0;
    virtual uint32_t visualRightColour() = 0;
    virtual uint32_t visualBlendColour() = 0;
    virtual std::string skinName() = 0;
    virtual std::string songFileName() = 0;
    virtual std::string songDisplayText() = 0;
};

class HostVariablesService {
  public:
    explicit HostVariablesService(HostVariableSource& source);
    HostVariablesService(const HostVariablesService&) = delete;
    HostVariablesService& operator=(const HostVariablesService&) = delete;

    std::optional<int32_t> QueryInt(const std::string& name);
    // A new text (malloc) for FreeString, or null.
    char* QueryString(const std::string& name);
    static void FreeString(char* text);

    // The interface handed to plug-ins; valid as long as this object.
    HostVariables* iface() { return &handle_.iface; }

  private:
    struct Handle {
        HostVariables iface;
        HostVariablesService* owner;
    };
    static HostVariablesService& of(HostVariables* self);
    static const HostVariablesTable kTable;

    HostVariableSource& source_;
    Handle handle_;
};

}  // namespace tessura

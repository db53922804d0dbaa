#pragma once
// The shared body of the project's input modules: Open, Close, Play, Stop, Seek and GetInfo
// on the record, with a decoding thread that hands 16-bit PCM to the host. Each module gives a
// Decoder; one module library plays one track at a time, as the host asks.
#include "HostSource.h"
#include "TessuraPluginAbi.h"

#include <memory>
#include <string>

namespace tessura_plugin {

class Decoder {
  public:
    virtual ~Decoder() = default;
    // Reads the stream's format from `source`; false when it is not this module's kind.
    virtual bool open(HostSource& source) = 0;
    virtual int32_t rate() const = 0;
    virtual int32_t channels() const = 0;
    // The next piece of interleaved 16-bit PCM (valid until the next call); false at the end.
    virtual bool next(const int16_t*& samples, std::size_t& frames) = 0;
    virtual bool seekFrame(int64_t frame) = 0;
    virtual int64_t lengthFrames() = 0;  // -1 when unknown
    virtual std::string describe() const = 0;  // for the information text
};

using DecoderFactory = std::unique_ptr<Decoder> (*)();

// Given by each module for ModuleExports.cpp: its description, its decoder, and the start of
// the library it decodes with (false refuses Initialise).
const ModuleDescription& moduleDescription();
std::unique_ptr<Decoder> makeModuleDecoder();
bool startModuleLibrary();

// Fills the module's entry points of `record` (called from Initialise).
void bindDecodingModule(InputModuleRecord* record, DecoderFactory factory);
// The module's part of Shutdown: stops and closes what is open.
void releaseDecodingModule();
// The open track's information as a small HTML text; empty when nothing is open.
std::string decodingModuleInfoHtml();
// ExtendedInfo over that text: nonzero when it fitted; else *size is raised to what it needs.
int32_t copyInfoHtml(char* buffer, uint32_t* size);

}  // namespace tessura_plugin

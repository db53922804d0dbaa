#pragma once
// Where an input module's bytes come from when the player opens the source for it: a local
// file, or an internet stream read ahead on a thread of its own. The engine tries each kind it
// was given, in order, and keeps the first whose CanOpen accepts the name.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tessura {

// The engine's request callback (HostRequest's type and argument), handed to Open: a stream
// source shows its status texts and reaches the settings through it.
using SourceRequest = std::function<intptr_t(int32_t type, intptr_t argument)>;

// What a source knows of the track: a stream's title and its stream text ("A / B").
struct StreamInfo {
    std::string title;
    std::string streamText;
};

class StreamSource {
  public:
    virtual ~StreamSource() = default;
    virtual bool Open(const std::string& name, SourceRequest request) = 0;
    virtual void Close() = 0;
    // Reads up to `length` bytes; `length` becomes the count read (0 at the end).
    virtual bool Read(void* buffer, uint32_t& length) = 0;
    // `origin` as SeekSource's methods (0 begin, 1 current, 2 end). `offset` becomes the new
    // position and `previous` the old one.
    virtual bool Seek(int64_t& offset, int32_t origin, int64_t& previous) = 0;
    virtual bool GetInfo(StreamInfo& info) = 0;
    virtual bool CanOpen(const std::string& name) = 0;
    virtual bool AllowSave() = 0;
};

using StreamSourceFactory = std::function<std::unique_ptr<StreamSource>()>;

// The first source of `kinds` that accepts `name` (CanOpen), or null; refused ones are
// destroyed at once.
std::unique_ptr<StreamSource> ChooseStreamSource(const std::vector<StreamSourceFactory>& kinds,
                                                 const std::string& name);

}  // namespace tessura

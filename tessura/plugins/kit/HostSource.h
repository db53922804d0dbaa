#pragma once
// An input module's view of the file it plays: the host's Read and SeekSource functions of its
// record. The module never opens the file itself.
#include "TessuraPluginAbi.h"

#include <cstddef>
#include <cstdint>

namespace tessura_plugin {

class HostSource {
  public:
    explicit HostSource(const InputModuleRecord* record) : record_(record) {}
    // Bytes read, 0 at the end, -1 on failure.
    long read(void* buffer, std::size_t size);
    // The new position, -1 when the source cannot seek.
    int64_t seek(int64_t position, int32_t method);
    int64_t tell() { return seek(0, SOURCE_SEEK_CURRENT); }
    // The source's size, -1 when it cannot be known (a stream).
    int64_t size();

  private:
    const InputModuleRecord* record_;
};

}  // namespace tessura_plugin

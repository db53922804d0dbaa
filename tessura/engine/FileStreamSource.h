#pragma once
// A local file as a stream source: one descriptor, read sequentially, seekable.
#include "StreamSource.h"

namespace tessura {

class FileStreamSource final : public StreamSource {
  public:
    ~FileStreamSource() override;
    bool Open(const std::string& name, SourceRequest request) override;
    void Close() override;
    bool Read(void* buffer, uint32_t& length) override;
    bool Seek(int64_t& offset, int32_t origin, int64_t& previous) override;
    bool GetInfo(StreamInfo&) override { return false; }
    // Whether the name is a regular file that can be opened for reading (folders and devices
    // are not sources).
    bool CanOpen(const std::string& name) override;
    bool AllowSave() override { return true; }

  private:
    int fd_ = -1;
};

}  // namespace tessura

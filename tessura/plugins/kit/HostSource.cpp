#include "HostSource.h"

#include <algorithm>

namespace tessura_plugin {

long HostSource::read(void* buffer, std::size_t size) {
    if (record_ == nullptr || record_->Read == nullptr) return -1;
    uint32_t got = 0;
    const auto asked = static_cast<uint32_t>(std::min<std::size_t>(size, 1u << 30));
    if (record_->Read(buffer, asked, &got) == 0) return -1;
    return static_cast<long>(std::min(got, asked));
}

int64_t HostSource::seek(int64_t position, int32_t method) {
    if (record_ == nullptr || record_->SeekSource == nullptr) return -1;
    int64_t previous = 0;
    if (record_->SeekSource(position, method, &previous) == 0) return -1;
    if (method == SOURCE_SEEK_CURRENT && position == 0) return previous;
    int64_t now = 0;
    if (record_->SeekSource(0, SOURCE_SEEK_CURRENT, &now) == 0) return -1;
    return now;
}

int64_t HostSource::size() {
    const int64_t here = tell();
    if (here < 0) return -1;
    const int64_t end = seek(0, SOURCE_SEEK_END);
    seek(here, SOURCE_SEEK_BEGIN);
    return end;
}

}  // namespace tessura_plugin

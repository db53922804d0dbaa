#include "SongFormatTable.h"

namespace tessura {

void SongFormatTable::record(int32_t songId, const PcmFormat& format) {
    std::lock_guard<std::mutex> hold(mutex_);
    formats_[songId] = format;
    while (formats_.size() > kMaxSongs) formats_.erase(formats_.begin());
}

void SongFormatTable::forget(int32_t songId) {
    std::lock_guard<std::mutex> hold(mutex_);
    formats_.erase(songId);
}

std::optional<PcmFormat> SongFormatTable::find(int32_t songId) const {
    std::lock_guard<std::mutex> hold(mutex_);
    const auto found = formats_.find(songId);
    if (found == formats_.end()) return std::nullopt;
    return found->second;
}

std::size_t SongFormatTable::size() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return formats_.size();
}

}  // namespace tessura

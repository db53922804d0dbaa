#pragma once
// The format of every song id still audible: a song's blocks can still be playing after the
// next song opened the chain in another format, so the visualisation and the position display
// ask here by id instead of trusting the chain's last format.
#include "BuiltinProcessor.h"

#include <map>
#include <mutex>
#include <optional>

namespace tessura {

class SongFormatTable {
  public:
    void record(int32_t songId, const PcmFormat& format);
    void forget(int32_t songId);
    std::optional<PcmFormat> find(int32_t songId) const;
    std::size_t size() const;

  private:
    // Far more than can be audible at once; a table that is never told of song changes (an
    // output that does not report them) stays bounded.
    static constexpr std::size_t kMaxSongs = 64;
    mutable std::mutex mutex_;  // guards formats_
    std::map<int32_t, PcmFormat> formats_;
};

}  // namespace tessura

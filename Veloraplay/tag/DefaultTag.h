// The 128-byte tag written into a newly encoded file: title and artist from the source
// WAVE's INFO texts (or the file name and "Unknown"), album "Unknown", the current year,
// the encoder's name as comment and genre 12 ("Other").
#pragma once

#include <cstdint>
#include <string>

namespace velora {

constexpr int kDefaultTagBytes = 128;

// Returns 0 without writing when `size` < 128, else fills buffer[0..127] and returns 128.
int BuildDefaultTag(uint8_t* buffer, int size, const std::string& sourceWavePath,
                    int currentYearUtc);
// Same, with the current year in UTC.
int BuildDefaultTag(uint8_t* buffer, int size, const std::string& sourceWavePath);

}  // namespace velora

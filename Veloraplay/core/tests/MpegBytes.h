#pragma once
// The start of an MPEG-1 layer III stream (128 kbit/s, 44.1 kHz): a frame header and zeros,
// enough for checks that ask whether a file holds MPEG audio.
#include <cstddef>
#include <string>

namespace veloraplay::test {

inline std::string mpegAudio(size_t size = 417) {
    std::string s(size, '\0');
    s[0] = '\xFF';
    s[1] = '\xFB';
    s[2] = '\x90';
    s[3] = '\x64';
    return s;
}

}  // namespace veloraplay::test

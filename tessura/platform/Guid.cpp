#include "Guid.h"

#include <cstdio>

namespace tessura {

bool Guid::isNull() const {
    return *this == Guid{};
}

std::string formatGuid(const Guid& g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned long>(g.data1), unsigned{g.data2}, unsigned{g.data3},
                  unsigned{g.data4[0]}, unsigned{g.data4[1]}, unsigned{g.data4[2]},
                  unsigned{g.data4[3]}, unsigned{g.data4[4]}, unsigned{g.data4[5]},
                  unsigned{g.data4[6]}, unsigned{g.data4[7]});
    return text;
}

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::optional<Guid> parseGuid(std::string_view text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
        text = text.substr(1, 36);
    }
    if (text.size() != 36) return std::nullopt;
    // 32 hex digits with dashes after digit groups of 8, 4, 4, 4.
    uint8_t bytes[16] = {};
    std::size_t digit = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return std::nullopt;
            continue;
        }
        const int v = hexValue(text[i]);
        if (v < 0) return std::nullopt;
        bytes[digit / 2] = static_cast<uint8_t>((bytes[digit / 2] << 4) | v);
        ++digit;
    }
    Guid g;
    g.data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
              bytes[3];
    g.data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    g.data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i) g.data4[static_cast<std::size_t>(i)] = bytes[8 + i];
    return g;
}

}  // namespace tessura

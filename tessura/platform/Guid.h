#pragma once
// Plug-in identifiers, kept as text in the settings in the form
// "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X" (braces accepted when reading).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessura {

struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};

    bool isNull() const;
    friend bool operator==(const Guid&, const Guid&) = default;
};

std::string formatGuid(const Guid& guid);
std::optional<Guid> parseGuid(std::string_view text);

}  // namespace tessura

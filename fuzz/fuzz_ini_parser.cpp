// The INI parser on arbitrary text: every look-up must stay inside its buffer, and what the
// writer makes of a document must read back as the same sections, keys and values (so a
// saved playlist or settings file never changes on the next read).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "IniParser.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "fuzz_ini_parser: %s (%s)\n", what, detail.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using tessura::INIParser;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    INIParser ini;
    ini.OpenMemory(text);
    for (const tessura::IniSection& section : ini.Sections()) {
        if (!ini.HasSection(section.name)) Fail("a parsed section is not found", section.name);
        for (const tessura::IniEntry& entry : section.entries) {
            char small[8];
            const int copied = ini.GetString(section.name, entry.key, small, sizeof small);
            if (copied < 0 || copied > 7 || small[copied] != '\0') Fail("GetString overran", entry.key);
            ini.GetInt(section.name, entry.key);
            ini.GetFloat(section.name, entry.key);
        }
    }

    INIParser again;
    again.OpenMemory(ini.Serialise());
    const auto& before = ini.Sections();
    const auto& after = again.Sections();
    if (before.size() != after.size()) Fail("section count changed on a write", std::to_string(before.size()));
    for (std::size_t s = 0; s < before.size(); ++s) {
        if (before[s].name != after[s].name) Fail("section name changed", before[s].name);
        if (before[s].entries.size() != after[s].entries.size()) Fail("entry count changed", before[s].name);
        for (std::size_t e = 0; e < before[s].entries.size(); ++e) {
            const auto& a = before[s].entries[e];
            const auto& b = after[s].entries[e];
            if (a.key != b.key || a.value != b.value) Fail("entry changed on a write", a.key);
        }
    }
    return 0;
}

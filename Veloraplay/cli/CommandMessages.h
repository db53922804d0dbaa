// How the velora commands report: one line on standard error, "velora: " first; status 1
// for a failure, 2 for a usage error (with the pointer to --help).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace veloraplay {

inline int Fail(const std::string& message) {
    std::fprintf(stderr, "velora: %s\n", message.c_str());
    return 1;
}

inline int UsageError(const std::string& message) {
    std::fprintf(stderr, "velora: %s (try 'velora --help')\n", message.c_str());
    return 2;
}

inline void Notice(const std::string& message) { std::fprintf(stderr, "velora: %s\n", message.c_str()); }

// How messages name a file; "-" is one of the standard streams.
inline std::string FileLabel(const std::string& name, const char* stream) {
    return name == "-" ? std::string(stream) : "'" + name + "'";
}

// A whole number in [low, high] from an option's value.
inline bool ParseNumber(std::string_view text, int low, int high, int& value) {
    if (text.empty() || text.size() > 9) return false;
    int v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < low || v > high) return false;
    value = v;
    return true;
}

}  // namespace veloraplay

#include "TextCase.h"

namespace tessura {

namespace {
char lowerChar(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
}  // namespace

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerChar(a[i]) != lowerChar(b[i])) return false;
    }
    return true;
}

bool containsNoCase(std::string_view text, std::string_view part) {
    if (part.size() > text.size()) return false;
    for (std::size_t start = 0; start + part.size() <= text.size(); ++start) {
        if (equalsNoCase(text.substr(start, part.size()), part)) return true;
    }
    return false;
}

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = lowerChar(c);
    return lower;
}

std::string_view stripBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string singleLine(std::string_view text) {
    std::string line(text);
    for (char& c : line) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return line;
}

std::string cutUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    std::size_t end = maxBytes;
    // Step back over continuation bytes so the cut falls before a whole character.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return std::string(text.substr(0, end));
}

}  // namespace tessura

// Reading the line-based text tables the generators take: whitespace-separated tokens, '#'
// comment lines, plain numbers, and error messages that name the tool, the file and the line.
#pragma once

#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// The input of one generator run, for its error messages.
struct TextSource {
    const char* tool = "";
    std::string path;

    // Prints "tool: path:line: message" on stderr (without the line when it is 0) and returns
    // false, so a parser can return it straight away.
    bool Fail(int line, const std::string& message) const {
        if (line > 0)
            std::fprintf(stderr, "%s: %s:%d: %s\n", tool, path.c_str(), line, message.c_str());
        else
            std::fprintf(stderr, "%s: %s: %s\n", tool, path.c_str(), message.c_str());
        return false;
    }
};

inline std::vector<std::string> Tokens(const std::string& line) {
    std::vector<std::string> tokens;
    std::istringstream stream(line);
    std::string token;
    while (stream >> token) tokens.push_back(token);
    return tokens;
}

// Calls `handle(line, tokens)` for every line of the source that is neither blank nor a '#'
// comment and stops at the first false. A file that cannot be opened or read is reported here.
template <typename Handler>
bool ReadTokenLines(const TextSource& source, Handler handle) {
    std::ifstream in(source.path);
    if (!in) return source.Fail(0, "cannot open");
    std::string text;
    int line = 0;
    while (std::getline(in, text)) {
        ++line;
        const std::vector<std::string> tokens = Tokens(text);
        if (tokens.empty() || tokens[0][0] == '#') continue;
        if (!handle(line, tokens)) return false;
    }
    if (in.bad()) return source.Fail(0, "read error");
    return true;
}

// Accepts plain decimal digits only: no sign, no trailing characters.
inline bool ParseUint(const std::string& text, int maxValue, int& out) {
    if (text.empty() || text.size() > 9 || text[0] == '-') return false;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return false;
    if (value < 0 || value > maxValue) return false;
    out = value;
    return true;
}

#pragma once
// Runs a shell command line and gives what it wrote to standard output (the tests' peers: sox,
// mpg123, man).
#include <cstdio>
#include <string>

namespace tessura::test {

inline std::string commandOutput(const std::string& command) {
    std::string out;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char piece[4096];
    for (std::size_t n; (n = std::fread(piece, 1, sizeof piece, pipe)) > 0;) out.append(piece, n);
    ::pclose(pipe);
    return out;
}

}  // namespace tessura::test

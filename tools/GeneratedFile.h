// Writes a generated source file through a temporary file that is renamed into place, so an
// interrupted or failed build never leaves half a table behind.
#pragma once

#include <cstdio>
#include <string>

// `write(FILE*)` returns false on failure. Returns the tool's exit status: 0 on success, 1
// after a message on stderr.
template <typename Writer>
int WriteGeneratedFile(const char* tool, const std::string& output, Writer write) {
    const std::string temporary = output + ".tmp";
    std::FILE* out = std::fopen(temporary.c_str(), "w");
    if (out == nullptr) {
        std::fprintf(stderr, "%s: cannot create %s\n", tool, temporary.c_str());
        return 1;
    }
    const bool written = write(out) && std::ferror(out) == 0;
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "%s: cannot write %s\n", tool, temporary.c_str());
        std::remove(temporary.c_str());
        return 1;
    }
    if (std::rename(temporary.c_str(), output.c_str()) != 0) {
        std::fprintf(stderr, "%s: cannot rename %s to %s\n", tool, temporary.c_str(), output.c_str());
        std::remove(temporary.c_str());
        return 1;
    }
    return 0;
}

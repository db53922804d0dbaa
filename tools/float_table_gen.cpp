// float_table_gen INPUT OUTPUT.cpp HEADER NAMESPACE NAME COUNT [COLUMN]
//
// Turns a data file of lines "index value..." (the value is the last column, or column
// COLUMN counted from 1 after the index; lines that start with '#' are comments) into the
// definition `const float NAME[COUNT]` in NAMESPACE,
// including HEADER. Every index 0..COUNT-1 must appear exactly once. The output is written
// through a temporary file that is renamed into place.

#include "GeneratedFile.h"
#include "TextTable.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr const char* kTool = "float_table_gen";

// Reads the value of every index 0..COUNT-1 of the input, as a float literal.
bool ReadValues(const TextSource& input, long count, long column,
                std::vector<std::string>& values) {
    values.assign(static_cast<size_t>(count), std::string());
    std::vector<int> seenAt(static_cast<size_t>(count), 0);
    const bool read = ReadTokenLines(input, [&](int line, const std::vector<std::string>& tok) {
        if (tok.size() < 2) return input.Fail(line, "expected 'index ... value'");
        char* end = nullptr;
        const long index = std::strtol(tok[0].c_str(), &end, 10);
        if (*end != '\0' || index < 0 || index >= count)
            return input.Fail(line, "index out of range");
        if (column > 0 && static_cast<size_t>(column) >= tok.size())
            return input.Fail(line, "no such column");
        const std::string& field = column > 0 ? tok[static_cast<size_t>(column)] : tok.back();
        const double value = std::strtod(field.c_str(), &end);
        if (*end != '\0' || end == field.c_str()) return input.Fail(line, "value is not a number");
        const size_t i = static_cast<size_t>(index);
        if (seenAt[i] != 0) return input.Fail(line, "index given twice");
        seenAt[i] = line;
        char literal[64];
        std::snprintf(literal, sizeof literal, "%.9ef", value);
        values[i] = literal;
        return true;
    });
    if (!read) return false;
    for (size_t i = 0; i < values.size(); ++i) {
        if (seenAt[i] == 0) return input.Fail(0, "index " + std::to_string(i) + " is missing");
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7 && argc != 8) {
        std::fprintf(
            stderr,
            "usage: float_table_gen INPUT OUTPUT.cpp HEADER NAMESPACE NAME COUNT [COLUMN]\n");
        return 2;
    }
    const TextSource input{kTool, argv[1]};
    const long column = argc == 8 ? std::strtol(argv[7], nullptr, 10) : 0;  // 0: the last
    if (argc == 8 && column <= 0) {
        input.Fail(0, "bad COLUMN");
        return 1;
    }
    const std::string output = argv[2];
    const std::string header = argv[3];
    const std::string space = argv[4];
    const std::string name = argv[5];
    const long count = std::strtol(argv[6], nullptr, 10);
    if (count <= 0 || count > 1000000) {
        input.Fail(0, "bad COUNT");
        return 1;
    }

    std::vector<std::string> values;
    if (!ReadValues(input, count, column, values)) return 1;

    return WriteGeneratedFile(kTool, output, [&](std::FILE* out) {
        WriteGeneratedNotice(out, kTool, input.path);
        std::fprintf(out, "#include \"%s\"\n\nnamespace %s {\n\nconst float %s[%ld] = {\n",
                     header.c_str(), space.c_str(), name.c_str(), count);
        for (size_t i = 0; i < values.size(); ++i) {
            std::fprintf(out, "    %s,%s", values[i].c_str(), (i % 4 == 3) ? "\n" : "");
        }
        std::fprintf(out, "\n};\n\n}  // namespace %s\n", space.c_str());
        return true;
    });
}

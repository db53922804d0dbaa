// Test support: the numeric rows of one of the library's data files (blank lines and '#'
// comments skipped), for comparing generated tables with their source.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velora::sbr::test {

// Each row's numbers; an empty result when the file cannot be read.
inline std::vector<std::vector<double>> DataFileRows(const std::string& path) {
    std::vector<std::vector<double>> rows;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        std::vector<double> row;
        for (double v = 0.0; s >> v;) row.push_back(v);
        rows.push_back(row);
    }
    return rows;
}

}  // namespace velora::sbr::test

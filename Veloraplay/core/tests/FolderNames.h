#pragma once
// The names in a folder, sorted, without "." and "..": what a test expects a job to have left.
#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

namespace veloraplay::test {

inline std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace veloraplay::test

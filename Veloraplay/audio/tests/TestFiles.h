// Files for the audio tests: whole-file reads and writes, folder listings and a fresh folder
// per case.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace veloraplay::test {

inline std::string readAll(const std::string& path) {
    std::string bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[65536];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
        std::fclose(f);
    }
    return bytes;
}

inline void writeAll(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
}

// The names in `dir`, sorted.
inline std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh folder, removed with what is left in it.
struct TempDir {
    std::string path;
    TempDir() {
        std::string pattern = ::testing::TempDir() + "/veloraplay_audio_XXXXXX";
        path = ::mkdtemp(pattern.data()) ? pattern : "";
    }
    ~TempDir() {
        for (const auto& name : listDir(path)) ::unlink((path + "/" + name).c_str());
        ::rmdir(path.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::vector<std::string> list() const { return listDir(path); }
};

}  // namespace veloraplay::test

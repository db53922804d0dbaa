#pragma once
// A folder of its own for one test, removed with everything in it afterwards.
#include "AtomicFile.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace tessura::test {

class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessura-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    // Writes `bytes` to `name` (folders made as needed) and returns the full path.
    std::string write(const std::string& name, const std::string& bytes) const {
        const std::filesystem::path full = file(name);
        std::filesystem::create_directories(full.parent_path());
        if (std::FILE* out = std::fopen(full.c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), out);
            std::fclose(out);
        }
        return full.string();
    }

    std::string read(const std::string& name) const {
        std::string bytes;
        readWholeFile(file(name), bytes);
        return bytes;
    }

  private:
    std::string path_;
};

}  // namespace tessura::test

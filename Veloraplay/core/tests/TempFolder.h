#pragma once
// A fresh folder under /tmp for one test, removed with everything in it afterwards. Short
// paths, because socket names must fit in 108 bytes.
#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <string>
#include <vector>

namespace veloraplay::test {

class TempFolder {
  public:
    TempFolder() {
        char name[] = "/tmp/vpt-XXXXXX";
        path_ = ::mkdtemp(name) ? name : "";
    }
    ~TempFolder() {
        if (!path_.empty()) {
            const std::string command = "rm -rf '" + path_ + "'";
            if (std::system(command.c_str()) != 0) {
            }
        }
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline unsigned modeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFFu;
}

}  // namespace veloraplay::test

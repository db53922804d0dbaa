#include "AtomicOutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace veloraplay {

bool AtomicOutputFile::Open(const std::string& target, std::string& error) {
    Discard();
    target_ = target;
    const size_t slash = target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string pattern = dir + "." + base + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    // mkstemp creates the file private; give it the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    temporary_ = name.data();
    file_ = fdopen(fd, "w+b");
    if (file_ == nullptr) {
        error = std::strerror(errno);
        close(fd);
        unlink(temporary_.c_str());
        temporary_.clear();
        return false;
    }
    return true;
}

bool AtomicOutputFile::Commit(std::string& error) {
    if (file_ == nullptr) {
        error = "not open";
        return false;
    }
    bool ok = std::fflush(file_) == 0;
    if (!ok) error = std::strerror(errno);
    if (std::fclose(file_) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    file_ = nullptr;
    if (ok && std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    if (!ok) unlink(temporary_.c_str());
    temporary_.clear();
    return ok;
}

void AtomicOutputFile::Discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        unlink(temporary_.c_str());
        temporary_.clear();
    }
}

}  // namespace veloraplay

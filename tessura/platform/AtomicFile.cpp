#include "AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tessura {

namespace {
std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}
}  // namespace

WriteResult writeFileAtomically(const std::string& path, std::string_view bytes, mode_t mode) {
    std::string pattern = path + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return WriteResult::CannotCreate;
    const std::string temporary(name.data());
    ::fchmod(fd, mode);
    const bool written = writeAll(fd, bytes) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        ::unlink(temporary.c_str());
        return WriteResult::ShortWrite;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return WriteResult::CannotReplace;
    }
    // The rename itself reaches the disk with the folder.
    const int folder = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return WriteResult::Ok;
}

bool makeFolders(const std::string& folder, mode_t mode) {
    if (folder.empty()) return false;
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    const std::string parent = folderOf(folder);
    if (parent != folder && parent != "." && !makeFolders(parent, mode)) return false;
    return ::mkdir(folder.c_str(), mode) == 0 || errno == EEXIST;
}

bool readWholeFile(const std::string& path, std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    bytes.clear();
    char piece[65536];
    std::size_t n = 0;
    while ((n = std::fread(piece, 1, sizeof piece, file)) > 0) bytes.append(piece, n);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

bool fileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace tessura

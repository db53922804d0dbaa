#include "SharedLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace tessura {

namespace {
std::recursive_mutex& folderMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}
}  // namespace

ScopedCurrentFolder::ScopedCurrentFolder(const std::string& folder) {
    folderMutex().lock();
    if (folder.empty()) return;
    char* current = ::getcwd(nullptr, 0);
    if (current == nullptr) return;
    previous_.assign(current);
    std::free(current);
    changed_ = ::chdir(folder.c_str()) == 0;
}

ScopedCurrentFolder::~ScopedCurrentFolder() {
    if (changed_) (void)!::chdir(previous_.c_str());
    folderMutex().unlock();
}

std::unique_ptr<SharedLibrary> SharedLibrary::open(const std::string& path, std::string& error,
                                                   const std::string& workingFolder) {
    ScopedCurrentFolder folder(workingFolder);
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        error = why != nullptr ? why : "cannot be loaded";
        return nullptr;
    }
    return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle, path));
}

SharedLibrary::~SharedLibrary() {
    if (handle_ != nullptr) ::dlclose(handle_);
}

void* SharedLibrary::symbol(const char* name) const {
    return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr;
}

}  // namespace tessura

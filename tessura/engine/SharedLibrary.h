#pragma once
// One loaded plug-in file (dlopen), closed when the object goes. Symbols are looked up by name;
// a missing one is null.
#include <memory>
#include <string>

namespace tessura {

class SharedLibrary {
  public:
    // Null with `error` set when the file cannot be loaded. `workingFolder`, when given, is the
    // current folder while the file loads (restored afterwards).
    static std::unique_ptr<SharedLibrary> open(const std::string& path, std::string& error,
                                               const std::string& workingFolder = "");
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    void* symbol(const char* name) const;
    template <typename Function>
    Function function(const char* name) const {
        return reinterpret_cast<Function>(symbol(name));
    }
    void* handle() const { return handle_; }
    const std::string& path() const { return path_; }

  private:
    SharedLibrary(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}
    void* handle_;
    std::string path_;
};

// Runs with `folder` as the current folder; calls are serialised, as the folder is the
// process's.
class ScopedCurrentFolder {
  public:
    explicit ScopedCurrentFolder(const std::string& folder);
    ~ScopedCurrentFolder();
    ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
    ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

  private:
    std::string previous_;
    bool changed_ = false;
};

}  // namespace tessura

#pragma once
// The one loaded copy of Feedline.so shared by every internet stream: loaded on first use,
// given the player's error service once, counted per instance and unloaded when the last
// instance is released.
//
// Threads: any; every member is guarded by mutex_.
#include "FeedlineAbi.h"

#include <memory>
#include <mutex>
#include <string>

namespace tessura {

class ErrorService;
class SharedLibrary;

class FeedlineLibrary {
  public:
    static constexpr int kLoadFailed = -1;
    static constexpr int kNoErrorSystemExport = -2;
    static constexpr int kNoInstanceExport = -3;

    // `path`: the library file (see DefaultPath).
    FeedlineLibrary(std::string path, std::shared_ptr<ErrorService> errors);
    ~FeedlineLibrary();
    FeedlineLibrary(const FeedlineLibrary&) = delete;
    FeedlineLibrary& operator=(const FeedlineLibrary&) = delete;

    // The program folder's "system/Feedline.so".
    static std::string DefaultPath(const std::string& programFolder);

    // 0 and a new instance in `instance`; kLoadFailed, kNoErrorSystemExport, kNoInstanceExport
    // or the library's refusal code with a null instance.
    int NewInstance(FeedlineInstance*& instance);
    // Releases the instance (its slot 1) and unloads the library after the last one.
    void Release(FeedlineInstance* instance);

    int instanceCount() const;
    bool loaded() const;
    const std::string& lastLoadError() const { return loadError_; }

    // The error service behind the library's C error-system object.
    struct ErrorBridge;

  private:
    void unloadIfIdleLocked();

    const std::string path_;
    std::shared_ptr<ErrorService> errors_;
    std::unique_ptr<ErrorBridge> bridge_;
    mutable std::mutex mutex_;  // guards the members below
    std::unique_ptr<SharedLibrary> library_;
    FeedlineNewStreamInstanceFn newInstance_ = nullptr;
    int instances_ = 0;
    std::string loadError_;
};

}  // namespace tessura

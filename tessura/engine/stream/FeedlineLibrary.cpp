#include "FeedlineLibrary.h"

#include "ErrorService.h"
#include "SharedLibrary.h"

#include <vector>

namespace tessura {

// The player's error service as the library's C error-system object.
struct FeedlineLibrary::ErrorBridge {
    FeedlineErrorSystem base;
    ErrorService* service;

    static int32_t registerCodes(FeedlineErrorSystem* self, const char* module, int32_t firstCode,
                                 const char* const* texts, int32_t count) {
        auto* bridge = reinterpret_cast<ErrorBridge*>(self);
        if (bridge->service == nullptr || module == nullptr || texts == nullptr || count <= 0 ||
            count > 4096) {
            return 0;
        }
        std::vector<std::string> list;
        for (int32_t i = 0; i < count; ++i) list.emplace_back(texts[i] != nullptr ? texts[i] : "");
        return bridge->service->registerModule(module, firstCode, std::move(list)) ? 1 : 0;
    }
};

namespace {
const FeedlineErrorSystemTable kErrorTable = {&FeedlineLibrary::ErrorBridge::registerCodes};
}

FeedlineLibrary::FeedlineLibrary(std::string path, std::shared_ptr<ErrorService> errors)
    : path_(std::move(path)), errors_(std::move(errors)),
      bridge_(new ErrorBridge{{&kErrorTable}, errors_.get()}) {}

FeedlineLibrary::~FeedlineLibrary() = default;

std::string FeedlineLibrary::DefaultPath(const std::string& programFolder) {
    return programFolder + "/system/Feedline.so";
}

void FeedlineLibrary::unloadIfIdleLocked() {
    if (instances_ == 0) {
        library_.reset();
        newInstance_ = nullptr;
    }
}

int FeedlineLibrary::NewInstance(FeedlineInstance*& instance) {
    instance = nullptr;
    std::lock_guard<std::mutex> hold(mutex_);
    if (!library_) {
        library_ = SharedLibrary::open(path_, loadError_);
        if (!library_) return kLoadFailed;
        auto provide = library_->function<FeedlineProvideErrorSystemFn>("ProvideErrorSystem");
        if (provide == nullptr) {
            library_.reset();
            return kNoErrorSystemExport;
        }
        provide(&bridge_->base);
        newInstance_ = library_->function<FeedlineNewStreamInstanceFn>("NewStreamInstance");
    }
    if (newInstance_ == nullptr) {
        unloadIfIdleLocked();
        return kNoInstanceExport;
    }
    FeedlineInstance* made = nullptr;
    const int result = newInstance_(&made, 0, FEEDLINE_VERSION);
    if (result != 0 || made == nullptr || made->table == nullptr) {
        unloadIfIdleLocked();
        return result != 0 ? result : kNoInstanceExport;
    }
    ++instances_;
    instance = made;
    return 0;
}

void FeedlineLibrary::Release(FeedlineInstance* instance) {
    if (instance == nullptr) return;
    std::lock_guard<std::mutex> hold(mutex_);
    instance->table->release(instance);
    if (instances_ > 0) --instances_;
    unloadIfIdleLocked();
}

int FeedlineLibrary::instanceCount() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return instances_;
}

bool FeedlineLibrary::loaded() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return library_ != nullptr;
}

}  // namespace tessura

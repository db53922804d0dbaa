#include "ErrorService.h"

#include "TextCase.h"

#include <array>
#include <utility>

namespace tessura {

namespace {
constexpr std::array<const char*, 13> kGenericTexts = {
    "unknown error",
    "out of memory",
    "file not found",
    "could not read file",
    "could not write to file",
    "invalid parameter to call",
    "disk write failed (disk full?)",
    "already initialized",
    "not initialized",
    "unknown version of object requested",
    "unknown type of object requested",
    "type of file specified is not correct",
    "resource not available/found",
};
}  // namespace

std::shared_ptr<ErrorService> ErrorService::create() {
    return std::shared_ptr<ErrorService>(new ErrorService());
}

bool ErrorService::registerModule(std::string_view module, int firstCode,
                                  std::vector<std::string> texts) {
    std::lock_guard<std::mutex> hold(mutex_);
    for (const Module& m : modules_) {
        if (equalsNoCase(m.name, module)) return false;
    }
    modules_.push_back({std::string(module), firstCode, std::move(texts)});
    return true;
}

bool ErrorService::hasModule(std::string_view module) const {
    std::lock_guard<std::mutex> hold(mutex_);
    for (const Module& m : modules_) {
        if (equalsNoCase(m.name, module)) return true;
    }
    return false;
}

std::optional<std::string> ErrorService::text(int code) const {
    if (code <= -1 && code >= -static_cast<int>(kGenericTexts.size())) {
        return std::string(kGenericTexts[static_cast<std::size_t>(-code - 1)]);
    }
    std::lock_guard<std::mutex> hold(mutex_);
    for (const Module& m : modules_) {
        const long index = static_cast<long>(m.firstCode) - code;
        if (index >= 0 && index < static_cast<long>(m.texts.size())) {
            return m.texts[static_cast<std::size_t>(index)];
        }
    }
    return std::nullopt;
}

}  // namespace tessura

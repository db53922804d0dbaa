#include "InputModule.h"

#include "ModuleHostServices.h"
#include "PluginCrashGuard.h"
#include "TextCase.h"

#include <cstring>
#include <vector>

namespace tessura {

namespace {
// Texts from a module are read no further than this, terminated or not.
constexpr std::size_t kMaxModuleText = 4096;

std::string copyText(const char* text) {
    return text != nullptr ? std::string(text, strnlen(text, kMaxModuleText)) : std::string();
}

// The extension list up to its empty entry, bounded so a list without one cannot run away.
std::string copyExtensions(const char* list) {
    std::string copy;
    if (list == nullptr) return copy;
    constexpr std::size_t kMaxList = kMaxModuleText;
    std::size_t at = 0;
    while (at < kMaxList && list[at] != '\0') {
        const std::size_t length = strnlen(list + at, kMaxList - at);
        copy.append(list + at, length);
        copy.push_back('\0');
        at += length + 1;
    }
    copy.push_back('\0');
    return copy;
}

constexpr uint32_t kFirstInfoSize = 4096;
constexpr uint32_t kMaxInfoSize = 16u << 20;
}  // namespace

std::vector<std::string> ModuleDescriptionCopy::extensionList() const {
    std::vector<std::string> list;
    std::size_t at = 0;
    while (at < extensions.size() && extensions[at] != '\0') {
        const std::size_t end = extensions.find('\0', at);
        list.push_back(extensions.substr(at, end - at));
        at = end + 1;
    }
    return list;
}

std::string folderOfPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

InputModule::InputModule(std::string path, std::string settingsPath)
    : path_(std::move(path)), settingsPath_(std::move(settingsPath)) {}

InputModule::~InputModule() {
    while (loadCount_ > 0) unload(true);
}

bool InputModule::bind() {
    query_ = library_->function<QueryFunction>("Query");
    initialise_ = library_->function<InitialiseFunction>("Initialise");
    shutdown_ = library_->function<ShutdownFunction>("Shutdown");
    configure_ = library_->function<ConfigureFunction>("Configure");
    extendedInfo_ = library_->function<ExtendedInfoFunction>("ExtendedInfo");
    return query_ != nullptr && initialise_ != nullptr && shutdown_ != nullptr && configure_ != nullptr;
}

InputModule::LoadResult InputModule::load(bool initialise) {
    if (library_ == nullptr) {
        PluginCall call(path_);
        library_ = SharedLibrary::open(path_, loadError_, folderOfPath(path_));
        if (library_ == nullptr) return LoadResult::CannotOpen;
        if (!bind()) {
            loadError_ = "lacks one of Query, Initialise, Shutdown, Configure";
            library_.reset();
            return LoadResult::MissingExport;
        }
        record_ = InputModuleRecord{};
        record_.library = library_->handle();
        record_.owner = this;
        initialised_ = false;
        if (initialise) {
            fillHostFunctions(record_, settingsPath_.c_str());
            if (initialise_(&record_) == 0) {
                loadError_ = "Initialise failed";
                library_.reset();
                record_ = InputModuleRecord{};
                return LoadResult::InitialiseFailed;
            }
            initialised_ = true;
        }
        const ModuleDescription* d = query_();
        if (d != nullptr) {
            description_.name = copyText(d->name);
            description_.text1 = copyText(d->text1);
            description_.text2 = copyText(d->text2);
            description_.extensions = copyExtensions(d->extensions);
            description_.flags = d->flags;
        }
    }
    ++loadCount_;
    return LoadResult::Loaded;
}

void InputModule::unload(bool shutdown) {
    if (loadCount_ == 0) return;
    if (--loadCount_ > 0) return;
    if (library_ != nullptr) {
        PluginCall call(path_);
        if (initialised_ && shutdown) shutdown_(&record_);
    }
    initialised_ = false;
    library_.reset();
    record_ = InputModuleRecord{};
}

bool InputModule::ClaimsFile(const std::string& name) const {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    const std::string extension = name.substr(dot + 1);
    for (const std::string& entry : description_.extensionList())
        if (equalsNoCase(entry, extension)) return true;
    return false;
}

std::optional<intptr_t> InputModule::configure() {
    if (load(false) != LoadResult::Loaded) return std::nullopt;
    ConfigureRecord request{library_->handle(), settingsPath_.c_str(), 0};
    int32_t offered;
    {
        PluginCall call(path_);
        offered = configure_(&request);
    }
    unload(false);
    if (offered == 0) return std::nullopt;
    return request.result;
}

std::optional<std::string> InputModule::extendedInfo() {
    if (library_ == nullptr || extendedInfo_ == nullptr) return std::nullopt;
    PluginCall call(path_);
    std::vector<char> buffer(kFirstInfoSize, '\0');
    uint32_t size = kFirstInfoSize;
    int32_t written = extendedInfo_(buffer.data(), &size, &record_);
    if (written == 0) {
        // Asked once more with what the module said it needs, and room to spare.
        if (size == 0 || size > kMaxInfoSize) return std::nullopt;
        const uint32_t larger = size + 2048;
        buffer.assign(larger, '\0');
        size = larger;
        written = extendedInfo_(buffer.data(), &size, &record_);
        if (written == 0) return std::nullopt;
    }
    // A module that fills the buffer to the end still gives a terminated text.
    buffer.back() = '\0';
    std::string text(buffer.data(), strnlen(buffer.data(), buffer.size()));
    if (text.empty()) return std::nullopt;
    return text;
}

}  // namespace tessura

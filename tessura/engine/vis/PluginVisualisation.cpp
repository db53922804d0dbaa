#include "PluginVisualisation.h"

#include "BackgroundEffects.h"
#include "PluginCrashGuard.h"

namespace tessura {

PluginVisualisation::PluginVisualisation(std::unique_ptr<SharedLibrary> library, const VisPluginRecord& record,
                                         std::string folder, PluginVisualisationContext context, bool unguarded)
    : Visualisation(unguarded),
      library_(std::move(library)),
      record_(record),
      folder_(std::move(folder)),
      context_(std::move(context)) {}

// The library is released with the unique_ptr.
PluginVisualisation::~PluginVisualisation() = default;

std::string PluginVisualisation::Name() const {
    return record_.name != nullptr && record_.name[0] != '\0' ? std::string(record_.name) : context_.externalName;
}

bool PluginVisualisation::guarded(const std::function<void()>& call) {
    PluginCall named(library_->path());
    if (unguarded()) {
        call();
        return true;
    }
    try {
        call();
        return true;
    } catch (...) {
        MarkCrashed();
        return false;
    }
}

void PluginVisualisation::MarkCrashed() {
    const bool first = !crashed_;
    crashed_ = true;
    if (first && context_.statusLine) context_.statusLine(context_.crashedText);
}

int32_t PluginVisualisation::Message(uint32_t message) {
    if (crashed_ || record_.Message == nullptr) return 0;
    int32_t result = 0;
    return guarded([&] { result = record_.Message(message); }) ? result : 0;
}

int32_t PluginVisualisation::Configure(const std::string& visIniPath) {
    if (crashed_ || record_.Settings == nullptr) return 0;
    int32_t result = 0;
    return guarded([&] { result = record_.Settings(visIniPath.c_str()); }) ? result : 0;
}

void PluginVisualisation::startOnce() {
    if (started_) return;
    started_ = true;
    ScopedCurrentFolder inFolder(folder_);
    if (record_.Initialise != nullptr && !guarded([&] { record_.Initialise(); })) return;
    if (record_.version >= VIS_VERSION_HOST_VARIABLES && record_.SetHostVariables != nullptr &&
        context_.hostVariables != nullptr)
        guarded([&] { record_.SetHostVariables(context_.hostVariables); });
}

int32_t PluginVisualisation::Render(const VisFrame& frame) {
    if (crashed_) return 0;
    startOnce();
    if (crashed_ || record_.Render == nullptr || frame.pixels == nullptr || frame.width < 1 || frame.height < 1)
        return 0;
    const VisBlock& block = frame.newest();
    if ((record_.flags & VIS_FLAG_HOST_EFFECTS) != 0) ApplyEffects(frame, context_.settings);
    int32_t result = 0;
    return guarded([&] {
        result = record_.Render(frame.pixels, frame.width, frame.height, frame.pitch, block.bytes.data());
    }) ? result : 0;
}

}  // namespace tessura

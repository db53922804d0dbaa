#include "VisualisationList.h"

#include "PluginCrashGuard.h"
#include "PluginHost.h"
#include "SharedLibrary.h"

#include <algorithm>
#include <filesystem>

namespace tessura {

VisualisationList::VisualisationList(VisualisationListSetup setup)
    : setup_(std::move(setup)), visIni_(visIniPath(setup_.programFolder)), hostVariables_(setup_.hostValues) {}

void VisualisationList::build() {
    if (built_) return;
    built_ = true;
    for (BuiltinKind kind : {BuiltinKind::Waveform, BuiltinKind::Spectrum, BuiltinKind::Sweep, BuiltinKind::Spectrum2}) {
        addBuiltin(kind);
        entries_.back()->Configure(visIni_);
    }
    addPlugins();
    addBuiltin(BuiltinKind::NoVisual);
    select(settings_.number);
}

void VisualisationList::addBuiltin(BuiltinKind kind) {
    entries_.push_back(makeBuiltin(kind, setup_.language.Text(builtinKey(kind)), BuiltinContext{settings_, colours_}));
}

void VisualisationList::addPlugins() {
    const std::string folder = visPluginFolder(setup_.programFolder);
    for (const std::string& path : filesWithExtension(folder, "tvp")) {
        const std::string file = std::filesystem::path(path).filename().string();
        if (setup_.crashed.count(path) != 0) {
            passedOver_.push_back(file + ": crashed the program before");
            continue;
        }
        PluginCall named(path);
        std::string error;
        // The library loads, and QueryModule runs, with vis/ as the current folder.
        ScopedCurrentFolder inFolder(folder);
        auto library = SharedLibrary::open(path, error, folder);
        if (!library) {
            passedOver_.push_back(file + ": " + error);
            continue;
        }
        auto query = library->function<QueryModuleFunction>("QueryModule");
        if (query == nullptr) {
            passedOver_.push_back(file + ": no QueryModule");
            continue;
        }
        const VisPluginRecord* record = nullptr;
        try {
            record = query();
        } catch (...) {
            record = nullptr;
        }
        if (record == nullptr) {
            passedOver_.push_back(file + ": QueryModule gave no record");
            continue;
        }
        PluginVisualisationContext context{settings_, hostVariables_.iface(), setup_.statusLine,
                                           setup_.language.Text("vis/visualcrashed"),
                                           setup_.language.Text("vis/external")};
        auto entry = std::make_unique<PluginVisualisation>(std::move(library), *record, folder, std::move(context),
                                                           setup_.unguarded);
        entry->Configure(visIni_);
        entries_.push_back(std::move(entry));
    }
}

std::vector<std::string> VisualisationList::names() const {
    std::vector<std::string> names;
    for (const auto& entry : entries_) names.push_back(entry->Name());
    return names;
}

void VisualisationList::select(int number) {
    const int last = std::max(static_cast<int>(entries_.size()) - 1, 0);
    current_ = std::clamp(number, 0, last);
    settings_.number = current_;
}

Visualisation* VisualisationList::current() {
    return entries_.empty() ? nullptr : entries_[static_cast<std::size_t>(current_)].get();
}

int32_t VisualisationList::renderCurrent(PixelSurface& surface, const std::vector<VisBlock>& blocks) {
    Visualisation* entry = current();
    if (entry == nullptr) return 0;
    return entry->Render(frameOf(surface, blocks.data(), static_cast<int>(blocks.size())));
}

}  // namespace tessura

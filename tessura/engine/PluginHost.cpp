#include "PluginHost.h"

#include "PluginCrashGuard.h"
#include "TextCase.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tessura {

namespace {
// The names of libraries that are not processors or outputs though they sit in system/.
constexpr const char* kNotProcessors[] = {"feedline.dll", "feedline.so", "wavewriter"};
constexpr const char* kNotOutputs[] = {"feedline.dll", "feedline.so", "dfx", "qsound"};

template <std::size_t N>
bool containsAny(const std::string& name, const char* const (&parts)[N]) {
    const std::string lower = lowerAscii(name);
    for (const char* part : parts)
        if (lower.find(part) != std::string::npos) return true;
    return false;
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
}  // namespace

std::vector<std::string> filesWithExtension(const std::string& folder, const std::string& extension) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    const std::string suffix = "." + extension;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > suffix.size() &&
            equalsNoCase(std::string_view(name).substr(name.size() - suffix.size()), suffix))
            names.push_back(folder + "/" + name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool sameGuid(const PluginGuid& a, const PluginGuid& b) {
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}

PluginHost::PluginHost(std::string programFolder, const LanguageStore& language,
                       DialogService& dialogs, std::set<std::string> crashed)
    : systemDir_(std::move(programFolder) + "/system"), language_(language), dialogs_(dialogs),
      crashed_(std::move(crashed)) {}

PluginHost::~PluginHost() {
    release();
}

bool PluginHost::crashedBefore(const std::string& path) {
    if (crashed_.count(path) == 0) return false;
    passedOver_.push_back(baseName(path) + ": crashed the program before");
    return true;
}

void PluginHost::discover(OutputInterface* builtinOutput) {
    const std::vector<std::string> libraries = filesWithExtension(systemDir_, "so");
    discoverProcessors(libraries);
    if (builtinOutput != nullptr) {
        LoadedOutput builtin;
        builtin.iface = builtinOutput;
        builtinOutput->table->GetInfo(builtinOutput, &builtin.info);
        outputs_.push_back(std::move(builtin));
    }
    discoverOutputs(libraries);
    discoverInputModules();
}

void PluginHost::discoverProcessors(const std::vector<std::string>& libraries) {
    for (const std::string& path : libraries) {
        if (containsAny(baseName(path), kNotProcessors) || crashedBefore(path)) continue;
        PluginCall call(path);
        std::string error;
        auto library = SharedLibrary::open(path, error, systemDir_);
        if (!library) {
            passedOver_.push_back(baseName(path) + ": " + error);
            continue;
        }
        auto create = library->function<CreateProcessorInterfaceFunction>("CreateProcessorInterface");
        if (create == nullptr) continue;
        ProcessorInterface* iface = nullptr;
        if (create(&iface) != 0 || iface == nullptr || iface->table == nullptr) {
            passedOver_.push_back(baseName(path) + ": CreateProcessorInterface failed");
            continue;
        }
        LoadedProcessor p;
        if (iface->table->GetInfo != nullptr) iface->table->GetInfo(iface, &p.info);
        p.library = std::move(library);
        p.iface = iface;
        p.path = path;
        processors_.push_back(std::move(p));
    }
}

void PluginHost::discoverOutputs(const std::vector<std::string>& libraries) {
    for (const std::string& path : libraries) {
        if (containsAny(baseName(path), kNotOutputs) || crashedBefore(path)) continue;
        PluginCall call(path);
        std::string error;
        auto library = SharedLibrary::open(path, error, systemDir_);
        if (!library) continue;  // already told among the processors
        auto create = library->function<CreateOutputInterfaceFunction>("CreateOutputInterface");
        if (create == nullptr) continue;
        OutputInterface* iface = nullptr;
        if (create(&iface) != 0 || iface == nullptr || iface->table == nullptr) {
            passedOver_.push_back(baseName(path) + ": CreateOutputInterface failed");
            continue;
        }
        LoadedOutput o;
        if (iface->table->GetInfo != nullptr) iface->table->GetInfo(iface, &o.info);
        o.library = std::move(library);
        o.iface = iface;
        o.path = path;
        outputs_.push_back(std::move(o));
    }
}

void PluginHost::refuseModule(const std::string& path, const std::string& why) {
    passedOver_.push_back(baseName(path) + ": " + why);
    MessageRequest request;
    request.titleKey = "errors/tessuraerror";
    request.textKey = "errors/unabletoloadplugin";
    request.title = language_.Text(request.titleKey);
    request.text = language_.Text(request.textKey);
    dialogs_.message(request);
}

void PluginHost::discoverInputModules() {
    const std::string settingsPath = folderOfPath(systemDir_) + "/tvp.ini";
    for (const std::string& path : filesWithExtension(systemDir_, "tqp")) {
        if (crashedBefore(path)) continue;
        if (modules_.size() == kMaxInputModules) {
            passedOver_.push_back(baseName(path) + ": no room for more input modules");
            continue;
        }
        auto module = std::make_unique<InputModule>(path, settingsPath);
        const InputModule::LoadResult result = module->load(false);
        if (result != InputModule::LoadResult::Loaded) {
            refuseModule(path, module->loadError());
            continue;
        }
        module->unload(false);
        modules_.push_back(std::move(module));
    }
}

std::vector<InputModule*> PluginHost::modulesWithSettingsPage() {
    std::vector<InputModule*> tabs;
    for (auto module = modules_.rbegin(); module != modules_.rend(); ++module)
        if (((*module)->description().flags & MODULE_HAS_SETTINGS_PAGE) != 0) tabs.push_back(module->get());
    return tabs;
}

LoadedOutput* PluginHost::findOutput(const PluginGuid& guid) {
    for (LoadedOutput& o : outputs_)
        if (sameGuid(o.info.guid, guid)) return &o;
    return nullptr;
}

LoadedProcessor* PluginHost::findProcessor(const PluginGuid& guid) {
    for (LoadedProcessor& p : processors_)
        if (sameGuid(p.info.guid, guid)) return &p;
    return nullptr;
}

void PluginHost::release() {
    for (LoadedProcessor& p : processors_) {
        PluginCall call(p.path);
        if (p.iface->table->Release != nullptr) p.iface->table->Release(p.iface);
        p.library.reset();
    }
    processors_.clear();
    for (LoadedOutput& o : outputs_) {
        PluginCall call(o.path.empty() ? std::string("built-in output") : o.path);
        if (o.iface->table->Release != nullptr) o.iface->table->Release(o.iface);
        o.library.reset();
    }
    outputs_.clear();
    for (auto& module : modules_)
        while (module->loadCount() > 0) module->unload(true);
    modules_.clear();
}

}  // namespace tessura

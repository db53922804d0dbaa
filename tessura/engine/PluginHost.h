#pragma once
// Finds and binds the plug-ins in the program folder's system/ at start-up, in this order:
// processor plug-ins (*.so exporting CreateProcessorInterface), output plug-ins (the built-in
// output first, then *.so exporting CreateOutputInterface) and input modules (*.tqp, each
// loaded without Initialise for its description and unloaded again). Files keep their names;
// the skip names are compared without case. Visualisations are found by their own component.
#include "InputModule.h"
#include "SharedLibrary.h"
#include "TessuraPluginAbi.h"

#include "DialogService.h"
#include "LanguageStore.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tessura {

struct LoadedProcessor {
    std::unique_ptr<SharedLibrary> library;
    ProcessorInterface* iface = nullptr;
    PluginInfo info{};
    std::string path;
};

struct LoadedOutput {
    std::unique_ptr<SharedLibrary> library;  // null for the built-in output
    OutputInterface* iface = nullptr;
    PluginInfo info{};
    std::string path;
};

class PluginHost {
  public:
    static constexpr std::size_t kMaxInputModules = 20;

    // `crashed`: plug-in paths that crashed the program before (PluginCrashGuard), skipped.
    PluginHost(std::string programFolder, const LanguageStore& language, DialogService& dialogs,
               std::set<std::string> crashed = {});
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    void discover(OutputInterface* builtinOutput);
    // At exit: processors and outputs released through their interfaces and their libraries
    // freed; input modules unloaded with Shutdown.
    void release();

    std::vector<LoadedProcessor>& processors() { return processors_; }
    std::vector<LoadedOutput>& outputs() { return outputs_; }
    std::vector<std::unique_ptr<InputModule>>& inputModules() { return modules_; }
    // The modules that get a tab on the settings screen (flag 0x10), from the last to the first.
    std::vector<InputModule*> modulesWithSettingsPage();
    LoadedOutput* findOutput(const PluginGuid& guid);
    LoadedProcessor* findProcessor(const PluginGuid& guid);

    // One line per file passed over, with the reason (for the log and the tests).
    const std::vector<std::string>& passedOver() const { return passedOver_; }

  private:
    void discoverProcessors(const std::vector<std::string>& libraries);
    void discoverOutputs(const std::vector<std::string>& libraries);
    void discoverInputModules();
    bool crashedBefore(const std::string& path);
    void refuseModule(const std::string& path, const std::string& why);

    std::string systemDir_;
    const LanguageStore& language_;
    DialogService& dialogs_;
    std::set<std::string> crashed_;
    std::vector<LoadedProcessor> processors_;
    std::vector<LoadedOutput> outputs_;
    std::vector<std::unique_ptr<InputModule>> modules_;
    std::vector<std::string> passedOver_;
};

// The files of `folder` whose names end in "." + `extension` (without case), sorted by name.
std::vector<std::string> filesWithExtension(const std::string& folder, const std::string& extension);
bool sameGuid(const PluginGuid& a, const PluginGuid& b);

}  // namespace tessura

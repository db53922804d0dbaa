#pragma once
// A visualisation plug-in (*.tvp) in the list: the library, the record its QueryModule gave,
// and the folder it runs in.
//
// Faults. A plug-in entry that throws is caught here (unless the entry is unguarded): the
// entry is marked crashed, reports "vis/visualcrashed" once through the status line, and draws
// nothing from then on. A plug-in that crashes the process (SIGSEGV, SIGBUS, SIGILL, SIGFPE)
// cannot be recovered safely in-process on Linux: its stack, heap and locks may be in any
// state, so the host does not try to jump out of the signal handler. Instead every call is
// named through PluginCall, so the crash guard writes the plug-in's path to the crash file
// before the program dies, and the next start passes the plug-in over (the list's `crashed`
// set). The same applies to a plug-in that hangs: nothing here can interrupt it.
#include "HostVariables.h"
#include "SharedLibrary.h"
#include "TessuraVisAbi.h"
#include "VisSettings.h"
#include "Visualisation.h"

#include <functional>
#include <memory>
#include <string>

namespace tessura {

using StatusLine = std::function<void(const std::string& text)>;

struct PluginVisualisationContext {
    const VisSettings& settings;
    HostVariables* hostVariables = nullptr;
    StatusLine statusLine;       // shows a text on the status line
    std::string crashedText;     // the translation of "vis/visualcrashed"
    std::string externalName;    // the translation of "vis/external"
};

class PluginVisualisation : public Visualisation {
  public:
    PluginVisualisation(std::unique_ptr<SharedLibrary> library, const VisPluginRecord& record,
                        std::string folder, PluginVisualisationContext context, bool unguarded = false);
    ~PluginVisualisation() override;

    std::string Name() const override;
    int32_t Message(uint32_t message) override;
    int32_t Configure(const std::string& visIniPath) override;
    int32_t Render(const VisFrame& frame) override;
    void MarkCrashed() override;

    const std::string& path() const { return library_->path(); }
    int32_t version() const { return record_.version; }
    int32_t flags() const { return record_.flags; }

  private:
    // Runs `call` named for the crash guard; a thrown fault marks the entry crashed and gives
    // false.
    bool guarded(const std::function<void()>& call);
    void startOnce();

    std::unique_ptr<SharedLibrary> library_;
    VisPluginRecord record_;
    std::string folder_;
    PluginVisualisationContext context_;
    bool started_ = false;
};

}  // namespace tessura

#pragma once
// The list of visualisations, built once at start-up: the four built-in pictures, every
// plug-in of the program folder's vis/ (*.tvp exporting QueryModule), and "vis/novisual"
// last. One entry is current; the window renders it each frame with the newest blocks.
// Everything here runs on the window's thread; plug-in entries are never called concurrently.
#include "BuiltinVisualisations.h"
#include "HostVariables.h"
#include "PluginVisualisation.h"
#include "VisSettings.h"
#include "Visualisation.h"

#include "LanguageStore.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tessura {

struct VisualisationListSetup {
    std::string programFolder;
    const LanguageStore& language;
    HostVariableSource& hostValues;
    StatusLine statusLine;
    // Plug-in paths that crashed the program before (PluginCrashGuard): passed over.
    std::set<std::string> crashed;
    bool unguarded = false;
};

class VisualisationList {
  public:
    explicit VisualisationList(VisualisationListSetup setup);
    VisualisationList(const VisualisationList&) = delete;
    VisualisationList& operator=(const VisualisationList&) = delete;

    // Builds the list (once); every entry is given Configure with the "vis.ini" path.
    void build();

    std::size_t size() const { return entries_.size(); }
    Visualisation& at(std::size_t index) { return *entries_.at(index); }
    std::vector<std::string> names() const;

    // VisNumber: negative values become 0, values past the end the last entry.
    void select(int number);
    int currentIndex() const { return current_; }
    Visualisation* current();
    // Renders the current entry on `surface` with `blocks` (oldest first); 0 when nothing drew.
    int32_t renderCurrent(PixelSurface& surface, const std::vector<VisBlock>& blocks);

    void setSettings(const VisSettings& settings) { settings_ = settings; }
    const VisSettings& settings() const { return settings_; }
    void setColours(const VisColours& colours) { colours_ = colours; }

    const std::string& visIni() const { return visIni_; }
    // One line per file passed over, with the reason.
    const std::vector<std::string>& passedOver() const { return passedOver_; }

  private:
    void addBuiltin(BuiltinKind kind);
    void addPlugins();

    VisualisationListSetup setup_;
    std::string visIni_;
    VisSettings settings_;
    VisColours colours_;
    HostVariablesService hostVariables_;
    std::vector<std::unique_ptr<Visualisation>> entries_;
    std::vector<std::string> passedOver_;
    int current_ = 0;
    bool built_ = false;
};

}  // namespace tessura

#include "WindowRun.h"

#include "FileTypeRegistrar.h"
#include "InternetSettingsPage.h"
#include "MainWindow.h"
#include "PlaybackControls.h"
#include "PluginSettingsPage.h"
#include "SkinLoader.h"
#include "VisAnalysis.h"
#include "VisualisationList.h"

#include <QApplication>
#include <QMetaObject>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace tessura {

namespace {

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The player as the window drives it.
class AssemblyWindowPlayer final : public ui::WindowPlayer, public HostVariableSource {
  public:
    AssemblyWindowPlayer(PlayerAssembly& player, Preferences& preferences, const LanguageStore& languages)
        : player_(player), preferences_(preferences), languages_(languages) {}

    CommandTarget& target() override { return player_; }
    void runCommands(const std::string& words) override { player_.dispatcher().DispatchCommands(words, false); }
    int32_t lengthMs() override { return player_.engine().Length(); }
    bool playing() override { return player_.engine().IsPlaying(); }
    bool equaliserOn() override { return player_.equaliser().enabled(); }
    void setEqualiserOn(bool on) override { player_.equaliser().EnableEqualiser(on, true); }
    double bandGain(int band) override { return player_.equaliser().BandGain(band); }
    void setBandGain(int band, double value) override { player_.equaliser().SetBandGain(band, value); }
    int equaliserPreset() override { return player_.equaliser().presetId(); }
    void selectPreset(int id) override { player_.equaliser().SelectPreset(id); }
    std::string presetName(int id) override { return player_.equaliser().PresetName(id).value_or(""); }
    bool saveUserPreset(int id, const std::string& name) override {
        return player_.equaliser().SaveUserPreset(id, name);
    }
    uint32_t balance() override { return player_.engine().balance(); }
    std::string balanceText() override { return tessura::balanceText(languages_, player_.engine().balance()); }
    void setBalance(uint32_t balance) override { player_.engine().SetBalance(balance); }
    void setAmplifierKnob(uint32_t knob) override { player_.engine().SetAmplifierKnob(knob); }
    void setPitchKnob(uint32_t knob) override { player_.engine().SetPitchKnob(knob, false); }
    bool announcing() override { return preferences_.tellmIRC != 0; }
    void setAnnouncing(bool on) override { preferences_.tellmIRC = on ? 1 : 0; }
    std::string text(const std::string& key) override { return languages_.Text(key); }

    // HostVariableSource, for the visualisation plug-ins.
    int32_t songLengthMs() override { return player_.engine().Length(); }
    int32_t songPositionMs() override { return player_.engine().Position(); }
    uint32_t visualLeftColour() override { return skinColours_.internalVisLeftColor; }
    uint32_t visualRightColour() override { return skinColours_.internalVisRightColor; }
    uint32_t visualBlendColour() override { return skinColours_.internalVisBlendColor; }
    std::string skinName() override { return skinName_; }
    std::string songFileName() override { return player_.engine().playingFile(); }
    std::string songDisplayText() override {
        Playlist& list = player_.playlist();
        return list.entry(list.currentIndex()).display;
    }
    void setSkin(const LoadedSkin& skin) {
        skinColours_ = skin.description.colours;
        skinName_ = skin.displayTitle;
    }

  private:
    PlayerAssembly& player_;
    Preferences& preferences_;
    const LanguageStore& languages_;
    SkinColours skinColours_;
    std::string skinName_;
};

}  // namespace

int RunWithWindow(WindowRunParts parts) {
    PlayerAssembly& player = parts.player;
    ThreadMessageQueue& messages = parts.messages;
    Preferences& preferences = parts.preferences;
    AssemblyWindowPlayer windowPlayer(player, preferences, parts.languages);

    // What the output hears, for the visualisations.
    VisAnalysis analysis;
    player.chain().setAnalysisTap(analysis.tap());
    VisualisationList visualisations({parts.folder.home, parts.languages, windowPlayer,
                                      [&messages](const std::string& text) {
                                          ThreadMessage m;
                                          m.code = thread_message::kStatusText;
                                          m.text = text;
                                          messages.post(std::move(m));
                                      },
                                      {}, false});
    visualisations.build();
    visualisations.select(preferences.visNumber);
    player.setVisualisationStepper([&](int step) {
        const int count = static_cast<int>(visualisations.size());
        if (count == 0) return;
        visualisations.select((visualisations.currentIndex() + step + count) % count);
        preferences.visNumber = visualisations.currentIndex();
    });
    ui::VisPicture picture(visualisations, analysis);

    ui::WindowSetup setup{windowPlayer, preferences, {}, &picture, {}, {}};
    setup.loadSkin = [&] {
        if (std::optional<std::string> stored = player.takeSkinToLoad())
            preferences.currentSkin = stored->empty() ? preferences.defaultSkin : *stored;
        LoadedSkin skin = LoadSkin({parts.settings, SkinSources{preferences.currentSkin, preferences.defaultSkin,
                                                                parts.folder.home},
                                    parts.languages, parts.dialogs});
        preferences.currentSkin = skin.skinPath;
        if (skin.quitRequested) messages.post(thread_message::kQuit);
        windowPlayer.setSkin(skin);
        parts.block.SetSkinName(skin.displayTitle);
        return skin;
    };
    setup.everyFrame = [&] {
        player.sendDueMessages(nowMs());
        const int32_t position = player.engine().Position();
        if (position >= 0) parts.block.SetPosition(position);
        player.tick();
    };
    setup.filesDialog = [&](bool add) {
        FileRequest request;
        request.titleKey = "openfile/title";
        request.title = parts.languages.Text("openfile/title");
        request.initialPath = preferences.defaultFilesDirectory;
        const std::vector<std::string> files = parts.dialogs.chooseFiles(request);
        if (files.empty()) return;
        Playlist& list = player.playlist();
        if (!add) list.ClearPlaylist();
        const int first = list.size();
        for (const std::string& file : files) list.AddItem(file);
        if (!add && list.size() > first && preferences.immediatePlay != 0) player.playPosition(list.PositionOfEntry(first));
    };
    // The settings screen: what it lists, and the parts of its changes the window does not take.
    FileTypeRegistrar registrar(parts.folder, parts.settings, runToolIfPresent);
    setup.settings.programDir = parts.folder.home;
    setup.settings.languages = &parts.languages;
    setup.settings.connectionType = ReadConnectionType(parts.settings);
    const auto choice = [](const PluginInfo& info) {
        const Guid guid{info.guid.data1, info.guid.data2, info.guid.data3,
                        {info.guid.data4[0], info.guid.data4[1], info.guid.data4[2], info.guid.data4[3],
                         info.guid.data4[4], info.guid.data4[5], info.guid.data4[6], info.guid.data4[7]}};
        return ui::PluginChoice{formatGuid(guid), info.name != nullptr ? info.name : formatGuid(guid)};
    };
    for (const LoadedOutput& output : player.plugins().outputs()) setup.settings.outputs.push_back(choice(output.info));
    for (const LoadedProcessor& processor : player.plugins().processors())
        setup.settings.effectPlugins.push_back(choice(processor.info));
    // "Configure": the selected output's own page, while the settings screen waits.
    setup.settings.configureOutput = [&player, &parts, choice](const std::string& guid) {
        for (LoadedOutput& output : player.plugins().outputs()) {
            if (choice(output.info).guid != guid || output.iface == nullptr) continue;
            SettingsPage* page = nullptr;
            if (output.iface->table->GetSettingsPage == nullptr ||
                output.iface->table->GetSettingsPage(output.iface, &page) != TESSURA_RESULT_OK || page == nullptr)
                return;
            ui::PluginSettingsPage dialog(page, QString::fromStdString(choice(output.info).name),
                                          QString::fromStdString(parts.languages.Text("settings/close")),
                                          QApplication::activeWindow());
            dialog.exec();
            return;
        }
    };
    for (int i = 0; i < kFileTypeCount; ++i)
        if (registrar.IsDefaultFor(kFileTypeMimeTypes[i])) setup.settings.fileTypes |= 1u << i;
    uint32_t registeredTypes = setup.settings.fileTypes;
    setup.settings.applied = [&](const SettingsApplyResult& result, const SettingsValues& values) {
        namespace fx = settings_effect;
        bool stored = true;
        if (result.effects & fx::kVisualEffects) visualisations.setSettings(visSettingsFrom(preferences));
        if (result.effects & fx::kConnectionType)
            stored = parts.settings.SetSettingInt("", kConnectionTypeKey, values.connectionType) && stored;
        if (result.effects & fx::kAudioCdHandler) stored = registrar.SetAudioCdHandler(preferences.autoCDInsert != 0) && stored;
        if (values.fileTypes != registeredTypes) {
            std::vector<std::string> add, remove;
            for (int i = 0; i < kFileTypeCount; ++i) {
                const bool now = (values.fileTypes >> i) & 1u, before = (registeredTypes >> i) & 1u;
                if (now && !before) add.emplace_back(kFileTypeMimeTypes[i]);
                if (!now && before) remove.emplace_back(kFileTypeMimeTypes[i]);
            }
            const auto caption = [&](const char* key) {  // no mnemonic marks in a desktop action's name
                std::string t = parts.languages.Text(key);
                std::erase(t, '&');
                return t;
            };
            const FileTypeTexts texts{caption("main/playcommand"), caption("main/addtoplaylistcommand"),
                                      caption("main/opencommand"), caption("main/installcommand"),
                                      caption("main/tessuraplaylisttype"), caption("main/tessuraskintype")};
            stored = (add.empty() || registrar.Register(add, texts)) && (remove.empty() || registrar.Unregister(remove)) && stored;
            registeredTypes = values.fileTypes;
        }
        if (!stored) parts.dialogs.message(TranslatedMessage(parts.languages, "errors/nonfatalerror", "errors/regerror"));
    };
    setup.askText = [&](const std::string& title, const std::string& text) {
        return parts.dialogs.askText({title, text, "eq/savepreset_text", "eq/enterpresetname_text", {}});
    };
    ui::MainWindow window(std::move(setup));

    bool running = true;
    const auto drain = [&] {
        messages.drain([&](const ThreadMessage& m) {
            if (!running || window.handleMessage(m)) return;
            if (!player.handle(m)) {
                running = false;
                QApplication::exit(0);  // not quit(): that asks the window to close, which posts kQuit again
            }
        });
        window.update();
    };
    messages.setWakeUp([&] { QMetaObject::invokeMethod(&window, drain, Qt::QueuedConnection); });
    // SIGTERM and SIGINT close the window as -quit does.
    PostQuitOnEndSignals(parts.endSignals, messages);

    window.start();
    player.dispatcher().DispatchCommands(parts.arguments, false);
    QMetaObject::invokeMethod(&window, drain, Qt::QueuedConnection);  // what came before the wake-up
    const int result = running ? QApplication::exec() : 0;
    messages.setWakeUp({});
    if (window.isVisible() && window.modes().current() >= 1 && window.modes().current() <= 3)
        ui::StoreWindowPosition(preferences, window.modes().current(), {window.x(), window.y()});
    preferences.windowState = window.modes().windowState();
    preferences.navWindowState = window.modes().navPage();
    player.chain().setAnalysisTap({});
    return result;
}

}  // namespace tessura

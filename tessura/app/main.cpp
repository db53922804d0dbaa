// tessura: the program folder, the language files and the settings, the plug-ins and the
// player engine. With -nogui it plays its command line without a window, taking its commands
// from later starts and its end from -quit or a termination signal. Without -nogui it opens its
// window in the skin's modes and plays through the same player.
#include "Announcement.h"
#include "DialogService.h"
#include "ErrorService.h"
#include "FileTypeRegistrar.h"
#include "LanguageStore.h"
#include "MprisLink.h"
#include "PlayerAssembly.h"
#include "Preferences.h"
#include "ProgramFolder.h"
#include "QtDialogService.h"
#include "ScriptedDialogService.h"
#include "SingleInstance.h"
#include "SkinArchive.h"
#include "SkinDescription.h"
#include "SkinLoader.h"
#include "StartDecision.h"
#include "SettingsStore.h"
#include "StartupLanguage.h"
#include "TextCase.h"
#include "ThreadMessages.h"
#include "WindowRun.h"

#include <QApplication>

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

void printHelp() {
    std::printf(
        "Usage: tessura [-nogui] [FILE|FOLDER|PLAYLIST|URL]... [-COMMAND [ARGUMENT]]...\n"
        "\n"
        "With -nogui tessura plays without a window: the files, folders, playlists and\n"
        "addresses given are added to its playlist and played, then it waits for commands\n"
        "(-pause, -resume, -playnext, -setvolume 0-65535, -quit ...) and ends on -quit or\n"
        "a termination signal, keeping its playlist in tessura.pls. Without -nogui it opens\n"
        "its window (mid, navigator, small, splash and full-screen modes, drawn from the skin)\n"
        "and takes the same commands; QT_QPA_PLATFORM=offscreen runs it without a display.\n"
        "\n"
        "It finds its program folder ($TESSURA_HOME, else the folder it was started from),\n"
        "its language files and plug-ins in system/, and its settings in\n"
        "$XDG_CONFIG_HOME/Quellmark/tessura.ini.\n"
        "\n"
        "TESSURA_AUDIO=sdl|null|wav:PATH chooses the sound output (wav: writes what would be\n"
        "heard). TESSURA_DIALOGS=FILE answers its message boxes from FILE (one 'key=answer'\n"
        "line each) instead of showing them; set but empty, every box takes its safe answer.\n");
}

// The built-in visualisations in their order of the VisNumber setting, as language keys.
constexpr const char* kBuiltinVisualisations[] = {"vis/waveform", "vis/spectrum", "vis/sweep", "vis/spectrum2",
                                                  "vis/novisual"};

std::size_t visualisationIndex(const tessura::Preferences& preferences) {
    const int n = preferences.visNumber;
    return n >= 0 && n < 5 ? static_cast<std::size_t>(n) : 4;
}

// The skin's name and colours for readers outside, from its skin.ini (the current skin, else the
// default one); without either, the built-in description ("original_default").
void publishSkin(tessura::info::InfoBlock& block, const tessura::Preferences& preferences,
                 const std::string& programFolder) {
    using namespace tessura;
    SkinDescription description;
    for (const std::string& path : {preferences.currentSkin, preferences.defaultSkin}) {
        std::optional<SkinArchive> archive = OpenSkinArchive(path, programFolder);
        if (!archive) continue;
        const std::unique_ptr<INIParser> ini = ReadSkinIni(*archive);
        if (!ini) continue;
        description = ReadSkinDescription(ini.get());
        break;
    }
    block.SetSkinName(SkinDisplayTitle(description));
    const SkinColours& c = description.colours;
    const std::pair<std::size_t, SkinColour> colours[] = {
        {1, c.systemColor1}, {0, c.systemColor2}, {2, c.systemColor3}, {3, c.borderColor}};
    for (const auto& [index, colour] : colours) block.SetColours(index, colour);
}

// The main thread's loop without a window: messages as they come, until kQuit. SIGTERM and
// SIGINT end it as -quit does, so the playlist and the settings are kept.
void runWithoutWindow(tessura::PlayerAssembly& player, tessura::ThreadMessageQueue& messages,
                      const sigset_t& endSignals, const std::function<void()>& everyTick) {
    std::mutex mutex;
    std::condition_variable wake;
    bool woken = false;
    messages.setWakeUp([&] {
        std::lock_guard<std::mutex> hold(mutex);
        woken = true;
        wake.notify_one();
    });
    tessura::PostQuitOnEndSignals(endSignals, messages);
    bool running = true;
    while (running) {
        {
            std::unique_lock<std::mutex> hold(mutex);
            wake.wait_for(hold, std::chrono::milliseconds(100), [&] { return woken; });
            woken = false;
        }
        messages.drain([&](const tessura::ThreadMessage& m) {
            if (running && !player.handle(m)) running = false;
        });
        everyTick();
    }
    messages.setWakeUp({});
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printHelp();
            return 0;
        }
    }
    using namespace tessura;
    const std::string arguments = JoinArguments(argc, argv);
    const bool noGui = readStartFlags(arguments).noGui;

    // One running instance: a later start hands its command line over and ends.
    SingleInstance instance;
    const StartDecision decision = runSingleInstanceStep(instance, arguments);
    if (decision == StartDecision::ForwardAndExit || decision == StartDecision::Exit) return 0;

    // The end signals go to one waiting thread; blocked here, before any thread starts, so
    // every thread inherits the mask.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGTERM);
    sigaddset(&endSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

    const ProgramFolder folder = ProgramFolder::fromEnvironment();
    const auto errors = ErrorService::create();
    SettingsStore settings(folder.settingsFile(), folder.home, errors);
    ScriptedDialogService dialogs(stderr);
    if (const char* script = std::getenv("TESSURA_DIALOGS")) dialogs.loadScript(script);

    LanguageStore languages(errors);
    if (!SelectStartupLanguage(languages, settings, dialogs, folder.systemDir())) return -1;

    if (!settings.usable()) {
        // The settings file cannot be kept: the program runs on with the older file alone.
        dialogs.message(TranslatedMessage(languages, "errors/nonfatalerror", "errors/regerror"));
    }

    FileTypeRegistrar registrar(folder, settings);
    PreferenceContext context;
    context.programFolder = folder.home;
    context.audioCdHandlerIsOurs = registrar.IsAudioCdHandler();
    Preferences preferences = LoadPreferences(settings, context);

    // Qt before anything starts a thread; the offscreen or X display is the caller's choice.
    std::unique_ptr<QApplication> application;
    if (!noGui) application = std::make_unique<QApplication>(argc, argv);
    // With a window, the dialogs are the desktop's own, unless a script answers them.
    ui::QtDialogService windowDialogs(dialogs);
    const bool scripted = std::getenv("TESSURA_DIALOGS") != nullptr;
    DialogService& shownDialogs = application && !scripted ? static_cast<DialogService&>(windowDialogs) : dialogs;

    ThreadMessageQueue messages;
    info::InfoBlock block;
    if (!block.Open()) {
        MessageRequest request;
        request.title = "Non-Fatal Error...";
        request.text = "Failure to initialize Information Interface";
        shownDialogs.message(request);
    }
    ConsoleEvents events(stdout, block.isOpen() ? &block : nullptr);
    int result = 0;
    {
        PlayerAssembly player(folder, settings, languages, shownDialogs, preferences, messages, events, !noGui, errors);
        if (!player.hasInputModules()) {
            shownDialogs.message(TranslatedMessage(languages, "errors/tessuraerror", "errors/noinputplugins"));
            return 1;
        }
        block.SetState(info::PlayState::Stopped);
        publishSkin(block, preferences, folder.home);
        block.SetVisName(languages.Text(kBuiltinVisualisations[visualisationIndex(preferences)]));
        if (decision == StartDecision::RunAsFirst && instance.canListen())
            instance.listen([&messages](std::string text) { messages.post(forwardedThreadMessage(std::move(text))); });
        NoChatClient chat;
        events.onTrackStarted = [&] {
            Playlist& list = player.engine().playlist();
            AnnounceTrack(preferences.tellmIRC != 0, preferences.tellmIRCString, list.entry(list.currentIndex()),
                          chat);
        };
        // Desktop media keys and panels reach the player over the session bus, where there is one.
        MprisLink mpris(player, messages, !noGui);
        events.also = &mpris.news();
        player.messageHook = [&mpris](const ThreadMessage& m) { return mpris.handle(m); };
        player.tickHook = [&mpris] { mpris.tick(); };
        player.loadDefaultPlaylist();
        if (noGui) {
            player.dispatcher().DispatchCommands(arguments, false);
            runWithoutWindow(player, messages, endSignals, [&] {
                const int32_t position = player.engine().Position();
                if (position >= 0) block.SetPosition(position);
                player.tick();
            });
        } else {
            result = RunWithWindow({player, messages, preferences, settings, languages, shownDialogs, folder, block,
                                    endSignals, arguments});
        }
        instance.stop();
        player.shutDown();
        // The bus goes before the player: nothing may reach it afterwards.
        events.also = nullptr;
        player.messageHook = {};
        player.tickHook = {};
    }
    block.Close();
    SavePreferences(settings, preferences, context);
    if (settings.lastWriteResult() != 0) {
        std::fprintf(stderr, "tessura: the settings could not be written: %s\n",
                     errors->text(settings.lastWriteResult()).value_or("unknown error").c_str());
        result = 1;
    }
    return result;
}


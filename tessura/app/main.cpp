// tessura, as far as it is built: the program folder, the language files and the settings.
// It reads them as a start of the player does, writes the settings back as its exit does, and
// ends; the engine, the plug-ins and the windows are not part of this build yet.
#include "DialogService.h"
#include "ErrorService.h"
#include "FileTypeRegistrar.h"
#include "LanguageStore.h"
#include "Preferences.h"
#include "ProgramFolder.h"
#include "ScriptedDialogService.h"
#include "SettingsStore.h"
#include "StartupLanguage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void printHelp() {
    std::printf(
        "Usage: tessura [--help]\n"
        "\n"
        "This build of tessura is not a player yet. It finds its program folder\n"
        "($TESSURA_HOME, else the folder it was started from), reads the language files in\n"
        "system/ and its settings ($XDG_CONFIG_HOME/Quellmark/tessura.ini, with an older\n"
        "tessura.ini of the program folder as a source), writes the settings back as the\n"
        "player does at exit, tells what it found, and ends.\n"
        "\n"
        "TESSURA_DIALOGS=FILE answers its message boxes from FILE (one 'key=answer' line each).\n");
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
    const ProgramFolder folder = ProgramFolder::fromEnvironment();
    const auto errors = ErrorService::create();
    SettingsStore settings(folder.settingsFile(), folder.home, errors);
    ScriptedDialogService dialogs(stderr);
    if (const char* script = std::getenv("TESSURA_DIALOGS")) dialogs.loadScript(script);

    LanguageStore languages(errors);
    if (!SelectStartupLanguage(languages, settings, dialogs, folder.systemDir())) return -1;

    if (!settings.usable()) {
        // The settings file cannot be kept: the program runs on with the older file alone.
        MessageRequest request;
        request.titleKey = "errors/nonfatalerror";
        request.textKey = "errors/regerror";
        request.title = languages.Text(request.titleKey);
        request.text = languages.Text(request.textKey);
        dialogs.message(request);
    }

    FileTypeRegistrar registrar(folder, settings);
    PreferenceContext context;
    context.programFolder = folder.home;
    context.audioCdHandlerIsOurs = registrar.IsAudioCdHandler();
    const Preferences preferences = LoadPreferences(settings, context);

    std::printf("%s: program folder %s\n", languages.Text("tessura").c_str(), folder.home.c_str());
    std::printf("language: %s (%zu offered)\n", languages.SelectedName().c_str(),
                languages.Languages().size());
    std::printf("settings: %s%s\n", settings.settingsFile().c_str(),
                settings.usable() ? "" : " (cannot be written; using the program folder's tessura.ini)");
    std::printf("start number %d, window mode %d, skin %s\n", preferences.seedNumber,
                preferences.windowState, preferences.currentSkin.c_str());
    std::printf("The player itself is not built yet; tessura saves its settings and ends.\n");

    SavePreferences(settings, preferences, context);
    if (settings.lastWriteResult() != 0) {
        std::fprintf(stderr, "tessura: the settings could not be written: %s\n",
                     errors->text(settings.lastWriteResult()).value_or("unknown error").c_str());
        return 1;
    }
    return 0;
}

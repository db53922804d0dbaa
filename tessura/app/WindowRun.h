#pragma once
// The program with its window: a Qt application whose thread is the main thread of the
// thread messages. The queue's wake-up becomes a queued call on the window, which hands each
// message first to the window, then to the player; kQuit (from a command, a closed window or a
// termination signal) ends the loop.
#include "InfoBlock.h"
#include "PlayerAssembly.h"

#include <csignal>
#include <string>

namespace tessura {

struct WindowRunParts {
    PlayerAssembly& player;
    ThreadMessageQueue& messages;
    Preferences& preferences;
    SettingsStore& settings;
    const LanguageStore& languages;
    DialogService& dialogs;
    const ProgramFolder& folder;
    info::InfoBlock& block;
    const sigset_t& endSignals;
    std::string arguments;  // the command line, run once the window is up
};

// Runs until kQuit; the Qt application must exist. Returns the loop's exit code.
int RunWithWindow(WindowRunParts parts);

}  // namespace tessura

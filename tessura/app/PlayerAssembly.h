#pragma once
// The player as the program runs it: the plug-ins found in system/, the built-in output and
// stages, the output chain, the engine with its playlist, the command dispatcher, and the
// settings they start from and leave behind. The program's loop (with or without a window)
// feeds it the main thread's messages.
#include "Amplifier.h"
#include "audio/AlsaMasterVolume.h"
#include "CommandLine.h"
#include "Equaliser.h"
#include "EqualiserFilter.h"
#include "HostRequests.h"
#include "InfoBlock.h"
#include "OutputChain.h"
#include "PitchShifter.h"
#include "PlayerEngine.h"
#include "PluginHost.h"
#include "WaveAudioOutput.h"

#include "DialogService.h"
#include "FrameChores.h"
#include "ErrorService.h"
#include "LanguageStore.h"
#include "Preferences.h"
#include "ProgramFolder.h"
#include "SettingsStore.h"
#include "ThreadMessages.h"

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tessura {

// Where the engine's news goes without a window: the status line as lines on standard output,
// and what plays into the information block for readers outside the program.
class ConsoleEvents final : public EngineEvents {
  public:
    ConsoleEvents(std::FILE* out, info::InfoBlock* block) : out_(out), block_(block) {}
    void statusText(const std::string& text) override;
    void message(const std::string& caption, const std::string& text) override;
    void playState(int state) override;
    void trackStarted(const std::string& file, int32_t lengthMs, int32_t positionMs) override;
    void trackInfo(const std::string& title, const std::string& second) override;
    // Called when a new file starts to be heard (the chat announcement).
    std::function<void()> onTrackStarted;
    // Also told every piece of news (the remote-control bus).
    EngineEvents* also = nullptr;

  private:
    std::FILE* out_;
    info::InfoBlock* block_;
};

class PlayerAssembly final : public CommandTarget {
  public:
    PlayerAssembly(const ProgramFolder& folder, SettingsStore& settings, const LanguageStore& language,
                   DialogService& dialogs, Preferences& preferences, ThreadMessageQueue& messages,
                   EngineEvents& events, bool gui, std::shared_ptr<ErrorService> errors);
    ~PlayerAssembly() override;

    bool hasInputModules() const { return engine_->moduleCount() > 0; }
    PlayerEngine& engine() { return *engine_; }
    CommandDispatcher& dispatcher() { return dispatcher_; }
    OutputChain& chain() { return *chain_; }
    PluginHost& plugins() { return plugins_; }  // what the settings screen lists
    EqualiserFilter& equaliserFilter() { return equaliser_; }
    // The equaliser's model over "TesEque.spf" in the program folder; it drives the filter.
    Equaliser& equaliser() { return *equaliserModel_; }
    // The skin a loadskin command stored ("" = the default skin), taken once.
    std::optional<std::string> takeSkinToLoad();
    // With a window: the visualisation steps of the "," and "." keys and the vis commands.
    void setVisualisationStepper(std::function<void(int)> step) { visStep_ = std::move(step); }
    // With a window: the delayed posts that fell due, sent to the main thread.
    void sendDueMessages(int64_t nowMs);

    // The default playlist under its guard, at start-up.
    void loadDefaultPlaylist();
    // Runs before the player's own handling; true when it took the message.
    std::function<bool(const ThreadMessage&)> messageHook;
    // Called once per frame of the main loop (with or without a window).
    std::function<void()> tickHook;
    void tick() {
        if (tickHook) tickHook();
    }
    // Handles one main-thread message; false for kQuit (the loop ends).
    bool handle(const ThreadMessage& message);
    // At exit: the position remembered, playback stopped, the default playlist, the
    // equaliser's Custom curve and the settings written.
    void shutDown();

    // CommandTarget.
    Playlist& playlist() override { return engine_->playlist(); }
    bool gui() override { return gui_; }
    bool immediatePlay() override { return preferences_.immediatePlay != 0; }
    void stop() override { engine_->StopPlayback(); }
    void play() override;
    bool paused() override { return engine_->IsPaused(); }
    void togglePause() override { engine_->TogglePause(); }
    void playPosition(int position) override { engine_->PlayFrom(position); }
    int32_t position() override { return engine_->Position(); }
    void seek(int32_t ms) override { engine_->Seek(ms); }
    uint32_t volume() override { return engine_->volume(); }
    void setVolume(uint32_t level) override { engine_->SetVolume(level, true); }
    void post(uint32_t code, intptr_t wparam, intptr_t lparam, int delayMs) override;
    void installSkin(const std::string& file) override;
    void storeSkinToLoad(const std::string& file) override { skinToLoad_ = file; }
    void stepVisualisation(int step) override {
        if (visStep_) visStep_(step);
    }
    void showStatus(const std::string& text) override { events_.statusText(text); }
    void showMessage(const std::string& captionKey, const std::string& textKey) override;
    void execute(const std::string& program, const std::string& arguments) override;
    int audioCdTracks(const std::string&) override { return 0; }
    bool autoCdClearPlaylist() override { return preferences_.autoCDClearPlaylist != 0; }
    void saveCdDump() override;

  private:
    const ProgramFolder& folder_;
    SettingsStore& settings_;
    const LanguageStore& language_;
    DialogService& dialogs_;
    Preferences& preferences_;
    ThreadMessageQueue& messages_;
    EngineEvents& events_;
    bool gui_;
    WaveAudioOutput builtin_;
    PluginHost plugins_;
    HostRequests requests_;
    PitchShifter pitch_;
    Amplifier amplifier_;
    EqualiserFilter equaliser_;
    std::unique_ptr<Equaliser> equaliserModel_;  // made once the filter exists
    AlsaMasterVolume master_;  // the system mixer's Master control, where there is one
    std::unique_ptr<OutputChain> chain_;
    std::unique_ptr<PlayerEngine> engine_;
    CommandDispatcher dispatcher_{*this};
    std::optional<std::string> skinToLoad_;
    std::function<void(int)> visStep_;
    DelayedMessages delayed_;
    bool shutDown_ = false;
};

// SIGTERM and SIGINT (blocked in every thread by `signals`) end the program as -quit does: a
// detached thread waits for them and posts kQuit. It holds only the addresses of `signals` and
// `messages`, which must live as long as the program.
void PostQuitOnEndSignals(const sigset_t& signals, ThreadMessageQueue& messages);

// A message box of two language keys, translated.
MessageRequest TranslatedMessage(const LanguageStore& language, const std::string& titleKey,
                                 const std::string& textKey);

// The program's own arguments as one command-line text, each quoted where it holds a blank and
// its '#' and '"' escaped, so the tokenizer gives back exactly the words it was given.
std::string JoinArguments(int argc, char** argv);

}  // namespace tessura

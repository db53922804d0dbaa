#include "PlayerAssembly.h"

#include "AtomicFile.h"
#include "DefaultPlaylist.h"
#include "FeedlineLibrary.h"
#include "FileStreamSource.h"
#include "NetStreamSource.h"
#include "StreamSettings.h"
#include "PluginCrashGuard.h"
#include "audio/AlsaMasterVolume.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace tessura {

namespace {

PluginGuid toPluginGuid(const Guid& guid) {
    PluginGuid out{guid.data1, guid.data2, guid.data3, {}};
    for (std::size_t i = 0; i < 8; ++i) out.data4[i] = guid.data4[i];
    return out;
}

Guid toGuid(const PluginGuid& guid) {
    Guid out;
    out.data1 = guid.data1;
    out.data2 = guid.data2;
    out.data3 = guid.data3;
    for (std::size_t i = 0; i < 8; ++i) out.data4[i] = guid.data4[i];
    return out;
}

std::string fileNameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

}  // namespace

void ConsoleEvents::statusText(const std::string& text) {
    if (text.empty()) return;
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void ConsoleEvents::message(const std::string& caption, const std::string& text) {
    std::fprintf(out_, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(out_);
}

void ConsoleEvents::playState(int state) {
    if (also != nullptr) also->playState(state);
    if (block_ != nullptr) block_->SetState(static_cast<info::PlayState>(state));
}

void ConsoleEvents::trackStarted(const std::string& file, int32_t lengthMs, int32_t positionMs) {
    if (also != nullptr) also->trackStarted(file, lengthMs, positionMs);
    if (onTrackStarted) onTrackStarted();
    if (block_ == nullptr) return;
    block_->SetFileName(file);
    block_->SetLength(lengthMs);
    block_->SetPosition(positionMs);
}

void ConsoleEvents::trackInfo(const std::string& title, const std::string& second) {
    if (also != nullptr) also->trackInfo(title, second);
    if (block_ == nullptr) return;
    block_->SetTitle(title);
    block_->SetAuthor(second);
}

PlayerAssembly::PlayerAssembly(const ProgramFolder& folder, SettingsStore& settings, const LanguageStore& language,
                               DialogService& dialogs, Preferences& preferences, ThreadMessageQueue& messages,
                               EngineEvents& events, bool gui, std::shared_ptr<ErrorService> errors)
    : folder_(folder), settings_(settings), language_(language), dialogs_(dialogs), preferences_(preferences),
      messages_(messages), events_(events), gui_(gui), builtin_(settings, dialogs),
      plugins_(folder.home, language, dialogs, PluginCrashGuard::startRun(folder.configHome + "/Quellmark")),
      requests_(settings, messages, folder.home) {
    plugins_.discover(builtin_.outputInterface());
    // EQPreset and EnableEQ are read here and kept up to date by the model as they change.
    EqualiserHooks hooks;
    hooks.announce = [this](const std::string& text) { events_.statusText(text); };
    equaliserModel_ = std::make_unique<Equaliser>(EqualiserPresetFile::InProgramFolder(folder),
                                                  equaliser_.processorInterface(), &language, &preferences,
                                                  std::move(hooks));
    chain_ = std::make_unique<OutputChain>(plugins_, BuiltinStages{pitch_, amplifier_, equaliser_}, messages_);
    OutputChoice choice;
    choice.output = preferences.activeOutput.isNull() ? kBuiltinOutputGuid : toPluginGuid(preferences.activeOutput);
    choice.processor = toPluginGuid(preferences.activeDSP);
    chain_->setChoice(choice);

    EngineSettings engineSettings;
    engineSettings.defaultExtension = preferences.defaultExtension;
    engineSettings.alwaysUseMasterVolume = preferences.alwaysUseMasterVolume != 0;
    engineSettings.volume = static_cast<uint32_t>(std::clamp(preferences.audioVolume, 0, 65535));
    engineSettings.balance = static_cast<uint32_t>(std::clamp(preferences.audioBalance, 0, 65535));
    engineSettings.playlist.allowDefaultType = preferences.allowDefaultType != 0;
    engineSettings.playlist.showTitleOnly = preferences.showTitleOnly != 0;
    engineSettings.playlist.underscore2Space = preferences.underscore2Space != 0;
    // Local files first; then addresses, through the Feedline library of system/.
    NetStreamServices net;
    net.library = std::make_shared<FeedlineLibrary>(FeedlineLibrary::DefaultPath(folder.home), std::move(errors));
    net.dialogs = &dialogs;
    net.language = &language;
    net.settings = [&settings] { return LoadStreamSettings(settings); };
    std::vector<StreamSourceFactory> sources{[] { return std::make_unique<FileStreamSource>(); },
                                             NetStreamSourceFactory(std::move(net))};
    EngineParts parts{plugins_, *chain_,  BuiltinStages{pitch_, amplifier_, equaliser_}, messages_, requests_,
                      language_, events_, std::move(sources), &master_, {}};
    engine_ = std::make_unique<PlayerEngine>(std::move(parts), std::move(engineSettings));
    engine_->playlist().SetRepeatMode(preferences.repeatMode);
    if (preferences.shufflePlay != 0) engine_->playlist().SetShuffle(true);
}

PlayerAssembly::~PlayerAssembly() {
    shutDown();
    engine_.reset();
    chain_.reset();
    plugins_.release();
}

void PlayerAssembly::loadDefaultPlaylist() {
    LoadDefaultPlaylist(engine_->playlist(), settings_, folder_.home, preferences_.loadedSong);
}

void PlayerAssembly::play() {
    if (engine_->IsPaused()) {
        engine_->TogglePause();
        return;
    }
    if (engine_->IsPlaying()) return;
    Playlist& list = engine_->playlist();
    const int current = std::max(0, list.currentIndex());
    engine_->PlayFrom(std::max(0, list.PositionOfEntry(current)));
}

bool PlayerAssembly::handle(const ThreadMessage& message) {
    if (messageHook && messageHook(message)) return true;
    if (engine_->handleMessage(message)) return true;
    switch (message.code) {
        case thread_message::kQuit:
            return false;
        case thread_message::kForwardedCommandLine:
            dispatcher_.DispatchCommands(message.text, preferences_.listAppend != 0);
            return true;
        case thread_message::kStatusText:
            events_.statusText(message.text);
            return true;
        case thread_message::kStartPlayback:
            play();
            return true;
        case thread_message::kStop:
            engine_->StopPlayback();
            return true;
        default:
            return true;  // the window's messages: nothing to do without one
    }
}

void PlayerAssembly::post(uint32_t code, intptr_t wparam, intptr_t lparam, int delayMs) {
    // Without a window there is no timer to delay by; the order of the messages is kept.
    if (!gui_ || delayMs <= 0) {
        messages_.post(code, wparam, lparam);
        return;
    }
    using namespace std::chrono;
    const int64_t now = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    delayed_.add(nullptr, ThreadMessage{code, wparam, lparam, {}}, now + delayMs);
}

void PlayerAssembly::sendDueMessages(int64_t nowMs) {
    for (DelayedMessages::Entry& due : delayed_.takeDue(nowMs)) messages_.post(std::move(due.message));
}

std::optional<std::string> PlayerAssembly::takeSkinToLoad() {
    std::optional<std::string> skin = std::move(skinToLoad_);
    skinToLoad_.reset();
    return skin;
}

void PostQuitOnEndSignals(const sigset_t& signals, ThreadMessageQueue& messages) {
    std::thread([set = &signals, queue = &messages] {
        int signal = 0;
        if (sigwait(set, &signal) == 0) queue->post(thread_message::kQuit);
    }).detach();
}

MessageRequest TranslatedMessage(const LanguageStore& language, const std::string& titleKey,
                                 const std::string& textKey) {
    MessageRequest request;
    request.titleKey = titleKey;
    request.textKey = textKey;
    request.title = language.Text(titleKey);
    request.text = language.Text(textKey);
    return request;
}

void PlayerAssembly::showMessage(const std::string& captionKey, const std::string& textKey) {
    dialogs_.message(TranslatedMessage(language_, captionKey, textKey));
}

void PlayerAssembly::installSkin(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string skins = folder_.home + "/skins";
    std::error_code ignored;
    std::filesystem::create_directories(skins, ignored);
    if (!in || writeFileAtomically(skins + "/" + fileNameOf(file), bytes.str(), 0644) != WriteResult::Ok) {
        MessageRequest request;
        request.title = "-installskin";
        request.text = "Error Installing Skin.";
        dialogs_.message(request);
    }
}

void PlayerAssembly::execute(const std::string& program, const std::string& arguments) {
    std::vector<std::string> words{program};
    std::istringstream split(arguments);
    for (std::string word; split >> word;) words.push_back(word);
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0) {
        // Reaped on its own thread so the player never waits for it and leaves no zombie.
        std::thread([child] { ::waitpid(child, nullptr, 0); }).detach();
    }
}

void PlayerAssembly::saveCdDump() {
    const std::string dump = folder_.home + "/cddump.pls";
    // The window's "restore the playlist" request reads it back.
    engine_->playlist().SavePlaylistFile(dump, false, false);
}

void PlayerAssembly::shutDown() {
    if (shutDown_) return;
    shutDown_ = true;
    Playlist& list = engine_->playlist();
    preferences_.loadedSong = std::max(0, list.currentIndex());
    preferences_.audioVolume = static_cast<int>(engine_->volume());
    preferences_.audioBalance = static_cast<int>(engine_->balance());
    preferences_.repeatMode = list.repeatMode();
    preferences_.shufflePlay = list.shuffle() ? 1 : 0;
    const OutputChoice choice = chain_->choice();
    preferences_.activeOutput = toGuid(choice.output);
    preferences_.activeDSP = toGuid(choice.processor);
    engine_->StopPlayback();
    SaveDefaultPlaylist(list, folder_.home);
    equaliserModel_->SaveCustom();
    preferences_.eqPreset = equaliserModel_->presetId();
    preferences_.enableEQ = equaliserModel_->enabled() ? 1 : 0;
}

std::string JoinArguments(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        std::string word;
        for (const char* c = argv[i]; *c != '\0'; ++c) {
            if (*c == '#') word += '#';
            word += *c;
        }
        const bool blank = word.find_first_of(" \t") != std::string::npos;
        if (blank) {
            word = '"' + word + '"';
        } else if (!word.empty() && word.front() == '"') {
            word.insert(0, 1, '#');
        }
        if (!text.empty()) text += ' ';
        text += word;
    }
    return text;
}

}  // namespace tessura

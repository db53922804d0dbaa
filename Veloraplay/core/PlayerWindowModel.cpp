#include "PlayerWindowModel.h"

#include "CommandLine.h"
#include "M3u.h"
#include "MessageQueue.h"
#include "PlayerSettings.h"
#include "SliderModel.h"

#include <algorithm>

namespace veloraplay {
namespace {

MenuEntry item(std::string text, int id, bool enabled = true, bool checked = false) {
    MenuEntry entry;
    entry.text = std::move(text);
    entry.id = id;
    entry.enabled = enabled;
    entry.checked = checked;
    return entry;
}

}  // namespace

ScreenRect keepCorner(const ScreenRect& frame, int width, int height, KeptCorner corner) {
    if (corner == KeptCorner::TopLeft) return {frame.x, frame.y, width, height};
    return {frame.x + frame.width - width, frame.y + frame.height - height, width, height};
}

bool storedOriginApplies(int left, int top, int frameLeft, int frameTop) {
    return !(left - frameLeft <= 0 && top - frameTop <= 0);
}

PlayerWindowModel::PlayerWindowModel(SettingsStore& settings, PlaybackControl& playback,
                                     DialogService& dialogs,
                                     std::function<void(int)> setDeviceVolume)
    : settings_(settings), playback_(playback), dialogs_(dialogs),
      setDeviceVolume_(std::move(setDeviceVolume)) {
    skin_ = readSetting(settings_, PlayerSetting::SkinType);
    extended_ = readSetting(settings_, PlayerSetting::ExtendedView) != 0 && skin_ == kSkinBrushedMetal;
    captionShown_ = readSetting(settings_, PlayerSetting::TitleBar) != 0;
    libraryAtStart_ = readSetting(settings_, PlayerSetting::LibraryWindow) != 0;
    enhancementDefault_ = readSetting(settings_, PlayerSetting::VeloraEnabled) != 0;
    storedLeft_ = readSetting(settings_, PlayerSetting::WindowLeft);
    storedTop_ = readSetting(settings_, PlayerSetting::WindowTop);
    steps_ = BandMeters::stepsFromWord(
        static_cast<uint32_t>(readSetting(settings_, PlayerSetting::EqControls)));
    playback_.setEnhancementDefault(enhancementDefault_);
    // The gains loaded are the gains heard, from the first frame on.
    pushGains();
}

void PlayerWindowModel::attach(PlayerView* view, LibraryLink* library) {
    view_ = view;
    library_ = library;
}

void PlayerWindowModel::initialise(const std::string& commandLine) {
    view_->applySkin();
    view_->relayout(KeptCorner::TopLeft);
    view_->showBandSteps(steps_);
    view_->showMeters(meters_.idle());
    view_->enableBandControls(false);
    view_->showEnhancementButton(false, enhancementDefault_);
    view_->showPlaying(false);
    view_->showFile({});
    view_->showPosition(SliderModel::kIdle);
    view_->showVolume(savedVolume());
    if (libraryAtStart_) command(cmd::kLibraryMenu);
    if (!commandLine.empty()) openCommandLine(commandLine);
}

int PlayerWindowModel::savedVolume() const {
    if (readSetting(settings_, PlayerSetting::MuteState) != 0) return 0;
    return readSetting(settings_, PlayerSetting::VolumeLevel);
}

void PlayerWindowModel::command(int id, bool fromWorker) {
    switch (id) {
        case cmd::kPlay:
            play();
            break;
        case cmd::kStop:
            // The worker's Stop of a run already stopped would end the one playing now.
            if (fromWorker && !fromCurrentRun()) break;
            playback_.stop();
            view_->showPlaying(false);
            break;
        case cmd::kEject:
        case cmd::kOpenFile:
            openFileDialog();
            break;
        case cmd::kPause:
            playback_.togglePause();
            break;
        case cmd::kNext:
        case cmd::kNextMenu:
            if (fromWorker && !fromCurrentRun()) break;
            next();
            break;
        case cmd::kPrevious:
        case cmd::kPreviousMenu:
            previous();
            break;
        case cmd::kLibrary:
        case cmd::kLibraryMenu:
            if (library_ && !library_->visible()) library_->open();
            break;
        case cmd::kEncoder:
        case cmd::kEncoderMenu:
            view_->runEncoder(playback_.isWaveFile() ? playback_.file() : std::string());
            break;
        case cmd::kEnhancement:
            playback_.toggleEnhancement();
            // The worker takes the switch at its next frame; the button follows once it has.
            view_->after(kEnhancementWaitMs,
                         [this] { view_->showEnhancementButton(true, playback_.enhancement()); });
            break;
        case cmd::kVolume:
        case cmd::kVolumeMenu:
            view_->openVolumePanel();
            break;
        case cmd::kWriteDecoded:
            if (hasFile() && !playback_.isWaveFile()) view_->writeDecodedFile();
            break;
        case cmd::kConversionDirectory:
            chooseConversionDirectory();
            break;
        case cmd::kToggleExtended:
            toggleExtended();
            break;
        case cmd::kToggleCaption:
            toggleCaption();
            break;
        case cmd::kResetGains:
            resetGains();
            break;
        case cmd::kHelp:
            view_->openHelp();
            break;
        case cmd::kSkinOceanic:
            setSkin(kSkinOceanic);
            break;
        case cmd::kSkinBrushedMetal:
            setSkin(kSkinBrushedMetal);
            break;
        case cmd::kAbout:
            view_->showAbout();
            break;
        case cmd::kMinimize:
            view_->minimize();
            break;
        case cmd::kClose:
        case cmd::kSystemClose:
            playback_.stop();
            view_->after(kCloseWaitMs, [this] { view_->closeWindow(); });
            break;
        default:
            break;
    }
}

void PlayerWindowModel::play() {
    if (!hasFile()) {
        openFileDialog();
        return;
    }
    if (folderList_.size() > 1) {
        const std::string item = folderList_.currentItem();
        if (!item.empty()) {
            playback_.setFile(item);
            view_->showFile(item);
        }
        if (library_) library_->select(folderList_.currentNumber());
    }
    const bool wasRunning = playback_.isRunning();
    playback_.start();
    if (!wasRunning && playback_.isRunning()) runStarted();
    view_->showPlaying(true);
    view_->notifyDisplay(notify::kItem, static_cast<intptr_t>(shownItemNumber()));
}

uint32_t PlayerWindowModel::shownItemNumber() const {
    return folderList_.size() < 2 ? 0 : folderList_.currentNumber();
}

void PlayerWindowModel::chooseConversionDirectory() {
    const std::string current = settings_.getString(kEncoderSection, kDefaultDirectoryKey, "");
    const std::optional<std::string> chosen =
        dialogs_.chooseFolder("Select Default Encoder Output Directory", current);
    if (!chosen || chosen->empty()) return;
    settings_.setString(kEncoderSection, kDefaultDirectoryKey, *chosen);
    settings_.save();
}

void PlayerWindowModel::next() {
    if (folderList_.size() < 2) return;
    playback_.stop();
    if (!folderList_.next()) {
        // The list ends here (it does not wrap): nothing more plays.
        view_->showPlaying(false);
        return;
    }
    const std::string item = folderList_.currentItem();
    view_->notifyDisplay(notify::kItem, static_cast<intptr_t>(folderList_.currentNumber()));
    if (library_) library_->select(folderList_.currentNumber());
    startFile(item);
}

void PlayerWindowModel::previous() {
    if (folderList_.size() < 2) return;
    // Next moves one on again.
    folderList_.previous();
    folderList_.previous();
    next();
}

void PlayerWindowModel::startFile(const std::string& path) {
    playback_.setFile(path);
    view_->showFile(path);
    playback_.start();
    if (playback_.isRunning()) runStarted();
    view_->showPlaying(true);
}

void PlayerWindowModel::openFileDialog() {
    FileDialogRequest request;
    request.title = "Select Source File";
    request.filters = {{"MPEG Layer-3 Files (*.mp3)", "*.mp3"}};
    request.mustExist = true;
    const std::optional<std::string> chosen = dialogs_.chooseFile(request);
    if (!chosen || chosen->empty()) return;
    openCommandLine(joinArguments({*chosen}));
    if (library_) library_->add(*chosen);
}

void PlayerWindowModel::openCommandLine(const std::string& text) {
    const std::vector<std::string> items = expandArguments(splitArguments(text));
    if (items.empty()) return;
    playback_.stop();
    folderList_.clear();
    view_->showPosition(SliderModel::kIdle);
    startFile(items.front());
    view_->notifyDisplay(notify::kItem, 0);
}

void PlayerWindowModel::copyData(const std::string& payload) {
    if (!payload.empty()) {
        openCommandLine(payload);
        return;
    }
    folderList_.moveToEnd();
    next();
}

void PlayerWindowModel::dropFiles(const std::vector<std::string>& paths) {
    playback_.stop();
    if (paths.empty() || paths.front().empty() || paths.front().size() > kMaxDroppedPath) return;
    const std::string& path = paths.front();
    openCommandLine(joinArguments({path}));
    if (library_) library_->add(path);
}

void PlayerWindowModel::playerNotify(uintptr_t code, intptr_t value) {
    if (code == notify::kState && value == notify::kStopped) ++runsEnded_;
    view_->notifyDisplay(code, value);
}

void PlayerWindowModel::streamKind(bool velora) {
    bandsEnabled_ = velora;
    view_->showEnhancementButton(velora, playback_.enhancementDefault());
    view_->enableBandControls(velora);
}

void PlayerWindowModel::positionFromPlayback(int value) {
    view_->showPosition(value);
}

void PlayerWindowModel::positionFromUser(int percent) {
    if (percent < 0 || percent > 100) return;
    if (!playback_.isRunning() || playback_.decodingToFile()) return;
    playback_.requestSeek(percent);
}

void PlayerWindowModel::volumeFromUser(int level) {
    level = std::clamp(level, 0, 100);
    if (setDeviceVolume_) setDeviceVolume_(level);
    writeSetting(settings_, PlayerSetting::VolumeLevel, level);
    writeSetting(settings_, PlayerSetting::MuteState, 0);
}

void PlayerWindowModel::volumePanelClosed() {
    if (skin_ == kSkinOceanic) view_->showVolume(savedVolume());
}

void PlayerWindowModel::meterTick() {
    if (skin_ != kSkinBrushedMetal || !extended_) return;
    if (!playback_.isRunning() || playback_.isPaused()) {
        view_->showMeters(meters_.idle());
        return;
    }
    view_->showMeters(meters_.tick(playback_.takeBandPeaks()));
    pushGains();
}

void PlayerWindowModel::setBandStep(int band, int step) {
    if (band < 0 || band >= BandMeters::kBands) return;
    const auto b = static_cast<std::size_t>(band);
    steps_[b] = std::clamp(step, 0, BandMeters::kMaxStep);
    playback_.setBandGain(band, steps_[b]);
}

void PlayerWindowModel::resetGains() {
    steps_.fill(BandMeters::kUnityStep);
    pushGains();
    view_->showBandSteps(steps_);
}

void PlayerWindowModel::pushGains() {
    for (int band = 0; band < BandMeters::kBands; ++band)
        playback_.setBandGain(band, steps_[static_cast<std::size_t>(band)]);
}

void PlayerWindowModel::toggleExtended() {
    if (skin_ != kSkinBrushedMetal) return;
    extended_ = !extended_;
    if (!extended_) view_->showMeters(meters_.idle());
    view_->relayout(KeptCorner::TopLeft);
}

void PlayerWindowModel::toggleCaption() {
    captionShown_ = !captionShown_;
    view_->relayout(KeptCorner::BottomRight);
}

void PlayerWindowModel::setSkin(int skin) {
    playback_.stop();
    view_->showPlaying(false);
    skin_ = skin;
    if (skin_ == kSkinOceanic) {
        extended_ = false;
        resetGains();
    }
    view_->applySkin();
    view_->showVolume(savedVolume());
    view_->relayout(KeptCorner::TopLeft);
}

std::vector<MenuEntry> PlayerWindowModel::contextMenu() const {
    const bool brushed = skin_ == kSkinBrushedMetal;
    const bool walk = folderList_.size() >= 2;
    std::vector<MenuEntry> menu;
    menu.push_back(item("&Open mp3 File...", cmd::kOpenFile));
    menu.push_back(item("&Write Decoded PCM File...", cmd::kWriteDecoded,
                    hasFile() && !playback_.isWaveFile()));
    if (brushed)
        menu.push_back(item(extended_ ? "Basic &Controls" : "Extended &Controls", cmd::kToggleExtended));
    menu.push_back(item(captionShown_ ? "Hide Window Caption Bar" : "Show Window Caption Bar",
                    cmd::kToggleCaption));
    menu.push_back(MenuEntry{});
    menu.push_back(item("Ne&xt Item in Folder", cmd::kNextMenu, walk));
    menu.push_back(item("&Previous Item in Folder", cmd::kPreviousMenu, walk));
    menu.push_back(MenuEntry{});
    if (!library_ || !library_->visible()) menu.push_back(item("Audio File &Library", cmd::kLibraryMenu));
    menu.push_back(item("Velora E&ncoder", cmd::kEncoderMenu));
    menu.push_back(item("Select &Conversion Directory", cmd::kConversionDirectory));
    if (brushed) {
        menu.push_back(item("Adjust Playback &Volume", cmd::kVolumeMenu));
        menu.push_back(item("Reset &Gain Levels", cmd::kResetGains));
    }
    MenuEntry skins = item("Player Skin Appearance", 0);
    skins.submenu.push_back(item("Brushed Metal", cmd::kSkinBrushedMetal, true, brushed));
    skins.submenu.push_back(item("Oceanic", cmd::kSkinOceanic, true, !brushed));
    menu.push_back(std::move(skins));
    menu.push_back(item("&Help Topics for this Window", cmd::kHelp));
    menu.push_back(MenuEntry{});
    menu.push_back(item("&Minimize Application", cmd::kMinimize));
    menu.push_back(item(kAboutMenuText, cmd::kAbout));
    menu.push_back(MenuEntry{});
    menu.push_back(item("&Quit Velora Audio Player", cmd::kSystemClose));
    return menu;
}

void PlayerWindowModel::save(int clientLeft, int clientTop) {
    writeSetting(settings_, PlayerSetting::WindowLeft, clientLeft);
    writeSetting(settings_, PlayerSetting::WindowTop, clientTop);
    writeSetting(settings_, PlayerSetting::SkinType, skin_);
    writeSetting(settings_, PlayerSetting::ExtendedView, extended_ ? 1 : 0);
    writeSetting(settings_, PlayerSetting::TitleBar, captionShown_ ? 1 : 0);
    writeSetting(settings_, PlayerSetting::EqControls,
                 static_cast<int32_t>(BandMeters::wordFromSteps(steps_)));
    writeSetting(settings_, PlayerSetting::LibraryWindow, library_ && library_->visible() ? 1 : 0);
    // The enhancement button changes the playback, not the state playbacks start with.
    writeSetting(settings_, PlayerSetting::VeloraEnabled, enhancementDefault_ ? 1 : 0);
}

}  // namespace veloraplay

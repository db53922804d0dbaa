#pragma once
// The player's main window: a small skinned deck with its keys, the status display, the
// position control, the volume control (Oceanic) or the eight band controls of the extended
// view (Brushed Metal), a context menu, and drag and drop of files. What it does lives in
// PlayerWindowModel; this class draws and forwards input and messages.
#include "DialogService.h"
#include "HelpTopics.h"
#include "LibraryCheck.h"
#include "LibraryHost.h"
#include "MessageQueue.h"
#include "PlayerWindowModel.h"
#include "Processes.h"
#include "SettingsStore.h"
#include "Velorawrap.h"
#include "WebLink.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <map>
#include <memory>
#include <string>

namespace veloraplay {

class BandMeter;
class LibraryWindow;
class LcdDisplay;
class PositionSlider;
class ProgressDialog;
class SkinButton;
class VolumePanel;

class PlayerWindow final : public QWidget,
                           private PlayerView,
                           private LibraryHost,
                           private LibraryLink {
  public:
    PlayerWindow(SettingsStore& settings, HelpTopics& help, const std::string& startCommandLine,
                 MessageQueue& queue, DialogService& dialogs, Launcher* browser = nullptr);
    ~PlayerWindow() override;

    // A message from the queue: the worker's reports, hand-overs from later starts.
    void handle(const Message& message);
    // A button or menu command, as the user gives it.
    void command(int id) { model_.command(id); }

    PlayerWindowModel& model() { return model_; }
    // The library window while it exists.
    LibraryWindow* library() const;
    // What the library window reaches of this one.
    LibraryHost& libraryHost() { return *this; }
    Velorawrap& playback() { return wrap_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // PlayerView
    void showPlaying(bool playing) override;
    void showEnhancementButton(bool visible, bool on) override;
    void enableBandControls(bool enabled) override;
    void showBandSteps(const std::array<int, BandMeters::kBands>& steps) override;
    void showMeters(const std::array<int, BandMeters::kBands>& meters) override;
    void applySkin() override;
    void relayout(KeptCorner corner) override;
    void notifyDisplay(uintptr_t code, intptr_t value) override;
    void showFile(const std::string& path) override;
    void showPosition(int value) override;
    void showVolume(int level) override;
    void openVolumePanel() override;
    void showAbout() override;
    void runEncoder(const std::string& waveInput) override;
    void writeDecodedFile() override;
    void openHelp() override;
    void minimize() override;
    void closeWindow() override;
    void after(int ms, std::function<void()> then) override;

    // LibraryHost
    Playlist& folderList() override { return model_.folderList(); }
    void handToPlayer(const std::string& payload) override { model_.copyData(payload); }
    void playerCommand(int id) override { model_.command(id); }
    bool playbackRunning() const override { return wrap_.isRunning(); }
    void clearItemNumber() override;
    void openHelp(const std::string& topic) override { help_.open(topic); }

    // LibraryLink
    bool visible() const override;
    void open() override;
    void select(uint32_t itemNumber) override;
    void add(const std::string& path) override;

    void bringToFront();
    void placeChildren();
    void closeProgress();
    void showMessageLater(const std::string& text);

    SettingsStore& settings_;
    HelpTopics& help_;
    MessageQueue& queue_;
    DialogService& dialogs_;
    SystemLauncher systemLauncher_;
    WebLink webLink_;
    Velorawrap wrap_;
    PlayerWindowModel model_;

    std::map<int, SkinButton*> buttons_;
    LcdDisplay* display_ = nullptr;
    PositionSlider* position_ = nullptr;
    PositionSlider* volume_ = nullptr;
    std::array<BandMeter*, BandMeters::kBands> bands_{};
    bool playingShown_ = false;
    bool enhancementVisible_ = false;
    QTimer meterTimer_;
    QTimer clockTimer_;  // the display's elapsed seconds while playing
    QPointer<VolumePanel> volumePanel_;
    QPointer<LibraryWindow> library_;
    std::unique_ptr<LibraryCheck> libraryCheck_;
    ProgressDialog* progress_ = nullptr;
    bool closing_ = false;
    intptr_t loggedState_ = notify::kStopped;
};

}  // namespace veloraplay

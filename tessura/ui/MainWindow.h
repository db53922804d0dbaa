#pragma once
// tessura's main window: frameless, shaped by the current mode's frame region and drawn from
// the skin's images. It is the mode host of the mode switch (mid, navigator with its twelve
// pages, small, splash, full-screen visualisation) and the window side of the player's actions;
// everything it decides lives in core/.
#include "AboutBox.h"
#include "ModeSwitch.h"
#include "NavigatorDrawer.h"
#include "NavigatorPages.h"
#include "PlayerActions.h"
#include "Preferences.h"
#include "SettingsScreen.h"
#include "SkinFace.h"
#include "ThreadMessages.h"
#include "TimeDisplay.h"
#include "VisPicture.h"
#include "WindowPlacement.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace tessura::ui {

class FullScreenVis;
class JumpDialog;
class PlaylistEditor;

struct WindowSetup {
    WindowPlayer& player;
    Preferences& preferences;
    // The current skin, loaded under its crash guard (CurrentSkin, else the default skin).
    std::function<LoadedSkin()> loadSkin;
    VisPicture* visualisation = nullptr;  // none: the visualisation pages stay dark
    // Called once per display frame (the delayed messages, the information block).
    std::function<void()> everyFrame;
    // The files the user chose in the open dialog (add: append instead of replace).
    std::function<void(bool add)> filesDialog;
    // A line of text asked of the user (title, question); nothing when cancelled.
    std::function<std::optional<std::string>(const std::string& title, const std::string& text)> askText{};
    std::string version = "1.96", buildDate = "March 1, 2002";
    // What the settings screen lists; its `applied` hears of changes after the window took its share.
    SettingsSources settings{};
};

class MainWindow final : public QWidget, public ModeHost, public WindowActions {
  public:
    explicit MainWindow(WindowSetup setup);
    ~MainWindow() override;

    // Opens in the start-up mode (the splash when due).
    void start();
    // The window's share of the main thread's messages; false for the player's.
    bool handleMessage(const ThreadMessage& message);
    void setStatus(const std::string& text);
    // Reloads the skin (0x8226, a loadskin command) and rebuilds the current mode.
    void reloadSkin();

    ModeSwitch& modes() { return modes_; }
    PlayerActions& actions() { return actions_; }
    const SkinFace& face() const { return *face_; }
    // The mode's picture as the window shows it (for looking at it without a screen).
    QImage picture();
    QWidget* fullScreenWindow() const;
    // Where a control of the current mode sits, in window coordinates (empty when none).
    QRect controlRect(Control control) const;
    PlaylistEditor* editor() const { return editor_.get(); }  // none until first opened
    JumpDialog* jumpWindow() const { return jump_.get(); }
    // One display frame now (the timer's work), for tests.
    void frame();
    NavigatorDrawer& drawer() { return drawer_; }

    // ModeHost.
    void hideAllModes() override;
    void showMode(int mode, int page) override;
    void passNavigatorPage(int page) override;
    void applyTopMost() override;
    void clearStatus() override;
    // WindowActions.
    void switchMode(int mode, int page) override;
    void tabMode() override;
    void filesDialog(bool add) override;
    void jumpDialog() override;
    void removeSelected() override;
    void playlistEditor() override;  // opens (or raises) the editor window
    bool toggleAlwaysOnTop() override;
    bool toggleLockMovement() override;
    void loadDefaultSkin() override;
    void openSettings() override;  // Ctrl+K, the context menu
    void openAbout() override;     // F1, the context menu
    SettingsScreen* settingsScreen() const { return settings_; }
    AboutBox* aboutBox() const { return about_; }
    QMenu* contextMenu() const { return menu_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool focusNextPrevChild(bool next) override;  // Tab is a key of the key table

  private:
    struct Hit {
        QRect rect;
        QRegion shape;  // empty: the rectangle
        Control control;
    };
    enum class Drag { None, Window, Volume, SongRing, SeekBar, Drawer };

    void shape();
    std::vector<Hit> hits() const;
    void paintMid(QPainter& p);
    void paintNavigator(QPainter& p);
    void paintNavigatorPage(QPainter& p, const QRect& area);
    NavigatorFacts navigatorFacts();
    void paintSmall(QPainter& p);
    void paintSplash(QPainter& p);
    void paintTime(QPainter& p, QPoint at, QPoint entryAt);
    QRect navTab(int page) const;
    QRect seekBar() const;
    QRect navPageArea() const;  // where the navigator's page content goes in the display
    bool navigatorKey(QKeyEvent* event);
    QString title() const;
    QString status() const;
    bool keyCommand(int qtKey, Qt::KeyboardModifiers modifiers);
    void setStatusText(const std::string& text, bool keep);
    void ensureTray();
    void settingsApplied(const SettingsApplyResult& result, const SettingsValues& values);
    std::string text(const std::string& key) const;
    double songShare();
    void seekTo(double share);

    WindowSetup setup_;
    std::unique_ptr<SkinFace> face_;
    ModeSwitch modes_;
    PlayerActions actions_;
    TimeDisplay time_;
    TimeDisplay::Frame timeFrame_;
    int mode_ = kNoMode;
    int page_ = 0;
    int listTop_ = 0;  // first playlist line shown on the navigator's list page
    std::string status_;
    int64_t statusShownMs_ = -1;
    Drag drag_ = Drag::None;
    QPoint dragFrom_;
    int dragStartVolume_ = 0;
    double dragShare_ = 0;
    QImage vis_;
    QTimer* frames_ = nullptr;
    QTimer* splash_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    std::unique_ptr<FullScreenVis> fullScreen_;
    NavigatorDrawer drawer_;
    std::unique_ptr<PlaylistEditor> editor_;
    std::unique_ptr<JumpDialog> jump_;
    QPointer<SettingsScreen> settings_;
    QPointer<AboutBox> about_;
    QMenu* menu_ = nullptr;
};

}  // namespace tessura::ui

#include "MainWindow.h"

#include "AboutBox.h"
#include "FrameChores.h"
#include "JumpDialog.h"
#include "LanguageStore.h"
#include "NavigatorPages.h"
#include "PlaylistEditor.h"
#include "PositionPreview.h"
#include "QtKeys.h"
#include "SkinLayout.h"
#include "SkinSheets.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <chrono>
#include <cmath>

namespace tessura::ui {

namespace {

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The navigator's pages: what each one shows in the display.
const art::MidLayout kMid;
const art::NavLayout kNav;
const art::SmallLayout kSmall;

QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

}  // namespace

// Mode 5: the visualisation over the whole screen; a key or a click goes back.
class FullScreenVis final : public QWidget {
  public:
    explicit FullScreenVis(MainWindow& owner) : owner_(owner) {
        setWindowTitle("tessura");
        setCursor(Qt::BlankCursor);
    }
    void setPicture(QImage picture) {
        picture_ = std::move(picture);
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::black);
        if (!picture_.isNull()) p.drawImage(rect(), picture_);
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) owner_.switchMode(owner_.modes().windowState(), 255);
        else QApplication::sendEvent(&owner_, event);
    }
    void mousePressEvent(QMouseEvent*) override { owner_.switchMode(owner_.modes().windowState(), 255); }

  private:
    MainWindow& owner_;
    QImage picture_;
};

MainWindow::MainWindow(WindowSetup setup)
    : setup_(std::move(setup)), face_(std::make_unique<SkinFace>(setup_.loadSkin())),
      modes_(*this, setup_.preferences.windowState, setup_.preferences.navWindowState),
      actions_(setup_.player, *this), time_(setup_.preferences.showElapsedTime != 0),
      drawer_(setup_.player, [this]() -> std::optional<std::string> {
          if (!setup_.askText) return std::nullopt;
          return setup_.askText(setup_.player.text("eq/savepreset_text"), setup_.player.text("eq/enterpresetname_text"));
      }) {
    Qt::WindowFlags flags = Qt::FramelessWindowHint | Qt::Window;
    if (setup_.preferences.minimizeToSystemTray != 0) flags |= Qt::Tool;  // no task-bar button
    if (setup_.preferences.alwaysOnTop != 0) flags |= Qt::WindowStaysOnTopHint;
    setWindowFlags(flags);
    setAttribute(Qt::WA_NoSystemBackground);
    setWindowTitle(fromUtf8(setup_.player.text("tessura")));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    frames_ = new QTimer(this);
    frames_->setTimerType(Qt::PreciseTimer);
    frames_->setInterval(framePeriodMs(setup_.preferences.displayFrameRate, false));
    connect(frames_, &QTimer::timeout, this, [this] { frame(); });
    splash_ = new QTimer(this);
    splash_->setSingleShot(true);
    splash_->setInterval(3000);
    connect(splash_, &QTimer::timeout, this, [this] {
        if (mode_ == kSplashMode) {
            const ModeRequest next = ModeAfterSplash(setup_.preferences);
            switchMode(next.mode, next.page);
        }
    });
    ensureTray();
}

MainWindow::~MainWindow() = default;

void MainWindow::start() {
    const ModeRequest first = StartupMode(setup_.preferences);
    modes_.request(first.mode, first.page);
    frames_->start();
}

QWidget* MainWindow::fullScreenWindow() const { return fullScreen_.get(); }

void MainWindow::ensureTray() {
    if (setup_.preferences.minimizeToSystemTray == 0 || tray_ != nullptr || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    QImage icon = face_->image("/jpeg/skinthumb");
    tray_ = new QSystemTrayIcon(QIcon(QPixmap::fromImage(icon.isNull() ? picture() : icon)), this);
    tray_->setToolTip(windowTitle());
    connect(tray_, &QSystemTrayIcon::activated, this, [this] {
        showNormal();
        raise();
        activateWindow();
    });
    tray_->show();
}

// -- messages ---------------------------------------------------------------------------------

bool MainWindow::handleMessage(const ThreadMessage& message) {
    switch (message.code) {
        case thread_message::kSwitchMode:
            modes_.request(static_cast<int>(message.wparam), static_cast<int>(message.lparam));
            return true;
        case thread_message::kNavigatorPage:
            modes_.request(kNavigatorMode, static_cast<int>(message.wparam));
            return true;
        case thread_message::kLoadStoredSkin:
            reloadSkin();
            return true;
        case thread_message::kShowWindow:
            // lparam: 0 hide, 6 (or 2) minimise, anything else show.
            if (message.lparam == 0) hide();
            else if (message.lparam == 6 || message.lparam == 2) showMinimized();
            else showNormal();
            return true;
        case thread_message::kOpenFileDialog:
            filesDialog(false);
            return true;
        case thread_message::kStatusText:
            setStatus(message.text);
            return true;
        case playlist_message::kEntriesChanged:
        case playlist_message::kStateChanged:
            if (editor_) editor_->notify(message.code, message.wparam, message.lparam);
            return true;
        case thread_message::kRefreshTrackInfo:  // the editor's refresh too; the player re-reads it
            if (editor_) editor_->notify(playlist_message::kRefresh, message.wparam, message.lparam);
            return false;
        case thread_message::kRefreshSongDisplay:
            if (editor_) editor_->followCurrent();
            time_.invalidate();
            update();
            return false;  // the player refreshes its entry too
        case thread_message::kSuspendTimer:
            return true;  // the frame timer runs on the window's own thread; it never piles up
        default:
            return false;
    }
}

void MainWindow::reloadSkin() {
    face_ = std::make_unique<SkinFace>(setup_.loadSkin());
    if (editor_) editor_->setColours(face_->description().colours);
    time_.invalidate();
    modes_.request(kRebuildMode, page_);
}

void MainWindow::setStatus(const std::string& text) { setStatusText(text, false); }

void MainWindow::setStatusText(const std::string& text, bool keep) {
    status_ = text;
    statusShownMs_ = text.empty() ? -1 : (keep ? INT64_MAX / 2 : nowMs());
    update();
}

void MainWindow::clearStatus() { setStatusText("", false); }

// -- modes ------------------------------------------------------------------------------------

void MainWindow::hideAllModes() {
    if (fullScreen_) fullScreen_->hide();
    if (mode_ >= kMidMode && mode_ <= kSmallMode) StoreWindowPosition(setup_.preferences, mode_, {x(), y()});
    setup_.preferences.windowState = modes_.windowState();
    hide();
}

void MainWindow::showMode(int mode, int page) {
    mode_ = mode;
    page_ = modes_.pageToShow(page);
    setup_.preferences.navWindowState = modes_.navPage();
    time_.invalidate();
    if (mode == kFullScreenMode) {
        if (!fullScreen_) fullScreen_ = std::make_unique<FullScreenVis>(*this);
        fullScreen_->showFullScreen();
        fullScreen_->setFocus();
        return;
    }
    if (mode == kSplashMode) splash_->start();
    shape();
    // The primary screen first: a position on no screen opens there.
    std::vector<ScreenArea> areas;
    QList<QScreen*> screens = QGuiApplication::screens();
    if (QScreen* primary = QGuiApplication::primaryScreen()) screens.prepend(primary);
    for (const QScreen* screen : screens) {
        const QRect r = screen->availableGeometry();
        areas.push_back({r.x(), r.y(), r.width(), r.height()});
    }
    const WindowPoint at = KeepOnScreen(WindowPosition(setup_.preferences, mode), width(), height(), areas);
    move(at.x, at.y);
    show();
    raise();
}

void MainWindow::passNavigatorPage(int page) {
    page_ = modes_.pageToShow(page);
    setup_.preferences.navWindowState = modes_.navPage();
    update();
}

void MainWindow::shape() {
    std::string frame;
    QSize size;
    switch (mode_) {
        case kMidMode:
            frame = "/rgn/mid/frame";
            size = face_->image("/jpeg/midtessura").size();
            break;
        case kNavigatorMode: {
            // The drawer, while out, hangs below the body and is part of the window's shape.
            size = face_->image("/jpeg/navigator").size();
            if (size.isEmpty()) size = face_->bounds("/rgn/nav/frame").size();
            QRegion region = face_->region("/rgn/nav/frame");
            if (drawer_.showing()) {
                const QRect open = drawer_.openRect(*face_);
                size = size.expandedTo(QSize(open.right() + 1, open.bottom() + 1));
                if (!region.isEmpty()) region += drawer_.shape(*face_);
            }
            setFixedSize(size.expandedTo(QSize(1, 1)));
            if (region.isEmpty()) clearMask();
            else setMask(region);
            return;
        }
        case kSmallMode: {
            // The small body with its two tabs above and below.
            QRegion all = face_->region("/rgn/small/frame") + face_->region("/rgn/small/extratop") +
                          face_->region("/rgn/small/extrabottom");
            const QRect b = all.boundingRect();
            setFixedSize(std::max(1, b.right() + 1), std::max(1, b.bottom() + 1));
            if (!all.isEmpty()) setMask(all);
            return;
        }
        default:
            size = face_->image("/jpeg/splash").size();
            if (size.isEmpty()) size = art::kSplashSize;
            setFixedSize(size);
            clearMask();
            return;
    }
    if (size.isEmpty()) size = face_->bounds(frame).size();
    setFixedSize(size.expandedTo(QSize(1, 1)));
    const QRegion& region = face_->region(frame);
    if (region.isEmpty()) clearMask();
    else setMask(region);
}

void MainWindow::switchMode(int mode, int page) { modes_.request(mode, page); }

void MainWindow::tabMode() {
    // mid -> navigator -> small -> mid; the splash and full screen go back to the saved mode.
    switch (mode_) {
        case kMidMode: switchMode(kNavigatorMode, 255); break;
        case kNavigatorMode: switchMode(kSmallMode, 0); break;
        case kSmallMode: switchMode(kMidMode, 0); break;
        default: switchMode(modes_.windowState(), 255); break;
    }
}

void MainWindow::applyTopMost() {
    const bool onTop = setup_.preferences.alwaysOnTop != 0;
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) return;
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (wasVisible) show();
}

bool MainWindow::toggleAlwaysOnTop() {
    setup_.preferences.alwaysOnTop = setup_.preferences.alwaysOnTop != 0 ? 0 : 1;
    applyTopMost();
    return setup_.preferences.alwaysOnTop != 0;
}

bool MainWindow::toggleLockMovement() {
    setup_.preferences.lockWindowMovement = setup_.preferences.lockWindowMovement != 0 ? 0 : 1;
    return setup_.preferences.lockWindowMovement != 0;
}

void MainWindow::loadDefaultSkin() {
    setup_.player.target().storeSkinToLoad("");
    setup_.player.target().post(thread_message::kLoadStoredSkin);
}

void MainWindow::filesDialog(bool add) {
    if (setup_.filesDialog) setup_.filesDialog(add);
    if (editor_) editor_->notify(playlist_message::kEntriesChanged, -1, -1);
}

void MainWindow::playlistEditor() {
    if (!editor_) {
        editor_ = std::make_unique<PlaylistEditor>(setup_.player, [this] { filesDialog(true); });
        editor_->setColours(face_->description().colours);
    }
    editor_->show();
    editor_->raise();
    editor_->activateWindow();
}

void MainWindow::removeSelected() {
    if (editor_) editor_->removeSelected();
}

void MainWindow::jumpDialog() {
    if (!jump_) jump_ = std::make_unique<JumpDialog>(setup_.player, this);
    jump_->start();
    jump_->show();
    jump_->raise();
    jump_->activateWindow();
}

// -- the frame --------------------------------------------------------------------------------

void MainWindow::frame() {
    FrameState state;
    state.nowMs = nowMs();
    state.lastStatusMs = statusShownMs_;
    state.fullScreen = mode_ == kFullScreenMode;
    state.lastInputMs = state.nowMs;
    if (frameChores(state).clearStatus && !status_.empty()) clearStatus();
    if (setup_.everyFrame) setup_.everyFrame();

    timeFrame_ = time_.refresh([this] {
        CommandTarget& target = setup_.player.target();
        TimeReading r;
        r.playing = setup_.player.playing();
        r.positionMs = target.position();
        r.lengthMs = setup_.player.lengthMs();
        r.entryIndex = std::max(0, target.playlist().currentIndex());
        return r;
    });
    const bool visShown = (mode_ == kNavigatorMode && page_ == 3) || mode_ == kFullScreenMode;
    if (visShown && setup_.visualisation) {
        if (mode_ == kFullScreenMode && fullScreen_) {
            QSize size = fullScreen_->size();
            if (setup_.preferences.doubledFullscreen != 0) size /= 2;
            fullScreen_->setPicture(setup_.visualisation->render(size));
        } else {
            vis_ = setup_.visualisation->render(kNav.display.size() - QSize(0, 24));
        }
    }
    if (mode_ == kNavigatorMode && drawer_.advance()) {
        shape();
        update();
    }
    if (timeFrame_.redraw || visShown || drag_ != Drag::None) update();
}

// -- drawing ----------------------------------------------------------------------------------

QImage MainWindow::picture() {
    QImage out(size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    if (!mask().isEmpty()) p.setClipRegion(mask());
    render(&p, QPoint(), QRegion(), QWidget::DrawChildren);
    return out;
}

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    switch (mode_) {
        case kMidMode: paintMid(p); break;
        case kNavigatorMode: paintNavigator(p); break;
        case kSmallMode: paintSmall(p); break;
        default: paintSplash(p); break;
    }
}

QString MainWindow::title() const {
    Playlist& list = setup_.player.target().playlist();
    const int current = list.currentIndex();
    if (current < 0 || current >= list.size()) return {};
    return fromUtf8(list.entry(current).display);
}

QString MainWindow::status() const { return status_.empty() ? title() : fromUtf8(status_); }

double MainWindow::songShare() {
    const int32_t length = setup_.player.lengthMs();
    const int32_t position = setup_.player.target().position();
    if (!setup_.player.playing() || length <= 0 || position < 0) return 0;
    return std::clamp(double(position) / double(length), 0.0, 1.0);
}

void MainWindow::seekTo(double share) {
    const int32_t length = setup_.player.lengthMs();
    if (length <= 0 || !setup_.player.playing()) return;
    setup_.player.target().seek(static_cast<int32_t>(std::clamp(share, 0.0, 1.0) * length));
    setStatus(setup_.player.text("main/scanto"));
}

void MainWindow::paintTime(QPainter& p, QPoint at, QPoint entryAt) {
    face_->digits(p, timeFrame_.time, at, false);
    face_->digits(p, timeFrame_.entry.text, entryAt, false);
    if (timeFrame_.entry.overLine) {
        p.setPen(QPen(SkinFace::colour(face_->description().colours.systemColor1), 2));
        p.drawLine(entryAt + QPoint(0, 1), entryAt + QPoint(3 * sheets::kDigitWidth, 1));
    }
}

void MainWindow::paintMid(QPainter& p) {
    const SkinDescription& d = face_->description();
    CommandTarget& target = setup_.player.target();
    p.drawImage(0, 0, face_->image("/jpeg/midtessura"));
    const bool playing = setup_.player.playing(), paused = target.paused();
    if (playing && !paused) face_->sprite(p, "/jpeg/misc", d.locations.playOn, {40, 40}, face_->bounds("/rgn/mid/play").topLeft());
    if (paused) face_->sprite(p, "/jpeg/misc", d.locations.pauseOn, {40, 40}, face_->bounds("/rgn/mid/pause").topLeft());
    face_->sprite(p, "/jpeg/misc", setup_.player.equaliserOn() ? d.locations.cyanOn : d.locations.cyanOff, {30, 20},
                  face_->bounds("/rgn/mid/eq").topLeft());
    const int repeat = target.playlist().repeatMode();
    if (repeat != 0)
        face_->sprite(p, "/jpeg/misc", repeat == 1 ? d.locations.greenOn : d.locations.greenOn2, {30, 20},
                      face_->bounds("/rgn/mid/repeat").topLeft());
    if (target.playlist().shuffle())
        face_->sprite(p, "/jpeg/misc", d.locations.orangeOn, {30, 20}, face_->bounds("/rgn/mid/shuffle").topLeft());

    // The song ring (position in the track) and the list ring (place in the playlist).
    const auto ring = [&](const std::string& member, double share, SkinColour colour) {
        const QRect b = face_->bounds(member);
        if (b.isEmpty() || share <= 0) return;
        QPainterPath pie;
        pie.moveTo(QRectF(b).center());
        pie.arcTo(QRectF(b), 90, -360 * share);
        pie.closeSubpath();
        QPainterPath shapePath;
        shapePath.addRegion(face_->region(member));
        p.fillPath(shapePath.intersected(pie), SkinFace::colour(colour));
    };
    ring("/rgn/mid/songposring", drag_ == Drag::SongRing ? dragShare_ : songShare(), d.colours.progressColor1);
    Playlist& list = target.playlist();
    ring("/rgn/mid/listposring", list.size() > 0 ? double(std::max(0, list.currentIndex()) + 1) / list.size() : 0,
         d.colours.progressColor2);
    const int shuttleFrame = playing && !paused ? int(nowMs() / 80 % std::max(1, d.values.shuttleKnob.images)) : 0;
    face_->knob(p, "/jpeg/shuttle", d.values.shuttleKnob, shuttleFrame, face_->bounds("/rgn/mid/shuttle"));
    face_->knob(p, "/jpeg/volumeknob", d.values.volumeKnob,
                int(target.volume() * uint32_t(std::max(0, d.values.volumeKnob.images - 1)) / 65535),
                face_->bounds("/rgn/mid/volume"));

    const QRect prev = face_->bounds("/rgn/mid/prev"), eject = face_->bounds("/rgn/mid/eject");
    const QRect display(prev.x(), face_->bounds("/rgn/mid/top").bottom() + 5, eject.right() - prev.x(), 34);
    paintTime(p, display.topLeft() + QPoint(6, 2), QPoint(display.right() - 3 * sheets::kDigitWidth - 2, display.y() + 2));
    const QString line = drag_ == Drag::SongRing
                             ? fromUtf8(PositionPreviewText(setup_.player.lengthMs(), int(dragShare_ * 1000), 1000))
                             : status();
    face_->text(p, QRect(display.x(), display.y() + 22, display.width(), 13), line, 10,
                SkinFace::colour(d.colours.statusBarTextColor));
}

QRect MainWindow::navTab(int page) const {
    const QRect display = face_->bounds("/rgn/nav/display");
    return QRect(display.x() + page * sheets::kTabWidth, display.bottom() + 4, sheets::kTabWidth, sheets::kTabHeight);
}

QRect MainWindow::seekBar() const { return kNav.seek; }

QRect MainWindow::navPageArea() const {
    const QRect display = face_->bounds("/rgn/nav/display");
    return QRect(display.x() + 4, display.y() + 26, display.width() - 8, display.height() - 28);
}

void MainWindow::paintNavigator(QPainter& p) {
    const SkinDescription& d = face_->description();
    CommandTarget& target = setup_.player.target();
    // The drawer first: the body covers the part of it that is still inside.
    drawer_.paint(p, *face_);
    p.save();
    if (drawer_.showing() && !face_->region("/rgn/nav/frame").isEmpty()) p.setClipRegion(face_->region("/rgn/nav/frame"));
    p.drawImage(0, 0, face_->image("/jpeg/navigator"));
    p.restore();
    const bool playing = setup_.player.playing(), paused = target.paused();
    if (playing && !paused)
        face_->sprite(p, "/jpeg/misc", d.locations.navPlayOn, {40, 40}, face_->bounds("/rgn/nav/play").topLeft());
    if (paused)
        face_->sprite(p, "/jpeg/misc", d.locations.navPauseOn, {40, 40}, face_->bounds("/rgn/nav/pause").topLeft());
    const QRect stop = face_->bounds("/rgn/nav/pause").translated(44, 0);
    face_->sprite(p, "/jpeg/misc", playing ? d.locations.navStopOff : d.locations.navStopOn, {40, 40}, stop.topLeft());
    const int repeat = target.playlist().repeatMode();
    if (repeat != 0)
        face_->sprite(p, "/jpeg/misc", repeat == 1 ? d.locations.navGreenOn : d.locations.navGreenOn2, {30, 20},
                      face_->bounds("/rgn/nav/repeat").topLeft());
    if (target.playlist().shuffle())
        face_->sprite(p, "/jpeg/misc", d.locations.navOrangeOn, {30, 20}, face_->bounds("/rgn/nav/shuffle").topLeft());
    face_->knob(p, "/jpeg/nav_volumeknob", d.values.navVolumeKnob,
                int(target.volume() * uint32_t(std::max(0, d.values.navVolumeKnob.images - 1)) / 65535),
                face_->bounds("/rgn/nav/volume"));

    const QRect display = face_->bounds("/rgn/nav/display");
    paintTime(p, display.topLeft() + QPoint(6, 4), QPoint(display.right() - 3 * sheets::kDigitWidth - 6, display.y() + 4));
    face_->text(p, QRect(display.x() + 150, display.y() + 4, 100, 20), fromUtf8(NavigatorPageTitle(page_, [this](const std::string& key) {
                    return setup_.player.text(key);
                })),
                10,
                SkinFace::colour(d.colours.systemColor2), Qt::AlignRight | Qt::AlignVCenter);
    paintNavigatorPage(p, navPageArea());

    // The page tabs, the current one lit.
    const QImage& tabs = face_->image("/jpeg/navitem2");
    for (int page = 0; page < kNavigatorPages; ++page) {
        const QRect tab = navTab(page);
        const int row = page == page_ ? sheets::kTabHeight : 0;
        p.drawImage(tab, tabs, QRect(page * sheets::kTabWidth, row, sheets::kTabWidth, sheets::kTabHeight));
    }
    // Captions under the buttons, from the language's caption strip.
    // The language's caption strip is the one "/jpeg/%s/navbuttons" the skin loader found.
    const QImage* captions = &face_->image("/jpeg/english/navbuttons");
    for (const auto& [member, loaded] : face_->skin().images)
        if (member.size() > 11 && member.compare(member.size() - 11, 11, "/navbuttons") == 0) captions = &face_->image(member);
    const std::pair<QRect, int> under[] = {{face_->bounds("/rgn/nav/prev"), sheets::kCapPrev},
                                           {face_->bounds("/rgn/nav/play"), sheets::kCapPlay},
                                           {face_->bounds("/rgn/nav/pause"), sheets::kCapPause},
                                           {stop, sheets::kCapStop},
                                           {face_->bounds("/rgn/nav/next"), sheets::kCapNext},
                                           {face_->bounds("/rgn/nav/eject"), sheets::kCapOpen}};
    for (const auto& [b, cap] : under)
        p.drawImage(QRect(b.center().x() - sheets::kCaptionWidth / 2, kNav.captions.y(), sheets::kCaptionWidth,
                          sheets::kCaptionHeight),
                    *captions, QRect(cap * sheets::kCaptionWidth, 0, sheets::kCaptionWidth, sheets::kCaptionHeight));

    const QColor textColour = SkinFace::colour(d.colours.statusBarTextColor);
    const QString line = drag_ == Drag::SeekBar
                             ? fromUtf8(PositionPreviewText(setup_.player.lengthMs(),
                                                            int(dragShare_ * seekBar().width()), seekBar().width()))
                             : fromUtf8(status_);
    face_->text(p, kNav.status, line, 10, textColour);
    face_->text(p, kNav.title, title(), 11, textColour);
    const QRect bar = seekBar();
    face_->sprite(p, "/jpeg/misc", d.locations.sliderOff, bar.size(), bar.topLeft());
    const double share = drag_ == Drag::SeekBar ? dragShare_ : songShare();
    const int lit = int(share * bar.width());
    if (lit > 0) face_->sprite(p, "/jpeg/misc", d.locations.sliderOn, {lit, bar.height()}, bar.topLeft());
}

NavigatorFacts MainWindow::navigatorFacts() {
    CommandTarget& target = setup_.player.target();
    Playlist& list = target.playlist();
    const Preferences& prefs = setup_.preferences;
    NavigatorFacts f;
    if (list.size() > 0) f.current = list.entry(std::max(0, list.currentIndex()));
    f.entries = list.size();
    f.repeatMode = list.repeatMode();
    f.shuffle = list.shuffle();
    f.volume = target.volume();
    f.balanceText = setup_.player.balanceText();
    f.alwaysOnTop = prefs.alwaysOnTop != 0;
    f.movementLocked = prefs.lockWindowMovement != 0;
    f.remainingTime = prefs.showElapsedTime != 0;
    f.frameRate = prefs.displayFrameRate;
    f.seedNumber = prefs.seedNumber;
    f.skinTitle = face_->skin().displayTitle;
    f.skinAuthor = face_->description().author;
    f.skinPath = face_->skin().skinPath;
    f.version = setup_.version;
    f.buildDate = setup_.buildDate;
    return f;
}

void MainWindow::paintNavigatorPage(QPainter& p, const QRect& area) {
    const SkinDescription& d = face_->description();
    CommandTarget& target = setup_.player.target();
    Playlist& list = target.playlist();
    const QColor text = SkinFace::colour(d.colours.statusBarTextColor);
    const QColor highlight = SkinFace::colour(d.colours.playListColor2);
    const int lineHeight = 12;
    const int lines = std::max(1, area.height() / lineHeight);
    std::vector<std::pair<QString, bool>> rows;  // text, highlighted
    const auto add = [&](const QString& t, bool lit = false) { rows.emplace_back(t, lit); };
    switch (page_) {
        case 0: {  // the playlist around the current entry, scrolled by up/down
            const int current = list.currentIndex();
            listTop_ = std::clamp(listTop_, 0, std::max(0, list.size() - lines));
            for (int i = listTop_; i < std::min(list.size(), listTop_ + lines); ++i)
                add(QString("%1. %2").arg(i + 1).arg(fromUtf8(list.entry(i).display)), i == current);
            if (list.size() == 0) add(fromUtf8(setup_.player.text("navpage/emptyplaylist")));
            break;
        }
        case 2:  // the equaliser's curve; its sliders sit in the drawer
            drawer_.paintPage(p, *face_, area);
            return;
        case 3:
            if (!vis_.isNull()) p.drawImage(area.topLeft() + QPoint(-4, -2), vis_);
            return;
        case 4:
            if (setup_.visualisation) {
                VisualisationList& vl = setup_.visualisation->list();
                const auto names = vl.names();
                for (std::size_t i = 0; i < names.size(); ++i)
                    add(fromUtf8(names[i]), int(i) == vl.currentIndex());
            }
            break;
        default:
            for (const PageLine& line : NavigatorPageLines(page_, navigatorFacts(), [this](const std::string& key) {
                     return setup_.player.text(key);
                 }))
                add(fromUtf8(line.text), line.lit);
            break;
    }
    for (std::size_t i = 0; i < rows.size() && int(i) < lines; ++i)
        face_->text(p, QRect(area.x(), area.y() + int(i) * lineHeight, area.width(), lineHeight), rows[i].first, 10,
                    rows[i].second ? highlight : text);
}

void MainWindow::paintSmall(QPainter& p) {
    const SkinDescription& d = face_->description();
    const QImage& body = face_->image("/jpeg/smallstate");
    const QImage& extra = face_->image("/jpeg/extra");
    const QRect top = face_->bounds("/rgn/small/extratop"), bottom = face_->bounds("/rgn/small/extrabottom");
    const QRect frame = face_->bounds("/rgn/small/frame");
    p.drawImage(top, extra, QRect(top.x(), 0, top.width(), top.height()));
    p.drawImage(bottom, extra, QRect(bottom.x(), sheets::kExtraHalf, bottom.width(), bottom.height()));
    p.drawImage(frame.topLeft(), body);
    // Minutes and seconds of the same value the large display shows.
    const std::string& full = timeFrame_.time;  // "[-]HH:MM:SS.hh"
    const std::size_t start = !full.empty() && full.front() == '-' ? 1 : 0;
    std::string small = start == 1 ? "-" : "";
    if (full.size() >= start + 8) small.append(full, start + 3, 5);
    else small = "00:00";
    face_->digits(p, small, frame.topLeft() + QPoint(kSmall.time.x() - kSmall.body.x(), 8), true);
    const QString line = status();
    face_->text(p, QRect(frame.x() + 192, frame.y() + 4, 100, 20), line, 10,
                SkinFace::colour(d.colours.statusBarTextColor));
}

void MainWindow::paintSplash(QPainter& p) {
    const QImage& splash = face_->image("/jpeg/splash");
    if (!splash.isNull()) p.drawImage(0, 0, splash);
    else p.fillRect(rect(), Qt::black);
    const QColor c = SkinFace::colour(face_->description().colours.systemColor1);
    face_->text(p, QRect(0, height() - 22, width() - 6, 18),
                QString("%1  %2").arg(fromUtf8(setup_.version), fromUtf8(setup_.buildDate)), 11, c,
                Qt::AlignRight | Qt::AlignVCenter);
}

// -- input ------------------------------------------------------------------------------------

std::vector<MainWindow::Hit> MainWindow::hits() const {
    std::vector<Hit> out;
    const auto region = [&](const char* member, Control control) {
        const QRegion& r = face_->region(member);
        if (!r.isEmpty()) out.push_back({r.boundingRect(), r, control});
    };
    if (mode_ == kMidMode) {
        region("/rgn/mid/prev", Control::Previous);
        region("/rgn/mid/play", Control::Play);
        region("/rgn/mid/pause", Control::Pause);
        region("/rgn/mid/next", Control::Next);
        region("/rgn/mid/eject", Control::Eject);
        region("/rgn/mid/eq", Control::Equaliser);
        region("/rgn/mid/repeat", Control::Repeat);
        region("/rgn/mid/shuffle", Control::Shuffle);
        region("/rgn/mid/bottom", Control::JumpToNavigator);
    } else if (mode_ == kNavigatorMode) {
        region("/rgn/nav/prev", Control::Previous);
        region("/rgn/nav/play", Control::Play);
        region("/rgn/nav/pause", Control::Pause);
        out.push_back({face_->bounds("/rgn/nav/pause").translated(44, 0), {}, Control::Stop});
        region("/rgn/nav/next", Control::Next);
        region("/rgn/nav/eject", Control::Eject);
        region("/rgn/nav/repeat", Control::Repeat);
        region("/rgn/nav/shuffle", Control::Shuffle);
    } else if (mode_ == kSmallMode) {
        const QRect frame = face_->bounds("/rgn/small/frame");
        const Control row[] = {Control::Previous, Control::Play, Control::Pause, Control::Stop, Control::Next};
        for (int i = 0; i < 5; ++i)
            out.push_back({kSmall.buttons.translated(i * 20 + frame.x() - kSmall.body.x(), frame.y() - kSmall.body.y()),
                           {}, row[i]});
    }
    return out;
}

QRect MainWindow::controlRect(Control control) const {
    for (const Hit& h : hits())
        if (h.control == control) return h.rect;
    return {};
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::RightButton) return;  // the context menu's

    if (mode_ == kSplashMode) {
        splash_->stop();
        const ModeRequest next = ModeAfterSplash(setup_.preferences);
        switchMode(next.mode, next.page);
        return;
    }
    for (const Hit& h : hits()) {
        if (h.shape.isEmpty() ? h.rect.contains(at) : h.shape.contains(at)) {
            actions_.click(h.control);
            update();
            return;
        }
    }
    const auto within = [&](const char* member) { return face_->region(member).contains(at); };
    if ((mode_ == kMidMode && within("/rgn/mid/volume")) || (mode_ == kNavigatorMode && within("/rgn/nav/volume"))) {
        drag_ = Drag::Volume;
        dragFrom_ = at;
        dragStartVolume_ = int(setup_.player.target().volume());
        setStatus(setup_.player.text("nav/volume"));
        return;
    }
    if (mode_ == kMidMode && within("/rgn/mid/songposring")) {
        drag_ = Drag::SongRing;
        mouseMoveEvent(event);
        return;
    }
    if (mode_ == kNavigatorMode) {
        if (within("/rgn/nav/drawertop")) {
            drawer_.toggle();
            drawer_.setFocused(drawer_.open());
            shape();
            update();
            return;
        }
        const QRect pageArea = navPageArea();
        if (drawer_.press(*face_, at, page_ == 2 ? &pageArea : nullptr)) {
            if (drawer_.dragging()) drag_ = Drag::Drawer;
            update();
            return;
        }
        drawer_.setFocused(false);
        if (seekBar().contains(at)) {
            drag_ = Drag::SeekBar;
            mouseMoveEvent(event);
            return;
        }
        for (int page = 0; page < kNavigatorPages; ++page)
            if (navTab(page).contains(at)) {
                switchMode(kNavigatorMode, page);
                return;
            }
        const int lines = std::max(1, (face_->bounds("/rgn/nav/display").height() - 28) / 12);
        if (within("/rgn/nav/up")) {
            listTop_ = std::max(0, listTop_ - lines);
            setStatus(setup_.player.text("nav/up"));
            return;
        }
        if (within("/rgn/nav/down")) {
            listTop_ += lines;
            setStatus(setup_.player.text("nav/down"));
            return;
        }
    }
    if (mode_ == kMidMode) {
        // The five small buttons at the skin's MSM positions: small, navigator, help, minimise, close.
        const SkinMsmLocations& m = face_->description().msm;
        const SkinPoint points[] = {m.singleUp, m.singleDown, m.help, m.minimize, m.close};
        for (int i = 0; i < 5; ++i) {
            if (!QRect(points[i].x, points[i].y, kMid.msmSize, kMid.msmSize).contains(at)) continue;
            switch (i) {
                case 0: switchMode(kSmallMode, 0); break;
                case 1: switchMode(kNavigatorMode, 255); break;
                case 2: setStatus(setup_.player.text("mid/jumptonav")); break;
                case 3: tray_ ? hide() : showMinimized(); break;
                default: setup_.player.target().post(thread_message::kQuit); break;
            }
            return;
        }
    }
    if (setup_.preferences.lockWindowMovement == 0) {
        drag_ = Drag::Window;
        dragFrom_ = event->globalPosition().toPoint() - pos();
    }
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    switch (drag_) {
        case Drag::Window: move(event->globalPosition().toPoint() - dragFrom_); break;
        case Drag::Volume:
            actions_.setVolume(dragStartVolume_ + int64_t(dragFrom_.y() - at.y()) * 1024);
            update();
            break;
        case Drag::SongRing: {
            const QPointF c = QRectF(face_->bounds("/rgn/mid/songposring")).center();
            double angle = std::atan2(double(at.x()) - c.x(), c.y() - double(at.y()));  // 0 at the top, clockwise
            if (angle < 0) angle += 2 * M_PI;
            dragShare_ = angle / (2 * M_PI);
            update();
            break;
        }
        case Drag::SeekBar:
            dragShare_ = std::clamp(double(at.x() - seekBar().x()) / std::max(1, seekBar().width()), 0.0, 1.0);
            update();
            break;
        case Drag::Drawer:
            drawer_.move(at);
            update();
            break;
        case Drag::None: break;
    }
}

void MainWindow::mouseReleaseEvent(QMouseEvent*) {
    if (drag_ == Drag::SongRing || drag_ == Drag::SeekBar) seekTo(dragShare_);
    if (drag_ == Drag::Drawer) drawer_.release();
    if (drag_ == Drag::Window && mode_ >= kMidMode && mode_ <= kSmallMode)
        StoreWindowPosition(setup_.preferences, mode_, {x(), y()});
    drag_ = Drag::None;
    update();
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    if (mode_ == kSmallMode) switchMode(kMidMode, 0);
    else if (mode_ == kNavigatorMode && page_ == 0 && face_->bounds("/rgn/nav/display").contains(event->position().toPoint()))
        playlistEditor();  // the list page opens the full list
    else mousePressEvent(event);
}

void MainWindow::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y() / 120;
    if (steps != 0 && mode_ == kNavigatorMode && drawer_.wheel(*face_, event->position().toPoint(), steps)) {
        update();
        return;
    }
    if (steps != 0) actions_.setVolume(int64_t(setup_.player.target().volume()) + steps * 2048);
    update();
}

bool MainWindow::keyCommand(int qtKey, Qt::KeyboardModifiers modifiers) {
    if (const auto media = MediaKeyForQtKey(qtKey)) {
        if (*media == MediaKey::MediaSelect) filesDialog(false);
        else actions_.run(commandForMediaKey(*media));
        return true;
    }
    const int key = VirtualKeyForQtKey(qtKey);
    if (key == 0) return false;
    const KeyCommand command = commandForKey(key, modifiers.testFlag(Qt::ControlModifier));
    if (command.action == KeyAction::None) return false;
    actions_.run(command);
    return true;
}

// The drawer's keys come before the key table while it has the keyboard; plain Tab hands the
// keyboard to it (opening it) and back, Esc gives it back.
bool MainWindow::navigatorKey(QKeyEvent* event) {
    if (mode_ != kNavigatorMode) return false;
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)) {
        drawer_.setFocused(!drawer_.focused());
        if (drawer_.focused() && !drawer_.open()) {
            drawer_.setOpen(true);
            drawer_.setFocused(true);
            shape();
        }
        return true;
    }
    if (!drawer_.focused()) return false;
    if (event->key() == Qt::Key_Escape) {
        drawer_.setFocused(false);
        return true;
    }
    return plain && drawer_.key(event->key());
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (navigatorKey(event)) update();
    else if (keyCommand(event->key(), event->modifiers())) update();
    else QWidget::keyPressEvent(event);
}

bool MainWindow::focusNextPrevChild(bool) { return false; }

// -- settings, about box and the context menu ---------------------------------------------------

std::string MainWindow::text(const std::string& key) const {
    return setup_.settings.languages ? setup_.settings.languages->Text(key) : setup_.player.text(key);
}

void MainWindow::openSettings() {
    if (!settings_) {
        SettingsSources sources = setup_.settings;
        sources.applied = [this](const SettingsApplyResult& r, const SettingsValues& v) { settingsApplied(r, v); };
        settings_ = new SettingsScreen(setup_.preferences, std::move(sources), [this](const std::string& k) { return text(k); }, this);
        settings_->setAttribute(Qt::WA_DeleteOnClose);
    }
    settings_->show();
    settings_->raise();
    settings_->activateWindow();
}

void MainWindow::settingsApplied(const SettingsApplyResult& result, const SettingsValues& values) {
    namespace fx = settings_effect;
    if (result.effects & fx::kAlwaysOnTop) applyTopMost();
    if (result.effects & fx::kFrameRate)
        frames_->setInterval(framePeriodMs(setup_.preferences.displayFrameRate, false));
    if (result.effects & fx::kWindowBehaviour) {
        const bool tool = setup_.preferences.minimizeToSystemTray != 0;
        if (windowFlags().testFlag(Qt::Tool) != tool) {  // a new flag hides the window
            setWindowFlag(Qt::Tool, tool);
            if (mode_ >= kMidMode && mode_ <= kSplashMode) show();
        }
        if (setup_.preferences.translucentOnDeactivate == 0) setWindowOpacity(1.0);
        ensureTray();
    }
    if (result.effects & fx::kSkin) {
        setup_.player.target().storeSkinToLoad(setup_.preferences.currentSkin);
        setup_.player.target().post(thread_message::kLoadStoredSkin);
    }
    if (result.effects & fx::kPlaylistDisplay) time_.invalidate();
    update();
    if (setup_.settings.applied) setup_.settings.applied(result, values);
}

void MainWindow::openAbout() {
    if (!about_) {
        const LoadedSkin& skin = face_->skin();
        about_ = new AboutBox(*face_, {setup_.version, setup_.buildDate, skin.displayTitle, skin.description.author},
                              [this](const std::string& k) { return text(k); }, this);
        about_->setAttribute(Qt::WA_DeleteOnClose);
    }
    about_->show();
    about_->raise();
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    if (!menu_) {
        menu_ = new QMenu(this);
        menu_->addAction(QString::fromStdString(text("main/settingsmenu")), QKeySequence(Qt::CTRL | Qt::Key_K), this,
                         [this] { openSettings(); });
        menu_->addAction(QString::fromStdString(text("main/aboutmenu")), QKeySequence(Qt::Key_F1), this,
                         [this] { openAbout(); });
        menu_->addSeparator();
        menu_->addAction(QString::fromStdString(text("main/nextmodemenu")), QKeySequence(Qt::CTRL | Qt::Key_Tab), this,
                         [this] { tabMode(); });
        menu_->addSeparator();
        menu_->addAction(QString::fromStdString(text("main/quitmenu")), this,
                         [this] { setup_.player.target().post(thread_message::kQuit); });
    }
    menu_->popup(event->globalPos());
}

void MainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && setup_.preferences.translucentOnDeactivate != 0)
        setWindowOpacity(isActiveWindow() ? 1.0 : 0.6);
    if (event->type() == QEvent::WindowStateChange && tray_ && isMinimized()) QTimer::singleShot(0, this, [this] { hide(); });
    QWidget::changeEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing the window is quitting: the player saves and stops first.
    event->ignore();
    setup_.player.target().post(thread_message::kQuit);
}

}  // namespace tessura::ui

#include "PlayerWindow.h"

#include "AboutDialog.h"
#include "BandMeter.h"
#include "CommandLine.h"
#include "EncoderWindow.h"
#include "EventLog.h"
#include "InstanceChannel.h"
#include "LibraryWindow.h"
#include "LcdDisplay.h"
#include "MenuFill.h"
#include "PcmOut.h"
#include "PlayerSettings.h"
#include "PositionSlider.h"
#include "ProgressDialog.h"
#include "ProgressDialogModel.h"
#include "SkinArt.h"
#include "SkinButton.h"
#include "VolumePanel.h"
#include "VolumePanelModel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QUrl>
#include <QWindow>

namespace veloraplay {
namespace {

static_assert(kProgressStopCommand == kCommandStop, "the progress dialog stops with Stop");

const char* const kMessageTitle = "veloraplay";
constexpr int kButtonIds[] = {cmd::kPlay,    cmd::kStop,    cmd::kEject,   cmd::kPause,
                              cmd::kNext,    cmd::kPrevious, cmd::kLibrary, cmd::kEncoder,
                              cmd::kEnhancement, cmd::kVolume};

}  // namespace

PlayerWindow::PlayerWindow(SettingsStore& settings, HelpTopics& help,
                           const std::string& startCommandLine, MessageQueue& queue,
                           DialogService& dialogs, Launcher* browser)
    : settings_(settings), help_(help), queue_(queue), dialogs_(dialogs),
      webLink_(browser ? *browser : systemLauncher_, dialogs), wrap_(queue),
      model_(settings, wrap_, dialogs, [](int level) { deviceOutput().setVolume(level); }) {
    setWindowTitle(QString::fromUtf8(kPlayerWindowTitle));
    setWindowIcon(applicationIcon());
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    // The device opens at the stored level, or silent when muted.
    deviceOutput().setVolume(VolumePanelModel::outputOpenLevel(settings_));

    for (int id : kButtonIds) {
        auto* b = new SkinButton(id, this);
        b->setToolTip(skinButtonTooltip(id));
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QAbstractButton::clicked, this, [this, id] { model_.command(id); });
        buttons_[id] = b;
    }
    display_ = new LcdDisplay(this);
    display_->setToolTip(QStringLiteral("Status Display"));
    position_ = new PositionSlider(false, this);
    position_->setToolTip(QStringLiteral("Playback Position in Current Song"));
    position_->setMoved([this](int percent) {
        logEvent("seek", std::to_string(percent));
        model_.positionFromUser(percent);
    });
    volume_ = new PositionSlider(true, this);
    volume_->setToolTip(QStringLiteral("Adjust Playback Volume"));
    volume_->setMoved([this](int level) {
        logEvent("volume", std::to_string(level));
        model_.volumeFromUser(level);
    });
    for (int band = 0; band < BandMeters::kBands; ++band) {
        auto* meter = new BandMeter(band, this);
        meter->setToolTip(QString::fromStdString(BandMeters::tooltip(band)));
        meter->setStepChanged([this, band](int step) { model_.setBandStep(band, step); });
        bands_[static_cast<std::size_t>(band)] = meter;
    }

    meterTimer_.setInterval(PlayerWindowModel::kMeterTickMs);
    connect(&meterTimer_, &QTimer::timeout, this, [this] { model_.meterTick(); });
    clockTimer_.setInterval(1000);
    connect(&clockTimer_, &QTimer::timeout, this, [this] {
        display_->model().tick();
        display_->update();
    });

    model_.attach(this, this);
    if (!model_.captionShown()) setWindowFlag(Qt::FramelessWindowHint, true);
    model_.initialise({});
    // The stored client origin, unless it would put the window at the screen's corner.
    if (storedOriginApplies(model_.storedLeft(), model_.storedTop(), 0, 0))
        setGeometry(QRect(QPoint(model_.storedLeft(), model_.storedTop()), size()));
    meterTimer_.start();
    // The library window opens again, or its files are looked at once in the background.
    if (!model_.libraryAtStart()) libraryCheck_ = std::make_unique<LibraryCheck>(settings_);

    // The start command line arrives as a later start's would.
    if (!startCommandLine.empty()) {
        Message own;
        own.code = msg::kCopyData;
        own.payload = startCommandLine;
        own.wparam = 1;  // this process's own command line
        queue.post(std::move(own));
    }
    logEvent("player");
}

PlayerWindow::~PlayerWindow() {
    wrap_.stop();
    delete library_.data();
    delete progress_;
    delete volumePanel_.data();
}

void PlayerWindow::handle(const Message& message) {
    switch (message.code) {
        case msg::kActivate:
            bringToFront();
            break;
        case msg::kCopyData:
            for (const std::string& word : splitArguments(message.payload))
                logEvent(message.wparam == 1 ? "open" : "handover", word);
            model_.copyData(message.payload);
            break;
        case msg::kClose:
            close();
            break;
        case msg::kCommand:
            model_.command(static_cast<int>(message.wparam), true);
            break;
        case msg::kPlayerNotify:
            model_.playerNotify(message.wparam, message.lparam);
            if (message.wparam == notify::kState && message.lparam == notify::kStopped && progress_ &&
                !wrap_.isRunning()) {
                // A run that ended before its first progress sends the dialog no close.
                Message close;
                close.code = msg::kProgressClose;
                progress_->handle(close);
            }
            break;
        case msg::kStreamKindNotify:
            model_.streamKind(message.wparam == 1);
            break;
        case msg::kPositionMessage:
            model_.positionFromPlayback(static_cast<int>(message.lparam));
            break;
        case msg::kShowMessage:
            logEvent("message", message.payload);
            showMessageLater(message.payload);
            break;
        case msg::kProgressFrame:
        case msg::kProgressClose:
            if (progress_) progress_->handle(message);
            break;
        default:
            break;
    }
}

void PlayerWindow::showMessageLater(const std::string& text) {
    // Outside the drain: the box runs its own loop, and the messages behind this one must
    // not wait for it.
    QTimer::singleShot(0, this, [this, text] {
        dialogs_.messageBox(MessageBoxRequest{kMessageTitle, text, DialogButtons::Ok, DialogIcon::Warning});
    });
}

// --- what the model shows -------------------------------------------------------------------

void PlayerWindow::showPlaying(bool playing) {
    playingShown_ = playing;
    buttons_[cmd::kPlay]->setVisible(!playing);
    buttons_[cmd::kStop]->setVisible(playing);
}

void PlayerWindow::showEnhancementButton(bool visible, bool on) {
    enhancementVisible_ = visible;
    SkinButton* b = buttons_[cmd::kEnhancement];
    b->setOn(on);
    b->setVisible(visible);
    display_->setVelora(visible);
}

void PlayerWindow::enableBandControls(bool enabled) {
    for (BandMeter* meter : bands_) meter->setEnabled(enabled);
}

void PlayerWindow::showBandSteps(const std::array<int, BandMeters::kBands>& steps) {
    for (std::size_t i = 0; i < bands_.size(); ++i) bands_[i]->setStep(steps[i]);
}

void PlayerWindow::showMeters(const std::array<int, BandMeters::kBands>& meters) {
    for (std::size_t i = 0; i < bands_.size(); ++i) bands_[i]->setLevel(meters[i]);
}

void PlayerWindow::applySkin() {
    const int skin = model_.skin();
    for (auto& [id, b] : buttons_) b->setSkin(skin);
    display_->setSkin(skin);
    position_->setSkin(skin);
    volume_->setSkin(skin);
    for (BandMeter* meter : bands_) meter->setSkin(skin);
    const bool oceanic = skin == kSkinOceanic;
    volume_->setVisible(oceanic);
    buttons_[cmd::kVolume]->setVisible(!oceanic);
    update();
}

void PlayerWindow::placeChildren() {
    const SkinLayout& layout = skinLayout(model_.skin());
    for (auto& [id, b] : buttons_) {
        const QRect place = layout.button(id);
        if (place.isEmpty()) {
            b->hide();
            continue;
        }
        b->setGeometry(place);
    }
    buttons_[cmd::kPlay]->setVisible(!playingShown_);
    buttons_[cmd::kStop]->setVisible(playingShown_);
    buttons_[cmd::kEnhancement]->setVisible(enhancementVisible_);
    display_->setGeometry(layout.display);
    position_->setGeometry(layout.position);
    if (!layout.volume.isEmpty()) volume_->setGeometry(layout.volume);
    const bool bandsShown = model_.extended() && model_.skin() == kSkinBrushedMetal;
    for (int band = 0; band < BandMeters::kBands; ++band) {
        BandMeter* meter = bands_[static_cast<std::size_t>(band)];
        if (bandsShown) meter->setGeometry(layout.bandRect(band));
        meter->setVisible(bandsShown);
    }
}

void PlayerWindow::relayout(KeptCorner corner) {
    const SkinLayout& layout = skinLayout(model_.skin());
    const bool extended = model_.extended() && model_.skin() == kSkinBrushedMetal;
    const QSize client(layout.body.width(), layout.body.height() + (extended ? layout.extendedHeight : 0));
    const QRect oldFrame = frameGeometry();
    const bool wasVisible = isVisible();
    const bool frameless = !model_.captionShown();
    const bool flagChanges = windowFlags().testFlag(Qt::FramelessWindowHint) != frameless;
    if (flagChanges) setWindowFlag(Qt::FramelessWindowHint, frameless);  // hides the window
    setFixedSize(client);
    placeChildren();
    if (wasVisible) {
        if (flagChanges) show();
        // The frame's size is known only once the window manager has framed it again; the
        // client size and the old frame margins give it.
        const int marginW = frameless ? 0 : std::max(0, frameGeometry().width() - width());
        const int marginH = frameless ? 0 : std::max(0, frameGeometry().height() - height());
        const ScreenRect kept = keepCorner({oldFrame.x(), oldFrame.y(), oldFrame.width(), oldFrame.height()},
                                           client.width() + marginW, client.height() + marginH, corner);
        move(kept.x, kept.y);
    }
    update();
}

void PlayerWindow::notifyDisplay(uintptr_t code, intptr_t value) {
    if (display_->model().notify(code, value)) display_->update();
    if (code == notify::kState) {
        // Playing counts the seconds; a pause or a stop holds them.
        if (value == notify::kPlaying)
            clockTimer_.start();
        else
            clockTimer_.stop();
        if (value != loggedState_)
            logEvent("state", value == notify::kPlaying ? "playing" : value == notify::kPaused ? "paused" : "stopped");
        loggedState_ = value;
    }
}

void PlayerWindow::showFile(const std::string& path) {
    const QString text = QString::fromStdString(path);
    display_->setFile(text);
    display_->setToolTip(text.isEmpty() ? QStringLiteral("Status Display") : text);
    if (!path.empty()) logEvent("play", path);
}

void PlayerWindow::showPosition(int value) {
    // No knob while idle or while a decode to file runs.
    if (value < 0 || value > 100 || wrap_.decodingToFile()) value = SliderModel::kIdle;
    position_->setValue(value);
}

void PlayerWindow::showVolume(int level) {
    volume_->setValue(level);
}

void PlayerWindow::openVolumePanel() {
    if (volumePanel_) {
        volumePanel_->raise();
        volumePanel_->activateWindow();
        return;
    }
    auto* panel = new VolumePanel(
        settings_, [](int level) { deviceOutput().setVolume(level); },
        [this] { model_.volumePanelClosed(); }, this);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    volumePanel_ = panel;
    panel->popUpAt(QCursor::pos());
}

void PlayerWindow::showAbout() {
    AboutDialog about(webLink_, this);
    about.exec();
}

void PlayerWindow::runEncoder(const std::string& waveInput) {
    // What the encoder reaches of this window: its playback, which monitor playback stops,
    // and the library window, which receives the encoded file.
    class Links final : public EncoderPlayerLink, public EncoderLibraryLink {
      public:
        explicit Links(PlayerWindow& player) : player_(player) {}
        void stopPlaying() override { player_.model_.command(cmd::kStop); }
        bool stillPlaying() const override { return player_.wrap_.isRunning(); }
        bool exists() const override { return !player_.library_.isNull(); }
        void add(const std::string& path) override {
            if (player_.library_) player_.library_->addHandedFile(path);
        }

      private:
        PlayerWindow& player_;
    } links(*this);
    EncoderWindow encoder(model_.skin(), waveInput, settings_, dialogs_, help_, &links, &links, this);
    encoder.setWindowModality(Qt::ApplicationModal);
    encoder.show();
    QEventLoop loop;
    // The encoder runs until it is closed; this window waits, as a modal dialog's owner does.
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!encoder.isVisible()) loop.quit();
    });
    poll.start(50);
    loop.exec();
}

void PlayerWindow::openHelp() {
    help_.open(kHelpPlayer);
}

void PlayerWindow::minimize() {
    showMinimized();
}

void PlayerWindow::closeWindow() {
    close();
}

void PlayerWindow::after(int ms, std::function<void()> then) {
    QTimer::singleShot(ms, this, std::move(then));
}

// --- input ----------------------------------------------------------------------------------

void PlayerWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintSkinBackground(painter, model_.skin(), model_.extended());
}

void PlayerWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const SkinLayout& layout = skinLayout(model_.skin());
    if (!layout.handle.isEmpty() && layout.handle.contains(event->position().toPoint())) {
        model_.command(cmd::kToggleExtended);
        return;
    }
    if (!model_.captionShown() && windowHandle()) {
        windowHandle()->startSystemMove();
        return;
    }
    QWidget::mousePressEvent(event);
}

void PlayerWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        model_.command(cmd::kToggleCaption);
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

void PlayerWindow::contextMenuEvent(QContextMenuEvent* event) {
    if (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) return;
    QMenu menu(this);
    fillMenu(menu, model_.contextMenu());
    const QAction* chosen = menu.exec(event->globalPos());
    if (chosen && chosen->data().isValid()) model_.command(chosen->data().toInt());
}

void PlayerWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        model_.command(cmd::kClose);
        return;
    }
    if (event->key() == Qt::Key_F1) {
        openHelp();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PlayerWindow::dragEnterEvent(QDragEnterEvent* event) {
    const QMimeData* dropped = event->mimeData();
    if (dropped->hasUrls() && !dropped->urls().isEmpty() && dropped->urls().front().isLocalFile())
        event->acceptProposedAction();
}

void PlayerWindow::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths;
    // A file:// URL comes percent-encoded; the local path is the decoded one.
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    if (paths.empty()) return;
    event->acceptProposedAction();
    logEvent("drop", paths.front());
    model_.dropFiles(paths);
}

void PlayerWindow::bringToFront() {
    logEvent("activate");
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

// --- the library window ---------------------------------------------------------------------

LibraryWindow* PlayerWindow::library() const {
    return library_.data();
}

bool PlayerWindow::visible() const {
    if (const LibraryWindow* window = library_.data()) return window->isVisible();
    return false;
}

void PlayerWindow::open() {
    if (visible()) return;
    delete library_.data();  // a hidden old one goes first
    auto* window = new LibraryWindow(settings_, *this, dialogs_, webLink_, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    if (!window->isWindow()) window->setWindowFlags(window->windowFlags() | Qt::Window);
    window->setEnabled(isEnabled());
    library_ = window;
    window->show();
    logEvent("library");
}

void PlayerWindow::select(uint32_t itemNumber) {
    if (LibraryWindow* window = library_.data()) window->selectItemNumber(itemNumber);
}

void PlayerWindow::add(const std::string& path) {
    LibraryWindow* window = library_.data();
    if (window && window->isVisible()) window->addFromPlayer(path);
}

void PlayerWindow::clearItemNumber() {
    if (wrap_.isRunning()) notifyDisplay(notify::kItem, 0);
}

void PlayerWindow::changeEvent(QEvent* event) {
    // The library window is enabled and disabled with this one.
    if (event->type() == QEvent::EnabledChange)
        if (LibraryWindow* window = library_.data()) window->setEnabled(isEnabled());
    QWidget::changeEvent(event);
}

// --- decode to file ---------------------------------------------------------------------------

void PlayerWindow::writeDecodedFile() {
    if (wrap_.file().empty() || wrap_.isWaveFile() || progress_) return;
    model_.command(cmd::kStop);
    const QFileInfo input(QString::fromStdString(wrap_.file()));
    FileDialogRequest request;
    request.title = "Select Output File";
    request.filters = {{"Wave Files (*.wav)", "*.wav"}};
    request.defaultExtension = "wav";
    request.initialPath =
        QDir(input.absolutePath()).filePath(input.completeBaseName() + QStringLiteral(".wav")).toStdString();
    request.save = true;  // the save dialog asks before it replaces a file
    const std::optional<std::string> chosen = dialogs_.chooseFile(request);
    if (!chosen) return;
    const std::string output = withDefaultExtension(*chosen, request.defaultExtension);
    if (!wrap_.startDecodeToFile(output)) return;
    logEvent("decode", output);
    model_.runStarted();
    showPosition(SliderModel::kIdle);
    progress_ = new ProgressDialog(this, queue_, wrap_.file(), output, [this] { closeProgress(); });
    progress_->show();
}

void PlayerWindow::closeProgress() {
    // Called from inside the dialog's own handlers: it goes once they are done.
    if (progress_) progress_->deleteLater();
    progress_ = nullptr;
}

void PlayerWindow::closeEvent(QCloseEvent* event) {
    // The device closes before the program ends, so a file backend completes its header.
    wrap_.stop();
    delete progress_;
    progress_ = nullptr;
    if (volumePanel_) volumePanel_->close();
    if (!closing_) {
        closing_ = true;
        meterTimer_.stop();
        const QPoint origin = mapToGlobal(QPoint(0, 0));
        // Whether the library was open is saved before it closes and saves its tree.
        model_.save(origin.x(), origin.y());
        if (LibraryWindow* window = library_.data()) window->close();
        settings_.save();
        logEvent("close");
    }
    event->accept();
}

}  // namespace veloraplay

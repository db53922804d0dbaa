#include "PlayerWindow.h"

#include "CommandLine.h"
#include "EventLog.h"
#include "InstanceChannel.h"
#include "PlayerSettings.h"
#include "ProgressDialog.h"
#include "PositionSlider.h"
#include "ProgressDialogModel.h"
#include "WindowStyle.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace veloraplay {
namespace {

static_assert(kProgressStopCommand == kCommandStop, "the progress dialog stops with Stop");

constexpr int kTickMs = 250;
const char* const kMessageTitle = "veloraplay";

const char* stateName(intptr_t state) {
    switch (state) {
        case notify::kPlaying:
            return "playing";
        case notify::kPaused:
            return "paused";
        default:
            return "stopped";
    }
}

QString clockText(long long ms) {
    const long long seconds = ms / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QPushButton* button(const QString& text, const char* name) {
    auto* b = new QPushButton(text);
    b->setObjectName(QString::fromLatin1(name));
    b->setFocusPolicy(Qt::TabFocus);
    return b;
}

}  // namespace

PlayerWindow::PlayerWindow(SettingsStore& settings, HelpTopics& help,
                           const std::string& startCommandLine, MessageQueue& queue,
                           DialogService& dialogs)
    : settings_(settings), help_(help), queue_(queue), dialogs_(dialogs), wrap_(queue) {
    const auto table = playerSettings();
    for (std::size_t i = 0; i < table.size() && i < values_.size(); ++i)
        values_[i] = readSetting(settings_, table[i].id);

    setWindowTitle(QString::fromUtf8(kPlayerWindowTitle));
    setObjectName(QStringLiteral("body"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(windowStyleSheet());
    setFixedSize(540, 420);

    // The display: caption and stream kind, the file, then state, time and format.
    auto* display = new QFrame;
    display->setObjectName(QStringLiteral("display"));
    auto* caption = new QLabel(QStringLiteral("VELORA AUDIO PLAYER"));
    caption->setObjectName(QStringLiteral("displayCaption"));
    streamKind_ = new QLabel;
    streamKind_->setObjectName(QStringLiteral("streamKind"));
    streamKind_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* captionRow = new QHBoxLayout;
    captionRow->addWidget(caption, 1);
    captionRow->addWidget(streamKind_);
    title_ = new QLabel(QStringLiteral("Status Display"));
    title_->setObjectName(QStringLiteral("displayTitle"));
    detail_ = new QLabel(QStringLiteral("No file opened"));
    detail_->setObjectName(QStringLiteral("displayDetail"));
    stateLabel_ = new QLabel;
    stateLabel_->setObjectName(QStringLiteral("displayState"));
    elapsed_ = new QLabel(clockText(0));
    elapsed_->setObjectName(QStringLiteral("displayClock"));
    format_ = new QLabel;
    format_->setObjectName(QStringLiteral("displayDetail"));
    format_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(12);
    statusRow->addWidget(stateLabel_);
    statusRow->addWidget(elapsed_);
    statusRow->addWidget(format_, 1);
    auto* displayLayout = new QVBoxLayout(display);
    displayLayout->setContentsMargins(16, 12, 16, 12);
    displayLayout->setSpacing(4);
    displayLayout->addLayout(captionRow);
    displayLayout->addWidget(title_);
    displayLayout->addWidget(detail_);
    displayLayout->addSpacing(2);
    displayLayout->addLayout(statusRow);

    // The knob is grabbed and moved with the mouse; the seek goes out on release.
    position_ = new PositionSlider(false);
    position_->setObjectName(QStringLiteral("position"));
    position_->setToolTip(QStringLiteral("Playback Position in Current Song"));
    position_->setFixedHeight(18);
    position_->setMoved([this](int percent) {
        if (wrap_.isRunning() && !decoding_) wrap_.requestSeek(percent);
    });

    playButton_ = button(QStringLiteral("\u25B6  Play"), "play");
    pauseButton_ = button(QStringLiteral("\u2016  Pause"), "pause");
    stopButton_ = button(QStringLiteral("\u25A0  Stop"), "stop");
    writeButton_ = button(QStringLiteral("Write Decoded PCM File..."), "writeDecoded");
    connect(playButton_, &QPushButton::clicked, this, [this] { play(); });
    connect(pauseButton_, &QPushButton::clicked, this, [this] { togglePause(); });
    connect(stopButton_, &QPushButton::clicked, this, [this] { stop(); });
    connect(writeButton_, &QPushButton::clicked, this, [this] { command(kCommandWriteDecoded); });
    auto* transport = new QHBoxLayout;
    transport->setSpacing(6);
    transport->addWidget(playButton_);
    transport->addWidget(pauseButton_);
    transport->addWidget(stopButton_);
    transport->addStretch(1);
    transport->addWidget(writeButton_);

    auto* listLabel = new QLabel(QStringLiteral("Asked to play"));
    listLabel->setObjectName(QStringLiteral("sectionLabel"));
    list_ = new QListWidget;
    list_->setFocusPolicy(Qt::NoFocus);
    connect(list_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        playRequest(static_cast<std::size_t>(list_->row(item)));
    });

    note_ = new QLabel;
    note_->setObjectName(QStringLiteral("note"));
    auto* helpButton = new QPushButton(QStringLiteral("Help"));
    auto* quitButton = new QPushButton(QStringLiteral("Quit"));
    connect(helpButton, &QPushButton::clicked, this, [this] { help_.open(kHelpPlayer); });
    connect(quitButton, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(note_, 1);
    buttons->addWidget(helpButton);
    buttons->addWidget(quitButton);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 14);
    layout->setSpacing(8);
    layout->addWidget(display);
    layout->addWidget(position_);
    layout->addLayout(transport);
    layout->addSpacing(4);
    layout->addWidget(listLabel);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);

    tick_.setInterval(kTickMs);
    connect(&tick_, &QTimer::timeout, this, [this] { showElapsed(); });
    showState(notify::kStopped);
    updateButtons();

    // The stored client origin, unless it lies at or above-left of the screen's origin.
    const int left = values_[0];
    const int top = values_[1];
    if (left > 0 || top > 0) move(left, top);

    // The start command line arrives the way a later start's does.
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
    delete progress_;
}

void PlayerWindow::handle(const Message& message) {
    switch (message.code) {
        case msg::kActivate:
            bringToFront();
            break;
        case msg::kCopyData:
            openCommandLine(message.payload, message.wparam == 0);
            break;
        case msg::kClose:
            close();
            break;
        case msg::kCommand:
            command(message.wparam);
            break;
        case msg::kPlayerNotify:
            notify(message.wparam, message.lparam);
            break;
        case msg::kStreamKindNotify:
            streamKind_->setText(message.wparam == 1 ? QStringLiteral("Velora")
                                                     : QStringLiteral("plain"));
            break;
        case msg::kPositionMessage:
            showPosition(message.lparam);
            break;
        case msg::kShowMessage: {
            logEvent("message", message.payload);
            // Outside the drain: the box runs its own loop, and the messages behind this one
            // must not wait for it.
            const std::string text = message.payload;
            QTimer::singleShot(0, this, [this, text] {
                dialogs_.messageBox(
                    MessageBoxRequest{kMessageTitle, text, DialogButtons::Ok, DialogIcon::Warning});
            });
            break;
        }
        case msg::kProgressFrame:
        case msg::kProgressClose:
            if (progress_) progress_->handle(message);
            break;
        default:
            break;
    }
}

void PlayerWindow::command(uintptr_t id) {
    switch (id) {
        case kCommandStop:
            if (fromCurrentRun()) wrap_.stop();
            break;
        case kCommandNext:
            // The end of a decode to file plays nothing next; a stopped run's Next is stale.
            if (fromCurrentRun() && !decoding_ && current_ + 1 < requests_.size())
                playRequest(current_ + 1);
            break;
        case kCommandWriteDecoded:
            writeDecodedFile();
            break;
        default:
            break;
    }
}

void PlayerWindow::notify(uintptr_t code, intptr_t value) {
    switch (code) {
        case notify::kState:
            if (value == notify::kStopped) {
                ++runsEnded_;
                // A run that ended before its first progress (an input it could not open)
                // sends no close to the dialog.
                if (runsEnded_ == runsStarted_) {
                    if (progress_) {
                        Message close;
                        close.code = msg::kProgressClose;
                        progress_->handle(close);
                    }
                    decoding_ = false;
                }
            }
            showState(value);
            break;
        case notify::kElapsed:
            elapsedMs_ = static_cast<long long>(value) * 1000;
            clock_.restart();
            showElapsed();
            break;
        case notify::kChannels:
            channels_ = value;
            haveFormat_ = true;
            showFormat();
            break;
        case notify::kSampleRate:
            sampleRate_ = value;
            haveFormat_ = true;
            showFormat();
            break;
        case notify::kBitrate:
            bitrate_ = value;
            haveFormat_ = true;
            showFormat();
            break;
        default:
            break;
    }
}

void PlayerWindow::showState(intptr_t state) {
    // The clock keeps the time reached when it stops.
    if (state_ == notify::kPlaying && state != notify::kPlaying && clock_.isValid())
        elapsedMs_ += clock_.elapsed();
    if (state == notify::kPlaying) {
        clock_.restart();
        tick_.start();
    } else {
        clock_.invalidate();
        tick_.stop();
    }
    if (state != state_) logEvent("state", stateName(state));
    state_ = state;

    QString text;
    if (decoding_ && wrap_.isRunning())
        text = QStringLiteral("Decoding to file");
    else if (state == notify::kPlaying)
        text = QStringLiteral("Playing");
    else if (state == notify::kPaused)
        text = QStringLiteral("Paused");
    else
        text = QStringLiteral("Stopped");
    stateLabel_->setText(text.toUpper());
    note_->setText(haveFile_ ? text + QStringLiteral(" \u2014 ") +
                                   QFileInfo(QString::fromStdString(wrap_.file())).fileName()
                             : QStringLiteral("Open a file from the command line or a later start."));
    showElapsed();
    updateButtons();
}

void PlayerWindow::showElapsed() {
    long long ms = elapsedMs_;
    if (state_ == notify::kPlaying && clock_.isValid()) ms += clock_.elapsed();
    elapsed_->setText(clockText(ms));
}

void PlayerWindow::showFormat() {
    if (!haveFormat_) {
        format_->clear();
        return;
    }
    QStringList parts;
    if (sampleRate_ > 0) parts << QStringLiteral("%1 Hz").arg(sampleRate_);
    if (channels_ == 1)
        parts << QStringLiteral("mono");
    else if (channels_ == 2)
        parts << QStringLiteral("stereo");
    else if (channels_ > 2)
        parts << QStringLiteral("%1 channels").arg(channels_);
    if (bitrate_ == notify::kWaveBitrate)
        parts << QStringLiteral("WAVE");
    else if (bitrate_ > 0)
        parts << QStringLiteral("%1 kbit/s").arg(bitrate_);
    format_->setText(parts.join(QLatin1Char(' ')));
}

void PlayerWindow::showPosition(intptr_t percent) {
    // No knob while idle or decoding to a file; a knob the user holds stays where it is.
    if (percent == kPositionNone || percent < 0 || percent > 100 || decoding_) {
        position_->setValue(SliderModel::kIdle);
        return;
    }
    position_->setValue(static_cast<int>(percent));
}

void PlayerWindow::updateButtons() {
    const bool running = wrap_.isRunning();
    playButton_->setEnabled(haveFile_ && (!running || wrap_.isPaused()) && !decoding_);
    pauseButton_->setEnabled(running && !decoding_);
    stopButton_->setEnabled(running);
    writeButton_->setEnabled(haveFile_ && !waveFile_ && !decoding_);
}

void PlayerWindow::bringToFront() {
    logEvent("activate");
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

void PlayerWindow::openCommandLine(const std::string& text, bool handedOver) {
    const std::vector<std::string> words = splitArguments(text);
    if (words.empty()) return;
    const std::size_t first = requests_.size();
    for (const std::string& word : words) {
        logEvent(handedOver ? "handover" : "open", word);
        requests_.push_back(word);
        const QFileInfo info(QString::fromStdString(word));
        auto* item = new QListWidgetItem(
            QStringLiteral("%1   \u2014  %2")
                .arg(info.fileName(), handedOver ? QStringLiteral("handed over by a later start")
                                                 : QStringLiteral("from the command line")));
        item->setToolTip(QString::fromStdString(word));
        list_->addItem(item);
    }
    // The first of them plays; the others follow it.
    playRequest(first);
}

void PlayerWindow::playRequest(std::size_t index) {
    if (index >= requests_.size()) return;
    if (progress_) return;  // the window is disabled while a decode to file runs
    wrap_.stop();
    decoding_ = false;
    current_ = index;
    const std::string& file = requests_[index];
    wrap_.setFile(file);
    haveFile_ = true;
    waveFile_ = wrap_.isWaveFile();
    haveFormat_ = false;
    channels_ = sampleRate_ = bitrate_ = 0;
    showFormat();
    streamKind_->clear();
    elapsedMs_ = 0;
    for (int row = 0; row < list_->count(); ++row) {
        QListWidgetItem* item = list_->item(row);
        QString label = item->text();
        if (label.startsWith(QStringLiteral("\u25B6  "))) label.remove(0, 3);
        item->setText(row == static_cast<int>(index) ? QStringLiteral("\u25B6  ") + label : label);
    }
    list_->setCurrentRow(static_cast<int>(index));
    const QFileInfo info(QString::fromStdString(file));
    setElidedText(title_, info.fileName());
    setElidedText(detail_, info.absolutePath());
    logEvent("play", file);
    wrap_.start();
    started();
}

void PlayerWindow::started() {
    ++runsStarted_;
    showState(state_);
}

void PlayerWindow::play() {
    if (!haveFile_ || decoding_) return;
    if (wrap_.isRunning()) {
        if (wrap_.isPaused()) togglePause();
        return;
    }
    logEvent("play", wrap_.file());
    wrap_.start();
    started();
}

void PlayerWindow::togglePause() {
    if (decoding_) return;
    wrap_.togglePause();
    updateButtons();
}

void PlayerWindow::stop() {
    wrap_.stop();
    updateButtons();
}

void PlayerWindow::writeDecodedFile() {
    if (!haveFile_ || waveFile_ || decoding_ || progress_) return;
    wrap_.stop();
    updateButtons();
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
    decoding_ = true;
    progress_ = new ProgressDialog(this, queue_, wrap_.file(), output, [this] { closeProgress(); });
    progress_->show();
    started();
}

void PlayerWindow::closeProgress() {
    // Called from inside the dialog's own handlers: it goes once they are done.
    if (progress_) progress_->deleteLater();
    progress_ = nullptr;
    updateButtons();
}

void PlayerWindow::closeEvent(QCloseEvent* event) {
    // The device closes before the program ends, so a file backend completes its header.
    wrap_.stop();
    delete progress_;
    progress_ = nullptr;
    if (!closing_) {
        closing_ = true;
        const auto table = playerSettings();
        for (std::size_t i = 0; i < table.size() && i < values_.size(); ++i) {
            if (table[i].id == PlayerSetting::DefaultPlayerNot) {
                // The file type question may have changed it since the window was built.
                if (!settings_.contains(table[i].section, table[i].key))
                    writeSetting(settings_, table[i].id, values_[i]);
                continue;
            }
            writeSetting(settings_, table[i].id, values_[i]);
        }
        settings_.save();
        logEvent("close");
    }
    event->accept();
}

}  // namespace veloraplay

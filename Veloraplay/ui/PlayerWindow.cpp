#include "PlayerWindow.h"

#include "CommandLine.h"
#include "EventLog.h"
#include "InstanceChannel.h"
#include "PlayerSettings.h"
#include "WindowStyle.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace veloraplay {

PlayerWindow::PlayerWindow(SettingsStore& settings, HelpTopics& help,
                           const std::string& startCommandLine, MessageQueue& queue)
    : settings_(settings), help_(help) {
    const auto table = playerSettings();
    for (std::size_t i = 0; i < table.size() && i < values_.size(); ++i)
        values_[i] = readSetting(settings_, table[i].id);

    setWindowTitle(QString::fromUtf8(kPlayerWindowTitle));
    setObjectName(QStringLiteral("body"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(windowStyleSheet());
    setFixedSize(480, 330);

    auto* display = new QFrame;
    display->setObjectName(QStringLiteral("display"));
    auto* caption = new QLabel(QStringLiteral("VELORA AUDIO PLAYER"));
    caption->setObjectName(QStringLiteral("displayCaption"));
    title_ = new QLabel(QStringLiteral("Status Display"));
    title_->setObjectName(QStringLiteral("displayTitle"));
    detail_ = new QLabel(QStringLiteral("No file opened"));
    detail_->setObjectName(QStringLiteral("displayDetail"));
    auto* displayLayout = new QVBoxLayout(display);
    displayLayout->setContentsMargins(16, 12, 16, 12);
    displayLayout->setSpacing(4);
    displayLayout->addWidget(caption);
    displayLayout->addWidget(title_);
    displayLayout->addWidget(detail_);

    auto* listLabel = new QLabel(QStringLiteral("Asked to play"));
    listLabel->setObjectName(QStringLiteral("sectionLabel"));
    requests_ = new QListWidget;
    requests_->setFocusPolicy(Qt::NoFocus);

    auto* note = new QLabel(QStringLiteral("Playback is not available in this build."));
    note->setObjectName(QStringLiteral("note"));
    auto* helpButton = new QPushButton(QStringLiteral("Help"));
    auto* quitButton = new QPushButton(QStringLiteral("Quit"));
    connect(helpButton, &QPushButton::clicked, this, [this] { help_.open(kHelpPlayer); });
    connect(quitButton, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(note, 1);
    buttons->addWidget(helpButton);
    buttons->addWidget(quitButton);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 14);
    layout->setSpacing(8);
    layout->addWidget(display);
    layout->addSpacing(4);
    layout->addWidget(listLabel);
    layout->addWidget(requests_, 1);
    layout->addLayout(buttons);

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
        default:
            break;
    }
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
    for (const std::string& word : words) {
        logEvent(handedOver ? "handover" : "open", word);
        const QFileInfo info(QString::fromStdString(word));
        auto* item = new QListWidgetItem(
            QStringLiteral("\u25B6  %1   \u2014  %2")
                .arg(info.fileName(), handedOver ? QStringLiteral("handed over by a later start")
                                                 : QStringLiteral("from the command line")));
        item->setToolTip(QString::fromStdString(word));
        requests_->insertItem(0, item);
    }
    // Only the first item is played.
    const QFileInfo first(QString::fromStdString(words.front()));
    setElidedText(title_, first.fileName());
    setElidedText(detail_, first.absolutePath());
}

void PlayerWindow::closeEvent(QCloseEvent* event) {
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

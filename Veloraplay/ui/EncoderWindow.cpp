#include "EncoderWindow.h"

#include "EventLog.h"
#include "WindowStyle.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace veloraplay {

EncoderWindow::EncoderWindow(int skinType, const std::string& inputFile, HelpTopics& help)
    : help_(help) {
    setWindowTitle(QStringLiteral("Velora Encoder"));
    setObjectName(QStringLiteral("body"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(windowStyleSheet());
    setFixedSize(480, 250);

    const QString path = QString::fromStdString(inputFile);
    const QFileInfo info(path);

    auto* display = new QFrame;
    display->setObjectName(QStringLiteral("display"));
    auto* caption = new QLabel(QStringLiteral("VELORA ENCODER"));
    caption->setObjectName(QStringLiteral("displayCaption"));
    auto* title = new QLabel(path.isEmpty() ? QStringLiteral("No input file") : info.fileName());
    title->setObjectName(QStringLiteral("displayTitle"));
    auto* detail =
        new QLabel(path.isEmpty()  ? QStringLiteral("Choose a 16-bit PCM WAVE file")
                   : info.isFile() ? QStringLiteral("WAVE input, %1 bytes").arg(info.size())
                                   : QStringLiteral("The file does not exist"));
    detail->setObjectName(QStringLiteral("displayDetail"));
    auto* displayLayout = new QVBoxLayout(display);
    displayLayout->setContentsMargins(16, 12, 16, 12);
    displayLayout->setSpacing(4);
    displayLayout->addWidget(caption);
    displayLayout->addWidget(title);
    displayLayout->addWidget(detail);

    auto* inputLabel = new QLabel(QStringLiteral("Input file"));
    inputLabel->setObjectName(QStringLiteral("sectionLabel"));
    auto* input = new QLineEdit(path);
    input->setReadOnly(true);
    input->setToolTip(QStringLiteral("The PCM source file to be encoded"));

    auto* note = new QLabel(skinType == 0 ? QStringLiteral("Skin: Brushed Metal")
                                          : QStringLiteral("Skin: Oceanic"));
    note->setObjectName(QStringLiteral("note"));
    auto* helpButton = new QPushButton(QStringLiteral("Help"));
    auto* closeButton = new QPushButton(QStringLiteral("Close"));
    connect(helpButton, &QPushButton::clicked, this, [this] { help_.open(kHelpEncoder); });
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(note, 1);
    buttons->addWidget(helpButton);
    buttons->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 14);
    layout->setSpacing(8);
    layout->addWidget(display);
    layout->addSpacing(4);
    layout->addWidget(inputLabel);
    layout->addWidget(input);
    layout->addStretch(1);
    layout->addLayout(buttons);

    logEvent("encoder", inputFile);
}

void EncoderWindow::closeEvent(QCloseEvent* event) {
    logEvent("close");
    event->accept();
}

}  // namespace veloraplay

#include "ProgressDialog.h"

#include "EventLog.h"
#include "WindowStyle.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QWindow>

namespace veloraplay {
namespace {

QLabel* pathLabel(const std::string& path) {
    auto* label = new QLabel;
    label->setObjectName(QStringLiteral("displayDetail"));
    label->setMinimumWidth(300);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setText(QString::fromStdString(path));
    label->setToolTip(QString::fromStdString(path));
    return label;
}

}  // namespace

ProgressDialog::ProgressDialog(QWidget* owner, MessageQueue& playerQueue,
                               const std::string& source, const std::string& destination,
                               std::function<void()> closed)
    // No Qt parent: a disabled parent would disable its child windows too, this one included.
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      owner_(owner),
      playerQueue_(playerQueue),
      model_(source, destination, owner && owner->isEnabled()),
      closed_(std::move(closed)) {
    setModal(false);
    setWindowTitle(QString());
    setObjectName(QStringLiteral("body"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(windowStyleSheet());
    setMinimumWidth(480);

    frame_ = new QLabel;
    frame_->setObjectName(QStringLiteral("displayClock"));
    stream_ = new QLabel;
    stream_->setObjectName(QStringLiteral("streamKind"));
    stream_->setMinimumWidth(110);
    stream_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* top = new QHBoxLayout;
    top->addWidget(frame_, 1);
    top->addWidget(stream_);

    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);  // etched

    auto* inputCaption = new QLabel(QStringLiteral("Input:"));
    auto* outputCaption = new QLabel(QStringLiteral("Output:"));
    for (QLabel* caption : {inputCaption, outputCaption})
        caption->setObjectName(QStringLiteral("sectionLabel"));
    auto* paths = new QGridLayout;
    paths->setHorizontalSpacing(10);
    paths->addWidget(inputCaption, 0, 0);
    paths->addWidget(pathLabel(model_.source()), 0, 1);
    paths->addWidget(outputCaption, 1, 0);
    paths->addWidget(pathLabel(model_.destination()), 1, 1);
    paths->setColumnStretch(1, 1);

    auto* panel = new QFrame;
    panel->setObjectName(QStringLiteral("display"));
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(14, 10, 14, 10);
    panelLayout->addLayout(top);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(8);
    layout->addWidget(panel);
    layout->addWidget(line);
    layout->addLayout(paths);
    refresh();

    if (owner_) {
        owner_->setEnabled(false);
        // Kept above the player window by the window manager.
        winId();
        if (QWindow* w = windowHandle(); w && owner_->windowHandle())
            w->setTransientParent(owner_->windowHandle());
    }
    logEvent("progress", destination);
}

QString ProgressDialog::frameText() const {
    return QString::fromStdString(model_.frameText());
}

QString ProgressDialog::streamText() const {
    return QString::fromStdString(model_.streamLabel());
}

void ProgressDialog::refresh() {
    frame_->setText(frameText());
    stream_->setText(streamText());
}

void ProgressDialog::handle(const Message& message) {
    apply(model_.handle(message));
}

void ProgressDialog::apply(const ProgressReaction& reaction) {
    if (reaction.refresh) refresh();
    if (reaction.enableOwner && owner_) owner_->setEnabled(true);
    if (reaction.destroy) {
        hide();
        logEvent("progress closed", model_.cancelled() ? "cancelled" : "done");
        // The owner deletes the dialog; it may do so at once, so nothing follows this call.
        if (auto closed = std::move(closed_)) closed();
    }
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
    event->ignore();  // the owner takes it down
    apply(model_.cancel(playerQueue_));
}

void ProgressDialog::reject() {
    apply(model_.cancel(playerQueue_));
}

}  // namespace veloraplay

#include "JumpDialog.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tessura::ui {

namespace {

QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// The language's "%d" conversions filled in order.
QString withNumbers(QString format, std::initializer_list<int> numbers) {
    qsizetype from = 0;
    for (int n : numbers) {
        const qsizetype at = format.indexOf("%d", from);
        if (at < 0) break;
        const QString digits = QString::number(n);
        format.replace(at, 2, digits);
        from = at + digits.size();
    }
    return format;
}

}  // namespace

JumpDialog::JumpDialog(WindowPlayer& player, QWidget* parent)
    : QDialog(parent), player_(player), search_(std::make_unique<JumpSearch>(std::vector<PlaylistEntry>{})) {
    setWindowTitle(say("jump/title"));
    auto* label = new QLabel(say("jump/search"), this);
    line_ = new QLineEdit(this);
    line_->setPlaceholderText(say("jump/hint"));
    line_->setClearButtonEnabled(true);
    label->setBuddy(line_);
    line_->installEventFilter(this);
    list_ = new QListWidget(this);
    list_->setUniformItemSizes(true);
    list_->setAccessibleName(say("jump/results"));
    found_ = new QLabel(this);
    found_->setTextFormat(Qt::PlainText);

    auto* buttons = new QDialogButtonBox(this);
    play_ = buttons->addButton(say("jump/play"), QDialogButtonBox::AcceptRole);
    QPushButton* close = buttons->addButton(say("jump/close"), QDialogButtonBox::RejectRole);
    play_->setDefault(true);
    connect(play_, &QPushButton::clicked, this, [this] { playChosen(); });
    connect(close, &QPushButton::clicked, this, [this] { reject(); });

    connect(line_, &QLineEdit::textChanged, this, [this](const QString& text) {
        search_->setQuery(text.toStdString());
        refresh();
    });
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row != search_->highlighted()) search_->highlight(row);
    });
    connect(list_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        search_->highlight(list_->row(item));
        playChosen();
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(6);
    layout->addWidget(label);
    layout->addWidget(line_);
    layout->addWidget(list_, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(found_, 1);
    bottom->addWidget(buttons);
    layout->addLayout(bottom);
    setTabOrder(line_, list_);
    setTabOrder(list_, play_);
    setTabOrder(play_, close);
    resize(460, 380);
}

QString JumpDialog::say(const char* key) const { return fromUtf8(player_.text(key)); }

void JumpDialog::start() {
    Playlist& list = player_.target().playlist();
    search_ = std::make_unique<JumpSearch>(list.entries(), list.currentIndex());
    line_->blockSignals(true);
    line_->clear();
    line_->blockSignals(false);
    refresh();
    line_->setFocus();
}

void JumpDialog::refresh() {
    list_->blockSignals(true);
    list_->clear();
    const int count = static_cast<int>(search_->matches().size());
    for (int i = 0; i < count; ++i) list_->addItem(fromUtf8(search_->resultText(i)));
    list_->blockSignals(false);
    found_->setText(withNumbers(say("jump/found"), {count, search_->entryCount()}));
    play_->setEnabled(count > 0);
    showHighlight();
}

void JumpDialog::showHighlight() {
    const int at = search_->highlighted();
    list_->blockSignals(true);
    list_->setCurrentRow(at);
    list_->blockSignals(false);
    if (at >= 0) list_->scrollToItem(list_->item(at));
}

void JumpDialog::playChosen() {
    const int entry = search_->chosenEntry();
    if (entry < 0) return;
    Playlist& list = player_.target().playlist();
    // The playlist may have changed while the dialog was open: only an entry still there plays.
    if (entry >= list.size()) return;
    player_.target().playPosition(list.PositionOfEntry(entry));
    accept();
}

bool JumpDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == line_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const int page = std::max(1, list_->viewport()->height() / std::max(1, list_->sizeHintForRow(0)) - 1);
        switch (key->key()) {
            case Qt::Key_Up: search_->move(-1); break;
            case Qt::Key_Down: search_->move(1); break;
            case Qt::Key_PageUp: search_->move(-page); break;
            case Qt::Key_PageDown: search_->move(page); break;
            case Qt::Key_Return:
            case Qt::Key_Enter: playChosen(); return true;
            default: return QDialog::eventFilter(watched, event);
        }
        showHighlight();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace tessura::ui

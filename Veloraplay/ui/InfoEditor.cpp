#include "InfoEditor.h"

#include <algorithm>

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "Id3v1Tag.h"
#include "WindowStyle.h"

namespace veloraplay {
namespace {

QString editorStyleSheet() {
    return windowStyleSheet() + QStringLiteral(R"(
    QWidget#infoEditor { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #1b3950, stop:1 #10243a);
                         border-top: 1px solid #3d6b86; }
    QLabel { color: #cfe3f2; font-size: 9pt; }
    QLineEdit { padding: 2px 6px; selection-background-color: #2d5d80; }
    QLineEdit:read-only { color: #9db7cc; background: #132838; }
    QComboBox { background: #0f2233; color: #e4f0f8; border: 1px solid #335673; border-radius: 5px;
                padding: 2px 6px; }
    QComboBox:disabled { color: #7f98ab; background: #132838; border-color: #2b4a60; }
    QComboBox QAbstractItemView { background: #0f2233; color: #e4f0f8; border: 1px solid #335673;
                                  selection-background-color: #2d5d80; }
    QPushButton { padding: 3px 18px; }
  )");
}

QLineEdit* makeEdit(const char* name, int maxLength) {
    auto* edit = new QLineEdit;
    edit->setObjectName(QLatin1String(name));
    edit->setMaxLength(maxLength);
    return edit;
}

QLabel* makeLabel(const char* text, QWidget* buddy) {
    auto* label = new QLabel(QString::fromUtf8(text));
    label->setBuddy(buddy);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QString toQt(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

InfoEditor::InfoEditor(DialogService& dialogs, QWidget* parent)
    : QWidget(parent), model_(dialogs) {
    setObjectName(QStringLiteral("infoEditor"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(editorStyleSheet());

    // Longer texts are accepted and cut to the field width when written.
    title_ = makeEdit("title", 255);
    artist_ = makeEdit("artist", 255);
    album_ = makeEdit("album", 255);
    comment_ = makeEdit("comment", 255);
    year_ = makeEdit("year", 16);
    track_ = makeEdit("track", 8);
    year_->setFixedWidth(64);
    track_->setFixedWidth(48);
    genre_ = new QComboBox;
    genre_->setObjectName(QStringLiteral("genre"));
    for (const std::string& name : InfoEditorModel::sortedGenreNames()) genre_->addItem(toQt(name));
    genre_->setMaxVisibleItems(16);
    genre_->setMinimumWidth(150);
    updateButton_ = new QPushButton(QStringLiteral("Update"));
    updateButton_->setObjectName(QStringLiteral("update"));

    // Year and track, and genre and "Update", travel as pairs when the strip rearranges.
    numbers_ = new QWidget;
    auto* numbers = new QHBoxLayout(numbers_);
    numbers->setContentsMargins(0, 0, 0, 0);
    numbers->setSpacing(8);
    numbers->addWidget(year_);
    numbers->addSpacing(6);
    numbers->addWidget(makeLabel("Track:", track_));
    numbers->addWidget(track_);
    numbers->addStretch(1);
    genreRow_ = new QWidget;
    auto* genreRow = new QHBoxLayout(genreRow_);
    genreRow->setContentsMargins(0, 0, 0, 0);
    genreRow->setSpacing(8);
    genreRow->addWidget(genre_, 1);
    genreRow->addSpacing(8);
    genreRow->addWidget(updateButton_);

    grid_ = new QGridLayout(this);
    grid_->setContentsMargins(12, 8, 8, 8);  // "Update" 8 px from the right edge
    grid_->setHorizontalSpacing(8);
    grid_->setVerticalSpacing(6);
    grid_->addWidget(makeLabel("Full Title:", title_), 0, 0);
    grid_->addWidget(title_, 0, 1);
    grid_->addWidget(makeLabel("Artist:", artist_), 0, 2);
    grid_->addWidget(artist_, 0, 3);
    grid_->addWidget(makeLabel("Album:", album_), 1, 0);
    grid_->addWidget(album_, 1, 1);
    grid_->addWidget(makeLabel("Comment:", comment_), 1, 2);
    grid_->addWidget(comment_, 1, 3);
    yearLabel_ = makeLabel("Year:", year_);
    genreLabel_ = makeLabel("Genre:", genre_);
    grid_->setColumnStretch(1, 1);
    grid_->setColumnStretch(3, 1);
    arrange(true);

    const auto bind = [this](QLineEdit* edit, std::string InfoFields::*field) {
        connect(edit, &QLineEdit::textChanged, this, [this, field](const QString& text) {
            if (!loading_) model_.fields().*field = text.toStdString();
        });
    };
    bind(title_, &InfoFields::title);
    bind(artist_, &InfoFields::artist);
    bind(album_, &InfoFields::album);
    bind(comment_, &InfoFields::comment);
    bind(year_, &InfoFields::year);
    bind(track_, &InfoFields::track);
    // The entry's name leads back to the genre index; the row is only where sorting put it.
    connect(genre_, &QComboBox::currentIndexChanged, this, [this](int row) {
        if (loading_) return;
        model_.fields().genre =
            row < 0 ? -1 : velora::GenreIndexByName(genre_->itemText(row).toStdString());
    });
    connect(updateButton_, &QPushButton::clicked, this, &InfoEditor::writeTag);
    connect(track_, &QLineEdit::returnPressed, this, &InfoEditor::writeTag);

    refresh();
}

void InfoEditor::arrange(bool wide) {
    if (wide == wide_ && numbers_->parentWidget() == this) return;
    wide_ = wide;
    for (QWidget* w : {static_cast<QWidget*>(yearLabel_), numbers_, static_cast<QWidget*>(genreLabel_), genreRow_})
        grid_->removeWidget(w);
    if (wide) {
        // Year and track beside the genre: three rows.
        grid_->addWidget(yearLabel_, 2, 0);
        grid_->addWidget(numbers_, 2, 1);
        grid_->addWidget(genreLabel_, 2, 2);
        grid_->addWidget(genreRow_, 2, 3);
    } else {
        // Too narrow for that: the genre and "Update" get a row of their own.
        grid_->addWidget(yearLabel_, 2, 0);
        grid_->addWidget(numbers_, 2, 1, 1, 3);
        grid_->addWidget(genreLabel_, 3, 0);
        grid_->addWidget(genreRow_, 3, 1, 1, 3);
    }
}

int InfoEditor::arrangeFor(int width) {
    arrange(true);
    if (minimumSizeHint().width() > width) arrange(false);
    return sizeHint().height();
}

QSize InfoEditor::sizeHint() const {
    return {QWidget::sizeHint().width(), std::max(120, QWidget::sizeHint().height())};
}

void InfoEditor::showFile(const std::string& path) {
    model_.show(path);
    refresh();
}

void InfoEditor::setLocked(bool locked) {
    model_.setLocked(locked);
    refreshEnabled();
}

void InfoEditor::writeTag() {
    if (!model_.updateEnabled()) return;
    if (model_.update() == InfoEditorModel::UpdateResult::Written) refresh();
}

void InfoEditor::refresh() {
    loading_ = true;
    const InfoFields& f = model_.fields();
    title_->setText(toQt(f.title));
    artist_->setText(toQt(f.artist));
    album_->setText(toQt(f.album));
    comment_->setText(toQt(f.comment));
    year_->setText(toQt(f.year));
    track_->setText(toQt(f.track));
    const char* name = velora::GenreName(f.genre);
    genre_->setCurrentIndex(name ? genre_->findText(QString::fromUtf8(name), Qt::MatchFixedString)
                                 : -1);
    for (QLineEdit* edit : {title_, artist_, album_, comment_, year_, track_}) {
        edit->setCursorPosition(0);
    }
    loading_ = false;
    setToolTip(toQt(model_.path()));
    refreshEnabled();
}

void InfoEditor::refreshEnabled() {
    const bool editable = model_.editable();
    for (QLineEdit* edit : {title_, artist_, album_, comment_, year_, track_}) {
        edit->setReadOnly(!editable);
    }
    genre_->setEnabled(model_.genreEnabled());
    updateButton_->setEnabled(model_.updateEnabled());
}

}  // namespace veloraplay

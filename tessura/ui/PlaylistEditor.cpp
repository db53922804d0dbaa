#include "PlaylistEditor.h"

#include <QAbstractTableModel>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

namespace tessura::ui {

namespace {

QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// A colour mixed `share` of the way from `a` to `b`.
QColor mix(const QColor& a, const QColor& b, double share) {
    const auto part = [&](int x, int y) { return int(x + (y - x) * share); };
    return QColor(part(a.red(), b.red()), part(a.green(), b.green()), part(a.blue(), b.blue()));
}

// Whether two colours are far enough apart in lightness to read one on the other.
bool readable(const QColor& text, const QColor& back) { return std::abs(text.lightness() - back.lightness()) >= 90; }

}  // namespace

// The rows as the table shows them: number, text, length; the current entry in bold and its own
// colour, the editor's selection as the selection colour.
class EditorTableModel final : public QAbstractTableModel {
  public:
    EditorTableModel(PlaylistEditing& editing, WindowPlayer& player) : editing_(editing), player_(player) {}

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : editing_.rowCount(); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 3; }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) return {};
        const EditorRow row = editing_.row(index.row());
        switch (role) {
            case Qt::DisplayRole:
                if (index.column() == 0) return row.number;
                if (index.column() == 1) return fromUtf8(row.text);
                return fromUtf8(row.length);
            case Qt::TextAlignmentRole:
                return index.column() == 1 ? int(Qt::AlignLeft | Qt::AlignVCenter) : int(Qt::AlignRight | Qt::AlignVCenter);
            case Qt::FontRole: {
                if (!row.current) return {};
                QFont bold;
                bold.setBold(true);
                return bold;
            }
            case Qt::ForegroundRole:
                if (row.selected) return selectedText;
                if (row.current) return current;
                return {};
            case Qt::BackgroundRole:
                if (row.selected) return selection;
                return {};
            default: return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section > 2) return {};
        // Each heading stands over its column's text: the title on the left, the numbers right.
        if (role == Qt::TextAlignmentRole)
            return section == 1 ? int(Qt::AlignLeft | Qt::AlignVCenter) : int(Qt::AlignRight | Qt::AlignVCenter);
        if (role != Qt::DisplayRole) return {};
        static const char* const keys[] = {"playlist/column_number", "playlist/column_title", "playlist/column_length"};
        return fromUtf8(player_.text(keys[section]));
    }

    void reset() {
        beginResetModel();
        endResetModel();
    }
    void rowsChanged(int first, int last) { emit dataChanged(index(first, 0), index(last, 2)); }

    QColor current, selection, selectedText;

  private:
    PlaylistEditing& editing_;
    WindowPlayer& player_;
};

// The keyboard's row: a frame around the whole row while the list has the focus, instead of the
// style's focus mark on one cell.
class CursorRowDelegate final : public QStyledItemDelegate {
  public:
    CursorRowDelegate(PlaylistEditing& editing, QTableView& table)
        : QStyledItemDelegate(&table), editing_(editing), table_(table) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem plain(option);
        plain.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(painter, plain, index);
        if (index.row() != editing_.cursor() || !table_.hasFocus()) return;
        painter->save();
        painter->setPen(QPen(option.palette.color(QPalette::Text), 1, Qt::DotLine));
        const QRect r = option.rect.adjusted(0, 0, -1, -1);
        painter->drawLine(r.topLeft(), r.topRight());
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        if (index.column() == 0) painter->drawLine(r.topLeft(), r.bottomLeft());
        if (index.column() == index.model()->columnCount() - 1) painter->drawLine(r.topRight(), r.bottomRight());
        painter->restore();
    }

  private:
    PlaylistEditing& editing_;
    QTableView& table_;
};

PlaylistEditor::PlaylistEditor(WindowPlayer& player, std::function<void()> addFiles)
    : QWidget(nullptr, Qt::Window), player_(player),
      editing_(player.target().playlist(), [&player](int position) { player.target().playPosition(position); }),
      addFilesDialog_(std::move(addFiles)), model_(std::make_unique<EditorTableModel>(editing_, player)) {
    setWindowTitle(say("playlist/title"));
    setAcceptDrops(true);
    setAttribute(Qt::WA_QuitOnClose, false);  // closing the list is not quitting the player

    table_ = new QTableView(this);
    table_->setModel(model_.get());
    table_->setItemDelegate(new CursorRowDelegate(editing_, *table_));
    // The selection is the editor's own (PlaylistEditing); the table only draws it.
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setTabKeyNavigation(false);
    table_->setShowGrid(false);
    table_->setWordWrap(false);
    table_->setAlternatingRowColors(true);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    table_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setHighlightSections(false);
    table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table_->installEventFilter(this);
    table_->viewport()->installEventFilter(this);
    table_->setAccessibleName(say("playlist/title"));
    // An empty list says how to fill it.
    empty_ = new QLabel(say("playlist/empty"), table_->viewport());
    empty_->setAlignment(Qt::AlignCenter);
    empty_->setWordWrap(true);
    empty_->setAttribute(Qt::WA_TransparentForMouseEvents);

    const auto button = [this](const char* key, auto action) {
        auto* b = new QPushButton(say(key), this);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, action);
        return b;
    };
    QPushButton* add = button("playlist/add", [this] {
        if (addFilesDialog_) addFilesDialog_();
    });
    remove_ = button("playlist/remove", [this] { removeSelected(); });
    up_ = button("playlist/up", [this] { apply(editing_.moveSelected(-1)); });
    down_ = button("playlist/down", [this] { apply(editing_.moveSelected(1)); });
    auto* sort = new QPushButton(say("playlist/sort"), this);
    sort->setAutoDefault(false);
    auto* sortMenu = new QMenu(sort);
    connect(sortMenu->addAction(say("playlist/sorttitle")), &QAction::triggered, this,
            [this] { apply(editing_.sort(SortKey::Title)); });
    connect(sortMenu->addAction(say("playlist/sortfilename")), &QAction::triggered, this,
            [this] { apply(editing_.sort(SortKey::FileName)); });
    sortMenu->addSeparator();
    connect(sortMenu->addAction(say("playlist/reverse")), &QAction::triggered, this, [this] { apply(editing_.reverse()); });
    connect(sortMenu->addAction(say("playlist/shuffle")), &QAction::triggered, this, [this] { apply(editing_.shuffle()); });
    sort->setMenu(sortMenu);
    QPushButton* clear = button("playlist/clear", [this] { apply(editing_.clear()); });

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    for (QPushButton* b : {add, remove_, up_, down_, sort}) buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(clear);

    summary_ = new QLabel(this);
    summary_->setTextFormat(Qt::PlainText);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 6);
    layout->setSpacing(6);
    layout->addLayout(buttons);
    layout->addWidget(table_, 1);
    layout->addWidget(summary_);

    // The list first, then the buttons in the order they stand.
    setTabOrder(table_, add);
    setTabOrder(add, remove_);
    setTabOrder(remove_, up_);
    setTabOrder(up_, down_);
    setTabOrder(down_, sort);
    setTabOrder(sort, clear);
    table_->setFocus();

    setColours(SkinColours{});
    resize(520, 420);
    apply({true, -1, -1, true});
}

PlaylistEditor::~PlaylistEditor() {
    table_->setModel(nullptr);  // the model goes before the table
}

QString PlaylistEditor::say(const char* key) const { return fromUtf8(player_.text(key)); }

void PlaylistEditor::setColours(const SkinColours& colours) {
    // The skin's playlist colours on the skin's display background, as its own list page
    // shows them; the desktop's palette where a skin's pair would not read.
    QPalette palette = QWidget::palette();
    const QColor back = QColor::fromRgb(QRgb(colours.statusBarBgColor));
    const QColor text = QColor::fromRgb(QRgb(colours.playListColor1));
    const QColor current = QColor::fromRgb(QRgb(colours.playListColor2));
    if (readable(text, back) && readable(current, back)) {
        palette.setColor(QPalette::Base, back);
        palette.setColor(QPalette::AlternateBase, mix(back, text, 0.06));
        palette.setColor(QPalette::Text, text);
        model_->current = current;
        model_->selection = mix(back, text, 0.30);
        model_->selectedText = readable(text, model_->selection) ? text : back;
    } else {
        model_->current = palette.color(QPalette::Link);
        model_->selection = palette.color(QPalette::Highlight);
        model_->selectedText = palette.color(QPalette::HighlightedText);
    }
    table_->setPalette(palette);
    QPalette hint = palette;
    hint.setColor(QPalette::WindowText, mix(palette.color(QPalette::Base), palette.color(QPalette::Text), 0.6));
    empty_->setPalette(hint);
    model_->reset();
    showCursor();
}

void PlaylistEditor::apply(const EditorUpdate& update) {
    if (update.reset) model_->reset();
    else if (update.first >= 0) model_->rowsChanged(update.first, update.last);
    if (update.status || update.reset) refreshSummary();
    showCursor();
}

void PlaylistEditor::showCursor() {
    empty_->setVisible(editing_.rowCount() == 0);
    empty_->setGeometry(table_->viewport()->rect().adjusted(16, 16, -16, -16));
    const int cursor = editing_.cursor();
    const bool any = !editing_.selectedRows().empty();
    remove_->setEnabled(any);
    up_->setEnabled(any);
    down_->setEnabled(any);
    if (cursor < 0) return;
    const QModelIndex at = model_->index(cursor, 1);
    table_->selectionModel()->setCurrentIndex(at, QItemSelectionModel::NoUpdate);
    table_->scrollTo(at);
}

void PlaylistEditor::refreshSummary() {
    Playlist& list = player_.target().playlist();
    const QString count = say("playlist/count").replace("%d", QString::number(editing_.rowCount()));
    QString line = count;
    const int total = editing_.totalSeconds();
    if (total > 0) {
        const char* key = editing_.someLengthUnknown() ? "playlist/totalatleast" : "playlist/total";
        line += QString("  ·  ") + say(key).replace("%s", fromUtf8(EntryLengthText(total)));
    }
    const char* repeat[] = {"playlist/repeatoff", "playlist/repeatone", "playlist/repeatall"};
    line += QString("  ·  ") + say(list.shuffle() ? "main/shuffleon" : "main/shuffleoff");
    line += QString("  ·  ") + say(repeat[std::clamp(list.repeatMode(), 0, 2)]);
    summary_->setText(line);
}

void PlaylistEditor::notify(uint32_t code, intptr_t wparam, intptr_t lparam) {
    apply(editing_.notify(code, wparam, lparam));
}

void PlaylistEditor::followCurrent() { apply(editing_.followCurrent()); }

void PlaylistEditor::removeSelected() { apply(editing_.removeSelected()); }

void PlaylistEditor::addFiles(const std::vector<std::string>& files) {
    Playlist& list = player_.target().playlist();
    for (const std::string& file : files) list.AddItem(file);
    apply(editing_.notify(playlist_message::kEntriesChanged, -1, -1));
}

QRect PlaylistEditor::rowRect(int row) const {
    return table_->visualRect(model_->index(row, 1)).united(table_->visualRect(model_->index(row, 0)));
}

bool PlaylistEditor::tableKey(QKeyEvent* event) {
    const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier);
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    const int page = std::max(1, table_->viewport()->height() / std::max(1, table_->verticalHeader()->defaultSectionSize()) - 1);
    switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down: {
            const int step = event->key() == Qt::Key_Up ? -1 : 1;
            if (ctrl) apply(editing_.moveSelected(step));
            else {
                editing_.moveCursor(step, shift);
                apply({false, 0, std::max(0, editing_.rowCount() - 1), false});
            }
            return true;
        }
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End: {
            const int n = editing_.rowCount();
            const int step = event->key() == Qt::Key_PageUp ? -page : event->key() == Qt::Key_PageDown ? page
                             : event->key() == Qt::Key_Home ? -n : n;
            editing_.moveCursor(step, shift);
            apply({false, 0, std::max(0, n - 1), false});
            return true;
        }
        case Qt::Key_Delete:
            removeSelected();
            return true;
        case Qt::Key_Escape:
            close();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            editing_.playCursor();
            apply({false, 0, std::max(0, editing_.rowCount() - 1), false});
            return true;
        case Qt::Key_Space:
            if (editing_.cursor() >= 0) editing_.select(editing_.cursor(), ctrl ? SelectHow::Toggle : SelectHow::Only);
            apply({false, 0, std::max(0, editing_.rowCount() - 1), false});
            return true;
        case Qt::Key_A:
            if (!ctrl) return false;
            editing_.selectAll();
            apply({false, 0, std::max(0, editing_.rowCount() - 1), false});
            return true;
        default: return false;
    }
}

bool PlaylistEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table_ && event->type() == QEvent::KeyPress) {
        if (tableKey(static_cast<QKeyEvent*>(event))) return true;
    }
    if (watched == table_->viewport()) {
        switch (event->type()) {
            case QEvent::Resize: empty_->setGeometry(table_->viewport()->rect().adjusted(16, 16, -16, -16)); break;
            case QEvent::MouseButtonPress: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                if (mouse->button() != Qt::LeftButton) break;
                table_->setFocus();
                const int row = table_->rowAt(mouse->position().toPoint().y());
                if (row < 0) return true;
                const Qt::KeyboardModifiers mods = mouse->modifiers();
                editing_.select(row, mods.testFlag(Qt::ShiftModifier)     ? SelectHow::Range
                                     : mods.testFlag(Qt::ControlModifier) ? SelectHow::Toggle
                                                                          : SelectHow::Only);
                apply({false, 0, std::max(0, editing_.rowCount() - 1), false});
                return true;
            }
            case QEvent::MouseButtonDblClick: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                const int row = table_->rowAt(mouse->position().toPoint().y());
                if (mouse->button() == Qt::LeftButton && row >= 0) {
                    editing_.play(row);
                    apply({false, 0, std::max(0, editing_.rowCount() - 1), false});
                }
                return true;
            }
            case QEvent::DragEnter: dragEnterEvent(static_cast<QDragEnterEvent*>(event)); return true;
            case QEvent::DragMove: static_cast<QDragMoveEvent*>(event)->acceptProposedAction(); return true;
            case QEvent::Drop: dropEvent(static_cast<QDropEvent*>(event)); return true;
            default: break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void PlaylistEditor::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
    else event->ignore();
}

void PlaylistEditor::dropEvent(QDropEvent* event) {
    std::vector<std::string> files;
    for (const QUrl& url : event->mimeData()->urls())
        files.push_back((url.isLocalFile() ? url.toLocalFile() : url.toString()).toStdString());
    if (files.empty()) return;
    event->acceptProposedAction();
    addFiles(files);
}

}  // namespace tessura::ui

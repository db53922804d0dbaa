#include "LibraryWindow.h"

#include "MenuFill.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>
#include <set>

#include "HelpTopics.h"
#include "InfoEditor.h"
#include "WindowStyle.h"

namespace veloraplay {

namespace {

constexpr int kIdRole = Qt::UserRole + 1;
const char* const kNodeMime = "application/x-veloraplay-library-node";
const char* const kTitle = "Audio File Library";

// Images 0-3: closed folder, open folder, file, WAVE file.
QIcon treeImage(int image) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    if (image <= 1) {
        p.setPen(QPen(QColor("#9a7420"), 1.5));
        p.setBrush(QColor("#d9a93a"));
        QPainterPath tab;
        tab.moveTo(3, 8);
        tab.lineTo(12, 8);
        tab.lineTo(15, 11);
        tab.lineTo(29, 11);
        tab.lineTo(29, 26);
        tab.lineTo(3, 26);
        tab.closeSubpath();
        p.drawPath(tab);
        if (image == 1) {
            p.setBrush(QColor("#f3cf6b"));
            QPainterPath front;
            front.moveTo(6, 15);
            front.lineTo(31, 15);
            front.lineTo(27, 26);
            front.lineTo(3, 26);
            front.closeSubpath();
            p.drawPath(front);
        } else {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor("#f0c451"));
            p.drawRect(QRectF(4.5, 14, 23.5, 11));
        }
    } else {
        p.setPen(QPen(QColor("#6d8aa3"), 1.5));
        p.setBrush(QColor("#e8f1f8"));
        QPainterPath page;
        page.moveTo(7, 3);
        page.lineTo(20, 3);
        page.lineTo(26, 9);
        page.lineTo(26, 29);
        page.lineTo(7, 29);
        page.closeSubpath();
        p.drawPath(page);
        p.drawLine(QPointF(20, 3), QPointF(20, 9));
        p.drawLine(QPointF(20, 9), QPointF(26, 9));
        if (image == 2) {
            // A note.
            p.setPen(QPen(QColor("#2b5473"), 2));
            p.drawLine(QPointF(19, 12), QPointF(19, 23));
            p.drawLine(QPointF(19, 12), QPointF(23, 14));
            p.setPen(Qt::NoPen);
            p.setBrush(QColor("#2b5473"));
            p.drawEllipse(QPointF(16, 23.5), 3.2, 2.5);
        } else {
            // A waveform.
            p.setPen(QPen(QColor("#2f8f66"), 1.8));
            const int h[] = {2, 5, 8, 4, 7, 3};
            for (int i = 0; i < 6; ++i) {
                const qreal x = 10 + i * 2.8;
                p.drawLine(QPointF(x, 19 - h[i]), QPointF(x, 19 + h[i]));
            }
        }
    }
    return QIcon(pm);
}

std::vector<std::string> localFiles(const QMimeData* mime) {
    std::vector<std::string> paths;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());  // decoded
    return paths;
}

}  // namespace

// The tree: its own drags (a node id), files from a file manager, keys and the menu.
class LibraryTree final : public QTreeWidget {
  public:
    explicit LibraryTree(LibraryWindow& window) : QTreeWidget(&window), window_(window) {
        setHeaderHidden(true);
        setColumnCount(1);
        setAcceptDrops(true);
        viewport()->setAcceptDrops(true);
        setDragEnabled(false);  // drags are started here, with the node's id
        setIconSize(QSize(18, 18));
        setContextMenuPolicy(Qt::DefaultContextMenu);
        setExpandsOnDoubleClick(true);
        setUniformRowHeights(true);
    }

  protected:
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) pressAt_ = e->position().toPoint();
        QTreeWidget::mousePressEvent(e);
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if ((e->buttons() & Qt::LeftButton) && pressAt_ &&
            (e->position().toPoint() - *pressAt_).manhattanLength() >= QApplication::startDragDistance()) {
            QTreeWidgetItem* it = itemAt(*pressAt_);
            pressAt_.reset();
            if (!it) return;
            auto* mime = new QMimeData;
            mime->setData(kNodeMime, QByteArray::number(it->data(0, kIdRole).toULongLong()));
            auto* drag = new QDrag(this);
            drag->setMimeData(mime);
            // The item's drag image: its icon and text.
            const QRect r = visualItemRect(it);
            drag->setPixmap(viewport()->grab(r));
            drag->setHotSpot(QPoint(8, r.height() / 2));
            drag->exec(Qt::MoveAction);
            return;
        }
        QTreeWidget::mouseMoveEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        pressAt_.reset();
        QTreeWidget::mouseReleaseEvent(e);
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        QTreeWidgetItem* it = itemAt(e->position().toPoint());
        if (it && it->parent() == nullptr && it->childCount() == 0 &&
            window_.model().find(it->data(0, kIdRole).toULongLong()) &&
            !window_.model().find(it->data(0, kIdRole).toULongLong())->folder) {
            window_.activate(it->data(0, kIdRole).toULongLong());
            return;
        }
        if (it && it->parent()) {
            window_.activate(it->data(0, kIdRole).toULongLong());
            return;
        }
        QTreeWidget::mouseDoubleClickEvent(e);
    }
    void dragEnterEvent(QDragEnterEvent* e) override {
        if (e->mimeData()->hasFormat(kNodeMime) || e->mimeData()->hasUrls()) e->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* e) override { e->acceptProposedAction(); }
    void dropEvent(QDropEvent* e) override {
        QTreeWidgetItem* it = itemAt(e->position().toPoint());
        const NodeId target = it ? it->data(0, kIdRole).toULongLong() : kNoNode;
        if (e->mimeData()->hasFormat(kNodeMime)) {
            const NodeId dragged = e->mimeData()->data(kNodeMime).toULongLong();
            const bool ctrl = e->modifiers() & Qt::ControlModifier;
            if (window_.model().drop(dragged, target, ctrl) == DropResult::Beep) QApplication::beep();
            e->setDropAction(Qt::MoveAction);
            e->accept();
            window_.refresh();
            window_.selectNode(dragged);
            return;
        }
        const auto paths = localFiles(e->mimeData());
        if (!paths.empty()) {
            window_.addFiles(paths, target != kNoNode ? target : window_.selectedNode());
            e->acceptProposedAction();
        }
    }
    void contextMenuEvent(QContextMenuEvent* e) override {
        if (e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) return;
        if (QTreeWidgetItem* it = itemAt(viewport()->mapFromGlobal(e->globalPos()))) setCurrentItem(it);
        window_.showContextMenu(e->globalPos());
    }
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Delete) {
            window_.command(libcmd::kDelete);
            return;
        }
        if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
            window_.activate(window_.selectedNode());
            return;
        }
        QTreeWidget::keyPressEvent(e);
    }

  private:
    LibraryWindow& window_;
    std::optional<QPoint> pressAt_;
};

LibraryWindow::LibraryWindow(SettingsStore& settings, LibraryHost& host, DialogService& dialogs,
                             WebLink& web, QWidget* parent)
    : QWidget(parent, Qt::Window), settings_(settings), host_(host), dialogs_(dialogs), web_(web) {
    setObjectName("body");
    setAttribute(Qt::WA_StyledBackground, true);
    setWindowTitle(kTitle);
    setStyleSheet(windowStyleSheet() + QStringLiteral(R"(
        QTreeWidget { background: #0f2233; color: #e4f0f8; border: 1px solid #335673; border-radius: 6px;
                      padding: 4px; font-size: 9pt; outline: 0; }
        QTreeWidget::item { padding: 2px 2px; }
        QTreeWidget::item:hover { background: #1b3850; }
        QTreeWidget::item:selected { background: #2d5d80; }
        QLabel#libraryTitle { color: #cfe3f2; font-weight: bold; font-size: 11pt; letter-spacing: 1px; }
    )"));
    setMinimumSize(360, 320);

    auto* title = new QLabel(QStringLiteral("AUDIO FILE LIBRARY"), this);
    title->setObjectName("libraryTitle");
    title->setGeometry(24, 4, 220, 18);
    add_ = new QPushButton(QStringLiteral("Add..."), this);
    encoder_ = new QPushButton(QStringLiteral("Encoder"), this);
    website_ = new QPushButton(QStringLiteral("Website"), this);
    add_->setToolTip(QStringLiteral("Add to Library"));
    encoder_->setToolTip(QStringLiteral("Velora Encoder"));
    website_->setToolTip(QString::fromUtf8(kLibraryWebsite));
    connect(add_, &QPushButton::clicked, this, [this] { command(libcmd::kAdd); });
    connect(encoder_, &QPushButton::clicked, this, [this] { command(libcmd::kEncoder); });
    connect(website_, &QPushButton::clicked, this, [this] { web_.open(kLibraryWebsite); });

    tree_ = new LibraryTree(*this);
    connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { selectionChanged(); });
    // Only folders open and close; the view also reports leaves opened by "expand all".
    const auto folderImage = [this](QTreeWidgetItem* it, int image) {
        const LibraryNode* n = model_.find(it->data(0, kIdRole).toULongLong());
        if (n && n->folder) it->setIcon(0, treeImage(image));
    };
    connect(tree_, &QTreeWidget::itemExpanded, this, [folderImage](QTreeWidgetItem* it) { folderImage(it, 1); });
    connect(tree_, &QTreeWidget::itemCollapsed, this, [folderImage](QTreeWidgetItem* it) { folderImage(it, 0); });

    editor_ = new InfoEditor(dialogs_, this);

    model_.load(settings_);
    const LibraryWindowState state = readLibraryWindowState(settings_);
    editor_->setLocked(state.locked);
    resize(460, 520);
    if (state.hasRect) {
        move(state.left, state.top);
        resize(std::max(360, state.right - state.left), std::max(320, state.bottom - state.top));
    } else if (parent) {
        const QRect player = parent->window()->frameGeometry();
        const QRect area = parent->screen()->availableGeometry();
        const ScreenRect at = libraryBesidePlayer({player.x(), player.y(), player.width(), player.height()}, width(),
                                                  height(), {area.x(), area.y(), area.width(), area.height()});
        move(at.x, at.y);
    }
    refresh();
    if (tree_->topLevelItemCount() > 0) tree_->setCurrentItem(tree_->topLevelItem(0));
}

LibraryWindow::~LibraryWindow() { save(); }

QTreeWidget* LibraryWindow::tree() { return tree_; }

void LibraryWindow::save() {
    if (saved_) return;
    saved_ = true;
    model_.save(settings_);
    LibraryWindowState state;
    state.locked = editor_->locked();
    if (!isMaximized() && !isMinimized()) {
        const QRect r = geometry();
        state.hasRect = true;
        state.left = r.left();
        state.top = r.top();
        state.right = r.left() + r.width();
        state.bottom = r.top() + r.height();
    }
    writeLibraryWindowState(settings_, state);
    settings_.save();
}

void LibraryWindow::closeEvent(QCloseEvent* event) {
    save();
    QWidget::closeEvent(event);
}

void LibraryWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int w = width(), h = height();
    const int bh = 28;
    add_->setGeometry(24, 25, 84, bh);
    encoder_->setGeometry(116, 25, 90, bh);
    website_->setGeometry(w - 6 - 90, 25, 90, bh);
    const int editorHeight = std::min(editor_->arrangeFor(w), h - 60 - 80);
    editor_->setGeometry(0, h - editorHeight, w, editorHeight);
    tree_->setGeometry(24, 60, w - 8 - 24, h - editorHeight - 60 - 6);
}

void LibraryWindow::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape never close the window.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;
    if (event->key() == Qt::Key_F1) {
        host_.openHelp(kHelpLibrary);
        return;
    }
    QWidget::keyPressEvent(event);
}

void LibraryWindow::refresh() {
    std::set<NodeId> expanded;
    for (int i = 0; i < tree_->topLevelItemCount(); ++i)
        if (tree_->topLevelItem(i)->isExpanded()) expanded.insert(tree_->topLevelItem(i)->data(0, kIdRole).toULongLong());
    const NodeId selected = selectedNode();
    const QColor base = tree_->palette().color(QPalette::Base);
    // The stylesheet's background is what the text is drawn on.
    const Rgb bg{15, 34, 51};
    (void)base;
    const Rgb hi = highlightColour(bg);
    const QColor highlight(hi.r, hi.g, hi.b);
    const QSignalBlocker block(tree_);
    tree_->clear();
    auto makeItem = [&](const LibraryNode& n) {
        auto* it = new QTreeWidgetItem;
        it->setText(0, QString::fromStdString(n.text));
        it->setToolTip(0, QString::fromStdString(n.text));
        it->setData(0, kIdRole, QVariant::fromValue<qulonglong>(n.id));
        it->setIcon(0, treeImage(n.folder ? 0 : (n.wave ? 3 : 2)));
        if (model_.isPlaying(n.id)) {
            it->setForeground(0, highlight);
            QFont f = it->font(0);
            f.setBold(true);
            it->setFont(0, f);
        }
        return it;
    };
    for (const LibraryNode& root : model_.roots()) {
        QTreeWidgetItem* top = makeItem(root);
        for (const LibraryNode& child : root.children) top->addChild(makeItem(child));
        tree_->addTopLevelItem(top);
        if (root.folder && (expanded.count(root.id) || root.id == model_.playingFolder())) {
            top->setExpanded(true);
            top->setIcon(0, treeImage(1));
        }
    }
    selectNode(selected);
}

NodeId LibraryWindow::selectedNode() const {
    const QTreeWidgetItem* it = tree_->currentItem();
    return it ? it->data(0, kIdRole).toULongLong() : kNoNode;
}

void LibraryWindow::selectNode(NodeId id) {
    for (QTreeWidgetItemIterator it(tree_); *it; ++it) {
        if ((*it)->data(0, kIdRole).toULongLong() == id) {
            if ((*it)->parent()) {
                (*it)->parent()->setExpanded(true);
                (*it)->parent()->setIcon(0, treeImage(1));
            }
            tree_->setCurrentItem(*it);
            tree_->scrollToItem(*it);
            return;
        }
    }
}

void LibraryWindow::selectionChanged() {
    const LibraryNode* n = model_.find(selectedNode());
    editor_->showFile(n && !n->folder ? n->text : std::string());
    encoder_->setToolTip(n && n->wave ? QStringLiteral("Convert to Velora") : QStringLiteral("Velora Encoder"));
}

void LibraryWindow::addFiles(const std::vector<std::string>& paths, NodeId at) {
    const auto added = model_.addFiles(paths, at);
    refresh();
    for (NodeId id : added) selectNode(id);
}

void LibraryWindow::selectItemNumber(uint32_t itemNumber) {
    const NodeId id = model_.markItemNumber(itemNumber);
    refresh();
    if (id != kNoNode) selectNode(id);
}

void LibraryWindow::addFromPlayer(const std::string& path) {
    const NodeId id = model_.addFromPlayer(path);
    refresh();
    if (id != kNoNode) selectNode(id);
}

void LibraryWindow::addHandedFile(const std::string& path) {
    const NodeId id = model_.addHandedFile(path, selectedNode());
    refresh();
    if (id != kNoNode) selectNode(id);
}

void LibraryWindow::showContextMenu(const QPoint& globalPos) {
    QMenu menu(this);
    fillMenu(menu, model_.contextMenu(selectedNode(), editor_->locked()));
    const QAction* chosen = menu.exec(globalPos);
    if (chosen && chosen->data().isValid()) command(chosen->data().toInt());
}

void LibraryWindow::activate(NodeId id) {
    const LibraryNode* n = model_.find(id);
    if (!n) return;
    if (n->folder) {
        renameFolder(id);
    } else if (n->wave) {
        command(libcmd::kEncoder);
    } else {
        command(libcmd::kPlayNow);
    }
}

void LibraryWindow::renameFolder(NodeId id) {
    const LibraryNode* n = model_.find(id);
    if (!n || !n->folder) return;
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Rename Folder"));
    dialog.setStyleSheet(styleSheet());
    dialog.setObjectName("body");
    auto* layout = new QVBoxLayout(&dialog);
    auto* edit = new QLineEdit(QString::fromStdString(n->text), &dialog);
    edit->selectAll();
    layout->addWidget(edit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(320, dialog.sizeHint().height());
    if (dialog.exec() != QDialog::Accepted) return;
    model_.rename(id, edit->text().toStdString());
    refresh();
}

void LibraryWindow::saveFolderAs(NodeId id, bool html) {
    const LibraryNode* n = model_.find(id);
    if (!n || !n->folder) return;
    FileDialogRequest request;
    request.save = true;
    request.title = html ? "Save As HTML File" : "Save As Playlist File";
    request.filters = {html ? FileFilter{"Web Files (*.htm)", "*.htm"} : FileFilter{"Playlist Files (*.m3u)", "*.m3u"}};
    request.defaultExtension = html ? "htm" : "m3u";
    const auto chosen = dialogs_.chooseFile(request);
    if (!chosen) return;
    const std::string path = withDefaultExtension(*chosen, request.defaultExtension);
    const bool ok = html ? model_.saveHtml(id, path) : model_.savePlaylist(id, path);
    if (!ok) dialogs_.messageBox({kTitle, "Could not write " + path + ".", DialogButtons::Ok, DialogIcon::Error});
}

void LibraryWindow::command(int id) {
    if (const int passed = playerCommandFor(id)) {
        host_.playerCommand(passed);
        return;
    }
    const NodeId sel = selectedNode();
    switch (id) {
        case libcmd::kPlayAll:
        case libcmd::kPlayShuffled:
            if (model_.playFolder(sel, id == libcmd::kPlayShuffled, host_)) refresh();
            break;
        case libcmd::kPlayNow:
            if (model_.playNow(sel, host_)) refresh();
            break;
        case libcmd::kEncoder:
            host_.runEncoder(model_.isWaveFile(sel) ? model_.find(sel)->text : std::string());
            break;
        case libcmd::kDelete:
            if (model_.remove(sel)) refresh();
            break;
        case libcmd::kCreateFolder: {
            const NodeId folder = model_.createFolder();
            refresh();
            selectNode(folder);
            break;
        }
        case libcmd::kAdd: {
            FileDialogRequest request;
            request.title = "Add to Library";
            request.filters = {{"Audio Files (*.mp3 *.wav *.m3u)", "*.mp3 *.wav *.m3u"}, {"All Files (*)", "*"}};
            request.mustExist = true;
            if (const auto chosen = dialogs_.chooseFile(request)) addFiles({*chosen}, sel);
            break;
        }
        case libcmd::kLock:
            editor_->setLocked(!editor_->locked());
            break;
        case libcmd::kRename: renameFolder(sel); break;
        case libcmd::kSavePlaylist: saveFolderAs(sel, false); break;
        case libcmd::kSaveHtml: saveFolderAs(sel, true); break;
        case libcmd::kSort:
            if (model_.sortFolder(sel)) refresh();
            break;
        case libcmd::kHelp: host_.openHelp(kHelpLibrary); break;
        default: break;
    }
}

}  // namespace veloraplay

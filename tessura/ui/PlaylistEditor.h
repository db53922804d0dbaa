#pragma once
// The playlist editor: a window of its own with the list, its editing buttons and a summary
// line. What it shows and does is PlaylistEditing's; this is the Qt side of it.
#include "PlaylistEditing.h"
#include "PlayerActions.h"
#include "SkinDescription.h"

#include <QWidget>
#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QTableView;

namespace tessura::ui {

class EditorTableModel;

class PlaylistEditor final : public QWidget {
  public:
    // `addFiles`: the add-files dialog (the main window's).
    PlaylistEditor(WindowPlayer& player, std::function<void()> addFiles);
    ~PlaylistEditor() override;

    // The skin's playlist colours for the list.
    void setColours(const SkinColours& colours);
    // A playlist message (0x8204, 0x8205, 0x8206) or a new track's start.
    void notify(uint32_t code, intptr_t wparam, intptr_t lparam);
    void followCurrent();
    void removeSelected();
    // Files dropped or given: added to the end of the list.
    void addFiles(const std::vector<std::string>& files);

    PlaylistEditing& editing() { return editing_; }
    QTableView* table() const { return table_; }
    // A row's rectangle in the table's viewport (for tests and for scrolling to it).
    QRect rowRect(int row) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void apply(const EditorUpdate& update);
    void showCursor();
    void refreshSummary();
    bool tableKey(QKeyEvent* event);
    QString say(const char* key) const;  // the language's text

    WindowPlayer& player_;
    PlaylistEditing editing_;
    std::function<void()> addFilesDialog_;
    std::unique_ptr<EditorTableModel> model_;
    QTableView* table_ = nullptr;
    QLabel* summary_ = nullptr;
    QLabel* empty_ = nullptr;
    QPushButton* remove_ = nullptr;
    QPushButton* up_ = nullptr;
    QPushButton* down_ = nullptr;
};

}  // namespace tessura::ui

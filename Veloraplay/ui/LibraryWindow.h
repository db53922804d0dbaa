#pragma once
// The audio file library window: the library's tree, its menu, keys and drag and drop, the
// "Add...", "Encoder" and "Website" buttons and the tag editor strip along the bottom. What it
// does is LibraryModel's; this class shows the tree and forwards input.
#include <QTreeWidget>
#include <QWidget>
#include <cstdint>
#include <string>

#include "DialogService.h"
#include "LibraryHost.h"
#include "LibraryModel.h"
#include "SettingsStore.h"
#include "WebLink.h"

class QPushButton;

namespace veloraplay {

class InfoEditor;
class LibraryTree;

class LibraryWindow final : public QWidget {
  public:
    LibraryWindow(SettingsStore& settings, LibraryHost& host, DialogService& dialogs, WebLink& web,
                  QWidget* parent = nullptr);
    ~LibraryWindow() override;  // saves, unless closing already did

    void selectItemNumber(uint32_t itemNumber);   // 1-based in the folder being played; 0 none
    void addFromPlayer(const std::string& path);  // top level unless there; marked playing
    void addHandedFile(const std::string& path);  // into the current folder, selected

    // A menu, button or key command (libcmd:: ids and the passed-on player ids).
    void command(int id);
    // Files given by "Add...", a file manager's drop or a test, as the selection takes them.
    void addFiles(const std::vector<std::string>& paths, NodeId at);

    LibraryModel& model() { return model_; }
    QTreeWidget* tree();
    InfoEditor* infoEditor() { return editor_; }
    NodeId selectedNode() const;
    void selectNode(NodeId id);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    friend class LibraryTree;
    void refresh();
    void save();
    void showContextMenu(const QPoint& globalPos);
    void activate(NodeId id);  // Enter and double click
    void renameFolder(NodeId id);
    void saveFolderAs(NodeId id, bool html);
    void selectionChanged();

    SettingsStore& settings_;
    LibraryHost& host_;
    DialogService& dialogs_;
    WebLink& web_;
    LibraryModel model_;
    LibraryTree* tree_ = nullptr;
    InfoEditor* editor_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* encoder_ = nullptr;
    QPushButton* website_ = nullptr;
    bool saved_ = false;
};

}  // namespace veloraplay

#pragma once
// The jump dialog: a search line over the playlist and the entries it finds; Enter plays the
// highlighted one, Esc closes. The search itself is JumpSearch's.
#include "JumpSearch.h"
#include "PlayerActions.h"

#include <QDialog>
#include <memory>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tessura::ui {

class JumpDialog final : public QDialog {
  public:
    JumpDialog(WindowPlayer& player, QWidget* parent = nullptr);

    // Opens on the playlist as it is now, the search line empty and focused.
    void start();
    QLineEdit* searchLine() const { return line_; }
    QListWidget* results() const { return list_; }
    const JumpSearch& search() const { return *search_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void refresh();
    void showHighlight();
    void playChosen();
    QString say(const char* key) const;

    WindowPlayer& player_;
    std::unique_ptr<JumpSearch> search_;
    QLineEdit* line_ = nullptr;
    QListWidget* list_ = nullptr;
    QLabel* found_ = nullptr;
    QPushButton* play_ = nullptr;
};

}  // namespace tessura::ui

#pragma once
// The tag editor strip along the bottom of the library window: the selected file's title,
// artist, album, comment, year, track and genre, and "Update" to write them into its tag.
#include <QWidget>
#include <string>

#include "InfoEditorModel.h"

class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace veloraplay {

class InfoEditor final : public QWidget {
  public:
    InfoEditor(DialogService& dialogs, QWidget* parent = nullptr);

    void showFile(const std::string& path);  // "" clears and disables
    void setLocked(bool locked);
    bool locked() const { return model_.locked(); }
    InfoEditorModel& model() { return model_; }
    QSize sizeHint() const override;
    // Lays the strip out for `width`: in three rows where they fit, else in four; returns the
    // height it then needs.
    int arrangeFor(int width);

    // The "Update" button's work, also for the window's keyboard handling.
    void writeTag();

  private:
    void arrange(bool wide);
    void refresh();
    void refreshEnabled();

    InfoEditorModel model_;
    QLineEdit* title_ = nullptr;
    QLineEdit* artist_ = nullptr;
    QLineEdit* album_ = nullptr;
    QLineEdit* comment_ = nullptr;
    QLineEdit* year_ = nullptr;
    QLineEdit* track_ = nullptr;
    QComboBox* genre_ = nullptr;
    QPushButton* updateButton_ = nullptr;
    QGridLayout* grid_ = nullptr;
    QLabel* yearLabel_ = nullptr;
    QLabel* genreLabel_ = nullptr;
    QWidget* numbers_ = nullptr;
    QWidget* genreRow_ = nullptr;
    bool wide_ = false;
    bool loading_ = false;
};

}  // namespace veloraplay

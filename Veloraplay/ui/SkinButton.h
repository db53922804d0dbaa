#pragma once
// A key of the player window drawn by the skin: its face changes with hover, press and the
// disabled state, and the enhancement key (1008) shows its on or off picture.
#include <QAbstractButton>

namespace veloraplay {

class SkinButton final : public QAbstractButton {
  public:
    SkinButton(int id, QWidget* parent = nullptr);

    int id() const { return id_; }
    void setSkin(int skin);
    int skin() const { return skin_; }
    void setOn(bool on);  // 1008's state
    bool on() const { return on_; }

    QSize sizeHint() const override { return {46, 26}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    int id_;
    int skin_ = 1;
    bool on_ = true;
};

// The tooltip of each key ("" for an unknown id).
QString skinButtonTooltip(int id);

}  // namespace veloraplay

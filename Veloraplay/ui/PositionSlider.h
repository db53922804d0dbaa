#pragma once
// A horizontal track with a knob for the playback position (and, in one skin, the volume):
// the value 0..100 or idle (no knob, no input) as a SliderModel holds it; the owner hears of a
// moved knob through `moved`.
#include "SliderModel.h"

#include <QWidget>
#include <functional>

namespace veloraplay {

class PositionSlider final : public QWidget {
  public:
    // `postWhileDragging` as the volume control: every tenth value while the knob moves.
    PositionSlider(bool postWhileDragging, QWidget* parent = nullptr);

    // A value from the owner (242: idle); ignored while the user drags.
    void setValue(int value);
    int value() const { return model_.value(); }
    void setMoved(std::function<void(int)> moved) { moved_ = std::move(moved); }
    bool dragging() const { return model_.dragging(); }
    void setSkin(int skin);
    int skin() const { return skin_; }
    // The knob's rect for the current value; empty while idle.
    QRect knobRect() const;
    static constexpr int knobWidth() { return kKnob; }

    QSize sizeHint() const override { return {220, 18}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    static constexpr int kKnob = 14;

    // The model follows the widget's width even before the first resize event arrives (a
    // hidden widget gets it only when shown).
    void fit() const;

    mutable SliderModel model_;
    mutable int track_ = 220;
    bool postWhileDragging_;
    int skin_ = 1;
    std::function<void(int)> moved_;
};

}  // namespace veloraplay

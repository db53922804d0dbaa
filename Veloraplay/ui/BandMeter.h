#pragma once
// One band's control in the extended view: a meter of seven cells that shows the band's level,
// and the band's gain step (0..6), set by pressing and dragging on it. A press at y pixels gives
// BandMeters::stepForY(y), so the control is drawn 34 pixels high with each step's marker
// where a press picks that step; a disabled control (no Velora stream) is drawn grey.
#include <QWidget>
#include <functional>

namespace veloraplay {

class BandMeter final : public QWidget {
  public:
    explicit BandMeter(int band, QWidget* parent = nullptr);

    void setLevel(int meter);  // 0..7
    int level() const { return level_; }
    void setStep(int step);    // 0..6
    int step() const { return step_; }
    // Called with the new step on every change the user makes.
    void setStepChanged(std::function<void(int)> changed) { changed_ = std::move(changed); }

    void setSkin(int skin);
    int skin() const { return skin_; }

    // The y (client pixels, at the marker's centre line) where step `step` is drawn; a press
    // there selects that step.
    static double markerY(int step);

    QSize sizeHint() const override { return {20, 34}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void follow(double y);

    int skin_ = 0;
    int level_ = 0;
    int step_ = 3;
    bool dragging_ = false;
    std::function<void(int)> changed_;
};

}  // namespace veloraplay

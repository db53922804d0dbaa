#pragma once
// The player's status display: an LCD panel with segment digits for the item number and the
// elapsed time, small digits for the rate and the bit rate, glyphs for the state and the
// channels, and the current file's name. It draws what a StatusDisplayModel holds.
#include "StatusDisplayModel.h"

#include <QString>
#include <QWidget>

namespace veloraplay {

class LcdDisplay final : public QWidget {
  public:
    explicit LcdDisplay(QWidget* parent = nullptr);

    StatusDisplayModel& model() { return model_; }
    // The current file's path, or empty for none ("Status Display").
    void setFile(const QString& path);
    // Whether the stream carries the enhancement layer (shown as a badge).
    void setVelora(bool on);

    void setSkin(int skin);
    int skin() const { return skin_; }
    // What the display writes: the file's path ("Status Display" when none; cut at the left
    // to fit, so that the name stays) and the channel
    // glyph's text ("" for the first glyph with other than one channel).
    QString titleText() const;
    QString channelText() const;

    QSize sizeHint() const override { return {262, 78}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    StatusDisplayModel model_;
    QString file_;
    bool velora_ = false;
    int skin_ = 1;
};

}  // namespace veloraplay

#pragma once
// The look the placeholder windows share: a dark "display" panel over a calm blue body.
#include <QString>

class QLabel;
class QWidget;

namespace veloraplay {

QString windowStyleSheet();

// A label whose text is elided in the middle to fit its width, the way the display shows
// long paths.
void setElidedText(QLabel* label, const QString& text);

}  // namespace veloraplay

#include "WindowStyle.h"

#include <QFontMetrics>
#include <QLabel>

namespace veloraplay {

QString windowStyleSheet() {
    return QStringLiteral(R"(
    QWidget#body { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #24445e, stop:1 #142a3d); }
    QFrame#display { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #0b1a14, stop:1 #06110c);
                     border: 1px solid #3d6b86; border-radius: 8px; }
    QLabel#displayCaption { color: #6fb59a; font-size: 9pt; letter-spacing: 2px; }
    QLabel#displayTitle { color: #9dffd0; font-family: "DejaVu Sans Mono", monospace; font-size: 15pt; }
    QLabel#displayDetail { color: #5fa888; font-family: "DejaVu Sans Mono", monospace; font-size: 9pt; }
    QLabel#displayState { color: #9dffd0; font-family: "DejaVu Sans Mono", monospace; font-size: 9pt;
                          font-weight: bold; letter-spacing: 1px; }
    QLabel#displayClock { color: #9dffd0; font-family: "DejaVu Sans Mono", monospace; font-size: 11pt; }
    QLabel#streamKind { color: #ffd27a; font-size: 9pt; font-weight: bold; letter-spacing: 1px; }
    QLabel#sectionLabel { color: #cfe3f2; font-weight: bold; font-size: 9pt; }
    QLabel#note { color: #9db7cc; font-size: 8pt; }
    QListWidget { background: #0f2233; color: #e4f0f8; border: 1px solid #335673; border-radius: 6px;
                  padding: 4px; font-size: 9pt; }
    QListWidget::item { padding: 3px 4px; }
    QListWidget::item:selected { background: #2d5d80; color: #ffffff; }
    QLineEdit { background: #0f2233; color: #e4f0f8; border: 1px solid #335673; border-radius: 5px;
                padding: 4px 6px; }
    QPushButton { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #3f7093, stop:1 #2b5473);
                  color: #ffffff; border: 1px solid #5b8fb3; border-radius: 5px; padding: 5px 16px; }
    QPushButton:hover { background: #4a80a6; }
    QPushButton:pressed { background: #24465f; }
    QPushButton:disabled { background: #2a4456; color: #7f98ab; border-color: #3d5b70; }
    QSlider::groove:horizontal { height: 6px; background: #0f2233; border: 1px solid #335673; border-radius: 3px; }
    QSlider::sub-page:horizontal { background: #3f8f70; border-radius: 3px; }
    QSlider::handle:horizontal { background: #cfe3f2; border: 1px solid #5b8fb3; width: 12px;
                                 margin: -5px 0; border-radius: 6px; }
    QSlider::handle:horizontal:disabled { background: #4d6a80; }
    QFrame[frameShape="4"] { color: #5b8fb3; }
  )");
}

void setElidedText(QLabel* label, const QString& text) {
    const int width = label->width() > 40 ? label->width() : 380;
    label->setText(QFontMetrics(label->font()).elidedText(text, Qt::ElideMiddle, width));
    label->setToolTip(text);
}

}  // namespace veloraplay

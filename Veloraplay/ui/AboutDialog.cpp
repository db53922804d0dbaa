#include "AboutDialog.h"

#include "AboutText.h"
#include "WindowStyle.h"

#include <QAbstractButton>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>
#include <numbers>

namespace veloraplay {
namespace {

enum class LogoArt { Player, Format, Enhancement };

const QColor kMint(0x7d, 0xe8, 0xc0);
const QColor kDeepMint(0x2f, 0x8f, 0x6f);
const QColor kAmber(0xff, 0xc8, 0x6b);
const QColor kInk(0x07, 0x13, 0x0d);

// The round badge every mark sits on.
void drawBadge(QPainter& p, const QRectF& r, const QColor& rim) {
    QRadialGradient glass(r.center() - QPointF(r.width() * 0.15, r.height() * 0.2),
                          r.width() * 0.75);
    glass.setColorAt(0, QColor(0x1d, 0x3d, 0x54));
    glass.setColorAt(1, QColor(0x08, 0x14, 0x1e));
    p.setPen(QPen(rim, 2));
    p.setBrush(glass);
    p.drawEllipse(r);
}

// A play triangle in a ring.
void drawPlayerMark(QPainter& p, const QRectF& r) {
    drawBadge(p, r, kMint);
    const QPointF c = r.center();
    const double s = r.width() * 0.22;
    QPainterPath triangle;
    triangle.moveTo(c.x() - s * 0.7, c.y() - s);
    triangle.lineTo(c.x() + s * 1.05, c.y());
    triangle.lineTo(c.x() - s * 0.7, c.y() + s);
    triangle.closeSubpath();
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0, kMint);
    fill.setColorAt(1, kDeepMint);
    p.setPen(QPen(QColor(0xd8, 0xff, 0xef), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPath(triangle);
}

// A V drawn as one swinging wave.
void drawFormatMark(QPainter& p, const QRectF& r) {
    drawBadge(p, r, QColor(0x8f, 0xc4, 0xe0));
    const QPointF c = r.center();
    const double w = r.width() * 0.30, h = r.height() * 0.26;
    QPainterPath v;
    v.moveTo(c.x() - w, c.y() - h);
    v.cubicTo(c.x() - w * 0.55, c.y() - h * 0.2, c.x() - w * 0.3, c.y() + h, c.x(), c.y() + h);
    v.cubicTo(c.x() + w * 0.3, c.y() + h, c.x() + w * 0.55, c.y() - h * 0.2, c.x() + w, c.y() - h);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x8f, 0xc4, 0xe0), 3.2, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(v);
    // The sound wave running through it.
    QPainterPath wave;
    const double left = r.left() + r.width() * 0.16, right = r.right() - r.width() * 0.16;
    for (int i = 0; i <= 40; ++i) {
        const double t = i / 40.0;
        const double x = left + (right - left) * t;
        const double y =
            c.y() - h * 0.05 +
            std::sin(t * 2 * std::numbers::pi * 2) * h * 0.32 * std::sin(t * std::numbers::pi);
        if (i == 0)
            wave.moveTo(x, y);
        else
            wave.lineTo(x, y);
    }
    p.setPen(QPen(kMint, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(wave);
}

// Eight band bars rising, with a plus.
void drawEnhancementMark(QPainter& p, const QRectF& r) {
    drawBadge(p, r, kAmber);
    const double barW = r.width() * 0.055, gap = r.width() * 0.025;
    const double total = 8 * barW + 7 * gap;
    const double base = r.center().y() + r.height() * 0.24;
    const double heights[] = {0.12, 0.165, 0.21, 0.255, 0.30, 0.345, 0.39, 0.435};
    double x = r.center().x() - total / 2;
    p.setPen(Qt::NoPen);
    for (double height : heights) {
        const double top = base - r.height() * height;
        QLinearGradient fill(QPointF(0, top), QPointF(0, base));
        fill.setColorAt(0, kAmber);
        fill.setColorAt(1, QColor(0xc2, 0x6a, 0x2a));
        p.setBrush(fill);
        p.drawRoundedRect(QRectF(x, top, barW, base - top), 1, 1);
        x += barW + gap;
    }
    const QPointF plus(r.center().x() - r.width() * 0.16, r.center().y() - r.height() * 0.2);
    const double arm = r.width() * 0.09;
    p.setPen(QPen(QColor(0xff, 0xf1, 0xd6), 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(plus - QPointF(arm, 0), plus + QPointF(arm, 0));
    p.drawLine(plus - QPointF(0, arm), plus + QPointF(0, arm));
}

class LogoButton final : public QAbstractButton {
  public:
    LogoButton(LogoArt art, const QString& word, QWidget* parent)
        : QAbstractButton(parent), art_(art), word_(word) {
        setFixedSize(104, 88);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setAttribute(Qt::WA_Hover);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF frame = QRectF(rect()).adjusted(1, 1, -1, -1);
        const bool hot = underMouse() || hasFocus();
        p.setPen(QPen(hot ? QColor(0x7d, 0xe8, 0xc0, 200) : QColor(0x33, 0x56, 0x73), 1));
        p.setBrush(isDown() ? QColor(0x0a, 0x18, 0x22)
                   : hot    ? QColor(0x1a, 0x36, 0x4c)
                            : QColor(0x12, 0x28, 0x3a));
        p.drawRoundedRect(frame, 8, 8);
        const QRectF mark(width() / 2.0 - 27, 8, 54, 54);
        switch (art_) {
            case LogoArt::Player:
                drawPlayerMark(p, mark);
                break;
            case LogoArt::Format:
                drawFormatMark(p, mark);
                break;
            case LogoArt::Enhancement:
                drawEnhancementMark(p, mark);
                break;
        }
        QFont f = font();
        f.setPointSizeF(7.5);
        f.setBold(true);
        f.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
        p.setFont(f);
        p.setPen(hot ? QColor(0xe4, 0xf0, 0xf8) : QColor(0x9d, 0xb7, 0xcc));
        p.drawText(QRectF(0, 66, width(), 16), Qt::AlignCenter, word_);
    }

  private:
    LogoArt art_;
    QString word_;
};

QString aboutStyleSheet() {
    return windowStyleSheet() + QStringLiteral(R"(
    QLabel#aboutProduct { color: #ffffff; font-size: 15pt; font-weight: bold; }
    QLabel#aboutVersion { color: #9dffd0; font-family: "DejaVu Sans Mono", monospace; font-size: 9pt; }
    QLabel#aboutCredit { color: #cfe3f2; font-size: 9pt; }
    QLabel#aboutHint { color: #9db7cc; font-size: 8pt; }
  )");
}

}  // namespace

AboutDialog::AboutDialog(WebLink& link, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("body"));
    setWindowTitle(QStringLiteral("About ") + QString::fromUtf8(kProductName));
    setStyleSheet(aboutStyleSheet());
    setModal(true);

    auto* product = new QLabel(QString::fromUtf8(kProductName), this);
    product->setObjectName(QStringLiteral("aboutProduct"));
    auto* version = new QLabel(QString::fromStdString(aboutVersionLine()), this);
    version->setObjectName(QStringLiteral("aboutVersion"));
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 18, 22, 16);
    layout->setSpacing(4);
    layout->addWidget(product);
    layout->addWidget(version);
    layout->addSpacing(10);
    for (const char* credit : kAboutCredits) {
        auto* line = new QLabel(QString::fromUtf8(credit), this);
        line->setObjectName(QStringLiteral("aboutCredit"));
        layout->addWidget(line);
    }
    layout->addSpacing(14);

    static constexpr LogoArt kArt[] = {LogoArt::Player, LogoArt::Format, LogoArt::Enhancement};
    static constexpr const char* kWords[] = {"PLAYER", "VELORA", "BAND+"};
    static_assert(std::size(kArt) == std::size(kAboutLogos));
    auto* logos = new QHBoxLayout;
    logos->setSpacing(12);
    for (std::size_t i = 0; i < std::size(kAboutLogos); ++i) {
        auto* button = new LogoButton(kArt[i], QString::fromUtf8(kWords[i]), this);
        button->setObjectName(QStringLiteral("AboutLogo%1").arg(i));
        const AboutLogo& logo = kAboutLogos[i];
        button->setToolTip(QString::fromUtf8(logo.caption) + QStringLiteral("\n") +
                           QString::fromUtf8(logo.address));
        connect(button, &QAbstractButton::clicked, this,
                [&link, address = std::string(logo.address)] { link.open(address); });
        logos->addWidget(button);
    }
    logos->addStretch();
    layout->addLayout(logos);
    auto* hint = new QLabel(QStringLiteral("Click a logo to visit its web page."), this);
    hint->setObjectName(QStringLiteral("aboutHint"));
    layout->addSpacing(2);
    layout->addWidget(hint);

    layout->addSpacing(10);
    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    layout->addWidget(rule);
    layout->addSpacing(6);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("AboutOk"));
    ok->setDefault(true);
    ok->setAutoDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    ok->setFocus();
}

}  // namespace veloraplay

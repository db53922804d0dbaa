#include "AboutBox.h"

#include "CheckedFormat.h"
#include "SkinFace.h"

#include <QDialogButtonBox>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace tessura::ui {

namespace {

QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// A translation with one text filled in; a translation that does not take one shows the
// value after its own text.
std::string fill(const AboutBox::Text& text, const char* key, const std::string& value) {
    const std::string format = text(key);
    const FormatArg args[] = {std::string_view(value)};
    return formatChecked(format, args).value_or(format + " " + value);
}

// The picture part of the box: the splash image, the texts over its lower part.
class AboutPicture final : public QWidget {
  public:
    AboutPicture(const SkinFace& face, QStringList lines) : lines_(std::move(lines)) {
        const SkinColours& c = face.description().colours;
        splash_ = face.image("/jpeg/splash");
        text_ = SkinFace::colour(c.systemColor1);
        shade_ = SkinFace::colour(c.systemBkColor2);
        top_ = SkinFace::colour(c.systemBkColor1);
        setFixedSize(splash_.isNull() ? QSize(360, 220) : splash_.size().boundedTo(QSize(480, 360)).expandedTo(QSize(300, 200)));
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (!splash_.isNull()) {
            p.drawImage(rect(), splash_.scaled(size(), Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation));
        } else {
            QLinearGradient g(0, 0, 0, height());
            g.setColorAt(0, top_);
            g.setColorAt(1, shade_);
            p.fillRect(rect(), g);
        }
        // A band in the skin's dark colour keeps the texts legible over any picture.
        const int lineHeight = 18, band = lineHeight * int(lines_.size()) + 16;
        QColor veil = shade_;
        veil.setAlpha(splash_.isNull() ? 0 : 200);
        const QRect area(0, height() - band, width(), band);
        p.fillRect(area, veil);
        QFont f = font();
        for (int i = 0; i < lines_.size(); ++i) {
            f.setBold(i == 0);
            f.setPixelSize(i == 0 ? 15 : 12);
            p.setFont(f);
            p.setPen(text_);
            p.drawText(QRect(12, area.y() + 8 + i * lineHeight, width() - 24, lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                       lines_[i]);
        }
    }

  private:
    QStringList lines_;
    QImage splash_;
    QColor text_, shade_, top_;
};

}  // namespace

AboutBox::AboutBox(const SkinFace& face, const AboutDetails& details, const Text& text, QWidget* parent)
    : QDialog(parent) {
    setObjectName("about");
    setWindowTitle(fromUtf8(text("about/title")));
    lines_ << fromUtf8(text("about/title")) << fromUtf8(fill(text, "about/version", details.version))
           << fromUtf8(fill(text, "about/builddate", details.buildDate))
           << fromUtf8(fill(text, "about/skin", details.skinTitle))
           << fromUtf8(fill(text, "settings/skinauthor", details.skinAuthor));
    auto* picture = new AboutPicture(face, lines_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    buttons->button(QDialogButtonBox::Close)->setText(fromUtf8(text("about/close")));
    buttons->button(QDialogButtonBox::Close)->setObjectName("about/close");
    buttons->button(QDialogButtonBox::Close)->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->addWidget(picture);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(8, 0, 8, 0);
    row->addWidget(buttons);
    layout->addLayout(row);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    buttons->button(QDialogButtonBox::Close)->setFocus();
}

}  // namespace tessura::ui

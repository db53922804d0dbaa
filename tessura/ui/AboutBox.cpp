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

// The picture part of the box: the skin's splash picture with the texts on a band below it in
// the skin's colours (the splash has its own lettering, which the texts must not cover).
class AboutPicture final : public QWidget {
  public:
    AboutPicture(const SkinFace& face, QStringList lines) : lines_(std::move(lines)) {
        const SkinColours& c = face.description().colours;
        splash_ = face.image("/jpeg/splash");
        if (splash_.width() > kMaxWidth) splash_ = splash_.scaledToWidth(kMaxWidth, Qt::SmoothTransformation);
        text_ = SkinFace::colour(c.systemColor1);
        band_ = SkinFace::colour(c.systemBkColor2);
        top_ = SkinFace::colour(c.systemBkColor1);
        const int pictureHeight = splash_.isNull() ? 40 : splash_.height();
        setFixedSize(std::max(splash_.width(), 320), pictureHeight + bandHeight());
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRect band(0, height() - bandHeight(), width(), bandHeight());
        if (!splash_.isNull()) {
            p.fillRect(QRect(0, 0, width(), band.y()), Qt::black);
            p.drawImage((width() - splash_.width()) / 2, 0, splash_);
        } else {
            p.fillRect(QRect(0, 0, width(), band.y()), top_);
        }
        QLinearGradient g(0, band.y(), 0, height());
        g.setColorAt(0, band_.lighter(130));
        g.setColorAt(1, band_);
        p.fillRect(band, g);
        p.setPen(QPen(text_, 1));
        p.drawLine(band.topLeft(), band.topRight());
        QFont f = font();
        int y = band.y() + kPadding;
        for (int i = 0; i < lines_.size(); ++i) {
            const int h = i == 0 ? kTitleHeight : kLineHeight;
            f.setBold(i == 0);
            f.setPixelSize(i == 0 ? 16 : 12);
            p.setFont(f);
            p.setPen(i == 0 ? text_ : text_.lighter(115));
            p.drawText(QRect(14, y, width() - 28, h), Qt::AlignLeft | Qt::AlignVCenter, lines_[i]);
            y += h;
        }
    }

  private:
    static constexpr int kMaxWidth = 480, kPadding = 10, kTitleHeight = 24, kLineHeight = 18;
    int bandHeight() const { return 2 * kPadding + kTitleHeight + kLineHeight * (int(lines_.size()) - 1); }

    QStringList lines_;
    QImage splash_;
    QColor text_, band_, top_;
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

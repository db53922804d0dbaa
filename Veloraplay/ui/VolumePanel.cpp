#include "VolumePanel.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QVBoxLayout>

namespace veloraplay {
namespace {

constexpr int kTickStep = 20;

// The stock slider, with its tick marks drawn beside the groove: a styled slider has none.
class TickedSlider final : public QSlider {
  public:
    explicit TickedSlider(QWidget* parent) : QSlider(Qt::Vertical, parent) {}

  protected:
    void paintEvent(QPaintEvent* event) override {
        QSlider::paintEvent(event);
        QPainter p(this);
        QStyleOptionSlider option;
        initStyleOption(&option);
        const QRect groove =
            style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
        for (int value = minimum(); value <= maximum(); value += tickInterval()) {
            // Where the handle's centre is for this value, so ticks and knob agree.
            option.sliderPosition = value;
            const QRect handle =
                style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
            const int y = handle.center().y();
            const bool major = value == minimum() || value == maximum();
            const int length = major ? 7 : 5;
            p.setPen(QPen(major ? QColor(0x8f, 0xc4, 0xe0) : QColor(0x4f, 0x7d, 0x9a), 1));
            p.drawLine(groove.left() - 12, y, groove.left() - 12 + length, y);
            p.drawLine(groove.right() + 12 - length, y, groove.right() + 12, y);
        }
    }
};

QString panelStyleSheet() {
    return QStringLiteral(R"(
    QLabel#volumeCaption { color: #6fb59a; font-size: 7pt; font-weight: bold; letter-spacing: 2px; }
    QLabel#volumeReadout { color: #9dffd0; background: #07130d; border: 1px solid #2c5a48;
                           border-radius: 4px; font-family: "DejaVu Sans Mono", monospace;
                           font-size: 10pt; font-weight: bold; padding: 1px 0px; }
    QLabel#volumeReadout[muted="true"] { color: #ffb36b; border-color: #6b4a2c; }
    QSlider::groove:vertical { width: 6px; background: #0a1822; border: 1px solid #30536d;
                               border-radius: 3px; }
    QSlider::add-page:vertical { width: 6px; border-radius: 3px;
        background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #7de8c0, stop:1 #2f8f6f); }
    QSlider::sub-page:vertical { width: 6px; background: #10263a; border-radius: 3px; }
    QSlider[muted="true"]::add-page:vertical { background: #3b5466; }
    QSlider::handle:vertical { height: 12px; width: 20px; margin: 0px -8px; border-radius: 4px;
        border: 1px solid #33495a;
        background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:0.5 #c9d6e0, stop:1 #7b8d9b); }
    QSlider::handle:vertical:hover { border-color: #7de8c0; }
    QCheckBox { color: #cfe3f2; font-size: 8pt; spacing: 5px; }
    QCheckBox::indicator { width: 11px; height: 11px; border: 1px solid #5b8fb3; border-radius: 2px;
                           background: #0f2233; }
    QCheckBox::indicator:checked { background: #ffb36b; border-color: #ffd2a8; }
    QCheckBox:focus { color: #ffffff; }
  )");
}

}  // namespace

VolumePanel::VolumePanel(SettingsStore& settings, std::function<void(int)> setVolume,
                         std::function<void()> closed, QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint),
      settings_(settings),
      setVolume_(std::move(setVolume)),
      closed_(std::move(closed)) {
    setObjectName(QStringLiteral("VolumePanel"));
    setWindowTitle(QStringLiteral("Volume"));
    setStyleSheet(panelStyleSheet());

    auto* caption = new QLabel(QStringLiteral("VOLUME"), this);
    caption->setObjectName(QStringLiteral("volumeCaption"));
    caption->setAlignment(Qt::AlignHCenter);

    readout_ = new QLabel(this);
    readout_->setObjectName(QStringLiteral("volumeReadout"));
    readout_->setAlignment(Qt::AlignCenter);
    readout_->setFixedWidth(48);

    slider_ = new TickedSlider(this);
    slider_->setObjectName(QStringLiteral("VolumeSlider"));
    slider_->setRange(0, VolumePanelModel::kMaxLevel);
    slider_->setTickInterval(kTickStep);
    slider_->setTickPosition(QSlider::TicksBothSides);
    slider_->setSingleStep(1);
    slider_->setPageStep(10);
    // Position 0 is full volume: drawn at the top, and up (key, wheel) moves towards it.
    slider_->setInvertedAppearance(true);
    slider_->setInvertedControls(true);
    slider_->setFixedSize(48, 128);
    slider_->setToolTip(QStringLiteral("Adjust Playback Volume"));

    mute_ = new QCheckBox(QStringLiteral("Mute"), this);
    mute_->setObjectName(QStringLiteral("Mute"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 10);
    layout->setSpacing(6);
    layout->addWidget(caption, 0, Qt::AlignHCenter);
    layout->addWidget(readout_, 0, Qt::AlignHCenter);
    layout->addWidget(slider_, 0, Qt::AlignHCenter);
    layout->addWidget(mute_, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(slider_, &QSlider::valueChanged, this, [this](int position) {
        if (!model_) return;
        const int volume = model_->moveSlider(position);
        showLevel();
        if (setVolume_) setVolume_(volume);
    });
    connect(mute_, &QCheckBox::toggled, this, [this](bool on) {
        if (!model_) return;
        const int volume = model_->setMuted(on);
        showLevel();
        if (setVolume_) setVolume_(volume);
    });
}

VolumePanel::~VolumePanel() {
    // Closed with its owner: the state is kept, but nobody is left to tell.
    finish();
}

void VolumePanel::popUpAt(const QPoint& globalPointer) {
    if (!model_) {
        model_.emplace(settings_);
        const QSignalBlocker blockSlider(slider_);
        const QSignalBlocker blockMute(mute_);
        slider_->setValue(model_->sliderPosition());
        mute_->setChecked(model_->muted());
        showLevel();
    }
    adjustSize();
    const QScreen* screen = QGuiApplication::screenAt(globalPointer);
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 16, 1 << 16);
    const auto [x, y] =
        VolumePanelModel::placeAt(globalPointer.x(), globalPointer.y(), width(), height(), area.x(),
                                  area.y(), area.width(), area.height());
    move(x, y);
    show();
    raise();
    activateWindow();
    slider_->setFocus(Qt::PopupFocusReason);
}

void VolumePanel::showLevel() {
    if (!model_) return;
    const bool muted = model_->muted();
    readout_->setText(muted ? QStringLiteral("MUTE") : QString::number(model_->level()));
    readout_->setProperty("muted", muted);
    slider_->setProperty("muted", muted);
    // Property selectors are matched when the style is applied.
    for (QWidget* w : {static_cast<QWidget*>(readout_), static_cast<QWidget*>(slider_)}) {
        w->style()->unpolish(w);
        w->style()->polish(w);
        w->update();
    }
}

bool VolumePanel::finish() {
    if (!model_) return false;
    model_->close();
    model_.reset();
    return true;
}

void VolumePanel::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (finish() && closed_) closed_();
}

void VolumePanel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void VolumePanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient body(r.topLeft(), r.bottomLeft());
    body.setColorAt(0, QColor(0x2a, 0x4d, 0x69));
    body.setColorAt(1, QColor(0x12, 0x26, 0x38));
    p.fillRect(rect(), body);
    // A bright top edge and a dark outline, like a raised plate.
    p.setPen(QPen(QColor(0x06, 0x10, 0x18), 1));
    p.drawRect(r);
    p.setPen(QPen(QColor(0x5b, 0x8f, 0xb3), 1));
    p.drawLine(QPointF(1.5, 1.5), QPointF(width() - 1.5, 1.5));
    p.setPen(QPen(QColor(0x3d, 0x6b, 0x86, 160), 1));
    p.drawRect(r.adjusted(1, 1, -1, -1));
}

}  // namespace veloraplay

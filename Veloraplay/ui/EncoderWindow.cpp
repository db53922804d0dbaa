#include "EncoderWindow.h"

#include "EventLog.h"
#include "PcmOut.h"
#include "PlayerSettings.h"
#include "SkinArt.h"
#include "VolumePanel.h"
#include "VolumePanelModel.h"
#include "WindowStyle.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QUrl>
#include <QVBoxLayout>
#include <chrono>
#include <thread>

namespace veloraplay {
namespace {

QString hex(const QColor& c) {
    return c.name(QColor::HexArgb);
}

// The controls in the skin's colours: light brushed metal with dark engraving, or the deep
// blue of the oceanic skin with pale text; the display panel is the player's display glass.
QString encoderStyleSheet(int skin) {
    const SkinPalette& p = skinPalette(skin);
    const bool metal = skin == kSkinBrushedMetal;
    const QString text = metal ? "#2b3036" : "#cfeaf6";
    const QString soft = metal ? "#6f767e" : "#7fa9bd";
    const QString field = metal ? "#f4f5f6" : "#04182a";
    const QString fieldText = metal ? "#1f2328" : "#e4f6ff";
    const QString edge = metal ? "#80868d" : "#2c7c9c";
    const QString buttonTop = metal ? "#fbfbfc" : "#1f6790";
    const QString buttonBottom = metal ? "#c3c7cc" : "#0b3452";
    const QString buttonText = metal ? "#2b3036" : "#e6fbff";
    const QString hover = metal ? "#ffffff" : "#2a7aa6";
    const QString accent = hex(p.fillBottom);
    return QStringLiteral(R"(
    QWidget { color: %1; font-size: 9pt; }
    QLabel#section { color: %2; font-size: 8pt; font-weight: bold; letter-spacing: 1px; }
    QLabel#caption { color: %1; font-size: 11pt; font-weight: bold; letter-spacing: 3px; }
    QLabel#small { color: %2; font-size: 8pt; }
    QFrame#display { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %3, stop:1 %4);
                     border: 1px solid %5; border-radius: 7px; }
    QFrame#display QLabel { color: %6; font-family: "DejaVu Sans Mono", monospace; }
    QLabel#displayTitle { font-size: 12pt; font-weight: bold; }
    QLabel#displayDetail { color: %7; font-size: 9pt; }
    QProgressBar { background: %8; border: 1px solid %5; border-radius: 4px; height: 10px; text-align: center;
                   color: transparent; }
    QProgressBar::chunk { border-radius: 3px; background: qlineargradient(x1:0, y1:0, x2:0, y2:1,
                          stop:0 %9, stop:1 %10); }
    QLineEdit, QComboBox { background: %11; color: %12; border: 1px solid %13; border-radius: 4px;
                           padding: 3px 6px; }
    QLineEdit:disabled, QComboBox:disabled { color: %2; }
    QComboBox QAbstractItemView { background: %11; color: %12; selection-background-color: %10; }
    QPushButton { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %14, stop:1 %15); color: %16;
                  border: 1px solid %13; border-radius: 5px; padding: 4px 12px; }
    QPushButton:hover { background: %17; }
    QPushButton:pressed { background: %15; }
    QPushButton:disabled { color: %2; }
    QPushButton#start { font-size: 11pt; font-weight: bold; letter-spacing: 2px; padding: 6px 22px;
                        border: 1px solid %18; }
    QCheckBox { spacing: 6px; }
    QCheckBox:disabled { color: %2; }
    QSlider::groove:horizontal { height: 6px; border: 1px solid %13; border-radius: 3px;
        background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %19, stop:1 %20); }
    QSlider::sub-page:horizontal { border-radius: 3px; background: qlineargradient(x1:0, y1:0, x2:0, y2:1,
                                   stop:0 %9, stop:1 %10); }
    QSlider::handle:horizontal { width: 14px; margin: -5px 0; border-radius: 7px; border: 1px solid %13;
        background: qradialgradient(cx:0.35, cy:0.35, radius:0.9, stop:0 %21, stop:0.6 %22, stop:1 %23); }
    QSlider::sub-page:horizontal:disabled { background: %2; }
    QSlider::handle:horizontal:disabled { background: %2; border-color: %2; }
    )")
        .arg(text, soft, hex(p.lcdTop), hex(p.lcdBottom), hex(p.lcdFrame), hex(p.lit), hex(p.dim),
             hex(p.lcdBottom), hex(p.fillTop), accent, field, fieldText, edge, buttonTop, buttonBottom,
             buttonText, hover, hex(p.lit.darker(metal ? 180 : 120)), hex(p.grooveTop))
        .arg(hex(p.grooveBottom), hex(p.knobLight), hex(p.knobMid), hex(p.knobDark));
}

QLabel* sectionLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setObjectName(QStringLiteral("section"));
    return label;
}

QPushButton* browseButton(const QString& tip) {
    auto* button = new QPushButton(QStringLiteral("..."));
    button->setToolTip(tip);
    button->setFixedWidth(38);
    return button;
}

QCheckBox* option(const QString& caption, const QString& tip) {
    auto* box = new QCheckBox(caption);
    box->setToolTip(tip);
    return box;
}

}  // namespace

EncoderWindow::EncoderWindow(int skinType, const std::string& inputFile, SettingsStore& settings,
                             DialogService& dialogs, HelpTopics& help, EncoderPlayerLink* player,
                             EncoderLibraryLink* library, QWidget* parent)
    : QWidget(parent, Qt::Window), skin_(skinType == kSkinBrushedMetal ? kSkinBrushedMetal : kSkinOceanic),
      settings_(settings), help_(help), monitor_(deviceOutput()),
      model_(
          settings, dialogs, player, library, &monitor_,
          [this](std::function<void()> task) {
              QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
          },
          [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }) {
    setWindowTitle(QString::fromUtf8(kEncoderTitle));
    setWindowIcon(applicationIcon());
    setAcceptDrops(true);
    // The monitor is heard at the listener's stored level, as the player would play.
    deviceOutput().setVolume(VolumePanelModel::outputOpenLevel(settings));
    build();
    model_.attach(*this);
    if (!inputFile.empty()) model_.setInput(inputFile);
    refresh();
    logEvent("encoder", inputFile);
}

EncoderWindow::~EncoderWindow() {
    // The base class hides the window after the model is gone, and a line edit that loses
    // its focus then would still report to it.
    for (QWidget* child : findChildren<QWidget*>()) disconnect(child, nullptr, this, nullptr);
    model_.close();
}

void EncoderWindow::build() {
    setStyleSheet(encoderStyleSheet(skin_));
    setFixedWidth(540);

    auto* caption = new QLabel(QStringLiteral("VELORA ENCODER"));
    caption->setObjectName(QStringLiteral("caption"));

    auto* display = new QFrame;
    display->setObjectName(QStringLiteral("display"));
    title_ = new QLabel;
    title_->setObjectName(QStringLiteral("displayTitle"));
    info_ = new QLabel;
    info_->setObjectName(QStringLiteral("displayDetail"));
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("displayDetail"));
    progress_ = new QProgressBar;
    progress_->setRange(0, kProgressRange);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    progress_->setFixedHeight(12);
    auto* displayLayout = new QVBoxLayout(display);
    displayLayout->setContentsMargins(14, 10, 14, 10);
    displayLayout->setSpacing(3);
    displayLayout->addWidget(title_);
    displayLayout->addWidget(info_);
    displayLayout->addWidget(status_);
    displayLayout->addSpacing(4);
    displayLayout->addWidget(progress_);

    input_ = new QLineEdit;
    input_->setToolTip(QStringLiteral("The PCM source file to be encoded"));
    output_ = new QLineEdit;
    output_->setToolTip(QStringLiteral("The Velora output file to be written"));
    browseInput_ = browseButton(QStringLiteral("Select input file"));
    browseOutput_ = browseButton(QStringLiteral("Select output file"));
    auto* files = new QGridLayout;
    files->setHorizontalSpacing(6);
    files->setVerticalSpacing(4);
    files->addWidget(sectionLabel(QStringLiteral("SOURCE")), 0, 0, 1, 2);
    files->addWidget(input_, 1, 0);
    files->addWidget(browseInput_, 1, 1);
    files->addWidget(sectionLabel(QStringLiteral("OUTPUT")), 2, 0, 1, 2);
    files->addWidget(output_, 3, 0);
    files->addWidget(browseOutput_, 3, 1);

    quality_ = option(QStringLiteral("Extra High Quality"), QStringLiteral("Prefer audio quality over processing speed"));
    intensity_ = option(QStringLiteral("Allow Intensity Stereo"), QStringLiteral("Allow intensity stereo for low bitrates"));
    monitorBox_ = option(QStringLiteral("Monitor Playback"), QStringLiteral("Listen while encode"));
    library_ = option(QStringLiteral("Add File To Library"), QStringLiteral("Add encoded item to playlist"));
    auto* options = new QGridLayout;
    options->setHorizontalSpacing(18);
    options->setVerticalSpacing(4);
    options->addWidget(sectionLabel(QStringLiteral("OPTIONS")), 0, 0, 1, 2);
    options->addWidget(quality_, 1, 0);
    options->addWidget(intensity_, 1, 1);
    options->addWidget(monitorBox_, 2, 0);
    options->addWidget(library_, 2, 1);

    vbr_ = new QCheckBox(QStringLiteral("VBR - Variable Bitrate Encoding:"));
    vbrQuality_ = new QSlider(Qt::Horizontal);
    vbrQuality_->setRange(EncoderWindowModel::kMinVbrQuality, EncoderWindowModel::kMaxVbrQuality);
    vbrQuality_->setTickInterval(10);
    vbrQuality_->setTickPosition(QSlider::TicksBelow);
    vbrQuality_->setToolTip(QStringLiteral("VBR Compression Quality"));
    smaller_ = new QLabel(QStringLiteral("Smaller File"));
    smaller_->setObjectName(QStringLiteral("small"));
    higher_ = new QLabel(QStringLiteral("Higher Quality"));
    higher_->setObjectName(QStringLiteral("small"));
    auto* vbrRow = new QHBoxLayout;
    vbrRow->setSpacing(8);
    vbrRow->addWidget(smaller_);
    vbrRow->addWidget(vbrQuality_, 1);
    vbrRow->addWidget(higher_);

    modes_ = new QComboBox;
    for (const char* name : kChannelModeNames) modes_->addItem(QString::fromUtf8(name));
    modes_->setToolTip(QStringLiteral("mp3 Encoding Parameters"));
    parameters_ = new QComboBox;
    parameters_->setToolTip(QStringLiteral("mp3 Encoding Parameters"));
    auto* lists = new QHBoxLayout;
    lists->setSpacing(8);
    lists->addWidget(modes_, 2);
    lists->addWidget(parameters_, 5);

    start_ = new QPushButton(QStringLiteral("ENCODE"));
    start_->setObjectName(QStringLiteral("start"));
    start_->setToolTip(QStringLiteral("Start/Stop encoding"));
    volume_ = new QPushButton(QStringLiteral("Volume"));
    volume_->setToolTip(QStringLiteral("Adjust Playback Volume"));
    directory_ = new QPushButton(QStringLiteral("Folder..."));
    directory_->setToolTip(QString::fromUtf8(kSelectDirectoryTitle));
    helpButton_ = new QPushButton(QStringLiteral("Help"));
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addWidget(helpButton_);
    buttons->addWidget(volume_);
    buttons->addWidget(directory_);
    buttons->addStretch(1);
    buttons->addWidget(start_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 14);
    layout->setSpacing(8);
    layout->addWidget(caption);
    layout->addWidget(display);
    layout->addLayout(files);
    layout->addSpacing(2);
    layout->addLayout(options);
    layout->addSpacing(2);
    layout->addWidget(sectionLabel(QStringLiteral("PARAMETERS")));
    layout->addWidget(vbr_);
    layout->addLayout(vbrRow);
    layout->addLayout(lists);
    layout->addSpacing(4);
    layout->addLayout(buttons);

    connect(browseInput_, &QPushButton::clicked, this, [this] { model_.chooseInput(); });
    connect(browseOutput_, &QPushButton::clicked, this, [this] { model_.chooseOutput(); });
    connect(input_, &QLineEdit::editingFinished, this, [this] {
        const std::string typed = input_->text().toStdString();
        if (typed != model_.fields().inputPath && !model_.setInput(typed)) refresh();
    });
    connect(output_, &QLineEdit::textEdited, this, [this](const QString& t) { model_.setOutputPath(t.toStdString()); });
    connect(quality_, &QCheckBox::toggled, this, [this](bool on) { model_.setExtraHighQuality(on); });
    connect(intensity_, &QCheckBox::toggled, this, [this](bool on) { model_.setIntensityStereo(on); });
    connect(monitorBox_, &QCheckBox::toggled, this, [this](bool on) { model_.setMonitorPlayback(on); });
    connect(library_, &QCheckBox::toggled, this, [this](bool on) { model_.setAddToLibrary(on); });
    connect(vbr_, &QCheckBox::toggled, this, [this](bool on) { model_.setVbr(on); });
    connect(vbrQuality_, &QSlider::valueChanged, this, [this](int q) { model_.setVbrQuality(q); });
    connect(modes_, &QComboBox::activated, this, [this](int i) { model_.setChannelMode(i); });
    connect(parameters_, &QComboBox::activated, this, [this](int i) { model_.setParameter(i); });
    connect(start_, &QPushButton::clicked, this, [this] { model_.startStop(); });
    connect(volume_, &QPushButton::clicked, this, [this] { openVolumePanel(); });
    connect(directory_, &QPushButton::clicked, this, [this] { model_.chooseDefaultDirectory(); });
    connect(helpButton_, &QPushButton::clicked, this, [this] { help_.open(kHelpEncoder); });
}

void EncoderWindow::refresh() {
    const EncoderFields& f = model_.fields();
    const QSignalBlocker b1(quality_), b2(intensity_), b3(monitorBox_), b4(library_), b5(vbr_), b6(vbrQuality_),
        b7(modes_), b8(parameters_);
    const QString input = QString::fromStdString(f.inputPath);
    if (!input_->hasFocus() || model_.running()) input_->setText(input);
    if (output_->text().toStdString() != f.outputPath) output_->setText(QString::fromStdString(f.outputPath));
    title_->setText(input.isEmpty() ? QStringLiteral("No source file") : QFileInfo(input).fileName());
    info_->setText(f.infoLine.empty() ? QStringLiteral("Choose or drop a 16-bit PCM WAVE file")
                                      : QString::fromStdString(f.infoLine));
    status_->setText(model_.status().empty() ? QStringLiteral(" ") : QString::fromStdString(model_.status()));
    quality_->setChecked(f.extraHighQuality);
    intensity_->setChecked(f.intensityStereo);
    monitorBox_->setChecked(f.monitorPlayback);
    library_->setChecked(f.addToLibrary);
    vbr_->setChecked(f.vbr);
    vbrQuality_->setValue(f.vbrQuality);
    modes_->setCurrentIndex(f.channelMode);
    parameters_->clear();
    for (const ParameterEntry& e : f.parameters) parameters_->addItem(QString::fromStdString(e.text));
    parameters_->setCurrentIndex(f.parameter);

    const bool editable = model_.settingsEnabled();
    for (QWidget* w : std::initializer_list<QWidget*>{input_, output_, browseInput_, browseOutput_, quality_, intensity_,
                                                      monitorBox_, vbr_, modes_, directory_}) {
        w->setEnabled(editable);
    }
    library_->setEnabled(model_.addToLibraryEnabled());
    vbrQuality_->setEnabled(model_.vbrSliderEnabled());
    smaller_->setEnabled(model_.vbrSliderEnabled());
    higher_->setEnabled(model_.vbrSliderEnabled());
    parameters_->setEnabled(model_.parameterListEnabled());
    start_->setEnabled(model_.startEnabled());
    start_->setText(QString::fromUtf8(model_.startText()));
    progress_->setValue(model_.progress());
}

void EncoderWindow::showProgress(int position) {
    progress_->setValue(position);
}

void EncoderWindow::showStatus(const std::string& line) {
    status_->setText(QString::fromStdString(line));
}

void EncoderWindow::beep() {
    QApplication::beep();
}

void EncoderWindow::openVolumePanel() {
    if (volumePanel_) {
        volumePanel_->raise();
        return;
    }
    auto* panel = new VolumePanel(settings_, [](int level) { deviceOutput().setVolume(level); }, [] {}, this);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    volumePanel_ = panel;
    panel->popUpAt(QCursor::pos());
}

void EncoderWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRectF r = rect();
    QLinearGradient body(r.topLeft(), r.bottomLeft());
    if (skin_ == kSkinBrushedMetal) {
        body.setColorAt(0, QColor(0xdc, 0xde, 0xe1));
        body.setColorAt(0.5, QColor(0xc2, 0xc5, 0xc9));
        body.setColorAt(1, QColor(0xad, 0xb0, 0xb5));
        p.fillRect(r, body);
        // Fine horizontal streaks, as on the player's brushed face.
        for (int y = 0; y < height(); y += 2) {
            p.setPen(QColor(255, 255, 255, (y * 37 % 11) * 4));
            p.drawLine(0, y, width(), y);
        }
    } else {
        body.setColorAt(0, QColor(0x12, 0x4a, 0x6e));
        body.setColorAt(0.5, QColor(0x0a, 0x2c, 0x4a));
        body.setColorAt(1, QColor(0x05, 0x17, 0x2c));
        p.fillRect(r, body);
        QLinearGradient gloss(r.topLeft(), QPointF(r.left(), r.top() + 60));
        gloss.setColorAt(0, QColor(255, 255, 255, 40));
        gloss.setColorAt(1, QColor(255, 255, 255, 0));
        p.fillRect(QRectF(r.left(), r.top(), r.width(), 60), gloss);
    }
}

void EncoderWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!model_.running() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void EncoderWindow::dropEvent(QDropEvent* event) {
    if (model_.running()) return;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isLocalFile()) continue;
        event->acceptProposedAction();
        model_.setInput(url.toLocalFile().toStdString());
        return;
    }
}

void EncoderWindow::closeEvent(QCloseEvent* event) {
    // A running job is stopped and waited for: it deletes what it wrote.
    model_.close();
    logEvent("close");
    event->accept();
}

}  // namespace veloraplay

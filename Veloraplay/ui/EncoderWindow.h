#pragma once
// The encoder window: the input and output files with their browse buttons, the information
// line, the options, the VBR switch and slider, the channel-mode and parameter lists, the
// progress bar and status line, and the ENCODE/STOP button, in the look of the player's
// skins; a WAVE file dropped on it becomes the input. What it does is EncoderWindowModel's;
// this class draws and forwards input.
#include "DeviceMonitor.h"
#include "DialogService.h"
#include "EncoderWindowModel.h"
#include "HelpTopics.h"
#include "SettingsStore.h"

#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;

namespace veloraplay {

class VolumePanel;

class EncoderWindow final : public QWidget, private EncoderView {
  public:
    // `player` and `library` may be null (the stand-alone encoder). Monitor playback goes to
    // the process's sound output.
    EncoderWindow(int skinType, const std::string& inputFile, SettingsStore& settings, DialogService& dialogs,
                  HelpTopics& help, EncoderPlayerLink* player = nullptr, EncoderLibraryLink* library = nullptr,
                  QWidget* parent = nullptr);
    ~EncoderWindow() override;

    EncoderWindowModel& model() { return model_; }
    QPushButton* startButton() const { return start_; }
    QProgressBar* progressBar() const { return progress_; }
    QLabel* statusLine() const { return status_; }
    QLabel* infoLine() const { return info_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // EncoderView
    void refresh() override;
    void showProgress(int position) override;
    void showStatus(const std::string& line) override;
    void beep() override;

    void build();
    void openVolumePanel();

    int skin_;
    SettingsStore& settings_;
    HelpTopics& help_;
    DeviceMonitor monitor_;
    EncoderWindowModel model_;

    QLabel* title_ = nullptr;
    QLabel* info_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLineEdit* input_ = nullptr;
    QLineEdit* output_ = nullptr;
    QPushButton* browseInput_ = nullptr;
    QPushButton* browseOutput_ = nullptr;
    QCheckBox* quality_ = nullptr;
    QCheckBox* intensity_ = nullptr;
    QCheckBox* monitorBox_ = nullptr;
    QCheckBox* library_ = nullptr;
    QCheckBox* vbr_ = nullptr;
    QSlider* vbrQuality_ = nullptr;
    QLabel* smaller_ = nullptr;
    QLabel* higher_ = nullptr;
    QComboBox* modes_ = nullptr;
    QComboBox* parameters_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* directory_ = nullptr;
    QPushButton* volume_ = nullptr;
    QPushButton* helpButton_ = nullptr;
    QPointer<VolumePanel> volumePanel_;
};

}  // namespace veloraplay

#pragma once
// The player's main window: it plays the files of its own command line and of every later
// start's hand-over through the playback controller, shows what the worker reports (state,
// time, format, stream kind, position), and decodes a compressed file to a WAVE file with
// the progress dialog.
#include "DialogService.h"
#include "HelpTopics.h"
#include "MessageQueue.h"
#include "SettingsStore.h"
#include "Velorawrap.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

namespace veloraplay {

class PositionSlider;
class ProgressDialog;

// The player window's command ids.
inline constexpr uintptr_t kCommandWriteDecoded = 67;

class PlayerWindow final : public QWidget {
  public:
    PlayerWindow(SettingsStore& settings, HelpTopics& help, const std::string& startCommandLine,
                 MessageQueue& queue, DialogService& dialogs);
    ~PlayerWindow() override;

    void handle(const Message& message);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void openCommandLine(const std::string& text, bool handedOver);
    void bringToFront();
    void playRequest(std::size_t index);
    void play();
    void togglePause();
    void stop();
    void writeDecodedFile();
    void command(uintptr_t id);
    void notify(uintptr_t code, intptr_t value);
    void showState(intptr_t state);
    void showFormat();
    void showElapsed();
    void showPosition(intptr_t percent);
    void updateButtons();
    void closeProgress();
    // A Stop or Next the worker posted belongs to the run now going, not to one stopped since.
    bool fromCurrentRun() const { return runsEnded_ + 1 == runsStarted_; }
    // The controller started a run (false when it refused to).
    void started();

    SettingsStore& settings_;
    HelpTopics& help_;
    MessageQueue& queue_;
    DialogService& dialogs_;
    Velorawrap wrap_;
    std::array<int32_t, 11> values_{};  // the settings table's values, in table order

    std::vector<std::string> requests_;  // every file asked for, in order
    std::size_t current_ = 0;            // the one set in the controller
    bool haveFile_ = false;
    bool waveFile_ = false;
    bool decoding_ = false;  // the run going (or last) decodes to a file
    unsigned long runsStarted_ = 0;
    unsigned long runsEnded_ = 0;
    intptr_t state_ = notify::kStopped;
    intptr_t channels_ = 0;
    intptr_t sampleRate_ = 0;
    intptr_t bitrate_ = 0;
    bool haveFormat_ = false;
    long long elapsedMs_ = 0;  // the time shown when the clock last started or stopped
    QElapsedTimer clock_;      // runs while playing
    QTimer tick_;

    QLabel* title_ = nullptr;
    QLabel* detail_ = nullptr;
    QLabel* streamKind_ = nullptr;
    QLabel* stateLabel_ = nullptr;
    QLabel* elapsed_ = nullptr;
    QLabel* format_ = nullptr;
    QLabel* note_ = nullptr;
    PositionSlider* position_ = nullptr;
    QListWidget* list_ = nullptr;
    QPushButton* playButton_ = nullptr;
    QPushButton* pauseButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* writeButton_ = nullptr;
    ProgressDialog* progress_ = nullptr;
    bool closing_ = false;
};

}  // namespace veloraplay

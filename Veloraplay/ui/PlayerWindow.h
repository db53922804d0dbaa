#pragma once
// The player's main window. For now it shows what it was asked to play: the files of its
// own command line and of every later start's hand-over, the first of them on the display.
#include "HelpTopics.h"
#include "MessageQueue.h"
#include "SettingsStore.h"

#include <QWidget>
#include <array>
#include <cstdint>

class QLabel;
class QListWidget;

namespace veloraplay {

class PlayerWindow final : public QWidget {
  public:
    PlayerWindow(SettingsStore& settings, HelpTopics& help, const std::string& startCommandLine,
                 MessageQueue& queue);

    void handle(const Message& message);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void openCommandLine(const std::string& text, bool handedOver);
    void bringToFront();

    SettingsStore& settings_;
    HelpTopics& help_;
    std::array<int32_t, 11> values_{};  // the settings table's values, in table order
    QLabel* title_ = nullptr;
    QLabel* detail_ = nullptr;
    QListWidget* requests_ = nullptr;
    bool closing_ = false;
};

}  // namespace veloraplay

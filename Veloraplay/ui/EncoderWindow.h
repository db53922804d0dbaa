#pragma once
// The stand-alone encoder window of a "/ENCODE" start. For now it shows the input file it
// was given.
#include "HelpTopics.h"

#include <QWidget>

namespace veloraplay {

class EncoderWindow final : public QWidget {
  public:
    EncoderWindow(int skinType, const std::string& inputFile, HelpTopics& help);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    HelpTopics& help_;
};

}  // namespace veloraplay

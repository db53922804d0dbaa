#pragma once
// The about box: the product name, the version line, the credits and three logo buttons
// that open the project's web pages.
#include "WebLink.h"

#include <QDialog>

namespace veloraplay {

class AboutDialog final : public QDialog {
  public:
    explicit AboutDialog(WebLink& link, QWidget* parent = nullptr);
};

}  // namespace veloraplay

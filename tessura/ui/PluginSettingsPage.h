#pragma once
// An output plug-in's own settings page, shown from its control records: labels, sliders and
// lists in the order the plug-in gives them, driven through the page's handler (opened, each
// change, closed) and the screen's request function. The plug-in owns the page and frees it
// when it is told the page closed; the dialog never touches it after that.
#include "TessuraPluginAbi.h"

#include <QDialog>
#include <map>

namespace tessura::ui {

class PluginSettingsPage final : public QDialog {
  public:
    PluginSettingsPage(SettingsPage* page, const QString& title, const QString& closeText, QWidget* parent = nullptr);
    ~PluginSettingsPage() override;

    // The widget of control number `control` (QLabel, QSlider or QComboBox), for the tests.
    QWidget* control(int32_t control) const;

  protected:
    void done(int result) override;

  private:
    static intptr_t request(SettingsPage* page, int32_t control, int32_t request, intptr_t value);
    intptr_t handleRequest(int32_t control, int32_t request, intptr_t value);
    void closePage();

    SettingsPage* page_;
    std::map<int32_t, QWidget*> controls_;
    bool opened_ = false;
};

}  // namespace tessura::ui

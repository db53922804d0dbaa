#pragma once
// The volume panel: a small frameless popup with a vertical volume slider and a Mute box,
// opened on the pointer and gone as soon as the user clicks elsewhere. The panel saves its
// state when it closes; a panel object can be popped up again and then starts from the
// settings as they are at that moment.
#include "SettingsStore.h"
#include "VolumePanelModel.h"

#include <QWidget>
#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QSlider;

namespace veloraplay {

class VolumePanel final : public QWidget {
  public:
    // setVolume: called with the device volume (0..100) on every slider move and Mute toggle.
    // closed: called once after each closing, when the settings are written.
    VolumePanel(SettingsStore& settings, std::function<void(int)> setVolume,
                std::function<void()> closed, QWidget* parent = nullptr);
    ~VolumePanel() override;

    // Opens centred on the pointer, inside the screen under it. An open panel only moves.
    void popUpAt(const QPoint& globalPointer);

    bool isOpen() const { return model_.has_value(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void showLevel();
    // Writes the settings once per opening; true when this call did it.
    bool finish();

    SettingsStore& settings_;
    std::function<void(int)> setVolume_;
    std::function<void()> closed_;
    std::optional<VolumePanelModel> model_;  // while open
    QSlider* slider_ = nullptr;
    QCheckBox* mute_ = nullptr;
    QLabel* readout_ = nullptr;
};

}  // namespace veloraplay

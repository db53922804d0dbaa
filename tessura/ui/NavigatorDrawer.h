#pragma once
// The navigator's drawer: it slides out under the window from behind its pull tab and holds the
// equaliser's twenty sliders with their curve, the preset choice, the on/off lamp, "save preset"
// and the three small knobs (amplifier, balance, pitch). It also draws the equaliser page of
// the navigator's display. What the controls mean is EqualiserPanel's; this draws them from
// the skin and turns pointer and keys into its calls.
#include "EqualiserPanel.h"
#include "SkinFace.h"

#include <QPainter>
#include <QRegion>
#include <functional>
#include <optional>
#include <string>

namespace tessura::ui {

class NavigatorDrawer {
  public:
    // `askName` puts up the "Enter Preset Name" question; nothing = cancelled.
    NavigatorDrawer(WindowPlayer& player, std::function<std::optional<std::string>()> askName)
        : player_(player), panel_(player), askName_(std::move(askName)) {}

    EqualiserPanel& panel() { return panel_; }

    // Open or closed as the user left it; the slide runs in frames (advance()).
    bool open() const { return open_; }
    void setOpen(bool open);
    void toggle() { setOpen(!open_); }
    // One display frame of the slide; true when the drawer moved.
    bool advance();
    // Out at all (open, or on its way in or out).
    bool showing() const { return open_ || out_ > 0; }
    // Where the drawer is now, in window coordinates, and its shape there (empty when hidden).
    QRect rect(const SkinFace& face) const;
    QRegion shape(const SkinFace& face) const;
    // The window's size with the drawer fully out.
    QRect openRect(const SkinFace& face) const;

    // The keyboard is the drawer's (Left/Right item, Up/Down value, PgUp/PgDn preset,
    // Home/End curve tension, Space on/off, Insert or Return save preset).
    bool focused() const { return focused_; }
    void setFocused(bool focused) { focused_ = focused; }
    bool key(int qtKey);

    // Drawn before the navigator's face, which covers the part still inside the window.
    void paint(QPainter& p, const SkinFace& face);
    // The navigator's equaliser page in `area` of the display.
    void paintPage(QPainter& p, const SkinFace& face, const QRect& area);

    // A press in the drawer (or, with `page`, on the equaliser page); true when it was theirs.
    bool press(const SkinFace& face, QPoint at, const QRect* page);
    void move(QPoint at);
    void release();
    bool dragging() const { return panel_.dragging(); }
    bool wheel(const SkinFace& face, QPoint at, int steps);

    // The equaliser geometry of the drawer's sliders and of the page's curve.
    EqGeometry sliderGeometry(const SkinFace& face) const;
    static EqGeometry pageGeometry(const QRect& area);

    // Parts of the drawer's top strip, in window coordinates (for tests and hits).
    enum class Part { Lamp, PresetBack, Preset, PresetNext, Save };
    QRect partRect(const SkinFace& face, Part part) const;
    QRect knobRect(const SkinFace& face, Knob knob) const;

  private:
    QRect tensionRect(const QRect& area) const;
    std::optional<std::string> askName();

    WindowPlayer& player_;
    EqualiserPanel panel_;
    std::function<std::optional<std::string>()> askName_;
    bool open_ = false;
    bool focused_ = false;
    int out_ = 0;  // how far out, in steps of the slide: 0 in, kSlideSteps fully out
    static constexpr int kSlideSteps = 5;
};

}  // namespace tessura::ui

#pragma once
// What the equaliser panel and the navigator's drawer decide: where the twenty bands sit and how
// their curve runs, what a point in the panel means, how a drag spreads to the neighbouring
// bands, the preset choice and the three small knobs (amplifier, balance, pitch). The drawing
// is the window's; every rule is here so it is tested without one.
#include "PlayerActions.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tessura::ui {

inline constexpr int kEqBands = 20;
inline constexpr double kEqMin = 0.0, kEqFlat = 1.0, kEqMax = 2.0;
inline constexpr double kEqKeyStep = 0.05;
using EqGains = std::array<double, kEqBands>;

double ClampGain(double value);

// Where the bands sit, in window pixels: band 0's centre at x0, one band every `pitch` pixels
// (13 on the equaliser page, the skin's slider pitch in the drawer); kEqMax at `top`, kEqMin
// `height` pixels below it.
struct EqGeometry {
    double x0 = 0, pitch = 13, top = 0, height = 40;
    double bandX(int band) const { return x0 + pitch * band; }
    double valueY(double value) const;
    double valueAt(double y) const;  // clamped to the range
    double right() const { return bandX(kEqBands - 1); }
};

// The curve's value at `position` (in bands, 0 … 19): each segment a cubic through its two band
// values with cardinal tangents from their neighbours, (1 - tension) × half the difference of
// the values either side; tension 0 is the loosest (Catmull-Rom), 1 flattens every band into
// a step with level shoulders. The ends repeat their band. Clamped to the range.
double CurveValue(const EqGains& gains, double tension, double position);
// One point per pixel from band 0 to band 19.
struct EqPoint {
    double x, y;
};
std::vector<EqPoint> CurvePoints(const EqGains& gains, double tension, const EqGeometry& g);

// The band under a point and the value the point stands for; nothing outside the panel (more
// than half a pitch beside the outer bands, or more than `slack` pixels above or below).
struct EqHit {
    int band;
    double value;
};
std::optional<EqHit> HitBand(const EqGeometry& g, double x, double y, double slack = 7);

// How much of a dragged band's change its neighbour `distance` bands away takes: ((1 - tension)
// / 2) to the power of the distance, so a tight curve moves one band and a loose one pulls
// a shrinking share of the change into the bands around it.
double SpreadWeight(double tension, int distance);
// `start` with `band` set to `value` and the change spread to the neighbours, clamped.
EqGains DragBand(const EqGains& start, int band, double value, double tension);

// The presets in the order the choice cycles through: None … Dance, Custom, the user presets.
const std::vector<int>& PresetOrder();
int StepPreset(int current, int step);  // wraps; an unknown id counts as None
// Where "save preset" stores: the user preset shown, else the first user preset still under its
// fresh name ("UserPreset%d"), else the first.
int PresetSlotForSave(int current, const std::function<std::string(int)>& presetName);

// The drawer's knobs, 0-65535 each; amplifier and pitch at 32768 are neutral.
enum class Knob { Amplifier, Balance, Pitch };
inline constexpr int kKnobDragStep = 512;   // per pixel of upward drag
inline constexpr int kKnobStep = 2048;      // per wheel notch or key press
uint32_t KnobAfterDrag(uint32_t start, int upward);
uint32_t KnobAfterSteps(uint32_t value, int steps);
int KnobFrame(uint32_t value, int images);  // the strip frame that shows it
const char* KnobStatusKey(Knob knob);       // "nav/amplify", "nav/balance", "nav/pitch"

// The keys the panel takes while it has the keyboard.
enum class PanelKey { Left, Right, Up, Down, PageUp, PageDown, Home, End, Toggle, Save };

// The panel's state across frames: the curve tension, the item the keyboard is on (bands 0-19,
// then the three knobs), the knobs' values and a drag under way. It drives the player.
class EqualiserPanel {
  public:
    static constexpr int kItems = kEqBands + 3;

    explicit EqualiserPanel(WindowPlayer& player) : player_(player) {}

    EqGains gains();
    double tension() const { return tension_; }
    void setTension(double tension);  // 0-1, in tenths
    int focus() const { return focus_; }
    uint32_t knob(Knob k) const;

    // A press at a band of `g`: starts dragging it there (the band takes the value at once).
    bool pressBand(const EqGeometry& g, double x, double y);
    void pressKnob(Knob k, int y);
    void move(double x, double y);
    void release();
    bool dragging() const { return drag_ != Drag::None; }
    void wheelKnob(Knob k, int steps);
    void stepKnob(Knob k, int steps);
    void stepPreset(int step);
    // Asks the name (empty answer: the slot's fresh name) and stores the gains as a user preset.
    void savePreset(const std::function<std::optional<std::string>()>& askName);
    // True when the key was the panel's.
    bool key(PanelKey k, const std::function<std::optional<std::string>()>& askName = {});

  private:
    enum class Drag { None, Band, Knob };
    void setGains(const EqGains& gains);
    void setKnob(Knob k, uint32_t value);

    WindowPlayer& player_;
    double tension_ = 0.5;
    int focus_ = 0;
    std::array<uint32_t, 3> knobs_{32768, 32768, 32768};
    Drag drag_ = Drag::None;
    EqGeometry dragGeometry_;
    EqGains dragStart_{};
    int dragBand_ = 0;
    Knob dragKnob_ = Knob::Amplifier;
    int dragFromY_ = 0;
    uint32_t dragKnobStart_ = 0;
};

}  // namespace tessura::ui

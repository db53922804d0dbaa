#include "EqualiserPanel.h"

#include <algorithm>
#include <cmath>

namespace tessura::ui {

double ClampGain(double value) {
    if (!std::isfinite(value)) return kEqFlat;
    return std::clamp(value, kEqMin, kEqMax);
}

double EqGeometry::valueY(double value) const {
    return top + (kEqMax - ClampGain(value)) / (kEqMax - kEqMin) * height;
}

double EqGeometry::valueAt(double y) const {
    if (height <= 0) return kEqFlat;
    return ClampGain(kEqMax - (y - top) / height * (kEqMax - kEqMin));
}

double CurveValue(const EqGains& gains, double tension, double position) {
    const double t = std::clamp(tension, 0.0, 1.0);
    const double u = std::clamp(position, 0.0, double(kEqBands - 1));
    const int i = std::min(int(u), kEqBands - 2);
    const double s = u - i;
    const auto at = [&](int band) { return gains[std::size_t(std::clamp(band, 0, kEqBands - 1))]; };
    const double p0 = at(i - 1), p1 = at(i), p2 = at(i + 1), p3 = at(i + 2);
    const double m1 = (1 - t) * (p2 - p0) / 2, m2 = (1 - t) * (p3 - p1) / 2;
    // Cubic Hermite basis.
    const double s2 = s * s, s3 = s2 * s;
    const double value = (2 * s3 - 3 * s2 + 1) * p1 + (s3 - 2 * s2 + s) * m1 + (-2 * s3 + 3 * s2) * p2 + (s3 - s2) * m2;
    return ClampGain(value);
}

std::vector<EqPoint> CurvePoints(const EqGains& gains, double tension, const EqGeometry& g) {
    std::vector<EqPoint> points;
    const int pixels = int(std::lround(g.pitch * (kEqBands - 1)));
    points.reserve(std::size_t(std::max(0, pixels)) + 1);
    for (int px = 0; px <= pixels; ++px) {
        const double position = g.pitch > 0 ? px / g.pitch : 0;
        points.push_back({g.x0 + px, g.valueY(CurveValue(gains, tension, position))});
    }
    return points;
}

std::optional<EqHit> HitBand(const EqGeometry& g, double x, double y, double slack) {
    if (g.pitch <= 0 || g.height <= 0) return std::nullopt;
    const int band = int(std::clamp<long>(std::lround((x - g.x0) / g.pitch), 0, kEqBands - 1));
    if (std::abs(x - g.bandX(band)) > g.pitch / 2) return std::nullopt;
    if (y < g.top - slack || y > g.top + g.height + slack) return std::nullopt;
    return EqHit{band, g.valueAt(y)};
}

double SpreadWeight(double tension, int distance) {
    if (distance == 0) return 1.0;
    const double share = (1 - std::clamp(tension, 0.0, 1.0)) / 2;
    return std::pow(share, std::abs(distance));
}

EqGains DragBand(const EqGains& start, int band, double value, double tension) {
    EqGains out = start;
    if (band < 0 || band >= kEqBands) return out;
    const double delta = ClampGain(value) - start[std::size_t(band)];
    for (int j = 0; j < kEqBands; ++j) {
        const double w = SpreadWeight(tension, j - band);
        // Shares below a thousandth of the change are not worth a band of "Custom".
        if (w < 0.001) continue;
        out[std::size_t(j)] = ClampGain(start[std::size_t(j)] + w * delta);
    }
    return out;
}

const std::vector<int>& PresetOrder() {
    static const std::vector<int> order = {0, 1, 2, 3, 4, 5, 6, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109};
    return order;
}

int StepPreset(int current, int step) {
    const std::vector<int>& order = PresetOrder();
    const int n = int(order.size());
    const auto found = std::find(order.begin(), order.end(), current);
    const int at = found == order.end() ? 0 : int(found - order.begin());
    return order[std::size_t(((at + step) % n + n) % n)];
}

int PresetSlotForSave(int current, const std::function<std::string(int)>& presetName) {
    if (current >= 100 && current <= 109) return current;
    for (int id = 100; id <= 109; ++id)
        if (presetName(id) == "UserPreset" + std::to_string(id - 100)) return id;
    return 100;
}

uint32_t KnobAfterDrag(uint32_t start, int upward) {
    return uint32_t(std::clamp<int64_t>(int64_t(start) + int64_t(upward) * kKnobDragStep, 0, 65535));
}

uint32_t KnobAfterSteps(uint32_t value, int steps) {
    return uint32_t(std::clamp<int64_t>(int64_t(value) + int64_t(steps) * kKnobStep, 0, 65535));
}

int KnobFrame(uint32_t value, int images) {
    if (images <= 1) return 0;
    return int((uint64_t(std::min<uint32_t>(value, 65535)) * uint64_t(images - 1) + 32767) / 65535);
}

const char* KnobStatusKey(Knob knob) {
    switch (knob) {
        case Knob::Amplifier: return "nav/amplify";
        case Knob::Balance: return "nav/balance";
        case Knob::Pitch: return "nav/pitch";
    }
    return "";
}

// -- the panel --------------------------------------------------------------------------------

EqGains EqualiserPanel::gains() {
    EqGains out{};
    for (int band = 0; band < kEqBands; ++band) out[std::size_t(band)] = player_.bandGain(band);
    return out;
}

void EqualiserPanel::setTension(double tension) {
    tension_ = std::clamp(std::round(tension * 10) / 10, 0.0, 1.0);
}

uint32_t EqualiserPanel::knob(Knob k) const {
    if (k == Knob::Balance) return player_.balance();
    return knobs_[std::size_t(k)];
}

void EqualiserPanel::setGains(const EqGains& wanted) {
    const EqGains now = gains();
    for (int band = 0; band < kEqBands; ++band)
        if (wanted[std::size_t(band)] != now[std::size_t(band)]) player_.setBandGain(band, wanted[std::size_t(band)]);
}

void EqualiserPanel::setKnob(Knob k, uint32_t value) {
    knobs_[std::size_t(k)] = value;
    switch (k) {
        case Knob::Amplifier: player_.setAmplifierKnob(value); break;
        case Knob::Balance: player_.setBalance(value); break;
        case Knob::Pitch: player_.setPitchKnob(value); break;
    }
}

bool EqualiserPanel::pressBand(const EqGeometry& g, double x, double y) {
    const std::optional<EqHit> hit = HitBand(g, x, y);
    if (!hit) return false;
    drag_ = Drag::Band;
    dragGeometry_ = g;
    dragStart_ = gains();
    dragBand_ = hit->band;
    focus_ = hit->band;
    setGains(DragBand(dragStart_, dragBand_, hit->value, tension_));
    return true;
}

void EqualiserPanel::pressKnob(Knob k, int y) {
    drag_ = Drag::Knob;
    dragKnob_ = k;
    dragFromY_ = y;
    dragKnobStart_ = knob(k);
    focus_ = kEqBands + int(k);
    player_.target().showStatus(player_.text(KnobStatusKey(k)));
}

void EqualiserPanel::move(double x, double y) {
    (void)x;  // a band keeps its column while dragged, wherever the pointer strays
    switch (drag_) {
        case Drag::Band:
            setGains(DragBand(dragStart_, dragBand_, dragGeometry_.valueAt(y), tension_));
            break;
        case Drag::Knob: {
            const uint32_t value = KnobAfterDrag(dragKnobStart_, dragFromY_ - int(std::lround(y)));
            if (value != knob(dragKnob_)) setKnob(dragKnob_, value);
            break;
        }
        case Drag::None: break;
    }
}

void EqualiserPanel::release() { drag_ = Drag::None; }

void EqualiserPanel::wheelKnob(Knob k, int steps) {
    focus_ = kEqBands + int(k);
    stepKnob(k, steps);
}

void EqualiserPanel::stepKnob(Knob k, int steps) {
    const uint32_t value = KnobAfterSteps(knob(k), steps);
    if (value != knob(k)) setKnob(k, value);
}

void EqualiserPanel::stepPreset(int step) {
    player_.selectPreset(StepPreset(player_.equaliserPreset(), step));
}

void EqualiserPanel::savePreset(const std::function<std::optional<std::string>()>& askName) {
    if (!askName) return;
    const std::optional<std::string> name = askName();
    if (!name) return;  // cancelled
    const int slot = PresetSlotForSave(player_.equaliserPreset(), [this](int id) { return player_.presetName(id); });
    player_.saveUserPreset(slot, *name);
}

bool EqualiserPanel::key(PanelKey k, const std::function<std::optional<std::string>()>& askName) {
    const bool onKnob = focus_ >= kEqBands;
    const Knob knobAt = onKnob ? Knob(focus_ - kEqBands) : Knob::Amplifier;
    switch (k) {
        case PanelKey::Left: focus_ = std::max(0, focus_ - 1); return true;
        case PanelKey::Right: focus_ = std::min(kItems - 1, focus_ + 1); return true;
        case PanelKey::Up:
        case PanelKey::Down: {
            const int sign = k == PanelKey::Up ? 1 : -1;
            if (onKnob) {
                stepKnob(knobAt, sign);
            } else {
                const EqGains start = gains();
                // Keys move one band: the curve's tension is for what a drag pulls along.
                EqGains next = start;
                next[std::size_t(focus_)] =
                    ClampGain(std::round((start[std::size_t(focus_)] + sign * kEqKeyStep) / kEqKeyStep) * kEqKeyStep);
                setGains(next);
            }
            return true;
        }
        case PanelKey::PageUp: stepPreset(-1); return true;
        case PanelKey::PageDown: stepPreset(1); return true;
        case PanelKey::Home: setTension(tension_ - 0.1); return true;
        case PanelKey::End: setTension(tension_ + 0.1); return true;
        case PanelKey::Toggle: player_.setEqualiserOn(!player_.equaliserOn()); return true;
        case PanelKey::Save: savePreset(askName); return true;
    }
    return false;
}

}  // namespace tessura::ui

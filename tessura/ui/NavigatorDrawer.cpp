#include "NavigatorDrawer.h"

#include "SkinSheets.h"

#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace tessura::ui {

namespace {

QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

constexpr Knob kKnobs[3] = {Knob::Amplifier, Knob::Balance, Knob::Pitch};
constexpr const char* kKnobRegions[3] = {"/rgn/nav/dknobamp", "/rgn/nav/dknobbal", "/rgn/nav/dknobpitch"};

QPolygonF curvePolygon(const EqGains& gains, double tension, const EqGeometry& g) {
    QPolygonF line;
    for (const EqPoint& pt : CurvePoints(gains, tension, g)) line << QPointF(pt.x, pt.y);
    return line;
}

// A small triangle pointing left (-1) or right (+1) in `r`.
void arrow(QPainter& p, const QRect& r, int direction, const QColor& colour) {
    const QPointF c = QRectF(r).center();
    QPainterPath path;
    path.moveTo(c.x() + 3.0 * direction, c.y());
    path.lineTo(c.x() - 2.0 * direction, c.y() - 3.5);
    path.lineTo(c.x() - 2.0 * direction, c.y() + 3.5);
    path.closeSubpath();
    p.fillPath(path, colour);
}

}  // namespace

void NavigatorDrawer::setOpen(bool open) {
    open_ = open;
    if (!open_) focused_ = false;
}

bool NavigatorDrawer::advance() {
    const int target = open_ ? kSlideSteps : 0;
    if (out_ == target) return false;
    out_ += out_ < target ? 1 : -1;
    return true;
}

QRect NavigatorDrawer::openRect(const SkinFace& face) const {
    const QRect r = face.bounds("/rgn/nav/drawer");
    if (!r.isEmpty()) return r;
    const SkinPoint at = face.description().locations.drawerPos;
    return QRect(at.x, at.y, 320, 80);
}

QRect NavigatorDrawer::rect(const SkinFace& face) const {
    if (!showing()) return {};
    // Fully in, the drawer sits the skin's slide distance up, behind the window's body.
    const SkinMiscValues& v = face.description().values;
    const int in = kSlideSteps - out_;
    return openRect(face).translated(-v.drawerDistanceToSlideX * in / kSlideSteps,
                                     -v.drawerDistanceToSlideY * in / kSlideSteps);
}

QRegion NavigatorDrawer::shape(const SkinFace& face) const {
    if (!showing()) return {};
    const QRect now = rect(face);
    const QRegion& r = face.region("/rgn/nav/drawer");
    return (r.isEmpty() ? QRegion(now) : r).translated(now.topLeft() - openRect(face).topLeft());
}

EqGeometry NavigatorDrawer::sliderGeometry(const SkinFace& face) const {
    const SkinMiscValues& v = face.description().values;
    const QRect d = showing() ? rect(face) : openRect(face);
    EqGeometry g;
    g.x0 = d.x() + v.drawerSliderArrayPos.x + v.drawerSliderSize.x / 2.0;
    g.pitch = v.drawerSliderPitch;
    g.top = d.y() + v.drawerSliderArrayPos.y + v.drawerSliderHandleSize.y / 2.0;
    g.height = std::max(1, v.drawerSliderSize.y - v.drawerSliderHandleSize.y);
    return g;
}

EqGeometry NavigatorDrawer::pageGeometry(const QRect& area) {
    EqGeometry g;
    g.pitch = 13;  // the equaliser panel's own spacing
    g.x0 = area.x() + (area.width() - g.pitch * (kEqBands - 1)) / 2.0;
    g.top = area.y() + 17;
    g.height = std::max(8, area.height() - 21);
    return g;
}

QRect NavigatorDrawer::knobRect(const SkinFace& face, Knob knob) const {
    const QRect d = showing() ? rect(face) : openRect(face);
    return face.bounds(kKnobRegions[int(knob)]).translated(d.topLeft() - openRect(face).topLeft());
}

QRect NavigatorDrawer::partRect(const SkinFace& face, Part part) const {
    const SkinMiscValues& v = face.description().values;
    const QRect open = openRect(face);
    const QRect d = showing() ? rect(face) : open;
    // The strip between the window's lower edge (which covers the drawer's top) and the sliders.
    const int covered = std::clamp(face.bounds("/rgn/nav/frame").bottom() + 1 - open.y(), 2, 12);
    const int top = covered, height = std::max(9, v.drawerSliderArrayPos.y - 1 - covered);
    const int left = v.drawerSliderArrayPos.x;
    const int right = face.bounds("/rgn/nav/dknobamp").isEmpty()
                          ? open.width() - 8
                          : face.bounds("/rgn/nav/dknobamp").x() - open.x() - 6;
    QRect r;
    switch (part) {
        case Part::Lamp: r = QRect(left, top, 26, height); break;
        case Part::PresetBack: r = QRect(left + 30, top, 12, height); break;
        case Part::Preset: r = QRect(left + 42, top, 116, height); break;
        case Part::PresetNext: r = QRect(left + 158, top, 12, height); break;
        case Part::Save: r = QRect(right - 92, top, 92, height); break;
    }
    return r.translated(d.topLeft());
}

QRect NavigatorDrawer::tensionRect(const QRect& area) const {
    return QRect(area.right() - 64, area.y() + 3, 60, 7);
}

std::optional<std::string> NavigatorDrawer::askName() {
    if (!askName_) return std::nullopt;
    return askName_();
}

// -- drawing ----------------------------------------------------------------------------------

void NavigatorDrawer::paint(QPainter& p, const SkinFace& face) {
    if (!showing()) return;
    const SkinDescription& d = face.description();
    const SkinMiscValues& v = d.values;
    const QRect r = rect(face);
    p.save();
    p.setClipRegion(shape(face));
    const QImage& misc = face.image("/jpeg/misc");
    p.drawImage(r, misc, QRect(QPoint(d.locations.drawer.x, d.locations.drawer.y), r.size()));

    // The curve through the sliders' handles, under them.
    const EqGains gains = panel_.gains();
    const EqGeometry g = sliderGeometry(face);
    const QColor curve = SkinFace::colour(d.colours.systemColor1);
    QColor glow = curve;
    glow.setAlpha(70);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(glow, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(curvePolygon(gains, panel_.tension(), g));
    p.setPen(QPen(curve, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(curvePolygon(gains, panel_.tension(), g));

    const QImage& glyphs = face.image("/jpeg/navitem1");
    const int hw = v.drawerSliderHandleSize.x, hh = v.drawerSliderHandleSize.y;
    for (int band = 0; band < kEqBands; ++band) {
        const bool lit = (focused_ || panel_.dragging()) && panel_.focus() == band;
        const QPoint at(int(std::lround(g.bandX(band) - hw / 2.0)),
                        int(std::lround(g.valueY(gains[std::size_t(band)]) - hh / 2.0)));
        p.drawImage(QRect(at, QSize(hw, hh)), glyphs,
                    QRect(lit ? sheets::kHandleWidth + 1 : 0, sheets::kHandleRow, sheets::kHandleWidth,
                          sheets::kHandleHeight));
    }

    // The three small knobs.
    const SkinColour rings[3] = {d.colours.ampKnobColor, d.colours.balKnobColor, d.colours.pitchKnobColor};
    for (int i = 0; i < 3; ++i) {
        const QRect k = knobRect(face, kKnobs[i]);
        face.knob(p, "/jpeg/smallknob", v.smallKnob, KnobFrame(panel_.knob(kKnobs[i]), v.smallKnob.images), k);
        if (focused_ && panel_.focus() == kEqBands + i) {
            p.setPen(QPen(SkinFace::colour(rings[i]), 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(k).adjusted(-3.5, -3.5, 3.5, 3.5));
        }
    }

    // The top strip: the lamp, the preset choice and "save preset".
    const QColor text = SkinFace::colour(d.colours.statusBarTextColor);
    const QColor lit = SkinFace::colour(d.colours.systemColor2);
    const bool on = player_.equaliserOn();
    QColor well = SkinFace::colour(d.colours.statusBarBgColor);
    well.setAlpha(150);
    {
        // The on/off lamp: a light in a small well, and its label.
        const QRectF lampRect = QRectF(partRect(face, Part::Lamp)).adjusted(0.5, 0.5, -0.5, -0.5);
        p.setPen(QPen(text, 0.6));
        p.setBrush(well);
        p.drawRoundedRect(lampRect, lampRect.height() / 2, lampRect.height() / 2);
        const QPointF light(lampRect.x() + lampRect.height() / 2 + 0.5, lampRect.center().y());
        const QColor lightColour = on ? SkinFace::colour(d.colours.systemColor1) : SkinFace::colour(d.colours.statusBarFgColor);
        if (on) {
            QRadialGradient glowing(light, 5);
            QColor halo = lightColour;
            halo.setAlpha(120);
            glowing.setColorAt(0, halo);
            halo.setAlpha(0);
            glowing.setColorAt(1, halo);
            p.setPen(Qt::NoPen);
            p.setBrush(glowing);
            p.drawEllipse(light, 5, 5);
        }
        p.setPen(Qt::NoPen);
        p.setBrush(lightColour);
        p.drawEllipse(light, 2.5, 2.5);
        face.text(p, lampRect.toAlignedRect().adjusted(int(lampRect.height()) - 4, 0, 2, 0),
                  fromUtf8(player_.text("eq/lamp_text")), 8, on ? lit : text, Qt::AlignCenter);
    }
    arrow(p, partRect(face, Part::PresetBack), -1, text);
    arrow(p, partRect(face, Part::PresetNext), 1, text);
    const QRect preset = partRect(face, Part::Preset);
    p.setPen(Qt::NoPen);
    p.setBrush(well);
    p.drawRoundedRect(QRectF(preset).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    face.text(p, preset, fromUtf8(player_.presetName(player_.equaliserPreset())), 9, on ? lit : text,
              Qt::AlignCenter);
    const QRect save = partRect(face, Part::Save);
    p.setBrush(well);
    p.setPen(QPen(text, 0.8));
    p.drawRoundedRect(QRectF(save).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    face.text(p, save, fromUtf8(player_.text("eq/savepreset_text")), 9, text, Qt::AlignCenter);
    if (focused_) {
        // The keyboard's cue: the strip's preset well edged in the lit colour.
        p.setPen(QPen(lit, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(preset).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    }
    p.restore();
}

void NavigatorDrawer::paintPage(QPainter& p, const SkinFace& face, const QRect& area) {
    const SkinDescription& d = face.description();
    const QColor text = SkinFace::colour(d.colours.statusBarTextColor);
    const QColor lit = SkinFace::colour(d.colours.systemColor2);
    const QColor dim = SkinFace::colour(d.colours.statusBarFgColor);
    const bool on = player_.equaliserOn();
    // The heading row: on or off, the preset, the curve tension.
    const QString state = fromUtf8(player_.text(on ? "main/eqenabled" : "main/eqdisabled"));
    face.text(p, QRect(area.x(), area.y(), 96, 12), state, 10, on ? lit : text);
    face.text(p, QRect(area.x() + 92, area.y(), 100, 12), fromUtf8(player_.presetName(player_.equaliserPreset())),
              10, lit);
    const QRect bar = tensionRect(area);
    face.text(p, QRect(bar.x() - 84, area.y(), 84, 12), fromUtf8(player_.text("eq/splinetension_text")), 9, text,
              Qt::AlignRight | Qt::AlignVCenter);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(dim, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(bar).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    p.fillRect(QRectF(bar.x() + 1.5, bar.y() + 1.5, (bar.width() - 3) * panel_.tension(), bar.height() - 3), text);

    // The curve: the flat line, the band columns, the curve and a handle at each band.
    const EqGeometry g = pageGeometry(area);
    const EqGains gains = panel_.gains();
    p.setPen(QPen(dim, 1, Qt::DotLine));
    p.drawLine(QPointF(g.x0 - 6, g.valueY(kEqFlat)), QPointF(g.right() + 6, g.valueY(kEqFlat)));
    for (int band = 0; band < kEqBands; ++band) {
        p.setPen(QPen(dim, 1));
        p.drawLine(QPointF(g.bandX(band), g.top), QPointF(g.bandX(band), g.top + g.height));
    }
    p.setPen(QPen(on ? SkinFace::colour(d.colours.systemColor1) : text, 1.4, Qt::SolidLine, Qt::RoundCap,
                  Qt::RoundJoin));
    p.drawPolyline(curvePolygon(gains, panel_.tension(), g));
    for (int band = 0; band < kEqBands; ++band) {
        const bool current = (focused_ || panel_.dragging()) && panel_.focus() == band;
        p.setPen(Qt::NoPen);
        p.setBrush(current ? lit : text);
        p.drawEllipse(QPointF(g.bandX(band), g.valueY(gains[std::size_t(band)])), current ? 3.0 : 2.0,
                      current ? 3.0 : 2.0);
    }
    p.restore();
}

// -- input ------------------------------------------------------------------------------------

bool NavigatorDrawer::press(const SkinFace& face, QPoint at, const QRect* page) {
    if (page != nullptr) {
        if (tensionRect(*page).adjusted(-2, -3, 2, 3).contains(at)) {
            const QRect bar = tensionRect(*page);
            panel_.setTension(double(at.x() - bar.x()) / std::max(1, bar.width() - 1));
            return true;
        }
        if (panel_.pressBand(pageGeometry(*page), at.x(), at.y())) return true;
    }
    if (!showing() || !shape(face).contains(at)) return false;
    focused_ = true;
    for (int i = 0; i < 3; ++i)
        if (face.region(kKnobRegions[i]).translated(knobRect(face, kKnobs[i]).topLeft() -
                                                     face.bounds(kKnobRegions[i]).topLeft())
                .contains(at)) {
            panel_.pressKnob(kKnobs[i], at.y());
            return true;
        }
    if (partRect(face, Part::Lamp).contains(at)) panel_.key(PanelKey::Toggle);
    else if (partRect(face, Part::PresetBack).contains(at)) panel_.stepPreset(-1);
    else if (partRect(face, Part::Preset).contains(at) || partRect(face, Part::PresetNext).contains(at))
        panel_.stepPreset(1);
    else if (partRect(face, Part::Save).contains(at)) panel_.savePreset([this] { return askName(); });
    else panel_.pressBand(sliderGeometry(face), at.x(), at.y());
    return true;  // the drawer's face is not the window's handle
}

void NavigatorDrawer::move(QPoint at) { panel_.move(at.x(), at.y()); }

void NavigatorDrawer::release() { panel_.release(); }

bool NavigatorDrawer::wheel(const SkinFace& face, QPoint at, int steps) {
    if (!showing() || !shape(face).contains(at)) return false;
    for (int i = 0; i < 3; ++i)
        if (knobRect(face, kKnobs[i]).adjusted(-3, -3, 3, 3).contains(at)) {
            panel_.wheelKnob(kKnobs[i], steps);
            return true;
        }
    if (const std::optional<EqHit> hit = HitBand(sliderGeometry(face), at.x(), at.y())) {
        const EqGains start = panel_.gains();
        player_.setBandGain(hit->band, ClampGain(start[std::size_t(hit->band)] + steps * kEqKeyStep));
    }
    return true;
}

bool NavigatorDrawer::key(int qtKey) {
    PanelKey k;
    switch (qtKey) {
        case Qt::Key_Left: k = PanelKey::Left; break;
        case Qt::Key_Right: k = PanelKey::Right; break;
        case Qt::Key_Up: k = PanelKey::Up; break;
        case Qt::Key_Down: k = PanelKey::Down; break;
        case Qt::Key_PageUp: k = PanelKey::PageUp; break;
        case Qt::Key_PageDown: k = PanelKey::PageDown; break;
        case Qt::Key_Home: k = PanelKey::Home; break;
        case Qt::Key_End: k = PanelKey::End; break;
        case Qt::Key_Space: k = PanelKey::Toggle; break;
        case Qt::Key_Insert:
        case Qt::Key_Return:
        case Qt::Key_Enter: k = PanelKey::Save; break;
        default: return false;
    }
    return panel_.key(k, [this] { return askName(); });
}

}  // namespace tessura::ui

#pragma once
// The player window's two skins, drawn as vectors so that they stay sharp at any pixel ratio:
// where each control sits, the body (and the extended panel) behind them, and the button faces.
// Skin 0 is "Brushed Metal", skin 1 "Oceanic".
#include "PlayerSettings.h"

#include <QColor>
#include <QIcon>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <vector>

class QPainter;

namespace veloraplay {

enum class ButtonLook { Normal, Hover, Pressed, Disabled };

struct SkinButtonPlace {
    int id;
    QRect rect;
};

struct SkinLayout {
    QSize body;               // client size in the basic view (caption-less client area)
    int extendedHeight = 0;   // extra height below the body in the extended view (skin 0 only)
    QRect display;            // the status display
    QRect position;           // the position slider
    QRect volume;             // skin 1: the horizontal volume slider; empty in skin 0
    QRect handle;             // skin 0: the extended panel's handle (client coords); empty in skin 1
    QPoint firstBand;         // skin 0: top-left of the first band control in the extended view
    QSize band;               // one band control's size; the controls sit kBandStep apart in x
    std::vector<SkinButtonPlace> buttons;  // 1000 and 1001 share one place

    static constexpr int kBandStep = 25;
    // The place of button `id`, or an empty rect when the skin has none.
    QRect button(int id) const;
    // The band control `band` (0..7) in client coords of the extended view; empty in skin 1.
    QRect bandRect(int band) const;
    // The extended panel below the body (empty in skin 1).
    QRect extendedPanel() const;
};

inline constexpr int kSkinCount = 2;  // skins kSkinBrushedMetal (0) and kSkinOceanic (1)

// An unknown skin number counts as skin 1, the default.
const SkinLayout& skinLayout(int skin);
// "Brushed Metal" or "Oceanic".
QString skinName(int skin);

// The client area's background: the body, and the extended panel below it when `extended`.
void paintSkinBackground(QPainter& painter, int skin, bool extended);
// One button's face; `on` selects the enhancement button's on/off picture (1008).
void paintSkinButton(QPainter& painter, const QRect& rect, int skin, int id, ButtonLook look, bool on);
// The picture names of the enhancement button in skin 0: "PLUSU" when on, "PLUSD" when off.
QString enhancementPicture(bool on);

QIcon applicationIcon();  // the window icon, several sizes

// The colours the skinned controls take from their skin.
struct SkinPalette {
    QColor lcdTop, lcdBottom, lcdFrame;  // the display's glass
    QColor lit, ghost, dim;              // lit segment, unlit segment, dim text
    QColor grooveTop, grooveBottom, grooveEdge;
    QColor fillTop, fillBottom;          // the played part of a slider track
    QColor knobLight, knobMid, knobDark, knobEdge;
};
const SkinPalette& skinPalette(int skin);

}  // namespace veloraplay

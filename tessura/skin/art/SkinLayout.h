#pragma once
// Where the controls of each window mode sit in the project's skins (pixels at 1x, window
// coordinates). The default skin draws its pieces at the built-in "/skin.ini" values, so a skin
// that leaves a mode untouched (Touch...Mode=0) still finds the default skin's images where the
// built-in layout expects them.
#include <QPointF>
#include <QRect>

namespace tessura::art {

struct MidLayout {
    QSize size{320, 130};
    QPointF disc{62, 78};                 // centre of the song and list rings
    double songOuter = 48, songInner = 40, listOuter = 39, listInner = 32, shuttleRadius = 24.5;
    QRect top{112, 0, 200, 22}, logo{118, 3, 86, 17};
    QRect display{118, 26, 192, 34};
    QRect prev{118, 66, 30, 40}, play{150, 66, 40, 40}, pause{192, 66, 40, 40}, next{234, 66, 30, 40};
    QRect eject{268, 68, 40, 35};
    QRect eq{118, 108, 30, 20}, repeat{150, 108, 30, 20}, shuffle{182, 108, 30, 20};
    QRect bottom{214, 108, 72, 20};
    QRect volume{292, 109, 18, 18};
    QPoint msm[5] = {{44, 1}, {55, 3}, {65, 8}, {73, 16}, {79, 26}};  // MSM_ locations
    int msmSize = 9;
};

struct NavLayout {
    QSize size{380, 236};
    QRect logo{18, 8, 100, 20}, title{126, 8, 236, 20};
    QRect display{18, 34, 298, 88};
    QRect tabs{18, 125, 288, 18};
    QRect up{326, 36, 40, 35}, down{326, 82, 40, 35};
    QRect prev{18, 147, 30, 40}, play{52, 147, 40, 40}, pause{96, 147, 40, 40}, stop{140, 147, 40, 40};
    QRect next{184, 147, 30, 40}, eject{218, 149, 40, 35};
    QRect volume{270, 158, 18, 18};
    QRect repeat{300, 147, 30, 20}, shuffle{300, 167, 30, 20}, captions{18, 188, 312, 10};
    QRect status{18, 201, 230, 16}, seek{254, 199, 110, 20};
    QRect drawerTop{150, 221, 80, 15};
    QPoint drawerPos{29, 229};  // DRAWER_POS: where the open drawer sits
    QSize drawer{320, 80};
    QPoint knobs[3] = {{300, 9}, {300, 33}, {300, 57}};  // amp, balance, pitch inside the drawer
    int knobSize = 13;
    QRect sliders{22, 20, 8, 44};  // MISC_DRAWER_SLIDER_ARRAY_POS and _SIZE, 14 apart
};

struct SmallLayout {
    QSize size{300, 60};
    QRect body{0, 16, 300, 28};
    QRect extraTop{196, 0, 96, 17}, extraBottom{8, 43, 120, 17};
    QRect buttons{44, 21, 18, 18};  // prev, play, pause, stop, next, 20 apart
    QRect time{150, 24, 36, 11};
    QRect title{192, 20, 100, 20};
};

inline constexpr QSize kSplashSize{360, 200};
inline constexpr QSize kThumbSize{96, 72};
inline constexpr QSize kMiscSize{320, 156};

}  // namespace tessura::art

// Both skins' artwork and the skinned controls, offscreen: the layouts hold together, the
// pictures change with the keys' states, the band controls take the step a press gives, and
// whole mock windows render at pixel ratios 1 and 2 (saved to $VELORAPLAY_GRAB_DIR if set).
#include "BandMeter.h"
#include "BandMeters.h"
#include "LcdDisplay.h"
#include "MessageQueue.h"
#include "PositionSlider.h"
#include "SkinArt.h"
#include "SkinButton.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>

// The font library keeps a cache it never frees; under the leak checker that is not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace veloraplay {
namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "veloraplay_skin_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return new QApplication(argc, argv);
    }();
    return *app;
}

constexpr int kAllIds[] = {1000, 1001, 1002, 1029, 1003, 1022, 1024, 1013, 1008, 1010};

bool visibleTogether(int a, int b) {
    return !((a == 1000 && b == 1001) || (a == 1001 && b == 1000));
}

// How many different colours an image holds (capped, to stay quick).
int colourCount(const QImage& image) {
    std::set<QRgb> seen;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            seen.insert(image.pixel(x, y));
            if (seen.size() > 64) return 65;
        }
    return static_cast<int>(seen.size());
}

QImage buttonPicture(int skin, int id, ButtonLook look, bool on, double dpr = 1) {
    const QRect place = skinLayout(skin).button(id);
    QImage image(place.size() * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter p(&image);
    paintSkinButton(p, QRect(QPoint(0, 0), place.size()), skin, id, look, on);
    p.end();
    return image;
}

TEST(SkinLayout, EveryPieceSitsInsideTheBodyAndNoTwoKeysOverlap) {
    for (int skin = 0; skin < kSkinCount; ++skin) {
        SCOPED_TRACE(skin);
        const SkinLayout& l = skinLayout(skin);
        const QRect body(QPoint(0, 0), l.body);
        ASSERT_FALSE(body.isEmpty());
        for (const QRect& piece : {l.display, l.position}) {
            EXPECT_FALSE(piece.isEmpty());
            EXPECT_TRUE(body.contains(piece)) << piece.x() << "," << piece.y();
        }
        for (const SkinButtonPlace& a : l.buttons) {
            SCOPED_TRACE(a.id);
            EXPECT_FALSE(a.rect.isEmpty());
            EXPECT_TRUE(body.contains(a.rect));
            for (const QRect& piece : {l.display, l.position, l.volume, l.handle})
                EXPECT_FALSE(a.rect.intersects(piece));
            for (const SkinButtonPlace& b : l.buttons) {
                if (&a == &b) continue;
                EXPECT_NE(a.id, b.id);
                if (visibleTogether(a.id, b.id)) {
                    EXPECT_FALSE(a.rect.intersects(b.rect)) << b.id;
                }
            }
        }
        // Play and Stop take turns in one place.
        EXPECT_EQ(l.button(1000), l.button(1001));
        for (const int id : kAllIds) {
            if (id == 1010) continue;
            EXPECT_FALSE(l.button(id).isEmpty()) << id;
        }
        EXPECT_FALSE(l.display.intersects(l.position));
    }
}

TEST(SkinLayout, BrushedMetalHasTheExtendedPanelAndTheVolumeKey) {
    const SkinLayout& l = skinLayout(kSkinBrushedMetal);
    const QRect body(QPoint(0, 0), l.body);
    EXPECT_EQ(l.buttons.size(), 10u);
    EXPECT_FALSE(l.button(1010).isEmpty());
    EXPECT_TRUE(l.volume.isEmpty());
    ASSERT_GT(l.extendedHeight, 0);
    EXPECT_FALSE(l.handle.isEmpty());
    EXPECT_TRUE(body.contains(l.handle));
    const QRect panel = l.extendedPanel();
    EXPECT_EQ(panel, QRect(0, l.body.height(), l.body.width(), l.extendedHeight));
    EXPECT_EQ(l.band, QSize(20, 34));
    for (int b = 0; b < BandMeters::kBands; ++b) {
        SCOPED_TRACE(b);
        const QRect band = l.bandRect(b);
        EXPECT_EQ(band.topLeft(), l.firstBand + QPoint(25 * b, 0));
        EXPECT_TRUE(panel.contains(band));
        EXPECT_FALSE(band.intersects(l.handle));
        if (b > 0) {
            EXPECT_FALSE(band.intersects(l.bandRect(b - 1)));
        }
    }
    EXPECT_TRUE(l.bandRect(8).isEmpty());
}

TEST(SkinLayout, OceanicHasAVolumeTrackAndNoPanel) {
    const SkinLayout& l = skinLayout(kSkinOceanic);
    EXPECT_EQ(l.buttons.size(), 9u);
    EXPECT_TRUE(l.button(1010).isEmpty());
    EXPECT_FALSE(l.volume.isEmpty());
    EXPECT_TRUE(QRect(QPoint(0, 0), l.body).contains(l.volume));
    EXPECT_FALSE(l.volume.intersects(l.display));
    EXPECT_FALSE(l.volume.intersects(l.position));
    EXPECT_EQ(l.extendedHeight, 0);
    EXPECT_TRUE(l.handle.isEmpty());
    EXPECT_TRUE(l.extendedPanel().isEmpty());
    EXPECT_TRUE(l.bandRect(0).isEmpty());
    // Any other number is the default skin.
    EXPECT_EQ(&skinLayout(7), &l);
    EXPECT_EQ(skinName(0), QStringLiteral("Brushed Metal"));
    EXPECT_EQ(skinName(1), QStringLiteral("Oceanic"));
}

TEST(SkinArt, EveryKeyLooksDifferentPressedDisabledAndHovered) {
    application();
    for (int skin = 0; skin < kSkinCount; ++skin)
        for (const SkinButtonPlace& place : skinLayout(skin).buttons) {
            SCOPED_TRACE(std::to_string(skin) + "/" + std::to_string(place.id));
            const QImage normal = buttonPicture(skin, place.id, ButtonLook::Normal, true);
            EXPECT_GT(colourCount(normal), 8);  // a face with a glyph, not a flat box
            EXPECT_NE(normal, buttonPicture(skin, place.id, ButtonLook::Pressed, true));
            EXPECT_NE(normal, buttonPicture(skin, place.id, ButtonLook::Hover, true));
            EXPECT_NE(normal, buttonPicture(skin, place.id, ButtonLook::Disabled, true));
            // The glyph is there: the key differs from a bare face of its size.
            const QRect r(QPoint(0, 0), place.rect.size());
            QImage bare(r.size(), QImage::Format_ARGB32_Premultiplied);
            bare.fill(Qt::transparent);
            QPainter p(&bare);
            paintSkinButton(p, r, skin, 0, ButtonLook::Normal, true);
            p.end();
            EXPECT_NE(normal, bare);
            // At pixel ratio 2 it is drawn anew, not blown up.
            const QImage big = buttonPicture(skin, place.id, ButtonLook::Normal, true, 2);
            EXPECT_EQ(big.size(), place.rect.size() * 2);
            EXPECT_NE(big, normal.scaled(big.size()));
        }
}

// Every key in every look, one sheet per skin, to look at.
TEST(SkinArt, KeySheets) {
    application();
    const char* dir = std::getenv("VELORAPLAY_GRAB_DIR");
    if (!dir) GTEST_SKIP() << "VELORAPLAY_GRAB_DIR not set";
    for (int skin = 0; skin < kSkinCount; ++skin) {
        const SkinLayout& l = skinLayout(skin);
        const ButtonLook looks[] = {ButtonLook::Normal, ButtonLook::Hover, ButtonLook::Pressed, ButtonLook::Disabled};
        const int cell = 110, row = 32;
        QImage sheet(QSize(8 * cell + 10, static_cast<int>(l.buttons.size()) * row + 10) * 2, QImage::Format_RGB32);
        sheet.setDevicePixelRatio(2);
        QPainter p(&sheet);
        paintSkinBackground(p, skin, false);
        p.fillRect(QRect(0, 0, sheet.width(), sheet.height()), skin == 0 ? QColor(0xb8, 0xbb, 0xbf) : QColor(0x0a, 0x2c, 0x4a));
        int y = 5;
        for (const SkinButtonPlace& place : l.buttons) {
            int x = 5;
            for (const bool on : {true, false})
                for (const ButtonLook look : looks) {
                    paintSkinButton(p, QRect(QPoint(x, y), place.rect.size()), skin, place.id, look, on);
                    x += cell;
                }
            y += row;
        }
        p.end();
        EXPECT_TRUE(sheet.save(QString::fromLocal8Bit(dir) + "/keys-skin" + QString::number(skin) + "@2x.png"));
    }
}

TEST(SkinArt, TheEnhancementKeyShowsItsState) {
    application();
    EXPECT_EQ(enhancementPicture(true), QStringLiteral("PLUSU"));
    EXPECT_EQ(enhancementPicture(false), QStringLiteral("PLUSD"));
    for (int skin = 0; skin < kSkinCount; ++skin)
        for (const ButtonLook look : {ButtonLook::Normal, ButtonLook::Hover, ButtonLook::Pressed}) {
            SCOPED_TRACE(skin);
            EXPECT_NE(buttonPicture(skin, 1008, look, true), buttonPicture(skin, 1008, look, false));
        }
    // Other keys have no on/off picture.
    EXPECT_EQ(buttonPicture(0, 1000, ButtonLook::Normal, true), buttonPicture(0, 1000, ButtonLook::Normal, false));
}

TEST(SkinArt, TheSkinsDifferAndTheBackgroundIsDrawn) {
    application();
    QImage pictures[3];
    for (int i = 0; i < 3; ++i) {
        const int skin = i == 2 ? 1 : 0;
        const bool extended = i == 1;
        const SkinLayout& l = skinLayout(skin);
        QImage& image = pictures[i];
        image = QImage(l.body.width(), l.body.height() + (extended ? l.extendedHeight : 0), QImage::Format_RGB32);
        image.fill(Qt::magenta);
        QPainter p(&image);
        paintSkinBackground(p, skin, extended);
        p.end();
        EXPECT_GT(colourCount(image), 32) << i;
        // Nothing left unpainted.
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3)
                ASSERT_NE(image.pixel(x, y), QColor(Qt::magenta).rgb()) << i << " " << x << "," << y;
    }
    EXPECT_NE(pictures[0].copy(0, 0, 400, 150), pictures[2].copy(0, 0, 400, 150));
    EXPECT_EQ(skinLayout(0).body, QSize(400, 150));
    EXPECT_FALSE(applicationIcon().availableSizes().isEmpty());
    EXPECT_GE(applicationIcon().availableSizes().size(), 4);
    if (const char* dir = std::getenv("VELORAPLAY_GRAB_DIR")) {
        EXPECT_TRUE(applicationIcon().pixmap(64).save(QString::fromLocal8Bit(dir) + "/icon-64.png"));
        EXPECT_TRUE(applicationIcon().pixmap(16).save(QString::fromLocal8Bit(dir) + "/icon-16.png"));
    }
}

void press(QWidget& widget, QPointF at) {
    QMouseEvent down(QEvent::MouseButtonPress, at, widget.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &down);
    QMouseEvent up(QEvent::MouseButtonRelease, at, widget.mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &up);
}

TEST(BandMeter, APressTakesTheStepOfItsHeight) {
    application();
    BandMeter meter(0);
    meter.resize(skinLayout(0).band);
    int reported = -1;
    meter.setStepChanged([&](int step) { reported = step; });
    for (int y = -3; y <= 36; ++y) {
        SCOPED_TRACE(y);
        const int expected = BandMeters::stepForY(y);
        meter.setStep(expected == 3 ? 4 : 3);
        reported = -1;
        press(meter, QPointF(10, y));
        EXPECT_EQ(meter.step(), expected);
        EXPECT_EQ(reported, expected);
    }
    // A disabled control takes no presses.
    meter.setEnabled(false);
    meter.setStep(3);
    press(meter, QPointF(10, 1));
    EXPECT_EQ(meter.step(), 3);
}

TEST(BandMeter, EachStepsMarkerIsDrawnWhereAPressPicksIt) {
    application();
    BandMeter meter(2);
    meter.setSkin(0);
    meter.resize(skinLayout(0).band);
    QImage blank;
    for (int step = 0; step <= BandMeters::kMaxStep; ++step) {
        SCOPED_TRACE(step);
        const double y = BandMeter::markerY(step);
        EXPECT_EQ(BandMeters::stepForY(static_cast<int>(y)), step);
        EXPECT_GE(y, 0);
        EXPECT_LT(y, 34);
        meter.setStep(step);
        QImage image(meter.size(), QImage::Format_RGB32);
        image.fill(Qt::black);
        meter.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        // The pointer at the left edge is the bright marker colour at its height only.
        const QColor at(image.pixel(1, static_cast<int>(y)));
        EXPECT_GT(at.lightness(), 200);
        for (int other = 0; other <= BandMeters::kMaxStep; ++other) {
            if (std::abs(other - step) < 2) continue;
            EXPECT_LT(QColor(image.pixel(1, static_cast<int>(BandMeter::markerY(other)))).lightness(), 120) << other;
        }
    }
    // Levels light cells; a disabled meter is grey.
    QImage dark(meter.size(), QImage::Format_RGB32), lit(meter.size(), QImage::Format_RGB32),
        grey(meter.size(), QImage::Format_RGB32);
    meter.setLevel(0);
    meter.render(&dark);
    meter.setLevel(7);
    meter.render(&lit);
    meter.setEnabled(false);
    meter.render(&grey);
    EXPECT_NE(dark, lit);
    EXPECT_NE(lit, grey);
    const QColor cell(grey.pixel(10, static_cast<int>(BandMeter::markerY(6))));
    EXPECT_LT(std::abs(cell.red() - cell.green()) + std::abs(cell.green() - cell.blue()), 30);
}

TEST(PositionSlider, IdleHasNoKnobAndTheEndsGiveZeroAndHundred) {
    application();
    for (int skin = 0; skin < kSkinCount; ++skin) {
        SCOPED_TRACE(skin);
        PositionSlider slider(false);
        slider.setSkin(skin);
        slider.resize(skinLayout(skin).position.size());
        int posted = -1;
        slider.setMoved([&](int v) { posted = v; });
        EXPECT_EQ(slider.value(), SliderModel::kIdle);
        EXPECT_TRUE(slider.knobRect().isEmpty());
        press(slider, QPointF(50, 8));
        EXPECT_EQ(posted, -1);  // no grab while idle
        slider.setValue(50);
        const QRect knob = slider.knobRect();
        EXPECT_FALSE(knob.isEmpty());
        EXPECT_TRUE(slider.rect().contains(knob));
        press(slider, QPointF(0, 8));
        EXPECT_EQ(posted, 0);
        press(slider, QPointF(slider.width() - 1, 8));
        EXPECT_EQ(posted, 100);
        // At 100 the knob ends inside the widget by the margin.
        EXPECT_EQ(slider.knobRect().right(), slider.width() - 1 - SliderModel::kMargin);
        EXPECT_EQ(slider.knobRect().left(), slider.width() - PositionSlider::knobWidth() - SliderModel::kMargin);
    }
}

// A whole window as the player composes it.
class MockWindow final : public QWidget {
  public:
    MockWindow(int skin, bool extended, bool playing) : skin_(skin), extended_(extended) {
        const SkinLayout& l = skinLayout(skin);
        setFixedSize(l.body.width(), l.body.height() + (extended ? l.extendedHeight : 0));
        for (const SkinButtonPlace& place : l.buttons) {
            auto* button = new SkinButton(place.id, this);
            button->setSkin(skin);
            button->setGeometry(place.rect);
            if (place.id == 1000) button->setVisible(!playing);
            if (place.id == 1001) button->setVisible(playing);
            if (place.id == 1008) {
                button->setOn(skin == 0);
                button->setVisible(playing);  // only for Velora streams
            }
            if (!playing && (place.id == 1003 || place.id == 1022)) button->setEnabled(false);
        }
        display = new LcdDisplay(this);
        display->setSkin(skin);
        display->setGeometry(l.display);
        position = new PositionSlider(false, this);
        position->setSkin(skin);
        position->setGeometry(l.position);
        if (!l.volume.isEmpty()) {
            auto* volume = new PositionSlider(true, this);
            volume->setSkin(skin);
            volume->setGeometry(l.volume);
            volume->setValue(70);
        }
        if (extended) {
            for (int b = 0; b < BandMeters::kBands; ++b) {
                auto* meter = new BandMeter(b, this);
                meter->setSkin(skin);
                meter->setGeometry(l.bandRect(b));
                meter->setStep((b * 5 + 2) % 7);
                meter->setLevel(playing ? (7 - b + (b % 3)) % 8 : 0);
                meter->setEnabled(playing);
            }
        }
        if (playing) {
            auto& m = display->model();
            m.notify(notify::kItem, 3);
            m.notify(notify::kState, notify::kPlaying);
            m.notify(notify::kElapsed, 125);
            m.notify(notify::kChannels, 2);
            m.notify(notify::kSampleRate, 44100);
            m.notify(notify::kBitrate, 128);
            display->setFile(QStringLiteral("/home/user/Music/Harbour Lights - Night Crossing.mp3"));
            display->setVelora(true);
            position->setValue(37);
        }
    }

    QImage picture(double dpr) {
        QImage image(size() * dpr, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(dpr);
        image.fill(Qt::magenta);
        render(&image);
        return image;
    }

    LcdDisplay* display = nullptr;
    PositionSlider* position = nullptr;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        paintSkinBackground(p, skin_, extended_);
    }

  private:
    int skin_;
    bool extended_;
};

struct WindowCase {
    const char* name;
    int skin;
    bool extended;
};

TEST(SkinArt, WholeWindowsRenderAtBothPixelRatios) {
    application();
    const char* dir = std::getenv("VELORAPLAY_GRAB_DIR");
    const WindowCase cases[] = {{"skin0-basic", 0, false}, {"skin0-extended", 0, true}, {"skin1", 1, false}};
    for (const WindowCase& c : cases)
        for (const bool playing : {true, false}) {
            MockWindow window(c.skin, c.extended, playing);
            window.show();
            QImage one;
            for (const double dpr : {1.0, 2.0}) {
                const std::string name = std::string(c.name) + (playing ? "-playing" : "-idle") + (dpr > 1 ? "@2x" : "");
                SCOPED_TRACE(name);
                const QImage image = window.picture(dpr);
                ASSERT_EQ(image.size(), window.size() * dpr);
                EXPECT_GT(colourCount(image), 48);
                for (int y = 0; y < image.height(); y += 4)
                    for (int x = 0; x < image.width(); x += 4)
                        ASSERT_NE(image.pixel(x, y), QColor(Qt::magenta).rgba()) << x << "," << y;
                if (dpr == 1) {
                    one = image;
                } else {
                    // Drawn anew at the finer ratio, not blown up from the coarse picture.
                    EXPECT_NE(image, one.scaled(image.size()));
                }
                if (dir) {
                    EXPECT_TRUE(image.save(QString::fromLocal8Bit(dir) + "/" + QString::fromStdString(name) + ".png"));
                }
            }
            // The display shows what the model holds.
            if (playing) {
                EXPECT_EQ(window.display->model().itemText(), " 3");
                EXPECT_EQ(window.display->model().elapsedText(), " 2:05");
                EXPECT_EQ(window.display->channelText(), QStringLiteral("STEREO"));
                EXPECT_EQ(window.display->titleText(), QStringLiteral("/home/user/Music/Harbour Lights - Night Crossing.mp3"));
            } else {
                EXPECT_EQ(window.display->titleText(), QStringLiteral("Status Display"));
                EXPECT_TRUE(window.position->knobRect().isEmpty());
            }
        }
}

TEST(LcdDisplay, PlayingAndIdleLookDifferentInBothSkins) {
    application();
    for (int skin = 0; skin < kSkinCount; ++skin) {
        LcdDisplay display;
        display.setSkin(skin);
        display.resize(skinLayout(skin).display.size());
        QImage idle(display.size(), QImage::Format_RGB32), playing(display.size(), QImage::Format_RGB32),
            wave(display.size(), QImage::Format_RGB32);
        display.render(&idle);
        display.model().notify(notify::kState, notify::kPlaying);
        display.model().notify(notify::kElapsed, 5);
        display.model().notify(notify::kBitrate, 128);
        display.render(&playing);
        display.model().notify(notify::kBitrate, notify::kWaveBitrate);
        display.render(&wave);
        EXPECT_NE(idle, playing) << skin;
        EXPECT_NE(playing, wave) << skin;
    }
}

// The display's other states, one sheet per skin, to look at: paused WAVE input in mono past
// ten minutes, a three-channel stream, a long path.
TEST(LcdDisplay, VariantSheets) {
    application();
    const char* dir = std::getenv("VELORAPLAY_GRAB_DIR");
    if (!dir) GTEST_SKIP() << "VELORAPLAY_GRAB_DIR not set";
    struct Variant {
        int item, state, elapsed, channels, rate, bitrate;
        const char* file;
        bool velora;
    };
    const Variant variants[] = {
        {12, int(notify::kPaused), 754, 1, 22050, int(notify::kWaveBitrate), "/data/rec/voice memo.wav", false},
        {7, int(notify::kPlaying), 59, 3, 48000, 320,
         "/media/archive/very/long/folder/names/that/do/not/fit/Some Artist - A Rather Long Title (Live).mp3", true},
        {0, int(notify::kStopped), -1, 2, 8000, 8, "/tmp/a.mp3", false},
    };
    for (int skin = 0; skin < kSkinCount; ++skin) {
        const QSize size = skinLayout(skin).display.size();
        QImage sheet(QSize(size.width() + 8, 3 * (size.height() + 4) + 4) * 2, QImage::Format_RGB32);
        sheet.setDevicePixelRatio(2);
        sheet.fill(Qt::black);
        int y = 4;
        for (const Variant& v : variants) {
            LcdDisplay display;
            display.setSkin(skin);
            display.resize(size);
            auto& m = display.model();
            m.notify(notify::kItem, v.item);
            m.notify(notify::kState, v.state);
            m.notify(notify::kElapsed, v.elapsed);
            m.notify(notify::kChannels, v.channels);
            m.notify(notify::kSampleRate, v.rate);
            m.notify(notify::kBitrate, v.bitrate);
            display.setFile(QString::fromUtf8(v.file));
            display.setVelora(v.velora);
            display.render(&sheet, QPoint(4, y));
            y += size.height() + 4;
        }
        EXPECT_TRUE(sheet.save(QString::fromLocal8Bit(dir) + "/lcd-skin" + QString::number(skin) + "@2x.png"));
    }
}

}  // namespace
}  // namespace veloraplay

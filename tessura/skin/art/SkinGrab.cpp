// tessura-skin-grab: loads a skin the way the player does and writes PNGs to look at: every
// image of the skin as it decodes, and each window mode put together from the images, the
// regions and the "/skin.ini" positions, at 1x and 2x.
//   tessura-skin-grab SKIN DEFAULTSKIN OUTDIR
#include "ScriptedDialogService.h"
#include "SkinLoader.h"
#include "SkinQt.h"
#include "SkinSheets.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

using namespace tessura;

QColor qcolour(SkinColour c) { return QColor::fromRgb(QRgb(c)); }

class Composer {
  public:
    Composer(const LoadedSkin& skin, std::string out) : skin_(skin), out_(std::move(out)) {}

    QImage image(const std::string& member) const {
        const SkinImage* image = skin_.Image(member);
        return image ? ToQImage(*image) : QImage();
    }
    QRect bounds(const std::string& member) const {
        const SkinRegion* r = skin_.Region(member);
        if (!r) return {};
        return QRect(r->bounds.left, r->bounds.top, r->bounds.right - r->bounds.left, r->bounds.bottom - r->bounds.top);
    }
    QRegion region(const std::string& member) const {
        const SkinRegion* r = skin_.Region(member);
        return r ? ToQRegion(*r) : QRegion();
    }

    void sprite(QPainter& p, const QImage& sheet, SkinPoint from, QSize size, QPoint to) const {
        p.drawImage(QRect(to, size), sheet, QRect(QPoint(from.x, from.y), size));
    }
    // Frame `index` of a knob strip centred on `area`.
    void knob(QPainter& p, const std::string& member, SkinKnob k, int index, const QRect& area) const {
        const QImage strip = image(member);
        if (strip.isNull() || k.width <= 0) return;
        const QPoint at = area.center() - QPoint(k.width / 2, k.width / 2) + QPoint(1, 1);
        p.drawImage(QRect(at, QSize(k.width, k.width)), strip, QRect(index * k.width, 0, k.width, k.width));
    }
    void digits(QPainter& p, const std::string& text, QPoint at, bool small) const {
        using namespace sheets;
        const QImage sheet = image("/jpeg/navitem1");
        const int w = small ? kSmallDigitWidth : kDigitWidth, h = small ? kSmallDigitHeight : kDigitHeight;
        for (char c : text) {
            const int cell = DigitCell(c);
            if (cell < 0) continue;
            p.drawImage(QRect(at, QSize(w, h)), sheet, QRect(cell * w, small ? kSmallDigitRow : 0, w, h));
            at.rx() += w;
        }
    }
    void text(QPainter& p, const QRect& r, const QString& t, int px) const {
        QFont f("DejaVu Sans Condensed");
        f.setPixelSize(px);
        p.setFont(f);
        p.setPen(qcolour(skin_.description.colours.statusBarTextColor));
        p.drawText(r.adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter, t);
    }

    QImage masked(const QImage& face, const QRegion& shape, QSize size) const {
        QImage out(size, QImage::Format_ARGB32_Premultiplied);
        out.fill(Qt::transparent);
        QPainter p(&out);
        p.setClipRegion(shape);
        p.drawImage(0, 0, face);
        return out;
    }

    QImage midWindow() const {
        const SkinDescription& d = skin_.description;
        const QImage face = image("/jpeg/midtessura");
        QImage out = masked(face, region("/rgn/mid/frame"), face.size());
        QPainter p(&out);
        p.setRenderHint(QPainter::Antialiasing);
        const QImage misc = image("/jpeg/misc");
        // Playing: the lit play button, the song ring two-thirds round, the list ring a third.
        sprite(p, misc, d.locations.playOn, {40, 40}, bounds("/rgn/mid/play").topLeft());
        sprite(p, misc, d.locations.cyanOn, {30, 20}, bounds("/rgn/mid/eq").topLeft());
        sprite(p, misc, d.locations.greenOn2, {30, 20}, bounds("/rgn/mid/repeat").topLeft());
        ring(p, "/rgn/mid/songposring", 0.66, qcolour(d.colours.progressColor1));
        ring(p, "/rgn/mid/listposring", 0.33, qcolour(d.colours.progressColor2));
        knob(p, "/jpeg/shuttle", d.values.shuttleKnob, 3, bounds("/rgn/mid/shuttle"));
        knob(p, "/jpeg/volumeknob", d.values.volumeKnob, d.values.volumeKnob.images * 3 / 4,
             bounds("/rgn/mid/volume"));
        // The display lies above the transport buttons, between the previous and eject buttons.
        const QRect prev = bounds("/rgn/mid/prev"), eject = bounds("/rgn/mid/eject");
        const QRect display(prev.x(), bounds("/rgn/mid/top").bottom() + 5, eject.right() - prev.x(), 30);
        digits(p, "01:23:45.67", display.topLeft() + QPoint(6, 4), false);
        digits(p, "007", QPoint(display.right() - 3 * sheets::kDigitWidth - 2, display.y() + 4), false);
        return out;
    }

    void ring(QPainter& p, const std::string& member, double share, const QColor& colour) const {
        const QRect b = bounds(member);
        if (b.isEmpty()) return;
        QPainterPath pie;
        pie.moveTo(QRectF(b).center());
        pie.arcTo(QRectF(b), 90, -360 * share);
        pie.closeSubpath();
        QPainterPath shape;
        shape.addRegion(region(member));
        colour.isValid() ? p.fillPath(shape.intersected(pie), colour) : void();
    }

    QImage navWindow() const {
        const SkinDescription& d = skin_.description;
        const QImage face = image("/jpeg/navigator");
        const QRect drawer = bounds("/rgn/nav/drawer");
        const QSize size(face.width(), std::max(face.height(), drawer.bottom() + 1));
        QImage out(size, QImage::Format_ARGB32_Premultiplied);
        out.fill(Qt::transparent);
        QPainter p(&out);
        const QImage misc = image("/jpeg/misc");
        // The drawer, open, under the body.
        {
            p.save();
            p.setClipRegion(region("/rgn/nav/drawer"));
            sprite(p, misc, d.locations.drawer, drawer.size(), drawer.topLeft());
            const SkinMiscValues& v = d.values;
            const QImage glyphs = image("/jpeg/navitem1");
            for (int band = 0; band < 20; ++band) {
                const int level = (band * 7) % 11;  // a made-up curve
                const QPoint at(d.locations.drawerPos.x + v.drawerSliderArrayPos.x + band * v.drawerSliderPitch,
                                d.locations.drawerPos.y + v.drawerSliderArrayPos.y +
                                    level * (v.drawerSliderSize.y - v.drawerSliderHandleSize.y) / 10);
                p.drawImage(QRect(at, QSize(sheets::kHandleWidth, sheets::kHandleHeight)), glyphs,
                            QRect(band == 8 ? sheets::kHandleWidth + 1 : 0, sheets::kHandleRow,
                                  sheets::kHandleWidth, sheets::kHandleHeight));
            }
            knob(p, "/jpeg/smallknob", v.smallKnob, 18, bounds("/rgn/nav/dknobamp"));
            knob(p, "/jpeg/smallknob", v.smallKnob, 9, bounds("/rgn/nav/dknobbal"));
            knob(p, "/jpeg/smallknob", v.smallKnob, 27, bounds("/rgn/nav/dknobpitch"));
            p.restore();
        }
        p.save();
        p.setClipRegion(region("/rgn/nav/frame"));
        p.drawImage(0, 0, face);
        p.restore();
        sprite(p, misc, d.locations.navPlayOn, {40, 40}, bounds("/rgn/nav/play").topLeft());
        sprite(p, misc, d.locations.navGreenOn, {30, 20}, bounds("/rgn/nav/repeat").topLeft());
        sprite(p, misc, d.locations.bigUp, {40, 35}, bounds("/rgn/nav/up").topLeft());
        knob(p, "/jpeg/nav_volumeknob", d.values.navVolumeKnob, d.values.navVolumeKnob.images / 2,
             bounds("/rgn/nav/volume"));
        const QRect display = bounds("/rgn/nav/display");
        digits(p, "00:03:27.41", display.topLeft() + QPoint(6, 4), false);
        digits(p, "012", QPoint(display.right() - 3 * sheets::kDigitWidth - 6, display.y() + 4), false);
        const char* lines[4] = {"1. Harbour Lights", "2. Night Ferry", "3. Tessellate", "4. Copper Sky"};
        for (int i = 0; i < 4; ++i)
            text(p, QRect(display.x() + 4, display.y() + 27 + 12 * i, display.width() - 8, 12), lines[i], 10);
        const QImage tabs = image("/jpeg/navitem2");
        const QPoint tabAt(display.x(), display.bottom() + 4);
        p.drawImage(QRect(tabAt, QSize(tabs.width(), sheets::kTabHeight)), tabs,
                    QRect(0, 0, tabs.width(), sheets::kTabHeight));
        p.drawImage(QRect(tabAt, QSize(sheets::kTabWidth, sheets::kTabHeight)), tabs,
                    QRect(0, sheets::kTabHeight, sheets::kTabWidth, sheets::kTabHeight));
        // Captions under the transport buttons, from the language's caption strip.
        const QImage captions = image("/jpeg/english/navbuttons");
        const std::pair<const char*, int> under[] = {{"/rgn/nav/prev", sheets::kCapPrev},
                                                     {"/rgn/nav/play", sheets::kCapPlay},
                                                     {"/rgn/nav/pause", sheets::kCapPause},
                                                     {"", sheets::kCapStop},
                                                     {"/rgn/nav/next", sheets::kCapNext},
                                                     {"/rgn/nav/eject", sheets::kCapOpen}};
        for (const auto& [member, cap] : under) {
            // Stop has no region of its own; it sits between pause and next.
            const QRect b = *member ? bounds(member) : bounds("/rgn/nav/pause").translated(44, 0);
            p.drawImage(QRect(b.center().x() - sheets::kCaptionWidth / 2, 188, sheets::kCaptionWidth,
                              sheets::kCaptionHeight),
                        captions, QRect(cap * sheets::kCaptionWidth, 0, sheets::kCaptionWidth, sheets::kCaptionHeight));
        }
        text(p, QRect(18, 201, 230, 16), "Playing: Tessellate", 10);
        text(p, QRect(126, 8, 236, 20), "Tessellate - Copper Sky (4:05)", 11);
        sprite(p, misc, d.locations.sliderOff, {110, 20}, {254, 199});
        sprite(p, misc, d.locations.sliderOn, {60, 20}, {254, 199});
        return out;
    }

    QImage smallWindow() const {
        const QImage body = image("/jpeg/smallstate");
        const QImage extra = image("/jpeg/extra");
        const QRect top = bounds("/rgn/small/extratop"), bottom = bounds("/rgn/small/extrabottom");
        const QRect frame = bounds("/rgn/small/frame");
        QImage out(QSize(frame.right() + 1, bottom.bottom() + 1), QImage::Format_ARGB32_Premultiplied);
        out.fill(Qt::transparent);
        QPainter p(&out);
        p.save();
        p.setClipRegion(region("/rgn/small/extratop"));
        p.drawImage(top, extra, QRect(top.x(), 0, top.width(), top.height()));
        p.setClipRegion(region("/rgn/small/extrabottom"));
        p.drawImage(bottom, extra, QRect(bottom.x(), sheets::kExtraHalf, bottom.width(), bottom.height()));
        p.setClipRegion(region("/rgn/small/frame"));
        p.drawImage(frame.topLeft(), body);
        p.restore();
        digits(p, "03:27", frame.topLeft() + QPoint(150, 8), true);
        text(p, QRect(frame.x() + 192, frame.y() + 4, 100, 20), "Tessellate", 10);
        return out;
    }

    void save(const QImage& image, const std::string& name) const {
        if (image.isNull()) {
            std::fprintf(stderr, "tessura-skin-grab: nothing to draw for %s\n", name.c_str());
            return;
        }
        // On a neutral backdrop so shaped windows show their outline.
        for (int scale : {1, 2}) {
            QImage canvas(image.size() * scale + QSize(16, 16) * scale, QImage::Format_RGB32);
            canvas.fill(QColor(0x80, 0x86, 0x8c));
            QPainter p(&canvas);
            p.drawImage(QRect(QPoint(8, 8) * scale, image.size() * scale), image);
            p.end();
            canvas.save(QString::fromStdString(out_ + "/" + name + (scale == 2 ? "@2x" : "") + ".png"));
        }
    }

  private:
    const LoadedSkin& skin_;
    std::string out_;
};

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: tessura-skin-grab SKIN DEFAULTSKIN OUTDIR\n");
        return 2;
    }
    const std::string out = argv[3];
    std::filesystem::create_directories(out);
    SettingsStore settings(out + "/settings.ini", out);
    LanguageStore texts;
    ScriptedDialogService dialogs;
    SkinSources sources{argv[1], argv[2], ""};
    const LoadedSkin skin = LoadSkin({settings, sources, texts, dialogs});
    std::printf("%s: \"%s\", %zu images, %zu regions%s\n", argv[1], skin.displayTitle.c_str(), skin.images.size(),
                skin.regions.size(), skin.refusedBecause.empty() ? "" : (" (refused: " + skin.refusedBecause + ")").c_str());
    Composer c(skin, out);
    for (const auto& [member, loaded] : skin.images) {
        std::string name = member.substr(6);
        for (char& ch : name)
            if (ch == '/') ch = '-';
        c.save(ToQImage(loaded.image), "image-" + name);
    }
    c.save(c.midWindow(), "mode-mid");
    c.save(c.navWindow(), "mode-navigator");
    c.save(c.smallWindow(), "mode-small");
    c.save(c.image("/jpeg/splash"), "mode-splash");
    SkinSources preview{argv[1], argv[2], ""};
    const SkinImageResult thumb = LoadSkinImage("/jpeg/skinthumb", false, preview);
    if (thumb.image) c.save(ToQImage(*thumb.image), "settings-thumbnail");
    return 0;
}

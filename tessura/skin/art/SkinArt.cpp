// tessura-skin-art: draws the project's two skins into folders laid out like an archive
// ("jpeg/misc", "rgn/mid/frame", "skin.ini"), ready for "tessura-skin create".
//   tessura-skin-art OUTDIR    writes OUTDIR/tessura (the default skin) and OUTDIR/ember
// It runs at build time under QT_QPA_PLATFORM=offscreen; every picture is drawn here.
#include "ArtPainter.h"
#include "SkinLayout.h"
#include "SkinQt.h"
#include "SkinSheets.h"
#include "SkinWriter.h"

#include <QGuiApplication>
#include <QPainterPath>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <filesystem>
#include <fstream>
#include <jpeglib.h>
#include <string>
#include <vector>

namespace tessura::art {
namespace {

namespace fs = std::filesystem;

struct SkinPlan {
    std::string folder, title, author, url, urlText;
    ArtStyle style;
    MidLayout mid;
    NavLayout nav;
    SmallLayout small;
    bool shaped = false;        // frames cut to a drawn shape rather than a rounded rectangle
    double midDiscRadius = 0;   // shaped: the disc the mid frame is built around
    QPoint volumeKnob{18, 37};  // width, frames
};

bool writeBytes(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(out);
}

// Baseline JPEG through libjpeg, the decoder the program reads skins with.
std::string encodeJpeg(const QImage& source, int quality = 92) {
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(image.width());
    info.image_height = JDIMENSION(image.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    // Full-resolution colour: the skins are small pictures with fine coloured detail.
    for (int c = 0; c < 3; ++c) info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
    jpeg_start_compress(&info, TRUE);
    for (int y = 0; y < image.height(); ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(image.constScanLine(y));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string out(reinterpret_cast<char*>(buffer), size);
    std::free(buffer);
    return out;
}

class Writer {
  public:
    explicit Writer(fs::path root) : root_(std::move(root)) {}
    bool ok = true;
    void jpeg(const std::string& member, const QImage& image) {
        ok = writeBytes(root_ / ("jpeg/" + member), encodeJpeg(image)) && ok;
    }
    // `member` is the archive name ("/rgn/mid/frame"); the file goes to the same path below the root.
    void region(const std::string& member, const QRegion& region) {
        const auto bytes = EncodeSkinRegion(RectsFromQRegion(region));
        if (!bytes) {
            std::fprintf(stderr, "tessura-skin-art: region %s does not fit the format\n", member.c_str());
            ok = false;
            return;
        }
        ok = writeBytes(root_ / member.substr(1), std::string(bytes->begin(), bytes->end())) && ok;
    }
    void text(const std::string& name, const std::string& content) { ok = writeBytes(root_ / name, content) && ok; }

  private:
    fs::path root_;
};

QRegion pathRegion(const QPainterPath& path) { return QRegion(path.toFillPolygon().toPolygon()); }
QRegion roundRegion(const QRectF& r, double radius) { return pathRegion(RoundedPath(r, radius)); }
QRegion disc(QPointF c, double radius) {
    QPainterPath path;
    path.addEllipse(c, radius, radius);
    return pathRegion(path);
}
QRegion annulus(QPointF c, double inner, double outer) { return disc(c, outer).subtracted(disc(c, inner)); }
QRegion knobRegion(const QRect& r) { return disc(QRectF(r).center(), r.width() / 2.0 + 1); }

QRegion midFrame(const SkinPlan& k) {
    if (!k.shaped) return roundRegion(QRectF(QPointF(0, 0), QSizeF(k.mid.size)), k.style.frameRadius);
    const QRectF body(108, 8, k.mid.size.width() - 108 - 4, k.mid.size.height() - 8 - 6);
    return disc(k.mid.disc, k.midDiscRadius) + roundRegion(body, k.style.frameRadius);
}
QRegion navFrame(const SkinPlan& k) {
    return roundRegion(QRectF(QPointF(0, 0), QSizeF(k.nav.size)), k.style.frameRadius);
}
QRegion smallFrame(const SkinPlan& k) { return roundRegion(k.small.body, k.shaped ? 14 : 8); }

// The face cut to a frame: the window's own outline drawn as a bevel so its edge reads.
void frameEdge(QPainter& p, const QRegion& frame, const ArtStyle& s) {
    QPainterPath path;
    path.addRegion(frame);
    path = path.simplified();
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(s.edgeDark, 2));
    p.drawPath(path);
    p.translate(1, 1);
    p.setPen(QPen(s.edgeLight, 1));
    p.setClipRegion(frame.translated(1, 1) & frame);
    p.drawPath(path);
    p.restore();
}

// A scale ring around a knob; the frames' corners are the face colour and barely touch it.
void knobRing(QPainter& p, const QRect& knob, const ArtStyle& s) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c = QRectF(knob).center();
    const double radius = knob.width() * 0.5 + 3.2;
    p.setPen(QPen(s.edgeDark, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, radius, radius);
    p.setPen(QPen(s.accent.darker(160), 1));
    p.drawArc(QRectF(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius), -45 * 16, 270 * 16);
    p.restore();
}

void lcdPanel(QPainter& p, const QRectF& r, const ArtStyle& s, bool withDigits) {
    Well(p, r, 4, s.lcd, s);
    if (!withDigits) return;
    // Unlit segments of the time display so the lit digits drawn over them sit on a real LCD.
    const double h = std::min(20.0, r.height() - 8);
    const double w = h * 0.6;
    double x = r.x() + 6;
    for (char c : std::string("88:88:88.88")) {
        const double cw = (c == ':' || c == '.') ? w * 0.5 : w;
        SegmentGlyph(p, QRectF(x, r.y() + 4, cw, h), c == ':' || c == '.' ? ' ' : '8', s.lcdDim, s.lcdDim);
        x += cw + 1;
    }
}

// -- the shared images ------------------------------------------------------------------------

QImage misc(const SkinPlan& k) {
    const ArtStyle& s = k.style;
    QImage image = FaceImage(kMiscSize.width(), kMiscSize.height(), s);
    QPainter p(&image);
    Button(p, QRectF(0, 0, 30, 40), Glyph::Next, true, s);       // NEXT
    Button(p, QRectF(0, 40, 30, 40 - 4), Glyph::Prev, true, s);  // PREV (the drawer starts at 76)
    Lamp(p, QRectF(30, 0, 30, 20), s.red, true, "AMP", s);       // REDON
    Lamp(p, QRectF(30, 20, 30, 20), s.orange, true, "SHF", s);   // ORANGEON
    Lamp(p, QRectF(30, 40, 30, 20), s.green, true, "REP", s);    // GREENON
    Lamp(p, QRectF(60, 0, 30, 20), s.cyan, false, "EQ", s);      // CYANOFF
    Lamp(p, QRectF(60, 20, 30, 20), s.cyan, true, "EQ", s);      // CYANON
    Lamp(p, QRectF(60, 40, 30, 20), s.green, true, "ALL", s);    // GREENON2
    Button(p, QRectF(90, 0, 40, 40), Glyph::Play, true, s);      // PLAYON
    Button(p, QRectF(90, 40, 40, 36), Glyph::Pause, true, s);    // PAUSEON
    Button(p, QRectF(130, 0, 40, 40), Glyph::Stop, true, s);     // STOPON
    Button(p, QRectF(130, 40, 40, 36), Glyph::Stop, false, s);   // STOPOFF
    // SLIDERON / SLIDEROFF: the seek bar filled and empty; the window shows the filled one up
    // to the play position.
    for (int lit = 0; lit < 2; ++lit) {
        const QRectF bar(170, lit ? 0 : 20, 110, 20);
        Well(p, bar.adjusted(2, 4, -2, -4), 5, s.panel, s);
        if (lit) {
            QLinearGradient g(bar.topLeft(), bar.topRight());
            g.setColorAt(0, s.accent.darker(140));
            g.setColorAt(1, s.accent);
            p.setRenderHint(QPainter::Antialiasing);
            p.fillPath(RoundedPath(bar.adjusted(4, 6, -4, -6), 3), g);
        }
    }
    Button(p, QRectF(280, 0, 40, 35), Glyph::Up, true, s);    // BIGUP
    Button(p, QRectF(280, 35, 40, 35), Glyph::Down, true, s); // BIGON_DOWN
    // Spare cells: the lit eject and a lit open-files button for windows that want them.
    Button(p, QRectF(170, 40, 40, 35), Glyph::Eject, true, s);
    Button(p, QRectF(210, 40, 40, 35), Glyph::Eject, false, s);

    // DRAWER at (0, 76): the equaliser's twenty slider grooves and the three small knobs' wells.
    const QRectF drawer(0, 76, 320, 80);
    FillFace(p, drawer, s);
    p.setRenderHint(QPainter::Antialiasing);
    Bevel(p, RoundedPath(drawer.adjusted(1, 0, -1, -1), 8), s, true, 1.5);
    static const char* kBands[20] = {"31", "44", "63", "88", "125", "180", "250", "355", "500", "710",
                                     "1k", "1k4", "2k", "2k8", "4k", "5k6", "8k", "11k", "16k", "22k"};
    for (int band = 0; band < 20; ++band) {
        const QRectF groove(k.nav.sliders.x() + 14 * band, 76 + k.nav.sliders.y(), k.nav.sliders.width(),
                            k.nav.sliders.height());
        Well(p, groove.adjusted(2, 0, -2, 0), 1.5, s.panel, s);
        p.setPen(QPen(s.edgeLight, 0.8));
        p.drawLine(QPointF(groove.x() - 2, groove.center().y()), QPointF(groove.x(), groove.center().y()));
        Label(p, QRectF(groove.center().x() - 8, 76 + 66, 16, 9), kBands[band], s.glyph, 6.5, false, s);
    }
    Label(p, QRectF(2, 76 + 18, 18, 10), "+12", s.glyph, 6, false, s);
    Label(p, QRectF(2, 76 + 37, 18, 10), "0", s.glyph, 6, false, s);
    Label(p, QRectF(2, 76 + 56, 18, 10), "-12", s.glyph, 6, false, s);
    // The knobs' wells, ringed in the knob colours "/skin.ini" gives (amplifier, balance, pitch).
    const QColor rings[3] = {s.green, s.cyan, s.red};
    for (int i = 0; i < 3; ++i) {
        const QPointF c(k.nav.knobs[i].x() + k.nav.knobSize / 2.0, 76 + k.nav.knobs[i].y() + k.nav.knobSize / 2.0);
        // Outside the knob frame's square, so the frame's corners never cover it.
        p.setPen(QPen(rings[i], 1.6));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(c, 10.2, 10.2);
    }
    return image;
}

QImage glyphSheet(const SkinPlan& k) {
    using namespace sheets;
    const ArtStyle& s = k.style;
    QImage image(kGlyphSheetWidth, kGlyphSheetHeight, QImage::Format_RGB32);
    image.fill(s.lcd);
    QPainter p(&image);
    for (int i = 0; i < kDigitGlyphCount; ++i) {
        SegmentGlyph(p, QRectF(i * kDigitWidth + 1, 0, kDigitWidth - 2, kDigitHeight), kDigitGlyphs[i], s.lcdText,
                     s.lcdDim);
        SegmentGlyph(p, QRectF(i * kSmallDigitWidth + 0.5, kSmallDigitRow, kSmallDigitWidth - 1, kSmallDigitHeight),
                     kDigitGlyphs[i], s.lcdText, s.lcdDim);
    }
    for (int lit = 0; lit < 2; ++lit) {
        const QRectF handle(lit * (kHandleWidth + 1), kHandleRow, kHandleWidth, kHandleHeight);
        p.fillRect(handle, s.face);
        Button(p, handle.adjusted(-1.5, -1.5, 1.5, 1.5), Glyph::Minimise, lit != 0, s);
        p.fillRect(QRectF(handle.x() + 1, handle.center().y() - 0.5, kHandleWidth - 2, 1), lit ? s.accent : s.glyph);
    }
    return image;
}

QImage tabs(const SkinPlan& k) {
    using namespace sheets;
    const ArtStyle& s = k.style;
    QImage image(kNavPages * kTabWidth, 2 * kTabHeight, QImage::Format_RGB32);
    image.fill(s.bodyDark);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    for (int lit = 0; lit < 2; ++lit)
        for (int page = 0; page < kNavPages; ++page) {
            const QRectF cell(page * kTabWidth + 1, lit * kTabHeight + 1, kTabWidth - 2, kTabHeight - 2);
            const QPainterPath path = RoundedPath(cell, 4);
            p.fillPath(path, lit ? s.faceLit : s.panel);
            Bevel(p, path, s, lit != 0, 1);
            Label(p, cell, QString::number(page + 1), lit ? s.glyphLit : s.glyph, 9.5, true, s);
            if (lit) p.fillRect(QRectF(cell.x() + 6, cell.bottom() - 3, cell.width() - 12, 1.5), s.accent);
        }
    return image;
}

QImage captions(const SkinPlan& k) {
    using namespace sheets;
    static const char* kText[kNavCaptions] = {"PREV", "PLAY", "PAUSE", "STOP", "NEXT", "OPEN",
                                              "REPEAT", "SHUFFLE", "VOLUME", "AMP", "BALANCE", "PITCH"};
    QImage image(kNavCaptions * kCaptionWidth, kCaptionHeight, QImage::Format_RGB32);
    image.fill(k.style.bodyDark);
    QPainter p(&image);
    for (int i = 0; i < kNavCaptions; ++i)
        Label(p, QRectF(i * kCaptionWidth, 0, kCaptionWidth, kCaptionHeight), kText[i], k.style.glyph, 7.5, true,
              k.style);
    return image;
}

QImage knobStrip(const ArtStyle& s, int width, int frames, const QColor& pointer, const QColor& backdrop) {
    QImage image(width * frames, width, QImage::Format_RGB32);
    image.fill(backdrop);
    QPainter p(&image);
    for (int i = 0; i < frames; ++i)
        Knob(p, QRectF(i * width, 0, width, width), frames > 1 ? double(i) / (frames - 1) : 0, pointer, s);
    return image;
}

QImage shuttleStrip(const ArtStyle& s, int width, int frames, const QColor& backdrop) {
    QImage image(width * frames, width, QImage::Format_RGB32);
    image.fill(backdrop);
    QPainter p(&image);
    for (int i = 0; i < frames; ++i) Shuttle(p, QRectF(i * width, 0, width, width), 360.0 * i / frames, s);
    return image;
}

// -- the mode backgrounds ---------------------------------------------------------------------

QImage mid(const SkinPlan& k) {
    const ArtStyle& s = k.style;
    const MidLayout& m = k.mid;
    QImage image(m.size, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    const QRegion frame = midFrame(k);
    p.setClipRegion(frame);
    FillFace(p, image.rect(), s);
    p.setClipping(false);
    frameEdge(p, frame, s);

    // The rings: song position outside, list position inside, the shuttle in the middle.
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(s.panel);
    p.drawEllipse(m.disc, m.songOuter + 3, m.songOuter + 3);
    Ring(p, m.disc, m.songInner, m.songOuter, s.lcd, s);
    Ring(p, m.disc, m.listInner, m.listOuter, s.lcd.darker(115), s);
    p.setBrush(s.bodyDark);
    p.setPen(QPen(s.edgeDark, 1));
    p.drawEllipse(m.disc, m.listInner - 1, m.listInner - 1);
    Label(p, QRectF(m.disc.x() - 20, m.disc.y() + m.songOuter - 7, 40, 7), "SONG", s.glyph, 6, true, s);

    // The small window buttons at the MSM locations.
    const Glyph msm[5] = {Glyph::SingleUp, Glyph::SingleDown, Glyph::Help, Glyph::Minimise, Glyph::Close};
    for (int i = 0; i < 5; ++i) {
        const QRectF r(m.msm[i].x(), m.msm[i].y(), m.msmSize, m.msmSize);
        p.setPen(QPen(s.edgeDark, 0.8));
        p.setBrush(i == 4 ? s.red.darker(150) : s.face);
        p.drawEllipse(r);
        DrawGlyph(p, r.adjusted(2.2, 2.2, -2.2, -2.2), msm[i], s.glyph);
    }

    Logo(p, m.logo, s);
    lcdPanel(p, m.display, s, true);
    Button(p, m.prev, Glyph::Prev, false, s);
    Button(p, m.play, Glyph::Play, false, s);
    Button(p, m.pause, Glyph::Pause, false, s);
    Button(p, m.next, Glyph::Next, false, s);
    Button(p, m.eject, Glyph::Eject, false, s);
    Lamp(p, m.eq, s.cyan, false, "EQ", s);
    Lamp(p, m.repeat, s.green, false, "REP", s);
    Lamp(p, m.shuffle, s.orange, false, "SHF", s);
    Well(p, m.bottom, 4, s.panel, s);
    Label(p, QRectF(m.bottom).adjusted(4, 0, -4, 0), "VOL", s.glyph, 7, true, s, Qt::AlignRight | Qt::AlignVCenter);
    knobRing(p, m.volume, s);
    return image;
}

QImage navigator(const SkinPlan& k) {
    const ArtStyle& s = k.style;
    const NavLayout& n = k.nav;
    QImage image(n.size, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    const QRegion frame = navFrame(k);
    p.setClipRegion(frame);
    FillFace(p, image.rect(), s);
    p.setClipping(false);
    frameEdge(p, frame, s);
    p.setRenderHint(QPainter::Antialiasing);

    Logo(p, n.logo, s);
    Well(p, n.title, 4, s.panel, s);
    lcdPanel(p, n.display, s, true);
    // The page area of the display: faint rules where lists and pictures go.
    p.setPen(QPen(s.lcdDim, 1));
    for (int y = n.display.y() + 32; y < n.display.bottom() - 6; y += 12)
        p.drawLine(QPointF(n.display.x() + 8, y), QPointF(n.display.right() - 8, y));
    Well(p, n.tabs.adjusted(-2, -1, 2, 1), 5, s.panel, s);
    Button(p, n.up, Glyph::Up, false, s);
    Button(p, n.down, Glyph::Down, false, s);
    Button(p, n.prev, Glyph::Prev, false, s);
    Button(p, n.play, Glyph::Play, false, s);
    Button(p, n.pause, Glyph::Pause, false, s);
    Button(p, n.stop, Glyph::Stop, false, s);
    Button(p, n.next, Glyph::Next, false, s);
    Button(p, n.eject, Glyph::Eject, false, s);
    knobRing(p, n.volume, s);
    Lamp(p, n.repeat, s.green, false, "REP", s);
    Lamp(p, n.shuffle, s.orange, false, "SHF", s);
    Well(p, n.status, 3, s.lcd, s);
    Well(p, n.seek.adjusted(2, 4, -2, -4), 5, s.panel, s);
    // The drawer's pull tab.
    const QPainterPath tab = RoundedPath(QRectF(n.drawerTop).adjusted(0, 0, 0, 6), 6);
    p.fillPath(tab, s.face);
    Bevel(p, tab, s, true, 1);
    DrawGlyph(p, QRectF(n.drawerTop.x() + 6, n.drawerTop.y() + 3, 9, 9), Glyph::Down, s.glyph);
    Label(p, QRectF(n.drawerTop).adjusted(16, 0, 0, 0), "EQ", s.glyph, 8, true, s);
    return image;
}

QImage smallState(const SkinPlan& k) {
    const ArtStyle& s = k.style;
    const SmallLayout& m = k.small;
    QImage image(m.body.size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    const QRegion frame = smallFrame(k).translated(-m.body.topLeft());
    p.setClipRegion(frame);
    FillFace(p, image.rect(), s);
    p.setClipping(false);
    frameEdge(p, frame, s);
    Logo(p, QRectF(14, 6, 20, 16), s, false);
    const Glyph glyphs[5] = {Glyph::Prev, Glyph::Play, Glyph::Pause, Glyph::Stop, Glyph::Next};
    for (int i = 0; i < 5; ++i)
        Button(p, QRectF(m.buttons.x() + 20 * i, m.buttons.y() - m.body.y(), 18, 18), glyphs[i], false, s);
    Well(p, QRectF(m.time.x() - 3, 3, m.time.width() + 6, 22), 3, s.lcd, s);
    Well(p, QRectF(m.title.x(), 4, m.title.width(), 20), 3, s.lcd, s);
    return image;
}

QImage extra(const SkinPlan& k) {
    const ArtStyle& s = k.style;
    const SmallLayout& m = k.small;
    QImage image(m.size.width(), 2 * sheets::kExtraHalf, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // The top tab: volume scale; the bottom tab: seek scale. Each drawn where its region is.
    const QRectF top(m.extraTop.x(), 0, m.extraTop.width(), m.extraTop.height());
    const QRectF bottom(m.extraBottom.x(), sheets::kExtraHalf, m.extraBottom.width(), m.extraBottom.height());
    for (const QRectF& r : {top, bottom}) {
        const QPainterPath path = RoundedPath(r, 7);
        QLinearGradient g(r.topLeft(), r.bottomLeft());
        g.setColorAt(0, s.body);
        g.setColorAt(1, s.bodyDark);
        p.fillPath(path, g);
        Bevel(p, path, s, true, 1.2);
    }
    Label(p, QRectF(top.x() + 6, 1, 26, 14), "VOL", s.glyph, 7, true, s, Qt::AlignLeft | Qt::AlignVCenter);
    Well(p, QRectF(top.x() + 30, 5, top.width() - 38, 7), 3, s.panel, s);
    Label(p, QRectF(bottom.x() + 6, sheets::kExtraHalf + 1, 30, 14), "SEEK", s.glyph, 7, true, s,
          Qt::AlignLeft | Qt::AlignVCenter);
    Well(p, QRectF(bottom.x() + 36, sheets::kExtraHalf + 5, bottom.width() - 44, 7), 3, s.panel, s);
    return image;
}

QImage splash(const SkinPlan& k) {
    const ArtStyle& s = k.style;
    QImage image(kSplashSize, QImage::Format_RGB32);
    QPainter p(&image);
    FillFace(p, image.rect(), s);
    p.setRenderHint(QPainter::Antialiasing);
    // A field of tesserae fading to the right, the name over it.
    for (int row = 0; row < 10; ++row)
        for (int col = 0; col < 18; ++col) {
            QColor c = ((row * 7 + col * 3) % 5 == 0) ? s.accent2 : s.accent;
            c.setAlphaF(float(std::max(0.0, 0.5 - col * 0.028) * ((row + col) % 3 == 0 ? 1.0 : 0.55)));
            p.fillRect(QRectF(8 + col * 20, 8 + row * 19, 16, 15), c);
        }
    Logo(p, QRectF(40, 64, 280, 44), s);
    Label(p, QRectF(40, 112, 280, 20), "the skinnable plug-in player", s.glyph, 13, false, s);
    Well(p, QRectF(100, 150, 160, 24), 6, s.lcd, s);  // the version and date go here
    return image;
}

QImage thumbnail(const QImage& midImage) {
    QImage image(kThumbSize, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QImage scaled = midImage.scaled(kThumbSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    p.drawImage((kThumbSize.width() - scaled.width()) / 2, (kThumbSize.height() - scaled.height()) / 2, scaled);
    return image;
}

QImage thumbnailMask(const SkinPlan& k, const QImage& thumb) {
    // White where the scaled mid window is, black around it.
    const QSizeF scale(double(thumb.width()) / k.mid.size.width(), double(thumb.width()) / k.mid.size.width());
    const double h = k.mid.size.height() * scale.height();
    QImage mask(thumb.size(), QImage::Format_RGB32);
    mask.fill(Qt::black);
    QPainter p(&mask);
    p.translate(0, (thumb.height() - h) / 2);
    p.scale(scale.width(), scale.height());
    p.setClipRegion(midFrame(k));
    p.fillRect(QRect(QPoint(0, 0), k.mid.size), Qt::white);
    return mask;
}

// -- regions and skin.ini -----------------------------------------------------------------------

void regions(const SkinPlan& k, Writer& w) {
    const MidLayout& m = k.mid;
    w.region("/rgn/mid/frame", midFrame(k));
    w.region("/rgn/mid/top", QRegion(m.top));
    w.region("/rgn/mid/bottom", QRegion(m.bottom));
    w.region("/rgn/mid/prev", QRegion(m.prev));
    w.region("/rgn/mid/next", QRegion(m.next));
    w.region("/rgn/mid/play", QRegion(m.play));
    w.region("/rgn/mid/pause", QRegion(m.pause));
    w.region("/rgn/mid/eject", QRegion(m.eject));
    w.region("/rgn/mid/eq", QRegion(m.eq));
    w.region("/rgn/mid/repeat", QRegion(m.repeat));
    w.region("/rgn/mid/shuffle", QRegion(m.shuffle));
    w.region("/rgn/mid/shuttle", disc(m.disc, m.shuttleRadius));
    w.region("/rgn/mid/volume", knobRegion(m.volume));
    w.region("/rgn/mid/songposring", annulus(m.disc, m.songInner, m.songOuter));
    w.region("/rgn/mid/listposring", annulus(m.disc, m.listInner, m.listOuter));
    w.region("/rgn/mid/logoHREF", QRegion(m.logo));

    const NavLayout& n = k.nav;
    const QRect drawer(n.drawerPos, n.drawer);
    w.region("/rgn/nav/frame", navFrame(k));
    w.region("/rgn/nav/display", QRegion(n.display));
    w.region("/rgn/nav/prev", QRegion(n.prev));
    w.region("/rgn/nav/next", QRegion(n.next));
    w.region("/rgn/nav/play", QRegion(n.play));
    w.region("/rgn/nav/pause", QRegion(n.pause));
    w.region("/rgn/nav/eject", QRegion(n.eject));
    w.region("/rgn/nav/repeat", QRegion(n.repeat));
    w.region("/rgn/nav/shuffle", QRegion(n.shuffle));
    w.region("/rgn/nav/up", QRegion(n.up));
    w.region("/rgn/nav/down", QRegion(n.down));
    w.region("/rgn/nav/volume", knobRegion(n.volume));
    w.region("/rgn/nav/drawer", roundRegion(drawer, 8));
    w.region("/rgn/nav/drawertop", QRegion(n.drawerTop));
    const char* knobs[3] = {"/rgn/nav/dknobamp", "/rgn/nav/dknobbal", "/rgn/nav/dknobpitch"};
    for (int i = 0; i < 3; ++i)
        w.region(knobs[i], knobRegion(QRect(n.drawerPos + n.knobs[i], QSize(n.knobSize, n.knobSize))));
    w.region("/rgn/nav/logoHREF", QRegion(n.logo));

    w.region("/rgn/small/frame", smallFrame(k));
    w.region("/rgn/small/extratop", roundRegion(k.small.extraTop, 7));
    w.region("/rgn/small/extrabottom", roundRegion(k.small.extraBottom, 7));
}

// 0xRRGGBB as the decimal number "/skin.ini" holds.
std::string colour(const QColor& c) { return std::to_string((c.red() << 16) | (c.green() << 8) | c.blue()); }

std::string skinIni(const SkinPlan& k) {
    const ArtStyle& s = k.style;
    std::string ini;
    auto section = [&](const char* name) { ini += std::string(ini.empty() ? "" : "\r\n") + "[" + name + "]\r\n"; };
    auto key = [&](const std::string& name, const std::string& value) { ini += name + "=" + value + "\r\n"; };
    auto point = [&](const std::string& name, int x, int y) {
        key(name + "_x", std::to_string(x));
        key(name + "_y", std::to_string(y));
    };
    section("skin");
    key("title", k.title);
    key("version", "130");
    key("author", k.author);
    key("url", k.url);
    key("url_text", k.urlText);
    key("TouchNavMode", "1");
    key("TouchMidMode", "1");
    key("TouchSmallMode", "1");
    key("nav_logo_href", k.url);
    key("mid_logo_href", k.url);

    section("tessura colors");
    key("SystemColor_1", colour(s.lcdText));
    key("SystemColor_2", colour(s.accent2));
    key("SystemColor_3", colour(s.accent));
    key("BorderColor", colour(s.edgeDark));
    key("SystemBkColor_1", colour(s.panel));
    key("SystemBkColor_2", colour(s.lcd));
    key("PlayListColor_1", colour(s.lcdText));
    key("PlayListColor_2", colour(s.accent2));
    key("ProgressColor_1", colour(s.accent));
    key("ProgressColor_2", colour(s.accent2));
    key("ProgressColor_3", colour(s.red));
    key("StatusBarBgColor", colour(s.lcd));
    key("StatusBarFgColor", colour(s.lcdDim));
    key("StatusBarTextColor", colour(s.lcdText));
    key("ProgressBkColor", colour(s.panel));
    key("OpenFileColor", colour(s.accent2));
    key("AmpKnobColor", colour(s.green));
    key("BalKnobColor", colour(s.cyan));
    key("PitchKnobColor", colour(s.red));
    key("LogoColor", colour(s.accent2));
    key("LogoRingColor", colour(s.accent));
    key("LogoStartColor", colour(s.accent.darker(300)));
    key("LogoRingStartColor", colour(s.accent2.darker(300)));
    key("BlueBallsColor", colour(s.lcdText));
    key("InternalVisLeftColor", colour(s.accent));
    key("InternalVisRightColor", colour(s.accent2));
    key("InternalVisBlendColor", colour(s.lcdText));

    section("misc locations");
    point("PAUSEON", 90, 40);
    point("PREV", 0, 40);
    point("NEXT", 0, 0);
    point("STOPON", 130, 0);
    point("STOPOFF", 130, 40);
    point("PLAYON", 90, 0);
    point("SLIDERON", 170, 0);
    point("SLIDEROFF", 170, 20);
    point("CYANON", 60, 20);
    point("CYANOFF", 60, 0);
    point("GREENON", 30, 40);
    point("GREENON2", 60, 40);
    point("ORANGEON", 30, 20);
    point("REDON", 30, 0);
    point("BIGUP", 280, 0);
    point("BIGON_DOWN", 280, 35);
    point("DRAWER", 0, 76);
    struct NavCopy {
        const char* name;
        int x, y;
    };
    static constexpr NavCopy kNavCopies[] = {{"NAV_CYANON", 60, 20}, {"NAV_CYANOFF", 60, 0},
                                             {"NAV_GREENON", 30, 40}, {"NAV_GREENON2", 60, 40},
                                             {"NAV_ORANGEON", 30, 20}, {"NAV_REDON", 30, 0}};
    for (const NavCopy& c : kNavCopies) point(c.name, c.x, c.y);
    point("NAV_PREV", 0, 40);
    point("NAV_NEXT", 0, 0);
    point("NAV_STOPON", 130, 0);
    point("NAV_STOPOFF", 130, 40);
    point("NAV_PLAYON", 90, 0);
    point("NAV_PAUSEON", 90, 40);
    point("SLIDERON_MASK", -999, -999);
    point("SLIDEROFF_MASK", -999, -999);
    point("DRAWER_POS", k.nav.drawerPos.x(), k.nav.drawerPos.y());

    section("misc values");
    point("MISC_DRAWER_POS", k.nav.drawerPos.x(), k.nav.drawerPos.y());
    key("NC_BB_DIST_FROM_RIGHT", "5");
    key("MISC_VOLUME_KNOB_width", std::to_string(k.volumeKnob.x()));
    key("MISC_VOLUME_KNOB_images", std::to_string(k.volumeKnob.y()));
    point("MISC_DRAWER_SLIDER_ARRAY_POS", k.nav.sliders.x(), k.nav.sliders.y());
    point("MISC_DRAWER_SLIDER_SIZE", k.nav.sliders.width(), k.nav.sliders.height());
    key("MISC_DRAWER_SLIDER_PITCH", "14");
    key("MISC_DRAWER_DISTANCE_TOSLIDE", "75");
    key("MISC_DRAWER_DISTANCE_TOSLIDE_X", "0");
    key("MISC_DRAWER_DISTANCE_TOSLIDE_Y", "75");
    key("MISC_NAV_VOLUME_KNOB_width", std::to_string(k.volumeKnob.x()));
    key("MISC_NAV_VOLUME_KNOB_images", std::to_string(k.volumeKnob.y()));
    key("MISC_SMALL_KNOB_width", "13");
    key("MISC_SMALL_KNOB_images", "37");
    key("MISC_SHUTTLE_KNOB_width", "49");
    key("MISC_SHUTTLE_KNOB_images", "13");
    key("MISC_DRAWER_SLIDER_HANDLE_SIZE_width", std::to_string(sheets::kHandleWidth));
    key("MISC_DRAWER_SLIDER_HANDLE_SIZE_height", std::to_string(sheets::kHandleHeight));
    key("mid_playlistmode", "1");

    section("msm locations");
    const char* msm[5] = {"MSM_SINGLEUP", "MSM_SINGLEDOWN", "MSM_HELP", "MSM_MINIMIZE", "MSM_CLOSE"};
    for (int i = 0; i < 5; ++i) point(msm[i], k.mid.msm[i].x(), k.mid.msm[i].y());
    return ini;
}

bool drawSkin(const SkinPlan& k, const fs::path& root) {
    fs::remove_all(root);
    Writer w(root);
    const ArtStyle& s = k.style;
    w.jpeg("misc", misc(k));
    w.jpeg("navitem1", glyphSheet(k));
    w.jpeg("navitem2", tabs(k));
    w.jpeg("english/navbuttons", captions(k));
    const QImage midImage = mid(k);
    w.jpeg("midtessura", midImage);
    // Knob frames on the window face, so their corners vanish into it; the shuttle's on the
    // dark hole in the middle of the rings.
    w.jpeg("shuttle", shuttleStrip(s, 49, 13, s.bodyDark));
    w.jpeg("volumeknob", knobStrip(s, k.volumeKnob.x(), k.volumeKnob.y(), s.accent, s.body));
    w.jpeg("navigator", navigator(k));
    w.jpeg("nav_volumeknob", knobStrip(s, k.volumeKnob.x(), k.volumeKnob.y(), s.accent2, s.body));
    w.jpeg("smallknob", knobStrip(s, 13, 37, s.glyphLit, s.body));
    w.jpeg("smallstate", smallState(k));
    w.jpeg("extra", extra(k));
    w.jpeg("splash", splash(k));
    const QImage thumb = thumbnail(midImage);
    w.jpeg("skinthumb", thumb);
    w.jpeg("skinthumbmask", thumbnailMask(k, thumb));
    regions(k, w);
    w.text("skin.ini", skinIni(k));
    return w.ok;
}

SkinPlan slate() {
    SkinPlan k;
    k.folder = "tessura";
    k.title = "Tessura Slate";
    k.author = "The Tessura developers";
    k.url = "https://tessura.invalid/skins";
    k.urlText = "tessura skins";
    ArtStyle& s = k.style;
    s.body = QColor(0x34, 0x40, 0x54);
    s.bodyDark = QColor(0x1c, 0x23, 0x30);
    s.edgeLight = QColor(0x6a, 0x7d, 0x9c);
    s.edgeDark = QColor(0x08, 0x0b, 0x11);
    s.panel = QColor(0x13, 0x18, 0x22);
    s.lcd = QColor(0x08, 0x17, 0x1a);
    s.lcdText = QColor(0x6f, 0xf0, 0xe2);
    s.lcdDim = QColor(0x12, 0x2e, 0x2e);
    s.face = QColor(0x3d, 0x4a, 0x62);
    s.faceLit = QColor(0x26, 0x74, 0x7a);
    s.glyph = QColor(0xc9, 0xd5, 0xe6);
    s.glyphLit = QColor(0xff, 0xff, 0xff);
    s.accent = QColor(0x3f, 0xd0, 0xc9);
    s.accent2 = QColor(0xf2, 0xb3, 0x3d);
    s.text = QColor(0xe4, 0xec, 0xf6);
    s.red = QColor(0xff, 0x55, 0x55);
    s.orange = QColor(0xff, 0xa5, 0x35);
    s.green = QColor(0x74, 0xe8, 0x6e);
    s.cyan = QColor(0x46, 0xe0, 0xea);
    s.buttonRound = 0.22;
    s.frameRadius = 14;
    return k;
}

// The second skin: warm copper, round buttons, and windows cut to shapes by their regions.
SkinPlan ember() {
    SkinPlan k;
    k.folder = "ember";
    k.title = "Ember";
    k.author = "The Tessura developers";
    k.url = "https://tessura.invalid/skins/ember";
    k.urlText = "ember at tessura skins";
    ArtStyle& s = k.style;
    s.body = QColor(0x4a, 0x28, 0x1c);
    s.bodyDark = QColor(0x21, 0x0f, 0x0a);
    s.edgeLight = QColor(0xa8, 0x6e, 0x48);
    s.edgeDark = QColor(0x0c, 0x05, 0x03);
    s.panel = QColor(0x1a, 0x0b, 0x07);
    s.lcd = QColor(0x1c, 0x0c, 0x04);
    s.lcdText = QColor(0xff, 0xb3, 0x47);
    s.lcdDim = QColor(0x3c, 0x1f, 0x0c);
    s.face = QColor(0x6a, 0x3a, 0x28);
    s.faceLit = QColor(0xb8, 0x4e, 0x24);
    s.glyph = QColor(0xf3, 0xdc, 0xc0);
    s.glyphLit = QColor(0xff, 0xf6, 0xe6);
    s.accent = QColor(0xff, 0x7a, 0x2f);
    s.accent2 = QColor(0xff, 0xd2, 0x7a);
    s.text = QColor(0xf8, 0xe6, 0xcc);
    s.red = QColor(0xff, 0x45, 0x33);
    s.orange = QColor(0xff, 0x9a, 0x2a);
    s.green = QColor(0xb8, 0xe0, 0x4a);
    s.cyan = QColor(0xff, 0xde, 0x6a);
    s.buttonRound = 0.5;
    s.frameRadius = 26;
    k.shaped = true;
    k.volumeKnob = {20, 31};

    MidLayout& m = k.mid;
    m.size = QSize(330, 136);
    m.disc = QPointF(64, 68);
    k.midDiscRadius = 62;
    m.top = QRect(136, 10, 160, 20);
    m.logo = QRect(140, 12, 86, 16);
    m.display = QRect(128, 34, 192, 30);
    m.prev = QRect(130, 66, 30, 40);
    m.play = QRect(162, 66, 40, 40);
    m.pause = QRect(204, 66, 40, 40);
    m.next = QRect(246, 66, 30, 40);
    m.eject = QRect(280, 68, 40, 35);
    m.eq = QRect(136, 106, 30, 20);
    m.repeat = QRect(168, 106, 30, 20);
    m.shuffle = QRect(200, 106, 30, 20);
    m.bottom = QRect(232, 106, 50, 20);
    m.volume = QRect(290, 107, 20, 20);
    // The small buttons ride the disc's rim, upper left.
    for (int i = 0; i < 5; ++i) {
        const double a = (200.0 + 17.0 * i) * std::numbers::pi / 180.0;
        m.msm[i] = QPoint(int(std::lround(m.disc.x() + std::cos(a) * 55 - 4.5)),
                          int(std::lround(m.disc.y() + std::sin(a) * 55 - 4.5)));
    }
    k.nav.volume = QRect(269, 157, 20, 20);
    s.frameRadius = 26;
    return k;
}

}  // namespace
}  // namespace tessura::art

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tessura-skin-art OUTDIR\n");
        return 2;
    }
    using namespace tessura::art;
    const fs::path out = argv[1];
    bool ok = true;
    for (const SkinPlan& plan : {slate(), ember()}) ok = drawSkin(plan, out / plan.folder) && ok;
    return ok ? 0 : 1;
}

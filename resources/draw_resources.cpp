// Draws the program's pictures: the window icon, the eight picture-button glyphs and
// the six toolbar images. The PNGs it writes are committed; run it again only when a
// picture changes:
//
//   g++ -std=c++20 -fPIC draw_resources.cpp -o /tmp/draw_resources \
//       $(pkg-config --cflags --libs Qt6Gui) && /tmp/draw_resources resources
//
// Everything is drawn pixel by pixel or without antialiasing: at 12x11 and 19x18 a
// smoothed edge only blurs.

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kGlyphWidth = 12;
constexpr int kGlyphHeight = 11;
constexpr int kToolWidth = 19;
constexpr int kToolHeight = 18;
constexpr int kIconSize = 32;
// The toolbar images sit on this grey; the image list's mask colour (192) matches no
// pixel, so the grey stays.
const QColor kToolGrey(191, 191, 191);

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kGrey(128, 128, 128);
const QColor kSilver(192, 192, 192);
const QColor kNavy(0, 0, 128);
const QColor kBlue(0, 0, 255);
const QColor kRed(128, 0, 0);
const QColor kTeal(0, 128, 128);
const QColor kYellow(255, 255, 0);

QImage blank(int w, int h, QColor fill)
{
    QImage img(w, h, fill.alpha() == 255 ? QImage::Format_RGB32 : QImage::Format_ARGB32);
    img.fill(fill);
    return img;
}

void set(QImage& img, int x, int y, QColor c)
{
    if (x >= 0 && y >= 0 && x < img.width() && y < img.height())
        img.setPixelColor(x, y, c);
}

void hline(QImage& img, int x0, int x1, int y, QColor c)
{
    for (int x = x0; x <= x1; ++x)
        set(img, x, y, c);
}

void vline(QImage& img, int x, int y0, int y1, QColor c)
{
    for (int y = y0; y <= y1; ++y)
        set(img, x, y, c);
}

void box(QImage& img, int x0, int y0, int x1, int y1, QColor c)
{
    for (int y = y0; y <= y1; ++y)
        hline(img, x0, x1, y, c);
}

// A solid triangle 9 rows high centred on row cy; depth columns deep with its flat edge
// at column edge. Each row is 2 columns shorter per row away from the middle (depth 10)
// or 1 column (depth 5), so the slopes stay even.
void triangle(QImage& img, int edge, int cy, int depth, bool pointsRight, QColor c)
{
    const int step = depth >= 10 ? 2 : 1;
    for (int d = -4; d <= 4; ++d) {
        const int len = depth - step * std::abs(d);
        if (pointsRight)
            hline(img, edge, edge + len - 1, cy + d, c);
        else
            hline(img, edge - len + 1, edge, cy + d, c);
    }
}

bool save(const QImage& img, const QString& path)
{
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// --- Button glyphs: black on transparent, 12x11 -------------------------------------

QImage glyph(const char* which)
{
    QImage g = blank(kGlyphWidth, kGlyphHeight, Qt::transparent);
    const QString w = QString::fromLatin1(which);
    const int mid = 5;
    if (w == "play") {
        triangle(g, 1, mid, 10, true, kBlack);
    } else if (w == "pause") {
        box(g, 2, 1, 4, 9, kBlack);
        box(g, 7, 1, 9, 9, kBlack);
    } else if (w == "stop") {
        box(g, 2, 1, 9, 9, kBlack);
    } else if (w == "prev") {
        box(g, 0, 0, 1, kGlyphHeight - 1, kBlack);
        triangle(g, 6, mid, 5, false, kBlack);
        triangle(g, 11, mid, 5, false, kBlack);
        // The apexes sit at columns 2 and 7; the flat edges at 6 and 11.
    } else if (w == "rewind") {
        triangle(g, 5, mid, 5, false, kBlack);
        triangle(g, 10, mid, 5, false, kBlack);
    } else if (w == "forward") {
        triangle(g, 1, mid, 5, true, kBlack);
        triangle(g, 6, mid, 5, true, kBlack);
    } else if (w == "next") {
        triangle(g, 0, mid, 5, true, kBlack);
        triangle(g, 5, mid, 5, true, kBlack);
        box(g, 10, 0, 11, kGlyphHeight - 1, kBlack);
    } else if (w == "eject") {
        for (int row = 0; row < 5; ++row)
            hline(g, 6 - row, 6 + row, 1 + row, kBlack);
        box(g, 2, 7, 10, 9, kBlack);
    }
    return g;
}

// --- Toolbar images: 19x18 on grey 191 ----------------------------------------------

QImage listEdit()
{
    QImage t = blank(kToolWidth, kToolHeight, kToolGrey);
    // The sheet with a folded corner.
    box(t, 2, 1, 12, 16, kWhite);
    hline(t, 2, 10, 1, kBlack);
    vline(t, 2, 1, 16, kBlack);
    hline(t, 2, 13, 16, kBlack);
    vline(t, 13, 4, 16, kBlack);
    set(t, 11, 2, kBlack); set(t, 12, 3, kBlack);
    vline(t, 10, 1, 3, kGrey); hline(t, 10, 12, 4, kGrey);
    set(t, 11, 3, kSilver); set(t, 11, 2, kBlack);
    // Written lines.
    for (int y = 5; y <= 14; y += 3)
        hline(t, 4, y == 5 ? 8 : 10, y, kNavy);
    // The pencil, lying from bottom left to top right across the sheet's edge.
    for (int i = 0; i < 9; ++i) {
        const int x = 8 + i;
        const int y = 14 - i;
        set(t, x, y, kYellow);
        set(t, x + 1, y, kRed);
        set(t, x, y - 1, kRed);
        set(t, x + 1, y - 1, kYellow);
    }
    set(t, 7, 15, kBlack);                  // point
    set(t, 8, 15, kSilver); set(t, 7, 14, kSilver);
    set(t, 17, 6, kGrey); set(t, 17, 5, kGrey); set(t, 16, 5, kGrey); // eraser end
    return t;
}

QImage clock(bool withArrow)
{
    QImage t = blank(kToolWidth, kToolHeight, kToolGrey);
    QPainter p(&t);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QRect face(1, 1, 15, 15);
    p.setPen(Qt::NoPen);
    p.setBrush(kWhite);
    p.drawEllipse(face);
    // The shaded half is the time gone by; the remaining-time face points into the
    // other half.
    p.setBrush(kTeal);
    p.drawPie(face, 90 * 16, 180 * 16);
    p.setPen(kBlack);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(face);
    // Hands.
    p.drawLine(8, 8, 8, 3);
    p.drawLine(8, 8, 11, 8);
    p.end();
    if (withArrow) {
        // A small arrow in the white half, pointing down the remaining time.
        vline(t, 12, 4, 10, kRed);
        hline(t, 10, 14, 10, kRed);
        hline(t, 11, 13, 11, kRed);
        set(t, 12, 12, kRed);
    }
    return t;
}

QImage crossingArrows()
{
    QImage t = blank(kToolWidth, kToolHeight, kToolGrey);
    // One arrow from top left to bottom right, one from bottom left to top right, each
    // with its head at the right.
    for (int i = 0; i <= 11; ++i) {
        set(t, 2 + i, 3 + i, kNavy);
        set(t, 2 + i, 4 + i, kNavy);
        set(t, 2 + i, 14 - i, kBlack);
        set(t, 2 + i, 13 - i, kBlack);
    }
    // Heads.
    hline(t, 11, 15, 15, kNavy); vline(t, 15, 11, 15, kNavy); hline(t, 13, 15, 14, kNavy);
    vline(t, 14, 12, 14, kNavy);
    hline(t, 11, 15, 2, kBlack); vline(t, 15, 2, 6, kBlack); hline(t, 13, 15, 3, kBlack);
    vline(t, 14, 3, 5, kBlack);
    return t;
}

QImage circularArrow()
{
    QImage t = blank(kToolWidth, kToolHeight, kToolGrey);
    QPainter p(&t);
    p.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(kNavy);
    pen.setWidth(2);
    p.setPen(pen);
    // Most of a circle, open at the top right; it runs clockwise into the head.
    p.drawArc(QRect(3, 4, 12, 12), 100 * 16, 280 * 16);
    p.end();
    // The head at the top end, pointing right.
    for (int d = -3; d <= 3; ++d)
        hline(t, 9, 9 + 3 - std::abs(d), 4 + d, kNavy);
    return t;
}

QImage introList()
{
    QImage t = blank(kToolWidth, kToolHeight, kToolGrey);
    for (int row = 0; row < 3; ++row) {
        const int y = 2 + row * 5;
        box(t, 1, y, 3, y + 2, kNavy);          // bullet
        hline(t, 6, 14, y + 1, kBlack);         // arrow shaft
        vline(t, 14, y - 1, y + 3, kBlack);     // head
        vline(t, 15, y, y + 2, kBlack);
        set(t, 16, y + 1, kBlack);
    }
    return t;
}

// --- Window icon: a loudspeaker sending out sound waves ------------------------------

QImage speakerIcon(int size)
{
    QImage img = blank(size, size, Qt::transparent);
    QPainter p(&img);
    // Drawn for 32 pixels; other sizes are the same drawing scaled, smoothed.
    p.setRenderHint(QPainter::Antialiasing, size != kIconSize);
    p.scale(size / 32.0, size / 32.0);
    // Magnet and cone.
    p.setPen(kBlack);
    p.setBrush(kGrey);
    p.drawRect(3, 12, 5, 8);
    p.setBrush(kSilver);
    p.drawPolygon(QPolygon({QPoint(8, 12), QPoint(15, 5), QPoint(15, 27), QPoint(8, 20)}));
    p.setPen(kWhite);
    p.drawLine(9, 13, 14, 8);
    // Waves, growing outwards.
    QPen wave(kNavy);
    wave.setWidth(2);
    p.setPen(wave);
    p.setBrush(Qt::NoBrush);
    for (int r = 5; r <= 13; r += 4)
        p.drawArc(QRectF(16 - r, 16 - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
    p.end();
    return img;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir root(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    root.mkpath(QStringLiteral("glyphs"));
    root.mkpath(QStringLiteral("toolbar"));
    root.mkpath(QStringLiteral("icons"));

    bool ok = true;
    for (const char* name : {"play", "pause", "stop", "prev", "rewind", "forward", "next", "eject"})
        ok &= save(glyph(name), root.filePath(QStringLiteral("glyphs/%1.png").arg(QLatin1String(name))));

    const QImage tools[] = {listEdit(), clock(false), clock(true), crossingArrows(),
                            circularArrow(), introList()};
    for (int i = 0; i < 6; ++i)
        ok &= save(tools[i].convertToFormat(QImage::Format_RGB888),
                   root.filePath(QStringLiteral("toolbar/%1.png").arg(i + 1)));

    ok &= save(speakerIcon(kIconSize), root.filePath(QStringLiteral("icons/sequora-32.png")));
    ok &= save(speakerIcon(64), root.filePath(QStringLiteral("icons/sequora-64.png")));
    return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}

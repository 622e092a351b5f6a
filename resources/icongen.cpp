// Draws the program's icons. Each is designed on a 16 x 16 grid with straight
// edges on whole grid lines, then rendered at a multiple of 16 pixels, so it stays
// sharp when the menu or the tray shows it at 16, 22 or 32 pixels.
//   zorvel_icongen <output folder>   (also <output folder>/hicolor/<n>x<n>/apps/zorvel.png)
#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <functional>

namespace {

const QColor kBlue(0x1e, 0x6f, 0xd9);
const QColor kBlueDark(0x14, 0x4f, 0xa3);
const QColor kGold(0xe8, 0xa3, 0x17);
const QColor kGoldDark(0xa8, 0x70, 0x00);
const QColor kGreen(0x2e, 0xa0, 0x4f);
const QColor kPurple(0x7b, 0x4f, 0xc9);
const QColor kRed(0xd9, 0x34, 0x2b);
const QColor kGrey(0x5f, 0x67, 0x70);
const QColor kPaper(0xfb, 0xfb, 0xfb);

using Draw = std::function<void(QPainter &)>;

bool render(const QString &path, int pixels, const Draw &draw)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(pixels / 16.0, pixels / 16.0);
    draw(p);
    p.end();
    return image.save(path, "PNG");
}

QPen pen(const QColor &color, double width)
{
    return QPen(color, width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
}

// A clipboard with a "Z" on it: the program's own mark.
void drawLogo(QPainter &p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(1, 1, 14, 14), 3, 3);
    p.setBrush(kPaper);
    p.drawRect(QRectF(4, 3, 8, 11));
    p.setBrush(kBlueDark);
    p.drawRect(QRectF(6, 2, 4, 2));
    QPainterPath z;
    z.moveTo(5.5, 6);
    z.lineTo(10.5, 6);
    z.lineTo(10.5, 7.25);
    z.lineTo(7.25, 11);
    z.lineTo(10.5, 11);
    z.lineTo(10.5, 12);
    z.lineTo(5.5, 12);
    z.lineTo(5.5, 10.75);
    z.lineTo(8.75, 7);
    z.lineTo(5.5, 7);
    z.closeSubpath();
    p.setBrush(kBlue);
    p.drawPath(z);
}

void drawLockBody(QPainter &p)
{
    p.setPen(pen(kGoldDark, 1));
    p.setBrush(kGold);
    p.drawRect(QRectF(2.5, 7.5, 11, 7));
    p.setPen(Qt::NoPen);
    p.setBrush(kGoldDark);
    p.drawRect(QRectF(7, 9, 2, 3));
}

void drawLock(QPainter &p)
{
    p.setPen(pen(kGrey, 2));
    p.setBrush(Qt::NoBrush);
    QPainterPath shackle;
    shackle.moveTo(5, 8);
    shackle.lineTo(5, 5);
    shackle.arcTo(QRectF(5, 2, 6, 6), 180, -180);
    shackle.lineTo(11, 8);
    p.drawPath(shackle);
    drawLockBody(p);
}

void drawUnlock(QPainter &p)
{
    p.setPen(pen(kGrey, 2));
    p.setBrush(Qt::NoBrush);
    QPainterPath shackle;
    shackle.moveTo(11, 8);
    shackle.lineTo(11, 4);
    shackle.arcTo(QRectF(11, 1, 4, 6), 180, -180);
    shackle.lineTo(15, 5);
    p.drawPath(shackle);
    drawLockBody(p);
}

// A puzzle piece: a square with a knob on top and on the right.
QPainterPath puzzlePiece()
{
    QPainterPath piece;
    piece.addRect(QRectF(2, 5, 9, 9));
    QPainterPath knobs;
    knobs.addEllipse(QRectF(4.5, 2, 4, 4));
    knobs.addEllipse(QRectF(9.5, 7.5, 4, 4));
    return piece.united(knobs);
}

void drawPlugin(QPainter &p)
{
    p.setPen(pen(kGreen.darker(140), 1));
    p.setBrush(kGreen);
    p.drawPath(puzzlePiece().translated(0.5, 0.5));
}

// A plugin run from the menu: a small piece with a "play" arrow.
void drawPluginMenu(QPainter &p)
{
    p.setPen(pen(kPurple.darker(140), 1));
    p.setBrush(kPurple);
    p.drawPath(puzzlePiece().translated(0.5, 0.5));
    QPainterPath play;
    play.moveTo(5, 8);
    play.lineTo(9, 10.5);
    play.lineTo(5, 13);
    play.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kPaper);
    p.drawPath(play);
}

void drawFile(QPainter &p)
{
    QPainterPath sheet;
    sheet.moveTo(3.5, 1.5);
    sheet.lineTo(9.5, 1.5);
    sheet.lineTo(12.5, 4.5);
    sheet.lineTo(12.5, 14.5);
    sheet.lineTo(3.5, 14.5);
    sheet.closeSubpath();
    p.setPen(pen(kGrey, 1));
    p.setBrush(kPaper);
    p.drawPath(sheet);
    QPainterPath fold;
    fold.moveTo(9.5, 1.5);
    fold.lineTo(9.5, 4.5);
    fold.lineTo(12.5, 4.5);
    p.setBrush(Qt::NoBrush);
    p.drawPath(fold);
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    for (int y : {7, 9, 11})
        p.drawRect(QRectF(5, y, 6, 1));
}

void drawAlert(QPainter &p)
{
    QPainterPath triangle;
    triangle.moveTo(8, 1.5);
    triangle.lineTo(15, 14.5);
    triangle.lineTo(1, 14.5);
    triangle.closeSubpath();
    p.setPen(QPen(kGoldDark, 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kGold);
    p.drawPath(triangle);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawRect(QRectF(7, 5, 2, 5));
    p.drawRect(QRectF(7, 11, 2, 2));
}

// "Newer version": a red badge with an upward arrow.
void drawNew(QPainter &p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawEllipse(QRectF(1, 1, 14, 14));
    QPainterPath arrow;
    arrow.moveTo(8, 3);
    arrow.lineTo(12, 8);
    arrow.lineTo(9, 8);
    arrow.lineTo(9, 13);
    arrow.lineTo(7, 13);
    arrow.lineTo(7, 8);
    arrow.lineTo(4, 8);
    arrow.closeSubpath();
    p.setBrush(kPaper);
    p.drawPath(arrow);
}

// A shield with a keyhole: the privacy tab's picture.
void drawPrivacy(QPainter &p)
{
    QPainterPath shield;
    shield.moveTo(8, 1);
    shield.lineTo(14, 3);
    shield.lineTo(14, 8);
    shield.cubicTo(14, 11.5, 11, 14, 8, 15);
    shield.cubicTo(5, 14, 2, 11.5, 2, 8);
    shield.lineTo(2, 3);
    shield.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawPath(shield);
    p.setBrush(kBlueDark);
    QPainterPath half;
    half.moveTo(8, 1);
    half.lineTo(14, 3);
    half.lineTo(14, 8);
    half.cubicTo(14, 11.5, 11, 14, 8, 15);
    half.closeSubpath();
    p.drawPath(half);
    p.setBrush(kPaper);
    p.drawEllipse(QRectF(6.5, 5, 3, 3));
    QPainterPath stem;
    stem.moveTo(7.25, 7);
    stem.lineTo(8.75, 7);
    stem.lineTo(9.25, 11);
    stem.lineTo(6.75, 11);
    stem.closeSubpath();
    p.drawPath(stem);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: zorvel_icongen <output folder>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    struct Icon {
        const char *file;
        int pixels;
        Draw draw;
    };
    const Icon icons[] = {
        {"tray.png", 64, drawLogo},     {"icon_about.png", 96, drawLogo}, {"privacy.png", 96, drawPrivacy},
        {"lock.png", 32, drawLock},     {"unlock.png", 32, drawUnlock},   {"plugin.png", 32, drawPlugin},
        {"plugin_menu.png", 32, drawPluginMenu}, {"file_icon.png", 32, drawFile}, {"alert.png", 32, drawAlert},
        {"new.png", 32, drawNew},
    };
    for (const Icon &icon : icons) {
        const QString path = out + QLatin1Char('/') + QLatin1String(icon.file);
        if (!render(path, icon.pixels, icon.draw)) {
            std::fprintf(stderr, "zorvel_icongen: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    // The application icon for the desktop's icon theme, at the sizes menus and docks ask for.
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = out + QStringLiteral("/hicolor/%1x%1/apps").arg(size);
        QDir().mkpath(dir);
        if (!render(dir + QStringLiteral("/zorvel.png"), size, drawLogo)) {
            std::fprintf(stderr, "zorvel_icongen: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}

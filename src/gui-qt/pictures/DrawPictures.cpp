// Draws the window's pictures into PNG files at build time: the search
// picture (two blue curved arrows closing a circle), the quit picture (a
// green arrow entering an open door), each at 24 x 24 and at 48 x 48 for
// screens with twice the pixel density, and the application's icon at the
// sizes desktops ask for.
//
// usage: vardel-draw-pictures OUTPUT_DIR
//
// Everything is drawn in a 24-unit (pictures) or 256-unit (icon) square and
// scaled, so each size is drawn from the same shapes, anti-aliased.
#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPen>
#include <QPointF>
#include <QPolygonF>
#include <QRadialGradient>
#include <QRectF>
#include <QString>
#include <QTransform>

#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>

namespace {

using Painting = std::function<void(QPainter&)>;

QImage Draw(int size, double units, const Painting& paint) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / units, size / units);
    paint(painter);
    painter.end();
    return image;
}

bool Save(const QImage& image, const QString& path) {
    if (image.save(path, "PNG")) return true;
    std::fprintf(stderr, "vardel-draw-pictures: cannot write %s\n", qPrintable(path));
    return false;
}

// A point of the circle of radius r around c, at `degrees` counter-clockwise
// from three o'clock, as the screen shows it (y grows downwards).
QPointF OnCircle(QPointF c, double r, double degrees) {
    const double a = degrees * std::numbers::pi / 180.0;
    return {c.x() + r * std::cos(a), c.y() - r * std::sin(a)};
}

// One curved arrow of the search picture: a band along the circle from
// `from` clockwise to `to` (degrees), ended by a head pointing clockwise.
QPainterPath CurvedArrow(QPointF c, double r, double from, double to, double band, double head) {
    QPainterPath arc;
    arc.arcMoveTo(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), from);
    arc.arcTo(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), from, to - from);
    QPainterPathStroker stroker;
    stroker.setWidth(band);
    stroker.setCapStyle(Qt::FlatCap);
    QPainterPath shape = stroker.createStroke(arc);

    const double a = to * std::numbers::pi / 180.0;
    const QPointF end = OnCircle(c, r, to);
    const QPointF along(std::sin(a), std::cos(a));     // clockwise tangent
    const QPointF outward(std::cos(a), -std::sin(a));  // away from the centre
    QPolygonF tip;
    tip << end + outward * head * 0.95 << end + along * head * 1.05 << end - outward * head * 0.95
        << end + outward * head * 0.95;
    QPainterPath head_path;
    head_path.addPolygon(tip);
    return shape.united(head_path).simplified();
}

void PaintSearch(QPainter& p) {
    const QPointF c(12, 12);
    const double r = 7.4;
    QPainterPath arrows = CurvedArrow(c, r, 166, 30, 3.0, 4.2);
    arrows = arrows.united(CurvedArrow(c, r, -14, -150, 3.0, 4.2));

    QLinearGradient blue(QPointF(4, 3), QPointF(20, 21));
    blue.setColorAt(0.0, QColor(0x5c, 0xb2, 0xf5));
    blue.setColorAt(0.55, QColor(0x1f, 0x78, 0xd6));
    blue.setColorAt(1.0, QColor(0x10, 0x4f, 0xa8));
    p.setPen(QPen(QColor(0x0b, 0x3d, 0x86, 200), 0.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(blue);
    p.drawPath(arrows);

    // A light along the upper edge of each band, for some relief.
    QPainterPath shine;
    shine.arcMoveTo(QRectF(c.x() - r - 0.6, c.y() - r - 0.6, 2 * r + 1.2, 2 * r + 1.2), 150);
    shine.arcTo(QRectF(c.x() - r - 0.6, c.y() - r - 0.6, 2 * r + 1.2, 2 * r + 1.2), 150, -110);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 110), 0.8, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(shine);
}

void PaintQuit(QPainter& p) {
    // The doorway: a frame around a dark opening.
    const QRectF doorway(9.5, 2.5, 10.0, 19.5);
    QLinearGradient dark(doorway.topLeft(), doorway.bottomRight());
    dark.setColorAt(0.0, QColor(0x2a, 0x30, 0x3a));
    dark.setColorAt(1.0, QColor(0x55, 0x5e, 0x6c));
    p.setPen(QPen(QColor(0x5b, 0x3a, 0x1e), 1.3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(dark);
    p.drawRect(doorway);
    // The threshold.
    p.setPen(QPen(QColor(0x5b, 0x3a, 0x1e), 1.6, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(8.2, 22.4), QPointF(20.8, 22.4));

    // The leaf, hinged on the right of the doorway and swung towards us.
    QPolygonF leaf;
    leaf << QPointF(19.5, 2.5) << QPointF(23.3, 4.6) << QPointF(23.3, 23.4) << QPointF(19.5, 22.0);
    QLinearGradient wood(QPointF(19.5, 0), QPointF(23.3, 0));
    wood.setColorAt(0.0, QColor(0xa8, 0x6a, 0x32));
    wood.setColorAt(1.0, QColor(0xd9, 0x9a, 0x55));
    p.setPen(QPen(QColor(0x5b, 0x3a, 0x1e), 0.9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(wood);
    p.drawPolygon(leaf);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf4, 0xd0, 0x3f));
    p.drawEllipse(QPointF(22.2, 13.6), 0.75, 0.9);

    // The arrow, from the left into the opening.
    QPolygonF arrow;
    arrow << QPointF(0.8, 10.0) << QPointF(8.6, 10.0) << QPointF(8.6, 6.2) << QPointF(16.6, 12.5)
          << QPointF(8.6, 18.8) << QPointF(8.6, 15.0) << QPointF(0.8, 15.0);
    QLinearGradient green(QPointF(0, 6), QPointF(0, 19));
    green.setColorAt(0.0, QColor(0x7d, 0xe0, 0x6c));
    green.setColorAt(0.5, QColor(0x2f, 0xb0, 0x2f));
    green.setColorAt(1.0, QColor(0x17, 0x80, 0x1d));
    p.setPen(QPen(QColor(0x0d, 0x57, 0x12), 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(green);
    p.drawPolygon(arrow);
}

// The application's icon: a health card going into a reader, on a blue tile.
void PaintIcon(QPainter& p) {
    QPainterPath tile;
    tile.addRoundedRect(QRectF(12, 12, 232, 232), 46, 46);
    QLinearGradient sky(QPointF(0, 12), QPointF(0, 244));
    sky.setColorAt(0.0, QColor(0x4d, 0xa3, 0xf0));
    sky.setColorAt(1.0, QColor(0x15, 0x4f, 0xa6));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawPath(tile);
    // A soft light on the upper half of the tile.
    QRadialGradient glow(QPointF(90, 40), 200);
    glow.setColorAt(0.0, QColor(255, 255, 255, 70));
    glow.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.setBrush(glow);
    p.drawPath(tile);

    // The card, tilted, its lower part inside the reader.
    p.save();
    p.translate(128, 112);
    p.rotate(-8);
    const QRectF card(-78, -62, 156, 100);
    QPainterPath cardShape;
    cardShape.addRoundedRect(card, 11, 11);
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawPath(cardShape.translated(3, 5));
    QLinearGradient greenCard(card.topLeft(), card.bottomRight());
    greenCard.setColorAt(0.0, QColor(0x4c, 0xc4, 0x5c));
    greenCard.setColorAt(1.0, QColor(0x1a, 0x86, 0x3b));
    p.setBrush(greenCard);
    p.drawPath(cardShape);
    // The yellow band across the card.
    p.save();
    p.setClipPath(cardShape);
    QPainterPath band;
    band.moveTo(-78, -2);
    band.cubicTo(-30, -30, 30, 10, 78, -22);
    band.lineTo(78, -6);
    band.cubicTo(30, 26, -30, -14, -78, 14);
    band.closeSubpath();
    p.setBrush(QColor(0xf6, 0xd3, 0x3c));
    p.drawPath(band);
    p.restore();
    // The chip.
    const QRectF chip(-60, -44, 34, 27);
    QLinearGradient gold(chip.topLeft(), chip.bottomRight());
    gold.setColorAt(0.0, QColor(0xfb, 0xe7, 0x9a));
    gold.setColorAt(1.0, QColor(0xc8, 0x95, 0x2a));
    p.setBrush(gold);
    p.setPen(QPen(QColor(0x8a, 0x62, 0x16), 1.6));
    p.drawRoundedRect(chip, 5, 5);
    p.setPen(QPen(QColor(0x8a, 0x62, 0x16), 1.4));
    p.drawLine(QPointF(chip.left(), chip.center().y()), QPointF(chip.right(), chip.center().y()));
    p.drawLine(QPointF(chip.center().x(), chip.top()), QPointF(chip.center().x(), chip.bottom()));
    p.restore();

    // The reader, in front of the card's lower part.
    const QRectF body(36, 140, 184, 80);
    QLinearGradient slate(body.topLeft(), body.bottomLeft());
    slate.setColorAt(0.0, QColor(0x4a, 0x52, 0x60));
    slate.setColorAt(1.0, QColor(0x1c, 0x21, 0x29));
    p.setPen(QPen(QColor(0x12, 0x16, 0x1c), 2.0));
    p.setBrush(slate);
    p.drawRoundedRect(body, 16, 16);
    // The slot the card goes into.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0b, 0x0e, 0x12));
    p.drawRoundedRect(QRectF(50, 146, 156, 9), 4, 4);
    // The lit indicator.
    QRadialGradient led(QPointF(196, 198), 10);
    led.setColorAt(0.0, QColor(0xc8, 0xff, 0xb8));
    led.setColorAt(0.5, QColor(0x3c, 0xe0, 0x4a));
    led.setColorAt(1.0, QColor(0x3c, 0xe0, 0x4a, 0));
    p.setBrush(led);
    p.drawEllipse(QPointF(196, 198), 10, 10);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vardel-draw-pictures OUTPUT_DIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "vardel-draw-pictures: cannot make %s\n", argv[1]);
        return 1;
    }
    bool ok = true;
    ok &= Save(Draw(24, 24, PaintSearch), out.filePath("search.png"));
    ok &= Save(Draw(48, 24, PaintSearch), out.filePath("search@2x.png"));
    ok &= Save(Draw(24, 24, PaintQuit), out.filePath("quit.png"));
    ok &= Save(Draw(48, 24, PaintQuit), out.filePath("quit@2x.png"));
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        ok &= Save(Draw(size, 256, PaintIcon), out.filePath(QString("vardel-lecteurs-%1.png").arg(size)));
    }
    return ok ? 0 : 1;
}

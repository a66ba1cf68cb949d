// Draws the demo's made-up app icons: gradient squares with a simple white glyph, so no real
// app's artwork ever ships. Deterministic, so a rerun gives the same files.

#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QtMath>

#include <cstdio>

namespace {

constexpr int iconSize = 120;
constexpr int glyphCount = 12;
constexpr int paletteCount = 4;

QPainterPath star(QPointF centre, double outer, double inner, int points)
{
    QPolygonF polygon;
    for (int i = 0; i < points * 2; ++i) {
        const double angle = M_PI * i / points - M_PI / 2;
        const double radius = i % 2 == 0 ? outer : inner;
        polygon << centre + QPointF(radius * std::cos(angle), radius * std::sin(angle));
    }
    QPainterPath path;
    path.addPolygon(polygon);
    path.closeSubpath();
    return path;
}

void drawGlyph(QPainter& painter, int glyph)
{
    const QPointF c(iconSize / 2.0, iconSize / 2.0);
    QPainterPath path;
    switch (glyph) {
    case 0: // ring
        path.addEllipse(c, 34, 34);
        path.addEllipse(c, 20, 20);
        break;
    case 1:
        path = star(c, 38, 16, 5);
        break;
    case 2: { // leaf
        path.moveTo(30, 90);
        path.cubicTo(30, 40, 60, 28, 92, 28);
        path.cubicTo(92, 62, 78, 92, 30, 90);
        break;
    }
    case 3: // bars
        path.addRoundedRect(28, 62, 16, 30, 4, 4);
        path.addRoundedRect(52, 44, 16, 48, 4, 4);
        path.addRoundedRect(76, 28, 16, 64, 4, 4);
        break;
    case 4: { // drop
        path.moveTo(60, 22);
        path.cubicTo(80, 50, 88, 62, 88, 74);
        path.arcTo(32, 46, 56, 56, 0, -180);
        path.cubicTo(32, 62, 40, 50, 60, 22);
        break;
    }
    case 5: // dots
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 3; ++col)
                path.addEllipse(QPointF(34 + col * 26, 34 + row * 26), 9, 9);
        break;
    case 6: { // wave
        painter.setPen(QPen(Qt::white, 9, Qt::SolidLine, Qt::RoundCap));
        for (int line = 0; line < 3; ++line) {
            QPainterPath wave;
            const double y = 38 + line * 22;
            wave.moveTo(24, y);
            wave.cubicTo(42, y - 14, 54, y + 14, 72, y);
            wave.cubicTo(84, y - 10, 90, y - 6, 96, y);
            painter.drawPath(wave);
        }
        return;
    }
    case 7: // diamond
        path.addPolygon(QPolygonF({{60, 20}, {98, 60}, {60, 100}, {22, 60}}));
        path.addPolygon(QPolygonF({{60, 40}, {78, 60}, {60, 80}, {42, 60}}));
        break;
    case 8: { // hexagon
        QPolygonF hexagon;
        for (int i = 0; i < 6; ++i)
            hexagon << c + QPointF(38 * std::cos(M_PI / 3 * i), 38 * std::sin(M_PI / 3 * i));
        path.addPolygon(hexagon);
        path.closeSubpath();
        path.addEllipse(c, 14, 14);
        break;
    }
    case 9: // cloud
        path.addEllipse(QPointF(46, 66), 20, 20);
        path.addEllipse(QPointF(66, 54), 24, 24);
        path.addEllipse(QPointF(82, 70), 16, 16);
        path.addRoundedRect(30, 66, 66, 20, 10, 10);
        path.setFillRule(Qt::WindingFill);
        break;
    case 10: { // play
        path.addPolygon(QPolygonF({{44, 30}, {92, 60}, {44, 90}}));
        path.closeSubpath();
        break;
    }
    default: { // crescent
        QPainterPath moon;
        moon.addEllipse(c, 36, 36);
        QPainterPath bite;
        bite.addEllipse(c + QPointF(18, -14), 32, 32);
        path = moon.subtracted(bite);
        break;
    }
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawPath(path);
}

QImage icon(int index)
{
    const int glyph = index % glyphCount;
    const int palette = index / glyphCount;
    // Hues spread around the wheel; each palette shifts them so no two icons share colour and glyph.
    const int hue = (index * 137 + palette * 23) % 360;
    const QColor top = QColor::fromHsv(hue, 150 + palette * 20, 250 - palette * 10);
    const QColor bottom = QColor::fromHsv((hue + 40) % 360, 220, 190 - palette * 15);

    QImage image(iconSize, iconSize, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, iconSize * 0.4, iconSize);
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    painter.fillRect(image.rect(), gradient);
    painter.setOpacity(0.95);
    drawGlyph(painter, glyph);
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    for (int index = 0; index < glyphCount * paletteCount; ++index) {
        const QString name = folder.filePath(QStringLiteral("icon-%1.png").arg(index, 2, 10, QLatin1Char('0')));
        if (!icon(index).save(name, "PNG", 9)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
            return 1;
        }
    }
    return 0;
}

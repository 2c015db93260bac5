// Paints the program's icon (a meter dial on a rounded tile) at one size into a PNG, so the
// icon is crisp at every size the desktop asks for instead of scaled from one picture.
//
//   kt580-make-icon SIZE FILE
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kt580-make-icon SIZE FILE\n");
        return 2;
    }
    const int size = std::atoi(argv[1]);
    if (size < 8 || size > 1024) {
        std::fprintf(stderr, "size 8 to 1024\n");
        return 2;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size;

    // Tile.
    const QRectF tile(s * 0.04, s * 0.04, s * 0.92, s * 0.92);
    QLinearGradient fill(tile.topLeft(), tile.bottomLeft());
    fill.setColorAt(0, QColor(0x1F, 0x6F, 0xC5));
    fill.setColorAt(1, QColor(0x0D, 0x3F, 0x7F));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(tile, s * 0.18, s * 0.18);

    // Dial: a white arc with a scale, and a needle pointing into the upper range.
    const QPointF centre(s * 0.5, s * 0.62);
    const double radius = s * 0.32;
    QPen arcPen(Qt::white, std::max(1.0, s * 0.07), Qt::SolidLine, Qt::RoundCap);
    p.setPen(arcPen);
    p.setBrush(Qt::NoBrush);
    const QRectF dial(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    p.drawArc(dial, 20 * 16, 140 * 16);
    if (size >= 24) {
        QPen tick(Qt::white, std::max(1.0, s * 0.03), Qt::SolidLine, Qt::RoundCap);
        p.setPen(tick);
        for (int i = 0; i <= 4; ++i) {
            const double a = (20 + i * 35) * M_PI / 180.0;
            const QPointF dir(std::cos(a), -std::sin(a));
            p.drawLine(centre + dir * (radius * 0.62), centre + dir * (radius * 0.80));
        }
    }
    const double needle = 55 * M_PI / 180.0;
    QPen needlePen(QColor(0xFF, 0xC1, 0x07), std::max(1.0, s * 0.06), Qt::SolidLine, Qt::RoundCap);
    p.setPen(needlePen);
    p.drawLine(centre, centre + QPointF(std::cos(needle), -std::sin(needle)) * (radius * 0.85));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xFF, 0xC1, 0x07));
    p.drawEllipse(centre, s * 0.06, s * 0.06);
    p.end();
    return image.save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
}

#include "shell/ShellIcons.h"

#include "meter/ValueColours.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

namespace {

// The outline colour: dark on a light desktop, light on a dark one, so the images read on both.
QColor Ink() {
    const QColor bg = QGuiApplication::palette().color(QPalette::Window);
    return IsDarkBackground(TRgb{bg.red(), bg.green(), bg.blue()}) ? QColor(0xd0, 0xd8, 0xe0)
                                                                   : QColor(0x2b, 0x3a, 0x4a);
}

QPen InkPen(qreal width = 1.2) {
    QPen pen(Ink(), width);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

// One plug half: a body with a cable on the outer side and two pins facing the other half.
void DrawPlug(QPainter& p, qreal bodyX, bool pinsRight, const QColor& fill) {
    p.setPen(InkPen());
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(bodyX, 4.5, 4.5, 7), 1, 1);
    const qreal pinFrom = pinsRight ? bodyX + 4.5 : bodyX;
    const qreal pinTo = pinsRight ? bodyX + 6.5 : bodyX - 2;
    p.drawLine(QPointF(pinFrom, 6.5), QPointF(pinTo, 6.5));
    p.drawLine(QPointF(pinFrom, 9.5), QPointF(pinTo, 9.5));
    const qreal cableFrom = pinsRight ? bodyX : bodyX + 4.5;
    const qreal cableTo = pinsRight ? 0.8 : 15.2;
    p.drawLine(QPointF(cableFrom, 8), QPointF(cableTo, 8));
}

// Two plug halves joined, in green.
void DrawConnect(QPainter& p) {
    const QColor green(0x3c, 0xa5, 0x4a);
    DrawPlug(p, 2.5, true, green);
    DrawPlug(p, 9, false, green);
}

// Two plug halves apart, in red, with strokes marking the break.
void DrawDisconnect(QPainter& p) {
    const QColor red(0xd2, 0x4b, 0x3c);
    DrawPlug(p, 1.2, true, red);
    DrawPlug(p, 10.3, false, red);
    p.setPen(QPen(red, 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(7, 3), QPointF(9, 1.5));
    p.drawLine(QPointF(7, 13), QPointF(9, 14.5));
}

// A nine-pin serial connector.
void DrawSerialConnector(QPainter& p) {
    QPainterPath shell;
    shell.moveTo(1.5, 4.5);
    shell.lineTo(14.5, 4.5);
    shell.lineTo(12.8, 11.5);
    shell.lineTo(3.2, 11.5);
    shell.closeSubpath();
    p.setPen(InkPen());
    p.setBrush(QColor(0x4a, 0x86, 0xc8));
    p.drawPath(shell);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (int i = 0; i < 5; ++i)
        p.drawEllipse(QPointF(4 + 2 * i, 7), 0.75, 0.75);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPointF(5 + 2 * i, 9.3), 0.75, 0.75);
}

// A door with an arrow leaving it.
void DrawExit(QPainter& p) {
    p.setPen(InkPen());
    p.setBrush(QColor(0xe8, 0xc0, 0x7a));
    p.drawRect(QRectF(2, 1.5, 7, 13));
    p.setBrush(Ink());
    p.drawEllipse(QPointF(7.2, 8), 0.5, 0.5);
    QPen arrow(QColor(0xd2, 0x4b, 0x3c), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(arrow);
    p.drawLine(QPointF(9.5, 8), QPointF(15, 8));
    p.drawLine(QPointF(12.5, 5.5), QPointF(15, 8));
    p.drawLine(QPointF(12.5, 10.5), QPointF(15, 8));
}

// A dial with its needle.
void DrawDial(QPainter& p) {
    p.setPen(InkPen());
    p.setBrush(QColor(0xf4, 0xf4, 0xf0));
    p.drawPie(QRectF(1, 2.5, 14, 14), 0, 180 * 16);
    p.setPen(QPen(QColor(0x3c, 0xa5, 0x4a), 1.6, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(QRectF(2.8, 4.3, 10.4, 10.4), 110 * 16, 70 * 16);
    p.setPen(QPen(QColor(0xd2, 0x4b, 0x3c), 1.6, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(QRectF(2.8, 4.3, 10.4, 10.4), 0, 40 * 16);
    p.setPen(QPen(Ink(), 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 9.5), QPointF(11.5, 5.2));
    p.setBrush(Ink());
    p.drawEllipse(QPointF(8, 9.5), 1, 1);
}

// A round badge: an "i" for the device information, a question mark for About.
void DrawBadge(QPainter& p, bool info) {
    p.setPen(InkPen());
    p.setBrush(info ? QColor(0x4a, 0x86, 0xc8) : QColor(0x8a, 0x6c, 0xc0));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (info) {
        p.drawLine(QPointF(8, 7.2), QPointF(8, 11.5));
        p.drawPoint(QPointF(8, 4.6));
    } else {
        QPainterPath hook;
        hook.moveTo(5.8, 6);
        hook.cubicTo(5.8, 3.6, 10.2, 3.6, 10.2, 6);
        hook.cubicTo(10.2, 7.6, 8, 7.6, 8, 9.3);
        p.setBrush(Qt::NoBrush);
        p.drawPath(hook);
        p.drawPoint(QPointF(8, 11.8));
    }
}

// A chart frame with a line that rises and dips.
void DrawChart(QPainter& p) {
    p.setPen(InkPen());
    p.setBrush(QColor(0xf4, 0xf4, 0xf0));
    p.drawRect(QRectF(1.5, 1.5, 13, 13));
    QPainterPath line;
    line.moveTo(3, 11);
    line.lineTo(6, 7);
    line.lineTo(8.5, 9);
    line.lineTo(13, 4);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x4a, 0x86, 0xc8), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(line);
}

// Three sliders.
void DrawSliders(QPainter& p) {
    const qreal knobs[3] = {5, 10.5, 7};
    for (int i = 0; i < 3; ++i) {
        const qreal y = 3.5 + 4.5 * i;
        p.setPen(InkPen());
        p.drawLine(QPointF(1.5, y), QPointF(14.5, y));
        p.setBrush(QColor(0xe8, 0x9a, 0x3c));
        p.drawRoundedRect(QRectF(knobs[i] - 1.5, y - 2, 3, 4), 0.8, 0.8);
    }
}

// Every image on a 16 by 16 grid; the painter is already scaled to the target size.
void Draw(QPainter& p, TActionImage image) {
    p.setRenderHint(QPainter::Antialiasing);
    switch (image) {
    case TActionImage::Connect:
        return DrawConnect(p);
    case TActionImage::Disconnect:
        return DrawDisconnect(p);
    case TActionImage::ConnectionSettings:
        return DrawSerialConnector(p);
    case TActionImage::Exit:
        return DrawExit(p);
    case TActionImage::RealTimeMetering:
        return DrawDial(p);
    case TActionImage::DeviceInformation:
        return DrawBadge(p, true);
    case TActionImage::About:
        return DrawBadge(p, false);
    case TActionImage::Trend:
        return DrawChart(p);
    case TActionImage::GeneralSettings:
        return DrawSliders(p);
    }
}

class TVectorIconEngine : public QIconEngine {
public:
    explicit TVectorIconEngine(TActionImage image) : FImage(image) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        painter->translate(rect.topLeft());
        painter->scale(rect.width() / 16.0, rect.height() / 16.0);
        if (mode == QIcon::Disabled)
            painter->setOpacity(0.35);
        Draw(*painter, FImage);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        // The size is in device pixels already; the ratio only tells the painter the scale.
        QPixmap pm(size);
        pm.fill(Qt::transparent);
        {
            QPainter p(&pm);
            paint(&p, QRect(QPoint(0, 0), pm.size()), mode, state);
        }
        pm.setDevicePixelRatio(scale);
        return pm;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine* clone() const override { return new TVectorIconEngine(FImage); }
    QString key() const override { return QStringLiteral("kt580-vector"); }

private:
    TActionImage FImage;
};

} // namespace

QIcon ActionIcon(TActionImage image) {
    return QIcon(new TVectorIconEngine(image));
}

QPixmap LogoPixmap(qreal devicePixelRatio) {
    QPixmap pm(QSize(LogoWidth, LogoHeight) * devicePixelRatio);
    pm.setDevicePixelRatio(devicePixelRatio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // The mark: a dial quarter with three phase strokes, in the maker's blue.
    const QColor blue(0x1f, 0x5f, 0xa8);
    p.setPen(Qt::NoPen);
    p.setBrush(blue);
    p.drawRoundedRect(QRectF(2, 2, 61, 61), 10, 10);
    p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(12, 14, 40, 40), 20 * 16, 140 * 16);
    const QColor phases[3] = {QColor(0xf2, 0xb1, 0x34), QColor(0x7c, 0xd1, 0x7a),
                              QColor(0xff, 0xff, 0xff)};
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(phases[i], 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(20 + 12 * i, 48), QPointF(20 + 12 * i, 40 - 6 * (i % 2)));
    }

    QFont name(QStringLiteral("Liberation Sans"));
    name.setStyleHint(QFont::SansSerif);
    name.setPixelSize(30);
    name.setBold(true);
    name.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    p.setFont(name);
    p.setPen(blue);
    p.drawText(QRectF(74, 4, 181, 36), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("VELTRANA"));
    QFont line(QStringLiteral("Liberation Sans"));
    line.setStyleHint(QFont::SansSerif);
    line.setPixelSize(13);
    p.setFont(line);
    p.setPen(QColor(0x55, 0x5f, 0x6a));
    p.drawText(QRectF(75, 40, 180, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Power metering"));
    return pm;
}

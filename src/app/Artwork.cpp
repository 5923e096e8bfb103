#include "Artwork.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

namespace praxon::artwork {

namespace {

QPixmap blank(const QSize& size) {
    QPixmap pixmap(size.expandedTo(QSize(1, 1)));
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QFont sansFont(qreal pixelSize, bool bold) {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(qMax(1, qRound(pixelSize)));
    font.setBold(bold);
    return font;
}

// A square chip body with gull-wing pins on every side, seen from above.
void drawQfp(QPainter& p, const QRectF& area, int pinsPerSide, const QString& marking) {
    const qreal side = qMin(area.width(), area.height());
    const QRectF outer(area.center().x() - side / 2, area.center().y() - side / 2, side, side);
    const qreal pinLength = side * 0.12;
    const QRectF body = outer.adjusted(pinLength, pinLength, -pinLength, -pinLength);
    const qreal pitch = body.width() * 0.8 / pinsPerSide;
    const qreal pinWidth = pitch * 0.55;
    const qreal start = body.left() + body.width() * 0.1 + (pitch - pinWidth) / 2;

    QLinearGradient metal(0, 0, 0, 1);
    metal.setCoordinateMode(QGradient::ObjectMode);
    metal.setColorAt(0, QColor(0xE8, 0xE8, 0xE8));
    metal.setColorAt(1, QColor(0x9A, 0x9A, 0x9A));
    p.setPen(Qt::NoPen);
    p.setBrush(metal);
    for (int i = 0; i < pinsPerSide; ++i) {
        const qreal offset = start + i * pitch - body.left();
        p.drawRect(QRectF(body.left() + offset, outer.top(), pinWidth, pinLength + 1));
        p.drawRect(QRectF(body.left() + offset, body.bottom() - 1, pinWidth, pinLength + 1));
        p.drawRect(QRectF(outer.left(), body.top() + offset, pinLength + 1, pinWidth));
        p.drawRect(QRectF(body.right() - 1, body.top() + offset, pinLength + 1, pinWidth));
    }

    QLinearGradient moulding(body.topLeft(), body.bottomRight());
    moulding.setColorAt(0, QColor(0x3A, 0x3D, 0x42));
    moulding.setColorAt(1, QColor(0x16, 0x17, 0x1A));
    p.setBrush(moulding);
    p.setPen(QPen(QColor(0x55, 0x58, 0x5E), qMax(1.0, side / 80)));
    p.drawRoundedRect(body, side * 0.02, side * 0.02);

    // Pin-1 dimple.
    const qreal dot = body.width() * 0.09;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0E, 0x0E, 0x10));
    p.drawEllipse(QRectF(body.left() + dot, body.bottom() - 2.2 * dot, dot, dot));

    if (!marking.isEmpty() && body.width() > 30) {
        p.setPen(QColor(0xB8, 0xBC, 0xC4));
        p.setFont(sansFont(body.height() * 0.16, true));
        p.drawText(body.adjusted(0, 0, 0, -body.height() * 0.12), Qt::AlignCenter, marking);
    }
}

QPainterPath arrowDown(const QRectF& r) {
    const qreal shaft = r.width() * 0.36;
    const qreal headTop = r.top() + r.height() * 0.5;
    QPainterPath path;
    path.moveTo(r.center().x() - shaft / 2, r.top());
    path.lineTo(r.center().x() + shaft / 2, r.top());
    path.lineTo(r.center().x() + shaft / 2, headTop);
    path.lineTo(r.right(), headTop);
    path.lineTo(r.center().x(), r.bottom());
    path.lineTo(r.left(), headTop);
    path.lineTo(r.center().x() - shaft / 2, headTop);
    path.closeSubpath();
    return path;
}

}  // namespace

QPixmap logo(const QSize& size) {
    QPixmap pixmap = blank(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(pixmap.rect());
    p.fillRect(r, Qt::white);

    // Mark: a blue rounded square holding a white arrow into a chip outline.
    const qreal markSide = qMin(r.height() * 0.62, r.width() * 0.34);
    const QRectF mark(r.width() * 0.06, (r.height() - markSide) / 2 - r.height() * 0.08, markSide,
                      markSide);
    QLinearGradient blue(mark.topLeft(), mark.bottomLeft());
    blue.setColorAt(0, QColor(0x2F, 0x7F, 0xD8));
    blue.setColorAt(1, QColor(0x12, 0x4A, 0x96));
    p.setPen(Qt::NoPen);
    p.setBrush(blue);
    p.drawRoundedRect(mark, markSide * 0.18, markSide * 0.18);
    p.setBrush(Qt::white);
    p.drawPath(arrowDown(QRectF(mark.left() + markSide * 0.3, mark.top() + markSide * 0.12,
                                markSide * 0.4, markSide * 0.46)));
    p.setPen(QPen(Qt::white, qMax(1.0, markSide / 16)));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(mark.left() + markSide * 0.22, mark.top() + markSide * 0.64, markSide * 0.56,
                      markSide * 0.2));

    // Word mark.
    const QRectF text(mark.right() + r.width() * 0.05, mark.top(), r.right() - mark.right(),
                      markSide * 0.62);
    p.setPen(QColor(0x12, 0x4A, 0x96));
    const QString name = QStringLiteral("Praxon");
    QFont wordFont = sansFont(markSide * 0.5, true);
    const qreal room = r.width() * 0.95 - text.left();
    const qreal natural = QFontMetricsF(wordFont).horizontalAdvance(name);
    if (natural > room) wordFont.setPixelSize(qMax(1, int(wordFont.pixelSize() * room / natural)));
    p.setFont(wordFont);
    p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, name);
    p.setPen(QColor(0x5A, 0x60, 0x6A));
    p.setFont(sansFont(markSide * 0.2, false));
    p.drawText(QRectF(text.left(), text.bottom(), text.width(), markSide * 0.38),
               Qt::AlignLeft | Qt::AlignTop, QStringLiteral("ISP tools"));

    // Base line.
    p.fillRect(QRectF(r.width() * 0.06, r.height() * 0.86, r.width() * 0.88, r.height() * 0.035),
               QColor(0x2F, 0x7F, 0xD8));
    return pixmap;
}

QPixmap promotion(const QSize& size) {
    QPixmap pixmap = blank(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(pixmap.rect());

    QLinearGradient sky(r.topLeft(), r.bottomRight());
    sky.setColorAt(0, QColor(0x05, 0x2C, 0x5E));
    sky.setColorAt(1, QColor(0x0B, 0x6E, 0xA8));
    p.fillRect(r, sky);

    // Circuit traces behind the chip.
    p.setPen(QPen(QColor(0x4F, 0xC3, 0xF7, 110), qMax(1.0, r.width() / 120)));
    for (int i = 0; i < 6; ++i) {
        const qreal y = r.height() * (0.12 + 0.13 * i);
        QPainterPath trace;
        trace.moveTo(0, y);
        trace.lineTo(r.width() * (0.2 + 0.04 * i), y);
        trace.lineTo(r.width() * (0.3 + 0.04 * i), y + r.height() * 0.06);
        trace.lineTo(r.width(), y + r.height() * 0.06);
        p.drawPath(trace);
        p.setBrush(QColor(0x4F, 0xC3, 0xF7, 160));
        p.drawEllipse(QPointF(r.width() * (0.2 + 0.04 * i), y), 1.5, 1.5);
        p.setBrush(Qt::NoBrush);
    }

    const qreal chipSide = qMin(r.width() * 0.5, r.height() * 0.56);
    drawQfp(p, QRectF(r.width() * 0.06, r.height() * 0.08, chipSide, chipSide), 10,
            QStringLiteral("STM32"));

    const QRectF text(r.width() * 0.06 + chipSide + r.width() * 0.04, r.height() * 0.1,
                      r.width() * 0.9 - chipSide - r.width() * 0.04, chipSide);
    p.setPen(Qt::white);
    p.setFont(sansFont(r.height() * 0.1, true));
    p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
               QStringLiteral("32-bit\nFlash\nMCU"));

    p.setPen(QColor(0xFF, 0xD5, 0x4F));
    p.setFont(sansFont(r.height() * 0.13, true));
    p.drawText(QRectF(0, r.height() * 0.68, r.width(), r.height() * 0.17), Qt::AlignCenter,
               QStringLiteral("STM32F10x"));
    p.setPen(QColor(0xD0, 0xE8, 0xFF));
    p.setFont(sansFont(r.height() * 0.075, false));
    p.drawText(QRectF(0, r.height() * 0.84, r.width(), r.height() * 0.13), Qt::AlignCenter,
               QStringLiteral("Cortex-M3 · 72 MHz · USART ISP"));
    return pixmap;
}

QPixmap chip(const QSize& size) {
    QPixmap pixmap = blank(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(pixmap.rect());
    QRadialGradient board(r.center(), qMax(r.width(), r.height()) * 0.7);
    board.setColorAt(0, QColor(0x2E, 0x8B, 0x57));
    board.setColorAt(1, QColor(0x1B, 0x5E, 0x3A));
    p.fillRect(r, board);
    drawQfp(p,
            r.adjusted(r.width() * 0.05, r.height() * 0.05, -r.width() * 0.05, -r.height() * 0.05),
            12, QStringLiteral("F103"));
    return pixmap;
}

QPixmap lamp(LampColour colour, int side) {
    QPixmap pixmap = blank(QSize(side, side));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QColor light, dark;
    switch (colour) {
        case LampColour::Gray:
            light = QColor(0xE0, 0xE0, 0xE0);
            dark = QColor(0x70, 0x70, 0x70);
            break;
        case LampColour::Green:
            light = QColor(0xB9, 0xFF, 0xB0);
            dark = QColor(0x12, 0x9A, 0x22);
            break;
        case LampColour::Red:
            light = QColor(0xFF, 0xB8, 0xB0);
            dark = QColor(0xC0, 0x16, 0x10);
            break;
    }
    const QRectF r = QRectF(pixmap.rect()).adjusted(1, 1, -1, -1);
    QRadialGradient glow(r.center() - QPointF(r.width() * 0.18, r.height() * 0.18),
                         r.width() * 0.6);
    glow.setColorAt(0, light);
    glow.setColorAt(1, dark);
    p.setPen(QPen(dark.darker(140), 1));
    p.setBrush(glow);
    p.drawEllipse(r);
    return pixmap;
}

QPixmap iconImage(int side) {
    QPixmap pixmap = blank(QSize(side, side));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = side / 32.0;
    p.scale(s, s);

    // Device box, open at the top.
    QLinearGradient grey(0, 16, 0, 31);
    grey.setColorAt(0, QColor(0xC8, 0xCE, 0xD6));
    grey.setColorAt(1, QColor(0x7C, 0x86, 0x94));
    p.setPen(QPen(QColor(0x3C, 0x44, 0x50), 1.2));
    p.setBrush(grey);
    QPainterPath box;
    box.moveTo(3, 16);
    box.lineTo(11, 16);
    box.lineTo(11, 21);
    box.lineTo(21, 21);
    box.lineTo(21, 16);
    box.lineTo(29, 16);
    box.lineTo(29, 30);
    box.lineTo(3, 30);
    box.closeSubpath();
    p.drawPath(box);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2A, 0x30, 0x38));
    p.drawRect(QRectF(6, 25, 20, 2.4));
    p.setBrush(QColor(0x35, 0xD0, 0x4A));
    p.drawEllipse(QRectF(24.5, 18, 2.6, 2.6));

    // Green arrow coming down into the box.
    QLinearGradient green(0, 1, 0, 23);
    green.setColorAt(0, QColor(0x7C, 0xE0, 0x5A));
    green.setColorAt(1, QColor(0x1E, 0x9B, 0x2E));
    p.setPen(QPen(QColor(0x13, 0x63, 0x1E), 1.2));
    p.setBrush(green);
    p.drawPath(arrowDown(QRectF(8, 1, 16, 22)));
    return pixmap;
}

QIcon windowIcon() {
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(iconImage(side));
    return icon;
}

QCursor handshakeCursor() {
    QPixmap pixmap = blank(QSize(32, 32));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QPen outline(QColor(0x4A, 0x2C, 0x14), 1);
    const QColor skin(0xF8, 0xCC, 0x9C);
    const QColor shade(0xE2, 0xA8, 0x74);

    // Sleeves from the left and the right, with white cuffs.
    p.setPen(outline);
    p.setBrush(QColor(0x2F, 0x5F, 0xB0));
    p.drawRect(QRectF(0.5, 11.5, 5, 12));
    p.setBrush(QColor(0xB0, 0x3A, 0x2A));
    p.drawRect(QRectF(26.5, 11.5, 5, 12));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(5.5, 12.5, 2.5, 10));
    p.drawRect(QRectF(24, 12.5, 2.5, 10));

    // The right hand's palm behind, the left hand's palm in front of it.
    p.setBrush(shade);
    p.drawRoundedRect(QRectF(15.5, 12, 9, 10), 3, 3);
    p.setBrush(skin);
    p.drawRoundedRect(QRectF(8, 12.5, 11, 9.5), 3, 3);

    // The right hand's fingers wrapped round the left hand.
    for (qreal x : {9.0, 12.0, 15.0, 18.0}) p.drawRoundedRect(QRectF(x, 13, 3.4, 9.5), 1.7, 1.7);

    // The left hand's thumb resting on top.
    p.drawRoundedRect(QRectF(9.5, 9.5, 11, 4), 2, 2);
    p.end();
    return QCursor(pixmap, 15, 10);
}

}  // namespace praxon::artwork

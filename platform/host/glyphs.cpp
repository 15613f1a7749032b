#include "glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace host::glyphs {

namespace {

QPixmap draw(Glyph g, bool disabled)
{
    QPixmap pm(20, 20);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink = disabled ? QColor(160, 160, 160) : QColor(40, 40, 40);
    const QColor accent = disabled ? QColor(190, 190, 190) : QColor(30, 90, 180);
    QPen pen(ink, 1.6);
    p.setPen(pen);
    switch (g) {
    case Glyph::Search:
        p.setBrush(disabled ? Qt::transparent : QColor(220, 235, 250));
        p.drawEllipse(QPointF(8, 8), 5, 5);
        p.setPen(QPen(ink, 2.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(12, 12), QPointF(17, 17));
        break;
    case Glyph::Reload: {
        p.setPen(QPen(accent, 2.0, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(3.5, 3.5, 13, 13), 40 * 16, 280 * 16);
        QPainterPath head;
        head.moveTo(16.5, 2.5);
        head.lineTo(16.5, 8.0);
        head.lineTo(11.0, 7.0);
        head.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(accent);
        p.drawPath(head);
        break;
    }
    case Glyph::Print:
        p.setBrush(Qt::white);
        p.drawRect(QRectF(5.5, 2.5, 9, 6));
        p.setBrush(disabled ? QColor(210, 210, 210) : QColor(190, 190, 200));
        p.drawRoundedRect(QRectF(2.5, 7.5, 15, 7), 1.5, 1.5);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(5.5, 12.5, 9, 5));
        break;
    case Glyph::Help:
        p.setBrush(disabled ? Qt::transparent : QColor(255, 250, 205));
        p.drawEllipse(QPointF(10, 10), 8, 8);
        p.setPen(accent);
        {
            QFont f = p.font();
            f.setBold(true);
            f.setPixelSize(12);
            p.setFont(f);
        }
        p.drawText(QRectF(0, 0, 20, 20), Qt::AlignCenter, QStringLiteral("?"));
        break;
    case Glyph::Close:
        p.setBrush(disabled ? Qt::transparent : QColor(200, 60, 50));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(3, 3, 14, 14), 3, 3);
        p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(7, 7), QPointF(13, 13));
        p.drawLine(QPointF(13, 7), QPointF(7, 13));
        break;
    case Glyph::Confirm:
        p.setPen(QPen(disabled ? ink : QColor(30, 140, 60), 2.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(4, 10.5), QPointF(8.5, 15), QPointF(16, 5)}));
        break;
    case Glyph::Save:
        p.setBrush(disabled ? Qt::transparent : QColor(80, 110, 170));
        p.drawRoundedRect(QRectF(3.5, 3.5, 13, 13), 1.5, 1.5);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(6.5, 3.5, 7, 5));
        break;
    case Glyph::App:
        // A loaded box: the application's window icon.
        p.setPen(QPen(QColor(30, 60, 110), 1.2));
        p.setBrush(QColor(70, 120, 190));
        p.drawRoundedRect(QRectF(1.5, 1.5, 17, 17), 3, 3);
        p.setBrush(QColor(240, 200, 120));
        p.setPen(QPen(QColor(120, 80, 30), 1.0));
        p.drawRect(QRectF(5.5, 7.5, 9, 7));
        p.drawLine(QPointF(5.5, 10.5), QPointF(14.5, 10.5));
        break;
    case Glyph::Load:
        p.setBrush(disabled ? Qt::transparent : QColor(235, 200, 110));
        p.drawRoundedRect(QRectF(2.5, 6.5, 15, 10), 1.5, 1.5);
        p.drawLine(QPointF(2.5, 6.5), QPointF(6.5, 3.5));
        p.drawLine(QPointF(6.5, 3.5), QPointF(9.5, 6.5));
        break;
    }
    return pm;
}

} // namespace

QIcon icon(Glyph g)
{
    QIcon i;
    i.addPixmap(draw(g, false), QIcon::Normal);
    i.addPixmap(draw(g, true), QIcon::Disabled);
    return i;
}

} // namespace host::glyphs

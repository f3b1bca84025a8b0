#include "gui/Art.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace art {

namespace {

QPixmap Blank(int width, int height)
{
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void DrawMonitor(QPainter& p, const QRectF& area, const QColor& top, const QColor& bottom)
{
    const qreal w = area.width(), h = area.height();
    const QRectF screen(area.left() + w * 0.08, area.top() + h * 0.08, w * 0.84, h * 0.62);
    p.setPen(QPen(QColor(40, 40, 48), qMax<qreal>(1.0, w / 24)));
    p.setBrush(QColor(70, 72, 80));
    p.drawRoundedRect(screen.adjusted(-w * 0.04, -h * 0.04, w * 0.04, h * 0.04), w * 0.06, w * 0.06);
    QLinearGradient glass(screen.topLeft(), screen.bottomLeft());
    glass.setColorAt(0, top);
    glass.setColorAt(1, bottom);
    p.setBrush(glass);
    p.setPen(Qt::NoPen);
    p.drawRect(screen);
    p.setBrush(QColor(70, 72, 80));
    p.drawRect(QRectF(area.left() + w * 0.42, screen.bottom() + h * 0.04, w * 0.16, h * 0.12));
    p.drawRoundedRect(QRectF(area.left() + w * 0.25, area.top() + h * 0.84, w * 0.5, h * 0.08), 2, 2);
}

}  // namespace

QPixmap ComputerIcon(int size)
{
    QPixmap pixmap = Blank(size, size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    DrawMonitor(p, QRectF(0, 0, size, size), QColor(90, 170, 250), QColor(20, 70, 160));
    return pixmap;
}

QPixmap RemoteIcon(int size)
{
    QPixmap pixmap = Blank(size, size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    DrawMonitor(p, QRectF(0, 0, size, size), QColor(160, 160, 170), QColor(90, 90, 100));
    // A globe over the screen: the other side is somewhere on the network.
    const QRectF globe(size * 0.28, size * 0.12, size * 0.44, size * 0.44);
    QRadialGradient sea(globe.center(), globe.width() / 2);
    sea.setColorAt(0, QColor(120, 220, 140));
    sea.setColorAt(1, QColor(20, 120, 60));
    p.setBrush(sea);
    p.setPen(QPen(QColor(10, 70, 30), 1));
    p.drawEllipse(globe);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(globe.adjusted(globe.width() * 0.3, 0, -globe.width() * 0.3, 0));
    p.drawLine(QPointF(globe.left(), globe.center().y()), QPointF(globe.right(), globe.center().y()));
    return pixmap;
}

QPixmap ArrowIcon(int size, bool towardsRemote)
{
    QPixmap pixmap = Blank(size, size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QPainterPath arrow;
    arrow.moveTo(s * 0.08, s * 0.38);
    arrow.lineTo(s * 0.55, s * 0.38);
    arrow.lineTo(s * 0.55, s * 0.18);
    arrow.lineTo(s * 0.94, s * 0.5);
    arrow.lineTo(s * 0.55, s * 0.82);
    arrow.lineTo(s * 0.55, s * 0.62);
    arrow.lineTo(s * 0.08, s * 0.62);
    arrow.closeSubpath();
    if (!towardsRemote) {
        p.translate(s, 0);
        p.scale(-1, 1);
    }
    QLinearGradient fill(0, s * 0.2, 0, s * 0.8);
    const QColor light = towardsRemote ? QColor(255, 200, 80) : QColor(250, 110, 90);
    const QColor dark = towardsRemote ? QColor(210, 120, 0) : QColor(180, 30, 20);
    fill.setColorAt(0, light);
    fill.setColorAt(1, dark);
    p.setBrush(fill);
    p.setPen(QPen(dark.darker(140), 1));
    p.drawPath(arrow);
    return pixmap;
}

QPixmap GenericProgramIcon(int size)
{
    QPixmap pixmap = Blank(size, size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF window(size * 0.1, size * 0.15, size * 0.8, size * 0.7);
    p.setPen(QPen(QColor(60, 60, 70), 1));
    p.setBrush(QColor(245, 245, 250));
    p.drawRoundedRect(window, 3, 3);
    p.setBrush(QColor(60, 110, 200));
    p.drawRect(QRectF(window.left(), window.top(), window.width(), size * 0.15));
    return pixmap;
}

QPixmap Banner(int width, int height)
{
    QPixmap pixmap(width, height);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, width, 0);
    fill.setColorAt(0, QColor(12, 40, 90));
    fill.setColorAt(0.6, QColor(20, 90, 140));
    fill.setColorAt(1, QColor(30, 140, 150));
    p.fillRect(pixmap.rect(), fill);
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(qMax(9, height * 6 / 10));
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(pixmap.rect().adjusted(8, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft, "Tessary - Korvel Personal FireWall");
    return pixmap;
}

}  // namespace art

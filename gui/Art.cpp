#include "gui/Art.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <string>

namespace gui::art {

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

// A coloured disc with a white glyph drawn by glyph(painter, size).
template <typename Glyph>
QPixmap Disc(const QColor& colour, int size, Glyph glyph)
{
    QPixmap pixmap = Blank(size, size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    p.setBrush(colour);
    p.setPen(QPen(colour.darker(150), 1));
    p.drawEllipse(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88));
    p.setPen(QPen(Qt::white, qMax<qreal>(1.5, s / 8), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    glyph(p, s);
    return pixmap;
}

void DiscText(QPainter& p, qreal s, const QString& text)
{
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(qMax(6, static_cast<int>(s * 0.65)));
    p.setFont(font);
    p.drawText(QRectF(0, 0, s, s), Qt::AlignCenter, text);
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
    p.drawText(pixmap.rect().adjusted(8, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft, "Korvel Firewall");
    return pixmap;
}

QPixmap FirewallIcon(int size)
{
    QPixmap pixmap = Blank(size, size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QPainterPath shield;
    shield.moveTo(s * 0.5, s * 0.04);
    shield.lineTo(s * 0.9, s * 0.18);
    shield.cubicTo(s * 0.9, s * 0.62, s * 0.72, s * 0.84, s * 0.5, s * 0.96);
    shield.cubicTo(s * 0.28, s * 0.84, s * 0.1, s * 0.62, s * 0.1, s * 0.18);
    shield.closeSubpath();
    QLinearGradient fill(0, 0, s, s);
    fill.setColorAt(0, QColor(60, 140, 230));
    fill.setColorAt(1, QColor(16, 60, 140));
    p.setBrush(fill);
    p.setPen(QPen(QColor(10, 40, 90), qMax<qreal>(1, s / 20)));
    p.drawPath(shield);
    // Bricks: a wall.
    p.setClipPath(shield);
    p.setPen(QPen(QColor(230, 240, 255, 200), qMax<qreal>(1, s / 24)));
    for (int row = 1; row < 5; ++row) {
        const qreal y = s * (0.18 + row * 0.15);
        p.drawLine(QPointF(0, y), QPointF(s, y));
        for (qreal x = (row % 2) ? s * 0.3 : s * 0.5; x < s; x += s * 0.4)
            p.drawLine(QPointF(x, y - s * 0.15), QPointF(x, y));
    }
    return pixmap;
}

QIcon AppIcon()
{
    QIcon drawn;
    for (const int size : kAppIconSizes)
        drawn.addPixmap(FirewallIcon(size));
    return QIcon::fromTheme("tessary", drawn);
}

QPixmap StatusIcon(Mark mark, int size, bool pale)
{
    QColor colour = mark == Mark::kAllow ? QColor(30, 160, 60) : mark == Mark::kBlock ? QColor(200, 40, 40) : QColor(230, 160, 0);
    if (pale)
        colour = colour.lighter(150);
    return Disc(colour, size, [mark](QPainter& p, qreal s) {
        if (mark == Mark::kAllow) {
            QPainterPath tick;
            tick.moveTo(s * 0.28, s * 0.52);
            tick.lineTo(s * 0.44, s * 0.68);
            tick.lineTo(s * 0.72, s * 0.34);
            p.drawPath(tick);
        } else if (mark == Mark::kBlock) {
            p.drawLine(QPointF(s * 0.28, s * 0.5), QPointF(s * 0.72, s * 0.5));
        } else {
            DiscText(p, s, "?");
        }
    });
}

QPixmap ModeBadgeIcon(ModeBadge badge, int size)
{
    const QColor colour = badge == ModeBadge::kQuietAllow  ? QColor(30, 160, 60)
                          : badge == ModeBadge::kQuietBlock ? QColor(200, 40, 40)
                                                            : QColor(40, 100, 200);
    return Disc(colour, size, [badge](QPainter& p, qreal s) {
        p.setBrush(Qt::white);
        if (badge == ModeBadge::kLearn) {
            // Two triangles meeting at the middle.
            QPainterPath glass;
            glass.moveTo(s * 0.32, s * 0.26);
            glass.lineTo(s * 0.68, s * 0.26);
            glass.lineTo(s * 0.32, s * 0.74);
            glass.lineTo(s * 0.68, s * 0.74);
            glass.closeSubpath();
            p.setPen(QPen(Qt::white, qMax<qreal>(1.0, s / 14), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawPath(glass);
            return;
        }
        // A crescent: a disc less a disc moved to its upper right.
        QPainterPath moon;
        moon.addEllipse(QRectF(s * 0.24, s * 0.24, s * 0.52, s * 0.52));
        QPainterPath bite;
        bite.addEllipse(QRectF(s * 0.38, s * 0.14, s * 0.48, s * 0.48));
        p.setPen(Qt::NoPen);
        p.drawPath(moon.subtracted(bite));
    });
}

QPixmap FolderIcon(int size, const QColor& colour)
{
    QPixmap pixmap = Blank(size, size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    p.setPen(QPen(colour.darker(160), 1));
    p.setBrush(colour.darker(115));
    p.drawRoundedRect(QRectF(s * 0.08, s * 0.2, s * 0.38, s * 0.2), 1.5, 1.5);
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(s * 0.08, s * 0.3, s * 0.84, s * 0.56), 2, 2);
    return pixmap;
}

QPixmap LogIcon(int size)
{
    QPixmap pixmap = Blank(size, size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    p.setPen(QPen(QColor(80, 80, 90), 1));
    p.setBrush(QColor(252, 252, 245));
    p.drawRect(QRectF(s * 0.18, s * 0.08, s * 0.64, s * 0.84));
    p.setPen(QPen(QColor(90, 110, 160), qMax<qreal>(1, s / 16)));
    for (int line = 0; line < 4; ++line) {
        const qreal y = s * (0.26 + line * 0.16);
        p.drawLine(QPointF(s * 0.28, y), QPointF(s * 0.72, y));
    }
    return pixmap;
}

QPixmap ConnectionsIcon(int size)
{
    // Two arrows passing each other: traffic both ways.
    return Disc(QColor(20, 120, 140), size, [](QPainter& p, qreal s) {
        p.drawLine(QPointF(s * 0.26, s * 0.38), QPointF(s * 0.74, s * 0.38));
        p.drawLine(QPointF(s * 0.62, s * 0.27), QPointF(s * 0.74, s * 0.38));
        p.drawLine(QPointF(s * 0.26, s * 0.62), QPointF(s * 0.74, s * 0.62));
        p.drawLine(QPointF(s * 0.38, s * 0.73), QPointF(s * 0.26, s * 0.62));
    });
}

QPixmap ToolIcon(const char* key, int size)
{
    const std::string name = key;
    if (name == "Connections")
        return ConnectionsIcon(size);
    if (name == "BlockAll")
        return StatusIcon(Mark::kBlock, size);
    if (name == "Logs")
        return LogIcon(size);
    if (name == "App")
        return Disc(QColor(30, 140, 60), size, [](QPainter& p, qreal s) {
            p.drawLine(QPointF(s * 0.5, s * 0.26), QPointF(s * 0.5, s * 0.74));
            p.drawLine(QPointF(s * 0.26, s * 0.5), QPointF(s * 0.74, s * 0.5));
        });
    if (name == "Help")
        return Disc(QColor(40, 100, 200), size, [](QPainter& p, qreal s) { DiscText(p, s, "?"); });
    if (name == "ToolsSet")
        return Disc(QColor(100, 100, 110), size, [](QPainter& p, qreal s) {
            // A wheel: a ring with spokes.
            p.drawEllipse(QPointF(s * 0.5, s * 0.5), s * 0.16, s * 0.16);
            for (int spoke = 0; spoke < 6; ++spoke) {
                const qreal angle = spoke * 3.14159265 / 3;
                p.drawLine(QPointF(s * (0.5 + 0.24 * std::cos(angle)), s * (0.5 + 0.24 * std::sin(angle))),
                           QPointF(s * (0.5 + 0.34 * std::cos(angle)), s * (0.5 + 0.34 * std::sin(angle))));
            }
        });
    return GenericProgramIcon(size);
}

}  // namespace gui::art

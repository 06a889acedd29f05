#include "monitor/artwork.h"

#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <functional>

namespace qeln::artwork {

namespace {

// Every picture is drawn once; the cache goes with the application so that no pixmap
// outlives it.
struct Cache {
    QHash<QString, QPixmap> pixmaps;
    QHash<int, QIcon> icons;
};

Cache *cache()
{
    static Cache *c = nullptr;
    if (!c) {
        c = new Cache;
        qAddPostRoutine([] {
            delete c;
            c = nullptr;
        });
    }
    return c;
}

qreal screenRatio()
{
    return qGuiApp ? qMax<qreal>(1.0, qGuiApp->devicePixelRatio()) : 1.0;
}

// Draws a picture of the given logical size at `oversample` times the screen's ratio.
QPixmap cached(const QString &key, QSize size, qreal oversample, const std::function<void(QPainter &)> &draw)
{
    Cache *c = cache();
    const auto found = c->pixmaps.constFind(key);
    if (found != c->pixmaps.cend())
        return *found;
    const qreal ratio = screenRatio() * oversample;
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    {
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        draw(p);
    }
    c->pixmaps.insert(key, pixmap);
    return pixmap;
}

QColor rgb(quint32 value, int alpha = 255)
{
    QColor colour = QColor::fromRgb(value);
    colour.setAlpha(alpha);
    return colour;
}

// A panel LED: a bevelled metal bezel, a domed lens lit from inside and a reflection.
void paintLed(QPainter &p, const QRectF &r, const QColor &base)
{
    const qreal w = r.width();
    QLinearGradient bezel(r.topLeft(), r.bottomRight());
    bezel.setColorAt(0.0, rgb(0xF4F4F4));
    bezel.setColorAt(0.5, rgb(0x9C9FA3));
    bezel.setColorAt(1.0, rgb(0x3A3C40));
    p.setPen(QPen(rgb(0x2A2C30, 190), w * 0.05));
    p.setBrush(bezel);
    p.drawEllipse(r.adjusted(w * 0.025, w * 0.025, -w * 0.025, -w * 0.025));

    const qreal rim = w * 0.15;
    const QRectF lens = r.adjusted(rim, rim, -rim, -rim);
    QRadialGradient glow(lens.center() + QPointF(-lens.width() * 0.10, -lens.height() * 0.12), lens.width() * 0.62);
    glow.setColorAt(0.0, base.lighter(185));
    glow.setColorAt(0.45, base);
    glow.setColorAt(1.0, base.darker(260));
    p.setPen(QPen(base.darker(320), w * 0.035));
    p.setBrush(glow);
    p.drawEllipse(lens);

    const QRectF shine(lens.left() + lens.width() * 0.20, lens.top() + lens.height() * 0.07, lens.width() * 0.52,
                       lens.height() * 0.38);
    QLinearGradient reflection(shine.topLeft(), shine.bottomLeft());
    reflection.setColorAt(0.0, QColor(255, 255, 255, 225));
    reflection.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(reflection);
    p.drawEllipse(shine);
}

// A cross-head screw seen from the front.
void paintScrew(QPainter &p, QPointF centre, qreal radius)
{
    QRadialGradient head(centre - QPointF(radius * 0.3, radius * 0.3), radius * 1.3);
    head.setColorAt(0.0, rgb(0xFAFAFA));
    head.setColorAt(1.0, rgb(0x7C838A));
    p.setPen(QPen(rgb(0x4A5057), 0.6));
    p.setBrush(head);
    p.drawEllipse(centre, radius, radius);
    p.setPen(QPen(rgb(0x4A5057), 0.7));
    p.drawLine(centre + QPointF(-radius * 0.55, 0), centre + QPointF(radius * 0.55, 0));
    p.drawLine(centre + QPointF(0, -radius * 0.55), centre + QPointF(0, radius * 0.55));
}

// Brushed metal across the width of a module's front.
QLinearGradient brushedMetal(const QRectF &r, quint32 edge, quint32 light, quint32 dark)
{
    QLinearGradient g(r.topLeft(), r.topRight());
    g.setColorAt(0.0, rgb(edge));
    g.setColorAt(0.08, rgb(light));
    g.setColorAt(0.55, rgb(light).darker(108));
    g.setColorAt(0.92, rgb(dark));
    g.setColorAt(1.0, rgb(edge));
    return g;
}

void paintAcSource(QPainter &p)
{
    // A utility supply badge: a lattice pylon carrying three lines, and the AC sign.
    const QRectF card(0.5, 0.5, 72, 64);
    QLinearGradient sky(card.topLeft(), card.bottomLeft());
    sky.setColorAt(0.0, rgb(0xFFFFFF));
    sky.setColorAt(1.0, rgb(0xD5DEE8));
    p.setPen(QPen(rgb(0x75828F), 1.0));
    p.setBrush(sky);
    p.drawRoundedRect(card, 6, 6);

    // Ground.
    QLinearGradient ground(0, 54, 0, 64);
    ground.setColorAt(0.0, rgb(0xB9C7A4));
    ground.setColorAt(1.0, rgb(0x93A67A));
    QPainterPath groundPath;
    groundPath.addRoundedRect(card, 6, 6);
    QPainterPath band;
    band.addRect(0, 55, 73, 10);
    p.setPen(Qt::NoPen);
    p.setBrush(ground);
    p.drawPath(groundPath.intersected(band));

    // The pylon.
    const QColor steel = rgb(0x2F3E4E);
    const qreal cx = 24;
    const QPointF footL(cx - 11, 56), footR(cx + 11, 56);
    const QPointF waistL(cx - 4.5, 22), waistR(cx + 4.5, 22);
    const QPointF topL(cx - 2.5, 8), topR(cx + 2.5, 8);
    p.setPen(QPen(steel, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF{footL, waistL, topL, QPointF(cx, 4), topR, waistR, footR});
    p.setPen(QPen(steel, 0.9));
    // Lattice between the legs.
    const qreal levels[] = {56, 47, 39, 32, 22};
    for (int i = 0; i + 1 < 5; ++i) {
        const qreal y0 = levels[i], y1 = levels[i + 1];
        auto half = [&](qreal y) { return 4.5 + (y - 22) * (11 - 4.5) / (56 - 22); };
        p.drawLine(QPointF(cx - half(y0), y0), QPointF(cx + half(y1), y1));
        p.drawLine(QPointF(cx + half(y0), y0), QPointF(cx - half(y1), y1));
        p.drawLine(QPointF(cx - half(y1), y1), QPointF(cx + half(y1), y1));
    }
    p.drawLine(QPointF(cx - 3.5, 15), QPointF(cx + 3.5, 15));
    // Cross-arms with insulators.
    p.setPen(QPen(steel, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(cx - 13, 14), QPointF(cx + 13, 14));
    p.drawLine(QPointF(cx - 10, 23), QPointF(cx + 10, 23));
    const QPointF insulators[] = {{cx - 12, 15.5}, {cx + 12, 15.5}, {cx + 9, 24.5}};
    p.setPen(Qt::NoPen);
    p.setBrush(rgb(0x8FA3B5));
    for (const QPointF &at : insulators)
        p.drawRoundedRect(QRectF(at.x() - 1, at.y() - 0.5, 2, 3.5), 0.8, 0.8);

    // The lines run on to the right, where the feed leaves the picture.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(rgb(0x46505A), 0.8));
    for (const QPointF &from : insulators) {
        QPainterPath wire(from + QPointF(0, 3));
        wire.quadTo(QPointF((from.x() + 73) / 2, from.y() + 9), QPointF(73, from.y() + 6));
        p.drawPath(wire);
    }

    // The AC sign: a sine wave in an amber disc.
    const QPointF sign(54, 42);
    const qreal r = 12;
    QRadialGradient disc(sign - QPointF(4, 5), r * 1.6);
    disc.setColorAt(0.0, rgb(0xFFD180));
    disc.setColorAt(0.6, rgb(0xFF9800));
    disc.setColorAt(1.0, rgb(0xE65100));
    p.setPen(QPen(rgb(0xB34700), 1.0));
    p.setBrush(disc);
    p.drawEllipse(sign, r, r);
    QPainterPath sine;
    for (int i = 0; i <= 40; ++i) {
        const qreal t = i / 40.0;
        const QPointF pt(sign.x() - 8 + 16 * t, sign.y() - 4.5 * std::sin(t * 2 * M_PI));
        if (i == 0)
            sine.moveTo(pt);
        else
            sine.lineTo(pt);
    }
    p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(sine);
}

void paintRectifier(QPainter &p)
{
    // The front of a plug-in rectifier module: handle, status window, ventilation grille.
    // The top two rows stay clear: the alarm-test reminder's text runs just above.
    const QRectF body(0.5, 2.5, 48, 86);
    p.setPen(QPen(rgb(0x505A64), 1.0));
    p.setBrush(brushedMetal(body, 0x8A939C, 0xEEF1F4, 0xB2B9C0));
    p.drawRoundedRect(body, 3, 3);

    // Handle bar across the top.
    const QRectF handle(7, 5.5, 35, 7);
    QLinearGradient grip(handle.topLeft(), handle.bottomLeft());
    grip.setColorAt(0.0, rgb(0x6B747D));
    grip.setColorAt(0.5, rgb(0x3C444C));
    grip.setColorAt(1.0, rgb(0x252B31));
    p.setPen(QPen(rgb(0x1E2328), 0.8));
    p.setBrush(grip);
    p.drawRoundedRect(handle, 3.5, 3.5);
    p.setPen(QPen(QColor(255, 255, 255, 90), 0.8));
    p.drawLine(QPointF(10, 7.2), QPointF(39, 7.2));

    paintScrew(p, QPointF(4, 9), 1.8);
    paintScrew(p, QPointF(45, 9), 1.8);
    paintScrew(p, QPointF(4, 83), 1.8);
    paintScrew(p, QPointF(45, 83), 1.8);

    // Status window with its LEDs.
    const QRectF window(6.5, 16.5, 36, 13);
    QLinearGradient glass(window.topLeft(), window.bottomLeft());
    glass.setColorAt(0.0, rgb(0x1B232B));
    glass.setColorAt(1.0, rgb(0x364450));
    p.setPen(QPen(rgb(0x12171C), 0.8));
    p.setBrush(glass);
    p.drawRoundedRect(window, 2, 2);
    paintLed(p, QRectF(9.5, 19, 8, 8), rgb(0x2BD44A));
    paintLed(p, QRectF(20.5, 19, 8, 8), rgb(0x2BD44A));
    paintLed(p, QRectF(31.5, 19, 8, 8), rgb(0x6B5A10));

    // Ventilation grille: slots pressed into the front.
    for (qreal y = 35; y <= 74; y += 4.5) {
        const QRectF slot(8, y, 33, 2.4);
        p.setPen(Qt::NoPen);
        p.setBrush(rgb(0x3E464F));
        p.drawRoundedRect(slot, 1.2, 1.2);
        p.setPen(QPen(QColor(255, 255, 255, 200), 0.7));
        p.drawLine(QPointF(slot.left() + 1, slot.bottom() + 0.5), QPointF(slot.right() - 1, slot.bottom() + 0.5));
    }

    // Rating plate.
    p.setPen(QPen(rgb(0x7E8891), 0.6));
    p.setBrush(rgb(0xF7F8FA));
    p.drawRoundedRect(QRectF(13, 79.5, 23, 6), 1, 1);
    p.setPen(QPen(rgb(0x1565C0), 1.2));
    p.drawLine(QPointF(15, 82.5), QPointF(25, 82.5));
    p.setPen(QPen(rgb(0x9AA3AB), 0.8));
    p.drawLine(QPointF(27, 82.5), QPointF(34, 82.5));
}

void paintLoad(QPainter &p)
{
    // A remote radio unit: finned die-cast body, antenna ports and radio waves above.
    const QColor wave = rgb(0x1E88E5);
    const QPointF tip(28.5, 9);
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 2; ++i) {
        const qreal r = 5.0 * i;
        p.setPen(QPen(wave, 1.6, Qt::SolidLine, Qt::RoundCap));
        const QRectF arc(tip.x() - r, tip.y() - r, 2 * r, 2 * r);
        p.drawArc(arc, -40 * 16, 80 * 16);
        p.drawArc(arc, 140 * 16, 80 * 16);
    }
    // Antenna whip.
    p.setPen(QPen(rgb(0x37414B), 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(tip, QPointF(28.5, 24));
    p.setPen(Qt::NoPen);
    p.setBrush(wave);
    p.drawEllipse(tip, 2.2, 2.2);

    // Antenna ports on the top face.
    for (qreal x : {12.0, 41.0}) {
        QLinearGradient brass(x - 3, 0, x + 3, 0);
        brass.setColorAt(0.0, rgb(0x9E8A4A));
        brass.setColorAt(0.5, rgb(0xF0E0A0));
        brass.setColorAt(1.0, rgb(0x8A7638));
        p.setPen(QPen(rgb(0x6B5B2A), 0.6));
        p.setBrush(brass);
        p.drawRect(QRectF(x - 3, 20.5, 6, 5));
    }

    // Body.
    const QRectF body(2.5, 25.5, 52, 71);
    QLinearGradient cast(body.topLeft(), body.topRight());
    cast.setColorAt(0.0, rgb(0x3B434C));
    cast.setColorAt(0.2, rgb(0x6E7883));
    cast.setColorAt(0.6, rgb(0x515A64));
    cast.setColorAt(1.0, rgb(0x2B3138));
    p.setPen(QPen(rgb(0x1D2227), 1.0));
    p.setBrush(cast);
    p.drawRoundedRect(body, 3.5, 3.5);

    // Cooling fins.
    for (qreal x = 7.5; x <= 50; x += 4.3) {
        p.setPen(QPen(rgb(0x22282E), 1.4));
        p.drawLine(QPointF(x + 1.2, 30), QPointF(x + 1.2, 74));
        p.setPen(QPen(QColor(255, 255, 255, 70), 1.0));
        p.drawLine(QPointF(x, 30), QPointF(x, 74));
    }

    // Front plate with the unit's LEDs.
    const QRectF plate(8.5, 78.5, 40, 13);
    QLinearGradient face(plate.topLeft(), plate.bottomLeft());
    face.setColorAt(0.0, rgb(0xE9EDF1));
    face.setColorAt(1.0, rgb(0xBCC4CC));
    p.setPen(QPen(rgb(0x2B3138), 0.8));
    p.setBrush(face);
    p.drawRoundedRect(plate, 2, 2);
    paintLed(p, QRectF(11.5, 81, 8, 8), rgb(0x2BD44A));
    paintLed(p, QRectF(22, 81, 8, 8), rgb(0x2BD44A));
    p.setPen(QPen(rgb(0x6F7A85), 1.0));
    p.drawLine(QPointF(33, 83.5), QPointF(45, 83.5));
    p.drawLine(QPointF(33, 86.5), QPointF(42, 86.5));
}

void paintBattery(QPainter &p, bool charging)
{
    // A battery standing upright, its terminal at the top where the DC bus comes down.
    const QColor light = charging ? rgb(0x7EE07F) : rgb(0xFFC061);
    const QColor mid = charging ? rgb(0x2E9E3C) : rgb(0xF08A00);
    const QColor deep = charging ? rgb(0x17622A) : rgb(0xA94700);

    const QRectF post(24.5, 0.5, 16, 6);
    QLinearGradient metal(post.topLeft(), post.topRight());
    metal.setColorAt(0.0, rgb(0x6D747B));
    metal.setColorAt(0.45, rgb(0xE3E7EA));
    metal.setColorAt(1.0, rgb(0x5D646B));
    p.setPen(QPen(rgb(0x3A4046), 0.9));
    p.setBrush(metal);
    p.drawRoundedRect(post, 1.5, 1.5);

    const QRectF casing(5.5, 5.5, 54, 63);
    QLinearGradient shell(casing.topLeft(), casing.topRight());
    shell.setColorAt(0.0, rgb(0x39424A));
    shell.setColorAt(0.3, rgb(0x5D6873));
    shell.setColorAt(1.0, rgb(0x262C32));
    p.setPen(QPen(rgb(0x1A1F24), 1.0));
    p.setBrush(shell);
    p.drawRoundedRect(casing, 5, 5);

    // Charge level: four cells lit.
    QLinearGradient fill(0, 0, 65, 0);
    fill.setColorAt(0.15, deep);
    fill.setColorAt(0.42, light);
    fill.setColorAt(0.85, mid);
    fill.setColorAt(1.0, deep);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 4; ++i) {
        const QRectF cell(10.5, 11.5 + i * 14, 44, 11.5);
        p.setBrush(fill);
        p.drawRoundedRect(cell, 2, 2);
    }

    // Glass reflection along the left side.
    QLinearGradient gloss(casing.topLeft(), QPointF(casing.left() + 22, casing.top()));
    gloss.setColorAt(0.0, QColor(255, 255, 255, 95));
    gloss.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.setBrush(gloss);
    p.drawRoundedRect(QRectF(7, 7, 20, 60), 4, 4);

    // The symbol: a bolt while charging, an arrow out of the battery while discharging.
    QPainterPath symbol;
    if (charging) {
        symbol.moveTo(36, 13);
        symbol.lineTo(22, 39);
        symbol.lineTo(31, 39);
        symbol.lineTo(28, 61);
        symbol.lineTo(44, 32);
        symbol.lineTo(34.5, 32);
        symbol.lineTo(39, 13);
        symbol.closeSubpath();
    } else {
        symbol.moveTo(32.5, 13);
        symbol.lineTo(46, 31);
        symbol.lineTo(37.5, 31);
        symbol.lineTo(37.5, 60);
        symbol.lineTo(27.5, 60);
        symbol.lineTo(27.5, 31);
        symbol.lineTo(19, 31);
        symbol.closeSubpath();
    }
    p.setPen(QPen(deep.darker(170), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(symbol);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(symbol);
}

void paintCellSquare(QPainter &p, bool balancing)
{
    const QRectF r(1, 1, 30, 30);
    const QColor top = balancing ? rgb(0xC4C43A) : rgb(0x2E8B3A);
    const QColor base = balancing ? rgb(0x808000) : rgb(0x006400);
    const QColor bottom = balancing ? rgb(0x5A5A00) : rgb(0x00400A);
    QLinearGradient face(r.topLeft(), r.bottomLeft());
    face.setColorAt(0.0, top);
    face.setColorAt(0.5, base);
    face.setColorAt(1.0, bottom);
    p.setPen(QPen(bottom.darker(180), 2.0));
    p.setBrush(face);
    p.drawRoundedRect(r, 5, 5);
    QLinearGradient gloss(r.topLeft(), QPointF(r.left(), r.top() + 15));
    gloss.setColorAt(0.0, QColor(255, 255, 255, 130));
    gloss.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawRoundedRect(QRectF(4, 3.5, 24, 13), 4, 4);
}

QLatin1String stripName(Strip which)
{
    static const char *const names[] = {"ac", "rect", "sys", "batt"};
    return QLatin1String(names[int(which)]);
}

struct StripColours {
    QColor edge, track, pulse, core;
};

StripColours stripColours(Strip which)
{
    if (which == Strip::Ac)
        return {rgb(0x6A4000, 150), rgb(0x7A4E0A), rgb(0xFFA000), rgb(0xFFF6D0)};
    return {rgb(0x0E4A1E, 150), rgb(0x1F6A33), rgb(0x3EE06E), rgb(0xEFFFF2)};
}

// One picture of a flow strip, drawn lying along x: a conduit with light pulses travelling
// one eleventh of their spacing further on each picture. The battery strip's pulses are
// symmetric because it runs both ways.
void paintConduit(QPainter &p, Strip which, qreal length)
{
    const StripColours c = stripColours(which);
    if (which == Strip::Batt) {
        p.translate(5, 0);
        p.rotate(90);
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRectF(0, 0, length, 5), c.edge);
    p.fillRect(QRectF(0, 1, length, 3), c.track);
}

void paintStrip(QPainter &p, Strip which, int picture)
{
    constexpr qreal length = 93;
    constexpr qreal period = 22;
    const StripColours c = stripColours(which);
    const bool vertical = which == Strip::Batt;
    paintConduit(p, which, length);

    const qreal shift = (picture - 1) * period / StripPictures;
    for (qreal head = shift - period; head < length + period; head += period) {
        if (vertical) {
            QLinearGradient pulse(head - 7, 0, head + 7, 0);
            QColor clear = c.pulse;
            clear.setAlpha(0);
            pulse.setColorAt(0.0, clear);
            pulse.setColorAt(0.5, c.pulse);
            pulse.setColorAt(1.0, clear);
            p.fillRect(QRectF(head - 7, 1, 14, 3), pulse);
            QLinearGradient core(head - 4, 0, head + 4, 0);
            QColor coreClear = c.core;
            coreClear.setAlpha(0);
            core.setColorAt(0.0, coreClear);
            core.setColorAt(0.5, c.core);
            core.setColorAt(1.0, coreClear);
            p.fillRect(QRectF(head - 4, 2, 8, 1), core);
        } else {
            QLinearGradient pulse(head - 13, 0, head, 0);
            QColor clear = c.pulse;
            clear.setAlpha(0);
            pulse.setColorAt(0.0, clear);
            pulse.setColorAt(0.75, c.pulse);
            pulse.setColorAt(1.0, c.pulse);
            p.fillRect(QRectF(head - 13, 1, 13, 3), pulse);
            QLinearGradient core(head - 7, 0, head, 0);
            QColor coreClear = c.core;
            coreClear.setAlpha(0);
            core.setColorAt(0.0, coreClear);
            core.setColorAt(1.0, c.core);
            p.fillRect(QRectF(head - 7, 2, 7, 1), core);
        }
    }
}

} // namespace

QPixmap lamp(Lamp colour)
{
    const bool green = colour == Lamp::Green;
    return cached(green ? QStringLiteral("lamp-green") : QStringLiteral("lamp-red"), QSize(9, 9), 4.0,
                  [green](QPainter &p) { paintLed(p, QRectF(0, 0, 9, 9), green ? rgb(0x1FC23C) : rgb(0xF02418)); });
}

QPixmap cellSquare(bool balancing)
{
    return cached(balancing ? QStringLiteral("cell-olive") : QStringLiteral("cell-green"), QSize(32, 32), 1.0,
                  [balancing](QPainter &p) { paintCellSquare(p, balancing); });
}

QPixmap acSource()
{
    return cached(QStringLiteral("ac-source"), QSize(73, 65), 1.0, paintAcSource);
}

QPixmap rectifier()
{
    return cached(QStringLiteral("rectifier"), QSize(49, 89), 1.0, paintRectifier);
}

QPixmap load()
{
    return cached(QStringLiteral("load"), QSize(57, 97), 1.0, paintLoad);
}

QPixmap battery(bool charging)
{
    return cached(charging ? QStringLiteral("battery-charging") : QStringLiteral("battery-discharging"),
                  QSize(65, 69), 1.0, [charging](QPainter &p) { paintBattery(p, charging); });
}

QPixmap strip(Strip which, int picture)
{
    picture = qBound(1, picture, StripPictures);
    const QString key = QStringLiteral("strip-%1-%2").arg(stripName(which)).arg(picture);
    const QSize size = which == Strip::Batt ? QSize(5, 93) : QSize(93, 5);
    return cached(key, size, 1.0, [which, picture](QPainter &p) { paintStrip(p, which, picture); });
}

QPixmap conduit(Strip which, int length)
{
    length = qMax(1, length);
    const QString key = QStringLiteral("conduit-%1-%2").arg(stripName(which)).arg(length);
    const QSize size = which == Strip::Batt ? QSize(5, length) : QSize(length, 5);
    return cached(key, size, 1.0, [which, length](QPainter &p) { paintConduit(p, which, length); });
}

QPixmap unlit(const QPixmap &picture)
{
    const QString key = QStringLiteral("unlit-%1").arg(picture.cacheKey());
    Cache *c = cache();
    const auto found = c->pixmaps.constFind(key);
    if (found != c->pixmaps.cend())
        return *found;
    QImage image = picture.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb px = line[x];
            // Grey, and pulled towards a mid tone so that the lens looks dark, not lit.
            const int grey = 0x70 + (qGray(px) - 0x70) * 45 / 100;
            line[x] = qRgba(grey, grey, grey, qAlpha(px));
        }
    }
    QPixmap result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(picture.devicePixelRatio());
    c->pixmaps.insert(key, result);
    return result;
}

QIcon treeIcon(int index)
{
    index = qBound(0, index, 3);
    Cache *c = cache();
    const auto found = c->icons.constFind(index);
    if (found != c->icons.cend())
        return *found;
    static constexpr quint32 colours[] = {0xFF8C00, 0x9AA0A6, 0x1FC23C, 0xF02418};
    const QPixmap pixmap = cached(QStringLiteral("tree-%1").arg(index), QSize(16, 16), 1.0,
                                  [index](QPainter &p) { paintLed(p, QRectF(1.5, 1.5, 13, 13), rgb(colours[index])); });
    QIcon icon;
    for (QIcon::Mode mode : {QIcon::Normal, QIcon::Active, QIcon::Selected})
        icon.addPixmap(pixmap, mode);
    c->icons.insert(index, icon);
    return icon;
}

} // namespace qeln::artwork

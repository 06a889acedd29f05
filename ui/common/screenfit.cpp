#include "common/screenfit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace qeln {

namespace {

// The top left corner of a framed window of that size, centred in the area but never above or
// left of it.
QPoint framedCorner(const QSize &framed, const QRect &area)
{
    const QPoint corner = area.topLeft()
        + QPoint((area.width() - framed.width()) / 2, (area.height() - framed.height()) / 2);
    return QPoint(qMax(corner.x(), area.left()), qMax(corner.y(), area.top()));
}

} // namespace

QRect fittedGeometry(const QSize &wanted, const QRect &available, const QMargins &frame)
{
    const QSize room = available.size().shrunkBy(frame).expandedTo(QSize(1, 1));
    const QSize size = wanted.boundedTo(room);
    return QRect(framedCorner(size.grownBy(frame), available) + QPoint(frame.left(), frame.top()), size);
}

QRect availableArea(const QWidget *window)
{
    const QWidget *parent = window->parentWidget();
    QScreen *screen = parent ? parent->screen() : window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

namespace {

QMargins frameOf(const QWidget *window)
{
    if (!window->isVisible())
        return GuessedFrame;
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                    outer.bottom() - inner.bottom());
}

} // namespace

void fitOnScreen(QWidget *window, const QSize &wanted)
{
    const QRect area = availableArea(window);
    if (area.isEmpty()) {
        window->resize(wanted);
        return;
    }
    window->setGeometry(fittedGeometry(wanted, area, frameOf(window)));
}

void centreOnScreen(QWidget *window)
{
    const QRect area = availableArea(window);
    if (area.isEmpty())
        return;
    // The window keeps its size (a fixed-size dialog cannot shrink); move() places the frame.
    window->move(framedCorner(window->size().grownBy(frameOf(window)), area));
}

} // namespace qeln

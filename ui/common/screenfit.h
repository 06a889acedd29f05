#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

namespace qeln {

// The frame a window manager draws around a window before the window has been shown and its
// real frame is known: a title bar and thin borders.
inline constexpr QMargins GuessedFrame{4, 30, 4, 4};

// Where a window whose contents want `wanted` goes on a screen whose free area is `available`
// (without task bars): as large as wanted but no larger than the area less the frame, centred,
// and with its frame wholly inside the area. The result is the window's own geometry, frame
// excluded.
QRect fittedGeometry(const QSize &wanted, const QRect &available, const QMargins &frame = GuessedFrame);

// The free area of the screen a window opens on: its parent's screen, else the primary one.
QRect availableArea(const QWidget *window);

// Gives the window the fitted geometry for its screen.
void fitOnScreen(QWidget *window, const QSize &wanted);

// Places a window of its present size in the middle of its parent's screen, keeping its top
// left corner (and so its title bar) on the screen.
void centreOnScreen(QWidget *window);

} // namespace qeln

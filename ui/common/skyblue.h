#pragma once

#include <QColor>

class QWidget;

namespace qeln {

// The console's window colour: every window and panel is drawn on it.
inline const QColor SkyBlue{0xA6, 0xCA, 0xF0};

// Fills the widget's background with SkyBlue.
void paintSkyBlue(QWidget *widget);

} // namespace qeln

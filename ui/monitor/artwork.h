#pragma once

#include <QIcon>
#include <QPixmap>

namespace qeln::artwork {

// The pictures of the status page, drawn once with QPainter and kept until the application
// ends. Sizes are logical pixels; the pictures are drawn at the screen's pixel ratio (the
// lamps at a higher one, as they are shown stretched).

enum class Lamp { Green, Red };
// An indicator lamp: a panel LED with a bezel and a highlight, 9 x 9 (shown at 12 x 12).
QPixmap lamp(Lamp colour);
// A cell-balancing square, 32 x 32 (shown at 12 x 12): dark green when idle, olive while the
// cell is being balanced.
QPixmap cellSquare(bool balancing);

QPixmap acSource();  // 73 x 65: the utility supply
QPixmap rectifier(); // 49 x 89: a rectifier module
QPixmap load();      // 57 x 97: a remote radio unit
QPixmap battery(bool charging); // 65 x 69: green with a bolt charging, orange discharging

// The power-flow strips: picture 1..11 of each; horizontal ones are 93 x 5, the battery
// strip is 5 x 93 and flows downwards from picture 1 to 11.
enum class Strip { Ac, Rect, Sys, Batt };
inline constexpr int StripPictures = 11;
QPixmap strip(Strip which, int picture);
// The same conduit without pulses, `length` long: the cable where no strip lies.
QPixmap conduit(Strip which, int length);

// A copy of a picture that looks unlit (grey, low contrast): the lamps of a controller that
// does not answer.
QPixmap unlit(const QPixmap &picture);

// The module tree's icons by the index the tree gives (see ModuleTree): 0 orange, 1 grey,
// 2 green (normal), 3 red (alarm); 16 x 16, the same picture for the normal and the selected
// state.
QIcon treeIcon(int index);

} // namespace qeln::artwork

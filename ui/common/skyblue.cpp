#include "common/skyblue.h"

#include <QPalette>
#include <QWidget>

namespace qeln {

void paintSkyBlue(QWidget *widget)
{
    QPalette sky = widget->palette();
    sky.setColor(QPalette::Window, SkyBlue);
    widget->setPalette(sky);
    widget->setAutoFillBackground(true);
}

} // namespace qeln

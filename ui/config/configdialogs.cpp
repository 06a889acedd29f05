#include "configdialogs.h"

#include "configdialog.h"

namespace qeln {

ConfigDialog *createConfigDialog(const QString &menuName, LinkEngine &engine, QWidget *parent)
{
    Q_UNUSED(engine);
    Q_UNUSED(parent);
    Q_UNUSED(menuName);
    return nullptr;
}

} // namespace qeln

#include "factoryinit.h"

namespace qeln::config::factoryinit {

QString caption(Choice choice)
{
    switch (choice) {
    case Choice::Reset:
        return QStringLiteral("Reset");
    case Choice::Config:
        return QString::fromUtf8("Config 초기화");
    case Choice::None:
        break;
    }
    return QString();
}

Choice choiceAt(int index)
{
    switch (index) {
    case 0:
        return Choice::Reset;
    case 1:
        return Choice::Config;
    default:
        return Choice::None;
    }
}

Choice choiceFromKey(const QString &key)
{
    if (key == QLatin1String("reset"))
        return Choice::Reset;
    if (key == QLatin1String("config"))
        return Choice::Config;
    return Choice::None;
}

WritePlan plan(Choice choice)
{
    WritePlan out;
    if (choice == Choice::Reset)
        out.writes.append(RegisterWrite{FactoryRegister, 1});
    else if (choice == Choice::Config)
        out.writes.append(RegisterWrite{FactoryRegister, 2});
    return out;
}

} // namespace qeln::config::factoryinit

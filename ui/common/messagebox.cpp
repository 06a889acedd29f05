#include "common/messagebox.h"

namespace qeln {

QMessageBox::Icon messageIcon(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Information:
        return QMessageBox::Information;
    case MessageKind::Warning:
        return QMessageBox::Warning;
    case MessageKind::Plain:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox *openMessageBox(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
                            const QString &name, BoxText textMode, const QString &details)
{
    auto *box = new QMessageBox(icon, title, text, QMessageBox::Ok, parent);
    if (!name.isEmpty())
        box->setObjectName(name);
    if (!details.isEmpty())
        box->setDetailedText(details);
    if (textMode == BoxText::Selectable)
        box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return box;
}

QMessageBox *openMessageBox(QWidget *parent, MessageKind kind, const QString &title, const QString &text,
                            const QString &name)
{
    return openMessageBox(parent, messageIcon(kind), title, text, name);
}

} // namespace qeln

#pragma once

#include "link/linkengine.h"

#include <QMessageBox>
#include <QString>

class QWidget;

namespace qeln {

// Whether the operator can select and copy the box's text (a path, an address).
enum class BoxText { Plain, Selectable };

// The icon a message of this kind is shown with.
QMessageBox::Icon messageIcon(MessageKind kind);

// Opens a box with an OK button, window-modal to parent, without a nested event loop: the
// caller goes on at once, and the box deletes itself once closed. `name` becomes its
// objectName (tests find the box by it); `details` goes behind its "Show Details..." button.
// The box is returned, already open, so the caller can follow it (finished(), a timer that
// closes it).
QMessageBox *openMessageBox(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
                            const QString &name = {}, BoxText textMode = BoxText::Plain,
                            const QString &details = {});

// The same for a message the engine or the session asked to show, with its kind's icon.
QMessageBox *openMessageBox(QWidget *parent, MessageKind kind, const QString &title, const QString &text,
                            const QString &name = {});

} // namespace qeln

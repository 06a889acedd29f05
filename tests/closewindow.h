#pragma once

// The ways an operator closes a history window or the initialisation dialog, for the
// suites that check every one of them hands the link back.

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QTest>

enum class CloseBy { Button, Escape, WindowManager };
Q_DECLARE_METATYPE(CloseBy)

inline void closeWindow(QDialog *window, CloseBy how)
{
    switch (how) {
    case CloseBy::Button:
        for (QAbstractButton *b : window->findChildren<QAbstractButton *>()) {
            const QString name = b->objectName();
            if (name == QLatin1String("bbtClose") || name == QLatin1String("BitBtnI_Cancel"))
                QTest::mouseClick(b, Qt::LeftButton);
        }
        break;
    case CloseBy::Escape:
        QTest::keyClick(window, Qt::Key_Escape);
        break;
    case CloseBy::WindowManager:
        window->close();
        break;
    }
}

inline void deleteClosed()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

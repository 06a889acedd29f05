#pragma once

// The console's main window logged in and connected to the simulated controller in this
// process, for the tests that open dialogs from its menu as the operator does:
//     ConsoleRig rig(true);                       // TCP; false: the simulator's pty
//     auto *d = rig.open("mSystemConfiguration", "frmPoint_Setting");

#include "app/consolesession.h"
#include "monitor/livemonitor.h"
#include "app/demosimulator.h"
#include "app/mainform.h"
#include "link/linkengine.h"
#include "trend/recorder.h"

#include <QAction>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>

struct ConsoleRig {
    explicit ConsoleRig(bool tcp, const QString &scenario = QStringLiteral("normal"))
    {
        QLoggingCategory::setFilterRules(QStringLiteral("qeln.*.debug=false\nqeln.*.info=false"));
        QString error;
        if (!sim.setScenario(scenario, &error) || !sim.start(&error))
            qFatal("simulator: %s", qPrintable(error));
        session.setConsoleStream(nullptr);
        window.setOutputDirectory(out.path());
        window.show();
        session.login();
        session.connectCommand();
        session.dialogCreated();
        if (tcp) {
            session.chooseTcp();
            session.confirmConnect(sim.hostText());
        } else {
            session.chooseSerial();
            session.selectPort(sim.serialDevice());
            session.confirmConnect(QString());
        }
        using qeln::LinkEngine;
        QObject::connect(&engine(), &LinkEngine::writeAcknowledged, &window,
                         [this](qeln::RegisterWrite w) { received << w; });
        QObject::connect(&engine(), &LinkEngine::writeSequenceEnded, &window,
                         [this](bool ok, const QString &) { ok ? ++sequencesOk : ++sequencesFailed; });
        QObject::connect(&engine(), &LinkEngine::requestSent, &window, [this](const QByteArray &frame, bool tcp) {
            if (tcp ? frame.size() == 12 && quint8(frame.at(7)) == 0x06 : frame.startsWith(":0106"))
                ++writeRequests;
        });
        QObject::connect(&engine(), &LinkEngine::statusReceived, &window, [this] { ++decodes; });
    }

    qeln::LinkEngine &engine() { return session.engine(); }
    qeln::ConsoleState &state() { return session.state(); }
    int status(int n) { return state().StatusRegisters[n - 1]; }

    // Waits for the first status (the configuration items come alive), then opens the dialog
    // of that menu item and waits until it is the active window. A hidden item reports itself
    // disabled (Qt's rule for hidden actions) but is not: the visible date/time item is waited
    // for instead, and the hidden one triggered directly.
    bool configurationEnabled()
    {
        QAction *visibleItem = window.menuItem(QStringLiteral("mDataTimeSet"));
        return QTest::qWaitFor([&] { return visibleItem->isEnabled(); }, 5000);
    }
    template <typename T = QDialog> T *open(const char *item, const char *dialogName)
    {
        QAction *action = window.menuItem(QLatin1String(item));
        if (!action)
            return nullptr;
        if (!(action->isVisible() ? QTest::qWaitFor([&] { return action->isEnabled(); }, 5000)
                                  : configurationEnabled())
            || !identified())
            return nullptr;
        action->trigger();
        auto *d = window.findChild<T *>(QLatin1String(dialogName));
        return d && QTest::qWaitForWindowActive(d) ? d : nullptr;
    }
    bool pollHeld() { return engine().pollingHeld(); }
    // The connection has settled: the controller said who it is (the read of its network block
    // each connection makes) or could not.
    bool identified()
    {
        return QTest::qWaitFor([&] { return !window.recorder().awaitingIdentity(); }, 10000);
    }
    bool pollRuns() { return !engine().pollingHeld() && engine().pollingRunning(); }
    // Two polls after closing have brought the plant's registers back.
    bool freshStatus()
    {
        const int before = decodes;
        return QTest::qWaitFor([&] { return decodes >= before + 2; }, 5000);
    }

    // With QELN_SHOT_DIR set, the widget is saved there as a picture for the documentation.
    static void shoot(QWidget *w)
    {
        const QByteArray dir = qgetenv("QELN_SHOT_DIR");
        if (!dir.isEmpty())
            w->grab().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + w->objectName() + QStringLiteral(".png"));
    }

    QTemporaryDir out;
    qeln::DemoSimulator sim;
    qeln::ConsoleSession session;
    qeln::MainForm window{session};
    QList<qeln::RegisterWrite> received; // acknowledged writes, in order
    int sequencesOk = 0;
    int sequencesFailed = 0;
    int writeRequests = 0;
    // Nothing in flight and no write sequence running: whatever a click sent has gone out
    // and been counted.
    bool linkIdle() { return !engine().tcpBusy() && !engine().writeSequenceRunning(); }
    int decodes = 0;
};

// The widget of that object name inside a dialog.
template <typename T = QWidget> T *child(QWidget *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}

// A click on the button of that object name, as the operator makes it.
inline void click(QWidget *dialog, const char *name)
{
    auto *b = child<QPushButton>(dialog, name);
    QVERIFY2(b, name);
    QTest::mouseClick(b, Qt::LeftButton);
}

// The box in which a dialog shows a refusal ("refusalBox"), if one is open.
inline QMessageBox *refusalBox(QWidget *dialog)
{
    return dialog->findChild<QMessageBox *>(QStringLiteral("refusalBox"));
}

// The main window's history commands: the download windows, the initialisation dialog and the
// configuration dialogs that share the menu's wiring.

#include "app/mainform.h"
#include "trend/recorder.h"

#include "app/consolesession.h"
#include "common/operatorquestions.h"
#include "config/configdialog.h"
#include "config/configdialogs.h"
#include "history/historydownload.h"
#include "history/historyinitform.h"
#include "history/historywindow.h"
#include "network/ipsettingsdialog.h"
#include "network/ipsettingslink.h"

#include <QAction>

namespace qeln {

// ---- Histories ------------------------------------------------------------------------

void MainForm::buildHistory()
{
    historyDownload_ = new history::HistoryDownload(session_.engine(), this);
    connect(items_.value(QStringLiteral("mAlarmLog")), &QAction::triggered, this,
            &MainForm::onAlarmLogTriggered);
    connect(items_.value(QStringLiteral("mEventLog")), &QAction::triggered, this,
            &MainForm::onEventLogTriggered);
    connect(items_.value(QStringLiteral("mInitialLog")), &QAction::triggered, this,
            &MainForm::onInitialLogTriggered);

    for (const char *name : {"mSystemConfiguration", "mAlarmManager", "mMeasurementSet",
                             "mDataTimeSet", "mAlarmTest", "mFactoryInitial"}) {
        const QString item = QLatin1String(name);
        connect(items_.value(item), &QAction::triggered, this, [this, item] { openConfigDialog(item); });
    }
    // The IP-settings answers are decoded by the network block's link, whose read-backs the
    // IP dialog waits for.
    auto *ipLink = new IpSettingsLink(session_.engine(), this);
    // A disconnect (or the exit) ends what the last read-back said about the controller.
    connect(&session_, &ConsoleSession::dataLogStopRequested, ipLink, &IpSettingsLink::invalidate);
    // Each connection asks the controller once who it is: a read of its network block, which
    // changes nothing there. Its serial number names the trend recording, whatever the link;
    // until it comes the statuses wait in memory, and without it the link names the file.
    connect(&session_, &ConsoleSession::statusArrived, this, [this, ipLink] {
        recorder_->beginConnection(session_.linkId(), true);
        identityRead_ = ipLink->readInPollSlot();
    });
    connect(ipLink, &IpSettingsLink::readBackDecoded, this,
            [this](const IpSettingsReadBack &readBack, quint64 generation) {
                if (readBack.has(IpField::SerialNumber) && !readBack.serialNumberText.trimmed().isEmpty())
                    recorder_->setSerialNumber(readBack.serialNumberText.trimmed(),
                                                readBack.has(IpField::Mac) ? readBack.macText : QString());
                else if (generation >= identityRead_)
                    recorder_->identityUnknown();
            });
    connect(ipLink, &IpSettingsLink::readFailed, this, [this](quint64 generation, const RequestFailure &) {
        if (generation == identityRead_)
            recorder_->identityUnknown();
    });
    connect(items_.value(QStringLiteral("mIPSet")), &QAction::triggered, this, [this, ipLink] {
        auto *dialog = new IpSettingsDialog(session_.engine(), *ipLink, this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->open();
    });
}

void MainForm::openConfigDialog(const QString &menuName)
{
    ConfigDialog *dialog = createConfigDialog(menuName, session_.engine(), session_.state(), this);
    if (!dialog)
        return;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void MainForm::onAlarmLogTriggered()
{
    openHistoryWindow(history::LogKind::Alarm);
}

void MainForm::onEventLogTriggered()
{
    openHistoryWindow(history::LogKind::Event);
}

void MainForm::openHistoryWindow(history::LogKind kind)
{
    // A controller of an unknown model would leave the window empty and polling paused:
    // nothing starts, and the operator is told why.
    if (!historyDownload_->start(kind)) {
        onMessageRequested(MessageKind::Plain,
                           QStringLiteral("The controller's model is unknown (model code %1): "
                                          "its history cannot be read.")
                               .arg(session_.state().ModelCode()));
        return;
    }
    auto *window = new HistoryWindow(kind, *historyDownload_, session_.state(), outputDir_, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->open();
}

void MainForm::onInitialLogTriggered()
{
    auto *dialog = new HistoryInitForm(session_.engine(), this);
    dialog->setQuestions(questions_);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

} // namespace qeln

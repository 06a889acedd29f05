// The main window's way out: the data log's unsaved lines are saved before the window closes
// or the link is dropped, and the operator is told where they went.

#include "app/mainform.h"
#include "app/statusstrip.h"

#include "common/operatorquestions.h"
#include "monitor/datalog.h"
#include "monitor/livemonitor.h"
#include "monitor/logpage.h"

#include <QDir>
#include <QGroupBox>
#include <QScopeGuard>
#include <QTabWidget>

namespace qeln {

void MainForm::setQuestions(OperatorQuestions *questions)
{
    questions_ = questions ? questions : &OperatorQuestions::boxes();
    logPage_->setQuestions(questions_);
}

void MainForm::onDataLogStopRequested()
{
    strip_->onConnectionEnded();
    DataLog &log = monitor_->dataLog();
    log.stop();
    // On the exit the log was dealt with before: saved, or left at the operator's word.
    if (exiting_)
        return;
    const int count = log.unsavedLines();
    const QString path = log.saveUnsaved();
    if (!path.isEmpty())
        logPage_->noteSaved(QStringLiteral("The data log stopped with the disconnect. Its %1 unsaved lines "
                                           "were saved to\n%2")
                                .arg(count)
                                .arg(QDir::toNativeSeparators(path)));
    else if (log.unsavedLines() > 0)
        showLogPage(); // the failed save has said why; the lines wait there for "저장"
}

void MainForm::showLogPage()
{
    groupBox1_->show();
    pageControl1_->setCurrentWidget(logPage_);
}

bool MainForm::readyToClose()
{
    if (closeApproved_)
        return true;
    if (closePending_)
        return false;
    DataLog &log = monitor_->dataLog();
    log.stop();
    const int count = log.unsavedLines();
    if (count == 0)
        return true;
    closePending_ = true;
    // An answer given at once (not through a box) lets this close go on.
    deciding_ = true;
    const auto decided = qScopeGuard([this] { deciding_ = false; });
    const QString path = log.saveUnsaved();
    if (!path.isEmpty()) {
        questions_->tell(this, QStringLiteral("exitLogSavedBox"), windowTitle(),
                         QStringLiteral("The data log's %1 unsaved lines were saved to\n%2\n\n"
                                        "The console closes when you press OK, or by itself in %3 s.")
                             .arg(count)
                             .arg(QDir::toNativeSeparators(path))
                             .arg(ExitNoteMs / 1000),
                         ExitNoteMs, [this] { onExitNoteClosed(); });
        return closeApproved_;
    }
    // Leaving now would lose the lines: the operator decides, and may stay to choose another
    // folder on the log page.
    logPage_->dismissFailure();
    showLogPage();
    questions_->ask(this, QStringLiteral("exitLogFailedBox"), windowTitle(),
                    log.lastFailure()
                        + QStringLiteral("\n\nExit anyway and lose these %1 lines? Choose No to stay: on the "
                                         "log page, choose another folder and press 저장.")
                              .arg(count),
                    [this](bool leave) { onExitAnswered(leave); });
    return closeApproved_;
}

void MainForm::continueClosing()
{
    if (exitRequested_)
        finishExit();
    else
        close();
}

void MainForm::onExitNoteClosed()
{
    closePending_ = false;
    closeApproved_ = true;
    if (!deciding_)
        continueClosing();
}

void MainForm::onExitAnswered(bool leave)
{
    closePending_ = false;
    if (!leave) {
        exitRequested_ = false;
        return;
    }
    closeApproved_ = true;
    if (!deciding_)
        continueClosing();
}

} // namespace qeln

#include "history/historyinitform.h"

#include "common/screenfit.h"
#include "common/skyblue.h"
#include "common/operatorquestions.h"

#include "link/linkengine.h"

#include <QFrame>
#include <QPointer>
#include <QGuiApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

namespace qeln {

HistoryInitForm::HistoryInitForm(LinkEngine &engine, QWidget *parent)
    : QDialog(parent)
    , engine_(engine)
    , questions_(&OperatorQuestions::boxes())
{
    // No status poll while the window is open: the link is the initialisation's.
    hold_.take(engine_, HoldReason::HistoryInitialisation);
    setObjectName(QStringLiteral("frmInitial"));
    setWindowTitle(QStringLiteral("이력 초기화"));
    setFixedSize(218, 213);

    auto *panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    panel->setGeometry(8, 8, 202, 150);
    paintSkyBlue(panel);

    alarmInit_ = new QRadioButton(QStringLiteral("알람이력 초기화"), panel);
    alarmInit_->setObjectName(QStringLiteral("Alarm_Init"));
    alarmInit_->setGeometry(24, 40, 160, 24);
    eventInit_ = new QRadioButton(QStringLiteral("이벤트로그 초기화"), panel);
    eventInit_->setObjectName(QStringLiteral("Event_Init"));
    eventInit_->setGeometry(24, 84, 160, 24);
    // Only the alarm history may be erased from here.
    eventInit_->hide();

    okButton_ = new QPushButton(QStringLiteral("설정"), this);
    okButton_->setObjectName(QStringLiteral("BitBtnI_OK"));
    okButton_->setGeometry(24, 170, 80, 30);
    okButton_->setEnabled(false);
    cancelButton_ = new QPushButton(QStringLiteral("닫기"), this);
    cancelButton_->setObjectName(QStringLiteral("BitBtnI_Cancel"));
    cancelButton_->setGeometry(114, 170, 80, 30);
    // Enter must not erase a log by itself: no button is the default one.
    okButton_->setAutoDefault(false);
    cancelButton_->setAutoDefault(false);

    connect(alarmInit_, &QRadioButton::clicked, this, &HistoryInitForm::onChoiceClicked);
    connect(eventInit_, &QRadioButton::clicked, this, &HistoryInitForm::onChoiceClicked);
    connect(okButton_, &QPushButton::clicked, this, &HistoryInitForm::onOkClicked);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);

    centreOnScreen(this);
}

HistoryInitForm::~HistoryInitForm()
{
    // Destroyed without being closed (its parent went first): polling must not stay paused.
    onClosing();
}

void HistoryInitForm::onChoiceClicked()
{
    okButton_->setEnabled(true);
}

void HistoryInitForm::setQuestions(OperatorQuestions *questions)
{
    questions_ = questions ? questions : &OperatorQuestions::boxes();
}

void HistoryInitForm::onOkClicked()
{
    if (!alarmInit_->isChecked() && !eventInit_->isChecked())
        return;
    if (asking_)
        return;
    asking_ = true;
    const bool alarms = alarmInit_->isChecked();
    const QString log = alarms ? QStringLiteral("alarm history (알람 이력)") : QStringLiteral("event log (이벤트 로그)");
    const int kind = int(alarms ? LogKind::Alarm : LogKind::Event);
    // The erasing cannot be undone, and one press must not do it unasked.
    QPointer<HistoryInitForm> self(this);
    questions_->ask(this, QStringLiteral("initConfirmQuestion"), windowTitle(),
                    QStringLiteral("Erase the controller's %1? Every record in it is lost; this cannot be undone.")
                        .arg(log),
                    [self, kind](bool yes) {
                        if (self)
                            self->onConfirmed(kind, yes);
                    });
}

void HistoryInitForm::onConfirmed(int kind, bool yes)
{
    asking_ = false;
    // A dialog closed meanwhile has handed the link back to the status poll: nothing goes out.
    if (yes && !closed_)
        engine_.initialiseHistory(LogKind(kind), InitialisationWaitMs);
}

void HistoryInitForm::done(int result)
{
    onClosing();
    QDialog::done(result);
}

void HistoryInitForm::onClosing()
{
    if (closed_)
        return;
    closed_ = true;
    hold_.reset();
}

} // namespace qeln

#include "history/historyinitform.h"

#include "app/mainform.h"

#include "history/historyinit.h"
#include "link/linkengine.h"

#include <QFrame>
#include <QGuiApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

namespace qeln {

HistoryInitForm::HistoryInitForm(LinkEngine &engine, QWidget *parent)
    : QDialog(parent)
    , engine_(engine)
{
    setObjectName(QStringLiteral("frmInitial"));
    setWindowTitle(QStringLiteral("이력 초기화"));
    setFixedSize(218, 213);

    auto *panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    panel->setGeometry(8, 8, 202, 150);
    QPalette sky = panel->palette();
    sky.setColor(QPalette::Window, MainForm::SkyBlue);
    panel->setPalette(sky);
    panel->setAutoFillBackground(true);

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
    connect(okButton_, &QPushButton::clicked, this, &HistoryInitForm::BitBtnI_OKClick);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);

    centreOnScreen(this);
}

HistoryInitForm::~HistoryInitForm()
{
    // Destroyed without being closed (its parent went first): polling must not stay paused.
    FormClose();
}

void HistoryInitForm::onChoiceClicked()
{
    okButton_->setEnabled(true);
}

void HistoryInitForm::BitBtnI_OKClick()
{
    if (alarmInit_->isChecked()) {
        history::sendHistoryInitialisation(engine_, history::LogKind::Alarm);
    } else if (eventInit_->isChecked()) {
        history::sendHistoryInitialisation(engine_, history::LogKind::Event);
    } else {
        engine_.state().ResponseTimer = 3;
        engine_.state().PollReady = 1;
    }
}

void HistoryInitForm::done(int result)
{
    FormClose();
    QDialog::done(result);
}

void HistoryInitForm::FormClose()
{
    if (closed_)
        return;
    closed_ = true;
    history::endHistoryInitialisation(engine_.state());
}

} // namespace qeln

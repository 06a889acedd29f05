#include "app/msgform.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace qeln {

MsgForm::MsgForm(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmMsg"));
    setWindowTitle(QStringLiteral("QELN "));
    setModal(false);

    lbMsg_ = new QLabel(QStringLiteral("Now Closing... Plase, wait 5~20 Seconds!!"), this);
    lbMsg_->setObjectName(QStringLiteral("lbMsg"));
    progressBar1_ = new QProgressBar(this);
    progressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar1_->setRange(0, 100);
    progressBar1_->setValue(0);
    progressBar1_->setTextVisible(false);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lbMsg_);
    layout->addWidget(progressBar1_);
    setFixedSize(360, 90);

    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(TickMs);
    connect(timer1_, &QTimer::timeout, this, &MsgForm::onTimer1Timeout);
}

void MsgForm::start()
{
    closingTicks_ = 0;
    timer1_->start();
    show();
}

void MsgForm::tick()
{
    ++closingTicks_;
    // The bar stops at its end if the shutdown takes longer than the bar foresaw.
    progressBar1_->setValue(std::min(progressBar1_->maximum(), 10 + closingTicks_));
}

void MsgForm::onTimer1Timeout()
{
    tick();
}

} // namespace qeln

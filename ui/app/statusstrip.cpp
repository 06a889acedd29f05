#include "app/statusstrip.h"

#include <QDateTime>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>

namespace qeln {

const QColor StatusStrip::TxIdle{0x00, 0x80, 0x80};
const QColor StatusStrip::TxBusy{0x00, 0x00, 0x80};
const QColor StatusStrip::RxIdle{0x00, 0x80, 0x00};
const QColor StatusStrip::RxActive{0x00, 0xFF, 0x00};
const QColor StatusStrip::LinkUp{0x00, 0xFF, 0x00};
const QColor StatusStrip::LinkDown{0x80, 0x80, 0x80};

namespace {

// A raised panel with a centred caption, the look of the link lamps.
QLabel *makeLamp(const char *name, const QString &caption, QWidget *parent)
{
    auto *lamp = new QLabel(caption, parent);
    lamp->setObjectName(QLatin1String(name));
    lamp->setAlignment(Qt::AlignCenter);
    lamp->setFrameShape(QFrame::Panel);
    lamp->setFrameShadow(QFrame::Raised);
    lamp->setAutoFillBackground(true);
    return lamp;
}

QTimer *makeHold(QObject *parent)
{
    auto *hold = new QTimer(parent);
    hold->setSingleShot(true);
    hold->setInterval(StatusStrip::LampHoldMs);
    return hold;
}

} // namespace

StatusStrip::StatusStrip(QWidget *lampHost, QWidget *parent)
    : QStatusBar(parent)
{
    setObjectName(QStringLiteral("ComSetting"));
    setSizeGripEnabled(false);
    buildLamps(lampHost);
    buildPanels();
    hide();
}

void StatusStrip::buildLamps(QWidget *host)
{
    QFont lampFont = host->font();
    lampFont.setBold(true);
    lampFont.setItalic(true);

    flatPanel3_ = new QFrame(host);
    flatPanel3_->setObjectName(QStringLiteral("FlatPanel3"));
    flatPanel3_->setFrameShape(QFrame::Panel);
    flatPanel3_->setFrameShadow(QFrame::Sunken);
    flatPanel3_->setGeometry(730, 5, 98, 26);
    auto *lamps = new QHBoxLayout(flatPanel3_);
    lamps->setContentsMargins(2, 2, 2, 2);
    lamps->setSpacing(2);
    pnlTx_ = makeLamp("pnl_TX", QStringLiteral("TX"), flatPanel3_);
    pnlRx_ = makeLamp("pnl_RX", QStringLiteral("RX"), flatPanel3_);
    for (QLabel *lamp : {pnlTx_, pnlRx_}) {
        lamp->setFont(lampFont);
        QPalette p = lamp->palette();
        p.setColor(QPalette::WindowText, Qt::white);
        lamp->setPalette(p);
        lamps->addWidget(lamp);
    }
    paintLamp(pnlTx_, TxIdle);
    paintLamp(pnlRx_, RxIdle);
    flatPanel3_->hide();

    pnlConnect_ = makeLamp("pnlConnect", QStringLiteral("Connect"), host);
    pnlConnect_->setGeometry(600, 5, 80, 26);
    paintLamp(pnlConnect_, LinkDown);
    pnlConnect_->hide();

    txHold_ = makeHold(this);
    connect(txHold_, &QTimer::timeout, this, [this] { paintLamp(pnlTx_, TxIdle); });
    rxHold_ = makeHold(this);
    connect(rxHold_, &QTimer::timeout, this, [this] { paintLamp(pnlRx_, RxIdle); });
}

void StatusStrip::buildPanels()
{
    static constexpr int widths[3] = {500, 180, 50};
    for (int i = 0; i < 3; ++i) {
        auto *panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("ComSettingPanel%1").arg(i));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        // The last panel takes what is left of the bar, so a host address is not cut.
        if (i < 2)
            panel->setFixedWidth(widths[i]);
        else
            panel->setMinimumWidth(widths[i]);
        addPermanentWidget(panel, i == 2 ? 1 : 0);
        panels_[i] = panel;
    }
}

void StatusStrip::paintLamp(QLabel *lamp, const QColor &colour)
{
    QPalette p = lamp->palette();
    p.setColor(QPalette::Window, colour);
    lamp->setPalette(p);
}

void StatusStrip::applyMenus(const MenuState &m)
{
    flatPanel3_->setVisible(m.FlatPanel3);
    setVisible(m.ComSetting);
    pnlConnect_->setVisible(m.pnlConnect);
}

void StatusStrip::applyView(const StatusView &view, bool answerOverdue)
{
    panels_[0]->setText(view.texts.value(QStringLiteral("ComSetting.0")));
    panel1Text_ = view.texts.value(QStringLiteral("ComSetting.1"));
    if (!answerOverdue)
        panels_[1]->setText(panel1Text_);
    for (QLabel *lamp : {pnlTx_, pnlRx_}) {
        const auto colour = view.colours.constFind(lamp->objectName());
        if (colour == view.colours.cend())
            continue;
        QPalette p = lamp->palette();
        p.setColor(QPalette::WindowText, QColor::fromRgb(QRgb(*colour)));
        lamp->setPalette(p);
    }
}

void StatusStrip::onLinkTextChanged(const QString &text)
{
    panels_[2]->setText(text);
}

// "Connecting to HOST:PORT ..." goes to the first panel, the one wide enough for it, and is
// cleared once the connect is decided; the first status then fills that panel.
void StatusStrip::onConnectingTo(const QString &text)
{
    panels_[0]->setText(text);
}

void StatusStrip::onTcpLampChanged(bool up)
{
    paintLamp(pnlConnect_, up ? LinkUp : LinkDown);
}

void StatusStrip::onTxActivity()
{
    paintLamp(pnlTx_, TxBusy);
    txHold_->start();
}

void StatusStrip::onRxActivity()
{
    paintLamp(pnlRx_, RxActive);
    rxHold_->start();
}

void StatusStrip::onAnswerMissing(const QDateTime &since)
{
    const QString text = QStringLiteral("No answer since %1").arg(since.toString(QStringLiteral("HH:mm:ss")));
    panels_[1]->setText(text);
    panels_[1]->setToolTip(QStringLiteral("The controller has not answered the status poll since %1. "
                                          "The values shown are from then. Check the cable or the "
                                          "network, or disconnect and connect again.")
                               .arg(since.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    QPalette p = panels_[1]->palette();
    p.setColor(QPalette::WindowText, Qt::red);
    panels_[1]->setPalette(p);
    show();
}

void StatusStrip::onConnectionStarted()
{
    panel1Text_.clear();
    for (QLabel *panel : {panels_[0], panels_[1]})
        panel->clear();
    onAnswerResumed();
}

void StatusStrip::onConnectionEnded()
{
    txHold_->stop();
    rxHold_->stop();
    paintLamp(pnlTx_, TxIdle);
    paintLamp(pnlRx_, RxIdle);
    for (QLabel *lamp : {pnlTx_, pnlRx_}) {
        QPalette p = lamp->palette();
        p.setColor(QPalette::WindowText, Qt::white);
        lamp->setPalette(p);
    }
}

void StatusStrip::onAnswerResumed()
{
    panels_[1]->setText(panel1Text_);
    panels_[1]->setToolTip(QString());
    panels_[1]->setPalette(QPalette());
}

} // namespace qeln

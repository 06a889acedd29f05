#pragma once

#include "app/menustate.h"
#include "monitor/statusview.h"

#include <QColor>
#include <QStatusBar>
#include <QString>

class QDateTime;
class QFrame;
class QLabel;
class QTimer;

namespace qeln {

// The main window's link lamps and its status bar "ComSetting". The lamps: TX and RX in
// "FlatPanel3" light up with each frame sent or received on the serial link and go back to
// their idle colour LampHoldMs later; "pnlConnect" shows whether the TCP link is up. The bar's
// three panels: the controller's model and firmware (or "Connecting to ..." while a connect
// is being decided), the controller's time (or since when it has not answered), and the link.
//
// The strip is the window's status bar; the lamps sit at their places in the window's fixed
// layout, on the widget given as lampHost.
class StatusStrip : public QStatusBar {
    Q_OBJECT
public:
    static const QColor TxIdle;   // teal
    static const QColor TxBusy;   // navy
    static const QColor RxIdle;   // green
    static const QColor RxActive; // lime
    static const QColor LinkUp;   // lime
    static const QColor LinkDown; // grey
    static constexpr int LampHoldMs = 100;

    StatusStrip(QWidget *lampHost, QWidget *parent);

    // Which of the lamps and the bar are shown, as the session decides.
    void applyMenus(const MenuState &menus);
    // The decoded status: the first two panels and the lamps' caption colours. The time panel
    // keeps saying since when nothing came while the answer is overdue.
    void applyView(const StatusView &view, bool answerOverdue);

    void onLinkTextChanged(const QString &text);
    void onConnectingTo(const QString &text);
    void onTcpLampChanged(bool up);
    void onTxActivity();
    void onRxActivity();
    // The last values stay, and the time panel says, in red, since when nothing came.
    void onAnswerMissing(const QDateTime &since);
    void onAnswerResumed();
    // A connection starts: what the last controller said (model, firmware, its time) goes
    // until this one's first status.
    void onConnectionStarted();
    // The connection ended: the lamps go dark (idle) at once.
    void onConnectionEnded();

private:
    void buildLamps(QWidget *host);
    void buildPanels();
    static void paintLamp(QLabel *lamp, const QColor &colour);

    QFrame *flatPanel3_ = nullptr;
    QLabel *pnlTx_ = nullptr;
    QLabel *pnlRx_ = nullptr;
    QLabel *pnlConnect_ = nullptr;
    QLabel *panels_[3] = {};
    QTimer *txHold_ = nullptr;
    QTimer *rxHold_ = nullptr;
    QString panel1Text_; // the controller's time as last decoded
};

} // namespace qeln

#pragma once

#include "network/ipsettings.h"
#include "network/ipsettingslink.h"

#include <QDialog>

#include <optional>

class QCheckBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTimer;

namespace qeln {

class LinkEngine;

// frmIPSetting ("IP 설정"): the controller's network block. Opening it and "조회" ask for the
// block through the poll scheduler; 3 s later the fill timer (Timer1) fills the boxes from that answer. "설정"
// writes the whole block back in one request, the selected items from the boxes and the
// others as they were read.
//
// "설정" is refused until the answer to THIS dialog's read has filled the boxes: the block
// always carries the description, the serial number and the site text from the boxes, and a
// write built from empty boxes (or from another controller's answer, kept from before a
// reconnect) would wipe the controller's identity. An answer that comes after the 3 s still
// fills the boxes when it arrives, except those the operator has typed into since the read
// was asked for.
//
// Every write is followed by a read of the block, which is compared with what was sent; the
// dialog then says what happened: written, refused by the controller (the block reads back
// unchanged), or read back different (naming the items). The items that did not take are
// selected again with what the operator entered. That read is the one the next write is
// built on, so a later write never sends back values from before an earlier one; "설정"
// waits until it has come.
//
// Opening it holds the status poll; closing it by any way ("닫기", Escape, the close box)
// resumes it, and on the TCP link the connection is renewed (LinkEngine::relink).
class IpSettingsDialog : public QDialog {
    Q_OBJECT
public:
    IpSettingsDialog(LinkEngine &engine, IpSettingsLink &ipLink, QWidget *parent = nullptr);
    ~IpSettingsDialog() override;

    void done(int result) override;

    // Object name of the box that shows a refused "설정".
    static constexpr const char *RefusalBoxName = "refusalBox";
    static constexpr int FillDelayMs = 3000;
    // How long the read that checks a write is waited for before the operator is told.
    static constexpr int ReadBackWaitMs = 8000;
    // Object name of the box that tells how a write went.
    static constexpr const char *ResultBoxName = "ipWriteResult";

    // The fill timer's tick (public so tests can drive it without waiting).
    void onFillTimeout();
    QTimer *fillTimer() const { return timer1_; }
    // The boxes hold this dialog's own read: "설정" may write.
    bool readFilled() const { return filled_; }
    // A write was sent and the read that checks it has not come yet.
    bool checkingWrite() const { return checking_; }
    // How long the read that checks a write is waited for (tests shorten it).
    void setReadBackWaitMs(int ms) { readBackWaitMs_ = ms; }

private:
    QGroupBox *buildIpGroup();
    QGroupBox *buildIdGroup();
    QGroupBox *buildSiteGroup();
    QGroupBox *buildInfoGroup();
    QHBoxLayout *buildButtons();
    void onReadClicked();
    void onOkClicked();
    void onDefaultClicked();
    void onAllCheckClicked();
    void onAllReleaseClicked();
    void onCloseClicked();
    void onReadBackDecoded(const IpSettingsReadBack &readBack, quint64 generation);

    void requestRead();
    void onReadBackTimeout();
    void checkWrite(const IpSettingsReadBack &after);
    void showResult(const QString &text, bool ok);
    // Shows ownRead_ in the boxes; with keepEdits, the items the operator typed into since
    // the read was asked for (and those in `keep`) keep their text.
    void fill(bool keepEdits = false, const QList<IpItem> &keep = {});
    void trackEdits();
    void track(QWidget *box, IpItem item);
    void showReadState(const QString &text, bool problem);
    void refuse(const QString &text);
    // The boxes of refused values are marked (light red) until they are edited or the next
    // write is asked for.
    QWidget *boxOf(IpField field, int part) const;
    void markRefused(const QList<std::pair<IpField, int>> &refused);
    void clearMarks();
    IpSettingsForm form() const;
    void setChecks(bool on, bool withMac);

    LinkEngine &engine_;
    IpSettingsLink &ipLink_;
    QTimer *timer1_ = nullptr;

    QCheckBox *cbIP_ = nullptr;
    QCheckBox *cbGW_ = nullptr;
    QCheckBox *cbSM_ = nullptr;
    QCheckBox *cbMAC_ = nullptr;
    QCheckBox *cbHW_ = nullptr;
    QCheckBox *cbSN_ = nullptr;
    QCheckBox *cbHWDes_ = nullptr;
    QCheckBox *cbRectID_ = nullptr;
    QCheckBox *cbSite_ = nullptr;
    QLineEdit *edtIP_[4] = {};
    QLineEdit *edtGW_[4] = {};
    QLineEdit *edtSM_[4] = {};
    QLineEdit *edtMAC_[6] = {};
    QLineEdit *edtHW_[4] = {};
    QLineEdit *edtSN_ = nullptr;
    QPlainTextEdit *mmHWDes_ = nullptr;
    QLineEdit *edtRectID_ = nullptr;
    QPlainTextEdit *mmSiteInfo_ = nullptr;
    QList<QWidget *> marked_;
    QLineEdit *edtSavedIP_ = nullptr;
    QLineEdit *edtSavedMAC_ = nullptr;
    QLineEdit *edtSavedIPMAC_ = nullptr;
    QLineEdit *edtSavedRectID_ = nullptr;
    QLineEdit *flatEdit3_ = nullptr;
    QLineEdit *edtFW_ = nullptr;
    QLabel *readState_ = nullptr;

    // The read this dialog asked for (the generation its answer carries at least), and the
    // answer once decoded.
    quint64 ticket_ = 0;
    std::optional<IpSettingsReadBack> ownRead_;
    bool filled_ = false; // the boxes show ownRead_
    // The write waiting for its read-back: what was selected and sent, and the read it was
    // built on.
    struct SentWrite {
        IpSettingsForm form;
        QByteArray payload;
        IpSettingsReadBack before;
    };
    std::optional<SentWrite> sent_;
    bool checking_ = false;
    int readBackWaitMs_ = ReadBackWaitMs;
    unsigned edited_ = 0; // bit per IpItem: typed into since the read was asked for
    bool filling_ = false;
};

} // namespace qeln

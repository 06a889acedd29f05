#include "network/ipsettingsdialog.h"

#include "common/messagebox.h"
#include "network/ipsettingslink.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>

#include <utility>

// The IP dialog's "설정": the write, and the read that follows it and says how it went.

namespace qeln {

void IpSettingsDialog::checkWrite(const IpSettingsReadBack &after)
{
    const SentWrite sent = *std::exchange(sent_, std::nullopt);
    checking_ = false;
    const IpWriteCheck check = checkIpWrite(sent.form, sent.payload, sent.before, after);
    // The next write is built on this read, whatever it says.
    ownRead_ = after;
    // The items that did not take keep what the operator entered, selected again.
    QList<IpItem> retry;
    if (check.outcome != IpWriteCheck::Written) {
        for (IpItem item : check.items) {
            if (ipItemSelected(sent.form, item))
                retry << item;
        }
    }
    fill(true, retry);
    const std::pair<IpItem, QCheckBox *> boxes[] = {
        {IpItem::Ip, cbIP_},           {IpItem::Gateway, cbGW_},          {IpItem::Mask, cbSM_},
        {IpItem::Mac, cbMAC_},         {IpItem::HwVersion, cbHW_},        {IpItem::SerialNumber, cbSN_},
        {IpItem::HwDescription, cbHWDes_}, {IpItem::RectifierId, cbRectID_}, {IpItem::Site, cbSite_}};
    for (const auto &[item, box] : boxes) {
        if (retry.contains(item))
            box->setChecked(true);
    }
    switch (check.outcome) {
    case IpWriteCheck::Written:
        showResult(QStringLiteral("IP settings written: the controller reads back what was sent."), true);
        break;
    case IpWriteCheck::Refused:
        showResult(QStringLiteral("The controller refused the IP settings: it reads back its previous values, "
                                  "so nothing was written (%1). Those items are selected again with what "
                                  "you entered: check them and press \"설정\" again.")
                       .arg(check.names()),
                   false);
        break;
    case IpWriteCheck::Different:
        showResult(QStringLiteral("The IP settings read back different from what was sent: %1. The items "
                                  "that were sent are selected again with what you entered; press \"설정\" "
                                  "to try again, or \"조회\" to see the controller's values.")
                       .arg(check.names()),
                   false);
        break;
    }
}

void IpSettingsDialog::onReadBackTimeout()
{
    if (!checking_)
        return;
    // Not known what the controller holds: the next write must not be built on the read
    // from before this one. The answer, should it still come, is checked then.
    checking_ = false;
    ownRead_.reset();
    filled_ = false;
    showResult(QStringLiteral("The IP settings were sent, but the controller did not answer the read that "
                              "checks them within %1 s, so it is not known whether they were taken. "
                              "Press \"조회\" to see what it holds.")
                   .arg(readBackWaitMs_ / 1000.0),
               false);
}

void IpSettingsDialog::showResult(const QString &text, bool ok)
{
    showReadState(ok ? QString() : text, !ok);
    openMessageBox(this, ok ? QMessageBox::Information : QMessageBox::Warning, windowTitle(), text,
                   QLatin1String(ResultBoxName));
}

void IpSettingsDialog::onOkClicked()
{
    clearMarks();
    const IpSettingsForm f = form();
    // Nothing selected: nothing to write, and nothing to say.
    if (!f.anySelected())
        return;
    if (checking_) {
        refuse(QStringLiteral("The last write is still being checked: wait for its result (the block is "
                              "being read back). Nothing was sent."));
        return;
    }
    if (!filled_) {
        refuse(QStringLiteral("The controller's IP settings have not been read yet: press \"조회\" and "
                              "wait until they are shown. Nothing was sent."));
        return;
    }
    // A refusal keeps the selection, so the operator mends the box and presses again.
    const IpWriteBlock block = buildIpSettingsWrite(f, ownRead_);
    if (!block.ok()) {
        markRefused(block.refused);
        refuse(block.error.contains(QLatin1String("Nothing was sent"), Qt::CaseInsensitive)
                   ? block.error
                   : block.error + QStringLiteral("\nNothing was sent."));
        return;
    }
    if (!ipLink_.sendWrite(block.payload)) {
        refuse(QStringLiteral("The link did not take the IP settings block; nothing was sent."));
        return;
    }
    setChecks(false, true);
    // What was typed into the selected items has gone out; the read that checks the write may
    // show the controller's values there.
    for (IpItem item : AllIpItems) {
        if (ipItemSelected(f, item))
            edited_ &= ~(1u << unsigned(item));
    }
    sent_ = SentWrite{f, block.payload, *ownRead_};
    checking_ = true;
    ticket_ = ipLink_.requestRead(readBackWaitMs_);
    showReadState(QStringLiteral("Sent; reading the block back to check it ..."), false);
}

QWidget *IpSettingsDialog::boxOf(IpField field, int part) const
{
    const auto partOf = [part](QLineEdit *const *boxes, int count) -> QWidget * {
        return part >= 0 && part < count ? boxes[part] : nullptr;
    };
    switch (field) {
    case IpField::Ip: return partOf(edtIP_, 4);
    case IpField::Gateway: return partOf(edtGW_, 4);
    case IpField::Mask: return partOf(edtSM_, 4);
    case IpField::HwVersion: return partOf(edtHW_, 4);
    case IpField::Mac: return partOf(edtMAC_, 6);
    case IpField::SerialNumber: return edtSN_;
    case IpField::HwDescription: return mmHWDes_;
    case IpField::RectifierId: return edtRectID_;
    case IpField::Site: return mmSiteInfo_;
    default: return nullptr;
    }
}

void IpSettingsDialog::markRefused(const QList<std::pair<IpField, int>> &refused)
{
    for (const auto &[field, part] : refused) {
        QWidget *box = boxOf(field, part);
        if (!box || marked_.contains(box))
            continue;
        box->setStyleSheet(QStringLiteral("background-color: #ffc8c8;"));
        marked_ << box;
        // Edited, the box is the operator's again.
        const auto unmark = [this, box] {
            box->setStyleSheet(QString());
            marked_.removeAll(box);
        };
        if (auto *edit = qobject_cast<QLineEdit *>(box))
            connect(edit, &QLineEdit::textEdited, box, unmark, Qt::SingleShotConnection);
        else if (auto *memo = qobject_cast<QPlainTextEdit *>(box))
            connect(memo, &QPlainTextEdit::textChanged, box, unmark, Qt::SingleShotConnection);
    }
}

void IpSettingsDialog::clearMarks()
{
    for (QWidget *box : std::exchange(marked_, {}))
        box->setStyleSheet(QString());
}

void IpSettingsDialog::refuse(const QString &text)
{
    openMessageBox(this, QMessageBox::Warning, windowTitle(), text, QLatin1String(RefusalBoxName));
}

} // namespace qeln

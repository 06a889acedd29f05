#include "network/ipsettingsdialog.h"

#include "common/screenfit.h"
#include "common/skyblue.h"
#include "link/linkengine.h"
#include "network/ipsettingslink.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace qeln {

namespace {


QLineEdit *makeEdit(QWidget *parent, const char *name, int maxLength, const QString &widest)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    if (maxLength > 0)
        edit->setMaxLength(maxLength);
    edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(widest) + 14);
    return edit;
}

QCheckBox *makeCheck(QWidget *parent, const char *name, const QString &caption)
{
    auto *box = new QCheckBox(caption, parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

// A row of part boxes joined by `separator`: edtIP1 . edtIP2 . edtIP3 . edtIP4
template <std::size_t N>
QHBoxLayout *partRow(QWidget *parent, QLineEdit *(&parts)[N], const char *prefix, int maxLength,
                     const QString &widest, QChar separator)
{
    auto *row = new QHBoxLayout;
    row->setSpacing(2);
    for (std::size_t i = 0; i < N; ++i) {
        if (i > 0)
            row->addWidget(new QLabel(QString(separator), parent));
        const QByteArray name = QByteArray(prefix) + QByteArray::number(int(i) + 1);
        parts[i] = makeEdit(parent, name.constData(), maxLength, widest);
        parts[i]->setAlignment(Qt::AlignCenter);
        row->addWidget(parts[i]);
    }
    row->addStretch(1);
    return row;
}

QGroupBox *makeGroup(QWidget *parent, const char *name, const QString &title)
{
    auto *group = new QGroupBox(title, parent);
    group->setObjectName(QLatin1String(name));
    paintSkyBlue(group);
    return group;
}

QPlainTextEdit *makeMemo(QWidget *parent, const char *name, int lines)
{
    auto *memo = new QPlainTextEdit(parent);
    memo->setObjectName(QLatin1String(name));
    memo->setTabChangesFocus(true);
    memo->setFixedHeight(memo->fontMetrics().lineSpacing() * lines + 12);
    return memo;
}

// Splits a dotted read-back text into the boxes; a field the answer did not reach empties them.
template <std::size_t N> void showParts(QLineEdit *(&parts)[N], const QString &text)
{
    const QStringList split = text.split(QLatin1Char('.'));
    for (std::size_t i = 0; i < N; ++i)
        parts[i]->setText(text.isEmpty() ? QString() : split.value(qsizetype(i)));
}

template <std::size_t N> std::array<QString, N> partTexts(QLineEdit *const (&parts)[N])
{
    std::array<QString, N> out;
    for (std::size_t i = 0; i < N; ++i)
        out[i] = parts[i]->text();
    return out;
}

} // namespace

IpSettingsDialog::IpSettingsDialog(LinkEngine &engine, IpSettingsLink &ipLink, QWidget *parent)
    : QDialog(parent), engine_(engine), ipLink_(ipLink)
{
    setObjectName(QStringLiteral("frmIPSetting"));
    setWindowTitle(QStringLiteral("IP 설정"));
    setModal(true);

    // Built in the order the focus goes through them.
    QGroupBox *ipGroup = buildIpGroup();
    QGroupBox *idGroup = buildIdGroup();
    QGroupBox *siteGroup = buildSiteGroup();
    QGroupBox *infoGroup = buildInfoGroup();

    // What became of the read: waiting, no answer yet, cut short.
    readState_ = new QLabel(this);
    readState_->setObjectName(QStringLiteral("lblReadState"));
    readState_->setWordWrap(true);

    QHBoxLayout *buttons = buildButtons();

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(ipGroup);
    layout->addWidget(idGroup);
    layout->addWidget(siteGroup);
    layout->addWidget(infoGroup);
    layout->addWidget(readState_);
    layout->addLayout(buttons);

    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(FillDelayMs);
    timer1_->setTimerType(Qt::PreciseTimer);

    trackEdits();

    connect(timer1_, &QTimer::timeout, this, &IpSettingsDialog::onFillTimeout);
    connect(&ipLink_, &IpSettingsLink::readBackDecoded, this, &IpSettingsDialog::onReadBackDecoded);
    connect(&ipLink_, &IpSettingsLink::readFailed, this, [this](quint64 generation, const RequestFailure &) {
        if (sent_ && generation == ticket_)
            onReadBackTimeout();
    });

    // Opening asks for the block on the next tick; the status poll goes on after it.
    // The MAC address is shown, but cannot be selected for a write.
    cbMAC_->setEnabled(false);
    requestRead();

    adjustSize();
    centreOnScreen(this);
}

// "IP 설정": the addresses, the hardware version, the serial number and the description.
QGroupBox *IpSettingsDialog::buildIpGroup()
{
    const QString octet = QStringLiteral("0000");
    const QString hexPair = QStringLiteral("WWW");

    QGroupBox *ipGroup = makeGroup(this, "GroupBox1", QStringLiteral("IP 설정"));
    auto *ipGrid = new QGridLayout(ipGroup);
    ipGrid->setHorizontalSpacing(10);
    ipGrid->setVerticalSpacing(6);
    cbIP_ = makeCheck(ipGroup, "cbIP_SET_EN", QStringLiteral("정류기 IP 주소"));
    cbGW_ = makeCheck(ipGroup, "cbGW_SET_EN", QStringLiteral("GATEWAY"));
    cbSM_ = makeCheck(ipGroup, "cbSM_SET_EN", QStringLiteral("SUBNET MASK"));
    cbMAC_ = makeCheck(ipGroup, "cbMAC_SET_EN", QStringLiteral("Mac 주소"));
    cbHW_ = makeCheck(ipGroup, "cbHW_SET_EN", QStringLiteral("HW 버전"));
    cbSN_ = makeCheck(ipGroup, "cbSN_SET_EN", QStringLiteral("Serial 번호"));
    cbHWDes_ = makeCheck(ipGroup, "cbHWDes_SET_EN", QStringLiteral("HW 설명"));
    ipGrid->addWidget(cbIP_, 0, 0);
    ipGrid->addLayout(partRow(ipGroup, edtIP_, "edtIP", 3, octet, QLatin1Char('.')), 0, 1);
    ipGrid->addWidget(cbGW_, 1, 0);
    ipGrid->addLayout(partRow(ipGroup, edtGW_, "edtGW", 3, octet, QLatin1Char('.')), 1, 1);
    ipGrid->addWidget(cbSM_, 2, 0);
    ipGrid->addLayout(partRow(ipGroup, edtSM_, "edtSM", 3, octet, QLatin1Char('.')), 2, 1);
    ipGrid->addWidget(cbMAC_, 3, 0);
    ipGrid->addLayout(partRow(ipGroup, edtMAC_, "edtMAC", 2, hexPair, QLatin1Char('.')), 3, 1);
    ipGrid->addWidget(cbHW_, 4, 0);
    ipGrid->addLayout(partRow(ipGroup, edtHW_, "edtHW", 3, octet, QLatin1Char('.')), 4, 1);
    ipGrid->addWidget(cbSN_, 5, 0);
    auto *snRow = new QHBoxLayout;
    edtSN_ = makeEdit(ipGroup, "edtSN", 11, QStringLiteral("22000000001;W"));
    auto *snLabel = new QLabel(QStringLiteral("S/N : 10자리 + ; "), ipGroup);
    snLabel->setObjectName(QStringLiteral("Label_SN"));
    snRow->addWidget(edtSN_);
    snRow->addWidget(snLabel);
    snRow->addStretch(1);
    ipGrid->addLayout(snRow, 5, 1);
    ipGrid->addWidget(cbHWDes_, 6, 0, Qt::AlignTop);
    mmHWDes_ = makeMemo(ipGroup, "mmHWDes", 3);
    ipGrid->addWidget(mmHWDes_, 6, 1);
    ipGrid->setColumnStretch(1, 1);
    return ipGroup;
}

// "자동IP 설정": the rectifier ID and the three values the controller gives a meaning.
QGroupBox *IpSettingsDialog::buildIdGroup()
{
    QGroupBox *idGroup = makeGroup(this, "GroupBox2", QStringLiteral("자동IP 설정"));
    auto *idRow = new QHBoxLayout(idGroup);
    cbRectID_ = makeCheck(idGroup, "cbRectID_SET_EN", QStringLiteral("정류기 ID"));
    edtRectID_ = makeEdit(idGroup, "edtRectID", 8, QStringLiteral("WWWWWWWW"));
    auto *btnDU = new QPushButton(QStringLiteral("DU연동"), idGroup);
    btnDU->setObjectName(QStringLiteral("btnDU"));
    auto *btnManuIP = new QPushButton(QStringLiteral("수동IP"), idGroup);
    btnManuIP->setObjectName(QStringLiteral("btnManuIP"));
    auto *btnID = new QPushButton(QStringLiteral("고정 ID"), idGroup);
    btnID->setObjectName(QStringLiteral("btnID"));
    idRow->addWidget(cbRectID_);
    idRow->addWidget(edtRectID_);
    idRow->addStretch(1);
    idRow->addWidget(btnDU);
    idRow->addWidget(btnManuIP);
    idRow->addWidget(btnID);
    connect(btnDU, &QPushButton::clicked, this, [this] { edtRectID_->setText(QStringLiteral("FFFFFFFE")); });
    connect(btnManuIP, &QPushButton::clicked, this, [this] { edtRectID_->setText(QStringLiteral("0")); });
    connect(btnID, &QPushButton::clicked, this, [this] { edtRectID_->setText(QStringLiteral("1")); });
    return idGroup;
}

// "Site 정보 (이름을 변경할수 있음)"
QGroupBox *IpSettingsDialog::buildSiteGroup()
{
    QGroupBox *siteGroup = makeGroup(this, "GroupBox3", QStringLiteral("Site 정보 (이름을 변경할수 있음)"));
    auto *siteRow = new QHBoxLayout(siteGroup);
    cbSite_ = makeCheck(siteGroup, "cbSite_SET_EN", QStringLiteral("설정"));
    mmSiteInfo_ = makeMemo(siteGroup, "mmSiteInfo", 3);
    siteRow->addWidget(cbSite_, 0, Qt::AlignTop);
    siteRow->addWidget(mmSiteInfo_, 1);
    return siteGroup;
}

// "네트워크 정보": what the controller reports about itself; shown only.
QGroupBox *IpSettingsDialog::buildInfoGroup()
{
    QGroupBox *infoGroup = makeGroup(this, "GroupBox4", QStringLiteral("네트워크 정보"));
    auto *infoGrid = new QGridLayout(infoGroup);
    infoGrid->setHorizontalSpacing(10);
    infoGrid->setVerticalSpacing(6);
    const QString wide = QStringLiteral("WW.WW.WW.WW.WW.WW");
    const struct {
        const char *name;
        const char *caption;
        QLineEdit **edit;
    } infos[] = {
        {"edtSavedIP", "저장된 IP 주소", &edtSavedIP_},
        {"edtSavedMAC", "저장된 MAC 주소", &edtSavedMAC_},
        {"edtSavedIPMAC", "저장된 IP MAC 주소", &edtSavedIPMAC_},
        {"edtSavedRectID", "저장된 정류기 ID", &edtSavedRectID_},
        {"FlatEdit3", "IP 리셋타임", &flatEdit3_},
        {"edtFW", "FW 버전", &edtFW_},
    };
    int at = 0;
    for (const auto &info : infos) {
        auto *label = new QLabel(QString::fromUtf8(info.caption), infoGroup);
        QLineEdit *edit = makeEdit(infoGroup, info.name, 0, wide);
        edit->setReadOnly(true);
        label->setBuddy(edit);
        *info.edit = edit;
        infoGrid->addWidget(label, at / 2, (at % 2) * 2);
        infoGrid->addWidget(edit, at / 2, (at % 2) * 2 + 1);
        ++at;
    }
    infoGrid->setColumnStretch(1, 1);
    infoGrid->setColumnStretch(3, 1);
    return infoGroup;
}

// The buttons below the groups, left to right as the layout shows them.
QHBoxLayout *IpSettingsDialog::buildButtons()
{
    auto *btnAllRelease = new QPushButton(QStringLiteral("전체해제"), this);
    btnAllRelease->setObjectName(QStringLiteral("btnAllRelease"));
    auto *btnRead = new QPushButton(QStringLiteral("조회"), this);
    btnRead->setObjectName(QStringLiteral("btnRead"));
    auto *bbtnOK = new QPushButton(QStringLiteral("설정"), this);
    bbtnOK->setObjectName(QStringLiteral("bbtnOK"));
    auto *btnAllCheck = new QPushButton(QStringLiteral("전체선택"), this);
    btnAllCheck->setObjectName(QStringLiteral("btnAllCheck"));
    auto *btnDefault = new QPushButton(QStringLiteral("기본값"), this);
    btnDefault->setObjectName(QStringLiteral("btnDefault"));
    auto *bitBtn2 = new QPushButton(QStringLiteral("닫기"), this);
    bitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    // Enter in an edit box must not write the block by itself.
    for (QPushButton *b : findChildren<QPushButton *>())
        b->setAutoDefault(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnAllCheck);
    buttons->addWidget(btnAllRelease);
    buttons->addWidget(btnDefault);
    buttons->addStretch(1);
    buttons->addWidget(btnRead);
    buttons->addWidget(bbtnOK);
    buttons->addWidget(bitBtn2);

    connect(btnRead, &QPushButton::clicked, this, &IpSettingsDialog::onReadClicked);
    connect(bbtnOK, &QPushButton::clicked, this, &IpSettingsDialog::onOkClicked);
    connect(btnDefault, &QPushButton::clicked, this, &IpSettingsDialog::onDefaultClicked);
    connect(btnAllCheck, &QPushButton::clicked, this, &IpSettingsDialog::onAllCheckClicked);
    connect(btnAllRelease, &QPushButton::clicked, this, &IpSettingsDialog::onAllReleaseClicked);
    connect(bitBtn2, &QPushButton::clicked, this, &IpSettingsDialog::onCloseClicked);
    return buttons;
}

// What the operator types into a box is not overwritten by an answer that comes late.
void IpSettingsDialog::trackEdits()
{
    const std::pair<QLineEdit *const *, IpItem> partBoxes[] = {
        {edtIP_, IpItem::Ip}, {edtGW_, IpItem::Gateway}, {edtSM_, IpItem::Mask}, {edtHW_, IpItem::HwVersion}};
    for (const auto &[boxes, item] : partBoxes) {
        for (int i = 0; i < 4; ++i)
            track(boxes[i], item);
    }
    for (QLineEdit *box : edtMAC_)
        track(box, IpItem::Mac);
    track(edtSN_, IpItem::SerialNumber);
    track(mmHWDes_, IpItem::HwDescription);
    track(edtRectID_, IpItem::RectifierId);
    track(mmSiteInfo_, IpItem::Site);
}

void IpSettingsDialog::track(QWidget *box, IpItem item)
{
    const auto edited = [this, item] {
        if (!filling_)
            edited_ |= 1u << unsigned(item);
    };
    if (auto *edit = qobject_cast<QLineEdit *>(box))
        connect(edit, &QLineEdit::textChanged, this, edited);
    else if (auto *memo = qobject_cast<QPlainTextEdit *>(box))
        connect(memo, &QPlainTextEdit::textChanged, this, edited);
}

IpSettingsDialog::~IpSettingsDialog()
{
    // Destroyed without being closed (its parent went first): polling must not stay held.
    engine_.releaseIpWriteHold();
}

void IpSettingsDialog::requestRead()
{
    // Until the answer to this request has filled the boxes, "설정" writes nothing: what the
    // boxes hold now may be an earlier answer.
    ticket_ = ipLink_.requestRead();
    ownRead_.reset();
    filled_ = false;
    edited_ = 0;
    showReadState(QStringLiteral("Reading the controller's IP settings ..."), false);
    timer1_->start();
}

void IpSettingsDialog::onReadBackDecoded(const IpSettingsReadBack &readBack, quint64 generation)
{
    // The answer to a read asked for before ours answers someone else.
    if (generation < ticket_)
        return;
    if (sent_) {
        checkWrite(readBack);
        return;
    }
    ownRead_ = readBack;
    // The boxes are filled at the fill timer's tick; an answer later than that fills them now, but
    // not over what the operator has typed since.
    if (!timer1_->isActive())
        fill(true);
}

void IpSettingsDialog::onFillTimeout()
{
    timer1_->stop();
    if (ownRead_) {
        fill();
        return;
    }
    showReadState(QStringLiteral("No answer from the controller yet: its settings are shown as soon "
                                 "as they arrive. \"설정\" is not possible until then."),
                  true);
}

void IpSettingsDialog::fill(bool keepEdits, const QList<IpItem> &keep)
{
    const IpSettingsReadBack &r = *ownRead_;
    const auto shows = [&](IpItem item) {
        return !keep.contains(item) && !(keepEdits && (edited_ & (1u << unsigned(item))));
    };
    filling_ = true;
    // Every box shows this answer; a field it did not reach is emptied, not left as before.
    if (shows(IpItem::Ip))
        showParts(edtIP_, r.ipText);
    if (shows(IpItem::Gateway))
        showParts(edtGW_, r.gatewayText);
    if (shows(IpItem::Mask))
        showParts(edtSM_, r.maskText);
    if (shows(IpItem::Mac))
        showParts(edtMAC_, r.macText);
    edtSavedIP_->setText(r.savedIpText);
    if (shows(IpItem::HwDescription))
        mmHWDes_->setPlainText(r.hwDescriptionText);
    if (shows(IpItem::SerialNumber))
        edtSN_->setText(r.serialNumberText);
    if (shows(IpItem::HwVersion))
        showParts(edtHW_, r.hwVersionText);
    edtSavedMAC_->setText(r.savedMacText);
    edtSavedIPMAC_->setText(r.savedIpMacText);
    if (shows(IpItem::RectifierId))
        edtRectID_->setText(r.rectifierIdText);
    edtSavedRectID_->setText(r.savedRectifierIdText);
    edtFW_->setText(r.firmwareText);
    if (shows(IpItem::Site))
        mmSiteInfo_->setPlainText(r.siteText);
    filling_ = false;
    if (!keepEdits)
        edited_ = 0;
    filled_ = true;
    if (r.complete())
        showReadState(QString(), false);
    else
        showReadState(r.cutShortMessage() + QStringLiteral(". The boxes of those fields are empty."), true);
}

void IpSettingsDialog::showReadState(const QString &text, bool problem)
{
    readState_->setText(text);
    QPalette p = readState_->palette();
    p.setColor(QPalette::WindowText, problem ? QColor(Qt::darkRed) : palette().color(QPalette::WindowText));
    readState_->setPalette(p);
    readState_->setVisible(!text.isEmpty());
}

void IpSettingsDialog::onReadClicked()
{
    requestRead();
}

IpSettingsForm IpSettingsDialog::form() const
{
    IpSettingsForm f;
    f.mac = partTexts(edtMAC_);
    f.ip = partTexts(edtIP_);
    f.mask = partTexts(edtSM_);
    f.gateway = partTexts(edtGW_);
    f.hwVersion = partTexts(edtHW_);
    f.hwDescription = mmHWDes_->toPlainText();
    f.serialNumber = edtSN_->text();
    f.rectifierId = edtRectID_->text();
    f.site = mmSiteInfo_->toPlainText();
    f.macSelected = cbMAC_->isChecked();
    f.ipSelected = cbIP_->isChecked();
    f.maskSelected = cbSM_->isChecked();
    f.gatewaySelected = cbGW_->isChecked();
    f.hwVersionSelected = cbHW_->isChecked();
    f.serialNumberSelected = cbSN_->isChecked();
    f.hwDescriptionSelected = cbHWDes_->isChecked();
    f.rectifierIdSelected = cbRectID_->isChecked();
    f.siteSelected = cbSite_->isChecked();
    return f;
}

void IpSettingsDialog::onDefaultClicked()
{
    const auto put = [](QLineEdit *const *edits, std::initializer_list<const char *> texts) {
        for (const char *t : texts)
            (*edits++)->setText(QLatin1String(t));
    };
    put(edtIP_, {"192", "168", "50", "92"});
    put(edtGW_, {"192", "168", "50", "1"});
    put(edtSM_, {"255", "255", "255", "0"});
    put(edtMAC_, {"00", "1A", "3A", "E0", "00", "00"});
    put(edtHW_, {"0", "0", "0", "1"});
    edtSN_->setText(QStringLiteral("2200000001;"));
    mmSiteInfo_->clear();
    switch (engine_.statusBlock().ModelCode()) {
    case 2:
        mmHWDes_->setPlainText(
            QStringLiteral("Marvek Pelvart;MARVEK;MARVEK 5G RectifierSystem 54V/37A/2000AH;PSU_6S_2000AH;"));
        break;
    case 3:
    case 4:
        mmHWDes_->setPlainText(
            QStringLiteral("Marvek Pelvart;MARVEK;MARVEK 5G RectifierSystem 54V/37A/2000W;PSU_6S_2000W;"));
        put(edtHW_, {"0", "0", "0", "0"});
        break;
    default:
        break;
    }
}

void IpSettingsDialog::setChecks(bool on, bool withMac)
{
    for (QCheckBox *box : {cbIP_, cbGW_, cbSM_, cbHW_, cbSN_, cbHWDes_, cbRectID_, cbSite_})
        box->setChecked(on);
    if (withMac)
        cbMAC_->setChecked(on);
}

void IpSettingsDialog::onAllCheckClicked()
{
    setChecks(true, false);
}

void IpSettingsDialog::onAllReleaseClicked()
{
    setChecks(false, true);
}

void IpSettingsDialog::onCloseClicked()
{
    reject();
}

void IpSettingsDialog::done(int result)
{
    timer1_->stop();
    sent_.reset();
    engine_.releaseIpWriteHold();
    // A fresh connection, so the controller's new network settings take effect.
    engine_.relink();
    QDialog::done(result);
}

} // namespace qeln

#include "comportdialog.h"

#include "common/messagebox.h"
#include "app/consolesession.h"
#include "doctor/serialdoctor.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace qeln {

namespace {
const QString DefaultHost = QStringLiteral("192.168.50.92");
const QString NoSerialPort = QStringLiteral("Can not find the serial port");
} // namespace

ComPortDialog::ComPortDialog(ConsoleSession &session, QWidget *parent)
    : QDialog(parent)
    , session_(session)
    , serial_(new QRadioButton(QStringLiteral("Serial Port"), this))
    , tcp_(new QRadioButton(QStringLiteral("TCP/IP (HOST)"), this))
    , portSelect_(new QComboBox(this))
    , hostIp_(new QLineEdit(DefaultHost, this))
    , connectButton_(new QPushButton(QStringLiteral("Connect"), this))
    , closeButton_(new QPushButton(QStringLiteral("Close"), this))
    , refindButton_(new QPushButton(QStringLiteral("Port Refind"), this))
    , doctorButton_(new QPushButton(QStringLiteral("진단"), this))
{
    setObjectName(QStringLiteral("frmComPort"));
    setWindowTitle(QStringLiteral("Connect"));

    serial_->setObjectName(QStringLiteral("Serial"));
    tcp_->setObjectName(QStringLiteral("TCP"));
    portSelect_->setObjectName(QStringLiteral("PortSelect"));
    hostIp_->setObjectName(QStringLiteral("edtHostIP"));
    connectButton_->setObjectName(QStringLiteral("BitBtn1"));
    closeButton_->setObjectName(QStringLiteral("BitBtn2"));
    refindButton_->setObjectName(QStringLiteral("Port"));
    doctorButton_->setObjectName(QStringLiteral("btnDoctor"));
    doctorButton_->setToolTip(QStringLiteral("Why the port does not open, and how to mend it"));
    // Offered once a port has failed to open.
    doctorButton_->hide();

    // Besides the listed ports the operator may type any device path (a pseudo-terminal
    // or an adapter the listing does not show); typing does not add list entries.
    portSelect_->setEditable(true);
    portSelect_->setInsertPolicy(QComboBox::NoInsert);
    portSelect_->setMinimumContentsLength(16);
    hostIp_->setEnabled(false);
    connectButton_->setEnabled(false);
    connectButton_->setDefault(true);

    auto *grid = new QGridLayout;
    grid->addWidget(serial_, 0, 0);
    grid->addWidget(portSelect_, 0, 1);
    grid->addWidget(refindButton_, 0, 2);
    grid->addWidget(tcp_, 1, 0);
    grid->addWidget(hostIp_, 1, 1, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(doctorButton_);
    buttons->addStretch();
    buttons->addWidget(connectButton_);
    buttons->addWidget(closeButton_);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    connect(serial_, &QRadioButton::clicked, this, &ComPortDialog::onSerialClicked);
    connect(tcp_, &QRadioButton::clicked, this, &ComPortDialog::onTcpClicked);
    connect(portSelect_, &QComboBox::activated, this, &ComPortDialog::onPortActivated);
    connect(connectButton_, &QPushButton::clicked, this, &ComPortDialog::onConnectClicked);
    connect(closeButton_, &QPushButton::clicked, this, &QDialog::reject);
    connect(doctorButton_, &QPushButton::clicked, this, &ComPortDialog::onDoctorClicked);

    session_.dialogCreated();
}

void ComPortDialog::preset(const QString &serialDevice, const QString &hostText)
{
    presetDevice_ = serialDevice;
    portSelect_->setEditText(serialDevice);
    hostIp_->setText(hostText);
}

void ComPortDialog::showMessage(const QString &text)
{
    // Shown without waiting, so that the dialog's own handler ends first.
    openMessageBox(this, QMessageBox::NoIcon, QString(), text);
}

void ComPortDialog::onSerialClicked()
{
    serial_->setChecked(true);
    tcp_->setChecked(false);
    portSelect_->setEnabled(true);
    connectButton_->setEnabled(true);
    hostIp_->setEnabled(false);
    refreshPorts();
}

void ComPortDialog::refreshPorts()
{
    // Only a list: no port opens before the operator connects to it.
    QStringList ports = session_.chooseSerial();
    if (!presetDevice_.isEmpty()) {
        // The preset device (the demo's simulator) heads the list and is the one selected:
        // the machine's own ports are rarely what the operator means then, and a
        // pseudo-terminal is never among the listed ports.
        ports.removeAll(presetDevice_);
        ports.prepend(presetDevice_);
    }
    if (ports.isEmpty()) {
        // A path the operator typed stays, so it can still be connected.
        const QString typed = portSelect_->currentText();
        const QSignalBlocker blocker(portSelect_);
        portSelect_->clear();
        portSelect_->setEditText(typed);
        session_.selectPort(typed);
        showMessage(NoSerialPort);
        return;
    }
    {
        const QSignalBlocker blocker(portSelect_);
        portSelect_->clear();
        portSelect_->addItems(ports);
        portSelect_->setCurrentIndex(0);
    }
    session_.selectPort(ports.first());
}

void ComPortDialog::onTcpClicked()
{
    session_.chooseTcp();
    doctorButton_->hide(); // it examines serial ports
    serial_->setChecked(false);
    tcp_->setChecked(true);
    portSelect_->setEnabled(false);
    hostIp_->setEnabled(true);
    connectButton_->setEnabled(true);
}

void ComPortDialog::onPortActivated(int index)
{
    session_.selectPort(portSelect_->itemText(index));
}

void ComPortDialog::onConnectClicked()
{
    // What can be found wrong before connecting (a device that does not open, a host text
    // that names no host) is reported once, here, and the dialog stays with the text as
    // typed; leaving a field reports nothing, so this click is never taken by a message box.
    QString problem;
    if (!session_.prepareConnect(portSelect_->currentText(), hostIp_->text(), &problem)) {
        if (serial_->isChecked())
            doctorButton_->show();
        showMessage(problem);
        return;
    }
    session_.confirmConnect(hostIp_->text());
    accept();
}

void ComPortDialog::onDoctorClicked()
{
    // The same report as `qeln-cli doctor DEVICE`, in a window of its own that stays open
    // beside the dialog while the operator types the commands it names.
    const doctor::Report report = doctor::SerialDoctor().examineDevice(portSelect_->currentText());
    auto *window = new QDialog(this);
    window->setObjectName(QStringLiteral("DoctorReport"));
    window->setWindowTitle(QStringLiteral("진단: %1").arg(report.target));
    window->setAttribute(Qt::WA_DeleteOnClose);
    auto *text = new QPlainTextEdit(report.text(), window);
    text->setObjectName(QStringLiteral("DoctorText"));
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text->setMinimumSize(640, 320);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
    connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::close);
    auto *layout = new QVBoxLayout(window);
    layout->addWidget(text);
    layout->addWidget(buttons);
    window->setModal(false);
    window->show();
}

} // namespace qeln

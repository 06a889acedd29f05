#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace qeln {

class ConsoleSession;

// frmComPort: the operator picks the serial port or the controller's TCP address and
// connects. A port opens only on Connect. A device that does not open or a host text that
// names no host is reported on Connect and the dialog stays for the operator to mend it;
// otherwise the dialog closes, and a TCP connect reports its outcome later through the
// session. When a port does not open, a "진단" button appears that explains why in a
// separate window and names the commands that mend it.
class ComPortDialog : public QDialog {
    Q_OBJECT
public:
    explicit ComPortDialog(ConsoleSession &session, QWidget *parent = nullptr);

    // Fills in the device path and the host text (demo mode); chooses no link.
    void preset(const QString &serialDevice, const QString &hostText);

private:
    void onSerialClicked();
    void onTcpClicked();
    void onPortActivated(int index);
    void onConnectClicked();
    void onDoctorClicked();
    void refreshPorts();
    void showMessage(const QString &text);

    ConsoleSession &session_;
    QRadioButton *serial_;
    QRadioButton *tcp_;
    QComboBox *portSelect_;
    QLineEdit *hostIp_;
    QPushButton *connectButton_;
    QPushButton *closeButton_;
    QPushButton *refindButton_;
    QPushButton *doctorButton_;
    QString presetDevice_; // demo mode: the simulator's pseudo-terminal
};

} // namespace qeln

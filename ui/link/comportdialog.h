#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace qeln {

class ConsoleSession;

// frmComPort: the operator picks the serial port or the controller's TCP address and
// connects. The dialog closes after Connect whatever the outcome; a TCP connect reports its
// failure later through the session.
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
    void onPortEdited();
    void onConnectClicked();
    void refreshPorts();
    void openPort(const QString &device, bool reportFailure);
    void showMessage(const QString &text);

    ConsoleSession &session_;
    QRadioButton *serial_;
    QRadioButton *tcp_;
    QComboBox *portSelect_;
    QLineEdit *hostIp_;
    QPushButton *connectButton_;
    QPushButton *closeButton_;
    QPushButton *refindButton_;
    QString presetDevice_; // demo mode: the simulator's pseudo-terminal
};

} // namespace qeln

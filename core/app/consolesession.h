#pragma once

#include "app/consolelines.h"
#include "app/consolestate.h"
#include "app/menustate.h"
#include "link/linkengine.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace qeln {

class SerialTransport;
class TcpTransport;

// The console as the main window drives it: the console state, the link engine, the two
// transports, and the commands of the main menu, the connection dialog, the login and the
// logout, with what each does to the menus and indicators. No widget in here: the windows
// call these operations and show what the signals report.
class ConsoleSession : public QObject {
    Q_OBJECT
public:
    explicit ConsoleSession(QObject *parent = nullptr);
    ~ConsoleSession() override;

    ConsoleState &state() { return state_; }
    LinkEngine &engine() { return engine_; }
    SerialTransport &serialPort();
    TcpTransport &tcpClient();
    const MenuState &menus() const { return menus_; }

    // Writes the console lines to this stream (stdout by default; nullptr silences them).
    void setConsoleStream(std::FILE *stream);

    // ---- Login and logout ----
    static QString password();                    // "guard7351"
    bool passwordMatches(const QString &text) const; // exact comparison
    void login();                                 // after a matching password
    void logout();                                // the logout dialog's OK

    // ---- Main menu commands ----
    void connectCommand();    // the menu's "connect", before the dialog opens
    void disconnectCommand(); // the menu's "disconnect"
    // The menu's "monitor": the monitoring area and the lamps are shown without a link.
    void monitorPreview();
    // The menu's "exit": stops polling and the data log; true when a TCP link was up and has been
    // dropped, so the closing window is to be shown.
    bool exitCommand();
    // The main window closes: releases the serial port.
    void closing();

    // ---- Connection dialog ----
    // Where the serial ports are listed from: the system's list unless set.
    void setPortLister(std::function<QStringList()> lister);
    void dialogCreated();                     // no link chosen yet (the engine behaves as on TCP)
    // The serial link chosen; returns the ports the system lists. Nothing is opened
    // here: a port opens only once the operator connects to it. An empty list means "Can
    // not find the serial port".
    QStringList chooseSerial();
    void chooseTcp();                         // the TCP link chosen
    // A port picked from the list, or a typed device path: the device to connect to. A port open on
    // another device is closed; the new one is not opened yet.
    void selectPort(const QString &device);
    // Connect pressed, before the dialog closes: what can be found wrong now is reported
    // here, so the operator can mend it in the dialog. On serial the device is selected and
    // opened ("Cannot open DEVICE: reason" when it does not); on TCP the host text is checked
    // (parseHost). False with the message for the operator in *problem.
    bool prepareConnect(const QString &device, const QString &hostText, QString *problem);
    // The dialog's OK. On TCP the connect is asynchronous: connectingTo() reports it under way and
    // connectFailed() a failure. hostText is "HOST" (port 502) or "HOST:PORT"; a text that is
    // neither is reported as such and nothing starts. On serial, a port that cannot be opened
    // reports connectFailed() and its reason as a message, and polling does not start.
    void confirmConnect(const QString &hostText);
    // The link as the third status-bar panel shows it: the port, or the host address.
    QString linkText() const { return linkText_; }
    // The connection dialog's link was chosen (until then the engine behaves as on TCP).
    bool linkChosen() const { return linkChosen_; }
    // The link in use as a short identity: "tcp:HOST:PORT" or "serial:DEVICE".
    QString linkId() const;
    // "Connecting to HOST:PORT ..." while the operator's TCP connect is under way, else empty.
    QString connectingText() const { return connectingText_; }

    // Parses "HOST" or "HOST:PORT" ("[v6]:PORT"); false for anything else, with the
    // operator's message in *problem ("'abc:99999' is not a host or host:port: the port
    // must be 1..65535").
    static bool parseHost(const QString &text, QString *host, quint16 *port,
                          QString *problem = nullptr);

Q_SIGNALS:
    void menusChanged(const qeln::MenuState &menus);
    void linkTextChanged(const QString &text);
    // The operator's TCP connect started ("Connecting to 192.168.50.92:502 ...") or was
    // decided (empty text): the status bar shows it meanwhile.
    void connectingTo(const QString &text);
    // pnlConnect: lime (true) or grey (false).
    void tcpLampChanged(bool up);
    // The serial lamps: txActivity when a write starts and again when it has been handed
    // over (the window keeps TX lit until 100 ms after the last one), rxActivity on each
    // arrival.
    void txActivity();
    void rxActivity();
    // "Please, Check PC Lan Port Connection!" and the like: a message box for the operator.
    void messageRequested(qeln::MessageKind kind, const QString &text);
    void connectFailed(const QString &reason);
    // The first good status response after connecting arrived (the configuration menus
    // are enabled).
    void statusArrived();
    // A connect was confirmed: what was shown of the last controller no longer holds.
    void connectionStarted();
    // The data log (it lives with the main window) is to stop: on disconnect exactly as its
    // stop button does; on exit at least its timer (Timer2), as the window closes next.
    void dataLogStopRequested();

private:
    void setMenus(const MenuState &menus);
    void setLinkText(const QString &text);
    void setConnectingText(const QString &text);
    void dropTcpLink();
    void failTcpConnect(const QString &reason);
    bool openSerial(QString *error);
    void onStatusReceived();
    void onTcpOpened();
    void onTcpOpenFailed(const QString &reason);
    void onTcpDisconnected();
    void onSerialOpenFailed(const QString &reason);

    ConsoleState state_;
    LinkEngine engine_;
    std::unique_ptr<SerialTransport> serial_;
    std::unique_ptr<TcpTransport> tcp_;
    ConsoleLineWriter lines_;
    MenuState menus_;
    QString linkText_;
    QString connectingText_;
    std::function<QStringList()> portLister_;
    QString serialError_;            // the reason of the last failed serial open
    bool tcpConnectPending_ = false; // confirmConnect() waits for the TCP outcome
    bool statusSeen_ = false;        // a status response arrived on the current link
    bool linkChosen_ = false;        // the connection dialog's link was chosen
    bool serialChosen_ = false;      // the serial link was chosen since the dialog opened
};

} // namespace qeln

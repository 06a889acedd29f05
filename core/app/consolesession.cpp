#include "consolesession.h"

#include "link/serialtransport.h"
#include "link/tcptransport.h"

#include <QHostAddress>

#include <utility>

namespace qeln {

namespace {

const QString Password = QStringLiteral("guard7351");
const QString LanCheckMessage = QStringLiteral("Please, Check PC Lan Port Connection!");
const QString NoSerialPort = QStringLiteral("Can not find the serial port");
// Timer1 runs at this interval whichever link is chosen; the scheduler adjusts it later.
constexpr int PollInterval = 300;

bool isHostChar(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')
        || c == u'.' || c == u'-' || c == u'_';
}

bool parsePort(QStringView text, quint16 *port)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    const int value = text.toInt();
    if (value < 1 || value > 65535)
        return false;
    *port = quint16(value);
    return true;
}

// "host:port", with an IPv6 address in brackets so that its port stands apart.
QString hostAndPort(const QString &host, quint16 port)
{
    if (host.contains(u':'))
        return QStringLiteral("[%1]:%2").arg(host).arg(port);
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

} // namespace

ConsoleSession::ConsoleSession(QObject *parent)
    : QObject(parent)
    , engine_(state_)
    , serial_(std::make_unique<SerialTransport>())
    , tcp_(std::make_unique<TcpTransport>())
{
    tcp_->setPort(TcpTransport::DefaultPort);
    engine_.setSerialTransport(serial_.get());
    engine_.setTcpTransport(tcp_.get());

    connect(&engine_, &LinkEngine::consoleLine, &lines_, &ConsoleLineWriter::onLine);
    connect(&engine_, &LinkEngine::messageRequested, this, &ConsoleSession::messageRequested);
    connect(&engine_, &LinkEngine::statusReceived, this, &ConsoleSession::onStatusReceived);
    connect(&engine_, &LinkEngine::tcpLinkUp, this, [this] { Q_EMIT tcpLampChanged(true); });
    connect(&engine_, &LinkEngine::tcpLinkDown, this, [this] { Q_EMIT tcpLampChanged(false); });

    // Connected after the engine's exchange, which re-opens the link for its requests too:
    // only the outcome of the operator's own connect is reported as a connect failure.
    connect(tcp_.get(), &Transport::opened, this, &ConsoleSession::onTcpOpened);
    connect(tcp_.get(), &Transport::openFailed, this, &ConsoleSession::onTcpOpenFailed);
    connect(tcp_.get(), &Transport::disconnected, this, &ConsoleSession::onTcpDisconnected);

    connect(serial_.get(), &Transport::openFailed, this, &ConsoleSession::onSerialOpenFailed);
    connect(serial_.get(), &Transport::writeStarted, this, &ConsoleSession::txActivity);
    connect(serial_.get(), &Transport::writeFinished, this, &ConsoleSession::txActivity);
    connect(serial_.get(), &Transport::bytesReceived, this, [this] { Q_EMIT rxActivity(); });
}

ConsoleSession::~ConsoleSession()
{
    engine_.stopPolling();
    engine_.abandonTcpRequests();
    // The transports go before the engine; detach them so nothing reaches it on the way.
    engine_.setSerialTransport(nullptr);
    engine_.setTcpTransport(nullptr);
    disconnect(tcp_.get(), nullptr, this, nullptr);
    disconnect(serial_.get(), nullptr, this, nullptr);
    tcp_->close();
    serial_->close();
}

SerialTransport &ConsoleSession::serialPort()
{
    return *serial_;
}

TcpTransport &ConsoleSession::tcpClient()
{
    return *tcp_;
}

void ConsoleSession::setConsoleStream(std::FILE *stream)
{
    lines_.setStream(stream);
}

void ConsoleSession::setMenus(const MenuState &menus)
{
    if (menus == menus_)
        return;
    menus_ = menus;
    Q_EMIT menusChanged(menus_);
}

void ConsoleSession::setLinkText(const QString &text)
{
    if (text == linkText_)
        return;
    linkText_ = text;
    Q_EMIT linkTextChanged(linkText_);
}

void ConsoleSession::setConnectingText(const QString &text)
{
    if (text == connectingText_)
        return;
    connectingText_ = text;
    Q_EMIT connectingTo(connectingText_);
}

// ---- Login and logout ------------------------------------------------------------------

QString ConsoleSession::password()
{
    return Password;
}

bool ConsoleSession::passwordMatches(const QString &text) const
{
    // The whole field, case and blanks included.
    return text == Password;
}

void ConsoleSession::login()
{
    MenuState m = menus_;
    m.FlatPanel3 = true;
    m.ComSetting = true;
    m.pnlConnect = true;
    m.mConnect = true;
    m.mDisconnect = false;
    m.mLogin = false;
    m.mLogout = true;
    setMenus(m);
}

void ConsoleSession::logout()
{
    MenuState m = menus_;
    m.mConnect = false;
    m.mDisconnect = false;
    m.mLogin = true;
    m.mLogout = false;
    // The event log and the alarm test keep their state.
    m.setConfigurationCommands(false, MenuState::ExceptEventLogAndAlarmTest);
    m.GroupBox1 = false;
    setMenus(m);

    engine_.stopPolling();
    serial_->close();
    dropTcpLink();
    Q_EMIT tcpLampChanged(false);
}

// ---- Main menu commands ----------------------------------------------------------------

void ConsoleSession::connectCommand()
{
    MenuState m = menus_;
    m.mConnect = false;
    m.mDisconnect = true;
    m.mMonitor = false;
    setMenus(m);
}

void ConsoleSession::disconnectCommand()
{
    MenuState m = menus_;
    m.mConnect = true;
    m.mDisconnect = false;
    m.mMonitor = true;
    m.setConfigurationCommands(false);
    m.ComSetting = false;
    m.GroupBox1 = false;

    engine_.stopPolling();
    Q_EMIT dataLogStopRequested();
    // The port itself stays open: the next character it receives closes it.
    engine_.releaseSerial();
    dropTcpLink();
    Q_EMIT tcpLampChanged(false);
    setMenus(m);
}

void ConsoleSession::monitorPreview()
{
    MenuState m = menus_;
    m.GroupBox1 = true;
    m.FlatPanel3 = true;
    setMenus(m);
}

bool ConsoleSession::exitCommand()
{
    engine_.stopPolling();
    Q_EMIT dataLogStopRequested();
    const bool wasUp = tcp_->isOpen();
    // A connect still under way is dropped as well, so that its outcome cannot report into
    // a closing window; only a link that was up asks for the closing window.
    dropTcpLink();
    return wasUp;
}

void ConsoleSession::closing()
{
    engine_.stopPolling();
    engine_.abandonTcpRequests();
    tcpConnectPending_ = false;
    setConnectingText(QString());
    serial_->close();
}

void ConsoleSession::dropTcpLink()
{
    tcpConnectPending_ = false;
    setConnectingText(QString());
    engine_.abandonTcpRequests();
    tcp_->close();
}

// ---- Connection dialog -----------------------------------------------------------------

void ConsoleSession::dialogCreated()
{
    // No link is chosen yet; until one is, the engine behaves as on TCP.
    linkChosen_ = false;
    serialChosen_ = false;
    engine_.setLink(LinkKind::Tcp);
    if (!engine_.serialInUse())
        serial_->close();
}

void ConsoleSession::setPortLister(std::function<QStringList()> lister)
{
    portLister_ = std::move(lister);
}

QStringList ConsoleSession::chooseSerial()
{
    engine_.setLink(LinkKind::Serial);
    linkChosen_ = true;
    serialChosen_ = true;
    return portLister_ ? portLister_() : SerialTransport::availablePorts();
}

void ConsoleSession::chooseTcp()
{
    engine_.setLink(LinkKind::Tcp);
    linkChosen_ = true;
    if (serialChosen_)
        serial_->close();
}

void ConsoleSession::selectPort(const QString &device)
{
    const QString path = device.trimmed();
    if (serial_->isOpen() && serial_->device() == path)
        return;
    serial_->close();
    serial_->setDevice(path);
}

bool ConsoleSession::openSerial(QString *error)
{
    const QString device = serial_->device();
    if (device.isEmpty()) {
        if (error)
            *error = NoSerialPort;
        return false;
    }
    serialError_.clear();
    serial_->open();
    if (serial_->isOpen())
        return true;
    if (error)
        *error = QStringLiteral("Cannot open %1: %2").arg(device, serialError_);
    return false;
}

void ConsoleSession::onSerialOpenFailed(const QString &reason)
{
    serialError_ = reason;
}

bool ConsoleSession::prepareConnect(const QString &device, const QString &hostText, QString *problem)
{
    QString text;
    bool ok = false;
    if (engine_.link() == LinkKind::Tcp) {
        ok = parseHost(hostText, nullptr, nullptr, &text);
    } else {
        selectPort(device);
        ok = openSerial(&text);
    }
    if (!ok && problem)
        *problem = text;
    return ok;
}

void ConsoleSession::confirmConnect(const QString &hostText)
{
    statusSeen_ = false;
    Q_EMIT connectionStarted();

    if (engine_.link() == LinkKind::Tcp) {
        QString host;
        quint16 port = TcpTransport::DefaultPort;
        QString problem;
        if (!parseHost(hostText, &host, &port, &problem)) {
            // A text that names no host is the operator's to mend, not the network's: it is
            // reported as such and nothing starts.
            engine_.stopPolling();
            Q_EMIT messageRequested(MessageKind::Plain, problem);
            Q_EMIT connectFailed(problem);
            return;
        }
        engine_.startPolling(PollInterval);
        MenuState m = menus_;
        m.FlatPanel3 = false;
        m.pnlConnect = true;
        // The status bar says what is under way, even after a disconnect has hidden it.
        m.ComSetting = true;
        setMenus(m);
        serial_->close();
        engine_.releaseSerial();

        // A link to an earlier host must not carry the requests to the new one.
        dropTcpLink();
        setLinkText(hostText);
        tcp_->setHost(host);
        tcp_->setPort(port);
        tcpConnectPending_ = true;
        setConnectingText(QStringLiteral("Connecting to %1 ...").arg(hostAndPort(host, port)));
        // opened() or openFailed() may come before open() returns.
        tcp_->open();
        return;
    }

    engine_.startPolling(PollInterval);
    QString error;
    const bool ok = openSerial(&error);
    if (!ok)
        engine_.releaseSerial();
    dropTcpLink();
    MenuState m = menus_;
    m.FlatPanel3 = true;
    m.pnlConnect = false;
    setMenus(m);
    setLinkText(serial_->device());
    if (!ok) {
        // Polling a port that is not open would only fill the console with sends that go
        // nowhere: the operator is told why and disconnects to try again.
        engine_.stopPolling();
        Q_EMIT messageRequested(MessageKind::Plain, error);
        Q_EMIT connectFailed(error);
    }
}

void ConsoleSession::failTcpConnect(const QString &reason)
{
    tcpConnectPending_ = false;
    setConnectingText(QString());
    engine_.stopPolling();
    engine_.abandonTcpRequests();
    Q_EMIT messageRequested(MessageKind::Plain, LanCheckMessage);
    Q_EMIT connectFailed(reason);
}

void ConsoleSession::onTcpOpened()
{
    if (!tcpConnectPending_)
        return;
    tcpConnectPending_ = false;
    setConnectingText(QString());
    Q_EMIT tcpLampChanged(true);
}

void ConsoleSession::onTcpOpenFailed(const QString &reason)
{
    if (!tcpConnectPending_)
        return;
    failTcpConnect(reason);
}

void ConsoleSession::onTcpDisconnected()
{
    Q_EMIT tcpLampChanged(false);
}

bool ConsoleSession::parseHost(const QString &text, QString *host, quint16 *port, QString *problem)
{
    const auto fail = [&](const QString &reason) {
        if (problem)
            *problem = QStringLiteral("'%1' is not a host or host:port: %2").arg(text, reason);
        return false;
    };
    const QString portRange = QStringLiteral("the port must be 1..65535");
    const QString t = text.trimmed();
    QString name;
    quint16 number = TcpTransport::DefaultPort;

    if (t.isEmpty())
        return fail(QStringLiteral("the host is empty"));
    if (t.startsWith(u'[')) {
        const qsizetype close = t.indexOf(u']');
        if (close < 0)
            return fail(QStringLiteral("the ']' after the IPv6 address is missing"));
        name = t.mid(1, close - 1);
        const QStringView rest = QStringView(t).sliced(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(u':'))
            return fail(QStringLiteral("only :PORT may follow ']'"));
        if (!rest.isEmpty() && !parsePort(rest.sliced(1), &number))
            return fail(portRange);
        const QHostAddress address(name);
        if (address.protocol() != QAbstractSocket::IPv6Protocol)
            return fail(QStringLiteral("brackets hold an IPv6 address"));
    } else {
        const qsizetype colon = t.indexOf(u':');
        if (colon >= 0 && t.indexOf(u':', colon + 1) >= 0) {
            // Several colons: only a bare IPv6 address, which takes the default port.
            const QHostAddress address(t);
            if (address.protocol() != QAbstractSocket::IPv6Protocol)
                return fail(QStringLiteral("more than one ':' (an IPv6 address with a port is "
                                           "written [::1]:502)"));
            name = t;
        } else {
            name = colon >= 0 ? t.left(colon) : t;
            if (name.isEmpty())
                return fail(QStringLiteral("the host is empty"));
            if (colon >= 0 && !parsePort(QStringView(t).sliced(colon + 1), &number))
                return fail(portRange);
            if (name.size() > 253)
                return fail(QStringLiteral("a host name has at most 253 characters"));
            for (const QChar c : std::as_const(name)) {
                if (!isHostChar(c))
                    return fail(QStringLiteral("'%1' cannot be part of a host name").arg(c));
            }
        }
    }
    if (host)
        *host = name;
    if (port)
        *port = number;
    return true;
}

// ---- Status ----------------------------------------------------------------------------

void ConsoleSession::onStatusReceived()
{
    MenuState m = menus_;
    m.setConfigurationCommands(true);
    m.ComSetting = true;
    m.GroupBox1 = true;
    setMenus(m);
    if (!statusSeen_) {
        statusSeen_ = true;
        Q_EMIT statusArrived();
    }
}

QString ConsoleSession::linkId() const
{
    if (linkChosen_ && engine_.link() == LinkKind::Tcp)
        return QStringLiteral("tcp:%1:%2").arg(tcp_->host()).arg(tcp_->port());
    return QStringLiteral("serial:") + serial_->device();
}

} // namespace qeln

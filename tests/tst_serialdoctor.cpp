// The serial doctor against fake /sys, /proc, /etc, /run and /dev trees (an adapter, a braille
// daemon's rules, a modem manager, holders and lock files), TCP on loopback, and the
// connection dialog's 진단 button.

#include "app/consolesession.h"
#include "doctor/serialdoctor.h"
#include "link/comportdialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace qeln;
using namespace qeln::doctor;

namespace {

// A root folder with the files a system keeps about one CH340 adapter on ttyUSB0 (188:0),
// and its device node.
struct FakeSystem {
    QTemporaryDir dir;

    QString path(const QString &p) const { return dir.path() + p; }
    void file(const QString &p, const QByteArray &content) const
    {
        QDir().mkpath(QFileInfo(path(p)).path());
        QFile f(path(p));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    void link(const QString &p, const QString &target) const
    {
        QDir().mkpath(QFileInfo(path(p)).path());
        QVERIFY(QFile::link(target, path(p)));
    }

    FakeSystem()
    {
        const QString usb = QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2");
        file(usb + QStringLiteral("/idVendor"), "1a86\n");
        file(usb + QStringLiteral("/idProduct"), "7523\n");
        file(usb + QStringLiteral("/serial"), "A10K3XQ\n");
        file(usb + QStringLiteral("/product"), "USB Serial\n");
        const QString port = usb + QStringLiteral("/1-2:1.0/ttyUSB0");
        QDir().mkpath(path(port));
        QDir().mkpath(path(QStringLiteral("/sys/bus/usb-serial/drivers/ch341-uart")));
        link(port + QStringLiteral("/driver"), path(QStringLiteral("/sys/bus/usb-serial/drivers/ch341-uart")));
        link(QStringLiteral("/sys/class/tty/ttyUSB0/device"), path(port));
        link(QStringLiteral("/sys/bus/usb/devices/1-2"), path(usb));
        // A UART the 8250 probe found and one it did not; a console with no device.
        QDir().mkpath(path(QStringLiteral("/sys/devices/platform/serial8250/tty/ttyS1")));
        link(QStringLiteral("/sys/class/tty/ttyS0/device"), path(QStringLiteral("/sys/devices/platform/serial8250")));
        file(QStringLiteral("/sys/class/tty/ttyS0/type"), "0\n");
        link(QStringLiteral("/sys/class/tty/ttyS1/device"), path(QStringLiteral("/sys/devices/platform/serial8250")));
        file(QStringLiteral("/sys/class/tty/ttyS1/type"), "4\n");
        file(QStringLiteral("/sys/class/tty/tty1/dev"), "4:1\n");
        link(QStringLiteral("/dev/serial/by-id/usb-1a86_USB_Serial_A10K3XQ-if00-port0"), QStringLiteral("../../ttyUSB0"));
        file(QStringLiteral("/etc/passwd"), "root:x:0:0:root:/root:/bin/bash\nop:x:1000:1000::/home/op:/bin/bash\n");
        file(QStringLiteral("/etc/group"), "root:x:0:\ndialout:x:20:op\n");
    }
    // The device node, 188:0 like the first USB serial port; false when this user may not
    // make device nodes.
    bool makeDevice() const
    {
        QDir().mkpath(path(QStringLiteral("/dev")));
        return ::mknod(QFile::encodeName(device()).constData(), S_IFCHR | 0660, makedev(188, 0)) == 0;
    }
    QString device() const { return path(QStringLiteral("/dev/ttyUSB0")); }
    // Any device node below the fake /dev.
    bool node(const QString &p, unsigned major, unsigned minor) const
    {
        QDir().mkpath(QFileInfo(path(p)).path());
        return ::mknod(QFile::encodeName(path(p)).constData(), S_IFCHR | 0660, makedev(major, minor)) == 0;
    }
    void process(int pid, const QByteArray &name) const
    {
        file(QStringLiteral("/proc/%1/comm").arg(pid), name + '\n');
        QDir().mkpath(path(QStringLiteral("/proc/%1/fd").arg(pid)));
    }
};

const Check *find(const Report &report, const QString &name)
{
    for (const Check &check : report.checks) {
        if (check.name == name)
            return &check;
    }
    return nullptr;
}

QStringList failed(const Report &report)
{
    QStringList names;
    for (const Check &check : report.checks) {
        if (!check.passed)
            names << check.name;
    }
    return names;
}

} // namespace

class TestSerialDoctor : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listsPorts();
    void adapterProblems_data();
    void adapterProblems();
    void rulesClaim_data();
    void rulesClaim();
    void missingDeviceClaimedAdapter();
    void whatItIs_data();
    void whatItIs();
    void pseudoTerminalHolders_data();
    void pseudoTerminalHolders();
    void tcpOutcomes();
    void connectionDialogButton();
};

void TestSerialDoctor::listsPorts()
{
    FakeSystem sys;
    const QList<PortInfo> ports = SystemView(sys.dir.path()).ports();
    QCOMPARE(ports.size(), 2);
    QCOMPARE(ports[0].device, QStringLiteral("/dev/ttyS1"));
    QVERIFY(ports[0].vendorId.isEmpty());
    const PortInfo &usb = ports[1];
    QCOMPARE(usb.device, QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(usb.byId, QStringLiteral("usb-1a86_USB_Serial_A10K3XQ-if00-port0"));
    QCOMPARE(usb.vendorId + QLatin1Char(':') + usb.productId, QStringLiteral("1a86:7523"));
    QCOMPARE(usb.serial, QStringLiteral("A10K3XQ"));
    QCOMPARE(usb.driver, QStringLiteral("ch341-uart"));
    const QString text = Report{{}, ports, {}}.text();
    QVERIFY2(text.contains(QStringLiteral("/dev/ttyUSB0  by-id: usb-1a86_USB_Serial_A10K3XQ-if00-port0  usb: 1a86:7523  "
                                          "serial: A10K3XQ  driver: ch341-uart")), qPrintable(text));
}

void TestSerialDoctor::adapterProblems_data()
{
    QTest::addColumn<QByteArray>("brlttyRules"); // empty: no braille daemon installed
    QTest::addColumn<int>("modemManager");       // 0 not running, 1 running, 2 running, told to ignore
    QTest::addColumn<bool>("held");
    QTest::addColumn<int>("lock");               // 0 none, 1 of a live process, 2 stale, 3 binary pid
    QTest::addColumn<QStringList>("failures");
    QTest::addColumn<QStringList>("fixes");

    const QByteArray claims = "# braille displays\nENV{PRODUCT}==\"1a86/7523/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"bm\", GOTO=\"brltty_usb_run\"\n";
    const QByteArray others = "ACTION==\"add\", SUBSYSTEM==\"usb\", ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"fe72\", RUN+=\"x\"\n";
    const QString brl = QStringLiteral("no braille daemon claims it");
    const QString mm = QStringLiteral("no modem manager probes it");
    const QString hold = QStringLiteral("not held by another program");
    const QString lock = QStringLiteral("no lock file");

    QTest::newRow("clean") << QByteArray() << 0 << false << 0 << QStringList{} << QStringList{};
    QTest::newRow("braille daemon claims it") << claims << 0 << false << 0 << QStringList{brl}
                                              << QStringList{QStringLiteral("sudo apt remove brltty")};
    QTest::newRow("braille daemon, other adapters") << others << 0 << false << 0 << QStringList{} << QStringList{};
    QTest::newRow("modem manager probes") << QByteArray() << 1 << false << 0 << QStringList{mm}
                                          << QStringList{QStringLiteral("sudo systemctl stop ModemManager")};
    QTest::newRow("modem manager ignores it") << QByteArray() << 2 << false << 0 << QStringList{} << QStringList{};
    QTest::newRow("held") << QByteArray() << 0 << true << 0 << QStringList{hold}
                          << QStringList{QStringLiteral("kill 4242"), QStringLiteral("minicom (pid 4242)")};
    QTest::newRow("locked by a live process") << QByteArray() << 0 << false << 1 << QStringList{lock}
                                              << QStringList{QStringLiteral("kill 4242")};
    QTest::newRow("stale lock") << QByteArray() << 0 << false << 2 << QStringList{lock}
                                << QStringList{QStringLiteral("sudo rm /run/lock/LCK..ttyUSB0")};
    QTest::newRow("binary lock of a live process") << QByteArray() << 0 << false << 3 << QStringList{lock}
                                                   << QStringList{QStringLiteral("kill 4242")};
    QTest::newRow("everything at once") << claims << 1 << true << 2 << QStringList{hold, lock, brl, mm}
                                        << QStringList{QStringLiteral("kill 4242"), QStringLiteral("sudo rm /run/lock/LCK..ttyUSB0"),
                                                       QStringLiteral("sudo apt remove brltty"),
                                                       QStringLiteral("sudo systemctl stop ModemManager")};
}

void TestSerialDoctor::adapterProblems()
{
    QFETCH(QByteArray, brlttyRules);
    QFETCH(int, modemManager);
    QFETCH(bool, held);
    QFETCH(int, lock);
    QFETCH(QStringList, failures);
    QFETCH(QStringList, fixes);

    FakeSystem sys;
    if (!sys.makeDevice())
        QSKIP("making a device node needs root");
    // Processes that have nothing to do with the port are always there.
    sys.process(1, "systemd");
    sys.link(QStringLiteral("/proc/1/fd/0"), QStringLiteral("/dev/null"));
    sys.process(4242, "minicom");
    sys.link(QStringLiteral("/proc/4242/fd/1"), QStringLiteral("/dev/pts/4"));
    if (held)
        sys.link(QStringLiteral("/proc/4242/fd/3"), sys.device());
    if (!brlttyRules.isEmpty())
        sys.file(QStringLiteral("/usr/lib/udev/rules.d/85-brltty.rules"), brlttyRules);
    if (modemManager > 0)
        sys.process(777, "ModemManager");
    sys.file(QStringLiteral("/run/udev/data/c188:0"),
             modemManager == 2 ? "I:123\nE:ID_MM_DEVICE_IGNORE=1\nG:systemd\n" : "I:123\nE:ID_MM_CANDIDATE=1\n");
    if (lock == 1)
        sys.file(QStringLiteral("/run/lock/LCK..ttyUSB0"), "      4242\n");
    else if (lock == 2)
        sys.file(QStringLiteral("/run/lock/LCK..ttyUSB0"), "     31337\n");
    else if (lock == 3)
        sys.file(QStringLiteral("/var/lock/LCK..ttyUSB0"), QByteArray::fromHex("92100000"));

    const Report report = SerialDoctor(sys.dir.path()).examineDevice(sys.device());
    const QString text = report.text();
    QCOMPARE(failed(report), failures);
    QCOMPARE(report.allPassed(), failures.isEmpty());
    for (const QString &fix : fixes)
        QVERIFY2(text.contains(fix), qPrintable(text));
    // The adapter's checks ran: a pty or a plain UART skips them, this port must not.
    QVERIFY(find(report, QStringLiteral("no braille daemon claims it")));
    QVERIFY(find(report, QStringLiteral("no modem manager probes it")));
    QVERIFY(text.contains(failures.isEmpty() ? QStringLiteral("No problem found.")
                                             : QStringLiteral("%1 problem").arg(failures.size())));
}

void TestSerialDoctor::rulesClaim_data()
{
    QTest::addColumn<QString>("rules");
    QTest::addColumn<QString>("adapter");
    QTest::addColumn<bool>("claims");
    const QString attrs = QStringLiteral("SUBSYSTEM==\"usb\", ATTRS{idVendor}==\"10C4\", ATTRS{idProduct}==\"ea60\", GOTO=\"x\"");
    QTest::newRow("attributes, any case") << attrs << QStringLiteral("10c4:ea60") << true;
    QTest::newRow("attributes, other product") << attrs << QStringLiteral("10c4:ea70") << false;
    QTest::newRow("vendor alone is no claim") << QStringLiteral("ATTRS{idVendor}==\"10c4\", GOTO=\"x\"")
                                              << QStringLiteral("10c4:ea60") << false;
    QTest::newRow("product without zeros") << QStringLiteral("ENV{PRODUCT}==\"403/6001/*\", GOTO=\"x\"")
                                           << QStringLiteral("0403:6001") << true;
    QTest::newRow("product is a prefix of another") << QStringLiteral("ENV{PRODUCT}==\"403/60010/*\"")
                                                    << QStringLiteral("0403:6001") << false;
    QTest::newRow("commented out") << QStringLiteral("# ENV{PRODUCT}==\"1a86/7523/*\"") << QStringLiteral("1a86:7523") << false;
}

void TestSerialDoctor::rulesClaim()
{
    QFETCH(QString, rules);
    QFETCH(QString, adapter);
    QFETCH(bool, claims);
    QCOMPARE(rulesClaimAdapter(QStringLiteral("# header\n") + rules + QLatin1Char('\n'), adapter.section(QLatin1Char(':'), 0, 0),
                               adapter.section(QLatin1Char(':'), 1, 1)), claims);
}

void TestSerialDoctor::missingDeviceClaimedAdapter()
{
    // The daemon took the adapter: it is plugged in, its port never appeared.
    FakeSystem sys;
    sys.file(QStringLiteral("/lib/udev/rules.d/85-brltty.rules"), "ENV{PRODUCT}==\"1a86/7523/*\", GOTO=\"brltty_usb_run\"\n");
    const Report report = SerialDoctor(sys.dir.path()).examineDevice(sys.device());
    QCOMPARE(failed(report), (QStringList{QStringLiteral("exists"), QStringLiteral("no braille daemon claims it")}));
    const QString text = report.text();
    QVERIFY2(text.contains(QStringLiteral("USB adapter 1a86:7523 (USB Serial) is plugged in")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("sudo apt remove brltty")));

    FakeSystem quiet;
    QCOMPARE(failed(SerialDoctor(quiet.dir.path()).examineDevice(quiet.device())), QStringList{QStringLiteral("exists")});
}

void TestSerialDoctor::whatItIs_data()
{
    QTest::addColumn<QString>("node");     // made below the fake /dev; empty: none
    QTest::addColumn<int>("major");        // -1: a regular file
    QTest::addColumn<int>("minor");
    QTest::addColumn<QString>("examined"); // the path given, below the fake root
    QTest::addColumn<QStringList>("failures");
    QTest::addColumn<QString>("says");     // %1 is the fake root
    QTest::addColumn<bool>("portChecks"); // the modem manager's, for a real port

    const QString byId = QStringLiteral("/dev/serial/by-id/usb-1a86_USB_Serial_A10K3XQ-if00-port0");
    const QString what = QStringLiteral("what it is");
    QTest::newRow("USB adapter by its by-id link")
        << QStringLiteral("/dev/ttyUSB0") << 188 << 0 << byId << QStringList{}
        << QStringLiteral("%1%2 is a link to %1/dev/ttyUSB0: a USB serial adapter 1a86:7523 (USB Serial), serial A10K3XQ, "
                          "driver ch341-uart").arg(QStringLiteral("%1"), byId)
        << true;
    QTest::newRow("USB adapter, its by-id name told")
        << QStringLiteral("/dev/ttyUSB0") << 188 << 0 << QStringLiteral("/dev/ttyUSB0") << QStringList{}
        << QStringLiteral("driver ch341-uart, also /dev/serial/by-id/usb-1a86_USB_Serial_A10K3XQ-if00-port0") << true;
    QTest::newRow("by-id link to an unplugged adapter")
        << QString() << 0 << 0 << byId << QStringList{QStringLiteral("exists")}
        << QStringLiteral("%1%2 is a link to %1/dev/ttyUSB0, which does not exist").arg(QStringLiteral("%1"), byId) << false;
    QTest::newRow("built-in UART")
        << QStringLiteral("/dev/ttyS1") << 4 << 65 << QStringLiteral("/dev/ttyS1") << QStringList{}
        << QStringLiteral("is a built-in UART (ttyS1)") << true;
    QTest::newRow("UART the probe found no chip for")
        << QStringLiteral("/dev/ttyS0") << 4 << 64 << QStringLiteral("/dev/ttyS0") << QStringList{what}
        << QStringLiteral("but the kernel found no chip there") << false;
    QTest::newRow("pseudo-terminal")
        << QStringLiteral("/dev/pts/7") << 136 << 7 << QStringLiteral("/dev/pts/7") << QStringList{}
        << QStringLiteral("is a pseudo-terminal") << false;
    QTest::newRow("pseudo-terminal multiplexer")
        << QStringLiteral("/dev/ptmx") << 5 << 2 << QStringLiteral("/dev/ptmx") << QStringList{what}
        << QStringLiteral("the pseudo-terminal multiplexer") << false;
    QTest::newRow("console")
        << QStringLiteral("/dev/tty1") << 4 << 1 << QStringLiteral("/dev/tty1") << QStringList{what}
        << QStringLiteral("a terminal with no port behind it (tty1") << false;
    // Every process holds /dev/null: none of them is to be named, let alone killed.
    QTest::newRow("no terminal at all")
        << QStringLiteral("/dev/null") << 1 << 3 << QStringLiteral("/dev/null") << QStringList{what}
        << QStringLiteral("is character device 1:3, not a terminal at all: no serial port") << false;
    QTest::newRow("regular file")
        << QStringLiteral("/dev/ttyUSB0") << -1 << 0 << QStringLiteral("/dev/ttyUSB0") << QStringList{QStringLiteral("exists")}
        << QStringLiteral("is a regular file, not a serial device") << false;
}

void TestSerialDoctor::whatItIs()
{
    QFETCH(QString, node);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(QString, examined);
    QFETCH(QStringList, failures);
    QFETCH(QString, says);
    QFETCH(bool, portChecks);

    FakeSystem sys;
    if (major < 0)
        sys.file(node, "not a device\n");
    else if (!node.isEmpty() && !sys.node(node, unsigned(major), unsigned(minor)))
        QSKIP("making a device node needs root");
    // Processes holding the null device, as every shell and daemon does.
    sys.process(1, "systemd");
    sys.link(QStringLiteral("/proc/1/fd/0"), QStringLiteral("/dev/null"));
    sys.process(4242, "bash");
    sys.link(QStringLiteral("/proc/4242/fd/0"), QStringLiteral("/dev/null"));

    const Report report = SerialDoctor(sys.dir.path()).examineDevice(sys.path(examined));
    const QString text = report.text();
    QCOMPARE(failed(report), failures);
    QVERIFY2(text.contains(QString(says).replace(QStringLiteral("%1"), sys.dir.path())), qPrintable(text));
    QCOMPARE(bool(find(report, QStringLiteral("no modem manager probes it"))), portChecks);
    // A path that is no serial port is judged no further: no holder is named, none killed.
    if (!failures.isEmpty()) {
        QVERIFY2(!find(report, QStringLiteral("not held by another program")), qPrintable(text));
        QVERIFY2(!text.contains(QStringLiteral("kill")), qPrintable(text));
    }
}

void TestSerialDoctor::pseudoTerminalHolders_data()
{
    // Each process: pid, comm, then what it has open: "slave", "master:N" (the master of
    // pseudo-terminal N, as fdinfo tells it), "master" (a kernel that does not tell), "other"
    // (the same device by another node), "session" (the slave, its controlling terminal).
    QTest::addColumn<QStringList>("processes");
    QTest::addColumn<bool>("passes");
    QTest::addColumn<QStringList>("says");
    QTest::addColumn<QStringList>("neverSays");

    const QString maker = QStringLiteral("made by qeln-sim (pid 500), which holds its master side");
    QTest::newRow("maker holds master and slave")
        << QStringList{QStringLiteral("500 qeln-sim master:4 slave")} << true << QStringList{maker}
        << QStringList{QStringLiteral("kill")};
    QTest::newRow("maker holds the master only")
        << QStringList{QStringLiteral("500 qeln-sim master:4")} << true << QStringList{maker}
        << QStringList{QStringLiteral("kill")};
    QTest::newRow("kernel does not tell the master's index")
        << QStringList{QStringLiteral("500 qeln-sim master slave")} << true << QStringList{maker}
        << QStringList{QStringLiteral("kill")};
    QTest::newRow("second reader beside the maker")
        << QStringList{QStringLiteral("500 qeln-sim master:4"), QStringLiteral("4242 minicom slave")} << false
        << QStringList{maker, QStringLiteral("held open by minicom (pid 4242)"), QStringLiteral("kill 4242")}
        << QStringList{QStringLiteral("kill 500"), QStringLiteral("500 4242")};
    QTest::newRow("master of another pseudo-terminal is no maker")
        << QStringList{QStringLiteral("600 xterm master:9 slave")} << false
        << QStringList{QStringLiteral("kill 600"), QStringLiteral("may have ended")} << QStringList{};
    QTest::newRow("held through another node")
        << QStringList{QStringLiteral("500 qeln-sim master:4"), QStringLiteral("4242 minicom other")} << false
        << QStringList{QStringLiteral("kill 4242")} << QStringList{QStringLiteral("kill 500")};
    QTest::newRow("terminal of a login session")
        << QStringList{QStringLiteral("400 sshd master:4"), QStringLiteral("401 bash session"),
                       QStringLiteral("4242 minicom slave")} << false
        << QStringList{QStringLiteral("it is the terminal of a login session: bash (pid 401)"), QStringLiteral("kill 4242")}
        << QStringList{QStringLiteral("kill 401"), QStringLiteral("kill 400"), QStringLiteral("401 4242")};
    QTest::newRow("a master of the multiplexer alone holds nothing")
        << QStringList{QStringLiteral("700 tmux master:9")} << true
        << QStringList{QStringLiteral("no other process has it open")} << QStringList{QStringLiteral("tmux")};
}

void TestSerialDoctor::pseudoTerminalHolders()
{
    QFETCH(QStringList, processes);
    QFETCH(bool, passes);
    QFETCH(QStringList, says);
    QFETCH(QStringList, neverSays);

    FakeSystem sys;
    const QString pts = QStringLiteral("/dev/pts/4");
    if (!sys.node(pts, 136, 4) || !sys.node(QStringLiteral("/dev/other/pts4"), 136, 4))
        QSKIP("making a device node needs root");
    if (!QFileInfo(QStringLiteral("/dev/ptmx")).exists())
        QSKIP("no /dev/ptmx here");
    for (const QString &line : processes) {
        const QStringList fields = line.split(QLatin1Char(' '));
        const int pid = fields.at(0).toInt();
        sys.process(pid, fields.at(1).toUtf8());
        for (int fd = 2; fd < fields.size(); ++fd) {
            const QString &open = fields.at(fd);
            const QString link = QStringLiteral("/proc/%1/fd/%2").arg(pid).arg(fd);
            if (open == QLatin1String("slave") || open == QLatin1String("session")) {
                sys.link(link, sys.path(pts));
                // tty_nr of 136:4; the comm in parentheses may hold spaces.
                if (open == QLatin1String("session"))
                    sys.file(QStringLiteral("/proc/%1/stat").arg(pid), QByteArray::number(pid) + " (ba sh) S 1 401 401 34820 401 4194560\n");
            } else if (open == QLatin1String("other")) {
                sys.link(link, sys.path(QStringLiteral("/dev/other/pts4")));
            } else {
                sys.link(link, QStringLiteral("/dev/ptmx"));
                const QString index = open.section(QLatin1Char(':'), 1);
                sys.file(QStringLiteral("/proc/%1/fdinfo/%2").arg(pid).arg(fd),
                         "pos:\t0\nflags:\t02\n" + (index.isEmpty() ? QByteArray() : "tty-index:\t" + index.toUtf8() + '\n'));
            }
        }
    }
    const Report report = SerialDoctor(sys.dir.path()).examineDevice(sys.path(pts));
    const Check *holder = find(report, QStringLiteral("not held by another program"));
    QVERIFY2(holder, qPrintable(report.text()));
    QCOMPARE(holder->passed, passes);
    const QString text = report.text();
    for (const QString &part : says)
        QVERIFY2(text.contains(part), qPrintable(text));
    for (const QString &part : neverSays)
        QVERIFY2(!text.contains(part), qPrintable(text));
}

void TestSerialDoctor::tcpOutcomes()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const quint16 port = server.serverPort();
    Report report = SerialDoctor().examineTcp(QStringLiteral("127.0.0.1"), port, 5000);
    QCOMPARE(failed(report), QStringList{});
    QCOMPARE(report.target, QStringLiteral("tcp:127.0.0.1:%1").arg(port));
    // A controller on the network has nothing to do with this machine's serial ports.
    QVERIFY2(report.text().startsWith(QStringLiteral("tcp:127.0.0.1:")), qPrintable(report.text()));
    report = SerialDoctor().examineTcp(QStringLiteral("localhost"), port, 5000);
    QVERIFY2(find(report, QStringLiteral("name resolves")) && find(report, QStringLiteral("name resolves"))->passed,
             qPrintable(report.text()));

    server.close();
    report = SerialDoctor().examineTcp(QStringLiteral("127.0.0.1"), port, 5000);
    QCOMPARE(failed(report), QStringList{QStringLiteral("port answers")});
    QVERIFY2(report.checks.last().text.contains(QStringLiteral("refuses")), qPrintable(report.text()));
    QVERIFY(!report.checks.last().fix.isEmpty());
}

void TestSerialDoctor::connectionDialogButton()
{
    ConsoleSession session;
    session.setConsoleStream(nullptr);
    session.login();
    session.connectCommand();
    ComPortDialog dialog(session);
    dialog.show();
    auto *doctorButton = dialog.findChild<QPushButton *>(QStringLiteral("btnDoctor"));
    QVERIFY(doctorButton);
    QVERIFY(!doctorButton->isVisible());

    QTest::mouseClick(dialog.findChild<QRadioButton *>(QStringLiteral("Serial")), Qt::LeftButton);
    const auto closeBoxes = [] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
                box->close();
        }
    };
    closeBoxes();
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("ttyUSB7"));
    auto *portSelect = dialog.findChild<QComboBox *>(QStringLiteral("PortSelect"));
    portSelect->setEditText(missing);
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
    QTRY_VERIFY(doctorButton->isVisible());
    QVERIFY(dialog.isVisible());
    closeBoxes();

    QTest::mouseClick(doctorButton, Qt::LeftButton);
    auto *report = dialog.findChild<QDialog *>(QStringLiteral("DoctorReport"));
    QVERIFY(report);
    QTRY_VERIFY(report->isVisible());
    QVERIFY(!report->isModal());
    const QString text = report->findChild<QPlainTextEdit *>(QStringLiteral("DoctorText"))->toPlainText();
    QVERIFY2(text.contains(QStringLiteral("%1 does not exist").arg(missing)), qPrintable(text));
    QCOMPARE(text, SerialDoctor().examineDevice(missing).text());
    // The connection dialog stays usable beside the report.
    QVERIFY(dialog.isVisible() && portSelect->isEnabled());
}

QTEST_MAIN(TestSerialDoctor)
#include "tst_serialdoctor.moc"

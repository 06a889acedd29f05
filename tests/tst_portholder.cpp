#include "link/serialtransport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace qeln;

namespace {
QByteArray commOf(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? comm.readAll().trimmed() : QByteArray();
}
} // namespace

// Who holds a serial port: found through a lock file of the UUCP convention (text or binary
// process id) or through a process that has the device open. The devices are files in a
// temporary folder, so no real port is touched.
class TestPortHolder : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void holder_data();
    void holder();
};

void TestPortHolder::holder_data()
{
    QTest::addColumn<QString>("lock"); // "text", "binary", "dead", "open" (no lock; the process has it open)
    QTest::addColumn<QString>("expected"); // a pattern; empty: nobody found
    QTest::newRow("text lock of a running process") << "text" << "^sleep \\(process \\d+, lock file .*/LCK\\.\\.qeln-holder-\\w+\\)$";
    QTest::newRow("binary lock of a running process") << "binary" << "^sleep \\(process \\d+, lock file ";
    QTest::newRow("lock of a process that has ended") << "dead" << "";
    QTest::newRow("no lock, device open") << "open" << "^sleep \\(process \\d+\\)$";
}

void TestPortHolder::holder()
{
    QFETCH(QString, lock);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString name = QStringLiteral("qeln-holder-%1").arg(QCoreApplication::applicationPid());
    const QString device = dir.filePath(name);
    QFile(device).open(QIODevice::WriteOnly);

    QProcess process;
    const QString open = lock == QLatin1String("open") ? QStringLiteral(" 3<'%1'").arg(device) : QString();
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exec sleep 30") + open});
    QVERIFY(process.waitForStarted());
    const qint64 pid = process.processId();
    if (lock == QLatin1String("dead")) {
        process.kill();
        QVERIFY(process.waitForFinished());
    }
    const QString lockPath = QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/LCK..") + name;
    if (lock != QLatin1String("open")) {
        QFile f(lockPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        if (lock == QLatin1String("binary")) {
            const qint32 binary = qint32(pid);
            f.write(reinterpret_cast<const char *>(&binary), 4);
        } else {
            f.write(QByteArray::number(pid).rightJustified(10, ' ') + '\n');
        }
    }
    // The process has its name once sh has become sleep.
    if (lock != QLatin1String("dead"))
        QTRY_COMPARE(commOf(pid), QByteArray("sleep"));
    const QString holder = SerialTransport::portHolder(device);
    QFile::remove(lockPath);
    process.kill();
    process.waitForFinished();
    if (expected.isEmpty())
        QCOMPARE(holder, QString());
    else
        QVERIFY2(QRegularExpression(expected).match(holder).hasMatch(), qPrintable(holder));
}

QTEST_GUILESS_MAIN(TestPortHolder)
#include "tst_portholder.moc"

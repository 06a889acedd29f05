// Inventory files in the discovery's shape, the shard a controller falls in, and the watch
// that follows files as an inventory system rewrites them.

#include "fleet/inventory.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace qeln::fleet;
using namespace std::chrono_literals;

namespace {

bool write(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
}

// "name link label=value,..." per controller, in order.
QStringList describe(const std::vector<ControllerConfig> &controllers)
{
    QStringList out;
    for (const ControllerConfig &c : controllers) {
        QStringList labels;
        for (auto it = c.labels.cbegin(); it != c.labels.cend(); ++it)
            labels << it.key() + QLatin1Char('=') + it.value();
        out << QStringLiteral("%1 %2 %3").arg(c.name, c.link.tcp ? c.link.host + QLatin1Char(':') + QString::number(c.link.port)
                                                                  : c.link.device,
                                              labels.join(QLatin1Char(',')));
    }
    return out;
}

} // namespace

class TestInventory : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void files_data();
    void files();
    void shards_data();
    void shards();
    void shardsSplitTheFleetOnce();
    void watchFollowsTheFiles();

private:
    QTemporaryDir dir_;
};

void TestInventory::files_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("controllers");
    QTest::addColumn<QString>("error"); // ":LINE: what", or empty
    QTest::newRow("json") << QByteArray(R"([{"targets": ["tcp:10.1.2.3:1502"], "labels": {"controller": "site-7", "region": "north"}},
 {"targets": ["serial:/dev/ttyUSB4"], "labels": {"controller": "lab"}}])")
                          << QStringList{QStringLiteral("site-7 10.1.2.3:1502 region=north"), QStringLiteral("lab /dev/ttyUSB4 ")}
                          << QString();
    QTest::newRow("yaml, unnamed targets take their link, discovery labels left out")
        << QByteArray("- targets: [tcp:10.0.0.1, tcp:10.0.0.2]\n  labels: {__meta_source: cmdb, rack: r1}\n")
        << QStringList{QStringLiteral("tcp:10.0.0.1 10.0.0.1:502 rack=r1"), QStringLiteral("tcp:10.0.0.2 10.0.0.2:502 rack=r1")}
        << QString();
    QTest::newRow("empty file") << QByteArray() << QStringList{} << QString();
    QTest::newRow("one name, two targets")
        << QByteArray("- targets: [tcp:a, tcp:b]\n  labels:\n    controller: x\n") << QStringList{}
        << QStringLiteral(":3: the label controller names one target, but the group has 2");
    QTest::newRow("bad link") << QByteArray("- targets: [udp:a]\n") << QStringList{} << QStringLiteral(":1: ");
    QTest::newRow("not a list") << QByteArray("targets: [tcp:a]\n") << QStringList{}
                                << QStringLiteral(":1: an inventory file is a list of target groups");
    QTest::newRow("no targets") << QByteArray("- labels: {controller: x}\n") << QStringList{}
                                << QStringLiteral(":1: a target group needs a list of targets");
    QTest::newRow("a name twice") << QByteArray("- targets: [tcp:a]\n  labels: {controller: x}\n"
                                                "- targets: [tcp:b]\n  labels: {controller: x}\n")
                                  << QStringList{} << QStringLiteral(":3: controller name 'x' is given twice");
    QTest::newRow("label serve sets") << QByteArray("- targets: [tcp:a]\n  labels:\n    model: m\n") << QStringList{}
                                      << QStringLiteral(":3: label name 'model' is set by serve itself");
    QTest::newRow("half written") << QByteArray("[{\"targets\": [\"tcp:a\"], \"lab") << QStringList{}
                                  << QStringLiteral(":1: ");
}

void TestInventory::files()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, controllers);
    QFETCH(QString, error);
    const QString path = dir_.filePath(QStringLiteral("inventory.json"));
    QVERIFY(write(path, text));
    const auto read = readInventoryFile(path, {30s, 5s, Connection::Persistent});
    if (!error.isEmpty()) {
        QVERIFY(!read);
        QVERIFY2(read.error.startsWith(path + error), qPrintable(read.error));
        return;
    }
    QVERIFY2(read, qPrintable(read.error));
    QCOMPARE(describe(*read.value), controllers);
    for (const ControllerConfig &c : *read.value) {
        QCOMPARE(c.interval, 30s);
        QCOMPARE(c.timeout, 5s);
        QVERIFY(c.connection == Connection::Persistent);
    }
}

void TestInventory::shards_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::newRow("1/1") << QStringLiteral("1/1") << true;
    QTest::newRow("3/4") << QStringLiteral("3/4") << true;
    QTest::newRow("0/4") << QStringLiteral("0/4") << false;
    QTest::newRow("5/4") << QStringLiteral("5/4") << false;
    QTest::newRow("1/0") << QStringLiteral("1/0") << false;
    QTest::newRow("words") << QStringLiteral("one/two") << false;
    QTest::newRow("blank") << QString() << false;
}

void TestInventory::shards()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    Shard shard;
    QString error;
    QCOMPARE(parseShard(text, shard, error), ok);
    QCOMPARE(error.isEmpty(), ok);
}

void TestInventory::shardsSplitTheFleetOnce()
{
    // Every controller falls in exactly one of N shards, whatever else the fleet holds, and
    // the shards share the fleet about evenly.
    constexpr int N = 4;
    QList<int> sizes(N, 0);
    for (int i = 0; i < 2000; ++i) {
        const QString name = QStringLiteral("site-%1").arg(i);
        int in = 0;
        for (int k = 1; k <= N; ++k) {
            if (inShard(name, {k, N})) {
                ++in;
                ++sizes[k - 1];
            }
        }
        QCOMPARE(in, 1);
    }
    for (int size : std::as_const(sizes))
        QVERIFY2(size > 400 && size < 600, qPrintable(QString::number(size)));
    // Known values: a change of the hash would move controllers between running exporters.
    QVERIFY(inShard(QStringLiteral("site-1"), {1, 1}));
    QCOMPARE(inShard(QStringLiteral("north-7"), {1, 2}) + inShard(QStringLiteral("north-7"), {2, 2}), 1);
}

void TestInventory::watchFollowsTheFiles()
{
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.json"));
    const QString b = dir.filePath(QStringLiteral("b.yml"));
    QVERIFY(write(a, R"([{"targets": ["tcp:10.0.0.1"], "labels": {"controller": "one"}},
                        {"targets": ["tcp:10.0.0.2"], "labels": {"controller": "two"}}])"));
    InventoryWatcher watcher;
    QSignalSpy changed(&watcher, &InventoryWatcher::changed);
    QSignalSpy problems(&watcher, &InventoryWatcher::problem);
    watcher.watch({QStringLiteral("*.json"), QStringLiteral("*.yml")}, dir.path(), {10s, 2s, Connection::PerPoll});
    QCOMPARE(describe(watcher.controllers()).size(), 2);

    // A new file is found without a signal or a restart.
    QVERIFY(write(b, "- targets: [tcp:10.0.0.3]\n  labels: {controller: three}\n"));
    QTRY_VERIFY_WITH_TIMEOUT(watcher.controllers().size() == 3, 5000);

    // A file spoilt (half written) keeps what it gave, and the watch says why.
    QVERIFY(write(a, "[{\"targets\": [\"tcp:10.0"));
    QTRY_VERIFY_WITH_TIMEOUT(!problems.isEmpty(), 5000);
    QVERIFY2(problems.last().at(0).toString().contains(a), qPrintable(problems.last().at(0).toString()));
    QCOMPARE(watcher.controllers().size(), 3u);

    // The same controller in two files: the first file's entry counts.
    QVERIFY(write(b, "- targets: [tcp:10.0.0.3]\n  labels: {controller: three}\n"
                     "- targets: [tcp:10.9.9.9]\n  labels: {controller: one}\n"));
    QTRY_VERIFY_WITH_TIMEOUT(problems.last().at(0).toString().contains(QLatin1String("'one' is named in")), 5000);
    QCOMPARE(watcher.controllers().size(), 3u);

    // A file that goes takes its controllers with it.
    changed.clear();
    QVERIFY(QFile::remove(b));
    QTRY_VERIFY_WITH_TIMEOUT(!changed.isEmpty(), 5000);
    QCOMPARE(describe(watcher.controllers()),
             (QStringList{QStringLiteral("one 10.0.0.1:502 "), QStringLiteral("two 10.0.0.2:502 ")}));
}

QTEST_GUILESS_MAIN(TestInventory)
#include "tst_inventory.moc"

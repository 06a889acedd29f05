// Many consoles in one process, each against its own simulated controller: engines share
// nothing, so every engine decodes only its own controller's answers and every request goes
// out on its own link. Each controller carries a tag of its own (the two alarm-test mask
// registers, the last octet of its IP address, the minute of its alarm records), and each
// engine must read back exactly its controller's tag.

#include "app/consolestate.h"
#include "history/historydownload.h"
#include "link/linkengine.h"
#include "link/serialtransport.h"
#include "link/tcptransport.h"
#include "network/ipsettings.h"
#include "network/ipsettingslink.h"

#include "linefaults.h"
#include "plant.h"
#include "simlinks.h"
#include "simprotocol.h"

#include <QHostAddress>
#include <QLoggingCategory>
#include <QTest>

#include <memory>
#include <vector>

using namespace qeln;

namespace {

constexpr int Consoles = 50;
constexpr int SerialConsoles = 10; // the first ten are on pseudo-terminals, the rest on TCP
constexpr int HistoryRecords = 6;
constexpr int StatusAnswersWanted = 3;
// Generous: a console that gets nothing at all fails here rather than hanging the suite.
constexpr int GiveUpMs = 60000;

// Status registers 72 and 73 (alarm-test masks, any 16-bit value), entries 71 and 72.
constexpr int TagRegister1 = 72;
constexpr int TagRegister2 = 73;

quint16 tag1(int i)
{
    return quint16(0xA500 + i);
}

quint16 tag2(int i)
{
    return quint16(0x3C00 + 7 * i + 1);
}

// The IP address a controller reports: 192.168.50.(100 + i).
QString ipTextOf(int i)
{
    return QStringLiteral("192.168.50.%1").arg(100 + i);
}

// Alarm record j of controller i: 2026-(j+1)-01 at j:i:00, so the minute names the controller
// and the hour the record.
QByteArray alarmRecord(int i, int j)
{
    QByteArray r(34, '\0');
    r[0] = char(26);
    r[1] = char(j + 1);
    r[2] = char(1);
    r[3] = char(j);
    r[4] = char(i);
    r[5] = char(0);
    return r;
}

struct Controller {
    explicit Controller(int index)
        : faults(faultSettings(index))
    {
        plant.writeRegister(TagRegister1, tag1(index));
        plant.writeRegister(TagRegister2, tag2(index));
        QList<QByteArray> records;
        for (int j = 0; j < HistoryRecords; ++j)
            records << alarmRecord(index, j);
        plant.setLog(sim::Plant::AlarmLog, records);

        QByteArray block = plant.ipSettingsReadBack();
        const qsizetype ip = block.indexOf(QByteArray("\xC0\xA8\x32\x5C", 4));
        if (ip >= 0) {
            block[ip + 3] = char(100 + index);
            plant.setIpSettingsReadBack(block);
            ipTagged = true;
        }
    }

    // Serial answers leave at the pace of a 115200 baud line, so they arrive in pieces and
    // the pieces of different links interleave; TCP answers leave a few milliseconds late,
    // by a different amount on each link, so they come back in a mixed order.
    static sim::FaultSettings faultSettings(int index)
    {
        sim::FaultSettings f;
        f.paceBaud = 115200;
        f.delayMs = index % 7;
        f.seed = std::uint32_t(index + 1);
        return f;
    }

    sim::Plant plant;
    sim::Protocol protocol{plant};
    sim::Faults faults;
    std::unique_ptr<sim::TcpLink> tcp;
    std::unique_ptr<sim::SerialLink> pty;
    bool ipTagged = false; // its IP block carries its own address
};

// One console: its state, its engine, its link and what it saw.
struct Console {
    explicit Console(int i)
        : index(i)
    {
        QObject::connect(&engine, &LinkEngine::statusReceived, &engine, [this] {
            ++statusAnswers;
            const auto &r = state.StatusRegisters;
            if (r[TagRegister1 - 1] != tag1(index) || r[TagRegister2 - 1] != tag2(index))
                ++foreignStatus;
        });
        QObject::connect(&engine, &LinkEngine::requestSent, &engine,
                         [this](const QByteArray &, bool) { ++requests; });
        QObject::connect(&engine, &LinkEngine::requestFailed, &engine,
                         [this](const RequestFailure &f) { failures << f.reason; });
    }

    int index;
    ConsoleState state;
    LinkEngine engine{state};
    std::unique_ptr<Transport> link;
    int statusAnswers = 0;
    int foreignStatus = 0;
    int requests = 0;
    QStringList failures;
};

enum class Extra { None, History, IpBlock };

QByteArray nameOf(const Console &c)
{
    return "console " + QByteArray::number(c.index) + (c.index < SerialConsoles ? " (serial)" : " (TCP)");
}

// No console saw a failed request or another controller's status block.
void verifyNothingMixed(const std::vector<std::unique_ptr<Console>> &consoles)
{
    for (const auto &c : consoles) {
        QVERIFY2(c->failures.isEmpty(),
                 (nameOf(*c) + ": " + c->failures.join(QStringLiteral("; ")).toUtf8()).constData());
        QVERIFY2(c->foreignStatus == 0, (nameOf(*c) + ": status answers of another controller: "
                                         + QByteArray::number(c->foreignStatus)).constData());
    }
}

} // namespace

class TestManyEngines : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // Fifty links' frames would bury a failure's message.
        QLoggingCategory::setFilterRules(QStringLiteral("qeln.sim.*.debug=false"));
    }
    void ownAnswers_data();
    void ownAnswers();

private:
    bool setUp(std::vector<std::unique_ptr<Controller>> &controllers,
               std::vector<std::unique_ptr<Console>> &consoles);
};

bool TestManyEngines::setUp(std::vector<std::unique_ptr<Controller>> &controllers,
                            std::vector<std::unique_ptr<Console>> &consoles)
{
    for (int i = 0; i < Consoles; ++i) {
        auto c = std::make_unique<Controller>(i);
        if (!c->ipTagged) {
            qWarning("controller %d: its IP block has no address to tag", i);
            return false;
        }
        auto console = std::make_unique<Console>(i);
        QString error;
        if (i < SerialConsoles) {
            c->pty = std::make_unique<sim::SerialLink>(c->protocol, c->faults);
            if (!c->pty->openPty(&error)) {
                qWarning("controller %d: %s", i, qPrintable(error));
                return false;
            }
            auto serial = std::make_unique<SerialTransport>();
            serial->setDevice(c->pty->devicePath());
            serial->open();
            if (!serial->isOpen()) {
                qWarning("console %d cannot open %s", i, qPrintable(c->pty->devicePath()));
                return false;
            }
            console->engine.setLink(LinkKind::Serial);
            console->engine.setSerialTransport(serial.get());
            console->link = std::move(serial);
        } else {
            c->tcp = std::make_unique<sim::TcpLink>(c->protocol, c->faults);
            if (!c->tcp->listen(QHostAddress(QHostAddress::LocalHost), 0, &error)) {
                qWarning("controller %d: %s", i, qPrintable(error));
                return false;
            }
            auto tcp = std::make_unique<TcpTransport>();
            tcp->setHost(QStringLiteral("127.0.0.1"));
            tcp->setPort(c->tcp->port());
            console->engine.setLink(LinkKind::Tcp);
            console->engine.setTcpTransport(tcp.get());
            console->link = std::move(tcp);
        }
        controllers.push_back(std::move(c));
        consoles.push_back(std::move(console));
    }
    return true;
}

void TestManyEngines::ownAnswers_data()
{
    QTest::addColumn<bool>("mixed");
    QTest::newRow("all poll") << false;
    // Every fourth console downloads its alarm history, every fourth (offset by two) reads
    // its IP block; the others poll on.
    QTest::newRow("downloads and IP reads among polls") << true;
}

void TestManyEngines::ownAnswers()
{
    QFETCH(bool, mixed);

    std::vector<std::unique_ptr<Controller>> controllers;
    std::vector<std::unique_ptr<Console>> consoles;
    QVERIFY(setUp(controllers, consoles));

    for (auto &c : consoles)
        c->engine.startPolling(10 + 5 * c->index);

    // Every console that polls has this many status answers more than it had at `since`.
    std::vector<Extra> extras(consoles.size(), Extra::None);
    // A console that already went wrong ends the wait: the checks below say how.
    auto pollersHave = [&](int answers, const std::vector<int> &since) {
        for (const auto &c : consoles) {
            if (!c->failures.isEmpty() || c->foreignStatus > 0)
                return true;
        }
        for (std::size_t i = 0; i < consoles.size(); ++i) {
            if (extras[i] == Extra::None && consoles[i]->statusAnswers < since[i] + answers)
                return false;
        }
        return true;
    };
    const std::vector<int> none(consoles.size(), 0);

    std::vector<std::unique_ptr<history::HistoryDownload>> downloads(consoles.size());
    std::vector<std::unique_ptr<IpSettingsLink>> ipLinks(consoles.size());
    std::vector<quint64> ipTickets(consoles.size(), 0);
    if (mixed) {
        // A download needs the model code from a status answer first.
        QTRY_VERIFY_WITH_TIMEOUT(pollersHave(1, none), GiveUpMs);
        verifyNothingMixed(consoles);
        if (QTest::currentTestFailed())
            return;
        std::vector<int> since;
        for (std::size_t i = 0; i < consoles.size(); ++i) {
            Console &c = *consoles[i];
            since.push_back(c.statusAnswers);
            if (i % 4 == 1) {
                extras[i] = Extra::History;
                downloads[i] = std::make_unique<history::HistoryDownload>(c.engine);
                QVERIFY2(downloads[i]->start(LogKind::Alarm), qPrintable(QString::number(i)));
                downloads[i]->skipStartDelay();
            } else if (i % 4 == 3) {
                extras[i] = Extra::IpBlock;
                ipLinks[i] = std::make_unique<IpSettingsLink>(c.engine);
                ipTickets[i] = ipLinks[i]->requestRead();
            }
        }
        // The others poll on meanwhile, and get their answers.
        QTRY_VERIFY_WITH_TIMEOUT(pollersHave(StatusAnswersWanted, since), GiveUpMs);
        for (std::size_t i = 0; i < consoles.size(); ++i) {
            if (downloads[i])
                QTRY_VERIFY_WITH_TIMEOUT(downloads[i]->completed() || !consoles[i]->failures.isEmpty(), GiveUpMs);
            if (ipLinks[i])
                QTRY_VERIFY_WITH_TIMEOUT((ipLinks[i]->generation() >= ipTickets[i] && ipLinks[i]->lastReadBack())
                                             || !consoles[i]->failures.isEmpty(),
                                         GiveUpMs);
        }
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(pollersHave(StatusAnswersWanted, none), GiveUpMs);
    }

    for (auto &c : consoles)
        c->engine.stopPolling();
    verifyNothingMixed(consoles);
    if (QTest::currentTestFailed())
        return;

    for (std::size_t i = 0; i < consoles.size(); ++i) {
        const Console &c = *consoles[i];
        const QByteArray who = nameOf(c);
        // Its own controller's registers, in every status answer it decoded (see above).
        QVERIFY2(c.statusAnswers >= 1, who.constData());
        QCOMPARE(c.state.StatusRegisters[TagRegister1 - 1], int(tag1(int(i))));
        QCOMPARE(c.state.StatusRegisters[TagRegister2 - 1], int(tag2(int(i))));
        // Every request got its answer from its own link: the sends and the answers tally
        // (one poll may still be on its way when polling stopped).
        int answers = c.statusAnswers;
        if (downloads[i])
            answers += 1 + HistoryRecords;
        if (ipLinks[i])
            answers += 1;
        // A download or an IP read may also have overtaken a poll on its way, whose answer
        // is then not decoded.
        const int unanswered = extras[i] == Extra::None ? 1 : 2;
        QVERIFY2(c.requests >= answers && c.requests <= answers + unanswered,
                 (who + ": " + QByteArray::number(c.requests) + " requests, "
                  + QByteArray::number(answers) + " answers").constData());

        if (downloads[i]) {
            const auto &rows = downloads[i]->rows();
            QCOMPARE(downloads[i]->total(), HistoryRecords);
            QCOMPARE(rows.size(), HistoryRecords);
            for (int k = 1; k <= HistoryRecords; ++k) {
                // Row k holds record N - k: at hour N - k, minute i.
                const int record = HistoryRecords - k;
                QCOMPARE(rows[k - 1].value(1), QStringLiteral("2026-%1-01").arg(record + 1, 2, 10, QLatin1Char('0')));
                QCOMPARE(rows[k - 1].value(2), QStringLiteral("%1:%2:00")
                                                   .arg(record, 2, 10, QLatin1Char('0'))
                                                   .arg(int(i), 2, 10, QLatin1Char('0')));
            }
        }
        if (ipLinks[i])
            QCOMPARE(ipLinks[i]->lastReadBack()->ipText, ipTextOf(int(i)));
    }

    // Each TCP controller was reached by its own console alone, over one connection.
    for (int i = SerialConsoles; i < Consoles; ++i)
        QCOMPARE(controllers[std::size_t(i)]->tcp->clientCount(), 1);

    // Engines first: they hold their links (and a download holds its engine).
    downloads.clear();
    ipLinks.clear();
    consoles.clear();
}

QTEST_GUILESS_MAIN(TestManyEngines)
#include "tst_manyengines.moc"

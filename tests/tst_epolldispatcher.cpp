// The whole test runs on the epoll dispatcher (see main() below), including QSignalSpy's and
// QTest's own waiting, as serve's event loop does.
#include "fleet/epolldispatcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <chrono>
#include <csignal>
#include <future>
#include <memory>
#include <pthread.h>
#include <sys/socket.h>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>

using qeln::fleet::EpollEventDispatcher;

namespace {

// Two connected local sockets, closed with the object.
struct SocketPair {
    int fd[2] = {-1, -1};
    SocketPair() { QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fd) == 0); }
    ~SocketPair()
    {
        for (int f : fd) {
            if (f >= 0)
                ::close(f);
        }
    }
    void send(int side = 1) { QCOMPARE(::write(fd[side], "x", 1), 1); }
};

} // namespace

class TestEpollDispatcher : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void installed();
    void timersFireInDeadlineOrder_data();
    void timersFireInDeadlineOrder();
    void repeatingTimerIsNeverEarly();
    void notifierChangesDuringAPass_data();
    void notifierChangesDuringAPass();
    void hangUpDoesNotSpin();
    void excludedSocketsDoNotSpin_data();
    void excludedSocketsDoNotSpin();
    void signalsDoNotPutATimerOff();
    void manyConnectionsEcho();
    void eventPostedFromAnotherThreadWakesTheWait();
};

void TestEpollDispatcher::installed()
{
    QVERIFY(qobject_cast<EpollEventDispatcher *>(QAbstractEventDispatcher::instance()));
}

void TestEpollDispatcher::timersFireInDeadlineOrder_data()
{
    // Single-shot intervals started together; what a slot does to another timer.
    QTest::addColumn<QList<int>>("intervals");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("expected");
    QTest::newRow("by deadline") << QList<int>{30, 5, 20, 0, 10} << "" << "3 1 4 2 0";
    QTest::newRow("ties keep going") << QList<int>{10, 10, 0} << "" << "2 0 1";
    QTest::newRow("first stops a later one") << QList<int>{0, 15, 30} << "0 stops 2" << "0 1";
    QTest::newRow("first restarts a later one") << QList<int>{8, 10, 14} << "0 restarts 1" << "0 2 1";
    QTest::newRow("restarts itself once") << QList<int>{10, 15} << "0 restarts 0" << "0 1 0";
}

void TestEpollDispatcher::timersFireInDeadlineOrder()
{
    QFETCH(QList<int>, intervals);
    QFETCH(QString, action);
    QFETCH(QString, expected);
    std::vector<std::unique_ptr<QTimer>> timers;
    QStringList fired;
    bool acted = false;
    const QStringList words = action.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (int i = 0; i < intervals.size(); ++i) {
        auto timer = std::make_unique<QTimer>();
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(intervals.at(i));
        connect(timer.get(), &QTimer::timeout, this, [&, i] {
            fired << QString::number(i);
            if (words.size() == 3 && words.at(0).toInt() == i && !acted) {
                acted = true;
                QTimer *other = timers.at(words.at(2).toInt()).get();
                if (words.at(1) == QLatin1String("stops"))
                    other->stop();
                else
                    other->start(); // from now, so after everything else due before
            }
        });
        timers.push_back(std::move(timer));
    }
    for (auto &timer : timers)
        timer->start();
    const int expectedCount = int(expected.split(QLatin1Char(' ')).size());
    QTRY_COMPARE_WITH_TIMEOUT(fired.size(), expectedCount, 5000);
    // Whatever is still running would have fired by twice the longest interval.
    QTimer settle;
    settle.setSingleShot(true);
    QSignalSpy settled(&settle, &QTimer::timeout);
    settle.start(2 * *std::max_element(intervals.cbegin(), intervals.cend()) + 20);
    QVERIFY(settled.wait(5000));
    QCOMPARE(fired.join(QLatin1Char(' ')), expected);
}

void TestEpollDispatcher::repeatingTimerIsNeverEarly()
{
    // Firing k of a repeating timer comes no sooner than k intervals after its start, and
    // QTimer::remainingTime() counts down within the interval.
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QElapsedTimer clock;
    QList<qint64> at;
    connect(&timer, &QTimer::timeout, this, [&] {
        at << clock.nsecsElapsed();
        if (at.size() == 10)
            timer.stop();
    });
    clock.start();
    timer.start(7);
    const int left = timer.remainingTime();
    QVERIFY2(left >= 0 && left <= 7, qPrintable(QString::number(left)));
    QTRY_COMPARE_WITH_TIMEOUT(at.size(), 10, 5000);
    for (int k = 0; k < at.size(); ++k)
        QVERIFY2(at.at(k) >= (k + 1) * 7'000'000LL, qPrintable(QStringLiteral("firing %1 at %2 ns").arg(k + 1).arg(at.at(k))));
    QCOMPARE(timer.remainingTime(), -1);
}

void TestEpollDispatcher::notifierChangesDuringAPass_data()
{
    // Two descriptors ready in the same pass; the first one's slot changes the other notifier.
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("otherActivations");
    QTest::newRow("deletes it") << "delete" << 0;
    QTest::newRow("disables it") << "disable" << 0;
    QTest::newRow("disables and enables it") << "toggle" << 1;
    QTest::newRow("leaves it") << "" << 1;
}

void TestEpollDispatcher::notifierChangesDuringAPass()
{
    QFETCH(QString, change);
    QFETCH(int, otherActivations);
    SocketPair a, b;
    auto na = std::make_unique<QSocketNotifier>(a.fd[0], QSocketNotifier::Read);
    auto nb = std::make_unique<QSocketNotifier>(b.fd[0], QSocketNotifier::Read);
    QSocketNotifier *notifiers[2] = {na.get(), nb.get()};
    std::unique_ptr<QSocketNotifier> *owners[2] = {&na, &nb};
    int activations[2] = {0, 0};
    int first = -1;
    for (int i = 0; i < 2; ++i) {
        connect(notifiers[i], &QSocketNotifier::activated, this, [&, i] {
            ++activations[i];
            char byte;
            [[maybe_unused]] const auto got = ::read(i == 0 ? a.fd[0] : b.fd[0], &byte, 1);
            if (first >= 0)
                return;
            first = i;
            std::unique_ptr<QSocketNotifier> &other = *owners[1 - i];
            if (change == QLatin1String("delete"))
                other.reset();
            else if (change == QLatin1String("disable"))
                other->setEnabled(false);
            else if (change == QLatin1String("toggle")) {
                other->setEnabled(false);
                other->setEnabled(true);
            }
        });
    }
    a.send();
    b.send();
    QTRY_VERIFY_WITH_TIMEOUT(first >= 0, 5000);
    // The other descriptor stays readable: a notifier still enabled hears it now or next pass.
    QTimer settle;
    settle.setSingleShot(true);
    QSignalSpy settled(&settle, &QTimer::timeout);
    settle.start(50);
    QVERIFY(settled.wait(5000));
    QCOMPARE(activations[first], 1);
    QCOMPARE(activations[1 - first], otherActivations);
}

void TestEpollDispatcher::hangUpDoesNotSpin()
{
    // A peer that hangs up leaves its descriptor reporting a hang-up for ever; once nobody
    // listens to it, the loop must sleep until its next timer rather than spin.
    auto pair = std::make_unique<SocketPair>();
    QSocketNotifier notifier(pair->fd[0], QSocketNotifier::Read);
    QSignalSpy heard(&notifier, &QSocketNotifier::activated);
    ::close(pair->fd[1]);
    pair->fd[1] = -1;
    QVERIFY(heard.wait(5000));
    notifier.setEnabled(false);

    int wakeUps = 0;
    auto *dispatcher = QAbstractEventDispatcher::instance();
    const auto counting = connect(dispatcher, &QAbstractEventDispatcher::awake, this, [&] { ++wakeUps; });
    QTimer quiet;
    quiet.setSingleShot(true);
    QSignalSpy done(&quiet, &QTimer::timeout);
    quiet.start(100);
    QVERIFY(done.wait(5000));
    disconnect(counting);
    QVERIFY2(wakeUps < 20, qPrintable(QStringLiteral("%1 wake-ups in 100 ms").arg(wakeUps)));
}

void TestEpollDispatcher::excludedSocketsDoNotSpin_data()
{
    // A loop that leaves socket notifiers out while a socket is ready all along, ended by a
    // timer or by an event posted from another thread.
    QTest::addColumn<bool>("byTimer");
    QTest::newRow("timer") << true;
    QTest::newRow("event from another thread") << false;
}

void TestEpollDispatcher::excludedSocketsDoNotSpin()
{
    QFETCH(bool, byTimer);
    SocketPair pair;
    QSocketNotifier notifier(pair.fd[0], QSocketNotifier::Read);
    QSignalSpy heard(&notifier, &QSocketNotifier::activated);
    pair.send(); // never read: the descriptor stays readable
    QVERIFY(heard.wait(5000));
    heard.clear();

    QEventLoop loop;
    QString endedBy;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, [&] {
        endedBy = QStringLiteral("timer");
        loop.quit();
    });
    deadline.start(byTimer ? 200 : 9000);

    auto *dispatcher = QAbstractEventDispatcher::instance();
    int wakeUps = 0;
    std::promise<void> asleep;
    bool told = false;
    const auto counting = connect(dispatcher, &QAbstractEventDispatcher::awake, this, [&] { ++wakeUps; });
    const auto telling = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [&] {
        if (!byTimer && !std::exchange(told, true))
            asleep.set_value();
    });
    std::thread poster;
    if (!byTimer) {
        poster = std::thread([&loop, &endedBy, sleeping = asleep.get_future()] {
            sleeping.wait();
            QMetaObject::invokeMethod(&loop, [&loop, &endedBy] {
                endedBy = QStringLiteral("event");
                loop.quit();
            }, Qt::QueuedConnection);
        });
    }
    loop.exec(QEventLoop::ExcludeSocketNotifiers);
    disconnect(counting);
    disconnect(telling);
    if (poster.joinable())
        poster.join();

    QCOMPARE(endedBy, QString::fromLatin1(byTimer ? "timer" : "event"));
    QVERIFY2(wakeUps < 20, qPrintable(QStringLiteral("%1 wake-ups").arg(wakeUps)));
    QCOMPARE(heard.count(), 0);
    // Only put off: the next loop that takes sockets hears it.
    QVERIFY(heard.wait(5000));
}

namespace {
std::atomic<int> signalsDelivered{0};
}

void TestEpollDispatcher::signalsDoNotPutATimerOff()
{
    // A signal ends epoll_wait early whatever SA_RESTART says. Signals come every 10 ms, for
    // 2 s at most, while a 200 ms timer is due: it must fire while they are still coming.
    constexpr int MaxSignals = 200;
    struct sigaction quiet {}, old{};
    quiet.sa_handler = [](int) { signalsDelivered.fetch_add(1); };
    sigemptyset(&quiet.sa_mask);
    QVERIFY(::sigaction(SIGUSR1, &quiet, &old) == 0);
    signalsDelivered = 0;

    QTimer due;
    due.setSingleShot(true);
    due.setTimerType(Qt::PreciseTimer);
    QSignalSpy fired(&due, &QTimer::timeout);
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    const pthread_t waiter = ::pthread_self();
    due.start(200);
    std::mutex pace;
    std::condition_variable stopped;
    std::thread sender([&] {
        std::unique_lock lock(pace);
        // A signal every 10 ms until the test says stop (or the signals run out).
        while (!stopped.wait_for(lock, std::chrono::milliseconds(10), [&] { return stop.load(); })
               && sent.load() < MaxSignals) {
            ::pthread_kill(waiter, SIGUSR1);
            ++sent;
        }
    });
    const bool didFire = fired.wait(10000);
    const int sentBefore = sent.load();
    {
        const std::lock_guard lock(pace);
        stop = true;
    }
    stopped.notify_one();
    sender.join();
    ::sigaction(SIGUSR1, &old, nullptr);

    QVERIFY(didFire);
    QVERIFY(signalsDelivered.load() > 0);
    QVERIFY2(sentBefore < MaxSignals, qPrintable(QStringLiteral("fired only after all %1 signals").arg(sentBefore)));
}

void TestEpollDispatcher::manyConnectionsEcho()
{
    // More connections than one pass takes (256), each asking and hearing back once, then the
    // server hangs up on all of them.
    constexpr int Connections = 400;
    QTcpServer server;
    // With the default backlog (50) most connects overflow the accept queue and wait for SYN
    // retries (1 s, 3 s, 7 s, ...), which made the time-outs below a matter of luck.
    server.setListenBacklogSize(Connections);
    QVERIFY(server.listen(QHostAddress::LocalHost));
    std::vector<std::unique_ptr<QTcpSocket>> accepted;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *s = server.nextPendingConnection()) {
            connect(s, &QTcpSocket::readyRead, s, [s] { s->write(s->readAll()); });
            accepted.emplace_back(s);
        }
    });
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    int answered = 0;
    int lost = 0;
    for (int i = 0; i < Connections; ++i) {
        auto client = std::make_unique<QTcpSocket>();
        QTcpSocket *c = client.get();
        const QByteArray ask = QByteArray::number(i);
        connect(c, &QTcpSocket::connected, c, [c, ask] { c->write(ask); });
        connect(c, &QTcpSocket::readyRead, c, [c, ask, &answered] {
            if (c->bytesAvailable() >= ask.size() && c->readAll() == ask)
                ++answered;
        });
        connect(c, &QTcpSocket::disconnected, c, [&lost] { ++lost; });
        c->connectToHost(server.serverAddress(), server.serverPort());
        clients.push_back(std::move(client));
    }
    QTRY_COMPARE_WITH_TIMEOUT(answered, Connections, 20000);
    for (auto &s : accepted)
        s->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(lost, Connections, 20000);
}

void TestEpollDispatcher::eventPostedFromAnotherThreadWakesTheWait()
{
    // The other thread posts once this one sleeps, with nothing else due for 9 s: only the
    // wake-up ends the sleep in time.
    QObject receiver;
    QSignalSpy arrived(&receiver, &QObject::objectNameChanged);
    std::promise<void> asleep;
    bool told = false;
    const auto telling = connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this, [&] {
        if (!std::exchange(told, true))
            asleep.set_value();
    });
    std::thread poster([&receiver, sleeping = asleep.get_future()] {
        sleeping.wait();
        QMetaObject::invokeMethod(&receiver, [&receiver] { receiver.setObjectName(QStringLiteral("posted")); },
                                  Qt::QueuedConnection);
    });
    const bool woke = arrived.wait(9000);
    disconnect(telling);
    poster.join();
    QVERIFY(woke);
    QCOMPARE(receiver.objectName(), QStringLiteral("posted"));
}

int main(int argc, char *argv[])
{
    QCoreApplication::setEventDispatcher(new EpollEventDispatcher);
    QCoreApplication app(argc, argv);
    TestEpollDispatcher test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_epolldispatcher.moc"

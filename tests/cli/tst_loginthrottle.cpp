// How long an address is turned away after failed logins, on a clock the test moves.
#include "loginthrottle.h"

#include <QTest>

using namespace std::chrono_literals;
using qeln::LoginThrottle;

class TestLoginThrottle : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Steps: 'f' a failure, 's' a success, a number of seconds the clock moves on; after each
    // step the wait of the failing address (a) and of another (b), in seconds.
    void waits_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("waits");
        QTest::newRow("doubling to the cap") << "f f f f f f f" << "1/0 2/0 4/0 8/0 16/0 30/0 30/0";
        QTest::newRow("time passes") << "f 0.5 f 3" << "1/0 0.5/0 2/0 0/0";
        QTest::newRow("success forgets") << "f f s f" << "1/0 2/0 0/0 1/0";
        QTest::newRow("ten quiet minutes forget") << "f f f 601 f" << "1/0 2/0 4/0 0/0 1/0";
        QTest::newRow("nine do not") << "f f f 540 f" << "1/0 2/0 4/0 0/0 8/0";
    }
    void waits()
    {
        QFETCH(QString, steps);
        QFETCH(QString, waits);
        LoginThrottle throttle;
        auto now = LoginThrottle::Clock::time_point() + 1h;
        const QString a = QStringLiteral("192.0.2.1"), b = QStringLiteral("192.0.2.2");
        const auto seconds = [&](const QString &address) {
            return QString::number(std::chrono::duration<double>(throttle.wait(address, now)).count());
        };
        QStringList got;
        for (const QString &step : steps.split(QLatin1Char(' '))) {
            if (step == QLatin1String("f"))
                throttle.failed(a, now);
            else if (step == QLatin1String("s"))
                throttle.succeeded(a);
            else
                now += std::chrono::duration_cast<LoginThrottle::Clock::duration>(
                    std::chrono::duration<double>(step.toDouble()));
            got << seconds(a) + QLatin1Char('/') + seconds(b);
        }
        QCOMPARE(got.join(QLatin1Char(' ')), waits);
    }
};

QTEST_GUILESS_MAIN(TestLoginThrottle)
#include "tst_loginthrottle.moc"

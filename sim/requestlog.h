#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <cstdint>

namespace qeln::sim {

// One line per request the controllers receive, for tests and benchmarks that check who was
// asked what and when:
//     # qeln-sim request log; start 1765142287123.456 ms Unix time; ms index function
//     12.345 3 4
// milliseconds since the start (to the microsecond), the controller's index and the function
// code in decimal. Lines are kept in memory and written every second, when many are waiting,
// and when the log goes.
class RequestLog : public QObject {
    Q_OBJECT
public:
    explicit RequestLog(QObject *parent = nullptr);
    ~RequestLog() override;

    // Creates the file (an existing one is never overwritten) and starts the clock.
    bool open(const QString &path, QString *error);
    void record(int controller, std::uint8_t function);
    // Writes what is waiting; false (said once on standard error) when the file refuses it.
    bool flush();
    qint64 count() const { return records; }

private:
    QFile file;
    QElapsedTimer clock;
    QTimer flushTimer;
    QByteArray pending;
    qint64 records = 0;
    bool failed = false;
};

} // namespace qeln::sim

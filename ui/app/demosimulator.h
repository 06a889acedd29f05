#pragma once

#include <QString>

#include <memory>

namespace qeln {

// The simulated controller of demo mode, run inside the console's own process: the
// simulator's plant and protocol behind a TCP server on a free 127.0.0.1 port and a
// pseudo-terminal. The console reaches it only through those two links, as it would a plant.
class DemoSimulator {
public:
    DemoSimulator();
    ~DemoSimulator();
    DemoSimulator(const DemoSimulator &) = delete;
    DemoSimulator &operator=(const DemoSimulator &) = delete;

    // Before start(): a built-in scenario name or a scenario file, and the simulated seconds
    // per real second. False with a reason for an unknown scenario.
    bool setScenario(const QString &nameOrPath, QString *error);
    void setSpeed(double factor);
    // Opens both links and starts the plant; false with a reason when a link cannot open.
    bool start(QString *error);
    // "127.0.0.1:PORT", as the connection dialog's address field takes it.
    QString hostText() const;
    // The pseudo-terminal's device path, e.g. "/dev/pts/3".
    QString serialDevice() const;
    // After start(): puts this many older records (up to 5000 in all) before the alarm
    // history, so there is a log to download.
    void prefillHistory(int records);
    void prefillEvents(int records);

private:
    struct Parts;
    std::unique_ptr<Parts> d;
};

} // namespace qeln

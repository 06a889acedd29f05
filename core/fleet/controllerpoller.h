#pragma once

#include "app/consolestate.h"
#include "fleet/statussamples.h"
#include "link/answer.h"
#include "link/linkengine.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <memory>

namespace qeln {
class Transport;
}

namespace qeln::fleet {

// Where and how often one controller of a fleet is polled.
struct ControllerLink {
    QString name;     // the "controller" label
    bool tcp = true;
    QString host;     // TCP
    quint16 port = 502;
    QString device;   // serial
    int intervalMs = 10000;
    int timeoutMs = 2000;
    int offsetMs = 0; // where in the interval its polls start
};

// The outcome of one request, as `qeln_requests_total` counts it.
enum class PollResult { Ok, Timeout, Corrupt, Exception, LinkError };
inline constexpr int PollResultCount = 5;
const char *pollResultName(PollResult result); // "ok", "timeout", ...

// One controller of the fleet exporter: its own console state, link engine and link, polled
// with one status read per slot on a fixed grid (poll k starts at origin + offset + k ×
// interval; it never drifts). A poll that gets no status within the timeout counts as
// `timeout` and its late answer is thrown away; after n failures in a row the next poll is
// on the slot min(2^(n-1), 5) intervals on. It only ever reads: no write, no initialisation.
// What it knows is read from memory (samples(), up(), ...) and never sends anything.
class ControllerPoller : public QObject {
    Q_OBJECT
public:
    // `origin` is the start of the grid for every controller of the process (a steady clock).
    ControllerPoller(const ControllerLink &link, const QElapsedTimer &origin, QObject *parent = nullptr);
    ~ControllerPoller() override;

    void start();
    const ControllerLink &link() const { return link_; }

    bool up() const { return up_; }
    // The last good poll: its samples, when it ended (wall clock) and its round trip.
    const QList<Sample> &samples() const { return samples_; }
    const QDateTime &lastSuccess() const { return lastSuccess_; }
    double lastDurationSeconds() const { return lastDurationMs_ / 1000.0; }
    // The caption model text and the status-bar firmware text of the last good poll.
    const QString &model() const { return model_; }
    const QString &firmware() const { return firmware_; }
    const QString &lastError() const { return lastError_; }
    quint64 requests(PollResult result) const { return counts_[size_t(result)]; }
    int failuresInARow() const { return failures_; }
    // The start of the next poll, in ms of the origin's clock.
    qint64 nextSlotMs() const { return nextSlotMs_; }

Q_SIGNALS:
    // A poll ended, well or not, and the next one is scheduled (tests and the exporter's page).
    void pollEnded(qeln::fleet::PollResult result);

private:
    void schedule();
    void onSlot();
    void onStatusReceived();
    void onRequestFailed(const RequestFailure &failure);
    void onDeadline();
    void endPoll(PollResult result, const QString &error);

    ControllerLink link_;
    const QElapsedTimer &origin_;
    ConsoleState state_;
    LinkEngine engine_;
    std::unique_ptr<Transport> transport_;
    QTimer slotTimer_;
    QTimer deadline_;
    QElapsedTimer pollClock_;
    bool polling_ = false;  // a poll waits for its answer
    qint64 slot_ = -1;      // the index of the last poll's slot
    qint64 nextSlotMs_ = 0;
    int failures_ = 0;
    bool up_ = false;
    QList<Sample> samples_;
    QDateTime lastSuccess_;
    qint64 lastDurationMs_ = 0;
    QString model_;
    QString firmware_;
    QString lastError_;
    std::array<quint64, PollResultCount> counts_{};
};

} // namespace qeln::fleet

#pragma once

#include "app/consolestate.h"
#include "fleet/fleetcollector.h"
#include "fleet/fleetconfig.h"
#include "fleet/pollschedule.h"
#include "fleet/statussamples.h"
#include "link/answer.h"
#include "link/linkengine.h"
#include "plant/plantstatus.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace qeln {
class Transport;
}

namespace qeln::fleet {

// The outcome of one request, as `qeln_requests_total` counts it.
enum class PollResult { Ok, Timeout, Corrupt, Exception, LinkError };
inline constexpr int PollResultCount = 5;

// One controller of the fleet exporter: its own console state, link engine and link, polled
// with one status read per slot of its grid (PollSchedule: offset + k × interval on the Unix
// clock, back-off after failures, on its own slots). A poll that gets no status within the
// timeout counts as `timeout`; its late answer is thrown away (on TCP the next poll gets a
// fresh connection, so the answer cannot arrive into it). With a connection per poll, the TCP
// link is opened at the slot and closed when the poll ends, answered or not. It only ever
// reads: no write, no initialisation. What it knows is read from memory (snapshot()) and never
// sends anything; before its first poll ends it knows nothing, not even whether it is up.
class ControllerPoller : public QObject {
    Q_OBJECT
public:
    // `offset`: where in its interval its polls start (planOffsets spreads a fleet's).
    ControllerPoller(const ControllerConfig &config, std::chrono::milliseconds offset, QObject *parent = nullptr);
    ~ControllerPoller() override;

    void start();
    const ControllerConfig &config() const { return config_; }
    // A reload that changed only the labels: the poller, its counters and state stay.
    void setLabels(const QMap<QString, QString> &labels) { config_.labels = labels; }
    std::chrono::milliseconds offset() const { return schedule_.offset(); }
    // What the exporter publishes of it now.
    ControllerSnapshot snapshot() const;

    // Whether a poll has ended yet: until then nothing per poll is known, not even up().
    bool polled() const { return polled_; }
    bool up() const { return up_; }
    const QList<Sample> &samples() const { return samples_; }
    const QString &lastError() const { return lastError_; }
    quint64 requests(PollResult result) const { return counts_[size_t(result)]; }
    // The start of the next poll, in Unix milliseconds.
    std::int64_t nextSlotMs() const { return nextSlotMs_; }

Q_SIGNALS:
    // A poll ended, well or not, and the next one is scheduled.
    void pollEnded(qeln::fleet::PollResult result);
    // The controller answered after a failed poll (or for the first time), or stopped
    // answering after a good one (or at its first poll): `error` says why.
    void cameUp();
    void wentDown(const QString &error);

private:
    void schedule();
    void onSlot();
    void onAnswered(Ticket ticket, const Answer &answer);
    void onFailed(Ticket ticket, const RequestFailure &failure);
    void endPoll(PollResult result, const QString &error);

    ControllerConfig config_;
    PollSchedule schedule_;
    ConsoleState state_;
    LinkEngine engine_;
    std::unique_ptr<Transport> transport_;
    QTimer slotTimer_;
    QElapsedTimer pollClock_;
    bool polling_ = false; // a poll waits for its answer
    Ticket ticket_ = 0;    // the status read of that poll
    std::int64_t slot_ = 0;
    std::int64_t nextSlotMs_ = 0;
    bool polled_ = false;
    bool up_ = false;
    QList<Sample> samples_;
    std::optional<double> lastSuccessSeconds_;
    std::optional<double> lastDurationSeconds_;
    QString model_;
    QString firmware_;
    QString firmwareDate_;
    std::optional<double> clockOffsetSeconds_;
    QMap<QString, bool> alarmStates_;     // as last seen, by name
    QMap<QString, double> alarmChanges_;  // when each last changed
    std::vector<std::uint64_t> durationCounts_ = std::vector<std::uint64_t>(DurationBuckets.size(), 0);
    double durationSum_ = 0;
    std::uint64_t durationCount_ = 0;
    QString lastError_;
    std::array<quint64, PollResultCount> counts_{};
};

} // namespace qeln::fleet

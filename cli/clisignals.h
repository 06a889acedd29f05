#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QSocketNotifier;

namespace qeln {

// Turns POSIX signals into a Qt signal on the event loop: the handler only writes the signal's
// number into a pipe, which the loop reads. One watcher at a time per process (the handler has
// nowhere else to write); the signals go back to their default when it is destroyed.
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SignalWatcher() override;

    // False with the reason when the pipe cannot be made.
    bool watch(const QList<int> &signos, QString &reason);

Q_SIGNALS:
    void received(int signo);

private:
    void onReadable();

    QSocketNotifier *notifier_ = nullptr;
    QList<int> signals_;
};

} // namespace qeln

#include "clisignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace qeln {

namespace {

// The handler may only touch what is async-signal-safe: it writes the signal's number into
// this pipe, and the event loop reads it.
int signalPipe[2] = {-1, -1};

extern "C" void onSignalArrived(int signo)
{
    const int savedErrno = errno;
    const char byte = char(signo);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalWatcher::~SignalWatcher()
{
    if (!notifier_)
        return;
    for (const int signo : std::as_const(signals_))
        std::signal(signo, SIG_DFL);
    delete notifier_;
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

bool SignalWatcher::watch(const QList<int> &signos, QString &reason)
{
    if (signalPipe[0] >= 0) {
        reason = QStringLiteral("signals are watched already");
        return false;
    }
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        reason = QStringLiteral("cannot watch for signals: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    signals_ = signos;
    notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalWatcher::onReadable);
    struct sigaction action = {};
    action.sa_handler = onSignalArrived;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signo : signos)
        ::sigaction(signo, &action, nullptr);
    return true;
}

void SignalWatcher::onReadable()
{
    char bytes[16];
    ssize_t n = 0;
    while ((n = ::read(signalPipe[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i)
            Q_EMIT received(int(static_cast<unsigned char>(bytes[i])));
    }
}

} // namespace qeln

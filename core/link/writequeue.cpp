#include "linkengine.h"

#include "hextext.h"

#include <algorithm>

// The write queue of the link engine: a sequence started from a dialog's list, each write
// sent on the acknowledgement of the one before, and the ways a sequence ends.

namespace qeln {

namespace {
const QString SettingSuccess = QStringLiteral(" Setting Sucess!!");
} // namespace

void LinkEngine::StartWriteSequence()
{
    // On TCP a link found down is reconnected by the request itself.
    const int n = s_.WriteCount - 1;
    if (n <= 0 || n > WriteQueueCapacity)
        return;
    s_.WriteCount = n - 1;
    writeSequence_ = {true, n};
    SendWriteRequest(s_.WriteAddr[n - 1], s_.WriteValue[n - 1]);
}

bool LinkEngine::startWrites(const QList<RegisterWrite> &writes)
{
    if (writes.isEmpty() || writes.size() > WriteQueueCapacity || writeSequence_.running)
        return false;
    for (const RegisterWrite &w : writes) {
        if (w.address < 0 || w.address > 0xFFFF || w.value < 0 || w.value > 0xFFFF)
            return false;
    }
    s_.clearWriteQueue();
    for (const RegisterWrite &w : writes)
        s_.queueWrite(w.address, w.value);
    StartWriteSequence();
    return true;
}

void LinkEngine::endWriteSequence(bool ok, const QString &message)
{
    serialAckTimer_.stop();
    writeSequence_.running = false;
    outstandingWrite_.pending = false;
    Q_EMIT writeSequenceEnded(ok, message);
    show(ok ? MessageKind::Information : MessageKind::Warning, message);
}

void LinkEngine::writeAcknowledged(bool tcp)
{
    if (s_.WriteCount > WriteQueueCapacity)
        return;
    if (ackMatched_) {
        ackMatched_ = false;
        serialAckTimer_.stop();
        const RegisterWrite done{outstandingWrite_.address, outstandingWrite_.value};
        // The controller holds what it echoed: the contact dialogs show it from now on, not
        // the masks of the last status decode.
        constexpr int FirstMask = 80;
        if (done.address >= FirstMask && done.address < FirstMask + int(s_.ContactAlarmMasks.size()))
            s_.ContactAlarmMasks[done.address - FirstMask] = done.value;
        if (writeSequence_.running)
            Q_EMIT writeConfirmed(done);
    }
    if (s_.WriteCount > 0) {
        if (!writeSequence_.running) {
            // A queue that no sequence has started (a dialog that stopped before sending)
            // is not sent by a stray acknowledgement.
            line("Drop >> acknowledgement with no write sequence running");
            return;
        }
        if (tcp) {
            --s_.WriteCount;
            SendWriteRequest(s_.WriteAddr[s_.WriteCount], s_.WriteValue[s_.WriteCount]);
        } else {
            SendWriteRequest(s_.WriteAddr[s_.WriteCount - 1], s_.WriteValue[s_.WriteCount - 1]);
            --s_.WriteCount;
        }
    } else if (s_.WriteCount == 0) {
        if (writeSequence_.running)
            endWriteSequence(true, SettingSuccess);
        else
            show(MessageKind::Information, SettingSuccess);
    }
}

void LinkEngine::writeRefused(int function, int exceptionCode)
{
    if (!(writeSequence_.running && outstandingWrite_.pending)) {
        line("Drop >> exception answer " + IntToHexFixed(function, 2) + " with no write in flight");
        return;
    }
    serialAckTimer_.stop();
    static const char *const names[] = {"", "illegal function", "illegal data address",
                                        "illegal data value", "server device failure",
                                        "acknowledge", "server device busy"};
    const QString code = exceptionCode < 0 ? QStringLiteral("?") : QString::number(exceptionCode, 16).rightJustified(2, QLatin1Char('0')).toUpper();
    const QString name = exceptionCode > 0 && exceptionCode < 7 ? QLatin1String(names[exceptionCode])
                                                                : QStringLiteral("unknown exception");
    const int done = writeSequence_.total - s_.WriteCount - 1;
    endWriteSequence(false, QStringLiteral("The controller refused the write of register %1 (value %2): "
                                           "exception %3 (%4). %5 of %6 settings were written; the rest "
                                           "were not sent.")
                                .arg(outstandingWrite_.address)
                                .arg(outstandingWrite_.value)
                                .arg(code, name)
                                .arg(std::max(done, 0))
                                .arg(writeSequence_.total));
}

void LinkEngine::onSerialAckTimeout()
{
    if (!(writeSequence_.running && outstandingWrite_.pending) || s_.LinkIsTcp != 0)
        return;
    const int done = writeSequence_.total - s_.WriteCount - 1;
    endWriteSequence(false, QStringLiteral("No acknowledgement of the write of register %1 (value %2) "
                                           "within %3 s. %4 of %5 settings were written; the rest were "
                                           "not sent. Check the link and the controller.")
                                .arg(outstandingWrite_.address)
                                .arg(outstandingWrite_.value)
                                .arg(SerialAckTimeoutMs / 1000)
                                .arg(std::max(done, 0))
                                .arg(writeSequence_.total));
}

bool LinkEngine::echoesOutstandingWrite(int address, int value)
{
    // A write is acknowledged by the echo of its register and value. An answer that names
    // another register or value is not the acknowledgement of this write: taking it as one
    // would report a setting as made that the controller did not make.
    ackMatched_ = false;
    if (!outstandingWrite_.pending)
        return true;
    if (address != outstandingWrite_.address || value != outstandingWrite_.value) {
        line("Drop >> acknowledgement " + IntToHexFixed(std::max(address, 0), 4) + " "
             + IntToHexFixed(std::max(value, 0), 4) + " does not echo the write of "
             + IntToHexFixed(outstandingWrite_.address, 4) + " " + IntToHexFixed(outstandingWrite_.value, 4));
        return false;
    }
    outstandingWrite_.pending = false;
    ackMatched_ = true;
    return true;
}

} // namespace qeln

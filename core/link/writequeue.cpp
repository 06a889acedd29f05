#include "linkengine.h"

#include "hextext.h"

#include <algorithm>

// The write queue of the link engine: a sequence started from a dialog's list, each write
// sent on the acknowledgement of the one before, and the ways a sequence ends.

namespace qeln {

namespace {
const QString SettingSuccess = QStringLiteral(" Setting Sucess!!");
} // namespace

bool LinkEngine::startWrites(const QList<RegisterWrite> &writes, const QString &source)
{
    if (writes.isEmpty() || writes.size() > WriteQueueCapacity || writeSequence_.running)
        return false;
    for (const RegisterWrite &w : writes) {
        if (w.address < 0 || w.address > 0xFFFF || w.value < 0 || w.value > 0xFFFF)
            return false;
    }
    writes_ = writes;
    writeSource_ = source;
    // The last entry goes first; writeCount_ counts the entries still to send.
    const int n = int(writes.size());
    writeCount_ = n - 1;
    writeSequence_ = {true, n};
    // On TCP a link found down is reconnected by the request itself.
    sendRegisterWrite(writes_[n - 1]);
    return true;
}

void LinkEngine::sendRegisterWrite(const RegisterWrite &write)
{
    outstandingWrite_ = {write, true};
    send({requests::registerWrite(write.address, write.value), 0, 0});
    if (link() == LinkKind::Serial && writeSequence_.running)
        serialAckTimer_.start();
}

void LinkEngine::endWriteSequence(bool ok, const QString &message)
{
    serialAckTimer_.stop();
    writeSequence_.running = false;
    outstandingWrite_.pending = false;
    Q_EMIT writeSequenceEnded(ok, message);
    show(ok ? MessageKind::Information : MessageKind::Warning, message);
}

void LinkEngine::ackWrite(int address, int value)
{
    if (!outstandingWrite_.pending) {
        // No write is waiting for this: either one whose sequence was already reported failed
        // (the operator must learn that it was written after all), or none sent on this link.
        const RegisterWrite echoed{address, value};
        if (failedWrites_.removeOne(echoed)) {
            const QString text = QStringLiteral("The controller acknowledged register %1 late: it was written "
                                                "(value %2). Check the controller's settings.")
                                     .arg(address)
                                     .arg(value);
            line("Late >> acknowledgement " + IntToHexFixed(std::max(address, 0), 4) + " "
                 + IntToHexFixed(std::max(value, 0), 4));
            show(MessageKind::Warning, text);
        } else {
            line("Drop >> acknowledgement " + IntToHexFixed(std::max(address, 0), 4) + " "
                 + IntToHexFixed(std::max(value, 0), 4) + " of no write sent on this link");
        }
        return;
    }
    outstandingWrite_.pending = false;
    serialAckTimer_.stop();
    const RegisterWrite done{address, value};
    // The controller holds what it echoed: the contact dialogs show it from now on, not the
    // masks of the last status decode.
    constexpr int FirstMask = 80;
    if (done.address >= FirstMask && done.address < FirstMask + int(s_.ContactAlarmMasks.size()))
        s_.ContactAlarmMasks[done.address - FirstMask] = done.value;
    if (!writeSequence_.running)
        return;
    Q_EMIT writeAcknowledged(done);
    if (writeCount_ > 0) {
        --writeCount_;
        sendRegisterWrite(writes_[writeCount_]);
    } else {
        endWriteSequence(true, SettingSuccess);
    }
}

void LinkEngine::refuseWrite(int exceptionCode)
{
    if (!(writeSequence_.running && outstandingWrite_.pending)) {
        line("Drop >> exception answer 86 with no write in flight");
        return;
    }
    serialAckTimer_.stop();
    const RegisterWrite refused = outstandingWrite_.write;
    const int done = writeSequence_.total - writeCount_ - 1;
    Q_EMIT writeRefused(refused, exceptionCode);
    endWriteSequence(false, QStringLiteral("The controller refused the write of register %1 (value %2): "
                                           "%3. %4 of %5 settings were written; the rest were not sent.")
                                .arg(refused.address)
                                .arg(refused.value)
                                .arg(exceptionText(exceptionCode))
                                .arg(std::max(done, 0))
                                .arg(writeSequence_.total));
}

void LinkEngine::onSerialAckTimeout()
{
    if (!(writeSequence_.running && outstandingWrite_.pending) || link() != LinkKind::Serial)
        return;
    const int done = writeSequence_.total - writeCount_ - 1;
    failedWrites_.append(outstandingWrite_.write);
    endWriteSequence(false, QStringLiteral("No acknowledgement of the write of register %1 (value %2) "
                                           "within %3 s. %4 of %5 settings were written; the rest were "
                                           "not sent. Check the link and the controller.")
                                .arg(outstandingWrite_.write.address)
                                .arg(outstandingWrite_.write.value)
                                .arg(SerialAckTimeoutMs / 1000)
                                .arg(std::max(done, 0))
                                .arg(writeSequence_.total));
}

} // namespace qeln

#include "clirunner.h"

#include "clilink.h"
#include "link/transport.h"
#include "monitor/statusview.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace qeln {

using cliargs::fail;

bool CliRunner::parseStatus(const QStringList &args, CliArgs &out, QString &error)
{
    out.command = CliArgs::Command::Status;
    for (cliargs::ArgCursor c(args, out.trace); c.next();) {
        if (c.arg() != QLatin1String("--json"))
            return cliargs::unexpected(error, QStringLiteral("status"), c.arg());
        out.json = true;
    }
    return true;
}

bool CliRunner::parseWrite(const QStringList &args, CliArgs &out, QString &error)
{
    out.command = CliArgs::Command::Write;
    for (cliargs::ArgCursor c(args, out.trace); c.next();) {
        const QString &w = c.arg();
        const qsizetype eq = w.indexOf(QLatin1Char('='));
        int reg = 0;
        int value = 0;
        if (eq < 0)
            return fail(error, QStringLiteral("write: '%1' is not REG=VALUE").arg(w));
        if (!cliargs::parseNumber(w.left(eq), 1, 131, reg))
            return fail(error, QStringLiteral("write: register '%1' is not a number in 1..131").arg(w.left(eq)));
        if (!cliargs::parseNumber(w.mid(eq + 1), 0, 65535, value))
            return fail(error, QStringLiteral("write: value '%1' is not a number in 0..65535").arg(w.mid(eq + 1)));
        out.writes.append({reg, value});
    }
    if (out.writes.isEmpty())
        return fail(error, QStringLiteral("write: nothing to write (REG=VALUE ...)"));
    if (out.writes.size() > WriteQueueCapacity)
        return fail(error, QStringLiteral("write: at most %1 registers at a time").arg(WriteQueueCapacity));
    return true;
}

CliRunner::CliRunner(const CliArgs &args, QObject *parent)
    : CliCommand(args, parent)
{
    connect(&engine_, &LinkEngine::statusReceived, this, &CliRunner::onStatusDecoded);
    connect(&engine_, &LinkEngine::messageRequested, this, &CliRunner::onMessage);
    connect(&engine_, &LinkEngine::requestFailed, this, &CliRunner::onRequestFailed);
    connect(&engine_, &LinkEngine::writeSequenceEnded, this, &CliRunner::onWriteSequenceEnded);
    connect(&engine_, &LinkEngine::writeRefused, this, [this] { refused_ = true; });
}

void CliRunner::linkOpened()
{
    if (args_.command == CliArgs::Command::Status) {
        startStatusPoll(false);
        deadline_.start(StatusWaitMs);
        return;
    }

    // As a settings dialog does: hold the poll, then the writes in the order given; the last
    // one goes first.
    holdPolling();
    QList<RegisterWrite> writes;
    for (const auto &[reg, value] : args_.writes)
        writes.append({reg, value});
    // Each request gets its own wait for the acknowledgement. On TCP the read time-out of
    // the exchange answers first; the deadline there only guards against a link that
    // neither answers nor fails.
    const int wait = args_.link.tcp ? TcpAckGuardMs : SerialAckWaitMs;
    connect(&engine_, &LinkEngine::requestSent, this, [this, wait] { deadline_.start(wait); });
    deadline_.start(wait);
    if (!engine_.startWrites(writes, QStringLiteral("qeln-cli write")))
        finish(2, QStringLiteral("the writes could not be queued"));
}

void CliRunner::onWriteSequenceEnded(bool ok, const QString &message)
{
    if (args_.command != CliArgs::Command::Write || done())
        return;
    if (ok) {
        printLine(stdout, message);
        finish(0);
    } else if (refused_) {
        finish(1, message);
    } else {
        // The message says which write and why (a time-out, a lost link).
        finish(1, QStringLiteral("no acknowledgement from %1: %2").arg(transport_->description(), message));
    }
}

void CliRunner::onStatusDecoded()
{
    if (args_.command != CliArgs::Command::Status || done())
        return;
    printStatus();
    finish(0);
}

void CliRunner::printStatus()
{
    QString out;
    const int count = state_.StatusRegisterCount;
    if (args_.json) {
        // The texts, visibility and alarms come from the same decode as the window's.
        const StatusView view = decodeStatusView(state_);
        QJsonArray registers;
        for (int n = 0; n < count; ++n)
            registers.append(state_.StatusRegisters[n]);
        QJsonObject texts;
        for (auto it = view.texts.cbegin(); it != view.texts.cend(); ++it)
            texts.insert(it.key(), it.value());
        QJsonObject visible;
        for (auto it = view.visible.cbegin(); it != view.visible.cend(); ++it)
            visible.insert(it.key(), it.value());
        QJsonObject root;
        root.insert(QStringLiteral("registers"), registers);
        root.insert(QStringLiteral("texts"), texts);
        root.insert(QStringLiteral("visible"), visible);
        root.insert(QStringLiteral("alarms"), QJsonArray::fromStringList(view.activeAlarms));
        out = QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented)).trimmed();
    } else {
        for (int n = 0; n < count; ++n) {
            if (n)
                out += QLatin1Char('\n');
            out += QString::number(n + 1) + QLatin1Char(' ') + QString::number(state_.StatusRegisters[n]);
        }
    }
    printLine(stdout, out);
}

void CliRunner::onMessage(MessageKind, const QString &text)
{
    if (args_.trace)
        printLine(stderr, QStringLiteral("message: ") + text);
}

void CliRunner::onRequestFailed(const RequestFailure &failure)
{
    // A TCP write that got no answer (a refusal ends the write sequence instead).
    if (args_.command == CliArgs::Command::Write && engine_.link() == LinkKind::Tcp
        && failure.fault != AnswerFault::Exception)
        finish(1, QStringLiteral("no acknowledgement from %1: %2").arg(transport_->description(), failure.reason));
}

void CliRunner::deadlinePassed()
{
    if (args_.command == CliArgs::Command::Status)
        finish(1, QStringLiteral("no valid status response from %1 within %2 s")
                      .arg(transport_->description())
                      .arg(StatusWaitMs / 1000));
    else
        finish(1, QStringLiteral("no acknowledgement from %1 within %2 s")
                      .arg(transport_->description())
                      .arg(deadline_.interval() / 1000));
}

} // namespace qeln

#include "clisettings.h"

#include "clilink.h"
#include "app/inputfile.h"
#include "config/clocksetting.h"
#include "config/factoryinit.h"
#include "config/measurement.h"
#include "link/transport.h"
#include "monitor/statusview.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QRegularExpression>

namespace qeln {

namespace settings = config::settings;

namespace {

using Command = CliArgs::Command;

QString writesText(const QList<RegisterWrite> &writes)
{
    // In the order the controller receives them: the engine sends the last entry first.
    QStringList parts;
    for (auto it = writes.crbegin(); it != writes.crend(); ++it)
        parts << QStringLiteral("%1=%2").arg(it->address).arg(it->value);
    return parts.join(QLatin1Char(' '));
}

void printChanges(const settings::Diff &d)
{
    for (const settings::Change &c : d.changes) {
        QString line = QStringLiteral("%1: %2 -> %3").arg(c.key, c.from, c.to);
        if (!c.unit.isEmpty())
            line += QLatin1Char(' ') + c.unit;
        printLine(stdout, line);
    }
}

using cliargs::fail;
using cliargs::unexpected;

// One settings file, or KEY=VALUE assignments; not both.
bool parseSettingsApply(const QStringList &args, CliArgs &out, QString &error)
{
    out.command = Command::SettingsApply;
    ConfigOptions &o = out.config;
    for (const QString &a : args) {
        if (a.startsWith(QLatin1Char('-')))
            return unexpected(error, QStringLiteral("settings apply"), a);
        if (a.contains(QLatin1Char('=')))
            o.assignments << a;
        else if (o.file.isEmpty())
            o.file = a;
        else
            return unexpected(error, QStringLiteral("settings apply"), a);
    }
    if (o.file.isEmpty() == o.assignments.isEmpty())
        return fail(error, QStringLiteral("settings apply: give one settings file or KEY=VALUE assignments"));
    return true;
}

} // namespace

bool CliSettings::parseSettings(const QStringList &args, CliArgs &out, QString &error)
{
    const QStringList words = cliargs::wordsWithoutTrace(args, out.trace);
    // --help anywhere wins over everything else given.
    if (words.contains(QLatin1String("--help"))) {
        out.command = Command::SettingsHelp;
        return true;
    }
    const QString sub = words.value(0);
    const QStringList tail = words.mid(1);
    if (sub == QLatin1String("show")) {
        out.command = Command::SettingsShow;
        for (const QString &a : tail) {
            if (a != QLatin1String("--json"))
                return unexpected(error, QStringLiteral("settings show"), a);
            out.json = true;
        }
        return true;
    }
    if (sub == QLatin1String("diff")) {
        out.command = Command::SettingsDiff;
        if (tail.size() != 1 || tail[0].startsWith(QLatin1Char('-')))
            return fail(error, QStringLiteral("settings diff: give one settings file (FILE.json)"));
        out.config.file = tail[0];
        return true;
    }
    if (sub == QLatin1String("apply"))
        return parseSettingsApply(tail, out, error);
    return fail(error, sub.isEmpty() ? QStringLiteral("settings: say show, diff or apply")
                                     : QStringLiteral("settings: unknown subcommand '%1' (show, diff, apply)").arg(sub));
}

bool CliSettings::parseClock(const QStringList &args, CliArgs &out, QString &error)
{
    const QStringList words = cliargs::wordsWithoutTrace(args, out.trace);
    const QString sub = words.value(0);
    if (sub == QLatin1String("sync")) {
        out.command = Command::ClockSync;
        return words.size() == 1 || unexpected(error, QStringLiteral("clock sync"), words[1]);
    }
    if (sub != QLatin1String("set"))
        return fail(error, QStringLiteral("clock: say set YYYY-MM-DDTHH:MM:SS or sync"));
    out.command = Command::ClockSet;
    static const QRegularExpression form(QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}$"));
    if (words.size() != 2 || !form.match(words[1]).hasMatch())
        return fail(error, QStringLiteral("clock set: give the time as YYYY-MM-DDTHH:MM:SS"));
    out.config.clockTime = words[1];
    return true;
}

bool CliSettings::parseCalibrate(const QStringList &args, CliArgs &out, QString &error)
{
    out.command = Command::Calibrate;
    for (const QString &a : cliargs::wordsWithoutTrace(args, out.trace)) {
        if (a.indexOf(QLatin1Char('=')) <= 0)
            return fail(error, QStringLiteral("calibrate: '%1' is not KEY=VALUE").arg(a));
        out.config.assignments << a;
    }
    if (out.config.assignments.isEmpty())
        return fail(error, QStringLiteral("calibrate: nothing to calibrate (KEY=VALUE ...)"));
    return true;
}

bool CliSettings::parseFactory(const QStringList &args, CliArgs &out, QString &error)
{
    out.command = Command::Factory;
    QString &choice = out.config.factoryChoice;
    bool yes = false;
    for (const QString &a : cliargs::wordsWithoutTrace(args, out.trace)) {
        if (a == QLatin1String("--yes"))
            yes = true;
        else if (choice.isEmpty() && (a == QLatin1String("reset") || a == QLatin1String("config")))
            choice = a;
        else
            return unexpected(error, QStringLiteral("factory"), a);
    }
    if (choice.isEmpty())
        return fail(error, QStringLiteral("factory: say reset or config"));
    if (!yes)
        return fail(error, QStringLiteral("factory %1: nothing was sent; add --yes to confirm (%2)")
                               .arg(choice, choice == QLatin1String("reset")
                                                ? QStringLiteral("the controller restarts")
                                                : QStringLiteral("the controller's settings return to their factory values")));
    return true;
}

CliSettings::CliSettings(const CliArgs &args, QObject *parent)
    : CliCommand(args, parent)
{
    connect(&engine_, &LinkEngine::statusReceived, this, &CliSettings::onStatusDecoded);
    connect(&engine_, &LinkEngine::requestSent, this, &CliSettings::onRequestSent);
    connect(&engine_, &LinkEngine::writeSequenceEnded, this, &CliSettings::onWriteSequenceEnded);
}

bool CliSettings::needsStatus() const
{
    switch (args_.command) {
    case Command::SettingsShow:
    case Command::SettingsDiff:
    case Command::SettingsApply:
    case Command::Calibrate:
        return true;
    default:
        return false;
    }
}

void CliSettings::start()
{
    if (prepare())
        CliCommand::start();
}

bool CliSettings::prepare()
{
    QString error;
    switch (args_.command) {
    case Command::SettingsDiff:
    case Command::SettingsApply:
        if (!args_.config.file.isEmpty()) {
            QByteArray bytes;
            if (!inputfile::read(args_.config.file, inputfile::DocumentLimit, bytes, error))
                break;
            if (!settings::parseDocument(bytes, wanted_, error))
                error = QStringLiteral("%1: %2").arg(args_.config.file, error);
        } else {
            settings::parseAssignments(args_.config.assignments, wanted_, error);
        }
        break;
    case Command::ClockSet: {
        // YYYY-MM-DDTHH:MM:SS, its form checked by the argument parser.
        const QString &t = args_.config.clockTime;
        config::clocksetting::Fields f;
        f.year = t.mid(0, 4);
        f.month = t.mid(5, 2);
        f.day = t.mid(8, 2).toInt();
        f.hour = t.mid(11, 2);
        f.minute = t.mid(14, 2);
        f.second = t.mid(17, 2);
        plan_ = f.day > 0 ? config::clocksetting::plan(f)
                          : config::WritePlan::refuse(QStringLiteral("day 00 is outside 1..31"));
        if (plan_.refused())
            error = QStringLiteral("clock set %1: %2").arg(t, plan_.refusal);
        else if (plan_.writes.isEmpty())
            error = QStringLiteral("clock set: '%1' is not a date and time").arg(t);
        break;
    }
    case Command::Factory:
        plan_ = config::factoryinit::plan(config::factoryinit::choiceFromKey(args_.config.factoryChoice));
        break;
    default:
        break;
    }
    if (error.isEmpty())
        return true;
    finish(2, refusalText(error));
    return false;
}

void CliSettings::linkOpened()
{
    if (needsStatus()) {
        phase_ = Phase::Poll;
        startStatusPoll(true);
        deadline_.start(StatusWaitMs);
        return;
    }
    if (args_.command == Command::ClockSync) {
        // The PC clock as late as possible, so the controller is as close to it as it gets.
        const QDateTime now = QDateTime::currentDateTime();
        plan_ = config::clocksetting::plan(now);
        if (plan_.refused()) {
            finish(2, QStringLiteral("clock sync: ") + refusalText(plan_.refusal));
            return;
        }
        printLine(stdout, QStringLiteral("clock: ") + now.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
    }
    startWriting(plan_);
}

void CliSettings::onStatusDecoded()
{
    if (done())
        return;
    if (phase_ == Phase::Poll) {
        // Hold the poll from here on, as a dialog does while it is open.
        engine_.stopPolling();
        holdPolling();
        deadline_.stop();
        decodeStatusView(state_); // the contacts' masks, as the window's decode keeps them
        afterPoll();
    } else if (phase_ == Phase::ReadBack && readBackSent_) {
        engine_.stopPolling();
        holdPolling();
        checkReadBack();
    }
}

void CliSettings::onRequestSent()
{
    if (phase_ == Phase::Writing)
        deadline_.start(WriteGuardMs);
    else if (phase_ == Phase::ReadBack)
        readBackSent_ = true;
}

void CliSettings::afterPoll()
{
    switch (args_.command) {
    case Command::SettingsShow:
        if (args_.json)
            printLine(stdout, QString::fromUtf8(QJsonDocument(settings::toJson(state_)).toJson(QJsonDocument::Indented)).trimmed());
        else
            printLine(stdout, settings::toText(state_).trimmed());
        finish(0);
        return;
    case Command::SettingsDiff:
    case Command::SettingsApply: {
        const settings::Diff d = settings::diff(state_, wanted_);
        if (d.plan.refused()) {
            finish(2, refusalText(d.plan.refusal));
            return;
        }
        if (d.plan.writes.isEmpty()) {
            printLine(stdout, QStringLiteral("no changes; nothing %1").arg(args_.command == Command::SettingsDiff ? QStringLiteral("to send") : QStringLiteral("was sent")));
            finish(0);
            return;
        }
        printChanges(d);
        printLine(stdout, QStringLiteral("writes: ") + writesText(d.plan.writes));
        if (args_.command == Command::SettingsDiff)
            finish(0);
        else
            startWriting(d.plan);
        return;
    }
    case Command::Calibrate: {
        QList<QPair<QString, QString>> pairs;
        for (const QString &a : args_.config.assignments) {
            const qsizetype eq = a.indexOf(QLatin1Char('='));
            pairs.append({a.left(eq), a.mid(eq + 1)});
        }
        const config::WritePlan p = config::measurement::planAssignments(pairs, state_.ModelCode());
        if (p.refused()) {
            finish(2, QStringLiteral("calibrate: ") + refusalText(p.refusal));
            return;
        }
        if (p.writes.isEmpty()) {
            // As in the dialog, a zero reference for AC voltage, AC current or DC voltage is
            // not written.
            printLine(stdout, QStringLiteral("nothing to send: a zero reference for ac_voltage, ac_current "
                                             "or dc_voltage is not written"));
            finish(0);
            return;
        }
        printLine(stdout, QStringLiteral("writes: ") + writesText(p.writes));
        startWriting(p);
        return;
    }
    default:
        finish(2, QStringLiteral("internal: no status needed for this command"));
    }
}

void CliSettings::startWriting(const config::WritePlan &plan)
{
    if (plan.refused()) {
        finish(2, refusalText(plan.refusal));
        return;
    }
    if (plan.writes.isEmpty()) {
        finish(0);
        return;
    }
    phase_ = Phase::Writing;
    engine_.stopPolling();
    holdPolling();
    written_ = plan.writes;
    deadline_.start(WriteGuardMs);
    if (!engine_.startWrites(plan.writes, QStringLiteral("qeln-cli ") + args_.commandName))
        finish(1, QStringLiteral("the write sequence could not be started; nothing was sent"));
}

void CliSettings::onWriteSequenceEnded(bool ok, const QString &message)
{
    if (done() || phase_ != Phase::Writing)
        return;
    if (!ok) {
        finish(1, message);
        return;
    }
    printLine(stdout, message);
    if (args_.command == Command::SettingsApply)
        readBack();
    else
        finish(0);
}

void CliSettings::readBack()
{
    phase_ = Phase::ReadBack;
    readBackSent_ = false;
    deadline_.start(StatusWaitMs);
    startStatusPoll(true);
}

void CliSettings::checkReadBack()
{
    // The controller takes the list from its end: the entry nearest the front is the last
    // one it received for its register.
    QList<RegisterWrite> last;
    for (const RegisterWrite &w : written_) {
        if (std::none_of(last.cbegin(), last.cend(), [&](const RegisterWrite &x) { return x.address == w.address; }))
            last << w;
    }
    int wrong = 0;
    for (const RegisterWrite &w : last) {
        const int now = w.address >= 1 && w.address <= StatusRegisterSlots ? state_.StatusRegisters[size_t(w.address - 1)] : -1;
        if (now == w.value)
            continue;
        ++wrong;
        printLine(stderr, QStringLiteral("register %1 (%2): wrote %3, reads back %4")
                              .arg(w.address)
                              .arg(settings::keyOfRegister(w.address))
                              .arg(w.value)
                              .arg(now));
    }
    if (wrong > 0) {
        finish(1, QStringLiteral("%1 of %2 written registers do not hold the value written: the controller "
                                 "changed, clamped or ignored them")
                      .arg(wrong)
                      .arg(last.size()));
        return;
    }
    printLine(stdout, QStringLiteral("read back: %1/%1 registers hold the values written").arg(last.size()));
    finish(0);
}

void CliSettings::deadlinePassed()
{
    const QString link = transport_ ? transport_->description() : QString();
    switch (phase_) {
    case Phase::Writing:
        finish(1, QStringLiteral("no acknowledgement from %1 within %2 s").arg(link).arg(WriteGuardMs / 1000));
        break;
    case Phase::ReadBack:
        finish(1, QStringLiteral("the writes were acknowledged, but no status came from %1 within %2 s to read "
                                 "them back")
                      .arg(link)
                      .arg(StatusWaitMs / 1000));
        break;
    default:
        finish(1, QStringLiteral("no valid status response from %1 within %2 s").arg(link).arg(StatusWaitMs / 1000));
        break;
    }
}

QString CliSettings::helpText()
{
    QString calibration;
    for (const config::measurement::Item &i : config::measurement::items()) {
        calibration += QStringLiteral("  %1  %2, format %3 (register %4)%5\n")
                           .arg(QString::fromLatin1(i.key).leftJustified(26), i.unit, i.format)
                           .arg(i.address)
                           .arg(i.acOnly ? QStringLiteral(", models 3 and 4 only") : QString());
    }
    return QStringLiteral(
               "Usage: qeln-cli --link LINK settings show [--json]\n"
               "       qeln-cli --link LINK settings diff FILE.json\n"
               "       qeln-cli --link LINK settings apply FILE.json | KEY=VALUE ...\n"
               "\n"
               "The controller's configuration under stable keys: the operation and alarm settings\n"
               "(frmPoint_Setting), the contact options (frmRepair), each contact's alarms\n"
               "(frmDefine) and the alarm test (frmAlarmTest). apply writes only what changes, with\n"
               "the dialogs' own checks and write lists; then one status poll reads every written\n"
               "register back. Any bad key or value: exit 2, nothing sent. A refused or unanswered\n"
               "write: exit 1 at once with the link's message. A register that does not read back\n"
               "as written: reported, exit 1.\n"
               "\n"
               "VALUES\n"
               "  numbers   as typed in the dialog (\"46.5\"); checked against the range below\n"
               "  lists     the entry's text, exactly (\"TEST 모드\", \"OFF\", \"3\"); not its position\n"
               "  alarms    alarm keys: a JSON array, or comma-separated on the command line\n"
               "            (contact_5_alarms= for none)\n"
               "A file is a JSON object {\"KEY\": VALUE, ...}; a VALUE may also be an object with\n"
               "a member \"value\" (what 'settings show --json' prints, so its output can be applied\n"
               "as it stands) or null (left as it is); each key once, the file at most 1 MB. A\n"
               "value equal to the current one is no change and is not checked. A number finer\n"
               "than its register keeps is refused, never cut (3.99 A: this setting takes steps of\n"
               "0.1 A). The ranges are those that hold once everything given is applied: the output\n"
               "voltage's follows the charge mode given, else the controller's; contacts 5 and 6\n"
               "follow the alarm output type likewise, which exists on models 3 and 4 only.\n"
               "\n"
               "WRITE ORDER (as the controller receives them)\n"
               "  contacts 6..1 (word B, word A), alarm output type, contacts' normal state, the\n"
               "  operation settings from the last line of the dialog to the first, then the alarm\n"
               "  test (masks 73, 72, then on/off 71): an alarm a new threshold raises already\n"
               "  drives the new contacts, and an alarm test is switched on last.\n"
               "Not settings: the forced discharge test and the task-fail reset are one-shot\n"
               "commands; send them with 'write 92=1|2|3' and 'write 31=255'.\n"
               "\n"
               "KEYS\n")
        + settings::helpText()
        + QStringLiteral("\nCALIBRATION (qeln-cli calibrate KEY=VALUE ...; one status poll first)\n")
        + calibration
        + QStringLiteral("\nCLOCK: clock set YYYY-MM-DDTHH:MM:SS (year 2001..2999) | clock sync (the PC's clock)\n"
                         "FACTORY: factory reset|config --yes (register 127: 1 reset, 2 settings back to factory)\n");
}

} // namespace qeln

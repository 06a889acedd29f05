#include "cliip.h"

#include "clilink.h"
#include "app/inputfile.h"
#include "link/hextext.h"
#include "link/transport.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QRegularExpression>

namespace qeln {

namespace {

const QStringList &readOnlyKeys()
{
    static const QStringList keys = {QStringLiteral("saved_ip"), QStringLiteral("saved_mac"),
                                     QStringLiteral("saved_ip_mac"), QStringLiteral("saved_rectifier_id"),
                                     QStringLiteral("firmware")};
    return keys;
}

// The text of one field as the CLI prints it; null when the block did not reach it.
QJsonValue fieldValue(const IpSettingsReadBack &r, const QString &key)
{
    auto given = [&](IpField f, const QString &text) { return r.has(f) ? QJsonValue(text) : QJsonValue(); };
    if (key == QLatin1String("mac"))
        return given(IpField::Mac, r.macText);
    if (key == QLatin1String("ip"))
        return given(IpField::Ip, ipDottedPlain(r.ip));
    if (key == QLatin1String("mask"))
        return given(IpField::Mask, ipDottedPlain(r.mask));
    if (key == QLatin1String("gateway"))
        return given(IpField::Gateway, ipDottedPlain(r.gateway));
    if (key == QLatin1String("hw_description"))
        return given(IpField::HwDescription, r.hwDescriptionText);
    if (key == QLatin1String("serial_number"))
        return given(IpField::SerialNumber, r.serialNumberText);
    if (key == QLatin1String("hw_version"))
        return given(IpField::HwVersion, ipDottedPlain(r.hwVersion));
    if (key == QLatin1String("rectifier_id"))
        return given(IpField::RectifierId, r.rectifierIdText);
    if (key == QLatin1String("site"))
        return given(IpField::Site, r.siteText);
    if (key == QLatin1String("saved_ip"))
        return given(IpField::SavedIp, ipDottedPlain(r.savedIp));
    if (key == QLatin1String("saved_mac"))
        return given(IpField::SavedMac, r.savedMacText);
    if (key == QLatin1String("saved_ip_mac"))
        return given(IpField::SavedIpMac, r.savedIpMacText);
    if (key == QLatin1String("saved_rectifier_id"))
        return given(IpField::SavedRectifierId, r.savedRectifierIdText);
    if (key == QLatin1String("firmware"))
        return given(IpField::Firmware, r.firmwareText);
    return QJsonValue();
}

template <std::size_t N>
bool splitInto(const QString &key, const QString &value, const QRegularExpression &separator,
               std::array<QString, N> &out, const char *example, QString &error)
{
    const QStringList parts = value.split(separator);
    if (parts.size() != qsizetype(N)) {
        error = QStringLiteral("%1: '%2' is not %3 parts (like %4)").arg(key, value).arg(N).arg(QLatin1String(example));
        return false;
    }
    for (std::size_t i = 0; i < N; ++i)
        out[i] = parts[qsizetype(i)];
    return true;
}

// A read-back with every field filled, for checking the given values before the link opens:
// what the builder refuses against it, it refuses against any read.
IpSettingsReadBack anyReadBack()
{
    IpSettingsReadBack r;
    r.serialNumberBytes = QByteArray(IpSerialNumberBytes, '0');
    r.filled = AllIpFields;
    return r;
}

QString shownLine(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    out.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    out.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return out;
}

} // namespace

QStringList CliIp::writableKeys()
{
    return {QStringLiteral("mac"),           QStringLiteral("ip"),         QStringLiteral("mask"),
            QStringLiteral("gateway"),       QStringLiteral("hw_description"), QStringLiteral("serial_number"),
            QStringLiteral("hw_version"),    QStringLiteral("rectifier_id"), QStringLiteral("site")};
}

QJsonObject CliIp::toJson(const IpSettingsReadBack &readBack)
{
    QJsonObject o;
    for (const QString &key : writableKeys() + readOnlyKeys())
        o.insert(key, fieldValue(readBack, key));
    return o;
}

bool CliIp::applyChanges(const QMap<QString, QString> &changes, IpSettingsForm &f, QString &error)
{
    static const QRegularExpression macSeparator(QStringLiteral("[.:-]"));
    static const QRegularExpression dot(QStringLiteral("\\."));
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        const QString &key = it.key();
        const QString &value = it.value();
        bool ok = true;
        if (key == QLatin1String("mac")) {
            ok = splitInto(key, value, macSeparator, f.mac, "00.1A.3A.E0.00.01", error);
            f.macSelected = true;
        } else if (key == QLatin1String("ip")) {
            ok = splitInto(key, value, dot, f.ip, "192.168.0.5", error);
            f.ipSelected = true;
        } else if (key == QLatin1String("mask")) {
            ok = splitInto(key, value, dot, f.mask, "255.255.255.0", error);
            f.maskSelected = true;
        } else if (key == QLatin1String("gateway")) {
            ok = splitInto(key, value, dot, f.gateway, "192.168.0.1", error);
            f.gatewaySelected = true;
        } else if (key == QLatin1String("hw_version")) {
            ok = splitInto(key, value, dot, f.hwVersion, "0.0.0.1", error);
            f.hwVersionSelected = true;
        } else if (key == QLatin1String("hw_description")) {
            f.hwDescription = value;
            f.hwDescriptionSelected = true;
        } else if (key == QLatin1String("serial_number")) {
            f.serialNumber = value;
            f.serialNumberSelected = true;
        } else if (key == QLatin1String("rectifier_id")) {
            f.rectifierId = value;
            f.rectifierIdSelected = true;
        } else if (key == QLatin1String("site")) {
            f.site = value;
            f.siteSelected = true;
        } else if (readOnlyKeys().contains(key)) {
            error = QStringLiteral("%1 is read-only (the controller keeps it)").arg(key);
            return false;
        } else {
            error = QStringLiteral("unknown key '%1' (%2)").arg(key, writableKeys().join(QLatin1String(", ")));
            return false;
        }
        if (!ok)
            return false;
    }
    return true;
}

bool CliIp::parseArgs(const QStringList &args, CliArgs &out, QString &error)
{
    using cliargs::fail;
    const QString sub = args.value(0);
    if (sub == QLatin1String("show"))
        out.command = CliArgs::Command::IpShow;
    else if (sub == QLatin1String("apply"))
        out.command = CliArgs::Command::IpApply;
    else
        return fail(error, sub.isEmpty() ? QStringLiteral("ip: say show or apply")
                                         : QStringLiteral("ip: unknown subcommand '%1' (show, apply)").arg(sub));
    const bool apply = out.command == CliArgs::Command::IpApply;
    IpOptions &o = out.ip;
    // The sub-command is the first word: "ip --trace show" names none.
    for (cliargs::ArgCursor c(args.mid(1), out.trace); c.next();) {
        const QString &a = c.arg();
        if (!apply && a == QLatin1String("--json")) {
            out.json = true;
        } else if (apply && a == QLatin1String("--dry-run")) {
            o.dryRun = true;
        } else if (apply && c.isOption(QLatin1String("--file"))) {
            if (!c.takeValue(o.file))
                return fail(error, QStringLiteral("ip apply: --file needs a file name"));
        } else if (apply && a.indexOf(QLatin1Char('=')) > 0 && !a.startsWith(QLatin1Char('-'))) {
            o.assignments << a;
        } else {
            return cliargs::unexpected(error, QStringLiteral("ip ") + sub, a);
        }
    }
    if (apply && o.assignments.isEmpty() && o.file.isEmpty())
        return fail(error, QStringLiteral("ip apply: nothing to change (KEY=VALUE ... or --file F.json)"));
    return true;
}

CliIp::CliIp(const CliArgs &args, QObject *parent) : CliCommand(args, parent), ip_(engine_)
{
    connect(&ip_, &IpSettingsLink::readBackDecoded, this, &CliIp::onReadBackDecoded);
    connect(&ip_, &IpSettingsLink::readFailed, this, &CliIp::onReadFailed);
    settle_.setSingleShot(true);
    connect(&settle_, &QTimer::timeout, this, &CliIp::readBackWhenIdle);
}

void CliIp::start()
{
    if (prepare())
        CliCommand::start();
}

bool CliIp::parseDocument(const QByteArray &json, QMap<QString, QString> &changes, QString &error)
{
    changes.clear();
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parse);
    if (!doc.isObject()) {
        error = parse.error ? QStringLiteral("not a JSON object (%1 at offset %2)").arg(parse.errorString()).arg(parse.offset)
                            : QStringLiteral("not a JSON object of KEY: \"VALUE\"");
        return false;
    }
    // A JSON reader keeps one of two equal keys without a word: which one would be written is
    // left to chance, so the file is refused.
    if (const QString twice = inputfile::duplicateKey(json); !twice.isEmpty()) {
        error = QStringLiteral("the key %1 is given twice; give each field once").arg(twice);
        return false;
    }
    const QJsonObject o = doc.object();
    for (auto it = o.begin(); it != o.end(); ++it) {
        // The read-only fields of 'ip show --json' may stay in the file.
        if (readOnlyKeys().contains(it.key()))
            continue;
        if (!it.value().isString()) {
            error = QStringLiteral("the value of '%1' must be a string").arg(it.key());
            return false;
        }
        changes.insert(it.key(), it.value().toString());
    }
    return true;
}

bool CliIp::prepare()
{
    if (args_.command != CliArgs::Command::IpApply)
        return true;
    QString error;
    if (!args_.ip.file.isEmpty()) {
        QByteArray bytes;
        if (inputfile::read(args_.ip.file, inputfile::DocumentLimit, bytes, error)
            && !parseDocument(bytes, changes_, error))
            error = QStringLiteral("%1: %2").arg(args_.ip.file, error);
    }
    for (const QString &a : std::as_const(args_.ip.assignments)) {
        if (!error.isEmpty())
            break;
        const qsizetype eq = a.indexOf(QLatin1Char('='));
        changes_.insert(a.left(eq), a.mid(eq + 1)); // the command line wins over the file
    }
    if (error.isEmpty() && changes_.isEmpty())
        error = QStringLiteral("nothing to change (the file holds only read-only fields)");
    if (error.isEmpty()) {
        IpSettingsForm form = formFromReadBack(anyReadBack());
        if (applyChanges(changes_, form, error)) {
            const IpWriteBlock check = buildIpSettingsWrite(form, anyReadBack());
            error = check.error;
        }
    }
    if (error.isEmpty())
        return true;
    finish(2, QStringLiteral("ip apply: ") + refusalText(error));
    return false;
}

void CliIp::linkOpened()
{
    phase_ = Phase::Read;
    sendRead();
}

void CliIp::sendRead()
{
    // On TCP the engine's read time-out ends the read, on serial this wait.
    ticket_ = ip_.requestRead(args_.link.tcp ? 0 : ReadWaitMs);
    engine_.pollNow(); // the read goes out now; polling goes on after it
}

void CliIp::deadlinePassed()
{
    finish(1, phase_ == Phase::ReadBack
                  ? QStringLiteral("the block was written, but the controller did not answer the read that checks it")
                  : QStringLiteral("no answer to the IP settings read"));
}

void CliIp::onReadFailed(quint64 generation, const RequestFailure &failure)
{
    if (done() || generation != ticket_ || (phase_ != Phase::Read && phase_ != Phase::ReadBack))
        return;
    if (failure.fault == AnswerFault::TimedOut && !args_.link.tcp)
        deadlinePassed();
    else
        finish(1, QStringLiteral("IP settings read failed: %1").arg(failure.reason));
}

void CliIp::onReadBackDecoded(const IpSettingsReadBack &readBack, quint64 generation)
{
    if (done() || generation < ticket_)
        return;
    deadline_.stop();
    if (phase_ == Phase::Read) {
        if (args_.command == CliArgs::Command::IpShow) {
            printReadBack(readBack);
            if (readBack.complete())
                finish(0);
            else
                finish(1, readBack.cutShortMessage());
            return;
        }
        apply(readBack);
    } else if (phase_ == Phase::ReadBack) {
        check(readBack);
    }
}

void CliIp::printReadBack(const IpSettingsReadBack &readBack)
{
    const QJsonObject o = toJson(readBack);
    if (args_.json) {
        printLine(stdout, QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)).trimmed());
        return;
    }
    for (const QString &key : writableKeys() + readOnlyKeys()) {
        const QJsonValue v = o.value(key);
        printLine(stdout, QStringLiteral("%1: %2").arg(key, v.isNull() ? QStringLiteral("(not received)")
                                                                        : shownLine(v.toString())));
    }
}

void CliIp::apply(const IpSettingsReadBack &readBack)
{
    IpSettingsForm form = formFromReadBack(readBack);
    QString error;
    if (!applyChanges(changes_, form, error)) {
        finish(2, QStringLiteral("ip apply: ") + refusalText(error));
        return;
    }
    const IpWriteBlock block = buildIpSettingsWrite(form, readBack);
    if (!block.ok()) {
        finish(2, QStringLiteral("ip apply: ") + refusalText(block.error));
        return;
    }
    if (args_.ip.dryRun) {
        printLine(stdout, QString::fromLatin1(BytesToHex(block.payload)));
        finish(0);
        return;
    }
    const QJsonObject before = toJson(readBack);
    const IpSettingsReadBack planned = decodeIpSettingsBlock(block.payload.mid(2));
    for (auto it = changes_.cbegin(); it != changes_.cend(); ++it) {
        const QString was = shownLine(before.value(it.key()).toString());
        const QString will = shownLine(fieldValue(planned, it.key()).toString());
        printLine(stdout, was == will ? QStringLiteral("%1: %2 (unchanged)").arg(it.key(), was)
                                      : QStringLiteral("%1: %2 -> %3").arg(it.key(), was, will));
    }
    phase_ = Phase::Writing;
    written_ = block.payload;
    if (!ip_.sendWrite(block.payload)) {
        finish(1, QStringLiteral("the link engine refused the IP settings write"));
        return;
    }
    settle_.start(SettleMs);
}

void CliIp::readBackWhenIdle()
{
    if (done())
        return;
    // On TCP the write's exchange ends with its answer or its read time-out.
    if (args_.link.tcp && engine_.tcpBusy()) {
        settle_.start(50);
        return;
    }
    phase_ = Phase::ReadBack;
    sendRead();
}

void CliIp::check(const IpSettingsReadBack &readBack)
{
    // The write block is the read-back block with two more marker bytes in front: read from
    // its third byte, it decodes to what the controller should now hold.
    const QJsonObject wanted = toJson(decodeIpSettingsBlock(written_.mid(2)));
    const QJsonObject now = toJson(readBack);
    QStringList differ;
    for (const QString &key : writableKeys()) {
        if (wanted.value(key) != now.value(key))
            differ << QStringLiteral("%1: written %2, reads %3")
                          .arg(key, shownLine(wanted.value(key).toString()),
                               now.value(key).isNull() ? QStringLiteral("(not received)")
                                                       : shownLine(now.value(key).toString()));
    }
    if (differ.isEmpty()) {
        printLine(stdout, QStringLiteral("written; every field reads back as written"));
        finish(0);
        return;
    }
    for (const QString &d : std::as_const(differ))
        printLine(stderr, d);
    finish(1, QStringLiteral("%1 field(s) did not read back as written").arg(differ.size()));
}

} // namespace qeln

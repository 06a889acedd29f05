// qeln-cli's command line as a user meets it: each command's refusals (exit 2, the message,
// nothing on standard output, the link never opened) and the texts that need no controller.
// Every row names a device that does not exist: a command line that got past its checks would
// end with exit 1 "cannot open" instead.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString NoDevice = QStringLiteral("serial:/nonexistent/qeln-test-none");

QStringList words(const char *text)
{
    return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QStringList linked(const char *text)
{
    return QStringList{QStringLiteral("--link"), NoDevice} + words(text);
}

} // namespace

class TestCliArgs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QFile existing(dir_.filePath(QStringLiteral("exists.csv")));
        QVERIFY(existing.open(QIODevice::WriteOnly));
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        const auto row = [](const char *name, const QStringList &args, const char *message) {
            QTest::newRow(name) << args << QString::fromUtf8(message);
        };
        row("unknown option", words("--bogus status"), "unknown option '--bogus'");
        row("--link without value", words("--link"), "--link needs a value");
        row("no command", linked(""), "no command given");
        row("unknown command", linked("reboot"), "unknown command 'reboot'");
        row("no --link", words("status --trace --json"), "--link is required");
        row("command checked before --link", words("status --bogus"), "status: unexpected argument '--bogus'");
        row("status", linked("status --bogus"), "status: unexpected argument '--bogus'");
        row("write", linked("write 48=1 --bogus"), "write: '--bogus' is not REG=VALUE");
        row("log", linked("log --bogus=1"), "log: unexpected argument '--bogus=1'");
        row("log value missing", linked("log --interval"), "log: --interval needs a value");
        row("log value is the next word", linked("log --interval --trace"),
            "log: bad interval '--trace' (2s|10s|1m|2m|5m|10m|30m)");
        row("history", linked("history alarm --yes"), "history: unexpected argument '--yes'");
        row("history --out missing", linked("history alarm --out"), "history: --out needs a file name");
        row("history --out exists", linked("history alarm --out=exists.csv"),
            "history: 'exists.csv' exists already; no file is overwritten");
        row("clear-history", linked("clear-history alarm --out=x.csv"),
            "clear-history: unexpected argument '--out=x.csv'");
        row("clear-history without --yes", linked("clear-history event"),
            "clear-history event: nothing was sent; add --yes to confirm (the controller erases its event log "
            "for good)");
        row("settings show", linked("settings --trace show --bogus"), "settings show: unexpected argument '--bogus'");
        row("settings apply", linked("settings apply a=1 --bogus"), "settings apply: unexpected argument '--bogus'");
        row("settings diff", linked("settings diff --bogus"), "settings diff: give one settings file (FILE.json)");
        row("settings", linked("settings bogus"), "settings: unknown subcommand 'bogus' (show, diff, apply)");
        row("clock sync", linked("clock sync --bogus"), "clock sync: unexpected argument '--bogus'");
        row("clock set", linked("clock set 2026-03-04"), "clock set: give the time as YYYY-MM-DDTHH:MM:SS");
        row("calibrate", linked("calibrate --bogus"), "calibrate: '--bogus' is not KEY=VALUE");
        row("factory", linked("factory reset --bogus"), "factory: unexpected argument '--bogus'");
        row("factory without --yes", linked("factory config"),
            "factory config: nothing was sent; add --yes to confirm (the controller's settings return to their "
            "factory values)");
        row("ip show", linked("ip show --dry-run"), "ip show: unexpected argument '--dry-run'");
        row("ip apply", linked("ip apply ip=10.0.0.1 --json"), "ip apply: unexpected argument '--json'");
        row("ip apply --file missing", linked("ip apply --file"), "ip apply: --file needs a file name");
        row("serve", words("serve --config.file f.yml --listen-address=1.2.3.4:9"),
            "serve: unexpected argument '--listen-address=1.2.3.4:9'");
        row("serve value missing", words("serve --config f.yml --web.listen-address"),
            "serve: --web.listen-address needs a value");
        row("serve alias value empty", words("serve --config.file f.yml --web-config="), "serve: --web-config needs a value");
        row("serve without config", words("serve --web.config.file w.yml"),
            "serve: --config.file FILE is required (see serve --help)");
        row("serve with --link", linked("serve --config f.yml"), "serve: the controllers come from --config, not --link");
    }
    void refusals()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const Result r = run(args);
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.out, QString());
        QCOMPARE(r.err, QStringLiteral("qeln-cli: %1\nTry 'qeln-cli --help'.\n").arg(message));
    }

    // What is printed without a controller: exit 0, the text on standard output.
    void texts_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("start");
        QTest::newRow("--help") << words("--help") << QStringLiteral("Usage: qeln-cli [--trace] --link LINK COMMAND");
        QTest::newRow("-h after --link") << linked("-h status") << QStringLiteral("Usage: qeln-cli [--trace]");
        QTest::newRow("--version") << words("--version") << QStringLiteral("qeln-cli ");
        QTest::newRow("settings --help without --link")
            << words("settings apply --bogus --help") << QStringLiteral("Usage: qeln-cli --link LINK settings show");
        QTest::newRow("serve --help") << words("serve --bogus -h")
                                      << QStringLiteral("Usage: qeln-cli serve --config.file FILE");
    }
    void texts()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, start);
        const Result r = run(args);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        QVERIFY2(r.out.startsWith(start), qPrintable(r.out.left(200)));
    }

private:
    struct Result {
        int exitCode = -1;
        QString out;
        QString err;
    };

    Result run(const QStringList &args)
    {
        QProcess p;
        p.setWorkingDirectory(dir_.path());
        p.start(QStringLiteral(QELN_CLI_PATH), args);
        if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit)
            return {};
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestCliArgs)
#include "tst_cliargs.moc"

// The history export: workbooks read back by an independent reader (python3-openpyxl) for
// their title, headers, text cells and real date cells; file names; no file ever replaced and
// no temporary file left behind; failures with their reason; the CSV form.

#include "history/historyexport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace qeln::history;

namespace {

const QDateTime Now(QDate(2024, 3, 7), QTime(14, 30, 5));
const QString Model = QStringLiteral(" QELN-2K");

// Prints every non-empty cell of the first sheet, with its Python type and number format, and
// the column widths, as JSON.
const char ReadScript[] = R"(
import json, sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
ws = wb.worksheets[0]
cells = []
for row in ws.iter_rows():
    for c in row:
        if c.value is None:
            continue
        v = c.value
        kind = type(v).__name__
        if hasattr(v, 'isoformat'):
            v = v.isoformat()
        cells.append({'row': c.row, 'col': c.column, 'type': kind, 'value': v, 'format': c.number_format})
widths = {k: d.width for k, d in ws.column_dimensions.items() if d.customWidth}
print(json.dumps({'sheets': len(wb.worksheets), 'cells': cells, 'widths': widths}))
)";

QStringList alarmHeaderRow()
{
    return {QStringLiteral("No"), QStringLiteral("날짜"), QStringLiteral("시간"), QStringLiteral("AC 입력전압"),
            QStringLiteral("AC 입력전류"), QStringLiteral("DC 출력전압"), QStringLiteral("DC 출력전류"),
            QStringLiteral("축전지 전류"), QStringLiteral("랙 온도"), QStringLiteral("-"), QStringLiteral("-"),
            QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("알람 내용"),
            QStringLiteral("축전지 상세")};
}

HistoryTable alarmTable()
{
    HistoryTable t;
    t.kind = LogKind::Alarm;
    t.headers = alarmHeaderRow();
    const auto dash = QStringLiteral("-");
    t.rows = {
        {QStringLiteral("001"), QStringLiteral("2024-03-07"), QStringLiteral("09:05:00"), QStringLiteral("220.5 V"),
         QStringLiteral("05.2 A"), QStringLiteral("53.5 V"), QStringLiteral("12.0 A"), QStringLiteral("-20.0  A"),
         QStringLiteral("+25.5  C"), dash, dash, dash, dash, dash, QString::fromUtf8("AC Input Fail- 해제"),
         QStringLiteral(" ")},
        {QStringLiteral("002"), QStringLiteral("2024-02-29"), QStringLiteral("23:59:59"), QStringLiteral("  0 V"),
         QStringLiteral("  0 A"), QStringLiteral("54.0 V"), QStringLiteral("1234 A"), QStringLiteral("+0.0  A"),
         QStringLiteral("+0.0  C"), dash, dash, dash, dash, dash, QStringLiteral("Battery BMS Alarm"),
         QString::fromUtf8("충전과전압(Battery OverCharge)/ 방전과전류(Battery Discharge OverCurrent)/ ")},
        // A record the controller never filled: its date is no date and stays text.
        {QStringLiteral("003"), QStringLiteral("2000-00-00"), QStringLiteral("00:00:00"), QStringLiteral("  2.5 V"),
         QStringLiteral("  0 A"), QStringLiteral("  0 V"), QStringLiteral("  0 A"), QStringLiteral("+0.0  A"),
         QStringLiteral("+0.0  C"), dash, dash, dash, dash, dash, QString(), QStringLiteral(" ")},
    };
    return t;
}

HistoryTable eventTable()
{
    HistoryTable t;
    t.kind = LogKind::Event;
    t.headers = {QStringLiteral("No"), QStringLiteral("날짜"), QStringLiteral("시간"), QStringLiteral("이벤트"),
                 QStringLiteral("값"), QString()};
    t.rows = {
        {QStringLiteral("001"), QStringLiteral("2024-03-07"), QStringLiteral("10:00:00"),
         QStringLiteral("Over Temperature"), QStringLiteral("-1.0 'C")},
        {QStringLiteral("002"), QStringLiteral("2023-12-31"), QStringLiteral("08:15:30"),
         QStringLiteral("Remote IP_H Set"), QStringLiteral("192.168")},
        {QStringLiteral("003"), QStringLiteral("2024-01-01"), QStringLiteral("00:00:01"), QString(),
         QStringLiteral(" Unused ")},
    };
    return t;
}

// Every file in a folder, hidden ones included.
QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool canCreateIn(const QString &dir)
{
    const QByteArray probe = QFile::encodeName(QDir(dir).filePath(QStringLiteral(".probe")));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.constData());
    return true;
}

// Display width of a text in spreadsheet character units: Hangul takes two.
int units(const QString &text)
{
    int n = 0;
    for (const QChar c : text)
        n += c.unicode() >= 0xAC00 && c.unicode() <= 0xD7A3 ? 2 : 1;
    return n;
}

QString columnLetter(int column)
{
    return QString(QChar(u'A' + column - 1));
}

} // namespace

Q_DECLARE_METATYPE(HistoryTable)

class TestHistoryExport : public QObject
{
    Q_OBJECT

private:
    bool readerAvailable_ = false;

    // The workbook as the reader sees it: (row, column) -> cell; widths by column letter.
    struct Sheet {
        int sheets = 0;
        QMap<QPair<int, int>, QJsonObject> cells;
        QJsonObject widths;
    };
    static Sheet readBack(const QString &path)
    {
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral("-c"), QString::fromUtf8(ReadScript), path});
        Sheet sheet;
        if (!python.waitForFinished(60000) || python.exitCode() != 0) {
            qWarning() << python.readAllStandardError();
            return sheet;
        }
        const QJsonObject root = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
        sheet.sheets = root.value(QStringLiteral("sheets")).toInt();
        for (const QJsonValue &v : root.value(QStringLiteral("cells")).toArray()) {
            const QJsonObject cell = v.toObject();
            sheet.cells.insert({cell.value(QStringLiteral("row")).toInt(), cell.value(QStringLiteral("col")).toInt()}, cell);
        }
        sheet.widths = root.value(QStringLiteral("widths")).toObject();
        return sheet;
    }

    // Compares every cell of the sheet with the table: the title, the headers in row 2, the
    // records from row 3, dates in column B as date values, everything else as the same text.
    static void compareSheet(const Sheet &sheet, const QString &title, const HistoryTable &table)
    {
        QCOMPARE(sheet.sheets, 1);
        QMap<QPair<int, int>, QJsonObject> expected;
        const auto text = [](const QString &s) {
            return QJsonObject{{QStringLiteral("type"), QStringLiteral("str")}, {QStringLiteral("value"), s}};
        };
        expected.insert({1, 1}, text(title));
        for (int c = 0; c < table.headers.size(); ++c) {
            if (!table.headers.at(c).isEmpty())
                expected.insert({2, c + 1}, text(table.headers.at(c)));
        }
        for (int r = 0; r < table.rows.size(); ++r) {
            for (int c = 0; c < table.rows.at(r).size(); ++c) {
                const QString cell = table.rows.at(r).at(c);
                const QDate date = QDate::fromString(cell, QStringLiteral("yyyy-MM-dd"));
                if (c == 1 && date.isValid())
                    expected.insert({r + 3, c + 1},
                                    {{QStringLiteral("type"), QStringLiteral("datetime")},
                                     {QStringLiteral("value"), date.toString(Qt::ISODate) + QStringLiteral("T00:00:00")},
                                     {QStringLiteral("format"), QStringLiteral("yyyy/mm/dd")}});
                else if (!cell.isEmpty())
                    expected.insert({r + 3, c + 1}, text(cell));
            }
        }
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            const auto where = QStringLiteral("row %1 column %2").arg(it.key().first).arg(it.key().second).toUtf8();
            QVERIFY2(sheet.cells.contains(it.key()), where.constData());
            const QJsonObject got = sheet.cells.value(it.key());
            for (auto field = it.value().constBegin(); field != it.value().constEnd(); ++field)
                QVERIFY2(got.value(field.key()) == field.value(),
                         (where + ' ' + QJsonDocument(got).toJson(QJsonDocument::Compact)).constData());
        }
        QCOMPARE(sheet.cells.size(), expected.size());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QProcess probe;
        probe.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import openpyxl")});
        readerAvailable_ = probe.waitForFinished(60000) && probe.exitStatus() == QProcess::NormalExit
            && probe.exitCode() == 0;
    }

    void fileName_data()
    {
        QTest::addColumn<QString>("modelText");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("expected");
        const QTime t(14, 30, 5);
        QTest::newRow("model 1 alarm") << QStringLiteral("  ") << 1 << t << QStringLiteral("  _ALARM_(143005).xlsx");
        QTest::newRow("model 2 alarm") << QStringLiteral(" QELN-2K") << 1 << t << QStringLiteral(" QELN-2K_ALARM_(143005).xlsx");
        QTest::newRow("model 3 alarm") << QStringLiteral(" QELN-2KN") << 1 << t << QStringLiteral(" QELN-2KN_ALARM_(143005).xlsx");
        QTest::newRow("model 4 alarm") << QStringLiteral(" QELN-2KN(A)") << 1 << t
                                       << QStringLiteral(" QELN-2KN(A)_ALARM_(143005).xlsx");
        QTest::newRow("model 1 event") << QStringLiteral("  ") << 2 << t << QStringLiteral("  _EVENT_(143005).xlsx");
        QTest::newRow("model 2 event") << QStringLiteral(" QELN-2K") << 2 << t << QStringLiteral(" QELN-2K_EVENT_(143005).xlsx");
        QTest::newRow("model 3 event") << QStringLiteral(" QELN-2KN") << 2 << t << QStringLiteral(" QELN-2KN_EVENT_(143005).xlsx");
        QTest::newRow("model 4 event, early hour") << QStringLiteral(" QELN-2KN(A)") << 2 << QTime(9, 5, 7)
                                                   << QStringLiteral(" QELN-2KN(A)_EVENT_(090507).xlsx");
    }
    void fileName()
    {
        QFETCH(QString, modelText);
        QFETCH(int, kind);
        QFETCH(QTime, time);
        QFETCH(QString, expected);
        QCOMPARE(exportFileName(modelText, LogKind(kind), time), expected);
    }

    void workbookReadBack_data()
    {
        QTest::addColumn<QString>("modelText");
        QTest::addColumn<HistoryTable>("table");
        QTest::newRow("alarm history") << Model << alarmTable();
        QTest::newRow("event log, model 1") << QStringLiteral("  ") << eventTable();
    }
    void workbookReadBack()
    {
        if (!readerAvailable_)
            QSKIP("/usr/bin/python3 cannot import openpyxl");
        QFETCH(QString, modelText);
        QFETCH(HistoryTable, table);
        QTemporaryDir dir;
        QString error;
        const QString path = exportWorkbook(dir.path(), modelText, table, Now, &error);
        QVERIFY2(!path.isEmpty(), qPrintable(error));
        const QString name = exportFileName(modelText, table.kind, Now.time());
        QCOMPARE(path, QDir(dir.path()).filePath(name));
        QCOMPARE(filesIn(dir.path()), QStringList{name});

        const Sheet sheet = readBack(path);
        compareSheet(sheet, modelText + QStringLiteral("Log Data"), table);
        if (QTest::currentTestFailed())
            return;

        // The event grid has six columns: nothing is written past F.
        if (table.kind == LogKind::Event) {
            for (auto it = sheet.cells.cbegin(); it != sheet.cells.cend(); ++it)
                QVERIFY(it.key().second <= 6);
        }

        // Every column holding text is wide enough for its longest text (Hangul counting
        // two), the date column for "yyyy/mm/dd", and none is far wider. The title in A1 does
        // not widen column A.
        QList<int> longest(16, 0);
        for (int c = 0; c < table.headers.size(); ++c)
            longest[c] = units(table.headers.at(c));
        for (const QStringList &row : table.rows) {
            for (int c = 0; c < row.size(); ++c)
                longest[c] = std::max(longest[c], c == 1 ? 10 : units(row.at(c)));
        }
        for (int c = 0; c < 16; ++c) {
            const QJsonValue width = sheet.widths.value(columnLetter(c + 1));
            if (longest[c] == 0)
                continue;
            QVERIFY2(width.isDouble(), qPrintable(columnLetter(c + 1)));
            QVERIFY2(width.toDouble() >= longest[c] && width.toDouble() <= longest[c] + 3,
                     qPrintable(QStringLiteral("%1: %2 for %3").arg(columnLetter(c + 1)).arg(width.toDouble()).arg(longest[c])));
        }
    }

    // Exports in the same second never replace each other, nor a link left under the name.
    void neverReplaces()
    {
        QTemporaryDir dir;
        const QString base = exportFileName(Model, LogKind::Alarm, Now.time());
        const QString stem = base.chopped(5);
        QString error;
        const QString first = exportWorkbook(dir.path(), Model, alarmTable(), Now, &error);
        QVERIFY2(!first.isEmpty(), qPrintable(error));
        const QByteArray firstBytes = bytesOf(first);

        HistoryTable other = eventTable();
        other.kind = LogKind::Alarm;
        const QString second = exportWorkbook(dir.path(), Model, other, Now, &error);
        QCOMPARE(second, QDir(dir.path()).filePath(stem + QStringLiteral("-2.xlsx")));
        // A dangling link under the next name is neither followed nor replaced.
        const QString target = QDir(dir.path()).filePath(QStringLiteral("elsewhere.xlsx"));
        QVERIFY(QFile::link(target, QDir(dir.path()).filePath(stem + QStringLiteral("-3.xlsx"))));
        const QString third = exportWorkbook(dir.path(), Model, alarmTable(), Now, &error);
        QCOMPARE(third, QDir(dir.path()).filePath(stem + QStringLiteral("-4.xlsx")));

        QVERIFY(!QFileInfo::exists(target));
        QCOMPARE(bytesOf(first), firstBytes);
        QStringList expected{base, stem + QStringLiteral("-2.xlsx"), stem + QStringLiteral("-3.xlsx"),
                             stem + QStringLiteral("-4.xlsx")};
        expected.sort();
        QCOMPARE(filesIn(dir.path()), expected);
        if (readerAvailable_)
            compareSheet(readBack(second), Model + QStringLiteral("Log Data"), other);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<bool>("hugeCell");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing folder") << QStringLiteral("missing") << false << QStringLiteral("does not exist");
        QTest::newRow("a file, not a folder") << QStringLiteral("file") << false << QStringLiteral("not a folder");
        QTest::newRow("read-only folder") << QStringLiteral("read-only") << false << QStringLiteral("no file can be created");
        // The spreadsheet library's own refusal: a cell over its 32,767 characters.
        QTest::newRow("cell the library refuses") << QString() << true << QStringLiteral("32,767");
    }
    void failures()
    {
        QFETCH(QString, where);
        QFETCH(bool, hugeCell);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QString target = dir.path();
        if (where == QLatin1String("missing")) {
            target = QDir(dir.path()).filePath(QStringLiteral("gone"));
        } else if (where == QLatin1String("file")) {
            target = QDir(dir.path()).filePath(QStringLiteral("plain"));
            QFile f(target);
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else if (where == QLatin1String("read-only")) {
            target = QDir(dir.path()).filePath(QStringLiteral("ro"));
            QVERIFY(QDir().mkdir(target));
            QFile::setPermissions(target, QFile::ReadOwner | QFile::ExeOwner);
            // The superuser writes anywhere on a writable file system; a read-only system
            // folder stands in for it then.
            if (canCreateIn(target))
                target = QStringLiteral("/sys");
            if (canCreateIn(target))
                QSKIP("no folder here refuses new files");
        }
        const QStringList before = QFileInfo(target).isDir() ? filesIn(target) : QStringList();

        HistoryTable table = alarmTable();
        if (hugeCell)
            table.rows[1][14] = QString(40000, QLatin1Char('x'));
        QString error;
        const QString path = exportWorkbook(target, Model, table, Now, &error);
        QVERIFY(path.isEmpty());
        QVERIFY2(error.contains(reason), qPrintable(error));
        if (QFileInfo(target).isDir())
            QCOMPARE(filesIn(target), before);
        QFile::setPermissions(QDir(dir.path()).filePath(QStringLiteral("ro")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // A caller that names the file gets exactly that file, or an error when it exists.
    void namedFile()
    {
        QTemporaryDir dir;
        const QString path = QDir(dir.path()).filePath(QStringLiteral("alarms.xlsx"));
        QString error;
        QVERIFY2(writeWorkbookFile(path, Model, alarmTable(), &error), qPrintable(error));
        const QByteArray written = bytesOf(path);
        QVERIFY(written.startsWith("PK"));

        QVERIFY(!writeWorkbookFile(path, Model, eventTable(), &error));
        QVERIFY2(error.contains(QStringLiteral("exists")), qPrintable(error));
        QCOMPARE(bytesOf(path), written);
        QCOMPARE(filesIn(dir.path()), QStringList{QStringLiteral("alarms.xlsx")});
        if (readerAvailable_)
            compareSheet(readBack(path), Model + QStringLiteral("Log Data"), alarmTable());
    }

    void csvField_data()
    {
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("plain") << QStringLiteral("220.5 V") << QByteArray("220.5 V");
        QTest::newRow("leading blanks kept") << QStringLiteral("  0 V") << QByteArray("  0 V");
        QTest::newRow("single blank") << QStringLiteral(" ") << QByteArray(" ");
        QTest::newRow("empty") << QString() << QByteArray();
        QTest::newRow("comma") << QStringLiteral("a,b") << QByteArray("\"a,b\"");
        QTest::newRow("quote") << QStringLiteral("-1.0 \"C") << QByteArray("\"-1.0 \"\"C\"");
        QTest::newRow("apostrophe unquoted") << QStringLiteral("-1.0 'C") << QByteArray("-1.0 'C");
        QTest::newRow("line feed") << QStringLiteral("a\nb") << QByteArray("\"a\nb\"");
        QTest::newRow("carriage return") << QStringLiteral("a\rb") << QByteArray("\"a\rb\"");
        QTest::newRow("Korean as UTF-8") << QString::fromUtf8("AC Input Fail- 해제")
                                         << QByteArray("AC Input Fail- \xED\x95\xB4\xEC\xA0\x9C");
    }
    void csvField()
    {
        QFETCH(QString, cell);
        QFETCH(QByteArray, field);
        HistoryTable t;
        t.headers = {QStringLiteral("No"), QStringLiteral("x")};
        t.rows = {{QStringLiteral("001"), cell}};
        QCOMPARE(csvBytes(t), QByteArray("No,x\r\n001,") + field + "\r\n");
    }

    // Every line has the header's field count: the event grid's empty sixth column included.
    void csvTable()
    {
        const QByteArray csv = csvBytes(eventTable());
        const QList<QByteArray> lines = csv.split('\n');
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines.last().isEmpty());
        QCOMPARE(lines.at(0), QByteArray("No,\xEB\x82\xA0\xEC\xA7\x9C,\xEC\x8B\x9C\xEA\xB0\x84,"
                                         "\xEC\x9D\xB4\xEB\xB2\xA4\xED\x8A\xB8,\xEA\xB0\x92,\r"));
        QCOMPARE(lines.at(1), QByteArray("001,2024-03-07,10:00:00,Over Temperature,-1.0 'C,\r"));
        QCOMPARE(lines.at(3), QByteArray("003,2024-01-01,00:00:01,, Unused ,\r"));
        HistoryTable empty = eventTable();
        empty.rows.clear();
        QCOMPARE(csvBytes(empty), lines.at(0) + '\n');
    }
};

QTEST_GUILESS_MAIN(TestHistoryExport)
#include "tst_historyexport.moc"

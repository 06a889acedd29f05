#include "datalog.h"

#include "app/newfile.h"
#include "app/textcodec.h"
#include "link/hextext.h"
#include "monitor/formatters.h"
#include "plant/plantstatus.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcDataLog, "qeln.monitor.datalog", QtWarningMsg)

namespace qeln {

namespace {

constexpr int IntervalsMs[DataLog::IntervalCount] = {2000, 10000, 60000, 120000, 300000, 600000, 1800000};

// A folder never holds more log files of one second than this; past it the save fails
// instead of searching on.
constexpr int MaxNameSuffix = 9999;

QString fieldSeparator()
{
    return QStringLiteral(" ; ");
}

} // namespace

DataLog::DataLog(const ConsoleState &state, QObject *parent)
    : QObject(parent), s_(state), outputDir_(QDir::currentPath()),
      clock_([] { return QDateTime::currentDateTime(); })
{
    logTimer_.setObjectName(QStringLiteral("Timer2"));
    logTimer_.setInterval(IntervalsMs[0]);
    // A coarse timer may drift by 5 % of the interval, 90 s at 30 min: the lines keep the
    // chosen period.
    logTimer_.setTimerType(Qt::PreciseTimer);
    connect(&logTimer_, &QTimer::timeout, this, &DataLog::onLogTick);
}

QString DataLog::buttonCaption() const
{
    return active_ ? QStringLiteral("Log 중지") : QStringLiteral("Log 시작");
}

void DataLog::toggle()
{
    if (active_)
        stop();
    else
        start();
}

void DataLog::start()
{
    if (active_)
        return;
    logTimer_.start();
    appendHeader();
    active_ = true;
    Q_EMIT activeChanged(true);
}

void DataLog::stop()
{
    logTimer_.stop();
    if (!active_)
        return;
    active_ = false;
    Q_EMIT activeChanged(false);
}

int DataLog::intervalMs(int index)
{
    if (index < 0 || index >= IntervalCount)
        return 0;
    return IntervalsMs[index];
}

QStringList DataLog::intervalCaptions()
{
    return {QStringLiteral("2초"), QStringLiteral("10초"), QStringLiteral("1분"), QStringLiteral("2분"),
            QStringLiteral("5분"), QStringLiteral("10분"), QStringLiteral("30분")};
}

void DataLog::setIntervalIndex(int index)
{
    if (index < 0 || index >= IntervalCount)
        return;
    intervalIndex_ = index;
    // A running timer starts its period over with the new interval.
    logTimer_.setInterval(IntervalsMs[index]);
    if (logTimer_.isActive())
        logTimer_.start();
}

QString DataLog::save()
{
    return writeFile();
}

void DataLog::clear()
{
    lines_.clear();
    unsaved_ = 0;
    savedUpTo_ = 0;
    autoSavedUpTo_ = 0;
    Q_EMIT memoCleared();
    // The lines that follow go to a file as well, and a file starts with its header.
    if (active_)
        appendHeader();
}

QString DataLog::saveUnsaved()
{
    return unsaved_ > 0 ? writeFile(savedUpTo_, true) : QString();
}

bool DataLog::pollingHeld() const
{
    return holdCheck_ && holdCheck_();
}

void DataLog::onLogTick()
{
    logTimer_.stop();
    // A held poll decodes nothing: a line now would repeat a status already written. The
    // first tick after the hold may come before the first answer, so once skipping, the log
    // waits for a new status. A controller that merely stays silent while polled is not a
    // hold: the log goes on, and the window says since when nothing came.
    const bool fresh = decoded_ != decodedAtLine_;
    if (!fresh && (skippingStale_ || pollingHeld())) {
        skippingStale_ = true;
    } else {
        skippingStale_ = false;
        decodedAtLine_ = decoded_;
        append(record());
        if (lines_.size() > PeriodicLimit)
            saveAndRestart();
    }
    // Logging goes on after a failed save as well: the lines stay in the memo and the next
    // tick tries the save again. Only a stop in the meantime (a slot of saveFailed, a
    // disconnect) leaves the timer off.
    if (active_)
        logTimer_.start();
}

void DataLog::alarmWordsChanged()
{
    if (!active_)
        return;
    decodedAtLine_ = decoded_;
    append(QStringLiteral("[al]") + record());
    if (lines_.size() > AlarmLimit)
        saveAndRestart();
}

QStringList DataLog::header()
{
    QString names = QStringLiteral("  시간; ") + QStringLiteral(" 입력전압; ") + QStringLiteral(" 입력전류; ")
        + QStringLiteral(" 출력전압; ") + QStringLiteral(" 출력부하; ") + QStringLiteral(" 축전지전류; ")
        + QStringLiteral(" 축전지실온도; ") + QStringLiteral(" 랙온도; ") + QStringLiteral(" 출력설정; ")
        + QStringLiteral(" 알람상태; ") + QStringLiteral(" 배터리 전압; ");
    for (int cell = 1; cell <= 15; ++cell)
        names += QStringLiteral(" 셀전압 %1; ").arg(cell);
    names += QStringLiteral(" 배터리 보호;");
    const QString rule(178, QLatin1Char('-'));
    return {names, rule,
            QStringLiteral("ALARM1 //0x0001:AC FAIL, 0x0002:OV, 0x0004:UV, 0x0020:OCA, 0x0100:UF    "),
            QStringLiteral("ALARM2 //0x0002:BLV,     0x0008:OT, 0x0020:BF, 0x0040:BCF"), rule};
}

QString DataLog::record() const
{
    const PlantStatus p = decodePlantStatus(s_);
    const QString volts = QStringLiteral("V");
    const QString amperes = QStringLiteral("A");
    const QString celsius = QStringLiteral("C");
    QStringList fields;
    fields.reserve(26);
    fields << readingText(p.acVoltage, volts) << readingText(p.acCurrent, amperes) << readingText(p.dcVoltage, volts)
           // The load current is written unsigned here (0xFFF6 is "65526 A"), unlike the
           // label on the status page: stored logs read it this way.
           << FormatTenthsUnit(p.loadCurrent.count, u'A') << readingText(p.batteryCurrent, amperes)
           // No "Open" for 1250 here either: the log keeps the number.
           << readingText(p.batteryTemperature, celsius) << readingText(p.rectifierTemperature, celsius)
           << s_.SetVoltageText << s_.AlarmWordsText << readingText(p.battery.packVoltage, volts);
    for (const Reading &cell : p.battery.cells)
        fields << readingText(cell, volts);
    fields << QString::fromLatin1(IntToHexFixed(p.battery.alarmBits & 0xFFFF, 4));
    return s_.StatusTimeText + QStringLiteral("; ") + fields.join(fieldSeparator());
}

QString DataLog::fileName(const QDateTime &time)
{
    return QStringLiteral("QELN-2KN(A)_") + time.toString(QStringLiteral("yyyyMMddhhmmss"))
        + QStringLiteral(".txt");
}

QByteArray DataLog::fileBytes(const QStringList &lines)
{
    QByteArray bytes;
    qsizetype size = 0;
    for (const QString &line : lines)
        size += line.size() * 2 + 2;
    bytes.reserve(size);
    for (const QString &line : lines) {
        bytes += textcodec::toCp949(line);
        bytes += "\r\n";
    }
    return bytes;
}

void DataLog::append(const QString &line)
{
    lines_.append(line);
    ++unsaved_;
    Q_EMIT linesAppended(QStringList{line});
}

void DataLog::appendHeader()
{
    const QStringList head = header();
    lines_ += head;
    Q_EMIT linesAppended(head);
}

bool DataLog::saveAndRestart()
{
    // Lines that only "저장" wrote go to this file as well (the operator's copy stands apart);
    // lines that a disconnect's save wrote do not go to a second file.
    if (writeFile(autoSavedUpTo_, true).isEmpty())
        return false;
    lines_.clear();
    savedUpTo_ = 0;
    autoSavedUpTo_ = 0;
    Q_EMIT memoCleared();
    appendHeader();
    return true;
}

QString DataLog::failureMessage(const QString &where, const QString &reason) const
{
    const QString remedy = remedy_.isEmpty()
        ? QStringLiteral("Make that folder writable or choose another output folder, then save again.")
        : remedy_;
    return QStringLiteral("The data log could not be saved in \"%1\": %2. Its lines are kept%3. %4")
        .arg(QDir::toNativeSeparators(where), reason,
             active_ ? QStringLiteral(" and logging goes on") : QString(), remedy);
}

QString DataLog::writeFile(qsizetype from, bool automatic)
{
    const QString dirPath = QFileInfo(outputDir_.isEmpty() ? QDir::currentPath() : outputDir_).absoluteFilePath();
    if (const QString problem = newfile::folderProblem(dirPath); !problem.isEmpty()) {
        qCWarning(lcDataLog) << "save failed:" << dirPath << problem;
        lastFailure_ = failureMessage(dirPath, problem);
        Q_EMIT saveFailed(lastFailure_);
        return QString();
    }
    // A name that is taken (a save earlier in the same second, a file left by someone else)
    // gets "-2", "-3", ... before ".txt": no earlier log is ever replaced, and the file
    // appears under its name only when it is written whole.
    // A file starts with the header whatever emptied the memo last (a memo emptied while
    // stopped gets lines again only after a start, but may be saved empty meanwhile).
    const QStringList head = header();
    const qsizetype end = lines_.size();
    const QStringList part = lines_.mid(from);
    const QStringList content = part.mid(0, head.size()) == head ? part : head + part;
    QString reason;
    const QString path = newfile::writeUnderFreeName(QDir(dirPath), newfile::numberedNames(fileName(clock_())),
                                                     MaxNameSuffix, newfile::bytesWriter(fileBytes(content)), &reason);
    if (path.isEmpty()) {
        qCWarning(lcDataLog) << "save failed:" << dirPath << reason;
        lastFailure_ = failureMessage(dirPath, reason);
        Q_EMIT saveFailed(lastFailure_);
        return QString();
    }
    qCDebug(lcDataLog) << "saved" << content.size() << "lines to" << path;
    // Marked before the signal: a slot that saves again (a disconnect on the way) finds
    // nothing new to write.
    unsaved_ = 0;
    savedUpTo_ = end;
    if (automatic)
        autoSavedUpTo_ = end;
    Q_EMIT saved(path, int(content.size()));
    return path;
}

} // namespace qeln

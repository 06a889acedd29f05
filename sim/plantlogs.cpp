#include "logcontent.h"
#include "plantmodel.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

namespace qeln::sim {

using namespace detail;

namespace {

// Alarm-word bits and the history code each one is recorded under (bit position + 1 in the
// 32-bit word ALARM1 + 65536 × ALARM2). ALARM2 bits 8..15 have no code of their own: they are
// the detail of the BMS alarm (code 24), whose detail byte is ALARM2's high byte.
struct AlarmBit {
    int word; // 0 = ALARM1, 1 = ALARM2
    int bit;
};
constexpr AlarmBit recordedAlarms[] = {
    {0, 0}, {0, 1}, {0, 2}, {0, 5}, {0, 6}, {0, 8}, {1, 1}, {1, 3}, {1, 5}, {1, 6}, {1, 7},
};

// The newest records stay; the oldest make room.
void keepNewest(QList<QByteArray> &log)
{
    if (log.size() > MaxLogRecords)
        log.remove(0, log.size() - MaxLogRecords);
}

} // namespace

// Each recorded alarm that came or went since the last evaluation leaves a record.
void Plant::Model::recordAlarms(std::uint16_t now1, std::uint16_t now2)
{
    for (const AlarmBit &a : recordedAlarms) {
        const std::uint16_t before = a.word ? reported2 : reported1;
        const std::uint16_t after = a.word ? now2 : now1;
        const std::uint16_t m = std::uint16_t(1u << a.bit);
        const int code = a.word * 16 + a.bit + 1;
        const bool on = after & m;
        const bool bms = code == BmsAlarmCode;
        if ((before & m) != (after & m)) {
            append(AlarmLog, alarmRecord(code, on, bms && on ? std::uint8_t(now2 >> 8) : 0));
        } else if (bms && on && ((now2 >> 8) & ~(reported2 >> 8))) {
            // A further protection while the BMS alarm stands: a new occurrence with the
            // detail bits as they are now.
            append(AlarmLog, alarmRecord(code, true, std::uint8_t(now2 >> 8)));
        }
    }
    reported1 = now1;
    reported2 = now2;
}

QByteArray Plant::Model::clockBytes() const
{
    QByteArray b;
    b.append(char(std::clamp(year - 2000, 0, 255)));
    b.append(char(month));
    b.append(char(day));
    b.append(char(hour));
    b.append(char(minute));
    b.append(char(second));
    return b;
}

// 34 bytes: the clock, the six shown measurements (AC V, AC A, DC V, DC A, battery A, rack
// temperature), five further words (battery V, SOC, battery temperature, highest and lowest
// cell), the dry-contact and battery-status bytes and a spare byte, then detail, code and
// occurrence.
QByteArray Plant::Model::alarmRecord(int code, bool occurred, std::uint8_t detail) const
{
    QByteArray r = clockBytes();
    for (int a : {int(RegAcVoltage), int(RegAcCurrent), int(RegDcVoltage), int(RegLoadCurrent),
                  int(RegBatteryCurrent), int(RegRectifierTemp), int(RegBatteryVoltage), int(RegSoc),
                  int(RegBmsTemp), int(RegCellMax), int(RegCellMin)})
        appendWord(r, reg[a]);
    r.append(char(reg[RegContacts] & 0xFF));
    r.append(char(reg[RegBmsStatus] & 0xFF));
    r.append('\0');
    r.append(char(detail));
    r.append(char(code));
    r.append(char(occurred ? 1 : 0));
    return r;
}

void Plant::Model::append(LogKind kind, const QByteArray &record)
{
    QList<QByteArray> &records = log(kind);
    records.append(record);
    keepNewest(records);
    Q_EMIT q->logAppended(kind, record);
}

void Plant::Model::appendEvent(int code, std::uint16_t value)
{
    QByteArray r = clockBytes();
    appendWord(r, std::uint16_t(code));
    appendWord(r, value);
    append(EventLog, r);
}

// Older records before the present ones: alarms that came and went over the past days, each
// occurrence followed by its release, ending before the present clock.
void Plant::prefillHistory(int records)
{
    records = std::clamp(records, 0, MaxLogRecords);
    if (records == 0)
        return;
    static const int codes[] = {1, 2, 3, 6, 7, 9, 18, 20, 22, 23, 24};
    const QDateTime now(QDate(m->year, m->month, std::min(m->day, daysInMonth(m->year, m->month))),
                        QTime(m->hour, m->minute, m->second), Qt::UTC);
    QDateTime t = now.addSecs(-qint64(records) * 1200 - 600);
    QList<QByteArray> older;
    older.reserve(records);
    int code = codes[0];
    for (int i = 0; i < records; ++i) {
        const bool occurred = i % 2 == 0;
        if (occurred) {
            code = codes[m->random.next() % std::size(codes)];
            t = t.addSecs(600 + m->random.next() % 900);
        } else {
            t = t.addSecs(60 + m->random.next() % 600);
        }
        const QDate d = t.date();
        const QTime tm = t.time();
        QByteArray r;
        r.append(char(std::clamp(d.year() - 2000, 0, 255)));
        r.append(char(d.month()));
        r.append(char(d.day()));
        r.append(char(tm.hour()));
        r.append(char(tm.minute()));
        r.append(char(tm.second()));
        const bool acFail = code == 1 && occurred;
        appendWord(r, acFail ? 0 : toWord(2200 + m->random.noise() * 20));
        appendWord(r, acFail ? 0 : toWord(52 + m->random.noise() * 5));
        appendWord(r, acFail ? 515 : 540);
        appendWord(r, toSignedWord(185 + m->random.noise() * 15));
        appendWord(r, acFail ? toSignedWord(-185) : toSignedWord(30));
        appendWord(r, toSignedWord(310 + m->random.noise() * 20));
        appendWord(r, acFail ? 5150 : 5400);
        appendWord(r, 90);
        appendWord(r, 250);
        appendWord(r, 333);
        appendWord(r, 330);
        r.append(char(0));
        r.append(char(0x0E));
        r.append('\0');
        r.append(char(code == BmsAlarmCode && occurred ? 0x40 : 0));
        r.append(char(code));
        r.append(char(occurred ? 1 : 0));
        older.append(r);
    }
    m->alarmLog = older + m->alarmLog;
    keepNewest(m->alarmLog);
}

void Plant::prefillEvents(int records)
{
    records = std::clamp(records, 0, MaxLogRecords);
    if (records == 0)
        return;
    const QDateTime now(QDate(m->year, m->month, std::min(m->day, daysInMonth(m->year, m->month))),
                        QTime(m->hour, m->minute, m->second), Qt::UTC);
    m->eventLog = sampleEventLog(records, now, m->random.next()) + m->eventLog;
    keepNewest(m->eventLog);
}

int Plant::logCount(LogKind kind) const
{
    return int(m->log(kind).size());
}

QByteArray Plant::logRecord(LogKind kind, int number) const
{
    const QList<QByteArray> &log = m->log(kind);
    return number >= 0 && number < log.size() ? log.at(number) : QByteArray();
}

void Plant::clearLog(LogKind kind)
{
    m->log(kind).clear();
}

void Plant::setLog(LogKind kind, const QList<QByteArray> &records)
{
    QList<QByteArray> &log = m->log(kind);
    log = records.mid(std::max<qsizetype>(0, records.size() - MaxLogRecords));
    for (QByteArray &r : log)
        r.resize(kind == AlarmLog ? 34 : 10, '\0');
}

} // namespace qeln::sim

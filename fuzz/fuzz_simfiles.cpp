// The simulator's files: a scenario file (--scenario) loaded into the plant and run for a
// while, and a log file (--log-file) read and put into the plant's logs, each read from a
// file by the simulator's own readers.
//
// Input layout: byte 0 bit 0 picks the log file (clear: the scenario), bits 1-7 the simulated
// seconds the plant then runs; the rest is the file.
#include "fuzzsupport.h"
#include "logcontent.h"
#include "plant.h"

#include <QCoreApplication>

using namespace qeln::sim;
using fuzzsupport::fail;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static fuzzsupport::MemoryFile file;
    const bool logFile = data[0] & 1;
    const int seconds = data[0] >> 1;
    const QString &path = file.write(data + 1, size - 1);

    Plant plant;
    QString error;
    if (logFile) {
        LogContent logs;
        if (!readLogFile(path, &logs, &error)) {
            if (error.isEmpty())
                fail("log file refused without a reason");
            return 0;
        }
        if (logs.alarm.size() > 5000 || logs.event.size() > 5000)
            fail("more than 5000 records in a log");
        for (const QByteArray &r : logs.alarm)
            if (r.size() != AlarmRecordSize)
                fail("alarm record of the wrong size");
        for (const QByteArray &r : logs.event)
            if (r.size() != EventRecordSize)
                fail("event record of the wrong size");
        if (logs.hasAlarm)
            plant.setLog(Plant::AlarmLog, logs.alarm);
        if (logs.hasEvent)
            plant.setLog(Plant::EventLog, logs.event);
    } else if (!plant.loadScenario(path, &error)) {
        if (error.isEmpty())
            fail("scenario refused without a reason");
        return 0;
    }
    plant.advance(qint64(seconds) * 1000);
    for (int r = 1; r <= Plant::StatusRegisters; ++r)
        (void)plant.inputRegister(r);
    for (const auto kind : {Plant::AlarmLog, Plant::EventLog}) {
        const int count = plant.logCount(kind);
        if (count < 0 || count > 5000)
            fail("log count outside 0..5000");
        if (count > 0 && plant.logRecord(kind, count - 1).isEmpty())
            fail("newest record missing");
    }
    return 0;
}

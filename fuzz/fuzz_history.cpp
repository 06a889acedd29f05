// The history decoders: the record count and the alarm and event records, as serial text and
// as TCP bytes, and the grid rows made of what they decode.
//
// Input layout: byte 0 picks the answer (bits 0-1: count, alarm record, event record, all
// three), the link (bit 2: TCP) and the shape (bit 3: the rest is the answer as received;
// clear: the rest is the answer's data, framed at the size the decoder expects, so the fuzzer
// reaches the fields); bytes 1-2 the row number.
#include "fuzzsupport.h"
#include "history/historyrecords.h"

#include <QCoreApplication>

using namespace qeln::history;
using fuzzsupport::fail;

namespace {

// The response as the dispatcher hands it over: serial ":01" + function + the data in hex +
// LRC; TCP the bytes after the function code (a skipped byte before a record's fields).
QByteArray framed(QByteArray data, qsizetype bytes, bool tcp, const char *function, bool skipByte)
{
    data = data.leftJustified(bytes, '\0', true);
    if (tcp)
        return skipByte ? QByteArray(1, char(bytes)) + data : data;
    return fuzzsupport::serialText(QByteArray("01") + function + fuzzsupport::hexPairs(data));
}

void checkRow(const QStringList &row, int cells)
{
    if (row.size() != cells)
        fail("row with the wrong number of cells");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const int which = data[0] & 3;
    const bool tcp = data[0] & 4;
    const bool raw = data[0] & 8;
    const int index = (data[1] << 8) | data[2];
    const QByteArray rest(reinterpret_cast<const char *>(data + 3), qsizetype(size - 3));

    if (which == 0 || which == 3) {
        const QByteArray response = raw ? rest : framed(rest, 4, tcp, tcp ? "43" : "C0", false);
        const auto count = decodeCount(response, tcp);
        if (!raw && !count)
            fail("count of the expected size not decoded");
        if (count) {
            if (*count < 0 || *count > 0xFFFF)
                fail("count outside a word");
            (void)completionText(*count);
        }
    }
    if (which == 1 || which == 3) {
        const QByteArray response = raw ? rest : framed(rest, 34, tcp, tcp ? "44" : "C1", true);
        const auto record = decodeAlarmRecord(response, tcp);
        if (!raw && !record)
            fail("alarm record of the expected size not decoded");
        if (record) {
            checkRow(alarmRow(index, *record), 16);
            (void)batteryDetailText(record->code, record->occurrence, record->detail);
        }
    }
    if (which == 2 || which == 3) {
        const QByteArray response = raw ? rest : framed(rest, 10, tcp, tcp ? "47" : "D1", true);
        const auto record = decodeEventRecord(response, tcp);
        if (!raw && !record)
            fail("event record of the expected size not decoded");
        if (record) {
            checkRow(eventRow(index, *record), 5);
            (void)eventName(record->code);
            (void)eventValueText(record->code, record->value);
        }
    }
    return 0;
}

// The plant status against the status page: every channel's number, in the trend recordings
// and the exporter's series, is the number the page's text shows for the same registers,
// at the formatters' edges too, and absent where the page shows none.

#include "fleet/statussamples.h"
#include "monitor/statusview.h"
#include "plant/channeltable.h"
#include "plant/plantstatus.h"
#include "trend/channels.h"

#include <QTest>

#include <cmath>

using namespace qeln;

namespace {

// The status page's control of each channel, in channel order.
const char *const Controls[PlantChannelCount] = {
    "Label_ACV", "Label_ACA", "Lable_DCV", "Lable_DCA", "Label_SetV", "Label_RT", "Label_BT", "Lable_BCA",
    "Lable_BV", "Lable_BSoc", "Lable_BCV1", "Lable_BCV2", "Lable_BCV3", "Lable_BCV4", "Lable_BCV5",
    "Lable_BCV6", "Lable_BCV7", "Lable_BCV8", "Lable_BCV9", "Lable_BCV10", "Lable_BCV11", "Lable_BCV12",
    "Lable_BCV13", "Lable_BCV14", "Lable_BCV15",
};

// The registers of the channels' values: the battery panel's come with it.
constexpr int MeasuredRegisters[] = {7, 8, 9, 10, 11, 12, 13, 61, 98, 100, 110, 111, 112, 113, 114, 115,
                                     116, 117, 118, 119, 120, 121, 122, 123, 124};

// What the page shows for a channel: its text's number, nothing while it or the battery panel
// is hidden (the pack's values belong to the panel).
std::optional<double> pageNumber(const StatusView &view, int channel)
{
    const bool packValue = channel >= 8;
    if (packValue && !view.visible.value(QStringLiteral("FlatGroupBox1"), true))
        return std::nullopt;
    return shownNumber(view, QLatin1String(Controls[channel]));
}

// The exporter's sample of a channel's series, if any.
std::optional<double> sampleOf(const QList<fleet::Sample> &samples, const PlantChannel &c)
{
    for (const fleet::Sample &s : samples) {
        if (s.name == c.metric && (!c.labelName || s.labels.value(0).second == QLatin1String(c.labelValue)))
            return s.value;
    }
    return std::nullopt;
}

// A number, or NaN for none, as the recordings keep it.
double orNone(std::optional<double> v)
{
    return v ? *v : std::nan("");
}

// The same double, not merely close; or none on both sides.
bool same(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

QByteArray describe(double v)
{
    return std::isnan(v) ? QByteArray("none") : QByteArray::number(v, 'g', 17);
}

} // namespace

class TestPlantStatus : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void channelsAreWhatThePageShows_data();
    void channelsAreWhatThePageShows();
    void batteryPanelBetweenStatuses();
};

void TestPlantStatus::channelsAreWhatThePageShows_data()
{
    QTest::addColumn<int>("count");      // every measured register holds it
    QTest::addColumn<int>("battery");    // register 66
    QTest::addColumn<int>("sensor");     // register 67
    const int counts[] = {0, 1, 9, 10, 99, 100, 999, 1000, 1001, 1249, 1250, 9999, 10000, 12345, 0x7FFF, 0x8000,
                          0x8001, 0xFFDD, 0xFFFF};
    const struct {
        const char *name;
        int battery;
        int sensor;
    } plants[] = {{"battery and sensor", 1, 1}, {"no battery", 0, 1}, {"no sensor", 1, 0}};
    for (const auto &p : plants) {
        for (int count : counts)
            QTest::addRow("%s, %d", p.name, count) << count << p.battery << p.sensor;
    }
}

void TestPlantStatus::channelsAreWhatThePageShows()
{
    QFETCH(int, count);
    QFETCH(int, battery);
    QFETCH(int, sensor);
    ConsoleState state;
    trend::Registers recorded{};
    for (int n : MeasuredRegisters)
        state.StatusRegisters[size_t(n - 1)] = count;
    state.StatusRegisters[66 - 1] = battery;
    state.StatusRegisters[67 - 1] = sensor;
    for (int i = 0; i < StatusRegisterSlots; ++i)
        recorded[size_t(i)] = quint16(state.StatusRegisters[size_t(i)]);

    const StatusView view = decodeStatusView(state);
    const trend::ChannelValues fromRecording = trend::decodeChannels(recorded, 0);
    const trend::ChannelValues live = trend::channelValues(view.plant, 0);
    const QList<fleet::Sample> samples = fleet::statusSamples(view.plant);
    for (int i = 0; i < PlantChannelCount; ++i) {
        const PlantChannel &c = plantChannels()[size_t(i)];
        const double page = orNone(pageNumber(view, i));
        const double typed = orNone(c.value(view.plant));
        const QByteArray what = QByteArray(c.name) + ": page " + describe(page) + ", typed " + describe(typed);
        QVERIFY2(same(page, typed), what.constData());
        QVERIFY2(same(live[size_t(i)], page), what.constData());
        QVERIFY2(same(fromRecording[size_t(i)], page), what.constData());
        const double sample = orNone(sampleOf(samples, c));
        QVERIFY2(same(sample, page / c.metricDivisor), (what + ", sample " + describe(sample)).constData());
    }
}

void TestPlantStatus::batteryPanelBetweenStatuses()
{
    // One console sees the battery go and come back: the pack's channels and series follow the
    // panel status by status, the plant's own ones stay.
    ConsoleState state;
    state.StatusRegisters[9 - 1] = 540;
    state.StatusRegisters[98 - 1] = 5305;
    state.StatusRegisters[100 - 1] = 87;
    state.StatusRegisters[110 - 1] = 331;
    const int dc = trend::channelIndex(QStringLiteral("dc_voltage"));
    const int soc = trend::channelIndex(QStringLiteral("battery_soc"));
    const int cell1 = trend::channelIndex(QStringLiteral("cell_1"));
    for (int battery : {1, 0, 1}) {
        state.StatusRegisters[66 - 1] = battery;
        const StatusView view = decodeStatusView(state);
        const trend::ChannelValues values = trend::channelValues(view.plant, 0);
        QCOMPARE(values[size_t(dc)], 54.0);
        QCOMPARE(trend::hasValue(values[size_t(soc)]), battery == 1);
        QCOMPARE(trend::hasValue(values[size_t(cell1)]), battery == 1);
        const QList<fleet::Sample> samples = fleet::statusSamples(view.plant);
        const auto series = [&samples](const char *metric) {
            return std::count_if(samples.cbegin(), samples.cend(),
                                 [metric](const fleet::Sample &s) { return s.name == metric; });
        };
        QCOMPARE(series("qeln_dc_output_voltage_volts"), 1);
        QCOMPARE(series("qeln_battery_state_of_charge_ratio"), battery);
        QCOMPARE(series("qeln_battery_cell_voltage_volts"), battery ? 15 : 0);
        QCOMPARE(series("qeln_battery_current_amperes"), battery);
        if (battery)
            QCOMPARE(*sampleOf(samples, plantChannels()[size_t(soc)]), 0.87);
    }
}

QTEST_GUILESS_MAIN(TestPlantStatus)
#include "tst_plantstatus.moc"

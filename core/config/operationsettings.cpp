#include "operationsettings.h"

#include "monitor/formatters.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace qeln::config {

namespace {

const QString AlarmGroup = QStringLiteral("알람설정");
const QString OperationGroup = QStringLiteral("운용설정");
const QString DischargeGroup = QStringLiteral("축전지 방전시험");
const QString LithiumGroup = QStringLiteral("축전지 운용설정");

OperationSetting spin(int row, const char *checkBox, const char *control, const QString &caption,
                      const QString &group, ControlKind kind, int reg, double min, double max,
                      double step, OpeningFill opening, const QString &defaultText,
                      const QString &key, const QString &unit)
{
    OperationSetting s;
    s.row = row;
    s.checkBox = checkBox;
    s.control = control;
    s.caption = caption;
    s.group = group;
    s.kind = kind;
    s.registerAddress = reg;
    s.encoding = kind == ControlKind::DecimalSpin ? Encoding::Tenths : Encoding::Integer;
    s.minimum = min;
    s.maximum = max;
    s.step = step;
    s.opening = opening;
    s.hasDefault = true;
    s.defaultText = defaultText;
    s.inSelectAll = true;
    s.key = key;
    s.unit = unit;
    return s;
}

OperationSetting list(int row, const char *checkBox, const char *control, const QString &caption,
                      const QString &group, int reg, Encoding encoding, const QStringList &entries,
                      OpeningFill opening, bool hasDefault, bool inSelectAll, const QString &key)
{
    OperationSetting s;
    s.row = row;
    s.checkBox = checkBox;
    s.control = control;
    s.caption = caption;
    s.group = group;
    s.kind = ControlKind::List;
    s.registerAddress = reg;
    s.encoding = encoding;
    s.entries = entries;
    s.opening = opening;
    s.hasDefault = hasDefault;
    s.defaultIndex = hasDefault ? 0 : -1;
    s.inSelectAll = inSelectAll;
    s.key = key;
    return s;
}

QList<OperationSetting> buildTable(bool testMode)
{
    const auto I = ControlKind::IntegerSpin;
    const auto D = ControlKind::DecimalSpin;
    const auto W = ControlKind::WholeSpin;
    const auto Bounded = OpeningFill::ValueBounded;
    const auto Text = OpeningFill::TenthsText;
    const QString V = QStringLiteral("V");
    const QString A = QStringLiteral("A");
    const QStringList unused{QStringLiteral("미사용"), QStringLiteral("사용")};
    QStringList periods{QStringLiteral("OFF")};
    for (int m = 1; m <= 12; ++m)
        periods << QString::number(m);

    QList<OperationSetting> t;
    t << spin(1, "ckbACUV", "mskACUV", QStringLiteral("AC 저전압 (150V ~ 200V)"), AlarmGroup, I,
              54, 150, 200, 1, Bounded, QStringLiteral("170"), QStringLiteral("ac_undervoltage"), V);
    t << spin(2, "ckbACOV", "mskACOV", QStringLiteral("AC 고전압 (250V ~ 290V)"), AlarmGroup, I,
              55, 250, 290, 1, Bounded, QStringLiteral("270"), QStringLiteral("ac_overvoltage"), V);
    t << spin(3, "ckbDCUV", "mskDCUV", QStringLiteral("DC 저전압 (43.0V ~ 50.0V) "), AlarmGroup, D,
              56, 43.0, 50.0, 0.1, Text, QStringLiteral("46.0"), QStringLiteral("dc_undervoltage"), V);
    t << spin(4, "ckbDCOV", "mskDCOV", QStringLiteral("DC 고전압 (53.0V ~ 59.0V) "), AlarmGroup, D,
              57, 53.0, 59.0, 0.1, Text, QStringLiteral("57.0"), QStringLiteral("dc_overvoltage"), V);
    t << spin(5, "ckbBLV", "mskBLV", QStringLiteral("축전지 저전압 (43.0V ~ 50.0V)"), AlarmGroup, D,
              58, 43.0, 50.0, 0.1, Text, QStringLiteral("44.0"),
              QStringLiteral("battery_low_voltage"), V);
    t << spin(6, "ckbDCOC", "mskDCOC", QStringLiteral("DC 과전류 (40% ~ 120%)"), AlarmGroup, I, 59,
              40, 120, 1, Bounded, QStringLiteral("105"), QStringLiteral("dc_overcurrent"),
              QStringLiteral("%"));
    t << spin(7, "ckbROT", "mskROT", QStringLiteral("랙 고온(차단) ( 5.0C ~ 100.0 C)"), AlarmGroup, D,
              95, 5.0, 100.0, 0.1, Text, QStringLiteral("100.0"),
              QStringLiteral("rack_over_temperature"), QStringLiteral("°C"));
    t << spin(8, "ckbFLV", "mskFLV",
              testMode ? QStringLiteral("출력전압 (42.0 ~ 60.0V)") : QStringLiteral("출력전압 (43.0 ~ 56.0V)"),
              OperationGroup, D, 60, testMode ? 42.0 : 43.0, testMode ? 60.0 : 56.0, 0.1, Text,
              QStringLiteral("54.0"), QStringLiteral("output_voltage"), V);
    t << spin(9, "ckbCHLimit", "mskCHLimit", QStringLiteral("충전전류제한 (0(OFF), 1~ 4A) "),
              OperationGroup, D, 63, 0, 4, 1, OpeningFill::TenthsTextZeroPlain,
              QStringLiteral("3"), QStringLiteral("charge_current_limit"), A);
    t << list(10, "ckbCH_Mode", "cbbCH_Mode", QStringLiteral("충전모드"), OperationGroup, 64,
              Encoding::ListPositionPlusOne,
              {QStringLiteral("출력전압모드"), QStringLiteral("온도보상모드"), QStringLiteral("TEST 모드")},
              OpeningFill::ListPositionMinusOne, true, true, QStringLiteral("charge_mode"));
    t << list(11, "ckbOvpFG", "cbbOvpFG", QStringLiteral("출력 고전압 상태"), OperationGroup, 65,
              Encoding::ListPosition, {QStringLiteral("미발생/해제"), QStringLiteral("발생")},
              OpeningFill::ListPosition, true, true, QStringLiteral("output_overvoltage_state"));
    t << list(12, "ckbBattUse", "cbbBattUse", QStringLiteral("축전지 USE"), OperationGroup, 66,
              Encoding::ListPosition, unused, OpeningFill::ListPosition, true, true,
              QStringLiteral("battery_use"));
    t << list(13, "ckbBattTemp", "cbbBattTemp", QStringLiteral("축전지 온도"), OperationGroup, 67,
              Encoding::ListPosition, unused, OpeningFill::ListPosition, true, true,
              QStringLiteral("battery_temperature"));
    t << list(14, "ckbBTP", "cbbBTP", QStringLiteral("방전시험 주기 (OFF,1~12개월)"), DischargeGroup,
              74, Encoding::ListPosition, periods, OpeningFill::ListPosition, true, true,
              QStringLiteral("discharge_test_period"));
    t.last().unit = QStringLiteral("month");
    t << spin(15, "ckbTSM", "mskTSM", QStringLiteral("시험시작 월 (1~12월)"), DischargeGroup, W, 75,
              1, 12, 1, Bounded, QStringLiteral("5"), QStringLiteral("discharge_test_month"),
              QStringLiteral("month"));
    t << spin(16, "ckbTSD", "mskTSD", QStringLiteral("시험시작 일 (1~28일)"), DischargeGroup, W, 76,
              1, 28, 1, Bounded, QStringLiteral("1"), QStringLiteral("discharge_test_day"),
              QStringLiteral("day"));
    t << spin(17, "ckbTSH", "mskTSH", QStringLiteral("시험시작 시간 (0 ~ 23시)"), DischargeGroup, W,
              77, 0, 23, 1, Bounded, QStringLiteral("3"), QStringLiteral("discharge_test_hour"),
              QStringLiteral("h"));
    t << spin(18, "ckbBTV", "mskBTV", QStringLiteral("방전전압 (43.0 ~ 53.3V)"), DischargeGroup, D,
              78, 43.0, 53.3, 0.1, Text, QStringLiteral("46.0"),
              QStringLiteral("discharge_test_voltage"), V);
    t << spin(19, "ckbBTT", "mskBTT", QStringLiteral("방전시간 (1 ~ 120분) "), DischargeGroup, W, 79,
              1, 120, 1, Bounded, QStringLiteral("1"), QStringLiteral("discharge_test_minutes"),
              QStringLiteral("min"));
    t << list(20, "ckbBMT", "cbbBMT", QStringLiteral("강제방전시험"), DischargeGroup, 92,
              Encoding::ListPositionPlusOne,
              {QStringLiteral("시험 시작"), QStringLiteral("시험 정지"), QStringLiteral("경보 Clear")},
              OpeningFill::ForcedDischarge, false, false, QStringLiteral("forced_discharge_test"));
    t << spin(21, "ckbLiBattCHLimit", "mskLiBattCHLimit",
              QStringLiteral("리튬 충전전류제한 (0(OFF) 2,3A) "), LithiumGroup, D, 62, 0, 3, 1, Text,
              QStringLiteral("0"), QStringLiteral("lithium_charge_current_limit"), A);
    t << spin(22, "ckbOVP", "mskOVP", QStringLiteral("DC 차단 전압 (50.0V ~ 58.0V) "), AlarmGroup, D,
              68, 50.0, 58.0, 0.1, Text, QStringLiteral("58.0"), QStringLiteral("dc_cutoff_voltage"), V);
    t << spin(23, "ckbLiBattLVD", "mskLiBattLVD", QStringLiteral("리튬 종지전압 (40.0V ~ 45.9V)"),
              LithiumGroup, D, 69, 40.0, 46.0, 0.1, Text, QStringLiteral("43.0"),
              QStringLiteral("lithium_cutoff_voltage"), V);

    OperationSetting reset;
    reset.row = 24;
    reset.checkBox = "cbTaskFailReset";
    reset.caption = QStringLiteral("Task Fail 카운트 리셋 ");
    reset.group = OperationGroup;
    reset.kind = ControlKind::None;
    reset.registerAddress = 31;
    reset.encoding = Encoding::Constant255;
    reset.key = QStringLiteral("task_fail_reset");
    t << reset;
    return t;
}

// Text of a number as the range of a line names it: one decimal for decimal spins.
QString boundText(const OperationSetting &s, double v)
{
    return s.decimals() > 0 ? QString::number(v, 'f', 1) : QString::number(qRound(v));
}

QString outsideText(const OperationSetting &s, const QString &typed)
{
    return QStringLiteral("%1: %2 is outside %3").arg(s.caption.trimmed(), typed.trimmed(), rangeText(s));
}

QString outsideMessage(const OperationSetting &s, const QString &typed)
{
    return outsideText(s, typed) + QStringLiteral("; nothing was sent.");
}

struct Encoded {
    bool ok = false;
    bool skip = false;
    bool notNumber = false; // refusal is the standard conversion text
    long long value = 0;
    QString refusal;
};

Encoded encode(const OperationSetting &s, const OperationValue &v)
{
    Encoded e;
    switch (s.encoding) {
    case Encoding::Integer: {
        bool ok = false;
        const long long n = v.text.trimmed().toLongLong(&ok, 10);
        if (!ok) {
            e.refusal = notIntegerMessage(v.text);
            e.notNumber = true;
            return e;
        }
        if (n < qRound64(s.minimum) || n > qRound64(s.maximum)) {
            e.refusal = outsideMessage(s, v.text);
            return e;
        }
        e.value = n;
        break;
    }
    case Encoding::Tenths: {
        QLocale c = QLocale::c();
        c.setNumberOptions(QLocale::RejectGroupSeparator);
        bool ok = false;
        const double d = c.toDouble(v.text.trimmed(), &ok);
        if (!ok || !std::isfinite(d)) {
            e.refusal = notFloatMessage(v.text);
            e.notNumber = true;
            return e;
        }
        constexpr double slack = 1e-9;
        if (d < s.minimum - slack || d > s.maximum + slack) {
            e.refusal = outsideMessage(s, v.text);
            return e;
        }
        // Truncated toward zero at double precision: 54.05 is 540, 53.3 is 533.
        e.value = static_cast<long long>(std::trunc(d * 10.0));
        break;
    }
    case Encoding::ListPosition:
    case Encoding::ListPositionPlusOne:
        if (v.index < 0 || v.index >= s.entries.size()) {
            e.skip = true;
            return e;
        }
        e.value = v.index + (s.encoding == Encoding::ListPositionPlusOne ? 1 : 0);
        break;
    case Encoding::Constant255:
        e.value = 255;
        break;
    }
    if (!fitsRegister(e.value)) {
        e.refusal = doesNotFitMessage(s.caption, e.value);
        return e;
    }
    e.ok = true;
    return e;
}

} // namespace

const QList<OperationSetting> &operationSettings(bool testMode)
{
    static const QList<OperationSetting> normal = buildTable(false);
    static const QList<OperationSetting> test = buildTable(true);
    return testMode ? test : normal;
}

const OperationSetting *findOperationSetting(const QString &key, bool testMode)
{
    for (const OperationSetting &s : operationSettings(testMode)) {
        if (s.key == key)
            return &s;
    }
    return nullptr;
}

bool testModeAtOpening(const ConsoleState &state)
{
    return state.StatusRegisters[64 - 1] == 3;
}

QString rangeText(const OperationSetting &s)
{
    return boundText(s, s.minimum) + QStringLiteral("..") + boundText(s, s.maximum);
}

OperationValue openingValue(const OperationSetting &s, int reg)
{
    OperationValue v;
    const auto position = [&](int p) { return p >= 0 && p < s.entries.size() ? p : -1; };
    switch (s.opening) {
    case OpeningFill::ValueBounded: {
        const int bounded = std::clamp(reg, qRound(s.minimum), qRound(s.maximum));
        v.text = QString::number(bounded);
        break;
    }
    case OpeningFill::TenthsText:
        v.text = FormatTenths(reg);
        break;
    case OpeningFill::TenthsTextZeroPlain:
        v.text = reg == 0 ? QStringLiteral("0") : FormatTenths(reg);
        break;
    case OpeningFill::ListPosition:
        v.index = position(reg);
        break;
    case OpeningFill::ListPositionMinusOne:
        v.index = position(reg - 1);
        break;
    case OpeningFill::ForcedDischarge:
        v.index = reg >= 1 && reg <= 3 ? reg - 1 : 0;
        break;
    case OpeningFill::Nothing:
        break;
    }
    return v;
}

OperationValues initialValues(const ConsoleState &state)
{
    const bool testMode = testModeAtOpening(state);
    OperationValues values;
    for (const OperationSetting &s : operationSettings(testMode)) {
        const int reg = s.registerAddress >= 1 && s.registerAddress <= StatusRegisterSlots
            ? state.StatusRegisters[size_t(s.registerAddress - 1)]
            : 0;
        values << (s.opening == OpeningFill::Nothing ? OperationValue{} : openingValue(s, reg));
    }
    return values;
}

OperationValues defaults(int modelCode, const OperationValues &current)
{
    const auto &table = operationSettings();
    OperationValues values = current;
    values.resize(table.size());
    for (qsizetype i = 0; i < table.size(); ++i) {
        const OperationSetting &s = table[i];
        if (!s.hasDefault)
            continue;
        if (s.isList()) {
            values[i].index = s.defaultIndex;
        } else {
            values[i].text = s.defaultText;
            if (s.key == QLatin1String("dc_overcurrent"))
                values[i].text = modelCode == 3 || modelCode == 4 ? QStringLiteral("103")
                                                                  : QStringLiteral("105");
        }
    }
    return values;
}

QList<bool> selectAll(const QList<bool> &ticked)
{
    const auto &table = operationSettings();
    QList<bool> result = ticked;
    result.resize(table.size(), false);
    for (qsizetype i = 0; i < table.size(); ++i) {
        if (table[i].inSelectAll)
            result[i] = true;
    }
    return result;
}

QString valueProblem(const OperationSetting &s, const OperationValue &v)
{
    if (!s.isSpin())
        return QString();
    const Encoded e = encode(s, v);
    if (e.refusal.isEmpty())
        return QString();
    if (e.notNumber)
        return s.caption.trimmed() + QStringLiteral(": ") + e.refusal;
    // The range and register texts end in "; nothing was sent.": the problem is what precedes.
    const QString tail = QStringLiteral("; nothing was sent.");
    return e.refusal.endsWith(tail) ? e.refusal.chopped(tail.size()) : e.refusal;
}

WritePlan plan(const QList<bool> &ticked, const OperationValues &values, bool testMode)
{
    const auto &table = operationSettings(testMode);
    WritePlan p;
    for (qsizetype i = 0; i < table.size(); ++i) {
        if (i >= ticked.size() || !ticked[i])
            continue;
        const OperationValue v = i < values.size() ? values[i] : OperationValue{};
        const Encoded e = encode(table[i], v);
        if (!e.refusal.isEmpty())
            return WritePlan::refuse(e.refusal);
        if (e.skip)
            continue;
        p.writes.append({table[i].registerAddress, int(e.value)});
    }
    return p;
}

} // namespace qeln::config

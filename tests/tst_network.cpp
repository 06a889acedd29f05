// The controller's network block: read-back decoding, the write block, and their link side.

#include "enginerig.h"
#include "link/hextext.h"
#include "network/ipsettings.h"
#include "network/ipsettingslink.h"
#include "testframes.h"

#include <QSignalSpy>
#include <QTest>

using namespace qeln;

namespace {

QByteArray hx(const char *hex)
{
    return QByteArray::fromHex(hex);
}

// A read-back block laid out field by field from the offsets table.
QByteArray readBlock(const QByteArray &description, const QByteArray &site, const QByteArray &ip = hx("C0A80005"))
{
    return hx("0000") + hx("001A3AE00001") + ip + hx("FFFFFF00") + hx("C0A80001") + hx("41") + hx("C0A8325C")
        + hx("00000000") + char(description.size()) + description + QByteArray("2200000001") + "; "
        + hx("00000001") + hx("001A3AE000AA") + hx("001A3AE000BB") + QByteArray(6, '\0') + hx("FFFFFFFE")
        + hx("00000001") + hx("01020005") + hx("20230615") + char(site.size()) + site;
}

// A write block laid out field by field from the offsets table.
QByteArray writeBlock(const QByteArray &mac, const QByteArray &ip, const QByteArray &mask, const QByteArray &gateway,
                      int flags, const QByteArray &description, const QByteArray &serial,
                      const QByteArray &hwVersion, const QByteArray &rectifierId, const QByteArray &site)
{
    return hx("12345678") + mac + ip + mask + gateway + char(flags) + ip + QByteArray(4, '\0')
        + char(description.size()) + description + serial + "; " + hwVersion + mac + QByteArray(12, '\0')
        + rectifierId + QByteArray(12, '\0') + char(site.size()) + site;
}

QString render(const IpSettingsReadBack &r)
{
    return QStringList{r.macText, r.ipText, r.maskText, r.gatewayText, r.savedIpText, r.hwDescriptionText,
                       r.serialNumberText, r.hwVersionText, r.savedMacText, r.savedIpMacText, r.rectifierIdText,
                       r.savedRectifierIdText, r.firmwareText, r.siteText}
        .join(QLatin1Char('|'));
}

QString rendered(const QString &description, const QString &site, const QString &ip = QStringLiteral("192.168.00.05"))
{
    return QStringLiteral("00.1A.3A.E0.00.01|%1|255.255.255.00|192.168.00.01|192.168.50.92|%2|2200000001|"
                          "00.00.00.01|00.1A.3A.E0.00.AA|00.1A.3A.E0.00.BB|FFFFFFFE|00000001|"
                          "V01.02.00.05(20230615)|%3")
        .arg(ip, description, site);
}

const QByteArray CpJeongRyuGi = hx("C1A4B7F9B1E2"); // "정류기" in CP949
const QByteArray LastSite = QByteArray("서울");        // UTF-8

// The read the builder tables start from: description "QELN 정류기" (CP949), site "서울".
QByteArray lastBlock()
{
    return readBlock("QELN " + CpJeongRyuGi, LastSite);
}

// The dialog after that read, with the given items changed and selected ("mac", "ip", "mask",
// "gateway", "hw_version" split at '.'; the texts as given). "keep:KEY" changes a text without
// selecting its item.
IpSettingsForm formWith(const IpSettingsReadBack &last, const QVariantMap &changes)
{
    IpSettingsForm f = formFromReadBack(last);
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        QString key = it.key();
        const bool select = !key.startsWith(QLatin1String("keep:"));
        key.remove(QLatin1String("keep:"));
        const QString v = it.value().toString();
        const QStringList parts = v.split(QLatin1Char('.'));
        auto put = [&](auto &array, bool &selected) {
            for (std::size_t i = 0; i < array.size(); ++i)
                array[i] = parts.value(qsizetype(i));
            selected = select;
        };
        if (key == QLatin1String("mac"))
            put(f.mac, f.macSelected);
        else if (key == QLatin1String("ip"))
            put(f.ip, f.ipSelected);
        else if (key == QLatin1String("mask"))
            put(f.mask, f.maskSelected);
        else if (key == QLatin1String("gateway"))
            put(f.gateway, f.gatewaySelected);
        else if (key == QLatin1String("hw_version"))
            put(f.hwVersion, f.hwVersionSelected);
        else if (key == QLatin1String("hw_description"))
            f.hwDescription = v, f.hwDescriptionSelected = select;
        else if (key == QLatin1String("serial_number"))
            f.serialNumber = v, f.serialNumberSelected = select;
        else if (key == QLatin1String("rectifier_id"))
            f.rectifierId = v, f.rectifierIdSelected = select;
        else if (key == QLatin1String("site"))
            f.site = v, f.siteSelected = select;
        else
            qFatal("unknown key %s", qPrintable(key));
    }
    return f;
}

QByteArray serialAnswer(const QByteArray &block)
{
    return testframes::serialFrame("01B2" + block.toHex().toUpper());
}

} // namespace

class TestNetwork : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decode_data();
    void decode();
    void cutShort_data();
    void cutShort();
    void serialTextNotHex();
    void build_data();
    void build();
    void unchangedTextsKeepTheirBytes_data();
    void unchangedTextsKeepTheirBytes();
    void refuse_data();
    void refuse();
    void refuseWithoutRead();
    void serialRequests();
    void tcpRequests();
    void sendWriteRefusesSendsNothing();
};

void TestNetwork::decode_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QString>("expected");
    QTest::newRow("literal block") << hx("0000001A3AE00001C0A80005FFFFFF00C0A8000141C0A8325C0000000002414232323030"
                                         "3030303030313B2000000001001A3AE000AA001A3AE000BB000000000000FFFFFFFE0000"
                                         "00010102000520230615015A")
                                   << rendered(QStringLiteral("AB"), QStringLiteral("Z"));
    QTest::newRow("empty description and site") << readBlock({}, {}) << rendered({}, {});
    QTest::newRow("one-byte description") << readBlock("X", "S") << rendered(QStringLiteral("X"), QStringLiteral("S"));
    QTest::newRow("Korean description (CP949) and site (UTF-8)")
        << readBlock("QELN " + CpJeongRyuGi + " 54V", QByteArray("서울 국사 3층"))
        << rendered(QStringLiteral("QELN 정류기 54V"), QStringLiteral("서울 국사 3층"));
    QTest::newRow("200-byte description") << readBlock(QByteArray(200, 'D'), "S")
                                          << rendered(QString(200, QLatin1Char('D')), QStringLiteral("S"));
    QTest::newRow("CR LF shown as line feeds") << readBlock("a\r\nb", "x\r\ny")
                                               << rendered(QStringLiteral("a\nb"), QStringLiteral("x\ny"));
    QTest::newRow("octets below 10 padded, 255 kept") << readBlock({}, {}, hx("0A0008FF"))
                                                      << rendered({}, {}, QStringLiteral("10.00.08.255"));
    QTest::newRow("zero padding after the site is ignored")
        << readBlock("AB", "Z") + QByteArray(30, '\0') << rendered(QStringLiteral("AB"), QStringLiteral("Z"));
}

void TestNetwork::decode()
{
    QFETCH(QByteArray, block);
    QFETCH(QString, expected);
    // Both links hand the same block over: on serial its hexadecimal pairs become bytes.
    for (const bool tcp : {true, false}) {
        QByteArray bytes = block;
        if (!tcp) {
            const ParsedAnswer parsed = parseAsciiFrame(serialAnswer(block).chopped(2));
            QVERIFY(std::holds_alternative<Answer>(parsed));
            QCOMPARE(std::get<Answer>(parsed).function, Function::SerialIpBlockAnswer);
            bytes = std::get<Answer>(parsed).payload;
        }
        const std::optional<IpSettingsReadBack> r = decodeIpSettingsBlock(bytes);
        QCOMPARE(render(*r), expected);
        QVERIFY2(r->complete(), qPrintable(r->missingFields().join(QLatin1Char(' '))));
        QCOMPARE(r->cutShortMessage(), QString());
    }
    const IpSettingsReadBack r = decodeIpSettingsBlock(block);
    QCOMPARE(r.flags, 0x41);
    QCOMPARE(r.rectifierId, 0xFFFFFFFEu);
    QCOMPARE(r.firmwareBuild, 0x20230615u);
    QCOMPARE(r.serialNumberBytes, QByteArray("2200000001"));
    QCOMPARE(r.hwDescriptionBytes, block.mid(30, quint8(block.at(29))));
}

void TestNetwork::cutShort_data()
{
    // The block of readBlock("AB", "Z"): n = 2, m = 1, 84 bytes.
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("missing");
    const QString all = QStringLiteral("mac ip mask gateway flags saved_ip hw_description serial_number hw_version "
                                       "saved_mac saved_ip_mac rectifier_id saved_rectifier_id firmware site");
    QTest::newRow("empty") << 0 << all;
    QTest::newRow("prefix only") << 2 << all;
    QTest::newRow("MAC one byte short") << 7 << all;
    QTest::newRow("MAC only") << 8 << all.section(QLatin1Char(' '), 1);
    QTest::newRow("up to the gateway") << 20 << all.section(QLatin1Char(' '), 4);
    QTest::newRow("no description length") << 29 << all.section(QLatin1Char(' '), 6);
    QTest::newRow("description cut") << 31 << all.section(QLatin1Char(' '), 6);
    QTest::newRow("serial number cut") << 41 << all.section(QLatin1Char(' '), 7);
    QTest::newRow("separator cut") << 43 << all.section(QLatin1Char(' '), 8);
    QTest::newRow("firmware build cut") << 81 << QStringLiteral("firmware site");
    QTest::newRow("no site length") << 82 << QStringLiteral("site");
    QTest::newRow("site shorter than its length") << 83 << QStringLiteral("site");
    QTest::newRow("whole") << 84 << QString();
}

void TestNetwork::cutShort()
{
    QFETCH(int, length);
    QFETCH(QString, missing);
    const QByteArray whole = readBlock("AB", "Z");
    QCOMPARE(whole.size(), 84);
    const IpSettingsReadBack r = decodeIpSettingsBlock(whole.left(length));
    QCOMPARE(r.missingFields().join(QLatin1Char(' ')), missing);
    QCOMPARE(r.complete(), missing.isEmpty());
    QCOMPARE(r.cutShortMessage().isEmpty(), missing.isEmpty());
    // What the block reached is decoded; nothing else has a value.
    const IpSettingsReadBack full = decodeIpSettingsBlock(whole);
    const QStringList got = render(r).split(QLatin1Char('|'));
    const QStringList want = render(full).split(QLatin1Char('|'));
    const QList<IpField> order = {IpField::Mac, IpField::Ip, IpField::Mask, IpField::Gateway, IpField::SavedIp,
                                  IpField::HwDescription, IpField::SerialNumber, IpField::HwVersion,
                                  IpField::SavedMac, IpField::SavedIpMac, IpField::RectifierId,
                                  IpField::SavedRectifierId, IpField::Firmware, IpField::Site};
    for (qsizetype i = 0; i < order.size(); ++i)
        QCOMPARE(got[i], r.has(order[i]) ? want[i] : QString());
    if (!r.has(IpField::Site))
        QCOMPARE(r.siteBytes, QByteArray());
    if (!r.has(IpField::RectifierId))
        QCOMPARE(r.rectifierId, 0u);
}

void TestNetwork::serialTextNotHex()
{
    QByteArray text = serialAnswer(readBlock("AB", "Z")).chopped(2);
    text[20] = 'G';
    const ParsedAnswer spoilt = parseAsciiFrame(text);
    QVERIFY(std::holds_alternative<RequestFailure>(spoilt));
    QCOMPARE(std::get<RequestFailure>(spoilt).fault, AnswerFault::NotHexadecimal);
    // An answer that ends right after its LRC decodes nothing, but says so field by field.
    const ParsedAnswer empty = parseAsciiFrame(":01B24D");
    QVERIFY(std::holds_alternative<Answer>(empty));
    QCOMPARE(decodeIpSettingsBlock(std::get<Answer>(empty).payload).filled, IpFields());
}

void TestNetwork::build_data()
{
    QTest::addColumn<QVariantMap>("changes");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray mac = hx("001A3AE00001"), ip = hx("C0A80005"), mask = hx("FFFFFF00"), gw = hx("C0A80001");
    const QByteArray description = "QELN " + CpJeongRyuGi, serial = "2200000001", hwv = hx("00000001");
    const QByteArray rect = hx("FFFFFFFE");
    auto asRead = [&](int flags) {
        return writeBlock(mac, ip, mask, gw, flags, description, serial, hwv, rect, LastSite);
    };

    QTest::newRow("every item (literal)")
        << QVariantMap{{QStringLiteral("mac"), QStringLiteral("02.0.0.0.0.a")},
                       {QStringLiteral("ip"), QStringLiteral("10.0.0.08")},
                       {QStringLiteral("mask"), QStringLiteral("255.255.0.0")},
                       {QStringLiteral("gateway"), QStringLiteral("10.0.0.1")},
                       {QStringLiteral("hw_description"), QStringLiteral("D")},
                       {QStringLiteral("serial_number"), QStringLiteral("2300000042")},
                       {QStringLiteral("hw_version"), QStringLiteral("0.0.0.2")},
                       {QStringLiteral("rectifier_id"), QStringLiteral("ab")},
                       {QStringLiteral("site"), QStringLiteral("S")}}
        << hx("12345678" "02000000000A" "0A000008" "FFFF0000" "0A000001" "7F" "0A000008" "00000000" "01" "44"
              "32333030303030303432" "3B20" "00000002" "02000000000A" "000000000000000000000000" "000000AB"
              "000000000000000000000000" "01" "53");
    QTest::newRow("subnet mask alone: flags 0")
        << QVariantMap{{QStringLiteral("mask"), QStringLiteral("255.0.0.0")}}
        << writeBlock(mac, ip, hx("FF000000"), gw, 0x00, description, serial, hwv, rect, LastSite);
    QTest::newRow("gateway alone: flags 0") << QVariantMap{{QStringLiteral("gateway"), QStringLiteral("1.2.3.4")}}
                                            << writeBlock(mac, ip, mask, hx("01020304"), 0x00, description, serial,
                                                          hwv, rect, LastSite);
    QTest::newRow("IP: bit 0, sent twice") << QVariantMap{{QStringLiteral("ip"), QStringLiteral("10.1.2.5")}}
                                           << writeBlock(mac, hx("0A010205"), mask, gw, 0x01, description, serial,
                                                         hwv, rect, LastSite);
    QTest::newRow("octets with leading zeros and blanks")
        << QVariantMap{{QStringLiteral("ip"), QStringLiteral("010. 001.002 .08")}}
        << writeBlock(mac, hx("0A010208"), mask, gw, 0x01, description, serial, hwv, rect, LastSite);
    QTest::newRow("MAC: bit 4, sent twice") << QVariantMap{{QStringLiteral("mac"), QStringLiteral("0.1a.3A.E0.0.FF")}}
                                            << writeBlock(hx("001A3AE000FF"), ip, mask, gw, 0x10, description,
                                                          serial, hwv, rect, LastSite);
    QTest::newRow("description of no bytes") << QVariantMap{{QStringLiteral("hw_description"), QString()}}
                                             << writeBlock(mac, ip, mask, gw, 0x02, {}, serial, hwv, rect, LastSite);
    QTest::newRow("description of one byte") << QVariantMap{{QStringLiteral("hw_description"), QStringLiteral("Q")}}
                                             << writeBlock(mac, ip, mask, gw, 0x02, "Q", serial, hwv, rect, LastSite);
    QTest::newRow("Korean description counted in CP949 bytes")
        << QVariantMap{{QStringLiteral("hw_description"), QStringLiteral("설명 텍스트")}}
        << writeBlock(mac, ip, mask, gw, 0x02, hx("BCB3B8ED20C5D8BDBAC6AE"), serial, hwv, rect, LastSite);
    QTest::newRow("Korean site counted in UTF-8 bytes")
        << QVariantMap{{QStringLiteral("site"), QStringLiteral("부산 지사")}}
        << writeBlock(mac, ip, mask, gw, 0x40, description, serial, hwv, rect, hx("EBB680EC82B020ECA780EC82AC"));
    QTest::newRow("line breaks go out as CR LF")
        << QVariantMap{{QStringLiteral("hw_description"), QStringLiteral("a\nb\r\nc\rd")},
                       {QStringLiteral("site"), QStringLiteral("x\ny")}}
        << writeBlock(mac, ip, mask, gw, 0x42, "a\r\nb\r\nc\r\nd", serial, hwv, rect, "x\r\ny");
    QTest::newRow("serial number with the label's ';'")
        << QVariantMap{{QStringLiteral("serial_number"), QStringLiteral("2300000042;")}}
        << writeBlock(mac, ip, mask, gw, 0x04, description, "2300000042", hwv, rect, LastSite);
    QTest::newRow("Korean serial number of 10 CP949 bytes")
        << QVariantMap{{QStringLiteral("serial_number"), QStringLiteral("가나다라마")}}
        << writeBlock(mac, ip, mask, gw, 0x04, description, hx("B0A1B3AAB4D9B6F3B8B6"), hwv, rect, LastSite);
    QTest::newRow("rectifier ID: bit 5, 32-bit big-endian")
        << QVariantMap{{QStringLiteral("rectifier_id"), QStringLiteral("1234abCD")}}
        << writeBlock(mac, ip, mask, gw, 0x20, description, serial, hwv, hx("1234ABCD"), LastSite);
    QTest::newRow("hardware version: bit 3") << QVariantMap{{QStringLiteral("hw_version"), QStringLiteral("1.2.3.4")}}
                                             << writeBlock(mac, ip, mask, gw, 0x08, description, serial,
                                                           hx("01020304"), rect, LastSite);
    QTest::newRow("unticked addresses and site go out as last read")
        << QVariantMap{{QStringLiteral("rectifier_id"), QStringLiteral("0")},
                       {QStringLiteral("keep:ip"), QStringLiteral("999.1.1.1")},
                       {QStringLiteral("keep:mac"), QStringLiteral("zz.1.1.1.1.1")},
                       {QStringLiteral("keep:site"), QStringLiteral("edited")}}
        << writeBlock(mac, ip, mask, gw, 0x20, description, serial, hwv, hx("00000000"), LastSite);
    // The description and the serial number are sent as the boxes hold them, ticked or not
    // (their flags stay clear); left as read, they are the read's own bytes.
    QTest::newRow("unticked description and serial as edited")
        << QVariantMap{{QStringLiteral("rectifier_id"), QStringLiteral("0")},
                       {QStringLiteral("keep:hw_description"), QStringLiteral("edited")},
                       {QStringLiteral("keep:serial_number"), QStringLiteral("9900000009;")}}
        << writeBlock(mac, ip, mask, gw, 0x20, QByteArray("edited"), QByteArray("9900000009"), hwv,
                      hx("00000000"), LastSite);
    // 83 fixed bytes + the last read's site (6) leave 164 for the description.
    QTest::newRow("payload of exactly 253 bytes")
        << QVariantMap{{QStringLiteral("hw_description"), QString(164, QLatin1Char('d'))}}
        << writeBlock(mac, ip, mask, gw, 0x02, QByteArray(164, 'd'), serial, hwv, rect, LastSite);
    Q_UNUSED(asRead);
}

void TestNetwork::build()
{
    QFETCH(QVariantMap, changes);
    QFETCH(QByteArray, expected);
    const IpSettingsReadBack last = decodeIpSettingsBlock(lastBlock());
    QVERIFY(last.complete());
    const IpWriteBlock b = buildIpSettingsWrite(formWith(last, changes), last);
    QVERIFY2(b.ok(), qPrintable(b.error));
    QCOMPARE(b.payload.toHex(' '), expected.toHex(' '));
    const int n = quint8(b.payload.at(31));
    const int m = quint8(b.payload.at(82 + n));
    QCOMPARE(b.payload.size(), 83 + n + m);
}

void TestNetwork::unchangedTextsKeepTheirBytes_data()
{
    QTest::addColumn<QByteArray>("description"); // as read
    QTest::addColumn<QByteArray>("serial");
    QTest::newRow("CR CR LF") << QByteArray("a\r\r\nb") << QByteArray("2200000001");
    QTest::newRow("lone CR and lone LF") << QByteArray("a\rb\nc") << QByteArray("2200000001");
    QTest::newRow("CR LF CR LF at the end") << QByteArray("a\r\n\r\n") << QByteArray("2200000001");
    QTest::newRow("bytes that are no CP949") << QByteArray("\xFF\xFE\x80 x") << QByteArray("22\xFF\xFF\0\0\0\0\0\0", 10);
    QTest::newRow("NUL in the text") << QByteArray("a\0b", 3) << QByteArray("2200000001");
}

// Only the IP changes: the description and the serial number go out as the very bytes read,
// from the form as read (the CLI) and from the form as a text box gives line breaks back.
void TestNetwork::unchangedTextsKeepTheirBytes()
{
    QFETCH(QByteArray, description);
    QFETCH(QByteArray, serial);
    QByteArray block = readBlock(description, LastSite);
    block.replace(30 + description.size(), 10, serial);
    const IpSettingsReadBack last = decodeIpSettingsBlock(block);
    QVERIFY(last.complete());
    for (const bool widget : {false, true}) {
        IpSettingsForm form = formFromReadBack(last);
        if (widget)
            form.hwDescription = fromCrLf(form.hwDescription);
        form.ip = {QStringLiteral("10"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("9")};
        form.ipSelected = true;
        const IpWriteBlock b = buildIpSettingsWrite(form, last);
        QVERIFY2(b.ok(), qPrintable(b.error));
        QCOMPARE(b.payload.toHex(' '), writeBlock(hx("001A3AE00001"), hx("0A000009"), hx("FFFFFF00"), hx("C0A80001"), 0x01,
                                                  description, serial, hx("00000001"), hx("FFFFFFFE"), LastSite)
                                           .toHex(' '));
    }
}

void TestNetwork::refuse_data()
{
    QTest::addColumn<QVariantMap>("changes");
    QTest::addColumn<int>("lastReadBytes"); // 0: the whole read
    QTest::addColumn<QString>("message");
    auto one = [](const char *key, const QString &value) { return QVariantMap{{QLatin1String(key), value}}; };
    QTest::newRow("nothing selected") << QVariantMap{{QStringLiteral("keep:ip"), QStringLiteral("1.2.3.4")}} << 0
                                      << QStringLiteral("No item is selected");
    QTest::newRow("octet 256") << one("ip", QStringLiteral("256.0.0.1")) << 0
                               << QStringLiteral("정류기 IP 주소: 256 does not fit in one byte (0..255)");
    QTest::newRow("octet huge") << one("mask", QStringLiteral("1.1.1.99999999999999999999999")) << 0
                                << QStringLiteral("does not fit in one byte");
    QTest::newRow("octet not decimal") << one("gateway", QStringLiteral("1.2.3.x")) << 0
                                       << QStringLiteral("GATEWAY: 'x' is not a valid integer value");
    QTest::newRow("octet hexadecimal") << one("ip", QStringLiteral("1.2.3.0x1")) << 0
                                       << QStringLiteral("'0x1' is not a valid integer value");
    QTest::newRow("octet negative") << one("hw_version", QStringLiteral("0.0.0.-1")) << 0
                                    << QStringLiteral("HW 버전: '-1' is not a valid integer value");
    QTest::newRow("octet empty") << one("ip", QStringLiteral("1.2.3")) << 0
                                 << QStringLiteral("'' is not a valid integer value");
    QTest::newRow("MAC part not hexadecimal") << one("mac", QStringLiteral("00.1A.3A.E0.00.1G")) << 0
                                              << QStringLiteral("Mac 주소: '1G' is not a valid integer value");
    QTest::newRow("MAC part above FF") << one("mac", QStringLiteral("00.1A.3A.E0.00.100")) << 0
                                       << QStringLiteral("Mac 주소: 100 is above FF");
    QTest::newRow("rectifier ID of 9 digits") << one("rectifier_id", QStringLiteral("000000001")) << 0
                                              << QStringLiteral("more than 8 hexadecimal digits");
    QTest::newRow("rectifier ID not hexadecimal") << one("rectifier_id", QStringLiteral("12G4")) << 0
                                                  << QStringLiteral("정류기 ID: '12G4' is not a valid integer value");
    QTest::newRow("rectifier ID empty") << one("rectifier_id", QString()) << 0
                                        << QStringLiteral("'' is not a valid integer value");
    QTest::newRow("unticked serial number edited to 5 bytes")
        << QVariantMap{{QStringLiteral("rectifier_id"), QStringLiteral("1")},
                       {QStringLiteral("keep:serial_number"), QStringLiteral("short")}} << 0
        << QStringLiteral("Serial 번호: 'short' is 5 bytes; it must be exactly 10");
    QTest::newRow("serial number of 9 bytes") << one("serial_number", QStringLiteral("220000001")) << 0
                                              << QStringLiteral("is 9 bytes; it must be exactly 10");
    QTest::newRow("serial number of 11 bytes") << one("serial_number", QStringLiteral("22000000011")) << 0
                                               << QStringLiteral("is 11 bytes; it must be exactly 10");
    QTest::newRow("Korean serial number of 6 characters, 12 bytes")
        << one("serial_number", QStringLiteral("가나다라마바")) << 0 << QStringLiteral("is 12 bytes");
    QTest::newRow("serial number without CP949 encoding")
        << one("serial_number", QStringLiteral("220000000\U0001F600")) << 0
        << QStringLiteral("Serial 번호: '\U0001F600' cannot be written");
    QTest::newRow("description without CP949 encoding") << one("hw_description", QStringLiteral("QELN ☃ 54V")) << 0
                                                        << QStringLiteral("HW 설명: '☃' cannot be written");
    QTest::newRow("description of 256 bytes") << one("hw_description", QString(128, QChar(0xC815))) << 0
                                              << QStringLiteral("HW 설명: 256 bytes; at most 255 fit");
    QTest::newRow("site of 256 UTF-8 bytes") << one("site", QString(85, QChar(0xC11C)) + QLatin1Char('x')) << 0
                                             << QStringLiteral("Site 정보: 256 bytes in UTF-8");
    QTest::newRow("site with a lone surrogate") << one("site", QStringLiteral("a") + QChar(0xD800)) << 0
                                                << QStringLiteral("cannot be written in UTF-8");
    QTest::newRow("payload of 254 bytes") << one("hw_description", QString(165, QLatin1Char('d'))) << 0
                                          << QStringLiteral("would be 254 bytes; at most 253");
    QTest::newRow("last read lacks the site") << one("ip", QStringLiteral("1.2.3.4")) << 90
                                              << QStringLiteral("cut short and lacks site");
    QTest::newRow("last read lacks all but the MAC") << one("site", QStringLiteral("x")) << 8
                                                     << QStringLiteral("lacks ip, mask, gateway, hw_description, "
                                                                       "serial_number, hw_version, rectifier_id");
}

void TestNetwork::refuse()
{
    QFETCH(QVariantMap, changes);
    QFETCH(int, lastReadBytes);
    QFETCH(QString, message);
    const QByteArray block = lastBlock();
    const IpSettingsReadBack last = decodeIpSettingsBlock(lastReadBytes ? block.left(lastReadBytes) : block);
    const IpWriteBlock b = buildIpSettingsWrite(formWith(last, changes), last);
    QVERIFY(!b.ok());
    QVERIFY2(b.error.contains(message), qPrintable(b.error));
    QCOMPARE(b.payload, QByteArray());
}

void TestNetwork::refuseWithoutRead()
{
    IpSettingsForm form;
    form.selectAll(true);
    const IpWriteBlock b = buildIpSettingsWrite(form, std::nullopt);
    QVERIFY(b.error.contains(QStringLiteral("not been read")));
    QCOMPARE(b.payload, QByteArray());
}

void TestNetwork::serialRequests()
{
    EngineRig rig(false);
    IpSettingsLink ip(rig.engine);
    QSignalSpy decoded(&ip, &IpSettingsLink::readBackDecoded);

    const quint64 ticket = ip.requestRead();
    QCOMPARE(ticket, 1u);
    rig.engine.pollNow();
    QCOMPARE(rig.link.written(), QList<QByteArray>{":0122DD\r\n"});
    // The read went once; polling goes on after it.
    QVERIFY(!rig.engine.pollingHeld());
    rig.engine.pollNow();
    QCOMPARE(rig.link.written().value(1), QByteArray(":01040001008377\r\n"));

    const QByteArray block = readBlock("QELN " + CpJeongRyuGi, QByteArray("서울 국사"));
    rig.link.injectNow(serialAnswer(block));
    QCOMPARE(decoded.size(), 1);
    QCOMPARE(decoded.at(0).at(1).toULongLong(), 1u);
    QVERIFY(ip.lastReadBack());
    QCOMPARE(ip.lastReadBack()->hwDescriptionText, QStringLiteral("QELN 정류기"));
    QCOMPARE(ip.lastReadBack()->siteText, QStringLiteral("서울 국사"));
    QCOMPARE(ip.requestRead(), 2u);

    rig.link.clearWritten();
    const QByteArray payload = hx("123456780102");
    QVERIFY(ip.sendWrite(payload));
    QCOMPARE(rig.link.written(), QList<QByteArray>{testframes::serialFrame("01230000123456780102")});

    ip.invalidate();
    QVERIFY(!ip.lastReadBack());
    QCOMPARE(ip.generation(), 1u);
}

void TestNetwork::tcpRequests()
{
    EngineRig rig(true);
    IpSettingsLink ip(rig.engine);
    QSignalSpy decoded(&ip, &IpSettingsLink::readBackDecoded);
    QByteArray block = readBlock("AB", "Z");
    block.resize(150, '\0');
    rig.link.setResponder([&](const QByteArray &w) -> QByteArray {
        const int tid = quint8(w[0]) << 8 | quint8(w[1]);
        if (quint8(w[7]) == 0x41)
            return testframes::tcpResponse(tid, 0x41, block);
        return w.left(4) + QByteArray(2, '\0');
    });

    ip.requestRead();
    rig.engine.pollNow();
    QCOMPARE(rig.link.written().value(0).mid(2).toHex(), QByteArray("0000000201") + "41");
    QTRY_COMPARE(decoded.size(), 1);
    QCOMPARE(render(*ip.lastReadBack()), rendered(QStringLiteral("AB"), QStringLiteral("Z")));
    QTRY_VERIFY(!rig.engine.tcpBusy());

    // The write: function 0x42, the payload as it is, its length + 2 in the length byte.
    const QByteArray payload = QByteArray(253, '\x5A');
    QVERIFY(ip.sendWrite(payload));
    // No status poll until the dialog resumes it (and renews the connection).
    QVERIFY(rig.engine.pollingHeld());
    QTRY_COMPARE(rig.link.written().size(), 2);
    const QByteArray frame = rig.link.written().at(1);
    QCOMPARE(frame.mid(2, 6).toHex(), QByteArray("000000ff0142"));
    QCOMPARE(frame.mid(8), payload);
}

void TestNetwork::sendWriteRefusesSendsNothing()
{
    for (const bool tcp : {false, true}) {
        EngineRig rig(tcp);
        IpSettingsLink ip(rig.engine);
        QSignalSpy sent(&rig.engine, &LinkEngine::requestSent);
        QVERIFY(!ip.sendWrite(QByteArray()));
        QVERIFY(!ip.sendWrite(QByteArray(254, 'x')));
        QCoreApplication::processEvents();
        QCOMPARE(sent.size(), 0);
        QCOMPARE(rig.link.written(), QList<QByteArray>());
        QVERIFY(!rig.engine.pollingHeld());
    }
}

QTEST_GUILESS_MAIN(TestNetwork)
#include "tst_network.moc"

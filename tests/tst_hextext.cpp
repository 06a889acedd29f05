#include "link/hextext.h"

#include <QTest>

using namespace qeln;

class TestHexText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void hexToInt_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("throws");
        QTest::newRow("empty is zero") << QByteArray() << 0 << false;
        QTest::newRow("status count") << QByteArray("0083") << 131 << false;
        QTest::newRow("lower case") << QByteArray("ff") << 255 << false;
        QTest::newRow("full word") << QByteArray("FFFF") << 65535 << false;
        QTest::newRow("eight digits") << QByteArray("7FFFFFFF") << 0x7FFFFFFF << false;
        QTest::newRow("not hex") << QByteArray("0G") << 0 << true;
        QTest::newRow("blank") << QByteArray(" 1") << 0 << true;
        QTest::newRow("sign") << QByteArray("-1") << 0 << true;
        QTest::newRow("nine digits") << QByteArray("100000000") << 0 << true;
    }
    void hexToInt()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, value);
        QFETCH(bool, throws);
        if (throws)
            QVERIFY_THROWS_EXCEPTION(ConversionError, HexToInt(text));
        else
            QCOMPARE(HexToInt(text), value);
    }

    void fixedWidth_data()
    {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("131 in four") << qint64(131) << 4 << QByteArray("0083");
        QTest::newRow("10 in one") << qint64(10) << 1 << QByteArray("A");
        QTest::newRow("zero in two") << qint64(0) << 2 << QByteArray("00");
        QTest::newRow("largest word") << qint64(0xFFFF) << 4 << QByteArray("FFFF");
        QTest::newRow("record number") << qint64(300) << 4 << QByteArray("012C");
    }
    void fixedWidth()
    {
        QFETCH(qint64, value);
        QFETCH(int, digits);
        QFETCH(QByteArray, text);
        QCOMPARE(IntToHexFixed(int(value), digits), text);
        QCOMPARE(Int64ToHexFixed(value, digits), text);
    }

    void int64EightDigits()
    {
        QCOMPARE(Int64ToHexFixed(0xFFFFFFFFLL, 8), QByteArray("FFFFFFFF"));
        QCOMPARE(Int64ToHexFixed(0x12AB34CDLL, 8), QByteArray("12AB34CD"));
    }

    void bytesToHex_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("two bytes") << QByteArray("\x0A\xFF", 2) << 2 << QByteArray("0AFF");
        QTest::newRow("one byte") << QByteArray("\x7F") << 1 << QByteArray("7F");
        QTest::newRow("count zero") << QByteArray("\x7F") << 0 << QByteArray();
        QTest::newRow("first of three") << QByteArray("\x01\x02\x03", 3) << 1 << QByteArray("01");
        QTest::newRow("nul byte") << QByteArray("\x00", 1) << 1 << QByteArray("00");
        QTest::newRow("count past end") << QByteArray("\x10") << 4 << QByteArray("10");
    }
    void bytesToHex()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, count);
        QFETCH(QByteArray, text);
        QCOMPARE(BytesToHex(bytes, count), text);
    }

    void lrc_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("lrc");
        QTest::newRow("status poll") << QByteArray("010400010083") << 0x77;
        QTest::newRow("write 0x8005 to 0x30") << QByteArray("010600308005") << 0x44;
        QTest::newRow("odd tail ignored") << QByteArray("0104000100831") << 0x77;
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("sum wraps to zero") << QByteArray("FF01") << 0;
        QTest::newRow("lower case pairs") << QByteArray("01b2") << 0x4D;
    }
    void lrc()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, lrc);
        QCOMPARE(int(ComputeLrc(body)), lrc);
    }

    void lrcRefusesNonHex()
    {
        QVERIFY_THROWS_EXCEPTION(ConversionError, ComputeLrc("01Z4"));
    }
};

QTEST_GUILESS_MAIN(TestHexText)
#include "tst_hextext.moc"

// What the read that follows an IP-settings write says about it: written, refused (the block
// reads back unchanged) or read back different, naming the items.

#include "network/ipsettings.h"
#include "network/ipsettingslink.h"

#include <QTest>

#include <functional>

using namespace qeln;

namespace {

// The parts of a read-back block that the write can change.
struct Block {
    QByteArray mac = QByteArray::fromHex("001A3AE00001");
    QByteArray ip = QByteArray::fromHex("C0A8325C");
    QByteArray mask = QByteArray::fromHex("FFFFFF00");
    QByteArray gateway = QByteArray::fromHex("C0A83201");
    QByteArray description = "PSU_6S_2000W;";
    QByteArray serial = "2200000001";
    QByteArray hwVersion = QByteArray::fromHex("00000001");
    QByteArray rectifierId = QByteArray::fromHex("00000001");
    QByteArray site = "site";

    QByteArray bytes() const
    {
        QByteArray b(2, '\0');
        b += mac + ip + mask + gateway + QByteArray(1, '\x01') + ip + QByteArray(4, '\0');
        b += char(description.size()) + description + serial + "; " + hwVersion;
        b += mac + mac + QByteArray(6, '\0') + rectifierId + rectifierId;
        b += QByteArray::fromHex("0102000300000000") + char(site.size()) + site;
        return b;
    }
    IpSettingsReadBack read() const { return decodeIpSettingsBlock(bytes()); }
};

using FormEdit = std::function<void(IpSettingsForm &)>;
using BlockEdit = std::function<void(Block &)>;

} // namespace

Q_DECLARE_METATYPE(FormEdit)
Q_DECLARE_METATYPE(BlockEdit)

class TestIpWriteCheck : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void outcome_data();
    void outcome();
};

void TestIpWriteCheck::outcome_data()
{
    QTest::addColumn<FormEdit>("edit");      // what the operator changed and selected
    QTest::addColumn<BlockEdit>("readBack"); // how the controller's block looks afterwards
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("items");

    const FormEdit newSite = [](IpSettingsForm &f) {
        f.site = QStringLiteral("제2변전소");
        f.siteSelected = true;
    };
    const BlockEdit siteTaken = [](Block &b) { b.site = QStringLiteral("제2변전소").toUtf8(); };
    const FormEdit newIpAndSite = [=](IpSettingsForm &f) {
        newSite(f);
        f.ip = {QStringLiteral("10"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("7")};
        f.ipSelected = true;
    };

    QTest::newRow("site written") << newSite << siteTaken << int(IpWriteCheck::Written) << QString();
    QTest::newRow("site refused: block unchanged")
        << newSite << BlockEdit([](Block &) {}) << int(IpWriteCheck::Refused) << QStringLiteral("Site 정보");
    QTest::newRow("IP and site refused") << newIpAndSite << BlockEdit([](Block &) {})
                                         << int(IpWriteCheck::Refused) << QStringLiteral("정류기 IP 주소, Site 정보");
    QTest::newRow("IP read back other than sent")
        << newIpAndSite << BlockEdit([=](Block &b) {
               siteTaken(b);
               b.ip = QByteArray::fromHex("0A000008");
           })
        << int(IpWriteCheck::Different) << QStringLiteral("정류기 IP 주소");
    QTest::newRow("an item not selected changed as well")
        << newSite << BlockEdit([=](Block &b) {
               siteTaken(b);
               b.gateway = QByteArray::fromHex("C0A832FE");
           })
        << int(IpWriteCheck::Different) << QStringLiteral("GATEWAY");
    QTest::newRow("answer cut short before the site")
        << newSite << BlockEdit([](Block &b) { b.site.clear(); })
        << int(IpWriteCheck::Different) << QStringLiteral("Site 정보");
    QTest::newRow("description typed but not selected: the controller keeps its own")
        << FormEdit([=](IpSettingsForm &f) {
               newSite(f);
               f.hwDescription = QStringLiteral("typed, not selected");
           })
        << siteTaken << int(IpWriteCheck::Written) << QString();
    QTest::newRow("selected but unchanged: written")
        << FormEdit([](IpSettingsForm &f) { f.rectifierIdSelected = true; }) << BlockEdit([](Block &) {})
        << int(IpWriteCheck::Written) << QString();
    QTest::newRow("rectifier ID written")
        << FormEdit([](IpSettingsForm &f) {
               f.rectifierId = QStringLiteral("FFFFFFFE");
               f.rectifierIdSelected = true;
           })
        << BlockEdit([](Block &b) { b.rectifierId = QByteArray::fromHex("FFFFFFFE"); })
        << int(IpWriteCheck::Written) << QString();
}

void TestIpWriteCheck::outcome()
{
    QFETCH(FormEdit, edit);
    QFETCH(BlockEdit, readBack);
    QFETCH(int, outcome);
    QFETCH(QString, items);
    const Block original;
    const IpSettingsReadBack before = original.read();
    QVERIFY(before.complete());
    IpSettingsForm form = formFromReadBack(before);
    edit(form);
    const IpWriteBlock block = buildIpSettingsWrite(form, before);
    QVERIFY2(block.ok(), qPrintable(block.error));
    Block after = original;
    readBack(after);
    QByteArray bytes = after.bytes();
    if (after.site.isEmpty() && !original.site.isEmpty())
        bytes.chop(1); // the answer ends before the site's length byte
    const IpWriteCheck check = checkIpWrite(form, block.payload, before, decodeIpSettingsBlock(bytes));
    QCOMPARE(int(check.outcome), outcome);
    QCOMPARE(check.names(), items);
}

QTEST_GUILESS_MAIN(TestIpWriteCheck)
#include "tst_ipwritecheck.moc"

#include <QtTest>

#include "HexText.h"

class TestHexText : public QObject {
    Q_OBJECT

private slots:
    void hexTextToBytes_data();
    void hexTextToBytes();
    void parseGoAddress_data();
    void parseGoAddress();
};

void TestHexText::hexTextToBytes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("count");
    QByteArray b300(300, 0), nines(251, 9);
    for (int i = 0; i < 300; ++i) b300[i] = char(i);
    auto h = [](const char* digits) { return QByteArray::fromHex(digits); };
    QTest::newRow("blank splits runs") << "2000 0000" << h("20000000") << 4;
    QTest::newRow("odd run ends with one digit") << "8000000" << h("80000000") << 4;
    QTest::newRow("0x is not a prefix") << "0x0800abcd" << h("000800ABCD") << 5;
    QTest::newRow("odd runs, non-ASCII") << "1-2中345h" << h("01023405") << 4;
    QTest::newRow("no digits") << "xyz -+" << QByteArray() << 0;
    // The buffer takes 251 bytes; the count wraps at 256.
    QTest::newRow("300 bytes in one run") << QString(b300.toHex()) << b300.left(251) << 300 % 256;
    QTest::newRow("300 one-digit runs") << QString("9 ").repeated(300) << nines << 300 % 256;
}

void TestHexText::hexTextToBytes() {
    QFETCH(QString, text);
    QFETCH(QByteArray, stored);
    struct {
        praxon::ByteBufferArray buffer;
        std::array<uint8_t, 64> guard;  // must stay untouched
    } g;
    memset(&g, 0xEE, sizeof g);
    const QByteArray utf8 = text.toUtf8();
    QTEST(int(praxon::HexTextToBytes({utf8.constData(), size_t(utf8.size())}, g.buffer)), "count");
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(&g), sizeof g),
             stored + QByteArray(int(sizeof g) - stored.size(), '\xEE'));
}

void TestHexText::parseGoAddress_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<uint>("address");
    QTest::newRow("0X prefix, seven digits") << "0X8000000" << true << 0x08000000u;
    QTest::newRow("blanks inside and around, h") << " 2000 100a H" << true << 0x2000100Au;
    QTest::newRow("all ones") << "FFFFffff" << true << 0xFFFFFFFFu;
    QTest::newRow("blanks only") << "   " << false << 0u;
    QTest::newRow("nine digits") << "0x080000000" << false << 0u;
    QTest::newRow("non-hex") << "0800G000" << false << 0u;
    QTest::newRow("prefix alone") << "0x" << false << 0u;
    QTest::newRow("prefix and suffix") << "0x0800h" << false << 0u;
}

void TestHexText::parseGoAddress() {
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(uint, address);
    const QByteArray utf8 = text.toUtf8();
    uint32_t result = 0xDEADBEEF;
    QCOMPARE(praxon::ParseGoAddress({utf8.constData(), size_t(utf8.size())}, &result), ok);
    QCOMPARE(result, ok ? address : 0xDEADBEEFu);
}

QTEST_GUILESS_MAIN(TestHexText)
#include "tst_hextext.moc"

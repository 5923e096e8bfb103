#include <QtTest>

#include "HexText.h"
#include "IntelHex.h"

using praxon::ByteBufferArray;

class TestHexText : public QObject {
    Q_OBJECT

  private slots:
    void byteToHex_data();
    void byteToHex();
    void bytesToHex_data();
    void bytesToHex();
    void hexTextToBytes_data();
    void hexTextToBytes();
    void hexTextToBytesNeverOverruns();
    void isHexDigit_data();
    void isHexDigit();
    void parseGoAddress_data();
    void parseGoAddress();
};

void TestHexText::byteToHex_data() {
    QTest::addColumn<int>("byte");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero keeps both digits") << 0x00 << "00";
    QTest::newRow("low nibble only") << 0x05 << "05";
    QTest::newRow("0A not A") << 0x0A << "0A";
    QTest::newRow("upper case") << 0xAB << "AB";
    QTest::newRow("high nibble only") << 0xF0 << "F0";
    QTest::newRow("all ones") << 0xFF << "FF";
}

void TestHexText::byteToHex() {
    QFETCH(int, byte);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(praxon::ByteToHex(static_cast<uint8_t>(byte))), text);
}

void TestHexText::bytesToHex_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("last");
    QTest::addColumn<QString>("text");
    const QByteArray some = QByteArray::fromHex("0A00FF7E41");
    QTest::newRow("last -1 is empty") << some << -1 << "";
    QTest::newRow("last -100 is empty") << some << -100 << "";
    QTest::newRow("first element only") << some << 0 << "0A";
    QTest::newRow("up to last, no separators") << some << 4 << "0A00FF7E41";
    QTest::newRow("stops at last") << some << 2 << "0A00FF";
}

void TestHexText::bytesToHex() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, last);
    QFETCH(QString, text);
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    QCOMPARE(QString::fromStdString(praxon::BytesToHex(data, last)), text);
}

void TestHexText::hexTextToBytes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("count");
    QTest::newRow("eight digits") << "08000000" << QByteArray::fromHex("08000000") << 4;
    QTest::newRow("blank splits runs") << "2000 0000" << QByteArray::fromHex("20000000") << 4;
    QTest::newRow("odd run ends with one digit")
        << "8000000" << QByteArray::fromHex("80000000") << 4;
    QTest::newRow("0x is not a prefix") << "0x08000000" << QByteArray::fromHex("0008000000") << 5;
    QTest::newRow("h suffix ignored") << "20001000h" << QByteArray::fromHex("20001000") << 4;
    QTest::newRow("lower case") << "0800abcd" << QByteArray::fromHex("0800ABCD") << 4;
    QTest::newRow("single digit") << "7" << QByteArray::fromHex("07") << 1;
    QTest::newRow("several odd runs") << "1-2-345" << QByteArray::fromHex("01023405") << 4;
    QTest::newRow("empty") << "" << QByteArray() << 0;
    QTest::newRow("no digits") << "xyz -+" << QByteArray() << 0;
    QTest::newRow("non-ASCII separators") << "20中00" << QByteArray::fromHex("2000") << 2;
}

void TestHexText::hexTextToBytes() {
    QFETCH(QString, text);
    QFETCH(QByteArray, stored);
    QFETCH(int, count);
    ByteBufferArray buffer;
    buffer.fill(0xEE);
    const QByteArray utf8 = text.toUtf8();
    const uint8_t n =
        praxon::HexTextToBytes(std::string_view(utf8.constData(), utf8.size()), buffer);
    QCOMPARE(int(n), count);
    for (int i = 0; i < stored.size(); ++i) QCOMPARE(int(buffer[i]), int(uint8_t(stored[i])));
    // Elements beyond the bytes stored keep their values.
    for (size_t i = stored.size(); i < buffer.size(); ++i) QCOMPARE(int(buffer[i]), 0xEE);
}

void TestHexText::hexTextToBytesNeverOverruns() {
    // 300 bytes in one run and 300 one-digit runs: the buffer takes 251, the count wraps.
    struct Guarded {
        ByteBufferArray buffer;
        std::array<uint8_t, 64> guard;
    } g;
    g.buffer.fill(0);
    g.guard.fill(0x5A);
    std::string longRun;
    for (int i = 0; i < 300; ++i) longRun += praxon::ByteToHex(static_cast<uint8_t>(i));
    QCOMPARE(int(praxon::HexTextToBytes(longRun, g.buffer)), 300 % 256);
    for (int i = 0; i < 251; ++i) QCOMPARE(int(g.buffer[i]), i & 0xFF);
    for (uint8_t b : g.guard) QCOMPARE(int(b), 0x5A);

    std::string manyRuns;
    for (int i = 0; i < 300; ++i) manyRuns += "9 ";
    QCOMPARE(int(praxon::HexTextToBytes(manyRuns, g.buffer)), 300 % 256);
    QCOMPARE(int(g.buffer[250]), 9);
    for (uint8_t b : g.guard) QCOMPARE(int(b), 0x5A);
}

void TestHexText::isHexDigit_data() {
    QTest::addColumn<QString>("ch");
    QTest::addColumn<bool>("expected");
    QTest::newRow("7") << "7" << true;
    QTest::newRow("0") << "0" << true;
    QTest::newRow("9") << "9" << true;
    QTest::newRow("d") << "d" << true;
    QTest::newRow("a") << "a" << true;
    QTest::newRow("F") << "F" << true;
    QTest::newRow("G") << "G" << false;
    QTest::newRow("g") << "g" << false;
    QTest::newRow("blank") << " " << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("colon after 9") << ":" << false;
    QTest::newRow("at before A") << "@" << false;
    QTest::newRow("two digits") << "77" << false;
    QTest::newRow("non-ASCII") << "中" << false;
}

void TestHexText::isHexDigit() {
    QFETCH(QString, ch);
    QFETCH(bool, expected);
    const QByteArray utf8 = ch.toUtf8();
    QCOMPARE(praxon::IsHexDigit(std::string_view(utf8.constData(), utf8.size())), expected);
}

void TestHexText::parseGoAddress_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<uint>("address");
    QTest::newRow("default") << "08000000" << true << 0x08000000u;
    QTest::newRow("seven digits are a number") << "8000000" << true << 0x08000000u;
    QTest::newRow("0x prefix") << "0x08000000" << true << 0x08000000u;
    QTest::newRow("0X prefix") << "0X20000000" << true << 0x20000000u;
    QTest::newRow("h suffix") << "20001000h" << true << 0x20001000u;
    QTest::newRow("H suffix") << "20001000H" << true << 0x20001000u;
    QTest::newRow("blank inside") << "2000 0000" << true << 0x20000000u;
    QTest::newRow("blanks around") << "  0800abcd " << true << 0x0800ABCDu;
    QTest::newRow("one digit") << "5" << true << 5u;
    QTest::newRow("all ones") << "FFFFFFFF" << true << 0xFFFFFFFFu;
    QTest::newRow("empty") << "" << false << 0u;
    QTest::newRow("blanks only") << "   " << false << 0u;
    QTest::newRow("nine digits") << "080000000" << false << 0u;
    QTest::newRow("non-hex") << "0800G000" << false << 0u;
    QTest::newRow("prefix alone") << "0x" << false << 0u;
    QTest::newRow("suffix alone") << "h" << false << 0u;
    QTest::newRow("prefix and suffix") << "0x0800h" << false << 0u;
    QTest::newRow("two numbers") << "0800-0000" << false << 0u;
    QTest::newRow("x inside") << "08x00000" << false << 0u;
    QTest::newRow("nine digits after prefix") << "0x080000000" << false << 0u;
}

void TestHexText::parseGoAddress() {
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(uint, address);
    const QByteArray utf8 = text.toUtf8();
    uint32_t result = 0xDEADBEEF;
    QCOMPARE(praxon::ParseGoAddress(std::string_view(utf8.constData(), utf8.size()), &result), ok);
    QCOMPARE(result, ok ? address : 0xDEADBEEFu);
}

QTEST_GUILESS_MAIN(TestHexText)
#include "tst_hextext.moc"

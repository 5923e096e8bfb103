#include <QtTest>

#include "IntelHex.h"

using namespace praxon;

class TestIntelHexWriter : public QObject {
    Q_OBJECT

private slots:
    void lines_data();
    void lines();
    void roundTrip();
};

void TestIntelHexWriter::lines_data() {
    QTest::addColumn<QString>("got");
    QTest::addColumn<QString>("line");
    auto q = [](const std::string& s) { return QString::fromStdString(s); };
    auto data = [&](uint32_t address, const QByteArray& b, int count = 64) {
        return q(DataRecordLine(address, reinterpret_cast<const uint8_t*>(b.constData()), count));
    };
    QByteArray zeroSum(64, char(0));  // 0x40 + 0x01 + 0xBF = 0x100: checksum 00, never 100
    zeroSum[63] = char(0xBF);
    QTest::newRow("04, low bits ignored")
        << q(ExtendedLinearAddressLine(0x0801FFC0)) << ":020000040801F1";
    QTest::newRow("04 checksum 00")
        << q(ExtendedLinearAddressLine(0x00FA0000)) << ":0200000400FA00";
    QTest::newRow("offset keeps leading zeros")
        << data(0x08010A00, QByteArray(64, 1)) << ":400A0000" + QString("01").repeated(64) + "76";
    QTest::newRow("data checksum 00")
        << data(0x08000100, zeroSum) << ":40010000" + QString("00").repeated(63) + "BF00";
    QTest::newRow("count 0") << data(0, zeroSum, 0) << "";
    QTest::newRow("count 256") << data(0, QByteArray(256, 0), 256) << "";
}

void TestIntelHexWriter::lines() {
    QFETCH(QString, got);
    QTEST(got, "line");
}

// The upload's layout (start record, an 04 record at each 64 KB, 64-byte data records, end
// record) read back by the reader gives the image, each byte once, in order, at its address.
void TestIntelHexWriter::roundTrip() {
    QByteArray image(128 * 1024, 0), loaded;
    for (int i = 0; i < image.size(); ++i) image[i] = char(i * 13 + i / 256);
    const auto* bytes = reinterpret_cast<const uint8_t*>(image.constData());
    std::vector<std::string> lines{StartLinearAddressLine()};
    for (uint32_t at = 0; at < uint32_t(image.size()); at += 64) {
        if (at % 0x10000 == 0) lines.push_back(ExtendedLinearAddressLine(0x08000000 + at));
        lines.push_back(DataRecordLine(0x08000000 + at, bytes + at, 64));
    }
    lines.push_back(EndOfFileLine());
    HexRecord record;
    for (const std::string& line : lines) {
        std::string message;
        QVERIFY2(ParseHexLine(line + "\r", record, &message), line.c_str());  // CR LF file
        if (record.RecType != 0) continue;
        QVERIFY2(line.size() == 139 && record.Address == 0x08000000 + loaded.size(), line.c_str());
        loaded.append(reinterpret_cast<const char*>(record.Data.data()), record.DataLen);
    }
    QCOMPARE(record.RecType, uint8_t(1));
    QCOMPARE(loaded, image);
}

QTEST_GUILESS_MAIN(TestIntelHexWriter)
#include "tst_intelhexwriter.moc"

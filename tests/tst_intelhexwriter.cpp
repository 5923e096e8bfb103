#include <QtTest>

#include <map>

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
    QTest::newRow("start") << q(StartLinearAddressLine()) << ":0400000508000000EF";
    QTest::newRow("end") << q(EndOfFileLine()) << ":00000001FF";
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
// record) read back by the reader gives the image, each byte once, at its address.
void TestIntelHexWriter::roundTrip() {
    std::vector<uint8_t> image(128 * 1024);
    uint32_t x = 12345;
    for (auto& b : image) b = uint8_t((x = x * 1103515245u + 12345u) >> 16);
    std::vector<std::string> lines{StartLinearAddressLine()};
    for (uint32_t at = 0; at < image.size(); at += 64) {
        if (at % 0x10000 == 0) lines.push_back(ExtendedLinearAddressLine(0x08000000 + at));
        lines.push_back(DataRecordLine(0x08000000 + at, image.data() + at, 64));
    }
    lines.push_back(EndOfFileLine());
    HexRecord record;
    std::map<int64_t, uint8_t> loaded;
    for (const std::string& line : lines) {
        std::string message;
        QVERIFY2(ParseHexLine(line + "\r", record, &message), line.c_str());  // CR LF file
        if (line.size() != 139 && record.RecType == 0) QFAIL(line.c_str());
        for (int k = 0; record.RecType == 0 && k < record.DataLen; ++k)
            QVERIFY(loaded.emplace(int64_t{record.Address} + k, record.Data[k]).second);
    }
    QCOMPARE(record.RecType, uint8_t(1));
    QCOMPARE(loaded.size(), image.size());
    QCOMPARE(loaded.begin()->first, int64_t{0x08000000});
    for (const auto& [address, byte] : loaded) QCOMPARE(byte, image[size_t(address - 0x08000000)]);
}

QTEST_GUILESS_MAIN(TestIntelHexWriter)
#include "tst_intelhexwriter.moc"

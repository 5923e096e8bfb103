#include <QtTest>

#include <map>
#include <vector>

#include "IntelHex.h"

using praxon::HexRecord;

namespace {

constexpr uint32_t kFlashBase = 0x08000000;

// The upload's order: start record, an extended linear record before every block on a 64 KB
// boundary, one data record per 64-byte block, end record.
std::vector<std::string> WriteImage(const std::vector<uint8_t>& image) {
    std::vector<std::string> lines{praxon::StartLinearAddressLine()};
    for (size_t at = 0; at < image.size(); at += 64) {
        const uint32_t block = kFlashBase + static_cast<uint32_t>(at);
        if (block % 0x10000 == 0) lines.push_back(praxon::ExtendedLinearAddressLine(block));
        lines.push_back(praxon::DataRecordLine(block, image.data() + at, 64));
    }
    lines.push_back(praxon::EndOfFileLine());
    return lines;
}

std::vector<uint8_t> Image(int kb) {
    std::vector<uint8_t> image(static_cast<size_t>(kb) * 1024);
    uint32_t x = 12345;
    for (auto& b : image) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return image;
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

class TestIntelHexWriter : public QObject {
    Q_OBJECT

  private slots:
    void fixedLines();
    void extendedLinear_data();
    void extendedLinear();
    void dataRecord_data();
    void dataRecord();
    void dataRecordCountOutOfRange();
    void layout_data();
    void layout();
    void roundTrip_data();
    void roundTrip();
};

void TestIntelHexWriter::fixedLines() {
    QCOMPARE(Q(praxon::StartLinearAddressLine()), QStringLiteral(":0400000508000000EF"));
    QCOMPARE(Q(praxon::EndOfFileLine()), QStringLiteral(":00000001FF"));
}

void TestIntelHexWriter::extendedLinear_data() {
    QTest::addColumn<uint>("address");
    QTest::addColumn<QString>("line");
    QTest::newRow("flash start") << 0x08000000u << ":020000040800F2";
    QTest::newRow("second 64 KB") << 0x08010000u << ":020000040801F1";
    QTest::newRow("low bits ignored") << 0x0801FFC0u << ":020000040801F1";
    QTest::newRow("zero") << 0x00000000u << ":020000040000FA";
    QTest::newRow("checksum 00") << 0x00FA0000u << ":0200000400FA00";
    QTest::newRow("top") << 0xFFFF0000u << ":02000004FFFFFC";
}

void TestIntelHexWriter::extendedLinear() {
    QFETCH(uint, address);
    QFETCH(QString, line);
    QCOMPARE(Q(praxon::ExtendedLinearAddressLine(address)), line);
}

void TestIntelHexWriter::dataRecord_data() {
    QTest::addColumn<uint>("address");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("line");
    const QByteArray ff(64, char(0xFF));
    QTest::newRow("64 x FF at flash start")
        << 0x08000000u << ff << ":40000000" + QString(128, 'F') + "00";
    QTest::newRow("64 x FF at 0x08000040")
        << 0x08000040u << ff << ":40004000" + QString(128, 'F') + "C0";
    QTest::newRow("offset keeps leading zeros") << 0x08010A00u << QByteArray(64, char(0x01))
                                                << ":400A0000" + QString("01").repeated(64) + "76";
    // 0x40 + 0x01 + 0x00 + 0x00 + 63 x 0x00 + 0xBF = 0x100: checksum 00, never 100.
    QByteArray zeroSum(64, char(0));
    zeroSum[63] = char(0xBF);
    QTest::newRow("sum multiple of 256")
        << 0x08000100u << zeroSum << ":40010000" + QString("00").repeated(63) + "BF00";
    QTest::newRow("one byte") << 0x20001234u << QByteArray::fromHex("0a") << ":011234000AAF";
}

void TestIntelHexWriter::dataRecord() {
    QFETCH(uint, address);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, line);
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    const QString got = Q(praxon::DataRecordLine(address, data, bytes.size()));
    QCOMPARE(got, line);
    QCOMPARE(got.size(), 11 + 2 * bytes.size());
}

void TestIntelHexWriter::dataRecordCountOutOfRange() {
    const uint8_t bytes[256] = {};
    QCOMPARE(Q(praxon::DataRecordLine(0, bytes, 0)), QString());
    QCOMPARE(Q(praxon::DataRecordLine(0, bytes, -1)), QString());
    QCOMPARE(Q(praxon::DataRecordLine(0, bytes, 256)), QString());
    QCOMPARE(Q(praxon::DataRecordLine(0, nullptr, 4)), QString());
    QCOMPARE(Q(praxon::DataRecordLine(0, bytes, 255)).size(), 11 + 510);
}

void TestIntelHexWriter::layout_data() {
    QTest::addColumn<int>("kb");
    QTest::newRow("16 KB") << 16;
    QTest::newRow("64 KB") << 64;
    QTest::newRow("128 KB") << 128;
}

void TestIntelHexWriter::layout() {
    QFETCH(int, kb);
    const auto lines = WriteImage(Image(kb));
    const int segments = (kb + 63) / 64;
    QCOMPARE(int(lines.size()), 2 + segments + kb * 1024 / 64);
    QCOMPARE(Q(lines.front()), QStringLiteral(":0400000508000000EF"));
    QCOMPARE(Q(lines[1]), QStringLiteral(":020000040800F2"));
    QCOMPARE(Q(lines.back()), QStringLiteral(":00000001FF"));
    // Every data line is 139 characters; offsets run 0000, 0040, ... within each 64 KB.
    int offset = 0;
    for (size_t i = 2; i + 1 < lines.size(); ++i) {
        const QString line = Q(lines[i]);
        if (line.startsWith(":02000004")) {
            QCOMPARE(offset, 0);
            continue;
        }
        QCOMPARE(line.size(), 139);
        QCOMPARE(line.mid(3, 4), QString("%1").arg(offset, 4, 16, QChar('0')).toUpper());
        offset = (offset + 0x40) & 0xFFFF;
    }
    if (kb == 128) {
        QCOMPARE(Q(lines[2 + 1024]), QStringLiteral(":020000040801F1"));
        QVERIFY(Q(lines[2 + 1025]).startsWith(":40000000"));
    }
}

void TestIntelHexWriter::roundTrip_data() {
    QTest::addColumn<int>("kb");
    QTest::newRow("1 KB") << 1;
    QTest::newRow("64 KB") << 64;
    QTest::newRow("128 KB") << 128;
}

void TestIntelHexWriter::roundTrip() {
    QFETCH(int, kb);
    const auto image = Image(kb);
    const auto lines = WriteImage(image);
    HexRecord record;
    std::map<int64_t, uint8_t> loaded;
    bool ended = false;
    for (const std::string& line : lines) {
        QVERIFY(!ended);
        std::string message;
        // The file is written with CR LF; a reader splitting at LF keeps the CR.
        QVERIFY2(praxon::ParseHexLine(line + "\r", record, &message),
                 qPrintable(Q(line + " " + message)));
        if (record.RecType == 0x01) ended = true;
        if (record.RecType != 0x00) continue;
        for (int k = 0; k < record.DataLen; ++k) {
            QVERIFY(loaded.emplace(int64_t{record.Address} + k, record.Data[k]).second);
        }
    }
    QVERIFY(ended);
    QCOMPARE(loaded.size(), image.size());
    int64_t expected = kFlashBase;
    for (const auto& [address, byte] : loaded) {
        QCOMPARE(address, expected);
        QCOMPARE(int(byte), int(image[static_cast<size_t>(address - kFlashBase)]));
        ++expected;
    }
}

QTEST_GUILESS_MAIN(TestIntelHexWriter)
#include "tst_intelhexwriter.moc"

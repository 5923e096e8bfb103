#include <QtTest>

#include "IntelHex.h"

using praxon::HexRecord;

namespace {

const QString kIllegal = QStringLiteral("HEX文件中包含非法格式数据.");
const QString kChecksum = QStringLiteral("校验和不正确，您给的串是：");
const QString kSegmentLen = QStringLiteral("扩展段地址长度不是2个字节，这个地址偶也算不出啊......");
const QString kLinearLen =
    QStringLiteral("扩展线性地址长度不是4个字节，这个地址偶也算不出啊......");
const QString kStartLinearLen =
    QStringLiteral("开始线性地址长度不是4个字节，这个地址偶也算不出啊......");
const QString kStartSegment = QStringLiteral("HEX文件中出现开始段地址记录，请联系");

// A record line with a correct checksum, built independently of the writer.
QString Line(int len, int offset, int type, const QByteArray& data) {
    QByteArray bytes;
    bytes.append(char(len));
    bytes.append(char(offset >> 8));
    bytes.append(char(offset & 0xFF));
    bytes.append(char(type));
    bytes.append(data);
    int sum = 0;
    for (char b : bytes) sum += uint8_t(b);
    bytes.append(char((256 - sum % 256) % 256));
    return ":" + QString::fromLatin1(bytes.toHex().toUpper());
}

QString Line(int offset, int type, const QByteArray& data) {
    return Line(data.size(), offset, type, data);
}

QByteArray Pattern(int n) {
    QByteArray b;
    for (int i = 0; i < n; ++i) b.append(char(i * 7 + 3));
    return b;
}

bool Parse(const QString& line, HexRecord& record, QString* message) {
    const QByteArray utf8 = line.toUtf8();
    std::string msg = "untouched";
    const bool ok =
        praxon::ParseHexLine(std::string_view(utf8.constData(), utf8.size()), record, &msg);
    *message = QString::fromStdString(msg);
    return ok;
}

}  // namespace

class TestIntelHexReader : public QObject {
    Q_OBJECT

  private slots:
    void singleLine_data();
    void singleLine();
    void sequence_data();
    void sequence();
    void dataBytesAndFields();
    void startSegmentNamesContact();
    void rejectedLineKeepsBase();
};

void TestIntelHexReader::singleLine_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("linear");       // base set before the line
    QTest::addColumn<QString>("message");  // "" for an accepted line

    QTest::newRow("end of file") << ":00000001FF" << 0 << "";
    QTest::newRow("end of file with trailing blank") << ":00000001FF " << 0 << "";
    QTest::newRow("end of file with trailing CR") << ":00000001FF\r" << 0 << "";
    QTest::newRow("blank and CR") << ":00000001FF \r" << 0 << "";
    QTest::newRow("start linear address") << ":0400000508000000EF" << 0 << "";
    QTest::newRow("extended linear") << ":020000040800F2" << 0 << "";
    QTest::newRow("extended segment") << ":020000021000EC" << 0 << "";
    QTest::newRow("lower case") << Line(0xab00, 0, QByteArray::fromHex("deadbeef")).toLower() << 0
                                << "";
    QTest::newRow("empty data record") << ":0000000000" << 0 << "";
    QTest::newRow("252 data bytes") << Line(0, 0, Pattern(252)) << 0 << "";
    QTest::newRow("04 value 0x7FFF") << Line(0, 4, QByteArray::fromHex("7FFF")) << 0 << "";
    QTest::newRow("last byte at 0x7FFFFFFF") << Line(0xFFF0, 0, Pattern(16)) << 0x7FFF << "";

    QTest::newRow("checksum off by one") << ":00000001FE" << 0 << kChecksum + ":00000001FE";
    const QString noColon = Line(0, 0, Pattern(16)).mid(1);
    QTest::newRow("data line without colon") << noColon << 0 << kChecksum + noColon;
    QTest::newRow("checksum message quotes the whole line")
        << ":00000001FE \r" << 0 << kChecksum + ":00000001FE \r";
    QTest::newRow("empty line") << "" << 0 << kIllegal;
    QTest::newRow("blanks only") << "   " << 0 << kIllegal;
    QTest::newRow("colon only") << ":" << 0 << kIllegal;
    QTest::newRow("no start code, checksum matches") << "000000" << 0 << kIllegal;
    QTest::newRow("too short for the type") << ":00000000" << 0 << kIllegal;
    QTest::newRow("non-hex in offset") << ":00G00001FF" << 0 << kIllegal;
    QTest::newRow("blank in offset") << ":000 0001FF" << 0 << kIllegal;
    QTest::newRow("trailing digits") << ":00000001FFAB" << 0 << kIllegal;
    QTest::newRow("trailing letter") << ":00000001FFx" << 0 << kIllegal;
    QTest::newRow("odd count after colon") << ":00000001FF0" << 0 << kIllegal;
    QTest::newRow("fewer data bytes than the count")
        << Line(0x10, 0, 0, QByteArray::fromHex("AB")) << 0 << kIllegal;
    QTest::newRow("253 data bytes") << Line(0, 0, Pattern(253)) << 0 << kIllegal;
    QTest::newRow("255 data bytes") << Line(0, 0, Pattern(255)) << 0 << kIllegal;
    QTest::newRow("02 with one byte") << Line(0, 2, QByteArray::fromHex("10")) << 0 << kSegmentLen;
    QTest::newRow("04 with four bytes")
        << Line(0, 4, QByteArray::fromHex("08000000")) << 0 << kLinearLen;
    QTest::newRow("04 with no bytes") << Line(0, 4, QByteArray()) << 0 << kLinearLen;
    QTest::newRow("05 with two bytes")
        << Line(0, 5, QByteArray::fromHex("0800")) << 0 << kStartLinearLen;
    QTest::newRow("type 06") << Line(0, 6, QByteArray()) << 0 << kIllegal;
    QTest::newRow("type FF") << Line(0, 0xFF, QByteArray()) << 0 << kIllegal;
    QTest::newRow("04 value 0x8000") << Line(0, 4, QByteArray::fromHex("8000")) << 0 << kIllegal;
    QTest::newRow("04 value 0xFFFF") << Line(0, 4, QByteArray::fromHex("FFFF")) << 0 << kIllegal;
    QTest::newRow("data past 0x7FFFFFFF") << Line(0xFFF0, 0, Pattern(17)) << 0x7FFF << kIllegal;
}

void TestIntelHexReader::singleLine() {
    QFETCH(QString, line);
    QFETCH(int, linear);
    QFETCH(QString, message);
    HexRecord record;
    record.Linear = linear;
    QString got;
    const bool ok = Parse(line, record, &got);
    QCOMPARE(got, message.isEmpty() ? QStringLiteral("untouched") : message);
    QCOMPARE(ok, message.isEmpty());
}

void TestIntelHexReader::sequence_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("segment");
    QTest::addColumn<int>("linear");
    QTest::addColumn<int>("address");

    const QString data16 = Line(0x0000, 0, Pattern(16));
    QTest::newRow("no extended record loads at the offset")
        << QStringList{Line(0x1234, 0, Pattern(4))} << 0 << 0 << 0x1234;
    QTest::newRow("04 then data") << QStringList{":020000040800F2", data16} << 0 << 0x0800
                                  << 0x08000000;
    QTest::newRow("02 clears linear")
        << QStringList{":020000040800F2", ":020000021000EC", Line(0x0010, 0, Pattern(16))} << 0x1000
        << 0 << 0x00010010;
    QTest::newRow("04 clears segment")
        << QStringList{":020000021000EC", ":020000040801F1", data16} << 0 << 0x0801 << 0x08010000;
    QTest::newRow("offset read as unsigned")
        << QStringList{":020000040800F2", Line(0x8000, 0, Pattern(16))} << 0 << 0x0800
        << 0x08008000;
    QTest::newRow("start linear keeps the base")
        << QStringList{":020000040800F2", ":0400000508000000EF", Line(0x0100, 0, Pattern(8))} << 0
        << 0x0800 << 0x08000100;
    QTest::newRow("segment and offset at their maximum")
        << QStringList{":02000002FFFFFE", Line(0xFFFF, 0, Pattern(1))} << 0xFFFF << 0
        << 0xFFFF * 16 + 0xFFFF;
    QTest::newRow("end of file changes nothing")
        << QStringList{":020000040800F2", Line(0x0040, 0, Pattern(4)), ":00000001FF"} << 0 << 0x0800
        << 0x08000040;
}

void TestIntelHexReader::sequence() {
    QFETCH(QStringList, lines);
    QFETCH(int, segment);
    QFETCH(int, linear);
    QFETCH(int, address);
    HexRecord record;
    for (const QString& line : lines) {
        QString message;
        QVERIFY2(Parse(line, record, &message), qPrintable(line + " " + message));
    }
    QCOMPARE(record.Segment, segment);
    QCOMPARE(record.Linear, linear);
    QCOMPARE(record.Address, address);
}

void TestIntelHexReader::dataBytesAndFields() {
    HexRecord record;
    record.Data.fill(0xEE);
    QString message;
    const QByteArray bytes = QByteArray::fromHex("00017F80FE");
    QVERIFY(Parse(Line(0xC0DE, 0, bytes).toLower(), record, &message));
    QCOMPARE(int(record.DataLen), 5);
    QCOMPARE(record.Offset, 0xC0DE);
    QCOMPARE(int(record.RecType), 0);
    for (int k = 0; k < bytes.size(); ++k) QCOMPARE(int(record.Data[k]), int(uint8_t(bytes[k])));
    QCOMPARE(int(record.Data[5]), 0xEE);

    // The largest record fills the data array up to index 251.
    const QByteArray big = Pattern(252);
    QVERIFY(Parse(Line(0, 0, big), record, &message));
    QCOMPARE(int(record.DataLen), 252);
    QCOMPARE(int(record.Data[251]), int(uint8_t(big[251])));

    QVERIFY(Parse(":0400000508000000EF", record, &message));
    QCOMPARE(int(record.RecType), 5);
    QCOMPARE(int(record.DataLen), 4);
}

void TestIntelHexReader::startSegmentNamesContact() {
    HexRecord record;
    QString message;
    QVERIFY(!Parse(Line(0, 3, QByteArray::fromHex("12345678")), record, &message));
    QVERIFY2(message.startsWith(kStartSegment), qPrintable(message));
    QVERIFY(message.mid(kStartSegment.size()).startsWith("https://"));
}

void TestIntelHexReader::rejectedLineKeepsBase() {
    // A rejected extended address leaves the base as it was.
    HexRecord record;
    QString message;
    QVERIFY(Parse(":020000040800F2", record, &message));
    QVERIFY(!Parse(Line(0, 4, QByteArray::fromHex("8000")), record, &message));
    QVERIFY(!Parse(Line(0, 2, QByteArray::fromHex("100000")), record, &message));
    QCOMPARE(record.Linear, 0x0800);
    QCOMPARE(record.Segment, 0);
}

QTEST_GUILESS_MAIN(TestIntelHexReader)
#include "tst_intelhexreader.moc"

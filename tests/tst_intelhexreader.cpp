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
QString Line(int offset, int type, const QByteArray& data, int len = -1) {
    QByteArray b;
    for (int v : {len < 0 ? int(data.size()) : len, offset >> 8, offset & 0xFF, type})
        b.append(char(v));
    b.append(data);
    int sum = 0;
    for (char c : b) sum += uint8_t(c);
    b.append(char(-sum));
    return ":" + QString::fromLatin1(b.toHex().toUpper());
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
};

void TestIntelHexReader::singleLine_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("linear");       // base set before the line
    QTest::addColumn<QString>("message");  // "" for an accepted line
    const QByteArray h = QByteArray::fromHex("08000000");
    QTest::newRow("end of file, blank and CR") << ":00000001FF \r" << 0 << "";
    QTest::newRow("lower case") << Line(0xab00, 0, Pattern(4)).toLower() << 0 << "";
    QTest::newRow("252 data bytes") << Line(0, 0, Pattern(252)) << 0 << "";
    QTest::newRow("last byte at 0x7FFFFFFF") << Line(0xFFF0, 0, Pattern(16)) << 0x7FFF << "";
    QTest::newRow("checksum first, whole line quoted")
        << ":00000001FE \r" << 0 << kChecksum + ":00000001FE \r";
    QTest::newRow("no colon: checksum first")
        << Line(0, 0, h).mid(1) << 0 << kChecksum + Line(0, 0, h).mid(1);
    QTest::newRow("empty line") << "" << 0 << kIllegal;
    QTest::newRow("no start code, checksum matches") << "000000" << 0 << kIllegal;
    QTest::newRow("non-hex in offset") << ":00G00001FF" << 0 << kIllegal;
    QTest::newRow("odd count after colon") << ":00000001FF0" << 0 << kIllegal;
    QTest::newRow("fewer data bytes than the count") << Line(0, 0, Pattern(1), 16) << 0 << kIllegal;
    QTest::newRow("253 data bytes") << Line(0, 0, Pattern(253)) << 0 << kIllegal;
    QTest::newRow("255 data bytes") << Line(0, 0, Pattern(255)) << 0 << kIllegal;
    QTest::newRow("02 with one byte") << Line(0, 2, Pattern(1)) << 0 << kSegmentLen;
    QTest::newRow("04 with four bytes") << Line(0, 4, h) << 0 << kLinearLen;
    QTest::newRow("05 with two bytes") << Line(0, 5, Pattern(2)) << 0 << kStartLinearLen;
    QTest::newRow("03 start segment") << Line(0, 3, h) << 0 << kStartSegment;
    QTest::newRow("type 06") << Line(0, 6, QByteArray()) << 0 << kIllegal;
    QTest::newRow("04 value 0x8000") << Line(0, 4, QByteArray::fromHex("8000")) << 0 << kIllegal;
    QTest::newRow("data past 0x7FFFFFFF") << Line(0xFFF0, 0, Pattern(17)) << 0x7FFF << kIllegal;
}

void TestIntelHexReader::singleLine() {
    QFETCH(QString, line);
    QFETCH(QString, message);
    HexRecord record;
    QFETCH(int, linear);
    record.Linear = linear;
    QString got;
    QCOMPARE(Parse(line, record, &got), message.isEmpty());
    if (message == kStartSegment)  // the contact address follows
        QVERIFY2(got.startsWith(kStartSegment + "https://"), qPrintable(got));
    else
        QCOMPARE(got, message.isEmpty() ? QStringLiteral("untouched") : message);
}

void TestIntelHexReader::sequence_data() {
    QTest::addColumn<QStringList>("lines");  // "!" first: the line must be rejected
    QTest::addColumn<int>("segment");
    QTest::addColumn<int>("linear");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("len");  // data bytes of the last data record (Pattern)
    const QString lin = ":020000040800F2", d16 = Line(0, 0, Pattern(16));
    QTest::newRow("no extended record")
        << QStringList{Line(0x1234, 0, Pattern(4))} << 0 << 0 << 0x1234 << 4;
    QTest::newRow("02 clears linear")
        << QStringList{lin, ":020000021000EC", Line(0x0010, 0, Pattern(16))} << 0x1000 << 0
        << 0x00010010 << 16;
    QTest::newRow("04 clears segment") << QStringList{":020000021000EC", ":020000040801F1", d16}
                                       << 0 << 0x0801 << 0x08010000 << 16;
    QTest::newRow("offset unsigned, 05 and 01 keep the base")
        << QStringList{lin, ":0400000508000000EF", Line(0x8000, 0, Pattern(252)), ":00000001FF"}
        << 0 << 0x0800 << 0x08008000 << 252;
    QTest::newRow("segment and offset at their maximum")
        << QStringList{":02000002FFFFFE", Line(0xFFFF, 0, Pattern(1))} << 0xFFFF << 0
        << 0xFFFF * 16 + 0xFFFF << 1;
    QTest::newRow("rejected extended records keep the base")
        << QStringList{lin, d16, "!" + Line(0, 4, QByteArray::fromHex("8000")),
                       "!" + Line(0, 2, Pattern(3))}
        << 0 << 0x0800 << 0x08000000 << 16;
}

void TestIntelHexReader::sequence() {
    QFETCH(QStringList, lines);
    QFETCH(int, len);
    HexRecord record;
    record.Data.fill(0xEE);
    for (QString line : lines) {
        const bool bad = line.startsWith('!');
        QString message;
        QVERIFY2(Parse(bad ? line.mid(1) : line, record, &message) != bad,
                 qPrintable(line + " " + message));
    }
    QTEST(record.Segment, "segment");
    QTEST(record.Linear, "linear");
    QTEST(record.Address, "address");
    const QByteArray expected = Pattern(len);
    for (int k = 0; k < len; ++k) QCOMPARE(int(record.Data[k]), int(uint8_t(expected[k])));
    QCOMPARE(int(record.Data[len]), 0xEE);  // nothing stored past the record's bytes
}

QTEST_GUILESS_MAIN(TestIntelHexReader)
#include "tst_intelhexreader.moc"

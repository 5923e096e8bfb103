#include <QtTest>

#include "IntelHex.h"

using praxon::HexRecord;

namespace {

const QString kIllegal = "HEX文件中包含非法格式数据.", kChecksum = "校验和不正确，您给的串是：";
QString LengthMessage(const QString& what, int bytes) {
    return what + QString("长度不是%1个字节，这个地址偶也算不出啊......").arg(bytes);
}

QByteArray Pattern(int n) {
    QByteArray b(n, 0);
    for (int i = 0; i < n; ++i) b[i] = char(i * 7 + 3);
    return b;
}
// A record line with a correct checksum, built independently of the writer.
QString Line(int offset, int type, const QByteArray& data, int len = -1) {
    QByteArray b = QByteArray(1, char(len < 0 ? data.size() : len)) + char(offset >> 8) +
                   char(offset) + char(type) + data;
    int sum = 0;
    for (char c : b) sum -= uint8_t(c);
    return ":" + QString::fromLatin1((b + char(sum)).toHex().toUpper());
}

// "" for an accepted line (its message left untouched), else the message.
QString Parse(const QString& line, HexRecord& record) {
    const QByteArray utf8 = line.toUtf8();
    std::string msg = "untouched";
    if (praxon::ParseHexLine({utf8.constData(), size_t(utf8.size())}, record, &msg))
        return msg == "untouched" ? "" : "accepted, yet " + QString::fromStdString(msg);
    return msg.empty() ? "rejected without a message" : QString::fromStdString(msg);
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
    QTest::addColumn<QString>("message");  // "" for an accepted line
    const QByteArray h = QByteArray::fromHex("08000000");
    QTest::newRow("end of file, blank and CR") << ":00000001FF \r" << QString();
    QTest::newRow("lower case") << Line(0xab00, 0, Pattern(4)).toLower() << QString();
    QTest::newRow("252 data bytes") << Line(0, 0, Pattern(252)) << QString();
    QTest::newRow("bad checksum, line quoted") << ":00000001FE \r" << kChecksum + ":00000001FE \r";
    QTest::newRow("no colon") << Line(0, 0, h).mid(1) << kChecksum + Line(0, 0, h).mid(1);
    QTest::newRow("empty line") << "" << kIllegal;
    QTest::newRow("no start code, checksum matches") << "000000" << kIllegal;
    QTest::newRow("non-hex in offset") << ":00G00001FF" << kIllegal;
    QTest::newRow("odd count after colon") << ":00000001FF0" << kIllegal;
    QTest::newRow("fewer data bytes than the count") << Line(0, 0, Pattern(1), 16) << kIllegal;
    QTest::newRow("253 data bytes") << Line(0, 0, Pattern(253)) << kIllegal;
    QTest::newRow("02 with one byte") << Line(0, 2, Pattern(1)) << LengthMessage("扩展段地址", 2);
    QTest::newRow("04 with four bytes") << Line(0, 4, h) << LengthMessage("扩展线性地址", 4);
    QTest::newRow("05, 2 bytes") << Line(0, 5, Pattern(2)) << LengthMessage("开始线性地址", 4);
    QTest::newRow("03 start segment")
        << Line(0, 3, h) << "HEX文件中出现开始段地址记录，请参阅帮助中的“HEX文件”一节。";
    QTest::newRow("type 06") << Line(0, 6, QByteArray()) << kIllegal;
    QTest::newRow("04 value 0x8000") << Line(0, 4, QByteArray::fromHex("8000")) << kIllegal;
}

void TestIntelHexReader::singleLine() {
    QFETCH(QString, line);
    QFETCH(QString, message);
    HexRecord record;
    QCOMPARE(Parse(line, record), message);
}

void TestIntelHexReader::sequence_data() {
    QTest::addColumn<QStringList>("lines");  // "!" first: the line must be rejected
    QTest::addColumn<QString>("bases");      // segment, linear and the last data record's address
    QTest::addColumn<int>("len");            // its data bytes (Pattern)
    const QString lin = ":020000040800F2", seg = ":020000021000EC", d16 = Line(0, 0, Pattern(16));
    QTest::newRow("02 clears linear")
        << QStringList{lin, seg, Line(0x10, 0, Pattern(16))} << "1000 0 10010" << 16;
    QTest::newRow("04 clears segment")
        << QStringList{seg, ":020000040801F1", d16} << "0 801 8010000" << 16;
    QTest::newRow("offset unsigned, 05 and 01 keep the base")
        << QStringList{lin, ":0400000508000000EF", Line(0x8000, 0, Pattern(252)), ":00000001FF"}
        << "0 800 8008000" << 252;
    QTest::newRow("segment and offset at their maximum")
        << QStringList{":02000002FFFFFE", Line(0xFFFF, 0, Pattern(1))} << "FFFF 0 10FFEF" << 1;
    QTest::newRow("last byte at 0x7FFFFFFF, none past it")
        << QStringList{":020000047FFF7C", Line(0xFFF0, 0, Pattern(16)),
                       "!" + Line(0xFFF0, 0, Pattern(17))}
        << "0 7FFF 7FFFFFF0" << 16;
    QTest::newRow("rejected extended records keep the base")
        << QStringList{lin, d16, "!" + Line(0, 4, QByteArray::fromHex("8000")),
                       "!" + Line(0, 2, Pattern(3))}
        << "0 800 8000000" << 16;
}

void TestIntelHexReader::sequence() {
    QFETCH(QStringList, lines);
    QFETCH(int, len);
    HexRecord record;
    record.Data.fill(0xEE);
    for (QString line : lines) {
        const QString message = Parse(line.startsWith('!') ? line.mid(1) : line, record);
        QVERIFY2(message.isEmpty() != line.startsWith('!'), qPrintable(line + " " + message));
    }
    QTEST(QString::asprintf("%X %X %X", record.Segment, record.Linear, record.Address), "bases");
    // The record's bytes, and nothing stored past them.
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(record.Data.data()), len + 1),
             Pattern(len) + '\xEE');
}

QTEST_GUILESS_MAIN(TestIntelHexReader)
#include "tst_intelhexreader.moc"

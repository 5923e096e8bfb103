#include <QtTest>

#include <sstream>

#include "FirmwareImage.h"
#include "IntelHex.h"

using namespace praxon;

namespace {

const QString kIllegal = "HEX文件中包含非法格式数据.", kChecksum = "校验和不正确，您给的串是：";

// "ADDR=BYTES ..." in hex, segment by segment.
QString Describe(const FirmwareImage& image) {
    QStringList parts;
    for (const ImageSegment& s : image.segments())
        parts << QString::asprintf("%X=", s.address) +
                     QByteArray(reinterpret_cast<const char*>(s.bytes.data()), int(s.bytes.size()))
                         .toHex()
                         .toUpper();
    return parts.join(' ');
}

// A record line with a correct checksum, built independently of the writer.
QByteArray Rec(int offset, int type, const char* hex) {
    const QByteArray data = QByteArray::fromHex(hex);
    QByteArray b =
        QByteArray(1, char(data.size())) + char(offset >> 8) + char(offset) + char(type) + data;
    int sum = 0;
    for (char c : b) sum -= uint8_t(c);
    return ":" + (b + char(sum)).toHex().toUpper();
}

QByteArray Pattern(int n) {
    QByteArray b(n, 0);
    for (int i = 0; i < n; ++i) b[i] = char(i * 7 + i / 251);
    return b;
}

const uint8_t* U8(const QByteArray& b) {
    return reinterpret_cast<const uint8_t*>(b.constData());
}

}  // namespace

class TestFirmwareImage : public QObject {
    Q_OBJECT

private slots:
    void add_data();
    void add();
    void hexFile_data();
    void hexFile();
    void binary_data();
    void binary();
    void rangeWriter_data();
    void rangeWriter();
    void wholeFlashLikeUpload();
    void megabyteRoundTrip();
};

void TestFirmwareImage::add_data() {
    QTest::addColumn<QStringList>("adds");  // "ADDR=BYTES"; only the last one may conflict
    QTest::addColumn<QString>("segments");  // after all adds (a refused add changes nothing)
    QTest::addColumn<qint64>("conflict");   // -1: the last add is accepted
    auto row = [](const char* name, QString adds, QString segments, qint64 conflict = -1) {
        QTest::newRow(name) << adds.split(' ') << segments << conflict;
    };
    row("touching runs merge", "1000=0102 1002=0304", "1000=01020304");
    row("touching, descending", "1002=0304 1000=0102", "1000=01020304");
    row("gap kept", "1000=01 1002=03", "1000=01 1002=03");
    row("bridge joins two runs", "1000=01 1003=04 1001=0203", "1000=01020304");
    row("identical duplicate", "1000=0102 1000=0102", "1000=0102");
    row("overlap at start, same values", "1000=010203 FFE=AABB01", "FFE=AABB010203");
    row("extends a run that is not the last", "1000=01 3000=03 1001=02", "1000=0102 3000=03");
    row("inserted between runs", "1000=01 3000=03 2000=02", "1000=01 2000=02 3000=03");
    row("covers several runs", "1000=01 1002=03 1004=05 FFF=0001020304050607",
        "FFF=0001020304050607");
    row("up to 0xFFFFFFFF", "FFFFFFFE=0102 FFFFFFFC=AABB", "FFFFFFFC=AABB0102");
    row("conflict at start", "1000=010203 FFE=AABB09", "1000=010203", 0x1000);
    row("conflict in the middle", "1000=01020304 1001=02FF04", "1000=01020304", 0x1002);
    row("conflict at end", "1000=0102 1001=FF03", "1000=0102", 0x1001);
    row("lowest of two runs' conflicts", "1000=01 1002=03 FFF=00FF02FF", "1000=01 1002=03", 0x1000);
    row("conflict at 0xFFFFFFFF", "FFFFFFFF=01 FFFFFFFE=0002", "FFFFFFFF=01", 0xFFFFFFFF);
}

void TestFirmwareImage::add() {
    QFETCH(QStringList, adds);
    QFETCH(QString, segments);
    QFETCH(qint64, conflict);
    FirmwareImage image;
    std::vector<std::pair<uint32_t, uint32_t>> accepted;
    for (int i = 0; i < adds.size(); ++i) {
        const QStringList parts = adds[i].split('=');
        const uint32_t address = parts[0].toUInt(nullptr, 16);
        const QByteArray bytes = QByteArray::fromHex(parts[1].toLatin1());
        const bool last = i == adds.size() - 1;
        uint32_t at = 0;
        QCOMPARE(image.add(address, U8(bytes), size_t(bytes.size()), &at), !last || conflict < 0);
        if (!last || conflict < 0)
            accepted.emplace_back(address, uint32_t(bytes.size()));
        else
            QCOMPARE(qint64(at), conflict);
    }
    QCOMPARE(Describe(image), segments);
    QCOMPARE(int(image.records().size()), int(accepted.size()));
    for (size_t i = 0; i < accepted.size(); ++i)
        QCOMPARE(std::make_pair(image.records()[i].address, image.records()[i].size), accepted[i]);
    size_t count = 0;
    for (const ImageSegment& s : image.segments()) {
        count += s.bytes.size();
        if (s.address > 0) QVERIFY(!image.byteAt(s.address - 1));
        if (s.end() < 0x100000000ull) QVERIFY(!image.byteAt(uint32_t(s.end())));
        for (size_t k = 0; k < s.bytes.size(); ++k)
            QCOMPARE(image.byteAt(uint32_t(s.address + k)), std::optional<uint8_t>(s.bytes[k]));
    }
    QCOMPARE(image.byteCount(), count);
}

void TestFirmwareImage::hexFile_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("result");  // segments when read, else message|line|number|address
    const QByteArray ela = ":020000040800F2", end = ":00000001FF", d0 = Rec(0, 0, "01020304"),
                     d4 = Rec(4, 0, "0506");
    QByteArray bad = d4;
    bad[bad.size() - 1] = bad.endsWith('E') ? 'F' : 'E';
    const QByteArray longLine = ":" + QByteArray(1100, '0');
    auto row = [](const char* name, QByteArray file, int kind, QString result) {
        QTest::newRow(name) << file << kind << result;
    };
    row("CR LF, lone CR, lone LF", ela + "\r\n" + d0 + "\r" + d4 + "\n" + end, 0,
        "8000000=010203040506");
    row("byte order mark skipped", "\xEF\xBB\xBF" + ela + "\n" + d0 + "\n" + end + "\n", 0,
        "8000000=01020304");
    row("after the end record ignored", d0 + "\n" + end + "\nnot hex\n" + Rec(0, 0, "FF"), 0,
        "0=01020304");
    row("empty data record", d0 + "\n" + Rec(0x100, 0, "") + "\n" + end, 0, "0=01020304");
    row("bad checksum on line 3, CR", ela + "\r" + d0 + "\r" + bad + "\r" + end,
        ImageLoadError::BadLine, kChecksum + bad + "|" + bad + "|3|0");
    row("CR CR LF: an empty line", d0 + "\r\r\n" + end, ImageLoadError::BadLine,
        kIllegal + "||2|0");
    row("mark on line 2 is not skipped", d0 + "\n\xEF\xBB\xBF" + end, ImageLoadError::BadLine,
        kChecksum + QChar(0xFEFF) + end + "|\xEF\xBB\xBF" + end + "|2|0");
    row("blanks kept in the line shown", d0 + "\nxyz  \n", ImageLoadError::BadLine,
        kIllegal + "|xyz  |2|0");
    row("start segment record", Rec(0, 3, "00001000") + "\n", ImageLoadError::BadLine,
        "HEX文件中出现开始段地址记录，请参阅帮助中的“HEX文件”一节。|" + Rec(0, 3, "00001000") +
            "|1|0");
    row("1025 characters: cut, no message", d0 + "\n" + longLine + "\n" + end,
        ImageLoadError::BadLine, "|" + longLine.left(1024) + "|2|0");
    row("1024 characters: parsed", longLine.left(1024) + "\n", ImageLoadError::BadLine,
        kIllegal + "|" + longLine.left(1024) + "|1|0");
    row("no end record", ela + "\n" + d0 + "\n", ImageLoadError::NoEndRecord, "||0|0");
    row("nothing at all", "", ImageLoadError::NoEndRecord, "||0|0");
    row("end record only", Rec(0, 0, "") + "\n" + end, ImageLoadError::Empty, "||0|0");
    row("conflict", ela + "\n" + d0 + "\n" + Rec(2, 0, "03FF") + "\n" + end,
        ImageLoadError::Conflict, "||0|8000003");
}

void TestFirmwareImage::hexFile() {
    QFETCH(QByteArray, file);
    QFETCH(int, kind);
    std::istringstream in(file.toStdString());
    FirmwareImage image;
    ImageLoadError error;
    QCOMPARE(ReadHexImage(in, &image, &error), kind == ImageLoadError::None);
    QCOMPARE(int(error.kind), kind);
    if (kind == ImageLoadError::None) {
        QTEST(Describe(image), "result");
    } else {
        QVERIFY(image.empty());
        QTEST(QString::fromStdString(error.message + "|" + error.line + "|") +
                  QString::asprintf("%d|%X", error.lineNumber, error.address),
              "result");
    }
}

void TestFirmwareImage::binary_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<uint>("load");
    QTest::addColumn<int>("kind");
    QTest::newRow("empty") << 0 << 0x08000000u << int(ImageLoadError::Empty);
    QTest::newRow("several read chunks") << 200000 << 0x08000000u << int(ImageLoadError::None);
    QTest::newRow("last byte at 0xFFFFFFFF") << 4 << 0xFFFFFFFCu << int(ImageLoadError::None);
    QTest::newRow("one byte past") << 5 << 0xFFFFFFFCu << int(ImageLoadError::TooLarge);
}

void TestFirmwareImage::binary() {
    QFETCH(int, size);
    QFETCH(uint, load);
    QFETCH(int, kind);
    const QByteArray bytes = Pattern(size);
    std::istringstream in(bytes.toStdString());
    FirmwareImage image;
    ImageLoadError error;
    QCOMPARE(ReadBinaryImage(in, load, &image, &error), kind == ImageLoadError::None);
    QCOMPARE(int(error.kind), kind);
    QCOMPARE(Describe(image),
             kind ? QString() : QString::asprintf("%X=", load) + bytes.toHex().toUpper());
    QCOMPARE(int(image.records().size()), kind ? 0 : 1);
}

void TestFirmwareImage::rangeWriter_data() {
    QTest::addColumn<uint>("address");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("split");  // bytes given in the first of two calls
    QTest::addColumn<int>("recordSize");
    QTest::newRow("unaligned, across 64 KB") << 0x0800FFF0u << 100 << 100 << 64;
    QTest::newRow("odd start, several 64 KB") << 0x0801FFC1u << 200000 << 200000 << 64;
    QTest::newRow("one byte each side") << 0x0800FFFFu << 2 << 2 << 255;
    QTest::newRow("two calls, same upper bits") << 0x08000005u << 300 << 33 << 16;
    QTest::newRow("two calls split at 64 KB") << 0x2000FFE0u << 64 << 32 << 64;
    QTest::newRow("near the parser's limit") << 0x7FFFFF00u << 256 << 7 << 255;
}

void TestFirmwareImage::rangeWriter() {
    QFETCH(uint, address);
    QFETCH(int, size);
    QFETCH(int, split);
    QFETCH(int, recordSize);
    const QByteArray bytes = Pattern(size);
    HexRangeWriter writer(recordSize);
    std::vector<std::string> lines;
    writer.addData(address, U8(bytes), size_t(split), &lines);
    writer.addData(address + uint(split), U8(bytes) + split, size_t(size - split), &lines);
    // Read back, the record carried from line to line as a reader does.
    HexRecord record;
    int32_t linear = -1;
    uint64_t next = address;
    for (const std::string& line : lines) {
        std::string message;
        QVERIFY2(ParseHexLine(line, record, &message), line.c_str());
        if (record.RecType == 0x04) {
            QVERIFY2(record.Linear != linear, "address record repeats the upper bits");
            linear = record.Linear;
            continue;
        }
        QCOMPARE(int(record.RecType), 0);
        QVERIFY(linear >= 0);
        QCOMPARE(uint64_t(uint32_t(record.Address)), next);
        QVERIFY(record.DataLen >= 1 && record.DataLen <= recordSize);
        QVERIFY(record.Offset + record.DataLen <= 0x10000);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(record.Data.data()), record.DataLen),
                 bytes.mid(int(next - address), record.DataLen));
        next += record.DataLen;
    }
    QCOMPARE(next, uint64_t(address) + uint64_t(size));
}

void TestFirmwareImage::wholeFlashLikeUpload() {
    // The lines a full read of 256 KB of flash has always produced: an address record at each
    // 64 KB boundary, then one record per 64-byte block.
    const uint32_t base = 0x08000000;
    const QByteArray flash = Pattern(256 * 1024);
    std::vector<std::string> expected, blockwise, whole;
    HexRangeWriter perBlock, once;
    for (int k = 0; k < flash.size() / 64; ++k) {
        const uint32_t a = base + uint32_t(64 * k);
        if (a % 0x10000u == 0) expected.push_back(ExtendedLinearAddressLine(a));
        expected.push_back(DataRecordLine(a, U8(flash) + 64 * k, 64));
        perBlock.addData(a, U8(flash) + 64 * k, 64, &blockwise);
    }
    once.addData(base, U8(flash), size_t(flash.size()), &whole);
    QCOMPARE(blockwise, expected);
    QCOMPARE(whole, expected);
}

void TestFirmwareImage::megabyteRoundTrip() {
    const QByteArray bytes = Pattern(1 << 20);
    std::vector<std::string> lines;
    HexRangeWriter(16).addData(0x08000000, U8(bytes), size_t(bytes.size()), &lines);
    std::string file;
    for (const std::string& line : lines) file += line + "\r\n";
    std::istringstream in(file + EndOfFileLine());
    FirmwareImage image;
    ImageLoadError error;
    QVERIFY(ReadHexImage(in, &image, &error));
    QCOMPARE(int(image.segments().size()), 1);
    QCOMPARE(image.segments()[0].address, 0x08000000u);
    QVERIFY(image.segments()[0].bytes == std::vector<uint8_t>(U8(bytes), U8(bytes) + bytes.size()));
    QCOMPARE(int(image.records().size()), (1 << 20) / 16);
    QCOMPARE(image.records().back().address, 0x08000000u + (1 << 20) - 16);
}

QTEST_GUILESS_MAIN(TestFirmwareImage)
#include "tst_firmwareimage.moc"

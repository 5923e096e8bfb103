// Firmware images: adding records, building them cheaply, reading Intel HEX (line by line) and
// binary files, Intel HEX lines written, and the Go address typed as hex text.
#include <QtTest>

#include <numeric>
#include <sstream>

#include "FirmwareImage.h"
#include "HexText.h"
#include "IntelHex.h"
#include "Messages.h"

using namespace praxon;

namespace {

// "ADDR=BYTES ..." in hex, segment by segment.
QString Describe(const FirmwareImage& image) {
    QStringList parts;
    for (const ImageSegment& s : image.segments()) {
        const QByteArray bytes(reinterpret_cast<const char*>(s.bytes.data()), int(s.bytes.size()));
        parts << QString::asprintf("%X=", s.address) + bytes.toHex().toUpper();
    }
    return parts.join(' ');
}

QByteArray Pattern(int n) {
    QByteArray b(n, 0);
    for (int i = 0; i < n; ++i) b[i] = char(i * 7 + i / 251);
    return b;
}

const uint8_t* U8(const QByteArray& b) {
    return reinterpret_cast<const uint8_t*>(b.constData());
}

// A record line with a correct checksum, built independently of the writer.
QByteArray Line(int offset, int type, const QByteArray& data) {
    QByteArray b = QByteArray(1, char(data.size())) + char(offset >> 8) + char(offset) + char(type);
    b += data;
    int sum = 0;
    for (char c : b) sum -= uint8_t(c);
    return ":" + (b + char(sum)).toHex().toUpper();
}

}  // namespace

class TestFirmwareImage : public QObject {
    Q_OBJECT

private slots:
    // Touching runs, gaps and the records' order are guarded through tst_writeplan's plans.
    void add_data() {
        QTest::addColumn<QStringList>("adds");  // "ADDR=BYTES"; only the last one may conflict
        QTest::addColumn<QString>("segments");  // after all adds (a refused add changes nothing)
        QTest::addColumn<qint64>("conflict");   // -1: the last add is accepted
        auto row = [](const char* name, QString adds, QString segments, qint64 conflict = -1) {
            QTest::newRow(name) << adds.split(' ') << segments << conflict;
        };
        row("bridge joins two runs", "1000=01 1003=04 1001=0203", "1000=01020304");
        row("extends a run that is not the last", "1000=01 3000=03 1001=02", "1000=0102 3000=03");
        row("covers several runs", "1000=01 1002=03 1004=05 FFF=0001020304050607",
            "FFF=0001020304050607");
        row("lowest of two runs' conflicts", "1000=01 1002=03 FFF=00FF02FF", "1000=01 1002=03",
            0x1000);
        row("conflict at 0xFFFFFFFF", "FFFFFFFF=01 FFFFFFFE=0002", "FFFFFFFF=01", 0xFFFFFFFF);
        // Records below the highest run are kept apart until the segments are asked for.
        row("out of order, joined in address order", "3000=03 1000=01 2000=02 1001=02",
            "1000=0102 2000=02 3000=03");
        row("bridge between a run and one added out of order", "1000=01 FFE=AA 1001=02 FFF=BB",
            "FFE=AABB0102");
        row("conflict with a run added out of order", "1004=05 1002=03 1001=0204",
            "1002=03 1004=05", 0x1002);
        row("only the gaps of a covering record are new", "1004=05 1002=03 1000=0102030405",
            "1000=0102030405");
    }

    void add() {
        QFETCH(QStringList, adds);
        QFETCH(qint64, conflict);
        FirmwareImage image;
        for (int i = 0; i < adds.size(); ++i) {
            const uint32_t address = adds[i].section('=', 0, 0).toUInt(nullptr, 16);
            const QByteArray bytes = QByteArray::fromHex(adds[i].section('=', 1).toLatin1());
            const bool refused = i == adds.size() - 1 && conflict >= 0;
            uint32_t at = 0;
            QCOMPARE(image.add(address, U8(bytes), size_t(bytes.size()), &at), !refused);
            if (refused) QCOMPARE(qint64(at), conflict);
        }
        QTEST(Describe(image), "segments");
    }

    // Building from many small records copies each byte at most twice whatever their order
    // (each record rebuilding the run it joins copies about records x size / 2 bytes). The HEX
    // reader's time for such files in both orders: bench/hexload.
    void buildCost() {
        constexpr int kRecords = 65536, kSize = 16;
        const QByteArray bytes = Pattern(kRecords * kSize);
        for (const QString order : {"ascending", "descending", "every second, then the rest"}) {
            std::vector<int> indexes(kRecords);
            std::iota(indexes.begin(), indexes.end(), 0);
            if (order == "descending") std::reverse(indexes.begin(), indexes.end());
            if (order.startsWith("every"))
                std::stable_partition(indexes.begin(), indexes.end(), [](int i) { return i % 2; });
            FirmwareImage image;
            for (int i : indexes)
                QVERIFY(image.add(0x08000000 + uint32_t(i * kSize), U8(bytes) + i * kSize, kSize));
            QCOMPARE(Describe(image), "8000000=" + bytes.toHex().toUpper());
            QVERIFY2(image.copiedBytes() <= 2 * uint64_t(bytes.size()), qPrintable(order));
            QCOMPARE(image.records().front().address, 0x08000000 + uint32_t(indexes[0] * kSize));
        }
    }

    // Intel HEX files line by line (where the address records put the data), and binary files.
    // Refusals the engine shows (no end record, conflicts, no data) are in tst_engine.
    void readFile_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<qint64>("load");  // a binary file's load address; -1: Intel HEX
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("result");  // segments, or on refusal reason|line|number
        const QByteArray ela = ":020000040800F2", end = ":00000001FF", d0 = ":0400000001020304F2",
                         d4 = ":020004000506EF", bad = ":020004000506EE";
        const QByteArray seg = ":020000021000EC", top = ":020000047FFF7C\n";
        const QByteArray longLine = ":" + QByteArray(1100, '0'), ones(252, 1), high("\x80\0", 2);
        const QString illegal = "illegal_format";
        const int badLine = ImageLoadError::BadLine;
        auto row = [](const char* name, QByteArray file, int kind, QString result,
                      qint64 load = -1) { QTest::newRow(name) << file << load << kind << result; };
        row("CR LF, lone CR, lone LF", ela + "\r\n" + d0 + "\r" + d4 + "\n" + end, 0,
            "8000000=010203040506");
        row("byte order mark skipped", "\xEF\xBB\xBF" + ela + "\n" + d0 + "\n" + end + "\n", 0,
            "8000000=01020304");
        row("after the end record ignored", d0 + "\n" + end + "\nnot hex\n:01000000FF00", 0,
            "0=01020304");
        row("02 clears linear", ela + "\n" + seg + "\n" + Line(0x10, 0, "\1") + "\n" + end, 0,
            "10010=01");
        row("04 clears segment, lower case",
            seg + "\n:020000040801F1\n" + Line(0, 0, "\1\2").toLower() + "\n" + end, 0,
            "8010000=0102");
        row("offset unsigned, 252 bytes, 05 keeps the base, blank and CR after the end",
            ela + "\n:0400000508000000EF\n" + Line(0x8000, 0, ones) + "\n" + end + " \r", 0,
            "8008000=" + ones.toHex().toUpper());
        row("segment and offset at their maximum",
            ":02000002FFFFFE\n" + Line(0xFFFF, 0, "\1") + "\n" + end, 0, "10FFEF=01");
        row("last byte at 0x7FFFFFFF", top + Line(0xFFF0, 0, ones.left(16)) + "\n" + end, 0,
            "7FFFFFF0=" + ones.left(16).toHex().toUpper());
        row("one byte past 0x7FFFFFFF", top + Line(0xFFF0, 0, ones.left(17)) + "\n" + end, badLine,
            illegal + "|" + Line(0xFFF0, 0, ones.left(17)) + "|2");
        row("04 value 0x8000", Line(0, 4, high) + "\n" + end, badLine,
            illegal + "|" + Line(0, 4, high) + "|1");
        row("02 with one byte", Line(0, 2, "\1") + "\n" + end, badLine,
            "segment_length|" + Line(0, 2, "\1") + "|1");
        row("fewer data bytes than the count", ":1000000003ED\n" + end, badLine,
            illegal + "|:1000000003ED|1");
        row("bad checksum on line 3, CR", ela + "\r" + d0 + "\r" + bad + "\r" + end, badLine,
            "bad_checksum|" + bad + "|3");
        row("CR CR LF: an empty line", d0 + "\r\r\n" + end, badLine, illegal + "||2");
        row("1025 characters: cut, no message", d0 + "\n" + longLine + "\n" + end, badLine,
            "|" + longLine.left(1024) + "|2");
        row("1024 characters: parsed", longLine.left(1024) + "\n", badLine,
            illegal + "|" + longLine.left(1024) + "|1");
        row("nothing at all", "", ImageLoadError::NoEndRecord, "||0");
        row("binary over several read chunks", Pattern(70000), 0,
            "8000000=" + Pattern(70000).toHex().toUpper(), 0x08000000);
        row("binary, last byte at 0xFFFFFFFF", Pattern(4), 0, "FFFFFFFC=00070E15", 0xFFFFFFFC);
        row("binary, one byte past", Pattern(5), ImageLoadError::TooLarge, "||0", 0xFFFFFFFC);
    }

    void readFile() {
        QFETCH(QByteArray, file);
        QFETCH(qint64, load);
        QFETCH(int, kind);
        std::istringstream in(file.toStdString());
        FirmwareImage image;
        ImageLoadError e;
        QCOMPARE(load < 0 ? ReadHexImage(in, &image, &e)
                          : ReadBinaryImage(in, uint32_t(load), &image, &e),
                 kind == ImageLoadError::None);
        QCOMPARE(int(e.kind), kind);
        // A refused file leaves the image empty.
        const QString refusal =
            (e.lineError == HexLineError::None ? QString() : HexLineErrorName(e.lineError)) + "|" +
            QString::fromStdString(e.line) + "|";
        QTEST(Describe(image) + (kind ? refusal + QString::number(e.lineNumber) : ""), "result");
    }

    // Intel HEX written: an unaligned range across 64 KB in two calls, read back through the file
    // reader. Records stop at the record size and at 64 KB, the second call repeats no address
    // record: ELA, 16, ELA, 64, 20 | 64, 36. Aligned whole-flash reads: tst_integration.
    void hexWriter() {
        const QByteArray bytes = Pattern(200);
        HexRangeWriter writer(64);
        std::vector<std::string> lines;
        writer.addData(0x0800FFF0, U8(bytes), 100, &lines);
        writer.addData(0x08010054, U8(bytes) + 100, 100, &lines);
        QCOMPARE(int(lines.size()), 7);
        std::string file;
        for (const std::string& line : lines) file += line + "\n";
        std::istringstream in(file + EndOfFileLine());
        FirmwareImage image;
        QVERIFY(ReadHexImage(in, &image, nullptr));
        QCOMPARE(Describe(image), "800FFF0=" + bytes.toHex().toUpper());
        // Single lines; offsets with leading zeros are read back above.
        const auto q = [](const std::string& s) { return QString::fromStdString(s); };
        QCOMPARE(q(ExtendedLinearAddressLine(0x0801FFC0)), ":020000040801F1");  // low bits ignored
        QByteArray zeroSum(64, char(0));  // 0x40 + 0x01 + 0xBF = 0x100: checksum 00, never 100
        zeroSum[63] = char(0xBF);
        QCOMPARE(q(DataRecordLine(0x08000100, U8(zeroSum), 64)),
                 ":40010000" + QString("00").repeated(63) + "BF00");
        QCOMPARE(q(DataRecordLine(0, U8(QByteArray(256, 0)), 256)), "");  // count 256
    }

    void parseGoAddress_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("address");  // -1: refused
        QTest::newRow("0X prefix, seven digits") << "0X8000000" << qint64(0x08000000);
        QTest::newRow("blanks inside and around, h") << " 2000 100a H" << qint64(0x2000100A);
        QTest::newRow("nine digits") << "0x080000000" << qint64(-1);
        QTest::newRow("prefix alone") << "0x" << qint64(-1);
    }

    void parseGoAddress() {
        QFETCH(QString, text);
        uint32_t result = 0xDEADBEEF;
        const bool ok = ParseGoAddress(text.toStdString(), &result);
        // A refused text leaves the address as it was.
        QTEST(ok ? qint64(result) : result == 0xDEADBEEF ? -1 : -2, "address");
    }
};

QTEST_GUILESS_MAIN(TestFirmwareImage)
#include "tst_firmwareimage.moc"

// Firmware images: adding records, building them cheaply, Intel HEX lines written, and the Go
// address typed as hex text. (Intel HEX and binary files read: tst_imageformat.)
#include <QtTest>

#include <numeric>
#include <sstream>

#include "FirmwareImage.h"
#include "HexText.h"
#include "IntelHex.h"

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
        row("lowest of two conflicts", "1000=01 1002=03 FFF=00FF02FF", "1000=01 1002=03", 0x1000);
        row("conflict at 0xFFFFFFFF", "FFFFFFFF=01 FFFFFFFE=0002", "FFFFFFFF=01", 0xFFFFFFFF);
        // Records below the highest run are kept apart until the segments are asked for.
        row("out of order, joined in address order", "3000=03 1000=01 2000=02 1001=02",
            "1000=0102 2000=02 3000=03");
        row("bridge between a run and one added out of order", "1000=01 FFE=AA 1001=02 FFF=BB",
            "FFE=AABB0102");
        row("conflict, run added out of order", "1004=05 1002=03 1001=0204", "1002=03 1004=05",
            0x1002);
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

// Motorola S-record files: single lines as the line reader takes or refuses them, whole files
// with their count and end records, and the same image as the ELF and Intel HEX files objcopy
// made from one program.
#include <QtTest>
#include <fstream>
#include <sstream>

#include "FirmwareImage.h"
#include "ImageFormat.h"
#include "SRecord.h"

using praxon::FirmwareImage;
using praxon::ImageLoadError;
using praxon::SrecError;

Q_DECLARE_METATYPE(praxon::SrecError)
Q_DECLARE_METATYPE(praxon::ImageFormat)

namespace {

// "S" + type + count + address + data + checksum, from the hex digits of address and data.
QByteArray line(int type, const QByteArray& addressAndData) {
    const QByteArray bytes = QByteArray::fromHex(addressAndData);
    const int count = bytes.size() + 1;
    unsigned sum = unsigned(count);
    for (char c : bytes) sum += uint8_t(c);
    return "S" + QByteArray::number(type) +
           QByteArray::number(count, 16).rightJustified(2, '0').toUpper() +
           addressAndData.toUpper() +
           QByteArray::number(~sum & 0xFF, 16).rightJustified(2, '0').toUpper();
}

// The image as "ADDRESS:bytes" per segment.
QString describe(const FirmwareImage& image) {
    QStringList parts;
    for (const praxon::ImageSegment& s : image.segments())
        parts << QString::asprintf("%08X:", s.address) +
                     QByteArray(reinterpret_cast<const char*>(s.bytes.data()), int(s.bytes.size()))
                         .toHex()
                         .toUpper();
    return parts.join(' ');
}

}  // namespace

class TestSRecord : public QObject {
    Q_OBJECT
private slots:
    void lines_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<SrecError>("error");
        QTest::addColumn<int>("type");
        QTest::addColumn<uint>("address");
        QTest::addColumn<QByteArray>("data");
        const auto good = [](const char* name, const QByteArray& text, int type, uint address,
                             const QByteArray& data) {
            QTest::newRow(name) << text << SrecError::None << type << address << data;
        };
        const auto bad = [](const char* name, const QByteArray& text, SrecError error) {
            QTest::newRow(name) << text << error << 0 << 0u << QByteArray();
        };
        good("S1, 16-bit address", line(1, "1234A1B2"), 1, 0x1234, "A1B2");
        good("S2, 24-bit address", line(2, "123456A1"), 2, 0x123456, "A1");
        good("S3, 32-bit address", line(3, "08000000DEADBEEF"), 3, 0x08000000, "DEADBEEF");
        good("lower-case digits, blanks after",
             line(3, "08000000dead").toLower().replace("s", "S") + " \t", 3, 0x08000000, "DEAD");
        good("S0 header with text", line(0, "0000414243"), 0, 0, "414243");
        good("S5 count", line(5, "0003"), 5, 3, "");
        good("S6 count", line(6, "010000"), 6, 0x10000, "");
        good("S7 end", line(7, "08000101"), 7, 0x08000101, "");
        good("S9 end", line(9, "0000"), 9, 0, "");
        good("the last bytes at FFFFFFFF", line(3, "FFFFFFFE0102"), 3, 0xFFFFFFFE, "0102");
        good("one byte at FFFFFFFF", line(3, "FFFFFFFFAA"), 3, 0xFFFFFFFF, "AA");
        good("a known line (objcopy's)", "S30908000090400D03000E", 3, 0x08000090, "400D0300");
        bad("checksum off by one", "S30908000090400D03000F", SrecError::BadChecksum);
        bad("a data byte changed", "S30908000090400D03010E", SrecError::BadChecksum);
        bad("count one short", "S30808000090400D03000E", SrecError::BadLength);
        bad("count one long", "S30A08000090400D03000E", SrecError::BadLength);
        bad("odd number of digits", "S30908000090400D03000", SrecError::IllegalFormat);
        bad("not a hex digit", "S3090800009G400D03000E", SrecError::IllegalFormat);
        bad("an inner blank", "S309080000 90400D03000E", SrecError::IllegalFormat);
        bad("lower-case s", "s30908000090400D03000E", SrecError::IllegalFormat);
        bad("S alone", "S", SrecError::IllegalFormat);
        bad("type only", "S1", SrecError::IllegalFormat);
        bad("Intel HEX", ":00000001FF", SrecError::IllegalFormat);
        bad("S4 does not exist", line(4, "00000000"), SrecError::BadType);
        bad("a letter for the type", "SX0300FC", SrecError::BadType);
        bad("S3 too short for its address", line(3, "080000"), SrecError::BadLength);
        bad("S1 without address", QByteArray("S101FE"), SrecError::BadLength);
        bad("S9 with data", line(9, "000001"), SrecError::BadLength);
        bad("S5 with data", line(5, "000301"), SrecError::BadLength);
        bad("past FFFFFFFF", line(3, "FFFFFFFF0102"), SrecError::AddressOverflow);
    }

    void lines() {
        QFETCH(QByteArray, text);
        QFETCH(SrecError, error);
        praxon::SrecRecord record;
        QCOMPARE(praxon::ReadSrecLine(text.toStdString(), record), error);
        if (error != SrecError::None) return;
        QTEST(record.type, "type");
        QTEST(uint(record.address), "address");
        QTEST(QByteArray(reinterpret_cast<const char*>(record.data.data()), record.dataLength)
                  .toHex()
                  .toUpper(),
              "data");
    }

    // Whole files: what they load, or the kind of refusal and the line named (0: the file).
    void files_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("kind");
        QTest::addColumn<SrecError>("error");
        QTest::addColumn<int>("lineNumber");
        QTest::addColumn<QString>("image");  // loaded, or the Conflict address
        const QByteArray head = line(0, "000048454C4C4F") + "\n";
        const QByteArray a = line(3, "0800000001020304") + "\n",
                         b = line(3, "0800000405060708") + "\n";
        const QByteArray end = line(7, "08000000") + "\n";
        const auto good = [](const char* name, const QByteArray& content, const char* image) {
            QTest::newRow(name) << content << int(ImageLoadError::None) << SrecError::None << 0
                                << QString(image);
        };
        const auto bad = [](const char* name, const QByteArray& content, SrecError error,
                            int lineNumber) {
            QTest::newRow(name) << content << int(ImageLoadError::BadSrecLine) << error
                                << lineNumber << QString();
        };
        good("header, data, end", head + a + b + end, "08000000:0102030405060708");
        good("S5 after the data", head + a + b + line(5, "0002") + "\n" + end,
             "08000000:0102030405060708");
        good("S6 count", a + line(6, "000001") + "\n" + end, "08000000:01020304");
        good("S5 between data records", a + line(5, "0001") + "\n" + b + end,
             "08000000:0102030405060708");
        good("CR LF", QByteArray(a + b + end).replace("\n", "\r\n"), "08000000:0102030405060708");
        good("lone CR, no final terminator", QByteArray(a + b + end).replace("\n", "\r").chopped(1),
             "08000000:0102030405060708");
        good("byte order mark, empty lines", "\xEF\xBB\xBF\n\n" + a + "\n" + b + end + "\n\n",
             "08000000:0102030405060708");
        good("records out of order", b + a + end, "08000000:0102030405060708");
        good("16, 24 and 32-bit records mixed",
             line(1, "0010AA") + "\n" + line(2, "010000BB") + "\n" + line(3, "20000000CC") + "\n" +
                 line(9, "0000") + "\n",
             "00000010:AA 00010000:BB 20000000:CC");
        good("same value twice", a + a + end, "08000000:01020304");
        bad("count mismatch", a + b + line(5, "0003") + "\n" + end, SrecError::CountMismatch, 3);
        bad("count before the data it should count", line(5, "0001") + "\n" + a + end,
            SrecError::CountMismatch, 1);
        bad("S6 count mismatch", a + line(6, "000000") + "\n" + end, SrecError::CountMismatch, 2);
        bad("missing end", head + a + b, SrecError::NoEndRecord, 0);
        bad("a record after the end", a + end + b, SrecError::AfterEnd, 3);
        bad("two end records", a + end + end, SrecError::AfterEnd, 3);
        bad("bad checksum on line 3", head + a + "S30908000090400D03000F\n" + end,
            SrecError::BadChecksum, 3);
        bad("odd length", a + "S30908000090400D03000\n" + end, SrecError::IllegalFormat, 2);
        bad("bad type", a + line(4, "00000000") + "\n" + end, SrecError::BadType, 2);
        bad("address overflow", line(3, "FFFFFFFF0102") + "\n" + end, SrecError::AddressOverflow,
            1);
        bad("a long binary line", a + QByteArray(3000, 'S') + "\n" + end, SrecError::TooLong, 2);
        bad("a blank before the first record", " " + a + end, SrecError::IllegalFormat, 1);
        QTest::newRow("two values for one address")
            << a + line(3, "0800000203FF") + "\n" + end << int(ImageLoadError::Conflict)
            << SrecError::None << 0 << "08000003";
        QTest::newRow("no data") << head + end << int(ImageLoadError::Empty) << SrecError::None << 0
                                 << QString();
    }

    void files() {
        QFETCH(QByteArray, content);
        QFETCH(int, kind);
        QFETCH(SrecError, error);
        QFETCH(QString, image);
        std::istringstream in(content.toStdString());
        FirmwareImage loaded;
        loaded.add(0x100, reinterpret_cast<const uint8_t*>("kept"), 4);
        ImageLoadError e;
        const bool ok = praxon::ReadSrecImage(in, &loaded, &e);
        QCOMPARE(int(e.kind), kind);
        QCOMPARE(e.srecError, error);
        QTEST(e.lineNumber, "lineNumber");
        QCOMPARE(ok, kind == ImageLoadError::None);
        if (kind == ImageLoadError::Conflict)
            QCOMPARE(QString::asprintf("%08X", e.address), image);
        else if (ok)
            QCOMPARE(describe(loaded), image);
        else  // a refused file leaves the image as it was
            QCOMPARE(describe(loaded), "00000100:6B657074");
    }

    // The program in examples/elf as objcopy wrote it three ways: every reader gives the same
    // bytes, the ELF's initialised data at its load address in flash (not its RAM address), and
    // the content decides the format whatever the name.
    void sameImageThreeWays_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<praxon::ImageFormat>("format");
        QTest::newRow("ELF") << "blink.elf" << praxon::ImageFormat::Elf;
        QTest::newRow("S-record") << "blink.s37" << praxon::ImageFormat::Srec;
        QTest::newRow("Intel HEX") << "blink.hex" << praxon::ImageFormat::Hex;
    }

    void sameImageThreeWays() {
        QFETCH(QString, file);
        std::ifstream in(QString(PRAXON_EXAMPLES "/elf/" + file).toStdString(), std::ios::binary);
        QVERIFY(in.is_open());
        FirmwareImage image;
        ImageLoadError error;
        praxon::ImageFormat used = praxon::ImageFormat::Binary;
        QVERIFY(praxon::ReadImageFile(in, std::nullopt, 0, &image, &error, &used));
        QTEST(used, "format");
        QCOMPARE(image.segments().size(), size_t(1));
        QCOMPARE(image.segments()[0].address, 0x08000000u);
        QCOMPARE(image.segments()[0].bytes.size(), size_t(0x94));
        // The vector table's first word: the stack top; the last word: .data's 200000.
        QCOMPARE(describe(image).left(17), "08000000:00500020");
        QVERIFY(describe(image).endsWith("400D0300"));
    }
};

QTEST_GUILESS_MAIN(TestSRecord)
#include "tst_srecord.moc"

// Firmware files: the format told by content and by name, the one entry point reading every
// format from a file or a pipe, S-record lines and files, ELF files built byte by byte (ElfFiles.h)
// and the committed example three ways; the line speeds offered. (Intel HEX: tst_firmwareimage.)
#include <QtTest>
#include <fstream>
#include <sstream>

#include "ElfFiles.h"
#include "FirmwareImage.h"
#include "ImageFormat.h"
#include "LineSpeeds.h"
#include "SRecord.h"

using praxon::ElfError;
using praxon::FirmwareImage;
using praxon::ImageFormat;
using praxon::ImageLoadError;
using praxon::SrecError;

Q_DECLARE_METATYPE(praxon::ImageFormat)
Q_DECLARE_METATYPE(praxon::SrecError)
Q_DECLARE_METATYPE(praxon::ElfError)

namespace {

// Bytes handed out one by one, with no way back: what a pipe gives.
class PipeBuffer : public std::streambuf {
public:
    explicit PipeBuffer(std::string bytes) : bytes_(std::move(bytes)) {}

protected:
    int_type underflow() override {
        if (at_ >= bytes_.size()) return traits_type::eof();
        setg(&bytes_[at_], &bytes_[at_], &bytes_[at_] + 1);
        ++at_;
        return traits_type::to_int_type(*gptr());
    }

private:
    std::string bytes_;
    size_t at_ = 0;
};

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

QByteArray with32(QByteArray b, int at, uint32_t value) {
    elf::put32(b, at, value);
    return b;
}
QByteArray with16(QByteArray b, int at, uint32_t value) {
    elf::put16(b, at, value);
    return b;
}
QByteArray with8(QByteArray b, int at, char value) {
    b[at] = value;
    return b;
}

}  // namespace

class TestImageFormat : public QObject {
    Q_OBJECT

private slots:
    void fileNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<ImageFormat>("format");  // to program from, and praxon-cli's read
        QTest::addColumn<ImageFormat>("saved");   // the window's read
        const ImageFormat hex = ImageFormat::Hex, bin = ImageFormat::Binary;
        auto row = [](const char* name, const char* file, ImageFormat f, ImageFormat s) {
            QTest::newRow(name) << QString::fromUtf8(file) << f << s;
        };
        row(".HEX", "/tmp/FW.HEX", hex, hex);
        row(".ihx", "fw.ihx", hex, hex);
        row(".ihex", "fw.ihex", hex, hex);
        row("outer blanks", "  fw.Hex \t", hex, hex);
        row("no suffix", "firmware", bin, bin);
        row(".hex inside the name", "fw.hex.bin", bin, bin);
        row(".hex folder", "/tmp/a.hex/fw", bin, bin);
        row("a dot only before hx", "fw.hx", bin, bin);
        // The window's save dialog also writes HEX for these.
        row("hex without a dot", "DumpHEX", bin, hex);
        row("two characters, four bytes", "固件", bin, hex);
        row("three characters", "abc", bin, bin);
        row("empty", "", bin, hex);
    }

    void fileNames() {
        QFETCH(QString, name);
        const std::string utf8 = name.toStdString();
        QTEST(praxon::ImageFormatForFileName(utf8), "format");
        QTEST(praxon::SavedImageFormatForFileName(utf8), "saved");
    }

    void content_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<ImageFormat>("format");
        const ImageFormat hex = ImageFormat::Hex, bin = ImageFormat::Binary,
                          srec = ImageFormat::Srec, elf = ImageFormat::Elf;
        auto row = [](const char* name, const QByteArray& bytes, ImageFormat f) {
            QTest::newRow(name) << bytes << f;
        };
        row("ELF magic alone", "\177ELF", elf);
        row("three bytes of the magic", "\177EL", bin);
        row("magic after a blank", " \177ELF", bin);
        row("S0 header", "S00F000068656C6C6F202020202000003C\n", srec);
        row("S-record after a BOM and blank lines", "\xEF\xBB\xBF\r\n\n  \tS1", srec);
        row("S and a letter", "Sx", bin);
        row("S alone", "S", bin);
        row("lower-case s", "s1130000", bin);
        row("Intel HEX after a BOM", "\xEF\xBB\xBF:00000001FF", hex);
        row("a BOM in the middle", "\n\xEF\xBB\xBF:00000001FF", bin);
        row("a zero byte first", QByteArray(":0000", 5).prepend('\0'), bin);
        // Binary images that start with a record's first character.
        row("':' then binary", QByteArray(":\x1f\xa6\x1a\xfc\n:00000001FF", 15), bin);
        row("\"S1\" then binary", QByteArray("S1\x00\x20\x41", 5), bin);
        row("a damaged record stays HEX", ":0G000001FF\r\n\x01", hex);
        row("empty", "", bin);
        row("blanks only", " \r\n\t", bin);
    }

    void content() {
        QFETCH(QByteArray, bytes);
        QTEST(praxon::DetectImageFormat(std::string_view(bytes.constData(), size_t(bytes.size()))),
              "format");
    }

    // One entry point reads every format, by content or as told; a stream that cannot go back
    // (a pipe) loses nothing to the look at its start.
    void readImageFile_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("told");  // -1: by content
        QTest::addColumn<bool>("pipe");
        QTest::addColumn<ImageFormat>("used");
        QTest::addColumn<QString>("image");  // "" when refused
        const QByteArray hexFile = ":0400000001020304F2\n:00000001FF\n";
        const QByteArray srecFile = "S107000001020304EE\nS9030000FC\n";
        const QByteArray elfFile = elf::file({{0, QByteArray::fromHex("01020304")}});
        const QString image = "00000000:01020304";
        auto row = [](const QByteArray& name, const QByteArray& b, int told, bool pipe,
                      ImageFormat used, const QString& image) {
            QTest::newRow((name + (pipe ? ", pipe" : "")).constData())
                << b << told << pipe << used << image;
        };
        for (bool pipe : {false, true}) {
            row("HEX", hexFile, -1, pipe, ImageFormat::Hex, image);
            row("S-record", srecFile, -1, pipe, ImageFormat::Srec, image);
            row("ELF", elfFile, -1, pipe, ImageFormat::Elf, image);
            row("binary", "\x01\x02", -1, pipe, ImageFormat::Binary, "08000000:0102");
            row("HEX read as binary", ":00", int(ImageFormat::Binary), pipe, ImageFormat::Binary,
                "08000000:3A3030");
            row("binary read as ELF", "\x01\x02", int(ImageFormat::Elf), pipe, ImageFormat::Elf,
                "");
            row("S-record read as HEX", srecFile, int(ImageFormat::Hex), pipe, ImageFormat::Hex,
                "");
        }
        QByteArray large(3 * praxon::kFormatProbeSize, '\n');
        large += srecFile;
        QTest::newRow("S-record after more blank lines than the look takes")
            << large << -1 << true << ImageFormat::Binary
            << QString("08000000:") + QString(large.toHex().toUpper());
    }

    void readImageFile() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, told);
        QFETCH(bool, pipe);
        QFETCH(QString, image);
        PipeBuffer buffer(bytes.toStdString());
        std::istream piped(&buffer);
        std::istringstream file(bytes.toStdString());
        FirmwareImage loaded;
        ImageLoadError error;
        ImageFormat used = ImageFormat(-1);
        const std::optional<ImageFormat> format =
            told < 0 ? std::nullopt : std::optional<ImageFormat>(ImageFormat(told));
        const bool ok = praxon::ReadImageFile(pipe ? piped : static_cast<std::istream&>(file),
                                              format, 0x08000000, &loaded, &error, &used);
        QTEST(used, "used");
        QCOMPARE(ok, !image.isEmpty());
        QCOMPARE(describe(loaded), image);
    }

    void lineSpeeds_data() {
        QTest::addColumn<int>("speed");
        QTest::addColumn<bool>("supported");
        QTest::newRow("the default") << praxon::kDefaultLineSpeed << true;
        QTest::newRow("below the lowest") << 600 << false;
        QTest::newRow("between two") << 100000 << false;
    }

    void lineSpeeds() {
        QFETCH(int, speed);
        QTEST(praxon::IsSupportedBaudRate(speed), "supported");
    }

    // The list in messages: every speed once, ascending.
    void lineSpeedsText() {
        QCOMPARE(QString::fromStdString(praxon::LineSpeedsText()),
                 QString("1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200, 230400, "
                         "460800 or 921600"));
    }

    void srecLines_data() {
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
        good("one byte at FFFFFFFF", line(3, "FFFFFFFFAA"), 3, 0xFFFFFFFF, "AA");
        good("a known line (objcopy's)", "S30908000090400D03000E", 3, 0x08000090, "400D0300");
        bad("checksum off by one", "S30908000090400D03000F", SrecError::BadChecksum);
        bad("count one short", "S30808000090400D03000E", SrecError::BadLength);
        // Shorter digits than the count says: a read past the line if only the other way were
        // checked.
        bad("count one long", "S30A08000090400D03000E", SrecError::BadLength);
        bad("odd number of digits", "S30908000090400D03000", SrecError::IllegalFormat);
        bad("not a hex digit", "S3090800009G400D03000E", SrecError::IllegalFormat);
        bad("lower-case s", "s30908000090400D03000E", SrecError::IllegalFormat);
        bad("type only", "S1", SrecError::IllegalFormat);
        bad("S4 does not exist", line(4, "00000000"), SrecError::BadType);
        bad("S3 too short for its address", line(3, "080000"), SrecError::BadLength);
        bad("S9 with data", line(9, "000001"), SrecError::BadLength);
        bad("past FFFFFFFF", line(3, "FFFFFFFF0102"), SrecError::AddressOverflow);
    }

    void srecLines() {
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
    void srecFiles_data() {
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
        good("S6 count", a + line(6, "000001") + "\n" + end, "08000000:01020304");
        good("S5 between data records", a + line(5, "0001") + "\n" + b + end,
             "08000000:0102030405060708");
        good("lone CR, no final terminator", QByteArray(a + b + end).replace("\n", "\r").chopped(1),
             "08000000:0102030405060708");
        good("byte order mark, empty lines", "\xEF\xBB\xBF\n\n" + a + "\n" + b + end + "\n\n",
             "08000000:0102030405060708");
        good("16, 24 and 32-bit records mixed",
             line(1, "0010AA") + "\n" + line(2, "010000BB") + "\n" + line(3, "20000000CC") + "\n" +
                 line(9, "0000") + "\n",
             "00000010:AA 00010000:BB 20000000:CC");
        bad("count mismatch", a + b + line(5, "0003") + "\n" + end, SrecError::CountMismatch, 3);
        bad("count before the data it should count", line(5, "0001") + "\n" + a + end,
            SrecError::CountMismatch, 1);
        bad("missing end", head + a + b, SrecError::NoEndRecord, 0);
        bad("a record after the end", a + end + b, SrecError::AfterEnd, 3);
        bad("bad checksum on line 3", head + a + "S30908000090400D03000F\n" + end,
            SrecError::BadChecksum, 3);
        bad("a long binary line", a + QByteArray(3000, 'S') + "\n" + end, SrecError::TooLong, 2);
        bad("a blank before the first record", " " + a + end, SrecError::IllegalFormat, 1);
        QTest::newRow("two values for one address")
            << a + line(3, "0800000203FF") + "\n" + end << int(ImageLoadError::Conflict)
            << SrecError::None << 0 << "08000003";
        QTest::newRow("no data") << head + end << int(ImageLoadError::Empty) << SrecError::None << 0
                                 << QString();
    }

    void srecFiles() {
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
        QTest::newRow("ELF") << "blink.elf" << ImageFormat::Elf;
        QTest::newRow("S-record") << "blink.s37" << ImageFormat::Srec;
        QTest::newRow("Intel HEX") << "blink.hex" << ImageFormat::Hex;
    }

    void sameImageThreeWays() {
        QFETCH(QString, file);
        std::ifstream in(QString(PRAXON_EXAMPLES "/elf/" + file).toStdString(), std::ios::binary);
        QVERIFY(in.is_open());
        FirmwareImage image;
        ImageLoadError error;
        ImageFormat used = ImageFormat::Binary;
        QVERIFY(praxon::ReadImageFile(in, std::nullopt, 0, &image, &error, &used));
        QTEST(used, "format");
        QCOMPARE(image.segments().size(), size_t(1));
        QCOMPARE(image.segments()[0].address, 0x08000000u);
        QCOMPARE(image.segments()[0].bytes.size(), size_t(0x94));
        // The vector table's first word: the stack top; the last word: .data's 200000.
        QCOMPARE(describe(image).left(17), "08000000:00500020");
        QVERIFY(describe(image).endsWith("400D0300"));
    }

    void elfFiles_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<ElfError>("error");
        QTest::addColumn<QString>("image");  // loaded; OverlappingSegments: the address
        const auto good = [](const char* name, const QByteArray& content, const char* image) {
            QTest::newRow(name) << content << ElfError::None << QString(image);
        };
        const auto bad = [](const char* name, const QByteArray& content, ElfError error,
                            const char* address = "") {
            QTest::newRow(name) << content << error << QString(address);
        };
        using elf::entry;
        const elf::Segment code{0x08000000, QByteArray::fromHex("00500020C1000008")};
        const elf::Segment data{0x08000100, QByteArray::fromHex("AABBCCDD"), 1, 8};
        const QByteArray two = elf::file({code, data});

        good("one segment", elf::file({code}), "08000000:00500020C1000008");
        good("data at its load address, not its RAM address", two,
             "08000000:00500020C1000008 08000100:AABBCCDD");
        good("touching segments join", elf::file({code, {0x08000008, "\x11\x22"}}),
             "08000000:00500020C10000081122");
        good("other segment types ignored",
             elf::file({{0x08000100, "\x01", 4}, code, {0x08000200, "\x02", 0x70000001}}),
             "08000000:00500020C1000008");
        // Zeroed data: nothing in the file, so its offset is never read.
        good("an empty loadable segment ignored, offset past the end",
             with32(elf::file({code, {0x20000000, {}, 1, 64}}), entry(1) + elf::Offset, 0xFFFFFF00),
             "08000000:00500020C1000008");
        good("a segment ending at FFFFFFFF", elf::file({{0xFFFFFFFE, "\x01\x02"}}),
             "FFFFFFFE:0102");

        bad("empty file", {}, ElfError::NotElf);
        bad("magic changed", with8(two, 1, 'e'), ElfError::NotElf);
        bad("header cut at 51 bytes", two.left(51), ElfError::BadHeader);
        bad("64-bit", with8(two, 4, 2), ElfError::Not32Bit);
        bad("big-endian", with8(two, 5, 2), ElfError::NotLittleEndian);
        bad("x86-64", with16(two, 18, 62), ElfError::NotArm);
        bad("header size too small", with16(two, 40, 40), ElfError::BadHeader);
        bad("program header entry of 56 bytes", with16(two, 42, 56), ElfError::BadHeader);
        bad("program header table offset near 4 GB", with32(two, 28, 0xFFFFFFF0),
            ElfError::BadHeader);
        bad("file cut inside the program headers", two.left(elf::entry(1) + 8),
            ElfError::BadHeader);
        bad("file cut inside the last segment", two.chopped(1), ElfError::SegmentPastEnd);
        bad("segment offset past the end", with32(two, entry(0) + elf::Offset, 0xFFFFFFF8),
            ElfError::SegmentPastEnd);
        bad("more bytes in the file than in memory", with32(two, entry(0) + elf::MemSize, 4),
            ElfError::BadHeader);
        bad("segment past FFFFFFFF", elf::file({{0xFFFFFFFE, "\x01\x02\x03"}}),
            ElfError::AddressOverflow);
        bad("no program headers", elf::file({}), ElfError::NoLoadableData);
        bad("only zeroed data", elf::file({{0x20000000, {}, 1, 64}}), ElfError::NoLoadableData);
        bad("overlapping segments",
            elf::file({code, {0x08000004, QByteArray::fromHex("C1000008")}}),
            ElfError::OverlappingSegments, "08000004");
        bad("overlap hidden by order",
            elf::file({data, {0x08000000, QByteArray(0x101, 'x')}, code}),
            ElfError::OverlappingSegments, "08000000");
    }

    void elfFiles() {
        QFETCH(QByteArray, content);
        QFETCH(ElfError, error);
        QFETCH(QString, image);
        FirmwareImage loaded;
        loaded.add(0x100, reinterpret_cast<const uint8_t*>("kept"), 4);
        ImageLoadError e;
        // Through the stream, as a file is read.
        std::istringstream in(content.toStdString());
        const bool ok = praxon::ReadElfImage(in, &loaded, &e);
        QCOMPARE(e.elfError, error);
        QCOMPARE(ok, error == ElfError::None);
        QCOMPARE(int(e.kind), int(ok ? ImageLoadError::None : ImageLoadError::ElfRefused));
        if (ok) {
            QCOMPARE(describe(loaded), image);
        } else {
            if (error == ElfError::OverlappingSegments)
                QCOMPARE(QString::asprintf("%08X", e.address), image);
            QCOMPARE(describe(loaded), "00000100:6B657074");  // left as it was
        }
    }
};

QTEST_GUILESS_MAIN(TestImageFormat)
#include "tst_imageformat.moc"

// Telling what a firmware file holds by its content (to program it) and by its name (the
// window's read), reading it through the one entry point, and the line speeds offered.
#include <QtTest>
#include <sstream>

#include "FirmwareImage.h"
#include "ImageFormat.h"
#include "LineSpeeds.h"

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

}  // namespace

using praxon::ImageFormat;

Q_DECLARE_METATYPE(praxon::ImageFormat)

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
        row(".hex", "fw.hex", hex, hex);
        row(".HEX", "/tmp/FW.HEX", hex, hex);
        row(".ihx", "fw.ihx", hex, hex);
        row(".IHx", "fw.IHx", hex, hex);
        row(".ihex", "fw.ihex", hex, hex);
        row("outer blanks", "  fw.Hex \t", hex, hex);
        row(".bin", "fw.bin", bin, bin);
        row("no suffix", "firmware", bin, bin);
        row(".hex inside the name", "fw.hex.bin", bin, bin);
        row(".hex folder", "/tmp/a.hex/fw", bin, bin);
        row(".ihx inside the name", "fw.ihx.bak", bin, bin);
        row("a dot only before hx", "fw.hx", bin, bin);
        // The window's save dialog also writes HEX for these.
        row("hex without a dot", "DumpHEX", bin, hex);
        row("two characters", "ab", bin, hex);
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
        row("ELF magic", QByteArray("\177ELF\x01\x01\x01", 7), elf);
        row("ELF magic alone", "\177ELF", elf);
        row("ELF magic, 64-bit (refused later)", QByteArray("\177ELF\x02", 5), elf);
        row("three bytes of the magic", "\177EL", bin);
        row("magic after a blank",
            " \x7F"
            "ELF",
            bin);
        row("S0 header", "S00F000068656C6C6F202020202000003C\n", srec);
        row("S3 first", "S30908000090400D03000E\r\n", srec);
        row("S-record after a BOM and blank lines", "\xEF\xBB\xBF\r\n\n  \tS1", srec);
        row("S and a letter", "Sx", bin);
        row("S alone", "S", bin);
        row("lower-case s", "s1130000", bin);
        row("Intel HEX", ":020000040800F2\n", hex);
        row("Intel HEX after a BOM", "\xEF\xBB\xBF:00000001FF", hex);
        row("Intel HEX after blank lines", "\r\n\r\n:00000001FF", hex);
        row("a BOM in the middle", "\n\xEF\xBB\xBF:00000001FF", bin);
        row("vector table", QByteArray::fromHex("0050002009010008"), bin);
        row("a zero byte first", QByteArray(":0000", 5).prepend('\0'), bin);
        row("empty", "", bin);
        row("blanks only", " \r\n\t", bin);
        row("text that is no record", "hello", bin);
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
        QByteArray elfFile(52 + 32, '\0');
        const char header[] = "\177ELF\x01\x01\x01";
        std::copy(header, header + 7, elfFile.begin());
        elfFile[18] = 40, elfFile[20] = 1, elfFile[28] = 52, elfFile[40] = 52, elfFile[42] = 32,
        elfFile[44] = 1;
        elfFile[52] = 1, elfFile[56] = 84, elfFile[68] = 4, elfFile[72] = 4;  // 4 bytes at 0
        elfFile += QByteArray::fromHex("01020304");
        const QString image = "00000000:01020304";
        auto row = [](const char* name, const QByteArray& b, int told, bool pipe, ImageFormat used,
                      const QString& image) {
            QTest::newRow(name) << b << told << pipe << used << image;
        };
        for (bool pipe : {false, true}) {
            const auto name = [&](const char* n) {
                static QList<QByteArray> names;
                names << QByteArray(n) + (pipe ? ", pipe" : "");
                return names.last().constData();
            };
            row(name("HEX"), hexFile, -1, pipe, ImageFormat::Hex, image);
            row(name("S-record"), srecFile, -1, pipe, ImageFormat::Srec, image);
            row(name("ELF"), elfFile, -1, pipe, ImageFormat::Elf, image);
            row(name("binary"), "\x01\x02", -1, pipe, ImageFormat::Binary, "08000000:0102");
            row(name("HEX read as binary"), ":00", int(ImageFormat::Binary), pipe,
                ImageFormat::Binary, "08000000:3A3030");
            row(name("binary read as ELF"), "\x01\x02", int(ImageFormat::Elf), pipe,
                ImageFormat::Elf, "");
            row(name("S-record read as HEX"), srecFile, int(ImageFormat::Hex), pipe,
                ImageFormat::Hex, "");
        }
        QByteArray large(3 * praxon::kFormatProbeSize, '\n');
        large += srecFile;
        row("S-record after more blank lines than the look takes", large, -1, true,
            ImageFormat::Binary, QString("08000000:") + QString(large.toHex().toUpper()));
    }

    void readImageFile() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, told);
        QFETCH(bool, pipe);
        QFETCH(QString, image);
        PipeBuffer buffer(bytes.toStdString());
        std::istream piped(&buffer);
        std::istringstream file(bytes.toStdString());
        praxon::FirmwareImage loaded;
        praxon::ImageLoadError error;
        ImageFormat used = ImageFormat(-1);
        const std::optional<ImageFormat> format =
            told < 0 ? std::nullopt : std::optional<ImageFormat>(ImageFormat(told));
        const bool ok = praxon::ReadImageFile(pipe ? piped : static_cast<std::istream&>(file),
                                              format, 0x08000000, &loaded, &error, &used);
        QTEST(used, "used");
        QCOMPARE(ok, !image.isEmpty());
        QStringList got;
        for (const praxon::ImageSegment& s : loaded.segments())
            got << QString::asprintf("%08X:", s.address) +
                       QByteArray(reinterpret_cast<const char*>(s.bytes.data()),
                                  int(s.bytes.size()))
                           .toHex()
                           .toUpper();
        QCOMPARE(got.join(' '), image);
    }

    void lineSpeeds_data() {
        QTest::addColumn<int>("speed");
        QTest::addColumn<bool>("supported");
        QTest::newRow("lowest") << 1200 << true;
        QTest::newRow("14400") << 14400 << true;
        QTest::newRow("the default") << praxon::kDefaultLineSpeed << true;
        QTest::newRow("highest") << 921600 << true;
        QTest::newRow("below the lowest") << 600 << false;
        QTest::newRow("between two") << 100000 << false;
        QTest::newRow("above the highest") << 1000000 << false;
        QTest::newRow("zero") << 0 << false;
        QTest::newRow("negative") << -115200 << false;
    }

    void lineSpeeds() {
        QFETCH(int, speed);
        QTEST(praxon::IsSupportedBaudRate(speed), "supported");
    }

    // The list in messages: every speed once, ascending, the default among them.
    void lineSpeedsText() {
        QCOMPARE(QString::fromStdString(praxon::LineSpeedsText()),
                 QString("1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200, 230400, "
                         "460800 or 921600"));
        QCOMPARE(praxon::kDefaultLineSpeed, 115200);
    }
};

QTEST_GUILESS_MAIN(TestImageFormat)
#include "tst_imageformat.moc"

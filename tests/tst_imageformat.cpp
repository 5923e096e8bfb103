// Telling an Intel HEX file from a binary one by its name, as the window, praxon-cli and the
// engine do, and the line speeds they offer.
#include <QtTest>

#include "ImageFormat.h"
#include "LineSpeeds.h"

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

// Firmware files: the format told by content and by name, the one entry point reading every
// format from a file or a pipe (Intel HEX, binary, S-record and ELF files built byte by byte with
// ElfFiles.h) and the committed example, written three ways.
#include <QtTest>
#include <sstream>

#include "ElfFiles.h"
#include "FirmwareImage.h"
#include "ImageFormat.h"
#include "IntelHex.h"
#include "SRecord.h"

using praxon::ElfError;
using praxon::FirmwareImage;
using praxon::HexLineError;
using praxon::ImageFormat;
using praxon::ImageLoadError;
using praxon::SrecError;

Q_DECLARE_METATYPE(praxon::ImageFormat)
Q_DECLARE_METATYPE(std::optional<praxon::ImageFormat>)

namespace {

// Bytes handed out one by one, with no way back: what a pipe gives.
struct PipeBuffer : std::streambuf {
    explicit PipeBuffer(std::string b) : bytes(std::move(b)) {}
    int_type underflow() override {
        if (at >= bytes.size()) return traits_type::eof();
        setg(&bytes[at], &bytes[at], &bytes[at] + 1);
        return traits_type::to_int_type(bytes[at++]);
    }
    std::string bytes;
    size_t at = 0;
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

// "S" + type + count + address + data + checksum + LF, from the hex digits of address and data.
QByteArray line(int type, const QByteArray& addressAndData) {
    const QByteArray bytes = QByteArray::fromHex(addressAndData);
    const int count = bytes.size() + 1;
    unsigned sum = unsigned(count);
    for (char c : bytes) sum += uint8_t(c);
    return "S" + QByteArray::number(type) +
           QByteArray::number(count, 16).rightJustified(2, '0').toUpper() +
           addressAndData.toUpper() +
           QByteArray::number(~sum & 0xFF, 16).rightJustified(2, '0').toUpper() + "\n";
}

// b with a little-endian value of width bytes at offset at.
QByteArray patched(QByteArray b, int at, uint32_t value, int width = 4) {
    for (int i = 0; i < width; ++i) b[at + i] = char(value >> (8 * i));
    return b;
}

// An Intel HEX record line with a correct checksum, built independently of the writer.
QByteArray hexLine(int offset, int type, const QByteArray& data) {
    QByteArray b = QByteArray(1, char(data.size())) + char(offset >> 8) + char(offset) + char(type);
    b += data;
    int sum = 0;
    for (char c : b) sum -= uint8_t(c);
    return ":" + (b + char(sum)).toHex().toUpper();
}

constexpr ImageFormat kHex = ImageFormat::Hex, kBin = ImageFormat::Binary,
                      kSrec = ImageFormat::Srec, kElf = ImageFormat::Elf;

}  // namespace

class TestImageFormat : public QObject {
    Q_OBJECT

private slots:
    void fileNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<ImageFormat>("format");  // to program from, and praxon-cli's read
        QTest::addColumn<ImageFormat>("saved");   // the window's read
        QTest::newRow(".ihx") << QString("fw.ihx") << kHex << kHex;
        QTest::newRow("outer blanks, any case") << QString("  fw.Hex \t") << kHex << kHex;
        QTest::newRow(".hex folder") << QString("/tmp/a.hex/fw") << kBin << kBin;
        // The window's save dialog also writes HEX for these.
        QTest::newRow("hex without a dot") << QString("DumpHEX") << kBin << kHex;
        QTest::newRow("two characters, four bytes") << QString("固件") << kBin << kHex;
    }

    void fileNames() {
        QFETCH(QString, name);
        QTEST(praxon::ImageFormatForFileName(name.toStdString()), "format");
        QTEST(praxon::SavedImageFormatForFileName(name.toStdString()), "saved");
    }

    // One entry point reads every format, by content or as told; a stream that cannot go back
    // (a pipe) loses nothing to the look at its start. By content: ELF for its magic; after a byte
    // order mark and blank lines, a record's first character starts a text file only when its
    // line is text; a file found to be text but no sound file of its format is refused.
    void readImageFile_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<std::optional<ImageFormat>>("told");  // none: by content
        QTest::addColumn<bool>("pipe");
        QTest::addColumn<ImageFormat>("used");
        QTest::addColumn<int>("kind");   // of refusal (ImageLoadError::None: loaded); -1: unchecked
        QTest::addColumn<int>("error");  // the format's: HexLineError, SrecError or ElfError
        QTest::addColumn<int>("lineNumber");
        // Loaded; on refusal "", the Conflict or overlap address, or the rejected HEX line.
        QTest::addColumn<QString>("image");
        QTest::addColumn<uint>("load");  // a binary file's load address
        const QByteArray hexFile = ":0400000001020304F2\n:00000001FF\n";
        const QByteArray srecFile = "S107000001020304EE\nS9030000FC\n";
        const QByteArray elfFile = elf::file({{0, QByteArray::fromHex("01020304")}});
        const QString image = "00000000:01020304";
        auto row = [](const QByteArray& name, const QByteArray& b, std::optional<ImageFormat> told,
                      bool pipe, ImageFormat used, const QString& image) {
            QTest::newRow((name + (pipe ? ", pipe" : "")).constData())
                << b << told << pipe << used << -1 << 0 << 0 << image << 0x08000000u;
        };
        for (bool pipe : {false, true}) {
            row("HEX", hexFile, {}, pipe, kHex, image);
            row("S-record", srecFile, {}, pipe, kSrec, image);
            row("ELF", elfFile, {}, pipe, kElf, image);
            row("binary", "\x01\x02", {}, pipe, kBin, "08000000:0102");
            row("HEX read as binary", ":00", kBin, pipe, kBin, "08000000:3A3030");
            row("binary read as ELF", "\x01\x02", kElf, pipe, kElf, "");
            row("S-record read as HEX", srecFile, kHex, pipe, kHex, "");
        }
        const auto found = [&](const char* name, const QByteArray& b, ImageFormat used) {
            row(name, b, {}, false, used, used == kBin ? "08000000:" + b.toHex().toUpper() : "");
        };
        found("ELF magic alone", "\177ELF", kElf);
        found("three bytes of the magic", "\177EL", kBin);
        found("S-record after a BOM and blank lines", "\xEF\xBB\xBF\r\n\n  \tS1", kSrec);
        found("Intel HEX after a BOM", "\xEF\xBB\xBF:00000001FF", kHex);
        found("a BOM in the middle", "\n\xEF\xBB\xBF:00000001FF", kBin);
        found("':' then binary", QByteArray(":\x1f\xa6\x1a\xfc\n:00000001FF", 15), kBin);
        found("\"S1\" then binary", QByteArray("S1\x00\x20\x41", 5), kBin);
        found("a damaged record stays HEX", ":0G000001FF\r\n\x01", kHex);
        found("blanks only", " \r\n\t", kBin);
        QByteArray large(3 * praxon::kFormatProbeSize, '\n');
        large += srecFile;
        row("S-record after more blank lines than the look takes", large, {}, true, kBin,
            "08000000:" + large.toHex().toUpper());

        // The S-record and ELF readers as told: what a file loads, or the kind of refusal, the
        // line named (0: the file) or the address.
        const auto add = [](const char* name, ImageFormat format, const QByteArray& content,
                            int kind, int error, int line, const QString& image,
                            uint load = 0x08000000) {
            QTest::newRow(name) << content << std::optional<ImageFormat>(format) << false << format
                                << kind << error << line << image << load;
        };
        const auto good = [&](const char* name, const QByteArray& content, const char* image,
                              ImageFormat format = kSrec) {
            add(name, format, content, ImageLoadError::None, 0, 0, image);
        };
        const auto bad = [&](const char* name, const QByteArray& content, SrecError error,
                             int line) {
            add(name, kSrec, content, ImageLoadError::BadSrecLine, int(error), line, "");
        };
        const auto badElf = [&](const char* name, const QByteArray& content, ElfError error,
                                const char* address = "") {
            add(name, kElf, content, ImageLoadError::ElfRefused, int(error), 0, address);
        };
        const QByteArray head = line(0, "000048454C4C4F"), end = line(7, "08000000");
        const QByteArray a = line(3, "0800000001020304"), b = line(3, "0800000405060708");
        good("S5 between data records", a + line(5, "0001") + b + end, "08000000:0102030405060708");
        good("header after a BOM, empty lines",
             "\xEF\xBB\xBF\n\n" + head + a + "\n" + b + end + "\n\n", "08000000:0102030405060708");
        good("16, 24 and 32-bit records mixed",
             line(1, "0010AA") + line(2, "010000BB") + line(3, "20000000CC") + line(9, "0000"),
             "00000010:AA 00010000:BB 20000000:CC");
        good("a known line (objcopy's)", "S30908000090400D03000E\n" + end, "08000090:400D0300");
        good("one byte at FFFFFFFF", line(3, "FFFFFFFFAA") + end, "FFFFFFFF:AA");
        bad("past FFFFFFFF", line(3, "FFFFFFFF0102") + end, SrecError::AddressOverflow, 1);
        // Shorter digits than the count says: a read past the line if only the other way were
        // checked. (Garbage of every other kind: fuzz/; an x86 ELF file: tst_engine.)
        bad("count one long", a + "S30A08000090400D03000E\n" + end, SrecError::BadLength, 2);
        bad("count mismatch", a + b + line(5, "0003") + end, SrecError::CountMismatch, 3);
        bad("missing end", head + a + b, SrecError::NoEndRecord, 0);
        bad("a record after the end", a + end + b, SrecError::AfterEnd, 3);
        bad("bad checksum on line 3", head + a + "S30908000090400D03000F\n" + end,
            SrecError::BadChecksum, 3);
        bad("a long binary line", a + QByteArray(3000, 'S') + "\n" + end, SrecError::TooLong, 2);
        add("two values for one address", kSrec, a + line(3, "0800000203FF") + end,
            ImageLoadError::Conflict, 0, 0, "08000003");
        add("no data", kSrec, head + end, ImageLoadError::Empty, 0, 0, "");

        using elf::entry;
        const elf::Segment code{0x08000000, QByteArray::fromHex("00500020C1000008")};
        const elf::Segment data{0x08000100, QByteArray::fromHex("AABBCCDD"), 1, 8};
        const QByteArray two = elf::file({code, data});

        good("data at its load address, not its RAM address", two,
             "08000000:00500020C1000008 08000100:AABBCCDD", kElf);
        good("touching segments join", elf::file({code, {0x08000008, "\x11\x22"}}),
             "08000000:00500020C10000081122", kElf);
        good("other segment types ignored",
             elf::file({{0x08000100, "\x01", 4}, code, {0x08000200, "\x02", 0x70000001}}),
             "08000000:00500020C1000008", kElf);
        // Zeroed data: nothing in the file, so its offset is never read.
        good(
            "an empty loadable segment ignored, offset past the end",
            patched(elf::file({code, {0x20000000, {}, 1, 64}}), entry(1) + elf::Offset, 0xFFFFFF00),
            "08000000:00500020C1000008", kElf);
        good("a segment ending at FFFFFFFF", elf::file({{0xFFFFFFFE, "\x01\x02"}}), "FFFFFFFE:0102",
             kElf);

        badElf("magic changed", patched(two, 1, 'e', 1), ElfError::NotElf);
        badElf("big-endian", patched(two, 5, 2, 1), ElfError::NotLittleEndian);
        badElf("program header table offset near 4 GB", patched(two, 28, 0xFFFFFFF0),
               ElfError::BadHeader);
        badElf("file cut inside the last segment", two.chopped(1), ElfError::SegmentPastEnd);
        badElf("segment offset past the end", patched(two, entry(0) + elf::Offset, 0xFFFFFFF8),
               ElfError::SegmentPastEnd);
        badElf("more bytes in the file than in memory", patched(two, entry(0) + elf::MemSize, 4),
               ElfError::BadHeader);
        badElf("segment past FFFFFFFF", elf::file({{0xFFFFFFFE, "\x01\x02\x03"}}),
               ElfError::AddressOverflow);
        badElf("only zeroed data", elf::file({{0x20000000, {}, 1, 64}}), ElfError::NoLoadableData);
        badElf("overlap hidden by order",
               elf::file({data, {0x08000000, QByteArray(0x101, 'x')}, code}),
               ElfError::OverlappingSegments, "08000000");

        // Intel HEX files line by line (where the address records put the data) and binary files,
        // as told. Refusals the engine shows (no end record, conflicts, no data): tst_engine.
        const auto badHex = [&](const char* name, const QByteArray& content, HexLineError error,
                                int line, const QByteArray& text) {
            add(name, kHex, content, ImageLoadError::BadLine, int(error), line, text);
        };
        const QByteArray ela = ":020000040800F2", eof = ":00000001FF", d0 = ":0400000001020304F2",
                         d4 = ":020004000506EF", d4bad = ":020004000506EE";
        const QByteArray seg = ":020000021000EC", top = ":020000047FFF7C\n";
        const QByteArray longLine = ":" + QByteArray(1100, '0'), ones(252, 1);
        const QByteArray high = hexLine(0, 4, QByteArray("\x80\0", 2)), seg1 = hexLine(0, 2, "\1");
        const auto illegal = HexLineError::IllegalFormat;
        good("CR LF, lone CR, lone LF", ela + "\r\n" + d0 + "\r" + d4 + "\n" + eof,
             "08000000:010203040506", kHex);
        good("byte order mark skipped", "\xEF\xBB\xBF" + ela + "\n" + d0 + "\n" + eof + "\n",
             "08000000:01020304", kHex);
        good("after the end record ignored", d0 + "\n" + eof + "\nnot hex\n:01000000FF00",
             "00000000:01020304", kHex);
        good("02 clears linear", ela + "\n" + seg + "\n" + hexLine(0x10, 0, "\1") + "\n" + eof,
             "00010010:01", kHex);
        good("04 clears segment, lower case",
             seg + "\n:020000040801F1\n" + hexLine(0, 0, "\1\2").toLower() + "\n" + eof,
             "08010000:0102", kHex);
        good("offset unsigned, 252 bytes, 05 keeps the base, blank and CR after the end",
             ela + "\n:0400000508000000EF\n" + hexLine(0x8000, 0, ones) + "\n" + eof + " \r",
             "08008000:" + ones.toHex().toUpper(), kHex);
        good("segment and offset at their maximum",
             ":02000002FFFFFE\n" + hexLine(0xFFFF, 0, "\1") + "\n" + eof, "0010FFEF:01", kHex);
        good("last byte at 0x7FFFFFFF", top + hexLine(0xFFF0, 0, ones.left(16)) + "\n" + eof,
             "7FFFFFF0:" + ones.left(16).toHex().toUpper(), kHex);
        const QByteArray past = hexLine(0xFFF0, 0, ones.left(17));
        badHex("one byte past 0x7FFFFFFF", top + past + "\n" + eof, illegal, 2, past);
        badHex("04 value 0x8000", high + "\n" + eof, illegal, 1, high);
        badHex("02 with one byte", seg1 + "\n" + eof, HexLineError::SegmentLength, 1, seg1);
        badHex("fewer data bytes than the count", ":1000000003ED\n" + eof, illegal, 1,
               ":1000000003ED");
        badHex("bad checksum on line 3, CR", ela + "\r" + d0 + "\r" + d4bad + "\r" + eof,
               HexLineError::BadChecksum, 3, d4bad);
        badHex("CR CR LF: an empty line", d0 + "\r\r\n" + eof, illegal, 2, "");
        badHex("1025 characters: cut, no reason", d0 + "\n" + longLine + "\n" + eof,
               HexLineError::None, 2, longLine.left(1024));
        badHex("1024 characters: parsed", longLine.left(1024) + "\n", illegal, 1,
               longLine.left(1024));
        add("nothing at all", kHex, "", ImageLoadError::NoEndRecord, 0, 0, "");
        QByteArray chunks(70000, 0);
        for (int i = 0; i < chunks.size(); ++i) chunks[i] = char(i * 7 + i / 251);
        add("binary over several read chunks", kBin, chunks, 0, 0, 0,
            "08000000:" + chunks.toHex().toUpper());
        add("binary, last byte at 0xFFFFFFFF", kBin, "\1\2\3\4", 0, 0, 0, "FFFFFFFC:01020304",
            0xFFFFFFFC);
        add("binary, one byte past", kBin, "\1\2\3\4\5", ImageLoadError::TooLarge, 0, 0, "",
            0xFFFFFFFC);

        // The program in examples/elf as objcopy wrote it three ways: every reader gives the same
        // bytes and the content decides the format whatever the name. (That the ELF's bytes land
        // at their load address in flash, not in RAM, tst_cliprocess checks on the simulated chip.)
        const auto example = [](const char* name) {
            QFile file(PRAXON_EXAMPLES "/elf/" + QString(name));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        std::istringstream hexIn(example("blink.hex").toStdString());
        FirmwareImage blink;
        praxon::ReadHexImage(hexIn, &blink, nullptr);
        row("blink.hex", example("blink.hex"), {}, false, kHex, describe(blink));
        row("blink.s37", example("blink.s37"), {}, false, kSrec, describe(blink));
        row("blink.elf", example("blink.elf"), {}, false, kElf, describe(blink));
    }

    void readImageFile() {
        QFETCH(QByteArray, bytes);
        using Told = std::optional<ImageFormat>;
        QFETCH(Told, told);
        QFETCH(bool, pipe);
        QFETCH(int, kind);
        QFETCH(QString, image);
        QFETCH(uint, load);
        PipeBuffer buffer(bytes.toStdString());
        std::istream piped(&buffer);
        std::istringstream file(bytes.toStdString());
        FirmwareImage loaded;
        loaded.add(0x100, reinterpret_cast<const uint8_t*>("kept"), 4);
        ImageLoadError e;
        ImageFormat used = ImageFormat(-1);
        const bool ok = praxon::ReadImageFile(pipe ? piped : static_cast<std::istream&>(file), told,
                                              load, &loaded, &e, &used);
        QTEST(used, "used");
        if (kind >= 0) {
            QCOMPARE(int(e.kind), kind);
            const int error = used == kHex    ? int(e.lineError)
                              : used == kSrec ? int(e.srecError)
                                              : int(e.elfError);
            QTEST(error, "error");
            // No other reader's reason.
            QCOMPARE(int(e.lineError) + int(e.srecError) + int(e.elfError), error);
            QTEST(e.lineNumber, "lineNumber");
        }
        QCOMPARE(ok, kind < 0 ? !image.isEmpty() : kind == ImageLoadError::None);
        if (kind == ImageLoadError::BadLine)
            QCOMPARE(QString::fromStdString(e.line), image);
        else if (!ok && !image.isEmpty())
            QCOMPARE(QString::asprintf("%08X", e.address), image);
        // A refused file leaves the image as it was.
        QCOMPARE(describe(loaded), ok ? image : "00000100:6B657074");
    }
};

QTEST_GUILESS_MAIN(TestImageFormat)
#include "tst_imageformat.moc"

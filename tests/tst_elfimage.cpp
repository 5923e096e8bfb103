// ELF files: the loadable segments' bytes at their physical addresses, and each reason a file
// is refused, on files built byte by byte (ElfFiles.h) and the committed example.
#include <QtTest>
#include <sstream>

#include "ElfFiles.h"
#include "FirmwareImage.h"
#include "ImageFormat.h"

using praxon::ElfError;
using praxon::FirmwareImage;
using praxon::ImageLoadError;

Q_DECLARE_METATYPE(praxon::ElfError)

namespace {

QString describe(const FirmwareImage& image) {
    QStringList parts;
    for (const praxon::ImageSegment& s : image.segments())
        parts << QString::asprintf("%08X:", s.address) +
                     QByteArray(reinterpret_cast<const char*>(s.bytes.data()), int(s.bytes.size()))
                         .toHex()
                         .toUpper();
    return parts.join(' ');
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

class TestElfImage : public QObject {
    Q_OBJECT
private slots:
    void files_data() {
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
        good("segments in reverse order", elf::file({data, code}),
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
        bad("Intel HEX", ":00000001FF\n", ElfError::NotElf);
        bad("magic changed", with8(two, 1, 'e'), ElfError::NotElf);
        bad("magic only", "\177ELF", ElfError::BadHeader);
        bad("header cut at 51 bytes", two.left(51), ElfError::BadHeader);
        bad("64-bit", with8(two, 4, 2), ElfError::Not32Bit);
        bad("no class", with8(two, 4, 0), ElfError::Not32Bit);
        bad("big-endian", with8(two, 5, 2), ElfError::NotLittleEndian);
        bad("x86-64", with16(two, 18, 62), ElfError::NotArm);
        bad("RISC-V", with16(two, 18, 243), ElfError::NotArm);
        bad("AArch64", with16(two, 18, 183), ElfError::NotArm);
        bad("ident version 0", with8(two, 6, 0), ElfError::BadHeader);
        bad("file version 0", with32(two, 20, 0), ElfError::BadHeader);
        bad("header size too small", with16(two, 40, 40), ElfError::BadHeader);
        bad("program header entry of 56 bytes", with16(two, 42, 56), ElfError::BadHeader);
        bad("program header table past the end", with32(two, 28, uint32_t(two.size()) - 40),
            ElfError::BadHeader);
        bad("program header table offset near 4 GB", with32(two, 28, 0xFFFFFFF0),
            ElfError::BadHeader);
        bad("more entries than the file holds", with16(two, 44, 200), ElfError::BadHeader);
        bad("extended entry count", with16(two, 44, 0xFFFF), ElfError::BadHeader);
        bad("file cut inside the program headers", two.left(elf::entry(1) + 8),
            ElfError::BadHeader);
        bad("file cut inside the last segment", two.chopped(1), ElfError::SegmentPastEnd);
        bad("segment offset past the end", with32(two, entry(0) + elf::Offset, 0xFFFFFFF8),
            ElfError::SegmentPastEnd);
        bad("file size past the end, within memory", with32(two, entry(1) + elf::FileSize, 12),
            ElfError::SegmentPastEnd);
        bad("more bytes in the file than in memory", with32(two, entry(0) + elf::MemSize, 4),
            ElfError::BadHeader);
        bad("segment past FFFFFFFF", elf::file({{0xFFFFFFFE, "\x01\x02\x03"}}),
            ElfError::AddressOverflow);
        bad("no program headers", elf::file({}), ElfError::NoLoadableData);
        bad("only zeroed data", elf::file({{0x20000000, {}, 1, 64}}), ElfError::NoLoadableData);
        bad("only a note", elf::file({{0x08000000, "\x01\x02", 4}}), ElfError::NoLoadableData);
        bad("overlapping segments",
            elf::file({code, {0x08000004, QByteArray::fromHex("C1000008")}}),
            ElfError::OverlappingSegments, "08000004");
        bad("overlap hidden by order",
            elf::file({data, {0x08000000, QByteArray(0x101, 'x')}, code}),
            ElfError::OverlappingSegments, "08000000");
    }

    void files() {
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

QTEST_GUILESS_MAIN(TestElfImage)
#include "tst_elfimage.moc"

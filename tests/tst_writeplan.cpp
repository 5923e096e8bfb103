#include <QRegularExpression>
#include <QTest>

#include <algorithm>

#include "WritePlan.h"

using namespace praxon;

class TestWritePlan : public QObject {
    Q_OBJECT
private slots:
    void fastWrite_data();
    void fastWrite();
    void recordWrite_data();
    void recordWrite();
    void verifyReads_data();
    void verifyReads();
    void pages_data();
    void pages();
};

// Images as items added in order, addresses in hex: "A:0102" gives those bytes, "A+N" N bytes of
// a pattern that never holds 0xFF, "A+N=VV" N bytes of VV.
static FirmwareImage Image(const QString& items) {
    FirmwareImage image;
    for (const QString& item : items.split(' ', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m =
            QRegularExpression("^(\\w+)(?::(\\w+)|\\+(\\d+)(?:=(\\w\\w))?)$").match(item);
        const uint32_t address = m.captured(1).toUInt(nullptr, 16);
        QByteArray bytes = QByteArray::fromHex(m.captured(2).toLatin1());
        for (int i = 0; i < m.captured(3).toInt(); ++i)
            bytes += m.captured(4).isEmpty() ? char((address + uint32_t(i)) & 0x7F)
                                             : char(m.captured(4).toUInt(nullptr, 16));
        image.add(address, reinterpret_cast<const uint8_t*>(bytes.constData()),
                  size_t(bytes.size()));
    }
    return image;
}

// "B-E" pairs in hex; E may be 100000000.
static std::vector<AddressRange> Ranges(const QString& text) {
    std::vector<AddressRange> ranges;
    for (const QString& r : text.split(' ', Qt::SkipEmptyParts))
        ranges.push_back(
            {r.section('-', 0, 0).toUInt(nullptr, 16), r.section('-', 1).toULongLong(nullptr, 16)});
    return ranges;
}

static QString Layout(const std::vector<AlignedBlock>& blocks) {
    QStringList out;
    for (const AlignedBlock& b : blocks)
        out << QString("%1+%2").arg(b.address, 8, 16, QChar('0')).toUpper().arg(b.bytes.size());
    return out.join(' ');
}

static bool InRanges(const std::vector<AddressRange>& ranges, uint32_t address) {
    return std::any_of(ranges.begin(), ranges.end(),
                       [&](const AddressRange& r) { return r.contains(address); });
}

// What holds for any plan: aligned blocks of 4..maxBlock bytes in address order, no word twice,
// given bytes are the image's, padding is the erased value. Fast plans: every image byte is in
// a block unless it is blank and erased, whole words are padded only where erased, and no block
// crosses a multiple of maxBlock.
static void CheckBlocks(const FirmwareImage& image, const std::vector<AlignedBlock>& blocks,
                        const FastPlanOptions* fast, int maxBlock, uint8_t padding) {
    uint64_t previousEnd = 0;
    for (const AlignedBlock& b : blocks) {
        const uint64_t end = b.address + uint64_t(b.bytes.size());
        QVERIFY(b.address % 4 == 0 && b.bytes.size() % 4 == 0 && b.bytes.size() >= 4);
        QVERIFY(b.bytes.size() <= size_t(maxBlock) && b.given.size() == b.bytes.size());
        for (size_t i = 0; i < b.bytes.size(); ++i) {
            const std::optional<uint8_t> byte = image.byteAt(uint32_t(b.address + i));
            QCOMPARE(b.given[i], byte.has_value());
            QCOMPARE(b.bytes[i], byte.value_or(padding));
        }
        if (!fast) continue;
        QVERIFY2(b.address >= previousEnd, "blocks out of order or sharing a word");
        previousEnd = end;
        QCOMPARE(b.address / uint64_t(maxBlock), (end - 1) / uint64_t(maxBlock));
        for (size_t w = 0; w < b.bytes.size(); w += 4)
            if (!b.given[w] && !b.given[w + 1] && !b.given[w + 2] && !b.given[w + 3])
                for (uint32_t k = 0; k < 4; ++k)
                    QVERIFY2(InRanges(fast->erased, b.address + uint32_t(w) + k),
                             "gap bridged outside an erased range");
    }
    if (!fast) return;
    for (const ImageSegment& s : image.segments()) {
        for (uint64_t a = s.address; a < s.end(); ++a) {
            const bool inBlock =
                std::any_of(blocks.begin(), blocks.end(), [&](const AlignedBlock& b) {
                    return a >= b.address && a < b.address + b.bytes.size();
                });
            if (inBlock) continue;
            QCOMPARE(s.bytes[size_t(a - s.address)], fast->erasedValue);
            QVERIFY2(InRanges(fast->erased, uint32_t(a)), "image byte left out");
        }
    }
}

void TestWritePlan::fastWrite_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("erased");
    QTest::addColumn<int>("maxBlock");
    QTest::addColumn<QString>("blocks");
    const auto row = [](const char* name, const char* image, const char* erased, int maxBlock,
                        const char* blocks) {
        QTest::newRow(name) << image << erased << maxBlock << blocks;
    };
    row("empty image", "", "", 256, "");
    row("dense aligned run", "08000000+512", "", 256, "08000000+256 08000100+256");
    row("unaligned start and end", "08000012+600", "", 256,
        "08000010+240 08000100+256 08000200+108");
    row("bytes inside one word", "08000001:AABB", "", 256, "08000000+4");
    row("two segments in one word", "08000000:11 08000003:44", "", 256, "08000000+4");
    row("segments in neighbouring words", "08000002:1122 08000004:33", "", 256, "08000000+8");
    row("gap outside erased: split", "08000000:01020304 08000008:05", "", 256,
        "08000000+4 08000008+4");
    row("gap inside erased: bridged", "08000000:01020304 08000008:05", "08000000-08000400", 256,
        "08000000+12");
    row("gap partly erased: split", "08000000:01020304 08000008:05", "08000000-08000006", 256,
        "08000000+4 08000008+4");
    row("gap over touching erased ranges", "08000000:01020304 08000008:05",
        "08000004-08000006 08000000-08000004 08000006-08000010", 256, "08000000+12");
    row("long bridged gap: only windows with data", "08000000:01 08000404:02", "08000000-08001000",
        256, "08000000+4 08000404+4");
    row("blank block erased: skipped", "08000000+256=FF 08000100:01", "08000000-08000800", 256,
        "08000100+4");
    row("blank block not erased: written", "08000000+256=FF 08000100:01", "", 256,
        "08000000+256 08000100+4");
    row("blank block partly erased: written", "08000000+256=FF", "08000000-08000080", 256,
        "08000000+256");
    row("blank word bridged in a written block", "08000000:01 08000008+4=FF", "08000000-08000400",
        256, "08000000+12");
    row("small blocks", "08000004+40", "", 16, "08000004+12 08000010+16 08000020+12");
    row("ends at 2^32", "FFFFFF10+240", "", 256, "FFFFFF10+240");
    row("last byte of the address space", "FFFFFFFE:0102", "", 256, "FFFFFFFC+4");
    row("bridged up to 2^32", "FFFFFE00:01 FFFFFF00:02 FFFFFFFF:03", "FFFFF000-100000000", 256,
        "FFFFFE00+4 FFFFFF00+256");
    row("blank at 2^32 erased", "FFFFFF00+256=FF", "FFFFFF00-100000000", 256, "");
}

void TestWritePlan::fastWrite() {
    QFETCH(QString, image);
    QFETCH(QString, erased);
    QFETCH(int, maxBlock);
    QFETCH(QString, blocks);
    const FirmwareImage firmware = Image(image);
    FastPlanOptions options;
    options.erased = Ranges(erased);
    options.maxBlock = maxBlock;
    const std::vector<AlignedBlock> plan = PlanFastWrite(firmware, options);
    QCOMPARE(Layout(plan), blocks);
    CheckBlocks(firmware, plan, &options, maxBlock, 0xFF);
    if (QTest::currentTestFailed()) return;

    // Another erased value pads and skips with that value instead.
    options.erasedValue = 0x00;
    CheckBlocks(firmware, PlanFastWrite(firmware, options), &options, maxBlock, 0x00);
}

void TestWritePlan::recordWrite_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("blocks");
    QTest::newRow("empty image") << ""
                                 << "";
    QTest::newRow("neighbours share a word") << "08000000:010203 08000003:0405"
                                             << "08000000+4 08000004+4";
    QTest::newRow("file order kept") << "08000010:01020304 08000000:05060708"
                                     << "08000010+4 08000000+4";
    QTest::newRow("record in another word: tail alone") << "08000000:0102 08000010:03"
                                                        << "08000000+4 08000010+4";
    QTest::newRow("long record split") << "08000000+600"
                                       << "08000000+256 08000100+256 08000200+88";
    QTest::newRow("long unaligned record") << "08000002+300"
                                           << "08000000+256 08000100+44 0800012C+4";
    QTest::newRow("ends at 2^32") << "FFFFFE00+512"
                                  << "FFFFFE00+256 FFFFFF00+256";
    QTest::newRow("last bytes of the address space") << "FFFFFFFE:0102"
                                                     << "FFFFFFFC+4";
}

void TestWritePlan::recordWrite() {
    QFETCH(QString, image);
    QFETCH(QString, blocks);
    const FirmwareImage firmware = Image(image);
    const std::vector<AlignedBlock> plan = PlanRecordWrite(firmware);
    QCOMPARE(Layout(plan), blocks);
    CheckBlocks(firmware, plan, nullptr, 256, 0xFF);
}

void TestWritePlan::verifyReads_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<int>("maxRead");
    QTest::addColumn<QString>("reads");
    QTest::newRow("long segment") << "08000000+600" << 256
                                  << "08000000-08000100 08000100-08000200 08000200-08000258";
    QTest::newRow("one read per segment")
        << "08000000:01 08000003:02" << 256 << "08000000-08000001 08000003-08000004";
    QTest::newRow("touching records read together")
        << "08000000+4 08000004+4" << 256 << "08000000-08000008";
    QTest::newRow("up to 2^32") << "FFFFFF00+256" << 100
                                << "FFFFFF00-FFFFFF64 FFFFFF64-FFFFFFC8 FFFFFFC8-100000000";
}

void TestWritePlan::verifyReads() {
    QFETCH(QString, image);
    QFETCH(int, maxRead);
    QFETCH(QString, reads);
    QStringList out;
    for (const AddressRange& r : PlanVerifyReads(Image(image), maxRead))
        out << QString("%1-%2")
                   .arg(r.begin, 8, 16, QChar('0'))
                   .arg(r.end, 8, 16, QChar('0'))
                   .toUpper();
    QCOMPARE(out.join(' '), reads);
}

// Pages of "image" (items as above) or of "[B-E)", on a flash of pageCount pages.
void TestWritePlan::pages_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<uint>("base");
    QTest::addColumn<QString>("pages");
    const auto row = [](const char* name, const char* source, uint base, const char* pages) {
        QTest::newRow(name) << source << base << pages;
    };
    row("first byte", "08000000:01", 0x08000000, "0");
    row("across a page boundary", "080003FF:0102", 0x08000000, "0 1");
    row("exactly one page", "08000400+1024", 0x08000000, "1");
    row("several segments, each page once", "08000000:01 08000010:02 08000C00:03", 0x08000000,
        "0 3");
    row("below the flash clipped", "07FFFFFF:0102", 0x08000000, "0");
    row("beyond the flash clipped", "08000FFF:0102", 0x08000000, "3");
    row("outside the flash", "09000000:01", 0x08000000, "");
    row("last byte of the address space", "FFFFFFFF:01", 0xFFFFF000, "3");
    row("range of one page", "[08000400-08000800)", 0x08000000, "1");
    row("range across a boundary", "[080003FF-08000401)", 0x08000000, "0 1");
    row("empty range", "[08000400-08000400)", 0x08000000, "");
    row("range over the whole flash", "[07000000-09000000)", 0x08000000, "0 1 2 3");
    row("range up to 2^32", "[FFFFFC00-100000000)", 0xFFFFF000, "3");
}

void TestWritePlan::pages() {
    QFETCH(QString, source);
    QFETCH(uint, base);
    QFETCH(QString, pages);
    const std::vector<uint32_t> found =
        source.startsWith('[')
            ? PagesCovering(Ranges(source.mid(1, source.size() - 2)).front(), base, 0x400, 4)
            : PagesTouched(Image(source), base, 0x400, 4);
    QStringList out;
    for (uint32_t page : found) out << QString::number(page);
    QCOMPARE(out.join(' '), pages);
}

QTEST_GUILESS_MAIN(TestWritePlan)
#include "tst_writeplan.moc"

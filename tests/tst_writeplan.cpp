#include <QRegularExpression>
#include <QTest>

#include "WordAligner.h"
#include "WritePlan.h"

using namespace praxon;

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

// The word aligner, and the write, verify and page plans built on it. Splitting at gaps outside
// erased ranges, bridging inside them and joining records that share a word are also checked on
// the wire in tst_engine; page erases in tst_cliprocess.
class TestWritePlan : public QObject {
    Q_OBJECT
private slots:
    // The row name's prefix is the plan (or the word aligner alone). "ranges" are the erased ranges
    // of a fast plan, or the flash (1 KB pages) for pages; "covering" takes the pages of the range
    // given as image. Blocks and reads show as ADDR+SIZE.
    void plans_data() {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("ranges");
        QTest::addColumn<QString>("result");
        const auto row = [](const char* name, const char* image, const char* ranges,
                            const char* result) {
            QTest::newRow(name) << image << ranges << result;
        };
        row("fast: unaligned ends", "08000012+600", "", "08000010+240 08000100+256 08000200+108");
        row("fast: two segments in one word", "08000000:11 08000003:44", "", "08000000+4");
        row("fast: gap partly erased, split", "08000000:01020304 08000008:05", "08000000-08000006",
            "08000000+4 08000008+4");
        row("fast: gap over touching erased ranges", "08000000:01020304 08000008:05",
            "08000004-08000006 08000000-08000004 08000006-08000010", "08000000+12");
        row("fast: long bridged gap, only windows with data", "08000000:01 08000404:02",
            "08000000-08001000", "08000000+4 08000404+4");
        row("fast: blank block erased, skipped", "08000000+256=FF 08000100:01", "08000000-08000800",
            "08000100+4");
        row("fast: blank block not erased, written", "08000000+256=FF 08000100:01", "",
            "08000000+256 08000100+4");
        row("fast: bridged up to 2^32", "FFFFFE00:01 FFFFFF00:02 FFFFFFFF:03", "FFFFF000-100000000",
            "FFFFFE00+4 FFFFFF00+256");
        row("record: order kept", "08000010:01 08000000:05", "", "08000010+4 08000000+4");
        row("record: long, unaligned", "08000002+300", "", "08000000+256 08000100+44 0800012C+4");
        row("record: ends at 2^32", "FFFFFE00+512", "", "FFFFFE00+256 FFFFFF00+256");
        row("verify: touching records read together", "08000000+4 08000004+4", "", "08000000+8");
        row("verify: up to 2^32", "FFFFFE00+512", "", "FFFFFE00+256 FFFFFF00+256");
        row("pages: across a page boundary", "080003FF:0102", "08000000-08001000", "0 1");
        row("pages: exactly one page", "08000400+1024", "08000000-08001000", "1");
        row("pages: several segments, each page once", "08000000:01 08000010:02 08000C00:03",
            "08000000-08001000", "0 3");
        row("pages: beyond the flash clipped", "08000FFF:0102", "08000000-08001000", "3");
        row("pages: last byte of the address space", "FFFFFFFF:01", "FFFFF000-100000000", "3");
        row("covering: empty range", "08000400-08000400", "08000000-08001000", "");
        row("covering: the whole flash", "07000000-09000000", "08000000-08001000", "0 1 2 3");
        // The word aligner fed chunks, then the end of the file; blocks as "address:bytes", "--" a
        // padding byte the source did not give. Exact blocks also prove that no word is written
        // twice, and that a tail is written alone before a record that does not start in its word.
        // Each record joins the tail left in its word, across a gap or over bytes it gave already
        // (the image lets a record give a byte again with the same value), and leaves its own.
        row("aligner: records sharing a word", "0:01 2:02 2:020304", "", "0:01--0203 4:04------");
        row("aligner: record in the next word", "1:01 4:07", "", "0:--01---- 4:07------");
        row("aligner: record going backwards", "4:0102 0:11121314", "", "4:0102---- 0:11121314");
    }

    void plans() {
        QFETCH(QString, image);
        QFETCH(QString, ranges);
        const QString plan = QString(QTest::currentDataTag()).section(':', 0, 0);
        const FirmwareImage firmware = Image(plan == "covering" || plan == "aligner" ? "" : image);
        const std::vector<AddressRange> given = Ranges(ranges);
        QStringList out;
        const auto show = [&](uint32_t address, uint64_t size) {
            out << QString("%1+%2").arg(address, 8, 16, QChar('0')).toUpper().arg(size);
        };
        if (plan == "fast" || plan == "record") {
            for (const AlignedBlock& b :
                 plan == "fast" ? PlanFastWrite(firmware, {given}) : PlanRecordWrite(firmware)) {
                show(b.address, b.bytes.size());
                // Each byte is the image's, marked given, or 0xFF where the image gives none.
                for (size_t i = 0; i < b.bytes.size(); ++i) {
                    const std::optional<uint8_t> byte = firmware.byteAt(uint32_t(b.address + i));
                    QCOMPARE(b.given[i], byte.has_value());
                    QCOMPARE(b.bytes[i], byte.value_or(0xFF));
                }
            }
        } else if (plan == "aligner") {
            WordAligner aligner;
            for (const QString& item : (image + " flush").split(' ')) {
                const QByteArray b = QByteArray::fromHex(item.section(':', 1).toLatin1());
                const uint32_t address = item.section(':', 0, 0).toUInt(nullptr, 16);
                const auto* data = reinterpret_cast<const uint8_t*>(b.constData());
                for (const AlignedBlock& block : item == "flush"
                                                     ? aligner.flush()
                                                     : aligner.add(address, data, int(b.size()))) {
                    out << QString::number(block.address, 16).toUpper() + ':';
                    for (size_t i = 0; i < block.bytes.size(); ++i)
                        out.last() +=
                            block.given[i] ? QString::asprintf("%02X", block.bytes[i]) : "--";
                }
            }
        } else if (plan == "verify") {
            for (const AddressRange& r : PlanVerifyReads(firmware, 256))
                show(r.begin, r.end - r.begin);
        } else {
            const uint32_t base = given[0].begin, count = uint32_t((given[0].end - base) / 0x400);
            for (uint32_t page : plan == "pages"
                                     ? PagesTouched(firmware, base, 0x400, count)
                                     : PagesCovering(Ranges(image)[0], base, 0x400, count))
                out << QString::number(page);
        }
        QTEST(out.join(' '), "result");
    }
};

QTEST_GUILESS_MAIN(TestWritePlan)
#include "tst_writeplan.moc"

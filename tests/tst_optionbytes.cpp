// Option-byte layouts: the built-in table, decoding per family, NAME=VALUE edits with their
// complements, and which erase units the write protection covers.
#include <QTest>

#include "DeviceTable.h"
#include "OptionBytes.h"

using namespace praxon;

namespace {

// The family's layout, also for a chip whose option area the bootloader does not map (L4R).
const OptionLayout& layoutOf(uint16_t pid) {
    DeviceRow row = FindDeviceRow(pid) ? *FindDeviceRow(pid) : DeviceRow{};
    if (row.optionBytes == 0) row.optionBytes = 0x1FFF7800;
    const OptionLayout* layout = FindOptionLayout(row);
    if (!layout) qFatal("no option layout for 0x%X", pid);
    return *layout;
}

// "OFF:HEX OFF:HEX" (hex offsets) over the factory image.
std::vector<uint8_t> patched(const OptionLayout& layout, const QString& patches) {
    std::vector<uint8_t> image = FactoryOptionBytes(layout);
    for (const QString& p : patches.split(' ', Qt::SkipEmptyParts)) {
        const QStringList parts = p.split(':');
        const QByteArray bytes = QByteArray::fromHex(parts[1].toLatin1());
        uint32_t at = parts[0].toUInt(nullptr, 16);
        for (char b : bytes) image.at(at++) = uint8_t(b);
    }
    return image;
}

// The bytes that differ: "OFF=HEX ...".
QString differences(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
    QStringList out;
    for (size_t i = 0; i < before.size() && i < after.size(); ++i)
        if (before[i] != after[i]) out << QString::asprintf("%zX=%02X", i, after[i]);
    return out.join(' ');
}

// The factory image with the edits ("NAME=VALUE ...") applied; false and *error on refusal.
bool edited(const DeviceRow& row, const QString& edits, std::vector<uint8_t>* image,
            bool* permanent, std::string* error) {
    std::vector<std::string> list;
    for (const QString& e : edits.split(' ')) list.push_back(e.toStdString());
    *image = FactoryOptionBytes(layoutOf(row.pid));
    return EncodeOptionEdits(row, layoutOf(row.pid), list, image, permanent, error);
}

std::vector<FlashUnit> unitsOf(const DeviceRow& row, uint32_t flashBytes) {
    std::vector<FlashUnit> units;
    uint32_t at = 0;
    for (const EraseRun& run : row.units)
        for (uint32_t i = 0; (run.count == 0 || i < run.count) && at < flashBytes; ++i) {
            units.push_back({at, run.size});
            at += run.size;
        }
    return units;
}

}  // namespace

class TestOptionBytes : public QObject {
    Q_OBJECT

private slots:
    // The built-in table parses whole (its layouts and bank rules are what every other test
    // uses), and its factory images decode as unprotected with sound complements.
    void builtIn() {
        for (const std::string& e : BuiltInOptionTableErrors()) qWarning("%s", e.c_str());
        QVERIFY(BuiltInOptionTableErrors().empty());
        for (uint16_t pid :
             {0x440, 0x410, 0x430, 0x422, 0x411, 0x413, 0x415, 0x460, 0x467, 0x468, 0x472, 0x455}) {
            const OptionLayout& layout = layoutOf(pid);
            QCOMPARE(ReadoutLevel(layout, FactoryOptionBytes(layout)), 0);
            QVERIFY(BadComplements(layout, FactoryOptionBytes(layout)).empty());
        }
        QVERIFY(FindOptionLayout(*FindDeviceRow(0x483)) == nullptr);  // H7: no option area mapped
    }

    // Decoding per family: values and meanings of the fields the chip has; a block of the wrong
    // size decodes to nothing.
    void decode_data() {
        QTest::addColumn<int>("pid");
        QTest::addColumn<QString>("image");   // patches over the factory image
        QTest::addColumn<QString>("fields");  // the fields to show
        QTest::addColumn<QString>("decoded");
        auto row = [](const char* name, int pid, const char* image, const char* fields,
                      const char* decoded) {
            QTest::newRow(name) << pid << image << fields << decoded;
        };
        row("F1 factory", 0x410, "", "RDP,WDG_SW,DATA0,WRP0,BFB2",
            "RDP=A5 level 0|WDG_SW=1 software watchdog|DATA0=FF|WRP0=FF none protected|BFB2 -");
        row("F1 has no level 2", 0x410, "0:CC33", "RDP", "RDP=CC level 1");
        row("F1 block of 15 bytes", 0x410, "-", "RDP", "RDP -");
        row("F0 level 2", 0x440, "0:CC33", "RDP", "RDP=CC level 2 (permanent)");
        row("F4 user byte, readout byte second, sectors", 0x413, "0:CCAA 8:FA0F",
            "BOR_LEV,WDG_SW,RDP,nWRP,DB1M",
            "BOR_LEV=3 off|WDG_SW=0 hardware watchdog|RDP=AA level 0|nWRP=FFA sectors 0, 2 "
            "protected|DB1M -");
        row("L4 word entries", 0x415, "0:AAF8DFFF55072000 18:02000500FDFFFAFF",
            "RDP,DUALBANK,DB1M,WRP1A_STRT,WRP1A_END,WRP1B_END",
            "RDP=AA level 0|DUALBANK=0 smaller parts: one bank|DB1M -|WRP1A_STRT=2|WRP1A_END=5 "
            "pages 2-5 protected|WRP1B_END=0 area off");
    }

    void decode() {
        QFETCH(int, pid);
        QFETCH(QString, image);
        QFETCH(QString, fields);
        const DeviceRow& row = *FindDeviceRow(uint16_t(pid));
        std::vector<uint8_t> bytes = patched(layoutOf(row.pid), image == "-" ? "" : image);
        if (image == "-") bytes.pop_back();
        const std::vector<DecodedOption> decoded = DecodeOptionBytes(row, layoutOf(row.pid), bytes);
        QStringList shown;
        for (const QString& name : fields.split(',')) {
            auto d = std::find_if(decoded.begin(), decoded.end(), [&](const DecodedOption& o) {
                return o.name == name.toStdString();
            });
            shown << (d == decoded.end() ? name + " -"
                                         : name + QString::asprintf("=%X", d->value) +
                                               (d->meaning.empty() ? "" : " ") +
                                               QString::fromStdString(d->meaning));
        }
        QTEST(shown.join('|'), "decoded");
    }

    // Edits: the bytes they change (complements included), refusals leaving the image as it was.
    void encode_data() {
        QTest::addColumn<int>("pid");
        QTest::addColumn<QString>("edits");
        QTest::addColumn<QString>("changed");  // OFF=HEX..., or the error
        QTest::addColumn<bool>("permanent");
        auto row = [](const char* name, int pid, const char* edits, const char* changed,
                      bool permanent = false) {
            QTest::newRow(name) << pid << edits << changed << permanent;
        };
        row("F1 hardware watchdog, any case", 0x410, "wdg_sw=0", "2=FE 3=01");
        row("F1 readout level 0 again", 0x410, "RDP=1 RDP=0", "");
        row("F1 has no level 2", 0x410, "RDP=2", "'RDP=2': the readout level is 0 or 1");
        row("F0 level 2 is permanent", 0x440, "RDP=2", "0=CC 1=33", true);
        row("F1 data bytes", 0x410, "DATA0=0x12 DATA1=200", "4=12 5=ED 6=C8 7=37");
        row("value too large, nothing changed", 0x410, "WDG_SW=0 WRP1=0x100",
            "'WRP1=0x100': WRP1 takes 0 to 0xFF");
        // (The refusal of an option the chip lacks: tst_simulator's badOptions.)
        row("F1 XL BFB2", 0x430, "BFB2=0", "2=F7 3=08");
        row("F4 sectors, no complements", 0x413, "nWRP=0xFFE WDG_SW=0", "0=DF 8=FE");
        row("L4 one bank, word complement", 0x415, "DUALBANK=0", "2=DF 6=20");
        row("L0 readout level 1", 0x417, "RDP=1", "0=00 2=FF");
        row("G4 page field is 7 bits", 0x468, "WRP1A_END=128",
            "'WRP1A_END=128': WRP1A_END takes 0 to 0x7F");
    }

    void encode() {
        QFETCH(int, pid);
        QFETCH(QString, edits);
        const DeviceRow& row = *FindDeviceRow(uint16_t(pid));
        const std::vector<uint8_t> before = FactoryOptionBytes(layoutOf(row.pid));
        std::vector<uint8_t> image;
        bool permanent = false;
        std::string error;
        const bool ok = edited(row, edits, &image, &permanent, &error);
        if (!ok) QCOMPARE(image, before);
        QTEST(ok ? differences(before, image) : QString::fromStdString(error), "changed");
        QTEST(permanent, "permanent");
        if (ok) QVERIFY(BadComplements(layoutOf(row.pid), image).empty());
    }

    // The erase units the option bytes protect, by density and family.
    void protectedUnits_data() {
        QTest::addColumn<int>("pid");
        QTest::addColumn<int>("flashKb");
        QTest::addColumn<QString>("edits");
        QTest::addColumn<QString>("units");  // first-last,...
        auto row = [](const char* name, int pid, int kb, const char* edits, const char* units) {
            QTest::newRow(name) << pid << kb << edits << units;
        };
        row("F1 2 KB pages: 2 a bit", 0x414, 512, "WRP0=0xFD", "2-3");
        row("F1 high density: the last bit takes the rest", 0x414, 512, "WRP3=0x7F", "62-255");
        row("F4 bank 2 sectors not in the block", 0x419, 2048, "nWRP=0x7FF", "11-11");
        row("L4 two areas", 0x415, 1024, "WRP1A_STRT=2 WRP1A_END=5 WRP1B_STRT=10 WRP1B_END=10",
            "2-5,10-10");
        row("L0 4 KB sectors of 128-byte pages", 0x417, 64, "WRP01=0x8001", "0-31,480-511");
        row("L1 last group does not take the rest", 0x437, 512, "WRP1011=0x8000", "1520-1535");
        row("G4 area to the end", 0x468, 128, "WRP1A_STRT=60 WRP1A_END=0x7F", "60-63");
    }

    void protectedUnits() {
        QFETCH(int, pid);
        QFETCH(int, flashKb);
        QFETCH(QString, edits);
        const DeviceRow& row = *FindDeviceRow(uint16_t(pid));
        std::vector<uint8_t> image;
        bool permanent = false;
        std::string error;
        QVERIFY2(edited(row, edits, &image, &permanent, &error), error.c_str());
        const std::vector<bool> on = ProtectedUnits(layoutOf(row.pid), row.pid,
                                                    unitsOf(row, uint32_t(flashKb) * 1024), image);
        QStringList ranges;
        for (size_t u = 0; u < on.size(); ++u) {
            if (!on[u]) continue;
            size_t last = u;
            while (last + 1 < on.size() && on[last + 1]) ++last;
            ranges << QString("%1-%2").arg(u).arg(last);
            u = last;
        }
        QTEST(ranges.join(','), "units");
    }
};

QTEST_APPLESS_MAIN(TestOptionBytes)
#include "tst_optionbytes.moc"

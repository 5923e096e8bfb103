// The engine on chips of every family, each a scripted bootloader behind the fake port: what
// connect asks and learns, the erase and write frames each family gets, chips the table does not
// know (in both tables), and the device table parsing whole.
#include <QRegularExpression>
#include <QTest>

#include "Engine.h"
#include "FakePort.h"
#include "RecordingHost.h"

using namespace praxon;

namespace {
// Answers every frame as the chip would: Get ID with pid, Get with the version and erase the table
// expects (nothing when get is false), Read Memory with word (address refused when empty; other
// addresses than the size register's read erased, the option bytes as the chip leaves the
// factory), the rest with ACK.
struct Chip {
    RecordingHost host;
    FakePort port;
    Engine engine{host, port};
    uint16_t pid;
    QByteArray word;
    bool get = true;
    char erase = 0;  // the erase command Get lists; 0: the one the table expects
    uint8_t command = 0;
    int parameters = 0;    // frames still due after the command
    uint32_t address = 0;  // of the last address frame

    Chip(uint16_t p, const QByteArray& w, bool fast = true) : pid(p), word(w) {
        engine.setMode(fast ? WriteMode::Fast : WriteMode::Compatible);
        engine.setReplyTimeout(50);
        port.responder = [this](const QByteArray& f) { answer(f); };
    }
    void reply(const QByteArray& b) { port.deliverLater(b, 0); }
    void answer(const QByteArray& f) {
        if (parameters > 0) {
            --parameters;
            if (command == 0x11 && parameters == 1 && word.isEmpty())
                return parameters = 0, reply(hex("1F"));
            if (command == 0x11 && parameters == 1)
                address = uint32_t(uint8_t(f[0])) << 24 | uint8_t(f[1]) << 16 | uint8_t(f[2]) << 8 |
                          uint8_t(f[3]);
            const DeviceInfo* d = FindDevice(pid);
            const bool sizeRegister =
                !d || address == (d->flashSizeRegister & ~3u) || address == d->flashSizeRegister;
            const OptionLayout* layout = d ? FindOptionLayout(*d) : nullptr;
            if (command == 0x11 && parameters == 0 && layout && address == d->optionBytes) {
                const std::vector<uint8_t> factory = FactoryOptionBytes(*layout);
                return reply(hex("79") + QByteArray(reinterpret_cast<const char*>(factory.data()),
                                                    int(factory.size())));
            }
            if (command == 0x11 && parameters == 0 && !sizeRegister)
                return reply(hex("79") + QByteArray(uint8_t(f[0]) + 1, '\xFF'));
            if (command == 0x11 && parameters == 0)
                return reply(hex("79") + word.leftJustified(uint8_t(f[0]) + 1, '\0', true));
            return reply(hex("79"));
        }
        if (f == hex("7F")) return reply(hex("79"));
        command = uint8_t(f[0]);
        parameters = command == 0x11 || command == 0x31 ? 2 : command >> 4 == 4;
        const DeviceInfo* d = FindDevice(pid);
        if (command == 0x00 && get)
            reply(hex("790B") + char(d ? d->protocol : 0x31) +
                  hex("0001021121316373829279")
                      .insert(6, erase                     ? erase
                                 : d && d->protocol < 0x30 ? 0x43
                                                           : 0x44));
        else if (command == 0x02)
            reply(hex("7901") + char(pid >> 8) + char(pid) + hex("79"));
        else if (command != 0x00)
            reply(hex("79"));
    }
    // Every frame the engine sent, as hex.
    QString sent() const {
        QStringList out;
        for (const QByteArray& f : port.written) out << f.toHex().toUpper();
        return out.join(' ');
    }
};

// A page list frame for pages 0..last: one byte each (0x43) or two (0x44), then the XOR.
QString pageList(uint8_t opcode, int last) {
    QByteArray f;
    if (opcode == 0x44) f += char(last >> 8);
    f += char(last);
    for (int p = 0; p <= last; ++p) (opcode == 0x44 ? f += char(p >> 8) : f) += char(p);
    char sum = 0;
    for (char c : f) sum ^= c;
    return (f + sum).toHex().toUpper();
}

// "A:0102" those bytes at A (hex), "A:00*256" those bytes 256 times; items separated by blanks.
FirmwareImage image(const QString& items) {
    FirmwareImage out;
    for (const QString& item : items.split(' ')) {
        const QStringList p = item.split(QRegularExpression("[:*]"));
        const QByteArray b = QByteArray::fromHex(p[1].toLatin1()).repeated(p.value(2, "1").toInt());
        out.add(p[0].toUInt(nullptr, 16), reinterpret_cast<const uint8_t*>(b.data()), b.size());
    }
    return out;
}
}  // namespace

class TestDevices : public QObject {
    Q_OBJECT
private slots:
    // What connect sends and logs (after "连接成功...") per family, mode and size register.
    // quirk: "no Get" (Get unanswered), "Get lists 44" (whatever the table expects).
    void connect_data() {
        QTest::addColumn<int>("pid");
        QTest::addColumn<bool>("fast");
        QTest::addColumn<QString>("quirk");
        QTest::addColumn<QByteArray>("word");  // read at the size register; empty: refused
        QTest::addColumn<QString>("frames");
        QTest::addColumn<QStringList>("events");  // after Connected, without LinkReady
        QTest::addColumn<int>("erase");
        const QString f1 = "chip_identified STM32F10x", f4 = "chip_identified STM32F4xx",
                      l1 = "chip_identified STM32L1xx";
        const QString v31 = "bootloader_version value 31", unprotected = "write_protection value 0";
        const QString f1Read = "7F 02FD 11EE 1FFFF7E0F7 03FC",
                      f4Read = "7F 02FD 00FF 11EE 1FFF7A20BA 03FC";
        // Then the unique ID (one read of 12 bytes, or L1's three words) and the option bytes.
        const QString f1Options = " 11EE 1FFFF7E8FF 0BF4 11EE 1FFFF80018 0FF0",
                      f4Options = " 11EE 1FFF7A108A 0BF4 11EE 1FFFC00020 0FF0";
        const auto row = [](const char* name, int pid, bool fast, const char* quirk,
                            const char* word, const QString& frames, const QStringList& events,
                            int erase = 0x44) {
            QTest::newRow(name) << pid << fast << QString(quirk) << hex(word) << frames << events
                                << erase;
        };
        row("F10x compatible: no Get; GD32 RAM size", 0x410, false, "", "40001400", f1Read,
            {f1, "flash_size 64K ram 20K"}, 0x43);
        row("F10x fast: Get's list decides, no version line", 0x410, true, "Get lists 44",
            "4000FFFF", QString(f1Read).insert(8, "00FF ") + f1Options,
            {f1, "flash_size 64K", "unique_id@1FFFF7E8", unprotected});
        // The erase command then comes from the table.
        row("Get unanswered", 0x413, true, "no Get", "12340004", f4Read + f4Options,
            {f4, "get_failed timeout", "flash_size 1024K", "unique_id@1FFF7A10", unprotected});
        row("F10x size FFFF, compatible", 0x410, false, "", "FFFFFFFF", f1Read,
            {f1, "flash_size_assumed 128K value FFFF", "flash_size 128K"}, 0x43);
        row("register refused: no message box", 0x450, true, "", "",
            "7F 02FD 00FF 11EE 1FF1E88086 11EE 1FF1E80006",
            {"chip_identified STM32H7xx", v31, "read_reply_failed@1FF1E880 nack",
             "flash_size_assumed 2048K", "flash_size 2048K", "unique_id_unreadable@1FF1E800 nack"});
        row("L1 Cat.4: code 1 is 256K", 0x436, true, "", "01000000",
            "7F 02FD 00FF 11EE 1FF800CC2B 03FC 11EE 1FF800D037 03FC 11EE 1FF800D433 03FC 11EE "
            "1FF800E403 03FC 11EE 1FF80000E7 1FE0",
            {l1, v31, "flash_size 256K", "unique_id@1FF800D0", unprotected});
        row("L1 Cat.2: the low byte only", 0x429, true, "", "80FF0000",
            "7F 02FD 00FF 11EE 1FF8004CAB 03FC 11EE 1FF80050B7 03FC 11EE 1FF80054B3 03FC 11EE "
            "1FF8006483 03FC 11EE 1FF80000E7 1FE0",
            {l1, v31, "flash_size 128K", "unique_id@1FF80050", unprotected});
        // A product ID the table does not know connects, without a family or a read.
        row("unknown product", 0x999, true, "", "00000000", "7F 02FD 00FF",
            {"chip_identified", v31, "flash_size_unknown_chip"});
    }

    void connect() {
        QFETCH(int, pid);
        QFETCH(bool, fast);
        QFETCH(QString, quirk);
        QFETCH(QByteArray, word);
        Chip chip(uint16_t(pid), word, fast);
        chip.get = quirk != "no Get";
        if (quirk == "Get lists 44") chip.erase = 0x44;
        QVERIFY(chip.engine.connect("ttyS0"));
        QTEST(chip.sent(), "frames");
        QStringList events;
        bool identified = false;
        for (const Event& e : chip.host.events) {
            identified = identified || e.code == EventCode::ChipIdentified ||
                         e.code == EventCode::IdUnrecognised;
            if (!identified || e.code == EventCode::LinkReady ||
                e.code == EventCode::OperationEnded)
                continue;
            QString text = Described({e}).value(0);
            if (!e.family.isEmpty()) text += ' ' + e.family;
            if (e.flashKB >= 0) text += QString(" %1K").arg(e.flashKB);
            if (e.ramKB >= 0) text += QString(" ram %1K").arg(e.ramKB);
            if (e.value) text += " value " + QString::number(*e.value, 16).toUpper();
            if (e.reply) text += ' ' + ReplyName(*e.reply);
            events << text;
        }
        QTEST(events, "events");
        QVERIFY(chip.host.messages.isEmpty());
        QTEST(int(chip.engine.target().eraseCommand), "erase");
    }

    // The frames per family after connect. op: "range:B-E" erased, "write:ITEMS" and
    // "chip+write:ITEMS" programmed. L0's page by page erase, a whole bank 2, F4 sectors and units
    // left to the option bytes are run by praxon-cli on the simulated chip of each family in
    // tst_families.
    void frames_data() {
        QTest::addColumn<int>("pid");
        QTest::addColumn<bool>("fast");
        QTest::addColumn<QByteArray>("word");
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("frames");
        const auto row = [](const char* name, int pid, const char* word, const char* op,
                            const QString& frames, bool fast = true) {
            QTest::newRow(name) << pid << fast << hex(word) << QString(op) << frames;
        };
        row("0x43: 256 pages in two commands", 0x414, "0002FFFF", "range:08000000-08080000",
            "43BC " + pageList(0x43, 254) + " 43BC 00FFFF");
        row("0x44: 512 pages in 511 and 1", 0x437, "00020000", "range:08000000-08020000",
            "44BB " + pageList(0x44, 510) + " 44BB 000001FFFE");
        row("XL: bank 1 whole and a page", 0x430, "0004FFFF", "range:08000000-08080800",
            "44BB FFFE01 44BB 0000010001");
        row("L0 compatible: blocks of 8, padded with 00", 0x457, "10000000",
            "write:08000002:AABBCC", "31CE 0800000008 070000AABBCC000000DA", false);
        row("U5: two pieces of one unit, one write", 0x482, "10000000",
            "write:08000000:01 0800000C:02",
            "31CE 0800000008 0F01FFFFFFFFFFFFFFFFFFFFFF02FFFFFF0C");
        row("L0: erased 00 blocks left out", 0x457, "10000000",
            "chip+write:08000000:00*256 08000100:01",
            "44BB " + pageList(0x44, 127) + " 31CE 0800010009 07010000000000000006");
        // A product ID the table does not know: erase and program refused before anything is sent.
        row("unknown product: program", 0x999, "00000000", "write:08000000:01020304", "");
        row("unknown product: erase", 0x999, "00000000", "range:08000000-08000400", "");
    }

    void frames() {
        QFETCH(int, pid);
        QFETCH(bool, fast);
        QFETCH(QByteArray, word);
        QFETCH(QString, op);
        QFETCH(QString, frames);
        Chip chip(uint16_t(pid), word, fast);
        QVERIFY(chip.engine.connect("ttyS0"));
        chip.port.written.clear();
        const QString kind = op.section(':', 0, 0), arg = op.section(':', 1);
        const bool ok =
            kind == "range"
                ? chip.engine.erase(AddressRange{arg.section('-', 0, 0).toUInt(nullptr, 16),
                                                 arg.section('-', 1).toULongLong(nullptr, 16)})
                : chip.engine.program(image(arg),
                                      {kind == "chip+write" ? EraseScope::Chip : EraseScope::None});
        QCOMPARE(chip.sent(), frames);
        QCOMPARE(ok, !frames.isEmpty());
        if (!ok) QCOMPARE(chip.host.last(EventCode::ChipUnknown).pid, std::optional<uint16_t>(pid));
    }

    // The built-in table parses whole: a faulty row would drop its chip unseen. (What a sound
    // row holds, the connect and frames rows above read back.)
    void table() {
        QCOMPARE(BuiltInDeviceTableErrors(), std::vector<std::string>());
        QVERIFY(Devices().size() >= 70);
        QCOMPARE(Devices().size(), BuiltInDeviceRows().size());
    }
};

QTEST_GUILESS_MAIN(TestDevices)
#include "tst_devices.moc"

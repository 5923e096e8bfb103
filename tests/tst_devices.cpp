// The engine on chips of every family, each a scripted bootloader behind the fake port: what
// connect asks and learns, the erase and write frames each family gets, chips the table does not
// know, and the device table's own consistency.
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include "Engine.h"
#include "FakePort.h"
#include "RecordingHost.h"

using namespace praxon;

namespace {
// Answers every frame as the chip would: Get ID with pid, Get with the version and erase the table
// expects (nothing when get is false), Read Memory with word (address refused when empty),
// Readout Protect/Unprotect with two ACKs (one when secondAck is false), the rest with ACK.
struct Chip {
    RecordingHost host;
    FakePort port;
    Engine engine{host, port};
    uint16_t pid;
    QByteArray word;
    bool get = true, secondAck = true;
    char erase = 0;  // the erase command Get lists; 0: the one the table expects
    uint8_t command = 0;
    int parameters = 0;  // frames still due after the command

    Chip(uint16_t p, const QByteArray& w, bool fast = true) : pid(p), word(w) {
        engine.setMode(fast ? WriteMode::Fast : WriteMode::Compatible);
        engine.setReplyTimeout(50);
        port.responder = [this](const QByteArray& f) { answer(f); };
    }
    void reply(const QByteArray& b) { port.deliverLater(b, 0); }
    void answer(const QByteArray& f) {
        if (parameters > 0) {
            --parameters;
            if (command == 0x21) return;
            if (command == 0x11 && parameters == 1 && word.isEmpty())
                return parameters = 0, reply(hex("1F"));
            if (command == 0x11 && parameters == 0)
                return reply(hex("79") + word.leftJustified(uint8_t(f[0]) + 1, '\0', true));
            return reply(hex("79"));
        }
        if (f == hex("7F")) return reply(hex("79"));
        command = uint8_t(f[0]);
        parameters = command == 0x11 || command == 0x31 ? 2 : command >> 4 == 4 || command == 0x21;
        const DeviceInfo* d = FindDevice(pid);
        if (command == 0x00 && get)
            reply(hex("790B") + char(d ? d->protocol : 0x31) +
                  hex("0001021121316373829279")
                      .insert(6, erase                     ? erase
                                 : d && d->protocol < 0x30 ? 0x43
                                                           : 0x44));
        else if (command == 0x02)
            reply(hex("7901") + char(pid >> 8) + char(pid) + hex("79"));
        else if (command == 0x82 || command == 0x92)
            reply(secondAck ? hex("7979") : hex("79"));
        else if (command != 0x00)
            reply(hex("79"));
    }
    bool connect() {
        const bool ok = engine.connect("ttyS0");
        port.written.clear();
        return ok;
    }
    // Frames sent since connect() up to the first Write Memory, as hex.
    QString eraseFrames() const {
        QStringList out;
        for (int i = 0; i < port.written.size() && port.written[i] != hex("31CE"); ++i)
            out << port.written[i].toHex().toUpper();
        return out.join(' ');
    }
    // The address and data frames of every Write Memory.
    QString writeFrames() const {
        QStringList out;
        for (int i = 0; i + 2 < port.written.size(); ++i)
            if (port.written[i] == hex("31CE"))
                out << port.written[i + 1].toHex().toUpper()
                    << port.written[i + 2].toHex().toUpper();
        return out.join(' ');
    }
};

// A page list frame for pages first..last: one byte each (0x43) or two (0x44), then the XOR.
QString pageList(uint8_t opcode, int first, int last) {
    QByteArray f;
    const int n = last - first;
    if (opcode == 0x44) f += char(n >> 8);
    f += char(n);
    for (int p = first; p <= last; ++p) (opcode == 0x44 ? f += char(p >> 8) : f) += char(p);
    char sum = 0;
    for (char c : f) sum ^= c;
    return (f + sum).toHex().toUpper();
}

// "A:0102" those bytes at A (hex), "A+N=VV" N bytes of VV; items separated by blanks.
FirmwareImage image(const QString& items) {
    FirmwareImage out;
    for (const QString& item : items.split(' ', Qt::SkipEmptyParts)) {
        const uint32_t at = item.section(QRegularExpression("[:+]"), 0, 0).toUInt(nullptr, 16);
        const QByteArray b = item.contains(':')
                                 ? QByteArray::fromHex(item.section(':', 1).toLatin1())
                                 : QByteArray(item.section('+', 1).section('=', 0, 0).toInt(),
                                              char(item.section('=', 1).toUInt(nullptr, 16)));
        out.add(at, reinterpret_cast<const uint8_t*>(b.constData()), size_t(b.size()));
    }
    return out;
}
}  // namespace

class TestDevices : public QObject {
    Q_OBJECT
private slots:
    // What connect sends and logs (after "连接成功...") per family, mode and size register.
    // quirk: "no Get" (Get unanswered), "Get lists 44" (whatever the table expects), "stated".
    void connect_data() {
        QTest::addColumn<int>("pid");
        QTest::addColumn<bool>("fast");
        QTest::addColumn<QString>("quirk");
        QTest::addColumn<QByteArray>("word");  // read at the size register; empty: refused
        QTest::addColumn<QString>("frames");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<int>("flashKB");
        QTest::addColumn<int>("erase");
        const QString f1 = "器件信息为STM32F10x, PID=0410", f4 = "器件信息为STM32F4xx, PID=0413";
        const QString v31 = "Bootloader版本: 3.1", none = "; RAM容量为: 未知.";
        const QString f1Read = "7F 02FD 11EE 1FFFF7E0F7 03FC",
                      f4Read = "7F 02FD 00FF 11EE 1FFF7A20BA 03FC";
        const auto row = [](const char* name, int pid, bool fast, const char* quirk,
                            const char* word, const QString& frames, const QStringList& log,
                            int flash, int erase) {
            QTest::newRow(name) << pid << fast << QString(quirk) << hex(word) << frames << log
                                << flash << erase;
        };
        row("F10x compatible: no Get; GD32 RAM size", 0x410, false, "", "40001400", f1Read,
            {f1, "FLASH容量为: 64K; RAM容量为: 20K."}, 64, 0x43);
        row("F10x fast: Get, no version line", 0x410, true, "", "4000FFFF",
            QString(f1Read).insert(8, "00FF "), {f1, "FLASH容量为: 64K" + none}, 64, 0x43);
        row("F10x fast: Get's list decides", 0x410, true, "Get lists 44", "4000FFFF",
            QString(f1Read).insert(8, "00FF "), {f1, "FLASH容量为: 64K" + none}, 64, 0x44);
        row("F4 compatible: Get asked quietly", 0x413, false, "", "12340004", f4Read,
            {f4, "FLASH容量为: 1024K" + none}, 1024, 0x44);
        row("F4 fast: version logged", 0x413, true, "", "12340004", f4Read,
            {f4, v31, "FLASH容量为: 1024K" + none}, 1024, 0x44);
        row("Get unanswered: the table's erase", 0x413, true, "no Get", "12340004", f4Read,
            {f4, "读取Bootloader命令失败: 等待应答超时。", "FLASH容量为: 1024K" + none}, 1024,
            0x44);
        row("size 0: the line's largest", 0x460, true, "", "0000FFFF",
            "7F 02FD 00FF 11EE 1FFF75E075 03FC",
            {"器件信息为STM32G0xx, PID=0460", v31,
             "FLASH容量寄存器读数为0000，按该系列最大容量128K计.", "FLASH容量为: 128K" + none},
            128, 0x44);
        row("F10x size FFFF, compatible", 0x410, false, "", "FFFFFFFF", f1Read,
            {f1, "FLASH容量寄存器读数为FFFF，按该系列最大容量128K计.", "FLASH容量为: 128K" + none},
            128, 0x43);
        row("register refused: no message box", 0x450, true, "", "", "7F 02FD 00FF 11EE 1FF1E88086",
            {"器件信息为STM32H7xx, PID=0450", v31, "读取1FF1E880失败: 目标板应答NACK。",
             "FLASH容量寄存器不可读，按该系列最大容量2048K计.", "FLASH容量为: 2048K" + none},
            2048, 0x44);
        row("L1 Cat.4: code 1 is 256K", 0x436, true, "", "01000000",
            "7F 02FD 00FF 11EE 1FF800CC2B 03FC",
            {"器件信息为STM32L1xx, PID=0436", v31, "FLASH容量为: 256K" + none}, 256, 0x44);
        row("L1 Cat.2: the low byte only", 0x429, true, "", "80FF0000",
            "7F 02FD 00FF 11EE 1FF8004CAB 03FC",
            {"器件信息为STM32L1xx, PID=0429", v31, "FLASH容量为: 128K" + none}, 128, 0x44);
        row("size stated by the user", 0x410, false, "stated", "40001400", f1Read,
            {f1, "FLASH容量按指定值计: 128K.", "FLASH容量为: 128K; RAM容量为: 20K."}, 128, 0x43);
    }

    void connect() {
        QFETCH(int, pid);
        QFETCH(bool, fast);
        QFETCH(QString, quirk);
        QFETCH(QByteArray, word);
        Chip chip(uint16_t(pid), word, fast);
        chip.get = quirk != "no Get";
        if (quirk == "Get lists 44") chip.erase = 0x44;
        chip.engine.setFlashSizeOverride(quirk == "stated" ? 128 : 0);
        QVERIFY(chip.engine.connect("ttyS0"));
        QStringList frames;
        for (const QByteArray& f : chip.port.written) frames << f.toHex().toUpper();
        QTEST(frames.join(' '), "frames");
        QTEST(chip.host.logMessages.mid(2), "log");
        QVERIFY(chip.host.messages.isEmpty());
        QTEST(chip.engine.target().flashSizeKB, "flashKB");
        QTEST(int(chip.engine.target().eraseCommand), "erase");
        QVERIFY(chip.host.commands.read && chip.engine.target().device->pid == pid);
    }

    // The frames per family. op: "chip" or "range:B-E" erased (every frame sent), "pages:ITEMS"
    // programmed with the pages it touches erased (the frames before the first write),
    // "write:ITEMS" and "chip+write:ITEMS" programmed (address and data of each write). No
    // frames: refused, nothing sent.
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
        row("0x43: pages 1 and 2", 0x410, "8000FFFF", "range:08000400-08000C00", "43BC 01010202");
        row("0x43: global", 0x410, "8000FFFF", "chip", "43BC FF00");
        row("0x43: 256 pages in two commands", 0x414, "0002FFFF", "range:08000000-08080000",
            "43BC " + pageList(0x43, 0, 254) + " 43BC 00FFFF");
        row("0x44: global", 0x413, "12340004", "chip", "44BB FFFF00");
        row("0x44: page numbers above 255", 0x437, "00020000", "range:08010100-08010300",
            "44BB 00010101010202");
        row("0x44: 512 pages in 511 and 1", 0x437, "00020000", "range:08000000-08020000",
            "44BB " + pageList(0x44, 0, 510) + " 44BB 000001FFFE");
        row("L0: no global erase, page by page", 0x457, "10000000", "chip",
            "44BB " + pageList(0x44, 0, 127));
        row("XL: bank 2 whole", 0x430, "0004FFFF", "range:08080000-08100000", "44BB FFFD02");
        row("XL: bank 1 whole and a page", 0x430, "0004FFFF", "range:08000000-08080800",
            "44BB FFFE01 44BB 0000010001");
        row("F4: sectors an image touches", 0x413, "12340004", "pages:08004000:01 08040000:02",
            "44BB 00010001000606");
        row("F4: sectors of a range", 0x413, "12340004", "range:08004000-08010000",
            "44BB 000200010002000302");
        row("G47x: option bytes decide the pages", 0x469, "00020000", "range:08000000-08000800",
            "");
        row("L0: unit 8, padded with 00", 0x457, "10000000", "write:08000002:AABBCC",
            "0800000008 070000AABBCC000000DA");
        row("L0 compatible: blocks, not records", 0x457, "10000000", "write:08000002:AABBCC",
            "0800000008 070000AABBCC000000DA", false);
        row("G4: unit 8, padded with FF", 0x468, "10000000", "write:08000006:1122",
            "0800000008 07FFFFFFFFFFFF112234");
        row("U5: two pieces of one unit, one write", 0x482, "10000000",
            "write:08000000:01 0800000C:02", "0800000008 0F01FFFFFFFFFFFFFFFFFFFFFF02FFFFFF0C");
        row("U5: unit 16", 0x482, "10000000", "write:08000014:01",
            "0800001018 0FFFFFFFFF01FFFFFFFFFFFFFFFFFFFFFFF1");
        row("L0: erased 00 blocks left out", 0x457, "10000000",
            "chip+write:08000000+256=00 08000100:01", "0800010009 07010000000000000006");
    }

    void frames() {
        QFETCH(int, pid);
        QFETCH(bool, fast);
        QFETCH(QByteArray, word);
        QFETCH(QString, op);
        QFETCH(QString, frames);
        Chip chip(uint16_t(pid), word, fast);
        QVERIFY(chip.connect());
        const QString kind = op.section(':', 0, 0), arg = op.section(':', 1);
        const EraseScope scope = kind == "pages"        ? EraseScope::Pages
                                 : kind == "chip+write" ? EraseScope::Chip
                                                        : EraseScope::None;
        const bool ok =
            kind == "chip" ? chip.engine.erase()
            : kind == "range"
                ? chip.engine.erase(AddressRange{arg.section('-', 0, 0).toUInt(nullptr, 16),
                                                 arg.section('-', 1).toULongLong(nullptr, 16)})
                : chip.engine.program(image(arg), {scope});
        QCOMPARE(kind.endsWith("write") ? chip.writeFrames() : chip.eraseFrames(), frames);
        QCOMPARE(ok, !frames.isEmpty());
    }

    // A product ID the table does not know connects, reads and runs; erase and program are
    // refused before anything is sent, unless nothing is asked of the flash's layout.
    void unknownProduct() {
        Chip chip(0x0999, hex("00000000"));
        QVERIFY(chip.engine.connect("ttyS0"));
        QCOMPARE(chip.host.logMessages.mid(2),
                 QStringList({"器件信息为未知器件, PID=0999", "Bootloader版本: 3.1",
                              "器件未识别，FLASH容量未知."}));
        QCOMPARE(chip.host.panels.value(4), QString("未知器件, PID=0999"));
        QVERIFY(!chip.engine.target().device && !chip.host.commands.read);
        chip.port.written.clear();
        QVERIFY(!chip.engine.program(image("08000000:01020304"), {}));
        QVERIFY(!chip.engine.erase());
        QCOMPARE(chip.host.messages,
                 QStringList({"未知器件(PID=0999)，不知道它的FLASH如何擦除和写入，不能擦除或编程。",
                              "下载失败。"}));
        QVERIFY(chip.port.written.isEmpty());
        QVERIFY(chip.engine.go(0x08000000));
        QCOMPARE(chip.eraseFrames(), QString("21DE 0800000008"));
        chip.engine.setFlashSizeOverride(64);
        QVERIFY(chip.engine.connect("ttyS0") && chip.host.commands.read);
    }

    // Readout Protect and Unprotect succeed only with the second ACK, after the chip's work.
    void protection_data() {
        QTest::addColumn<bool>("unprotect");
        QTest::addColumn<bool>("secondAck");
        QTest::newRow("unprotect, second ACK") << true << true;
        QTest::newRow("unprotect, no second ACK") << true << false;
        QTest::newRow("protect, no second ACK") << false << false;
    }

    void protection() {
        QFETCH(bool, unprotect);
        QFETCH(bool, secondAck);
        Chip chip(0x410, hex("40001400"));
        QVERIFY(chip.connect());
        chip.secondAck = secondAck;
        QCOMPARE(unprotect ? chip.engine.unprotect() : chip.engine.protect(), secondAck);
    }

    // The built-in table parses whole and every row is consistent; faulty rows are named.
    void table() {
        QVERIFY(Devices().size() >= 70);
        QFile file(":/praxon/devices.tsv");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringList errors;
        QCOMPARE(ParseDeviceTable(file.readAll(), &errors).size(), Devices().size());
        QCOMPARE(errors, QStringList());
        for (const DeviceInfo& d : Devices()) {
            const QString name = QString::number(d.pid, 16);
            QVERIFY2(QRegularExpression("^STM32[A-Z][A-Z0-9](xx|0x)$").match(d.family).hasMatch(),
                     qPrintable(name));
            QVERIFY2(d.massErase || d.erasedValue == 0x00, qPrintable(name));  // L0/L1 only
            QVERIFY2(d.bank2 == 0 || d.units.empty() ||
                         d.unit(d.unitsCovering({d.bank2, d.bank2 + 1ull}, d.maxFlashBytes)[0],
                                d.maxFlashBytes)
                                 .begin == d.bank2,
                     qPrintable(name));
            for (const AddressRange& r : d.ram)
                QVERIFY2(r.begin >= 0x20000000 && r.end <= 0x30000000, qPrintable(name));
        }
        for (uint16_t pid : {0x412, 0x410, 0x414, 0x418, 0x420, 0x428, 0x430})
            QCOMPARE(FindDevice(pid)->family, QString("STM32F10x"));
        const QByteArray good =
            "0x410\tSTM32F10x\tm\t128K\t0x1FFFF7E0:f1\t1K\t-\t4\tFF\t-\t0x1FFFF000\t-\tyes\t2."
            "2\t100\t100\n";
        ParseDeviceTable(good + QByteArray(good).replace("\t1K", "\t16Kx4") +
                             QByteArray(good).replace("\t4\t", "\t6\t") +
                             QByteArray(good)
                                 .replace("0x410", "0x411")
                                 .replace("\t-\t0x1", "\t0x20000200-0x200001FF\t0x1") +
                             good,
                         &errors);
        QCOMPARE(errors, QStringList({"line 2: units", "line 3: align", "line 4: ram",
                                      "line 5: pid twice"}));
    }
};

QTEST_GUILESS_MAIN(TestDevices)
#include "tst_devices.moc"

// The simulated board: byte-in/byte-out checks of its bootloader's protocol model for the
// STM32F103 it started as and for the other families of the device table (their ordinary work:
// tst_families with stm32flash and praxon-cli; option bytes through the engine: tst_optionengine;
// the reset and BOOT0 lines: tst_simulator and tst_cliprocess); then small Thumb programs
// (tests/cortexm/*.s, assembled into cortexm_programs.h) and the committed F1 loader run by Go on
// its emulated core: what USART1 sends, the flash left, how each run ends.
#include <QRegularExpression>
#include <QtTest>

#include "Board.h"
#include "CortexM.h"
#include "cortexm_programs.h"

using namespace praxon::sim;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}
// An address with its XOR checksum.
QByteArray addr(uint32_t a) {
    QByteArray f;
    for (int s = 24; s >= 0; s -= 8) f.append(char(a >> s));
    return f + char(f[0] ^ f[1] ^ f[2] ^ f[3]);
}
// Frames from text, blank-separated: "RADDR+N" Read Memory of N bytes, "WADDR=BYTES" Write
// Memory, "@ADDR" an address frame, "XU,U" Extended Erase of units, or of one special code
// (0xFFF0 up) alone; anything else bytes in hex. Addresses in hex; each frame with its checksum.
QByteArray frames(const QString& text) {
    QByteArray out;
    const auto checked = [](QByteArray f) {
        char sum = f.size() == 1 ? char(0xFF) : 0;  // a lone byte: its complement
        for (char c : f) sum ^= c;
        return f + sum;
    };
    for (const QString& t : text.split(' ', Qt::SkipEmptyParts)) {
        const uint32_t at = t.mid(1).section(QRegularExpression("[+=]"), 0, 0).toUInt(nullptr, 16);
        const QByteArray data = QByteArray::fromHex(t.section('=', 1).toLatin1());
        if (t[0] == 'R') {
            out += hex("11ee") + addr(at) +
                   checked(QByteArray(1, char(t.section('+', 1).toInt() - 1)));
        } else if (t[0] == 'W') {
            out += hex("31ce") + addr(at) + checked(char(data.size() - 1) + data);
        } else if (t[0] == '@') {
            out += addr(at);
        } else if (t[0] == 'X') {
            const QStringList units = t.mid(1).split(',');
            QByteArray f;
            const auto put16 = [&](int v) { f.append(char(v >> 8)).append(char(v)); };
            if (units[0].toInt(nullptr, 0) < 0xFFF0) put16(int(units.size()) - 1);
            for (const QString& u : units) put16(u.toInt(nullptr, 0));
            out += hex("44bb") + checked(f);
        } else {
            out += QByteArray::fromHex(t.toLatin1());
        }
    }
    return out;
}

// Feeds the bytes 1 ms apart at baud and returns everything the board put on the line.
QByteArray feed(Board& b, const QByteArray& in, int64_t* clockNs, int baud = 115200) {
    QByteArray out;
    for (char c : in) {
        for (const auto& e : b.feed(uint8_t(c), *clockNs += 1'000'000, baud))
            out.append(reinterpret_cast<const char*>(e.bytes.data()), qsizetype(e.bytes.size()));
    }
    return out;
}

constexpr uint32_t kLoad = 0x20000200;    // the vector words, then the code
constexpr uint32_t kParams = 0x20001000;  // the program's parameter words
constexpr int64_t kMs = 1'000'000;
constexpr uint32_t kKey1 = 0x45670123, kKey2 = 0xCDEF89AB;

// FlashData: pattern() in the first 4 KB of flash, else erased.
enum Setup { Plain = 0, HwWatchdog = 1, EvenEntry = 2, XlDensity = 4, FlashData = 8 };

using Program = const std::vector<uint8_t>*;
using Words = std::vector<uint32_t>;

void put32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}

// A recognisable flash content with no erased bytes in it.
QByteArray pattern(int size) {
    QByteArray p(size, 0);
    for (int i = 0; i < size; ++i) p[i] = char(i * 7 % 251 + 1);
    return p;
}

// The CRC-32 the loader's frames end with (loader/PROTOCOL.md): of the words (little-endian,
// zero-padded) of everything before it.
uint32_t wordsCrc(const QByteArray& bytes) {
    uint32_t crc = 0xFFFFFFFF;
    for (qsizetype i = 0; i < bytes.size(); i += 4) {
        uint32_t word = 0;
        for (int k = 0; k < 4 && i + k < bytes.size(); ++k)
            word |= uint32_t(uint8_t(bytes[i + k])) << (8 * k);
        crc ^= word;
        for (int b = 0; b < 32; ++b) crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

QByteArray le(uint32_t v, int size = 4) {
    QByteArray b;
    for (int i = 0; i < size; ++i) b.append(char(v >> (8 * i)));
    return b;
}

}  // namespace

Q_DECLARE_METATYPE(Program)
Q_DECLARE_METATYPE(Words)

class TestSimBoard : public QObject {
    Q_OBJECT

private slots:
    // Byte-in/byte-out exchanges with the bootloader, after its first 0x7F unless the board says
    // "nosync". board: "pid=PID kb=FLASH hw (hardware watchdog) skip (protected erase skipped)
    // baud=B (the input at that speed)"; input as frames() builds it; after: "resets=N", "wdg=0|1"
    // checked when given.
    void bootloader_data() {
        QTest::addColumn<QString>("board");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("after");
        auto row = [](const char* name, const char* board, const char* in, const char* out,
                      const char* after = "") {
            QTest::newRow(name) << QString(board) << QString(in) << hex(out) << QString(after);
        };
        // The F103 it starts as.
        row("before sync only 0x7F counts", "nosync", "00ff7f", "79");
        // The speed is learnt from 0x7F, from 1200 baud up; bytes at another speed are lost.
        row("600 baud: no sync", "nosync baud=600", "7f", "");
        row("synchronised at 115200: a command at 9600 lost", "baud=9600", "02fd", "");
        row("bad complement; 0x7F after sync is a command", "", "0000 7f80 01fe",
            "1f 1f 7922000079");
        row("read: bad address checksum, bad count", "", "11ee 0800000009 11ee 0800000008 03fb",
            "791f 79 79 1f");
        // Each refusal leaves the board waiting for the next command.
        row("memory map limits", "",
            "R0800FFFC+8 11ee @20005000 W0800FFFC=0000000000000000 31ce @200001FC 31ce @1FFFF000 "
            "21de @1FFFF000",
            "79791f 791f 79791f 791f 791f 791f");
        row("half-words: programmed refused, 0000 allowed, erase restores", "",
            "W08000010=1122ffff W08000010=1122ffff W08000010=00005566 R08000010+4 43bc 000000 "
            "W08000010=aabbccdd R08000010+4",
            "797979 79791f 797979 797979 00005566 7979 797979 797979 aabbccdd");
        row("write: misaligned, 3 bytes, bad checksum", "",
            "31ce 0800000109 W08000000=010203 31ce 0800000008 03 01020304 00",
            "791f 79791f 79791f");
        row("go, silent until 0x7F", "", "21de @08000100 00ff 7f 02fd", "7979 79 7901041079");
        row("erase: global bad checksum, page list bad checksum, page past 64 KB", "",
            "43bc ff01 43bc 01 0001 01 43bc 00 40 40", "791f 791f 791f");
        row("2 KB pages: erase page 1 only, 128 pages", "kb=256",
            "W080007FC=00000000 W08000800=00000000 W08001000=00000000 43bc 000101 R080007FC+8 "
            "R08000FFC+8 43bc 008080 R1FFFF7E0+2",
            "797979 797979 797979 7979 797979 00000000ffffffff 797979 ffffffff00000000 791f "
            "797979 0001");
        // Protect resets; Get and Get ID stay served, the rest is refused; unprotect erases.
        row("readout protection cycle", "",
            "W08000400=12345678 827d 7f 00ff 02fd 11ee 31ce 43bc 21de 827d 926d 7f R08000400+4",
            "797979 7979 79 790b22000102112131436373829279 7901041079 1f1f1f1f1f 7979 79 797979 "
            "ffffffff");

        // Other chips by product ID: the refusals of their erase and write units. Their flash
        // sizes, banks, erased value and Get's erase command: tst_families, by both clients. The
        // faults the board is told to make: tst_integration's operations.
        row("F103: Extended Erase refused", "", "44bb", "1f");
        // 16 KB sectors 0-3, 64 KB sector 4, then 128 KB ones.
        row("F4 refusals: reserved code, bank 1 of one bank, sector 12, checksums", "pid=413",
            "X0xFFF0 X0xFFFE X12 44bb 0000 0001 00 44bb ffff 01 01fe",
            "791f 791f 791f 791f 791f 7931000079");
        // Double-words: address and length in 8-byte units, each written once after an erase.
        row("G0: 8-byte units", "pid=460",
            "31ce @08000004 W08000000=12345678 W08000000=0102030405060708 "
            "W08000000=0102030405060708 W08000008=0102030405060708 X0 W08000000=0102030405060708",
            "791f 79791f 797979 79791f 797979 7979 797979");

        // The option bytes: reads of their area, writes through Write Memory, Write Protect and
        // Write Unprotect with the reset after each (the next command needs a 0x7F first), and
        // their effects on erase, write, readout and the watchdog. F1's factory bytes: stm32flash
        // reads them in tst_simulator; F4's sectors and L1's words through the engine:
        // tst_optionengine.
        row("F1 hardware watchdog bit", "hw", "R1FFFF802+2", "797979 fe01", "resets=0 wdg=1");
        // Page 0 lies in 4 KB block 0: its write and erase are refused, page 4 is free.
        row("F1 protect block 0: write, erase and mass erase refused", "",
            "639c 000000 7f R1FFFF808+2 W08000000=12345678 43bc 000000 43bc 000404 43bc ff00 "
            "W08001000=12345678",
            "7979 79 797979 fe01 79791f 791f 7979 791f 797979", "resets=1");
        // Pages 0 and 4 hold data; block 0 is protected: page 4 alone is erased, with an ACK.
        row("F1 protected page skipped on request", "skip",
            "W08000000=12345678 W08001000=12345678 639c 000000 7f 43bc 01 0004 05 R08000000+4 "
            "R08001000+4 43bc ff00",
            "797979 797979 7979 79 7979 797979 12345678 797979 ffffffff 791f", "resets=1");
        row("F1 a new protect replaces the old", "",
            "639c 000000 7f 639c 01 0102 02 7f R1FFFF808+2", "7979 79 7979 79 797979 f906",
            "resets=2");
        row("F1 protect past the last block, bad checksum", "", "639c 002020 639c 000100",
            "791f 791f", "resets=0");
        row("F1 Write Memory: complements by the chip, reset", "",
            "W1FFFF800=a500fe0012003400ff00ff00ff00ff00 7f R1FFFF800+16",
            "797979 79 797979 a55afe0112ed34cbff00ff00ff00ff00", "resets=1 wdg=1");
        row("F1 Write Memory of part: the rest erased, readout protected", "",
            "W1FFFF804=12ed34cb 7f 11ee", "797979 79 1f", "resets=1");
        // An unwired board takes each 0x7F as a reset with BOOT0 high.
        row("F0 readout level 2: the bootloader stays off", "pid=440",
            "W1FFFF800=cc33ff00ff00ff00ff00ff00ff00ff00 7f 7f", "797979", "resets=3");
        row("F1 readout protect and unprotect keep write protection", "",
            "639c 000000 7f 827d 7f 926d 7f R1FFFF808+2", "7979 79 7979 79 7979 79 797979 fe01",
            "resets=3");
        // Areas: a first and a last page each.
        row("G0 protect pages 2-5", "pid=460",
            "639c 01 0205 06 7f R1FFF7818+8 X3 X6 W08001000=0102030405060708",
            "7979 79 797979 02ff05fffd00fa00 791f 7979 79791f", "resets=1");
        row("G0 an odd number of codes", "pid=460", "639c 000202", "791f", "resets=0");
    }

    void bootloader() {
        QFETCH(QString, board);
        QFETCH(QString, input);
        QFETCH(QByteArray, expected);
        QFETCH(QString, after);
        BoardConfig c;
        int baud = 115200;
        for (const QString& item : board.split(' ', Qt::SkipEmptyParts)) {
            const QString key = item.section('=', 0, 0), value = item.section('=', 1);
            if (key == "pid") c.pid = uint16_t(value.toUInt(nullptr, 16));
            if (key == "kb") c.flashKb = value.toInt();
            if (key == "hw") c.hardwareWatchdog = true;
            if (key == "skip") c.skipProtectedErase = true;
            if (key == "baud") baud = value.toInt();
        }
        Board b(c);
        int64_t t = 0;
        if (!board.contains("nosync")) QCOMPARE(feed(b, hex("7f"), &t), hex("79"));
        QCOMPARE(feed(b, frames(input), &t, baud).toHex(' '), expected.toHex(' '));
        const QString resets = after.section("resets=", 1).section(' ', 0, 0);
        if (!resets.isEmpty()) QCOMPARE(int(b.counters().resets), resets.toInt());
        if (after.contains("wdg=")) QCOMPARE(b.hardwareWatchdog(), after.contains("wdg=1"));
    }

    // The Thumb programs on the emulated core: what they send on USART1 ("?": anything but the
    // host's bytes or the flash word), how the run ends (after a reset or in the user program the
    // ROM answers 0x7F again), the first 4 KB of flash afterwards ("": as before, "erased",
    // "page2": page 2 erased) and timing: "sysclk=HZ", "first=MS" (the first byte sent then),
    // "end=MS" (the run ended then, about), "busy=page|mass" (that erase time between the bytes).
    void core_data() {
        QTest::addColumn<Program>("program");
        QTest::addColumn<Words>("params");
        QTest::addColumn<int>("setup");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<int>("ms");  // simulated time to run
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("flash");
        QTest::addColumn<QString>("timing");
        const QByteArray text = "Praxon\x00\xff\x55\xaa";
        auto row = [](const char* name, Program p, const Words& w, int setup,
                      const QByteArray& host, int ms, const char* sent, const char* status,
                      const char* flash = "", const char* timing = "") {
            QTest::newRow(name) << p << w << setup << host << ms
                                << (*sent == '?' ? QByteArray("?") : hex(sent)) << status << flash
                                << timing;
        };
        // 8 MHz after Go: BRR 69 is 115942 baud (+0.6 %), 72 is 111111 (-3.5 %). Each byte
        // rewrites an instruction that already ran: the new one must run.
        row("echo through rewritten code", &programs::rewrite, {69}, Plain, text, 50,
            text.toHex().constData(), "running");
        row("echo 3.5 % slow", &programs::echo, {72}, Plain, text, 50, "?", "running");
        // ORE and the byte in DR, per byte received.
        row("read too late: ORE, the first byte kept", &programs::latereader, {0, 2000}, Plain,
            "AB", 50, "0841", "running");
        // The CRC unit's DR after the words (clock on, count, words), little-endian.
        row("CRC without its clock reads 0", &programs::crc, {0, 1, 0x12345678}, Plain, {}, 50,
            "00000000", "running");
        // The flash word read back at 64 MHz (PLL on) with too few wait states (FLASH_ACR).
        row("64 MHz, 1 wait state: wrong data", &programs::latency, {1, 1}, FlashData, {}, 50, "?",
            "running", "", "sysclk=64000000");
        row("64 MHz, 2 wait states", &programs::latency, {2, 1}, FlashData, {}, 50, "01080f16",
            "running", "", "sysclk=64000000");
        row("ten SysTick periods", &programs::systick, {10}, Plain, {}, 50, "55", "running", "",
            "first=10");

        // The flash interface (flashop.s: op, key 1, key 2, address, value, word write, register
        // offset, read during the erase). It sends CR's low byte after unlocking (PG 1, PER 2,
        // MER 4, LOCK 0x80), then SR (PGERR 0x04, WRPRTERR 0x10, EOP 0x20) unmasked, so that a
        // stray flag fails the row. The loader's refusal of a protected page: loader().
        const uint32_t page1 = 0x08000400, page2 = 0x08000800;
        row("PGERR over a programmed half-word", &programs::flashop,
            {1, kKey1, kKey2, page1, 0x5678}, FlashData, {}, 200, "0104", "running");
        row("a wrong first key locks", &programs::flashop, {1, 0x12345678, kKey2, page1, 0xBEEF},
            Plain, {}, 200, "80", "running");
        // The reset cuts off the CR byte still on the line.
        row("a word write is a bus error: the ROM resets", &programs::flashop,
            {1, kKey1, kKey2, page1, 0xBEEF, 1}, Plain, {}, 200, "", "reset");
        // Any address in the page erases it; a read waits until the erase is over, then finds the
        // page erased.
        row("page erase, a flash read stalls meanwhile", &programs::flashop,
            {2, kKey1, kKey2, page2 + 0x10, 0, 0, 0, 1}, FlashData, {}, 200, "02ff20", "running",
            "page2", "busy=page");
        row("mass erase", &programs::flashop, {4, kKey1, kKey2, 0, 0, 0}, FlashData, {}, 200,
            "0420", "running", "erased", "busy=mass");
        // XL density: the second bank has registers of its own at +0x40.
        row("XL: bank 2 through its own registers", &programs::flashop,
            {1, kKey1, kKey2, 0x08080000, 0xBEEF, 0, 0x40}, XlDensity, {}, 200, "0120", "running");
        row("XL: bank 2 with bank 1's PG is a bus error", &programs::flashop,
            {1, kKey1, kKey2, 0x08080000, 0xBEEF, 0, 0}, XlDensity, {}, 200, "", "reset");

        // How a run ends: resets, the watchdog, faults.
        row("AIRCR with its key resets into the ROM", &programs::reset, {0x05FA0004}, Plain, {},
            1000, "", "reset");
        row("AIRCR without the key does nothing", &programs::reset, {0x00000004}, Plain, {}, 1000,
            "", "running");
        // PR 0 (/4), RLR 100: 404 LSI cycles at 40 kHz.
        row("watchdog not reloaded resets", &programs::watchdog, {1, 0, 100, 0}, Plain, {}, 1000,
            "", "reset", "", "end=10");
        row("watchdog reloaded", &programs::watchdog, {1, 0, 100, 1}, Plain, {}, 1000, "",
            "running");
        // The ROM leaves PR at /256 and RLR at 0xFFF: 26.2 s.
        row("hardware watchdog never reloaded", &programs::watchdog, {0, 0, 0, 0}, HwWatchdog, {},
            30000, "", "reset", "", "end=26214");
        row("unmapped read: the ROM's handler resets", &programs::fault, {0, 1}, Plain, {}, 1000,
            "", "reset");
        row("fault under the loader's own vectors: silence", &programs::fault, {0x20000000, 0},
            Plain, {}, 1000, "", "halted");
        row("entry without the Thumb bit", &programs::fault, {0, 0}, EvenEntry, {}, 1000, "",
            "reset");
        row("a loop touching nothing hangs: silence", &programs::fault, {0, 3}, Plain, {}, 5000, "",
            "halted", "", "end=2000");
        row("a jump to address 0 restarts the ROM", &programs::fault, {0, 5}, Plain, {}, 1000, "",
            "reset");
        row("a jump into flash runs the user program", &programs::fault, {0, 2}, Plain, {}, 1000,
            "", "user program");
    }

    void core() {
        QFETCH(Program, program);
        QFETCH(Words, params);
        QFETCH(int, setup);
        QFETCH(QByteArray, host);
        QFETCH(int, ms);
        QFETCH(QByteArray, sent);
        QFETCH(QString, status);
        QFETCH(QString, flash);
        QFETCH(QString, timing);
        // Loads the program and its parameters into SRAM, synchronises, sends Go, feeds the host's
        // bytes (at 115200 baud, from 1 ms after Go on) and runs.
        const QByteArray before = setup & FlashData ? pattern(4096) : QByteArray(4096, char(0xFF));
        BoardConfig config;
        config.runRamCode = true;
        config.hardwareWatchdog = setup & HwWatchdog;
        if (setup & XlDensity) config.pid = 0x430;  // 1 MB, two banks of 512 KB
        Board board(config);
        board.loadFlash(0, reinterpret_cast<const uint8_t*>(before.data()), 4096);
        int64_t start = 0;
        feed(board, hex("7f"), &start);
        uint32_t size = 0;
        uint8_t* ram = board.sram(&size) - 0x20000000;
        put32(ram + kLoad, 0x20005000);
        put32(ram + kLoad + 4, (kLoad + 8) | (setup & EvenEntry ? 0 : 1));
        std::copy(program->begin(), program->end(), ram + kLoad + 8);
        for (size_t i = 0; i < params.size(); ++i) put32(ram + kParams + 4 * i, params[i]);
        QCOMPARE(feed(board, hex("21de") + addr(kLoad), &start), hex("7979"));
        CortexM cpu(board, start);
        for (char c : host) cpu.receive(uint8_t(c), 115200, start + kMs);
        cpu.runUntil(start + ms * kMs);
        QByteArray bytes;
        std::vector<int64_t> sentAt;  // from Go
        for (const auto& s : cpu.takeSent())
            bytes.append(char(s.byte)), sentAt.push_back(s.atNs - start);
        const QStringList statuses{"running", "halted", "reset", "user program"};
        QCOMPARE(statuses.value(int(cpu.status())), status);
        if (sent == "?")
            QVERIFY2(!bytes.isEmpty() && bytes != host && bytes != before.left(4),
                     bytes.toHex().constData());
        else
            QCOMPARE(bytes.toHex(), sent.toHex());
        const bool rom = status == "reset" || status == "user program";
        if (status == "reset") QCOMPARE(int(board.state()), int(Board::State::WaitSync));
        QByteArray after = before;
        if (flash == "erased") after.fill(char(0xFF));
        if (flash == "page2") after.replace(0x800, 1024, QByteArray(1024, char(0xFF)));
        const auto* flashBytes = reinterpret_cast<const char*>(board.flash().data());
        QVERIFY(QByteArray(flashBytes, 4096) == after);
        if (setup & XlDensity)  // the first bytes of the second bank
            QCOMPARE(QByteArray(flashBytes + 0x80000, 4).toHex(),
                     QByteArray(status == "running" ? "efbeffff" : "ffffffff"));
        // Bytes leave no faster than 115200 baud 8E1 allows.
        for (size_t i = 1; i < sentAt.size(); ++i)
            QVERIFY(sentAt[i] - sentAt[i - 1] >= 11'000'000'000LL / 116000);
        const QString key = timing.section('=', 0, 0);
        const int64_t value = timing.section('=', 1).toLongLong();
        const int64_t end = cpu.nowNs() - start;  // when it stopped or the run ended
        if (key == "sysclk") QCOMPARE(int64_t(cpu.clocks().sysclk), value);
        if (key == "first")
            QVERIFY2(sentAt.at(0) >= value * kMs && sentAt[0] < (value + 1) * kMs,
                     QByteArray::number(sentAt[0]).data());
        if (key == "end")
            QVERIFY2(end >= value * kMs && end < (value + 2) * kMs, QByteArray::number(end).data());
        if (key == "busy") {
            const int64_t took = sentAt.at(1) - sentAt.at(0);
            const int64_t expected =
                timing == "busy=page" ? board.unitEraseNs(0) : board.massEraseNs();
            QVERIFY2(took >= expected && took < expected + 2 * kMs,
                     QByteArray::number(took).data());
        }
        // After a reset, or in the user program, the ROM answers 0x7F again.
        int64_t later = cpu.nowNs() + 200 * kMs;
        QCOMPARE(feed(board, hex("7f"), &later).toHex(), QByteArray(rom ? "79" : ""));
    }

    void loader_data() {
        QTest::addColumn<bool>("watchdog");
        QTest::newRow("protected") << false;
        QTest::newRow("watchdog") << true;
    }

    // The loader this tree builds (loader/bin) on the emulated chip: its hello; the refusal of a
    // write and an erase in a protected sector, which it learns from the chip's registers; its
    // reloads of the hardware watchdog. (Its answers to the rest: tst_loaderprotocol on the host
    // build; writes, erases and CRC through the host's loader link: tst_turbosim.)
    void loader() {
        QFETCH(bool, watchdog);
        QFile file(PRAXON_LOADER_F1);
        if (!file.open(QIODevice::ReadOnly)) QSKIP("no loader binary in this tree");
        BoardConfig config;
        config.runRamCode = true;
        config.hardwareWatchdog = watchdog;
        Board board(config);
        int64_t now = 0;
        board.loadFlash(0, reinterpret_cast<const uint8_t*>(pattern(1024).constData()), 1024);
        if (!watchdog) feed(board, hex("7f639c000000"), &now);  // sector 0 (pages 0-3); a reset
        // Its settings at 0x0C: the line speed, the buffer and its size, no flags.
        const QByteArray image = file.readAll().replace(
            0x0C, 20, le(115200) + le(0x20002800) + le(1024) + le(0) + le(0));
        uint32_t size = 0;
        std::copy(image.begin(), image.end(), board.sram(&size) + 0x200);
        QCOMPARE(feed(board, hex("7f21de2000020022"), &now), hex("797979"));
        CortexM cpu(board, now);
        cpu.runUntil(now += 5 * kMs);  // its start-up before the first byte
        uint8_t seq = 0;
        // A frame (A5, seq, cmd, length, header check, payload, CRC) as the host sends it, 0x7F
        // and the escape byte 0xCF escaped; 20 ms to answer; the reply's payload, or "!" and all
        // it sent.
        const auto call = [&](uint8_t cmd, const QByteArray& payload) {
            QByteArray f = hex("a5") + char(seq) + char(cmd) + le(uint32_t(payload.size()), 2);
            f += char(~(seq ^ cmd ^ f[3] ^ f[4])) + payload;
            for (char c : f + le(wordsCrc(f))) {
                if (uint8_t(c) == 0x7F || uint8_t(c) == 0xCF) cpu.receive(0xCF, 115200, now);
                cpu.receive(uint8_t(c) == 0x7F || uint8_t(c) == 0xCF ? c ^ 0x20 : c, 115200, now);
            }
            cpu.runUntil(now += 20 * kMs);
            QByteArray reply;
            for (const auto& s : cpu.takeSent()) reply.append(char(s.byte));
            const bool ok = reply.startsWith(hex("a5") + char(seq++) + char(cmd)) &&
                            reply.size() == 10 + (uint8_t(reply[3]) | uint8_t(reply[4]) << 8);
            return ok ? reply.mid(6, reply.size() - 10) : "!" + reply.toHex();
        };
        // 30 s, longer than the watchdog's period as the ROM leaves it (26 s), a hello every 5 s
        // so that the loader's wait for a silent host (10 s) does not end it.
        for (int i = 0; watchdog && i < 6; ++i) {
            cpu.runUntil(now += 5'000 * kMs);
            QCOMPARE(call(0x01, {}).size(), 48);
        }
        // Done, version 3, F1; the flash-size register (64 KB); 64 MHz.
        const QByteArray hello = call(0x01, {});
        QCOMPARE(hello.left(3).toHex(), QByteArray("000301"));
        QCOMPARE(hello.mid(28, 4) + hello.mid(36, 4), le(64) + le(64'000'000));
        if (watchdog) return;
        // Status 6 (write-protected), the address, the flash SR; the erase of page 0, which holds
        // data, refused the same way; the flash as it was.
        QCOMPARE(call(0x04, le(0x08000400) + "xy").left(5), QByteArray(1, 6) + le(0x08000400));
        QCOMPARE(call(0x02, le(0x08000000) + le(1, 2)).left(1), QByteArray(1, 6));
        const auto* flash = reinterpret_cast<const char*>(board.flash().data());
        QVERIFY(QByteArray(flash, 2048) == pattern(1024) + QByteArray(1024, char(0xFF)));
    }
};

QTEST_GUILESS_MAIN(TestSimBoard)
#include "tst_simboard.moc"

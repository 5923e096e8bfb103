// Byte-in/byte-out checks of the simulated bootloader's protocol model, for the STM32F103 it
// started as and for the other families of the device table.
#include <QtTest>

#include "Board.h"
#include "Simulator.h"

using namespace praxon::sim;

namespace {

enum Flags { NoSync = 1, Flash256 = 2 };

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}
// An address with its XOR checksum; Read Memory and Write Memory frames.
QByteArray addr(uint32_t a) {
    QByteArray f;
    for (int s = 24; s >= 0; s -= 8) f.append(char(a >> s));
    return f + char(f[0] ^ f[1] ^ f[2] ^ f[3]);
}
QByteArray rd(uint32_t a, int n) {
    return hex("11ee") + addr(a) + char(n - 1) + char((n - 1) ^ 0xFF);
}
QByteArray wr(uint32_t a, const QByteArray& bytes) {
    char sum = char(bytes.size() - 1);
    for (char c : bytes) sum ^= c;
    return hex("31ce") + addr(a) + char(bytes.size() - 1) + bytes + sum;
}

// Extended Erase: unit numbers, or one special code (0xFFF0 up) alone; the XOR of all after 44 BB.
QByteArray ee(std::initializer_list<int> units) {
    QByteArray f;
    auto put16 = [&](int v) { f.append(char(v >> 8)).append(char(v)); };
    if (units.size() == 1 && *units.begin() >= 0xFFF0) {
        put16(*units.begin());
    } else {
        put16(int(units.size()) - 1);
        for (int u : units) put16(u);
    }
    char sum = 0;
    for (char c : f) sum ^= c;
    return hex("44bb") + f + sum;
}

// Feeds the bytes 1 ms apart at baud (0: 115200) and returns everything the board put on the line.
QByteArray feed(Board& b, const QByteArray& in, int64_t* clockNs, int baud = 0) {
    QByteArray out;
    for (char c : in) {
        for (const auto& e : b.feed(uint8_t(c), *clockNs += 1'000'000, baud ? baud : 115200))
            out.append(reinterpret_cast<const char*>(e.bytes.data()), qsizetype(e.bytes.size()));
    }
    return out;
}

}  // namespace

class TestSimBoard : public QObject {
    Q_OBJECT

private slots:
    void exchange_data();
    void exchange();
    void family_data();
    void family();
    void lines_data();
    void lines();
    void preload_data();
    void preload();
    void optionBytes_data();
    void optionBytes();
    void uniqueId_data();
    void uniqueId();
};

void TestSimBoard::exchange_data() {
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("fault");  // KIND:CMD:K[:STEP] or ""
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray w0 = hex("00000000"), get = hex("790b22000102112131436373829279");
    auto row = [](const char* name, int flags, const QByteArray& in, const QByteArray& out,
                  const char* fault = "") { QTest::newRow(name) << flags << fault << in << out; };
    row("before sync only 0x7F counts", NoSync, hex("00ff7f"), hex("79"));
    row("bad complement; 0x7F after sync is a command", 0, hex("0000 7f80 01fe"),
        hex("1f 1f 7922000079"));
    row("read: bad address checksum, bad count", 0, hex("11ee 0800000009 11ee 0800000008 03fb"),
        hex("791f 79 79 1f"));
    // Each refusal leaves the board waiting for the next command.
    row("memory map limits", 0,
        rd(0x0800FFFC, 8) + hex("11ee") + addr(0x20005000) + wr(0x0800FFFC, w0 + w0) + hex("31ce") +
            addr(0x200001FC) + hex("31ce") + addr(0x1FFFF000) + hex("21de") + addr(0x1FFFF000),
        hex("79791f 791f 79791f 791f 791f 791f"));
    row("half-words: programmed refused, 0000 allowed, erase restores", 0,
        wr(0x08000010, hex("1122ffff")) + wr(0x08000010, hex("1122ffff")) +
            wr(0x08000010, hex("00005566")) + rd(0x08000010, 4) + hex("43bc 00 00 00") +
            wr(0x08000010, hex("aabbccdd")) + rd(0x08000010, 4),
        hex("797979 79791f 797979 797979 00005566 7979 797979 797979 aabbccdd"));
    row("write: misaligned, 3 bytes, bad checksum", 0,
        hex("31ce 0800000109") + wr(0x08000000, hex("010203")) +
            hex("31ce 0800000008 03 01020304 00"),
        hex("791f 79791f 79791f"));
    row("go, silent until 0x7F", 0, hex("21de") + addr(0x08000100) + hex("00ff 7f 02fd"),
        hex("7979 79 7901041079"));
    row("erase: global bad checksum, page list bad checksum, page past 64 KB", 0,
        hex("43bc ff01 43bc 01 0001 01 43bc 00 40 40"), hex("791f 791f 791f"));
    row("2 KB pages: erase page 1 only, 128 pages", Flash256,
        wr(0x080007FC, w0) + wr(0x08000800, w0) + wr(0x08001000, w0) + hex("43bc 00 01 01") +
            rd(0x080007FC, 8) + rd(0x08000FFC, 8) + hex("43bc 00 80 80") + rd(0x1FFFF7E0, 2),
        hex("797979 797979 797979 7979 797979 00000000ffffffff 797979 ffffffff00000000 791f "
            "797979 0001"));
    // Protect resets; Get and Get ID stay served, the rest is refused; unprotect erases.
    row("readout protection cycle", 0,
        wr(0x08000400, hex("12345678")) + hex("827d 7f 00ff 02fd 11ee 31ce 43bc 21de 827d") +
            hex("926d 7f") + rd(0x08000400, 4),
        hex("797979 7979 79") + get + hex("7901041079 1f1f1f1f1f 7979 79 797979ffffffff"));
    // Faults (used by the end-to-end tests): a refused data step stores nothing.
    row("nack write data", 0, wr(0x08000000, hex("01020304")) + rd(0x08000000, 4),
        hex("79791f 797979ffffffff"), "nack:0x31:1:3");
    row("nack sync, next one answered", NoSync, hex("7f 7f"), hex("1f 79"), "nack:0x7f:1");
    row("hangup", 0, hex("31ce") + addr(0x08000000) + hex("7f02fd"), hex("79"), "hangup:0x31:1:2");
}

void TestSimBoard::exchange() {
    QFETCH(int, flags);
    QFETCH(QString, fault);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    BoardConfig c;
    c.flashKb = flags & Flash256 ? 256 : 0;
    std::string error;
    if (!fault.isEmpty())
        QVERIFY2(parseFault(fault.toStdString(), &c.faults.emplace_back(), &error), error.c_str());
    Board b(c);
    int64_t t = 0;
    if (!(flags & NoSync)) QCOMPARE(feed(b, hex("7f"), &t), hex("79"));
    QCOMPARE(feed(b, input, &t).toHex(' '), expected.toHex(' '));
    QCOMPARE(b.state() == Board::State::HungUp, fault.startsWith("hangup"));
}

// Other chips by product ID, after the synchronisation. Facts from the device table: protocol and
// erase command, flash-size value, erase units and banks, write unit, erased value, RAM.
void TestSimBoard::family_data() {
    QTest::addColumn<int>("pid");
    QTest::addColumn<int>("flashKb");  // 0: the line's largest
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray w = hex("12345678"), w8 = hex("0102030405060708"), ff = hex("ffffffff");
    auto row = [](const char* name, int pid, const QByteArray& in, const QByteArray& out,
                  int flashKb = 0) { QTest::newRow(name) << pid << flashKb << in << out; };
    row("F4: Get, Get Version: 3.1 with Extended Erase", 0x413, hex("00ff 01fe"),
        hex("790b31000102112131446373829279 7931000079"));
    row("F10x XL: 3.0, Erase refused", 0x430, hex("00ff 43bc"),
        hex("790b30000102112131446373829279 1f"));
    row("F103: Extended Erase refused", 0x410, hex("44bb"), hex("1f"));
    row("C051: 4.0", 0x44C, hex("01fe"), hex("7940000079"));
    // The flash size in KiB where each family keeps it, as its line codes it.
    row("F4 size in its word", 0x413, rd(0x1FFF7A20, 4), hex("797979 ffff0004"));
    row("F72x size", 0x452, rd(0x1FF07A22, 2), hex("797979 0002"));
    row("F0 size", 0x440, rd(0x1FFFF7CC, 2), hex("797979 4000"));
    row("L1 Cat.2: the low byte counts", 0x429, rd(0x1FF8004C, 2), hex("797979 80ff"));
    row("L1 Cat.4: code 1 for 256 KB", 0x436, rd(0x1FF800CC, 2), hex("797979 0100"), 256);
    row("H7A3 size above the flash", 0x480, rd(0x08FFF80C, 2), hex("797979 0008"));
    row("U535 size", 0x455, rd(0x0BFA07A0, 2), hex("797979 0002"));
    row("F4 option bytes: USER, then the readout byte", 0x413, rd(0x1FFFC000, 2),
        hex("797979 ffaa"));
    // 16 KB sectors 0-3, 64 KB sector 4, then 128 KB ones.
    row("F4: sector 1 by number, then mass erase", 0x413,
        wr(0x08004000, w) + wr(0x08010000, w) + ee({1}) + rd(0x08004000, 4) + rd(0x08010000, 4) +
            ee({0xFFFF}) + rd(0x08010000, 4),
        hex("797979 797979 7979 797979") + ff + hex("797979") + w + hex("7979 797979") + ff);
    row("F4 refusals: reserved code, bank 1 of one bank, sector 12, checksums", 0x413,
        ee({0xFFF0}) + ee({0xFFFE}) + ee({12}) + hex("44bb 0000 0001 00 44bb ffff 01 01fe"),
        hex("791f 791f 791f 791f 791f 7931000079"));
    row("F10x XL: bank 2, then bank 1", 0x430,
        wr(0x08000000, w) + wr(0x08080000, w) + ee({0xFFFD}) + rd(0x08000000, 4) +
            rd(0x08080000, 4) + ee({0xFFFE}) + rd(0x08000000, 4),
        hex("797979 797979 7979 797979") + w + hex("797979") + ff + hex("7979 797979") + ff);
    row("L0: erased 00, no mass erase, 128-byte pages", 0x417,
        rd(0x08000000, 4) + ee({0xFFFF}) + wr(0x08000080, w8) + ee({1}) + rd(0x08000080, 4),
        hex("797979 00000000 791f 797979 7979 797979 00000000"));
    // Double-words: address and length in 8-byte units, each written once after an erase.
    row("G0: 8-byte units", 0x460,
        hex("31ce") + addr(0x08000004) + wr(0x08000000, w) + wr(0x08000000, w8) +
            wr(0x08000000, w8) + wr(0x08000008, w8) + ee({0}) + wr(0x08000000, w8),
        hex("791f 79791f 797979 79791f 797979 7979 797979"));
    row("H74x: 32-byte units; RAM the bootloader keeps; AXI SRAM", 0x450,
        hex("31ce") + addr(0x08000010) + hex("31ce") + addr(0x200040FC) + wr(0x20004100, w) +
            wr(0x24005000, w) + hex("31ce") + addr(0x24004FFC) + rd(0x24005000, 4),
        hex("791f 791f 797979 797979 791f 797979") + w);
    row("L011: no RAM for the host", 0x457, hex("11ee") + addr(0x20001000), hex("791f"));
    // Protect and unprotect reset the chip; unprotecting erases, here to 00.
    row("L0 readout protection cycle", 0x417,
        wr(0x08000000, w8) + hex("827d 7f 11ee 926d 7f") + rd(0x08000000, 4),
        hex("797979 7979 79 1f 7979 79 797979 00000000"));
}

void TestSimBoard::family() {
    QFETCH(int, pid);
    QFETCH(int, flashKb);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    BoardConfig c;
    c.pid = uint16_t(pid);
    c.flashKb = flashKb;
    Board b(c);
    int64_t t = 0;
    QCOMPARE(feed(b, hex("7f") + input, &t).toHex(' '), (hex("79") + expected).toHex(' '));
}

// How NRST and BOOT0 hang on the host's lines. Steps: the lines as D/d (DTR asserted/released)
// and R/r, "btn" the reset button, "BAUD:hex" bytes at that speed (":hex" at 115200). Then
// everything the board answered and its state.
void TestSimBoard::lines_data() {
    QTest::addColumn<Wiring>("wiring");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<Board::State>("state");
    const auto boot = Board::State::WaitCommand, held = Board::State::Held,
               user = Board::State::Running;
    const Wiring direct{Line::Dtr, false, Line::Rts, false},
        inverted{Line::Dtr, true, Line::Rts, true}, boot0Only{Line::None, false, Line::Rts, false};
    auto row = [](const char* name, Wiring w, const char* steps, const char* out, Board::State s) {
        QTest::newRow(name) << w << steps << hex(out) << s;
    };
    row("unwired: lines change nothing", {}, "DR dr DR :7f", "79", boot);
    row("direct: the open holds reset", direct, "DR :7f02fd", "", held);
    row("direct: release with BOOT0 low", direct, "DR dR :7f", "", user);
    // The command in progress is dropped.
    row("direct: BOOT0, then reset", direct, ":7f11 DR Dr dr :7f02fd", "79797901041079", boot);
    row("inverted: held, the open boots, release holds", inverted, ":7f DR :7f dR :7f", "79", held);
    row("BOOT0 only: the button decides", boot0Only, "dR btn :7f dr btn :7f", "79", boot);
    row("wired Go: silent until reset", direct, ":7f21de0800000008 :7f", "797979", user);
    // From 1200 baud up; bytes at another speed are lost until a reset.
    row("autobaud", {}, "600:7f 9600:7f :02fd 9600:02fd btn :7f", "79 7901041079 79", boot);
}

void TestSimBoard::lines() {
    QFETCH(Wiring, wiring);
    QFETCH(QString, steps);
    QFETCH(QByteArray, replies);
    QFETCH(Board::State, state);
    BoardConfig c;
    c.wiring = wiring;
    Board b(c);
    int64_t t = 0;
    QByteArray got;
    for (const QString& step : steps.split(' ')) {
        if (step == "btn")
            b.reset();
        else if (step.contains(':'))
            got +=
                feed(b, hex(step.section(':', 1).toLatin1()), &t, step.section(':', 0, 0).toInt());
        else
            b.setLines(step[0] == 'D', step[1] == 'R');
    }
    QCOMPARE(got.toHex(' '), replies.toHex(' '));
    QCOMPARE(int(b.state()), int(state));
}

// --preload: a binary file as it is, or an Intel HEX file read by praxon's reader into flash
// offsets, bytes between records erased; refusals name the file and what is wrong.
void TestSimBoard::preload_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("result");  // the flash image in hex, or the error with F the file
    const QByteArray ela = ":020000040800F2\n", end = ":00000001FF\n";
    QTest::newRow("binary") << hex("0102") << "0102";
    QTest::newRow("binary larger than the flash")
        << QByteArray(1025, 'x') << "F: image larger than the flash";
    QTest::newRow("records in descending order, a gap")
        << ela + ":020005000506EE\n:0400000001020304F2\n" + end << "01020304ff0506";
    QTest::newRow("addresses below the flash size are offsets")
        << ":0100020001FC\n" + end << "ffff01";
    QTest::newRow("bad checksum on line 2")
        << ela + ":0400000001020304F3\n" + end << "F: line 2: bad checksum";
    QTest::newRow("start segment address")
        << ":0400000300000000F9\n" + end << "F: line 1: start segment address record (not taken)";
    QTest::newRow("no end record") << ela + ":0400000001020304F2\n"
                                   << "F: no end-of-file record";
    QTest::newRow("two values for one byte")
        << ela + ":0100000001FE\n:0100000002FD\n" + end << "F: two values for address 0x08000000";
    QTest::newRow("past the flash")
        << ":020000040800F2\n:0104000001FA\n" + end << "F: data at 0x08000400 outside the flash";
}

void TestSimBoard::preload() {
    QFETCH(QByteArray, file);
    QTemporaryDir dir;
    QFile f(dir.filePath("F"));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file) == file.size());
    f.close();
    std::vector<uint8_t> image;
    std::string error;
    const bool ok = loadImageFile(f.fileName().toStdString(), 1024, &image, &error);
    const QString result =
        ok ? QByteArray(reinterpret_cast<const char*>(image.data()), qsizetype(image.size()))
                 .toHex()
           : QString::fromStdString(error).replace(f.fileName(), "F");
    QTEST(result, "result");
}

// The option bytes per family: reads of their area, writes through Write Memory, Write Protect
// and Write Unprotect with the reset after each (the next command needs a 0x7F first), and their
// effects on erase, write, readout and the watchdog.
void TestSimBoard::optionBytes_data() {
    QTest::addColumn<int>("pid");
    QTest::addColumn<bool>("hwWatchdog");  // started with --hw-watchdog
    QTest::addColumn<bool>("skip");        // --protected-erase skip
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");  // after the first sync's ACK
    QTest::addColumn<int>("resets");
    QTest::addColumn<bool>("watchdogAfter");
    const QByteArray w = hex("12345678"), w8 = hex("0102030405060708");
    auto row = [](const char* name, int pid, const QByteArray& in, const QByteArray& out,
                  int resets, bool hw = false, bool hwAfter = false, bool skip = false) {
        QTest::newRow(name) << pid << hw << skip << in << out << resets << hwAfter;
    };
    row("F1 factory option bytes", 0x410, rd(0x1FFFF800, 16),
        hex("797979 a55aff00ff00ff00ff00ff00ff00ff00"), 0);
    row("F1 hardware watchdog bit", 0x410, rd(0x1FFFF802, 2), hex("797979 fe01"), 0, true, true);
    row("F4 hardware watchdog bit", 0x413, rd(0x1FFFC000, 1), hex("797979 df"), 0, true, true);
    row("G0 hardware watchdog bit", 0x460, rd(0x1FFF7800, 8), hex("797979 aafffeff55000100"), 0,
        true, true);
    // Page 0 lies in 4 KB block 0: its write and erase are refused, page 4 is free.
    row("F1 protect block 0: write, erase and mass erase refused", 0x410,
        hex("639c 00 00 00 7f") + rd(0x1FFFF808, 2) + wr(0x08000000, w) + hex("43bc 00 00 00") +
            hex("43bc 00 04 04") + hex("43bc ff 00") + wr(0x08001000, w),
        hex("7979 79 797979 fe01 79791f 791f 7979 791f 797979"), 1);
    // Pages 0 and 4 hold data; block 0 is protected: page 4 alone is erased, with an ACK.
    row("F1 protected page skipped on request", 0x410,
        wr(0x08000000, w) + wr(0x08001000, w) + hex("639c 00 00 00 7f 43bc 01 00 04 05") +
            rd(0x08000000, 4) + rd(0x08001000, 4) + hex("43bc ff 00"),
        hex("797979 797979 7979 79 7979 797979") + w + hex("797979 ffffffff 791f"), 1, false, false,
        true);
    row("F1 a new protect replaces the old", 0x410,
        hex("639c 00 00 00 7f 639c 01 01 02 02 7f") + rd(0x1FFFF808, 2),
        hex("7979 79 7979 79 797979 f906"), 2);
    row("F1 protect past the last block, bad checksum", 0x410, hex("639c 00 20 20 639c 00 01 00"),
        hex("791f 791f"), 0);
    row("F1 unprotect: two ACKs, reset, write allowed", 0x410,
        hex("639c 00 00 00 7f 738c 7f") + rd(0x1FFFF808, 2) + wr(0x08000000, w),
        hex("7979 79 7979 79 797979 ff00 797979"), 2);
    row("F1 Write Memory: complements by the chip, reset", 0x410,
        wr(0x1FFFF800, hex("a500fe0012003400ff00ff00ff00ff00")) + hex("7f") + rd(0x1FFFF800, 16),
        hex("797979 79 797979 a55afe0112ed34cbff00ff00ff00ff00"), 1, false, true);
    row("F1 Write Memory of part: the rest erased, readout protected", 0x410,
        wr(0x1FFFF804, hex("12ed34cb")) + hex("7f 11ee"), hex("797979 79 1f"), 1);
    row("F1 hardware watchdog cleared by Write Memory", 0x410,
        wr(0x1FFFF800, hex("a55aff00ff00ff00ff00ff00ff00ff00")) + hex("7f"), hex("797979 79"), 1,
        true, false);
    // An unwired board takes each 0x7F as a reset with BOOT0 high.
    row("F0 readout level 2: the bootloader stays off", 0x440,
        wr(0x1FFFF800, hex("cc33ff00ff00ff00ff00ff00ff00ff00")) + hex("7f 7f"), hex("797979"), 3);
    row("F1 readout protect and unprotect keep write protection", 0x410,
        hex("639c 00 00 00 7f 827d 7f 926d 7f") + rd(0x1FFFF808, 2),
        hex("7979 79 7979 79 7979 79 797979 fe01"), 3);
    row("F4 protect sector 1", 0x413,
        hex("639c 00 01 01 7f") + rd(0x1FFFC008, 2) + ee({1}) + ee({2}) + ee({0xFFFF}),
        hex("7979 79 797979 fd7f 791f 7979 791f"), 1);
    row("F4 sector 12 does not exist", 0x413, hex("639c 00 0c 0c"), hex("791f"), 0);
    row("F4 unprotect", 0x413, hex("639c 00 01 01 7f 738c 7f") + rd(0x1FFFC008, 2) + ee({1}),
        hex("7979 79 7979 79 797979 ff7f 7979"), 2);
    // L0: a bit at 1 protects a 4 KB sector of 32 pages; the complement in the upper half-word.
    row("L0 protect sector 0", 0x417,
        hex("639c 00 00 00 7f") + rd(0x1FF80008, 4) + ee({31}) + ee({32}),
        hex("7979 79 797979 0100feff 791f 7979"), 1);
    // Areas: a first and a last page each.
    row("G0 protect pages 2-5", 0x460,
        hex("639c 01 02 05 06 7f") + rd(0x1FFF7818, 8) + ee({3}) + ee({6}) + wr(0x08001000, w8),
        hex("7979 79 797979 02ff05fffd00fa00 791f 7979 79791f"), 1);
    row("G0 an odd number of codes", 0x460, hex("639c 00 02 02"), hex("791f"), 0);
    row("G0 unprotect", 0x460, hex("639c 01 02 05 06 7f 738c 7f") + ee({3}),
        hex("7979 79 7979 79 7979"), 2);
}

void TestSimBoard::optionBytes() {
    QFETCH(int, pid);
    QFETCH(bool, hwWatchdog);
    QFETCH(bool, skip);
    QFETCH(QByteArray, input);
    BoardConfig c;
    c.pid = uint16_t(pid);
    c.hardwareWatchdog = hwWatchdog;
    c.skipProtectedErase = skip;
    Board b(c);
    int64_t t = 0;
    QCOMPARE(feed(b, hex("7f"), &t), hex("79"));
    QFETCH(QByteArray, expected);
    QCOMPARE(feed(b, input, &t).toHex(' '), expected.toHex(' '));
    QTEST(int(b.counters().resets), "resets");
    QTEST(b.hardwareWatchdog(), "watchdogAfter");
}

// The unique ID: where each family keeps it, from --uid or the stand-in.
void TestSimBoard::uniqueId_data() {
    QTest::addColumn<int>("pid");
    QTest::addColumn<QByteArray>("uid");  // empty: the stand-in
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray uid = hex("00112233445566778899aabb");
    QTest::newRow("F1 stand-in") << 0x410 << QByteArray() << rd(0x1FFFF7E8, 12)
                                 << hex("797979 507261786f6e53696d000410");
    QTest::newRow("F1 given") << 0x410 << uid << rd(0x1FFFF7E8, 12) << hex("797979") + uid;
    QTest::newRow("F1 after the flash size")
        << 0x412 << uid << rd(0x1FFFF7E0, 12) << hex("797979 2000ffff ffffffff 00112233");
    QTest::newRow("F0") << 0x440 << uid << rd(0x1FFFF7AC, 12) << hex("797979") + uid;
    QTest::newRow("F4") << 0x413 << uid << rd(0x1FFF7A10, 12) << hex("797979") + uid;
    QTest::newRow("G0") << 0x460 << uid << rd(0x1FFF7590, 12) << hex("797979") + uid;
    QTest::newRow("L0 words apart") << 0x417 << uid << rd(0x1FF80050, 8) + rd(0x1FF80064, 4)
                                    << hex("797979 0011223344556677 797979 8899aabb");
    QTest::newRow("U5 away from system memory")
        << 0x482 << uid << rd(0x0BFA0700, 12) << hex("797979") + uid;
}

void TestSimBoard::uniqueId() {
    QFETCH(int, pid);
    QFETCH(QByteArray, uid);
    QFETCH(QByteArray, input);
    BoardConfig c;
    c.pid = uint16_t(pid);
    if (!uid.isEmpty()) {
        std::array<uint8_t, 12> bytes{};
        std::copy(uid.begin(), uid.end(), bytes.begin());
        c.uid = bytes;
    }
    Board b(c);
    int64_t t = 0;
    QCOMPARE(feed(b, hex("7f"), &t), hex("79"));
    QFETCH(QByteArray, expected);
    QCOMPARE(feed(b, input, &t).toHex(' '), expected.toHex(' '));
}

QTEST_GUILESS_MAIN(TestSimBoard)
#include "tst_simboard.moc"

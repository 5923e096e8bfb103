// The simulated board: byte-in/byte-out checks of its bootloader's protocol model for the
// STM32F103 it started as and for the other families of the device table; then small Thumb programs
// (tests/cortexm/*.s, assembled into cortexm_programs.h) and the committed F1 loader run by Go on
// its emulated core: what USART1 sends, the flash left, how each run ends.
#include <QRegularExpression>
#include <QtTest>

#include "Board.h"
#include "CortexM.h"
#include "Simulator.h"
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

// Feeds the bytes 1 ms apart at baud (0: 115200) and returns everything the board put on the line.
QByteArray feed(Board& b, const QByteArray& in, int64_t* clockNs, int baud = 0) {
    QByteArray out;
    for (char c : in) {
        for (const auto& e : b.feed(uint8_t(c), *clockNs += 1'000'000, baud ? baud : 115200))
            out.append(reinterpret_cast<const char*>(e.bytes.data()), qsizetype(e.bytes.size()));
    }
    return out;
}

constexpr uint32_t kLoad = 0x20000200;    // the vector words, then the code
constexpr uint32_t kParams = 0x20001000;  // the program's parameter words
constexpr int64_t kMs = 1'000'000;
constexpr uint32_t kKey1 = 0x45670123, kKey2 = 0xCDEF89AB;

enum Setup { Plain = 0, HwWatchdog = 1, ProtectFirst = 2, EvenEntry = 4, XlDensity = 8 };

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

struct Run {
    QByteArray sent;
    std::vector<int64_t> sentAtNs;  // from Go
    CortexM::Status status = CortexM::Status::Running;
    int64_t endNs = 0;  // simulated time when it stopped or the run ended, from Go
    Board::State state = Board::State::RamCode;
    QByteArray flash;       // the first 4 KB
    QByteArray bank2;       // XL density: the first 4 bytes of the second bank
    QByteArray afterReset;  // the board's answer to 0x7F afterwards
    CortexM::Clocks clocks{};
    int64_t pageEraseNs = 0, massEraseNs = 0;
};

// Loads the program and its parameters into SRAM, synchronises, sends Go, feeds the host's
// bytes (at 115200 baud, from 1 ms after Go on) and runs for durationNs of simulated time.
Run run(Program program, const Words& params, const QByteArray& host, int setup, int64_t durationNs,
        const QByteArray& flash = {}) {
    BoardConfig config;
    config.runRamCode = true;
    config.hardwareWatchdog = setup & HwWatchdog;
    if (setup & XlDensity) config.pid = 0x430;  // 1 MB, two banks of 512 KB
    Board board(config);
    board.loadFlash(0, reinterpret_cast<const uint8_t*>(flash.data()), size_t(flash.size()));
    int64_t t = 0;
    feed(board, hex("7f"), &t);
    if (setup & ProtectFirst) feed(board, hex("639c0000007f"), &t);  // sector 0, then resync
    uint32_t size = 0;
    uint8_t* ram = board.sram(&size);
    put32(ram + (kLoad - 0x20000000), 0x20005000);
    put32(ram + (kLoad + 4 - 0x20000000), (kLoad + 8) | (setup & EvenEntry ? 0 : 1));
    std::copy(program->begin(), program->end(), ram + (kLoad + 8 - 0x20000000));
    for (size_t i = 0; i < params.size(); ++i)
        put32(ram + (kParams - 0x20000000) + 4 * i, params[i]);
    const QByteArray goAck = feed(board, hex("21de") + addr(kLoad), &t);
    Run r;
    if (goAck != hex("7979") || board.state() != Board::State::RamCode) {
        QTest::qFail("Go refused: the run proves nothing", __FILE__, __LINE__);
        return r;
    }
    const int64_t start = t;
    CortexM cpu(board, start);
    for (char c : host) cpu.receive(uint8_t(c), 115200, start + kMs);
    cpu.runUntil(start + durationNs);
    for (const auto& s : cpu.takeSent()) {
        r.sent.append(char(s.byte));
        r.sentAtNs.push_back(s.atNs - start);
    }
    r.status = cpu.status();
    r.endNs = cpu.nowNs() - start;
    r.state = board.state();
    r.clocks = cpu.clocks();
    r.flash = QByteArray(reinterpret_cast<const char*>(board.flash().data()), 4096);
    if (board.flashSize() > 0x80000)
        r.bank2 = QByteArray(reinterpret_cast<const char*>(board.flash().data()) + 0x80000, 4);
    r.pageEraseNs = board.unitEraseNs(0);
    r.massEraseNs = board.massEraseNs();
    t = cpu.nowNs() + 200 * kMs;
    r.afterReset = feed(board, hex("7f"), &t);
    return r;
}

const char* statusName(CortexM::Status s) {
    static const char* const names[] = {"running", "halted", "reset", "user program"};
    return names[int(s)];
}

// The loader's frames (loader/PROTOCOL.md): A5, seq, cmd, length, header check, payload, and
// the CRC-32 of the words (little-endian, zero-padded) of everything before it.
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

uint32_t leAt(const QByteArray& b, int at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(b[at + i])) << (8 * i);
    return v;
}

QByteArray loaderFrame(uint8_t seq, uint8_t cmd, const QByteArray& payload) {
    QByteArray f;
    f.append(char(0xA5))
        .append(char(seq))
        .append(char(cmd))
        .append(le(uint32_t(payload.size()), 2));
    f.append(char((seq ^ cmd ^ uint8_t(f[3]) ^ uint8_t(f[4])) ^ 0xFF));
    f += payload;
    return f + le(wordsCrc(f));
}

// The committed loader for the STM32F10x at 0x20000200 on an emulated F103 (64 KB); empty when
// this tree has no loader binary.
struct LoaderRig {
    Board board;
    std::unique_ptr<CortexM> cpu;
    int64_t now = 0;
    uint8_t seq = 0;

    explicit LoaderRig(const BoardConfig& config) : board(config) {}
    bool start(const QByteArray& image) {
        QByteArray img = image;
        img.replace(0x0C, 20, le(115200) + le(0x20002800) + le(1024) + le(0) + le(0));
        uint32_t size = 0;
        uint8_t* ram = board.sram(&size);
        std::copy(img.begin(), img.end(), ram + 0x200);
        if (feed(board, hex("7f21de2000020022"), &now) != hex("797979")) return false;
        cpu = std::make_unique<CortexM>(board, now);
        cpu->runUntil(now += 5 * kMs);
        return cpu->status() == CortexM::Status::Running;
    }
    // Sends a frame, runs up to runNs, returns the reply's payload ("!" + bytes when the reply
    // is not one well-formed frame).
    QByteArray call(uint8_t cmd, const QByteArray& payload, int64_t runNs) {
        // As the host sends it: 0x7F and the escape byte 0xCF escaped (loader/PROTOCOL.md 3.3).
        for (char c : loaderFrame(seq, cmd, payload)) {
            if (uint8_t(c) == 0x7F || uint8_t(c) == 0xCF) {
                cpu->receive(0xCF, 115200, now);
                c = char(c ^ 0x20);
            }
            cpu->receive(uint8_t(c), 115200, now);
        }
        cpu->runUntil(now += runNs);
        QByteArray reply;
        for (const auto& s : cpu->takeSent()) reply.append(char(s.byte));
        const uint8_t expectSeq = seq++;
        if (reply.size() < 10 || uint8_t(reply[0]) != 0xA5 || uint8_t(reply[1]) != expectSeq ||
            uint8_t(reply[2]) != cmd)
            return "!" + reply.toHex();
        const int length = uint8_t(reply[3]) | uint8_t(reply[4]) << 8;
        if (reply.size() != length + 10 ||
            wordsCrc(reply.left(6 + length)) != leAt(reply, 6 + length))
            return "!" + reply.toHex();
        return reply.mid(6, length);
    }
};

}  // namespace

Q_DECLARE_METATYPE(Program)
Q_DECLARE_METATYPE(Words)

class TestSimBoard : public QObject {
    Q_OBJECT

private slots:
    // Byte-in/byte-out exchanges with the bootloader, after its first 0x7F unless the board says
    // "nosync". board: "pid=PID kb=FLASH hw (hardware watchdog) skip (protected erase skipped)
    // fault=KIND:CMD:K[:STEP]"; input as frames() builds it; after: "resets=N", "wdg=0|1" checked
    // when given.
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
        // The unique ID: "PraxonSim", a zero and the product ID unless given (tst_simulator).
        row("F1 unique ID after the flash size", "pid=412", "R1FFFF7E0+12",
            "797979 2000ffff ffffffff 50726178");
        // Faults: the rest are run, with what they leave in flash, by tst_integration's
        // operations; there a NACKed sync ends the connect.
        row("nack sync, next one answered", "nosync fault=nack:0x7f:1", "7f 7f", "1f 79");

        // Other chips by product ID. Facts from the device table: protocol and erase command,
        // flash-size value, erase units and banks, write unit, erased value, RAM, unique ID.
        // Get's erase command, F4's sectors and mass erase: tst_families, by both clients.
        row("F10x XL: 3.0, Erase refused", "pid=430", "00ff 43bc",
            "790b30000102112131446373829279 1f");
        row("F103: Extended Erase refused", "", "44bb", "1f");
        // The flash size in KiB where each family keeps it, as its line codes it.
        row("L1 Cat.2: the low byte counts", "pid=429", "R1FF8004C+2", "797979 80ff");
        row("L1 Cat.4: code 1 for 256 KB", "pid=436 kb=256", "R1FF800CC+2", "797979 0100");
        // 16 KB sectors 0-3, 64 KB sector 4, then 128 KB ones.
        row("F4 refusals: reserved code, bank 1 of one bank, sector 12, checksums", "pid=413",
            "X0xFFF0 X0xFFFE X12 44bb 0000 0001 00 44bb ffff 01 01fe",
            "791f 791f 791f 791f 791f 7931000079");
        row("F10x XL: bank 2, then bank 1", "pid=430",
            "W08000000=12345678 W08080000=12345678 X0xFFFD R08000000+4 R08080000+4 X0xFFFE "
            "R08000000+4",
            "797979 797979 7979 797979 12345678 797979 ffffffff 7979 797979 ffffffff");
        row("L0: erased 00, no mass erase, 128-byte pages", "pid=417",
            "R08000000+4 X0xFFFF W08000080=0102030405060708 X1 R08000080+4",
            "797979 00000000 791f 797979 7979 797979 00000000");
        // Double-words: address and length in 8-byte units, each written once after an erase.
        row("G0: 8-byte units", "pid=460",
            "31ce @08000004 W08000000=12345678 W08000000=0102030405060708 "
            "W08000000=0102030405060708 W08000008=0102030405060708 X0 W08000000=0102030405060708",
            "791f 79791f 797979 79791f 797979 7979 797979");
        row("H74x: 32-byte units; RAM the bootloader keeps; AXI SRAM", "pid=450",
            "31ce @08000010 31ce @200040FC W20004100=12345678 W24005000=12345678 31ce @24004FFC "
            "R24005000+4",
            "791f 791f 797979 797979 791f 797979 12345678");
        row("L011: no RAM for the host", "pid=457", "11ee @20001000", "791f");
        // Protect and unprotect reset the chip; unprotecting erases, here to 00.
        row("L0 readout protection cycle", "pid=417",
            "W08000000=0102030405060708 827d 7f 11ee 926d 7f R08000000+4",
            "797979 7979 79 1f 7979 79 797979 00000000");

        // The option bytes: reads of their area, writes through Write Memory, Write Protect and
        // Write Unprotect with the reset after each (the next command needs a 0x7F first), and
        // their effects on erase, write, readout and the watchdog. F1's factory bytes: stm32flash
        // reads them in tst_simulator.
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
        row("F1 hardware watchdog cleared by Write Memory", "hw",
            "W1FFFF800=a55aff00ff00ff00ff00ff00ff00ff00 7f", "797979 79", "resets=1 wdg=0");
        // An unwired board takes each 0x7F as a reset with BOOT0 high.
        row("F0 readout level 2: the bootloader stays off", "pid=440",
            "W1FFFF800=cc33ff00ff00ff00ff00ff00ff00ff00 7f 7f", "797979", "resets=3");
        row("F1 readout protect and unprotect keep write protection", "",
            "639c 000000 7f 827d 7f 926d 7f R1FFFF808+2", "7979 79 7979 79 7979 79 797979 fe01",
            "resets=3");
        row("F4 protect sector 1", "pid=413", "639c 000101 7f R1FFFC008+2 X1 X2 X0xFFFF",
            "7979 79 797979 fd7f 791f 7979 791f", "resets=1");
        row("F4 unprotect", "pid=413", "639c 000101 7f 738c 7f R1FFFC008+2 X1",
            "7979 79 7979 79 797979 ff7f 7979", "resets=2");
        // L0: a bit at 1 protects a 4 KB sector of 32 pages; the complement in the upper half-word.
        row("L0 protect sector 0", "pid=417", "639c 000000 7f R1FF80008+4 X31 X32",
            "7979 79 797979 0100feff 791f 7979", "resets=1");
        // Areas: a first and a last page each.
        row("G0 protect pages 2-5", "pid=460",
            "639c 01 0205 06 7f R1FFF7818+8 X3 X6 W08001000=0102030405060708",
            "7979 79 797979 02ff05fffd00fa00 791f 7979 79791f", "resets=1");
        row("G0 an odd number of codes", "pid=460", "639c 000202", "791f", "resets=0");
        row("G0 unprotect", "pid=460", "639c 01 0205 06 7f 738c 7f X3", "7979 79 7979 79 7979",
            "resets=2");
    }

    void bootloader() {
        QFETCH(QString, board);
        QFETCH(QString, input);
        QFETCH(QByteArray, expected);
        QFETCH(QString, after);
        BoardConfig c;
        for (const QString& item : board.split(' ', Qt::SkipEmptyParts)) {
            const QString key = item.section('=', 0, 0), value = item.section('=', 1);
            std::string error;
            if (key == "pid") c.pid = uint16_t(value.toUInt(nullptr, 16));
            if (key == "kb") c.flashKb = value.toInt();
            if (key == "hw") c.hardwareWatchdog = true;
            if (key == "skip") c.skipProtectedErase = true;
            if (key == "fault")
                QVERIFY2(parseFault(value.toStdString(), &c.faults.emplace_back(), &error),
                         error.c_str());
        }
        Board b(c);
        int64_t t = 0;
        if (!board.contains("nosync")) QCOMPARE(feed(b, hex("7f"), &t), hex("79"));
        QCOMPARE(feed(b, frames(input), &t).toHex(' '), expected.toHex(' '));
        const QString resets = after.section("resets=", 1).section(' ', 0, 0);
        if (!resets.isEmpty()) QCOMPARE(int(b.counters().resets), resets.toInt());
        if (after.contains("wdg=")) QCOMPARE(b.hardwareWatchdog(), after.contains("wdg=1"));
    }

    // How NRST and BOOT0 hang on the host's lines. Steps: the lines as D/d (DTR asserted/released)
    // and R/r, "btn" the reset button, "BAUD:hex" bytes at that speed (":hex" at 115200). Then
    // everything the board answered and its state. The open holding reset, release into the user
    // program and inverted lines: tst_simulator's stm32flashWiring, through the lines library.
    void lines_data() {
        QTest::addColumn<Wiring>("wiring");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QByteArray>("replies");
        QTest::addColumn<Board::State>("state");
        const auto boot = Board::State::WaitCommand, user = Board::State::Running;
        const Wiring direct{Line::Dtr, false, Line::Rts, false},
            boot0Only{Line::None, false, Line::Rts, false};
        auto row = [](const char* name, Wiring w, const char* steps, const char* out,
                      Board::State s) { QTest::newRow(name) << w << steps << hex(out) << s; };
        row("unwired: lines change nothing", {}, "DR dr DR :7f", "79", boot);
        // The command in progress is dropped.
        row("direct: BOOT0, then reset", direct, ":7f11 DR Dr dr :7f02fd", "79797901041079", boot);
        row("BOOT0 only: the button decides", boot0Only, "dR btn :7f dr btn :7f", "79", boot);
        row("wired Go: silent until reset", direct, ":7f21de0800000008 :7f", "797979", user);
        // From 1200 baud up; bytes at another speed are lost until a reset.
        row("autobaud", {}, "600:7f 9600:7f :02fd 9600:02fd btn :7f", "79 7901041079 79", boot);
    }

    void lines() {
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
                got += feed(b, hex(step.section(':', 1).toLatin1()), &t,
                            step.section(':', 0, 0).toInt());
            else
                b.setLines(step[0] == 'D', step[1] == 'R');
        }
        QCOMPARE(got.toHex(' '), replies.toHex(' '));
        QCOMPARE(int(b.state()), int(state));
    }

    // --preload: a binary file as it is, or an Intel HEX file read by praxon's reader into flash
    // offsets, bytes between records erased; refusals name the file, the line or address. (The
    // reader's other refusals: tst_firmwareimage.)
    void preload_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>(
            "result");  // the flash image in hex, or the error with F the file
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
        QTest::newRow("past the flash") << ":020000040800F2\n:0104000001FA\n" + end
                                        << "F: data at 0x08000400 outside the flash";
    }

    void preload() {
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

    // The Thumb programs on the emulated core from here on.
    // Programs that answer on USART1: what they send (empty: anything but the host's bytes or the
    // flash word), the
    // clock they leave, when the first byte leaves (-1: any time). The flash holds 44332211.
    void usart_data() {
        QTest::addColumn<Program>("program");
        QTest::addColumn<Words>("params");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<uint32_t>("sysclk");
        QTest::addColumn<int>("firstMs");
        const QByteArray text = "Praxon\x00\xff\x55\xaa", none;
        auto row = [](const char* name, Program p, const Words& w, const QByteArray& host,
                      const QByteArray& sent, uint32_t sysclk = 8'000'000u, int firstMs = -1) {
            QTest::newRow(name) << p << w << host << sent << sysclk << firstMs;
        };
        // 8 MHz after Go: BRR 69 is 115942 baud (+0.6 %); 72 is 111111 (-3.5 %), 67 is
        // 119403 (+3.6 %). Turning the clocks of USART1 and GPIOA off and on resets nothing.
        row("echo, clocks off and on", &programs::echo, {69, 0x4004}, text, text);
        // Each byte rewrites an instruction that already ran: the new one must run.
        row("echo through rewritten code", &programs::rewrite, {69}, text, text);
        row("echo 3.5 % slow", &programs::echo, {72}, text, none);
        row("echo 3.6 % fast", &programs::echo, {67}, text, none);
        // ORE and the byte in DR, per byte received.
        row("read in time", &programs::latereader, {0, 0}, "AB", hex("00410042"));
        row("read too late: ORE, the first byte kept", &programs::latereader, {0, 2000}, "AB",
            hex("0841"));
        // The CRC unit's DR after the words (clock on, count, words), little-endian.
        row("CRC without its clock reads 0", &programs::crc, {0, 1, 0x12345678}, none,
            hex("00000000"));
        // The flash word read back at each clock and wait states (FLASH_ACR latency, PLL on).
        row("8 MHz, 0 wait states", &programs::latency, {0, 0}, none, hex("44332211"));
        row("64 MHz, 2 wait states", &programs::latency, {2, 1}, none, hex("44332211"),
            64'000'000u);
        row("64 MHz, 1 wait state: wrong data", &programs::latency, {1, 1}, none, none,
            64'000'000u);
        row("ten SysTick periods", &programs::systick, {10}, none, hex("55"), 8'000'000u, 10);
    }

    void usart() {
        QFETCH(Program, program);
        QFETCH(Words, params);
        QFETCH(QByteArray, host);
        QFETCH(QByteArray, expected);
        QFETCH(int, firstMs);
        const Run r = run(program, params, host, Plain, 50 * kMs, hex("44332211"));
        QCOMPARE(statusName(r.status), "running");
        if (expected.isEmpty())
            QVERIFY2(!r.sent.isEmpty() && r.sent != host && r.sent != hex("44332211"),
                     r.sent.toHex().constData());
        else
            QCOMPARE(r.sent.toHex(), expected.toHex());
        QTEST(r.clocks.sysclk, "sysclk");
        // Bytes leave no faster than 115200 baud 8E1 allows.
        for (size_t i = 1; i < r.sentAtNs.size(); ++i)
            QVERIFY(r.sentAtNs[i] - r.sentAtNs[i - 1] >= 11'000'000'000LL / 116000);
        if (firstMs >= 0)
            QVERIFY2(r.sentAtNs[0] >= firstMs * kMs && r.sentAtNs[0] < (firstMs + 1) * kMs,
                     QByteArray::number(r.sentAtNs[0]).data());
    }

    void flash_data() {
        QTest::addColumn<Words>("params");  // op, key 1, key 2, address, value, word write
        QTest::addColumn<int>("setup");
        QTest::addColumn<QByteArray>("before");  // flash from 0
        QTest::addColumn<QByteArray>("sent");    // CR after unlocking, SR after BSY
        QTest::addColumn<QByteArray>("after");   // the first 4 KB
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("busy");  // 1: page erase time between the bytes, 2: mass erase time

        const QByteArray erased(4096, char(0xFF)), data = pattern(4096);
        auto with = [](QByteArray b, int at, const QByteArray& bytes) {
            return b.replace(at, bytes.size(), bytes);
        };
        auto row = [](const char* name, const Words& p, int setup, const QByteArray& before,
                      const char* sent, const QByteArray& after, const char* status = "running",
                      int busy = 0) {
            QTest::newRow(name) << p << setup << before << hex(sent) << after << status << busy;
        };
        const uint32_t page1 = 0x08000400, page2 = 0x08000800;
        row("PGERR over a programmed half-word", {1, kKey1, kKey2, page1, 0x5678, 0}, Plain,
            with(erased, 0x400, hex("3412")), "0104", with(erased, 0x400, hex("3412")));
        row("0x0000 goes over anything", {1, kKey1, kKey2, page1, 0, 0}, Plain,
            with(erased, 0x400, hex("3412")), "0120", with(erased, 0x400, hex("0000")));
        row("a wrong first key locks", {1, 0x12345678, kKey2, page1, 0xBEEF, 0}, Plain, erased,
            "80", erased);
        row("keys in the wrong order lock", {1, kKey2, kKey1, page1, 0xBEEF, 0}, Plain, erased,
            "80", erased);
        // The reset cuts off the CR byte still on the line.
        row("a word write is a bus error: the ROM resets", {1, kKey1, kKey2, page1, 0xBEEF, 1},
            Plain, erased, "", erased, "reset");
        row("WRPRTERR on a protected page", {1, kKey1, kKey2, page1, 0xBEEF, 0}, ProtectFirst,
            erased, "0110", erased);
        // Any address in the page erases it; a read waits until the erase is over, then finds the
        // page erased.
        row("page erase, a flash read stalls meanwhile",
            {2, kKey1, kKey2, page2 + 0x10, 0, 0, 0, 1}, Plain, data, "02ff20",
            with(data, 0x800, QByteArray(1024, char(0xFF))), "running", 1);
        row("page erase of a protected page", {2, kKey1, kKey2, page2, 0, 0}, ProtectFirst, data,
            "0210", data);
        row("mass erase", {4, kKey1, kKey2, 0, 0, 0}, Plain, data, "0420", erased, "running", 2);
        // XL density: the second bank has registers of its own at +0x40.
        row("XL: bank 2 through its own registers", {1, kKey1, kKey2, 0x08080000, 0xBEEF, 0, 0x40},
            XlDensity, erased, "0120", erased);
        row("XL: bank 2 with bank 1's PG is a bus error",
            {1, kKey1, kKey2, 0x08080000, 0xBEEF, 0, 0}, XlDensity, erased, "", erased, "reset");
        row("XL: bank 1 with bank 2's PG is a bus error", {1, kKey1, kKey2, page1, 0xBEEF, 0, 0x40},
            XlDensity, erased, "", erased, "reset");
    }

    void flash() {
        QFETCH(Words, params);
        QFETCH(int, setup);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, after);
        QFETCH(QString, status);
        QFETCH(int, busy);
        const Run r = run(&programs::flashop, params, {}, setup, 200 * kMs, before);
        QCOMPARE(QString(statusName(r.status)), status);
        // CR's low byte (PG 1, PER 2, MER 4, LOCK 0x80), then SR: PGERR 0x04, WRPRTERR 0x10, EOP
        // 0x20, unmasked so that a stray flag fails the row.
        QCOMPARE(r.sent.toHex(), sent.toHex());
        QVERIFY(r.flash == after);
        if (setup & XlDensity)
            QCOMPARE(r.bank2.toHex(), QByteArray(status == "running" ? "efbeffff" : "ffffffff"));
        if (busy) {
            const int64_t took = r.sentAtNs.at(1) - r.sentAtNs.at(0);
            const int64_t expected = busy == 1 ? r.pageEraseNs : r.massEraseNs;
            QVERIFY2(took >= expected && took < expected + 2 * kMs,
                     QByteArray::number(took).data());
        }
    }

    void endings_data() {
        QTest::addColumn<Program>("program");
        QTest::addColumn<Words>("params");
        QTest::addColumn<int>("setup");
        QTest::addColumn<int>("seconds");  // simulated time to run
        QTest::addColumn<QString>("status");
        QTest::addColumn<QByteArray>("afterReset");  // the board's answer to 0x7F then
        QTest::addColumn<int>("endMs");              // when it ended, about (-1: not checked)
        const QByteArray ack = hex("79"), none;
        auto row = [&](const char* name, Program p, const Words& w, int setup, int seconds,
                       const char* status, const QByteArray& answer, int endMs = -1) {
            QTest::newRow(name) << p << w << setup << seconds << status << answer << endMs;
        };
        row("AIRCR with its key resets into the ROM", &programs::reset, {0x05FA0004}, Plain, 1,
            "reset", ack);
        row("AIRCR without the key does nothing", &programs::reset, {0x00000004}, Plain, 1,
            "running", none);
        // PR 0 (/4), RLR 100: 404 LSI cycles at 40 kHz.
        row("watchdog not reloaded resets", &programs::watchdog, {1, 0, 100, 0}, Plain, 1, "reset",
            ack, 10);
        row("watchdog reloaded", &programs::watchdog, {1, 0, 100, 1}, Plain, 1, "running", none);
        // The ROM leaves PR at /256 and RLR at 0xFFF: 26.2 s.
        row("hardware watchdog never reloaded", &programs::watchdog, {0, 0, 0, 0}, HwWatchdog, 30,
            "reset", ack, 26214);
        row("no hardware watchdog", &programs::watchdog, {0, 0, 0, 0}, Plain, 30, "running", none);
        row("unmapped read: the ROM's handler resets", &programs::fault, {0, 1}, Plain, 1, "reset",
            ack);
        row("write to system memory: the ROM's handler resets", &programs::fault, {0, 4}, Plain, 1,
            "reset", ack);
        row("fault under the loader's own vectors: silence", &programs::fault, {0x20000000, 0},
            Plain, 1, "halted", none);
        row("entry without the Thumb bit", &programs::fault, {0, 0}, EvenEntry, 1, "reset", ack);
        row("a loop touching nothing hangs: silence", &programs::fault, {0, 3}, Plain, 5, "halted",
            none, 2000);
        row("a jump to address 0 restarts the ROM", &programs::fault, {0, 5}, Plain, 1, "reset",
            ack);
        row("a jump into flash runs the user program", &programs::fault, {0, 2}, Plain, 1,
            "user program", ack);
    }

    void endings() {
        QFETCH(Program, program);
        QFETCH(Words, params);
        QFETCH(int, setup);
        QFETCH(int, seconds);
        QFETCH(QString, status);
        QFETCH(QByteArray, afterReset);
        QFETCH(int, endMs);
        const Run r = run(program, params, {}, setup, seconds * 1000 * kMs);
        QCOMPARE(QString(statusName(r.status)), status);
        QCOMPARE(r.afterReset.toHex(), afterReset.toHex());
        QVERIFY(r.sent.isEmpty());
        if (endMs >= 0)
            QVERIFY2(r.endNs >= endMs * kMs && r.endNs < (endMs + 2) * kMs,
                     QByteArray::number(r.endNs).data());
        if (status == "reset") QCOMPARE(int(r.state), int(Board::State::WaitSync));
    }

    void loader_data() {
        QTest::addColumn<bool>("watchdog");
        QTest::newRow("protected") << false;
        QTest::newRow("watchdog") << true;
    }

    // The loader this tree builds (loader/bin) on the emulated chip: its hello; the refusal of a
    // write to a protected sector, which it learns from the chip's registers; its reloads of the
    // hardware watchdog. (Its answers to the rest: tst_loaderprotocol on the host build; writes,
    // erases and CRC through the host's loader link: tst_turbosim.)
    void loader() {
        QFETCH(bool, watchdog);
        QFile file(PRAXON_LOADER_F1);
        if (!file.open(QIODevice::ReadOnly)) QSKIP("no loader binary in this tree");
        BoardConfig config;
        config.runRamCode = true;
        config.hardwareWatchdog = watchdog;
        LoaderRig rig(config);
        int64_t t = 0;
        if (!watchdog) feed(rig.board, hex("7f639c000000"), &t);  // sector 0 (pages 0-3); a reset
        QVERIFY(rig.start(file.readAll()));
        // 30 s, longer than the watchdog's period as the ROM leaves it (26 s), a hello every 5 s
        // so that the loader's wait for a silent host (10 s) does not end it.
        for (int i = 0; watchdog && i < 6; ++i) {
            rig.cpu->runUntil(rig.now += 5'000 * kMs);
            QCOMPARE(rig.call(0x01, {}, 20 * kMs).size(), 48);
        }
        const QByteArray hello = rig.call(0x01, {}, 20 * kMs);
        QCOMPARE(hello.size(), 48);
        QCOMPARE(hello.left(3).toHex(), QByteArray("000301"));  // done, version 3, F1
        QCOMPARE(leAt(hello, 28), 64u);                         // the flash-size register
        QCOMPARE(leAt(hello, 36), 64'000'000u);
        if (watchdog) return;
        // Status 6 (write-protected), the address, the flash SR; the erased half-word left erased.
        const QByteArray reply = rig.call(0x04, le(0x08000400) + "xy", 20 * kMs);
        QCOMPARE(reply.left(5).toHex(), (QByteArray(1, 6) + le(0x08000400)).toHex());
        QCOMPARE(rig.board.flash()[0x400], uint8_t(0xFF));
        QCOMPARE(rig.board.flash()[0x401], uint8_t(0xFF));
    }
};

QTEST_GUILESS_MAIN(TestSimBoard)
#include "tst_simboard.moc"

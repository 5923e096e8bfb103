// Small Thumb programs (tests/cortexm/*.s, assembled into cortexm_programs.h) run by Go on the
// simulated STM32F103: what its USART1 sends, the flash it leaves, how it ends.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QtTest>

#include "Board.h"
#include "CortexM.h"
#include "Simulator.h"
#include "cortexm_programs.h"

using namespace praxon::sim;

namespace {

constexpr uint32_t kLoad = 0x20000200;    // the vector words, then the code
constexpr uint32_t kParams = 0x20001000;  // the program's parameter words
constexpr int64_t kMs = 1'000'000;
constexpr uint32_t kKey1 = 0x45670123, kKey2 = 0xCDEF89AB;

enum Setup { Plain = 0, HwWatchdog = 1, ProtectFirst = 2, EvenEntry = 4, XlDensity = 8 };

using Program = const std::vector<uint8_t>*;
using Words = std::vector<uint32_t>;

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

QByteArray bytesOut(const Board::Output& out) {
    QByteArray b;
    for (const auto& e : out)
        b.append(reinterpret_cast<const char*>(e.bytes.data()), e.bytes.size());
    return b;
}

QByteArray feed(Board& board, const QByteArray& in, int64_t* t) {
    QByteArray out;
    for (char c : in) out += bytesOut(board.feed(uint8_t(c), *t += kMs));
    return out;
}

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
    std::string reason;
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
    const QByteArray goAck = feed(board, hex("21de") + hex("2000020022"), &t);
    Run r;
    if (goAck != hex("7979") || board.state() != Board::State::RamCode) {
        r.reason = "Go refused";
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
    r.reason = cpu.reason();
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

// Writes, then reads until want bytes came or 2 s passed (a raw client on the pty).
QByteArray exchange(int fd, const QByteArray& out, int want) {
    QByteArray got;
    if (::write(fd, out.constData(), size_t(out.size())) != out.size()) return "write failed";
    QElapsedTimer timer;
    timer.start();
    while (got.size() < want && timer.elapsed() < 2000) {
        pollfd p{fd, POLLIN, 0};
        char buf[256];
        const ssize_t n = ::poll(&p, 1, 5) > 0 ? ::read(fd, buf, sizeof buf) : 0;
        got.append(buf, std::max<ssize_t>(n, 0));
    }
    return got;
}

QByteArray address(uint32_t a) {
    QByteArray f;
    for (int s = 24; s >= 0; s -= 8) f.append(char(a >> s));
    return f + char(f[0] ^ f[1] ^ f[2] ^ f[3]);
}

const char* statusName(CortexM::Status s) {
    static const char* const names[] = {"running", "halted", "reset", "user program"};
    return names[int(s)];
}

}  // namespace

Q_DECLARE_METATYPE(Program)
Q_DECLARE_METATYPE(Words)

namespace {

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
    int baud = 115200;
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
    // is not one well-formed frame) and when its last byte arrived.
    QByteArray call(uint8_t cmd, const QByteArray& payload, int64_t runNs,
                    int64_t* tookNs = nullptr) {
        const int64_t sent = now;
        for (char c : loaderFrame(seq, cmd, payload)) cpu->receive(uint8_t(c), baud, now);
        cpu->setHostBaud(baud);
        cpu->runUntil(now += runNs);
        QByteArray reply;
        int64_t last = 0;
        for (const auto& s : cpu->takeSent()) {
            reply.append(char(s.byte));
            last = s.atNs;
        }
        if (tookNs) *tookNs = last - sent;
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

class TestCortexM : public QObject {
    Q_OBJECT

private slots:

    void usart_data() {
        QTest::addColumn<Program>("program");
        QTest::addColumn<Words>("params");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<QByteArray>("expected");  // empty: anything but the host's bytes
        const QByteArray text = "Praxon\x00\xff\x55\xaa";
        // 8 MHz after Go: BRR 69 is 115942 baud (+0.6 %); 72 is 111111 (-3.5 %), 67 is
        // 119403 (+3.6 %).
        QTest::newRow("echo at BRR 69") << &programs::echo << Words{69} << text << text;
        // Turning the clocks of USART1 and GPIOA off and on again resets nothing.
        QTest::newRow("echo, clocks off and on")
            << &programs::echo << Words{69, 0x4004} << text << text;
        // Each byte rewrites an instruction that already ran: the new one must run.
        QTest::newRow("echo through rewritten code")
            << &programs::rewrite << Words{69} << text << text;
        QTest::newRow("echo 3.5 % slow") << &programs::echo << Words{72} << text << QByteArray();
        QTest::newRow("echo 3.6 % fast") << &programs::echo << Words{67} << text << QByteArray();
        // ORE and the byte in DR, per byte received.
        QTest::newRow("read in time")
            << &programs::latereader << Words{0, 0} << QByteArray("AB") << hex("00410042");
        QTest::newRow("read too late: ORE, the first byte kept")
            << &programs::latereader << Words{0, 2000} << QByteArray("AB") << hex("0841");
    }

    void usart() {
        QFETCH(Program, program);
        QFETCH(Words, params);
        QFETCH(QByteArray, host);
        QFETCH(QByteArray, expected);
        const Run r = run(program, params, host, Plain, 50 * kMs);
        QCOMPARE(statusName(r.status), "running");
        if (expected.isEmpty()) {
            QVERIFY2(!r.sent.isEmpty() && r.sent != host, r.sent.toHex().constData());
        } else {
            QCOMPARE(r.sent.toHex(), expected.toHex());
        }
        // Bytes leave no faster than 115200 baud 8E1 allows.
        for (size_t i = 1; i < r.sentAtNs.size(); ++i)
            QVERIFY(r.sentAtNs[i] - r.sentAtNs[i - 1] >= 11'000'000'000LL / 116000);
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
        row("program an erased half-word", {1, kKey1, kKey2, page1, 0xBEEF, 0}, Plain, erased,
            "0120", with(erased, 0x400, hex("efbe")));
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
        row("page erase", {2, kKey1, kKey2, page2 + 0x10, 0, 0}, Plain, data, "0220",
            with(data, 0x800, QByteArray(1024, char(0xFF))), "running", 1);
        // The read waits until the erase is over, then finds the page erased.
        row("a flash read stalls while the page erases", {2, kKey1, kKey2, page2, 0, 0, 0, 1},
            Plain, data, "02ff20", with(data, 0x800, QByteArray(1024, char(0xFF))), "running", 1);
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

    void crc_data() {
        QTest::addColumn<Words>("params");  // clock on, count, words
        QTest::addColumn<uint32_t>("dr");
        QTest::newRow("0x12345678") << Words{1, 1, 0x12345678} << 0xDF8A8A2Bu;
        QTest::newRow("two words") << Words{1, 2, 0x12345678, 0x9ABCDEF0} << 0x7D24A31Bu;
        QTest::newRow("after reset, nothing fed") << Words{1, 0} << 0xFFFFFFFFu;
        QTest::newRow("no clock: reads 0") << Words{0, 1, 0x12345678} << 0u;
    }

    void crc() {
        QFETCH(Words, params);
        QFETCH(uint32_t, dr);
        const Run r = run(&programs::crc, params, {}, Plain, 20 * kMs);
        QCOMPARE(r.sent.size(), 4);
        uint32_t got = 0;
        for (int i = 0; i < 4; ++i) got |= uint32_t(uint8_t(r.sent[i])) << (8 * i);
        QCOMPARE(QString::number(got, 16), QString::number(dr, 16));
    }

    void clocks_data() {
        QTest::addColumn<Program>("program");
        QTest::addColumn<Words>("params");
        QTest::addColumn<bool>("rightData");
        QTest::addColumn<uint32_t>("sysclk");
        QTest::addColumn<int>("ms");  // when the first byte is sent, at the soonest (-1: any time)
        QTest::newRow("8 MHz, 0 wait states")
            << &programs::latency << Words{0, 0} << true << 8'000'000u << -1;
        QTest::newRow("64 MHz, 2 wait states")
            << &programs::latency << Words{2, 1} << true << 64'000'000u << -1;
        QTest::newRow("64 MHz, 1 wait state")
            << &programs::latency << Words{1, 1} << false << 64'000'000u << -1;
        QTest::newRow("ten SysTick periods")
            << &programs::systick << Words{10} << true << 8'000'000u << 10;
    }

    void clocks() {
        QFETCH(Program, program);
        QFETCH(Words, params);
        QFETCH(bool, rightData);
        QFETCH(uint32_t, sysclk);
        QFETCH(int, ms);
        const QByteArray stored = hex("44332211");
        const Run r = run(program, params, {}, Plain, 30 * kMs, stored);
        QCOMPARE(r.clocks.sysclk, sysclk);
        if (program == &programs::latency) {
            QCOMPARE(r.sent.size(), 4);
            QCOMPARE(r.sent == stored, rightData);
        } else {
            QCOMPARE(r.sent.toHex(), QByteArray("55"));
            QVERIFY2(r.sentAtNs[0] >= ms * kMs && r.sentAtNs[0] < (ms + 1) * kMs,
                     QByteArray::number(r.sentAtNs[0]).data());
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
        row("undefined instruction: the ROM's handler resets", &programs::fault, {0, 0}, Plain, 1,
            "reset", ack);
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

    void served_data() {
        QTest::addColumn<bool>("instant");
        QTest::newRow("instant") << true;
        QTest::newRow("real pace") << false;
    }

    // Through the pseudo-terminal: Write Memory puts the program in SRAM, Go starts it, it echoes,
    // 'R' makes it reset the chip, and the bootloader answers 0x7F again.
    void served() {
        QFETCH(bool, instant);
        SimulatorOptions o;
        o.instant = instant;
        QStringList events;
        Simulator sim(o);
        sim.setEventHandler([&events](const std::string& e) { events << e.c_str(); });
        std::string error;
        QVERIFY2(sim.start(&error), error.c_str());
        const int fd = ::open(sim.portPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        QByteArray image(8, 0);
        put32(reinterpret_cast<uint8_t*>(image.data()), 0x20005000);
        put32(reinterpret_cast<uint8_t*>(image.data()) + 4, (kLoad + 8) | 1);
        image.append(reinterpret_cast<const char*>(programs::echoreset.data()),
                     qsizetype(programs::echoreset.size()));
        while (image.size() % 4) image.append(char(0));
        char sum = char(image.size() - 1);
        for (char c : image) sum ^= c;
        QCOMPARE(exchange(fd, hex("7f"), 1).toHex(), QByteArray("79"));
        QCOMPARE(exchange(fd, hex("31ce") + address(kLoad), 2).toHex(), QByteArray("7979"));
        QCOMPARE(exchange(fd, char(image.size() - 1) + image + sum, 1).toHex(), QByteArray("79"));
        QCOMPARE(exchange(fd, hex("21de") + address(kLoad), 2).toHex(), QByteArray("7979"));
        QCOMPARE(sim.state(), Board::State::RamCode);
        QCOMPARE(exchange(fd, "hello, loader", 13), QByteArray("hello, loader"));
        QCOMPARE(exchange(fd, "R", 0), QByteArray());
        QTRY_COMPARE(sim.state(), Board::State::WaitSync);
        QCOMPARE(exchange(fd, hex("7f"), 1).toHex(), QByteArray("79"));
        ::close(fd);
        sim.stop();
        QVERIFY2(events.contains("loader runs from 0x20000200") &&
                     events.contains("system reset request"),
                 qPrintable(events.join(", ")));
    }

    void loader_data() {
        QTest::addColumn<QString>("job");
        QTest::addColumn<int>("setup");
        for (const char* job : {"hello", "write and read", "erase", "crc", "not erased",
                                "protected", "baud", "reset"})
            QTest::newRow(job) << QString(job) << int(Plain);
        QTest::newRow("watchdog") << QString("watchdog") << int(HwWatchdog);
    }

    // The loader this tree builds (loader/bin), run on the emulated chip: its answers and what it
    // leaves in flash.
    void loader() {
        QFETCH(QString, job);
        QFETCH(int, setup);
        QFile file(PRAXON_LOADER_F1);
        if (!file.open(QIODevice::ReadOnly)) QSKIP("no loader binary in this tree");
        BoardConfig config;
        config.runRamCode = true;
        config.hardwareWatchdog = setup & HwWatchdog;
        LoaderRig rig(config);
        const QByteArray data = pattern(1024);
        rig.board.loadFlash(0x800, reinterpret_cast<const uint8_t*>(data.data()), 1024);
        if (job == "protected") {
            int64_t t = 0;
            feed(rig.board, hex("7f639c000000"), &t);  // sector 0: pages 0-3; then a reset
        }
        QVERIFY(rig.start(file.readAll()));
        auto flashAt = [&](uint32_t offset, int size) {
            return QByteArray(reinterpret_cast<const char*>(rig.board.flash().data()) + offset,
                              size);
        };
        const QByteArray ok(1, 0);
        if (job == "watchdog") rig.cpu->runUntil(rig.now += 30'000 * kMs);  // 30 s without a word
        const QByteArray hello = rig.call(0x01, {}, 20 * kMs);
        QCOMPARE(hello.size(), 44);
        QCOMPARE(hello.left(3).toHex(), QByteArray("000101"));  // done, version 1, F1
        QCOMPARE(leAt(hello, 28), 64u);                         // the flash-size register
        QCOMPARE(leAt(hello, 36), 64'000'000u);
        if (job == "write and read") {
            QCOMPARE(rig.call(0x04, le(0x08000400) + "loader!!", 20 * kMs).toHex(), ok.toHex());
            QCOMPARE(rig.call(0x08, le(0x08000400) + le(8, 2), 20 * kMs), ok + "loader!!");
            QCOMPARE(flashAt(0x400, 8), QByteArray("loader!!"));
        } else if (job == "erase") {
            int64_t took = 0;
            QCOMPARE(rig.call(0x02, le(0x08000800) + le(1, 2), 100 * kMs, &took).toHex(),
                     (ok + le(1, 2)).toHex());
            QCOMPARE(flashAt(0x800, 1024), QByteArray(1024, char(0xFF)));
            QCOMPARE(flashAt(0x400, 4), QByteArray(4, char(0xFF)));
            QVERIFY(took >= rig.board.unitEraseNs(2));
        } else if (job == "crc") {
            QCOMPARE(rig.call(0x06, le(0x08000800) + le(1024), 20 * kMs).toHex(),
                     (ok + le(wordsCrc(data))).toHex());
        } else if (job == "not erased" || job == "protected") {
            // Status 5 (not erased: over the pattern) or 6 (write-protected: an erased half-word of
            // sector 0), the address, the flash SR; nothing written.
            const bool wrp = job == "protected";
            const uint32_t at = wrp ? 0x08000400 : 0x08000800;
            const QByteArray before = flashAt(at - 0x08000000, 2);
            const QByteArray reply = rig.call(0x04, le(at) + "xy", 20 * kMs);
            QCOMPARE(reply.left(5).toHex(), (QByteArray(1, wrp ? 6 : 5) + le(at)).toHex());
            QCOMPARE(flashAt(at - 0x08000000, 2), before);
        } else if (job == "baud") {
            QCOMPARE(rig.call(0x09, le(921600), 20 * kMs).left(1).toHex(), ok.toHex());
            rig.baud = 921600;
            QCOMPARE(rig.call(0x01, {}, 20 * kMs).left(3).toHex(), QByteArray("000101"));
            QCOMPARE(rig.call(0x04, le(0x08000400) + "fast", 20 * kMs).toHex(), ok.toHex());
            QCOMPARE(flashAt(0x400, 4), QByteArray("fast"));
        } else if (job == "reset") {
            QCOMPARE(rig.call(0x0A, le(0xFFFFFFFF), 20 * kMs).toHex(), ok.toHex());
            QCOMPARE(statusName(rig.cpu->status()), "reset");
            QCOMPARE(feed(rig.board, hex("7f"), &rig.now).toHex(), QByteArray("79"));
        }
    }
};

QTEST_GUILESS_MAIN(TestCortexM)
#include "tst_cortexm.moc"

// Byte-in/byte-out checks of the simulated bootloader's protocol model.
#include <QtTest>

#include "Board.h"

using namespace praxon::sim;

namespace {

enum Flags {
    NoSync = 1,        // do not synchronise first
    FourId = 2,        // four-identity-byte Get ID
    Rdp = 4,           // start readout-protected
    Relaxed = 8,       // relaxed Write Memory alignment
    Pid412 = 16,       // low-density part, 32 KB
    RamField = 32,     // half-word at 0x1FFFF7E2 = 0x0014
    Flash256 = 64,     // 256 KB: 2 KB pages
    SyncAnytime = 128  // resynchronise after a quiet line
};

BoardConfig configFor(int flags) {
    BoardConfig c;
    c.fourByteGetId = flags & FourId;
    c.readoutProtected = flags & Rdp;
    c.relaxedAlign = flags & Relaxed;
    if (flags & Pid412) c.pid = 0x412;
    if (flags & RamField) c.ramField = 0x0014;
    if (flags & Flash256) c.flashKb = 256;
    c.syncAnytime = flags & SyncAnytime;
    return c;
}

// Feeds the bytes 1 ms apart and returns everything the board put on the line.
QByteArray feed(Board& b, const QByteArray& in, int64_t* clockNs, Board::Output* all = nullptr) {
    QByteArray out;
    for (char c : in) {
        *clockNs += 1'000'000;
        for (const auto& e : b.feed(static_cast<uint8_t>(c), *clockNs)) {
            out.append(reinterpret_cast<const char*>(e.bytes.data()),
                       static_cast<qsizetype>(e.bytes.size()));
            if (all) all->push_back(e);
        }
    }
    return out;
}

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// Frame helpers: an address with its XOR checksum, a data block with N-1 and checksum.
QByteArray addr(uint32_t a) {
    QByteArray f;
    for (int s = 24; s >= 0; s -= 8) f.append(static_cast<char>(a >> s));
    f.append(static_cast<char>(f[0] ^ f[1] ^ f[2] ^ f[3]));
    return f;
}
QByteArray data(const QByteArray& bytes) {
    QByteArray f;
    char sum = static_cast<char>(bytes.size() - 1);
    f.append(sum);
    for (char c : bytes) sum ^= c;
    f.append(bytes);
    f.append(sum);
    return f;
}
QByteArray readFrame(uint32_t a, int n) {
    return hex("11ee") + addr(a) + QByteArray(1, static_cast<char>(n - 1)) +
           QByteArray(1, static_cast<char>((n - 1) ^ 0xFF));
}
QByteArray writeFrame(uint32_t a, const QByteArray& bytes) {
    return hex("31ce") + addr(a) + data(bytes);
}

}  // namespace

class TestSimBoard : public QObject {
    Q_OBJECT

  private slots:
    void exchange_data();
    void exchange();
    void flashPhysics();
    void readoutProtectCycle();
    void readoutUnprotectErases();
    void goRunsUntilSync();
    void writeProtection();
    void pageErase2k();
    void syncAnytime();
    void faults_data();
    void faults();
    void hangupSilencesBoard();
    void nackFaultHasNoSideEffect();
    void timing();
    void counters();
    void parseFault_data();
    void parseFault();
};

void TestSimBoard::exchange_data() {
    QTest::addColumn<int>("flags");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("sync") << int(NoSync) << hex("7f") << hex("79");
    QTest::newRow("before sync only 0x7F counts") << int(NoSync) << hex("00ff7f") << hex("79");
    QTest::newRow("get") << 0 << hex("00ff") << hex("790b22000102112131436373829279");
    QTest::newRow("get version") << 0 << hex("01fe") << hex("7922000079");
    QTest::newRow("get id") << 0 << hex("02fd") << hex("7901041079");
    QTest::newRow("get id 0x412") << int(Pid412) << hex("02fd") << hex("7901041279");
    QTest::newRow("get id four bytes") << int(FourId) << hex("02fd")
                                       << hex("790304100000"
                                              "79");
    QTest::newRow("0x7F after sync is a command") << 0 << hex("7f00") << hex("1f");
    QTest::newRow("0x7F 0x80 is an unknown command") << 0 << hex("7f80") << hex("1f");
    QTest::newRow("bad complement, then back to commands") << 0 << hex("000001fe")
                                                           << hex("1f"
                                                                  "7922000079");
    QTest::newRow("unknown command") << 0 << hex("44bb") << hex("1f");
    QTest::newRow("read erased flash")
        << 0 << hex("11ee 0800000008 03fc") << hex("79 79 79ffffffff");
    QTest::newRow("read bad address checksum") << 0 << hex("11ee 0800000009") << hex("79 1f");
    QTest::newRow("nack returns to commands")
        << 0 << hex("11ee 0800000009 01fe") << hex("79 1f 7922000079");
    QTest::newRow("read unmapped") << 0 << hex("11ee") + addr(0x30000000) << hex("79 1f");
    QTest::newRow("read past 64 KB") << 0 << hex("11ee") + addr(0x08010000) << hex("79 1f");
    QTest::newRow("read crossing flash end") << 0 << readFrame(0x0800FFFC, 8) << hex("79 79 1f");
    QTest::newRow("read count bad complement")
        << 0 << hex("11ee 0800000008 03fb") << hex("79 79 1f");
    QTest::newRow("size word") << 0 << readFrame(0x1FFFF7E0, 4) << hex("79 79 79 4000ffff");
    QTest::newRow("size word low density ram field")
        << int(Pid412 | RamField) << readFrame(0x1FFFF7E0, 4) << hex("79 79 79 20001400");
    QTest::newRow("option bytes") << 0 << readFrame(0x1FFFF800, 4) << hex("79 79 79 a55aff00");
    QTest::newRow("unique id starts 0x1FFFF7E8")
        << 0 << readFrame(0x1FFFF7E8, 2) << hex("79 79 79 5072");
    QTest::newRow("read sram") << 0 << readFrame(0x20000000, 2) << hex("79 79 79 0000");
    QTest::newRow("read past sram (20 KB)") << 0 << hex("11ee") + addr(0x20005000) << hex("79 1f");
    QTest::newRow("write flash then read")
        << 0 << writeFrame(0x08000000, hex("01020304")) + readFrame(0x08000000, 6)
        << hex("79 79 79 79 79 79 01020304ffff");
    QTest::newRow("write misaligned address") << 0 << hex("31ce 0800000109") << hex("79 1f");
    QTest::newRow("write misaligned relaxed")
        << int(Relaxed) << writeFrame(0x08000001, hex("aa")) + readFrame(0x08000000, 3)
        << hex("79 79 79 79 79 79 ffaaff");
    QTest::newRow("write length not multiple of 4")
        << 0 << writeFrame(0x08000000, hex("010203")) << hex("79 79 1f");
    QTest::newRow("write bad checksum")
        << 0 << hex("31ce 0800000008 03 01020304 00") << hex("79 79 1f");
    QTest::newRow("write bootloader sram") << 0 << hex("31ce") + addr(0x200001FC) << hex("79 1f");
    QTest::newRow("write sram above 0x200")
        << 0 << writeFrame(0x20000200, hex("11223344")) + readFrame(0x20000200, 4)
        << hex("79 79 79 79 79 79 11223344");
    QTest::newRow("write system memory") << 0 << hex("31ce") + addr(0x1FFFF000) << hex("79 1f");
    QTest::newRow("write past flash end")
        << 0 << writeFrame(0x0800FFFC, hex("0102030405060708")) << hex("79 79 1f");
    QTest::newRow("go to system memory") << 0 << hex("21de") + addr(0x1FFFF000) << hex("79 1f");
    QTest::newRow("go unmapped") << 0 << hex("21de") + addr(0x00000000) << hex("79 1f");
    QTest::newRow("global erase") << 0 << hex("43bc ff00") << hex("79 79");
    QTest::newRow("global erase bad checksum") << 0 << hex("43bc ff01") << hex("79 1f");
    QTest::newRow("erase two pages") << 0 << hex("43bc 01 0001 00") << hex("79 79");
    QTest::newRow("erase page list bad checksum") << 0 << hex("43bc 01 0001 01") << hex("79 1f");
    QTest::newRow("erase page past 64 KB") << 0 << hex("43bc 00 40 40") << hex("79 1f");
    QTest::newRow("rdp: get served")
        << int(Rdp) << hex("00ff") << hex("790b22000102112131436373829279");
    QTest::newRow("rdp: get id served") << int(Rdp) << hex("02fd") << hex("7901041079");
    QTest::newRow("rdp: read refused") << int(Rdp) << hex("11ee") << hex("1f");
    QTest::newRow("rdp: write refused") << int(Rdp) << hex("31ce") << hex("1f");
    QTest::newRow("rdp: erase refused") << int(Rdp) << hex("43bc") << hex("1f");
    QTest::newRow("rdp: go refused") << int(Rdp) << hex("21de") << hex("1f");
    QTest::newRow("rdp: protect again refused") << int(Rdp) << hex("827d") << hex("1f");
    QTest::newRow("rdp: unprotect ack ack then silent")
        << int(Rdp) << hex("926d 00ff") << hex("79 79");
}

void TestSimBoard::exchange() {
    QFETCH(int, flags);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    Board b(configFor(flags));
    int64_t t = 0;
    if (!(flags & NoSync)) QCOMPARE(feed(b, hex("7f"), &t), hex("79"));
    QCOMPARE(feed(b, input, &t).toHex(' '), expected.toHex(' '));
}

void TestSimBoard::flashPhysics() {
    Board b;
    int64_t t = 0;
    feed(b, hex("7f"), &t);
    QCOMPARE(feed(b, writeFrame(0x08000010, hex("1122ffff")), &t), hex("797979"));
    // Programmed half-word: refused, keeps its value; the erased one beside it is not reached.
    QCOMPARE(feed(b, writeFrame(0x08000010, hex("3344ffff")), &t), hex("79791f"));
    // Same value again is refused too: the half-word is not erased.
    QCOMPARE(feed(b, writeFrame(0x08000010, hex("1122ffff")), &t), hex("79791f"));
    // Still-erased half-word at +2 can be programmed, and 0x0000 over a programmed one is allowed.
    QCOMPARE(feed(b, writeFrame(0x08000010, hex("00005566")), &t), hex("797979"));
    QCOMPARE(feed(b, readFrame(0x08000010, 4), &t), hex("797979 00005566"));
    // A page erase restores 0xFF and programming works again.
    QCOMPARE(feed(b, hex("43bc 00 00 00"), &t), hex("7979"));
    QCOMPARE(b.flash()[0x10], uint8_t(0xFF));
    QCOMPARE(feed(b, writeFrame(0x08000010, hex("aabbccdd")), &t), hex("797979"));
    QCOMPARE(b.flash()[0x13], uint8_t(0xDD));
}

void TestSimBoard::readoutProtectCycle() {
    Board b;
    int64_t t = 0;
    feed(b, hex("7f"), &t);
    feed(b, writeFrame(0x08000000, hex("12345678")), &t);
    QCOMPARE(feed(b, hex("827d"), &t), hex("7979"));
    QVERIFY(b.readoutProtected());
    QCOMPARE(b.state(), Board::State::WaitSync);
    QCOMPARE(feed(b, hex("00ff"), &t), QByteArray());  // reset: nothing until synchronised
    QCOMPARE(feed(b, hex("7f"), &t), hex("79"));
    QCOMPARE(feed(b, hex("11ee"), &t), hex("1f"));
    QCOMPARE(b.flash()[0], uint8_t(0x12));  // protection alone keeps the flash
    QCOMPARE(feed(b, hex("31ce"), &t), hex("1f"));
}

void TestSimBoard::readoutUnprotectErases() {
    Board b;
    int64_t t = 0;
    feed(b, hex("7f"), &t);
    feed(b, writeFrame(0x08000400, hex("12345678")), &t);
    Board::Output out;
    QCOMPARE(feed(b, hex("926d"), &t, &out), hex("7979"));
    QCOMPARE(out.size(), size_t(2));
    QVERIFY(out[1].delayNs >= 20'000'000);  // the mass erase happens between the two ACKs
    QVERIFY(!b.readoutProtected());
    QCOMPARE(b.flash()[0x400], uint8_t(0xFF));
    QCOMPARE(b.counters().massErases, uint64_t(1));
    QCOMPARE(b.state(), Board::State::WaitSync);
    QCOMPARE(feed(b, hex("7f") + readFrame(0x08000400, 1), &t), hex("79 797979ff"));
}

void TestSimBoard::goRunsUntilSync() {
    Board b;
    int64_t t = 0;
    feed(b, hex("7f"), &t);
    QCOMPARE(feed(b, hex("21de") + addr(0x08000100), &t), hex("7979"));
    QCOMPARE(b.counters().goAddress.value_or(0), 0x08000100u);
    QCOMPARE(b.takeEvents(), std::vector<std::string>{"go 0x08000100"});
    QCOMPARE(b.state(), Board::State::Running);
    QCOMPARE(feed(b, hex("00ff02fd"), &t), QByteArray());
    QCOMPARE(feed(b, hex("7f 02fd"), &t), hex("79 7901041079"));
    // Go into SRAM is allowed as well.
    QCOMPARE(feed(b, hex("21de") + addr(0x20000000), &t), hex("7979"));
}

void TestSimBoard::writeProtection() {
    Board b;
    int64_t t = 0;
    feed(b, hex("7f"), &t);
    // Protect sector 1 (pages 4..7 on a 1 KB-page part): ACK, ACK, reset.
    QCOMPARE(feed(b, hex("63 9c 00 01 01"), &t), hex("7979"));
    QCOMPARE(b.state(), Board::State::WaitSync);
    QVERIFY(b.pageWriteProtected(4) && b.pageWriteProtected(7));
    QVERIFY(!b.pageWriteProtected(3) && !b.pageWriteProtected(8));
    feed(b, hex("7f"), &t);
    QCOMPARE(feed(b, writeFrame(0x08001000, hex("01020304")), &t), hex("79791f"));
    QCOMPARE(feed(b, writeFrame(0x08000C00, hex("01020304")), &t), hex("797979"));
    QCOMPARE(feed(b, hex("43bc 00 05 05"), &t), hex("791f"));
    QCOMPARE(feed(b, hex("43bc ff00"), &t), hex("791f"));
    QCOMPARE(feed(b, readFrame(0x1FFFF808, 2), &t), hex("797979 fd02"));
    // Sector past the flash: NACK.
    QCOMPARE(feed(b, hex("63 9c 00 10 10"), &t), hex("791f"));
    QCOMPARE(feed(b, hex("739c"), &t), hex("1f"));  // wrong complement of 0x73
    QCOMPARE(feed(b, hex("738c"), &t), hex("7979"));
    feed(b, hex("7f"), &t);
    QVERIFY(!b.pageWriteProtected(4));
    QCOMPARE(feed(b, writeFrame(0x08001000, hex("01020304")), &t), hex("797979"));
}

void TestSimBoard::pageErase2k() {
    Board b(configFor(Flash256));
    int64_t t = 0;
    feed(b, hex("7f"), &t);
    QCOMPARE(b.pageSize(), 2048u);
    feed(b,
         writeFrame(0x08000000, QByteArray(4, 0)) + writeFrame(0x08000800, QByteArray(4, 0)) +
             writeFrame(0x08001000, QByteArray(4, 0)),
         &t);
    QCOMPARE(feed(b, hex("43bc 00 01 01"), &t), hex("7979"));
    QCOMPARE(b.flash()[0x0], uint8_t(0x00));
    QCOMPARE(b.flash()[0x800], uint8_t(0xFF));
    QCOMPARE(b.flash()[0x1000], uint8_t(0x00));
    QCOMPARE(feed(b, hex("43bc 00 80 80"), &t), hex("791f"));  // 128 pages: 0..127
    QCOMPARE(feed(b, readFrame(0x1FFFF7E0, 2), &t), hex("797979 0001"));
}

void TestSimBoard::syncAnytime() {
    for (bool on : {false, true}) {
        Board b(configFor(on ? SyncAnytime : 0));
        int64_t t = 0;
        feed(b, hex("7f"), &t);
        // Quick 0x7F: an ordinary command byte either way.
        QCOMPARE(feed(b, hex("7f00"), &t), hex("1f"));
        t += 150'000'000;
        QCOMPARE(feed(b, hex("7f"), &t), on ? hex("79") : QByteArray());
        QCOMPARE(feed(b, hex("01fe"), &t), on ? hex("7922000079") : hex("1f"));
    }
}

void TestSimBoard::faults_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("nack get id") << "nack:0x02:1" << hex("02fd 02fd") << hex("1f 7901041079");
    QTest::newRow("nack second get id")
        << "nack:0x02:2" << hex("02fd 02fd") << hex("7901041079 1f");
    QTest::newRow("nack every get id") << "nack:0x02:0" << hex("02fd 02fd") << hex("1f 1f");
    QTest::newRow("nack read address")
        << "nack:0x11:1:2" << hex("11ee") + addr(0x08000000) + hex("01fe")
        << hex("79 1f 7922000079");
    QTest::newRow("nack sync") << "nack:0x7f:1" << QByteArray() << QByteArray();
    QTest::newRow("silent get version") << "silent:0x01:1" << hex("01fe 01fe") << hex("7922000079");
    QTest::newRow("short get id") << "short:0x02:1" << hex("02fd") << hex("79010410");
    QTest::newRow("change get id") << "change:0x02:1" << hex("02fd") << hex("79010410 86");
    QTest::newRow("change read data")
        << "change:0x11:1:3" << readFrame(0x08000000, 2) << hex("79 79 79ff00");
    QTest::newRow("short write data ack")
        << "short:0x31:1:3" << writeFrame(0x08000000, hex("01020304")) << hex("7979");
}

void TestSimBoard::faults() {
    QFETCH(QString, fault);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    Fault f;
    std::string error;
    QVERIFY2(praxon::sim::parseFault(fault.toStdString(), &f, &error), error.c_str());
    BoardConfig c;
    c.faults = {f};
    Board b(c);
    int64_t t = 0;
    const QByteArray sync = feed(b, hex("7f"), &t);
    if (f.command == kSync) {
        QCOMPARE(sync, hex("1f"));
        QCOMPARE(b.state(), Board::State::WaitSync);
        QCOMPARE(feed(b, hex("7f"), &t), hex("79"));
        return;
    }
    QCOMPARE(sync, hex("79"));
    QCOMPARE(feed(b, input, &t).toHex(' '), expected.toHex(' '));
}

void TestSimBoard::hangupSilencesBoard() {
    BoardConfig c;
    c.faults = {Fault{FaultKind::Hangup, 0x31, 1, 2}};
    Board b(c);
    int64_t t = 0;
    Board::Output out;
    QCOMPARE(feed(b, hex("7f 31ce") + addr(0x08000000), &t, &out), hex("79 79"));
    QVERIFY(!out.empty() && out.back().hangup);
    QCOMPARE(b.state(), Board::State::HungUp);
    QCOMPARE(feed(b, hex("7f 02fd"), &t), QByteArray());
}

void TestSimBoard::nackFaultHasNoSideEffect() {
    BoardConfig c;
    c.faults = {Fault{FaultKind::Nack, 0x31, 1, 3}, Fault{FaultKind::Nack, 0x43, 1, 2},
                Fault{FaultKind::Nack, 0x82, 1, 2}};
    Board b(c);
    int64_t t = 0;
    feed(b, hex("7f"), &t);
    QCOMPARE(feed(b, writeFrame(0x08000000, hex("01020304")), &t), hex("79791f"));
    QCOMPARE(b.flash()[0], uint8_t(0xFF));
    QCOMPARE(feed(b, writeFrame(0x08000000, hex("01020304")), &t), hex("797979"));
    QCOMPARE(feed(b, hex("43bc ff00"), &t), hex("791f"));
    QCOMPARE(b.flash()[0], uint8_t(0x01));
    QCOMPARE(feed(b, hex("827d"), &t), hex("791f"));
    QVERIFY(!b.readoutProtected());
    QCOMPARE(b.state(), Board::State::WaitCommand);
}

void TestSimBoard::timing() {
    Board b;
    int64_t t = 0;
    feed(b, hex("7f"), &t);
    Board::Output out;
    feed(b, writeFrame(0x08000000, QByteArray(256, '\x5a')), &t, &out);
    QCOMPARE(out.back().bytes, std::vector<uint8_t>{kAck});
    QCOMPARE(out.back().delayNs, int64_t(128 * 52'500));
    out.clear();
    feed(b, hex("43bc 02 000102 01"), &t, &out);
    QCOMPARE(out.back().delayNs, int64_t(3) * 30'000'000);
    out.clear();
    feed(b, hex("43bc ff00"), &t, &out);
    QVERIFY(out.back().delayNs >= 20'000'000 && out.back().delayNs <= 40'000'000);

    // A late reply is held back past the host's 0.5 s limit.
    BoardConfig c;
    c.faults = {Fault{FaultKind::Late, 0x02, 1, 1}};
    Board late(c);
    out.clear();
    feed(late, hex("7f 02fd"), &t, &out);
    QVERIFY(out.back().faultDelayNs > 500'000'000);
    // A burst overflows a 259-byte receive buffer; garbage holds neither ACK nor NACK.
    c.faults = {Fault{FaultKind::Burst, 0x01, 1, 1}, Fault{FaultKind::Garbage, 0x02, 1, 1}};
    Board odd(c);
    feed(odd, hex("7f"), &t);
    QVERIFY(feed(odd, hex("01fe"), &t).size() > 258);
    const QByteArray g = feed(odd, hex("02fd"), &t);
    QCOMPARE(g.size(), 5);
    QVERIFY(!g.contains('\x79') && !g.contains('\x1f'));
}

void TestSimBoard::counters() {
    Board b;
    int64_t t = 0;
    feed(b,
         hex("7f 02fd") + writeFrame(0x08000000, QByteArray(16, 1)) + readFrame(0x08000000, 16) +
             hex("43bc 01 0203 00") + hex("43bc ff00") + hex("44bb") + hex("21de") +
             addr(0x08000000),
         &t);
    const Counters& c = b.counters();
    QCOMPARE(c.syncs, uint64_t(1));
    QCOMPARE(c.commands, uint64_t(7));  // 0x44 has a correct complement: a command, NACKed
    QCOMPARE(c.perCommand.at(0x43), uint64_t(2));
    QCOMPARE(c.perCommand.at(0x44), uint64_t(1));
    QCOMPARE(c.writeBytes, uint64_t(16));
    QCOMPARE(c.readBytes, uint64_t(16));
    QCOMPARE(c.pageErases, uint64_t(2));
    QCOMPARE(c.massErases, uint64_t(1));
    QCOMPARE(c.programTimeNs, uint64_t(8 * 52'500));
    QCOMPARE(c.eraseTimeNs, uint64_t(3 * 30'000'000));
    QCOMPARE(c.nacks, uint64_t(1));
    // ACKs: sync 1, Get ID 2, write 3, read 3, page erase 2, mass erase 2, Go 2.
    QCOMPARE(c.acks, uint64_t(15));
    QCOMPARE(c.bytesIn, uint64_t(1 + 2 + 25 + 9 + 6 + 4 + 2 + 7));
    QCOMPARE(c.bytesOut, uint64_t(1 + 5 + 3 + 3 + 16 + 2 + 2 + 1 + 2));
    QCOMPARE(c.goAddress.value_or(0), 0x08000000u);
    const std::string json = countersToJson(c);
    QVERIFY(json.find("\"program_time_us\": 420.000") != std::string::npos);
    QVERIFY(json.find("\"go_address\": \"0x08000000\"") != std::string::npos);
    QVERIFY(json.find("\"0x43\": 2") != std::string::npos);
}

void TestSimBoard::parseFault_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<int>("step");
    QTest::newRow("nack") << "nack:0x31:2:3" << true << int(FaultKind::Nack) << 0x31 << 2 << 3;
    QTest::newRow("default step") << "late:0x7f:1" << true << int(FaultKind::Late) << 0x7F << 1
                                  << 1;
    QTest::newRow("every") << "hangup:0x11:0:2" << true << int(FaultKind::Hangup) << 0x11 << 0 << 2;
    QTest::newRow("unknown kind") << "boom:0x31:1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("command too big") << "nack:0x131:1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("step 4") << "nack:0x31:1:4" << false << 0 << 0 << 0 << 0;
    QTest::newRow("step 0") << "nack:0x31:1:0" << false << 0 << 0 << 0 << 0;
    QTest::newRow("missing K") << "nack:0x31" << false << 0 << 0 << 0 << 0;
    QTest::newRow("trailing junk") << "nack:0x31:1x" << false << 0 << 0 << 0 << 0;
    QTest::newRow("negative") << "nack:0x31:-1" << false << 0 << 0 << 0 << 0;
}

void TestSimBoard::parseFault() {
    QFETCH(QString, text);
    QFETCH(bool, ok);
    Fault f;
    std::string error;
    QCOMPARE(praxon::sim::parseFault(text.toStdString(), &f, &error), ok);
    if (!ok) {
        QVERIFY(!error.empty());
        return;
    }
    QTEST(int(f.kind), "kind");
    QTEST(int(f.command), "command");
    QTEST(int(f.occurrence), "occurrence");
    QTEST(int(f.step), "step");
}

QTEST_GUILESS_MAIN(TestSimBoard)
#include "tst_simboard.moc"

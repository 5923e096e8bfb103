// Byte-in/byte-out checks of the simulated bootloader's protocol model.
#include <QtTest>

#include "Board.h"

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
    void lines_data();
    void lines();
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

QTEST_GUILESS_MAIN(TestSimBoard)
#include "tst_simboard.moc"

// Byte-in/byte-out checks of the simulated bootloader's protocol model.
#include <QtTest>

#include "Board.h"

using namespace praxon::sim;

namespace {

enum Flags { NoSync = 1, FourId = 2, Relaxed = 4, Flash256 = 8 };

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

// Feeds the bytes 1 ms apart and returns everything the board put on the line.
QByteArray feed(Board& b, const QByteArray& in, int64_t* clockNs, Board::Output* all = nullptr) {
    QByteArray out;
    for (char c : in) {
        for (const auto& e : b.feed(uint8_t(c), *clockNs += 1'000'000)) {
            out.append(reinterpret_cast<const char*>(e.bytes.data()), qsizetype(e.bytes.size()));
            if (all) all->push_back(e);
        }
    }
    return out;
}

}  // namespace

class TestSimBoard : public QObject {
    Q_OBJECT

private slots:
    void exchange_data();
    void exchange();
    void chipTime();
    void wiring_data();
    void wiring();
    void autobaud_data();
    void autobaud();
};

void TestSimBoard::exchange_data() {
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("fault");  // KIND:CMD:K[:STEP] or ""
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");  // burst and garbage: checked by size and content
    const QByteArray w0 = hex("00000000"), get = hex("790b22000102112131436373829279");
    auto row = [](const char* name, int flags, const QByteArray& in, const QByteArray& out,
                  const char* fault = "") { QTest::newRow(name) << flags << fault << in << out; };
    row("before sync only 0x7F counts", NoSync, hex("00ff7f"), hex("79"));
    row("get id four bytes", FourId, hex("02fd"), hex("790304100000 79"));
    row("bad complement; 0x7F after sync is a command", 0, hex("0000 7f80 01fe"),
        hex("1f 1f 7922000079"));
    row("read: bad address checksum, bad count", 0, hex("11ee 0800000009 11ee 0800000008 03fb"),
        hex("791f 79 79 1f"));
    // Each refusal leaves the board waiting for the next command.
    row("memory map limits", 0,
        rd(0x0800FFFC, 8) + hex("11ee") + addr(0x20005000) + wr(0x0800FFFC, w0 + w0) + hex("31ce") +
            addr(0x200001FC) + hex("31ce") + addr(0x1FFFF000) + hex("21de") + addr(0x1FFFF000),
        hex("79791f 791f 79791f 791f 791f 791f"));
    row("size word, option bytes", 0, rd(0x1FFFF7E0, 4) + rd(0x1FFFF800, 4),
        hex("797979 4000ffff 797979 a55aff00"));
    row("half-words: programmed refused, 0000 allowed, erase restores", 0,
        wr(0x08000010, hex("1122ffff")) + wr(0x08000010, hex("1122ffff")) +
            wr(0x08000010, hex("00005566")) + rd(0x08000010, 4) + hex("43bc 00 00 00") +
            wr(0x08000010, hex("aabbccdd")) + rd(0x08000010, 4),
        hex("797979 79791f 797979 797979 00005566 7979 797979 797979 aabbccdd"));
    row("write: misaligned, 3 bytes, bad checksum", 0,
        hex("31ce 0800000109") + wr(0x08000000, hex("010203")) +
            hex("31ce 0800000008 03 01020304 00"),
        hex("791f 79791f 79791f"));
    row("write misaligned relaxed", Relaxed, wr(0x08000001, hex("aa")) + rd(0x08000000, 3),
        hex("79 79 79 79 79 79 ffaaff"));
    row("go, silent until 0x7F", 0, hex("21de") + addr(0x08000100) + hex("00ff 7f 02fd"),
        hex("7979 79 7901041079"));
    row("erase: global bad checksum, page list bad checksum, page past 64 KB", 0,
        hex("43bc ff01 43bc 01 0001 01 43bc 00 40 40"), hex("791f 791f 791f"));
    row("2 KB pages: erase page 1 only, 128 pages", Flash256,
        wr(0x080007FC, w0) + wr(0x08000800, w0) + wr(0x08001000, w0) + hex("43bc 00 01 01") +
            rd(0x080007FC, 8) + rd(0x08000FFC, 8) + hex("43bc 00 80 80") + rd(0x1FFFF7E0, 2),
        hex("797979 797979 797979 7979 797979 00000000ffffffff 797979 ffffffff00000000 791f "
            "797979 0001"));
    row("write protect sector 1, then unprotect", 0,
        hex("639c 00 01 01 7f") + wr(0x08001000, w0) + wr(0x08000C00, w0) +
            hex("43bc 00 05 05 43bc ff00") + rd(0x1FFFF808, 2) + hex("639c 00 10 10 739c 738c 7f") +
            wr(0x08001000, w0),
        hex("7979 79 79791f 797979 791f 791f 797979fd02 791f 1f 7979 79 797979"));
    // Protect resets; Get and Get ID stay served, the rest is refused; unprotect erases.
    row("readout protection cycle", 0,
        wr(0x08000400, hex("12345678")) + hex("827d 7f 00ff 02fd 11ee 31ce 43bc 21de 827d") +
            hex("926d 7f") + rd(0x08000400, 4),
        hex("797979 7979 79") + get + hex("7901041079 1f1f1f1f1f 7979 79 797979ffffffff"));
    const QByteArray w = wr(0x08000000, hex("01020304")), r = rd(0x08000000, 4);
    row("nack second", 0, hex("02fd 02fd"), hex("7901041079 1f"), "nack:0x02:2");
    row("nack write data: nothing stored", 0, w + r, hex("79791f 797979ffffffff"), "nack:0x31:1:3");
    row("nack mass erase keeps flash", 0, w + hex("43bc ff00") + r,
        hex("797979 791f 79797901020304"), "nack:0x43:1:2");
    row("nack protect", 0, hex("827d 01fe"), hex("791f 7922000079"), "nack:0x82:1:2");
    row("nack sync, next one answered", NoSync, hex("7f 7f"), hex("1f 79"), "nack:0x7f:1");
    row("silent", 0, hex("01fe 01fe"), hex("7922000079"), "silent:0x01:1");
    row("short", 0, hex("02fd"), hex("79010410"), "short:0x02:1");
    row("change", 0, rd(0x08000000, 2), hex("79 79 79ff00"), "change:0x11:1:3");
    row("late", 0, hex("02fd"), hex("7901041079"), "late:0x02:1");
    row("burst", 0, hex("01fe"), {}, "burst:0x01:1");
    row("garbage", 0, hex("02fd"), {}, "garbage:0x02:1");
    row("hangup", 0, hex("31ce") + addr(0x08000000) + hex("7f02fd"), hex("79"), "hangup:0x31:1:2");
}

void TestSimBoard::exchange() {
    QFETCH(int, flags);
    QFETCH(QString, fault);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    BoardConfig c;
    c.fourByteGetId = flags & FourId;
    c.relaxedAlign = flags & Relaxed;
    c.flashKb = flags & Flash256 ? 256 : 0;
    Fault f;
    std::string error;
    if (!fault.isEmpty()) {
        QVERIFY2(parseFault(fault.toStdString(), &f, &error), error.c_str());
        c.faults = {f};
    }
    Board b(c);
    int64_t t = 0;
    if (!(flags & NoSync)) QCOMPARE(feed(b, hex("7f"), &t), hex("79"));
    Board::Output out;
    const QByteArray got = feed(b, input, &t, &out);
    if (!expected.isEmpty()) QCOMPARE(got.toHex(' '), expected.toHex(' '));
    if (fault.startsWith("burst")) QVERIFY(got.size() > 258);
    if (fault.startsWith("garbage"))
        QVERIFY(got.size() == 5 && !got.contains('\x79') && !got.contains('\x1f'));
    if (fault.startsWith("late")) QVERIFY(out.back().faultDelayNs > 500'000'000);
    if (fault.startsWith("hangup")) QVERIFY(b.state() == Board::State::HungUp && out.back().hangup);
    for (const char* bad : {"boom:0x31:1", "nack:0x131:1", "nack:0x31:1:4", "nack:0x31:1:0",
                            "nack:0x31", "nack:0x31:1x"})
        QVERIFY2(!parseFault(bad, &f, &error) && !error.empty(), bad);
}

// Modelled chip time: programming per half-word, erasing per page and for the whole flash.
void TestSimBoard::chipTime() {
    Board b;
    int64_t t = 0;
    auto lastDelay = [&](const QByteArray& in) {
        Board::Output out;
        feed(b, in, &t, &out);
        return out.back().delayNs;
    };
    QCOMPARE(lastDelay(hex("7f 02fd") + wr(0x08000000, QByteArray(256, 1))), 128 * 52'500);
    QCOMPARE(lastDelay(hex("43bc 02 000102 01")), 3 * 30'000'000);
    QCOMPARE(lastDelay(hex("43bc ff00")), 30'000'000);
}

// Wiring "RESET BOOT0", each dtr, rts or - (unwired), ! for inverted. Steps: the two lines as
// D/d (DTR asserted/released) and R/r, "btn" the reset button, "sync" a 0x7F that must be
// answered, "go" Go to 0x08000000. Then: the events, the state, and whether 0x7F is answered.
void TestSimBoard::wiring_data() {
    QTest::addColumn<QString>("wiring");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("events");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("answers");
    const int sync = int(Board::State::WaitSync), held = int(Board::State::Held),
              user = int(Board::State::Running);
    auto row = [](const char* name, const char* wiring, const char* steps, const char* events,
                  int state, bool answers) {
        QTest::newRow(name) << wiring << steps << events << state << answers;
    };
    row("unwired: lines change nothing", "- -", "DR dr DR", "", sync, true);
    row("direct: powered up in the bootloader", "dtr rts", "", "", sync, true);
    row("direct: the open holds reset", "dtr rts", "DR", "held in reset", held, false);
    row("direct: release with BOOT0 low", "dtr rts", "DR dR",
        "held in reset|reset|running the user program", user, false);
    row("direct: BOOT0 first, then the pulse", "dtr rts", "DR Dr dr", "held in reset|reset", sync,
        true);
    row("direct: both at once, BOOT0 sampled new", "dtr rts", "DR dr", "held in reset|reset", sync,
        true);
    row("direct: BOOT0 alone changes nothing", "dtr rts", "Dr dr dR", "held in reset|reset", sync,
        true);
    row("swapped lines", "rts dtr", "DR dR dr", "held in reset|reset", sync, true);
    row("swapped lines, BOOT0 low", "rts dtr", "DR Dr",
        "held in reset|reset|running the user program", user, false);
    row("inverted: powered up held", "dtr! rts!", "", "", held, false);
    row("inverted: the open starts the bootloader", "dtr! rts!", "DR", "reset", sync, true);
    row("inverted: BOOT0 released", "dtr! rts!", "Dr", "reset|running the user program", user,
        false);
    row("inverted: reset released holds", "dtr! rts!", "DR dR", "reset|held in reset", held, false);
    row("mixed: powered up running", "dtr rts!", "", "", user, false);
    row("mixed: pulse with BOOT0 asserted", "dtr rts!", "DR dR", "held in reset|reset", sync, true);
    row("button while held", "dtr rts", "DR btn", "held in reset", held, false);
    row("BOOT0 only: the button decides", "- rts", "dR btn dr btn",
        "reset|running the user program|reset", sync, true);
    row("wired Go: silent until reset", "dtr rts", "sync go", "go 0x08000000", user, false);
    row("wired Go, then the lines", "dtr rts", "sync go DR dr", "go 0x08000000|held in reset|reset",
        sync, true);
    row("held drops the command", "dtr rts", "sync DR dr", "held in reset|reset", sync, true);
}

void TestSimBoard::wiring() {
    QFETCH(QString, wiring);
    QFETCH(QString, steps);
    QFETCH(QString, events);
    QFETCH(int, state);
    QFETCH(bool, answers);
    auto pin = [](const QString& text, bool* inverted) {
        *inverted = text.endsWith('!');
        return text.startsWith("dtr") ? Line::Dtr : text.startsWith("rts") ? Line::Rts : Line::None;
    };
    BoardConfig c;
    const QStringList pins = wiring.split(' ');
    c.wiring.reset = pin(pins[0], &c.wiring.resetInverted);
    c.wiring.boot0 = pin(pins[1], &c.wiring.boot0Inverted);
    Board b(c);
    int64_t t = 0;
    for (const QString& step : steps.split(' ', Qt::SkipEmptyParts)) {
        if (step == "btn")
            b.reset();
        else if (step == "sync")
            QCOMPARE(feed(b, hex("7f"), &t), hex("79"));
        else if (step == "go")
            QCOMPARE(feed(b, hex("21de") + addr(0x08000000), &t), hex("7979"));
        else
            b.setLines(step[0] == 'D', step[1] == 'R');
    }
    QStringList got;
    for (const auto& e : b.takeEvents()) got << QString::fromStdString(e);
    QCOMPARE(got.join('|'), events);
    QCOMPARE(int(b.state()), state);
    QCOMPARE(feed(b, hex("7f"), &t), answers ? hex("79") : QByteArray());
    if (!answers) QCOMPARE(feed(b, hex("02fd"), &t), QByteArray());  // nor anything after
}

// "BAUD:bytes" fed at that speed, "reset" the button; everything the board answered.
void TestSimBoard::autobaud_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray id = hex("7901041079");
    QTest::newRow("9600") << "9600:7f 9600:02fd" << hex("79") + id;
    QTest::newRow("1200, the slowest") << "1200:7f 1200:02fd" << hex("79") + id;
    QTest::newRow("below 1200 no sync") << "600:7f 1200:7f 1200:02fd" << hex("79") + id;
    QTest::newRow("another speed is lost") << "9600:7f 115200:02fd 9600:02fd" << hex("79") + id;
    QTest::newRow("a reset measures anew")
        << "57600:7f reset 115200:7f 115200:02fd" << hex("79 79") + id;
}

void TestSimBoard::autobaud() {
    QFETCH(QString, script);
    QFETCH(QByteArray, expected);
    Board b;
    int64_t t = 0;
    QByteArray got;
    for (const QString& step : script.split(' ')) {
        if (step == "reset") {
            b.reset();
            continue;
        }
        const int baud = step.section(':', 0, 0).toInt();
        for (char c : QByteArray::fromHex(step.section(':', 1).toLatin1()))
            for (const auto& e : b.feed(uint8_t(c), t += 1'000'000, baud))
                got.append(reinterpret_cast<const char*>(e.bytes.data()),
                           qsizetype(e.bytes.size()));
    }
    QCOMPARE(got.toHex(' '), expected.toHex(' '));
}

QTEST_GUILESS_MAIN(TestSimBoard)
#include "tst_simboard.moc"

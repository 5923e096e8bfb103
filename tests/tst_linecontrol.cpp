// Boot sequences: the text form, the wirings, and the engine driving them around a session.
#include <QTest>

#include "Board.h"
#include "Engine.h"
#include "FakePort.h"
#include "LineControl.h"
#include "RecordingHost.h"

using namespace praxon;
Q_DECLARE_METATYPE(praxon::Wiring)

namespace {
QString text(const LineSequence& steps) {
    return SequenceText({{}, steps, {}}).section(':', 0, 0);
}
}  // namespace

class TestLineControl : public QObject {
    Q_OBJECT
private slots:
    void parse_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("result");  // the sequences again, or "position: message"
        const auto row = [](const char* name, const char* input, const char* result) {
            QTest::newRow(name) << QString(input) << QString(result);
        };
        row("both parts", " DTR=1, wait=20 ,rts=0:brk=1,wait", "dtr=1,wait=20,rts=0:brk=1,wait");
        row("exit only", ":rts=1", ":rts=1");
        row("nothing", "", ":");
        row("unknown step", "dtr=1,rst=0", "7: unknown step");
        row("empty step", "dtr=1,,rts=0", "7: empty step");
        row("in the exit part", "dtr=1:rts=2", "7: unknown step");
        row("pause too long", "wait=10001", "1: a pause is at most 10000 ms");
        row("two colons", "dtr=1:rts=0:x", "12: only one");
    }

    void parse() {
        QFETCH(QString, input);
        QFETCH(QString, result);
        SequenceError error;
        const std::optional<BootLines> lines = ParseSequence(input, &error);
        const QString actual =
            lines ? SequenceText(*lines) : QString("%1: %2").arg(error.position).arg(error.message);
        QVERIFY2(actual.startsWith(result), qPrintable(actual));
    }

    // Asserted pulls a direct pin low; through a transistor the line works the other way round.
    void wirings_data() {
        QTest::addColumn<Wiring>("wiring");
        QTest::addColumn<QStringList>("idleEntryExit");
        QTest::newRow("reset DTR, BOOT0 RTS, direct")
            << Wiring{WiredLine::Dtr, false, WiredLine::Rts, false}
            << QStringList{"dtr=0,rts=1", "rts=0,dtr=1,wait,dtr=0,wait", "rts=1,dtr=1,wait,dtr=0"};
        QTest::newRow("reset RTS inverted, BOOT0 DTR inverted")
            << Wiring{WiredLine::Rts, true, WiredLine::Dtr, true}
            << QStringList{"rts=1,dtr=0", "dtr=1,rts=0,wait,rts=1,wait", "dtr=0,rts=0,wait,rts=1"};
        QTest::newRow("reset only")
            << Wiring{WiredLine::Dtr, false, WiredLine::None, false}
            << QStringList{"dtr=0", "dtr=1,wait,dtr=0,wait", "dtr=1,wait,dtr=0"};
    }

    void wirings() {
        QFETCH(Wiring, wiring);
        QFETCH(QStringList, idleEntryExit);
        const std::optional<BootLines> lines = LinesForWiring(wiring);
        QVERIFY(lines);
        QCOMPARE(QStringList({text(lines->idle), text(lines->entry), text(lines->exit)}),
                 idleEntryExit);
        QString error;
        QVERIFY(!LinesForWiring({WiredLine::Rts, false, WiredLine::Rts, true}, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!LinesForWiring({}));  // none: the lines stay as the port opens them
    }

    // A wired board: idle lines at open, the entry sequence before the first 0x7F, the exit
    // sequence to run the program. Without a wiring, run is Go; a port without modem lines
    // refuses a wiring with a message and sends nothing.
    void sessions_data() {
        QTest::addColumn<bool>("wired");
        QTest::addColumn<bool>("refuseLines");
        QTest::newRow("wired") << true << false;
        QTest::newRow("by hand") << false << false;
        QTest::newRow("no modem lines") << true << true;
    }

    void sessions() {
        QFETCH(bool, wired);
        QFETCH(bool, refuseLines);
        RecordingHost host;
        FakePort port;
        Engine engine(host, port);
        sim::Board board;
        port.refuseLines = refuseLines;
        AnswerFrom(port, board);
        LineOptions options;
        options.baudRate = 57600;
        if (wired) options.boot = LinesForWiring({WiredLine::Dtr, false, WiredLine::Rts, false});
        engine.setLineOptions(options);
        QCOMPARE(engine.connect("ttyS0"), !refuseLines);
        QCOMPARE(port.baudRate, 57600);
        if (refuseLines) {
            QVERIFY(port.written.isEmpty() && host.has(EventCode::PortLinesFailed));
            return;
        }
        QCOMPARE(port.lines.join(','), QString(wired ? "dtr=0,rts=1,rts=0,dtr=1,dtr=0" : ""));
        port.lines.clear();
        QVERIFY(engine.runProgram(0x08000000));
        QCOMPARE(port.lines.join(','), QString(wired ? "rts=1,dtr=1,dtr=0" : ""));
        QCOMPARE(port.written.contains(hex("21DE")), !wired);
        QCOMPARE(board.state() == sim::Board::State::Running, !wired);
        QVERIFY(!host.commands.program);
    }

    // A bootloader synchronised by an earlier session reads 0x7F as a command: the second 0x7F
    // is its wrong complement, answered with NACK, and the connection goes on.
    void reconnectToASynchronisedBootloader() {
        RecordingHost host;
        FakePort port;
        Engine engine(host, port);
        engine.setReplyTimeout(50);
        int syncs = 0;
        port.responder = [&](const QByteArray& f) {
            if (f == hex("7F") && ++syncs == 2) port.deliverLater(hex("1F"), 0);
            if (f == hex("02FD")) port.deliverLater(hex("7901041079"), 0);
        };
        QVERIFY(engine.connect("ttyS0"));
        QVERIFY(host.has(EventCode::AlreadySynchronised));
        QCOMPARE(syncs, 2);
    }
};

QTEST_GUILESS_MAIN(TestLineControl)
#include "tst_linecontrol.moc"

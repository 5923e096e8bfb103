// The link's own rules, on a fake port: the receive buffer, the reply rule of each wait and its
// typed result (a silent wait's limit: tst_integration's late and silent rows), port open
// failures and the pauses of a boot sequence; boot sequences as text and the engine driving a
// wiring around a session (each wiring's sequences: tst_cli; a wired board and a reconnect to a
// synchronised bootloader end to end: tst_cliprocess's wired). The frames on the wire, the
// operations' texts, failure paths (NACKs, silence, Stop, a lost line, Get ID's forms) and the
// offered operations are covered end to end against the simulated board, whose frame parser
// stm32flash checks (tst_integration, tst_simulator).
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include "Board.h"
#include "BootLink.h"
#include "Commands.h"
#include "Engine.h"
#include "FakePort.h"
#include "LineControl.h"
#include "QtSerialPort.h"
#include "RecordingHost.h"

using namespace praxon;

namespace {
struct Rig {
    RecordingHost host;
    FakePort port;
    BootLink link{host, port};
    explicit Rig(bool quiet = true) {
        port.open(QStringLiteral("/dev/ttyS0"), 115200, nullptr);
        link.setStopped(false);
        link.setQuietReplies(quiet);
    }
};
}  // namespace

class TestBootLink : public QObject {
    Q_OBJECT
private slots:

    void receivePath_data() {
        QTest::addColumn<QList<int>>("chunks");  // sizes; the bytes count up across chunks
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("firstByte");
        QTest::newRow("1+100+156 fills 257") << QList<int>{1, 100, 156} << 257 << 0;
        QTest::newRow("a 4th chunk restarts at 0") << QList<int>{1, 100, 156, 1} << 1 << 1;
        QTest::newRow("overflow keeps the newest chunk") << QList<int>{200, 100} << 100 << 200;
        QTest::newRow("258 at once is dropped") << QList<int>{5, 258} << 0 << -1;
    }

    void receivePath() {
        QFETCH(QList<int>, chunks);
        QFETCH(int, count);
        QFETCH(int, firstByte);
        Rig r;
        char next = 0;
        for (int n : chunks) {
            QByteArray chunk;
            for (int i = 0; i < n; ++i) chunk += next++;
            r.port.deliver(chunk);
        }
        QCOMPARE(r.link.receivedCount(), count);
        if (count > 0) QCOMPARE(int(r.link.received()[0]), firstByte);
        if (count == 257) QCOMPARE(int(r.link.received()[256]), 0);
    }

    // Each wait's decision on the reply (chunks in hex, 5 ms apart), in the quiet-line mode and
    // the fast one. After the wait's name: "stop": Stop pressed at 20 ms, the reply at 150 ms;
    // "late": the reply arrives, then the thread is blocked past the time limit (the pending
    // reply must still decide).
    void replyRules_data() {
        QTest::addColumn<bool>("quiet");
        QTest::addColumn<QString>("step");
        QTest::addColumn<QString>("reply");
        // Status, the first and last byte of a NACK, and the bytes received when it was decided.
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("event");  // an event reported on the way, with its byte
        const auto row = [](const char* name, bool quiet, const char* step, const char* reply,
                            const char* result, const QString& event = {}) {
            QTest::newRow(name) << quiet << step << reply << result << event;
        };
        row("cmd: first byte decides", true, "cmd", "0579", "nack 05 79 /2");
        // A reply is complete only once the line has been quiet: the whole burst is in.
        row("cmd waits for the end of the burst", true, "cmd", "79 0104 1079", "ack /5");
        row("cmd reply at the limit", true, "cmd late", "79", "ack");
        row("fast cmd: the first byte, no quiet wait", false, "cmd", "79 05", "ack");
        row("sync: last byte decides", true, "sync", "0079", "ack");
        row("sync ignores Stop", true, "sync stop", "79", "ack");
        row("fast sync passes over a program's output", false, "sync", "00 4142 1F", "nack 1F 1F");
        row("address: first byte decides, no idle wait", true, "addr", "79 05", "ack");
        row("address: refused, the last byte reported", true, "addr", "1F05", "nack 1F 05",
            "address_refused 05");
        row("quiet read: the count's reply with its data", true, "read", "7901020304", "ack");
    }

    void replyRules() {
        QFETCH(bool, quiet);
        QFETCH(QString, step);
        QFETCH(QString, reply);
        QFETCH(QString, result);
        QFETCH(QString, event);
        const QString mode = step.section(' ', 1);
        Rig r(quiet);
        r.link.setReplyTimeout(400'000'000);
        // A long quiet period, so that chunks 5 ms apart stay one burst on a busy machine.
        r.link.setIdlePeriod(60);
        QList<QByteArray> chunks;
        for (const QString& c : reply.split(' ', Qt::SkipEmptyParts))
            chunks << QByteArray::fromHex(c.toLatin1());
        // The frame whose reply is under test: the address is the second of a read, the count the
        // third; the frames before it are acknowledged.
        const int answered = step.startsWith("addr") ? 2 : step.startsWith("read") ? 3 : 1;
        int frames = 0;
        r.port.responder = [&](const QByteArray&) {
            if (++frames < answered) return r.port.deliverLater(hex("79"), 1);
            if (frames > answered) return r.port.deliverLater(hex("7901020304"), 1);
            if (mode == "late")
                return QTimer::singleShot(1, [&] {
                    for (const QByteArray& chunk : chunks) r.port.deliver(chunk);
                    QThread::msleep(450);
                });
            for (int i = 0; i < chunks.size(); ++i)
                r.port.deliverLater(chunks[i], (mode == "stop" ? 150 : 1) + 5 * i);
        };
        if (mode == "stop") QTimer::singleShot(20, [&] { r.link.stop(); });
        QElapsedTimer clock;
        clock.start();
        uint8_t buffer[4] = {};
        Reply got;
        if (step.startsWith("cmd")) got = r.link.command(0x43);
        if (step.startsWith("sync")) got = r.link.sync();
        CommandResult c;
        if (step.startsWith("read") || step.startsWith("addr"))
            c = ReadMemory(r.link, 0x08000000, 4, buffer);
        // The reply under test decided its step; a later step may fail for want of more replies.
        const int failedFrame = std::min(int(c.failed), 3);  // count and bytes: the third frame
        if (answered > 1) got = failedFrame == answered ? c.reply : Reply{ReplyStatus::Ack};
        const qint64 ms = clock.elapsed();
        static const char* names[] = {"ack", "nack", "timeout", "stopped", "lost"};
        const auto hex2 = [](uint8_t b) { return QString::asprintf("%02X", b); };
        QString actual = names[int(got.status)];
        if (got.status == ReplyStatus::Nack) actual += " " + hex2(got.first) + " " + hex2(got.last);
        if (result.contains('/')) actual += " /" + QString::number(r.link.receivedCount());
        QCOMPARE(actual, result);
        QStringList events;
        for (const Event& e : r.host.events)
            if (e.code != EventCode::LinkClosed)  // Stop's
                events << EventName(e.code) + (e.actual ? " " + hex2(*e.actual) : QString());
        QCOMPARE(events, event.isEmpty() ? QStringList() : QStringList{event});
        if (step == "read" && result == "ack")
            QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), 4), hex("01020304"));
        // A decided reply never waits out the limit; a late one never ends early.
        QVERIFY2(mode == "late" ? ms >= 400 : ms < 390, qPrintable(QString::number(ms)));
        QCOMPARE(r.link.stopped(), mode == "stop");
    }

    // Why a port did not open, with the system's own words, as one event: a missing device and
    // one held by another program, told apart by the real port.
    void portOpenFailure() {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const QString pty = QString::fromLatin1(::ptsname(master));
        QtSerialPort holder;
        PortOpenFailure failure;
        QVERIFY2(holder.open(pty, 115200, &failure), qPrintable(failure.text));
        for (const auto& [name, error] :
             {std::pair{QString("/nonexistent/ttyPraxon"), PortError::NotFound},
              std::pair{pty, PortError::InUse}}) {
            RecordingHost host;
            QtSerialPort port;
            BootLink link(host, port);
            QVERIFY(!link.openPort(name));
            QCOMPARE(host.events.size(), 1);
            const Event& e = host.events[0];
            QCOMPARE(int(e.code), int(EventCode::PortOpenFailed));
            QCOMPARE(int(e.portError), int(error));
            QCOMPARE(e.text, name);
            QVERIFY(!e.detail.isEmpty());
            // The system's text reaches the log as well as the message.
            QVERIFY(host.logMessages.join('\n').contains(e.detail));
            QCOMPARE(host.messages.size(), 1);
        }
        holder.close();
        ::close(master);
    }

    // Frames larger than the driver holds (a turbo window of many kilobytes, written while the
    // other end reads slowly or not yet), one large and smaller ones queued behind it: the port
    // stays open and every byte arrives in order.
    void writeBeyondTheDriverBuffer() {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        QtSerialPort port;
        bool lost = false;
        QObject::connect(&port, &SerialPort::lineLost, [&] { lost = true; });
        PortOpenFailure failure;
        QVERIFY2(port.open(QString::fromLatin1(::ptsname(master)), 115200, &failure),
                 qPrintable(failure.text));
        QByteArray sent;
        for (int size : {65536, 3072, 3072, 3072}) {
            QByteArray frame(size, '\0');
            for (char& byte : frame) byte = char(sent.size() * 7 + (&byte - frame.data()) * 13);
            sent += frame;
            QVERIFY(port.write(frame));
        }
        QByteArray received;
        char buffer[4096];
        QDeadlineTimer deadline(30000);
        while (received.size() < sent.size() && !lost && port.isOpen() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) received.append(buffer, int(n));
        }
        QVERIFY(!lost);
        QVERIFY(port.isOpen());
        QCOMPARE(received, sent);
        port.close();
        ::close(master);
    }

    // Stop ends a pause of the boot sequence at once; the steps after it are not run (the whole
    // sequence: sessions).
    void pauseEndsOnStop() {
        Rig r;
        const LineSequence steps{
            {LineStep::Dtr, true, 0}, {LineStep::Pause, false, 3000}, {LineStep::Rts, true, 0}};
        QTimer::singleShot(20, [&] { r.link.stop(); });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!r.link.runLines(steps));
        QCOMPARE(r.port.lines, QStringList{"dtr=1"});
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    }

    void parse_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("result");  // the sequences again, or "position: message"
        const auto row = [](const char* name, const char* input, const char* result) {
            QTest::newRow(name) << QString(input) << QString(result);
        };
        row("both parts", " DTR=1, wait=20 ,rts=0:brk=1,wait", "dtr=1,wait=20,rts=0:brk=1,wait");
        row("nothing", "", ":");
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
};

QTEST_GUILESS_MAIN(TestBootLink)
#include "tst_bootlink.moc"

// The link's own rules, on a fake port: the receive buffer, the reply rule of each wait, the
// frames on the wire, the log and button states. The operations' texts and failure paths are
// covered end to end against the simulated board (tst_integration).
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include "BootLink.h"
#include "FakePort.h"
#include "Go.h"
#include "RecordingHost.h"
#include "WriteMemory.h"

using namespace praxon;

namespace {
struct Rig {
    RecordingHost host;
    FakePort port;
    BootLink link{host, port};
    Rig() {
        port.open(QStringLiteral("/dev/ttyS0"), nullptr);
        link.StopFlag = false;
        link.setTimeOfDaySource([] { return QTime(9, 5, 7); });
    }
};
}  // namespace

class TestBootLink : public QObject {
    Q_OBJECT
private slots:

    void receivePath_data() {
        QTest::addColumn<QList<int>>("chunks");  // sizes; the bytes count up across chunks
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("firstByte");  // RecvBuf[0]
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
        r.link.RecvIdle = true;
        char next = 0;
        for (int n : chunks) {
            QByteArray chunk;
            for (int i = 0; i < n; ++i) chunk += next++;
            r.port.deliver(chunk);
        }
        QCOMPARE(r.link.RecvCount, count);
        QVERIFY(!r.link.RecvIdle);
        // A dropped chunk starts no idle period.
        QCOMPARE(r.link.TimInterVal.isActive(), count > 0);
        if (count > 0) QCOMPARE(int(r.link.RecvBuf[0]), firstByte);
        if (count == 257) QCOMPARE(int(r.link.RecvBuf[256]), 0);
    }

    // The period is lengthened so that whole-millisecond timer rounding cannot hide a timer that
    // runs on from the first chunk.
    void recvIdleOnePeriodAfterLastChunk() {
        Rig r;
        r.link.TimInterVal.setInterval(50);
        QElapsedTimer sinceLast;
        qint64 idleAtMs = -1;
        connect(&r.link.TimInterVal, &QTimer::timeout, [&] { idleAtMs = sinceLast.elapsed(); });
        r.port.deliver(QByteArray(10, 1));
        QThread::msleep(40);  // no events: most of the first chunk's period is over
        r.port.deliver(QByteArray(10, 2));
        sinceLast.start();
        QTRY_VERIFY_WITH_TIMEOUT(r.link.RecvIdle, 2000);
        QVERIFY2(idleAtMs >= 45, qPrintable(QString::number(idleAtMs)));
    }

    // Each wait's decision on the reply (chunks in hex, 5 ms apart). After the wait's name: "stop":
    // Stop pressed at 20 ms, the reply at 150 ms; "late": the reply arrives, then the thread is
    // blocked past the 0.5 s limit (the pending reply must still decide); "refuse": the port
    // refuses the write.
    void replyRules_data() {
        QTest::addColumn<QString>("step");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("count");  // RecvCount when the wait returned
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const char* step, const char* reply, bool result,
                            int count, const QString& message = {}) {
            QTest::newRow(name) << step << reply << result << count << message;
        };
        row("cmd NACK at once", "cmd", "1F", false, 1);
        row("cmd: first byte decides", "cmd", "0579", false, 2);
        row("cmd waits for the end of the burst", "cmd", "79 0104 1079", true, 5);
        row("cmd reply at the limit", "cmd late", "79", true, 1);
        row("cmd write refused", "cmd refuse", "79", false, 0, "请指定可用串行口。");
        row("sync: last byte decides", "sync", "0079", true, 2);
        row("sync ignores Stop", "sync stop", "79", true, 1);
        row("sync reply at the limit", "sync late", "79", true, 1);
        row("address: first byte decides, no idle wait", "addr", "79 05", true, 1);
        row("address: last byte, no leading zero", "addr", "1F05", false, 2,
            "传送地址时应答为非ACK，应答值=5");
        row("address reply at the limit", "addr late", "79", true, 1);
        row("data: first byte decides, no idle wait", "data", "79 05", true, 1);
        row("data: last byte, no leading zero", "data", "1F0A", false, 2,
            "传送数据时应答为非ACK，应答值=A");
        row("data reply at the limit", "data late", "79", true, 1);
    }

    void replyRules() {
        QFETCH(QString, step);
        QFETCH(QString, reply);
        QFETCH(bool, result);
        QFETCH(int, count);
        QFETCH(QString, message);
        const QString mode = step.section(' ', 1);
        Rig r;
        // A long quiet period, so that chunks 5 ms apart stay one burst on a busy machine.
        r.link.TimInterVal.setInterval(60);
        r.port.refuseWrites = mode == "refuse";
        QList<QByteArray> chunks;
        for (const QString& c : reply.split(' ')) chunks << QByteArray::fromHex(c.toLatin1());
        r.port.responder = [&](const QByteArray&) {
            if (mode == "late")
                return QTimer::singleShot(1, [&] {
                    for (const QByteArray& chunk : chunks) r.port.deliver(chunk);
                    QThread::msleep(600);
                });
            for (int i = 0; i < chunks.size(); ++i)
                r.port.deliverLater(chunks[i], (mode == "stop" ? 150 : 1) + 5 * i);
        };
        if (mode == "stop") QTimer::singleShot(20, [&] { r.link.CmdStop_Click(); });
        QElapsedTimer clock;
        clock.start();
        const uint8_t payload[4] = {1, 2, 3, 4};
        const bool ok = step.startsWith("cmd")    ? r.link.SendCmdWaitAck(0x43)
                        : step.startsWith("sync") ? r.link.SyncTarget()
                        : step.startsWith("addr") ? r.link.SendAbsMemoryAdd(0x08000000)
                                                  : SendData2STM32(r.link, payload, 4);
        const qint64 ms = clock.elapsed();
        QCOMPARE(ok, result);
        QCOMPARE(r.link.RecvCount, count);
        QCOMPARE(r.host.messages, message.isEmpty() ? QStringList() : QStringList{message});
        QVERIFY2(mode == "late" ? ms >= 500 : ms < 490, qPrintable(QString::number(ms)));
        QCOMPARE(r.link.StopFlag, mode == "refuse" || mode == "stop");
    }

    // Every frame as bytes on the wire, the target acknowledging each.
    void framesOnTheWire_data() {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QByteArray>("frames");  // frames joined by blanks
        QTest::newRow("sync") << "sync" << QByteArray("7F");
        QTest::newRow("Write Memory")
            << "write" << QByteArray("31CE 0800000008 0700500020310100084F");
        QTest::newRow("Go") << "go" << QByteArray("21DE 2000100434");
        QTest::newRow("read block") << "read" << QByteArray("11EE 1FFFF7E0F7 03FC");
    }

    void framesOnTheWire() {
        QFETCH(QString, op);
        QFETCH(QByteArray, frames);
        Rig r;
        r.port.responder = [&](const QByteArray& f) {
            r.port.deliverLater(hex(f.startsWith('\x03') ? "7900010203" : "79"), 1);
        };
        const uint8_t data[8] = {0x00, 0x50, 0x00, 0x20, 0x31, 0x01, 0x00, 0x08};
        uint8_t buffer[4] = {};
        QVERIFY(op == "sync"    ? r.link.SyncTarget()
                : op == "write" ? WriteMemoryBlock(r.link, 0x08000000, data, 8)
                : op == "go"    ? Go(r.link, 0x20001004)
                                : r.link.ReadMemoryBlock(0x1FFFF7E0, buffer, 4));
        if (op == "read") QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), 4), hex("00010203"));
        QList<QByteArray> expected;
        for (const QByteArray& f : frames.split(' ')) expected << QByteArray::fromHex(f);
        QCOMPARE(r.port.written, expected);
    }

    void logAndButtons() {
        Rig r;
        // Time, blank, message; the window adds CR LF: 8 + 1 + 8085 + 2 = 8096 characters.
        r.link.ShowMsg(QString(8085, QLatin1Char('a')));
        r.link.ShowMsg(QStringLiteral("b"));     // the log held exactly 8096: kept
        r.link.ShowMsg(QStringLiteral("连接"));  // now past the limit: emptied first
        QCOMPARE(r.host.logClears, (QList<bool>{false, false, true}));
        QCOMPARE(r.host.log, QStringLiteral("09:05:07 连接\r\n"));
        r.link.setTimeOfDaySource([] { return QTime(14, 3, 21); });
        r.link.ShowMsg(QString());
        QCOMPARE(r.host.logLines.last(), QStringLiteral("14:03:21 "));
        r.host.events.clear();
        r.link.FlashSizeKB = -1;  // size unknown: Read stays disabled
        r.link.EnableCmds(true);
        r.link.FlashSizeKB = 128;
        r.link.EnableCmds(true);
        r.link.CmdStop_Click();
        QCOMPARE(
            r.host.events.join('|'),
            QStringLiteral("enable:111110|enable:111111|enable:000000|panel6:未连接|lamp:gray"));
    }

    void portName_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("windows");
        QTest::addColumn<QString>("name");
        QTest::newRow("com012, blanks") << " com012 " << true << "COM12";
        QTest::newRow("COM0") << "COM0" << true << "";
        QTest::newRow("device name") << "ttyUSB0" << false << "/dev/ttyUSB0";
        QTest::newRow("pty path") << "/dev/pts/5" << false << "/dev/pts/5";
        QTest::newRow("blanks only") << "   " << false << "";
    }

    void portName() {
        QFETCH(QString, text);
        QFETCH(bool, windows);
        QFETCH(QString, name);
        QCOMPARE(BootLink::portNameFromText(text, windows), name);
    }

    // An unprogrammed size word reads FFFF: the size is unknown and Read stays disabled.
    void flashSizeFFFFIsUnknown() {
        Rig r;
        r.port.responder = [&](const QByteArray& f) {
            const char* reply = f == hex("03FC")   ? "79FFFF1400"
                                : f == hex("02FD") ? "7901041079"
                                                   : "79";
            r.port.deliverLater(hex(reply), 1);
        };
        QVERIFY(r.link.CHECKCMD_Click());
        QCOMPARE(r.host.logMessages.last(), QStringLiteral("取器件存储器容量失败."));
        QVERIFY(r.host.commands.start && !r.host.commands.read);
    }
};

QTEST_GUILESS_MAIN(TestBootLink)
#include "tst_bootlink.moc"

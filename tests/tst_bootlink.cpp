// The link's own rules, on a fake port: the receive buffer, the reply rule of each wait, the
// frames on the wire, the log and button states. The operations' texts and failure paths are
// covered end to end against the simulated board (tst_integration_*).
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "BootLink.h"
#include "FakePort.h"
#include "Go.h"
#include "RecordingHost.h"
#include "WriteMemory.h"

using namespace praxon;

namespace {
QByteArray bytes(int n, int first = 0) {
    QByteArray b;
    for (int i = 0; i < n; ++i) b.append(char((first + i) & 0xFF));
    return b;
}
}  // namespace

class TestBootLink : public QObject {
    Q_OBJECT

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

private slots:
    void receivePath_data();
    void receivePath();
    void recvIdleOnePeriodAfterLastChunk();
    void replyRules_data();
    void replyRules();
    void framesOnTheWire_data();
    void framesOnTheWire();
    void showMsg();
    void buttonStates();
    void portName_data();
    void portName();
    void flashSizeFFFFIsUnknown();
};

void TestBootLink::receivePath_data() {
    QTest::addColumn<QList<int>>("chunks");  // sizes; the bytes count up across chunks
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("firstByte");  // RecvBuf[0]
    QTest::addColumn<bool>("idleTimerRunning");
    QTest::newRow("1+100+156 fills 257") << QList<int>{1, 100, 156} << 257 << 0 << true;
    QTest::newRow("a 4th chunk restarts at 0") << QList<int>{1, 100, 156, 1} << 1 << 1 << true;
    QTest::newRow("overflow keeps the newest chunk") << QList<int>{200, 100} << 100 << 200 << true;
    QTest::newRow("258 at once is dropped") << QList<int>{5, 258} << 0 << 0 << false;
}

void TestBootLink::receivePath() {
    QFETCH(QList<int>, chunks);
    QFETCH(int, count);
    QFETCH(int, firstByte);
    QFETCH(bool, idleTimerRunning);
    Rig r;
    r.link.RecvIdle = true;
    int next = 0;
    for (int n : chunks) {
        r.port.deliver(bytes(n, next));
        next += n;
    }
    QCOMPARE(r.link.RecvCount, count);
    QCOMPARE(r.link.RecvIdle, false);
    QCOMPARE(r.link.TimInterVal.isActive(), idleTimerRunning);
    if (count > 0) QCOMPARE(int(r.link.RecvBuf[0]), firstByte);
    if (count == 257) QCOMPARE(int(r.link.RecvBuf[256]), 0);
}

// The period is lengthened so that whole-millisecond timer rounding cannot hide a timer that
// runs on from the first chunk.
void TestBootLink::recvIdleOnePeriodAfterLastChunk() {
    Rig r;
    r.link.TimInterVal.setInterval(50);
    QElapsedTimer sinceLast;
    qint64 idleAtMs = -1;
    connect(&r.link.TimInterVal, &QTimer::timeout, [&] { idleAtMs = sinceLast.elapsed(); });
    r.port.deliver(bytes(10));
    QThread::msleep(40);  // no events: most of the first chunk's period is over
    r.port.deliver(bytes(10, 10));
    sinceLast.start();
    QTRY_VERIFY_WITH_TIMEOUT(r.link.RecvIdle, 2000);
    QVERIFY2(idleAtMs >= 45, qPrintable(QString::number(idleAtMs)));
    QCOMPARE(r.link.RecvCount, 20);
}

// Each wait's decision on the reply. mode: "" chunks 5 ms apart; "stop": Stop pressed at 20 ms,
// the reply at 150 ms; "late": the reply arrives, then the thread is blocked past the 0.5 s limit
// (the pending reply must still decide); "refuse": the port refuses the write.
void TestBootLink::replyRules_data() {
    QTest::addColumn<QString>("step");  // the wait, and the mode after a blank
    QTest::addColumn<QList<QByteArray>>("reply");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("count");  // RecvCount when the wait returned (-1: not checked)
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("slow");  // ran into the 0.5 s limit
    using B = QList<QByteArray>;
    const auto x = bytesFromHex;
    const QByteArray a = x("79");
    const B ack{a}, nack{x("1F")};
    const QString addr = QStringLiteral("传送地址时应答为非ACK，应答值=");
    const QString data = QStringLiteral("传送数据时应答为非ACK，应答值=");
    QTest::newRow("cmd NACK at once") << "cmd" << nack << false << 1 << "" << false;
    QTest::newRow("cmd: first byte decides") << "cmd" << B{x("0579")} << false << 2 << "" << false;
    QTest::newRow("cmd waits for the end of the burst")
        << "cmd" << B{a, x("0104"), x("1079")} << true << 5 << "" << false;
    QTest::newRow("cmd silence") << "cmd" << B{} << false << 0 << "" << true;
    QTest::newRow("cmd Stop ends the wait") << "cmd stop" << ack << false << -1 << "" << false;
    QTest::newRow("cmd reply at the limit") << "cmd late" << ack << true << 1 << "" << true;
    QTest::newRow("cmd write refused")
        << "cmd refuse" << ack << false << 0 << QStringLiteral("请指定可用串行口。") << false;
    QTest::newRow("Write Memory NACK") << "write" << nack << false << 1 << "" << false;
    QTest::newRow("sync: last byte decides") << "sync" << B{x("0079")} << true << 2 << "" << false;
    QTest::newRow("sync: other last byte keeps waiting")
        << "sync" << B{x("7900")} << false << 2 << "" << true;
    QTest::newRow("sync NACK at once") << "sync" << nack << false << 1 << "" << false;
    QTest::newRow("sync ignores Stop") << "sync stop" << ack << true << 1 << "" << false;
    QTest::newRow("sync reply at the limit") << "sync late" << ack << true << 1 << "" << true;
    QTest::newRow("address: first byte decides, no idle wait")
        << "addr" << B{a, x("05")} << true << 1 << "" << false;
    QTest::newRow("address: last byte, no leading zero")
        << "addr" << B{x("1F05")} << false << 2 << addr + "5" << false;
    QTest::newRow("address reply at the limit") << "addr late" << ack << true << 1 << "" << true;
    QTest::newRow("data: first byte decides, no idle wait")
        << "data" << B{a, x("05")} << true << 1 << "" << false;
    QTest::newRow("data 0A") << "data" << B{x("0A")} << false << 1 << data + "A" << false;
    QTest::newRow("data reply at the limit") << "data late" << ack << true << 1 << "" << true;
}

void TestBootLink::replyRules() {
    QFETCH(QString, step);
    const QString mode = step.section(' ', 1);
    step = step.section(' ', 0, 0);
    QFETCH(QList<QByteArray>, reply);
    QFETCH(bool, result);
    QFETCH(int, count);
    QFETCH(QString, message);
    QFETCH(bool, slow);
    Rig r;
    // A long quiet period, so that chunks 5 ms apart stay one burst on a busy machine.
    r.link.TimInterVal.setInterval(60);
    r.port.refuseWrites = mode == QLatin1String("refuse");
    r.port.responder = [&](const QByteArray&) {
        if (mode == QLatin1String("late")) {
            QTimer::singleShot(1, [&] {
                for (const QByteArray& chunk : reply) r.port.deliver(chunk);
                QThread::msleep(600);
            });
            return;
        }
        const int first = mode == QLatin1String("stop") ? 150 : 1;
        for (int i = 0; i < reply.size(); ++i) r.port.deliverLater(reply[i], first + 5 * i);
    };
    if (mode == QLatin1String("stop")) QTimer::singleShot(20, [&] { r.link.CmdStop_Click(); });
    QElapsedTimer clock;
    clock.start();
    bool ok = false;
    const uint8_t payload[4] = {1, 2, 3, 4};
    if (step == QLatin1String("cmd")) ok = r.link.SendCmdWaitAck(0x43);
    if (step == QLatin1String("write")) ok = SendWriteMemoryCmd(r.link);
    if (step == QLatin1String("sync")) ok = r.link.SyncTarget();
    if (step == QLatin1String("addr")) ok = r.link.SendAbsMemoryAdd(0x08000000);
    if (step == QLatin1String("data")) ok = SendData2STM32(r.link, payload, 4);
    const qint64 ms = clock.elapsed();
    QCOMPARE(ok, result);
    if (count >= 0) QCOMPARE(r.link.RecvCount, count);
    QCOMPARE(r.host.messages, message.isEmpty() ? QStringList() : QStringList{message});
    QVERIFY2(slow ? ms >= 500 : ms < 490, qPrintable(QString::number(ms)));
    // Only a NACK to Write Memory marks the link as lost.
    QCOMPARE(r.host.events.contains(QStringLiteral("panel6:未连接")),
             mode == QLatin1String("stop") || step == QLatin1String("write"));
    if (mode == QLatin1String("refuse")) QVERIFY(r.link.StopFlag);
}

// Every frame as bytes on the wire, the target acknowledging each.
void TestBootLink::framesOnTheWire_data() {
    QTest::addColumn<QString>("op");
    QTest::addColumn<uint>("arg");
    QTest::addColumn<QByteArray>("frames");  // frames joined by blanks
    QTest::newRow("sync") << "sync" << 0u << QByteArray("7F");
    QTest::newRow("global erase code") << "cmd" << 0xFFu << QByteArray("FF00");
    QTest::newRow("address XOR") << "addr" << 0x1FFFF7E0u << QByteArray("1FFFF7E0F7");
    QTest::newRow("Write Memory command") << "write" << 0u << QByteArray("31CE");
    QTest::newRow("data frame") << "data" << 0u << QByteArray("0700500020310100084F");
    QTest::newRow("Go") << "go" << 0x20001004u << QByteArray("21DE 2000100434");
    QTest::newRow("read block") << "read" << 0x08000100u << QByteArray("11EE 0800010009 03FC");
}

void TestBootLink::framesOnTheWire() {
    QFETCH(QString, op);
    QFETCH(uint, arg);
    QFETCH(QByteArray, frames);
    Rig r;
    r.port.responder = [&](const QByteArray& f) {
        r.port.deliverLater(bytesFromHex(f.startsWith('\x03') ? "7900010203" : "79"), 1);
    };
    const uint8_t data[8] = {0x00, 0x50, 0x00, 0x20, 0x31, 0x01, 0x00, 0x08};
    uint8_t buffer[4];
    bool ok = false;
    if (op == QLatin1String("sync")) ok = r.link.SyncTarget();
    if (op == QLatin1String("cmd")) ok = r.link.SendCmdWaitAck(uint8_t(arg));
    if (op == QLatin1String("addr")) ok = r.link.SendAbsMemoryAdd(arg);
    if (op == QLatin1String("write")) ok = SendWriteMemoryCmd(r.link);
    if (op == QLatin1String("data")) ok = SendData2STM32(r.link, data, 8);
    if (op == QLatin1String("go")) ok = Go(r.link, arg);
    if (op == QLatin1String("read")) {
        ok = r.link.ReadMemoryBlock(arg, buffer, 4);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(buffer), 4), bytesFromHex("00010203"));
    }
    QVERIFY(ok);
    QList<QByteArray> expected;
    for (const QByteArray& f : frames.split(' ')) expected << QByteArray::fromHex(f);
    QCOMPARE(r.port.written, expected);
}

void TestBootLink::showMsg() {
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
}

void TestBootLink::buttonStates() {
    Rig r;
    r.link.FlashSizeKB = -1;  // size unknown: Read stays disabled
    r.link.EnableCmds(true);
    r.link.FlashSizeKB = 128;
    r.link.EnableCmds(true);
    r.link.CmdStop_Click();
    QCOMPARE(r.host.events.join('|'),
             QStringLiteral("enable:111110|enable:111111|enable:000000|panel6:未连接|lamp:gray"));
    QVERIFY(r.link.StopFlag);
}

void TestBootLink::portName_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("name");
    QTest::newRow("COM10 whole number") << "COM10" << true << "COM10";
    QTest::newRow("com012, blanks") << " com012 " << true << "COM12";
    QTest::newRow("COM0") << "COM0" << true << "";
    QTest::newRow("windows, not COM") << "ttyUSB0" << true << "";
    QTest::newRow("device name") << "ttyUSB0" << false << "/dev/ttyUSB0";
    QTest::newRow("pty path") << "/dev/pts/5" << false << "/dev/pts/5";
    QTest::newRow("blanks only") << "   " << false << "";
}

void TestBootLink::portName() {
    QFETCH(QString, text);
    QFETCH(bool, windows);
    QFETCH(QString, name);
    QCOMPARE(BootLink::portNameFromText(text, windows), name);
}

// An unprogrammed size word reads FFFF: the size is unknown and Read stays disabled.
void TestBootLink::flashSizeFFFFIsUnknown() {
    Rig r;
    r.port.responder = [&](const QByteArray& f) {
        const bool size = f == bytesFromHex("03FC");
        const bool id = f == bytesFromHex("02FD");
        r.port.deliverLater(bytesFromHex(size ? "79FFFF1400" : id ? "7901041079" : "79"), 1);
    };
    QVERIFY(r.link.CHECKCMD_Click());
    QCOMPARE(r.link.FlashSizeKB, -1);
    QCOMPARE(r.host.logMessages.last(), QStringLiteral("取器件存储器容量失败."));
    QVERIFY(r.host.commands.start && !r.host.commands.read);
}

QTEST_GUILESS_MAIN(TestBootLink)
#include "tst_bootlink.moc"

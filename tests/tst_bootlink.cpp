#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "BootLink.h"
#include "FakePort.h"
#include "FakeTarget.h"
#include "RecordingHost.h"

using namespace praxon;

namespace {
const QByteArray ACK(1, char(0x79));
const QByteArray NACK(1, char(0x1F));

QByteArray bytes(int n, int first = 0) {
    QByteArray b;
    for (int i = 0; i < n; ++i) b.append(char((first + i) & 0xFF));
    return b;
}

// Long enough for any scheduler hiccup, short against the 0.5 s limit.
constexpr qint64 kFastMs = 350;
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
            link.setTimeOfDaySource([] { return QTime(14, 3, 21); });
        }
    };

private slots:
    void receivePath_data();
    void receivePath();
    void recvIdleAfterLastChunk();
    void showMsgFormat();
    void showMsgClearsPastLimit();
    void enableCmds_data();
    void enableCmds();
    void stopButton();
    void portName_data();
    void portName();
    void openCommPort();
    void sendCmdWaitAck_data();
    void sendCmdWaitAck();
    void sendCmdWaitAckStopPressed();
    void syncTarget_data();
    void syncTarget();
    void syncIgnoresStop();
    void addressFrame_data();
    void addressFrame();
    void portFailures_data();
    void portFailures();
    void readMemoryBlock_data();
    void readMemoryBlock();
    void readMemoryStopDuringData();
    void connectSequence_data();
    void connectSequence();
    void connectPortRefused();
    void connectTwiceKeepsPort();
    void reconnectAfterLineLost();
};

// --- receive path -----------------------------------------------------------------------------

void TestBootLink::receivePath_data() {
    QTest::addColumn<QList<int>>("chunks");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("firstByte");  // RecvBuf[0], -1: not checked
    QTest::addColumn<bool>("idleTimerRunning");
    QTest::newRow("1+100+156 fills 257") << QList<int>{1, 100, 156} << 257 << 0 << true;
    QTest::newRow("a 4th chunk restarts") << QList<int>{1, 100, 156, 1} << 1 << 257 % 256 << true;
    QTest::newRow("258 at once is dropped") << QList<int>{258} << 0 << -1 << false;
    QTest::newRow("257 at once is kept") << QList<int>{257} << 257 << 0 << true;
    QTest::newRow("overflow keeps the newest chunk") << QList<int>{200, 100} << 100 << 200 << true;
    QTest::newRow("258 after bytes: all given up") << QList<int>{5, 258} << 0 << -1 << false;
    QTest::newRow("empty event restarts the timer") << QList<int>{3, 0} << 3 << 0 << true;
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
    if (firstByte >= 0) QCOMPARE(int(r.link.RecvBuf[0]), firstByte);
    if (count == 257) QCOMPARE(int(r.link.RecvBuf[256]), 256 % 256);
}

void TestBootLink::recvIdleAfterLastChunk() {
    Rig r;
    QElapsedTimer lastChunk;
    r.port.deliver(bytes(10));
    QTimer::singleShot(1, Qt::PreciseTimer, [&] {
        r.port.deliver(bytes(10, 10));
        lastChunk.start();
    });
    QTRY_VERIFY_WITH_TIMEOUT(r.link.RecvIdle, 1000);
    QVERIFY(lastChunk.isValid());
    QVERIFY2(lastChunk.nsecsElapsed() >= 1'500'000, "idle flagged before a quiet period");
    QCOMPARE(r.link.RecvCount, 20);
    QVERIFY(!r.link.TimInterVal.isActive());
    QCOMPARE(r.link.TimInterVal.timerType(), Qt::PreciseTimer);
    QCOMPARE(r.link.TimInterVal.interval(), 2);
}

// --- log, buttons ------------------------------------------------------------------------------

void TestBootLink::showMsgFormat() {
    Rig r;
    r.link.ShowMsg(QStringLiteral("连接目标板......"));
    r.link.ShowMsg(QString());
    QCOMPARE(r.host.logLines, (QStringList{QStringLiteral("14:03:21 连接目标板......"),
                                           QStringLiteral("14:03:21 ")}));
    r.link.setTimeOfDaySource([] { return QTime(9, 5, 7); });
    r.link.ShowMsg(QStringLiteral("x"));
    QCOMPARE(r.host.logLines.last(), QStringLiteral("09:05:07 x"));
}

void TestBootLink::showMsgClearsPastLimit() {
    Rig r;
    // A line is time (8) + blank + message + CR LF: a message of 8085 characters fills 8096.
    r.link.ShowMsg(QString(8085, QLatin1Char('a')));
    QCOMPARE(r.host.log.size(), 8096);
    r.link.ShowMsg(QStringLiteral("b"));  // exactly 8096: no clearing
    QCOMPARE(r.host.logClears, (QList<bool>{false, false}));
    r.link.ShowMsg(QStringLiteral("c"));  // now past the limit
    QCOMPARE(r.host.logClears.last(), true);
    QCOMPARE(r.host.log, QStringLiteral("14:03:21 c\r\n"));

    Rig s;
    s.link.ShowMsg(QString(8086, QLatin1Char('a')));  // 8097
    s.link.ShowMsg(QStringLiteral("d"));
    QCOMPARE(s.host.log, QStringLiteral("14:03:21 d\r\n"));
}

void TestBootLink::enableCmds_data() {
    QTest::addColumn<bool>("enable");
    QTest::addColumn<int>("flashKB");
    QTest::addColumn<QString>("expected");
    QTest::newRow("on, size unknown") << true << -1 << "enable:111110";
    QTest::newRow("on, size 0") << true << 0 << "enable:111110";
    QTest::newRow("on, 128 KB") << true << 128 << "enable:111111";
    QTest::newRow("off") << false << 128 << "enable:000000";
}

void TestBootLink::enableCmds() {
    QFETCH(bool, enable);
    QFETCH(int, flashKB);
    QFETCH(QString, expected);
    Rig r;
    r.link.FlashSizeKB = flashKB;
    r.host.panels[6] = QStringLiteral("已连接.");
    r.host.lamp = Lamp::Green;
    r.link.EnableCmds(enable);
    QCOMPARE(r.host.events.first(), expected);
    if (enable) {
        QCOMPARE(r.host.events.size(), 1);
        QCOMPARE(r.host.lamp, Lamp::Green);
    } else {
        QCOMPARE(r.host.events.mid(1),
                 (QStringList{QStringLiteral("panel6:未连接"), QStringLiteral("lamp:gray")}));
    }
}

void TestBootLink::stopButton() {
    Rig r;
    r.link.StopFlag = false;
    r.link.CmdStop_Click();
    QVERIFY(r.link.StopFlag);
    QCOMPARE(r.host.events,
             (QStringList{"enable:000000", QStringLiteral("panel6:未连接"), "lamp:gray"}));
}

// --- port -----------------------------------------------------------------------------------

void TestBootLink::portName_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("name");
    QTest::newRow("COM3") << "COM3" << true << "COM3";
    QTest::newRow("COM10 whole number") << "COM10" << true << "COM10";
    QTest::newRow("com12 lower case, blanks") << " com12 " << true << "COM12";
    QTest::newRow("COM without number") << "COM" << true << "";
    QTest::newRow("COM0") << "COM0" << true << "";
    QTest::newRow("windows, not COM") << "ttyUSB0" << true << "";
    QTest::newRow("device name") << "ttyUSB0" << false << "/dev/ttyUSB0";
    QTest::newRow("path") << "/dev/pts/5" << false << "/dev/pts/5";
    QTest::newRow("link path") << "/tmp/praxon-board" << false << "/tmp/praxon-board";
    QTest::newRow("empty") << "" << false << "";
    QTest::newRow("blanks only") << "   " << false << "";
}

void TestBootLink::portName() {
    QFETCH(QString, text);
    QFETCH(bool, windows);
    QFETCH(QString, name);
    QCOMPARE(BootLink::portNameFromText(text, windows), name);
}

void TestBootLink::openCommPort() {
    RecordingHost host;
    FakePort port;
    BootLink link(host, port);
    host.port = QStringLiteral("ttyUSB0");
    QVERIFY(link.OpenCommPort());
    QCOMPARE(link.CurPort, QStringLiteral("/dev/ttyUSB0"));
    // Same port, written as a path: not reopened.
    host.port = QStringLiteral("/dev/ttyUSB0");
    QVERIFY(link.OpenCommPort());
    QCOMPARE(port.openedNames.size(), 1);
    QCOMPARE(port.closes, 0);
    // Another port: the old one is closed first.
    host.port = QStringLiteral("ttyUSB1");
    QVERIFY(link.OpenCommPort());
    QCOMPARE(port.closes, 1);
    QCOMPARE(port.openedNames.last(), QStringLiteral("/dev/ttyUSB1"));
    // A port that cannot be opened: message, CurPort already the new name, port closed.
    port.refuseOpen = true;
    host.port = QStringLiteral("ttyUSB7");
    QVERIFY(!link.OpenCommPort());
    QCOMPARE(host.messages, QStringList{QStringLiteral("指定的串口不存在或已被占用。")});
    QCOMPARE(link.CurPort, QStringLiteral("/dev/ttyUSB7"));
    QVERIFY(!port.isOpen());
    // Empty text: refused without trying.
    port.refuseOpen = false;
    host.port = QString();
    const int tries = port.openedNames.size();
    QVERIFY(!link.OpenCommPort());
    QCOMPARE(port.openedNames.size(), tries);
    QCOMPARE(host.messages.size(), 2);
}

// --- command frame ----------------------------------------------------------------------------

void TestBootLink::sendCmdWaitAck_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<QList<QByteArray>>("reply");  // chunks; empty: silence
    QTest::addColumn<bool>("stopFirst");
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("fast");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("ACK") << 0x02 << QList<QByteArray>{ACK} << false << true << true
                         << bytesFromHex("02FD");
    QTest::newRow("NACK at once") << 0x43 << QList<QByteArray>{NACK} << false << false << true
                                  << bytesFromHex("43BC");
    QTest::newRow("other byte at once") << 0x11 << QList<QByteArray>{bytesFromHex("05")} << false
                                        << false << true << bytesFromHex("11EE");
    QTest::newRow("first byte decides") << 0x11 << QList<QByteArray>{bytesFromHex("7900")} << false
                                        << true << true << bytesFromHex("11EE");
    QTest::newRow("burst in chunks")
        << 0x02 << QList<QByteArray>{ACK, bytesFromHex("0104"), bytesFromHex("1079")} << false
        << true << true << bytesFromHex("02FD");
    QTest::newRow("silence") << 0x82 << QList<QByteArray>{} << false << false << false
                             << bytesFromHex("827D");
    QTest::newRow("stop already set")
        << 0x92 << QList<QByteArray>{} << true << false << true << bytesFromHex("926D");
    QTest::newRow("FF gives FF 00")
        << 0xFF << QList<QByteArray>{ACK} << false << true << true << bytesFromHex("FF00");
}

void TestBootLink::sendCmdWaitAck() {
    QFETCH(int, command);
    QFETCH(QList<QByteArray>, reply);
    QFETCH(bool, stopFirst);
    QFETCH(bool, result);
    QFETCH(bool, fast);
    QFETCH(QByteArray, frame);
    Rig r;
    if (reply.isEmpty())
        r.port.silent();
    else
        r.port.replyChunks(reply, 1, 1);
    r.link.StopFlag = stopFirst;
    QElapsedTimer t;
    t.start();
    QCOMPARE(r.link.SendCmdWaitAck(uint8_t(command)), result);
    const qint64 ms = t.elapsed();
    QCOMPARE(r.port.written, QList<QByteArray>{frame});
    if (fast) {
        QVERIFY2(ms < kFastMs, qPrintable(QString::number(ms)));
    } else {
        QVERIFY2(ms >= 500 && ms < 2000, qPrintable(QString::number(ms)));
    }
    QVERIFY(r.host.messages.isEmpty());
    QVERIFY(r.host.logLines.isEmpty());
    if (QTest::currentDataTag() == QByteArray("burst in chunks")) {
        QCOMPARE(r.link.RecvCount, 5);
        QCOMPARE(int(r.link.RecvBuf[4]), 0x79);
    }
}

void TestBootLink::sendCmdWaitAckStopPressed() {
    Rig r;
    r.port.silent();
    QTimer::singleShot(40, [&] { r.link.CmdStop_Click(); });
    QElapsedTimer t;
    t.start();
    QVERIFY(!r.link.SendCmdWaitAck(0x43));
    QVERIFY2(t.elapsed() < kFastMs, "Stop did not end the wait");
    QVERIFY(r.link.StopFlag);
    QCOMPARE(r.host.panels.value(6), QStringLiteral("未连接"));
}

void TestBootLink::syncTarget_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("fast");
    QTest::addColumn<QString>("panel2");
    QTest::newRow("ACK") << ACK << true << true << QStringLiteral("收到ACK，可以ISP了。");
    QTest::newRow("00 79: last byte decides")
        << bytesFromHex("0079") << true << true << QStringLiteral("收到ACK，可以ISP了。");
    QTest::newRow("79 00: keeps waiting")
        << bytesFromHex("7900") << false << false << QStringLiteral("请复位目标板并重新连接！");
    QTest::newRow("NACK") << NACK << false << true
                          << QStringLiteral("收到NACK，请复位目标板并重新连接。");
    QTest::newRow("silence") << QByteArray() << false << false
                             << QStringLiteral("请复位目标板并重新连接！");
}

void TestBootLink::syncTarget() {
    QFETCH(QByteArray, reply);
    QFETCH(bool, result);
    QFETCH(bool, fast);
    QFETCH(QString, panel2);
    Rig r;
    if (reply.isEmpty())
        r.port.silent();
    else
        r.port.reply(reply);
    QElapsedTimer t;
    t.start();
    QCOMPARE(r.link.SyncTarget(), result);
    const qint64 ms = t.elapsed();
    QCOMPARE(r.port.written, QList<QByteArray>{bytesFromHex("7F")});
    QVERIFY2(fast ? ms < kFastMs : (ms >= 500 && ms < 2000), qPrintable(QString::number(ms)));
    QCOMPARE(r.host.panels.value(2), panel2);
    if (result) {
        QCOMPARE(r.host.panels.value(6), QStringLiteral("已连接."));
        QCOMPARE(r.host.lamp, Lamp::Green);
    } else {
        QVERIFY(!r.host.panels.contains(6));
    }
}

void TestBootLink::syncIgnoresStop() {
    Rig r;
    r.port.reply(ACK, 120);
    QTimer::singleShot(20, [&] { r.link.StopFlag = true; });
    QVERIFY(r.link.SyncTarget());
}

// --- address frame ----------------------------------------------------------------------------

void TestBootLink::addressFrame_data() {
    QTest::addColumn<uint>("address");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("message");
    QTest::newRow("flash start") << 0x08000000u << bytesFromHex("0800000008") << ACK << true << "";
    QTest::newRow("size word") << 0x1FFFF7E0u << bytesFromHex("1FFFF7E0F7") << ACK << true << "";
    QTest::newRow("NACK") << 0x08000000u << bytesFromHex("0800000008") << NACK << false
                          << QStringLiteral("传送地址时应答为非ACK，应答值=1F");
    QTest::newRow("05 without leading zero")
        << 0x08000000u << bytesFromHex("0800000008") << bytesFromHex("05") << false
        << QStringLiteral("传送地址时应答为非ACK，应答值=5");
    QTest::newRow("first byte decides, no idle wait")
        << 0x20000000u << bytesFromHex("2000000020") << bytesFromHex("7905") << true << "";
    QTest::newRow("silence") << 0x08000000u << bytesFromHex("0800000008") << QByteArray() << false
                             << "";
}

void TestBootLink::addressFrame() {
    QFETCH(uint, address);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, reply);
    QFETCH(bool, result);
    QFETCH(QString, message);
    Rig r;
    if (reply.isEmpty())
        r.port.silent();
    else
        r.port.reply(reply);
    QCOMPARE(r.link.SendAbsMemoryAdd(address), result);
    QCOMPARE(r.port.written, QList<QByteArray>{frame});
    QCOMPARE(r.host.messages, message.isEmpty() ? QStringList() : QStringList{message});
}

// --- port failures inside waits ---------------------------------------------------------------

void TestBootLink::portFailures_data() {
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("lostDuringWait");  // else: the write itself fails
    for (const char* step : {"sync", "command", "address", "data"}) {
        QTest::newRow(qPrintable(QString::fromLatin1(step) + " write refused"))
            << QString::fromLatin1(step) << false;
        QTest::newRow(qPrintable(QString::fromLatin1(step) + " line lost"))
            << QString::fromLatin1(step) << true;
    }
}

void TestBootLink::portFailures() {
    QFETCH(QString, step);
    QFETCH(bool, lostDuringWait);
    Rig r;
    if (lostDuringWait) {
        r.port.responder = [&](const QByteArray&) { r.port.loseLineLater(30); };
    } else {
        r.port.refuseWrites = true;
    }
    QElapsedTimer t;
    t.start();
    bool ok = true;
    if (step == QLatin1String("sync")) ok = r.link.SyncTarget();
    if (step == QLatin1String("command")) ok = r.link.SendCmdWaitAck(0x02);
    if (step == QLatin1String("address")) ok = r.link.SendAbsMemoryAdd(0x08000000);
    if (step == QLatin1String("data")) {
        r.port.responder = [&](const QByteArray&) {
            r.port.deliverLater(ACK, 1);
            if (lostDuringWait) r.port.loseLineLater(30);
        };
        uint8_t buffer[4];
        ok = r.link.ReadMemoryBlock(0x08000000, buffer, 4);
        if (!lostDuringWait)
            QCOMPARE(r.host.logMessages, QStringList{QStringLiteral("下发读命令失败。")});
        else
            QCOMPARE(r.host.logMessages, QStringList{QStringLiteral("读存储器内容超时.")});
    }
    QVERIFY(!ok);
    QVERIFY2(t.elapsed() < kFastMs, "a vanished line must end the wait at once");
    QCOMPARE(r.host.messages, QStringList{QStringLiteral("请指定可用串行口。")});
}

// --- Read Memory ------------------------------------------------------------------------------

void TestBootLink::readMemoryBlock_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("failFrame");  // frame whose reply is replaced (-1: none)
    QTest::addColumn<QByteArray>("replacement");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<QByteArray>("countFrame");
    QTest::newRow("256 bytes") << 256 << -1 << QByteArray() << true << "" << bytesFromHex("FF00");
    QTest::newRow("1 byte") << 1 << -1 << QByteArray() << true << "" << bytesFromHex("00FF");
    QTest::newRow("command NACK") << 4 << 0 << NACK << false << QStringLiteral("下发读命令失败。")
                                  << QByteArray();
    QTest::newRow("address NACK") << 4 << 1 << NACK << false << QStringLiteral("下发地址命令失败。")
                                  << QByteArray();
    QTest::newRow("count NACK") << 4 << 2 << NACK << false << QStringLiteral("下发读个数失败。")
                                << bytesFromHex("03FC");
    QTest::newRow("one byte short") << 4 << 2 << bytesFromHex("79010203") << false
                                    << QStringLiteral("读存储器内容超时.") << bytesFromHex("03FC");
    QTest::newRow("bytes beyond N ignored")
        << 4 << 2 << bytesFromHex("79000102030405") << true << "" << bytesFromHex("03FC");
}

void TestBootLink::readMemoryBlock() {
    QFETCH(int, count);
    QFETCH(int, failFrame);
    QFETCH(QByteArray, replacement);
    QFETCH(bool, result);
    QFETCH(QString, logLine);
    QFETCH(QByteArray, countFrame);
    Rig r;
    FakeTarget target(r.port);
    for (int i = 0; i < int(target.flash.size()); ++i) target.flash[size_t(i)] = uint8_t(i * 7);
    if (failFrame >= 0) target.overrides[failFrame] = replacement;
    std::vector<uint8_t> buffer(static_cast<size_t>(count));
    // the target starts out synchronised for this test
    r.port.written.clear();
    target.frames = 0;
    r.link.SyncTarget();
    target.frames = 0;
    r.port.written.clear();
    QElapsedTimer t;
    t.start();
    QCOMPARE(r.link.ReadMemoryBlock(0x08000100, buffer.data(), count), result);
    QCOMPARE(r.host.logMessages, logLine.isEmpty() ? QStringList() : QStringList{logLine});
    QCOMPARE(r.port.written.value(0), bytesFromHex("11EE"));
    if (failFrame != 0) QCOMPARE(r.port.written.value(1), bytesFromHex("0800010009"));
    if (!countFrame.isEmpty()) QCOMPARE(r.port.written.value(2), countFrame);
    QCOMPARE(r.port.written.size(), failFrame < 0 ? 3 : failFrame + 1);
    if (result && failFrame < 0) {
        for (int i = 0; i < count; ++i) QCOMPARE(int(buffer[size_t(i)]), (0x100 + i) * 7 & 0xFF);
    }
    if (logLine == QStringLiteral("读存储器内容超时.")) QVERIFY(t.elapsed() >= 500);
}

void TestBootLink::readMemoryStopDuringData() {
    Rig r;
    r.port.reply(ACK);
    r.port.reply(ACK);
    r.port.reply(bytesFromHex("7901"));  // three of the four data bytes never come
    QTimer::singleShot(60, [&] { r.link.CmdStop_Click(); });
    uint8_t buffer[4];
    QElapsedTimer t;
    t.start();
    QVERIFY(!r.link.ReadMemoryBlock(0x08000000, buffer, 4));
    QVERIFY(t.elapsed() < kFastMs);
    QCOMPARE(r.host.logMessages, QStringList{QStringLiteral("读存储器内容超时.")});
}

// --- connect sequence -------------------------------------------------------------------------

void TestBootLink::connectSequence_data() {
    QTest::addColumn<QByteArray>("getId");
    QTest::addColumn<int>("flashKB");
    QTest::addColumn<int>("ramKB");
    QTest::addColumn<bool>("sizeReadFails");
    QTest::addColumn<QString>("panel4");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<int>("sizeAfter");
    QTest::addColumn<bool>("readEnabled");
    const QString start1 = QStringLiteral("连接目标板......");
    const QString start2 = QStringLiteral("连接成功，准备获取器件信息......");
    QTest::newRow("four identity bytes")
        << bytesFromHex("79030410000079") << 128 << 20 << false
        << QStringLiteral("STM32F10x, PID=04100000")
        << QStringList{start1, start2, QStringLiteral("器件信息为STM32F10x, PID=04100000"),
                       QStringLiteral("FLASH容量为: 128K; RAM容量为: 20K.")}
        << 128 << true;
    QTest::newRow("two identity bytes, as a real F10x")
        << bytesFromHex("7901041079") << 64 << 20 << false << QStringLiteral("STM32F10x, PID=0410")
        << QStringList{start1, start2, QStringLiteral("器件信息为STM32F10x, PID=0410"),
                       QStringLiteral("FLASH容量为: 64K; RAM容量为: 20K.")}
        << 64 << true;
    QTest::newRow("0A shown as two digits")
        << bytesFromHex("790304100A0B79") << 64 << 20 << false
        << QStringLiteral("STM32F10x, PID=04100A0B")
        << QStringList{start1, start2, QStringLiteral("器件信息为STM32F10x, PID=04100A0B"),
                       QStringLiteral("FLASH容量为: 64K; RAM容量为: 20K.")}
        << 64 << true;
    QTest::newRow("RAM field reads FFFF")
        << bytesFromHex("7901041079") << 64 << 0xFFFF << false
        << QStringLiteral("STM32F10x, PID=0410")
        << QStringList{start1, start2, QStringLiteral("器件信息为STM32F10x, PID=0410"),
                       QStringLiteral("FLASH容量为: 64K; RAM容量为: 未知.")}
        << 64 << true;
    QTest::newRow("large sizes stay positive")
        << bytesFromHex("7901041079") << 0x8000 << 0x9000 << false
        << QStringLiteral("STM32F10x, PID=0410")
        << QStringList{start1, start2, QStringLiteral("器件信息为STM32F10x, PID=0410"),
                       QStringLiteral("FLASH容量为: 32768K; RAM容量为: 36864K.")}
        << 0x8000 << true;
    QTest::newRow("flash field reads FFFF: size unknown")
        << bytesFromHex("7901041079") << 0xFFFF << 20 << false
        << QStringLiteral("STM32F10x, PID=0410")
        << QStringList{start1, start2, QStringLiteral("器件信息为STM32F10x, PID=0410"),
                       QStringLiteral("取器件存储器容量失败.")}
        << -1 << false;
    QTest::newRow("identity not recognised")
        << bytesFromHex("7902041000") << 64 << 20 << false << QString()
        << QStringList{start1, start2, QStringLiteral("器件信息不可识别."),
                       QStringLiteral("FLASH容量为: 64K; RAM容量为: 20K.")}
        << 64 << true;
    QTest::newRow("Get ID NACK: nothing said")
        << NACK << 64 << 20 << false << QString()
        << QStringList{start1, start2, QStringLiteral("FLASH容量为: 64K; RAM容量为: 20K.")} << 64
        << true;
    QTest::newRow("size read fails")
        << bytesFromHex("7901041079") << 64 << 20 << true << QStringLiteral("STM32F10x, PID=0410")
        << QStringList{start1, start2, QStringLiteral("器件信息为STM32F10x, PID=0410"),
                       QStringLiteral("下发读命令失败。"), QStringLiteral("取器件存储器容量失败.")}
        << -1 << false;
    QTest::newRow("size word 0") << bytesFromHex("7901041079") << 0 << 20 << false
                                 << QStringLiteral("STM32F10x, PID=0410")
                                 << QStringList{start1, start2,
                                                QStringLiteral("器件信息为STM32F10x, PID=0410"),
                                                QStringLiteral("取器件存储器容量失败.")}
                                 << 0 << false;
}

void TestBootLink::connectSequence() {
    QFETCH(QByteArray, getId);
    QFETCH(int, flashKB);
    QFETCH(int, ramKB);
    QFETCH(bool, sizeReadFails);
    QFETCH(QString, panel4);
    QFETCH(QStringList, log);
    QFETCH(int, sizeAfter);
    QFETCH(bool, readEnabled);
    RecordingHost host;
    FakePort port;
    BootLink link(host, port);
    FakeTarget target(port);
    target.getIdReply = getId;
    target.resize(1);
    target.flashKB = uint16_t(flashKB);
    target.ramKB = uint16_t(ramKB);
    if (sizeReadFails) target.overrides[2] = NACK;  // frames: 7F, 02 FD, 11 EE
    QVERIFY(link.CHECKCMD_Click());
    QCOMPARE(host.logMessages, log);
    QCOMPARE(host.panels.value(4), panel4);
    QCOMPARE(host.panels.value(6), QStringLiteral("已连接."));
    QCOMPARE(link.FlashSizeKB, sizeAfter);
    QCOMPARE(host.commands.start, true);
    QCOMPARE(host.commands.read, readEnabled);
    QVERIFY(link.StopFlag);
    // The display starts from "not connected" whatever came before.
    QCOMPARE(host.events.mid(0, 3), (QStringList{"lamp:gray", QStringLiteral("panel6:未连接."),
                                                 QStringLiteral("panel4:")}));
}

void TestBootLink::connectPortRefused() {
    RecordingHost host;
    FakePort port;
    BootLink link(host, port);
    port.refuseOpen = true;
    link.FlashSizeKB = 64;
    QVERIFY(!link.CHECKCMD_Click());
    QCOMPARE(host.messages, QStringList{QStringLiteral("指定的串口不存在或已被占用。")});
    QCOMPARE(host.logMessages,
             (QStringList{QStringLiteral("连接目标板......"),
                          QStringLiteral("指定的串行口不存在或被其它应用程序占用。")}));
    QCOMPARE(link.FlashSizeKB, -1);
    QVERIFY(link.StopFlag);
    QVERIFY(host.commandHistory.isEmpty());  // buttons keep their state
}

void TestBootLink::connectTwiceKeepsPort() {
    RecordingHost host;
    FakePort port;
    BootLink link(host, port);
    FakeTarget target(port);
    target.silentFrom = 0;
    QVERIFY(!link.CHECKCMD_Click());
    QCOMPARE(host.logMessages.last(),
             QStringLiteral("目标板未响应，检查连接情况，请复位后再次连接。"));
    QCOMPARE(host.panels.value(2), QStringLiteral("请复位目标板并重新连接！"));
    target.silentFrom = -1;
    QVERIFY(link.CHECKCMD_Click());
    QCOMPARE(port.openedNames.size(), 1);
    QCOMPARE(port.closes, 0);
}

void TestBootLink::reconnectAfterLineLost() {
    RecordingHost host;
    FakePort port;
    BootLink link(host, port);
    FakeTarget target(port);
    QVERIFY(link.CHECKCMD_Click());
    port.loseLine();
    QVERIFY(!port.isOpen());
    // Same name as CurPort, but the port is closed: it is opened again.
    QVERIFY(link.CHECKCMD_Click());
    QCOMPARE(port.openedNames.size(), 2);
}

QTEST_GUILESS_MAIN(TestBootLink)
#include "tst_bootlink.moc"

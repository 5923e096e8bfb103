// Connecting to the simulated board through a real pseudo-terminal: the log lines and panel
// texts, both Get ID forms, the memory sizes, and every way the connect sequence can fail.
#include <QRegularExpression>
#include <QtTest>

#include "tst_integration_rig.h"

using rig::Rig;

namespace {
const QString kConnecting = "连接目标板......";
const QString kConnected = "连接成功，准备获取器件信息......";
const QString kNoAnswer = "目标板未响应，检查连接情况，请复位后再次连接。";
const QString kSizes64 = "FLASH容量为: 64K; RAM容量为: 未知.";
const QString kSizeFailed = "取器件存储器容量失败.";
const QString kDevice = "器件信息为STM32F10x, PID=0410";
}  // namespace

class TestIntegrationConnect : public QObject {
    Q_OBJECT
private slots:
    void connects_data();
    void connects();
    void failures_data();
    void failures();
    void noSuchPort();
    void reconnectAfterHangup();
    void connectTwiceKeepsThePortOpen();
};

void TestIntegrationConnect::connects_data() {
    QTest::addColumn<int>("pid");
    QTest::addColumn<int>("flashKb");
    QTest::addColumn<bool>("fourByteGetId");
    QTest::addColumn<int>("ramField");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("sizes");

    QTest::newRow("chip Get ID, RAM field reserved")
        << 0x410 << 64 << false << 0xFFFF << "STM32F10x, PID=0410" << kSizes64;
    QTest::newRow("four-byte Get ID")
        << 0x410 << 64 << true << 0xFFFF << "STM32F10x, PID=04100000" << kSizes64;
    QTest::newRow("RAM field holds 20 KB")
        << 0x410 << 128 << false << 0x0014 << "STM32F10x, PID=0410"
        << "FLASH容量为: 128K; RAM容量为: 20K.";
    QTest::newRow("high density, 512 KB")
        << 0x414 << 512 << false << 0x0040 << "STM32F10x, PID=0414"
        << "FLASH容量为: 512K; RAM容量为: 64K.";
    QTest::newRow("low density, 16 KB")
        << 0x412 << 16 << true << 0xFFFF << "STM32F10x, PID=04120000"
        << "FLASH容量为: 16K; RAM容量为: 未知.";
}

void TestIntegrationConnect::connects() {
    QFETCH(int, pid);
    QFETCH(int, flashKb);
    QFETCH(bool, fourByteGetId);
    QFETCH(int, ramField);
    QFETCH(QString, device);
    QFETCH(QString, sizes);

    auto options = rig::boardOptions();
    options.board.pid = uint16_t(pid);
    options.board.flashKb = flashKb;
    options.board.fourByteGetId = fourByteGetId;
    options.board.ramField = uint16_t(ramField);
    Rig r(options);
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));

    QVERIFY(r.engine.CHECKCMD_Click());
    QCOMPARE(r.host.logMessages,
             QStringList({kConnecting, kConnected, "器件信息为" + device, sizes}));
    static const QRegularExpression stamp("^\\d\\d:\\d\\d:\\d\\d \\S");
    for (const QString& line : r.host.logLines)
        QVERIFY2(stamp.match(line).hasMatch(), qPrintable(line));
    QCOMPARE(r.host.panels.value(4), device);
    QCOMPARE(r.host.panels.value(6), QString("已连接."));
    QCOMPARE(r.host.panels.value(2), QString("收到ACK，可以ISP了。"));
    QCOMPARE(r.host.lamp, praxon::Lamp::Green);
    QVERIFY(r.host.messages.isEmpty());
    QCOMPARE(r.engine.flashSizeKB(), flashKb);
    const praxon::CommandStates& c = r.host.commands;
    QVERIFY(c.start && c.erase && c.go && c.readProtect && c.readUnprotect && c.read);
    QVERIFY(!r.engine.busy());

    const auto counters = r.board().counters();
    QCOMPARE(counters.syncs, 1u);
    QCOMPARE(counters.perCommand.at(0x02), 1u);
    QCOMPARE(counters.perCommand.at(0x11), 1u);
    QCOMPARE(counters.readBytes, 4u);
}

void TestIntegrationConnect::failures_data() {
    QTest::addColumn<QString>("faults");
    QTest::addColumn<bool>("instant");
    QTest::addColumn<int>("connectsBefore");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("panel2");
    QTest::addColumn<bool>("readEnabled");

    const QStringList syncFailed{kConnecting, kNoAnswer};
    const QString nackPanel = "收到NACK，请复位目标板并重新连接。";
    const QString resetPanel = "请复位目标板并重新连接！";
    const QString ackPanel = "收到ACK，可以ISP了。";

    // Synchronisation.
    QTest::newRow("sync NACK") << "nack:0x7f:1" << true << 0 << false << syncFailed << QStringList()
                               << nackPanel << false;
    QTest::newRow("sync silent") << "silent:0x7f:1" << true << 0 << false << syncFailed
                                 << QStringList() << resetPanel << false;
    QTest::newRow("sync late") << "late:0x7f:1" << false << 0 << false << syncFailed
                               << QStringList() << resetPanel << false;
    QTest::newRow("sync garbage") << "garbage:0x7f:1" << true << 0 << false << syncFailed
                                  << QStringList() << resetPanel << false;
    QTest::newRow("sync burst") << "burst:0x7f:1" << true << 0 << false << syncFailed
                                << QStringList() << resetPanel << false;

    // Get ID: the sequence goes on without the identity.
    const QStringList noId{kConnecting, kConnected, kSizes64};
    QTest::newRow("Get ID NACK") << "nack:0x02:1" << true << 0 << true << noId << QStringList()
                                 << ackPanel << true;
    QTest::newRow("Get ID silent")
        << "silent:0x02:1" << true << 0 << true << noId << QStringList() << ackPanel << true;
    QTest::newRow("Get ID garbage")
        << "garbage:0x02:1" << true << 0 << true << noId << QStringList() << ackPanel << true;
    QTest::newRow("Get ID burst") << "burst:0x02:1" << true << 0 << true << noId << QStringList()
                                  << ackPanel << true;
    const QStringList badId{kConnecting, kConnected, "器件信息不可识别.", kSizes64};
    QTest::newRow("Get ID short") << "short:0x02:1" << true << 0 << true << badId << QStringList()
                                  << ackPanel << true;
    // A full answer to the first connect is still in the receive buffer: it must not complete
    // the short one of the second.
    QTest::newRow("Get ID short after a full one")
        << "short:0x02:2" << true << 1 << true << badId << QStringList() << ackPanel << true;
    QTest::newRow("Get ID closing byte changed")
        << "change:0x02:1" << true << 0 << true << badId << QStringList() << ackPanel << true;

    // The memory-size read at 0x1FFFF7E0.
    auto sizeFail = [&](const QString& why) {
        return QStringList{kConnecting, kConnected, kDevice, why, kSizeFailed};
    };
    QTest::newRow("size read: command NACK")
        << "nack:0x11:1:1" << true << 0 << true << sizeFail("下发读命令失败。") << QStringList()
        << ackPanel << false;
    QTest::newRow("size read: command silent")
        << "silent:0x11:1:1" << true << 0 << true << sizeFail("下发读命令失败。") << QStringList()
        << ackPanel << false;
    QTest::newRow("size read: command garbage")
        << "garbage:0x11:1:1" << true << 0 << true << sizeFail("下发读命令失败。") << QStringList()
        << ackPanel << false;
    QTest::newRow("size read: address NACK")
        << "nack:0x11:1:2" << true << 0 << true << sizeFail("下发地址命令失败。")
        << QStringList{"传送地址时应答为非ACK，应答值=1F"} << ackPanel << false;
    QTest::newRow("size read: address silent")
        << "silent:0x11:1:2" << true << 0 << true << sizeFail("下发地址命令失败。") << QStringList()
        << ackPanel << false;
    QTest::newRow("size read: address late")
        << "late:0x11:1:2" << false << 0 << true << sizeFail("下发地址命令失败。") << QStringList()
        << ackPanel << false;
    QTest::newRow("size read: address garbage")
        << "garbage:0x11:1:2" << true << 0 << true << sizeFail("下发地址命令失败。")
        << QStringList{"传送地址时应答为非ACK，应答值=*"} << ackPanel << false;
    QTest::newRow("size read: count NACK")
        << "nack:0x11:1:3" << true << 0 << true << sizeFail("下发读个数失败。") << QStringList()
        << ackPanel << false;
    QTest::newRow("size read: count silent")
        << "silent:0x11:1:3" << true << 0 << true << sizeFail("下发读个数失败。") << QStringList()
        << ackPanel << false;
    QTest::newRow("size read: data short")
        << "short:0x11:1:3" << true << 0 << true << sizeFail("读存储器内容超时.") << QStringList()
        << ackPanel << false;
    QTest::newRow("size read: reply garbage")
        << "garbage:0x11:1:3" << true << 0 << true << sizeFail("下发读个数失败。") << QStringList()
        << ackPanel << false;
    QTest::newRow("size read: burst of 300 bytes")
        << "burst:0x11:1:3" << true << 0 << true << sizeFail("下发读个数失败。") << QStringList()
        << ackPanel << false;
    QTest::newRow("size read: burst at line pace")
        << "burst:0x11:1:3" << false << 0 << true << sizeFail("下发读个数失败。") << QStringList()
        << ackPanel << false;
}

void TestIntegrationConnect::failures() {
    QFETCH(QString, faults);
    QFETCH(bool, instant);
    QFETCH(int, connectsBefore);
    QFETCH(bool, result);
    QFETCH(QStringList, log);
    QFETCH(QStringList, messages);
    QFETCH(QString, panel2);
    QFETCH(bool, readEnabled);

    auto options = rig::boardOptions(faults, instant);
    options.board.syncAnytime = true;  // a second connect needs no reset button
    Rig r(options);
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    for (int i = 0; i < connectsBefore; ++i) {
        QVERIFY(r.connectAndClear());
        QTest::qWait(150);  // quiet line: the board takes 0x7F as a new synchronisation
    }

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(r.engine.CHECKCMD_Click(), result);
    // Every wait is bounded: the whole sequence ends within a few of its 0.5 s limits.
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    RIG_COMPARE_TEXTS(r.host.logMessages, log);
    RIG_COMPARE_TEXTS(r.host.messages, messages);
    QCOMPARE(r.host.panels.value(2), panel2);
    QVERIFY(!r.engine.busy());
    if (result) {
        QCOMPARE(r.host.panels.value(6), QString("已连接."));
        QCOMPARE(r.host.commands.start, true);
        QCOMPARE(r.host.commands.read, readEnabled);
        QCOMPARE(r.engine.flashSizeKB(), readEnabled ? 64 : -1);
    } else {
        QCOMPARE(r.host.panels.value(6), QString("未连接."));
        QCOMPARE(r.host.lamp, praxon::Lamp::Gray);
        QCOMPARE(r.engine.flashSizeKB(), -1);
        // A failed connect leaves the buttons as they were: disabled since the start.
        QVERIFY(!r.host.commands.start);
    }
}

void TestIntegrationConnect::noSuchPort() {
    Rig r(rig::boardOptions());
    r.host.port = r.dir.filePath("no-such-device");
    QVERIFY(!r.engine.CHECKCMD_Click());
    QCOMPARE(r.host.messages, QStringList{"指定的串口不存在或已被占用。"});
    QCOMPARE(r.host.logMessages,
             QStringList({kConnecting, "指定的串行口不存在或被其它应用程序占用。"}));
    QCOMPARE(r.engine.flashSizeKB(), -1);
}

void TestIntegrationConnect::reconnectAfterHangup() {
    // The adapter vanishes while the sizes are read; the board comes back on the same name.
    Rig r(rig::boardOptions("hangup:0x11:1:3"));
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    QElapsedTimer clock;
    clock.start();
    r.engine.CHECKCMD_Click();
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(!r.engine.busy());
    QVERIFY(!r.port.isOpen());
    QCOMPARE(r.engine.flashSizeKB(), -1);
    QVERIFY2(r.host.logged(kSizeFailed), qPrintable(r.host.logMessages.join('|')));

    QVERIFY2(r.replaceBoard(rig::boardOptions(), &error), qPrintable(error));
    r.host.clearRecords();
    QVERIFY(r.engine.CHECKCMD_Click());
    QCOMPARE(r.host.logMessages, QStringList({kConnecting, kConnected, kDevice, kSizes64}));
    QVERIFY(r.host.messages.isEmpty());
}

void TestIntegrationConnect::connectTwiceKeepsThePortOpen() {
    auto options = rig::boardOptions();
    options.board.syncAnytime = true;
    Rig r(options);
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    QVERIFY(r.connectAndClear());
    QTest::qWait(150);
    QVERIFY(r.engine.CHECKCMD_Click());
    QCOMPARE(r.host.logMessages, QStringList({kConnecting, kConnected, kDevice, kSizes64}));
    QCOMPARE(r.board().counters().syncs, 2u);
}

QTEST_GUILESS_MAIN(TestIntegrationConnect)
#include "tst_integration_connect.moc"

// The engine with the real serial port against the simulated board on a pseudo-terminal: the
// texts the user sees, the board's flash and the files afterwards, for every button, its faults,
// Stop and the line vanishing.
#include <QDir>
#include <QTimer>
#include <QtTest>

#include "tst_integration_rig.h"

using rig::Rig;

#define START(r, options) \
    Rig r(options);       \
    QVERIFY2(r.error.isEmpty(), qPrintable(r.error))

namespace {
const QString kConnecting = "连接目标板......", kConnected = "连接成功，准备获取器件信息......";
const QString kNoAnswer = "目标板未响应，检查连接情况，请复位后再次连接。";
const QString kDevice = "器件信息为STM32F10x, PID=0410", kSizeFailed = "取器件存储器容量失败.";
const QString kSizes64 = "FLASH容量为: 64K; RAM容量为: 未知.";
const QString kStart = "开始编程......", kSuccess = "编程成功, 用时共*", kFailed = "msg:下载失败。";
const QString kEraseStart = "开始整片擦除......", kEraseFailed = "擦除失败，请清除读保护......";
const QString kReadBegin = "开始读取数据......";
const QString kReadAbandon = "读数据失败, 退出从芯片读取数据过程.";
const QString kAddrNack = "msg:传送地址时应答为非ACK，应答值=1F";
const QString kDataNack = "msg:传送数据时应答为非ACK，应答值=1F";
const QString kNoPort = "msg:请指定可用串行口。";
const QByteArray kImage = rig::pattern(64, 7);  // four 16-byte records at 0x08000000
const QByteArray kContent = rig::pattern(65536, 9);
const QByteArray kOld = "the user's previous file\n";

// Presses a button. program, verify, eraseprog: Start with kImage in fw.hex and that option;
// read, readhex: into out.bin / out.hex, which hold kOld before. go: to 20001000h.
bool run(Rig& r, const QString& op) {
    r.host.downloadFile =
        rig::writeLines(r.dir.filePath("fw.hex"), rig::hexLines(0x08000000, kImage, 16));
    r.host.verify = op == "verify";
    r.host.erase = op == "eraseprog";
    if (op == "connect") return r.engine.CHECKCMD_Click();
    if (op.startsWith("read"))
        r.host.saveFileAnswers << rig::writeFile(
            r.dir.filePath(op == "read" ? "out.bin" : "out.hex"), kOld);
    if (op == "read" || op == "readhex") return r.engine.CmdRead_Click();
    if (op == "erase") return r.engine.Command_ER_Click();
    r.host.goAddress = "20001000h";
    if (op == "go") return r.engine.Command_GO_Click();
    if (op == "protect") return r.engine.CmdReadProtect_Click();
    if (op == "unprotect") return r.engine.CmdReadUnProtect_Click();
    return r.engine.CmdStart_Click();
}

// The old output file is untouched and nothing was left beside it.
void checkOldFileKept(Rig& r, const QString& op) {
    const QString name = op == "read" ? "out.bin" : "out.hex";
    QCOMPARE(rig::readFile(r.dir.filePath(name)), kOld);
    QCOMPARE(QDir(r.dir.path()).entryList({"out*"}, QDir::Files), QStringList{name});
}
// Log lines, then "msg:" message texts, then "panelN:" texts for the panels that expected lists.
QStringList seen(const Rig& r, const QStringList& expected) {
    QStringList actual = r.host.logMessages;
    for (const QString& m : r.host.messages) actual << "msg:" + m;
    for (const QString& e : expected)
        if (e.startsWith("panel")) actual << e.left(7) + r.host.panels.value(e.mid(5, 1).toInt());
    return actual;
}
}  // namespace

class TestIntegration : public QObject {
    Q_OBJECT
private slots:
    void operations_data();
    void operations();
    void programs_data();
    void programs();
    void reads_data();
    void reads();
    void protectThenUnprotect();
    void stopDuringWait_data();
    void stopDuringWait();
};

void TestIntegration::operations_data() {
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("faults");
    QTest::addColumn<bool>("result");
    // program ops: 16-byte records in flash; erase, unprotect (old content before): 1 = erased;
    // connect: flashSizeKB.
    QTest::addColumn<int>("flash");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QStringList>("seen");  // as seen() gives them
    auto row = [](const char* name, const char* op, const char* faults, bool result, int flash,
                  bool connected, const QStringList& seen) {
        QTest::newRow(name) << op << faults << result << flash << connected << seen;
    };
    const QString kAckPanel = "panel2:收到ACK，可以ISP了。", kConnectedPanel = "panel6:已连接.";
    row("connect", "connect", "", true, 64, true,
        {kConnecting, kConnected, kDevice, kSizes64, "panel4:STM32F10x, PID=0410", kAckPanel,
         kConnectedPanel});
    row("connect, four-byte Get ID, RAM 20 KB", "connect", "id4", true, 64, true,
        {kConnecting, kConnected, "器件信息为STM32F10x, PID=04100000",
         "FLASH容量为: 64K; RAM容量为: 20K.", "panel4:STM32F10x, PID=04100000"});
    row("sync NACK", "connect", "nack:0x7f:1", false, -1, false,
        {kConnecting, kNoAnswer, "panel2:收到NACK，请复位目标板并重新连接。", "panel6:未连接."});
    row("sync late", "connect", "late:0x7f:1", false, -1, false,
        {kConnecting, kNoAnswer, "panel2:请复位目标板并重新连接！"});
    row("Get ID silent", "connect", "silent:0x02:1", true, 64, true,
        {kConnecting, kConnected, kSizes64, kAckPanel});
    row("Get ID short", "connect", "short:0x02:1", true, 64, true,
        {kConnecting, kConnected, "器件信息不可识别.", kSizes64});
    row("size read, command NACK", "connect", "nack:0x11:1:1", true, -1, true,
        {kConnecting, kConnected, kDevice, "下发读命令失败。", kSizeFailed, kConnectedPanel});
    row("size read, address garbage", "connect", "garbage:0x11:1:2", true, -1, true,
        {kConnecting, kConnected, kDevice, "下发地址命令失败。", kSizeFailed,
         "msg:传送地址时应答为非ACK，应答值=*"});

    // Read Memory occurrence 3: the second block (the connect's read is the first).
    auto read = [](const QString& step) { return QStringList{kReadBegin, step, kReadAbandon}; };
    row("read command NACK", "read", "nack:0x11:3:1", false, 0, true, read("下发读命令失败。"));
    row("read address NACK", "read", "nack:0x11:3:2", false, 0, true,
        read("下发地址命令失败。") << kAddrNack);
    row("read address silent", "read", "silent:0x11:3:2", false, 0, true,
        read("下发地址命令失败。"));
    row("read count NACK", "read", "nack:0x11:3:3", false, 0, true, read("下发读个数失败。"));
    row("read HEX, burst of 300 bytes", "readhex", "burst:0x11:3:3", false, 0, true,
        read("下发读个数失败。"));
    row("read data short", "read", "short:0x11:3:3", false, 0, true, read("读存储器内容超时."));
    // A vanished line closes the port and shows the link as not connected.
    row("read, line hung up", "read", "hangup:0x11:3:3", false, 0, false,
        read("下发读个数失败。") << kNoPort);

    // Write Memory of the second record; a refused command ends the connection.
    row("write command NACK", "program", "nack:0x31:2:1", false, 1, false, {kStart, kFailed});
    row("write command silent", "program", "silent:0x31:2:1", false, 1, true, {kStart, kFailed});
    row("write address NACK", "program", "nack:0x31:2:2", false, 1, true,
        {kStart, kAddrNack, kFailed});
    row("write data NACK", "program", "nack:0x31:2:3", false, 1, true,
        {kStart, kDataNack, kFailed});
    row("write data ACK late", "program", "late:0x31:2:3", false, 2, true, {kStart, kFailed});
    row("write data, line hung up", "program", "hangup:0x31:2:3", false, 2, false,
        {kStart, kNoPort, kFailed});
    // Verify of the second record (Read Memory occurrence 3).
    row("verify command NACK", "verify", "nack:0x11:3:1", false, 2, true,
        {kStart, "下发送命令失败", kFailed});
    row("verify address NACK", "verify", "nack:0x11:3:2", false, 2, true,
        {kStart, "下发地址命令失败", kAddrNack, kFailed});
    row("verify address silent", "verify", "silent:0x11:3:2", false, 2, true,
        {kStart, "下发地址命令失败", kFailed});
    row("verify count NACK", "verify", "nack:0x11:3:3", false, 2, true,
        {kStart, "下发读个数失败", kFailed});
    row("verify data short", "verify", "short:0x11:3:3", false, 2, true,
        {kStart, "超时.", kFailed});
    row("verify data differs", "verify", "change:0x11:3:3", false, 2, true,
        {kStart, "数据校验不正确.", kFailed});
    row("erase before programming refused", "eraseprog", "nack:0x43:1:1", false, 0, true,
        {kEraseFailed, "panel2:Flash擦除失败。"});

    row("erase", "erase", "", true, 1, true, {kEraseStart, "擦除成功。", "panel2:Flash擦除完毕。"});
    row("erase command NACK", "erase", "nack:0x43:1:1", false, 0, true, {kEraseFailed});
    row("erase code NACK", "erase", "nack:0x43:1:2", false, 0, true, {kEraseStart, kEraseFailed});
    row("erase ACK late", "erase", "late:0x43:1:2", false, 1, true, {kEraseStart, kEraseFailed});
    // Go ends the connection whatever the answer. The answer to the address is not read.
    row("Go", "go", "", true, 0, false, {"已运行。", "panel6:未连接"});
    row("Go command NACK", "go", "nack:0x21:1:1", false, 0, false, {"目标板无响应。"});
    row("Go address NACK", "go", "nack:0x21:1:2", true, 0, false, {"已运行。"});
    row("protect NACK", "protect", "nack:0x82:1:1", false, 0, true, {"置读保护失败。"});
    row("unprotect NACK", "unprotect", "nack:0x92:1:1", false, 0, false, {"清读保护失败."});
}

void TestIntegration::operations() {
    QFETCH(QString, op);
    QFETCH(QString, faults);
    QFETCH(bool, result);
    QFETCH(int, flash);
    QFETCH(bool, connected);
    QFETCH(QStringList, seen);
    auto options = rig::boardOptions(faults == "id4" ? "" : faults);
    options.board.fourByteGetId = faults == "id4";
    if (faults == "id4") options.board.ramField = 0x14;
    START(r, options);
    const bool preloaded = op == "erase" || op == "unprotect";
    if (preloaded) r.preload(kContent);
    if (op != "connect") QVERIFY(r.connectAndClear());

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(run(r, op), result);
    const qint64 ms = clock.elapsed();
    // A wait for an answer that does not come in time never gives up before its 0.5 s limit.
    if (QRegularExpression("^(silent|late)").match(faults).hasMatch())
        QVERIFY2(ms >= 500, qPrintable(QString::number(ms)));
    QVERIFY2(ms < 5000, qPrintable(QString::number(ms)));
    RIG_COMPARE_TEXTS(::seen(r, seen), seen);
    for (const QString& line : r.host.logLines)
        QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d \\S").match(line).hasMatch(),
                 qPrintable(line));
    QVERIFY(!r.engine.busy());
    QCOMPARE(r.host.commands.start, connected);
    QCOMPARE(r.host.commands.read, connected && r.engine.flashSizeKB() > 0);
    if (op == "connect") QCOMPARE(r.engine.flashSizeKB(), flash);
    if (op == "connect") QCOMPARE(r.host.lamp == praxon::Lamp::Green, connected);
    if (op.startsWith("read")) checkOldFileKept(r, op);
    if (preloaded) QCOMPARE(r.flash(), flash ? QByteArray(65536, char(0xFF)) : kContent);
    if (op == "program" || op == "verify" || op == "eraseprog") {
        QCOMPARE(r.flash(0, flash * 16), kImage.left(flash * 16));
        QCOMPARE(r.flash(flash * 16, 64), QByteArray(64, char(0xFF)));
    }
    if (op == "go" && faults.isEmpty())
        QTRY_COMPARE_WITH_TIMEOUT(r.board().counters().goAddress.value_or(0), 0x20001000u, 2000);
    if (!faults.startsWith("hangup")) return;
    // The adapter comes back on the same name: connecting works again.
    QVERIFY(!r.port.isOpen());
    QCOMPARE(r.start(rig::boardOptions()), QString());
    QVERIFY(r.connectAndClear());
    QVERIFY(r.host.commands.start && r.host.commands.read);
}

void TestIntegration::programs_data() {
    QTest::addColumn<QString>("flags");  // e, v, p: erase (over old content), verify, protect
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArray>("expected");  // flash from 0x08000000; the rest stays erased
    QTest::addColumn<QStringList>("log");

    const QStringList image = rig::hexLines(0x08000000, kImage, 16);
    QTest::newRow("erase, verify")
        << "ev" << image << kImage << QStringList{kEraseStart, "擦除成功。", kStart, kSuccess};
    QTest::newRow("protect") << "p" << image << kImage
                             << QStringList{kStart, kSuccess,
                                            "置读保护成功, 复位目标板后才能有效。"};
    // The second record shares a word with the first: it must not program the first one's bytes
    // again with 0xFF padding (the chip refuses a half-word twice). The third starts unaligned.
    const QByteArray a = rig::pattern(6, 4), b = rig::pattern(16, 3), c = rig::pattern(5, 1);
    QTest::newRow("records sharing a word, odd start, verify")
        << "v"
        << rig::hexLines(0x08000000, a, 6).mid(0, 2) + rig::hexLines(0x08000006, b, 16).mid(1, 1) +
               rig::hexLines(0x08000019, c, 5).mid(1)
        << a + b + QByteArray(3, char(0xFF)) + c << QStringList{kStart, kSuccess};
}

void TestIntegration::programs() {
    QFETCH(QString, flags);
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, expected);
    QFETCH(QStringList, log);
    START(r, rig::boardOptions());
    if (flags.contains('e')) r.preload(kContent);
    r.host.downloadFile = rig::writeLines(r.dir.filePath("fw.hex"), lines);
    r.host.erase = flags.contains('e');
    r.host.verify = flags.contains('v');
    r.host.protect = flags.contains('p');
    QVERIFY(r.connectAndClear());
    QVERIFY(r.engine.CmdStart_Click());
    RIG_COMPARE_TEXTS(r.host.logMessages, log);
    QVERIFY(r.host.messages.isEmpty());
    QCOMPARE(r.flash(0, expected.size()).toHex(), expected.toHex());
    QCOMPARE(r.flash(expected.size()), QByteArray(65536 - expected.size(), char(0xFF)));
    QCOMPARE(r.board().counters().perCommand.at(0x11) > 1, flags.contains('v'));  // verify reads
    QCOMPARE(r.board().readoutProtected(), flags.contains('p'));
    QCOMPARE(r.host.commands.start, !flags.contains('p'));  // reconnect after protecting
}

void TestIntegration::reads_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("flashKb");
    QTest::newRow("bin, replacing a file") << "out.bin" << 64;
    QTest::newRow("HEX, 128 KB: two segments") << "OUT.HEX" << 128;
}

void TestIntegration::reads() {
    QFETCH(QString, name);
    QFETCH(int, flashKb);
    auto options = rig::boardOptions();
    options.board.flashKb = flashKb;
    START(r, options);
    const QByteArray content = rig::pattern(flashKb * 1024, 5);
    r.preload(content);
    const QString path = rig::writeFile(r.dir.filePath(name), kOld);
    QVERIFY(r.connectAndClear());
    r.host.saveFileAnswers << path;
    QVERIFY(r.engine.CmdRead_Click());
    RIG_COMPARE_TEXTS(r.host.logMessages, (QStringList{kReadBegin, "读取完成, 读取时间为:*"}));
    QVERIFY(r.host.messages.isEmpty());
    QCOMPARE(r.host.panels.value(2), QString("已读完."));
    QCOMPARE(r.host.progressTexts.last(), QString("已读100.00%."));
    QCOMPARE(QDir(r.dir.path()).entryList(QDir::Files | QDir::NoSymLinks), QStringList{name});
    if (!name.endsWith("HEX")) {
        QCOMPARE(rig::readFile(path), content);
        return;
    }
    QByteArray image;
    QStringList lines;
    const QString why = rig::parseHex(path, 0x08000000, content.size(), &image, &lines);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QCOMPARE(image, content);
    QCOMPARE(lines.size(), 2 + content.size() / 64 + 2);  // start, 2 segments, end
    QCOMPARE(lines.mid(0, 2), QStringList({":0400000508000000EF", ":020000040800F2"}));
    QCOMPARE(lines.at(2 + 1024), QString(":020000040801F1"));
}

void TestIntegration::protectThenUnprotect() {
    START(r, rig::boardOptions());
    r.preload(kContent);
    QVERIFY(r.connectAndClear());
    QVERIFY(r.engine.CmdReadProtect_Click());
    QTRY_VERIFY_WITH_TIMEOUT(r.board().readoutProtected(), 2000);
    // After the reset the protected chip answers but hides its memory and refuses to erase.
    QVERIFY(r.connectAndClear() && !r.host.commands.read && r.engine.flashSizeKB() == -1);
    QVERIFY(!r.engine.Command_ER_Click());
    QCOMPARE(r.host.logMessages, QStringList{kEraseFailed});
    r.host.clearRecords();
    QVERIFY(r.engine.CmdReadUnProtect_Click());
    QCOMPARE(r.host.logMessages, QStringList{"清读保护成功, 复位目标板后才能有效。"});
    QTRY_VERIFY_WITH_TIMEOUT(!r.board().readoutProtected(), 2000);
    QCOMPARE(r.flash(), QByteArray(65536, char(0xFF)));  // clearing the protection erases all
    QVERIFY(r.engine.CHECKCMD_Click() && r.host.logged(kSizes64));
}

void TestIntegration::stopDuringWait_data() {
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("faults");
    QTest::addColumn<QStringList>("seen");  // log lines, then "msg:" message texts

    QTest::newRow("command ACK wait") << "program"
                                      << "silent:0x31:2:1" << QStringList{kStart, kFailed};
    QTest::newRow("address ACK wait") << "program"
                                      << "silent:0x31:2:2" << QStringList{kStart, kFailed};
    QTest::newRow("data ACK wait") << "program"
                                   << "silent:0x31:2:3" << QStringList{kStart, kFailed};
    QTest::newRow("read data wait")
        << "read"
        << "short:0x11:3:3" << QStringList{kReadBegin, "读存储器内容超时.", kReadAbandon};
    QTest::newRow("verify data wait") << "verify"
                                      << "short:0x11:3:3" << QStringList{kStart, "超时.", kFailed};
}

void TestIntegration::stopDuringWait() {
    QFETCH(QString, op);
    QFETCH(QString, faults);
    QFETCH(QStringList, seen);
    START(r, rig::boardOptions(faults));
    QVERIFY(r.connectAndClear());
    QElapsedTimer clock;
    qint64 stoppedAt = -1;
    // The faulty step comes within milliseconds (instant board): Stop finds it waiting.
    QTimer::singleShot(150, [&] {
        stoppedAt = clock.elapsed();
        r.engine.CmdStop_Click();
    });
    clock.start();
    QVERIFY(!run(r, op));
    const qint64 endedAt = clock.elapsed();
    QVERIFY2(stoppedAt >= 0, "Stop never came during the operation");
    // Ended by Stop, well before the 0.5 s limit of the wait it interrupted.
    QVERIFY2(endedAt - stoppedAt < 300, qPrintable(QString("%1 %2").arg(stoppedAt).arg(endedAt)));
    QCOMPARE(::seen(r, seen), seen);
    QVERIFY(!r.host.commands.start && !r.engine.busy());  // Stop marks the link not connected
    QCOMPARE(r.host.panels.value(6), QString("未连接"));
    if (op == "read") checkOldFileKept(r, op);
}

QTEST_GUILESS_MAIN(TestIntegration)
#include "tst_integration.moc"

// The engine with the real serial port against the simulated board on a pseudo-terminal: the
// texts the user sees, the board's flash and the files afterwards, for every button, its faults,
// Stop and the line vanishing.
#include <QDir>
#include <QTimer>
#include <QtTest>

#include "tst_integration_rig.h"

using rig::Rig;

namespace {
const QString kConnecting = "连接目标板......", kConnected = "连接成功，准备获取器件信息......";
const QString kDevice = "器件信息为STM32F10x, PID=0410", kSizeFailed = "取器件存储器容量失败.";
const QString kSizes64 = "FLASH容量为: 64K; RAM容量为: 未知.", kNoPort = "msg:请指定可用串行口。";
const QString kStart = "开始编程......", kSuccess = "编程成功, 用时共*", kFailed = "msg:下载失败。";
const QString kEraseStart = "开始整片擦除......", kEraseFailed = "擦除失败，请清除读保护......";
const QString kReadBegin = "开始读取数据......",
              kReadAbandon = "读数据失败, 退出从芯片读取数据过程.";
const QString kAddrNack = "msg:传送地址时应答为非ACK，应答值=1F", kUnconnected = "panel6:未连接";
const QByteArray kImage = rig::pattern(64, 7);  // four 16-byte records at 0x08000000
const QByteArray kContent = rig::pattern(65536, 9), kErased(65536, char(0xFF));
const QByteArray kOld = "the user's previous file\n";

// Runs one operation. program, verify, eraseprog: kImage from fw.hex with that option; read: into
// out.read, which holds kOld before. go: to 20001000h.
bool run(Rig& r, const QString& op) {
    const QString fw =
        rig::writeLines(r.dir.filePath("fw.hex"), rig::hexLines(0x08000000, kImage, 16));
    const auto erase = op == "eraseprog" ? praxon::EraseScope::Chip : praxon::EraseScope::None;
    const QString out = rig::writeFile(r.dir.filePath("out.read"), kOld);
    return op == "connect"     ? r.engine.connect(r.portName)
           : op == "erase"     ? r.engine.erase()
           : op == "go"        ? r.engine.go(0x20001000)
           : op == "protect"   ? r.engine.protect()
           : op == "unprotect" ? r.engine.unprotect()
           : op == "read"      ? r.engine.readToFile(out, praxon::ImageFormat::Binary)
                               : r.program(fw, {erase, op == "verify", false});
}
}  // namespace

class TestIntegration : public QObject {
    Q_OBJECT
private slots:
    void operations_data();
    void operations();
    void programAndProtect();
    void readHex();
};

// The data tag is the operation ("stop" first: Stop pressed at 150 ms, when the faulty step,
// coming within milliseconds, is waiting; "fast" first: in the fast mode, else the compatible
// one), then the board's faults.
void TestIntegration::operations_data() {
    QTest::addColumn<bool>("result");
    // program ops: 16-byte records in flash; erase, unprotect (old content before): 1 = erased;
    // connect: flashSizeKB.
    QTest::addColumn<int>("flash");
    QTest::addColumn<bool>("connected");
    // Log lines, then "msg:" message texts, then "panelN:" the last texts of the panels listed.
    QTest::addColumn<QStringList>("seen");
    auto row = [](const char* tag, bool result, int flash, bool connected,
                  const QStringList& seen) {
        QTest::newRow(tag) << result << flash << connected << seen;
    };
    const QString kAckPanel = "panel2:收到ACK，可以ISP了。",
                  kNoAnswer = "目标板未响应，检查连接情况，请复位后再次连接。";
    row("connect", true, 64, true,
        {kConnecting, kConnected, kDevice, kSizes64, "panel4:STM32F10x, PID=0410", kAckPanel,
         "panel6:已连接."});
    row("connect nack:0x7f:1", false, -1, false,
        {kConnecting, kNoAnswer, "panel2:收到NACK，请复位目标板并重新连接。", kUnconnected + "."});
    row("connect late:0x7f:1", false, -1, false,
        {kConnecting, kNoAnswer, "panel2:请复位目标板并重新连接！"});
    row("connect short:0x02:1", true, 64, true,
        {kConnecting, kConnected, "器件信息不可识别.", kSizes64});
    // The flash size read.
    row("connect nack:0x11:1:1", true, -1, true,
        {kConnecting, kConnected, kDevice, "下发读命令失败。", kSizeFailed});

    // Read Memory occurrence 3: the second block (the connect's read is the first).
    auto read = [](const QString& step) { return QStringList{kReadBegin, step, kReadAbandon}; };
    row("read nack:0x11:3:2", false, 0, true, read("下发地址命令失败。") << kAddrNack);
    row("read burst:0x11:3:3", false, 0, true, read("下发读个数失败。"));  // 300 bytes
    // A vanished line closes the port and shows the link as not connected; replugged, it works.
    row("read hangup:0x11:3:3", false, 0, false, read("下发读个数失败。") << kNoPort);

    // Write Memory of the second record: a refused command disconnects.
    row("program nack:0x31:2:1", false, 1, false, {kStart, kFailed});
    // Verify of the second record (Read Memory occurrence 3).
    row("verify nack:0x11:3:1", false, 2, true, {kStart, "下发送命令失败", kFailed});
    row("verify nack:0x11:3:2", false, 2, true, {kStart, "下发地址命令失败", kAddrNack, kFailed});
    row("verify nack:0x11:3:3", false, 2, true, {kStart, "下发读个数失败", kFailed});
    row("verify short:0x11:3:3", false, 2, true, {kStart, "超时.", kFailed});
    row("verify change:0x11:3:3", false, 2, true, {kStart, "数据校验不正确.", kFailed});
    row("eraseprog nack:0x43:1:1", false, 0, true, {kEraseFailed, "panel2:Flash擦除失败。"});

    row("erase", true, 1, true, {kEraseStart, "擦除成功。", "panel2:Flash擦除完毕。"});
    // Go ends the connection unless the chip refused the address: then it stays in its
    // bootloader and the operation failed.
    row("go", true, 0, false, {"已运行。", kUnconnected});
    row("go nack:0x21:1:1", false, 0, false, {"目标板无响应。"});
    row("go nack:0x21:1:2", false, 0, true,
        {"目标板拒绝了运行地址20001000(应答值=1F)，程序未运行。"});
    row("protect nack:0x82:1:1", false, 0, true, {"置读保护失败。"});
    row("unprotect nack:0x92:1:1", false, 0, false, {"清读保护失败."});

    // Stop in a wait for data bytes and for the ACK of written data.
    row("stop read short:0x11:3:3", false, 0, false, read("读存储器内容超时.") << kUnconnected);
    row("stop program silent:0x31:2:3", false, 2, false, {kStart, kFailed, kUnconnected});

    // The fast mode: the same failures, named in the log; the fast read's count refused.
    row("fast connect id4", true, 64, true,
        {kConnecting, kConnected, "器件信息为STM32F10x, PID=04100000",
         "FLASH容量为: 64K; RAM容量为: 20K.", "panel4:STM32F10x, PID=04100000"});
    row("fast read short:0x11:3:3", false, 0, true,
        read("读存储器内容超时.").mid(0, 2) << "读取08000100失败: 等待应答超时。" << kReadAbandon);
    row("fast read nack:0x11:3:3", false, 0, true,
        read("下发读个数失败。").mid(0, 2) << "读取08000100失败: 目标板应答NACK。" << kReadAbandon);
    // One block of 64 bytes: the first Write Memory fails whole.
    row("fast program nack:0x31:1:3", false, 0, true,
        {kStart, "写入08000000失败: 目标板应答NACK。", "msg:传送数据时应答为非ACK，应答值=1F",
         kFailed});
    row("fast program silent:0x31:1:2", false, 0, true,
        {kStart, "写入08000000失败: 等待应答超时。", kFailed});
    row("fast verify change:0x11:2:3", false, 4, true,
        {kStart, "数据校验不正确. 首个不一致的地址为0800003F: 应为4A, 读回B5.", kFailed});
    row("fast verify hangup:0x11:2:3", false, 4, false,
        {kStart, "校验时读取08000000失败: 串口已断开。", kNoPort, kFailed});
    row("stop fast program silent:0x31:1:3", false, 4, false,
        {kStart, "写入08000000失败: 已停止。", kFailed, kUnconnected});
}

void TestIntegration::operations() {
    QStringList tag = QString(QTest::currentDataTag()).split(' ');
    const bool stop = tag.first() == "stop";
    if (stop) tag.removeFirst();
    const bool fast = tag.first() == "fast";
    if (fast) tag.removeFirst();
    const QString op = tag.at(0), faults = tag.value(1);
    QFETCH(bool, result);
    QFETCH(int, flash);
    QFETCH(bool, connected);
    QFETCH(QStringList, seen);
    Rig r(rig::boardOptions(faults),
          fast ? praxon::WriteMode::Fast : praxon::WriteMode::Compatible);
    const bool preloaded = op == "erase" || op == "unprotect";
    if (preloaded) r.preload(kContent);
    if (op != "connect") QVERIFY(r.connectAndClear());

    QElapsedTimer clock;
    qint64 stoppedAt = -1;
    if (stop) QTimer::singleShot(150, [&] { stoppedAt = clock.elapsed(), r.engine.stop(); });
    clock.start();
    QCOMPARE(run(r, op), result);
    const qint64 ms = clock.elapsed();
    const QString times = QString("%1 %2").arg(stoppedAt).arg(ms);
    // Stop ends a wait at once; a wait for an answer that does not come in time never gives up
    // before its 0.5 s limit.
    if (stop) QVERIFY2(stoppedAt >= 0 && ms - stoppedAt < 300, qPrintable(times));
    if (!stop && QRegularExpression("^(silent|late)").match(faults).hasMatch())
        QVERIFY2(ms >= 500, qPrintable(times));
    QStringList actual = r.host.logMessages;
    for (const QString& m : r.host.messages) actual << "msg:" + m;
    for (const QString& e : seen)
        if (e.startsWith("panel")) actual << e.left(7) + r.host.panels.value(e.mid(5, 1).toInt());
    QCOMPARE(rig::masked(actual, seen).join(" | "), seen.join(" | "));
    QVERIFY(!r.engine.busy());
    QCOMPARE(r.host.commands.program, connected);
    QCOMPARE(r.host.commands.read, connected && r.engine.target().flashSizeKB > 0);
    if (op == "connect")
        QVERIFY(r.engine.target().flashSizeKB == flash &&
                (r.host.lamp == praxon::Lamp::Green) == connected);
    if (op == "read") {  // the old file untouched, nothing left beside it
        QCOMPARE(rig::readFile(r.dir.filePath("out.read")), kOld);
        QCOMPARE(QDir(r.dir.path()).entryList({"out*"}, QDir::Files), QStringList{"out.read"});
    }
    if (preloaded) QCOMPARE(r.flash(), flash ? kErased : kContent);
    if (op == "program" || op == "verify" || op == "eraseprog")
        QCOMPARE(r.flash().left(64), kImage.left(flash * 16) + kErased.left(64 - flash * 16));
    if (op == "go" && faults.isEmpty())
        QTRY_COMPARE_WITH_TIMEOUT(r.board->counters().goAddress.value_or(0), 0x20001000u, 2000);
    if (!faults.startsWith("hangup")) return;
    QVERIFY(!r.port.isOpen());
    r.start(rig::boardOptions());
    QVERIFY(r.connectAndClear() && r.host.commands.program && r.host.commands.read);
}

// One Start erases the old content, programs records sharing a word, verifies and protects (the
// protected chip refusing: the nack rows of operations; clearing the protection: tst_mainform).
void TestIntegration::programAndProtect() {
    Rig r;
    r.preload(kContent);
    // The second record shares a word with the first: it must not program the first one's bytes
    // again with 0xFF padding (the chip refuses a half-word twice). The third starts unaligned.
    const QByteArray a = rig::pattern(6, 4), b = rig::pattern(16, 3), c = rig::pattern(5, 1);
    const QStringList lines = rig::hexLines(0x08000000, a, 6).mid(0, 2) +
                              rig::hexLines(0x08000006, b, 16).mid(1, 1) +
                              rig::hexLines(0x08000019, c, 5).mid(1);
    const QString fw = rig::writeLines(r.dir.filePath("fw.hex"), lines);
    QVERIFY(r.connectAndClear() && r.program(fw, {praxon::EraseScope::Chip, true, true}));
    const QStringList log{kEraseStart, "擦除成功。", kStart, kSuccess,
                          "置读保护成功, 复位目标板后才能有效。"};
    QCOMPARE(rig::masked(r.host.logMessages, log), log);
    QVERIFY(r.host.messages.isEmpty() && !r.host.commands.program);  // reconnect after protecting
    const QByteArray image = a + b + QByteArray(3, char(0xFF)) + c;
    QCOMPARE(r.flash(), image + kErased.mid(image.size()));
    QTRY_VERIFY_WITH_TIMEOUT(r.board->readoutProtected(), 2000);
}

// Reading the whole flash into an existing Intel HEX file (128 KB: two segments; binary and
// ranges in tst_cliprocess). The name as typed: the blank after it dropped.
void TestIntegration::readHex() {
    auto options = rig::boardOptions();
    options.board.flashKb = 128;
    Rig r(options);
    const QByteArray content = rig::pattern(128 * 1024, 5);
    r.preload(content);
    QVERIFY(r.connectAndClear());
    const QString path = rig::writeFile(r.dir.filePath("OUT.HEX"), kOld);
    QVERIFY(r.engine.readToFile(path + " ", praxon::ImageFormat::Hex));
    // In 64-byte records; one digit before the point. The log: tst_cliprocess.
    const QStringList& shown = r.host.progressTexts;
    QCOMPARE(QStringList({shown.first(), shown.at(shown.size() - 2), shown.last()}),
             QStringList({"已读0.05%.", "已读100.00%.", "已读完."}));
    QByteArray image;
    QStringList lines;
    const QString why = rig::parseHex(path, 0x08000000, content.size(), &image, &lines);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QCOMPARE(image, content);
    // Start address, two segments, end; nothing left beside the file.
    QCOMPARE(lines.size(), 2 + content.size() / 64 + 2);
    QCOMPARE(lines.mid(0, 2), QStringList({":0400000508000000EF", ":020000040800F2"}));
    QCOMPARE(lines.at(2 + 1024), QString(":020000040801F1"));
    QCOMPARE(QDir(r.dir.path()).entryList(QDir::Files | QDir::NoSymLinks), QStringList{"OUT.HEX"});
}

QTEST_GUILESS_MAIN(TestIntegration)
#include "tst_integration.moc"

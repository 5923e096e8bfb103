// Erase, Go and readout protection end to end against the simulated board on a pty, with their
// failure tables, and the line vanishing in the middle of an operation.
#include <QtTest>

#include "tst_integration_rig.h"

using rig::Rig;

namespace {
const QString kEraseStart = "开始整片擦除......";
const QString kEraseFailed = "擦除失败，请清除读保护......";
const QByteArray kContent = rig::pattern(65536, 9);

void preload(Rig& r) {
    r.board().loadFlash(0, std::vector<uint8_t>(kContent.begin(), kContent.end()));
}
}  // namespace

class TestIntegrationOps : public QObject {
    Q_OBJECT
private slots:
    void erase_data();
    void erase();
    void go_data();
    void go();
    void goThenReconnect();
    void protection_data();
    void protection();
    void protectThenUnprotect();
    void lineVanishes_data();
    void lineVanishes();
};

void TestIntegrationOps::erase_data() {
    QTest::addColumn<QString>("faults");
    QTest::addColumn<bool>("instant");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<bool>("erased");

    QTest::newRow("success") << "" << true << true << QStringList{kEraseStart, "擦除成功。"}
                             << true;
    QTest::newRow("success at line pace")
        << "" << false << true << QStringList{kEraseStart, "擦除成功。"} << true;
    QTest::newRow("command NACK") << "nack:0x43:1:1" << true << false << QStringList{kEraseFailed}
                                  << false;
    QTest::newRow("command silent")
        << "silent:0x43:1:1" << true << false << QStringList{kEraseFailed} << false;
    QTest::newRow("command late") << "late:0x43:1:1" << false << false << QStringList{kEraseFailed}
                                  << false;
    QTest::newRow("command garbage")
        << "garbage:0x43:1:1" << true << false << QStringList{kEraseFailed} << false;
    QTest::newRow("command burst")
        << "burst:0x43:1:1" << true << false << QStringList{kEraseFailed} << false;
    QTest::newRow("erase code NACK")
        << "nack:0x43:1:2" << true << false << QStringList{kEraseStart, kEraseFailed} << false;
    QTest::newRow("erase code silent")
        << "silent:0x43:1:2" << true << false << QStringList{kEraseStart, kEraseFailed} << true;
    QTest::newRow("erase ACK too late")
        << "late:0x43:1:2" << false << false << QStringList{kEraseStart, kEraseFailed} << true;
    QTest::newRow("erase code garbage")
        << "garbage:0x43:1:2" << true << false << QStringList{kEraseStart, kEraseFailed} << true;
}

void TestIntegrationOps::erase() {
    QFETCH(QString, faults);
    QFETCH(bool, instant);
    QFETCH(bool, result);
    QFETCH(QStringList, log);
    QFETCH(bool, erased);

    Rig r(rig::boardOptions(faults, instant));
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    preload(r);
    QVERIFY(r.connectAndClear());
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(r.engine.Command_ER_Click(), result);
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(r.host.logMessages, log);
    QVERIFY(r.host.messages.isEmpty());
    QCOMPARE(r.host.panels.value(2), QString(result ? "Flash擦除完毕。" : "Flash擦除失败。"));
    QCOMPARE(rig::flashBytes(r.board()), erased ? QByteArray(65536, char(0xFF)) : kContent);
    QVERIFY(r.host.commands.start);  // erase never disconnects
    QVERIFY(!r.engine.busy());
}

void TestIntegrationOps::go_data() {
    QTest::addColumn<QString>("faults");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<qint64>("address");  // -1: no Go reached the board

    QTest::newRow("default") << ""
                             << "08000000" << true << QStringList{"已运行。"} << QStringList()
                             << qint64(0x08000000);
    QTest::newRow("seven digits") << ""
                                  << "8000400" << true << QStringList{"已运行。"} << QStringList()
                                  << qint64(0x08000400);
    QTest::newRow("0x prefix") << ""
                               << "0x08000100" << true << QStringList{"已运行。"} << QStringList()
                               << qint64(0x08000100);
    QTest::newRow("h suffix, RAM")
        << ""
        << "20001000h" << true << QStringList{"已运行。"} << QStringList() << qint64(0x20001000);
    QTest::newRow("blanks") << ""
                            << " 0800 0200 " << true << QStringList{"已运行。"} << QStringList()
                            << qint64(0x08000200);
    QTest::newRow("invalid text") << ""
                                  << "08G00000" << false << QStringList()
                                  << QStringList{"运行地址无效，请输入十六进制地址。"}
                                  << qint64(-1);
    QTest::newRow("nine digits") << ""
                                 << "080000000" << false << QStringList()
                                 << QStringList{"运行地址无效，请输入十六进制地址。"} << qint64(-1);
    QTest::newRow("command NACK") << "nack:0x21:1:1"
                                  << "08000000" << false << QStringList{"目标板无响应。"}
                                  << QStringList() << qint64(-1);
    QTest::newRow("command silent")
        << "silent:0x21:1:1"
        << "08000000" << false << QStringList{"目标板无响应。"} << QStringList() << qint64(-1);
    QTest::newRow("command garbage")
        << "garbage:0x21:1:1"
        << "08000000" << false << QStringList{"目标板无响应。"} << QStringList() << qint64(-1);
    // The answer to the address is not read: a refused address still counts as running.
    QTest::newRow("address refused")
        << "nack:0x21:1:2"
        << "08000000" << true << QStringList{"已运行。"} << QStringList() << qint64(-1);
}

void TestIntegrationOps::go() {
    QFETCH(QString, faults);
    QFETCH(QString, text);
    QFETCH(bool, result);
    QFETCH(QStringList, log);
    QFETCH(QStringList, messages);
    QFETCH(qint64, address);

    Rig r(rig::boardOptions(faults));
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    QVERIFY(r.connectAndClear());
    r.host.goAddress = text;
    QCOMPARE(r.engine.Command_GO_Click(), result);
    QCOMPARE(r.host.logMessages, log);
    QCOMPARE(r.host.messages, messages);
    // The Go frame is written without waiting; give the board a moment to take it.
    if (address >= 0)
        QTRY_VERIFY_WITH_TIMEOUT(r.board().counters().goAddress.has_value(), 2000);
    else
        QTest::qWait(50);
    const auto go = r.board().counters().goAddress;
    QCOMPARE(go.has_value() ? qint64(*go) : qint64(-1), address);
    if (messages.isEmpty()) {
        // Go ends the connected state whatever the answer.
        QVERIFY(!r.host.commands.start);
        QCOMPARE(r.host.panels.value(6), QString("未连接"));
    } else {
        QCOMPARE(r.board().counters().perCommand.count(0x21), size_t(0));  // nothing sent
    }
}

void TestIntegrationOps::goThenReconnect() {
    Rig r(rig::boardOptions());
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    QVERIFY(r.connectAndClear());
    QVERIFY(r.engine.Command_GO_Click());
    QTRY_VERIFY_WITH_TIMEOUT(r.board().state() == praxon::sim::Board::State::Running, 2000);
    // Reset with BOOT0 high brings the bootloader back; connecting works again.
    r.board().reset();
    QVERIFY(r.engine.CHECKCMD_Click());
    QVERIFY(r.host.commands.start);
}

void TestIntegrationOps::protection_data() {
    QTest::addColumn<bool>("protect");  // false: unprotect
    QTest::addColumn<QString>("faults");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("stillConnected");

    QTest::newRow("protect") << true << "" << true << "置读保护成功, 复位目标板后才能有效。"
                             << false;
    QTest::newRow("protect NACK") << true << "nack:0x82:1:1" << false << "置读保护失败。" << true;
    // Silence to both ACKs; the board still does the work.
    QTest::newRow("protect silent")
        << true << "silent:0x82:1:1,silent:0x82:1:2" << false << "置读保护失败。" << true;
    QTest::newRow("protect garbage")
        << true << "garbage:0x82:1:1" << false << "置读保护失败。" << true;
    QTest::newRow("unprotect") << false << "" << true << "清读保护成功, 复位目标板后才能有效。"
                               << false;
    QTest::newRow("unprotect NACK")
        << false << "nack:0x92:1:1" << false << "清读保护失败." << false;
    QTest::newRow("unprotect silent")
        << false << "silent:0x92:1:1,silent:0x92:1:2" << false << "清读保护失败." << false;
}

void TestIntegrationOps::protection() {
    QFETCH(bool, protect);
    QFETCH(QString, faults);
    QFETCH(bool, result);
    QFETCH(QString, line);
    QFETCH(bool, stillConnected);

    Rig r(rig::boardOptions(faults));
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    preload(r);
    QVERIFY(r.connectAndClear());
    QCOMPARE(protect ? r.engine.CmdReadProtect_Click() : r.engine.CmdReadUnProtect_Click(), result);
    QCOMPARE(r.host.logMessages, QStringList{line});
    QVERIFY(r.host.messages.isEmpty());
    QCOMPARE(r.host.commands.start, stillConnected);
    if (!stillConnected) QCOMPARE(r.host.panels.value(6), QString("未连接"));
    // NACK refuses the command; otherwise the board did the work whatever the answer looked like.
    const bool refused = faults.startsWith("nack");
    if (protect) {
        QTRY_COMPARE_WITH_TIMEOUT(r.board().readoutProtected(), !refused, 2000);
    } else if (!refused) {
        // Clearing the protection erases the whole flash.
        QTRY_COMPARE_WITH_TIMEOUT(rig::flashBytes(r.board()), QByteArray(65536, char(0xFF)), 2000);
    } else {
        QCOMPARE(rig::flashBytes(r.board()), kContent);
    }
}

void TestIntegrationOps::protectThenUnprotect() {
    Rig r(rig::boardOptions());
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    preload(r);
    QVERIFY(r.connectAndClear());
    QVERIFY(r.engine.CmdReadProtect_Click());
    QTRY_VERIFY_WITH_TIMEOUT(r.board().readoutProtected(), 2000);

    // After the reset the protected chip answers, but refuses to show its memory.
    r.host.clearRecords();
    QVERIFY(r.engine.CHECKCMD_Click());
    QVERIFY(r.host.logged("下发读命令失败。"));
    QVERIFY(r.host.logged("取器件存储器容量失败."));
    QVERIFY(!r.host.commands.read);
    r.host.clearRecords();
    QVERIFY(!r.engine.Command_ER_Click());
    QCOMPARE(r.host.logMessages, QStringList{kEraseFailed});

    r.host.clearRecords();
    QVERIFY(r.engine.CmdReadUnProtect_Click());
    QTRY_VERIFY_WITH_TIMEOUT(!r.board().readoutProtected(), 2000);
    QCOMPARE(rig::flashBytes(r.board()), QByteArray(65536, char(0xFF)));
    r.host.clearRecords();
    QVERIFY(r.engine.CHECKCMD_Click());
    QVERIFY(r.host.logged("FLASH容量为: 64K; RAM容量为: 未知."));
}

void TestIntegrationOps::lineVanishes_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("faults");

    QTest::newRow("program, data frame") << "program"
                                         << "hangup:0x31:2:3";
    QTest::newRow("program, write command") << "program"
                                            << "hangup:0x31:3:1";
    QTest::newRow("program, verify data") << "verify"
                                          << "hangup:0x11:2:3";
    QTest::newRow("read, data") << "read"
                                << "hangup:0x11:3:3";
    QTest::newRow("read, address") << "read"
                                   << "hangup:0x11:2:2";
    QTest::newRow("erase, erase code") << "erase"
                                       << "hangup:0x43:1:2";
    QTest::newRow("Go") << "go"
                        << "hangup:0x21:1:1";
    QTest::newRow("protect") << "protect"
                             << "hangup:0x82:1:1";
}

void TestIntegrationOps::lineVanishes() {
    QFETCH(QString, operation);
    QFETCH(QString, faults);

    Rig r(rig::boardOptions(faults));
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    r.host.downloadFile =
        rig::writeHex(r.dir.filePath("fw.hex"), 0x08000000, rig::pattern(64, 1), 16);
    r.host.verify = operation == "verify";
    QVERIFY(r.connectAndClear());
    const QString out = r.dir.filePath("out.bin");
    r.host.saveFileAnswers << out;

    QElapsedTimer clock;
    clock.start();
    bool ok = true;
    if (operation == "program" || operation == "verify") ok = r.engine.CmdStart_Click();
    if (operation == "read") ok = r.engine.CmdRead_Click();
    if (operation == "erase") ok = r.engine.Command_ER_Click();
    if (operation == "go") ok = r.engine.Command_GO_Click();
    if (operation == "protect") ok = r.engine.CmdReadProtect_Click();
    QVERIFY(!ok);
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!r.engine.busy());
    QVERIFY(!r.port.isOpen());
    QVERIFY2(r.host.messages.contains("请指定可用串行口。"), qPrintable(r.host.messages.join('|')));
    QVERIFY(!QFile::exists(out));

    // The board comes back on the same name: connecting works again.
    QVERIFY2(r.replaceBoard(rig::boardOptions(), &error), qPrintable(error));
    r.host.clearRecords();
    QVERIFY(r.engine.CHECKCMD_Click());
    QVERIFY(r.host.commands.start);
    QVERIFY(r.host.messages.isEmpty());
}

QTEST_GUILESS_MAIN(TestIntegrationOps)
#include "tst_integration_ops.moc"
